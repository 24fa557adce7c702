#include "FunctionWorkbook.h"

#include "ParamTable.h"
#include "ProgramFolder.h"
#include "SheetCells.h"
#include "WideText.h"


namespace funview {

namespace {

// A cell of the entry columns that counts as filled: a text that is not
// empty, or a number (a workbook edited by hand may store them as numbers).
bool Filled(xls::Sheet* sheet, int row, int col)
{
    if (!cells::Text(sheet, row, col).empty()) return true;
    return sheet->cellType(row, col) == xls::Sheet::CELLTYPE_NUMBER;
}

void ReadEntries(xls::Sheet* sheet, std::vector<FunctionEntry>* entries, int* dropped)
{
    if (!sheet) return;
    for (int row = 1; row <= kLastEntryRow; ++row) {
        if (!Filled(sheet, row, 1) || !Filled(sheet, row, 2) || !Filled(sheet, row, 3)) break;
        if (static_cast<int>(entries->size()) >= kMaxFields) {
            ++*dropped;
            continue;
        }
        FunctionEntry e;
        e.address = cells::IntOf(sheet, row, 1);
        e.x = cells::IntOf(sheet, row, 2);
        e.y = cells::IntOf(sheet, row, 3);
        entries->push_back(e);
    }
}

bool IsDigit(wchar_t c)
{
    return c >= L'0' && c <= L'9';
}

bool SafeName(const std::wstring& name)
{
    return !name.empty() && name != L"." && name != L".." && name.find_first_of(L"/\\") == std::wstring::npos;
}

}  // namespace

std::wstring FunctionFolder(const std::wstring& programFolder)
{
    return JoinPath(programFolder, L"Function/");
}

std::wstring FunctionWorkbookPath(const std::wstring& functionFolder, const std::wstring& name)
{
    return functionFolder + name + L".xls";
}

std::wstring FunctionPicturePath(const std::wstring& functionFolder, const std::wstring& name)
{
    return functionFolder + name + L".bmp";
}

std::vector<std::wstring> LoadFunctionList(const std::wstring& programFolder)
{
    std::vector<std::wstring> names;
    cells::BookHandle book;
    if (!book || !book->load(FunctionListPath(programFolder).c_str())) return names;
    xls::Sheet* sheet = book->getSheet(0);
    if (!sheet) return names;
    for (int row = 0; row <= kLastListRow; ++row) {
        const std::wstring name = cells::Text(sheet, row, 0);
        if (name.empty()) break;
        if (SafeName(name)) names.push_back(name);
    }
    return names;
}

bool LoadFunctionWorkbook(const std::wstring& path, FunctionLayout* layout)
{
    *layout = FunctionLayout();
    cells::BookHandle book;
    if (!book || !book->load(path.c_str())) return false;
    ReadEntries(book->getSheet(0), &layout->settings, &layout->droppedRows);
    ReadEntries(book->getSheet(1), &layout->watches, &layout->droppedRows);
    return true;
}

ParamRecord* RecordOfAddress(ParamTable& table, int32_t address)
{
    for (ParamRecord& r : table.params)
        if (r.address == address) return &r;
    return nullptr;
}

const ParamRecord* RecordOfAddress(const ParamTable& table, int32_t address)
{
    return RecordOfAddress(const_cast<ParamTable&>(table), address);
}

std::wstring FieldText(const ParamTable* table, const FunctionEntry& entry)
{
    const ParamRecord* r = table ? RecordOfAddress(*table, entry.address) : nullptr;
    if (!r) return L"-";
    return FormatByExponent(entry.value, r->exponent);
}

bool ParseFieldText(const std::wstring& text, double* value)
{
    const std::wstring t = wtext::Trim(text);
    size_t i = 0;
    if (i < t.size() && (t[i] == L'+' || t[i] == L'-')) ++i;
    size_t digits = 0;
    while (i < t.size() && IsDigit(t[i])) ++i, ++digits;
    if (i < t.size() && t[i] == L'.') {
        ++i;
        while (i < t.size() && IsDigit(t[i])) ++i, ++digits;
    }
    if (digits == 0) return false;
    if (i < t.size() && (t[i] == L'e' || t[i] == L'E')) {
        ++i;
        if (i < t.size() && (t[i] == L'+' || t[i] == L'-')) ++i;
        size_t expDigits = 0;
        while (i < t.size() && IsDigit(t[i])) ++i, ++expDigits;
        if (expDigits == 0) return false;
    }
    if (i != t.size()) return false;
    *value = wtext::ParseReal(t);
    return true;
}

std::wstring ReadFailedMessage(const std::wstring& pnu, int err)
{
    return L"Parameter read:P" + pnu + L"  device error code:" + wtext::FormatInt(err);
}

std::wstring WriteFailedMessage(const std::wstring& pnu)
{
    return L"Parameter write failed:P" + pnu;
}

const wchar_t* const kReadCompletion = L"Parameter Read completion";
const wchar_t* const kWriteCompletion = L"Parameter Write completion";

}  // namespace funview
