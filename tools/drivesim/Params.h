// The drive's parameter registers: one definition per parameter record of a
// parameter workbook, or the small built-in set used without one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace xls {
class Book;
}

namespace drivesim {

struct ParamDef {
    std::uint16_t reg = 0;     // Modbus register = address - 1 (address 0 gives 65535)
    std::string pnu;           // column B
    std::string name;          // column C, English variant (text before the first ',')
    std::string unit;          // column E
    int exponent = 0;          // column G: engineering value = raw x 10^exponent
    bool noDefault = false;    // column J
    double defaultValue = 0;   // column K
    bool noMin = false;        // column L
    double minValue = 0;       // column M
    bool noMax = false;        // column N
    double maxValue = 0;       // column O
    int group = -1;            // number of the enclosing group header (not subgroup); -1 above the first

    // Register is signed 16-bit when minValue < 0.
    bool isSigned() const { return !noMin && minValue < 0; }
    // 10^exponent for exponents 0, -1, -2, -3; 1 for any other (no scaling).
    double scale() const;
    // Raw register value for an engineering value (rounded, wrapped to 16 bits).
    std::uint16_t toRaw(double engineering) const;
    // Engineering value of a raw register value (signed when isSigned()).
    double toEngineering(std::uint16_t raw) const;
    // Whether a raw value lies within [minValue, maxValue] (limits flagged
    // "no" are not checked).
    bool inRange(std::uint16_t raw) const;
    // Group 9 holds the monitor quantities; groups 8 and 9 are read-only.
    bool isMonitor() const { return group == 9; }
    bool isReadOnly() const { return group == 8 || group == 9; }
};

// A small register set for running without a workbook, laid out like the
// sample TV380 table (register = group x 256 + index): a few settings of
// group 1 at 0x0100.. (P01.04 signed) and monitor quantities of group 9 at
// 0x0900.. (output frequency, set frequency, current, voltage, DC bus, speed,
// torque, power, heatsink temperature).
std::vector<ParamDef> builtinParams();

// Reads the parameter records of sheet 0 as the parameter workbook lays them out: rows 2 to
// 1023, an empty column B ends the scan, "**" / "*" in B mark group and
// subgroup headers, rows without text in column A are skipped. Numbers in
// columns A, G, K, M, O may be text cells (as the workbooks hold them) or
// number cells. Cell C2 is not compared with a file name (the program does
// that; the simulator takes any workbook). False with `*error` when the book
// has no sheet 0.
bool readParamsFromBook(xls::Book& book, std::vector<ParamDef>* out, std::string* error);

// Loads the workbook file through the workbook layer (TorvaneWorkbook) and
// reads it as above. Without that layer in the build it returns false with
// an explanation.
bool loadParamWorkbook(const std::string& path, std::vector<ParamDef>* out, std::string* error);
bool workbookSupportBuilt();

// UTF-8 text of a wide string (for names and logs).
std::string toUtf8(const wchar_t* text);

}  // namespace drivesim
