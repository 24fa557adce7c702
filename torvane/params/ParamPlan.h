// What a set of wanted values does to the drive, decided once for every
// path that writes many values: the parameter view's compare with a file, a
// value file's load, undo of a write, and torvane-cli's write, restore and
// diff. Per parameter: write it, leave it (the drive already holds it), refuse
// it (the value cannot go to the drive), or read first (the drive's value is
// not known, so neither "leave" nor "write" can be said).
//
// The rules:
// - a wanted value is first rounded to the parameter's resolution by the
//   register's own rounding (35.555 at two places is 35.56);
// - a value the drive already shows is left, and never refused: a backup
//   holds what the drive holds, in range of the table or not;
// - a value that differs from the drive is refused when the value check
//   refuses it (outside min..max, not an option, too large for the register).
#pragma once

#include "ValueCheck.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

class ParamTable;
struct ParamRecord;

namespace paramplan {

enum class Action { Write, Leave, Refuse, ReadFirst };

// A value known to be in the drive, or not known.
struct Known {
    bool known = false;
    double value = 0;
};

// A record and the value wanted for it, as its source gives it.
struct Want {
    int record = -1;
    double value = 0;
};

struct Step {
    int record = -1;
    double value = 0;      // wanted, at the parameter's resolution
    bool rounded = false;  // the source held more decimals
    Known drive;
    Action action = Action::ReadFirst;
    valuecheck::Verdict verdict = valuecheck::Verdict::Ok;  // of the wanted value
};

// The drive's value of a record as the caller knows it.
using DriveOf = std::function<Known(int record)>;
// The drive's values as a table's records hold them (driveValue/driveKnown).
DriveOf DriveOfRecords(const ParamTable& table);

// One step per want, in the order given.
Step PlanOne(const ParamTable& table, const Want& want, const Known& drive);
std::vector<Step> Make(const ParamTable& table, const std::vector<Want>& wants, const DriveOf& drive);

// Two values of a record that show the same text (its value text by exponent).
bool SameShown(const ParamRecord& record, double a, double b);

// The compare of drive, wanted value and default: true when any two that are
// known differ (an unknown drive value always counts as a difference: it
// has to be looked at; an absent default takes no part).
bool Differs(const ParamTable& table, const Step& step);

struct Counts {
    int write = 0, leave = 0, refuse = 0, readFirst = 0, rounded = 0;
};
Counts Count(const std::vector<Step>& steps);

// The steps of one action.
std::vector<Step> Only(const std::vector<Step>& steps, Action action);

// Why a step is refused, in the words of the value check
// ("not between 0.00 and 590.00").
std::wstring RefusalText(const ParamTable& table, const Step& step, int languageIndex);

// ---- Undo of writes ----
// What one write batch replaced: per row written, the drive's value before
// it (read back or read at the time), when that was known.
struct UndoRow {
    int record = -1;
    int address = 0;  // the record still means the same register
    Known before;
};
struct WriteBatch {
    uint8_t station = 0;
    std::vector<UndoRow> rows;
};

// The last write batches of the program's run, newest last. Views come and
// go; the history stays. Safe to use from a worker thread.
class WriteHistory {
public:
    static constexpr size_t kKept = 5;
    // A batch without rows is not kept; the oldest goes beyond kKept.
    void Push(WriteBatch batch);
    bool Empty() const;
    size_t Size() const;
    WriteBatch Last() const;
    void DropLast();
    void Clear();

private:
    mutable std::mutex mutex_;
    std::deque<WriteBatch> batches_;
};
WriteHistory& TheWriteHistory();

// The plan of an undo: each row whose earlier value is known wants it back,
// against the drive's value now; rows of a record that now means another
// register (another table) are left out.
std::vector<Step> UndoPlan(const ParamTable& table, const WriteBatch& batch, const DriveOf& drive);

}  // namespace paramplan
