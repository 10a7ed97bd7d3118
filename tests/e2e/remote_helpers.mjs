// Starting llama.cpp's llama-server (built from the fetched source by
// scripts/build-llama-server.sh) on 127.0.0.1 for the remote-engine tests.
import { execFileSync, spawn } from "node:child_process";
import net from "node:net";
import path from "node:path";
import { ROOT } from "./helpers.mjs";

export const CONSTANT_MODEL = path.join(ROOT, ".cache", "models", "constant.gguf");

/// The llama-server binary; builds it first when it is not there yet (minutes).
export function llamaServerBinary() {
  return execFileSync("bash", [path.join(ROOT, "scripts", "build-llama-server.sh")], {
    encoding: "utf8",
    stdio: ["ignore", "pipe", "inherit"],
  }).trim();
}

/// A port nobody listens on right now.
export function freePort() {
  return new Promise((resolve, reject) => {
    const probe = net.createServer();
    probe.on("error", reject);
    probe.listen(0, "127.0.0.1", () => {
      const { port } = probe.address();
      probe.close(() => resolve(port));
    });
  });
}

/// Starts llama-server with the constant-answer model and waits until it answers /health.
/// `log()` is its standard error so far; `tasks()` counts the prompts it started.
export async function startLlamaServer({ slots = 2, alias = "translategemma-constant-test" } = {}) {
  const binary = llamaServerBinary();
  const port = await freePort();
  const child = spawn(binary, ["-m", CONSTANT_MODEL, "--host", "127.0.0.1", "--port", String(port),
    "-np", String(slots), "-c", String(2048 * slots), "-t", "1", "--alias", alias], {
    env: { PATH: process.env.PATH, LD_LIBRARY_PATH: path.dirname(binary) },
    stdio: ["ignore", "ignore", "pipe"],
  });
  let log = "";
  child.stderr.on("data", (chunk) => (log += chunk));
  const url = `http://127.0.0.1:${port}`;
  for (let waited = 0; ; waited += 100) {
    if (child.exitCode !== null) throw new Error(`llama-server ended: ${log}`);
    if (waited > 60000) throw new Error(`llama-server did not start: ${log}`);
    try {
      const reply = await fetch(`${url}/health`);
      if (reply.ok) break;
    } catch {}
    await new Promise((r) => setTimeout(r, 100));
  }
  return {
    url,
    child,
    log: () => log,
    tasks: () => (log.match(/processing task/g) ?? []).length,
    stop: () => new Promise((resolve) => {
      if (child.exitCode !== null || child.signalCode !== null) return resolve();
      child.on("exit", resolve);
      child.kill("SIGKILL");
    }),
  };
}
