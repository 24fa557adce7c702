// Reading the boot request values from a "config.ini" (see
// BootRequestDefaults.h for where they live and their defaults).
#pragma once

#include <cstdint>
#include <string>

namespace drivesim {

struct BootRequestValues {
    std::uint16_t code;
    std::uint16_t key;
};

// The defaults of BootRequestDefaults.h.
BootRequestValues defaultBootRequestValues();

// Parses C-style text for a 16-bit value: "0x5AA5", "0X5aa5", "23205", or
// octal with a leading 0 as strtoul does. Surrounding blanks are allowed.
// False (and `out` untouched) for empty text, trailing garbage, a minus sign
// or a value above 0xFFFF.
bool parseUint16(const std::string& text, std::uint16_t* out);

// Reads section "BootRequest", keys "Code" and "Key" from the INI file at
// `path` (section and key names compared without regard to case, as the
// Windows profile functions do; UTF-8 with or without BOM, or UTF-16LE with
// BOM). A missing file, section or key gives the default for that value; an
// unparsable value gives the default too and a note in `*warning` (if given).
// Returns false only when the file exists but cannot be read.
bool readBootRequestValues(const std::string& path, BootRequestValues* out,
                           std::string* warning = nullptr);

}  // namespace drivesim
