#include "ParamSearch.h"

#include "DeviceCatalogue.h"
#include "LanguageTables.h"

#include <cwctype>

namespace {

std::wstring Lower(std::wstring s)
{
    for (wchar_t& c : s) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    return s;
}

std::wstring Trim(const std::wstring& s)
{
    const size_t b = s.find_first_not_of(L" \t\r\n");
    if (b == std::wstring::npos) return std::wstring();
    const size_t e = s.find_last_not_of(L" \t\r\n");
    return s.substr(b, e - b + 1);
}

// "P01.04", "01.04", "1.4" -> {1, 4}; false for anything else.
bool ParseNumber(std::wstring s, int* group, int* index)
{
    if (!s.empty() && (s[0] == L'P' || s[0] == L'p')) s.erase(0, 1);
    const size_t dot = s.find(L'.');
    if (dot == std::wstring::npos || dot == 0 || dot + 1 == s.size() || dot > 3 || s.size() - dot - 1 > 3)
        return false;
    for (size_t i = 0; i < s.size(); ++i)
        if (i != dot && !std::iswdigit(static_cast<wint_t>(s[i]))) return false;
    *group = std::stoi(s.substr(0, dot));
    *index = std::stoi(s.substr(dot + 1));
    return true;
}

std::vector<std::wstring> Words(const std::wstring& s)
{
    std::vector<std::wstring> words;
    size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && std::iswspace(static_cast<wint_t>(s[i]))) ++i;
        size_t j = i;
        while (j < s.size() && !std::iswspace(static_cast<wint_t>(s[j]))) ++j;
        if (j > i) words.push_back(s.substr(i, j - i));
        i = j;
    }
    return words;
}

}  // namespace

std::vector<int> FindParameters(const ParamTable& table, const std::wstring& query, int languageIndex)
{
    std::vector<int> found;
    const std::wstring q = Trim(query);
    if (q.empty()) return found;
    // A search list entry ("P01.04 Name") is found by its number.
    const std::vector<std::wstring> words = Words(Lower(q));
    int group = 0;
    int index = 0;
    if (ParseNumber(words.front(), &group, &index)) {
        for (const ParamRecord& r : table.params) {
            int g = 0;
            int i = 0;
            if (ParseNumber(r.pnu, &g, &i) && g == group && i == index) found.push_back(r.index);
        }
        return found;
    }
    for (const ParamRecord& r : table.params) {
        const std::wstring name = Lower(PickVariant(r.name, languageIndex));
        bool all = true;
        for (const std::wstring& w : words) all = all && name.find(w) != std::wstring::npos;
        if (all) found.push_back(r.index);
    }
    return found;
}

std::wstring SearchEntryText(const ParamRecord& record, int languageIndex)
{
    return L"P" + record.pnu + L" " + PickVariant(record.name, languageIndex);
}

std::vector<int> TreeNumbersOfRecord(const ParamRecord& record)
{
    const int n = record.groupNumber;
    if (n < 0) return {};
    return {DT_GROUP_BASE + n, DT_SUBGROUP_BASE + n, DT_MD_GROUP_BASE + n, DT_MD_SUBGROUP_BASE + n};
}
