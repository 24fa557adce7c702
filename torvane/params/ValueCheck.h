// Whether a value may go to the drive for a parameter, and a typed value text
// turned into a value. The bounds are those the number dialog holds an entry
// to (the record's minimum and maximum); beyond them the value must carry no
// more decimals than the parameter shows and must fit its register, so that
// what is shown is what is written.
#pragma once

#include <string>

class ParamTable;
struct ParamRecord;

namespace valuecheck {

enum class Verdict {
    Ok,
    NotANumber,       // the text is no number (nor an option of the parameter)
    NotAnOption,      // a number that is not one of the parameter's option codes
    TooManyDecimals,  // finer than the parameter's resolution
    OutOfRange,       // below the minimum or above the maximum
    DoesNotFit,       // the register cannot hold it
};

// The verdict on a value for a record.
Verdict Check(const ParamTable& table, const ParamRecord& record, double value);

// A value from a source that may hold more decimals than the parameter keeps
// (a value file, an entry in a dialog, a file in a compare): rounded to the
// parameter's resolution by the register's own rounding, then checked as
// Check does. `rounded` says whether rounding changed it.
struct Assessed {
    Verdict verdict = Verdict::NotANumber;
    double value = 0;  // at the parameter's resolution
    bool rounded = false;
};
Assessed Assess(const ParamTable& table, const ParamRecord& record, double value);
// The value at the parameter's resolution (what the register takes, and
// what the grid shows).
double Rounded(const ParamRecord& record, double value);

struct Parsed {
    Verdict verdict = Verdict::NotANumber;
    double value = 0;
};

// A typed value: a decimal number with "." as the point; for a parameter
// with an option list also one of its option texts in any language (case
// ignored), or a "code,text" entry as the option dialog lists them.
Parsed Parse(const ParamTable& table, const ParamRecord& record, const std::wstring& text);

// Why a value was refused, for messages ("not between 0.00 and 590.00",
// "not one of the options 0 (Keypad), 1 (...)"); option texts in the
// language of `languageIndex`.
std::wstring ReasonText(const ParamTable& table, const ParamRecord& record, Verdict verdict, int languageIndex = 0);

}  // namespace valuecheck
