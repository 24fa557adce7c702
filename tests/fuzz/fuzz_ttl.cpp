// Calibration command files: any bytes given to the parser, and the same
// bytes read back from a file. A file is either taken whole, each command
// being the marker's line from the marker on, or refused whole with the
// line that caused it and a description.
#include "FuzzSupport.h"

#include "CalibrationFile.h"

#include <string>
#include <string_view>
#include <vector>

namespace {

const char* const kTarget = "fuzz_ttl";

struct Expected {
    CalibrationFile::Status status = CalibrationFile::Status::Ok;
    int line = 0;
    std::vector<std::string> commands;
};

// What the drive's EE table can hold, worked out line by line from the text.
Expected Expect(const std::string& text)
{
    using S = CalibrationFile::Status;
    Expected e;
    const std::string marker = CalibrationFile::kMarker;
    int number = 0;
    size_t pos = 0;
    while (pos < text.size()) {
        ++number;
        const size_t nl = text.find('\n', pos);
        std::string line = text.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
        pos = nl == std::string::npos ? text.size() : nl + 1;
        if (nl != std::string::npos && !line.empty() && line.back() == '\r')
            line.pop_back();
        S refused = S::Ok;
        if (line.size() > 1023)
            refused = S::LineTooLong;
        else if (line.find(marker) != std::string::npos) {
            const std::string command = line.substr(line.find(marker));
            if (command.size() > 30)
                refused = S::CommandTooLong;
            else if (e.commands.size() == 256)
                refused = S::TooManyCommands;
            else
                e.commands.push_back(command + "\n");
        }
        if (refused != S::Ok) {
            e.status = refused;
            e.line = number;
            e.commands.clear();
            return e;
        }
    }
    return e;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using S = CalibrationFile::Status;
    const std::string text(reinterpret_cast<const char*>(data), size);
    const Expected want = Expect(text);

    std::vector<std::string> commands{"left over"};
    int line = -1;
    const S status = CalibrationFile::Parse(text, commands, &line);
    FUZZ_CHECK(kTarget, status == want.status, "parse result differs from the line rules");
    FUZZ_CHECK(kTarget, commands == want.commands, "commands differ from the marker lines");
    FUZZ_CHECK(kTarget, line == want.line, "refused line is " + std::to_string(line));
    for (const std::string& c : commands)
        FUZZ_CHECK(kTarget, c.size() <= 31 && c.back() == '\n' && c.find('\n') == c.size() - 1, c);

    // The same bytes through the file: same answer, and a refusal says why.
    const std::string path = fuzzkit::WriteInput("input.TTL", data, size);
    std::vector<std::string> loaded;
    std::wstring detail;
    const S fromFile = CalibrationFile::Load(fuzzkit::Wide(path), loaded, &detail);
    FUZZ_CHECK(kTarget, fromFile == status, "the file gives another result than its text");
    FUZZ_CHECK(kTarget, loaded == commands, "the file gives other commands than its text");
    if (fromFile != S::Ok) {
        FUZZ_CHECK(kTarget, !detail.empty(), "a refusal without a reason");
        FUZZ_CHECK(kTarget, detail.find(CalibrationFile::Describe(fromFile)) != std::wstring::npos,
                   "the reason does not name the refusal");
    }
    return 0;
}
