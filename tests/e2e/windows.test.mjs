// The Windows build under Wine, through the official MCP client: the real Windows engine
// with the constant-answer model, paths with spaces and non-ASCII letters in Windows form,
// the model found under LOCALAPPDATA and an engine directory given by TRANSLATE_LLM_DIR.
// Runs only when QUORVEL_WINDOWS_ENGINE names the Windows engine (scripts/test-windows.sh
// sets it and points QUORVEL_SERVER at a Wine launcher of quorvel-translate.exe).
import test from "node:test";
import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { connect, resultText, ROOT } from "./helpers.mjs";

const ENGINE = process.env.QUORVEL_WINDOWS_ENGINE;
const skip = ENGINE ? false : "needs the Windows build under Wine (scripts/test-windows.sh)";
const MODEL = path.join(ROOT, ".cache", "models", "constant.gguf");
const MODEL_NAME = "translategemma-4b-it-Q4_K_M.gguf";
const ANSWER = "Bonjour le monde.";

// Wine shows the Linux root as drive Z:.
const windowsPath = (unixPath) => "Z:" + unixPath.replaceAll("/", "\\");

function tempDir() {
  return fs.mkdtempSync(path.join(os.tmpdir(), "quorvel wine é-"));
}

const MAKE_DOCX = `
import sys, zipfile
W = 'xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main"'
body = ('<w:p><w:r><w:rPr><w:b/></w:rPr><w:t>Good morning, dear friends.</w:t></w:r>'
        '<w:r><w:t xml:space="preserve"> See you soon.</w:t></w:r></w:p>'
        '<w:p><w:r><w:t>2024-01-01</w:t></w:r></w:p>')
with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:
    z.writestr('[Content_Types].xml', '<?xml version="1.0"?><Types/>')
    z.writestr('word/document.xml', '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
               f'<w:document {W}><w:body>{body}</w:body></w:document>')
    z.writestr('word/media/image1.png', bytes(range(256)) * 40)
`;

const READ_DOCUMENT = `
import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    print(sorted(z.namelist()) == ['[Content_Types].xml', 'word/document.xml', 'word/media/image1.png'])
    print(z.read('word/document.xml').decode('utf-8'))
`;

test("a DOCX in a folder named with spaces and accents, through the Windows engine", { skip }, async () => {
  const dir = tempDir();
  const folder = path.join(dir, "Dossier été 2024");
  fs.mkdirSync(folder);
  const docx = path.join(folder, "Rapport final ü.docx");
  execFileSync("/usr/bin/python3", ["-c", MAKE_DOCX, docx]);
  const { client, stderr } = await connect({ TRANSLATE_LLM_MODEL: windowsPath(MODEL), AMBREL_THREADS: "1" });
  try {
    const result = await client.callTool({
      name: "translate_file",
      arguments: { path: windowsPath(docx), to: "fr" },
    });
    assert.equal(result.isError, false, resultText(result) + stderr());
    const written = path.join(folder, "Rapport final ü.fr.docx");
    assert.equal(resultText(result), `Translated 2 paragraphs to French. Wrote:\n${windowsPath(written)}`);
    const [entries, xml] = execFileSync("/usr/bin/python3", ["-c", READ_DOCUMENT, written], { encoding: "utf8" })
      .split("\n");
    assert.equal(entries, "True");
    assert.match(xml, /<w:t xml:space="preserve">Bonjour le monde\.<\/w:t>/);
    assert.match(xml, /<w:t>2024-01-01<\/w:t>/);
    // Nothing but the input and the output: the temporary file was renamed into place.
    assert.deepEqual(fs.readdirSync(folder).sort(), ["Rapport final ü.docx", "Rapport final ü.fr.docx"]);
  } finally {
    await client.close();
    fs.rmSync(dir, { recursive: true, force: true });
  }
});

// Wine sets LOCALAPPDATA itself, from the profile in its prefix (a value from outside is
// replaced), so the model goes there: QUORVEL_WINE_LOCALAPPDATA is that folder seen from Linux.
test("the model under LOCALAPPDATA and the engine from TRANSLATE_LLM_DIR", { skip }, async () => {
  const dir = tempDir();
  const models = path.join(process.env.QUORVEL_WINE_LOCALAPPDATA ?? "", "com.quorvel.translate", "models");
  fs.mkdirSync(models, { recursive: true });
  const installed = path.join(models, MODEL_NAME);
  fs.copyFileSync(MODEL, installed);
  const engine = path.join(dir, "moteur à essayer");
  fs.cpSync(ENGINE, engine, { recursive: true });
  // An empty TRANSLATE_MEMORY leaves the memory at its default place.
  const memory = path.join(models, "..", "memory.sqlite3");
  const { client, stderr } = await connect({
    TRANSLATE_LLM_DIR: windowsPath(engine), AMBREL_THREADS: "1", TRANSLATE_MEMORY: "",
  });
  try {
    const result = await client.callTool({
      name: "translate_text",
      arguments: { text: "Hello world, how are you today?", to: "fr" },
    });
    assert.equal(result.isError, false, resultText(result) + stderr());
    assert.equal(resultText(result), ANSWER);
    const line = stderr().split("\n").find((l) => l.startsWith("[corvane] engine "));
    assert.ok(line?.includes("moteur à essayer"), stderr());
    assert.ok(line?.includes(`AppData\\Local\\com.quorvel.translate\\models\\${MODEL_NAME}`), stderr());
    // The translation memory sits beside the model, not under a HOME Windows does not have.
    assert.ok(fs.existsSync(memory));
  } finally {
    await client.close();
    fs.rmSync(installed, { force: true });
    for (const suffix of ["", "-wal", "-shm"]) fs.rmSync(memory + suffix, { force: true });
    fs.rmSync(dir, { recursive: true, force: true });
  }
});

test("an engine directory without the engine is reported, not crashed on", { skip }, async () => {
  const dir = tempDir();
  const empty = path.join(dir, "vide ñ");
  fs.mkdirSync(empty);
  const { client } = await connect({
    TRANSLATE_LLM_MODEL: windowsPath(MODEL),
    TRANSLATE_LLM_DIR: windowsPath(empty),
  });
  try {
    const result = await client.callTool({ name: "translate_text", arguments: { text: "Hello world.", to: "fr" } });
    assert.equal(result.isError, true);
    assert.match(resultText(result), /ggml\.dll not found in .*vide ñ/);
  } finally {
    await client.close();
    fs.rmSync(dir, { recursive: true, force: true });
  }
});

// The command line reaches quorvel.exe in the ANSI code page; a name outside it must survive.
test("the CLI translates a file whose name is outside the ANSI code page", { skip }, () => {
  const dir = tempDir();
  const source = path.join(dir, "Заметки 東京.txt");
  fs.writeFileSync(source, "Hello world, how are you today?\n");
  try {
    execFileSync(process.env.QUORVEL_CLI, ["translate", windowsPath(source), "--to", "fr"], {
      env: { ...process.env, TRANSLATE_LLM_MODEL: windowsPath(MODEL), AMBREL_THREADS: "1" },
      stdio: ["ignore", "pipe", "pipe"],
    });
    assert.equal(fs.readFileSync(path.join(dir, "Заметки 東京.fr.txt"), "utf8"), ANSWER + "\n");
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
});
