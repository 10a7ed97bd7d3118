// Long translations through the official SDK client and the real engine: progress that keeps
// a call alive past the client's time-out, a ping answered during a call, cancellation,
// resuming after a cancel, and tasks. The tiny random model on one thread makes a few
// hundred paragraphs take long enough to act on while they run.
import test from "node:test";
import assert from "node:assert/strict";
import { spawn } from "node:child_process";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { Client } from "@modelcontextprotocol/sdk/client/index.js";
import { StdioClientTransport } from "@modelcontextprotocol/sdk/client/stdio.js";
import { resultText, ROOT, SERVER } from "./helpers.mjs";

const MODEL = path.join(ROOT, ".cache", "models", "tiny.gguf");

function tempDir() {
  return fs.mkdtempSync(path.join(os.tmpdir(), "quorvel-long-"));
}

// Distinct paragraphs, so that each one reaches the model.
function writeDocument(dir, count) {
  const file = path.join(dir, "long.txt");
  const paragraphs = Array.from({ length: count }, (_, i) =>
    `Paragraph ${i}: the committee met on day ${i} to discuss item ${i * 7} of the agenda.`);
  fs.writeFileSync(file, paragraphs.join("\n\n") + "\n");
  return file;
}

// A client whose server keeps its translation memory in `cache` (off when null).
async function connectClient({ cache = null, capabilities = {} } = {}) {
  const transport = new StdioClientTransport({
    command: SERVER,
    args: [],
    env: {
      PATH: process.env.PATH ?? "/usr/bin:/bin",
      HOME: process.env.HOME ?? "/tmp",
      TRANSLATE_LLM_MODEL: MODEL,
      AMBREL_THREADS: "1",
      ...(cache ? { XDG_CACHE_HOME: cache } : { TRANSLATE_MEMORY: "off" }),
    },
    stderr: "pipe",
  });
  const client = new Client({ name: "long-jobs-test", version: "1.0.0" }, { capabilities });
  const errors = [];
  client.onerror = (error) => errors.push(String(error));
  await client.connect(transport);
  return { client, errors };
}

function translateFile(client, args, options = {}) {
  return client.callTool({ name: "translate_file", arguments: { to: "fr", ...args } }, undefined, options);
}

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

test("progress keeps a long call alive past a short time-out, and a ping is answered at once", async () => {
  const dir = tempDir();
  const { client, errors } = await connectClient();
  try {
    const input = writeDocument(dir, 120);
    const updates = [];
    const started = Date.now();
    const call = translateFile(client, { path: input }, {
      timeout: 3000,
      resetTimeoutOnProgress: true,
      onprogress: (p) => updates.push(p),
    });
    await sleep(1000);
    const pingStart = Date.now();
    assert.deepEqual(await client.ping(), {});
    const pingMs = Date.now() - pingStart;
    const result = await call;
    const elapsed = Date.now() - started;

    assert.equal(result.isError, false, resultText(result));
    assert.ok(elapsed > 3000, `the call took ${elapsed} ms, too short to show the time-out was reset`);
    assert.ok(pingMs < 500, `ping took ${pingMs} ms`);
    assert.ok(updates.length >= 2, JSON.stringify(updates));
    for (let i = 0; i < updates.length; i++) {
      assert.equal(updates[i].total, 120);
      assert.match(updates[i].message, /^\d+\/120 paragraphs$/);
      if (i > 0) assert.ok(updates[i].progress > updates[i - 1].progress, JSON.stringify(updates));
    }
    assert.deepEqual(errors, []);
  } finally {
    await client.close();
    fs.rmSync(dir, { recursive: true, force: true });
  }
});

test("a cancelled call stops, writes nothing, and the next call is answered at once", async () => {
  const dir = tempDir();
  const { client, errors } = await connectClient();
  try {
    const input = writeDocument(dir, 200);
    const abort = new AbortController();
    const call = translateFile(client, { path: input }, { signal: abort.signal, timeout: 120000 });
    await sleep(1500);
    abort.abort("changed my mind");
    await assert.rejects(call);
    const start = Date.now();
    const text = await client.callTool({ name: "translate_text", arguments: { text: "12:30", to: "fr" } });
    const nextMs = Date.now() - start;
    assert.equal(resultText(text), "12:30");
    assert.ok(nextMs < 1000, `the next call took ${nextMs} ms`);
    await sleep(300);
    assert.deepEqual(fs.readdirSync(dir), ["long.txt"]);
    // No reply came for the cancelled request.
    assert.deepEqual(errors, []);
  } finally {
    await client.close();
    fs.rmSync(dir, { recursive: true, force: true });
  }
});

