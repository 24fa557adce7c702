// Reading cells of the catalogue workbooks: a workbook handle that is released
// on every path, and the conversions the tables apply to cell texts.
#pragma once

#include "Workbook.h"

#include <string>

namespace cells {

// Owns a workbook from xlCreateBookW() and releases it when it goes.
class BookHandle {
public:
    BookHandle() : book_(xlCreateBookW()) {}
    ~BookHandle()
    {
        if (book_) book_->release();
    }
    BookHandle(const BookHandle&) = delete;
    BookHandle& operator=(const BookHandle&) = delete;

    xls::Book* get() const { return book_; }
    xls::Book* operator->() const { return book_; }
    explicit operator bool() const { return book_ != nullptr; }

private:
    xls::Book* book_;
};

// The cell's text; empty when the cell is empty or holds no text.
std::wstring Text(xls::Sheet* sheet, int row, int col);
// A cell that should hold a number as text, read as an integer (base 10, up to
// the first non-digit). A number cell is taken by its value, truncated.
int IntOf(xls::Sheet* sheet, int row, int col);
// The same as a real number.
double RealOf(xls::Sheet* sheet, int row, int col);
// Truncates a double to int, clamping at the int range (NaN gives 0).
int TruncToInt(double v);

}  // namespace cells
