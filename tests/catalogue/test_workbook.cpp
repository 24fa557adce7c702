// Tests of the workbook layer (Workbook.h): round trips through the
// layer, every written workbook checked by xlrd, workbooks written by xlwt
// read through the layer, the stream and container details (SST CONTINUE
// splitting, EXTSST, mini stream, DIFAT), the interface's rules, and saving.
#include "test_workbook_util.h"

#include "Biff8.h"
#include "CompoundFile.h"

#include <atomic>
#include <cstring>
#include <thread>

#include <dirent.h>
#include <zlib.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace wbtest;

namespace {

std::uint16_t get16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t get32(const std::uint8_t* p) { return get16(p) | (static_cast<std::uint32_t>(get16(p + 2)) << 16); }

// Saves `model` through the layer, loads it back through the layer and
// through xlrd, and expects both to equal the model. `path` is kept.
void roundTrip(const BookModel& model, const std::string& path, const std::string& what) {
    {
        BookPtr book;
        writeModel(book.get(), model);
        ASSERT_TRUE(book->save(W(path).c_str())) << book->errorMessage();
    }
    {
        BookPtr book;
        ASSERT_TRUE(book->load(W(path).c_str())) << what << ": " << book->errorMessage();
        expectSame(model, readLayer(book.get()), what + " (layer)");
    }
    Dump dump;
    ASSERT_TRUE(xlrdDump(path, dump)) << what << ": xlrd cannot read the file";
    for (const auto& w : dump.warnings) ADD_FAILURE() << what << ": xlrd warning: " << w;
    expectSame(model, dump.book, what + " (xlrd)");
}

// The workbook stream of a file, through our own container reader.
std::vector<std::uint8_t> workbookStream(const std::string& path) {
    std::vector<std::uint8_t> file = readBytes(path), stream;
    std::string error;
    EXPECT_TRUE(xls::cfb::readWorkbookStream(file.data(), file.size(), stream, error)) << error;
    return stream;
}

std::u16string utf16(const std::wstring& s) {
    std::u16string u;
    xls::biff8::toUtf16(s, u);
    return u;
}

// Walks SST and its CONTINUE records in `stream` and checks, string by string,
// that no string header and no UTF-16 character is split, that every
// continued string restarts with its flags byte, that the texts are
// `expected` in order, and that EXTSST points at the right strings.
// Returns the number of CONTINUE records.
int checkSst(const std::vector<std::uint8_t>& s, const std::vector<std::u16string>& expected) {
    struct Seg {
        std::size_t rec, data, len;
    };
    std::vector<Seg> segs;
    std::size_t pos = 0, extsst = 0;
    while (pos + 4 <= s.size()) {
        std::uint16_t code = get16(&s[pos]), len = get16(&s[pos + 2]);
        if (code == 0x00FC || (code == 0x003C && !segs.empty() && segs.back().rec + 4 + segs.back().len == pos))
            segs.push_back({pos, pos + 4, len});
        if (code == 0x00FF) {
            extsst = pos;
            break;
        }
        pos += 4 + len;
    }
    EXPECT_FALSE(segs.empty()) << "no SST record";
    EXPECT_NE(extsst, 0u) << "no EXTSST record";
    if (segs.empty() || !extsst) return 0;
    EXPECT_EQ(segs.back().rec + 4 + segs.back().len, extsst) << "EXTSST does not follow the SST";
    for (const Seg& g : segs) EXPECT_LE(g.len, 8224u);

    EXPECT_EQ(get32(&s[segs[0].data + 4]), expected.size()) << "unique count";
    std::size_t seg = 0, off = 8;
    std::vector<std::pair<std::size_t, std::size_t>> starts;  // stream position, offset in its record
    for (std::size_t k = 0; k < expected.size(); ++k) {
        if (off == segs[seg].len) {
            ++seg;
            off = 0;
            if (seg == segs.size()) {
                ADD_FAILURE() << "SST ends before string " << k;
                return 0;
            }
        }
        const Seg& g = segs[seg];
        if (off + 3 > g.len) {
            ADD_FAILURE() << "header of string " << k << " is split";
            return 0;
        }
        starts.emplace_back(g.data + off, g.data + off - g.rec);
        std::size_t cch = get16(&s[g.data + off]);
        std::uint8_t flags = s[g.data + off + 2];
        EXPECT_EQ(flags & ~1, 0) << "string " << k << " has rich or extended flags";
        off += 3;
        std::u16string text;
        bool wide = flags & 1;
        const std::size_t firstSeg = seg;
        EXPECT_GT(cch, 0u) << "string " << k << " is empty (FreeXL refuses it)";
        while (text.size() < cch) {
            if (off == segs[seg].len) {
                ++seg;
                if (seg == segs.size()) {
                    ADD_FAILURE() << "SST ends inside string " << k;
                    return 0;
                }
                wide = s[segs[seg].data] & 1;  // the continued part's flags
                EXPECT_EQ(s[segs[seg].data] & ~1, 0);
                off = 1;
                continue;
            }
            std::size_t cs = wide ? 2 : 1;
            if (segs[seg].len - off < cs) {
                ADD_FAILURE() << "a character of string " << k << " is split";
                return 0;
            }
            const std::uint8_t* p = &s[segs[seg].data + off];
            text.push_back(wide ? static_cast<char16_t>(get16(p)) : static_cast<char16_t>(*p));
            off += cs;
        }
        EXPECT_LE(seg - firstSeg, 1u) << "string " << k << " spans more than two records (FreeXL cannot read it)";
        if (text != expected[k]) {
            ADD_FAILURE() << "string " << k << " differs";
            return 0;
        }
    }
    EXPECT_EQ(seg, segs.size() - 1) << "SST has records left over";
    EXPECT_EQ(off, segs.back().len) << "SST has bytes left over";

    // EXTSST: strings per bucket, then per bucket the stream position of its
    // first string and that string's offset in its record (header included).
    std::size_t len = get16(&s[extsst + 2]);
    std::size_t dsst = get16(&s[extsst + 4]);
    EXPECT_GE(dsst, 8u);
    std::size_t buckets = expected.empty() ? 0 : (expected.size() + dsst - 1) / dsst;
    EXPECT_LE(buckets, 128u);
    EXPECT_EQ(len, 2 + 8 * buckets);
    for (std::size_t b = 0; b < buckets && 2 + 8 * b + 8 <= len; ++b) {
        const std::uint8_t* e = &s[extsst + 4 + 2 + 8 * b];
        EXPECT_EQ(get32(e), starts[b * dsst].first) << "EXTSST bucket " << b;
        EXPECT_EQ(get16(e + 4), starts[b * dsst].second) << "EXTSST bucket " << b;
    }
    return static_cast<int>(segs.size()) - 1;
}

// A deterministic text of `n` characters drawn from `alphabet`.
std::wstring textOf(const std::wstring& alphabet, std::size_t n, std::size_t seed) {
    std::wstring s;
    for (std::size_t i = 0; i < n; ++i) s.push_back(alphabet[(i * 7 + seed * 13) % alphabet.size()]);
    return s;
}

BookModel historyModel(int samples, const std::wstring& sheetName = L"Sheet1") {
    SheetModel s{sheetName, {}};
    s.cells[{0, 0}] = T(L"VKR-7.5G");
    s.cells[{1, 0}] = T(L"1sec");
    s.cells[{2, 0}] = T(L"1700000000000");
    for (int j = 1; j <= 10; ++j) {
        s.cells[{0, j}] = T(L"信号 " + std::to_wstring(j) + L",Signal");
        s.cells[{1, j}] = N(1000 + j);
        s.cells[{2, j}] = B(j % 3 != 0);
    }
    for (int k = 1; k <= samples; ++k) {
        s.cells[{k + 2, 0}] = N(k);
        for (int j = 1; j <= 10; ++j)
            s.cells[{k + 2, j}] = N(static_cast<double>(static_cast<float>(k * 0.37 + j * 1.1)));  // widened floats
    }
    return {s};
}

}  // namespace

