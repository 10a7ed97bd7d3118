// The official MCP client against the real server binary: handshake, catalogue, errors.
import test from "node:test";
import assert from "node:assert/strict";
import { McpError } from "@modelcontextprotocol/sdk/types.js";
import { connect, resultText } from "./helpers.mjs";

const TAGS =
  "ar, bn, my, yue, zh, cs, nl, en, tl, fr, de, gu, he, hi, id, it, ja, kk, km, ko, ms, mr, mn, fa, pl, pt, ru, es, ta, te, th, bo, zh-TW, tr, uk, ur, ug, vi";

test("the SDK client connects, lists both tools and pings", async () => {
  const { client, stderr } = await connect();
  try {
    assert.deepEqual(client.getServerVersion(), { name: "quorvel-translate", version: "0.1.0" });
    assert.match(client.getInstructions(), /^Quorvel Translate translates documents/);

    const { tools } = await client.listTools();
    assert.deepEqual(tools.map((t) => t.name), ["translate_file", "translate_text"]);
    const toDescription = `Target language tag, one of: ${TAGS}. Use the tag, not the name.`;
    assert.deepEqual(tools[0].inputSchema, {
      type: "object",
      properties: {
        path: { type: "string", description: "Absolute path of the document." },
        to: { type: "string", description: toDescription },
        output_path: {
          type: "string",
          description: "Where to write the translated file. Default: next to the input as name.<lang>.<ext>.",
        },
      },
      required: ["path", "to"],
    });
    assert.deepEqual(tools[1].inputSchema.required, ["text", "to"]);
    assert.equal(tools[1].inputSchema.properties.to.description, toDescription);

    assert.deepEqual(await client.ping(), {});
    assert.equal(stderr(), "", "nothing on stderr before any translation");
  } finally {
    await client.close();
  }
});

test("bad tool arguments come back as error results, unknown tools as -32602", async () => {
  const { client } = await connect();
  try {
    const cases = [
      [{ name: "translate_text", arguments: { text: "Hello there", to: "EN" } },
        `unknown language tag: EN. Use one of: ${TAGS}`],
      [{ name: "translate_text", arguments: { to: "fr" } }, "missing required argument: text"],
      [{ name: "translate_text", arguments: { text: "   ", to: "xx" } }, "text is empty"],
      [{ name: "translate_text", arguments: { text: "é".repeat(12001), to: "fr" } },
        "text too long for translate_text; write it to a file and use translate_file"],
      [{ name: "translate_file", arguments: { path: "/nonexistent/report.docx", to: "xx" } },
        "file not found: /nonexistent/report.docx"],
      [{ name: "translate_file", arguments: { path: "/etc/hostname", to: "fr" } }, "unsupported file type: ."],
    ];
    for (const [params, message] of cases) {
      const result = await client.callTool(params);
      assert.equal(result.isError, true, JSON.stringify(params).slice(0, 80));
      assert.equal(resultText(result), message);
    }

    await assert.rejects(client.callTool({ name: "translate_everything", arguments: {} }), (error) => {
      assert.ok(error instanceof McpError);
      assert.equal(error.code, -32602);
      assert.match(error.message, /unknown tool: translate_everything/);
      return true;
    });
  } finally {
    await client.close();
  }
});
