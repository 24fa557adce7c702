// What a drive in normal mode says about itself: the series text in
// registers 0x0329 to 0x032D. The first two are read (the drive expects the
// whole block to be read in order) but carry no text; 0x032B to 0x032D hold
// up to six ASCII characters, each register low byte first, ending at the
// first zero byte.
#pragma once

#include "DevicePlugins.h"

#include <cstdint>
#include <string>

namespace driveid {

constexpr uint16_t kSeriesFirst = 0x0329;
constexpr uint16_t kSeriesLast = 0x032D;

// The series text made of the three text registers' words (as read).
std::string SeriesText(uint16_t w0, uint16_t w1, uint16_t w2);

// Reads the five registers in order; false with the error byte of the read
// that failed.
bool ReadSeries(CRegisterPort& port, uint8_t station, std::string* series, uint8_t* err);

}  // namespace driveid
