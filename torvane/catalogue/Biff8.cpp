// The workbook stream (BIFF8): see Biff8.h.
//
// The globals written are those Excel writes for a new workbook (and needs
// to open a file without repair): BOF, CODEPAGE 1200, WINDOW1, five FONTs
// (index 4 is never used), 15 style XFs + the default cell XF 15 + the 5 XFs
// of the built-in styles, the 6 STYLE records, one BOUNDSHEET per sheet, SST
// with its CONTINUE records and EXTSST, EOF. Each worksheet has BOF, the
// calculation and page records, DIMENSIONS, ROW records before each block of
// up to 32 rows, the cells (LABELSST, RK/MULRK, NUMBER, BOOLERR), WINDOW2,
// EOF. All cells use XF 15.
#include "Biff8.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace xls::biff8 {

namespace {

constexpr std::size_t kMaxRecordData = 8224;  // BIFF8 record data limit
constexpr std::uint16_t kCellXf = 15;


// Record codes.
enum : std::uint16_t {
    kBOF = 0x0809, kEOF = 0x000A, kCONTINUE = 0x003C, kSST = 0x00FC, kEXTSST = 0x00FF,
    kBOUNDSHEET = 0x0085, kLABELSST = 0x00FD, kNUMBER = 0x0203, kRK = 0x027E, kMULRK = 0x00BD,
    kBOOLERR = 0x0205, kFORMULA = 0x0006, kFILEPASS = 0x002F, kROW = 0x0208, kDIMENSIONS = 0x0200,
    kWINDOW2 = 0x023E, kSTRING = 0x0207, kBLANK = 0x0201, kLABEL = 0x0204, kFORMAT = 0x041E,
};

// Appends little-endian fields to a byte buffer, sized once from an upper
// bound of the stream (growing by doubling should the bound be short);
// finish() cuts it to the bytes written.
class Out {
public:
    Out(std::vector<std::uint8_t>& buf, std::size_t bound) : b_(buf) { b_.resize(bound); }

    std::size_t pos() const { return pos_; }
    void finish() { b_.resize(pos_); }

