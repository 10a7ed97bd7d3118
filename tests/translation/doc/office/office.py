#!/usr/bin/python3
"""Real word processors for the document tests.

Usage: office.py samples OUTPUT_DIR
       office.py text OUTPUT_DIR DOCX...

`samples` makes DOCX files with real programs: pandoc writes two packages (a Markdown sample with a table, lists, footnotes, a
comment and an image, and a licence text shipped with Debian read as Markdown);
LibreOffice writes two more in one conversion call (a flat ODF sample with a
header, footer, footnote, comment, table, list and image, and another licence
text read as plain text).
A fifth, written with python-docx, has runs of differing formatting, a hyperlink, a
two-line code paragraph, and a header and footer holding fields between words.
`text` has LibreOffice read DOCX files and save each as UTF-8 text, in one call.
"""

import base64
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib


def png(width, height):
    """A small RGB gradient as PNG bytes."""
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    rows = b"".join(
        b"\x00" + b"".join(bytes((x * 255 // width, y * 255 // height, 128)) for x in range(width))
        for y in range(height))
    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows))
            + chunk(b"IEND", b""))


MARKDOWN = """---
title: Sample for the translator
---

# Introduction

This paragraph has **bold**, *italic* and `code` runs.[^1]

[^1]: A footnote written by pandoc.

- First bullet point
- Second bullet point

1. Numbered step one
2. Numbered step two

| Name  | Value |
|-------|-------|
| Alpha | First value |
| Beta  | Second value |

![An image caption](image.png)

A line with a break\\
and its second line.

[The comment from pandoc.]{.comment-start id="0" author="Tester" date="2024-01-01T00:00:00Z"}A commented sentence in the body.[]{.comment-end id="0"}

Closing paragraph of the sample.
"""

FODT = """<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
 xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0"
 xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"
 xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0"
 xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0"
 xmlns:fo="urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0"
 xmlns:xlink="http://www.w3.org/1999/xlink"
 xmlns:dc="http://purl.org/dc/elements/1.1/"
 xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0"
 office:version="1.2" office:mimetype="application/vnd.oasis.opendocument.text">
 <office:automatic-styles>
  <style:style style:name="T1" style:family="text"><style:text-properties fo:font-weight="bold"/></style:style>
  <style:style style:name="T2" style:family="text"><style:text-properties fo:font-style="italic"/></style:style>
  <style:page-layout style:name="pm1">
   <style:page-layout-properties fo:page-width="21cm" fo:page-height="29.7cm"/>
   <style:header-style/><style:footer-style/>
  </style:page-layout>
 </office:automatic-styles>
 <office:master-styles>
  <style:master-page style:name="Standard" style:page-layout-name="pm1">
   <style:header><text:p>Header text of the office sample</text:p></style:header>
   <style:footer><text:p>Footer text of the office sample</text:p></style:footer>
  </style:master-page>
 </office:master-styles>
 <office:body><office:text>
  <text:h text:outline-level="1">A heading from the office sample</text:h>
  <text:p>Plain <text:span text:style-name="T1">bold</text:span> and <text:span text:style-name="T2">italic</text:span> words in one paragraph.<text:note text:id="n1" text:note-class="footnote"><text:note-citation>1</text:note-citation><text:note-body><text:p>The footnote of the office sample.</text:p></text:note-body></text:note></text:p>
  <text:p>A commented paragraph.<office:annotation><dc:creator>Tester</dc:creator><dc:date>2024-01-01T00:00:00</dc:date><text:p>The comment of the office sample.</text:p></office:annotation></text:p>
  <text:list><text:list-item><text:p>First list item</text:p></text:list-item><text:list-item><text:p>Second list item</text:p></text:list-item></text:list>
  <table:table table:name="Values"><table:table-column table:number-columns-repeated="2"/>
   <table:table-row><table:table-cell office:value-type="string"><text:p>Cell number one</text:p></table:table-cell><table:table-cell office:value-type="string"><text:p>Cell number two</text:p></table:table-cell></table:table-row>
  </table:table>
  <text:p>Line one<text:line-break/>line two<text:tab/>after a tab</text:p>
  <text:p><draw:frame draw:name="Picture" text:anchor-type="as-char" svg:width="1cm" svg:height="1cm"><draw:image><office:binary-data>{image}</office:binary-data></draw:image></draw:frame>Text after the image.</text:p>
 </office:text></office:body>
</office:document>
"""


def run(command, cwd, env=None):
    result = subprocess.run(command, cwd=cwd, env=env, stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, timeout=600)
    if result.returncode != 0:
        sys.exit("%s failed:\n%s" % (command[0], result.stdout.decode(errors="replace")))


