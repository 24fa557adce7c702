// Parameter value files: the values of the checked rows of a parameter view,
// saved as a workbook in the "ParaValue/" folder and loaded back into any
// view of the same device type.
//
// Sheet "Sheet1". Row 0: A the device type, then the headings "PNU",
// "VKR PNU", "VALUE", "Descripition", "Default", "Min", "Max", "Unit".
// A checked grid row r is written at sheet row r + 1 (unchecked rows leave
// their sheet row empty): A record index + 1, B address, C "P" + pnu (text),
// D value, E name with all its languages (text), F default, G min, H max
// (numbers) and I unit (text).
#pragma once

#include <string>
#include <vector>

class ParamTable;

namespace valuefile {

constexpr int kFirstRow = 1;
constexpr int kLastRow = 1023;

// Folder and filter of the file dialog.
const wchar_t* Folder();  // "ParaValue/"
const wchar_t* FilterText();  // "VKR Para(*.xls)"
const wchar_t* FilterPattern();  // "*.xls"

// Messages.
const wchar_t* SavedText();       // "The file is saved successfully."
const wchar_t* SaveFailedText();  // "The file saving failed."
const wchar_t* LoadedText();      // "The file is loaded successfully."
const wchar_t* LoadFailedText();  // "The file load failed."
// "Device model does not match :%s != %s" (the table's file base name, A1).
std::wstring ModelMismatchText(const std::wstring& tableModel, const std::wstring& fileModel);

// The chosen name with ".xls" appended when it holds ".xls" nowhere.
std::wstring WithXlsExtension(const std::wstring& path);

// Writes the rows of a view: rowRecords are the record indices of the grid
// rows, checked their check states (same length). A checked row whose value
// is unknown is left out (its sheet row stays empty): a file must not carry
// a value nobody read. *leftOut gets their count. False when the workbook
// could not be made or written; *error says why.
bool Save(const std::wstring& path, const ParamTable& table, const std::vector<int>& rowRecords,
          const std::vector<bool>& checked, std::string* error = nullptr, int* leftOut = nullptr);
// The line added to the saved message when checked rows were left out.
std::wstring LeftOutText(int leftOut);

// One data row of a value file.
struct Entry {
    int n = 0;        // column A: record index + 1 when saved; grid row n - 1 is tried first
    int address = 0;  // column B
    double value = 0; // column D
};

struct LoadResult {
    enum class Status { Ok, Unreadable, NotValueFile, ModelMismatch, BadRow } status = Status::Unreadable;
    std::wstring fileModel;  // A1 as read
    std::string error;       // what was wrong, for logs and tests
    std::vector<Entry> entries;
};

// Reads a value file for the table. Nothing is applied here: a file that is
// refused in any part yields no entries.
LoadResult Load(const std::wstring& path, const ParamTable& table);

// Where the entries go in the rows of a view: when grid row n - 1 exists and
// shows a record with the entry's address, that row takes the value;
// otherwise every row with that address does. One target per row reached,
// in the order of the entries; the value as the file holds it.
struct Target {
    int row = -1;
    int record = -1;
    double value = 0;
};
std::vector<Target> Targets(const std::vector<Entry>& entries, const ParamTable& table,
                            const std::vector<int>& rowRecords);

// Applies entries to the rows of a view (the targets above): sets the
// records' values, rounded to each parameter's resolution (known now, not
// yet written); returns the grid rows that changed, in the order they were
// changed.
std::vector<int> Apply(const std::vector<Entry>& entries, ParamTable& table, const std::vector<int>& rowRecords);

// What a load did beyond taking values: how many were rounded to their
// parameter's resolution, and how many were refused (outside min..max, not
// an option, too large for the register) and left as they were; a value
// the drive is known to hold is never refused. Empty when both are 0.
std::wstring LoadReportText(int rounded, int refused);

}  // namespace valuefile