    void u8(unsigned v) { *take(1) = static_cast<std::uint8_t>(v); }
    void u16(unsigned v) {
        std::uint8_t* p = take(2);
        p[0] = static_cast<std::uint8_t>(v);
        p[1] = static_cast<std::uint8_t>(v >> 8);
    }
    void u32(std::uint32_t v) {
        std::uint8_t* p = take(4);
        p[0] = static_cast<std::uint8_t>(v);
        p[1] = static_cast<std::uint8_t>(v >> 8);
        p[2] = static_cast<std::uint8_t>(v >> 16);
        p[3] = static_cast<std::uint8_t>(v >> 24);
    }
    void f64(double v) {
        std::uint64_t bits;
        std::memcpy(&bits, &v, 8);
        u32(static_cast<std::uint32_t>(bits));
        u32(static_cast<std::uint32_t>(bits >> 32));
    }
    void bytes(const void* p, std::size_t n) { std::memcpy(take(n), p, n); }
    void patch32(std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) b_[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
    void patch16(std::size_t at, unsigned v) {
        b_[at] = static_cast<std::uint8_t>(v);
        b_[at + 1] = static_cast<std::uint8_t>(v >> 8);
    }
    // A record of known length: header, then the caller writes `len` bytes.
    void rec(std::uint16_t code, std::size_t len) {
        reserve(4 + len);
        u16(code);
        u16(static_cast<unsigned>(len));
    }
    void rec16(std::uint16_t code, unsigned v) {
        rec(code, 2);
        u16(v);
    }

    // A record whose length is patched when it ends (SST and CONTINUE).
    void begin(std::uint16_t code) {
        start_ = pos();
        rec(code, 0);
    }
    std::size_t dataLen() const { return pos() - start_ - 4; }
    std::size_t room() const { return kMaxRecordData - dataLen(); }
    std::size_t recordStart() const { return start_; }
    void end() { patch16(start_ + 2, static_cast<unsigned>(dataLen())); }

private:
    void reserve(std::size_t n) {
        if (pos_ + n > b_.size()) b_.resize(std::max(2 * b_.size(), pos_ + n));
    }
    std::uint8_t* take(std::size_t n) {
        reserve(n);
        std::uint8_t* p = b_.data() + pos_;
        pos_ += n;
        return p;
    }

    std::vector<std::uint8_t>& b_;
    std::size_t pos_ = 0;
    std::size_t start_ = 0;
};

bool isCompressible(const std::u16string& s) {
    for (char16_t c : s)
        if (c > 0xFF) return false;
    return true;
}

void chars(Out& o, const std::u16string& s, std::size_t from, std::size_t n, bool wide) {
    for (std::size_t i = from; i < from + n; ++i) {
        if (wide) o.u16(s[i]);
        else o.u8(s[i]);
    }
}

// A short unicode string with an 8-bit length (sheet names, fonts).
void shortString(Out& o, const std::u16string& s) {
    bool wide = !isCompressible(s);
    o.u8(static_cast<unsigned>(s.size()));
    o.u8(wide ? 1 : 0);
    chars(o, s, 0, s.size(), wide);
}
std::size_t shortStringSize(const std::u16string& s) { return 2 + s.size() * (isCompressible(s) ? 1 : 2); }

void bof(Out& o, unsigned type) {
    o.rec(kBOF, 16);
    o.u16(0x0600);  // BIFF8
    o.u16(type);    // 0x0005 globals, 0x0010 worksheet
    o.u16(0x0DBB);  // build
    o.u16(0x07CC);  // year
    o.u32(0);       // file history flags
    o.u32(0x0006);  // lowest BIFF version that can read all records
}

void globalsHead(Out& o, std::size_t sheetCount) {
    bof(o, 0x0005);
    o.rec16(0x00E1, 0x04B0);  // INTERFACEHDR: code page UTF-16
    o.rec16(0x00C1, 0);       // MMS
    o.rec(0x00E2, 0);         // INTERFACEEND
    {                         // WRITEACCESS: user name, padded with spaces to 112 bytes
        static const char user[] = "Torvane";
        o.rec(0x005C, 112);
        o.u16(sizeof user - 1);
        o.u8(0);
        o.bytes(user, sizeof user - 1);
        for (std::size_t i = 3 + sizeof user - 1; i < 112; ++i) o.u8(' ');
    }
    o.rec16(0x0042, 0x04B0);  // CODEPAGE: UTF-16
    o.rec16(0x0161, 0);       // DSF
    if (sheetCount * 2 <= kMaxRecordData) {  // TABID
        o.rec(0x013D, sheetCount * 2);
        for (std::size_t i = 0; i < sheetCount; ++i) o.u16(static_cast<unsigned>(i + 1));
    }
    o.rec16(0x009C, 0x000E);  // FNGROUPCOUNT
    o.rec16(0x0019, 0);       // WINDOWPROTECT
    o.rec16(0x0012, 0);       // PROTECT
    o.rec16(0x0013, 0);       // PASSWORD
    o.rec16(0x01AF, 0);       // PROT4REV
    o.rec16(0x01BC, 0);       // PROT4REVPASS
    o.rec16(0x0040, 0);       // BACKUP
    o.rec16(0x008D, 0);       // HIDEOBJ
    o.rec(0x003D, 18);        // WINDOW1
    o.u16(0x01E0);            // window position and size (twips)
    o.u16(0x005A);
    o.u16(0x3FCF);
    o.u16(0x2A4E);
    o.u16(0x0038);  // show horizontal scroll bar, vertical scroll bar, tabs
    o.u16(0);       // active sheet
    o.u16(0);       // first visible tab
    o.u16(1);       // selected sheets
    o.u16(0x0258);  // tab bar width ratio
    o.rec16(0x0022, 0);  // DATEMODE: 1900
    o.rec16(0x000E, 1);  // PRECISION: as displayed off
    o.rec16(0x01B7, 0);  // REFRESHALL
    o.rec16(0x00DA, 0);  // BOOKBOOL

    // FONT: Arial 10 pt, five times (indices 0-3 and 5).
    static const std::u16string arial = u"Arial";
    for (int i = 0; i < 5; ++i) {
        o.rec(0x0031, 14 + shortStringSize(arial));
        o.u16(200);     // height in twips
        o.u16(0);       // attributes
        o.u16(0x7FFF);  // colour: automatic
        o.u16(400);     // weight: normal
        o.u16(0);       // escapement
        o.u8(0);        // underline
        o.u8(0);        // family
        o.u8(0);        // character set
        o.u8(0);
        shortString(o, arial);
    }

    // XF: 0 Normal style; 1-14 style XFs; 15 default cell XF; 16-20 the
    // built-in number styles (Comma, Comma [0], Currency, Currency [0], Percent).
    auto xf = [&](unsigned font, unsigned format, unsigned typeProt, unsigned usedAttr) {
        o.rec(0x00E0, 20);
        o.u16(font);
        o.u16(format);
        o.u16(typeProt);  // locked; style flag and parent XF
        o.u8(0x20);       // aligned bottom
        o.u8(0);          // rotation
        o.u8(0);          // indent, shrink, direction
        o.u8(usedAttr);   // attribute groups
        o.u32(0);         // borders
        o.u32(0);         // border colours, fill pattern
        o.u16(0x20C0);    // fill colours: system foreground / background
    };
    xf(0, 0, 0xFFF5, 0x00);
    for (int i = 1; i <= 14; ++i) xf(i <= 2 ? 1 : (i <= 4 ? 2 : 0), 0, 0xFFF5, 0xF4);
    xf(0, 0, 0x0001, 0x00);
    static const unsigned styleFormats[5] = {0x2B, 0x29, 0x2C, 0x2A, 0x09};
    for (unsigned f : styleFormats) xf(1, f, 0xFFF5, 0xF8);

    // STYLE: built-in styles bound to XFs 0 and 16-20 (index | 0x8000, id, level).
    static const unsigned styles[6][2] = {{0x00, 0}, {0x10, 3}, {0x11, 6}, {0x12, 4}, {0x13, 7}, {0x14, 5}};
    for (const auto& s : styles) {
        o.rec(0x0293, 4);
        o.u16(0x8000 | s[0]);
        o.u8(s[1]);
        o.u8(0xFF);
    }
    o.rec16(0x0160, 1);  // USESELFS
}

// SST with CONTINUE records, then EXTSST. A string's header (length and
// flags) never splits; its characters may, and each CONTINUE that carries
// the rest of a string starts with the flags byte again. A UTF-16 character
// never splits. FreeXL 1.0.6 follows a string into one CONTINUE record only,
// so a string that would need two goes to a new CONTINUE record first (with
// texts of at most kMaxSharedTextUnits every string then splits at most once).
void sharedStrings(Out& o, const SstOut& sst) {
    const std::size_t unique = sst.texts.size();
    const std::size_t perBucket = std::max<std::size_t>(8, unique / 128 + 1);
    std::vector<std::pair<std::uint32_t, std::uint16_t>> buckets;  // stream position, offset in record
    buckets.reserve(unique / perBucket + 1);

    o.begin(kSST);
    o.u32(sst.totalRefs);
    o.u32(static_cast<std::uint32_t>(unique));
    std::u16string s;
    for (std::size_t k = 0; k < unique; ++k) {
        toUtf16(*sst.texts[k], s);
        const bool wide = !isCompressible(s);
        const std::size_t cs = wide ? 2 : 1;
        const std::size_t bytes = s.size() * cs;
        bool fresh = o.room() < 3 + cs;  // header and one character
        if (!fresh && 3 + bytes > o.room()) {
            const std::size_t rest = bytes - (o.room() - 3) / cs * cs;
            fresh = 1 + rest > kMaxRecordData;
        }
        if (fresh) {
            o.end();
            o.begin(kCONTINUE);
        }
        if (k % perBucket == 0)
            buckets.emplace_back(static_cast<std::uint32_t>(o.pos()),
                                 static_cast<std::uint16_t>(o.pos() - o.recordStart()));
        o.u16(static_cast<unsigned>(s.size()));
        o.u8(wide ? 1 : 0);
        std::size_t done = 0;
        while (done < s.size()) {
            std::size_t n = std::min(o.room() / cs, s.size() - done);
            if (n == 0) {
                o.end();
                o.begin(kCONTINUE);
                o.u8(wide ? 1 : 0);
                continue;
            }
            chars(o, s, done, n, wide);
            done += n;
        }
    }
    o.end();

    o.rec(kEXTSST, 2 + 8 * buckets.size());
    o.u16(static_cast<unsigned>(perBucket));
    for (const auto& b : buckets) {
        o.u32(b.first);
        o.u16(b.second);
        o.u16(0);
    }
}

// RK: a 30-bit integer, a double whose low 34 bits are zero, or either of
// them divided by 100. Only encodings that decode to exactly `v` are used.
bool encodeRk(double v, std::uint32_t& rk) {
    if (!std::isfinite(v) || (v == 0 && std::signbit(v))) return false;
    constexpr double lo = -536870912.0, hi = 536870911.0;
    if (v == std::floor(v) && v >= lo && v <= hi) {
        rk = (static_cast<std::uint32_t>(static_cast<std::int32_t>(v)) << 2) | 2u;
        return true;
    }
    std::uint64_t bits;
    std::memcpy(&bits, &v, 8);
    if ((bits & 0x3FFFFFFFFull) == 0) {
        rk = static_cast<std::uint32_t>(bits >> 32);
        return true;
    }
    double h = v * 100.0;
    if (h == std::floor(h) && h >= lo && h <= hi) {
        auto i = static_cast<std::int32_t>(h);
        if (static_cast<double>(i) / 100.0 == v) {
            rk = (static_cast<std::uint32_t>(i) << 2) | 3u;
            return true;
        }
    }
    return false;
}

struct SheetExtent {
    std::uint32_t firstRow = 0, lastRow = 0;  // lastRow: one past
    std::uint16_t firstCol = 0, lastCol = 0;
};

// First and one-past-last column with a cell; false for an empty row.
bool rowExtent(const std::vector<Cell>& row, std::uint16_t& first, std::uint16_t& last) {
    std::size_t a = 0, b = row.size();
    while (a < b && row[a].kind == kEmpty) ++a;
    while (b > a && row[b - 1].kind == kEmpty) --b;
    if (a == b) return false;
    first = static_cast<std::uint16_t>(a);
    last = static_cast<std::uint16_t>(b);
    return true;
}

SheetExtent extent(const Rows& rows) {
    SheetExtent e;
    bool any = false;
    std::uint16_t minCol = 0xFFFF, maxCol = 0;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        std::uint16_t a, b;
        if (!rowExtent(rows[r], a, b)) continue;
        if (!any) e.firstRow = static_cast<std::uint32_t>(r);
        any = true;
        e.lastRow = static_cast<std::uint32_t>(r + 1);
        minCol = std::min(minCol, a);
        maxCol = std::max(maxCol, b);
    }
    if (any) {
        e.firstCol = minCol;
        e.lastCol = maxCol;
    }
    return e;
}

void rowCells(Out& o, unsigned r, const std::vector<Cell>& row, const SstOut& sst) {
    std::size_t c = 0;
    std::uint32_t rk[256];
    while (c < row.size()) {
        const Cell& cell = row[c];
        switch (cell.kind) {
        case kEmpty:
            ++c;
            break;
        case kString:
            if (sst.poolToSst[cell.str] == kNotShared) {  // an empty text
                o.rec(kBLANK, 6);
                o.u16(r);
                o.u16(static_cast<unsigned>(c));
                o.u16(kCellXf);
            } else {
                o.rec(kLABELSST, 10);
                o.u16(r);
                o.u16(static_cast<unsigned>(c));
                o.u16(kCellXf);
                o.u32(sst.poolToSst[cell.str]);
            }
            ++c;
            break;
        case kBool:
        case kError:
            o.rec(kBOOLERR, 8);
            o.u16(r);
            o.u16(static_cast<unsigned>(c));
            o.u16(kCellXf);
            o.u8(cell.code);
            o.u8(cell.kind == kError ? 1 : 0);
            ++c;
            break;
        case kNumber: {
            // A run of RK-encodable numbers becomes one MULRK (or one RK).
            std::size_t n = 0;
            while (c + n < row.size() && row[c + n].kind == kNumber && encodeRk(row[c + n].num, rk[n])) ++n;
            if (n == 0) {
                o.rec(kNUMBER, 14);
                o.u16(r);
                o.u16(static_cast<unsigned>(c));
                o.u16(kCellXf);
                o.f64(cell.num);
                ++c;
            } else if (n == 1) {
                o.rec(kRK, 10);
                o.u16(r);
                o.u16(static_cast<unsigned>(c));
                o.u16(kCellXf);
                o.u32(rk[0]);
                ++c;
            } else {
                o.rec(kMULRK, 6 + 6 * n);
                o.u16(r);
                o.u16(static_cast<unsigned>(c));
                for (std::size_t i = 0; i < n; ++i) {
                    o.u16(kCellXf);
                    o.u32(rk[i]);
                }
                o.u16(static_cast<unsigned>(c + n - 1));
                c += n;
            }
            break;
        }
        }
    }
}

void worksheet(Out& o, const Rows& rows, bool first, const SstOut& sst) {
    bof(o, 0x0010);
    o.rec16(0x000D, 1);    // CALCMODE: automatic
    o.rec16(0x000C, 100);  // CALCCOUNT
    o.rec16(0x000F, 1);    // REFMODE: A1
    o.rec16(0x0011, 0);    // ITERATION
    o.rec(0x0010, 8);      // DELTA
    o.f64(0.001);
    o.rec16(0x005F, 1);  // SAVERECALC
    o.rec16(0x002A, 0);  // PRINTHEADERS
    o.rec16(0x002B, 0);  // PRINTGRIDLINES
    o.rec16(0x0082, 1);  // GRIDSET
    o.rec(0x0080, 8);    // GUTS
    o.u32(0);
    o.u32(0);
    o.rec(0x0225, 4);  // DEFAULTROWHEIGHT
    o.u16(0);
    o.u16(0x00FF);
    o.rec16(0x0081, 0x04C1);  // WSBOOL
    o.rec16(0x0055, 8);       // DEFCOLWIDTH

    const SheetExtent e = extent(rows);
    o.rec(kDIMENSIONS, 14);
    o.u32(e.firstRow);
    o.u32(e.lastRow);
    o.u16(e.firstCol);
    o.u16(e.lastCol);
    o.u16(0);

    // Blocks of 32 rows: the ROW records, then the cells of those rows.
    for (std::size_t blk = e.firstRow; blk < e.lastRow; blk += 32) {
        const std::size_t end = std::min<std::size_t>(blk + 32, e.lastRow);
        for (std::size_t r = blk; r < end; ++r) {
            std::uint16_t a, b;
            if (!rowExtent(rows[r], a, b)) continue;
            o.rec(kROW, 16);
            o.u16(static_cast<unsigned>(r));
            o.u16(a);
            o.u16(b);
            o.u16(0x00FF);  // height: default
            o.u16(0);
            o.u16(0);
            o.u16(0x0100);
            o.u16(kCellXf);
        }
        for (std::size_t r = blk; r < end; ++r) rowCells(o, static_cast<unsigned>(r), rows[r], sst);
    }

    o.rec(kWINDOW2, 18);
    // Grid lines, headers, zeros, automatic grid colour, outline symbols;
    // the first sheet is the selected and active one.
    o.u16(first ? 0x06B6 : 0x00B6);
    o.u16(0);     // top row
    o.u16(0);     // left column
    o.u16(0x40);  // grid colour
    o.u16(0);
    o.u16(0);  // zoom in page break preview: default
    o.u16(0);  // zoom in normal view: default
    o.u32(0);
    o.rec(kEOF, 0);
}

}  // namespace

