// Helpers for the catalogue tests: a private temporary folder per test, small
// workbooks written through the workbook layer, and whole-file text access.
#pragma once

#include "Workbook.h"
#include "WideText.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <variant>
#include <vector>

namespace cattest {

namespace fs = std::filesystem;

// A folder of its own for one test, removed with everything in it.
class TempDir {
public:
    TempDir()
    {
        const char* base = std::getenv("TMPDIR");
        std::string tmpl = std::string(base && *base ? base : "/tmp") + "/torvane-cat-XXXXXX";
        if (!::mkdtemp(tmpl.data())) tmpl.clear();
        path_ = tmpl;
    }
    ~TempDir()
    {
        std::error_code ec;
        if (!path_.empty()) fs::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // The folder as the program folder: wide, with its trailing "/".
    std::wstring folder() const { return wtext::FromUtf8(path_) + L"/"; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    std::wstring wfile(const std::string& name) const { return wtext::FromUtf8(file(name)); }

private:
    std::string path_;
};

using CellValue = std::variant<std::wstring, double, bool>;

struct Cell {
    int row;
    int col;
    CellValue value;
};

struct SheetContent {
    std::wstring name;
    std::vector<Cell> cells;
};

// Writes a workbook with the given sheets (creating its folder); true when it
// was saved. An empty text is written as a text cell holding "", which the
// tables must take like a blank cell.
inline bool WriteBook(const std::string& path, const std::vector<SheetContent>& sheets)
{
    std::error_code ec;
    fs::create_directories(fs::path(path).parent_path(), ec);
    xls::Book* book = xlCreateBookW();
    bool ok = book != nullptr;
    for (const SheetContent& content : sheets) {
        if (!ok) break;
        xls::Sheet* s = book->addSheet(content.name.c_str());
        if (!s) {
            ok = false;
            break;
        }
        for (const Cell& c : content.cells) {
            if (const auto* t = std::get_if<std::wstring>(&c.value)) ok = ok && s->writeStr(c.row, c.col, t->c_str());
            else if (const auto* d = std::get_if<double>(&c.value)) ok = ok && s->writeNum(c.row, c.col, *d);
            else ok = ok && s->writeBool(c.row, c.col, std::get<bool>(c.value));
        }
    }
    if (ok) ok = book->save(wtext::FromUtf8(path).c_str());
    if (book) book->release();
    return ok;
}

inline void WriteText(const std::string& path, const std::string& bytes)
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

inline std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

}  // namespace cattest
