// Both tools end to end: the official MCP client, the built server, the real llama.cpp
// libraries and the project's constant-answer model, which always answers the sentence below.
// One thread: ggml slows down badly when its threads outnumber the free cores of a busy machine.
import test from "node:test";
import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { connect, resultText, ROOT } from "./helpers.mjs";

const MODEL = path.join(ROOT, ".cache", "models", "constant.gguf");
const ANSWER = "Bonjour le monde.";
const STARTUP = /^\[corvane\] engine .*resources\/engine model .*constant\.gguf$/;

function tempDir() {
  return fs.mkdtempSync(path.join(os.tmpdir(), "quorvel-e2e-"));
}

// DOCX packages are built and read with Python's zipfile: a real zip implementation that
// is not ours.
function python(script, ...args) {
  return execFileSync("/usr/bin/python3", ["-c", script, ...args], { encoding: "utf8" });
}

const MAKE_DOCX = `
import sys, zipfile
W = 'xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main"'
body = ('<w:p><w:r><w:rPr><w:b/></w:rPr><w:t>Good morning, dear friends.</w:t></w:r>'
        '<w:r><w:t xml:space="preserve"> See you soon.</w:t></w:r></w:p>'
        '<w:p><w:r><w:t>Hello {name}, welcome back.</w:t></w:r></w:p>'
        '<w:p><w:r><w:t>2024-01-01</w:t></w:r></w:p>')
with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:
    z.writestr('[Content_Types].xml', '<?xml version="1.0"?><Types/>')
    z.writestr('word/document.xml', '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
               f'<w:document {W}><w:body>{body}</w:body></w:document>')
    z.writestr('word/media/image1.png', bytes(range(256)) * 40)
`;

const READ_DOCX = `
import sys, zipfile, json
with zipfile.ZipFile(sys.argv[1]) as z:
    print(json.dumps({i.filename: z.read(i.filename).decode('latin-1') for i in z.infolist()}))
`;

test("translate_text through the real engine", async () => {
  const { client, stderr } = await connect({ TRANSLATE_LLM_MODEL: MODEL, AMBREL_THREADS: "1" });
  try {
    const call = (text) => client.callTool({ name: "translate_text", arguments: { text, to: "fr" } });

    let result = await call("Hello world, how are you today?");
    assert.equal(result.isError, false);
    assert.equal(resultText(result), ANSWER);

    // The answer lacks the placeholder, so both attempts are rejected.
    result = await call("Hello {name}, how are you today?");
    assert.equal(result.isError, true);
    assert.equal(resultText(result), "could not produce a reliable translation for that text");

    result = await call("12:30");
    assert.equal(result.isError, false);
    assert.equal(resultText(result), "12:30");

    const lines = stderr().split("\n").filter(Boolean);
    assert.equal(lines.length, 1, stderr());
    assert.match(lines[0], STARTUP);
  } finally {
    await client.close();
  }
});