// ---------------------------------------------------------------------------
// Round trips

TEST(WorkbookRoundTrip, EveryCellType) {
    TempDir dir;
    SheetModel s{L"Cells", {}};
    // Numbers: RK integers, RK floats, RK x100, and NUMBER-only values.
    const double numbers[] = {0,      1,       -1,      42,     536870911, -536870912, 536870912, 1.5,
                              -2.25,  0.1,     12.34,   -0.01,  1e300,     -1e-300,    5e-324,    123456789012.0,
                              -0.0,   3.14159, 1.0 / 3, 1e-5,   2.5e10,    -7.125,     0.5,       65535};
    int c = 0;
    for (double v : numbers) s.cells[{0, c++}] = N(v);
    s.cells[{1, 0}] = B(true);
    s.cells[{1, 1}] = B(false);
    s.cells[{1, 2}] = N(1);  // a number 1 beside the booleans stays a number
    s.cells[{1, 3}] = N(0);
    s.cells[{1, 5}] = T(L"text");
    s.cells[{3, 0}] = T(L"after an empty row");
    s.cells[{3, 255}] = N(255);   // last column
    s.cells[{65535, 1}] = B(true);  // last row
    roundTrip({s}, dir.file("cells.xls"), "cell types");
}

TEST(WorkbookRoundTrip, UnicodeTexts) {
    TempDir dir;
    SheetModel s{L"Unicode", {}};
    const std::wstring texts[] = {
        L"DEVICE,设备",
        L"参数表 P01.02 最大频率",
        W("Grüße, café, naïve, Ærøskøbing"),  // Latin-1: compressed 8-bit
        W("ÿ and Ā"),                          // U+00FF fits 8 bits, U+0100 does not
        W("Ελληνικά, Русский, עברית"),
        W("emoji 😀 and 𝄞 beyond the BMP"),
        L"line one\nline two\ttab",
        std::wstring(255, L'a'),
        std::wstring(256, L'b'),
        std::wstring(300, L'中'),
        textOf(L"abcdefghij", 8192, 1),  // the longest text, 8-bit
        textOf(L"汉字表格数据", 8192, 2),   // the longest text, UTF-16: spans two records
        textOf(L"x", 8100, 3),
        textOf(L"表", 5000, 4),
    };
    int r = 0;
    for (const auto& t : texts) s.cells[{r++, 0}] = T(t);
    s.cells[{0, 1}] = T(texts[0]);  // the same text twice: one SST entry
    roundTrip({s}, dir.file("unicode.xls"), "unicode texts");
}

