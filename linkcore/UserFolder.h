// Where the program keeps the files it writes.
//
// Run from a folder the user may write to (the build tree, a copy in the
// home folder), the program keeps config.ini, ports.ini, the value files,
// the histories, the extracted package, the layout file and the logs beside
// itself, as it always has. Installed into a folder the user cannot write
// (/usr/lib/torvane), the same files live in the user's data folder:
//   $TORVANE_DATA_HOME, else $XDG_DATA_HOME/Torvane/, else
//   $HOME/.local/share/Torvane/
// The read-only data ("Parameter", "Language/*.xls", "Function", the user
// guide) are always read from the program folder.
#ifndef LINKCORE_USERFOLDER_H
#define LINKCORE_USERFOLDER_H

#include <string>
#include "LinkCoreExport.h"

// The folder for the writable files that belong with `programFolder` (with a
// trailing "/"): programFolder itself when the user can write to it (an
// empty programFolder means the working directory, returned as empty), else
// the user's data folder, created when missing. Every path of a file the
// program writes is formed from this folder.
LINKCORE_API std::string LinkCoreWritableFolder(const std::string& programFolder);

// The user's data folder as above (trailing "/"), whether or not it exists.
LINKCORE_API std::string LinkCoreUserDataFolder();

// True when the program runs from a folder the user cannot write to, so its
// writable files live in the user's data folder.
LINKCORE_API bool LinkCoreInstalledMode(const std::string& programFolder);

// First start of an installed program: creates the user's data folder with
// its sub-folders ("ParaValue", "history", "Program", "Language", "config",
// "work/log", "work/msg") and copies the installed defaults that are missing
// there (config.ini, ports.ini, Language/setting.ini and the system
// configuration file: the installed "config/SystemConfig.ini" of the program
// folder, else "../config/SystemConfig.ini" seen from it). Existing files are never overwritten. Returns the folder, or an
// empty string (and *error) when it could not be made.
LINKCORE_API std::string LinkCorePrepareUserDataFolder(const std::string& programFolder, std::string* error);

// The start of a program run from `programFolder`: nothing when the folder is
// writable; otherwise the user's data folder is prepared and the working
// directory becomes its "work" folder, so that the logs ("./log", "./msg")
// and the system configuration ("../config/SystemConfig.ini") are found
// there. False (and *error) when that could not be done.
LINKCORE_API bool LinkCoreEnterUserDataFolder(const std::string& programFolder, std::string* error);

#endif
