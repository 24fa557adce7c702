"""Prints a value file as xlrd reads it: sheet names and, for sheet 0,
every row as a list of {type, value} cells (trailing empty cells dropped)."""
import json
import sys

import xlrd

KINDS = {xlrd.XL_CELL_EMPTY: "empty", xlrd.XL_CELL_TEXT: "text", xlrd.XL_CELL_NUMBER: "number",
         xlrd.XL_CELL_BOOLEAN: "boolean", xlrd.XL_CELL_BLANK: "empty", xlrd.XL_CELL_ERROR: "error"}

book = xlrd.open_workbook(sys.argv[1])
sheet = book.sheet_by_index(0)
rows = []
for r in range(sheet.nrows):
    cells = [{"type": KINDS.get(c.ctype, "other"), "value": c.value} for c in sheet.row(r)]
    while cells and cells[-1]["type"] == "empty":
        cells.pop()
    rows.append(cells)
json.dump({"sheets": book.sheet_names(), "rows": rows}, sys.stdout, ensure_ascii=False)
