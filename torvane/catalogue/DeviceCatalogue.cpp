#include "DeviceCatalogue.h"

#include "LanguageTables.h"
#include "PrivateProfile.h"

namespace {

bool IsMDataGroup(int number)
{
    return number == 8 || number == 9;
}

int Add(std::vector<TreeItem>& items, int number, std::wstring text, int parent, bool expanded)
{
    TreeItem item;
    item.number = number;
    item.text = std::move(text);
    item.parent = parent;
    item.parentNumber = parent >= 0 ? items[static_cast<size_t>(parent)].number : 0;
    item.expanded = expanded;
    items.push_back(std::move(item));
    return static_cast<int>(items.size()) - 1;
}

std::wstring HeaderText(const std::wstring& code, const std::wstring& name, int languageIndex)
{
    return L"G" + code + L" " + PickVariant(name, languageIndex);
}

void AddGroups(std::vector<TreeItem>& items, const ParamTable& table, int parent, bool mdata, int groupBase,
               int subgroupBase, int languageIndex)
{
    for (const ParamGroup& g : table.groups) {
        if (IsMDataGroup(g.number) != mdata) continue;
        const int gi = Add(items, groupBase + g.number, HeaderText(g.code, g.name, languageIndex), parent, false);
        for (const ParamSubgroup& s : g.subgroups)
            Add(items, subgroupBase + s.number, HeaderText(s.code, s.name, languageIndex), gi, false);
    }
}

bool InRange(int number, int base)
{
    return number >= base && number < base + 10000;
}

}  // namespace

const std::vector<DeviceTypeEntry>& FixedTreeEntries()
{
    static const std::vector<DeviceTypeEntry> entries = {
        {DT_ROOT, "DT_ROOT", L"DEVICE,设备"},
        {DT_DEVICE_ROOT, "DT_DEVICE_ROOT", L"CONVERTER,变频器"},
        {DT_PARAMETER_ROOT, "DT_PARAMETER_ROOT", L"PARAM,参数"},
        {DT_MD_ROOT, "DT_MD_ROOT", L"M-DATA,监控数据"},
        {DT_MONITOR_ROOT, "DT_MONITOR_ROOT", L"MONITOR,监控分析"},
        {DT_FUNCTION_ROOT, "DT_FUNCTION_ROOT", L"FUN,功能调试"},
        {DT_PROGRAM_ROOT, "DT_PROGRAM_ROOT", L"PROGRAM,程序下载"},
        {DT_MONITOR_RT, "DT_MONITOR_RT", L"Online,在线监控"},
        {DT_MONITOR_HIS, "DT_MONITOR_HIS", L"History,离线监控"},
        {DT_MONITOR_GZ, "DT_MONITOR_GZ", L"Fault,故障分析"},
    };
    return entries;
}

std::wstring FixedEntryCaption(int number)
{
    for (const DeviceTypeEntry& e : FixedTreeEntries())
        if (e.number == number) return e.caption;
    return std::wstring();
}

std::vector<TreeItem> BuildDeviceTree(const ParamTable& table, int languageIndex)
{
    std::vector<TreeItem> items;
    auto caption = [languageIndex](int number) { return PickVariant(FixedEntryCaption(number), languageIndex); };

    const int root = Add(items, DT_ROOT, caption(DT_ROOT), -1, true);
    items[static_cast<size_t>(root)].bold = true;
    const int device =
        Add(items, DT_DEVICE_ROOT, table.deviceType.empty() ? std::wstring(L"device type") : table.deviceType, root, true);
    const int params = Add(items, DT_PARAMETER_ROOT, caption(DT_PARAMETER_ROOT), device, true);
    const int mdata = Add(items, DT_MD_ROOT, caption(DT_MD_ROOT), device, true);
    const int monitor = Add(items, DT_MONITOR_ROOT, caption(DT_MONITOR_ROOT), device, true);
    Add(items, DT_MONITOR_RT, caption(DT_MONITOR_RT), monitor, false);
    Add(items, DT_MONITOR_HIS, caption(DT_MONITOR_HIS), monitor, false);
    Add(items, DT_PROGRAM_ROOT, caption(DT_PROGRAM_ROOT), device, false);

    AddGroups(items, table, params, false, DT_GROUP_BASE, DT_SUBGROUP_BASE, languageIndex);
    AddGroups(items, table, mdata, true, DT_MD_GROUP_BASE, DT_MD_SUBGROUP_BASE, languageIndex);
    return items;
}

