#include "RegisterAccess.h"

#include "ParamTable.h"
#include "WideText.h"

#include <cmath>

namespace regaccess {

uint8_t StationOf(const std::wstring& devAddr)
{
    return static_cast<uint8_t>(wtext::ParseInt(devAddr) & 0xFF);
}

uint16_t RegisterOf(const ParamRecord& record)
{
    return static_cast<uint16_t>(static_cast<uint32_t>(record.address - 1) & 0xFFFFu);
}

double ScaleOf(int exponent)
{
    switch (exponent) {
    case -1: return 0.1;
    case -2: return 0.01;
    case -3: return 0.001;
    default: return 1.0;
    }
}

static double Multiplier(int exponent)
{
    switch (exponent) {
    case -1: return 10.0;
    case -2: return 100.0;
    case -3: return 1000.0;
    default: return 1.0;
    }
}

double StepsOf(double value, int exponent)
{
    return ResolutionSteps(value, exponent);
}

double RoundToResolution(double value, int exponent)
{
    return RoundByExponent(value, exponent);
}

double WordToValue(uint16_t word, const ParamRecord& record)
{
    const double raw = record.minValue < 0 ? static_cast<double>(static_cast<int16_t>(word))
                                           : static_cast<double>(word);
    // Multiplying by the scale (not dividing by the multiplier) keeps the
    // values the views always showed, last digit included.
    return raw * ScaleOf(record.exponent);
}

bool ValueToWord(double value, const ParamRecord& record, uint16_t* word)
{
    const double rounded = StepsOf(value, record.exponent);
    if (!std::isfinite(rounded)) return false;
    const bool isSigned = record.minValue < 0;
    const double lo = isSigned ? -32768.0 : 0.0;
    const double hi = isSigned ? 32767.0 : 65535.0;
    if (rounded < lo || rounded > hi) return false;
    const long n = static_cast<long>(rounded);
    *word = static_cast<uint16_t>(static_cast<uint32_t>(n) & 0xFFFFu);
    return true;
}

bool ReadValue(CRegisterPort& port, uint8_t station, const ParamRecord& record, double* value, uint8_t* err)
{
    *err = 0;
    uint8_t buf[2] = {0, 0};
    if (!port.ProcRead(station, RegisterOf(record), buf, err)) return false;
    const uint16_t w = static_cast<uint16_t>(buf[0] | (buf[1] << 8));
    *value = WordToValue(w, record);
    return true;
}

bool ReadRecord(CRegisterPort& port, uint8_t station, ParamRecord& record, uint8_t* err, uint16_t* word)
{
    *err = 0;
    uint8_t buf[2] = {0, 0};
    if (!port.ProcRead(station, RegisterOf(record), buf, err)) return false;
    const uint16_t w = static_cast<uint16_t>(buf[0] | (buf[1] << 8));
    if (word) *word = w;
    record.value = WordToValue(w, record);
    // The drive's own value now: known, and an edit it replaced is gone.
    record.valueUnknown = false;
    record.valueUnwritten = false;
    record.driveValue = record.value;
    record.driveKnown = true;
    return true;
}

bool WriteValue(CRegisterPort& port, uint8_t station, const ParamRecord& record, double value, uint8_t* err)
{
    *err = 0;
    uint16_t w = 0;
    if (!ValueToWord(value, record, &w)) {
        *err = kErrOutOfRange;
        return false;
    }
    uint8_t buf[2] = {static_cast<uint8_t>(w >> 8), static_cast<uint8_t>(w & 0xFF)};
    return port.ProcWrite(station, RegisterOf(record), buf, err);
}

bool WriteRecord(CRegisterPort& port, uint8_t station, const ParamRecord& record, uint8_t* err)
{
    return WriteValue(port, station, record, record.value, err);
}

}  // namespace regaccess
