// How the program gets the shell's main window:
//   app.SetMainWindowFactory(&CreateShellMainWindow);
#pragma once

#include "TorvaneApp.h"

#include <memory>

std::unique_ptr<CMainWindowHost> CreateShellMainWindow(CTorvaneApp& app);
