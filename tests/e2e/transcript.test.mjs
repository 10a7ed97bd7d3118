// Raw bytes in, exact bytes out: pins key order, escaping and the silent cases.
import test from "node:test";
import assert from "node:assert/strict";
import { runRaw } from "./helpers.mjs";

const TAGS =
  "ar, bn, my, yue, zh, cs, nl, en, tl, fr, de, gu, he, hi, id, it, ja, kk, km, ko, ms, mr, mn, fa, pl, pt, ru, es, ta, te, th, bo, zh-TW, tr, uk, ur, ug, vi";

test("a recorded transcript is answered byte for byte", async () => {
  const exchanges = [
    ['{"jsonrpc":"2.0","id":1,"method":"ping"}', '{"id":1,"jsonrpc":"2.0","result":{}}'],
    ['{"jsonrpc":"2.0","id":"a","method":"tools/call","params":{"name":"x"}}',
      '{"error":{"code":-32602,"message":"unknown tool: x"},"id":"a","jsonrpc":"2.0"}'],
    ['{"jsonrpc":"2.0","id":7,"method":"resources/list"}', '{"id":7,"jsonrpc":"2.0","result":{"resources":[]}}'],
    ['{"jsonrpc":"2.0","method":"ping"}', null],
    ["x", '{"error":{"code":-32700,"message":"parse error: expected value at line 1 column 1"},"id":null,"jsonrpc":"2.0"}'],
    ["   \t", null],
    ["[1,2]", null],
    ['{"id":{"k":[1,2.5,"é"]},"method":"ping"}\r', '{"id":{"k":[1,2.5,"é"]},"jsonrpc":"2.0","result":{}}'],
    ['{"jsonrpc":"2.0","id":3,"method":"tools/call","params":{"name":"translate_text","arguments":{"text":"Hi \\"you\\" <b>","to":"EN"}}}',
      `{"id":3,"jsonrpc":"2.0","result":{"content":[{"text":"unknown language tag: EN. Use one of: ${TAGS}","type":"text"}],"isError":true}}`],
    ['{"jsonrpc":"2.0","id":4,"method":"tools/call","params":{"name":"translate_text","arguments":{"text":"Hi","to":5}}}',
      '{"id":4,"jsonrpc":"2.0","result":{"content":[{"text":"missing required argument: to","type":"text"}],"isError":true}}'],
  ];
  const input = exchanges.map(([line]) => line + "\n").join("");
  const expected = exchanges.filter(([, reply]) => reply !== null).map(([, reply]) => reply + "\n").join("");
  const { stdout, stderr, code } = await runRaw(input);
  assert.equal(stdout, expected);
  assert.equal(stderr, "");
  assert.equal(code, 0);
});

test("closing stdin at once ends the process quietly with status 0", async () => {
  assert.deepEqual(await runRaw(""), { stdout: "", stderr: "", code: 0 });
});

test("a line that is not UTF-8 ends the loop with status 0", async () => {
  const input = Buffer.concat([
    Buffer.from('{"id":1,"method":"ping"}\n'),
    Buffer.from([0x7b, 0xff, 0x7d, 0x0a]),
    Buffer.from('{"id":2,"method":"ping"}\n'),
  ]);
  const { stdout, code } = await runRaw(input);
  assert.equal(stdout, '{"id":1,"jsonrpc":"2.0","result":{}}\n');
  assert.equal(code, 0);
});
