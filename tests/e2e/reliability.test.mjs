// Hostile inputs and failing writes against the built server: every bad input gets a clear
// error, the loop keeps serving, and nothing at an output path is ever lost or half-written.
import test from "node:test";
import assert from "node:assert/strict";
import { execFileSync, spawn } from "node:child_process";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { Client } from "@modelcontextprotocol/sdk/client/index.js";
import { StdioClientTransport } from "@modelcontextprotocol/sdk/client/stdio.js";
import { ROOT, SERVER, resultText, runRaw } from "./helpers.mjs";

const MODEL = path.join(ROOT, ".cache", "models", "constant.gguf");
const ENV = { PATH: process.env.PATH ?? "/usr/bin:/bin", HOME: os.tmpdir(), TRANSLATE_LLM_MODEL: MODEL };

function tempDir() {
  return fs.mkdtempSync(path.join(os.tmpdir(), "quorvel-reliability-"));
}

function python(script, ...args) {
  return execFileSync("/usr/bin/python3", ["-c", script, ...args], { encoding: "utf8" });
}

// The MCP client on a server started through `wrapper` (for example prlimit) if given.
async function connectVia(wrapper = []) {
  const [command, ...args] = [...wrapper, SERVER];
  const transport = new StdioClientTransport({ command, args, env: ENV, stderr: "pipe" });
  const client = new Client({ name: "reliability-test", version: "1.0.0" });
  await client.connect(transport);
  return client;
}

async function translateFile(client, args) {
  const result = await client.callTool({ name: "translate_file", arguments: { to: "fr", ...args } });
  return { isError: result.isError, text: resultText(result) };
}

// Name, size and modification time of everything in a directory, hidden files included.
function snapshot(dir) {
  return fs
    .readdirSync(dir)
    .sort()
    .map((name) => {
      const st = fs.statSync(path.join(dir, name));
      return `${name} ${st.size} ${st.mtimeMs}`;
    });
}

const MAKE_HOSTILE = path.join(ROOT, "tests", "e2e", "make_hostile.py");

