#include "ShellViews.h"

#include "ViewFactory.h"

#ifdef TORVANE_SHELL_HAVE_PARAMS
#include "DialogMD.h"
#include "DialogParam.h"
#endif
#ifdef TORVANE_SHELL_HAVE_MONITOR
#include "DialogRTLine.h"
#endif
#ifdef TORVANE_SHELL_HAVE_HISTORY
#include "DialogHisLine.h"
#endif

void RegisterBuiltViews(CViewFactory& factory)
{
#ifdef TORVANE_SHELL_HAVE_PARAMS
    factory.Register(ViewKind::Parameter, [](const ViewChoice& c, QWidget* parent) -> CDataDlg* {
        return new CDialogParam(c.selection, parent);
    });
    factory.Register(ViewKind::MData, [](const ViewChoice& c, QWidget* parent) -> CDataDlg* {
        return new CDialogMD(c.selection, parent);
    });
#endif
#ifdef TORVANE_SHELL_HAVE_MONITOR
    factory.Register(ViewKind::RealTimeMonitor,
                     [](const ViewChoice&, QWidget* parent) -> CDataDlg* { return new CDialogRTLine(parent); });
#endif
#ifdef TORVANE_SHELL_HAVE_HISTORY
    factory.Register(ViewKind::MonitorHistory, [](const ViewChoice&, QWidget* parent) -> CDataDlg* {
        return new CDialogHisLine(parent);
    });
#endif
    (void)factory;
}
