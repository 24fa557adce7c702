// The device-type catalogue: what the device tree shows and what each of its
// items opens. The tree window itself belongs to the shell; everything here
// works without a display.
#pragma once

#include "ParamTable.h"

#include <functional>
#include <string>
#include <vector>

class LanguageTables;

// Item numbers of the fixed tree entries. Groups and subgroups of the
// parameter table get 10000 + n and 20000 + n under the parameter root, and
// (groups 8 and 9) 60000 + n and 70000 + n under the M-data root.
enum DeviceTreeNumber {
    DT_ROOT = 100,
    DT_DEVICE_ROOT = 1000,
    DT_PARAMETER_ROOT = 2000,
    DT_MONITOR_ROOT = 3000,
    DT_FUNCTION_ROOT = 4000,
    DT_PROGRAM_ROOT = 5000,
    DT_MD_ROOT = 6000,
    DT_MONITOR_RT = 30001,
    DT_MONITOR_HIS = 30002,
    DT_MONITOR_GZ = 30003,
};

enum DeviceTreeBase {
    DT_GROUP_BASE = 10000,
    DT_SUBGROUP_BASE = 20000,
    DT_MD_GROUP_BASE = 60000,
    DT_MD_SUBGROUP_BASE = 70000,
};

struct DeviceTypeEntry {
    int number;
    const char* key;        // "DT_ROOT", ...
    const wchar_t* caption; // multi-language, English first
};

// The ten fixed entries, in the order of the catalogue.
const std::vector<DeviceTypeEntry>& FixedTreeEntries();
// The multi-language caption of a fixed entry; empty for other numbers.
std::wstring FixedEntryCaption(int number);

// One item of the device tree, in insertion order: a parent always comes
// before its children.
struct TreeItem {
    int number = 0;          // the item's data
    std::wstring text;       // caption in the current language
    int parent = -1;         // index of the parent item in the list; -1 for the root
    int parentNumber = 0;    // number of the parent item; 0 for the root
    bool bold = false;
    bool expanded = false;
};

// The tree for a loaded table. The device item shows the table's deviceType,
// or "device type" while the table is empty. Entries 4000 and 30003 are not
// placed.
std::vector<TreeItem> BuildDeviceTree(const ParamTable& table, int languageIndex);
std::vector<TreeItem> BuildDeviceTree(const ParamTable& table, const LanguageTables& language);

// What a selected tree item opens.
enum class ViewKind {
    None,
    Parameter,       // parameter view; selection -1 = all groups, else group/subgroup number
    MData,           // M-data view for a group (or subgroup) number
    Download,        // download view
    RealTimeMonitor, // real-time monitor
    MonitorHistory,  // monitor history viewer
    Function,        // function view for functionName
};

struct ViewChoice {
    ViewKind kind = ViewKind::None;
    int selection = 0;
    std::wstring functionName;
};

// The view for the selected item with `number`, whose parent has
// `parentNumber` and whose text is `itemText`.
ViewChoice ChooseView(int number, int parentNumber, const std::wstring& itemText);

// Loads the parameter table of the device type configured in "setting.ini".
// `path` receives the workbook path (for the failure message).
bool LoadConfiguredParamTable(ParamTable& table, const std::wstring& programFolder, std::wstring& path);

// Asked before a reload replaces a table that holds values edited or loaded
// and not yet written by a table of another device type: gets their count;
// true lets them go. Without a question they go.
using DiscardQuestion = std::function<bool(int unwritten)>;

// After `table` was loaded anew in place of `before`: a table of the same
// device type takes over the records' values and marks by address (the user's
// reads, edits and check marks stay); one of another type replaces them, but
// when `before` holds unwritten values the question decides, and false puts
// `before` back (the result is then false).
bool KeepRecordStates(const ParamTable& before, ParamTable& table, const DiscardQuestion& discard);

// The user picked a parameter workbook. Loads it into `table`; false when it
// does not load (show ParamLoadFailedMessage(path); nothing else changes), or
// when `discard` kept the current table (*declined set; nothing changes). On
// true the shell empties and rebuilds the tree; the table's deviceType has
// been written as [Setting] Device of "setting.ini" so that the next start
// loads the same type (`saved`, when given, tells whether that write worked).
bool ChangeDeviceType(ParamTable& table, const std::wstring& path, const std::wstring& programFolder,
                      bool* saved = nullptr, const DiscardQuestion& discard = {}, bool* declined = nullptr);

// What a language command did.
enum class LanguageSwitch {
    Unchanged,    // the language was already current: do nothing more
    Reloaded,     // translate the command bars, rebuild the tree, select DT_PARAMETER_ROOT
    TableFailed,  // translate the command bars, show ParamLoadFailedMessage(tablePath), keep the tree
};

struct LanguageSwitchResult {
    LanguageSwitch outcome = LanguageSwitch::Unchanged;
    std::wstring tablePath;
};

// The language commands: switches the language and reloads the parameter
// table of the configured device type so that its texts are picked anew.
// Records keep their state as with KeepRecordStates; a table kept by
// `discard` counts as reloaded (its texts are picked anew all the same).
LanguageSwitchResult SwitchLanguage(LanguageTables& language, ParamTable& table, const std::wstring& name,
                                    const DiscardQuestion& discard = {});
