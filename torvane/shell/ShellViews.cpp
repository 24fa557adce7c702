#include "ShellViews.h"

#include "ViewFactory.h"

#ifdef TORVANE_SHELL_HAVE_PARAMS
#include "DialogMD.h"
#include "DialogParam.h"
#endif
#ifdef TORVANE_SHELL_HAVE_PROGRAM_VIEW
#include "DlgProgram.h"
#endif
#ifdef TORVANE_SHELL_HAVE_DOWNLOAD
#include "DlgMakeFile.h"
#endif
#ifdef TORVANE_SHELL_HAVE_FUNCTION
#include "DialogFunPid.h"
#include "FunctionWorkbook.h"
#endif

#ifdef TORVANE_SHELL_HAVE_FUNCTION
namespace {
// Command identifiers of the function menu's items, one per name of the
// function list.
constexpr int kFunctionCommandFirst = 33000;
// The menu's own caption; the language files give it as IDS_MENU_FUNCTION.
const wchar_t* const kFunctionMenuCaption = L"Function(&F)";

// The device tree has no function root, so the functions are reached through
// a menu of their own: one item per name of "Function/function.xls", each
// opening the function view for that name.
std::vector<ViewMenuItem> FunctionMenuItems(const std::wstring& programFolder)
{
    std::vector<ViewMenuItem> items;
    int id = kFunctionCommandFirst;
    for (const std::wstring& name : funview::LoadFunctionList(programFolder)) {
        ViewMenuItem item;
        item.id = id++;
        // A "&" in a name is shown, not taken as the item's access key.
        item.text = QString::fromStdWString(name).replace(QLatin1Char('&'), QStringLiteral("&&"));
        item.choice = ChooseView(0, DT_FUNCTION_ROOT, name);
        items.push_back(std::move(item));
    }
    return items;
}
}  // namespace
#endif
#ifdef TORVANE_SHELL_HAVE_MONITOR
#include "DialogRTLine.h"
#include "HistoryFile.h"
#include "RecordingGuard.h"
#include "TorvaneApp.h"
#endif
#ifdef TORVANE_SHELL_HAVE_HISTORY
#include "DialogHisLine.h"
#endif

void RegisterBuiltViews(CViewFactory& factory)
{
#ifdef TORVANE_SHELL_HAVE_FUNCTION
    factory.Register(ViewKind::Function, [](const ViewChoice& c, QWidget* parent) -> CDataDlg* {
        return new CDialogFunPid(c.functionName, parent);
    });
    factory.RegisterMenu(ViewMenu{QString::fromWCharArray(kFunctionMenuCaption), &FunctionMenuItems});
#endif
#ifdef TORVANE_SHELL_HAVE_PARAMS
    factory.Register(ViewKind::Parameter, [](const ViewChoice& c, QWidget* parent) -> CDataDlg* {
        return new CDialogParam(c.selection, parent);
    });
    factory.Register(ViewKind::MData, [](const ViewChoice& c, QWidget* parent) -> CDataDlg* {
        return new CDialogMD(c.selection, parent);
    });
#endif
#ifdef TORVANE_SHELL_HAVE_PROGRAM_VIEW
    factory.Register(ViewKind::Download,
                     [](const ViewChoice&, QWidget* parent) -> CDataDlg* { return new CDlgProgram(parent); });
#endif
#ifdef TORVANE_SHELL_HAVE_DOWNLOAD
    RegisterShellCommand(CDlgMakeFile::kCommandId, &RunMakeFileDialog);
#endif
#ifdef TORVANE_SHELL_HAVE_MONITOR
    factory.Register(ViewKind::RealTimeMonitor,
                     [](const ViewChoice&, QWidget* parent) -> CDataDlg* { return new CDialogRTLine(parent); });
    // Registered once: the built views of a test may be registered again.
    static const bool guarded = [] {
        RegisterLeaveGuard([](QWidget* parent, CDataDlg* current, LeaveAction action) {
            return monitor::SettleRecording(parent, current, action == LeaveAction::Close);
        });
        RegisterStartOffer([](QWidget* parent) {
            if (TheApp())
                monitor::OfferLeftBehindRecordings(
                    parent, QString::fromStdWString(TheApp()->DataDir()) + QString::fromWCharArray(history::Folder()));
        });
        return true;
    }();
    (void)guarded;
#endif
#ifdef TORVANE_SHELL_HAVE_HISTORY
    factory.Register(ViewKind::MonitorHistory, [](const ViewChoice&, QWidget* parent) -> CDataDlg* {
        return new CDialogHisLine(parent);
    });
#endif
    (void)factory;
}