void toUtf16(const std::wstring& text, std::u16string& out) {
    out.clear();
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::uint32_t c = static_cast<std::uint32_t>(text[i]);
        if constexpr (sizeof(wchar_t) == 2) {
            // Already UTF-16: keep pairs, replace lone surrogates.
            if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) {
                std::uint32_t d = static_cast<std::uint32_t>(text[i + 1]);
                if (d >= 0xDC00 && d <= 0xDFFF) {
                    out.push_back(static_cast<char16_t>(c));
                    out.push_back(static_cast<char16_t>(d));
                    ++i;
                    continue;
                }
            }
            out.push_back(c >= 0xD800 && c <= 0xDFFF ? u'\uFFFD' : static_cast<char16_t>(c));
        } else {
            if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) {
                out.push_back(u'\uFFFD');
            } else if (c >= 0x10000) {
                c -= 0x10000;
                out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
                out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
            } else {
                out.push_back(static_cast<char16_t>(c));
            }
        }
    }
}

namespace {

// An upper bound of the stream's size: globals, the SST with a CONTINUE
// header per record, per sheet its fixed records, a ROW record per row and
// at most 18 bytes per cell (NUMBER).
std::size_t streamBound(const std::vector<SheetOut>& sheets, const SstOut& sst) {
    std::size_t n = 8192 + sst.texts.size() + 16;  // globals, EXTSST
    for (const std::wstring* t : sst.texts) n += 3 + 4 * t->size();  // UTF-16, surrogate pairs
    n += 5 * (n / (kMaxRecordData - 8) + 1);
    for (const SheetOut& s : sheets) {
        n += 512 + 4 * s.name->size();
        n += 20 * s.rows->size();
        for (const auto& row : *s.rows) n += 18 * row.size();
    }
    return n;
}

}  // namespace

