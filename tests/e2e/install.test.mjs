// The installed tree and the tarball run on their own: the engine libraries are copied beside
// the binaries, so a moved or unpacked copy still finds them and nothing of the build or its
// cache is used.
import test from "node:test";
import assert from "node:assert/strict";
import { execFileSync, spawnSync } from "node:child_process";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { ROOT } from "./helpers.mjs";

const BUILD = path.join(ROOT, "build");

// Translates with the CLI in `bin` and checks that it loaded the engine beside itself.
function translateWith(bin, modelDir) {
  const run = spawnSync(path.join(bin, "quorvel"), ["text", "--to", "fr", "Hello world, how are you?"], {
    env: { PATH: process.env.PATH, TRANSLATE_LLM_MODEL: path.join(modelDir, "constant.gguf"), TRANSLATE_MEMORY: "off", AMBREL_THREADS: "1" },
    encoding: "utf8",
  });
  assert.equal(run.stderr.split(" model ")[0], `[corvane] engine ${path.join(bin, "resources", "engine")}`);
  return run.stdout;
}

test("an installed tree moved elsewhere, and the unpacked tarball, translate with their own engine", () => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), "quorvel-install-"));
  try {
    const models = path.join(dir, "models");
    fs.mkdirSync(models);
    fs.copyFileSync(path.join(ROOT, ".cache", "models", "constant.gguf"), path.join(models, "constant.gguf"));

    execFileSync("cmake", ["--install", BUILD, "--prefix", path.join(dir, "installed"), "--strip"], { stdio: "ignore" });
    fs.renameSync(path.join(dir, "installed"), path.join(dir, "moved"));
    const moved = path.join(dir, "moved", "bin");
    assert.ok(!fs.lstatSync(path.join(moved, "resources", "engine")).isSymbolicLink());
    for (const name of fs.readdirSync(path.join(moved, "resources", "engine"))) {
      const file = path.join(moved, "resources", "engine", name);
      if (fs.lstatSync(file).isSymbolicLink()) assert.ok(!path.isAbsolute(fs.readlinkSync(file)), name);
    }
    assert.equal(translateWith(moved, models), "Bonjour le monde.\n");

    execFileSync("cpack", ["-B", path.join(dir, "package")], { cwd: BUILD, stdio: "ignore" });
    const tarball = fs.readdirSync(path.join(dir, "package")).find((name) => name.endsWith(".tar.gz"));
    fs.mkdirSync(path.join(dir, "unpacked"));
    execFileSync("tar", ["-xzf", path.join(dir, "package", tarball), "-C", path.join(dir, "unpacked")]);
    const top = fs.readdirSync(path.join(dir, "unpacked"))[0];
    assert.equal(translateWith(path.join(dir, "unpacked", top, "bin"), models), "Bonjour le monde.\n");
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
});
