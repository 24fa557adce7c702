#include "WideText.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>

namespace wtext {

namespace {

bool IsBlank(wchar_t c)
{
    return c == L' ' || c == L'\t' || c == L'\n' || c == L'\r' || c == L'\v' || c == L'\f';
}

void AppendUtf8(std::string& out, uint32_t cp)
{
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

}  // namespace

std::string ToUtf8(std::wstring_view text)
{
    std::string out;
    out.reserve(text.size());
    for (wchar_t c : text) AppendUtf8(out, static_cast<uint32_t>(c));
    return out;
}

std::wstring FromUtf8(std::string_view bytes)
{
    std::wstring out;
    out.reserve(bytes.size());
    const size_t n = bytes.size();
    size_t i = 0;
    while (i < n) {
        const unsigned char b0 = static_cast<unsigned char>(bytes[i]);
        if (b0 < 0x80) {
            out.push_back(static_cast<wchar_t>(b0));
            ++i;
            continue;
        }
        int extra = 0;
        uint32_t cp = 0;
        uint32_t min = 0;
        if (b0 >= 0xC2 && b0 <= 0xDF) { extra = 1; cp = b0 & 0x1F; min = 0x80; }
        else if (b0 >= 0xE0 && b0 <= 0xEF) { extra = 2; cp = b0 & 0x0F; min = 0x800; }
        else if (b0 >= 0xF0 && b0 <= 0xF4) { extra = 3; cp = b0 & 0x07; min = 0x10000; }
        else { out.push_back(L'\xFFFD'); ++i; continue; }
        if (i + static_cast<size_t>(extra) >= n) { out.push_back(L'\xFFFD'); ++i; continue; }
        bool ok = true;
        for (int k = 1; k <= extra; ++k) {
            const unsigned char b = static_cast<unsigned char>(bytes[i + k]);
            if ((b & 0xC0) != 0x80) { ok = false; break; }
            cp = (cp << 6) | (b & 0x3F);
        }
        if (!ok || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            out.push_back(L'\xFFFD');
            ++i;
            continue;
        }
        out.push_back(static_cast<wchar_t>(cp));
        i += static_cast<size_t>(extra) + 1;
    }
    return out;
}

int ParseInt(std::wstring_view text)
{
    size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) {
        negative = text[i] == L'-';
        ++i;
    }
    long long v = 0;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        v = v * 10 + (text[i] - L'0');
        if (v > static_cast<long long>(INT_MAX) + 1) v = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) v = -v;
    if (v > INT_MAX) v = INT_MAX;
    if (v < INT_MIN) v = INT_MIN;
    return static_cast<int>(v);
}

double ParseReal(std::wstring_view text)
{
    size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    // from_chars takes no "+" and no blanks; everything else it reads is the
    // C locale's strtod syntax, hexadecimal aside.
    std::string ascii;
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) {
        negative = text[i] == L'-';
        ++i;
    }
    for (; i < text.size() && text[i] > 0 && text[i] < 0x80; ++i) {
        const wchar_t c = text[i];
        if (c == L'+' || c == L'-') {
            // Only valid right after an exponent mark.
            if (ascii.empty() || (ascii.back() != 'e' && ascii.back() != 'E')) break;
        } else if (!((c >= L'0' && c <= L'9') || c == L'.' || c == L'e' || c == L'E')) {
            break;
        }
        ascii.push_back(static_cast<char>(c));
    }
    double v = 0;
    const auto r = std::from_chars(ascii.data(), ascii.data() + ascii.size(), v, std::chars_format::general);
    if (r.ec != std::errc() || !std::isfinite(v)) return 0.0;
    return negative ? -v : v;
}

std::wstring FormatFixed(double value, int decimals)
{
    if (std::isnan(value)) return std::signbit(value) ? L"-nan" : L"nan";
    if (std::isinf(value)) return value < 0 ? L"-inf" : L"inf";
    if (decimals < 0) decimals = 0;
    char buf[400];
    const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
    if (r.ec != std::errc()) return L"";
    return std::wstring(buf, r.ptr);
}

std::wstring FormatInt(long long value)
{
    return std::to_wstring(value);
}

std::wstring FileName(std::wstring_view path)
{
    const size_t cut = path.find_last_of(L"/\\");
    return std::wstring(cut == std::wstring_view::npos ? path : path.substr(cut + 1));
}

std::wstring FileBaseName(std::wstring_view path)
{
    std::wstring name = FileName(path);
    const size_t dot = name.rfind(L'.');
    if (dot != std::wstring::npos) name.erase(dot);
    return name;
}

std::wstring Trim(std::wstring_view text)
{
    size_t b = 0;
    size_t e = text.size();
    while (b < e && (text[b] == L' ' || text[b] == L'\t')) ++b;
    while (e > b && (text[e - 1] == L' ' || text[e - 1] == L'\t')) --e;
    return std::wstring(text.substr(b, e - b));
}

wchar_t FoldCase(wchar_t c)
{
    const uint32_t u = static_cast<uint32_t>(c);
    if (u >= 'A' && u <= 'Z') return static_cast<wchar_t>(u + 0x20);
    if (u < 0xC0) return c;
    if (u <= 0xDE) return u == 0xD7 ? c : static_cast<wchar_t>(u + 0x20);
    if (u >= 0x100 && u <= 0x17F) {
        if (u == 0x130 || u == 0x131 || u == 0x138 || u == 0x149 || u == 0x17F) return c;
        if (u == 0x178) return static_cast<wchar_t>(0xFF);
        const bool upperEven = (u <= 0x137) || (u >= 0x14A && u <= 0x177);
        if (upperEven) return (u % 2 == 0) ? static_cast<wchar_t>(u + 1) : c;
        return (u % 2 == 1) ? static_cast<wchar_t>(u + 1) : c;  // 0139-0148, 0179-017E
    }
    if (u >= 0x391 && u <= 0x3A9 && u != 0x3A2) return static_cast<wchar_t>(u + 0x20);
    if (u >= 0x410 && u <= 0x42F) return static_cast<wchar_t>(u + 0x20);
    if (u >= 0x400 && u <= 0x40F) return static_cast<wchar_t>(u + 0x50);
    if (u >= 0xFF21 && u <= 0xFF3A) return static_cast<wchar_t>(u + 0x20);
    return c;
}

bool EqualsNoCase(std::wstring_view a, std::wstring_view b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (FoldCase(a[i]) != FoldCase(b[i])) return false;
    }
    return true;
}

}  // namespace wtext
