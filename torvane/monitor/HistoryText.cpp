#include "HistoryText.h"

#include "HistoryFile.h"
#include "ParamTable.h"
#include "WideText.h"

#include <cstdio>
#include <ctime>
#include <fstream>

namespace history {

namespace {

struct LocalTime {
    std::tm tm{};
    int ms = 0;
};

LocalTime Local(uint64_t ms)
{
    LocalTime t;
    const std::time_t s = static_cast<std::time_t>(ms / 1000);
    localtime_r(&s, &t.tm);
    t.ms = static_cast<int>(ms % 1000);
    return t;
}

std::wstring Ascii(const char* text) { return wtext::FromUtf8(text); }

std::string CsvField(const std::wstring& text)
{
    const std::string u = wtext::ToUtf8(text);
    if (u.find_first_of(",\"\r\n") == std::string::npos) return u;
    std::string q = "\"";
    for (char c : u) {
        if (c == '"') q += '"';
        q += c;
    }
    return q + "\"";
}

}  // namespace

std::wstring TableTimeText(uint64_t ms)
{
    const LocalTime t = Local(ms);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%d/%02d/%02d %02d:%02d:%02d-%03d", t.tm.tm_year + 1900, t.tm.tm_mon + 1,
                  t.tm.tm_mday, t.tm.tm_hour, t.tm.tm_min, t.tm.tm_sec, t.ms);
    return Ascii(buf);
}

std::wstring ChartTimeText(uint64_t ms)
{
    const LocalTime t = Local(ms);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d-%03d", t.tm.tm_hour, t.tm.tm_min, t.tm.tm_sec, t.ms);
    return Ascii(buf);
}

std::wstring ChartDateText(uint64_t ms)
{
    const LocalTime t = Local(ms);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%d/%02d/%02d", t.tm.tm_year + 1900, t.tm.tm_mon + 1, t.tm.tm_mday);
    return Ascii(buf);
}

std::wstring IsoTimeText(uint64_t ms)
{
    const LocalTime t = Local(ms);
    char buf[48];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", t.tm.tm_year + 1900, t.tm.tm_mon + 1,
                  t.tm.tm_mday, t.tm.tm_hour, t.tm.tm_min, t.tm.tm_sec, t.ms);
    return Ascii(buf);
}

std::wstring ScalingText(float scale, int32_t exponent, const std::wstring& previous)
{
    switch (exponent) {
    case 0: return wtext::FormatFixed(scale, 0);
    case -1: return wtext::FormatFixed(scale, 1);
    case -2: return wtext::FormatFixed(scale, 2);
    case -3: return wtext::FormatFixed(scale, 3);
    default: return exponent == kNoRecordExponent ? wtext::FormatFixed(scale, 3) : previous;
    }
}

bool WriteCsv(const std::wstring& path, const std::vector<MonitorSample>& samples,
              const std::vector<CsvColumn>& columns, std::string* error)
{
    std::ofstream out(wtext::ToUtf8(path), std::ios::binary | std::ios::trunc);
    if (!out) {
        if (error) *error = "the file could not be created";
        return false;
    }
    std::string line = "Time";
    for (const CsvColumn& c : columns) line += "," + CsvField(c.name);
    out << line << "\r\n";
    for (const MonitorSample& s : samples) {
        line = wtext::ToUtf8(IsoTimeText(s.timeMs));
        for (const CsvColumn& c : columns) {
            line += ',';
            if (c.slot < 0 || c.slot >= kMonitorSlots) continue;
            const SampleEntry& e = s.entries[c.slot];
            if (e.valid) line += wtext::ToUtf8(FormatByExponent(e.value, c.exponent));
        }
        out << line << "\r\n";
    }
    out.flush();
    if (!out) {
        if (error) *error = "the file could not be written";
        return false;
    }
    return true;
}

}  // namespace history