TEST(WorkbookRoundTrip, SstContinueBoundaries) {
    // Many texts of every length, compressed and UTF-16 alternating, so that
    // string headers and characters fall on and around every CONTINUE
    // boundary; then the SST is checked record by record.
    TempDir dir;
    SheetModel s{L"Strings", {}};
    std::vector<std::u16string> expected;
    int row = 0;
    for (int n = 0; n < 700; ++n) {
        std::wstring t = (n % 3 == 2) ? textOf(L"数据表格", static_cast<std::size_t>(n % 97 + 1), n)
                                      : textOf(L"0123456789abcdef", static_cast<std::size_t>(n % 211), n);
        t += L"#" + std::to_wstring(n);  // distinct
        s.cells[{row++, 0}] = T(t);
        expected.push_back(utf16(t));
    }
    const std::string path = dir.file("sst.xls");
    roundTrip({s}, path, "SST boundaries");
    EXPECT_GE(checkSst(workbookStream(path), expected), 5);

    // Long texts packed tight: each must still span at most two records.
    {
        SheetModel b{L"Long", {}};
        std::vector<std::u16string> exp;
        for (int n = 0; n < 40; ++n) {
            std::wstring t = n % 2 ? textOf(L"长文本", static_cast<std::size_t>(3000 + n * 131), n)
                                   : textOf(L"long text ", static_cast<std::size_t>(5000 + n * 80), n);
            b.cells[{n, 0}] = T(t);
            exp.push_back(utf16(t));
        }
        const std::string p = dir.file("long.xls");
        roundTrip({b}, p, "long texts");
        EXPECT_GE(checkSst(workbookStream(p), exp), 20);
    }

    // Exact boundary cases: the SST record holds 8224 bytes: 8 for the
    // counts, 3 + 8000 for a first text, then a text that ends 0 to 5 bytes
    // before the record's end, then a UTF-16 and an 8-bit text.
    for (std::size_t gap : {0u, 1u, 2u, 3u, 4u, 5u}) {
        SCOPED_TRACE("gap " + std::to_string(gap));
        SheetModel b{L"Boundary", {}};
        std::vector<std::u16string> exp;
        const std::wstring texts[] = {textOf(L"abc", 8000, 0), textOf(L"def", 8224 - 8 - 8003 - 3 - gap, 1),
                                      textOf(L"中文字", 10, 2), textOf(L"xyz", 10, 3), L"z"};
        for (const auto& t : texts) {
            b.cells[{static_cast<int>(exp.size()), 0}] = T(t);
            exp.push_back(utf16(t));
        }
        const std::string p = dir.file("boundary" + std::to_string(gap) + ".xls");
        roundTrip({b}, p, "SST exact boundary");
        EXPECT_EQ(checkSst(workbookStream(p), exp), 1);
    }
}

TEST(WorkbookRoundTrip, EmptyCellsAndExtent) {
    TempDir dir;
    const std::string path = dir.file("sparse.xls");
    {
        BookPtr book;
        xls::Sheet* a = book->addSheet(L"Sparse");
        xls::Sheet* e = book->addSheet(L"Empty");
        ASSERT_TRUE(a && e);
        EXPECT_EQ(a->lastRow(), 0);
        EXPECT_EQ(a->lastCol(), 0);
        ASSERT_TRUE(a->writeNum(5, 7, 1.25));
        ASSERT_TRUE(a->writeStr(2, 3, L"x"));
        ASSERT_TRUE(a->writeStr(4, 4, L""));  // saved as a blank cell
        EXPECT_STREQ(a->readStr(4, 4), L"");
        EXPECT_EQ(a->lastRow(), 6);
        EXPECT_EQ(a->lastCol(), 8);
        ASSERT_TRUE(book->save(W(path).c_str())) << book->errorMessage();
    }
    BookPtr book;
    ASSERT_TRUE(book->load(W(path).c_str())) << book->errorMessage();
    ASSERT_EQ(book->sheetCount(), 2);
    xls::Sheet* a = book->getSheet(0);
    xls::Sheet* e = book->getSheet(1);
    EXPECT_EQ(a->lastRow(), 6);
    EXPECT_EQ(a->lastCol(), 8);
    EXPECT_EQ(e->lastRow(), 0);
    EXPECT_EQ(e->lastCol(), 0);
    for (int r = 0; r < 8; ++r) {
        for (int c = 0; c < 10; ++c) {
            if ((r == 5 && c == 7) || (r == 2 && c == 3)) continue;
            EXPECT_EQ(a->cellType(r, c), xls::Sheet::CELLTYPE_EMPTY) << r << "," << c;
            EXPECT_EQ(a->readStr(r, c), nullptr);
            EXPECT_EQ(a->readNum(r, c), 0);
            EXPECT_FALSE(a->readBool(r, c));
        }
    }
    EXPECT_EQ(a->readNum(5, 7), 1.25);
    EXPECT_EQ(a->readStr(5, 7), nullptr);  // a number holds no text
    EXPECT_EQ(a->readNum(2, 3), 0);        // a text is no number
    EXPECT_FALSE(a->readBool(2, 3));
    EXPECT_EQ(e->readStr(0, 0), nullptr);
    // Reads out of range are empty, not errors.
    EXPECT_EQ(a->cellType(-1, 0), xls::Sheet::CELLTYPE_EMPTY);
    EXPECT_EQ(a->readStr(70000, 300), nullptr);
    EXPECT_EQ(a->readNum(0, -5), 0);

    Dump dump;
    ASSERT_TRUE(xlrdDump(path, dump));
    EXPECT_TRUE(dump.warnings.empty());
    ASSERT_EQ(dump.extents.size(), 2u);
    EXPECT_EQ(dump.extents[0], std::make_pair(6, 8));
    EXPECT_EQ(dump.extents[1], std::make_pair(0, 0));
}

TEST(WorkbookRoundTrip, SeveralSheets) {
    TempDir dir;
    BookModel model;
    const std::wstring names[] = {L"Sheet1", L"参数", W("Données"), L"31 characters long sheet name..", L"S5"};
    int i = 0;
    for (const auto& n : names) {
        SheetModel s{n, {}};
        s.cells[{0, 0}] = T(L"sheet " + n);
        s.cells[{1, i}] = N(i * 10 + 0.5);
        s.cells[{2, 0}] = B(i % 2 == 0);
        model.push_back(s);
        ++i;
    }
    roundTrip(model, dir.file("sheets.xls"), "several sheets");
}

TEST(WorkbookRoundTrip, HistoryOfTenThousandRows) {
    TempDir dir;
    roundTrip(historyModel(10000), dir.file("history.xls"), "history 10000 rows");
}

