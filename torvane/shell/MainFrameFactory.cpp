#include "MainFrameFactory.h"

#include "MainFrame.h"
#include "ShellViews.h"
#include "ViewFactory.h"

std::unique_ptr<CMainWindowHost> CreateShellMainWindow(CTorvaneApp& app)
{
    RegisterBuiltViews(TheViewFactory());
    return std::make_unique<CMainFrame>(app);
}
