// What torvane-cli prints on standard output: a list of rows with named
// columns, as an aligned table, as CSV (RFC 4180, one header line of column
// keys) or as JSON (an array of objects keyed like the CSV header). Texts are
// UTF-8.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace cli {

enum class Format { Table, Csv, Json };

// "table", "csv", "json"; false for anything else.
bool ParseFormat(const std::string& text, Format* format);

struct Column {
    std::string key;      // CSV header and JSON key
    std::string caption;  // table heading
    bool number = false;  // JSON: written as a number when the text is one
};

struct Rows {
    std::vector<Column> columns;
    std::vector<std::vector<std::string>> rows;

    void Add(std::vector<std::string> row) { rows.push_back(std::move(row)); }
};

void Print(std::FILE* out, const Rows& rows, Format format);

// Progress on standard error, only when it is a terminal: one line that is
// rewritten ("read 12/120"), cleared by Done.
class Progress {
public:
    Progress();
    void Show(const std::string& what, int done, int total);
    void Done();

private:
    bool terminal_;
    bool shown_ = false;
};

}  // namespace cli
