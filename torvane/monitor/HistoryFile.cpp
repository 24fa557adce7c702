#include "HistoryFile.h"

#include "ParamTable.h"
#include "SheetCells.h"
#include "Workbook.h"

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <cwctype>

namespace history {

namespace {

constexpr int kHeaderRows = 3;
constexpr int kLastDataRow = kHeaderRows + static_cast<int>(kMonitorRingSize) - 1;  // 10002

struct NamedLength {
    const wchar_t* name;
    uint32_t ms;
};

const NamedLength kIntervals[] = {
    {L"1min", 60000}, {L"30sec", 30000}, {L"20sec", 20000}, {L"10sec", 10000},
    {L"5sec", 5000},  {L"2sec", 2000},   {L"1sec", 1000},   {L"500ms", 500},
    {L"400ms", 400},  {L"200ms", 200},   {L"100ms", 100},   {L"50ms", 50},
};

std::wstring Cut(std::wstring text)
{
    if (text.size() > static_cast<size_t>(kMonitorNameMax)) text.resize(kMonitorNameMax);
    return text;
}

// Unsigned decimal as the start time is written: leading blanks, digits up
// to the first non-digit; a value past 64 bits stops growing.
uint64_t ParseUnsigned(const std::wstring& text)
{
    size_t i = 0;
    while (i < text.size() && (text[i] == L' ' || text[i] == L'\t')) ++i;
    uint64_t v = 0;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        const uint64_t digit = static_cast<uint64_t>(text[i] - L'0');
        if (v > (UINT64_MAX - digit) / 10) return UINT64_MAX;
        v = v * 10 + digit;
    }
    return v;
}

uint64_t StartCell(xls::Sheet* sheet)
{
    if (sheet->cellType(2, 0) == xls::Sheet::CELLTYPE_NUMBER) {
        // Another spreadsheet program may have turned the text into a number.
        const double v = sheet->readNum(2, 0);
        return std::isfinite(v) && v > 0 && v < 1.8e19 ? static_cast<uint64_t>(v) : 0;
    }
    return ParseUnsigned(cells::Text(sheet, 2, 0));
}

double Finite(float v)
{
    return std::isfinite(v) ? static_cast<double>(v) : 0.0;
}

}  // namespace

const wchar_t* TimeCaption() { return L"Time"; }
const wchar_t* TimeUnitText() { return L"ms since 1970 UTC"; }

std::wstring IntervalChangesText(const std::wstring& startInterval, const std::vector<IntervalChange>& changes)
{
    std::wstring text;
    std::wstring from = startInterval;
    for (const IntervalChange& c : changes) {
        const std::time_t t = static_cast<std::time_t>(c.timeMs / 1000);
        std::tm local{};
        localtime_r(&t, &local);
        wchar_t when[32] = {0};
        std::swprintf(when, 32, L"%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
                      static_cast<int>(c.timeMs % 1000));
        text += text.empty() ? L"Interval changed: " : L"; ";
        text += std::wstring(when) + L" " + from + L" -> " + c.intervalName;
        if (!c.reason.empty()) text += L" (" + c.reason + L")";
        from = c.intervalName;
    }
    return text;
}

const wchar_t* FilterText() { return L"VKR His(*.xls)"; }
const wchar_t* FilterPattern() { return L"*.xls"; }
const wchar_t* Folder() { return L"history/"; }
const wchar_t* LoadFailedText() { return L"File loading failed."; }
const wchar_t* NoDataText() { return L"There is no valid data in the file."; }
const wchar_t* SavedText() { return L"The file is saved successfully."; }
const wchar_t* SaveFailedText() { return L"File saving failed."; }

std::wstring ModelMismatchText(const std::wstring& deviceType, const std::wstring& fileModel)
{
    return L"Device model does not match:" + deviceType + L"    " + fileModel;
}

uint32_t IntervalLengthMs(const std::wstring& intervalName)
{
    for (const NamedLength& i : kIntervals)
        if (intervalName == i.name) return i.ms;
    return 0;
}

uint64_t StartTimeMs(uint64_t lastAppendMs, const std::wstring& intervalName, uint32_t n)
{
    const uint64_t span = static_cast<uint64_t>(IntervalLengthMs(intervalName)) * n;
    return (lastAppendMs - span) / 1000 * 1000;
}