test("translate_file keeps each format's structure", async () => {
  const dir = tempDir();
  const write = (name, text) => {
    const file = path.join(dir, name);
    fs.writeFileSync(file, text);
    return file;
  };
  const srt = write("talk.srt", "1\n00:00:01,000 --> 00:00:02,500\nHello there, my friend.\n\n2\n00:00:03,000 --> 00:00:04,000\nHow are you doing today?\nI hope well.\n\n" +
    "3\n00:00:05,000 --> 00:00:06,000\n- Are you still there?\n- Yes, I am here.\n\n4\n00:00:07,000 --> 00:00:08,000\n<i>Good night, everyone.</i>\n");
  const vtt = write("talk.vtt", "WEBVTT\n\nNOTE a comment\n\n00:01.000 --> 00:02.000 align:start\nGood evening, everyone.\n");
  const md = write("Notes.MD", "# A heading line\nwith some text below it.\n\n- A list item here.\n\n" +
    "See [the guide](https://example.org/guide) first.\n\n```js\nconst x = 1;\n```\n\n12:30\n");
  const txt = write("story.txt", "Once upon a time there was a cat.\r\n\r\nIt slept all day long.\r\n");
  const docx = path.join(dir, "report.docx");
  python(MAKE_DOCX, docx);

  const { client } = await connect({ TRANSLATE_LLM_MODEL: MODEL, AMBREL_THREADS: "1" });
  try {
    const translate = async (file, extra = {}) => {
      const result = await client.callTool({ name: "translate_file", arguments: { path: file, to: "fr", ...extra } });
      assert.equal(result.isError, false, resultText(result));
      return resultText(result);
    };

    // Each line of a dialogue is a segment of its own and keeps its dash; markup around a
    // whole cue stays around it.
    assert.equal(await translate(srt), `Translated 5 paragraphs to French. Wrote:\n${path.join(dir, "talk.fr.srt")}`);
    assert.equal(fs.readFileSync(path.join(dir, "talk.fr.srt"), "utf8"),
      `1\n00:00:01,000 --> 00:00:02,500\n${ANSWER}\n\n2\n00:00:03,000 --> 00:00:04,000\nBonjour\nle monde.\n\n` +
      `3\n00:00:05,000 --> 00:00:06,000\n- ${ANSWER}\n- ${ANSWER}\n\n4\n00:00:07,000 --> 00:00:08,000\n<i>${ANSWER}</i>\n\n`);

    await translate(vtt);
    assert.equal(fs.readFileSync(path.join(dir, "talk.fr.vtt"), "utf8"),
      `WEBVTT\n\nNOTE a comment\n\n00:01.000 --> 00:02.000 align:start\n${ANSWER}\n\n`);

    // The heading and the list item keep their markers; the answer has no link, so the
    // paragraph holding one keeps its text rather than lose the target.
    assert.equal(await translate(md), `Translated 5 paragraphs to French. Wrote:\n${path.join(dir, "Notes.fr.MD")}\n` +
      "Note: 1 paragraph(s) were kept in the original language because a reliable translation could not be produced.");
    assert.equal(fs.readFileSync(path.join(dir, "Notes.fr.MD"), "utf8"),
      `# ${ANSWER}\n${ANSWER}\n\n- ${ANSWER}\n\nSee [the guide](https://example.org/guide) first.\n\n` +
      `\`\`\`js\nconst x = 1;\n\`\`\`\n\n12:30\n`);

    const out = path.join(dir, "out", "story-fr.txt");
    fs.mkdirSync(path.dirname(out));
    assert.equal(await translate(txt, { output_path: out }), `Translated 2 paragraphs to French. Wrote:\n${out}`);
    assert.equal(fs.readFileSync(out, "utf8"), `${ANSWER}\n\n${ANSWER}\n`);

    // A paragraph with a placeholder cannot be translated reliably and keeps its text.
    assert.equal(await translate(docx),
      `Translated 3 paragraphs to French. Wrote:\n${path.join(dir, "report.fr.docx")}\n` +
      "Note: 1 paragraph(s) were kept in the original language because a reliable translation could not be produced.");
    const source = JSON.parse(python(READ_DOCX, docx));
    const translated = JSON.parse(python(READ_DOCX, path.join(dir, "report.fr.docx")));
    assert.deepEqual(Object.keys(translated), Object.keys(source));
    assert.equal(translated["word/media/image1.png"], source["word/media/image1.png"]);
    const xml = translated["word/document.xml"];
    // The runs differ in formatting; the answer lost their tags after the retry, so its text
    // goes into one run of the paragraph's main formatting. Kept paragraphs keep every byte.
    assert.match(xml, /<w:p><w:r><w:rPr><w:b\/><\/w:rPr><w:t xml:space="preserve">Bonjour le monde\.<\/w:t><\/w:r><\/w:p>/);
    assert.doesNotMatch(xml, /See you soon/);
    assert.match(xml, /<w:p><w:r><w:t>Hello \{name\}, welcome back\.<\/w:t><\/w:r><\/w:p>/);
    assert.match(xml, /<w:p><w:r><w:t>2024-01-01<\/w:t><\/w:r><\/w:p>/);
  } finally {
    await client.close();
    fs.rmSync(dir, { recursive: true, force: true });
  }
});

test("a broken document is reported before any engine is loaded", async () => {
  const dir = tempDir();
  const empty = path.join(dir, "empty.txt");
  fs.writeFileSync(empty, "\n\n");
  const { client, stderr } = await connect({ TRANSLATE_LLM_MODEL: MODEL, AMBREL_THREADS: "1" });
  try {
    const result = await client.callTool({ name: "translate_file", arguments: { path: empty, to: "de" } });
    assert.equal(result.isError, true);
    assert.equal(resultText(result), "no translatable text found");
    assert.equal(stderr(), "");
    assert.equal(fs.readdirSync(dir).length, 1);
  } finally {
    await client.close();
    fs.rmSync(dir, { recursive: true, force: true });
  }
});
