#include "CliOutput.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>

namespace cli {

namespace {

// Characters shown, counting a UTF-8 sequence once and the wide CJK range
// twice, so that Chinese names keep the columns aligned.
size_t DisplayWidth(const std::string& s)
{
    size_t width = 0;
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
        // Three-byte sequences from U+2E80 on are the wide scripts.
        width += (len == 3 && (c > 0xE2 || (c == 0xE2 && i + 1 < s.size() &&
                                            static_cast<unsigned char>(s[i + 1]) >= 0xBA)))
                     ? 2
                     : 1;
        i += std::min(len, s.size() - i);
    }
    return width;
}

std::string CsvField(const std::string& s)
{
    if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
    std::string q = "\"";
    for (char c : s) {
        if (c == '"') q += '"';
        q += c;
    }
    return q + "\"";
}

std::string JsonString(const std::string& s)
{
    std::string q = "\"";
    for (char c : s) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            q += '\\';
            q += c;
        } else if (u < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", u);
            q += buf;
        } else {
            q += c;
        }
    }
    return q + "\"";
}

bool IsJsonNumber(const std::string& s)
{
    if (s.empty()) return false;
    char* end = nullptr;
    std::strtod(s.c_str(), &end);
    // JSON has no leading "+", no bare ".5" and no hexadecimal.
    return end && *end == '\0' && s.find_first_not_of("-0123456789.eE") == std::string::npos &&
           s.front() != '.' && s.back() != '.';
}

}  // namespace

bool ParseFormat(const std::string& text, Format* format)
{
    if (text == "table") *format = Format::Table;
    else if (text == "csv") *format = Format::Csv;
    else if (text == "json") *format = Format::Json;
    else return false;
    return true;
}

void Print(std::FILE* out, const Rows& rows, Format format)
{
    const size_t n = rows.columns.size();
    auto cell = [&](const std::vector<std::string>& row, size_t c) -> const std::string& {
        static const std::string empty;
        return c < row.size() ? row[c] : empty;
    };
    switch (format) {
    case Format::Table: {
        std::vector<size_t> width(n, 0);
        for (size_t c = 0; c < n; ++c) width[c] = DisplayWidth(rows.columns[c].caption);
        for (const auto& row : rows.rows)
            for (size_t c = 0; c < n; ++c) width[c] = std::max(width[c], DisplayWidth(cell(row, c)));
        auto line = [&](const std::vector<std::string>& texts) {
            std::string l;
            for (size_t c = 0; c < n; ++c) {
                l += texts[c];
                if (c + 1 < n) l += std::string(width[c] - DisplayWidth(texts[c]) + 2, ' ');
            }
            while (!l.empty() && l.back() == ' ') l.pop_back();
            std::fprintf(out, "%s\n", l.c_str());
        };
        std::vector<std::string> head;
        for (const Column& col : rows.columns) head.push_back(col.caption);
        line(head);
        for (const auto& row : rows.rows) {
            std::vector<std::string> texts;
            for (size_t c = 0; c < n; ++c) texts.push_back(cell(row, c));
            line(texts);
        }
        break;
    }
    case Format::Csv: {
        std::string l;
        for (size_t c = 0; c < n; ++c) l += (c ? "," : "") + CsvField(rows.columns[c].key);
        // Lines end in LF, as the tools a script pipes them to expect;
        // fields holding line breaks are quoted.
        std::fprintf(out, "%s\n", l.c_str());
        for (const auto& row : rows.rows) {
            l.clear();
            for (size_t c = 0; c < n; ++c) l += (c ? "," : "") + CsvField(cell(row, c));
            std::fprintf(out, "%s\n", l.c_str());
        }
        break;
    }
    case Format::Json: {
        std::fprintf(out, "[");
        for (size_t r = 0; r < rows.rows.size(); ++r) {
            std::string l = r ? ",\n {" : "\n {";
            for (size_t c = 0; c < n; ++c) {
                const std::string& v = cell(rows.rows[r], c);
                // A number column keeps its type: a cell without a number
                // is null, not a text.
                l += (c ? ", " : "") + JsonString(rows.columns[c].key) + ": " +
                     (!rows.columns[c].number ? JsonString(v)
                      : IsJsonNumber(v)       ? v
                      : v.empty() || v == "-" ? std::string("null")
                                              : JsonString(v));
            }
            std::fprintf(out, "%s}", l.c_str());
        }
        std::fprintf(out, rows.rows.empty() ? "]\n" : "\n]\n");
        break;
    }
    }
    std::fflush(out);
}

Progress::Progress() : terminal_(::isatty(STDERR_FILENO) == 1) {}

void Progress::Show(const std::string& what, int done, int total)
{
    if (!terminal_) return;
    std::fprintf(stderr, "\r\033[K%s %d/%d", what.c_str(), done, total);
    std::fflush(stderr);
    shown_ = true;
}

void Progress::Done()
{
    if (!terminal_ || !shown_) return;
    std::fprintf(stderr, "\r\033[K");
    std::fflush(stderr);
    shown_ = false;
}

}  // namespace cli
