// 10,000 mixed requests through one pipe: valid calls, malformed lines, notifications,
// unknown methods and tools, bad tool arguments and a few real translations. Every reply is
// checked exactly: those that need no engine in order, the translations (which may be
// answered after requests that came later) each once; and the server's memory after 10,000
// requests must be what it was after 1,000.
import test from "node:test";
import assert from "node:assert/strict";
import { spawn } from "node:child_process";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { ROOT, SERVER } from "./helpers.mjs";

const MODEL = path.join(ROOT, ".cache", "models", "constant.gguf");
const TOTAL = 10000;
const FIRST = 1000;
// Growth allowed between the two measurements: allocator noise, far below any real leak
// (9,000 requests leaking even 250 bytes each would show).
const FLAT_KB = 2 * 1024;

function call(id, name, args) {
  return JSON.stringify({ jsonrpc: "2.0", id, method: "tools/call", params: { name, arguments: args } });
}

// Calls that reach the engine: their replies may come after later requests' replies.
const translates = (i) => i % 500 === 0 || i % 1000 === 1;

function toolReply(id, text, isError) {
  return JSON.stringify({ id, jsonrpc: "2.0", result: { content: [{ text, type: "text" }], isError } });
}

// One request line and the exact reply line it must get (null: no reply at all).
function request(i, dir) {
  const missing = path.join(dir, `missing-${i}.docx`);
  const kinds = [
    () => [`{"jsonrpc":"2.0","id":${i},"method":"ping"}`, `{"id":${i},"jsonrpc":"2.0","result":{}}`],
    () => [`{"jsonrpc":"2.0","method":"notifications/cancelled","params":{"requestId":${i}}}`, null],
    () => [`{"jsonrpc":"2.0","id":${i},"method":`,
      `{"error":{"code":-32700,"message":"parse error: EOF while parsing a value at line 1 column ${String(i).length + 32}"},"id":null,"jsonrpc":"2.0"}`],
    () => [`{"jsonrpc":"2.0","id":"s${i}","method":"resources/read"}`,
      `{"error":{"code":-32601,"message":"method not found: resources/read"},"id":"s${i}","jsonrpc":"2.0"}`],
    () => [call(i, "translate_all", {}), `{"error":{"code":-32602,"message":"unknown tool: translate_all"},"id":${i},"jsonrpc":"2.0"}`],
    () => [call(i, "translate_text", { to: "fr" }), toolReply(i, "missing required argument: text", true)],
    () => [call(i, "translate_text", { text: "x".repeat(12001), to: "fr" }),
      toolReply(i, "text too long for translate_text; write it to a file and use translate_file", true)],
    () => [call(i, "translate_file", { path: missing, to: "fr" }), toolReply(i, `file not found: ${missing}`, true)],
    () => [call(i, "translate_file", { path: path.join(dir, "notes.pdf"), to: "fr" }),
      toolReply(i, "unsupported file type: .pdf", true)],
    () => [`[{"jsonrpc":"2.0","id":${i},"method":"ping"}]`, null],
    () => ["   ", null],
    () => [`{"jsonrpc":"2.0","id":[${i}],"method":"prompts/list"}`, `{"id":[${i}],"jsonrpc":"2.0","result":{"prompts":[]}}`],
  ];
  if (i % 500 === 0) {  // keep in step with translates()
    return [call(i, "translate_text", { text: "Hello world, how are you?", to: "fr" }), toolReply(i, "Bonjour le monde.", false)];
  }
  if (i % 1000 === 1) {
    const output = path.join(dir, "hello.fr.txt");
    return [call(i, "translate_file", { path: path.join(dir, "hello.txt"), to: "fr", output_path: output }),
      toolReply(i, `Translated 2 paragraphs to French. Wrote:\n${output}`, false)];
  }
  return kinds[i % kinds.length]();
}

function memory(pid) {
  const status = fs.readFileSync(`/proc/${pid}/status`, "utf8");
  const field = (name) => Number(status.match(new RegExp(`^${name}:\\s+(\\d+) kB`, "m"))[1]);
  return { rssKb: field("VmRSS"), peakKb: field("VmHWM") };
}

test("10,000 mixed requests are all answered exactly, in constant memory", { timeout: 600000 }, async (t) => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), "quorvel-soak-"));
  const child = spawn(SERVER, [], {
    env: { PATH: process.env.PATH, HOME: dir, TRANSLATE_LLM_MODEL: MODEL },
    stdio: ["pipe", "pipe", "ignore"],
  });
  try {
    fs.writeFileSync(path.join(dir, "notes.pdf"), "%PDF-1.4\n");
    fs.writeFileSync(path.join(dir, "hello.txt"), "Hello world, how are you?\n\nSee you later, my friend.\n");
    const requests = Array.from({ length: TOTAL }, (_, i) => request(i, dir));

    const replies = [];
    let pending = "";
    let waiter = null;
    child.stdout.setEncoding("utf8");
    child.stdout.on("data", (chunk) => {
      pending += chunk;
      const lines = pending.split("\n");
      pending = lines.pop();
      replies.push(...lines);
      if (waiter && replies.length >= waiter.count) waiter.resolve();
    });
    const exit = new Promise((resolve) => child.on("close", (code, signal) => resolve({ code, signal })));
    const repliesFor = (n) => requests.slice(0, n).filter(([, reply]) => reply !== null).length;
    const send = (from, to) =>
      new Promise((resolve) => {
        waiter = { count: repliesFor(to), resolve };
        child.stdin.write(requests.slice(from, to).map(([line]) => line + "\n").join(""));
        if (replies.length >= waiter.count) resolve();
      });

    await send(0, FIRST);
    const atFirst = memory(child.pid);
    await send(FIRST, TOTAL);
    const atTotal = memory(child.pid);
    child.stdin.end();
    assert.deepEqual(await exit, { code: 0, signal: null });

    const expected = requests.map(([, reply]) => reply).filter((reply) => reply !== null);
    assert.equal(replies.length, expected.length);
    const engineReplies = new Set(requests.filter((_, i) => translates(i)).map(([, reply]) => reply));
    const inOrder = (list) => list.filter((reply) => !engineReplies.has(reply));
    const got = inOrder(replies);
    const want = inOrder(expected);
    assert.equal(got.length, want.length);
    for (let k = 0; k < want.length; k++) assert.equal(got[k], want[k], `reply ${k}`);
    assert.deepEqual(replies.filter((reply) => engineReplies.has(reply)).sort(), [...engineReplies].sort());

    t.diagnostic(`after ${FIRST}: RSS ${atFirst.rssKb} kB, peak ${atFirst.peakKb} kB`);
    t.diagnostic(`after ${TOTAL}: RSS ${atTotal.rssKb} kB, peak ${atTotal.peakKb} kB`);
    assert.ok(atTotal.rssKb - atFirst.rssKb < FLAT_KB, `RSS grew from ${atFirst.rssKb} to ${atTotal.rssKb} kB`);
  } finally {
    child.kill();
    fs.rmSync(dir, { recursive: true, force: true });
  }
});