void writeWorkbookStream(const std::vector<SheetOut>& sheets, const SstOut& sst, std::vector<std::uint8_t>& out) {
    Out o(out, streamBound(sheets, sst));
    globalsHead(o, sheets.size());

    // BOUNDSHEET: the positions of the sheets' BOF records are patched below.
    std::vector<std::size_t> positionFields;
    std::u16string name;
    for (const SheetOut& s : sheets) {
        toUtf16(*s.name, name);
        o.rec(kBOUNDSHEET, 6 + shortStringSize(name));
        positionFields.push_back(o.pos());
        o.u32(0);
        o.u8(0);  // visible
        o.u8(0);  // worksheet
        shortString(o, name);
    }
    o.rec(0x008C, 4);  // COUNTRY
    o.u16(1);
    o.u16(1);
    sharedStrings(o, sst);
    o.rec(kEOF, 0);

    for (std::size_t i = 0; i < sheets.size(); ++i) {
        o.patch32(positionFields[i], static_cast<std::uint32_t>(o.pos()));
        worksheet(o, *sheets[i].rows, i == 0, sst);
    }
    o.finish();
}

namespace {

std::uint16_t get16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t get32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(get16(p)) | (static_cast<std::uint32_t>(get16(p + 2)) << 16);
}

// The name of a BOUNDSHEET record (BIFF8: unicode string; BIFF5: 8-bit,
// taken as Latin-1).
std::wstring sheetName(const std::uint8_t* d, std::size_t len, bool biff8) {
    std::wstring name;
    if (len < 7) return name;
    std::size_t cch = d[6];
    if (!biff8) {
        for (std::size_t i = 0; i < cch && 7 + i < len; ++i) name.push_back(static_cast<wchar_t>(d[7 + i]));
        return name;
    }
    if (len < 8) return name;
    bool wide = d[7] & 1;
    for (std::size_t i = 0; i < cch; ++i) {
        std::size_t at = 8 + i * (wide ? 2 : 1);
        if (at + (wide ? 2 : 1) > len) break;
        name.push_back(static_cast<wchar_t>(wide ? get16(d + at) : d[at]));
    }
    return name;
}

