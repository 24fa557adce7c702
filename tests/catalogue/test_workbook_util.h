// Helpers shared by the workbook tests: a plain model of a workbook's cells,
// writing it through the layer, reading it back through the layer and through
// xlrd (tests/catalogue/workbook_xlrd.py under Debian's /usr/bin/python3),
// comparing, and temporary folders.
#pragma once

#include "Workbook.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <ftw.h>
#include <sys/wait.h>
#include <unistd.h>

#ifndef WORKBOOK_XLRD_SCRIPT
#error "WORKBOOK_XLRD_SCRIPT must name tests/catalogue/workbook_xlrd.py"
#endif

namespace wbtest {

inline const char* kPython = "/usr/bin/python3";  // Debian's, with python3-xlrd and python3-xlwt

// --- text ------------------------------------------------------------------

inline std::wstring W(const std::string& s) {
    std::wstring out;
    for (std::size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        int n = c < 0x80 ? 0 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
        std::uint32_t v = n == 0 ? c : (c & (0x3F >> n));
        for (int k = 1; k <= n && i + k < s.size(); ++k) v = (v << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        out.push_back(static_cast<wchar_t>(v));
        i += static_cast<std::size_t>(n) + 1;
    }
    return out;
}

inline std::string U8(const std::wstring& s) {
    std::string out;
    for (wchar_t wc : s) {
        auto c = static_cast<std::uint32_t>(wc);
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

inline std::string fromHex(const std::string& h) {
    if (h == "-") return {};
    std::string out;
    for (std::size_t i = 0; i + 1 < h.size(); i += 2) out.push_back(static_cast<char>(std::stoi(h.substr(i, 2), nullptr, 16)));
    return out;
}

// --- model -----------------------------------------------------------------

struct Val {
    char kind = 0;  // 'T' text, 'N' number, 'B' boolean, 'E' error
    std::wstring text;
    double num = 0;
    int code = 0;  // boolean 0/1, error code
};
inline Val T(const std::wstring& s) { return Val{'T', s, 0, 0}; }
inline Val N(double v) { return Val{'N', {}, v, 0}; }
inline Val B(bool b) { return Val{'B', {}, 0, b ? 1 : 0}; }

inline std::ostream& operator<<(std::ostream& o, const Val& v) {
    switch (v.kind) {
    case 'T': return o << "text \"" << (v.text.size() > 60 ? U8(v.text.substr(0, 60)) + "..." : U8(v.text)) << "\" ("
                       << v.text.size() << " chars)";
    case 'N': {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.17g", v.num);
        return o << "number " << buf;
    }
    case 'B': return o << "boolean " << v.code;
    case 'E': return o << "error " << v.code;
    default: return o << "empty";
    }
}

using CellMap = std::map<std::pair<int, int>, Val>;
struct SheetModel {
    std::wstring name;
    CellMap cells;
};
using BookModel = std::vector<SheetModel>;

inline void writeModel(xls::Book* book, const BookModel& model) {
    for (const auto& s : model) {
        xls::Sheet* sh = book->addSheet(s.name.c_str());
        ASSERT_NE(sh, nullptr) << U8(s.name);
        for (const auto& [rc, v] : s.cells) {
            bool ok = false;
            switch (v.kind) {
            case 'T': ok = sh->writeStr(rc.first, rc.second, v.text.c_str()); break;
            case 'N': ok = sh->writeNum(rc.first, rc.second, v.num); break;
            case 'B': ok = sh->writeBool(rc.first, rc.second, v.code != 0); break;
            }
            ASSERT_TRUE(ok) << "row " << rc.first << " col " << rc.second;
        }
    }
}

inline BookModel readLayer(xls::Book* book) {
    BookModel out;
    for (int i = 0; i < book->sheetCount(); ++i) {
        xls::Sheet* sh = book->getSheet(i);
        SheetModel m{sh->name(), {}};
        for (int r = 0; r < sh->lastRow(); ++r) {
            for (int c = 0; c < sh->lastCol(); ++c) {
                switch (sh->cellType(r, c)) {
                case xls::Sheet::CELLTYPE_STRING: m.cells[{r, c}] = T(sh->readStr(r, c)); break;
                case xls::Sheet::CELLTYPE_NUMBER: m.cells[{r, c}] = N(sh->readNum(r, c)); break;
                case xls::Sheet::CELLTYPE_BOOLEAN: m.cells[{r, c}] = B(sh->readBool(r, c)); break;
                case xls::Sheet::CELLTYPE_ERROR: m.cells[{r, c}] = Val{'E', {}, 0, -1}; break;
                default: break;
                }
            }
        }
        out.push_back(std::move(m));
    }
    return out;
}

inline bool sameNumber(double a, double b, double tolerance) {
    if (tolerance == 0) return a == b && std::signbit(a) == std::signbit(b);
    return std::fabs(a - b) <= tolerance;
}

// Compares two models cell by cell (at most 20 differences reported).
// Error codes are compared only when both sides know them (>= 0).
inline void expectSame(const BookModel& want, const BookModel& got, const std::string& what, double tolerance = 0) {
    ASSERT_EQ(want.size(), got.size()) << what << ": sheet count";
    int reported = 0;
    for (std::size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(U8(want[i].name), U8(got[i].name)) << what << ": name of sheet " << i;
        const CellMap& a = want[i].cells;
        const CellMap& b = got[i].cells;
        EXPECT_EQ(a.size(), b.size()) << what << ": cells in sheet " << i;
        for (const auto& [rc, v] : a) {
            auto it = b.find(rc);
            bool same = it != b.end() && it->second.kind == v.kind;
            if (same) {
                const Val& g = it->second;
                if (v.kind == 'T') same = v.text == g.text;
                else if (v.kind == 'N') same = sameNumber(v.num, g.num, tolerance);
                else if (v.kind == 'B') same = v.code == g.code;
                else if (v.kind == 'E') same = v.code < 0 || g.code < 0 || v.code == g.code;
            }
            if (!same && reported++ < 20) {
                ADD_FAILURE() << what << ": sheet " << i << " row " << rc.first << " col " << rc.second << ": want " << v
                              << ", got " << (it == b.end() ? Val{} : it->second);
            }
        }
        for (const auto& [rc, v] : b) {
            if (!a.count(rc) && reported++ < 20)
                ADD_FAILURE() << what << ": sheet " << i << " row " << rc.first << " col " << rc.second
                              << ": unexpected " << v;
        }
    }
}

// --- processes -------------------------------------------------------------

inline std::string quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) {
        if (c == '\'') q += "'\\''";
        else q += c;
    }
    return q + "'";
}

// Runs the helper script with `args`; stdout into `out`; true on exit code 0.
inline bool runScript(const std::string& args, std::string& out) {
    std::string cmd = std::string(kPython) + " " + quote(WORKBOOK_XLRD_SCRIPT) + " " + args;
    out.clear();
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return false;
    char buf[65536];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    int st = ::pclose(p);
    return WIFEXITED(st) && WEXITSTATUS(st) == 0;
}

struct Dump {
    std::vector<std::string> warnings;
    BookModel book;
    std::vector<std::pair<int, int>> extents;  // xlrd's nrows, ncols per sheet
};

// The workbook at `path` as xlrd reads it.
inline bool xlrdDump(const std::string& path, Dump& dump) {
    std::string out;
    if (!runScript("dump " + quote(path), out)) return false;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream f(line);
        std::string tag;
        f >> tag;
        if (tag == "W") {
            std::string h;
            f >> h;
            dump.warnings.push_back(fromHex(h));
        } else if (tag == "S") {
            int idx, nr, nc;
            std::string h;
            f >> idx >> h >> nr >> nc;
            dump.book.push_back({W(fromHex(h)), {}});
            dump.extents.emplace_back(nr, nc);
        } else if (tag == "C") {
            int s, r, c;
            std::string k, v;
            f >> s >> r >> c >> k >> v;
            Val val;
            val.kind = k[0];
            if (val.kind == 'T') val.text = W(fromHex(v));
            else if (val.kind == 'N') val.num = std::strtod(v.c_str(), nullptr);
            else val.code = std::atoi(v.c_str());
            dump.book.at(static_cast<std::size_t>(s)).cells[{r, c}] = val;
        }
    }
    return true;
}

// --- files -----------------------------------------------------------------

class TempDir {
public:
    TempDir() {
        std::string base = ::testing::TempDir();
        if (base.empty() || base.back() != '/') base += '/';
        std::string tmpl = base + "test_workbook_XXXXXX";
        std::vector<char> buf(tmpl.begin(), tmpl.end());
        buf.push_back(0);
        if (::mkdtemp(buf.data())) path_ = buf.data();
    }
    ~TempDir() {
        if (!path_.empty())
            ::nftw(path_.c_str(), [](const char* p, const struct stat*, int, struct FTW*) { return ::remove(p); }, 16,
                   FTW_DEPTH | FTW_PHYS);
    }
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

inline std::vector<std::uint8_t> readBytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

inline void writeBytes(const std::string& path, const std::vector<std::uint8_t>& data) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

// A book that is released at the end of the scope.
struct BookPtr {
    xls::Book* b = xlCreateBookW();
    ~BookPtr() {
        if (b) b->release();
    }
    xls::Book* operator->() const { return b; }
    xls::Book* get() const { return b; }
};

}  // namespace wbtest
