// The terminal CLI, run as a user runs it: folders, progress lines when standard error is not
// a terminal, skipping up-to-date outputs, failures, Ctrl-C and resuming, texts from stdin.
import test from "node:test";
import assert from "node:assert/strict";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { ROOT, runProgram } from "./helpers.mjs";

const CLI = process.env.QUORVEL_CLI ?? path.join(ROOT, "build", "quorvel");
const CONSTANT = path.join(ROOT, ".cache", "models", "constant.gguf");
const TINY = path.join(ROOT, ".cache", "models", "tiny.gguf");
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

function run(args, { env = {}, input = "", interruptAfter = null } = {}) {
  return runProgram(CLI, args, {
    env: { HOME: process.env.HOME ?? "/tmp", AMBREL_THREADS: "1", TRANSLATE_MEMORY: "off", ...env },
    input,
    during: interruptAfter,
  });
}

function tempDir() {
  return fs.mkdtempSync(path.join(os.tmpdir(), "quorvel-cli-"));
}

function writeDocument(file, count) {
  const paragraphs = Array.from({ length: count }, (_, i) =>
    `Paragraph ${i}: the committee met on day ${i} to discuss item ${i * 7} of the agenda.`);
  fs.writeFileSync(file, paragraphs.join("\n\n") + "\n");
}

test("a folder is translated with progress lines, then skipped while up to date", async () => {
  const dir = tempDir();
  try {
    fs.writeFileSync(path.join(dir, "a.txt"), "Hello world, how are you today?\n");
    fs.writeFileSync(path.join(dir, "b.srt"), "1\n00:00:01,000 --> 00:00:02,000\nGood evening, everyone.\n");
    fs.writeFileSync(path.join(dir, "broken.docx"), "not a zip");
    fs.writeFileSync(path.join(dir, "notes.pdf"), "%PDF");
    const env = { TRANSLATE_LLM_MODEL: CONSTANT };
    let result = await run(["translate", dir, "--to", "fr"], { env });
    assert.equal(result.code, 1, result.stderr);
    assert.equal(result.stdout,
      `Translated 1 paragraphs to French. Wrote:\n${path.join(dir, "a.fr.txt")}\n` +
      `Translated 1 paragraphs to French. Wrote:\n${path.join(dir, "b.fr.srt")}\n`);
    assert.match(result.stderr, /^a\.txt: 1\/1 paragraphs/m);
    assert.match(result.stderr, new RegExp(`^${path.join(dir, "broken.docx")}: reading docx zip$`, "m"));
    assert.equal(fs.readFileSync(path.join(dir, "a.fr.txt"), "utf8"), "Bonjour le monde.\n");

    result = await run(["translate", dir, "--to", "fr"], { env });
    assert.match(result.stderr, /skipped .*a\.txt: .*a\.fr\.txt is newer/);
    assert.equal(result.stdout, "");
    result = await run(["translate", path.join(dir, "a.txt"), "--to", "fr", "--force"], { env });
    assert.equal(result.code, 0, result.stderr);
    assert.match(result.stdout, /^Translated 1 paragraphs/);
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
});

test("Ctrl-C stops at once and leaves nothing; the next run resumes and writes the same file", async () => {
  const dir = tempDir();
  const memory = path.join(dir, "memory");
  try {
    const input = path.join(dir, "long.txt");
    writeDocument(input, 150);
    const whole = path.join(dir, "whole.txt");
    let result = await run(["translate", input, "--to", "de", "-o", whole], { env: { TRANSLATE_LLM_MODEL: TINY } });
    assert.equal(result.code, 0, result.stderr);

    const resumed = path.join(dir, "resumed.txt");
    const env = { TRANSLATE_LLM_MODEL: TINY, TRANSLATE_MEMORY: memory };
    result = await run(["translate", input, "--to", "de", "-o", resumed], {
      env,
      interruptAfter: async (child) => {
        await sleep(2500);
        child.kill("SIGINT");
      },
    });
    assert.equal(result.code, 130, result.stderr);
    assert.match(result.stderr, /stopped; nothing was written for/);
    assert.deepEqual(fs.readdirSync(dir).sort(), ["long.txt", "memory", "whole.txt"]);

    result = await run(["translate", input, "--to", "de", "-o", resumed], { env });
    assert.equal(result.code, 0, result.stderr);
    const first = result.stderr.match(/long\.txt: (\d+)\/150 paragraphs/);
    assert.ok(first && Number(first[1]) > 0, result.stderr);
    assert.equal(fs.readFileSync(resumed, "utf8"), fs.readFileSync(whole, "utf8"));
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
});

test("a text comes from the argument or standard input; bad tags are usage errors", async () => {
  const env = { TRANSLATE_LLM_MODEL: CONSTANT };
  assert.deepEqual((await run(["text", "--to", "fr", "Hello world, how are you?"], { env })).stdout, "Bonjour le monde.\n");
  assert.deepEqual((await run(["text", "--to", "fr"], { env, input: "Hello world, how are you?\n" })).stdout, "Bonjour le monde.\n");
  const wrong = await run(["text", "--to", "EN", "Hello"], { env });
  assert.equal(wrong.code, 2);
  assert.match(wrong.stderr, /^unknown language tag: EN\. Use one of: ar, /);
});

test("doctor names the engine and the model, or says how to get what is missing", async () => {
  let result = await run(["doctor"], { env: { TRANSLATE_LLM_MODEL: TINY } });
  assert.equal(result.code, 0, result.stdout);
  assert.match(result.stdout, /^engine +\/.*resources\/engine \(CPU variant \S+; GPU: none \(CPU only\)\)$/m);
  assert.match(result.stdout, /^model +.*tiny\.gguf \(0\.0 GiB, gemma3, GGUF v3, \d+ tensors\)$/m);
  assert.match(result.stdout, /^memory +about .* needed while translating, .* available/m);
  assert.match(result.stdout, /^threads +1 of \d+ processors/m);
  assert.match(result.stdout, /^resume +translation memory off/m);

  const dir = tempDir();
  try {
    result = await run(["doctor"], { env: { HOME: dir, TRANSLATE_MEMORY: "" } });
    assert.equal(result.code, 1);
    assert.match(result.stdout, new RegExp(`^model +not installed\\. Get translategemma-4b-it-Q4_K_M\\.gguf .*quorvel model pull <address>.* put it at ${dir}/\\.local/share/com\\.quorvel\\.translate/models/translategemma-4b-it-Q4_K_M\\.gguf`, "m"));
    assert.match(result.stdout, new RegExp(`^resume +translation memory ${dir}/\\.cache/com\\.quorvel\\.translate/memory\\.sqlite3 \\(not made yet\\)$`, "m"));
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
});
