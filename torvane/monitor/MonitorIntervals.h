// The sampling intervals of the monitors, slowest first: the interval list of
// the real-time monitor, the interval name a recording carries, and the step
// to the next slower interval when sampling cannot keep up.
#pragma once

#include <string>

namespace monitor {

constexpr int kIntervalCount = 10;
// "1sec": the interval a new monitor view starts with.
constexpr int kDefaultInterval = 4;

// "20sec", "10sec", "5sec", "2sec", "1sec", "500ms", "400ms", "200ms",
// "100ms", "50ms" for 0..9; empty outside.
const wchar_t* IntervalName(int index);
// 20000 ... 50 ms for 0..9; the default interval's period outside.
int IntervalPeriodMs(int index);
// The index of a name, -1 when it is none of them.
int IntervalIndexOf(const std::wstring& name);

}  // namespace monitor
