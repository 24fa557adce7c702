#include "CliPorts.h"

#include "CCOM.h"
#include "TcpChannel.h"

#include <ace/SOCK_Stream.h>

#include <ace/Log_Msg.h>

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <fstream>

namespace cli {

namespace {

std::string RealPath(const std::string& path)
{
    char buf[PATH_MAX];
    return ::realpath(path.c_str(), buf) ? std::string(buf) : path;
}

std::string ProcessName(int pid)
{
    std::ifstream f("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(f, name);
    return name;
}

// Every other process that has `target` (a resolved path) open.
std::vector<ProcessRef> Holders(const std::string& target)
{
    std::vector<ProcessRef> found;
    DIR* proc = ::opendir("/proc");
    if (!proc) return found;
    const int self = static_cast<int>(::getpid());
    while (dirent* e = ::readdir(proc)) {
        char* end = nullptr;
        const long pid = std::strtol(e->d_name, &end, 10);
        if (!end || *end != '\0' || pid <= 0 || pid == self) continue;
        const std::string fdDir = std::string("/proc/") + e->d_name + "/fd";
        DIR* fds = ::opendir(fdDir.c_str());
        if (!fds) continue;  // another user's process: not visible
        while (dirent* f = ::readdir(fds)) {
            if (f->d_name[0] == '.') continue;
            char link[PATH_MAX];
            const ssize_t n = ::readlink((fdDir + "/" + f->d_name).c_str(), link, sizeof link - 1);
            if (n <= 0) continue;
            link[n] = '\0';
            if (target == link) {
                found.push_back(ProcessRef{static_cast<int>(pid), ProcessName(static_cast<int>(pid))});
                break;
            }
        }
        ::closedir(fds);
    }
    ::closedir(proc);
    return found;
}

// Services that open serial devices on their own: a modem manager probes
// USB serial adapters, a braille display daemon claims them.
std::string GrabberHint()
{
    static const char* const kGrabbers[][2] = {
        {"ModemManager", "ModemManager probes new serial devices; stop it or mark the adapter to be ignored"},
        {"brltty", "brltty (braille display daemon) claims USB serial adapters; remove it or stop its service"},
    };
    std::string hint;
    DIR* proc = ::opendir("/proc");
    if (!proc) return hint;
    while (dirent* e = ::readdir(proc)) {
        char* end = nullptr;
        const long pid = std::strtol(e->d_name, &end, 10);
        if (!end || *end != '\0' || pid <= 0) continue;
        const std::string name = ProcessName(static_cast<int>(pid));
        for (const auto& g : kGrabbers)
            if (name == g[0] && hint.find(g[0]) == std::string::npos)
                hint += (hint.empty() ? "" : "; ") + std::string(g[1]);
    }
    ::closedir(proc);
    return hint;
}

}  // namespace

std::string HolderList(const std::vector<ProcessRef>& holders)
{
    std::string t;
    for (const ProcessRef& p : holders)
        t += (t.empty() ? "" : ", ") + p.name + " (pid " + std::to_string(p.pid) + ")";
    return t;
}

PortState InspectPort(int port)
{
    PortState s;
    s.port = port;
    s.device = LinkCoreSerialDevice(port);
    LinkNetPort net;
    const int kind = LinkCoreParsePort(s.device, &net, &s.netProblem);
    if (kind != LINK_PORT_SERIAL) {
        // A network port is there when its server takes a connection.
        s.network = true;
        ACE_SOCK_Stream stream;
        if (kind != LINK_PORT_BAD && LinkCoreTcpConnect(net, CCOM::CONNECT_TIMEOUT_MS, stream, &s.netProblem, nullptr)) {
            stream.close();
            s.netProblem.clear();
        }
        s.present = s.access = s.netProblem.empty();
        return s;
    }
    struct stat st {};
    s.present = !s.device.empty() && ::stat(s.device.c_str(), &st) == 0;
    if (!s.present) return s;
    // A plain file given as the port is no line to a drive, whatever else
    // opening it says.
    s.notSerial = !S_ISCHR(st.st_mode);
    if (s.notSerial) return s;
    s.access = ::access(s.device.c_str(), R_OK | W_OK) == 0;
    if (const group* g = ::getgrgid(st.st_gid)) s.group = g->gr_name;
    s.groupCanAccess = (st.st_mode & S_IRGRP) && (st.st_mode & S_IWGRP);
    const std::string real = RealPath(s.device);
    if (s.access) {
        // Opened as the serial channel opens it: a device another program
        // holds exclusively cannot be opened a second time. The channel's
        // own diagnostics would repeat what this report says.
        ACE_Log_Msg* log = ACE_Log_Msg::instance();
        const u_long mask = log->priority_mask(ACE_Log_Msg::PROCESS);
        log->priority_mask(0, ACE_Log_Msg::PROCESS);
        CCOMSet set;
        set.m_cfg.wPortNo = static_cast<uint16_t>(port);
        CCOM com;
        s.busy = !com.InitCOM(&set);
        if (!s.busy) com.UninitCOM();
        log->priority_mask(mask, ACE_Log_Msg::PROCESS);
    }
    s.holders = Holders(real);
    if (real.rfind("/dev/ttyUSB", 0) == 0 || real.rfind("/dev/ttyACM", 0) == 0) s.hint = GrabberHint();
    return s;
}

std::string PortAdvice(const PortState& s)
{
    if (s.network) return s.netProblem;
    if (!s.present)
        return "not found; map the port with TORVANE_COM" + std::to_string(s.port) + " or [Ports] COM" +
               std::to_string(s.port) + " in ports.ini";
    if (s.notSerial) return "not a serial device";
    std::string a;
    if (!s.access) {
        if (!s.group.empty() && s.groupCanAccess)
            a = "no read/write access for this user; join the group " + s.group + " (sudo usermod -aG " +
                s.group + " $USER, then log in again)";
        else
            a = "no read/write access for this user, and its group " + s.group + " has none either";
    } else if (s.busy) {
        a = "in use";
        if (!s.holders.empty()) a += " by " + HolderList(s.holders);
    } else if (!s.holders.empty()) {
        // Not taken exclusively, but a second program on the line would
        // take the drive's replies or garble them.
        a = "also open in " + HolderList(s.holders);
    }
    if (!s.hint.empty()) a += (a.empty() ? "" : "; ") + s.hint;
    return a;
}

}  // namespace cli