TEST(WorkbookRoundTrip, ElevenLargeSheetsNeedDifat) {
    // 11 sheets x 10000 rows x 11 columns of NUMBER cells: over 20 MB, more
    // FAT sectors than the header's 109 entries (DIFAT sectors).
    TempDir dir;
    const std::string path = dir.file("large.xls");
    BookModel model;
    for (int sh = 0; sh < 11; ++sh) {
        SheetModel s{L"Data " + std::to_wstring(sh), {}};
        s.cells[{0, 0}] = T(L"header of sheet " + std::to_wstring(sh));
        for (int r = 1; r <= 10000; ++r)
            for (int c = 0; c < 11; ++c) s.cells[{r, c}] = N(r * 0.001 + c * 0.1 + sh);
        model.push_back(std::move(s));
    }
    {
        BookPtr book;
        writeModel(book.get(), model);
        ASSERT_TRUE(book->save(W(path).c_str())) << book->errorMessage();
    }
    std::vector<std::uint8_t> file = readBytes(path);
    ASSERT_GT(file.size(), 109u * 128u * 512u);
    EXPECT_GT(get32(&file[0x48]), 0u) << "DIFAT sectors";
    {
        BookPtr book;
        ASSERT_TRUE(book->load(W(path).c_str())) << book->errorMessage();
        expectSame(model, readLayer(book.get()), "large (layer)");
    }
    Dump dump;
    ASSERT_TRUE(xlrdDump(path, dump));
    for (const auto& w : dump.warnings) ADD_FAILURE() << "xlrd warning: " << w;
    expectSame(model, dump.book, "large (xlrd)");
}

// ---------------------------------------------------------------------------
// The container on its own: every size class of the workbook stream

TEST(WorkbookCompoundFile, StreamSizesAroundEveryLimit) {
    TempDir dir;
    const std::size_t sizes[] = {1,    63,   64,   65,    511,  512,  513,  4095, 4096, 4097,
                                 8192, 65535, 65536 + 3,  109u * 128u * 512u - 6000, 109u * 128u * 512u + 5000,
                                 (109u + 127u) * 128u * 512u + 1};
    for (std::size_t n : sizes) {
        SCOPED_TRACE("stream size " + std::to_string(n));
        std::vector<std::uint8_t> stream(n), file, back;
        for (std::size_t i = 0; i < n; ++i) stream[i] = static_cast<std::uint8_t>(i * 131 + n);
        xls::cfb::buildWorkbookFile(stream, file);
        EXPECT_EQ((file.size() - 512) % 512, 0u);
        std::string error;
        ASSERT_TRUE(xls::cfb::readWorkbookStream(file.data(), file.size(), back, error)) << error;
        EXPECT_TRUE(back == stream);
        // xlrd's own compound-file reader agrees.
        const std::string path = dir.file("c.bin");
        writeBytes(path, file);
        std::string out;
        ASSERT_TRUE(runScript("stream " + quote(path), out));
        const unsigned long crc = crc32(0L, stream.data(), static_cast<uInt>(stream.size()));
        EXPECT_EQ(out, std::to_string(n) + " " + std::to_string(crc) + "\n");
    }
}

// ---------------------------------------------------------------------------
// Workbooks written by other programs

TEST(WorkbookForeign, XlwtMixedCellsAndBooleans) {
    TempDir dir;
    const std::string path = dir.file("xlwt_mixed.xls");
    std::string out;
    ASSERT_TRUE(runScript("xlwt mixed " + quote(path), out)) << "xlwt failed";
    Dump dump;
    ASSERT_TRUE(xlrdDump(path, dump));
    BookPtr book;
    ASSERT_TRUE(book->load(W(path).c_str())) << book->errorMessage();
    BookModel got = readLayer(book.get());

    // Dates: FreeXL gives them as texts to the second; the layer turns them
    // back into serial numbers.
    ASSERT_EQ(got.size(), 3u);
    for (int c : {0, 1}) {
        auto& a = dump.book[0].cells[{3, c}];
        auto& b = got[0].cells[{3, c}];
        EXPECT_EQ(b.kind, 'N');
        EXPECT_NEAR(a.num, b.num, 1e-8);
        got[0].cells.erase({3, c});
        dump.book[0].cells.erase({3, c});
    }
    expectSame(dump.book, got, "xlwt mixed");

    // Spot checks, independent of xlrd.
    xls::Sheet* s = book->getSheet(0);
    EXPECT_EQ(s->cellType(2, 0), xls::Sheet::CELLTYPE_BOOLEAN);
    EXPECT_TRUE(s->readBool(2, 0));
    EXPECT_EQ(s->cellType(2, 1), xls::Sheet::CELLTYPE_BOOLEAN);
    EXPECT_FALSE(s->readBool(2, 1));
    EXPECT_EQ(s->cellType(2, 2), xls::Sheet::CELLTYPE_NUMBER);
    EXPECT_EQ(s->readNum(2, 2), 1);
    EXPECT_EQ(s->cellType(2, 3), xls::Sheet::CELLTYPE_NUMBER);
    EXPECT_STREQ(s->readStr(0, 2), L"设备,DEVICE 参数");
    EXPECT_EQ(std::wstring(s->readStr(0, 3)), std::wstring(300, L'x'));
    EXPECT_EQ(s->readNum(3, 0), 43832);  // 2020-01-02
    EXPECT_STREQ(book->getSheet(1)->name(), L"参数表");
    EXPECT_TRUE(book->getSheet(1)->readBool(4, 2));
    EXPECT_EQ(book->getSheet(2)->lastRow(), 0);
}

TEST(WorkbookForeign, XlwtHistoryOfTenThousandRows) {
    TempDir dir;
    const std::string path = dir.file("xlwt_history.xls");
    std::string out;
    ASSERT_TRUE(runScript("xlwt history " + quote(path), out)) << "xlwt failed";
    Dump dump;
    ASSERT_TRUE(xlrdDump(path, dump));
    BookPtr book;
    ASSERT_TRUE(book->load(W(path).c_str())) << book->errorMessage();
    expectSame(dump.book, readLayer(book.get()), "xlwt history");
    EXPECT_EQ(book->getSheet(0)->lastRow(), 10003);
    EXPECT_EQ(book->getSheet(0)->cellType(2, 3), xls::Sheet::CELLTYPE_BOOLEAN);
    EXPECT_FALSE(book->getSheet(0)->readBool(2, 3));
    EXPECT_TRUE(book->getSheet(0)->readBool(2, 4));
}

