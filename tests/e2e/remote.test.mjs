// Translating through real llama-server processes (built from the fetched llama.cpp source,
// run on 127.0.0.1 with the constant-answer model) with the official MCP client: every
// format, two servers sharing one document, and one of them killed in the middle of it.
import test from "node:test";
import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { connect, resultText } from "./helpers.mjs";
import { startLlamaServer } from "./remote_helpers.mjs";

const ANSWER = "Bonjour le monde.";

function tempDir() {
  return fs.mkdtempSync(path.join(os.tmpdir(), "quorvel-remote-"));
}

const MAKE_DOCX = `
import sys, zipfile
W = 'xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main"'
body = '<w:p><w:r><w:t>Good morning, dear friends.</w:t></w:r></w:p><w:p><w:r><w:t>See you soon, my friend.</w:t></w:r></w:p>'
with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:
    z.writestr('[Content_Types].xml', '<?xml version="1.0"?><Types/>')
    z.writestr('word/document.xml', f'<?xml version="1.0" encoding="UTF-8" standalone="yes"?><w:document {W}><w:body>{body}</w:body></w:document>')
`;
const DOCX_TEXT = `
import sys, zipfile
print(zipfile.ZipFile(sys.argv[1]).read('word/document.xml').decode())
`;

// A document of distinct paragraphs (equal ones would reach the model once).
function longDocument(dir, count) {
  const file = path.join(dir, "long.txt");
  const paragraphs = Array.from({ length: count }, (_, i) => `Paragraph number ${i} tells its own short story today.`);
  fs.writeFileSync(file, paragraphs.join("\n\n") + "\n");
  return file;
}

test("every format through one llama-server", async () => {
  const server = await startLlamaServer();
  const dir = tempDir();
  const { client, stderr } = await connect({ TRANSLATE_LLM_URL: server.url });
  try {
    const text = await client.callTool({ name: "translate_text", arguments: { text: "Hello world, how are you today?", to: "fr" } });
    assert.equal(resultText(text), ANSWER);
    assert.equal(text.isError, false);

    const files = {
      "talk.srt": ["1\n00:00:01,000 --> 00:00:02,500\nHello there, my friend.\n", `1\n00:00:01,000 --> 00:00:02,500\n${ANSWER}\n\n`],
      "talk.vtt": ["WEBVTT\n\n00:01.000 --> 00:02.000\nGood evening, everyone.\n", `WEBVTT\n\n00:01.000 --> 00:02.000\n${ANSWER}\n\n`],
      "story.txt": ["Once upon a time there was a cat.\n\nIt slept all day long.\n", `${ANSWER}\n\n${ANSWER}\n`],
      "notes.md": ["# A heading line\n\nSome text below the heading.\n", `# ${ANSWER}\n\n${ANSWER}\n`],
    };
    for (const [name, [source, expected]] of Object.entries(files)) {
      const file = path.join(dir, name);
      fs.writeFileSync(file, source);
      const result = await client.callTool({ name: "translate_file", arguments: { path: file, to: "fr" } });
      assert.equal(result.isError, false, resultText(result));
      const output = path.join(dir, name.replace(".", ".fr."));
      assert.equal(fs.readFileSync(output, "utf8"), expected, name);
    }
    const docx = path.join(dir, "report.docx");
    execFileSync("/usr/bin/python3", ["-c", MAKE_DOCX, docx]);
    const result = await client.callTool({ name: "translate_file", arguments: { path: docx, to: "fr" } });
    assert.equal(resultText(result), `Translated 2 paragraphs to French. Wrote:\n${path.join(dir, "report.fr.docx")}`);
    const xml = execFileSync("/usr/bin/python3", ["-c", DOCX_TEXT, path.join(dir, "report.fr.docx")], { encoding: "utf8" });
    assert.equal(xml.split(ANSWER).length - 1, 2, xml);

    assert.ok(server.tasks() >= 8, server.log());
    // The model's name says its family: no warning, nothing else on stderr.
    assert.equal(stderr(), "");
  } finally {
    await client.close();
    await server.stop();
    fs.rmSync(dir, { recursive: true, force: true });
  }
});

test("two servers share a document, and it completes when one is killed in the middle", async () => {
  const [first, second] = await Promise.all([startLlamaServer(), startLlamaServer()]);
  const dir = tempDir();
  const { client, stderr } = await connect({ TRANSLATE_LLM_URL: `${first.url},${second.url}` });
  try {
    const shared = longDocument(dir, 24);
    let result = await client.callTool({ name: "translate_file", arguments: { path: shared, to: "fr" } });
    assert.equal(resultText(result), `Translated 24 paragraphs to French. Wrote:\n${path.join(dir, "long.fr.txt")}`);
    assert.ok(first.tasks() > 0 && second.tasks() > 0, `tasks: ${first.tasks()} and ${second.tasks()}`);
    assert.equal(first.tasks() + second.tasks(), 24);

    // The first server dies as soon as it has started a prompt of the next document.
    const killed = new Promise((resolve) => {
      first.child.stderr.on("data", () => {
        if (first.tasks() > 12) first.stop().then(resolve);
      });
    });
    const big = longDocument(dir, 120);
    fs.renameSync(big, path.join(dir, "big.txt"));
    result = await client.callTool({ name: "translate_file", arguments: { path: path.join(dir, "big.txt"), to: "fr" } });
    await killed;
    assert.equal(result.isError, false, resultText(result));
    assert.equal(resultText(result), `Translated 120 paragraphs to French. Wrote:\n${path.join(dir, "big.fr.txt")}`);
    const written = fs.readFileSync(path.join(dir, "big.fr.txt"), "utf8");
    assert.equal(written, Array(120).fill(ANSWER).join("\n\n") + "\n");
    assert.match(stderr(), new RegExp(`translation server ${first.url} failed: .*out of rotation`));
  } finally {
    await client.close();
    await Promise.all([first.stop(), second.stop()]);
    fs.rmSync(dir, { recursive: true, force: true });
  }
});
