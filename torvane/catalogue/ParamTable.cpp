#include "ParamTable.h"

#include "LanguageTables.h"
#include "PrivateProfile.h"
#include "ProgramFolder.h"
#include "SheetCells.h"
#include "WideText.h"

#include <cmath>
#include <utility>

namespace {

// Column numbers of sheet 0 (A = 0).
enum Col { A, B, C, D, E, F, G, H, I, J, K, L, M, N, O };

// "8.1" -> 81: a subgroup code's second character is its separator.
int SubgroupNumber(const std::wstring& code)
{
    std::wstring digits = code;
    if (digits.size() >= 2) digits.erase(1, 1);
    return wtext::ParseInt(digits);
}

void ReadRecord(xls::Sheet* s, int row, ParamRecord& r)
{
    r.address = wtext::ParseInt(cells::Text(s, row, A));
    r.pnu = cells::Text(s, row, B);
    r.name = cells::Text(s, row, C);
    r.reservedText = cells::Text(s, row, D);
    r.unit = cells::Text(s, row, E);
    r.reservedFlagF = s->readBool(row, F);
    r.exponent = cells::IntOf(s, row, G);
    r.reservedFlagH = s->readBool(row, H);
    r.reservedNumber = cells::IntOf(s, row, I);
    r.noDefault = s->readBool(row, J);
    r.defaultValue = cells::RealOf(s, row, K);
    r.noMin = s->readBool(row, L);
    r.minValue = cells::RealOf(s, row, M);
    r.noMax = s->readBool(row, N);
    r.maxValue = cells::RealOf(s, row, O);
}

void ReadParameters(xls::Sheet* s, ParamTable& t)
{
    // Rows above the first header belong to no group: -1 keeps them out of
    // every group and subgroup selection while "all groups" still shows them.
    int headerNumber = -1;
    std::wstring headerCode;
    ParamGroup* group = nullptr;
    for (int row = ParamTable::kFirstDataRow; row <= ParamTable::kLastDataRow; ++row) {
        const std::wstring b = cells::Text(s, row, B);
        if (b.empty()) break;
        if (b.find(L"**") != std::wstring::npos) {
            // Always three characters go: "08***" -> "08", "08**" -> "0".
            const std::wstring code = b.size() > 3 ? b.substr(0, b.size() - 3) : std::wstring();
            headerNumber = wtext::ParseInt(code);
            headerCode = code;
            if (t.groupCount() < ParamTable::kMaxGroups) {
                ParamGroup g;
                g.number = headerNumber;
                g.code = code;
                g.name = cells::Text(s, row, C);
                t.groups.push_back(std::move(g));
                group = &t.groups.back();
            } else {
                group = nullptr;  // beyond the table's capacity: rows still load, the tree lacks it
            }
        } else if (b.find(L'*') != std::wstring::npos) {
            const std::wstring code = b.substr(0, b.size() - 1);
            headerNumber = SubgroupNumber(code);
            headerCode = code;
            if (group && group->subgroupCount() < ParamTable::kMaxSubgroups) {
                ParamSubgroup sg;
                sg.number = headerNumber;
                sg.code = code;
                sg.name = cells::Text(s, row, C);
                group->subgroups.push_back(std::move(sg));
            }
        } else {
            if (cells::Text(s, row, A).empty()) continue;
            if (t.paramCount() >= ParamTable::kMaxParams) break;
            ParamRecord r;
            ReadRecord(s, row, r);
            r.index = t.paramCount();
            r.groupNumber = headerNumber;
            r.groupCode = headerCode;
            t.params.push_back(std::move(r));
        }
    }
}

void ReadOptions(xls::Sheet* s, ParamTable& t)
{
    t.optionTexts.clear();
    t.optionCodes.clear();
    if (!s) return;
    std::wstring openKey;
    bool open = false;
    for (int row = 1; row <= ParamTable::kLastOptionRow; ++row) {
        const std::wstring a = cells::Text(s, row, A);
        if (a.empty()) break;
        const std::wstring c = cells::Text(s, row, C);
        if (!c.empty()) {
            openKey = c;
            open = true;
            t.optionTexts[openKey].clear();
            t.optionCodes[openKey].clear();
        }
        if (!open) continue;
        t.optionTexts[openKey][a] = cells::Text(s, row, B);
        t.optionCodes[openKey].push_back(a);
    }
}

}  // namespace

void ParamTable::Clear()
{
    deviceType.clear();
    fileBaseName.clear();
    groups.clear();
    params.clear();
    optionTexts.clear();
    optionCodes.clear();
}

bool ParamTable::Load(const std::wstring& path)
{
    // The refused file's name must not become the table's identity: value
    // files are matched against fileBaseName, and a table that still holds the
    // previous type's records would accept that other type's values.
    try {
        const std::wstring baseName = wtext::FileBaseName(path);
        cells::BookHandle book;
        if (!book) {
            lastError_ = "no workbook object";
            return false;
        }
        if (!book->load(path.c_str())) {
            lastError_ = std::string("workbook not loaded: ") + book->errorMessage();
            return false;
        }
        xls::Sheet* sheet = book->getSheet(0);
        if (!sheet) {
            lastError_ = "workbook has no sheet";
            return false;
        }
        const std::wstring c2 = cells::Text(sheet, 1, 2);
        if (c2.empty() || c2 != baseName) {
            lastError_ = "cell C2 (" + wtext::ToUtf8(c2) + ") does not name the file (" + wtext::ToUtf8(baseName) + ")";
            return false;
        }

        ParamTable next;
        next.fileBaseName = baseName;
        next.deviceType = c2;
        ReadParameters(sheet, next);
        ReadOptions(book->getSheet(1), next);

        deviceType = std::move(next.deviceType);
        fileBaseName = std::move(next.fileBaseName);
        groups = std::move(next.groups);
        params = std::move(next.params);
        optionTexts = std::move(next.optionTexts);
        optionCodes = std::move(next.optionCodes);
        loadedPath_ = path;
        lastError_.clear();
        return true;
    } catch (...) {
        lastError_ = "out of memory while loading";
        return false;
    }
}