TEST(WorkbookForeign, GnumericReadsOurFilesAndWeReadItsFiles) {
    // Optional: runs when Gnumeric's ssconvert is installed (it is not a
    // dependency of the project). Gnumeric must read our workbook without a
    // word of complaint, and its own BIFF8 copy must read back through the
    // layer as what we wrote.
    if (::access("/usr/bin/ssconvert", X_OK) != 0) GTEST_SKIP() << "ssconvert (gnumeric) is not installed";
    TempDir dir;
    BookModel model = historyModel(300);
    SheetModel extra{L"参数", {}};
    extra.cells[{0, 0}] = T(L"DEVICE,设备");
    extra.cells[{1, 0}] = T(W("Grüße, café"));
    extra.cells[{2, 0}] = T(textOf(L"长文本", 6000, 1));
    extra.cells[{3, 1}] = B(false);
    extra.cells[{4, 2}] = N(-12.5);
    extra.cells[{5, 3}] = N(1e300);
    model.push_back(extra);
    const std::string ours = dir.file("ours.xls"), theirs = dir.file("gnumeric.xls");
    {
        BookPtr book;
        writeModel(book.get(), model);
        ASSERT_TRUE(book->save(W(ours).c_str())) << book->errorMessage();
    }
    const std::string cmd = "/usr/bin/ssconvert -T Gnumeric_Excel:excel_biff8 " + quote(ours) + " " + quote(theirs) + " 2>&1";
    std::string out;
    FILE* p = ::popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    EXPECT_EQ(::pclose(p), 0);
    EXPECT_EQ(out, "") << "ssconvert complained";
    BookPtr book;
    ASSERT_TRUE(book->load(W(theirs).c_str())) << book->errorMessage();
    expectSame(model, readLayer(book.get()), "gnumeric copy");
}

namespace {

// A hand-made BIFF8 stream: records appended by code and payload.
struct Biff {
    std::vector<std::uint8_t> s;
    void rec(std::uint16_t code, const std::vector<std::uint8_t>& data) {
        s.push_back(code & 0xFF);
        s.push_back(code >> 8);
        s.push_back(data.size() & 0xFF);
        s.push_back(data.size() >> 8);
        s.insert(s.end(), data.begin(), data.end());
    }
    static void u16(std::vector<std::uint8_t>& d, unsigned v) {
        d.push_back(v & 0xFF);
        d.push_back((v >> 8) & 0xFF);
    }
    static void u32(std::vector<std::uint8_t>& d, std::uint32_t v) {
        u16(d, v & 0xFFFF);
        u16(d, v >> 16);
    }
    static std::vector<std::uint8_t> bof(unsigned type) {
        std::vector<std::uint8_t> d;
        u16(d, 0x0600);
        u16(d, type);
        u16(d, 0x0DBB);
        u16(d, 0x07CC);
        u32(d, 0);
        u32(d, 6);
        return d;
    }
    // FORMULA with `result` (8 bytes) and the formula "=2" (ptgInt).
    void formula(unsigned row, unsigned col, const std::vector<std::uint8_t>& result) {
        std::vector<std::uint8_t> d;
        u16(d, row);
        u16(d, col);
        u16(d, 15);
        d.insert(d.end(), result.begin(), result.end());
        u16(d, 0);
        u32(d, 0);
        u16(d, 3);
        d.push_back(0x1E);
        u16(d, 2);
        rec(0x0006, d);
    }
};

// A workbook with sheets named S0..S(n-1), each holding what `sheetBody`
// appends after its BOF; the container is written to `path`.
template <class F>
void writeHandMade(const std::string& path, int sheets, F sheetBody) {
    Biff b;
    b.rec(0x0809, Biff::bof(0x0005));
    b.rec(0x0042, {0xB0, 0x04});
    // One FONT and XFs 0-15 (cells use XF 15), as xlrd wants them.
    b.rec(0x0031, {200, 0, 0, 0, 0xFF, 0x7F, 0x90, 0x01, 0, 0, 0, 0, 0, 0, 5, 0, 'A', 'r', 'i', 'a', 'l'});
    for (int i = 0; i < 16; ++i)
        b.rec(0x00E0, {0, 0, 0, 0, static_cast<std::uint8_t>(i < 15 ? 0xF5 : 0x01), static_cast<std::uint8_t>(i < 15 ? 0xFF : 0x00),
                       0x20, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xC0, 0x20});
    std::vector<std::size_t> fields;
    for (int i = 0; i < sheets; ++i) {
        std::vector<std::uint8_t> d = {0, 0, 0, 0, 0, 0, 2, 0, 'S', static_cast<std::uint8_t>('0' + i)};
        fields.push_back(b.s.size() + 4);
        b.rec(0x0085, d);
    }
    std::vector<std::uint8_t> sst;
    Biff::u32(sst, 0);
    Biff::u32(sst, 0);
    b.rec(0x00FC, sst);
    b.rec(0x000A, {});
    for (int i = 0; i < sheets; ++i) {
        std::uint32_t at = static_cast<std::uint32_t>(b.s.size());
        std::memcpy(&b.s[fields[static_cast<std::size_t>(i)]], &at, 4);
        b.rec(0x0809, Biff::bof(0x0010));
        sheetBody(b, i);
        b.rec(0x000A, {});
    }
    std::vector<std::uint8_t> file;
    xls::cfb::buildWorkbookFile(b.s, file);
    writeBytes(path, file);
}

std::vector<std::uint8_t> dimensions(std::uint32_t rows, unsigned cols) {
    std::vector<std::uint8_t> d;
    Biff::u32(d, 0);
    Biff::u32(d, rows);
    Biff::u16(d, 0);
    Biff::u16(d, cols);
    Biff::u16(d, 0);
    return d;
}

}  // namespace

