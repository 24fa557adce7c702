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
#ifdef TORVANE_SHELL_HAVE_PROGRAM_VIEW
    factory.Register(ViewKind::Download,
                     [](const ViewChoice&, QWidget* parent) -> CDataDlg* { return new CDlgProgram(parent); });
#endif
#ifdef TORVANE_SHELL_HAVE_DOWNLOAD
    RegisterShellCommand(CDlgMakeFile::kCommandId, &RunMakeFileDialog);
#endif
    (void)factory;
}
