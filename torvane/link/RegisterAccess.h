// How a parameter record reaches the drive: one Modbus holding register per
// record, its station from the connection settings, and the conversion
// between the 16-bit register word and the record's engineering value.
// Plain C++: the views' worker threads and the tests use it alike.
#pragma once

#include <cstdint>
#include <string>

#include "DevicePlugins.h"

struct ParamRecord;

namespace regaccess {

// Error byte of a write that was refused before it reached the drive because
// the value does not fit the register. Non-zero, so the views give the row up
// at once and report it like a device error.
constexpr uint8_t kErrOutOfRange = 0xFE;
// Error byte of "no reply within the reply time-out".
constexpr uint8_t kErrTimeout = 0xFF;

// The station of a device-address text: decimal, a text that is no number
// gives 0, kept to its low 8 bits.
uint8_t StationOf(const std::wstring& devAddr);
// The register of a record: address - 1, modulo 65536 (address 0 -> 65535).
uint16_t RegisterOf(const ParamRecord& record);
// The scale of an exponent: 0.1, 0.01, 0.001 for -1, -2, -3; otherwise 1.
double ScaleOf(int exponent);

// The register steps of a value and the value at the parameter's
// resolution: ResolutionSteps and RoundByExponent of the parameter table,
// the one rounding of the program.
double StepsOf(double value, int exponent);
double RoundToResolution(double value, int exponent);

// Register word -> engineering value: signed 16-bit when minValue < 0,
// otherwise unsigned, then scaled by the exponent.
double WordToValue(uint16_t word, const ParamRecord& record);

// Engineering value -> register word: StepsOf the value. False when the result does not fit the register:
// -32768..32767 for a signed register (minValue < 0), 0..65535 otherwise.
// Cutting such a value to 16 bits would send a different, plainly wrong
// value to the drive.
bool ValueToWord(double value, const ParamRecord& record, uint16_t* word);

// One read of a record's register through `port`; on true the record's value
// holds the converted word (and *word the raw word when given), and the
// record's value counts as known and unedited. *err is set
// to 0 before the call.
bool ReadRecord(CRegisterPort& port, uint8_t station, ParamRecord& record, uint8_t* err,
                uint16_t* word = nullptr);
// Reads the record's register without storing it: *value is the converted word.
bool ReadValue(CRegisterPort& port, uint8_t station, const ParamRecord& record, double* value, uint8_t* err);
// One write of `value` (the record's value when not given) to the record's
// register. A value that does not fit gives false with kErrOutOfRange and
// nothing is sent.
bool WriteRecord(CRegisterPort& port, uint8_t station, const ParamRecord& record, uint8_t* err);
bool WriteValue(CRegisterPort& port, uint8_t station, const ParamRecord& record, double value, uint8_t* err);

}  // namespace regaccess