def soffice_convert(target, outdir, files, workdir):
    """One LibreOffice call converting `files`; works as root and without a display."""
    profile = tempfile.mkdtemp(prefix="lo-profile-", dir=workdir)
    env = dict(os.environ, HOME=profile)
    run(["soffice", "-env:UserInstallation=file://" + profile, "--headless", "--norestore",
         "--convert-to", target, "--outdir", outdir] + files, workdir, env)
    shutil.rmtree(profile, ignore_errors=True)


def field_run(paragraph, kind, text=None):
    """A run holding one field character, or the field's instruction when `text` is given."""
    from docx.oxml import OxmlElement
    from docx.oxml.ns import qn
    run = paragraph.add_run()
    if text is None:
        element = OxmlElement("w:fldChar")
        element.set(qn("w:fldCharType"), kind)
    else:
        element = OxmlElement("w:instrText")
        element.set(qn("xml:space"), "preserve")
        element.text = text
    run._r.append(element)
    return run


def hyperlink(paragraph, url, text):
    from docx.opc.constants import RELATIONSHIP_TYPE
    from docx.oxml import OxmlElement
    from docx.oxml.ns import qn
    rid = paragraph.part.relate_to(url, RELATIONSHIP_TYPE.HYPERLINK, is_external=True)
    link = OxmlElement("w:hyperlink")
    link.set(qn("r:id"), rid)
    run = OxmlElement("w:r")
    properties = OxmlElement("w:rPr")
    underline = OxmlElement("w:u")
    underline.set(qn("w:val"), "single")
    properties.append(underline)
    run.append(properties)
    element = OxmlElement("w:t")
    element.text = text
    run.append(element)
    link.append(run)
    paragraph._p.append(link)


def make_python_docx_sample(path):
    import docx
    document = docx.Document()
    p = document.add_paragraph("This guide explains how to ")
    p.add_run("build and install").bold = True
    p.add_run(" the tools on a ")
    p.add_run("Unix-like").italic = True
    p.add_run(" system. Read the ")
    hyperlink(p, "https://example.org/manual", "online manual")
    p.add_run(" first.")
    p = document.add_paragraph()
    p.add_run("Warning:").bold = True
    p.add_run(" ")
    p.add_run("Back up").italic = True
    p.add_run(" your configuration before upgrading.")
    code = document.add_paragraph().add_run("make install")
    code.font.name = "Courier New"
    code.add_break()
    code.add_text("make check")
    section = document.sections[0]
    header = section.header.paragraphs[0]
    header.text = "Draft of the quarterly report"
    footer = section.footer.paragraphs[0]
    footer.add_run("Page ")
    field_run(footer, "begin")
    field_run(footer, None, " PAGE ")
    field_run(footer, "separate")
    footer.add_run("1")
    field_run(footer, "end")
    footer.add_run(" \u2014 Confidential")
    document.save(path)


def make_samples(out):
    os.makedirs(out, exist_ok=True)
    image = png(48, 32)
    with open(os.path.join(out, "image.png"), "wb") as f:
        f.write(image)
    with open(os.path.join(out, "sample.md"), "w") as f:
        f.write(MARKDOWN)
    with open(os.path.join(out, "office-sample.fodt"), "w") as f:
        f.write(FODT.format(image=base64.b64encode(image).decode()))
    shutil.copy("/usr/share/common-licenses/GPL-3", os.path.join(out, "office-licence.txt"))

    run(["pandoc", "-f", "markdown", "-t", "docx", "-o", "pandoc-sample.docx", "sample.md"], out)
    run(["pandoc", "-f", "markdown", "-t", "docx", "-o", "pandoc-licence.docx",
         "/usr/share/common-licenses/Apache-2.0"], out)
    soffice_convert("docx:MS Word 2007 XML", out, ["office-sample.fodt", "office-licence.txt"], out)

    make_python_docx_sample(os.path.join(out, "python-docx-sample.docx"))

    for name in ("pandoc-sample.docx", "pandoc-licence.docx", "office-sample.docx",
                 "office-licence.docx", "python-docx-sample.docx"):
        if not os.path.exists(os.path.join(out, name)):
            sys.exit("missing " + name)


def to_text(out, files):
    os.makedirs(out, exist_ok=True)
    files = [os.path.abspath(f) for f in files]
    soffice_convert("txt:Text (encoded):UTF8", out, files, out)
    for f in files:
        name = os.path.splitext(os.path.basename(f))[0] + ".txt"
        if not os.path.exists(os.path.join(out, name)):
            sys.exit("LibreOffice could not read " + f)


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "samples":
        make_samples(os.path.abspath(sys.argv[2]))
    elif len(sys.argv) >= 4 and sys.argv[1] == "text":
        to_text(os.path.abspath(sys.argv[2]), sys.argv[3:])
    else:
        sys.exit(__doc__)
