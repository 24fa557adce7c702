// The main window's commands, menus and toolbar as data, and the decisions
// the window takes from plain state (what is enabled, what a tree item opens,
// where the layout file lives), so they can be checked without a window.
#pragma once

#include "FrameParts.h"

#include <QString>

#include <vector>

// Command identifiers. The language workbook is keyed by them, so they are
// fixed numbers.
enum MainFrameCommand {
    ID_LANGUAGE_CHINESE = 32772,
    ID_LANGUAGE_ENGLISH = 32773,
    ID_OPEN_DATA = 32774,
    ID_EDIT_PARAM = 32775,
    ID_EDIT_SERIAL = 32776,
    ID_CONNECT = 32777,
    ID_DISCONNECT = 32778,
    ID_FONT_SETTINGS = 32779,
    ID_USER_GUIDE = 32785,
    ID_PROGRAM_MAKER = 32786,
    ID_FIND_PARAM = 32787,
    ID_VIEW_DEVICE = 21002,
    ID_CUSTOMIZE = 35001,
    ID_FILE_PRINT = 57607,
    ID_FILE_PRINT_PREVIEW = 57609,
    ID_APP_ABOUT = 57664,
    ID_APP_EXIT = 57665,
};

// Texts of the language workbook that are no command: the parameter search
// field's "nothing found" note in the message pane.
enum { IDS_PARAM_NOT_FOUND = 32788 };

// The device view pane and its tree.
enum { IDC_DEVICE_PANE = 21002, IDC_DEVICE_TREE = 60001 };

// Name of the standard toolbar.
extern const char* const kStandardToolBar;   // "Standard"
extern const char* const kMenuBarName;       // "Menu Bar"
extern const char* const kDevicePaneTitle;   // "Device View"
extern const char* const kOpenDataFilter;    // "VKR DB(*.xls)"
extern const char* const kProfileCommandBars; // "CommandBars", key of the user profile

// Menu 128: the drop-down menus with their items, in English.
std::vector<CMenuEntry> MainMenuDefinition();
// Toolbar 128 ("Standard"); 0 is a separator.
std::vector<int> StandardToolBarIds();

// Whether a command is enabled in the given connection state. Connect only
// while neither link is up, Disconnect while either is; "Edit Param" never.
bool CommandEnabled(int id, bool normalConnected, bool bootConnected);

// The layout file for a program file: its extension (if it has one) replaced
// by ".xml"; a program without an extension gets ".xml" appended. Empty for
// an empty program path.
QString LayoutFilePathFor(const QString& programPath);
// The layout file the running program uses: LayoutFilePathFor beside the
// program, or with the same name in the user's data folder when the program
// folder cannot be written.
QString ProgramLayoutFilePath(const QString& programPath);

// A caption as the status bar and a tooltip show it: without its mnemonic,
// whether a "(&D)" group ("Disconnect(&D)" gives "Disconnect") or a single
// marker ("&Help" gives "Help"); "&&" stands for one "&".
QString PlainCommandText(const QString& caption);

// The file dialog filter of "Open Data(&O)".
QString OpenDataFilter();
