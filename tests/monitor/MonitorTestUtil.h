// Helpers of the sample store tests: samples that carry their own number, a
// clock the test moves, a small parameter table, and reading a history
// workbook back through the workbook layer.
#pragma once

#include "HistoryFile.h"
#include "MonitorBuffer.h"
#include "ParamTable.h"
#include "test_workbook_util.h"

#include <atomic>
#include <string>

namespace montest {

// Sample k: every slot holds the value k (exact in single precision up to
// 2^24), so a sample that was torn or shifted shows at once.
inline MonitorSample Numbered(uint32_t k, int validSlots = kMonitorSlots) {
    MonitorSample s;
    for (int j = 0; j < validSlots; ++j) {
        s.entries[j].valid = 1;
        s.entries[j].value = static_cast<float>(k);
    }
    return s;
}

// Ten slots; the first `enabled` are recorded. Scale large enough that
// numbered samples never rescale unless the test wants them to.
inline MonitorSignals Slots(int enabled = kMonitorSlots, float scale = 1e9f, int32_t exponent = 0) {
    MonitorSignals s;
    for (int j = 0; j < kMonitorSlots; ++j) {
        s[static_cast<size_t>(j)].address = static_cast<uint32_t>(0x3000 + j + 1);
        s[static_cast<size_t>(j)].name = L"Signal " + std::to_wstring(j + 1);
        s[static_cast<size_t>(j)].enabled = j < enabled ? 1 : 0;
        s[static_cast<size_t>(j)].exponent = exponent;
        s[static_cast<size_t>(j)].scale = scale;
    }
    return s;
}

// A wall clock that moves only when the test says so (ms since 1970 UTC).
struct TestClock {
    std::atomic<uint64_t> now{1700000000000ULL};
    CMonitorBuffer::Clock fn() {
        return [this] { return now.load(); };
    }
};

// A table of device type "VKR-T1" whose records have addresses 0x3001..0x3008
// (exponents 0, -1, -2, -3, repeated), and a second record at 0x3002.
inline ParamTable MakeTable(const std::wstring& deviceType = L"VKR-T1") {
    ParamTable t;
    t.deviceType = deviceType;
    const int32_t exps[] = {0, -1, -2, -3};
    for (int i = 0; i < 8; ++i) {
        ParamRecord r;
        r.index = i;
        r.address = 0x3001 + i;
        r.groupNumber = 9;
        r.exponent = exps[i % 4];
        r.name = L"Quantity " + std::to_wstring(i);
        t.params.push_back(r);
    }
    ParamRecord dup;
    dup.index = 8;
    dup.address = 0x3002;
    dup.exponent = -3;
    t.params.push_back(dup);
    return t;
}

inline std::wstring Wide(const std::string& s) { return wbtest::W(s); }

}  // namespace montest
