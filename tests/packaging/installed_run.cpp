// Run from an installed program folder that the user cannot write to: the
// program's own start-up path, a connection to the drive on COM1, the
// serial settings, a value file and the language choice. Everything it
// writes must land in the user's data folder. Prints what it wrote; exit 0
// when every step worked.
//
// The install test copies this program into the installed program folder
// and runs it there as an unprivileged user (see test_install.sh).
#include "CCOM.h"
#include "DeviceCatalogue.h"
#include "LanguageTables.h"
#include "ParamTable.h"
#include "ProgramFolder.h"
#include "RegisterAccess.h"
#include "DevicePlugins.h"
#include "TorvaneApp.h"
#include "UserFolder.h"
#include "ValueFile.h"
#include "WideText.h"

#include <QApplication>

#include <cstdio>
#include <string>
#include <unistd.h>

namespace {

int Fail(const std::string& what)
{
    std::fprintf(stderr, "installed_run: %s\n", what.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication qtApp(argc, argv);
    char folder[4096];
    LinkCoreProgramFolder(folder, sizeof folder);
    if (!LinkCoreInstalledMode(folder)) return Fail(std::string("the program folder is writable: ") + folder);
    std::string error;
    if (!LinkCoreEnterUserDataFolder(folder, &error)) return Fail(error);
    char cwd[4096];
    if (::getcwd(cwd, sizeof cwd) == nullptr) return Fail("no working directory");
    std::printf("work %s\n", cwd);

    CTorvaneApp app;
    if (!app.InitInstance(false)) return Fail("InitInstance");
    const std::string data = wtext::ToUtf8(app.DataDir());
    std::printf("data %s\n", data.c_str());
    if (data != LinkCoreUserDataFolder()) return Fail("DataDir is not the user's data folder: " + data);

    // Serial settings: the port of the drive, stored by the connection.
    app.Connection().settings().COMID = L"1";
    app.Connection().settings().OutTime = L"500";
    if (!app.ConnectNormal()) return Fail("no connection to the drive on COM1");
    if (!app.StoreSettings()) return Fail("config.ini not written");

    // Two parameters read from the drive and saved as a value file of the
    // installed parameter table.
    std::wstring path;
    if (!LoadConfiguredParamTable(TheParamTable(), app.ProgramDir(), path))
        return Fail("parameter table " + wtext::ToUtf8(path));
    for (int i = 0; i < 2; ++i) {
        uint8_t err = 0;
        if (!regaccess::ReadRecord(ModbusPort(), 1, TheParamTable().params[i], &err))
            return Fail("read of record " + std::to_string(i) + ", error " + std::to_string(err));
    }
    const std::wstring valueFile = app.DataDir() + valuefile::Folder() + L"installed.xls";
    if (!valuefile::Save(valueFile, TheParamTable(), {0, 1}, {true, true}, &error))
        return Fail("value file: " + error);
    std::printf("value %s\n", wtext::ToUtf8(valueFile).c_str());

    // The language choice goes to the user's setting.ini.
    if (!app.Language().SetLanguage(L"Chinese")) return Fail("language switch");
    app.ExitInstance();
    return 0;
}