test("hostile documents get clear errors, nothing is written, and the loop keeps serving", async () => {
  const dir = tempDir();
  try {
    execFileSync("/usr/bin/python3", [MAKE_HOSTILE, dir]);
    const file = (name) => path.join(dir, name);
    fs.writeFileSync(file("kept.txt"), "Hello world, how are you?\n");
    const cases = [
      // The system would read these paths only up to the NUL byte, that is kept.txt itself.
      ["kept.txt\u0000.md", `file not found: ${file("kept.txt\u0000.md")}`],
      ["bomb.docx", "reading docx zip: entry word/media/zeros.bin expands more than 100 times (a zip bomb)"],
      ["laughs.docx", "parsing word/document.xml"],
      ["image.docx", "reading docx zip"],
      ["badutf8.docx", "parsing word/document.xml"],
      ["many.docx", "reading docx zip: more than 100000 entries"],
      ["overlap.docx", "reading docx zip: entries share their compressed data (a zip bomb)"],
      ["hugepart.docx", "reading docx zip: the text parts exceed the 256 MiB limit"],
      ["latin1.txt", `reading ${file("latin1.txt")}`],
      ["latin1.srt", `reading ${file("latin1.srt")}`],
      ["huge.txt", `reading ${file("huge.txt")}: the file is larger than the 256 MiB limit`],
      ["huge.srt", `reading ${file("huge.srt")}: the file is larger than the 256 MiB limit`],
      ["paragraphs.txt", "the document has more than 100000 paragraphs, the limit for one file"],
    ];
    const before = snapshot(dir);
    const client = await connectVia();
    try {
      for (const [name, message] of cases) {
        const result = await translateFile(client, { path: file(name) });
        assert.deepEqual(result, { isError: true, text: message }, name);
      }
      const nulOutput = file("kept.txt\u0000.fr.txt");
      assert.deepEqual(await translateFile(client, { path: file("kept.txt"), output_path: nulOutput }), {
        isError: true,
        text: `cannot write ${nulOutput}: the path contains a NUL byte`,
      });
      assert.deepEqual(await client.ping(), {});
    } finally {
      await client.close();
    }
    assert.deepEqual(snapshot(dir), before);
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
});

test("a 100 MB request line is refused and the next line is answered", async () => {
  const huge = '{"jsonrpc":"2.0","id":1,"method":"ping","params":{"pad":"' + "x".repeat(100 << 20) + '"}}\n';
  const { stdout, code } = await runRaw(Buffer.concat([Buffer.from(huge), Buffer.from('{"id":2,"method":"ping"}\n')]));
  assert.equal(
    stdout,
    '{"error":{"code":-32700,"message":"parse error: line longer than 67108864 bytes"},"id":null,"jsonrpc":"2.0"}\n' +
      '{"id":2,"jsonrpc":"2.0","result":{}}\n',
  );
  assert.equal(code, 0);
});

test("a client that stops reading replies does not kill the server", async () => {
  const child = spawn(SERVER, [], { env: ENV });
  child.stdout.destroy();
  const exit = new Promise((resolve) => child.on("close", (code, signal) => resolve({ code, signal })));
  child.stdin.write('{"jsonrpc":"2.0","id":1,"method":"ping"}\n');
  await new Promise((resolve) => setTimeout(resolve, 100));
  child.stdin.end('{"jsonrpc":"2.0","id":2,"method":"tools/list"}\n');
  assert.deepEqual(await exit, { code: 0, signal: null });
});

const MAKE_DOCX = String.raw`
import os, sys, zipfile
W = 'xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main"'
body = ''.join('<w:p><w:r><w:t>Paragraph number %d of the report.</w:t></w:r></w:p>' % i for i in range(3))
with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:
    z.writestr('word/document.xml', '<?xml version="1.0" encoding="UTF-8"?>'
               '<w:document %s><w:body>%s</w:body></w:document>' % (W, body))
    z.writestr('word/media/image1.bin', os.urandom(int(sys.argv[2])), compress_type=zipfile.ZIP_STORED)
`;

test("failing writes keep the previous output and leave no temporary file", async () => {
  const dir = tempDir();
  try {
    const docx = path.join(dir, "report.docx");
    python(MAKE_DOCX, docx, String(3 << 20));
    const txt = path.join(dir, "numbers.txt");
    // Numbers pass through without the model, so the output is as large as the input.
    fs.writeFileSync(txt, `${"1234567890".repeat(4)}\n\n`.repeat(50000));
    const previous = path.join(dir, "previous.docx");
    fs.writeFileSync(previous, "previous translation");
    const blocked = path.join(dir, "blocked");
    fs.mkdirSync(blocked);
    fs.writeFileSync(path.join(blocked, "inside"), "kept");

    // Writes beyond 1 MB fail as on a full disk.
    const limited = await connectVia(["prlimit", `--fsize=${1 << 20}`, "--"]);
    try {
      assert.deepEqual(await translateFile(limited, { path: docx, output_path: previous }), {
        isError: true,
        text: "Write error: File too large",
      });
      assert.deepEqual(await translateFile(limited, { path: txt, output_path: path.join(dir, "out.txt") }), {
        isError: true,
        text: `writing ${path.join(dir, "out.txt")}`,
      });
      assert.deepEqual(await limited.ping(), {});
    } finally {
      await limited.close();
    }

    const client = await connectVia();
    try {
      const cases = [
        // Checked before translating, so the reason comes at once.
        [{ path: docx, output_path: blocked }, `cannot write ${blocked}: Is a directory`],
        [{ path: txt, output_path: blocked }, `cannot write ${blocked}: Is a directory`],
        [{ path: docx, output_path: "/proc/quorvel-out.docx" }, "cannot write /proc/quorvel-out.docx: No such file or directory"],
        [{ path: txt, output_path: "/proc/quorvel-out.txt" }, "cannot write /proc/quorvel-out.txt: No such file or directory"],
        [{ path: txt, output_path: path.join(dir, "missing", "out.txt") },
          `cannot write ${path.join(dir, "missing", "out.txt")}: No such file or directory`],
      ];
      for (const [args, message] of cases) {
        assert.deepEqual(await translateFile(client, args), { isError: true, text: message }, args.output_path);
      }
    } finally {
      await client.close();
    }
    assert.equal(fs.readFileSync(previous, "utf8"), "previous translation");
    assert.equal(fs.readFileSync(path.join(blocked, "inside"), "utf8"), "kept");
    assert.deepEqual(fs.readdirSync(dir).sort(), ["blocked", "numbers.txt", "previous.docx", "report.docx"]);
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
});

// Starts a translation of `docx` to `output` and kills the server with SIGKILL as soon as a
// temporary file beside the output has grown past 1 MB, that is, in the middle of writing.
async function killWhileWriting(docx, output) {
  const dir = path.dirname(output);
  const child = spawn(SERVER, [], { env: ENV, stdio: ["pipe", "pipe", "ignore"] });
  const exit = new Promise((resolve) => child.on("close", (code, signal) => resolve(signal)));
  child.stdin.write(
    JSON.stringify({
      jsonrpc: "2.0",
      id: 1,
      method: "tools/call",
      params: { name: "translate_file", arguments: { path: docx, to: "fr", output_path: output } },
    }) + "\n",
  );
  const known = new Set([...fs.readdirSync(dir), path.basename(output)]);
  let replied = false;
  child.stdout.on("data", () => (replied = true));
  for (let waited = 0; waited < 120000 && !replied; waited += 5) {
    const partial = fs.readdirSync(dir).some((name) => {
      if (known.has(name)) return false;
      try {
        return fs.statSync(path.join(dir, name)).size > 1 << 20;
      } catch {
        return false; // renamed between listing and stat
      }
    });
    if (partial) break;
    await new Promise((resolve) => setTimeout(resolve, 5));
  }
  assert.equal(replied, false, "the write finished before the server could be killed");
  child.kill("SIGKILL");
  assert.equal(await exit, "SIGKILL");
}

test("killing the server while it writes a large DOCX never leaves a partial output", async () => {
  const dir = tempDir();
  try {
    const docx = path.join(dir, "large.docx");
    python(MAKE_DOCX, docx, String(150 << 20));

    const previous = path.join(dir, "previous.docx");
    fs.writeFileSync(previous, "previous translation");
    await killWhileWriting(docx, previous);
    assert.equal(fs.readFileSync(previous, "utf8"), "previous translation");

    const fresh = path.join(dir, "fresh.docx");
    await killWhileWriting(docx, fresh);
    assert.equal(fs.existsSync(fresh), false);
    // Only hidden temporary files can remain after SIGKILL; nothing under a visible name.
    const visible = fs.readdirSync(dir).filter((name) => !name.startsWith("."));
    assert.deepEqual(visible.sort(), ["large.docx", "previous.docx"]);
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
});
