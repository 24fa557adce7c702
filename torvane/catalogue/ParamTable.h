// The parameter table of the current device type: groups and subgroups (the
// device tree), the parameter records (every data view works on these) and the
// option lists of enumerated parameters, loaded from the device type's
// parameter workbook.
//
// Sheet 0 of the workbook: C2 names the device type and must equal the file's
// base name; from the third row on, column B holds either a group header
// ("08***"), a subgroup header ("8.1*") or a parameter number, and the scan
// ends at the first empty B. Sheet 1 holds the option lists (code, text, and
// in column C the PNU that starts a list).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct ParamSubgroup {
    int32_t number = 0;
    std::wstring code;
    std::wstring name;  // multi-language ("English,中文")
};

struct ParamGroup {
    int32_t number = 0;
    std::wstring code;
    std::wstring name;  // multi-language
    std::vector<ParamSubgroup> subgroups;  // at most ParamTable::kMaxSubgroups

    int subgroupCount() const { return static_cast<int>(subgroups.size()); }
};

struct ParamRecord {
    uint8_t selected = 0;       // check mark of the row in a view
    int32_t index = 0;          // position in ParamTable::params
    int32_t address = 0;        // register number counted from 1 (column A)
    int32_t groupNumber = -1;   // nearest header above; -1 above the first header
    std::wstring groupCode;
    std::wstring pnu;           // column B, shown as "P" + pnu
    std::wstring name;          // column C, multi-language
    std::wstring reservedText;  // column D, kept as read
    std::wstring unit;          // column E
    bool reservedFlagF = false; // column F
    int32_t exponent = 0;       // column G: 0, -1, -2 or -3
    bool reservedFlagH = false; // column H
    int32_t reservedNumber = 0; // column I
    bool noDefault = false;     // column J
    double defaultValue = 0;    // column K
    bool noMin = false;         // column L
    double minValue = 0;        // column M; below 0 means a signed register
    bool noMax = false;         // column N
    double maxValue = 0;        // column O
    double value = 0;           // last value read from or loaded for the drive
    // `value` means nothing yet: nothing was read, edited or loaded for the
    // record since the table was loaded, or its last read was given up. Such
    // a value is neither written to the drive nor saved.
    bool valueUnknown = true;
    // `value` was edited or loaded from a value file and has not been written
    // to the drive since (a read replaces it and clears this too).
    bool valueUnwritten = false;
    // What the drive itself was last seen to hold (a read, or a write's
    // read-back), apart from an edit in `value` not written yet: compares
    // and undo need both.
    double driveValue = 0;
    bool driveKnown = false;
};

class ParamTable {
public:
    static constexpr int kMaxGroups = 16;
    static constexpr int kMaxSubgroups = 8;
    static constexpr int kMaxParams = 1024;
    static constexpr int kFirstDataRow = 2;     // third sheet row
    static constexpr int kLastDataRow = 1023;
    static constexpr int kLastOptionRow = 5119;

    // Fills the table from the workbook at `path`. True when the table was
    // filled; it then replaces everything the table held. On false the table
    // is left exactly as it was (fileBaseName included) and lastError() says
    // why. The caller shows ParamLoadFailedMessage(path).
    bool Load(const std::wstring& path);
    // Empties the table.
    void Clear();

    std::wstring deviceType;    // cell C2
    std::wstring fileBaseName;  // loaded file's name without folder and extension
    std::vector<ParamGroup> groups;   // at most kMaxGroups
    std::vector<ParamRecord> params;  // at most kMaxParams, in sheet order
    std::map<std::wstring, std::map<std::wstring, std::wstring>> optionTexts;  // PNU -> code -> text
    std::map<std::wstring, std::vector<std::wstring>> optionCodes;             // PNU -> codes in sheet order

    int groupCount() const { return static_cast<int>(groups.size()); }
    int paramCount() const { return static_cast<int>(params.size()); }

    // Record by its index; nullptr when out of range.
    ParamRecord* RecordByIndex(int index);
    const ParamRecord* RecordByIndex(int index) const;

    // Option list of a PNU; nullptr when it has none.
    const std::vector<std::wstring>* OptionCodesOf(const std::wstring& pnu) const;
    const std::map<std::wstring, std::wstring>* OptionTextsOf(const std::wstring& pnu) const;
    bool HasOptions(const std::wstring& pnu) const { return OptionTextsOf(pnu) != nullptr; }

    // The entries of the option dialog for a PNU, in sheet order: code, ",",
    // option text in the language of `languageIndex`.
    std::vector<std::wstring> OptionChoices(const std::wstring& pnu, int languageIndex) const;

    // The text every view shows for a record's value: the value formatted by
    // its exponent; for an option-coded parameter the integer code, "," and
    // the option's text ("1,Run"), or "-" when the option list has no codes.
    std::wstring ValueText(const ParamRecord& record, int languageIndex) const;
    // The same for another value of that record.
    std::wstring ValueText(const ParamRecord& record, double value, int languageIndex) const;

    // Path of the workbook loaded last (where the shell's file dialog opens).
    const std::wstring& loadedPath() const { return loadedPath_; }
    const std::string& lastError() const { return lastError_; }

private:
    std::wstring loadedPath_;
    std::string lastError_;
};

// Carries what the user built up in the records of `from` (value, unknown
// and unwritten marks, check mark) to the records of `to` with the same
// address; records of `to` without a match keep their fresh state.
void CarryRecordStates(const ParamTable& from, ParamTable& to);
// The records whose value was edited or loaded and not yet written.
int UnwrittenCount(const ParamTable& table);
// Both tables describe the same device type (their records' values mean
// the same parameters).
bool SameDeviceType(const ParamTable& a, const ParamTable& b);

// The one table of the running program.
ParamTable& TheParamTable();

// The number of steps of the exponent's scale (0.1, 0.01, 0.001; 1 for
// other exponents) a value stands for: the value times 10, 100 or 1000,
// rounded to the nearest integer, halves away from zero, as the register
// conversion does (35.555 at two places is 3556 steps; 1.005, held as
// 1.00499..., is 100). The one rounding of the program: what a view shows,
// what a dialog or a value file leaves in a record, and what goes into the
// register all come from it.
double ResolutionSteps(double value, int exponent);
// The value at the exponent's resolution (ResolutionSteps divided back).
double RoundByExponent(double value, int exponent);

// Value text by exponent: 0 -> "%.0f", -1 -> "%.1f", -2 -> "%.2f", any other
// -> "%.3f" (locale-independent, "." as the decimal point), of the value
// rounded by RoundByExponent for exponents 0 to -3.
std::wstring FormatByExponent(double value, int exponent);

// "Device parameter file failed to load:" + path.
std::wstring ParamLoadFailedMessage(const std::wstring& path);

// Files of the workbook selection, below the program folder (which ends in a
// separator, or is empty for the working directory).
std::wstring SettingFilePath(const std::wstring& programFolder);     // Language/setting.ini
std::wstring ConfiguredDeviceType(const std::wstring& programFolder); // [Setting] Device, "" when missing
std::wstring ParameterWorkbookPath(const std::wstring& programFolder, const std::wstring& deviceType);
std::wstring FunctionListPath(const std::wstring& programFolder);     // Function/function.xls