test("a retry after a cancel half way resumes near where it stopped and writes the same file", async () => {
  const dir = tempDir();
  const cache = path.join(dir, "cache");
  const total = 120;
  try {
    const input = writeDocument(dir, total);
    const whole = path.join(dir, "whole.txt");
    const resumed = path.join(dir, "resumed.txt");
    {
      const { client } = await connectClient();
      try {
        const result = await translateFile(client, { path: input, output_path: whole }, { timeout: 120000 });
        assert.equal(result.isError, false, resultText(result));
      } finally {
        await client.close();
      }
    }
    const { client } = await connectClient({ cache });
    try {
      const abort = new AbortController();
      let stoppedAt = 0;
      const first = translateFile(client, { path: input, output_path: resumed }, {
        signal: abort.signal,
        timeout: 120000,
        onprogress: (p) => {
          stoppedAt = p.progress;
          if (p.progress >= total / 2) abort.abort("half way");
        },
      });
      await assert.rejects(first);
      assert.ok(!fs.existsSync(resumed));
      const updates = [];
      const retry = await translateFile(client, { path: input, output_path: resumed }, {
        timeout: 120000,
        onprogress: (p) => updates.push(p.progress),
      });
      assert.equal(retry.isError, false, resultText(retry));
      assert.ok(updates.length > 0);
      assert.ok(updates[0] >= stoppedAt - 5, `resumed at ${updates[0]}, stopped at ${stoppedAt}`);
      assert.equal(fs.readFileSync(resumed, "utf8"), fs.readFileSync(whole, "utf8"));
    } finally {
      await client.close();
    }
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
});

test("tasks: a task-augmented call streams to its result, and cancelTask cancels", async () => {
  const dir = tempDir();
  const { client } = await connectClient({ capabilities: { tasks: { list: {}, cancel: {} } } });
  try {
    await client.listTools();
    const short = writeDocument(dir, 3);
    const kinds = [];
    let result = null;
    for await (const message of client.experimental.tasks.callToolStream(
      { name: "translate_file", arguments: { path: short, to: "fr", output_path: path.join(dir, "short.fr.txt") } },
      undefined,
      { task: { ttl: 60000 } },
    )) {
      kinds.push(message.type);
      if (message.type === "result") result = message.result;
      if (message.type === "error") throw message.error;
    }
    assert.equal(kinds[0], "taskCreated");
    assert.equal(kinds.at(-1), "result");
    assert.equal(resultText(result), `Translated 3 paragraphs to French. Wrote:\n${path.join(dir, "short.fr.txt")}`);

    const long = path.join(dir, "big", "long.txt");
    fs.mkdirSync(path.dirname(long));
    fs.renameSync(writeDocument(dir, 200), long);
    const stream = client.experimental.tasks.callToolStream(
      { name: "translate_file", arguments: { path: long, to: "fr" } }, undefined, { task: { ttl: 60000 } });
    const first = await stream.next();
    assert.equal(first.value.type, "taskCreated");
    const taskId = first.value.task.taskId;
    await sleep(1000);
    const cancelled = await client.experimental.tasks.cancelTask(taskId);
    assert.equal(cancelled.status, "cancelled");
    let last = null;
    for await (const message of stream) last = message;
    assert.equal(last.type, "error");
    assert.match(last.error.message, /was cancelled/);
    assert.equal((await client.experimental.tasks.getTask(taskId)).status, "cancelled");
    const listed = await client.experimental.tasks.listTasks();
    assert.deepEqual(listed.tasks.map((task) => task.status), ["completed", "cancelled"]);
    await sleep(300);
    assert.deepEqual(fs.readdirSync(path.dirname(long)), ["long.txt"]);
  } finally {
    await client.close();
    fs.rmSync(dir, { recursive: true, force: true });
  }
});

test("SIGTERM during a call ends the server promptly and leaves no output", async () => {
  const dir = tempDir();
  try {
    const input = writeDocument(dir, 200);
    const child = spawn(SERVER, [], {
      env: { PATH: process.env.PATH, TRANSLATE_LLM_MODEL: MODEL, AMBREL_THREADS: "1", TRANSLATE_MEMORY: "off" },
      stdio: ["pipe", "pipe", "ignore"],
    });
    const exit = new Promise((resolve) => child.on("close", (code, signal) => resolve({ code, signal })));
    let stdout = "";
    child.stdout.on("data", (chunk) => (stdout += chunk));
    child.stdin.write(JSON.stringify({
      jsonrpc: "2.0", id: 1, method: "tools/call",
      params: { name: "translate_file", arguments: { path: input, to: "fr" } },
    }) + "\n");
    await sleep(1500);
    const start = Date.now();
    child.kill("SIGTERM");
    assert.deepEqual(await exit, { code: null, signal: "SIGTERM" });
    const quitMs = Date.now() - start;
    assert.ok(quitMs < 1000, `the server took ${quitMs} ms to end`);
    assert.equal(stdout, "");
    assert.deepEqual(fs.readdirSync(dir), ["long.txt"]);
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
});

// One translate_file call on a raw server process, killed with SIGKILL after `killAfterMs`
// (never when null). Resolves when the process has ended.
function callThenKill(input, cache, killAfterMs) {
  const child = spawn(SERVER, [], {
    env: { PATH: process.env.PATH, TRANSLATE_LLM_MODEL: MODEL, AMBREL_THREADS: "1", XDG_CACHE_HOME: cache },
    stdio: ["pipe", "pipe", "pipe"],
  });
  let stdout = "";
  let stderr = "";
  child.stdout.on("data", (chunk) => {
    stdout += chunk;
    if (stdout.includes("\n")) child.stdin.end();
  });
  child.stderr.on("data", (chunk) => (stderr += chunk));
  child.stdin.write(JSON.stringify({
    jsonrpc: "2.0", id: 1, method: "tools/call",
    params: { name: "translate_file", arguments: { path: input, to: "fr" } },
  }) + "\n");
  const timer = killAfterMs === null ? null : setTimeout(() => child.kill("SIGKILL"), killAfterMs);
  return new Promise((resolve) => child.on("close", (code, signal) => {
    clearTimeout(timer);
    resolve({ code, signal, stdout, stderr });
  }));
}

test("SIGKILL at any point loses nothing: the output is whole or absent, and the memory resumes", async () => {
  const dir = tempDir();
  try {
    const input = writeDocument(dir, 40);
    const output = path.join(dir, "long.fr.txt");
    const started = Date.now();
    const reference = await callThenKill(input, path.join(dir, "cache-reference"), null);
    const fullMs = Date.now() - started;
    assert.match(reference.stdout, /Wrote:/, reference.stderr);
    const expected = fs.readFileSync(output);
    fs.rmSync(output);

    // Kills spread over a whole call, the last ones near its end where the file is written;
    // each later call resumes from the memory the earlier ones left.
    const cache = path.join(dir, "cache");
    for (const share of [0.15, 0.3, 0.5, 0.7, 0.85, 0.95, 1.0]) {
      const run = await callThenKill(input, cache, Math.round(fullMs * share));
      if (fs.existsSync(output)) assert.ok(fs.readFileSync(output).equals(expected), `half-written output at ${share}`);
      assert.doesNotMatch(run.stderr, /damaged|memory off/, run.stderr);
      // Nothing but the input, the output and hidden temporary files of ours.
      for (const name of fs.readdirSync(dir)) {
        assert.ok(["long.txt", "long.fr.txt", "cache", "cache-reference"].includes(name) ||
          /^\.long\.fr\.txt\.tmp-[a-z0-9]{8}$/.test(name), name);
      }
    }
    const last = await callThenKill(input, cache, null);
    assert.match(last.stdout, /Wrote:/, last.stderr);
    assert.doesNotMatch(last.stderr, /damaged|memory off/, last.stderr);
    assert.ok(fs.readFileSync(output).equals(expected));
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
});