TEST(WorkbookForeign, FormulaResultsAndErrorCells) {
    // Cached formula results (FreeXL 1.0.6 skips FORMULA records) and
    // BOOLERR error cells, in a hand-made workbook, against xlrd.
    TempDir dir;
    const std::string path = dir.file("formulas.xls");
    writeHandMade(path, 1, [](Biff& b, int) {
        b.rec(0x0200, dimensions(3, 6));
        double v = 3.5;
        std::vector<std::uint8_t> num(8);
        std::memcpy(num.data(), &v, 8);
        b.formula(0, 0, num);
        b.formula(0, 1, {1, 0, 1, 0, 0, 0, 0xFF, 0xFF});     // TRUE
        b.formula(0, 2, {2, 0, 0x07, 0, 0, 0, 0xFF, 0xFF});  // #DIV/0!
        b.formula(0, 3, {0, 0, 0, 0, 0, 0, 0xFF, 0xFF});     // text, in STRING
        b.rec(0x0207, {3, 0, 0, 'a', 'b', 'c'});
        b.formula(0, 4, {3, 0, 0, 0, 0, 0, 0xFF, 0xFF});  // empty text
        b.formula(0, 5, {1, 0, 0, 0, 0, 0, 0xFF, 0xFF});  // FALSE
        b.rec(0x0205, {1, 0, 0, 0, 15, 0, 0x2A, 1});      // BOOLERR #N/A at (1,0)
        b.rec(0x0205, {2, 0, 1, 0, 15, 0, 1, 0});         // BOOLERR TRUE at (2,1)
    });
    BookPtr book;
    ASSERT_TRUE(book->load(W(path).c_str())) << book->errorMessage();
    xls::Sheet* s = book->getSheet(0);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->cellType(0, 0), xls::Sheet::CELLTYPE_NUMBER);
    EXPECT_EQ(s->readNum(0, 0), 3.5);
    EXPECT_EQ(s->cellType(0, 1), xls::Sheet::CELLTYPE_BOOLEAN);
    EXPECT_TRUE(s->readBool(0, 1));
    EXPECT_EQ(s->cellType(0, 2), xls::Sheet::CELLTYPE_ERROR);
    EXPECT_EQ(s->readNum(0, 2), 0);
    EXPECT_FALSE(s->readBool(0, 2));
    EXPECT_STREQ(s->readStr(0, 3), L"abc");
    EXPECT_STREQ(s->readStr(0, 4), L"");
    EXPECT_EQ(s->cellType(0, 5), xls::Sheet::CELLTYPE_BOOLEAN);
    EXPECT_FALSE(s->readBool(0, 5));
    EXPECT_EQ(s->cellType(1, 0), xls::Sheet::CELLTYPE_ERROR);
    EXPECT_TRUE(s->readBool(2, 1));

    Dump dump;
    ASSERT_TRUE(xlrdDump(path, dump));
    expectSame(dump.book, readLayer(book.get()), "hand-made formulas");
}

// ---------------------------------------------------------------------------
// Bad files (see also test_workbook_fuzz.cpp)

namespace {

void expectLoadFails(const std::string& path, const std::string& what) {
    BookPtr book;
    EXPECT_FALSE(book->load(W(path).c_str())) << what;
    EXPECT_STRNE(book->errorMessage(), "") << what;
}

std::vector<std::uint8_t> validFile(const TempDir& dir, int samples) {
    const std::string p = dir.file("valid_" + std::to_string(samples) + ".xls");
    BookPtr book;
    writeModel(book.get(), historyModel(samples));
    EXPECT_TRUE(book->save(W(p).c_str()));
    return readBytes(p);
}

}  // namespace

TEST(WorkbookBadFiles, MissingEmptyFolderAndNotAWorkbook) {
    TempDir dir;
    expectLoadFails(dir.file("missing.xls"), "missing");
    writeBytes(dir.file("empty.xls"), {});
    expectLoadFails(dir.file("empty.xls"), "empty");
    expectLoadFails(dir.path(), "a folder");
    const std::string text = "name,value\nP01,5\n";
    writeBytes(dir.file("text.xls"), std::vector<std::uint8_t>(text.begin(), text.end()));
    expectLoadFails(dir.file("text.xls"), "a text file");
    std::vector<std::uint8_t> zip = {'P', 'K', 3, 4, 20, 0, 0, 0, 8, 0};
    zip.resize(2000, 0);
    writeBytes(dir.file("book.xlsx"), zip);
    expectLoadFails(dir.file("book.xlsx"), "a zip (xlsx)");
    BookPtr book;
    EXPECT_FALSE(book->load(nullptr));
    EXPECT_FALSE(book->load(L""));
}

TEST(WorkbookBadFiles, TruncatedAtManyOffsets) {
    TempDir dir;
    for (int samples : {3, 1000}) {  // a mini-stream file and a larger one
        std::vector<std::uint8_t> file = validFile(dir, samples);
        const std::string path = dir.file("cut.xls");
        std::vector<std::size_t> cuts;
        for (std::size_t n = 0; n < file.size(); n += (n < 1100 ? 37 : 997)) cuts.push_back(n);
        for (std::size_t n : {std::size_t{511}, std::size_t{512}, std::size_t{513}, file.size() - 512, file.size() - 1})
            cuts.push_back(n);
        for (std::size_t n : cuts) {
            writeBytes(path, std::vector<std::uint8_t>(file.begin(), file.begin() + static_cast<long>(n)));
            expectLoadFails(path, "cut at " + std::to_string(n) + " of " + std::to_string(file.size()));
        }
    }
}

TEST(WorkbookBadFiles, ContainerWithoutWorkbookStream) {
    TempDir dir;
    std::vector<std::uint8_t> file = validFile(dir, 100);
    const std::uint8_t name[] = {'W', 0, 'o', 0, 'r', 0, 'k', 0, 'b', 0, 'o', 0, 'o', 0, 'k', 0};
    auto it = std::search(file.begin(), file.end(), std::begin(name), std::end(name));
    ASSERT_NE(it, file.end());
    *(it + 14) = 'x';  // "Workboox"
    writeBytes(dir.file("nostream.xls"), file);
    BookPtr book;
    EXPECT_FALSE(book->load(W(dir.file("nostream.xls")).c_str()));
    EXPECT_STREQ(book->errorMessage(), "the file holds no workbook stream");
}

