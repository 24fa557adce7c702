#include "CalibrationFile.h"

#include "FileBytes.h"
#include "WideText.h"

const char* const CalibrationFile::kMarker = "VKR pm write_ee";

CalibrationFile::Status CalibrationFile::Parse(std::string_view text, std::vector<std::string>& commands, int* line)
{
    commands.clear();
    std::vector<std::string> out;
    int number = 0;
    size_t start = 0;
    while (start < text.size()) {
        ++number;
        size_t end = text.find('\n', start);
        const size_t next = end == std::string_view::npos ? text.size() : end + 1;
        std::string_view body = text.substr(start, (end == std::string_view::npos ? text.size() : end) - start);
        // Only the terminator goes: a last line without one keeps every
        // character of its command.
        if (end != std::string_view::npos && !body.empty() && body.back() == '\r') body.remove_suffix(1);
        start = next;

        Status refused = Status::Ok;
        if (body.size() > static_cast<size_t>(kMaxLineLength)) {
            refused = Status::LineTooLong;
        } else {
            const size_t at = body.find(kMarker);
            if (at == std::string_view::npos) continue;
            std::string_view command = body.substr(at);
            if (command.size() > static_cast<size_t>(kMaxCommandLength))
                refused = Status::CommandTooLong;
            else if (out.size() >= static_cast<size_t>(kMaxCommands))
                refused = Status::TooManyCommands;
            else
                out.push_back(std::string(command) + "\n");
        }
        if (refused != Status::Ok) {
            if (line) *line = number;
            return refused;
        }
    }
    commands.swap(out);
    if (line) *line = 0;
    return Status::Ok;
}

CalibrationFile::Status CalibrationFile::Load(const std::wstring& path, std::vector<std::string>& commands,
                                              std::wstring* detail)
{
    commands.clear();
    std::string text;
    if (!filebytes::Read(path, text)) {
        if (detail) *detail = path + L": " + Describe(Status::CannotOpen);
        return Status::CannotOpen;
    }
    int line = 0;
    const Status status = Parse(text, commands, &line);
    if (status != Status::Ok && detail)
        *detail = path + L":" + wtext::FormatInt(line) + L": " + Describe(status);
    return status;
}

const wchar_t* CalibrationFile::Describe(Status status)
{
    switch (status) {
    case Status::Ok: return L"ok";
    case Status::CannotOpen: return L"the file cannot be read";
    case Status::CommandTooLong: return L"a command longer than 30 characters";
    case Status::TooManyCommands: return L"more than 256 commands";
    case Status::LineTooLong: return L"a line longer than 1023 characters";
    }
    return L"";
}
