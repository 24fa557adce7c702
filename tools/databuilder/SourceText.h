// Reading the text sources of the sample data set: UTF-8 files, CSV tables
// with a header row, and the small conversions every builder step shares.
//
// The sources are meant to be reviewed and diffed, so the readers are strict:
// a malformed line is an error naming the file and line, never a silent skip.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace databuild {

// Whole file as bytes. False (with `error`) when it cannot be read.
bool ReadFileBytes(const std::string& path, std::string& bytes, std::string& error);
// Writes `bytes` to `path`, replacing the file. Creates no folders.
bool WriteFileBytes(const std::string& path, std::string_view bytes, std::string& error);

// Strict UTF-8 check (no overlong forms, no surrogates, nothing past U+10FFFF).
bool IsValidUtf8(std::string_view bytes);
// UTF-8 to wide text; the input must be valid UTF-8.
std::wstring Widen(std::string_view utf8);

struct CsvRow {
    int line = 0;                    // 1-based line of the row's first character
    std::vector<std::string> cells;  // as written, quotes removed
};

// CSV as the sources use it: "," between cells, cells in double quotes may
// hold commas, quotes ("" for one) and line breaks; CR LF or LF ends a row; a
// UTF-8 byte order mark is skipped; blank lines and lines whose first
// character is "#" are left out. `name` is used in error texts.
bool ParseCsv(std::string_view text, const std::string& name, std::vector<CsvRow>& rows,
              std::string& error);

// A CSV file whose first row must be exactly `header`. Data rows may be
// shorter than the header (missing cells are empty) but not longer.
bool ReadCsvTable(const std::string& path, const std::vector<std::string>& header,
                  std::vector<CsvRow>& rows, std::string& error);

// "file:line: " prefix for error texts.
std::string Where(const std::string& name, int line);

// Whole-text conversions: the text must be nothing but the number.
bool ParseInt(std::string_view text, long long& value);  // decimal, optional sign, or 0x hex
bool ParseReal(std::string_view text, double& value);     // decimal, C locale
// "0" or "1".
bool ParseFlag(std::string_view text, bool& value);

// Number of UTF-16 code units (what a wide-character field of the program
// counts as characters on the platform it was designed for).
size_t Utf16Length(std::string_view utf8);

}  // namespace databuild
