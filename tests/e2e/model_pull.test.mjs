// quorvel model pull against a small HTTP server on 127.0.0.1 that the test runs: a cut
// connection resumed with a range, a server without ranges, a wrong checksum, a file that is
// not a model. Nothing but a complete, checked GGUF file ever takes the model's name.
import test from "node:test";
import assert from "node:assert/strict";
import crypto from "node:crypto";
import fs from "node:fs";
import http from "node:http";
import os from "node:os";
import path from "node:path";
import { ROOT, runProgram } from "./helpers.mjs";

const CLI = process.env.QUORVEL_CLI ?? path.join(ROOT, "build", "quorvel");
const MODEL = fs.readFileSync(path.join(ROOT, ".cache", "models", "tiny.gguf"));
const SHA = crypto.createHash("sha256").update(MODEL).digest("hex");

function pull(home, args) {
  return runProgram(CLI, ["model", "pull", ...args], { env: { HOME: home } });
}

// Serves the tiny model under a few names that misbehave in different ways; records the
// Range header of every request.
function startServer() {
  const ranges = [];
  let cuts = 0;
  const server = http.createServer((request, response) => {
    ranges.push(`${request.url} ${request.headers.range ?? "-"}`);
    const range = /bytes=(\d+)-/.exec(request.headers.range ?? "");
    if (request.url === "/junk.gguf") {
      response.writeHead(200, { "Content-Length": 4096 });
      response.end(Buffer.alloc(4096, 7));
      return;
    }
    if (request.url === "/missing.gguf") {
      response.writeHead(404);
      response.end("no such model");
      return;
    }
    if (range && request.url !== "/norange.gguf") {
      const from = Number(range[1]);
      if (from >= MODEL.length) {
        response.writeHead(416);
        response.end();
        return;
      }
      response.writeHead(206, {
        "Content-Length": MODEL.length - from,
        "Content-Range": `bytes ${from}-${MODEL.length - 1}/${MODEL.length}`,
      });
      response.end(MODEL.subarray(from));
      return;
    }
    response.writeHead(200, { "Content-Length": MODEL.length, "Accept-Ranges": "bytes" });
    if (request.url === "/cut.gguf" && cuts++ === 0) {
      // Half the file, then the connection drops.
      response.write(MODEL.subarray(0, MODEL.length >> 1), () => request.socket.destroy());
      return;
    }
    response.end(MODEL);
  });
  return new Promise((resolve) =>
    server.listen(0, "127.0.0.1", () => resolve({ server, ranges, base: `http://127.0.0.1:${server.address().port}` })));
}

function modelDir(home) {
  return path.join(home, ".local", "share", "com.quorvel.translate", "models");
}

test("model pull resumes a cut download and checks what it got", async () => {
  const { server, ranges, base } = await startServer();
  const home = fs.mkdtempSync(path.join(os.tmpdir(), "quorvel-pull-"));
  const target = path.join(modelDir(home), "translategemma-4b-it-Q4_K_M.gguf");
  try {
    let result = await pull(home, []);
    assert.equal(result.code, 0);
    assert.match(result.stdout, /about 2\.5 GB/);
    assert.match(result.stdout, new RegExp(`put the file at ${target}`));

    result = await pull(home, [`${base}/cut.gguf`, "--sha256", SHA]);
    assert.equal(result.code, 1, result.stderr);
    assert.match(result.stderr, /run the same command again to resume/);
    assert.ok(!fs.existsSync(target));
    const kept = fs.statSync(`${target}.part`).size;
    assert.ok(kept > 0 && kept < MODEL.length, String(kept));

    result = await pull(home, [`${base}/cut.gguf`, "--sha256", SHA.toUpperCase()]);
    assert.equal(result.code, 0, result.stderr);
    assert.equal(ranges.at(-1), `/cut.gguf bytes=${kept}-`);
    assert.ok(fs.readFileSync(target).equals(MODEL));
    assert.deepEqual(fs.readdirSync(modelDir(home)), ["translategemma-4b-it-Q4_K_M.gguf"]);
  } finally {
    server.close();
    fs.rmSync(home, { recursive: true, force: true });
  }
});

test("model pull copes with servers without ranges and refuses bad downloads", async () => {
  const { server, base } = await startServer();
  const home = fs.mkdtempSync(path.join(os.tmpdir(), "quorvel-pull-"));
  const target = path.join(modelDir(home), "translategemma-4b-it-Q4_K_M.gguf");
  try {
    // Left over from an earlier attempt: a server that ignores ranges sends it all again.
    fs.mkdirSync(modelDir(home), { recursive: true });
    fs.writeFileSync(`${target}.part`, MODEL.subarray(0, 100));
    fs.writeFileSync(`${target}.part.url`, `${base}/norange.gguf\n`);
    let result = await pull(home, [`${base}/norange.gguf`]);
    assert.equal(result.code, 0, result.stderr);
    assert.ok(fs.readFileSync(target).equals(MODEL));
    fs.rmSync(target);

    // A part of another address is not continued: the new file starts from its beginning.
    fs.writeFileSync(`${target}.part`, Buffer.alloc(100, 1));
    fs.writeFileSync(`${target}.part.url`, "http://127.0.0.1:1/other.gguf\n");
    result = await pull(home, [`${base}/model.gguf`, "--sha256", SHA]);
    assert.equal(result.code, 0, result.stderr);
    assert.ok(fs.readFileSync(target).equals(MODEL));
    fs.rmSync(target);

    const cases = [
      [[`${base}/model.gguf`, "--sha256", "0".repeat(64)], /^checksum mismatch: expected 0{64}, got [0-9a-f]{64}; the download was removed$/m],
      [[`${base}/junk.gguf`], /junk\.gguf is not a GGUF model; the download was removed/],
      [[`${base}/missing.gguf`], /^downloading .*missing\.gguf failed: .*404/m],
      [["file:///etc/passwd"], /^downloading file:\/\/\/etc\/passwd failed: /m],
    ];
    for (const [args, message] of cases) {
      result = await pull(home, args);
      assert.equal(result.code, 1, args[0]);
      assert.match(result.stderr, message);
      assert.deepEqual(fs.readdirSync(modelDir(home)), [], args[0]);
    }
  } finally {
    server.close();
    fs.rmSync(home, { recursive: true, force: true });
  }
});
