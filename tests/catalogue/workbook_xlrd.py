#!/usr/bin/python3
"""Test helper for test_workbook: reads workbooks with xlrd, writes them with xlwt.

Run with Debian's /usr/bin/python3 (python3-xlrd 1.2, python3-xlwt 1.3).

  workbook_xlrd.py dump PATH
      Prints the workbook as lines, one item per line, fields separated by one
      space:
        W <hex of the UTF-8 text>         a warning that xlrd logged
        S <index> <hex of name> <nrows> <ncols>
        C <sheet> <row> <col> T <hex of the UTF-8 text>
        C <sheet> <row> <col> N <number, repr: round-trips exactly>
        C <sheet> <row> <col> B <0|1>
        C <sheet> <row> <col> E <error code>
      Empty and blank cells are left out. Exits 1 (printing the reason on
      stderr) when xlrd cannot open the file.

  workbook_xlrd.py stream PATH
      Reads the stream "Workbook" of the compound file PATH with xlrd's own
      compound-file reader and prints "<length> <crc32>".

  workbook_xlrd.py xlwt CASE PATH
      Writes the workbook CASE with xlwt to PATH (see CASES below).
"""
import io
import sys


def hexs(text):
    return text.encode("utf-8").hex() or "-"


def dump(path):
    import xlrd

    log = io.StringIO()
    try:
        book = xlrd.open_workbook(path, logfile=log, verbosity=0, ragged_rows=True)
    except Exception as e:  # noqa: BLE001 - any failure is a test failure
        print("xlrd cannot open %s: %s" % (path, e), file=sys.stderr)
        return 1
    out = []
    for line in log.getvalue().splitlines():
        if line.strip():
            out.append("W %s" % hexs(line))
    for si in range(book.nsheets):
        sh = book.sheet_by_index(si)
        ncols = max((sh.row_len(r) for r in range(sh.nrows)), default=0)
        out.append("S %d %s %d %d" % (si, hexs(sh.name), sh.nrows, ncols))
        for r in range(sh.nrows):
            for c, cell in enumerate(sh.row(r)):
                t = cell.ctype
                if t in (xlrd.XL_CELL_EMPTY, xlrd.XL_CELL_BLANK):
                    continue
                if t == xlrd.XL_CELL_TEXT:
                    out.append("C %d %d %d T %s" % (si, r, c, hexs(cell.value)))
                elif t in (xlrd.XL_CELL_NUMBER, xlrd.XL_CELL_DATE):
                    out.append("C %d %d %d N %r" % (si, r, c, float(cell.value)))
                elif t == xlrd.XL_CELL_BOOLEAN:
                    out.append("C %d %d %d B %d" % (si, r, c, 1 if cell.value else 0))
                elif t == xlrd.XL_CELL_ERROR:
                    out.append("C %d %d %d E %d" % (si, r, c, cell.value))
    sys.stdout.write("\n".join(out) + "\n")
    return 0


def stream(path):
    import zlib
    from xlrd import compdoc

    with open(path, "rb") as f:
        data = f.read()
    log = io.StringIO()
    doc = compdoc.CompDoc(data, logfile=log)
    ws = doc.get_named_stream("Workbook")
    if ws is None or log.getvalue().strip():
        print("no stream, or warnings: %r" % log.getvalue(), file=sys.stderr)
        return 1
    print("%d %d" % (len(ws), zlib.crc32(ws) & 0xFFFFFFFF))
    return 0


def case_mixed(xlwt, wb):
    """Every cell kind xlwt writes, on three sheets."""
    import datetime

    s = wb.add_sheet("Mixed")
    s.write(0, 0, "plain")
    s.write(0, 1, "Grüße, café")
    s.write(0, 2, "设备,DEVICE 参数")
    s.write(0, 3, "x" * 300)
    s.write(0, 4, "")
    s.write(1, 0, 1)            # RK integer
    s.write(1, 1, -7)
    s.write(1, 2, 1.5)          # RK float
    s.write(1, 3, 0.1)          # NUMBER
    s.write(1, 4, 123456789012)  # NUMBER (too large for RK)
    s.write(1, 5, -2.75e-5)
    s.write(2, 0, True)
    s.write(2, 1, False)
    s.write(2, 2, 1)            # a number 1 next to the booleans: stays a number
    s.write(2, 3, 0)
    s.write(3, 0, datetime.date(2020, 1, 2), xlwt.easyxf(num_format_str="YYYY-MM-DD"))
    s.write(3, 1, datetime.datetime(2021, 6, 7, 8, 9, 10), xlwt.easyxf(num_format_str="YYYY-MM-DD HH:MM:SS"))
    s.write(5, 7, "far")
    for c in range(10):         # a row of integers: MULRK
        s.write(6, c, c * 3)

    s2 = wb.add_sheet("参数表")
    s2.write(0, 0, "中文")
    s2.write(4, 2, True)
    s2.write(4, 3, 2.5)

    wb.add_sheet("Empty")


def case_history(xlwt, wb):
    """A history-shaped sheet of 10000 rows."""
    s = wb.add_sheet("Sheet1")
    s.write(0, 0, "VKR-7.5G")
    for j in range(1, 11):
        s.write(0, j, "Signal %d" % j)
        s.write(1, j, 1000 + j)
        s.write(2, j, j % 3 != 0)
    s.write(1, 0, "1sec")
    s.write(2, 0, "1700000000000")
    for k in range(1, 10001):
        r = k + 2
        s.write(r, 0, k)
        for j in range(1, 11):
            s.write(r, j, (k * j) % 997 / 8.0 - 40.0)


CASES = {"mixed": case_mixed, "history": case_history}


def write(case, path):
    import xlwt

    wb = xlwt.Workbook(encoding="utf-8")
    CASES[case](xlwt, wb)
    wb.save(path)
    return 0


def main(argv):
    if len(argv) == 3 and argv[1] == "dump":
        return dump(argv[2])
    if len(argv) == 3 and argv[1] == "stream":
        return stream(argv[2])
    if len(argv) == 4 and argv[1] == "xlwt" and argv[2] in CASES:
        return write(argv[2], argv[3])
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
