#include "Params.h"

#include "../../torvane/catalogue/Workbook.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cwctype>

namespace drivesim {

double ParamDef::scale() const {
    switch (exponent) {
    case 0: return 1.0;
    case -1: return 0.1;
    case -2: return 0.01;
    case -3: return 0.001;
    default: return 1.0;
    }
}

std::uint16_t ParamDef::toRaw(double engineering) const {
    long long raw = std::llround(engineering / scale());
    return static_cast<std::uint16_t>(raw & 0xFFFF);
}

double ParamDef::toEngineering(std::uint16_t raw) const {
    long v = isSigned() ? static_cast<long>(static_cast<std::int16_t>(raw)) : static_cast<long>(raw);
    return static_cast<double>(v) * scale();
}

bool ParamDef::inRange(std::uint16_t raw) const {
    long v = isSigned() ? static_cast<long>(static_cast<std::int16_t>(raw)) : static_cast<long>(raw);
    // Compare in raw units so that 0.1-steps do not suffer from rounding.
    if (!noMin) {
        double lo = std::ceil(minValue / scale() - 1e-6);
        if (static_cast<double>(v) < lo) return false;
    }
    if (!noMax) {
        double hi = std::floor(maxValue / scale() + 1e-6);
        if (static_cast<double>(v) > hi) return false;
    }
    return true;
}

namespace {

ParamDef make(std::uint16_t reg, const char* pnu, const char* name, const char* unit, int exponent,
              double def, double lo, double hi, int group) {
    ParamDef p;
    p.reg = reg;
    p.pnu = pnu;
    p.name = name;
    p.unit = unit;
    p.exponent = exponent;
    p.defaultValue = def;
    p.minValue = lo;
    p.maxValue = hi;
    p.group = group;
    return p;
}

}  // namespace

std::vector<ParamDef> builtinParams() {
    // Addresses in the workbook sense would be reg + 1.
    return {
        make(0x0100, "01.00", "Acceleration time", "s", -1, 10.0, 0.0, 3600.0, 1),
        make(0x0101, "01.01", "Deceleration time", "s", -1, 10.0, 0.0, 3600.0, 1),
        make(0x0102, "01.02", "Maximum frequency", "Hz", -2, 50.00, 10.00, 590.00, 1),
        make(0x0103, "01.03", "Motor rated current", "A", -1, 12.5, 0.1, 999.9, 1),
        make(0x0104, "01.04", "Frequency offset", "Hz", -2, -1.50, -10.00, 10.00, 1),
        make(0x0105, "01.05", "Carrier frequency", "kHz", -1, 4.0, 1.0, 16.0, 1),
        make(0x0106, "01.06", "Control mode", "", 0, 1, 0, 3, 1),
        make(0x0900, "09.00", "Output frequency", "Hz", -2, 0, 0, 590.00, 9),
        make(0x0901, "09.01", "Set frequency", "Hz", -2, 0, 0, 590.00, 9),
        make(0x0902, "09.02", "Output current", "A", -2, 0, 0, 655.35, 9),
        make(0x0903, "09.03", "Output voltage", "V", 0, 0, 0, 1000, 9),
        make(0x0904, "09.04", "DC bus voltage", "V", -1, 540.0, 0, 1500.0, 9),
        make(0x0905, "09.05", "Motor speed", "rpm", 0, 0, -30000, 30000, 9),
        make(0x0906, "09.06", "Output torque", "%", -1, 0, -300.0, 300.0, 9),
        make(0x0907, "09.07", "Output power", "kW", -1, 0, -1000.0, 1000.0, 9),
        make(0x0908, "09.08", "Heatsink temperature", "\xC2\xB0" "C", -1, 30.0, -20.0, 150.0, 9),
    };
}

std::string toUtf8(const wchar_t* text) {
    std::string out;
    if (!text) return out;
    for (const wchar_t* p = text; *p; ++p) {
        unsigned long c = static_cast<unsigned long>(*p);
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

namespace {

// Text of a cell; number cells are formatted so that text and number cells
// read alike.
std::string cellText(xls::Sheet& s, int row, int col) {
    switch (s.cellType(row, col)) {
    case xls::Sheet::CELLTYPE_STRING:
        return toUtf8(s.readStr(row, col));
    case xls::Sheet::CELLTYPE_NUMBER: {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.15g", s.readNum(row, col));
        return buf;
    }
    case xls::Sheet::CELLTYPE_BOOLEAN:
        return s.readBool(row, col) ? "1" : "0";
    default:
        return std::string();
    }
}

// Base-10 integer that stops at the first non-digit; empty text gives 0.
long parseIntText(const std::string& t) { return std::strtol(t.c_str(), nullptr, 10); }

double parseRealText(const std::string& t) { return std::strtod(t.c_str(), nullptr); }

bool cellBool(xls::Sheet& s, int row, int col) {
    switch (s.cellType(row, col)) {
    case xls::Sheet::CELLTYPE_BOOLEAN:
        return s.readBool(row, col);
    case xls::Sheet::CELLTYPE_NUMBER:
        return s.readNum(row, col) != 0;
    case xls::Sheet::CELLTYPE_STRING: {
        std::string t = toUtf8(s.readStr(row, col));
        return t == "1" || t == "TRUE" || t == "true" || t == "True";
    }
    default:
        return false;
    }
}

std::string englishVariant(const std::string& multi) {
    std::size_t comma = multi.find(',');
    return comma == std::string::npos ? multi : multi.substr(0, comma);
}

}  // namespace

bool readParamsFromBook(xls::Book& book, std::vector<ParamDef>* out, std::string* error) {
    xls::Sheet* s = book.getSheet(0);
    if (!s) {
        if (error) *error = "the workbook has no sheet 0";
        return false;
    }
    out->clear();
    int group = -1;
    for (int row = 2; row <= 1023; ++row) {
        std::string b = cellText(*s, row, 1);
        if (b.empty()) break;
        if (b.find("**") != std::string::npos) {
            std::string code = b.size() >= 3 ? b.substr(0, b.size() - 3) : std::string();
            group = static_cast<int>(parseIntText(code));
            continue;
        }
        if (b.find('*') != std::string::npos) continue;  // subgroup: stays in its group
        std::string a = cellText(*s, row, 0);
        if (a.empty()) continue;
        ParamDef p;
        long address = parseIntText(a);
        p.reg = static_cast<std::uint16_t>((address - 1) & 0xFFFF);
        p.pnu = b;
        p.name = englishVariant(cellText(*s, row, 2));
        p.unit = cellText(*s, row, 4);
        p.exponent = static_cast<int>(parseRealText(cellText(*s, row, 6)));
        p.noDefault = cellBool(*s, row, 9);
        p.defaultValue = parseRealText(cellText(*s, row, 10));
        p.noMin = cellBool(*s, row, 11);
        p.minValue = parseRealText(cellText(*s, row, 12));
        p.noMax = cellBool(*s, row, 13);
        p.maxValue = parseRealText(cellText(*s, row, 14));
        p.group = group;
        out->push_back(p);
    }
    return true;
}

}  // namespace drivesim
