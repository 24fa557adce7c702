#include "LinkTestUtil.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace linktest {

void ShortEraseWait() { setenv("TORVANE_TEST_ERASE_PAUSE_MS", "1000", 1); }

namespace {

std::string MakeWorkDir()
{
    char tmpl[] = "/tmp/torvane-link-XXXXXX";
    const char* dir = ::mkdtemp(tmpl);
    if (!dir) return "/tmp";
    std::string d(dir);
    if (::chdir(d.c_str()) != 0) std::perror("chdir");
    return d;
}

struct Cleanup {
    ~Cleanup()
    {
        if (!dir.empty() && dir != "/tmp") std::system(("rm -rf '" + dir + "'").c_str());
    }
    std::string dir;
};
Cleanup g_cleanup;
}  // namespace

const std::string& WorkDir()
{
    static const std::string dir = [] {
        std::string d = MakeWorkDir();
        g_cleanup.dir = d;
        return d;
    }();
    return dir;
}

std::string NewFolder(const std::string& name)
{
    static int n = 0;
    const std::string dir = WorkDir() + "/" + name + std::to_string(++n) + "/";
    std::system(("mkdir -p '" + dir + "'").c_str());
    return dir;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool WriteFile(const std::string& path, const std::string& content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    return static_cast<bool>(out);
}

void MapPort(int port, const std::string& path)
{
    ::setenv(("TORVANE_COM" + std::to_string(port)).c_str(), path.c_str(), 1);
}

void UnmapAllPorts()
{
    for (int p = 1; p <= 16; ++p) MapPort(p, WorkDir() + "/no-such-port/COM" + std::to_string(p));
}

drivesim::SimOptions NormalDrive(int baud)
{
    drivesim::SimOptions o;
    o.startMode = drivesim::Mode::Normal;
    o.normalLine.baud = baud;
    o.allRegisters = true;
    return o;
}

drivesim::SimOptions BootDrive(int bootBaud)
{
    drivesim::SimOptions o;
    o.startMode = drivesim::Mode::Boot;
    o.bootLine.baud = bootBaud;
    return o;
}

SimDrive::SimDrive(int port, drivesim::SimOptions options)
{
    options.linkPath = WorkDir() + "/sim-COM" + std::to_string(port);
    sim_ = std::make_unique<drivesim::Simulator>(std::move(options));
    ok_ = sim_->start(&error_);
    if (ok_) MapPort(port, sim_->options().linkPath);
}

SimDrive::~SimDrive()
{
    sim_->stop();
}

SilentPort::SilentPort(int port)
{
    if (::openpty(&master_, &slave_, nullptr, nullptr, nullptr) != 0) return;
    link_ = WorkDir() + "/silent-COM" + std::to_string(port);
    ::unlink(link_.c_str());
    if (::symlink(::ttyname(slave_), link_.c_str()) != 0) return;
    MapPort(port, link_);
}

SilentPort::~SilentPort()
{
    if (!link_.empty()) ::unlink(link_.c_str());
    if (slave_ >= 0) ::close(slave_);
    if (master_ >= 0) ::close(master_);
}

bool WaitFor(const std::function<bool()>& pred, int timeoutMs)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace linktest
