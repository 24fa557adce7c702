// Whole-file reads and writes of the download folder, with the cause of a
// failure (an errno value) for the messages that name it.
#pragma once

#include <string>

namespace filebytes {

// Reads a regular file whole. False with *cause set when it cannot be opened,
// is no regular file or a read fails (bytes is then empty).
bool Read(const std::wstring& path, std::string& bytes, int* cause = nullptr);
// Replaces the file's content with bytes from offset 0. False with *cause.
bool Write(const std::wstring& path, const std::string& bytes, int* cause = nullptr);

}  // namespace filebytes
