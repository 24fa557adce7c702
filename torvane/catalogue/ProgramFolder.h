// The program folder: the folder of the running program file, with its
// trailing "/". All data folders of the program ("Language/", "Parameter/",
// "Function/", "ParaValue/", "history/", ...) and "config.ini" are below it.
#pragma once

#include <string>

// Full path of the running program file; empty when it cannot be determined.
std::wstring ProgramFilePath();

// The folder part of ProgramFilePath() including the trailing "/"; empty when
// the path is unknown, so that file names become relative to the working
// directory.
std::wstring ProgramFolder();

// Appends a sub-folder or file name to a folder, inserting "/" when the folder
// does not already end in a separator ("/" or "\"). An empty folder gives the
// name alone.
std::wstring JoinPath(const std::wstring& folder, const std::wstring& name);
