// What a real llama-server cannot be made to do, from a fake one on 127.0.0.1: garbage, cut
// streams, errors, silence, oversized replies, a model of another family, a server that
// refuses one prompt, and a client that cancels while an answer streams. The built server runs
// with the official MCP client, as a user would run it.
import test from "node:test";
import assert from "node:assert/strict";
import fs from "node:fs";
import http from "node:http";
import os from "node:os";
import path from "node:path";
import { connect, resultText } from "./helpers.mjs";
import { freePort } from "./remote_helpers.mjs";

const ANSWER = "Bonjour le monde.";
const TEXT = "Hello world, how are you today?";

function sse(res, events) {
  res.writeHead(200, { "Content-Type": "text/event-stream" });
  for (const event of events) res.write(`data: ${typeof event === "string" ? event : JSON.stringify(event)}\n\n`);
}

const GOOD = (req, res) => {
  sse(res, [
    { content: "", stop: false, tokens_evaluated: 40, prompt_progress: { total: 40, cache: 0, processed: 40 } },
    { content: "Bonjour", stop: false, tokens_predicted: 1 },
    { content: " le monde.", stop: false, tokens_predicted: 2 },
    { content: "", stop: true, tokens_predicted: 3 },
  ]);
  res.end();
};

/// An HTTP server on 127.0.0.1 that describes itself as llama-server and answers each
/// completion with `answer(req, res)`. `requests` counts completions; `closed` those whose
/// connection the client closed before the answer ended.
async function fakeServer(answer, { model = "translategemma-fake" } = {}) {
  const state = { requests: 0, closed: 0 };
  const server = http.createServer((req, res) => {
    if (req.method === "GET" && req.url === "/props") {
      res.writeHead(200, { "Content-Type": "application/json" });
      res.end(JSON.stringify({ total_slots: 2, model_alias: model }));
      return;
    }
    let body = "";
    req.on("data", (chunk) => (body += chunk));
    req.on("end", () => {
      state.requests += 1;
      res.on("close", () => { if (!res.writableFinished) state.closed += 1; });
      answer(req, res, JSON.parse(body));
    });
  });
  const port = await freePort();
  await new Promise((resolve) => server.listen(port, "127.0.0.1", resolve));
  state.url = `http://127.0.0.1:${port}`;
  state.close = () => { server.closeAllConnections(); return new Promise((r) => server.close(r)); };
  return state;
}

const FAULTS = [
  ["garbage", (req, res) => { sse(res, ["{not json"]); res.end(); }, /the server sent something that is not a JSON object/],
  ["a stream cut short", (req, res) => { sse(res, [{ content: "Bon", stop: false }]); res.end(); }, /the stream ended before the answer was complete/],
  ["a connection dropped", (req, res) => { sse(res, [{ content: "Bon", stop: false }]); setTimeout(() => res.socket.destroy(), 50); }, /transfer closed|Recv failure|reset/i],
  ["an HTTP error", (req, res) => { res.writeHead(500, { "Content-Type": "application/json" }); res.end(JSON.stringify({ error: { code: 500, message: "kaboom" } })); }, /HTTP 500: kaboom/],
  ["an endless line", (req, res) => { res.writeHead(200, { "Content-Type": "text/event-stream" }); res.end("data: " + "a".repeat(2 << 20)); }, /longer than 1048576 bytes/],
  ["silence", (req, res) => { res.writeHead(200, { "Content-Type": "text/event-stream" }); res.write(":\n\n"); }, /no answer for 1 s/],
];

test("a server that fails every way fails the call with its own words, and writes nothing", async () => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), "quorvel-remote-"));
  const file = path.join(dir, "story.txt");
  fs.writeFileSync(file, "Once upon a time there was a cat.\n\nIt slept all day long.\n");
  try {
    for (const [name, answer, message] of FAULTS) {
      const fake = await fakeServer(answer);
      const { client, stderr } = await connect({ TRANSLATE_LLM_URL: fake.url, TRANSLATE_LLM_TIMEOUT: "1" });
      try {
        const result = await client.callTool({ name: "translate_file", arguments: { path: file, to: "fr" } });
        assert.equal(result.isError, true, name);
        const text = resultText(result);
        assert.ok(text.startsWith(`no translation server answered (TRANSLATE_LLM_URL): ${fake.url}: `), `${name}: ${text}`);
        assert.match(text, message, name);
        assert.deepEqual(fs.readdirSync(dir), ["story.txt"], name);
        // Out of rotation after each failure, given up after the third in a row; the two
        // paragraphs' requests that fail together count once.
        assert.ok(fake.requests >= 3, name);
        assert.equal((stderr().match(/failed: .*; out of rotation/g) ?? []).length, 3, stderr());
      } finally {
        await client.close();
        await fake.close();
      }
    }
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
});

