// Loading a parameter workbook file through the workbook layer. Built only
// when the TorvaneWorkbook library is part of the build (see CMakeLists.txt);
// WorkbookFileStub.cpp stands in otherwise.
#include "Params.h"

#include "../../torvane/catalogue/Workbook.h"

#include <string>

namespace drivesim {

namespace {

std::wstring widen(const std::string& utf8) {
    // Decoded by hand: the process locale may be "C".
    std::wstring out;
    for (std::size_t i = 0; i < utf8.size();) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        unsigned long cp = c;
        int extra = 0;
        if (c >= 0xF0) { cp = c & 0x07; extra = 3; }
        else if (c >= 0xE0) { cp = c & 0x0F; extra = 2; }
        else if (c >= 0xC0) { cp = c & 0x1F; extra = 1; }
        ++i;
        for (int k = 0; k < extra && i < utf8.size(); ++k, ++i)
            cp = (cp << 6) | (static_cast<unsigned char>(utf8[i]) & 0x3F);
        out.push_back(static_cast<wchar_t>(cp));
    }
    return out;
}

}  // namespace

bool workbookSupportBuilt() { return true; }

bool loadParamWorkbook(const std::string& path, std::vector<ParamDef>* out, std::string* error) {
    xls::Book* book = xlCreateBookW();
    if (!book) {
        if (error) *error = "the workbook layer could not create a book";
        return false;
    }
    bool ok = false;
    if (!book->load(widen(path).c_str())) {
        if (error) {
            *error = "cannot load workbook " + path;
            const char* why = book->errorMessage();
            if (why && *why) *error += std::string(": ") + why;
        }
    } else {
        ok = readParamsFromBook(*book, out, error);
    }
    book->release();
    return ok;
}

}  // namespace drivesim
