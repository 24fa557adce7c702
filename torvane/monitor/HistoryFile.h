// History workbooks: a monitor recording as an .xls file, its writer and its
// reader.
//
// One sheet "Sheet1"; rows and columns zero-based:
//   row 0: A model (text),         B..K signal names of slots 1..10 (text)
//   row 1: A interval name (text), B..K signal addresses (numbers)
//   row 2: A start time (text: milliseconds since 1970 UTC, decimal, whole
//          second: the first sample's time rounded down),
//                                  B..K slot recorded (booleans)
//   row 3 + k - 1: A sample number k = 1, 2, ... (number),
//                  B..K the engineering value of each slot (numbers, 0 for a
//                  slot not recorded or not read)
// All ten signal columns are always written. Column L carries each sample's
// own time: L1 "Time", L2 the interval changes during the recording (empty
// when there was none), L3 "ms since 1970 UTC", and from row 3 on the time
// the sample's sweep completed, in milliseconds since 1970 UTC (a number).
// A1..K3 and the rows' layout are as before, so a file reads as it always
// did; a file without column L gives row k the start time plus (k - 1)
// interval lengths.
//
// Messages are values here: the reader shows nothing itself, it says which
// text the viewer shows.
#pragma once

#include "MonitorBuffer.h"

#include <array>
#include <cstdint>
#include <string>

class ParamTable;

namespace history {

// File dialog filter and folder (below the program folder).
const wchar_t* FilterText();     // "VKR His(*.xls)"
const wchar_t* FilterPattern();  // "*.xls"
const wchar_t* Folder();         // "history/"

// Messages.
const wchar_t* LoadFailedText();  // "File loading failed."
const wchar_t* NoDataText();      // "There is no valid data in the file."
const wchar_t* SavedText();       // "The file is saved successfully."
const wchar_t* SaveFailedText();  // "File saving failed."
// "Device model does not match:%s    %s", the device type first, then the file's model.
std::wstring ModelMismatchText(const std::wstring& deviceType, const std::wstring& fileModel);

// Length of a sampling interval by its name ("1min" 60000 ... "50ms" 50);
// 0 for any other name.
uint32_t IntervalLengthMs(const std::wstring& intervalName);

// Start time written for n samples whose latest append was at lastAppendMs:
// (lastAppendMs - interval length x n), rounded down to a whole second, in
// unsigned 64-bit arithmetic. Used for a recording whose samples carry no
// time of their own.
uint64_t StartTimeMs(uint64_t lastAppendMs, const std::wstring& intervalName, uint32_t n);

// Column of the samples' own times, and its header texts.
constexpr int kTimeColumn = kMonitorSlots + 1;  // L
const wchar_t* TimeCaption();  // "Time"
const wchar_t* TimeUnitText();  // "ms since 1970 UTC"
// The interval changes as cell L2 says them, e.g. "Interval changed: 14:50:01.234 100ms -> 2sec
// (overruns)"; several are separated by "; ". Empty when there was none.
std::wstring IntervalChangesText(const std::wstring& startInterval, const std::vector<IntervalChange>& changes);

// Writes a recording as a history workbook at path (replacing the file).
// False when the workbook could not be made or saved; *error says why.
bool WriteWorkbook(const HistoryRecording& recording, const std::wstring& path, std::string* error = nullptr);

// What the reader found for one slot.
struct SlotInfo {
    std::wstring name;        // from the file
    uint32_t address = 0;     // from the file
    bool recorded = false;    // from the file
    int recordIndex = -1;     // first ParamRecord with that address; -1 when none
    int32_t exponent = 0;     // the record's; kNoRecordExponent without a record
    float scale = 0;          // the slot's scale after the samples were read
};

// Exponent given to a slot whose address matches no parameter of the current
// device type: its values and scale are shown with three decimals ("%.3f",
// the format of exponents without a fixed one) and its scale starts at 10.
constexpr int32_t kNoRecordExponent = -32768;

struct LoadResult {
    enum class Outcome {
        Loaded,         // samples were taken into the store
        NoData,         // accepted, but no data row; the store is then empty
        Unreadable,     // the workbook could not be read (missing, damaged, truncated)
        NoSheet,        // the workbook has no sheet
        ModelMismatch,  // recorded for another device type; the store is untouched
    };
    Outcome outcome = Outcome::Unreadable;
    // The reader's answer: true when the file was accepted (also with no data
    // rows). On false the viewer shows `message` (when not empty) and then
    // LoadFailedText().
    bool accepted = false;
    // Text to show: ModelMismatchText(...) or NoDataText(); empty otherwise.
    std::wstring message;
    std::string error;         // detail for the log and the tests
    std::wstring fileModel;    // A1 as read (cut to kMonitorNameMax characters)
    std::wstring intervalText; // A2 as read
    std::wstring intervalChanges;  // L2 as read (empty: the interval never changed)
    uint64_t startMs = 0;      // A3 parsed, rounded down to a whole second
    uint32_t rows = 0;         // samples taken
    std::array<SlotInfo, kMonitorSlots> slotInfo;  // not "slots": a Qt keyword
};

// Reads history workbooks into a store for the device type of a table.
class CHistoryReader {
public:
    CHistoryReader(const ParamTable& table, CMonitorBuffer& store) : table_(table), store_(store) {}

    // Reads path. On acceptance the store is reset (not continuous, the
    // file's model and interval, its ten signals) and holds the file's
    // samples, at most 10000, from the first row up to the first row whose
    // sample number breaks the sequence 1, 2, 3, ... A refused file leaves
    // the store untouched.
    LoadResult Load(const std::wstring& path);

private:
    const ParamTable& table_;
    CMonitorBuffer& store_;
};

}  // namespace history