std::vector<TreeItem> BuildDeviceTree(const ParamTable& table, const LanguageTables& language)
{
    return BuildDeviceTree(table, language.languageIndex());
}

ViewChoice ChooseView(int number, int parentNumber, const std::wstring& itemText)
{
    ViewChoice v;
    if (parentNumber == DT_FUNCTION_ROOT) {
        v.kind = ViewKind::Function;
        v.functionName = itemText;
        return v;
    }
    if (number == DT_PARAMETER_ROOT) {
        v.kind = ViewKind::Parameter;
        v.selection = -1;
    } else if (InRange(number, DT_GROUP_BASE)) {
        v.kind = ViewKind::Parameter;
        v.selection = number - DT_GROUP_BASE;
    } else if (InRange(number, DT_SUBGROUP_BASE)) {
        v.kind = ViewKind::Parameter;
        v.selection = number - DT_SUBGROUP_BASE;
    } else if (InRange(number, DT_MD_GROUP_BASE)) {
        v.kind = ViewKind::MData;
        v.selection = number - DT_MD_GROUP_BASE;
    } else if (InRange(number, DT_MD_SUBGROUP_BASE)) {
        // The M-data view selects by group or subgroup number alike, so a
        // subgroup of groups 8 and 9 opens it for just that subgroup.
        v.kind = ViewKind::MData;
        v.selection = number - DT_MD_SUBGROUP_BASE;
    } else if (number == DT_PROGRAM_ROOT) {
        v.kind = ViewKind::Download;
    } else if (number == DT_MONITOR_RT) {
        v.kind = ViewKind::RealTimeMonitor;
    } else if (number == DT_MONITOR_HIS) {
        v.kind = ViewKind::MonitorHistory;
    }
    return v;
}

bool LoadConfiguredParamTable(ParamTable& table, const std::wstring& programFolder, std::wstring& path)
{
    path = ParameterWorkbookPath(programFolder, ConfiguredDeviceType(programFolder));
    return table.Load(path);
}

bool KeepRecordStates(const ParamTable& before, ParamTable& table, const DiscardQuestion& discard)
{
    if (SameDeviceType(before, table)) {
        CarryRecordStates(before, table);
        return true;
    }
    const int unwritten = UnwrittenCount(before);
    if (unwritten > 0 && discard && !discard(unwritten)) {
        table = before;
        return false;
    }
    return true;
}

bool ChangeDeviceType(ParamTable& table, const std::wstring& path, const std::wstring& programFolder, bool* saved,
                      const DiscardQuestion& discard, bool* declined)
{
    if (saved) *saved = false;
    if (declined) *declined = false;
    const ParamTable before = table;
    if (!table.Load(path)) return false;
    if (!KeepRecordStates(before, table, discard)) {
        if (declined) *declined = true;
        return false;
    }
    const bool ok = PrivateProfileWriteString(L"Setting", L"Device", table.deviceType, SettingFilePath(programFolder));
    if (saved) *saved = ok;
    return true;
}

LanguageSwitchResult SwitchLanguage(LanguageTables& language, ParamTable& table, const std::wstring& name,
                                    const DiscardQuestion& discard)
{
    LanguageSwitchResult r;
    if (!language.SetLanguage(name)) return r;
    const ParamTable before = table;
    if (!LoadConfiguredParamTable(table, language.programFolder(), r.tablePath)) {
        r.outcome = LanguageSwitch::TableFailed;
        return r;
    }
    KeepRecordStates(before, table, discard);
    r.outcome = LanguageSwitch::Reloaded;
    return r;
}
