// translate_file on a slide deck, a workbook and the three OpenDocument kinds, end to end:
// the official MCP client, the built server, the real llama.cpp libraries and the project's
// constant-answer model. Packages are built and read with Python's zipfile, a zip
// implementation that is not ours.
import test from "node:test";
import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { connect, resultText, ROOT } from "./helpers.mjs";

const MODEL = path.join(ROOT, ".cache", "models", "constant.gguf");
const ANSWER = "Bonjour le monde.";

const MAKE = `
import sys, zipfile
kind, out = sys.argv[1], sys.argv[2]
A = 'xmlns:a="http://schemas.openxmlformats.org/drawingml/2006/main"'
P = 'xmlns:p="http://schemas.openxmlformats.org/presentationml/2006/main"'
R = 'xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"'
REL = 'http://schemas.openxmlformats.org/officeDocument/2006/relationships/'
ODF = ('xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" '
       'xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" '
       'xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" '
       'xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0"')
def rels(*links):
    body = ''.join(f'<Relationship Id="{i}" Type="{REL}{t}" Target="{target}"/>' for i, t, target in links)
    return f'<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">{body}</Relationships>'
entries = []
if kind == 'pptx':
    entries = [
        ('[Content_Types].xml', '<Types/>'),
        ('ppt/presentation.xml', f'<p:presentation {P} {R}><p:sldIdLst><p:sldId id="256" r:id="rId2"/></p:sldIdLst></p:presentation>'),
        ('ppt/_rels/presentation.xml.rels', rels(('rId2', 'slide', 'slides/slide1.xml'))),
        ('ppt/slides/slide1.xml', f'<p:sld {A} {P}><p:cSld><p:spTree><p:sp><p:txBody>'
         '<a:p><a:r><a:rPr lang="en-US"/><a:t>Good morning, dear friends.</a:t></a:r></a:p>'
         '<a:p><a:r><a:rPr lang="en-US"/><a:t>2024-01-01</a:t></a:r></a:p>'
         '</p:txBody></p:sp></p:spTree></p:cSld></p:sld>'),
        ('ppt/media/image1.png', bytes(range(256)) * 40),
    ]
elif kind == 'xlsx':
    entries = [
        ('[Content_Types].xml', '<Types/>'),
        ('xl/workbook.xml', '<workbook><sheets><sheet name="Budget" sheetId="1"/></sheets></workbook>'),
        ('xl/sharedStrings.xml', '<sst count="2" uniqueCount="1"><si><t>Good morning, dear friends.</t></si></sst>'),
        ('xl/worksheets/sheet1.xml', '<worksheet><sheetData><row r="1"><c r="A1" t="s"><v>0</v></c>'
         '<c r="B1" t="s"><v>0</v></c><c r="C1"><v>42</v></c><c r="D1"><f>C1*2</f><v>84</v></c>'
         '</row></sheetData></worksheet>'),
    ]
else:
    body = {'odt': '<office:text><text:p>Good morning, dear friends.</text:p></office:text>',
            'ods': '<office:spreadsheet><table:table table:name="Budget"><table:table-row>'
                   '<table:table-cell office:value-type="string"><text:p>Good morning, dear friends.</text:p></table:table-cell>'
                   '<table:table-cell office:value-type="float" office:value="42"><text:p>42</text:p></table:table-cell>'
                   '</table:table-row></table:table></office:spreadsheet>',
            'odp': '<office:presentation><draw:page draw:name="Opening"><draw:frame><draw:text-box>'
                   '<text:p>Good morning, dear friends.</text:p></draw:text-box></draw:frame></draw:page></office:presentation>'}[kind]
    entries = [
        ('mimetype', 'application/vnd.oasis.opendocument.' + {'odt': 'text', 'ods': 'spreadsheet', 'odp': 'presentation'}[kind]),
        ('content.xml', f'<?xml version="1.0" encoding="UTF-8"?><office:document-content {ODF}><office:body>{body}</office:body></office:document-content>'),
        ('styles.xml', f'<office:document-styles {ODF}/>'),
        ('META-INF/manifest.xml', '<manifest/>'),
    ]
with zipfile.ZipFile(out, 'w', zipfile.ZIP_DEFLATED) as z:
    for name, data in entries:
        z.writestr(name, data, zipfile.ZIP_STORED if name == 'mimetype' else zipfile.ZIP_DEFLATED)
`;

