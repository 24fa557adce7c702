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

// The folder of the files the program writes for `programFolder` (config.ini,
// ports.ini, "Language/setting.ini", "ParaValue/", "history/", "Program/",
// the layout file): programFolder itself when the user may write to it,
// else the user's data folder (~/.local/share/Torvane/ by default). Every
// writable path is formed from it; read-only data stay in programFolder.
std::wstring WritableFolder(const std::wstring& programFolder);

// Appends a sub-folder or file name to a folder, inserting "/" when the folder
// does not already end in a separator ("/" or "\"). An empty folder gives the
// name alone.
std::wstring JoinPath(const std::wstring& folder, const std::wstring& name);
