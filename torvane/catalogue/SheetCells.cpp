#include "SheetCells.h"

#include "WideText.h"

#include <climits>
#include <cmath>

namespace cells {

std::wstring Text(xls::Sheet* sheet, int row, int col)
{
    const wchar_t* t = sheet ? sheet->readStr(row, col) : nullptr;
    return t ? std::wstring(t) : std::wstring();
}

int TruncToInt(double v)
{
    if (std::isnan(v)) return 0;
    if (v >= static_cast<double>(INT_MAX)) return INT_MAX;
    if (v <= static_cast<double>(INT_MIN)) return INT_MIN;
    return static_cast<int>(v);
}

int IntOf(xls::Sheet* sheet, int row, int col)
{
    if (!sheet) return 0;
    if (const wchar_t* t = sheet->readStr(row, col)) return wtext::ParseInt(t);
    if (sheet->cellType(row, col) == xls::Sheet::CELLTYPE_NUMBER) return TruncToInt(sheet->readNum(row, col));
    return 0;
}

double RealOf(xls::Sheet* sheet, int row, int col)
{
    if (!sheet) return 0.0;
    if (const wchar_t* t = sheet->readStr(row, col)) return wtext::ParseReal(t);
    if (sheet->cellType(row, col) == xls::Sheet::CELLTYPE_NUMBER) {
        const double v = sheet->readNum(row, col);
        return std::isfinite(v) ? v : 0.0;
    }
    return 0.0;
}

}  // namespace cells
