#include "BootConfig.h"

#include "BootRequestDefaults.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace drivesim {

namespace {

std::string trim(const std::string& s) {
    std::size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return s.substr(b, e - b);
}

bool equalsNoCase(const std::string& a, const char* b) {
    std::size_t n = 0;
    for (; b[n]; ++n) {
        if (n >= a.size()) return false;
        if (std::tolower(static_cast<unsigned char>(a[n])) !=
            std::tolower(static_cast<unsigned char>(b[n])))
            return false;
    }
    return n == a.size();
}

// Turns the raw file bytes into narrow text. UTF-16LE (with BOM) keeps the
// low byte of each unit, which is exact for the ASCII this section holds.
std::string toNarrow(const std::string& raw) {
    if (raw.size() >= 2 && static_cast<unsigned char>(raw[0]) == 0xFF &&
        static_cast<unsigned char>(raw[1]) == 0xFE) {
        std::string out;
        for (std::size_t i = 2; i + 1 < raw.size(); i += 2) {
            if (raw[i + 1] != 0) out.push_back('?');
            else out.push_back(raw[i]);
        }
        return out;
    }
    if (raw.size() >= 3 && static_cast<unsigned char>(raw[0]) == 0xEF &&
        static_cast<unsigned char>(raw[1]) == 0xBB && static_cast<unsigned char>(raw[2]) == 0xBF)
        return raw.substr(3);
    return raw;
}

}  // namespace

BootRequestValues defaultBootRequestValues() {
    return {torvane::bootrequest::kDefaultCode, torvane::bootrequest::kDefaultKey};
}

bool parseUint16(const std::string& text, std::uint16_t* out) {
    std::string t = trim(text);
    if (t.empty() || t[0] == '-' || t[0] == '+') return false;
    errno = 0;
    char* end = nullptr;
    unsigned long v = std::strtoul(t.c_str(), &end, 0);
    if (errno != 0 || end == t.c_str() || *end != '\0' || v > 0xFFFFul) return false;
    *out = static_cast<std::uint16_t>(v);
    return true;
}

bool readBootRequestValues(const std::string& path, BootRequestValues* out,
                           std::string* warning) {
    *out = defaultBootRequestValues();
    std::ifstream in(path, std::ios::binary);
    if (!in) return true;  // a missing file is the ordinary case: defaults
    std::stringstream ss;
    ss << in.rdbuf();
    if (in.bad()) return false;
    std::istringstream lines(toNarrow(ss.str()));
    std::string line;
    bool inSection = false;
    bool seenCode = false, seenKey = false;  // the first occurrence counts, as on Windows
    while (std::getline(lines, line)) {
        line = trim(line);
        if (line.empty() || line[0] == ';' || line[0] == '#') continue;
        if (line.front() == '[') {
            std::size_t close = line.find(']');
            std::string name = trim(line.substr(1, close == std::string::npos ? std::string::npos : close - 1));
            inSection = equalsNoCase(name, torvane::bootrequest::kSection);
            continue;
        }
        if (!inSection) continue;
        std::size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string key = trim(line.substr(0, eq));
        std::string value = trim(line.substr(eq + 1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        std::uint16_t* target = nullptr;
        if (equalsNoCase(key, torvane::bootrequest::kCodeKeyName)) {
            if (seenCode) continue;
            seenCode = true;
            target = &out->code;
        } else if (equalsNoCase(key, torvane::bootrequest::kKeyKeyName)) {
            if (seenKey) continue;
            seenKey = true;
            target = &out->key;
        }
        if (!target) continue;
        std::uint16_t parsed;
        if (parseUint16(value, &parsed)) {
            *target = parsed;
        } else if (warning) {
            if (!warning->empty()) *warning += "; ";
            *warning += path + ": [BootRequest] " + key + " = \"" + value +
                        "\" is not a 16-bit value, the default is used";
        }
    }
    return true;
}

}  // namespace drivesim
