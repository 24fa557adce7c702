#include "MainFrameFactory.h"

#include "MainFrame.h"

std::unique_ptr<CMainWindowHost> CreateShellMainWindow(CTorvaneApp& app)
{
    return std::make_unique<CMainFrame>(app);
}
