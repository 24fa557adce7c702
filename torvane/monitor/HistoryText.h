// Texts of the history viewer that need no widgets: sample times in the
// table, on the chart's time axis and in exported files; scaling texts; and
// the CSV export of a recording.
#pragma once

#include "MonitorBuffer.h"

#include <cstdint>
#include <string>
#include <vector>

namespace history {

// Local time of a sample (ms since 1970 UTC):
std::wstring TableTimeText(uint64_t ms);  // "%d/%02d/%02d %02d:%02d:%02d-%03d"
std::wstring ChartTimeText(uint64_t ms);  // "%02d:%02d:%02d-%03d"
std::wstring ChartDateText(uint64_t ms);  // "%d/%02d/%02d"
std::wstring IsoTimeText(uint64_t ms);    // "2024-03-05T07:08:09.123" (ISO 8601, local)

// A slot's scale as its scaling text shows it: exponent 0 "%.0f", -1 "%.1f",
// -2 "%.2f", -3 and a slot without a parameter "%.3f"; any other exponent
// keeps the previous text.
std::wstring ScalingText(float scale, int32_t exponent, const std::wstring& previous);

// One column of an export: a recorded slot.
struct CsvColumn {
    int slot = 0;          // 0..9
    std::wstring name;     // header
    int32_t exponent = 0;  // value format (FormatByExponent)
};

// The samples as CSV (UTF-8, comma separated, fields quoted where needed,
// CRLF line ends): header "Time" and the column names, then one row per
// sample: IsoTimeText and the values of the columns (empty where the sample
// has no valid value). False when the file could not be written.
bool WriteCsv(const std::wstring& path, const std::vector<MonitorSample>& samples,
              const std::vector<CsvColumn>& columns, std::string* error = nullptr);

}  // namespace history
