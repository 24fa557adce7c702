#include "MonitorIntervals.h"

#include "HistoryFile.h"

namespace monitor {

namespace {
// The list of the real-time monitor; the length of each interval is the one
// its name has in a history workbook.
const wchar_t* const kNames[kIntervalCount] = {L"20sec", L"10sec", L"5sec", L"2sec", L"1sec",
                                               L"500ms", L"400ms", L"200ms", L"100ms", L"50ms"};
bool Valid(int index) { return index >= 0 && index < kIntervalCount; }
}  // namespace

const wchar_t* IntervalName(int index)
{
    return Valid(index) ? kNames[index] : L"";
}

int IntervalPeriodMs(int index)
{
    return static_cast<int>(history::IntervalLengthMs(kNames[Valid(index) ? index : kDefaultInterval]));
}

int IntervalIndexOf(const std::wstring& name)
{
    for (int i = 0; i < kIntervalCount; ++i)
        if (name == kNames[i]) return i;
    return -1;
}

}  // namespace monitor
