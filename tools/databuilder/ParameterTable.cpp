// Parameter workbook: sheet 0 holds the device type in C2 and, from the third
// row on, group headers ("NN***"), subgroup headers ("N.N*") and parameter
// rows (columns A to O); sheet 1 holds the option lists of enumerated
// parameters.
#include <cmath>
#include <map>
#include <set>

#include "SampleData.h"
#include "SourceText.h"
#include "BookUtil.h"

namespace databuild {

const std::vector<long> kReservedRegisters = {
    9999, 10000, 10099, 10101,                   // run command, target, status, output frequency
    0x0055,                                      // drive identity
    0x0329, 0x032A, 0x032B, 0x032C, 0x032D,      // series text
    0x0605, 0x4E1F,                              // boot request code and key
};

bool IsReservedRegister(long reg) {
    for (long r : kReservedRegisters)
        if (r == reg) return true;
    return false;
}

bool IsFlagColumn(int column) {
    return column == 5 || column == 7 || column == 9 || column == 11 || column == 13;
}

const ParamSheetRow* ParameterSource::FindPnu(std::string_view pnu) const {
    for (const auto& r : rows)
        if (r.kind == ParamSheetRow::Param && r.text[1] == pnu) return &r;
    return nullptr;
}

namespace {

// Field capacities of the program's table (characters before the terminator).
constexpr size_t kCodeCap = 7, kNameCap = 127, kShortCap = 7;
constexpr int kMaxGroups = 16, kMaxSubgroups = 8, kMaxParams = 1024, kMaxOptionRows = 5119;

bool AllDigits(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

// A two-language text "English,中文": both parts present, no further comma
// (a third part would never be shown), within the field's capacity.
bool MakeBilingual(const std::string& en, const std::string& zh, size_t cap,
                   const std::string& where, const char* what, std::string& out,
                   std::string& error) {
    if (en.empty() || zh.empty()) {
        error = where + what + " needs both an English and a Chinese text";
        return false;
    }
    if (en.find(',') != std::string::npos || zh.find(',') != std::string::npos) {
        error = where + what + " texts must not contain a comma (it separates the languages)";
        return false;
    }
    out = en + "," + zh;
    if (Utf16Length(out) > cap) {
        error = where + what + " \"" + out + "\" is longer than " + std::to_string(cap) +
                " characters";
        return false;
    }
    return true;
}

// The value in register units must be a whole number that fits the register.
bool CheckRaw(double value, int exponent, bool isSigned, const std::string& where,
              const char* what, std::string& error) {
    double raw = value * std::pow(10.0, -exponent);
    double rounded = std::nearbyint(raw);
    if (std::fabs(raw - rounded) > 1e-6) {
        error = where + what + " has more decimals than exponent " + std::to_string(exponent) +
                " allows";
        return false;
    }
    double lo = isSigned ? -32768 : 0, hi = isSigned ? 32767 : 65535;
    if (rounded < lo || rounded > hi) {
        error = where + what + " does not fit a " + (isSigned ? "signed" : "unsigned") +
                " 16-bit register";
        return false;
    }
    return true;
}

}  // namespace

bool LoadParameterSource(const std::string& tablePath, const std::string& optionsPath,
                         ParameterSource& out, std::string& error) {
    out = ParameterSource();
    static const std::vector<std::string> header = {
        "address", "pnu",  "name_en",    "name_zh", "access", "unit",   "run_edit", "exponent",
        "stored",  "level", "no_default", "default", "no_min", "min",    "no_max",   "max"};
    std::vector<CsvRow> rows;
    if (!ReadCsvTable(tablePath, header, rows, error)) return false;

    std::set<long> numbers, registers;
    std::set<std::string> pnus;
    int groups = 0, subgroups = 0, params = 0;
    bool haveHeader = false, groupHasSubgroups = false, groupHasDirectParams = false;
    int groupNumber = -1;

    for (const auto& row : rows) {
        const auto& c = row.cells;
        std::string where = Where(tablePath, row.line);
        ParamSheetRow r;
        r.line = row.line;
        const std::string& b = c[1];
        if (b.empty()) {
            // An empty column B would end the program's scan of the sheet.
            error = where + "column pnu is empty";
            return false;
        }
        bool isGroup = b.find("**") != std::string::npos;
        bool isSub = !isGroup && b.find('*') != std::string::npos;
        if (isGroup || isSub) {
            for (int k = 0; k < 16; ++k)
                if (k != 1 && k != 2 && k != 3 && !c[k].empty()) {
                    error = where + "a header row holds only pnu and the two names";
                    return false;
                }
            r.text[1] = b;
            if (!MakeBilingual(c[2], c[3], kNameCap, where, "name", r.text[2], error)) return false;
        }
        if (isGroup) {
            // "NN***": the program drops three characters and reads the rest.
            if (b.size() < 4 || b.compare(b.size() - 3, 3, "***") != 0 ||
                !AllDigits(b.substr(0, b.size() - 3))) {
                error = where + "group header must be digits followed by \"***\"";
                return false;
            }
            std::string code = b.substr(0, b.size() - 3);
            if (code.size() > kCodeCap) {
                error = where + "group code longer than 7 characters";
                return false;
            }
            if (haveHeader && groupHasSubgroups && groupHasDirectParams) {
                error = where + "previous group mixes subgroups and parameters of its own";
                return false;
            }
            r.kind = ParamSheetRow::Group;
            r.number = std::stoi(code);
            if (++groups > kMaxGroups) {
                error = where + "more than 16 groups";
                return false;
            }
            groupNumber = r.number;
            subgroups = 0;
            groupHasSubgroups = groupHasDirectParams = false;
        } else if (isSub) {
            // "N.N*": the number is the code without its second character.
            // Only a one-digit group gives a number that reads back whole.
            if (b.size() < 4 || b.back() != '*' || b[1] != '.' || !AllDigits(b.substr(0, 1)) ||
                !AllDigits(b.substr(2, b.size() - 3))) {
                error = where + "subgroup header must be \"G.N*\" with a one-digit group";
                return false;
            }
            std::string code = b.substr(0, b.size() - 1);
            if (code.size() > kCodeCap) {
                error = where + "subgroup code longer than 7 characters";
                return false;
            }
            if (!haveHeader || b[0] - '0' != groupNumber) {
                error = where + "subgroup does not belong to the group above it";
                return false;
            }
            if (groupNumber == 8 || groupNumber == 9) {
                // The monitor lists take the records of group 9 itself, and the
                // tree opens nothing for subgroups of the monitor groups.
                error = where + "groups 8 and 9 cannot have subgroups";
                return false;
            }
            if (groupHasDirectParams) {
                error = where + "group has parameters before its first subgroup; the views would "
                                "never show them";
                return false;
            }
            r.kind = ParamSheetRow::Subgroup;
            r.number = std::stoi(code.substr(0, 1) + code.substr(2));
            if (++subgroups > kMaxSubgroups) {
                error = where + "more than 8 subgroups in one group";
                return false;
            }
            groupHasSubgroups = true;
        } else {
            if (!haveHeader) {
                error = where + "parameter row above the first group header";
                return false;
            }
            r.kind = ParamSheetRow::Param;
            if (!groupHasSubgroups) groupHasDirectParams = true;
            if (++params > kMaxParams) {
                error = where + "more than 1024 parameters";
                return false;
            }
            long long address;
            if (!AllDigits(c[0]) || !ParseInt(c[0], address) || address < 1 || address > 65536) {
                error = where + "address must be a decimal number from 1 to 65536";
                return false;
            }
            r.address = static_cast<long>(address);
            long reg = r.address - 1;
            if (IsReservedRegister(reg)) {
                error = where + "register " + std::to_string(reg) +
                        " is used by the program itself";
                return false;
            }
            if (!registers.insert(reg).second) {
                error = where + "address " + c[0] + " used twice";
                return false;
            }
            if (b.size() > kShortCap || b.find(',') != std::string::npos) {
                error = where + "pnu longer than 7 characters or with a comma";
                return false;
            }
            if (!pnus.insert(b).second) {
                error = where + "pnu " + b + " used twice";
                return false;
            }
            r.text[0] = c[0];
            r.text[1] = b;
            if (!MakeBilingual(c[2], c[3], kNameCap, where, "name", r.text[2], error)) return false;
            if (Utf16Length(c[4]) > kShortCap || Utf16Length(c[5]) > kShortCap) {
                error = where + "access or unit longer than 7 characters";
                return false;
            }
            r.text[3] = c[4];
            r.text[4] = c[5];
            long long exponent, level;
            if (!ParseInt(c[7], exponent) || exponent > 0 || exponent < -3) {
                error = where + "exponent must be 0, -1, -2 or -3";
                return false;
            }
            r.exponent = static_cast<int>(exponent);
            r.text[6] = c[7];
            if (!AllDigits(c[9]) || !ParseInt(c[9], level)) {
                error = where + "level must be a decimal number";
                return false;
            }
            r.text[8] = c[9];
            // Flag cells: F run_edit, H stored, J no_default, L no_min, N no_max.
            const int flagSrc[5] = {6, 8, 10, 12, 14};
            const int flagCol[5] = {5, 7, 9, 11, 13};
            for (int k = 0; k < 5; ++k)
                if (!ParseFlag(c[flagSrc[k]], r.flag[flagCol[k]])) {
                    error = where + "column " + header[flagSrc[k]] + " must be 0 or 1";
                    return false;
                }
            r.noDefault = r.flag[9];
            r.noMin = r.flag[11];
            r.noMax = r.flag[13];
            if (!ParseReal(c[11], r.defaultValue) || !ParseReal(c[13], r.minValue) ||
                !ParseReal(c[15], r.maxValue)) {
                error = where + "default, min and max must be decimal numbers";
                return false;
            }
            r.text[10] = c[11];
            r.text[12] = c[13];
            r.text[14] = c[15];
            // The program takes the register as signed exactly when min < 0.
            bool isSigned = r.minValue < 0;
            if (r.minValue > r.maxValue) {
                error = where + "min is above max";
                return false;
            }
            if (!r.noMin && !CheckRaw(r.minValue, r.exponent, isSigned, where, "min", error))
                return false;
            if (!r.noMax && !CheckRaw(r.maxValue, r.exponent, isSigned, where, "max", error))
                return false;
            if (!r.noDefault) {
                if (!CheckRaw(r.defaultValue, r.exponent, isSigned, where, "default", error))
                    return false;
                if ((!r.noMin && r.defaultValue < r.minValue) ||
                    (!r.noMax && r.defaultValue > r.maxValue)) {
                    error = where + "default lies outside min..max";
                    return false;
                }
            }
        }
        if (r.kind != ParamSheetRow::Param) {
            if (!numbers.insert(r.number).second) {
                // The views pick rows by the first group or subgroup with the
                // selected number; a second one would show the first one's rows.
                error = where + "group or subgroup number " + std::to_string(r.number) +
                        " used twice";
                return false;
            }
            haveHeader = true;
        }
        out.rows.push_back(std::move(r));
    }
    if (haveHeader && groupHasSubgroups && groupHasDirectParams) {
        error = tablePath + ": last group mixes subgroups and parameters of its own";
        return false;
    }
    // Number of the header each parameter belongs to.
    int current = 0;
    for (auto& r : out.rows) {
        if (r.kind == ParamSheetRow::Param) r.headerNumber = current;
        else current = r.number;
    }

    static const std::vector<std::string> optionHeader = {"pnu", "code", "text_en", "text_zh"};
    std::vector<CsvRow> optionRows;
    if (!ReadCsvTable(optionsPath, optionHeader, optionRows, error)) return false;
    std::set<std::string> closedLists;
    std::set<std::string> codesOfList;
    std::string openList;
    for (const auto& row : optionRows) {
        const auto& c = row.cells;
        std::string where = Where(optionsPath, row.line);
        OptionRow o;
        o.line = row.line;
        o.pnu = c[0];
        const ParamSheetRow* p = out.FindPnu(o.pnu);
        if (!p) {
            error = where + "no parameter " + o.pnu;
            return false;
        }
        if (o.pnu != openList) {
            // The program replaces an earlier list of the same key, so a list
            // split in two would lose its first part.
            if (closedLists.count(o.pnu)) {
                error = where + "options of " + o.pnu + " must stay together";
                return false;
            }
            if (!openList.empty()) closedLists.insert(openList);
            openList = o.pnu;
            codesOfList.clear();
            if (p->exponent != 0) {
                error = where + "an enumerated parameter needs exponent 0";
                return false;
            }
        }
        long long code;
        if (!ParseInt(c[1], code) || c[1].find('x') != std::string::npos) {
            error = where + "option code must be a decimal integer";
            return false;
        }
        if (c[1].size() > 7) {
            error = where + "option code too long";
            return false;
        }
        if ((!p->noMin && code < p->minValue) || (!p->noMax && code > p->maxValue)) {
            error = where + "option code " + c[1] + " lies outside the parameter's range";
            return false;
        }
        if (!codesOfList.insert(c[1]).second) {
            error = where + "option code " + c[1] + " listed twice";
            return false;
        }
        o.code = c[1];
        if (!MakeBilingual(c[2], c[3], 255, where, "option", o.text, error)) return false;
        out.options.push_back(std::move(o));
    }
    if (out.options.size() > static_cast<size_t>(kMaxOptionRows)) {
        error = optionsPath + ": more than 5119 option rows";
        return false;
    }
    return true;
}

bool WriteParameterBook(const ParameterSource& source, const std::string& outPath,
                        std::string& error) {
    // The program refuses a workbook whose C2 does not name its own file.
    std::string base = outPath.substr(outPath.find_last_of("/\\") + 1);
    base = base.substr(0, base.find_last_of('.'));
    if (base.empty() || Utf16Length(base) > 127) {
        error = outPath + ": file base name is empty or too long for a device type";
        return false;
    }
    BookHolder h;
    xls::Sheet* s0 = h.book->addSheet(L"Parameter");
    xls::Sheet* s1 = h.book->addSheet(L"Option");
    if (!s0 || !s1) {
        error = "cannot add the sheets";
        return false;
    }
    static const char* headings[15] = {"Address", "PNU",     "Name",   "Access",     "Unit",
                                       "Run edit", "Exponent", "Stored", "Level",      "No default",
                                       "Default",  "No min",   "Min",    "No max",     "Max"};
    bool ok = true;
    for (int k = 0; k < 15; ++k) ok = Put(s0, 0, k, headings[k]) && ok;
    ok = Put(s0, 1, 0, "Device type") && Put(s0, 1, 2, base) && ok;
    int row = 2;
    for (const auto& r : source.rows) {
        if (r.kind != ParamSheetRow::Param) {
            ok = Put(s0, row, 1, r.text[1]) && Put(s0, row, 2, r.text[2]) && ok;
        } else {
            for (int k = 0; k < 15; ++k) {
                if (IsFlagColumn(k)) ok = s0->writeBool(row, k, r.flag[k]) && ok;
                else if (!r.text[k].empty()) ok = Put(s0, row, k, r.text[k]) && ok;
            }
        }
        ++row;
    }
    ok = Put(s1, 0, 0, "Code") && Put(s1, 0, 1, "Text") && Put(s1, 0, 2, "PNU") && ok;
    row = 1;
    std::string last;
    for (const auto& o : source.options) {
        ok = Put(s1, row, 0, o.code) && Put(s1, row, 1, o.text) && ok;
        if (o.pnu != last) ok = Put(s1, row, 2, o.pnu) && ok;
        last = o.pnu;
        ++row;
    }
    if (!ok) {
        error = outPath + ": a cell could not be stored";
        return false;
    }
    return SaveBook(h, outPath, error);
}

}  // namespace databuild