test("an unreachable server is named at once", async () => {
  const port = await freePort();
  const { client } = await connect({ TRANSLATE_LLM_URL: `http://127.0.0.1:${port}` });
  try {
    const result = await client.callTool({ name: "translate_text", arguments: { text: TEXT, to: "fr" } });
    assert.equal(result.isError, true);
    assert.match(resultText(result), new RegExp(`^no translation server answered \\(TRANSLATE_LLM_URL\\): http://127.0.0.1:${port}: .*Couldn't connect to server`));
  } finally {
    await client.close();
  }
});

test("a failing server's prompts go to the other one", async () => {
  const bad = await fakeServer((req, res) => { sse(res, ["{not json"]); res.end(); });
  const good = await fakeServer(GOOD);
  const { client, stderr } = await connect({ TRANSLATE_LLM_URL: `${bad.url},${good.url}` });
  try {
    for (let i = 0; i < 3; i += 1) {
      const result = await client.callTool({ name: "translate_text", arguments: { text: `${TEXT} ${i}`, to: "fr" } });
      assert.equal(resultText(result), ANSWER);
    }
    assert.ok(bad.requests >= 1 && good.requests === 3, `${bad.requests} ${good.requests}`);
    assert.match(stderr(), new RegExp(`translation server ${bad.url} failed: the server sent something that is not a JSON object; out of rotation for 1 s`));
  } finally {
    await client.close();
    await Promise.all([bad.close(), good.close()]);
  }
});

test("a refused prompt is logged with the server's message; a foreign model is warned of once", async () => {
  let refuse = true;
  const fake = await fakeServer((req, res, body) => {
    assert.equal(body.cache_prompt, true);
    assert.equal(body.stream, true);
    if (refuse) {
      res.writeHead(400, { "Content-Type": "application/json" });
      res.end(JSON.stringify({ error: { code: 400, message: "the request exceeds the available context size", type: "exceed_context_size_error" } }));
      return;
    }
    GOOD(req, res);
  }, { model: "llama-3.1-8b-instruct" });
  const { client, stderr } = await connect({ TRANSLATE_LLM_URL: fake.url });
  try {
    let result = await client.callTool({ name: "translate_text", arguments: { text: TEXT, to: "fr" } });
    assert.equal(resultText(result), "could not produce a reliable translation for that text");
    assert.match(stderr(), new RegExp(`translation server ${fake.url} refused a prompt: HTTP 400: the request exceeds the available context size`));
    refuse = false;
    result = await client.callTool({ name: "translate_text", arguments: { text: TEXT, to: "fr" } });
    assert.equal(resultText(result), ANSWER);
    const warnings = stderr().match(/warning: .* serves the model "llama-3\.1-8b-instruct", which does not look like a TranslateGemma model/g) ?? [];
    assert.equal(warnings.length, 1, stderr());
  } finally {
    await client.close();
    await fake.close();
  }
});

test("cancelling a call closes its request at once", async () => {
  let timer;
  const fake = await fakeServer((req, res) => {
    sse(res, [{ content: "", stop: false, prompt_progress: { total: 40, cache: 0, processed: 40 } }]);
    let n = 0;
    timer = setInterval(() => res.write(`data: ${JSON.stringify({ content: "a", stop: false, tokens_predicted: ++n })}\n\n`), 100);
    res.on("close", () => clearInterval(timer));
  });
  const { client } = await connect({ TRANSLATE_LLM_URL: fake.url });
  try {
    const controller = new AbortController();
    const call = client.callTool({ name: "translate_text", arguments: { text: TEXT, to: "fr" } }, undefined, { signal: controller.signal });
    while (fake.requests === 0) await new Promise((r) => setTimeout(r, 20));
    await new Promise((r) => setTimeout(r, 300));
    controller.abort();
    await assert.rejects(call);
    const start = Date.now();
    while (fake.closed === 0 && Date.now() - start < 2000) await new Promise((r) => setTimeout(r, 20));
    assert.equal(fake.closed, 1);
  } finally {
    clearInterval(timer);
    await client.close();
    await fake.close();
  }
});