// The text of a STRING record (BIFF8: unicode string with a 16-bit length;
// BIFF5: 8-bit, taken as Latin-1). Characters in a CONTINUE record are left out.
std::wstring formulaText(const std::uint8_t* d, std::size_t len, bool biff8) {
    std::wstring text;
    if (len < 2) return text;
    const std::size_t cch = get16(d);
    std::size_t at = 2, step = 1;
    if (biff8) {
        if (len < 3) return text;
        step = (d[2] & 1) ? 2 : 1;
        at = 3;
    }
    std::u16string units;
    for (std::size_t i = 0; i < cch && at + step <= len; ++i, at += step)
        units.push_back(step == 2 ? static_cast<char16_t>(get16(d + at)) : static_cast<char16_t>(d[at]));
    for (std::size_t i = 0; i < units.size(); ++i) {
        std::uint32_t c = units[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00u);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if constexpr (sizeof(wchar_t) == 2) {
            if (c >= 0x10000) {
                text.push_back(static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10)));
                text.push_back(static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
                continue;
            }
        }
        text.push_back(static_cast<wchar_t>(c));
    }
    return text;
}

// Follows SST and its CONTINUE records the way FreeXL 1.0.6 parses them and
// refuses what would make it read outside a record: a string header or its
// rich-text and phonetic sizes across a record end, a string whose rest does
// not fit in the next record, a UTF-16 character split, an empty string
// (which FreeXL refuses anyway).
class SstGuard {
public:
    bool record(const std::uint8_t* r, std::size_t size, bool first, std::string& error) {
        std::size_t p = 0;
        if (first) {
            if (seen_) return fail(error, "the workbook has two shared string tables");
            seen_ = true;
            if (size < 8) return fail(error, "the shared string table is cut short");
            count_ = get32(r + 4);
            p = 8;
        } else if (suspended_) {
            if (size < 1) return fail(error, "a shared string is cut short");
            const std::size_t cs = (r[0] & 1) ? 2 : 1;
            const std::size_t bytes = (curLen_ - curOff_) * cs;
            if (1 + bytes > size) return fail(error, "a shared string spans more than two records");
            p = 1 + bytes + curSkip_;
            suspended_ = false;
            nextSkip_ = 0;  // FreeXL drops a skip that runs past this record
            ++index_;
        }
        while (index_ < count_) {
            if (p >= size) return true;
            p += nextSkip_;
            nextSkip_ = 0;
            if (p + 3 > size) return fail(error, "a shared string header is split");
            const std::size_t cch = get16(r + p);
            const std::uint8_t mask = r[p + 2];
            std::size_t hdr = 3, skip = 0;
            if (mask & 0x08) {
                if (p + hdr + 2 > size) return fail(error, "a shared string header is split");
                skip += 4 * static_cast<std::size_t>(get16(r + p + hdr));
                hdr += 2;
            }
            if (mask & 0x04) {
                if (p + hdr + 4 > size) return fail(error, "a shared string header is split");
                skip += get32(r + p + hdr);
                hdr += 4;
            }
            const std::size_t cs = (mask & 1) ? 2 : 1;
            const std::size_t avail = size - (p + hdr);
            if (cch * cs > avail) {
                if (cs == 2 && (avail & 1)) return fail(error, "a shared string splits a character");
                suspended_ = true;
                curLen_ = cch;
                curOff_ = avail / cs;
                curSkip_ = skip;
                return true;
            }
            if (cch == 0) return fail(error, "the workbook holds an empty shared string, which FreeXL cannot read");
            p += hdr + cch * cs + skip;
            if (p > size) nextSkip_ = p - size;
            ++index_;
        }
        return true;
    }

private:
    static bool fail(std::string& error, const char* why) {
        error = why;
        return false;
    }
    bool seen_ = false, suspended_ = false;
    std::uint32_t count_ = 0, index_ = 0;
    std::size_t curLen_ = 0, curOff_ = 0, curSkip_ = 0, nextSkip_ = 0;
};

