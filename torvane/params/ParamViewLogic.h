// What the parameter and M-data views decide without a widget: which records
// a view shows, the texts of a row, the rows select different keeps, how an
// option choice turns into a value, and the texts of the batch summaries.
// Plain C++ on the parameter table, so the tests drive it without a display.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class ParamTable;
struct ParamRecord;

namespace paramview {

constexpr int kMaxRows = 1024;

// Grid columns, in order.
enum Column { kColSelect, kColPnu, kColName, kColValue, kColDefault, kColMin, kColMax, kColUnit, kColumnCount };
// Caption and width of each column.
const wchar_t* ColumnCaption(int column);
// The language workbook's identifier of a column's caption in the grid
// (kFirstColumnText + column); the caption above stays the value files' own.
constexpr int kFirstColumnText = 2100;
int ColumnWidth(int column);
// Column widths for a grid `available` pixels wide. At full width the
// columns keep ColumnWidth; in a narrower grid the name and then the value
// column give way (down to kMinNameWidth and kMinValueWidth) so that the
// value column, with its "..." button at the right, ends inside the grid;
// the columns right of it may then need scrolling.
constexpr int kMinNameWidth = 120;
constexpr int kMinValueWidth = 150;
std::vector<int> FitColumnWidths(int available);

// The records the parameter view shows for `selection` (indices into
// table.params, in table order, at most kMaxRows): -1 is every record outside
// the monitor groups 8 and 9; otherwise the first group or subgroup whose
// number equals selection decides (groups in order, each group before its
// subgroups). A group with subgroups shows the records of its subgroups only.
std::vector<int> ParamViewRows(const ParamTable& table, int selection);
// The records of the M-data view: the group or subgroup rule above.
std::vector<int> GroupRows(const ParamTable& table, int selection);

// A default, minimum or maximum as the grid shows it: formatted by exponent,
// or "-" when the record flags it as absent.
std::wstring LimitText(double value, bool absent, int exponent);

// A record's value as the grid shows it: its value text, or "-" while the
// value is unknown (never read, or its read was given up).
std::wstring ShownValueText(const ParamTable& table, const ParamRecord& record, int languageIndex);

// The texts of a grid row, one per column (the Select column is empty).
std::vector<std::wstring> RowTexts(const ParamTable& table, const ParamRecord& record, int languageIndex);

// Select different: the grid positions to remove, last first. A row goes when
// its record has a default and its value shows the same text as the default,
// and when its value is unknown (never read, or its read was given up): such
// a row is not known to differ.
std::vector<int> RowsEqualToDefault(const ParamTable& table, const std::vector<int>& rowRecords);

// The value an option choice stands for: the decimal integer before its first
// ","; a choice without a comma ("-" included) gives 0.
double OptionChoiceValue(const std::wstring& choice);
// The option dialog's entry for the record's current value: the entry whose
// text is the value text, else the first whose code stands for the value;
// empty when the value is unknown or its code is not listed.
std::wstring CurrentOptionChoice(const ParamTable& table, const ParamRecord& record, int languageIndex);

// The decimal places the drive keeps of a record's value: one per power of
// ten its exponent scales by (none for exponents that apply no scaling).
int ValueDecimals(int exponent);

// ---- Summary texts ----
// Read batch: one line per row given up, and the message at the end (empty
// when there were no errors: a clean read ends silently).
std::wstring ReadErrorLine(const std::wstring& pnu, int errorCode);  // "P%s errorCode%d.\n"
std::wstring ReadSummary(const std::wstring& errors);
// Write batch: a row the write pass gave up, a row whose read-back differs, a
// row the check pass gave up, and the message at the end.
std::wstring WriteGivenUpEntry(const std::wstring& pnu);  // "P%s  "
// A checked row whose value is unknown: left out of the write.
std::wstring UnknownNotWrittenLine(const std::wstring& pnu);  // "P%s not written, value unknown.\n"
std::wstring CheckMismatchLine(const std::wstring& pnu, const std::wstring& written, const std::wstring& readBack);
std::wstring CheckGivenUpLine(const std::wstring& pnu, int errorCode);
std::wstring WriteSummary(const std::wstring& errors);
// The check pass compares texts formatted by exponent: true when the value
// read back shows differently from the record's value. The texts are returned
// for the report.
bool ReadBackDiffers(const ParamRecord& record, double readBack, std::wstring* written, std::wstring* read);
// M-data view: the message for a row given up, shown at once.
std::wstring MDataErrorMessage(const std::wstring& pnu, int errorCode);
// M-data view: the one message for the rows a batch did not reach, one line
// per row (P-number and the error byte it carries) in the words above.
std::wstring MDataUnreachedMessage(const std::vector<std::pair<std::wstring, int>>& rows);

// Progress dialog captions of the write batch.
const wchar_t* WriteCaption();  // "Param...Write"
const wchar_t* CheckCaption();  // "Param...Check"

// Rows a batch loop did not reach although they were to be transferred
// (the loop ran out of passes or was stopped): their positions in order.
std::vector<int> RowsNotReached(const std::vector<bool>& transfer, int nextRow);

}  // namespace paramview
