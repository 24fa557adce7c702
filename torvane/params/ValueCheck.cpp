#include "ValueCheck.h"

#include "LanguageTables.h"
#include "ParamTable.h"
#include "RegisterAccess.h"
#include "WideText.h"

#include <algorithm>
#include <cmath>

namespace valuecheck {

namespace {

int DecimalsOf(int exponent)
{
    return exponent == -1 ? 1 : exponent == -2 ? 2 : exponent == -3 ? 3 : 0;
}

// A whole decimal number: sign, digits, an optional "." and digits, an
// optional exponent; nothing else (a decimal comma is not a number here).
bool ParseNumber(const std::wstring& text, double* value)
{
    const std::wstring t = wtext::Trim(text);
    size_t i = 0;
    auto digits = [&] {
        const size_t from = i;
        while (i < t.size() && t[i] >= L'0' && t[i] <= L'9') ++i;
        return i - from;
    };
    if (i < t.size() && (t[i] == L'+' || t[i] == L'-')) ++i;
    size_t mantissa = digits();
    if (i < t.size() && t[i] == L'.') {
        ++i;
        mantissa += digits();
    }
    if (mantissa == 0) return false;
    if (i < t.size() && (t[i] == L'e' || t[i] == L'E')) {
        ++i;
        if (i < t.size() && (t[i] == L'+' || t[i] == L'-')) ++i;
        if (digits() == 0) return false;
    }
    if (i != t.size()) return false;
    const double v = wtext::ParseReal(t);
    if (!std::isfinite(v)) return false;
    *value = v;
    return true;
}

bool IsOptionCode(const ParamTable& table, const ParamRecord& record, double value)
{
    const auto* codes = table.OptionCodesOf(record.pnu);
    if (!codes) return false;
    for (const std::wstring& code : *codes)
        if (wtext::ParseInt(code) == value && wtext::Trim(code) == wtext::FormatInt(wtext::ParseInt(code)))
            return true;
    return false;
}

}  // namespace

double Rounded(const ParamRecord& record, double value)
{
    return RoundByExponent(value, record.exponent);
}

Verdict Check(const ParamTable& table, const ParamRecord& record, double value)
{
    if (!std::isfinite(value)) return Verdict::NotANumber;
    if (table.HasOptions(record.pnu)) {
        if (!IsOptionCode(table, record, value)) return Verdict::NotAnOption;
    }
    if (std::fabs(Rounded(record, value) - value) > 1e-9 * std::max(1.0, std::fabs(value)))
        return Verdict::TooManyDecimals;
    if (value < record.minValue || value > record.maxValue) return Verdict::OutOfRange;
    uint16_t word = 0;
    if (!regaccess::ValueToWord(value, record, &word)) return Verdict::DoesNotFit;
    return Verdict::Ok;
}

Assessed Assess(const ParamTable& table, const ParamRecord& record, double value)
{
    Assessed a;
    if (!std::isfinite(value)) return a;
    a.value = Rounded(record, value);
    a.rounded = std::fabs(a.value - value) > 1e-9 * std::max(1.0, std::fabs(value));
    a.verdict = Check(table, record, a.value);
    return a;
}

Parsed Parse(const ParamTable& table, const ParamRecord& record, const std::wstring& text)
{
    Parsed p;
    double v = 0;
    if (ParseNumber(text, &v)) {
        p.value = v;
        p.verdict = Check(table, record, v);
        return p;
    }
    const auto* codes = table.OptionCodesOf(record.pnu);
    const auto* texts = table.OptionTextsOf(record.pnu);
    if (codes && texts) {
        const std::wstring wanted = wtext::Trim(text);
        for (const std::wstring& code : *codes) {
            const auto it = texts->find(code);
            if (it == texts->end()) continue;
            bool match = wtext::EqualsNoCase(wanted, code + L"," + it->second);
            for (int lang = 0; lang < 2 && !match; ++lang)
                match = wtext::EqualsNoCase(wanted, PickVariant(it->second, lang)) ||
                        wtext::EqualsNoCase(wanted, code + L"," + PickVariant(it->second, lang));
            if (match) {
                p.value = wtext::ParseInt(code);
                p.verdict = Check(table, record, p.value);
                return p;
            }
        }
        p.verdict = Verdict::NotAnOption;
    }
    return p;
}

std::wstring ReasonText(const ParamTable& table, const ParamRecord& record, Verdict verdict, int languageIndex)
{
    switch (verdict) {
    case Verdict::Ok: return L"";
    case Verdict::NotANumber: return L"not a number";
    case Verdict::NotAnOption: {
        std::wstring list;
        const auto* texts = table.OptionTextsOf(record.pnu);
        if (const auto* codes = table.OptionCodesOf(record.pnu)) {
            for (const std::wstring& c : *codes) {
                list += (list.empty() ? L"" : L", ") + c;
                const auto it = texts ? texts->find(c) : decltype(texts->end()){};
                if (texts && it != texts->end()) list += L" (" + PickVariant(it->second, languageIndex) + L")";
            }
        }
        return L"not one of the options " + list;
    }
    case Verdict::TooManyDecimals:
        return L"finer than the parameter's resolution of " + wtext::FormatInt(DecimalsOf(record.exponent)) +
               L" decimal places";
    case Verdict::OutOfRange:
        return L"not between " + FormatByExponent(record.minValue, record.exponent) + L" and " +
               FormatByExponent(record.maxValue, record.exponent);
    case Verdict::DoesNotFit: return L"too large for the register";
    }
    return L"";
}

}  // namespace valuecheck
