#!/usr/bin/python3
"""Reference figures for bench_workbook: the same history-shaped sheet written
with xlwt and read back with xlrd (Debian's /usr/bin/python3).

  bench_xlwt.py ROWS PATH REPEATS
Prints "xlwt <ms>" and "xlrd <ms>": the best of REPEATS runs of building and
saving the workbook, and of opening it and reading every cell.
"""
import sys
import time

import xlrd
import xlwt


def value(k, j):
    # The same values as bench_workbook.cpp: single-precision values widened.
    import struct
    v = k * 0.37 + j * 1.1
    return struct.unpack("f", struct.pack("f", v))[0]


def write(rows, path):
    wb = xlwt.Workbook(encoding="utf-8")
    s = wb.add_sheet("Sheet1")
    s.write(0, 0, "VKR-7.5G")
    s.write(1, 0, "1sec")
    s.write(2, 0, "1700000000000")
    for j in range(1, 11):
        s.write(0, j, "信号%d,Signal %d" % (j, j))
        s.write(1, j, 1000 + j)
        s.write(2, j, j % 3 != 0)
    for k in range(1, rows + 1):
        r = k + 2
        s.write(r, 0, k)
        for j in range(1, 11):
            s.write(r, j, value(k, j))
    wb.save(path)


def read(path):
    book = xlrd.open_workbook(path)
    sh = book.sheet_by_index(0)
    n = 0
    for r in range(sh.nrows):
        for c in range(sh.ncols):
            if sh.cell_type(r, c) != xlrd.XL_CELL_EMPTY:
                sh.cell_value(r, c)
                n += 1
    return n


def best(f, repeats):
    t = []
    for _ in range(repeats):
        t0 = time.perf_counter()
        f()
        t.append((time.perf_counter() - t0) * 1000.0)
    return min(t)


def main():
    rows, path, repeats = int(sys.argv[1]), sys.argv[2], int(sys.argv[3])
    print("xlwt %.3f" % best(lambda: write(rows, path), repeats))
    print("xlrd %.3f" % best(lambda: read(path), repeats))


if __name__ == "__main__":
    main()
