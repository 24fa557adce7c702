#include "NetTestUtil.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace nettest {

int FreeLoopbackPort()
{
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0) return 0;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    socklen_t len = sizeof a;
    int port = 0;
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    ::close(s);
    return port;
}

namespace {
bool Listening(int port)
{
    // "sl local_address rem_address st ...": 0100007F:PPPP, state 0A = LISTEN.
    std::ifstream in("/proc/net/tcp");
    std::string line;
    char want[32];
    std::snprintf(want, sizeof want, "0100007F:%04X", port);
    while (std::getline(in, line)) {
        std::istringstream f(line);
        std::string sl, local, remote, state;
        f >> sl >> local >> remote >> state;
        if (local == want && state == "0A") return true;
    }
    return false;
}
}  // namespace

bool WaitListening(int port, int timeoutMs)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
        if (Listening(port)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

Ser2net::Ser2net(const std::string& folder, const std::string& device, const std::string& line)
    : folder_(folder), device_(device), line_(line)
{
    port_ = FreeLoopbackPort();
    if (!port_) {
        error_ = "no free loopback port";
        return;
    }
    Start();
}

Ser2net::~Ser2net() { Stop(); }

std::string Ser2net::Url(const char* scheme) const
{
    return std::string(scheme) + "://127.0.0.1:" + std::to_string(port_);
}

bool Ser2net::Start()
{
    const std::string config = folder_ + "ser2net.yaml";
    {
        std::ofstream out(config);
        out << "%YAML 1.1\n---\n"
            << "connection: &drive\n"
            << "  accepter: tcp,127.0.0.1," << port_ << "\n"
            << "  connector: serialdev," << device_ << "," << line_ << ",local\n"
            << "  options:\n"
            << "    kickolduser: true\n";
    }
    pid_ = ::fork();
    if (pid_ == 0) {
        // Its own chatter goes to a file beside its configuration.
        const int log = ::open((folder_ + "ser2net.log").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        if (log >= 0) {
            ::dup2(log, 1);
            ::dup2(log, 2);
        }
        // -n: stay in the foreground (this test owns it); -u: no UUCP lock
        // files in the system's lock folder.
        ::execl("/usr/sbin/ser2net", "ser2net", "-n", "-u", "-c", config.c_str(), "-P",
                (folder_ + "ser2net.pid").c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    if (pid_ < 0 || !WaitListening(port_, 10000)) {
        error_ = "ser2net did not listen on 127.0.0.1:" + std::to_string(port_) + " (is /usr/sbin/ser2net installed?)";
        Stop();
        return false;
    }
    return true;
}

void Ser2net::Stop()
{
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    int status = 0;
    for (int i = 0; i < 500 && ::waitpid(pid_, &status, WNOHANG) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (::waitpid(pid_, &status, WNOHANG) == 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
    }
    pid_ = -1;
}

StderrLines::StderrLines(std::string about) : about_(std::move(about))
{
    char tmpl[] = "/tmp/torvane-stderr-XXXXXX";
    const int fd = ::mkstemp(tmpl);
    path_ = tmpl;
    std::fflush(stderr);
    saved_ = ::dup(2);
    ::dup2(fd, 2);
    ::close(fd);
}

StderrLines::~StderrLines()
{
    std::fflush(stderr);
    ::dup2(saved_, 2);
    ::close(saved_);
    ::unlink(path_.c_str());
}

std::vector<std::string> StderrLines::Lines() const
{
    std::fflush(stderr);
    std::ifstream in(path_);
    std::vector<std::string> out;
    for (std::string l; std::getline(in, l);)
        if (l.find(about_) != std::string::npos) out.push_back(l.substr(l.find(about_)));
    return out;
}

}  // namespace nettest