TEST(WorkbookBadFiles, SectorChainLoopsAndOutOfFile) {
    TempDir dir;
    std::vector<std::uint8_t> file = validFile(dir, 1000);
    const std::size_t fat = (get32(&file[0x4C]) + 1) * 512;
    // The workbook stream starts at sector 0: let sector 3 point back to 1.
    std::vector<std::uint8_t> loop = file;
    loop[fat + 12] = 1;
    loop[fat + 13] = loop[fat + 14] = loop[fat + 15] = 0;
    writeBytes(dir.file("loop.xls"), loop);
    BookPtr book;
    EXPECT_FALSE(book->load(W(dir.file("loop.xls")).c_str()));
    EXPECT_NE(std::string(book->errorMessage()).find("loops"), std::string::npos) << book->errorMessage();
    // ... and out of the file.
    std::vector<std::uint8_t> away = file;
    away[fat + 12] = away[fat + 13] = 0xFF;
    away[fat + 14] = 0x00;
    away[fat + 15] = 0x01;
    writeBytes(dir.file("away.xls"), away);
    expectLoadFails(dir.file("away.xls"), "chain out of the file");
}

TEST(WorkbookBadFiles, HugeDeclaredDimensionsAreRefused) {
    // FreeXL allocates every DIMENSIONS record's rows x columns cells.
    TempDir dir;
    writeHandMade(dir.file("huge.xls"), 8, [](Biff& b, int) { b.rec(0x0200, dimensions(65536, 256)); });
    BookPtr book;
    EXPECT_FALSE(book->load(W(dir.file("huge.xls")).c_str()));
    EXPECT_STREQ(book->errorMessage(), "the workbook declares too many cells");
}

TEST(WorkbookBadFiles, DimensionsThatWouldBreakFreexlAreRefused) {
    // FreeXL 1.0.6 reads a short DIMENSIONS record past its end, and a second
    // DIMENSIONS record of a sheet whose allocation fails leaves it freeing
    // the first one's cells beyond their end (found by test_workbook_fuzz).
    TempDir dir;
    writeHandMade(dir.file("short.xls"), 1, [](Biff& b, int) {
        b.rec(0x0200, dimensions(3, 4));
        b.rec(0x0200, {0x17, 0x01, 0x03, 0x00, 0x0F, 0x00, 0x01, 0x00});
    });
    BookPtr book;
    EXPECT_FALSE(book->load(W(dir.file("short.xls")).c_str()));
    EXPECT_STREQ(book->errorMessage(), "a DIMENSIONS record of the workbook is cut short");
    writeHandMade(dir.file("two.xls"), 1, [](Biff& b, int) {
        b.rec(0x0200, dimensions(3, 4));
        b.rec(0x0200, dimensions(5, 4));
    });
    EXPECT_FALSE(book->load(W(dir.file("two.xls")).c_str()));
    EXPECT_STREQ(book->errorMessage(), "a sheet of the workbook has two DIMENSIONS records");
}

TEST(WorkbookBadFiles, FailedLoadKeepsTheBook) {
    TempDir dir;
    BookPtr book;
    xls::Sheet* s = book->addSheet(L"Mine");
    ASSERT_TRUE(s->writeStr(0, 0, L"kept"));
    EXPECT_FALSE(book->load(W(dir.file("missing.xls")).c_str()));
    ASSERT_EQ(book->sheetCount(), 1);
    EXPECT_EQ(book->getSheet(0), s);
    EXPECT_STREQ(s->readStr(0, 0), L"kept");
}

// ---------------------------------------------------------------------------
// The interface's rules

TEST(WorkbookInterface, SheetNames) {
    BookPtr book;
    EXPECT_EQ(book->sheetCount(), 0);
    EXPECT_EQ(book->getSheet(0), nullptr);
    EXPECT_EQ(book->addSheet(nullptr), nullptr);
    EXPECT_EQ(book->addSheet(L""), nullptr);
    EXPECT_EQ(book->addSheet(std::wstring(32, L'a').c_str()), nullptr);
    ASSERT_NE(book->addSheet(std::wstring(31, L'a').c_str()), nullptr);
    ASSERT_NE(book->addSheet(L"Sheet1"), nullptr);
    EXPECT_EQ(book->addSheet(L"Sheet1"), nullptr);
    EXPECT_EQ(book->addSheet(L"SHEET1"), nullptr);  // Excel ignores case
    for (const wchar_t* bad : {L"a:b", L"a/b", L"a\\b", L"a?b", L"a*b", L"[a]", L"'quoted'"})
        EXPECT_EQ(book->addSheet(bad), nullptr) << U8(bad);
    ASSERT_NE(book->addSheet(L"参数"), nullptr);
    EXPECT_EQ(book->sheetCount(), 3);
    EXPECT_STREQ(book->getSheet(2)->name(), L"参数");
    EXPECT_EQ(book->getSheet(3), nullptr);
    EXPECT_EQ(book->getSheet(-1), nullptr);
}

