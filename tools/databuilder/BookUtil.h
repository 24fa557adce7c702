// Small helpers around the workbook layer shared by the builder steps.
#pragma once

#include <string>

#include "SourceText.h"
#include "Workbook.h"

namespace databuild {

// Owns one workbook and releases it on every path.
struct BookHolder {
    xls::Book* book = xlCreateBookW();
    BookHolder() = default;
    BookHolder(const BookHolder&) = delete;
    BookHolder& operator=(const BookHolder&) = delete;
    ~BookHolder() {
        if (book) book->release();
    }
};

// Text cell from UTF-8.
inline bool Put(xls::Sheet* s, int row, int col, const std::string& utf8) {
    std::wstring w = Widen(utf8);
    return s->writeStr(row, col, w.c_str());
}

inline bool SaveBook(BookHolder& h, const std::string& path, std::string& error) {
    std::wstring wpath = Widen(path);
    if (!h.book->save(wpath.c_str())) {
        error = path + ": save failed: " + h.book->errorMessage();
        return false;
    }
    return true;
}

}  // namespace databuild