ParamRecord* ParamTable::RecordByIndex(int index)
{
    return (index >= 0 && index < paramCount()) ? &params[static_cast<size_t>(index)] : nullptr;
}

const ParamRecord* ParamTable::RecordByIndex(int index) const
{
    return (index >= 0 && index < paramCount()) ? &params[static_cast<size_t>(index)] : nullptr;
}

const std::vector<std::wstring>* ParamTable::OptionCodesOf(const std::wstring& pnu) const
{
    const auto it = optionCodes.find(pnu);
    return it == optionCodes.end() ? nullptr : &it->second;
}

const std::map<std::wstring, std::wstring>* ParamTable::OptionTextsOf(const std::wstring& pnu) const
{
    const auto it = optionTexts.find(pnu);
    return it == optionTexts.end() ? nullptr : &it->second;
}

std::vector<std::wstring> ParamTable::OptionChoices(const std::wstring& pnu, int languageIndex) const
{
    std::vector<std::wstring> out;
    const auto* codes = OptionCodesOf(pnu);
    const auto* texts = OptionTextsOf(pnu);
    if (!codes || !texts) return out;
    for (const std::wstring& code : *codes) {
        const auto it = texts->find(code);
        out.push_back(code + L"," + (it == texts->end() ? std::wstring() : PickVariant(it->second, languageIndex)));
    }
    return out;
}

std::wstring ParamTable::ValueText(const ParamRecord& record, int languageIndex) const
{
    return ValueText(record, record.value, languageIndex);
}

std::wstring ParamTable::ValueText(const ParamRecord& record, double value, int languageIndex) const
{
    const auto* texts = OptionTextsOf(record.pnu);
    if (!texts) return FormatByExponent(value, record.exponent);
    if (!OptionCodesOf(record.pnu)) return L"-";
    const std::wstring code = wtext::FormatInt(cells::TruncToInt(value));
    const auto it = texts->find(code);
    return code + L"," + (it == texts->end() ? std::wstring() : PickVariant(it->second, languageIndex));
}

void CarryRecordStates(const ParamTable& from, ParamTable& to)
{
    std::map<int32_t, const ParamRecord*> byAddress;
    for (const ParamRecord& r : from.params) byAddress.emplace(r.address, &r);
    for (ParamRecord& r : to.params) {
        const auto it = byAddress.find(r.address);
        if (it == byAddress.end()) continue;
        const ParamRecord& old = *it->second;
        r.value = old.value;
        r.valueUnknown = old.valueUnknown;
        r.valueUnwritten = old.valueUnwritten;
        r.driveValue = old.driveValue;
        r.driveKnown = old.driveKnown;
        r.selected = old.selected;
    }
}

int UnwrittenCount(const ParamTable& table)
{
    int n = 0;
    for (const ParamRecord& r : table.params) n += r.valueUnwritten ? 1 : 0;
    return n;
}

bool SameDeviceType(const ParamTable& a, const ParamTable& b)
{
    return !a.deviceType.empty() && a.deviceType == b.deviceType;
}

ParamTable& TheParamTable()
{
    static ParamTable table;
    return table;
}

static double MultiplierOf(int exponent)
{
    return exponent == -1 ? 10.0 : exponent == -2 ? 100.0 : exponent == -3 ? 1000.0 : 1.0;
}

double ResolutionSteps(double value, int exponent)
{
    // The register's own conversion: scaled, then to the nearest integer,
    // halves away from zero.
    const double steps = std::round(value * MultiplierOf(exponent));
    return steps == 0 ? 0.0 : steps;
}

double RoundByExponent(double value, int exponent)
{
    if (!std::isfinite(value)) return value;
    return ResolutionSteps(value, exponent) / MultiplierOf(exponent);
}

std::wstring FormatByExponent(double value, int exponent)
{
    // Shown as it is written: rounded by the one rule of the register.
    switch (exponent) {
    case 0: return wtext::FormatFixed(RoundByExponent(value, 0), 0);
    case -1: return wtext::FormatFixed(RoundByExponent(value, -1), 1);
    case -2: return wtext::FormatFixed(RoundByExponent(value, -2), 2);
    case -3: return wtext::FormatFixed(RoundByExponent(value, -3), 3);
    default: return wtext::FormatFixed(value, 3);
    }
}

std::wstring ParamLoadFailedMessage(const std::wstring& path)
{
    return L"Device parameter file failed to load:" + path;
}

std::wstring SettingFilePath(const std::wstring& programFolder)
{
    return JoinPath(WritableFolder(programFolder), L"Language/setting.ini");
}

std::wstring ConfiguredDeviceType(const std::wstring& programFolder)
{
    return PrivateProfileGetString(L"Setting", L"Device", L"", SettingFilePath(programFolder), 512);
}

std::wstring ParameterWorkbookPath(const std::wstring& programFolder, const std::wstring& deviceType)
{
    return JoinPath(programFolder, L"Parameter/" + deviceType + L".xls");
}

std::wstring FunctionListPath(const std::wstring& programFolder)
{
    return JoinPath(programFolder, L"Function/function.xls");
}
