#!/usr/bin/python3
"""Presentations, workbooks and OpenDocument files made by real programs.

Usage: packages.py samples OUTPUT_DIR
       packages.py check OUTPUT_DIR FILE...
       packages.py cells XLSX

`samples` writes a flat OpenDocument presentation, spreadsheet and text and has
LibreOffice save them as deck.pptx, deck.odp, calc.xlsx, calc.ods and text.odt;
openpyxl writes book.xlsx (numbers, dates, formulas across sheets, a defined
name, a comment and one string in several cells).
`check` has LibreOffice convert every FILE to PDF, then save each again as flat
OpenDocument (FILE's name with .flat.fodp, .flat.fods or .flat.fodt) so that
the text LibreOffice read can be compared; fails when any conversion fails.
`cells` prints the sheets, defined names and every cell of a workbook as JSON,
read with openpyxl: formulas as written, numbers and dates as values.
"""

import datetime
import json
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from office import FODT, png, soffice_convert  # noqa: E402

NAMESPACES = """xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
 xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0"
 xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"
 xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0"
 xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0"
 xmlns:fo="urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0"
 xmlns:xlink="http://www.w3.org/1999/xlink"
 xmlns:dc="http://purl.org/dc/elements/1.1/"
 xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0"
 xmlns:presentation="urn:oasis:names:tc:opendocument:xmlns:presentation:1.0"
 xmlns:of="urn:oasis:names:tc:opendocument:xmlns:of:1.2\""""

TEXT_STYLES = """
  <style:style style:name="T1" style:family="text"><style:text-properties fo:font-weight="bold"/></style:style>
  <style:style style:name="T2" style:family="text"><style:text-properties fo:font-style="italic"/></style:style>"""


def frame(y, body):
    return ('<draw:frame svg:x="2cm" svg:y="%dcm" svg:width="20cm" svg:height="2cm">'
            '<draw:text-box>%s</draw:text-box></draw:frame>' % (y, body))


FODP = """<?xml version="1.0" encoding="UTF-8"?>
<office:document {ns} office:version="1.2"
 office:mimetype="application/vnd.oasis.opendocument.presentation">
 <office:automatic-styles>{styles}
  <style:page-layout style:name="PM1"><style:page-layout-properties fo:page-width="28cm" fo:page-height="15.75cm"/></style:page-layout>
 </office:automatic-styles>
 <office:master-styles>
  <style:master-page style:name="Default" style:page-layout-name="PM1">{master}</style:master-page>
 </office:master-styles>
 <office:body><office:presentation>
  <draw:page draw:name="Opening" draw:master-page-name="Default">
   {title}{body}
   <presentation:notes>{notes}</presentation:notes>
  </draw:page>
  <draw:page draw:name="Details" draw:master-page-name="Default">
   <draw:g>{group1}{group2}</draw:g>
   <draw:frame svg:x="2cm" svg:y="8cm" svg:width="20cm" svg:height="3cm"><table:table>
    <table:table-column table:number-columns-repeated="2"/>
    <table:table-row><table:table-cell><text:p>Table header cell</text:p></table:table-cell>
     <table:table-cell><text:p>Second header cell</text:p></table:table-cell></table:table-row>
   </table:table></draw:frame>
   {numbered}
   <presentation:notes>{notes2}</presentation:notes>
  </draw:page>
 </office:presentation></office:body>
</office:document>
""".format(
    ns=NAMESPACES, styles=TEXT_STYLES,
    master=frame(13, "<text:p>Template text of the master page</text:p>"),
    title=frame(1, "<text:p>Welcome to the quarterly review</text:p>"),
    body=frame(4, '<text:p>Sales grew in <text:span text:style-name="T1">every region</text:span>'
               ' this year.</text:p><text:p>First line<text:line-break/>second line</text:p>'),
    notes=frame(2, "<text:p>Speaker notes for the opening slide.</text:p>"),
    group1=frame(1, "<text:p>Text in a grouped shape</text:p>"),
    group2=frame(4, "<text:p>Another grouped text</text:p>"),
    numbered=frame(12, "<text:p>Slide <text:page-number>2</text:page-number> of the deck</text:p>"),
    notes2=frame(2, "<text:p>Speaker notes for the details slide.</text:p>"))

FODS = """<?xml version="1.0" encoding="UTF-8"?>
<office:document {ns} office:version="1.2"
 office:mimetype="application/vnd.oasis.opendocument.spreadsheet">
 <office:automatic-styles>{styles}</office:automatic-styles>
 <office:body><office:spreadsheet>
  <table:table table:name="Budget">
   <table:table-row>
    <table:table-cell office:value-type="string"><text:p>Quarterly budget</text:p></table:table-cell>
    <table:table-cell office:value-type="float" office:value="1250.5"><text:p>1250.5</text:p></table:table-cell>
    <table:table-cell table:formula="of:=[.B1]*2" office:value-type="float" office:value="2501"><text:p>2501</text:p></table:table-cell>
   </table:table-row>
   <table:table-row>
    <table:table-cell office:value-type="string"><text:p>Repeated label</text:p></table:table-cell>
    <table:table-cell office:value-type="string"><text:p>Repeated label</text:p></table:table-cell>
    <table:table-cell office:value-type="string"><office:annotation><dc:creator>Tester</dc:creator><text:p>A note on the cell</text:p></office:annotation><text:p>Mixed <text:span text:style-name="T1">bold</text:span> cell</text:p></table:table-cell>
   </table:table-row>
  </table:table>
  <table:table table:name="Totals">
   <table:table-row>
    <table:table-cell table:formula="of:=SUM([Budget.B1:.C1])" office:value-type="float" office:value="3751.5"><text:p>3751.5</text:p></table:table-cell>
    <table:table-cell office:value-type="date" office:date-value="2024-03-01"><text:p>2024-03-01</text:p></table:table-cell>
    <table:table-cell office:value-type="string"><text:p>Total of the budget</text:p></table:table-cell>
   </table:table-row>
  </table:table>
 </office:spreadsheet></office:body>
</office:document>
""".format(ns=NAMESPACES, styles=TEXT_STYLES)


