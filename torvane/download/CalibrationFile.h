// Calibration command files (.TTL): terminal macro files whose lines carry
// the bootloader's EE write commands, for example
//
//     sendln 'VKR pm write_ee -a 64 -d 0400'
//
// Every line that contains "VKR pm write_ee" yields one command: the text
// from that occurrence to the end of the line, without the line terminator
// (LF or CR LF), followed by "\n". The closing quote stays; the bootloader
// ignores a quote that ends an operand. Other lines are ignored.
//
// The download keeps the commands in a fixed table of 256 entries of 30
// characters plus "\n". A command that would not fit, a 257th command, or a
// line longer than 1023 characters would leave the drive's EE with cut or
// missing calibration, so such a file is refused as a whole.
#pragma once

#include <string>
#include <string_view>
#include <vector>

class CalibrationFile {
public:
    static constexpr int kMaxCommands = 256;
    static constexpr int kMaxCommandLength = 30;  // characters before the "\n"
    static constexpr int kMaxLineLength = 1023;   // characters before the terminator
    static const char* const kMarker;             // "VKR pm write_ee"

    enum class Status { Ok, CannotOpen, CommandTooLong, TooManyCommands, LineTooLong };

    // Parses the text of a calibration file. On a refusal `commands` is empty
    // and *line (when given) is the 1-based line that caused it.
    static Status Parse(std::string_view text, std::vector<std::string>& commands, int* line = nullptr);
    // Reads and parses a file. *detail (when given) says what was refused.
    static Status Load(const std::wstring& path, std::vector<std::string>& commands,
                       std::wstring* detail = nullptr);
    // A short English description of a status ("command longer than 30
    // characters", ...).
    static const wchar_t* Describe(Status status);
};
