// Shared helpers of the end-to-end tests: where the built server is, and how to start it.
import { spawn } from "node:child_process";
import { fileURLToPath } from "node:url";
import path from "node:path";
import { Client } from "@modelcontextprotocol/sdk/client/index.js";
import { StdioClientTransport } from "@modelcontextprotocol/sdk/client/stdio.js";

export const ROOT = path.resolve(path.dirname(fileURLToPath(import.meta.url)), "../..");
export const SERVER = process.env.QUORVEL_SERVER ?? path.join(ROOT, "build", "quorvel-translate");

/// Connects the official MCP client to a fresh server process. `env` is added to the
/// variables the server sees (the translation memory is off unless `env` says otherwise, so
/// that tests neither read nor fill the user's); stderr is collected in `stderr()`.
export async function connect(env = {}) {
  const transport = new StdioClientTransport({
    command: SERVER,
    args: [],
    env: { PATH: process.env.PATH ?? "/usr/bin:/bin", HOME: process.env.HOME ?? "/tmp", TRANSLATE_MEMORY: "off", ...env },
    stderr: "pipe",
  });
  let stderr = "";
  transport.stderr?.on("data", (chunk) => (stderr += chunk));
  const client = new Client({ name: "e2e-test", version: "1.0.0" });
  await client.connect(transport);
  return { client, stderr: () => stderr };
}

/// Runs the server on raw input bytes and returns its stdout, stderr and exit status.
export function runRaw(input, env = {}) {
  return new Promise((resolve, reject) => {
    const child = spawn(SERVER, [], { env: { PATH: process.env.PATH, ...env } });
    const out = [];
    const err = [];
    child.stdout.on("data", (c) => out.push(c));
    child.stderr.on("data", (c) => err.push(c));
    child.on("error", reject);
    child.on("close", (code) =>
      resolve({ stdout: Buffer.concat(out).toString("utf8"), stderr: Buffer.concat(err).toString("utf8"), code }),
    );
    child.stdin.end(input);
  });
}

/// The text of a tool result's single content item.
export function resultText(result) {
  return result.content.map((item) => item.text).join("");
}

/// Runs a program to its end with `args`, standard input `input` and only PATH and `env` in
/// its environment; gives its exit code and output. `during(child)` may act on it meanwhile.
export function runProgram(program, args, { env = {}, input = "", during = null } = {}) {
  return new Promise((resolve, reject) => {
    const child = spawn(program, args, { env: { PATH: process.env.PATH, ...env } });
    let stdout = "";
    let stderr = "";
    child.stdout.on("data", (chunk) => (stdout += chunk));
    child.stderr.on("data", (chunk) => (stderr += chunk));
    child.on("error", reject);
    child.on("close", (code) => resolve({ code, stdout, stderr }));
    child.stdin.end(input);
    if (during) during(child);
  });
}
