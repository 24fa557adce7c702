#include "ParamViewLogic.h"

#include "LanguageTables.h"
#include "ParamTable.h"
#include "WideText.h"

#include <algorithm>

namespace paramview {

namespace {

struct ColumnDef {
    const wchar_t* caption;
    int width;
};

// "Descripition" is the caption users and their saved files know.
const ColumnDef kColumns[kColumnCount] = {
    {L"Select", 50}, {L"VKR Pnu", 100}, {L"Descripition", 200}, {L"Value", 300},
    {L"Default", 80}, {L"Min", 80},     {L"Max", 80},           {L"Unit", 80},
};

bool IsMonitorGroup(int number) { return number == 8 || number == 9; }

void Append(std::vector<int>& rows, int index)
{
    if (static_cast<int>(rows.size()) < kMaxRows) rows.push_back(index);
}

}  // namespace

const wchar_t* ColumnCaption(int column)
{
    return column >= 0 && column < kColumnCount ? kColumns[column].caption : L"";
}

int ColumnWidth(int column)
{
    return column >= 0 && column < kColumnCount ? kColumns[column].width : 0;
}

std::vector<int> FitColumnWidths(int available)
{
    std::vector<int> w;
    for (int c = 0; c < kColumnCount; ++c) w.push_back(ColumnWidth(c));
    int over = w[kColSelect] + w[kColPnu] + w[kColName] + w[kColValue] - available;
    if (over <= 0) return w;
    const int name = std::min(over, w[kColName] - kMinNameWidth);
    w[kColName] -= name;
    over -= name;
    if (over > 0) w[kColValue] -= std::min(over, w[kColValue] - kMinValueWidth);
    return w;
}

std::vector<int> GroupRows(const ParamTable& table, int selection)
{
    std::vector<int> rows;
    for (const ParamGroup& g : table.groups) {
        if (g.number == selection) {
            if (g.subgroups.empty()) {
                for (const ParamRecord& r : table.params)
                    if (r.groupNumber == g.number) Append(rows, r.index);
            } else {
                for (const ParamRecord& r : table.params) {
                    for (const ParamSubgroup& s : g.subgroups) {
                        if (r.groupNumber == s.number) {
                            Append(rows, r.index);
                            break;
                        }
                    }
                }
            }
            return rows;
        }
        for (const ParamSubgroup& s : g.subgroups) {
            if (s.number == selection) {
                for (const ParamRecord& r : table.params)
                    if (r.groupNumber == s.number) Append(rows, r.index);
                return rows;
            }
        }
    }
    return rows;
}

std::vector<int> ParamViewRows(const ParamTable& table, int selection)
{
    if (selection != -1) return GroupRows(table, selection);
    std::vector<int> rows;
    for (const ParamRecord& r : table.params)
        if (!IsMonitorGroup(r.groupNumber)) Append(rows, r.index);
    return rows;
}

std::wstring LimitText(double value, bool absent, int exponent)
{
    return absent ? std::wstring(L"-") : FormatByExponent(value, exponent);
}

std::wstring ShownValueText(const ParamTable& table, const ParamRecord& record, int languageIndex)
{
    return record.valueUnknown ? std::wstring(L"-") : table.ValueText(record, languageIndex);
}

std::vector<std::wstring> RowTexts(const ParamTable& table, const ParamRecord& record, int languageIndex)
{
    std::vector<std::wstring> t(kColumnCount);
    t[kColPnu] = L"P" + record.pnu;
    t[kColName] = PickVariant(record.name, languageIndex);
    t[kColValue] = ShownValueText(table, record, languageIndex);
    t[kColDefault] = LimitText(record.defaultValue, record.noDefault, record.exponent);
    t[kColMin] = LimitText(record.minValue, record.noMin, record.exponent);
    t[kColMax] = LimitText(record.maxValue, record.noMax, record.exponent);
    t[kColUnit] = record.unit;
    return t;
}

std::vector<int> RowsEqualToDefault(const ParamTable& table, const std::vector<int>& rowRecords)
{
    std::vector<int> remove;
    for (int row = static_cast<int>(rowRecords.size()) - 1; row >= 0; --row) {
        const ParamRecord* r = table.RecordByIndex(rowRecords[static_cast<size_t>(row)]);
        if (!r) continue;
        // A value nobody knows cannot be said to differ.
        if (r->valueUnknown) {
            remove.push_back(row);
            continue;
        }
        if (r->noDefault) continue;
        if (FormatByExponent(r->value, r->exponent) == FormatByExponent(r->defaultValue, r->exponent))
            remove.push_back(row);
    }
    return remove;
}

double OptionChoiceValue(const std::wstring& choice)
{
    const size_t comma = choice.find(L',');
    if (comma == std::wstring::npos) return 0;
    return wtext::ParseInt(std::wstring_view(choice).substr(0, comma));
}

std::wstring CurrentOptionChoice(const ParamTable& table, const ParamRecord& record, int languageIndex)
{
    if (record.valueUnknown) return std::wstring();
    const std::vector<std::wstring> entries = table.OptionChoices(record.pnu, languageIndex);
    const std::wstring shown = table.ValueText(record, languageIndex);
    for (const std::wstring& e : entries)
        if (e == shown) return e;
    // A code written "01" in the workbook still stands for the value 1.
    const double code = static_cast<double>(static_cast<long long>(record.value));
    for (const std::wstring& e : entries)
        if (OptionChoiceValue(e) == code) return e;
    return std::wstring();
}

int ValueDecimals(int exponent)
{
    switch (exponent) {
    case -1: return 1;
    case -2: return 2;
    case -3: return 3;
    default: return 0;
    }
}

std::wstring ReadErrorLine(const std::wstring& pnu, int errorCode)
{
    return L"P" + pnu + L" errorCode" + wtext::FormatInt(errorCode) + L".\n";
}

std::wstring ReadSummary(const std::wstring& errors)
{
    return errors.empty() ? std::wstring() : L"Parameter read error:" + errors;
}

std::wstring WriteGivenUpEntry(const std::wstring& pnu)
{
    return L"P" + pnu + L"  ";
}

std::wstring UnknownNotWrittenLine(const std::wstring& pnu)
{
    return L"P" + pnu + L" not written, value unknown.\n";
}

std::wstring CheckMismatchLine(const std::wstring& pnu, const std::wstring& written, const std::wstring& readBack)
{
    return L"Write Erroe P" + pnu + L" " + written + L"  " + readBack + L".\n";
}

std::wstring CheckGivenUpLine(const std::wstring& pnu, int errorCode)
{
    return L"read P" + pnu + L" errorCode" + wtext::FormatInt(errorCode) + L".\n";
}

std::wstring WriteSummary(const std::wstring& errors)
{
    return errors.empty() ? std::wstring(L"Parameter write completion") : L"Parameter write error:" + errors;
}

bool ReadBackDiffers(const ParamRecord& record, double readBack, std::wstring* written, std::wstring* read)
{
    std::wstring w = FormatByExponent(record.value, record.exponent);
    std::wstring r = FormatByExponent(readBack, record.exponent);
    const bool differ = w != r;
    if (written) *written = std::move(w);
    if (read) *read = std::move(r);
    return differ;
}

std::wstring MDataErrorMessage(const std::wstring& pnu, int errorCode)
{
    return L"Parameter write read:P" + pnu + L"  device error code:" + wtext::FormatInt(errorCode);
}

std::wstring MDataUnreachedMessage(const std::vector<std::pair<std::wstring, int>>& rows)
{
    std::wstring text;
    for (const auto& [pnu, errorCode] : rows) {
        if (!text.empty()) text += L"\n";
        text += MDataErrorMessage(pnu, errorCode);
    }
    return text;
}

const wchar_t* WriteCaption() { return L"Param...Write"; }
const wchar_t* CheckCaption() { return L"Param...Check"; }

std::vector<int> RowsNotReached(const std::vector<bool>& transfer, int nextRow)
{
    std::vector<int> rows;
    for (int row = nextRow < 0 ? 0 : nextRow; row < static_cast<int>(transfer.size()); ++row)
        if (transfer[static_cast<size_t>(row)]) rows.push_back(row);
    return rows;
}

}  // namespace paramview