bool WriteWorkbook(const HistoryRecording& rec, const std::wstring& path, std::string* error)
{
    auto fail = [error](std::string why) {
        if (error) *error = std::move(why);
        return false;
    };
    cells::BookHandle book;
    xls::Sheet* sheet = book->addSheet(L"Sheet1");
    if (!sheet) return fail("the sheet could not be created");

    bool ok = true;
    for (int j = 0; j < kMonitorSlots; ++j) {
        const MonitorSignal& s = rec.signalSet[static_cast<size_t>(j)];
        ok = sheet->writeStr(0, j + 1, s.name.c_str()) && ok;
        ok = sheet->writeNum(1, j + 1, static_cast<double>(s.address)) && ok;
        ok = sheet->writeBool(2, j + 1, s.enabled != 0) && ok;
    }
    ok = sheet->writeStr(0, 0, rec.model.c_str()) && ok;
    ok = sheet->writeStr(1, 0, rec.intervalName.c_str()) && ok;
    const uint32_t n = static_cast<uint32_t>(rec.samples.size());
    // The samples carry the times their sweeps completed; the start cell is
    // the first of them, as a whole second.
    const bool timed = n > 0 && rec.samples.front().timeMs != 0;
    const uint64_t startMs = timed ? rec.samples.front().timeMs / 1000 * 1000
                                   : StartTimeMs(rec.lastAppendMs, rec.intervalName, n);
    ok = sheet->writeStr(2, 0, std::to_wstring(startMs).c_str()) && ok;
    ok = sheet->writeStr(0, kTimeColumn, TimeCaption()) && ok;
    ok = sheet->writeStr(1, kTimeColumn, IntervalChangesText(rec.intervalName, rec.intervalChanges).c_str()) && ok;
    ok = sheet->writeStr(2, kTimeColumn, TimeUnitText()) && ok;
    for (uint32_t k = 1; k <= n; ++k) {
        const MonitorSample& sample = rec.samples[k - 1];
        const int row = static_cast<int>(k) + kHeaderRows - 1;
        ok = sheet->writeNum(row, 0, k) && ok;
        for (int j = 0; j < kMonitorSlots; ++j)
            ok = sheet->writeNum(row, j + 1, Finite(sample.entries[j].value)) && ok;
        // Whole milliseconds up to 2^53 are exact in a double.
        if (timed) ok = sheet->writeNum(row, kTimeColumn, static_cast<double>(sample.timeMs)) && ok;
    }
    if (!ok) return fail("a cell could not be written");
    if (!book->save(path.c_str())) return fail(std::string("the workbook could not be written: ") + book->errorMessage());
    return true;
}

LoadResult CHistoryReader::Load(const std::wstring& path)
{
    using O = LoadResult::Outcome;
    LoadResult res;
    cells::BookHandle book;
    if (!book->load(path.c_str())) {
        res.outcome = O::Unreadable;
        res.error = std::string("the workbook could not be read: ") + book->errorMessage();
        return res;
    }
    xls::Sheet* sheet = book->getSheet(0);
    if (!sheet) {
        res.outcome = O::NoSheet;
        res.error = "the workbook has no sheet";
        return res;
    }
    res.fileModel = Cut(cells::Text(sheet, 0, 0));
    if (res.fileModel != table_.deviceType) {
        res.outcome = O::ModelMismatch;
        res.message = ModelMismatchText(table_.deviceType, res.fileModel);
        res.error = "the file was recorded for another device type";
        return res;
    }

    MonitorSignals signalSet;
    for (int j = 0; j < kMonitorSlots; ++j) {
        SlotInfo& slot = res.slotInfo[static_cast<size_t>(j)];
        slot.name = Cut(cells::Text(sheet, 0, j + 1));
        const int address = cells::TruncToInt(sheet->readNum(1, j + 1));
        slot.address = address > 0 ? static_cast<uint32_t>(address) : 0;
        slot.recorded = sheet->readBool(2, j + 1);
        slot.exponent = kNoRecordExponent;
        for (const ParamRecord& r : table_.params) {
            if (r.address > 0 && static_cast<uint32_t>(r.address) == slot.address) {
                slot.recordIndex = r.index;
                slot.exponent = r.exponent;
                break;
            }
        }
        MonitorSignal& s = signalSet[static_cast<size_t>(j)];
        s.address = slot.address;
        s.name = slot.name;
        s.enabled = slot.recorded ? 1 : 0;
        s.exponent = slot.exponent;
        s.scale = InitialScale(slot.exponent);
    }
    res.intervalText = cells::Text(sheet, 1, 0);
    res.intervalChanges = cells::Text(sheet, 1, kTimeColumn);
    res.startMs = StartCell(sheet) / 1000 * 1000;

    store_.Reset(false, std::wstring(), res.fileModel, res.intervalText, signalSet);
    const uint64_t length = IntervalLengthMs(res.intervalText);
    const int last = std::min(sheet->lastRow() - 1, kLastDataRow);
    for (int r = kHeaderRows; r <= last; ++r) {
        if (sheet->cellType(r, 0) != xls::Sheet::CELLTYPE_NUMBER) break;
        const double number = sheet->readNum(r, 0);
        if (!std::isfinite(number) || cells::TruncToInt(number) != r - kHeaderRows + 1) break;
        MonitorSample sample;
        for (int j = 0; j < kMonitorSlots; ++j) {
            if (!res.slotInfo[static_cast<size_t>(j)].recorded) continue;
            const double v = sheet->readNum(r, j + 1);
            // A number a float cannot hold would poison the slot's scale.
            if (!std::isfinite(v) || std::fabs(v) > FLT_MAX) continue;
            sample.entries[j].value = static_cast<float>(v);
            sample.entries[j].valid = 1;
        }
        uint64_t timeMs = res.startMs + length * static_cast<uint64_t>(r - kHeaderRows);
        if (sheet->cellType(r, kTimeColumn) == xls::Sheet::CELLTYPE_NUMBER) {
            const double t = sheet->readNum(r, kTimeColumn);
            if (std::isfinite(t) && t >= 0 && t < 9.0e15) timeMs = static_cast<uint64_t>(std::llround(t));
        }
        if (!store_.Append(timeMs, sample)) {
            res.error = "the store refused sample " + std::to_string(r - kHeaderRows + 1);
            break;
        }
        ++res.rows;
    }

    const MonitorSignals after = store_.Signals();
    for (int j = 0; j < kMonitorSlots; ++j)
        res.slotInfo[static_cast<size_t>(j)].scale = after[static_cast<size_t>(j)].scale;
    res.accepted = true;
    if (res.rows == 0) {
        res.outcome = O::NoData;
        res.message = NoDataText();
        return res;
    }
    res.outcome = O::Loaded;
    return res;
}

}  // namespace history