const READ = `
import sys, zipfile, json
with zipfile.ZipFile(sys.argv[1]) as z:
    print(json.dumps([[i.filename, i.compress_type, z.read(i.filename).decode('latin-1')] for i in z.infolist()]))
`;

function python(script, ...args) {
  return execFileSync("/usr/bin/python3", ["-c", script, ...args], { encoding: "utf8" });
}

const CASES = [
  { kind: "pptx", part: "ppt/slides/slide1.xml", paragraphs: 2, kept: ["2024-01-01"] },
  { kind: "xlsx", part: "xl/sharedStrings.xml", paragraphs: 1, kept: [] },
  { kind: "odt", part: "content.xml", paragraphs: 1, kept: [] },
  { kind: "ods", part: "content.xml", paragraphs: 1, kept: ["<text:p>42</text:p>", 'table:name="Budget"'] },
  { kind: "odp", part: "content.xml", paragraphs: 1, kept: ['draw:name="Opening"'] },
];

test("translate_file translates slide decks, workbooks and OpenDocument files", async () => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), "quorvel-e2e-"));
  const { client } = await connect({ TRANSLATE_LLM_MODEL: MODEL, AMBREL_THREADS: "1" });
  try {
    for (const c of CASES) {
      const input = path.join(dir, `sample.${c.kind}`);
      python(MAKE, c.kind, input);
      const result = await client.callTool({ name: "translate_file", arguments: { path: input, to: "fr" } });
      assert.equal(result.isError, false, `${c.kind}: ${resultText(result)}`);
      const output = path.join(dir, `sample.fr.${c.kind}`);
      assert.equal(resultText(result), `Translated ${c.paragraphs} paragraphs to French. Wrote:\n${output}`);

      const source = JSON.parse(python(READ, input));
      const copy = JSON.parse(python(READ, output));
      assert.deepEqual(copy.map((e) => e[0]), source.map((e) => e[0]), c.kind);
      for (let i = 0; i < source.length; ++i) {
        const [name, , data] = source[i];
        if (name === c.part) {
          assert.match(copy[i][2], new RegExp(ANSWER.replace(".", "\\.")), c.kind);
          assert.doesNotMatch(copy[i][2], /Good morning/, c.kind);
          for (const kept of c.kept) assert.ok(copy[i][2].includes(kept), `${c.kind}: ${kept}`);
        } else {
          assert.equal(copy[i][2], data, `${c.kind}: ${name} changed`);
        }
      }
      if (c.kind.startsWith("od")) {
        assert.equal(copy[0][0], "mimetype");
        assert.equal(copy[0][1], 0, "mimetype is stored");
      }
    }
  } finally {
    await client.close();
    fs.rmSync(dir, { recursive: true, force: true });
  }
});

test("a file with an unknown extension keeps today's message", async () => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), "quorvel-e2e-"));
  const file = path.join(dir, "slides.ppt");
  fs.writeFileSync(file, "old binary format");
  const { client } = await connect({ TRANSLATE_LLM_MODEL: MODEL, AMBREL_THREADS: "1" });
  try {
    const result = await client.callTool({ name: "translate_file", arguments: { path: file, to: "fr" } });
    assert.equal(result.isError, true);
    assert.equal(resultText(result), "unsupported file type: .ppt");
  } finally {
    await client.close();
    fs.rmSync(dir, { recursive: true, force: true });
  }
});
