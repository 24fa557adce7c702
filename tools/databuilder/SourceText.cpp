#include "SourceText.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <locale.h>

namespace databuild {

bool ReadFileBytes(const std::string& path, std::string& bytes, std::string& error) {
    bytes.clear();
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        error = path + ": cannot open: " + std::strerror(errno);
        return false;
    }
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, n);
    bool ok = !std::ferror(f);
    std::fclose(f);
    if (!ok) error = path + ": read error";
    return ok;
}

bool WriteFileBytes(const std::string& path, std::string_view bytes, std::string& error) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        error = path + ": cannot create: " + std::strerror(errno);
        return false;
    }
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = (std::fclose(f) == 0) && ok;
    if (!ok) error = path + ": write error";
    return ok;
}

namespace {

// Decodes one character at `i`; false on malformed input.
bool DecodeOne(std::string_view s, size_t& i, char32_t& cp) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    int extra;
    char32_t min;
    if (c < 0x80) {
        cp = c;
        ++i;
        return true;
    } else if ((c & 0xE0) == 0xC0) {
        cp = c & 0x1F;
        extra = 1;
        min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
        cp = c & 0x0F;
        extra = 2;
        min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
        cp = c & 0x07;
        extra = 3;
        min = 0x10000;
    } else {
        return false;
    }
    for (int k = 1; k <= extra; ++k) {
        if (i + k >= s.size()) return false;
        unsigned char cc = static_cast<unsigned char>(s[i + k]);
        if ((cc & 0xC0) != 0x80) return false;
        cp = (cp << 6) | (cc & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += extra + 1;
    return true;
}

}  // namespace

bool IsValidUtf8(std::string_view bytes) {
    size_t i = 0;
    char32_t cp;
    while (i < bytes.size())
        if (!DecodeOne(bytes, i, cp)) return false;
    return true;
}

std::wstring Widen(std::string_view utf8) {
    std::wstring out;
    size_t i = 0;
    char32_t cp;
    while (i < utf8.size()) {
        if (!DecodeOne(utf8, i, cp)) {
            out.push_back(L'\uFFFD');
            ++i;
            continue;
        }
        out.push_back(static_cast<wchar_t>(cp));
    }
    return out;
}

size_t Utf16Length(std::string_view utf8) {
    size_t n = 0, i = 0;
    char32_t cp;
    while (i < utf8.size()) {
        if (!DecodeOne(utf8, i, cp)) {
            ++i;
            ++n;
            continue;
        }
        n += cp >= 0x10000 ? 2 : 1;
    }
    return n;
}

std::string Where(const std::string& name, int line) {
    return name + ":" + std::to_string(line) + ": ";
}

bool ParseCsv(std::string_view text, const std::string& name, std::vector<CsvRow>& rows,
              std::string& error) {
    rows.clear();
    if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    if (!IsValidUtf8(text)) {
        error = name + ": not valid UTF-8";
        return false;
    }
    size_t i = 0;
    int line = 1;
    while (i < text.size()) {
        // Skip blank and comment lines at the start of a row.
        if (text[i] == '\n' || (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) {
            i += text[i] == '\r' ? 2 : 1;
            ++line;
            continue;
        }
        if (text[i] == '#') {
            while (i < text.size() && text[i] != '\n') ++i;
            if (i < text.size()) ++i;
            ++line;
            continue;
        }
        CsvRow row;
        row.line = line;
        std::string cell;
        bool rowDone = false;
        while (!rowDone) {
            cell.clear();
            if (i < text.size() && text[i] == '"') {
                ++i;
                int startLine = line;
                for (;;) {
                    if (i >= text.size()) {
                        error = Where(name, startLine) + "quoted cell is not closed";
                        return false;
                    }
                    char c = text[i++];
                    if (c == '"') {
                        if (i < text.size() && text[i] == '"') {
                            cell.push_back('"');
                            ++i;
                            continue;
                        }
                        break;
                    }
                    if (c == '\n') ++line;
                    cell.push_back(c);
                }
                // After the closing quote only a separator or the row's end may follow.
                if (i < text.size() && text[i] != ',' && text[i] != '\n' &&
                    !(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) {
                    error = Where(name, line) + "text after a closing quote";
                    return false;
                }
            } else {
                while (i < text.size() && text[i] != ',' && text[i] != '\n') {
                    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') break;
                    if (text[i] == '"') {
                        error = Where(name, line) + "quote inside an unquoted cell";
                        return false;
                    }
                    cell.push_back(text[i++]);
                }
            }
            row.cells.push_back(cell);
            if (i >= text.size()) {
                rowDone = true;
            } else if (text[i] == ',') {
                ++i;
            } else {
                i += text[i] == '\r' ? 2 : 1;
                ++line;
                rowDone = true;
            }
        }
        rows.push_back(std::move(row));
    }
    return true;
}

bool ReadCsvTable(const std::string& path, const std::vector<std::string>& header,
                  std::vector<CsvRow>& rows, std::string& error) {
    std::string bytes;
    if (!ReadFileBytes(path, bytes, error)) return false;
    std::vector<CsvRow> all;
    if (!ParseCsv(bytes, path, all, error)) return false;
    if (all.empty()) {
        error = path + ": no header row";
        return false;
    }
    if (all[0].cells != header) {
        std::string want;
        for (size_t k = 0; k < header.size(); ++k) want += (k ? "," : "") + header[k];
        error = Where(path, all[0].line) + "header row must be: " + want;
        return false;
    }
    rows.assign(all.begin() + 1, all.end());
    for (auto& r : rows) {
        if (r.cells.size() > header.size()) {
            error = Where(path, r.line) + "row has " + std::to_string(r.cells.size()) +
                    " cells, the header " + std::to_string(header.size());
            return false;
        }
        r.cells.resize(header.size());
    }
    return true;
}

bool ParseInt(std::string_view text, long long& value) {
    if (text.empty()) return false;
    std::string s(text);
    const char* p = s.c_str();
    bool neg = false;
    if (*p == '+' || *p == '-') neg = *p++ == '-';
    int base = 10;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        base = 16;
        p += 2;
    }
    if (!*p) return false;
    unsigned long long v = 0;
    for (; *p; ++p) {
        int d;
        if (*p >= '0' && *p <= '9') d = *p - '0';
        else if (base == 16 && *p >= 'a' && *p <= 'f') d = *p - 'a' + 10;
        else if (base == 16 && *p >= 'A' && *p <= 'F') d = *p - 'A' + 10;
        else return false;
        v = v * base + d;
        if (v > (1ULL << 40)) return false;
    }
    value = neg ? -static_cast<long long>(v) : static_cast<long long>(v);
    return true;
}

bool ParseReal(std::string_view text, double& value) {
    if (text.empty()) return false;
    std::string s(text);
    // Parse in the C locale whatever the process locale says.
    locale_t c = newlocale(LC_NUMERIC_MASK, "C", static_cast<locale_t>(0));
    if (!c) return false;
    char* end = nullptr;
    errno = 0;
    double v = strtod_l(s.c_str(), &end, c);
    freelocale(c);
    if (end != s.c_str() + s.size() || errno == ERANGE || !std::isfinite(v)) return false;
    // Hexadecimal floats, "inf" and "nan" are not numbers of a table.
    for (char ch : s)
        if (!((ch >= '0' && ch <= '9') || ch == '.' || ch == '-' || ch == '+' || ch == 'e' ||
              ch == 'E'))
            return false;
    value = v;
    return true;
}

bool ParseFlag(std::string_view text, bool& value) {
    if (text == "0") value = false;
    else if (text == "1") value = true;
    else return false;
    return true;
}

}  // namespace databuild
