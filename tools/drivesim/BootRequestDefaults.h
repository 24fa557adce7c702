// Boot request values: the program writes the boot request code to
// register 0x0605 and then the boot request key twice to register 0x4E1F to
// make the drive restart in its bootloader.
//
// The drive defines both values; the simulator reads them from a config.ini
// given with --config (section "BootRequest", keys "Code" and "Key", each a
// 16-bit value written as C-style text such as "0x5AA5" or decimal), so that
// it can share the program's own file. These are the values used when the
// file, the section or a key is missing. The program keeps its own defaults.
#pragma once

#include <cstdint>

namespace torvane {
namespace bootrequest {

// The code is assembled at run time from two byte values.
constexpr std::uint8_t kCodeHighByte = 0x5A;
constexpr std::uint8_t kCodeLowByte = 0xA5;
constexpr std::uint16_t kDefaultCode =
    static_cast<std::uint16_t>((kCodeHighByte << 8) | kCodeLowByte);  // 0x5AA5
constexpr std::uint16_t kDefaultKey = 0xC3E1;

// Where the values live.
constexpr const char* kConfigFileName = "config.ini";
constexpr const char* kSection = "BootRequest";
constexpr const char* kCodeKeyName = "Code";
constexpr const char* kKeyKeyName = "Key";

// Registers the two values are written to.
constexpr std::uint16_t kCodeRegister = 0x0605;
constexpr std::uint16_t kKeyRegister = 0x4E1F;

}  // namespace bootrequest
}  // namespace torvane
