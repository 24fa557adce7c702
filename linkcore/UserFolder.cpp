#include "UserFolder.h"

#include <ace/OS_NS_stdlib.h>
#include <ace/OS_NS_sys_stat.h>
#include <ace/OS_NS_unistd.h>

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

namespace {

bool WithSlash(std::string* folder)
{
    if (!folder->empty() && folder->back() != '/')
        folder->push_back('/');
    return !folder->empty();
}

// mkdir -p; true when the folder exists afterwards.
bool MakeFolders(const std::string& folder)
{
    std::string path;
    for (size_t i = 0; i < folder.size(); ++i)
    {
        path.push_back(folder[i]);
        if (folder[i] == '/' && path.size() > 1)
            ::mkdir(path.c_str(), 0755);
    }
    if (!path.empty() && path.back() != '/')
        ::mkdir(path.c_str(), 0755);
    struct stat st;
    return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Copies a regular file to a new file; an existing target is left alone.
bool CopyIfMissing(const std::string& from, const std::string& to)
{
    struct stat st;
    if (::stat(to.c_str(), &st) == 0)
        return true;
    if (::stat(from.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return true;   // no installed default: the program starts without one
    int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return false;
    const std::string tmp = to + ".new";
    int out = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0)
    {
        ::close(in);
        return false;
    }
    char buf[8192];
    bool ok = true;
    for (;;)
    {
        ssize_t n = ::read(in, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
        {
            ok = n == 0;
            break;
        }
        for (ssize_t done = 0; done < n;)
        {
            ssize_t w = ::write(out, buf + done, static_cast<size_t>(n - done));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
            {
                ok = false;
                break;
            }
            done += w;
        }
        if (!ok)
            break;
    }
    ::close(in);
    ok = ::close(out) == 0 && ok;
    if (ok)
        ok = ::rename(tmp.c_str(), to.c_str()) == 0;
    if (!ok)
        ::unlink(tmp.c_str());
    return ok;
}

}  // namespace

std::string LinkCoreUserDataFolder()
{
    std::string folder;
    if (const char* own = ACE_OS::getenv("TORVANE_DATA_HOME"); own != nullptr && own[0] == '/')
        folder = own;
    else if (const char* xdg = ACE_OS::getenv("XDG_DATA_HOME"); xdg != nullptr && xdg[0] == '/')
        folder = std::string(xdg) + "/Torvane";
    else if (const char* home = ACE_OS::getenv("HOME"); home != nullptr && home[0] != '\0')
        folder = std::string(home) + "/.local/share/Torvane";
    else
        folder = "/tmp/Torvane-" + std::to_string(static_cast<long>(::getuid()));
    WithSlash(&folder);
    return folder;
}

bool LinkCoreInstalledMode(const std::string& programFolder)
{
    const std::string folder = programFolder.empty() ? std::string(".") : programFolder;
    return ::access(folder.c_str(), W_OK) != 0;
}

std::string LinkCoreWritableFolder(const std::string& programFolder)
{
    if (!LinkCoreInstalledMode(programFolder))
        return programFolder;
    std::string folder = LinkCoreUserDataFolder();
    MakeFolders(folder);
    return folder;
}

bool LinkCoreEnterUserDataFolder(const std::string& programFolder, std::string* error)
{
    if (!LinkCoreInstalledMode(programFolder))
        return true;
    const std::string folder = LinkCorePrepareUserDataFolder(programFolder, error);
    if (folder.empty())
        return false;
    if (::chdir((folder + "work").c_str()) != 0)
    {
        if (error != nullptr)
            *error = "cannot change to the folder " + folder + "work: " + strerror(errno);
        return false;
    }
    return true;
}

std::string LinkCorePrepareUserDataFolder(const std::string& programFolder, std::string* error)
{
    const std::string folder = LinkCoreUserDataFolder();
    const char* subs[] = {"", "ParaValue/", "history/", "Program/", "Language/", "config/", "work/log/", "work/msg/"};
    for (const char* sub : subs)
    {
        if (!MakeFolders(folder + sub))
        {
            if (error != nullptr)
                *error = "cannot create the folder " + folder + sub + ": " + strerror(errno);
            return std::string();
        }
    }
    std::string from = programFolder;
    WithSlash(&from);
    const char* files[][2] = {{"config.ini", "config.ini"},
                              {"ports.ini", "ports.ini"},
                              {"Language/setting.ini", "Language/setting.ini"},
                              {"config/SystemConfig.ini", "config/SystemConfig.ini"},
                              {"../config/SystemConfig.ini", "config/SystemConfig.ini"}};
    for (const auto& f : files)
    {
        if (!CopyIfMissing(from + f[0], folder + f[1]))
        {
            if (error != nullptr)
                *error = "cannot copy " + from + f[0] + " to " + folder + f[1] + ": " + strerror(errno);
            return std::string();
        }
    }
    return folder;
}
