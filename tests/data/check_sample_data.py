"""Checks the sample data set as the build laid it out in the program folder.

Every workbook is read with xlrd (Debian's python3-xlrd), an .xls reader that
shares no code with ours, and compared with the text sources under data/.
Run by ctest with the environment variables PROGRAM_DIR, SOURCE_DIR (data/)
and SAMPLEDATA_DIR; one ctest per test class.
"""
import configparser
import csv
import io
import os
import re
import struct
import unittest
import zipfile

import xlrd

PROGRAM_DIR = os.environ.get("PROGRAM_DIR", "")
SOURCE_DIR = os.environ.get("SOURCE_DIR", "")
SAMPLEDATA_DIR = os.environ.get("SAMPLEDATA_DIR", "")

TEXT, NUMBER, BOOLEAN, EMPTY = xlrd.XL_CELL_TEXT, xlrd.XL_CELL_NUMBER, xlrd.XL_CELL_BOOLEAN, xlrd.XL_CELL_EMPTY

# Registers the program drives itself (control, status, identity, boot request).
RESERVED_REGISTERS = {9999, 10000, 10099, 10101, 0x0055, 0x0329, 0x032A, 0x032B, 0x032C,
                      0x032D, 0x0605, 0x4E1F}


def source_rows(path):
    """Rows of a data/ CSV without comment lines; the header row first."""
    with open(path, encoding="utf-8", newline="") as f:
        lines = [l for l in f.read().splitlines(True) if not l.startswith("#") and l.strip()]
    return list(csv.reader(io.StringIO("".join(lines))))


def cell(sheet, row, col):
    if row >= sheet.nrows or col >= sheet.ncols:
        return xlrd.sheet.Cell(EMPTY, "")
    return sheet.cell(row, col)


def has_cjk(text):
    return any("\u4e00" <= ch <= "\u9fff" for ch in text)


def bilingual(testcase, text, where):
    parts = text.split(",")
    testcase.assertEqual(len(parts), 2, f"{where}: {text!r} is not 'English,中文'")
    testcase.assertTrue(parts[0] and parts[1], where)
    testcase.assertFalse(has_cjk(parts[0]), f"{where}: English part {parts[0]!r}")
    testcase.assertTrue(has_cjk(parts[1]) or parts[1] == parts[0] or parts[1].isascii(), where)
    return parts