def make_book(path):
    import openpyxl
    from openpyxl.comments import Comment
    from openpyxl.workbook.defined_name import DefinedName
    book = openpyxl.Workbook()
    budget = book.active
    budget.title = "Budget"
    budget["A1"] = "Quarterly budget"
    budget["B1"] = 1250.5
    budget["C1"] = "=B1*2"
    budget["A2"] = "Repeated label"
    budget["B2"] = "Repeated label"
    budget["C2"] = "Repeated label"
    budget["A3"] = datetime.datetime(2024, 3, 1)
    budget["B3"] = 42
    budget["C3"] = "  Spaces around  "
    budget["A4"] = "Line one\nline two"
    budget["A1"].comment = Comment("Check the figures before sending", "Tester")
    totals = book.create_sheet("Totals")
    totals["A1"] = "=SUM(Budget!B1:C1)"
    totals["B1"] = "Total of the budget"
    totals["C1"] = "=Budget!A2"
    book.defined_names.append(DefinedName("BudgetTotal", attr_text="Totals!$A$1"))
    book.save(path)


def make_samples(out):
    os.makedirs(out, exist_ok=True)
    with open(os.path.join(out, "deck.fodp"), "w") as f:
        f.write(FODP)
    with open(os.path.join(out, "calc.fods"), "w") as f:
        f.write(FODS)
    import base64
    with open(os.path.join(out, "text.fodt"), "w") as f:
        f.write(FODT.format(image=base64.b64encode(png(48, 32)).decode()))
    soffice_convert("pptx:Impress MS PowerPoint 2007 XML", out, ["deck.fodp"], out)
    soffice_convert("odp", out, ["deck.fodp"], out)
    soffice_convert("xlsx:Calc MS Excel 2007 XML", out, ["calc.fods"], out)
    soffice_convert("ods", out, ["calc.fods"], out)
    soffice_convert("odt", out, ["text.fodt"], out)
    make_book(os.path.join(out, "book.xlsx"))
    for name in ("deck.pptx", "deck.odp", "calc.xlsx", "calc.ods", "text.odt", "book.xlsx"):
        if not os.path.exists(os.path.join(out, name)):
            sys.exit("missing " + name)


FLAT = {".pptx": "fodp", ".odp": "fodp", ".xlsx": "fods", ".ods": "fods", ".odt": "fodt"}


def check(out, files):
    os.makedirs(out, exist_ok=True)
    files = [os.path.abspath(f) for f in files]
    soffice_convert("pdf", out, files, out)
    by_target = {}
    for f in files:
        by_target.setdefault(FLAT[os.path.splitext(f)[1]], []).append(f)
    for target, group in by_target.items():
        # The flat copy is named after its source with the extension kept, so that deck.pptx
        # and deck.odp do not overwrite each other.
        links = []
        for f in group:
            link = os.path.join(out, os.path.basename(f).replace(".", "_") + os.path.splitext(f)[1])
            if os.path.lexists(link):
                os.remove(link)
            os.symlink(f, link)
            links.append(link)
        soffice_convert(target, out, links, out)
    for f in files:
        base = os.path.splitext(os.path.basename(f))[0]
        flat = os.path.basename(f).replace(".", "_") + "." + FLAT[os.path.splitext(f)[1]]
        for name in (base + ".pdf", flat):
            path = os.path.join(out, name)
            if not os.path.exists(path) or os.path.getsize(path) == 0:
                sys.exit("LibreOffice could not convert %s to %s" % (f, name))


def cells(path):
    import openpyxl
    book = openpyxl.load_workbook(path)
    result = {"sheets": book.sheetnames,
              "names": sorted((n.name, n.attr_text) for n in book.defined_names.definedName),
              "cells": []}
    for sheet in book.worksheets:
        for row in sheet.iter_rows():
            for cell in row:
                if cell.value is None:
                    continue
                value = cell.value
                if isinstance(value, (datetime.datetime, datetime.date)):
                    value = "date:" + value.isoformat()
                result["cells"].append([sheet.title, cell.coordinate, cell.data_type, value])
    print(json.dumps(result, ensure_ascii=False))


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "samples":
        make_samples(os.path.abspath(sys.argv[2]))
    elif len(sys.argv) >= 4 and sys.argv[1] == "check":
        check(os.path.abspath(sys.argv[2]), sys.argv[3:])
    elif len(sys.argv) == 3 and sys.argv[1] == "cells":
        cells(sys.argv[2])
    else:
        sys.exit(__doc__)