// Unicode-string records whose length FreeXL 1.0.6 trusts: the characters of
// a LABEL (BIFF8 and BIFF5) and of a BIFF8 FORMAT must lie inside the record.
bool stringRecordFits(std::uint16_t code, const std::uint8_t* d, std::size_t len, bool biff8) {
    std::size_t at, cch;
    if (code == kLABEL) {
        if (len < 8) return false;
        cch = get16(d + 6);
        at = 8;
        if (!biff8) return at + cch <= len;
    } else {  // BIFF8 FORMAT
        if (len < 4) return false;
        cch = get16(d + 2);
        at = 4;
    }
    if (at + 1 > len) return false;
    const std::uint8_t mask = d[at];
    const std::size_t hdr = 1 + ((mask & 0x08) ? 2 : 0) + ((mask & 0x04) ? 4 : 0);
    return at + hdr + cch * ((mask & 1) ? 2 : 1) <= len;
}

}  // namespace

bool scanWorkbookStream(const std::vector<std::uint8_t>& stream, std::vector<ScannedSheet>& sheets,
                        std::string& error) {
    sheets.clear();
    const std::uint8_t* s = stream.data();
    const std::size_t size = stream.size();
    if (size < 8 || get16(s) != kBOF || get16(s + 2) < 4) {
        error = "the workbook stream does not start with a BOF record";
        return false;
    }
    const std::uint16_t version = get16(s + 4), type = get16(s + 6);
    if ((version != 0x0600 && version != 0x0500) || type != 0x0005) {
        error = "the workbook is not in the Excel 97-2003 (BIFF8) or Excel 95 (BIFF5) format";
        return false;
    }
    const bool biff8 = version == 0x0600;

    // Sheet starts, in stream order, for the single walk below.
    std::vector<std::pair<std::uint32_t, std::size_t>> starts;  // position, sheet index
    std::size_t nextStart = 0;
    long current = -1;  // sheet whose substream the walk is in
    int depth = 0;      // BOF nesting: 1 = the sheet's own records
    bool inGlobals = true;
    std::uint64_t declaredCells = 0;
    long pendingString = -1;  // index of a text formula result waiting for its STRING
    SstGuard sst;
    std::uint16_t previous = 0;  // the last record other than CONTINUE
    bool afterEof = false;       // the previous record was an EOF
    long freexlSheet = -1;       // the sheet FreeXL puts the records into
    std::vector<std::uint8_t> dimensionsSeen;
    std::size_t substreams = 0;  // BOF records after an EOF

    std::size_t pos = 0;
    while (pos + 4 <= size) {
        const std::uint16_t code = get16(s + pos);
        const std::size_t len = get16(s + pos + 2);
        const std::uint8_t* d = s + pos + 4;
        if (!inGlobals) {
            while (nextStart < starts.size() && starts[nextStart].first < pos) ++nextStart;
            if (nextStart < starts.size() && starts[nextStart].first == pos) {
                current = static_cast<long>(starts[nextStart].second);
                depth = 0;
                pendingString = -1;
                ++nextStart;
            }
        }
        if (pos + 4 + len > size) {
            if (inGlobals || depth > 0) {
                error = "the workbook stream is cut short";
                return false;
            }
            break;  // padding after the last sheet
        }
        if (code == kSST || (code == kCONTINUE && previous == kSST)) {
            if (!sst.record(d, len, code == kSST, error)) return false;
        } else if ((code == kLABEL || (code == kFORMAT && biff8)) && !stringRecordFits(code, d, len, biff8)) {
            error = "a text record of the workbook is longer than its record";
            return false;
        }
        if (code != kCONTINUE) previous = code;
        if (inGlobals) {
            if (code == kFILEPASS) {
                error = "the workbook is encrypted";
                return false;
            }
            if (code == kBOUNDSHEET && len >= 6) {
                if (sheets.size() == kMaxSheets) {
                    error = "the workbook has too many sheets";
                    return false;
                }
                sheets.push_back({sheetName(d, len, biff8), d[5], {}});
                starts.emplace_back(get32(d), sheets.size() - 1);
            } else if (code == kEOF) {
                inGlobals = false;
                afterEof = true;
                std::sort(starts.begin(), starts.end());
                dimensionsSeen.assign(sheets.size(), 0);
            }
        } else {
            // FreeXL's sheet: chosen by the BOF that follows an EOF, by its
            // position. FreeXL allocates rows x columns cells for each
            // DIMENSIONS record of that sheet, reading past a short record,
            // and overruns its cells when a second allocation fails.
            if (afterEof && code == kBOF) {
                // FreeXL looks the BOF up in its list of sheets: at most
                // one BOF after an EOF per sheet keeps that from taking
                // sheets x records time.
                if (++substreams > sheets.size()) {
                    error = "the workbook has more sheet substreams than sheets";
                    return false;
                }
                auto it = std::lower_bound(starts.begin(), starts.end(), std::make_pair(static_cast<std::uint32_t>(pos),
                                                                                        std::size_t{0}));
                freexlSheet = it != starts.end() && it->first == pos ? static_cast<long>(it->second) : -1;
            }
            afterEof = code == kEOF;
            if (code == kDIMENSIONS && freexlSheet >= 0) {
                if (len < (biff8 ? 12u : 8u)) {
                    error = "a DIMENSIONS record of the workbook is cut short";
                    return false;
                }
                if (dimensionsSeen[static_cast<std::size_t>(freexlSheet)]++) {
                    error = "a sheet of the workbook has two DIMENSIONS records";
                    return false;
                }
                const std::uint64_t rows = biff8 ? get32(d + 4) : get16(d + 2);
                const std::uint64_t cols = biff8 ? get16(d + 10) : get16(d + 6);
                declaredCells += rows * cols;
                if (declaredCells > kMaxDeclaredCells) {
                    error = "the workbook declares too many cells";
                    return false;
                }
            }
        }
        if (!inGlobals && current >= 0) {
            if (code == kBOF || code == 0x0209 || code == 0x0409 || code == 0x0009) {
                ++depth;
            } else if (code == kEOF) {
                if (--depth <= 0) current = -1;
            } else if (depth == 1 && code == kBOOLERR && len >= 8) {
                sheets[current].cells.push_back({get16(d), get16(d + 2), d[7] ? kError : kBool, d[6], 0, {}});
            } else if (depth == 1 && code == kFORMULA && len >= 20) {
                // The cached result: a number, or (marked by 0xFFFF in its
                // last two bytes) a text in the next STRING record, a
                // boolean, an error, or an empty text.
                auto& cells = sheets[current].cells;
                SpecialCell cell{get16(d), get16(d + 2), kNumber, 0, 0, {}};
                pendingString = -1;
                if (get16(d + 12) != 0xFFFF) {
                    std::memcpy(&cell.num, d + 6, 8);  // little-endian IEEE double
                    if (std::isfinite(cell.num)) cells.push_back(cell);
                } else if (d[6] == 0) {
                    cell.kind = kString;
                    cells.push_back(cell);
                    pendingString = static_cast<long>(cells.size() - 1);
                } else if (d[6] == 1 || d[6] == 2) {
                    cell.kind = d[6] == 1 ? kBool : kError;
                    cell.code = d[8];
                    cells.push_back(cell);
                } else if (d[6] == 3) {
                    cell.kind = kString;
                    cells.push_back(cell);
                }
            } else if (depth == 1 && code == kSTRING && pendingString >= 0) {
                sheets[current].cells[static_cast<std::size_t>(pendingString)].text = formulaText(d, len, biff8);
                pendingString = -1;
            }
        }
        pos += 4 + len;
    }
    if (inGlobals) {
        error = "the workbook stream ends inside its globals";
        return false;
    }
    // FreeXL gives a sheet without DIMENSIONS (a chart sheet, or one whose
    // BOF it does not find) the cells of the last sheet it read, which loses
    // that sheet's data.
    for (std::uint8_t seen : dimensionsSeen) {
        if (!seen) {
            error = "a sheet of the workbook has no DIMENSIONS record (a chart sheet?)";
            return false;
        }
    }
    return true;
}

}  // namespace xls::biff8
