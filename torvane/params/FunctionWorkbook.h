// A drive function (such as the PID controller) as the function view shows
// it: the list of functions in "Function/function.xls", and per function a
// workbook that places the settable and the watched value fields over the
// function's picture. Plain C++: the view and the tests use it alike.
//
// Function workbook "Function/<name>.xls", both sheets alike (sheet 0 the
// settings, sheet 1 the watches): rows 1 to 127, column A unused, B the
// parameter address, C and D the field's x and y in pixels, each a decimal
// integer written as text. The list ends at the first row where B, C or D
// is empty.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class ParamTable;
struct ParamRecord;

struct FunctionEntry {
    int32_t address = 0;  // matched against ParamRecord::address
    int32_t x = 0;        // top-left of the entry's field in the view
    int32_t y = 0;
    float value = 0;      // engineering units
};

struct FunctionLayout {
    std::vector<FunctionEntry> settings;  // sheet 0, at most kMaxFields
    std::vector<FunctionEntry> watches;   // sheet 1, at most kMaxFields
    // Rows of a sheet beyond its first kMaxFields: the view has no field for
    // them, so they are left out.
    int droppedRows = 0;
};

namespace funview {

constexpr int kMaxFields = 9;        // fields per column of the view
constexpr int kLastEntryRow = 127;   // function workbook rows 1..127
constexpr int kLastListRow = 127;    // function list rows 0..127
constexpr int kPictureWidth = 800;   // the picture is drawn stretched to this size
constexpr int kPictureHeight = 600;

// Program folder + "Function/".
std::wstring FunctionFolder(const std::wstring& programFolder);
std::wstring FunctionWorkbookPath(const std::wstring& functionFolder, const std::wstring& name);
std::wstring FunctionPicturePath(const std::wstring& functionFolder, const std::wstring& name);

// The names in column A of sheet 0 of "function.xls" below the program
// folder, rows 0 to 127 up to the first empty cell. Names that would lead out
// of the function folder (holding "/" or "\", or "." or "..") are left out.
// Empty when the list does not load.
std::vector<std::wstring> LoadFunctionList(const std::wstring& programFolder);

// Loads a function workbook. False when it does not load (the layout is then
// empty); a missing sheet 1 gives no watches.
bool LoadFunctionWorkbook(const std::wstring& path, FunctionLayout* layout);

// The first record with the address; null when there is none.
ParamRecord* RecordOfAddress(ParamTable& table, int32_t address);
const ParamRecord* RecordOfAddress(const ParamTable& table, int32_t address);

// The text of an entry's field: its value by the exponent of the record with
// its address, or "-" for an address that names no parameter.
std::wstring FieldText(const ParamTable* table, const FunctionEntry& entry);

// A settings field's text as a decimal number: blanks around it allowed,
// nothing else. False for an empty or garbled text (which is not written).
bool ParseFieldText(const std::wstring& text, double* value);

// Messages of the read and write batches.
std::wstring ReadFailedMessage(const std::wstring& pnu, int err);  // "Parameter read:P%s  device error code:%d"
std::wstring WriteFailedMessage(const std::wstring& pnu);          // "Parameter write failed:P%s"
extern const wchar_t* const kReadCompletion;                       // "Parameter Read completion"
extern const wchar_t* const kWriteCompletion;                      // "Parameter Write completion"

}  // namespace funview
