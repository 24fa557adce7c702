// Helpers of the real-time monitor tests: a register port that remembers
// every word the drive answered, so a test compares what reached the store
// with what the drive sent.
#pragma once

#include "DevicePlugins.h"

#include <cstdint>
#include <mutex>
#include <vector>

namespace mtest {

class RecordingPort : public CRegisterPort {
public:
    struct Read {
        uint16_t reg;
        uint16_t word;
    };
    struct Write {
        uint16_t reg;
        uint16_t word;
    };

    bool ProcRead(uint8_t station, uint16_t reg, uint8_t* value, uint8_t* err) override
    {
        const bool ok = ModbusPort().ProcRead(station, reg, value, err);
        std::lock_guard<std::mutex> lock(mu_);
        if (ok) reads_.push_back({reg, static_cast<uint16_t>(value[0] | (value[1] << 8))});
        return ok;
    }
    bool ProcWrite(uint8_t station, uint16_t reg, uint8_t* value, uint8_t* err) override
    {
        const bool ok = ModbusPort().ProcWrite(station, reg, value, err);
        std::lock_guard<std::mutex> lock(mu_);
        if (ok) writes_.push_back({reg, static_cast<uint16_t>((value[0] << 8) | value[1])});
        return ok;
    }
    std::vector<Read> Reads() const
    {
        std::lock_guard<std::mutex> lock(mu_);
        return reads_;
    }
    std::vector<Write> Writes() const
    {
        std::lock_guard<std::mutex> lock(mu_);
        return writes_;
    }
    // The successful reads of one register, in order.
    std::vector<uint16_t> WordsOf(uint16_t reg) const
    {
        std::vector<uint16_t> out;
        for (const Read& r : Reads())
            if (r.reg == reg) out.push_back(r.word);
        return out;
    }

private:
    mutable std::mutex mu_;
    std::vector<Read> reads_;
    std::vector<Write> writes_;
};

}  // namespace mtest