TEST(WorkbookInterface, WriteLimitsAndOverwrites) {
    BookPtr book;
    xls::Sheet* s = book->addSheet(L"S");
    EXPECT_FALSE(s->writeNum(-1, 0, 1));
    EXPECT_FALSE(s->writeNum(65536, 0, 1));
    EXPECT_FALSE(s->writeBool(0, 256, true));
    EXPECT_FALSE(s->writeStr(0, -1, L"x"));
    EXPECT_FALSE(s->writeStr(0, 0, nullptr));
    EXPECT_FALSE(s->writeNum(0, 0, std::nan("")));
    EXPECT_FALSE(s->writeNum(0, 0, HUGE_VAL));
    EXPECT_TRUE(s->writeStr(0, 0, std::wstring(8192, L'x').c_str()));
    EXPECT_FALSE(s->writeStr(0, 0, std::wstring(8193, L'x').c_str()));
    EXPECT_FALSE(s->writeStr(0, 0, (std::wstring(8191, L'x') + W("😀")).c_str()));  // 8193 UTF-16 units
    EXPECT_EQ(s->lastRow(), 1);

    // A cell takes the kind of its last write; text pointers stay valid.
    ASSERT_TRUE(s->writeStr(1, 1, L"first"));
    const wchar_t* p = s->readStr(1, 1);
    ASSERT_TRUE(s->writeNum(1, 1, 2.5));
    EXPECT_EQ(s->cellType(1, 1), xls::Sheet::CELLTYPE_NUMBER);
    EXPECT_EQ(s->readStr(1, 1), nullptr);
    EXPECT_STREQ(p, L"first");
    ASSERT_TRUE(s->writeBool(1, 1, true));
    EXPECT_EQ(s->cellType(1, 1), xls::Sheet::CELLTYPE_BOOLEAN);
    EXPECT_EQ(s->readNum(1, 1), 1);
    ASSERT_TRUE(s->writeStr(1, 1, L"second"));
    EXPECT_STREQ(s->readStr(1, 1), L"second");
    EXPECT_STREQ(p, L"first");
}

TEST(WorkbookInterface, LoadReplacesSheetsButOldPointersStayValid) {
    TempDir dir;
    const std::string path = dir.file("a.xls");
    {
        BookPtr book;
        writeModel(book.get(), historyModel(3, L"FromFile"));
        ASSERT_TRUE(book->save(W(path).c_str()));
    }
    BookPtr book;
    xls::Sheet* old = book->addSheet(L"Old");
    old->writeStr(0, 0, L"old text");
    const wchar_t* p = old->readStr(0, 0);
    ASSERT_TRUE(book->load(W(path).c_str())) << book->errorMessage();
    ASSERT_EQ(book->sheetCount(), 1);
    EXPECT_STREQ(book->getSheet(0)->name(), L"FromFile");
    EXPECT_STREQ(p, L"old text");
    EXPECT_STREQ(old->name(), L"Old");
    const wchar_t* q = book->getSheet(0)->readStr(0, 0);
    ASSERT_TRUE(book->load(W(path).c_str()));
    EXPECT_STREQ(q, L"VKR-7.5G");
}

TEST(WorkbookInterface, BooksInParallelThreads) {
    TempDir dir;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 10; ++i) {
                const std::string path = dir.file("t" + std::to_string(t) + ".xls");
                xls::Book* b = xlCreateBookW();
                xls::Sheet* s = b->addSheet(L"Sheet1");
                for (int r = 0; r < 200; ++r) {
                    s->writeNum(r, 0, r + t);
                    s->writeStr(r, 1, (L"t" + std::to_wstring(t)).c_str());
                    s->writeBool(r, 2, r % 2);
                }
                if (!b->save(W(path).c_str())) ++failures;
                b->release();
                b = xlCreateBookW();
                if (!b->load(W(path).c_str()) || b->getSheet(0)->readNum(199, 0) != 199 + t ||
                    !b->getSheet(0)->readBool(199, 2))
                    ++failures;
                b->release();
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(failures.load(), 0);
}

// ---------------------------------------------------------------------------
// Saving

namespace {

std::vector<std::string> listDir(const std::string& path) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(path.c_str())) {
        while (dirent* e = ::readdir(d))
            if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, "..")) names.push_back(e->d_name);
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

TEST(WorkbookSave, ReplacesTheFileKeepsItsModeAndLeavesNoTemporaryFile) {
    TempDir dir;
    const std::string path = dir.file("target.xls");
    writeBytes(path, {'o', 'l', 'd'});
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    BookPtr book;
    writeModel(book.get(), historyModel(10));
    ASSERT_TRUE(book->save(W(path).c_str())) << book->errorMessage();
    struct stat st;
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(listDir(dir.path()), std::vector<std::string>{"target.xls"});
    BookPtr back;
    EXPECT_TRUE(back->load(W(path).c_str())) << back->errorMessage();
}

TEST(WorkbookSave, FailuresLeaveTheOldFile) {
    TempDir dir;
    const std::string path = dir.file("keep.xls");
    {
        BookPtr book;
        writeModel(book.get(), historyModel(5));
        ASSERT_TRUE(book->save(W(path).c_str()));
    }
    const std::vector<std::uint8_t> before = readBytes(path);

    BookPtr empty;
    EXPECT_FALSE(empty->save(W(path).c_str()));
    EXPECT_STREQ(empty->errorMessage(), "the workbook has no sheets");

    BookPtr book;
    writeModel(book.get(), historyModel(5000));
    EXPECT_FALSE(book->save(W(dir.file("no/such/folder/x.xls")).c_str()));
    EXPECT_STRNE(book->errorMessage(), "");
    EXPECT_FALSE(book->save(W(dir.path()).c_str()));  // a folder
    EXPECT_FALSE(book->save(nullptr));

    // A write that fails half-way (file size limit) in a child process.
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        struct rlimit lim = {64 * 1024, 64 * 1024};
        ::setrlimit(RLIMIT_FSIZE, &lim);
        ::_exit(book->save(W(path).c_str()) ? 1 : 0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the save should have failed";
    EXPECT_TRUE(readBytes(path) == before);
    EXPECT_EQ(listDir(dir.path()), std::vector<std::string>{"keep.xls"});
}

TEST(WorkbookSave, UnicodePaths) {
    TempDir dir;
    const std::string folder = dir.file("测试 ü");
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    const std::wstring path = W(folder + "/历史 1.xls");
    BookPtr book;
    writeModel(book.get(), historyModel(2));
    ASSERT_TRUE(book->save(path.c_str())) << book->errorMessage();
    BookPtr back;
    ASSERT_TRUE(back->load(path.c_str())) << back->errorMessage();
    EXPECT_STREQ(back->getSheet(0)->readStr(0, 0), L"VKR-7.5G");
    const wchar_t bad[] = {L'a', static_cast<wchar_t>(0xD800), L'.', L'x', 0};  // a lone surrogate
    EXPECT_FALSE(back->save(bad));
}
