#!/usr/bin/env python3
"""Prints an exported list as JSON: its cells and, for a workbook, whether
its archive and XML parts are intact, the header's style, the frozen pane, the column widths and the number format
of the numeric cells."""
import csv
import io
import json
import re
import sys

path = sys.argv[1]
if path.endswith(".csv"):
    with open(path, "rb") as f:
        raw = f.read()
    bom = raw.startswith(b"\xef\xbb\xbf")
    text = raw[3:].decode("utf-8") if bom else raw.decode("utf-8")
    rows = list(csv.reader(io.StringIO(text, newline="")))
    print(json.dumps({"bom": bom, "crlf": "\r\n" in text, "rows": rows}, ensure_ascii=False))
else:
    import zipfile
    from xml.etree import ElementTree

    import openpyxl

    # Every part is intact and well-formed XML.
    with zipfile.ZipFile(path) as archive:
        valid = archive.testzip() is None
        for name in archive.namelist():
            with archive.open(name) as part:
                ElementTree.parse(part)
    book = openpyxl.load_workbook(path)
    sheet = book.worksheets[0]
    # Control characters are stored as OOXML escapes (_x000D_), which
    # spreadsheet programs decode and this openpyxl leaves as they are.
    def value(v):
        if isinstance(v, str):
            return re.sub(r"_x([0-9A-Fa-f]{4})_", lambda m: chr(int(m.group(1), 16)), v)
        return v

    rows = [[value(c.value) for c in row] for row in sheet.iter_rows()]
    widths = [sheet.column_dimensions[openpyxl.utils.get_column_letter(i + 1)].width
              for i in range(sheet.max_column)]
    formats = sorted({c.number_format for row in sheet.iter_rows(min_row=2) for c in row
                      if isinstance(c.value, float) or isinstance(c.value, int)})
    print(json.dumps({
        "rows": rows,
        "valid": valid,
        "bold": all(c.font.b for c in sheet[1]),
        "frozen": sheet.freeze_panes,
        "widths": widths,
        "formats": formats,
    }, ensure_ascii=False))
