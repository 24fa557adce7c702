// Workbooks: any bytes as an .xls file that the program loads (parameter
// tables, language tables, value files, histories all come through here).
//
// Contracts: a failed load says why; a loaded book stays inside the
// format's extent and every cell reads consistently with its kind.
#include "FuzzSupport.h"

#include "Workbook.h"

#include <cstring>
#include <cwchar>

namespace {

const char* const kTarget = "fuzz_workbook";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string path = fuzzkit::WriteInput("book.xls", data, size);
    xls::Book* book = xlCreateBookW();
    FUZZ_CHECK(kTarget, book != nullptr, "no book");
    const bool ok = book->load(fuzzkit::Wide(path).c_str());
    if (!ok) {
        FUZZ_CHECK(kTarget, book->errorMessage() != nullptr && std::strlen(book->errorMessage()) > 0,
                   "a failed load without a reason");
        book->release();
        return 0;
    }
    FUZZ_CHECK(kTarget, book->getSheet(book->sheetCount()) == nullptr, "a sheet past the last");
    FUZZ_CHECK(kTarget, book->getSheet(-1) == nullptr, "a sheet before the first");
    for (int i = 0; i < book->sheetCount(); ++i) {
        xls::Sheet* s = book->getSheet(i);
        FUZZ_CHECK(kTarget, s != nullptr && s->name() != nullptr, "sheet " + std::to_string(i));
        const int rows = s->lastRow();
        const int cols = s->lastCol();
        FUZZ_CHECK(kTarget, rows >= 0 && rows <= 65536 && cols >= 0 && cols <= 256, "extent out of the format");
        // Large sheets: the first rows and columns are enough to touch every
        // kind of cell without making one input take seconds.
        const int rowLimit = rows < 400 ? rows : 400;
        const int colLimit = cols < 64 ? cols : 64;
        for (int r = 0; r < rowLimit; ++r)
            for (int c = 0; c < colLimit; ++c) {
                const xls::Sheet::CellType t = s->cellType(r, c);
                const wchar_t* text = s->readStr(r, c);
                FUZZ_CHECK(kTarget, (text != nullptr) == (t == xls::Sheet::CELLTYPE_STRING),
                           "text and cell kind disagree at " + std::to_string(r) + "," + std::to_string(c));
                if (text != nullptr)
                    (void)std::wcslen(text);
                const double v = s->readNum(r, c);
                if (t == xls::Sheet::CELLTYPE_EMPTY || t == xls::Sheet::CELLTYPE_STRING)
                    FUZZ_CHECK(kTarget, v == 0, "a number in a cell without one");
                (void)s->readBool(r, c);
            }
        // Outside the extent every cell is empty.
        FUZZ_CHECK(kTarget, s->cellType(rows, 0) == xls::Sheet::CELLTYPE_EMPTY, "a cell below the last row");
        FUZZ_CHECK(kTarget, s->readStr(0, cols) == nullptr, "text right of the last column");
    }
    book->release();
    return 0;
}
