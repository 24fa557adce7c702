#include "ValueFile.h"

#include "ParamTable.h"
#include "Workbook.h"

#include <cmath>
#include <memory>

namespace valuefile {

namespace {

struct BookDeleter {
    void operator()(xls::Book* b) const
    {
        if (b) b->release();
    }
};
using BookPtr = std::unique_ptr<xls::Book, BookDeleter>;

const wchar_t* const kHeadings[] = {L"PNU", L"VKR PNU", L"VALUE", L"Descripition",
                                    L"Default", L"Min", L"Max", L"Unit"};
const wchar_t* const kValueHeading = L"VALUE";

int TruncToInt(double v)
{
    if (!std::isfinite(v)) return 0;
    if (v >= 2147483647.0) return 2147483647;
    if (v <= -2147483648.0) return -2147483647 - 1;
    return static_cast<int>(v);
}

}  // namespace

const wchar_t* Folder() { return L"ParaValue/"; }
const wchar_t* FilterText() { return L"VKR Para(*.xls)"; }
const wchar_t* FilterPattern() { return L"*.xls"; }
const wchar_t* SavedText() { return L"The file is saved successfully."; }
const wchar_t* SaveFailedText() { return L"The file saving failed."; }
const wchar_t* LoadedText() { return L"The file is loaded successfully."; }
const wchar_t* LoadFailedText() { return L"The file load failed."; }

std::wstring ModelMismatchText(const std::wstring& tableModel, const std::wstring& fileModel)
{
    return L"Device model does not match :" + tableModel + L" != " + fileModel;
}

std::wstring WithXlsExtension(const std::wstring& path)
{
    return path.find(L".xls") == std::wstring::npos ? path + L".xls" : path;
}

std::wstring LeftOutText(int leftOut)
{
    return std::to_wstring(leftOut) + (leftOut == 1 ? L" checked row was" : L" checked rows were") +
           L" left out: the value is unknown (not read from the drive, or the read failed).";
}

bool Save(const std::wstring& path, const ParamTable& table, const std::vector<int>& rowRecords,
          const std::vector<bool>& checked, std::string* error, int* leftOut)
{
    if (leftOut) *leftOut = 0;
    auto fail = [error](const char* why) {
        if (error) *error = why;
        return false;
    };
    BookPtr book(xlCreateBookW());
    xls::Sheet* sheet = book->addSheet(L"Sheet1");
    if (!sheet) return fail("the sheet could not be created");
    bool ok = sheet->writeStr(0, 0, table.deviceType.c_str());
    for (int c = 0; c < 8; ++c) ok = sheet->writeStr(0, c + 1, kHeadings[c]) && ok;
    const size_t rows = std::min(rowRecords.size(), checked.size());
    for (size_t row = 0; row < rows; ++row) {
        if (!checked[row]) continue;
        const ParamRecord* r = table.RecordByIndex(rowRecords[row]);
        if (!r) continue;
        if (r->valueUnknown) {
            if (leftOut) ++*leftOut;
            continue;
        }
        const int at = static_cast<int>(row) + 1;
        const std::wstring pnu = L"P" + r->pnu;
        ok = sheet->writeNum(at, 0, r->index + 1) && ok;
        ok = sheet->writeNum(at, 1, r->address) && ok;
        ok = sheet->writeStr(at, 2, pnu.c_str()) && ok;
        ok = sheet->writeNum(at, 3, r->value) && ok;
        ok = sheet->writeStr(at, 4, r->name.c_str()) && ok;
        ok = sheet->writeNum(at, 5, r->defaultValue) && ok;
        ok = sheet->writeNum(at, 6, r->minValue) && ok;
        ok = sheet->writeNum(at, 7, r->maxValue) && ok;
        ok = sheet->writeStr(at, 8, r->unit.c_str()) && ok;
    }
    if (!ok) return fail("a cell could not be written");
    if (!book->save(path.c_str())) {
        if (error) *error = std::string("the workbook could not be written: ") + book->errorMessage();
        return false;
    }
    return true;
}

LoadResult Load(const std::wstring& path, const ParamTable& table)
{
    LoadResult res;
    using S = LoadResult::Status;
    BookPtr book(xlCreateBookW());
    if (!book->load(path.c_str())) {
        res.status = S::Unreadable;
        res.error = std::string("the workbook could not be read: ") + book->errorMessage();
        return res;
    }
    xls::Sheet* sheet = book->getSheet(0);
    if (!sheet) {
        res.status = S::NotValueFile;
        res.error = "the workbook has no sheet";
        return res;
    }
    const wchar_t* a1 = sheet->readStr(0, 0);
    const wchar_t* d1 = sheet->readStr(0, 3);
    if (!a1 || !d1 || std::wstring(d1) != kValueHeading) {
        res.status = S::NotValueFile;
        res.error = "cell D1 does not read VALUE";
        return res;
    }
    res.fileModel = a1;
    if (res.fileModel != table.fileBaseName) {
        res.status = S::ModelMismatch;
        res.error = "the file is for another device type";
        return res;
    }
    const int last = std::min(sheet->lastRow() - 1, kLastRow);
    std::vector<Entry> entries;
    for (int row = kFirstRow; row <= last; ++row) {
        if (sheet->cellType(row, 0) != xls::Sheet::CELLTYPE_NUMBER) continue;
        const double a = sheet->readNum(row, 0);
        const int n = TruncToInt(a);
        if (n == 0) continue;
        // A row that names a parameter must carry its address and value as
        // numbers; anything else means the file was not written by us or was
        // damaged, and none of it is taken.
        if (!std::isfinite(a) || sheet->cellType(row, 1) != xls::Sheet::CELLTYPE_NUMBER ||
            sheet->cellType(row, 3) != xls::Sheet::CELLTYPE_NUMBER) {
            res.status = S::BadRow;
            res.error = "row " + std::to_string(row + 1) + " has no address or value";
            return res;
        }
        const double b = sheet->readNum(row, 1);
        const double v = sheet->readNum(row, 3);
        if (!std::isfinite(b) || !std::isfinite(v)) {
            res.status = S::BadRow;
            res.error = "row " + std::to_string(row + 1) + " holds a number that is not finite";
            return res;
        }
        entries.push_back(Entry{n, TruncToInt(b), v});
    }
    res.status = S::Ok;
    res.entries = std::move(entries);
    return res;
}

std::vector<Target> Targets(const std::vector<Entry>& entries, const ParamTable& table,
                            const std::vector<int>& rowRecords)
{
    std::vector<Target> targets;
    const int rows = static_cast<int>(rowRecords.size());
    auto recordAt = [&](int row) { return table.RecordByIndex(rowRecords[static_cast<size_t>(row)]); };
    for (const Entry& e : entries) {
        // The row number comes from the file: any int, the lowest included,
        // whose predecessor an int cannot hold.
        const long long wanted = static_cast<long long>(e.n) - 1;
        const int first = wanted >= 0 && wanted < rows ? static_cast<int>(wanted) : -1;
        const ParamRecord* r = first >= 0 ? recordAt(first) : nullptr;
        if (r && r->address == e.address) {
            targets.push_back(Target{first, r->index, e.value});
            continue;
        }
        for (int row = 0; row < rows; ++row) {
            const ParamRecord* rr = recordAt(row);
            if (rr && rr->address == e.address) targets.push_back(Target{row, rr->index, e.value});
        }
    }
    return targets;
}

std::vector<int> Apply(const std::vector<Entry>& entries, ParamTable& table, const std::vector<int>& rowRecords)
{
    std::vector<int> changed;
    for (const Target& t : Targets(entries, table, rowRecords)) {
        ParamRecord& rec = table.params[static_cast<size_t>(t.record)];
        rec.value = RoundByExponent(t.value, rec.exponent);
        rec.valueUnknown = false;
        rec.valueUnwritten = true;
        changed.push_back(t.row);
    }
    return changed;
}

std::wstring LoadReportText(int rounded, int refused)
{
    std::wstring text;
    if (rounded > 0)
        text += std::to_wstring(rounded) + (rounded == 1 ? L" value was" : L" values were") +
                L" rounded to the parameter's resolution.";
    if (refused > 0)
        text += std::wstring(text.empty() ? L"" : L"\n") + std::to_wstring(refused) +
                (refused == 1 ? L" value was" : L" values were") +
                L" refused (out of range or not an option) and left as they were.";
    return text;
}

}  // namespace valuefile