class ParameterWorkbook(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        setting = configparser.ConfigParser()
        setting.read(os.path.join(PROGRAM_DIR, "Language", "setting.ini"), encoding="utf-8")
        cls.device = setting["Setting"]["Device"]
        cls.path = os.path.join(PROGRAM_DIR, "Parameter", cls.device + ".xls")
        cls.book = xlrd.open_workbook(cls.path)
        cls.sheet = cls.book.sheet_by_index(0)
        cls.rows = []  # (row, kind, B)
        for r in range(2, 1024):
            b = cell(cls.sheet, r, 1)
            if b.ctype != TEXT or not b.value:
                break
            kind = "group" if "**" in b.value else "sub" if "*" in b.value else "param"
            cls.rows.append((r, kind, b.value))
        # Everything after the scan's end must be empty, or the program would lose it.
        cls.scanEnd = 2 + len(cls.rows)

    def test_device_type_names_the_file(self):
        self.assertEqual(self.device, "TV380")
        self.assertEqual(self.book.nsheets, 2)
        c2 = cell(self.sheet, 1, 2)
        self.assertEqual(c2.ctype, TEXT)
        self.assertEqual(c2.value, os.path.splitext(os.path.basename(self.path))[0])
        self.assertEqual(self.sheet.nrows, self.scanEnd, "rows after the first empty column B")

    def test_groups_and_subgroups(self):
        groups = []  # [number, code, [subgroup numbers]]
        numbers = []
        for r, kind, b in self.rows:
            name = cell(self.sheet, r, 2)
            if kind == "param":
                continue
            self.assertEqual(name.ctype, TEXT)
            bilingual(self, name.value, f"row {r + 1}")
            for col in range(15):
                if col not in (1, 2):
                    self.assertEqual(cell(self.sheet, r, col).ctype, EMPTY, f"header row {r + 1}")
            if kind == "group":
                self.assertRegex(b, r"^\d+\*\*\*$")
                code = b[:-3]
                groups.append([int(code), code, []])
                numbers.append(int(code))
            else:
                self.assertRegex(b, r"^\d\.\d+\*$")
                code = b[:-1]
                number = int(code[0] + code[2:])
                self.assertEqual(int(code[0]), groups[-1][0], f"subgroup {b} under its group")
                groups[-1][2].append(number)
                numbers.append(number)
        self.assertGreaterEqual(len(groups), 12)
        self.assertLessEqual(len(groups), 16)
        self.assertEqual(len(numbers), len(set(numbers)), "group and subgroup numbers unique")
        by_number = {g[0]: g for g in groups}
        self.assertIn(8, by_number)
        self.assertIn(9, by_number)
        self.assertEqual(by_number[8][2], [], "monitor group 8 without subgroups")
        self.assertEqual(by_number[9][2], [], "monitor group 9 without subgroups")
        self.assertTrue(any(g[2] for g in groups), "at least one group with subgroups")
        for g in groups:
            self.assertLessEqual(len(g[2]), 8)

    def test_parameter_cells(self):
        params = [r for r, kind, _ in self.rows if kind == "param"]
        self.assertGreaterEqual(len(params), 150)
        self.assertLessEqual(len(params), 300)
        exponents, registers, pnus = set(), set(), set()
        signed = unsigned = 0
        flags = {9: 0, 11: 0, 13: 0}
        for r in params:
            row = [cell(self.sheet, r, c) for c in range(15)]
            for col in (0, 1, 2, 6, 8, 10, 12, 14):
                self.assertEqual(row[col].ctype, TEXT, f"row {r + 1} column {col}")
            for col in (3, 4):
                self.assertIn(row[col].ctype, (TEXT, EMPTY), f"row {r + 1} column {col}")
            for col in (5, 7, 9, 11, 13):
                self.assertEqual(row[col].ctype, BOOLEAN, f"row {r + 1} column {col}")
            self.assertRegex(row[0].value, r"^\d+$")
            register = int(row[0].value) - 1
            self.assertNotIn(register, RESERVED_REGISTERS, f"row {r + 1}")
            self.assertNotIn(register, registers)
            registers.add(register)
            self.assertLessEqual(len(row[1].value), 7)
            self.assertNotIn(row[1].value, pnus)
            pnus.add(row[1].value)
            bilingual(self, row[2].value, f"row {r + 1}")
            self.assertLessEqual(len(row[2].value), 127)
            self.assertLessEqual(len(row[4].value), 7)
            exponent = int(row[6].value)
            exponents.add(exponent)
            low, high = float(row[12].value), float(row[14].value)
            self.assertLessEqual(low, high)
            if low < 0:
                signed += 1
            else:
                unsigned += 1
            for col in flags:
                flags[col] += int(row[col].value)
            scale = 10 ** -exponent
            lo_raw, hi_raw = (-32768, 32767) if low < 0 else (0, 65535)
            for col, flag in ((10, 9), (12, 11), (14, 13)):
                if not row[flag].value:
                    raw = float(row[col].value) * scale
                    self.assertAlmostEqual(raw, round(raw), places=6, msg=f"row {r + 1}")
                    self.assertTrue(lo_raw <= round(raw) <= hi_raw, f"row {r + 1} col {col}")
        self.assertEqual(exponents, {0, -1, -2, -3})
        self.assertGreater(signed, 0)
        self.assertGreater(unsigned, 0)
        for col, count in flags.items():
            self.assertGreater(count, 0, f"some parameter sets the flag of column {col}")

    def test_monitor_group_9(self):
        names = []
        current = None
        for r, kind, b in self.rows:
            if kind != "param":
                current = int(b[:-3]) if kind == "group" else None
            elif current == 9:
                names.append(cell(self.sheet, r, 2).value.split(",")[0])
        self.assertGreaterEqual(len(names), 12)
        for wanted in ("Output frequency", "Output current", "Output voltage", "DC bus voltage",
                       "Heatsink temperature", "Motor speed", "Output torque", "Output power"):
            self.assertIn(wanted, names)

    def test_sheet_matches_source(self):
        src = source_rows(os.path.join(SOURCE_DIR, "parameter", "TV380.csv"))
        header, body = src[0], src[1:]
        self.assertEqual(len(body), len(self.rows))
        for (r, kind, b), s in zip(self.rows, body):
            s = s + [""] * (len(header) - len(s))
            self.assertEqual(b, s[1])
            self.assertEqual(cell(self.sheet, r, 2).value, s[2] + "," + s[3])
            if kind != "param":
                continue
            # Source columns after the name map onto D..O.
            for col, value in zip(range(3, 15), s[4:]):
                c = cell(self.sheet, r, col)
                if col in (5, 7, 9, 11, 13):
                    self.assertEqual(c.value, int(value), f"row {r + 1} column {col}")
                else:
                    self.assertEqual(c.value, value, f"row {r + 1} column {col}")
            self.assertEqual(cell(self.sheet, r, 0).value, s[0])

    def test_option_lists(self):
        sheet = self.book.sheet_by_index(1)
        pnus = {b for _, kind, b in self.rows if kind == "param"}
        lists = {}
        current = None
        for r in range(1, sheet.nrows):
            a, b, c = (cell(sheet, r, k) for k in range(3))
            self.assertEqual(a.ctype, TEXT, f"option row {r + 1} (an empty A ends the lists)")
            self.assertEqual(b.ctype, TEXT)
            if c.ctype == TEXT:
                self.assertNotIn(c.value, lists, "a list key appears once")
                self.assertIn(c.value, pnus)
                current = c.value
                lists[current] = []
            else:
                self.assertEqual(c.ctype, EMPTY)
            self.assertIsNotNone(current)
            self.assertRegex(a.value, r"^-?\d+$")
            bilingual(self, b.value, f"option row {r + 1}")
            lists[current].append((a.value, b.value))
        self.assertIn("01.01", lists)  # run command source
        self.assertIn("07.05", lists)  # stop mode
        self.assertEqual([t.split(",")[0] for _, t in lists["01.01"]],
                         ["Keypad", "Terminal", "Communication"])
        self.assertEqual([t.split(",")[0] for _, t in lists["07.05"]],
                         ["Decelerate to stop", "Coast to stop"])
        # Enumerated parameters show their code as an integer: exponent 0.
        for r, kind, b in self.rows:
            if kind == "param" and b in lists:
                self.assertEqual(cell(self.sheet, r, 6).value, "0", b)
        src = source_rows(os.path.join(SOURCE_DIR, "parameter", "TV380_options.csv"))[1:]
        self.assertEqual(sum(len(v) for v in lists.values()), len(src))


# Identifiers the views, dialogs, menus and toolbar carry captions for.
MENU_AND_TOOLBAR = {32776, 32777, 32778, 57665, 32774, 32775, 21002, 32772, 32773, 57664, 32785, 32787, 32788}
SERIAL_DIALOG = {2010, 2011, 2012, 2013, 2014, 2015, 2016, 2017, 2019, 1, 2}
PARAMETER_VIEW = {2001, 2002, 1077, 2003, 2004, 2005, 2006} | set(range(2100, 2108))
PROGRESS_DIALOG = {149, 2}
FUNCTION_VIEW = {1084, 1085, 1086, 1096}
MONITOR = {1004, 1032, 1040, 1041, 1044, 1111, 1112, 1113, 1114, 1116, 1117, 1118, 1119, 1005, 1006, 1016, 1021, 1026, 1035, 1045, 1050, 1055, 1060,
           2040, 2041, 2042, 2043, 2044, 2045, 2046, 2047, 2048, 2049, 2050}
HISTORY = {1066, 1068, 1081, 1082, 1106, 1107, 1109, 1110, 1115}
DOWNLOAD_VIEW = {2020, 2021, 2022, 2023, 2024, 2025, 2026, 2027, 2028, 2029, 2030, 2031, 2032, 2110}
# Value fields of the monitor: a caption would overwrite them.
AMBIGUOUS = {1067, 1069, 1108}


class LanguageFiles(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = os.path.join(PROGRAM_DIR, "Language")
        book = xlrd.open_workbook(os.path.join(cls.folder, "language.xls"))
        cls.sheet = book.sheet_by_index(0)
        cls.texts = {}
        for r in range(1, min(cls.sheet.nrows, 1024)):
            ident = cell(cls.sheet, r, 0)
            cls.texts[ident.value] = (r, cell(cls.sheet, r, 2), cell(cls.sheet, r, 3))

    def test_every_identifier_has_both_texts(self):
        needed = MENU_AND_TOOLBAR | SERIAL_DIALOG | PARAMETER_VIEW | PROGRESS_DIALOG | FUNCTION_VIEW | \
            MONITOR | HISTORY | DOWNLOAD_VIEW
        for ident in needed:
            self.assertIn(float(ident), self.texts, f"identifier {ident}")
        for ident in AMBIGUOUS:
            self.assertNotIn(float(ident), self.texts, f"identifier {ident}")
        self.assertEqual(self.texts[32777.0][1].value, "Connect Serial Port (&C)\tCtrl+C")
        self.assertEqual(self.texts[2001.0][2].value, "全选")
        self.assertEqual(self.texts[2042.0][2].value, "停止")

    def test_cell_kinds_and_no_gaps(self):
        for ident, (r, english, chinese) in self.texts.items():
            self.assertEqual(cell(self.sheet, r, 0).ctype, NUMBER)
            self.assertEqual(ident, int(ident))
            # The program stops at the first empty text of a language.
            self.assertEqual(english.ctype, TEXT)
            self.assertEqual(chinese.ctype, TEXT)
            self.assertTrue(english.value and chinese.value, f"row {r + 1}")
        self.assertEqual(len(self.texts), self.sheet.nrows - 1, "identifiers unique")

    def test_matches_source(self):
        src = source_rows(os.path.join(SOURCE_DIR, "language", "language.csv"))[1:]
        self.assertEqual(len(src), len(self.texts))
        for ident, english, chinese, where in src:
            r, e, c = self.texts[float(ident)]
            self.assertEqual(e.value, english.replace("\\t", "\t"))
            self.assertEqual(c.value, chinese.replace("\\t", "\t"))
            self.assertEqual(cell(self.sheet, r, 1).value, where)

    def test_ini_files(self):
        keys = {"ID_LANGUAGE_CHINESE", "ID_LANGUAGE_ENGLISH", "IDS_MENU_LANGUAGE", "IDS_MENU_HELP",
                "IDS_MENU_START", "IDS_MENU_EDIT", "IDS_MENU_VIEW", "IDS_MENU_FUNCTION"}
        for language in ("English", "Chinese"):
            ini = configparser.ConfigParser()
            ini.optionxform = str
            ini.read(os.path.join(self.folder, language + ".ini"), encoding="utf-8")
            self.assertEqual(set(ini["MENU"].keys()), keys, language)
        english = configparser.ConfigParser()
        english.optionxform = str
        english.read(os.path.join(self.folder, "English.ini"), encoding="utf-8")
        # English captions equal the built-in defaults, which keeps menu matching
        # working across a language switch.
        self.assertEqual(english["MENU"]["IDS_MENU_EDIT"], "Param(&M)")
        self.assertEqual(english["MENU"]["IDS_MENU_START"], "Start")
        setting = configparser.ConfigParser()
        setting.optionxform = str
        setting.read(os.path.join(self.folder, "setting.ini"), encoding="utf-8")
        self.assertEqual(setting["Setting"]["Language"], "English")
        self.assertEqual(setting["Setting"]["Device"], "TV380")


class FunctionFiles(unittest.TestCase):
    def test_function_list_workbooks_and_pictures(self):
        folder = os.path.join(PROGRAM_DIR, "Function")
        listing = xlrd.open_workbook(os.path.join(folder, "function.xls")).sheet_by_index(0)
        names = []
        for r in range(0, 128):
            c = cell(listing, r, 0)
            if c.ctype != TEXT or not c.value:
                break
            names.append(c.value)
        self.assertIn("PID", names)
        param = xlrd.open_workbook(os.path.join(PROGRAM_DIR, "Parameter", "TV380.xls")).sheet_by_index(0)
        addresses = {param.cell(r, 0).value: param.cell(r, 1).value
                     for r in range(2, param.nrows) if param.cell(r, 0).ctype == TEXT}
        for name in names:
            book = xlrd.open_workbook(os.path.join(folder, name + ".xls"))
            self.assertEqual(book.nsheets, 2)
            counts = []
            for index in (0, 1):
                sheet = book.sheet_by_index(index)
                n = 0
                for r in range(1, 128):
                    b, c, d = (cell(sheet, r, k) for k in (1, 2, 3))
                    if b.ctype != TEXT:
                        break
                    for v in (b, c, d):
                        self.assertEqual(v.ctype, TEXT)
                        self.assertRegex(v.value, r"^\d+$")
                    self.assertIn(b.value, addresses, f"{name} sheet {index} row {r + 1}")
                    self.assertTrue(0 <= int(c.value) < 800 and 0 <= int(d.value) < 600)
                    n += 1
                self.assertLessEqual(n, 9)
                counts.append(n)
            self.assertGreater(counts[0], 0)
            self.assertGreater(counts[1], 0)
            with open(os.path.join(folder, name + ".bmp"), "rb") as f:
                bmp = f.read()
            self.assertEqual(bmp[:2], b"BM")
            size, offset = struct.unpack_from("<I", bmp, 2)[0], struct.unpack_from("<I", bmp, 10)[0]
            width, height, planes, bpp = struct.unpack_from("<iiHH", bmp, 18)
            self.assertEqual(size, len(bmp))
            self.assertEqual((width, abs(height), planes), (800, 600, 1))
            self.assertIn(bpp, (8, 24))
            self.assertEqual(offset + ((width * bpp // 8 + 3) & ~3) * abs(height), len(bmp))
            # Not a blank picture.
            self.assertGreater(len(set(bmp[offset:])), 3)

    def test_pid_fields_match_source(self):
        sheetnames = {"setting": 0, "watch": 1}
        src = source_rows(os.path.join(SOURCE_DIR, "function", "PID_fields.csv"))[1:]
        book = xlrd.open_workbook(os.path.join(PROGRAM_DIR, "Function", "PID.xls"))
        seen = {0: 0, 1: 0}
        for kind, pnu, x, y in src:
            index = sheetnames[kind]
            seen[index] += 1
            row = book.sheet_by_index(index).row_values(seen[index])
            self.assertEqual(row[2:4], [x, y])
            self.assertTrue(row[0].startswith("P" + pnu + " "))
            group, item = pnu.split(".")
            self.assertEqual(int(row[1]), int(group) * 256 + int(item) + 1)


def xorshift_image(size, seed, zero_blocks, patches):
    out = bytearray(size)
    x = seed
    for i in range(size):
        x ^= (x << 13) & 0xFFFFFFFF
        x ^= x >> 17
        x ^= (x << 5) & 0xFFFFFFFF
        out[i] = x >> 24
    for block in zero_blocks:
        out[block * 128:(block + 1) * 128] = bytes(128)
    for offset, text in patches:
        data = text.encode("ascii") + b"\0"
        out[offset:offset + len(data)] = data
    return bytes(out)


class ProgramPackage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with open(os.path.join(PROGRAM_DIR, "Program", "ProgramFile.vkr"), "rb") as f:
            cls.package = f.read()
        cls.zipbytes = cls.package[:32] + bytes(b ^ 0xFF for b in cls.package[32:])
        cls.archive = zipfile.ZipFile(io.BytesIO(cls.zipbytes))
        cls.staging = os.path.join(SAMPLEDATA_DIR, "images")

    def test_inversion_rule(self):
        with open(os.path.join(SAMPLEDATA_DIR, "ProgramFile.zip"), "rb") as f:
            plain = f.read()
        self.assertEqual(len(plain), len(self.package))
        self.assertEqual(self.package[:32], plain[:32])
        self.assertEqual(self.package[:4], b"PK\x03\x04")
        for i in range(32, len(plain)):
            if self.package[i] != plain[i] ^ 0xFF:
                self.fail(f"byte {i} not inverted")

    def test_entries(self):
        names = self.archive.namelist()
        self.assertEqual(names[0], "ProgramFile/")
        self.assertTrue(all(n.startswith("ProgramFile/") for n in names))
        for folder in ("data/", "init/", "calibration/", "code/"):
            self.assertIn("ProgramFile/" + folder, names)
        self.assertIn("ProgramFile/VKR_MODEL.xls", names)
        for info in self.archive.infolist():
            self.assertEqual(info.flag_bits & 1, 0, "no encryption")
            if info.filename.endswith("/"):
                self.assertEqual(info.file_size, 0)
            else:
                self.assertEqual(info.compress_type, zipfile.ZIP_DEFLATED, info.filename)
        self.assertIsNone(self.archive.testzip())

    def test_content_equals_sources(self):
        on_disk = []
        for root, dirs, files in os.walk(self.staging):
            for name in files:
                path = os.path.join(root, name)
                on_disk.append(os.path.relpath(path, self.staging).replace(os.sep, "/"))
        files = [n for n in self.archive.namelist() if not n.endswith("/")]
        self.assertEqual(sorted(n[len("ProgramFile/"):] for n in files), sorted(on_disk))
        for name in files:
            with open(os.path.join(self.staging, name[len("ProgramFile/"):]), "rb") as f:
                self.assertEqual(self.archive.read(name), f.read(), name)
        for name in files:
            if name.endswith(".TTL"):
                with open(os.path.join(SOURCE_DIR, "program", "calibration", os.path.basename(name)), "rb") as f:
                    self.assertEqual(self.archive.read(name), f.read(), name)

    def test_images_follow_their_description(self):
        image_rows = source_rows(os.path.join(SOURCE_DIR, "program", "images.csv"))[1:]
        zero_block = bytes(128)
        code_sizes = []
        for folder, name, size, seed, zeros, patches in image_rows:
            expect = xorshift_image(
                int(size), int(seed, 0), [int(z) for z in zeros.split(";") if z],
                [(int(p.split("=", 1)[0]), p.split("=", 1)[1]) for p in patches.split(";") if p])
            data = self.archive.read(f"ProgramFile/{folder}/{name}.bin")
            self.assertEqual(data, expect, name)
            if folder == "code":
                code_sizes.append(len(data))
                blocks = [data[i:i + 128] for i in range(0, len(data) - 127, 128)]
                self.assertIn(zero_block, blocks, f"{name} has an all-zero block")
            elif folder == "data":
                self.assertLessEqual(len(data), 1024)
            else:
                self.assertLessEqual(len(data), 384)
        self.assertTrue(code_sizes and all(8 * 1024 <= s <= 20 * 1024 for s in code_sizes))

    def test_model_workbook(self):
        data = self.archive.read("ProgramFile/VKR_MODEL.xls")
        sheet = xlrd.open_workbook(file_contents=data).sheet_by_index(0)
        names = set(self.archive.namelist())
        rows = 0
        series = []
        for r in range(2, 1024):
            if cell(sheet, r, 0).ctype != TEXT or not cell(sheet, r, 0).value:
                break
            values = []
            for c in range(7):
                v = cell(sheet, r, c)
                self.assertEqual(v.ctype, TEXT, f"row {r + 1} column {c}")
                self.assertTrue(0 < len(v.value) <= 31)
                values.append(v.value)
            s, pn, power, datafile, cal, code, init = values
            self.assertLessEqual(len(s.encode("ascii")), 6, "series fits registers 0x032B..0x032D")
            self.assertLessEqual(len(pn.encode("ascii")), 8)
            self.assertIn(f"ProgramFile/data/{datafile}.bin", names)
            self.assertIn(f"ProgramFile/calibration/{cal}.TTL", names)
            self.assertIn(f"ProgramFile/code/{code}.bin", names)
            self.assertIn(f"ProgramFile/init/{init}.bin", names)
            # The drive reports its part number from EE address 153 = offset 25
            # of the power data image.
            image = self.archive.read(f"ProgramFile/data/{datafile}.bin")
            self.assertEqual(image[25:25 + len(pn) + 1], pn.encode("ascii") + b"\0")
            if s not in series:
                series.append(s)
            rows += 1
        self.assertGreaterEqual(rows, 4)
        self.assertGreaterEqual(len(series), 2)
        src = source_rows(os.path.join(SOURCE_DIR, "program", "models.csv"))[1:]
        self.assertEqual(rows, len(src))

    def test_calibration_lines(self):
        for name in self.archive.namelist():
            if not name.endswith(".TTL"):
                continue
            commands = []
            for line in self.archive.read(name).decode("ascii").splitlines():
                at = line.find("VKR pm write_ee")
                if at >= 0:
                    commands.append(line[at:-1])
            self.assertTrue(0 < len(commands) <= 256, name)
            for command in commands:
                self.assertRegex(command, r"^VKR pm write_ee -a \d+ -d [0-9A-F]{4}$")
                self.assertLessEqual(len(command), 30)


class ProgramFolder(unittest.TestCase):
    def test_folders(self):
        for folder in ("Parameter", "Language", "Function", "Program", "ParaValue", "history"):
            self.assertTrue(os.path.isdir(os.path.join(PROGRAM_DIR, folder)), folder)


if __name__ == "__main__":
    unittest.main()
