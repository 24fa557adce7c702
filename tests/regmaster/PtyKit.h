// Test kit for the protocol plug-ins: pseudo-terminal pairs, a relay thread
// that joins them into a serial "bus", a libmodbus RTU server on a pty, a
// scratch working directory (LinkCore writes ./msg and ./log) and a helper
// that opens a protocol link on COMn mapped to a pty.
//
// Header-only; shared by the RegMaster and BlockPump tests and the
// RegMaster benchmark.
#ifndef TORVANE_TESTS_PTYKIT_H
#define TORVANE_TESTS_PTYKIT_H

#include <errno.h>
#include <fcntl.h>
#include <ftw.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "CProtocolTemplate.h"
#include "LogBuf.h"

#ifdef PTYKIT_WITH_MODBUS
#include <modbus.h>
#endif

namespace ptykit {

using Clock = std::chrono::steady_clock;

// A scratch folder tree: <root>/work is the working directory for the test
// (./msg and ./log land there), <root>/config/SystemConfig.ini is the system
// configuration LinkCore reads as "../config/SystemConfig.ini".
class ScratchDir
{
public:
    ScratchDir()
    {
        char tmpl[] = "/tmp/torvane-proto-XXXXXX";
        const char* made = ::mkdtemp(tmpl);
        root_ = made != nullptr ? made : "";
        work_ = root_ + "/work";
        ::mkdir(work_.c_str(), 0755);
        ::mkdir((work_ + "/log").c_str(), 0755);
        ::mkdir((work_ + "/msg").c_str(), 0755);
        ::mkdir((root_ + "/config").c_str(), 0755);
        FILE* f = ::fopen((root_ + "/config/SystemConfig.ini").c_str(), "w");
        if (f != nullptr)
        {
            ::fputs("[protocolConfig]\nRawLogBufSize=2000000\nMsgLogBufSize=2000000\n"
                    "[VKR_M]\nmsg_show=0\nmsg_file=1\n",
                    f);
            ::fclose(f);
        }
        char cwd[4096];
        if (::getcwd(cwd, sizeof cwd) != nullptr)
            previous_ = cwd;
        if (::chdir(work_.c_str()) != 0)
            work_.clear();
    }
    ~ScratchDir()
    {
        if (!previous_.empty() && ::chdir(previous_.c_str()) != 0)
            ::chdir("/");
        if (!root_.empty())
            ::nftw(root_.c_str(), &ScratchDir::Remove, 16, FTW_DEPTH | FTW_PHYS);
    }
    bool ok() const { return !root_.empty() && !work_.empty(); }
    const std::string& root() const { return root_; }
    const std::string& work() const { return work_; }

private:
    static int Remove(const char* path, const struct stat*, int, struct FTW*) { return ::remove(path); }
    std::string root_, work_, previous_;
};

// One pseudo-terminal pair in raw mode. The slave stays open here too, so
// the master never reads a hang-up while the real user of the slave closes
// and reopens it.
class PtyPair
{
public:
    PtyPair()
    {
        struct termios tio;
        ::memset(&tio, 0, sizeof tio);
        ::cfmakeraw(&tio);
        ::cfsetispeed(&tio, B9600);
        ::cfsetospeed(&tio, B9600);
        char name[256] = {0};
        if (::openpty(&master_, &slave_, name, &tio, nullptr) == 0)
            path_ = name;
    }
    ~PtyPair()
    {
        if (master_ >= 0)
            ::close(master_);
        if (slave_ >= 0)
            ::close(slave_);
    }
    bool ok() const { return master_ >= 0 && !path_.empty(); }
    int master() const { return master_; }
    int slave() const { return slave_; }
    const std::string& path() const { return path_; }

    // Writes all bytes to the far (master) side.
    bool Write(const void* data, size_t n)
    {
        const char* p = static_cast<const char*>(data);
        while (n > 0)
        {
            ssize_t w = ::write(master_, p, n);
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                return false;
            p += w;
            n -= static_cast<size_t>(w);
        }
        return true;
    }
    bool Write(const std::vector<uint8_t>& bytes) { return Write(bytes.data(), bytes.size()); }

    // Reads exactly n bytes from the far side within timeoutMs; the bytes
    // read so far on time-out.
    std::vector<uint8_t> Read(size_t n, int timeoutMs)
    {
        std::vector<uint8_t> out;
        Clock::time_point end = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (out.size() < n)
        {
            int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count());
            if (left <= 0)
                break;
            struct pollfd pfd = {master_, POLLIN, 0};
            int r = ::poll(&pfd, 1, left);
            if (r < 0 && errno == EINTR)
                continue;
            if (r <= 0)
                break;
            uint8_t buf[512];
            size_t want = n - out.size() < sizeof buf ? n - out.size() : sizeof buf;
            ssize_t got = ::read(master_, buf, want);
            if (got <= 0)
                break;
            out.insert(out.end(), buf, buf + got);
        }
        return out;
    }

    // true when no byte arrives at the far side within ms.
    bool Quiet(int ms)
    {
        struct pollfd pfd = {master_, POLLIN, 0};
        return ::poll(&pfd, 1, ms) == 0;
    }

private:
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
};

// Joins pseudo-terminals into a serial line as on a two-wire bus: what the
// master side sends reaches every station, what a station sends reaches the
// master side and the other stations (libmodbus servers listen for the
// other stations' replies). Masters do not hear each other, so a second
// master (a libmodbus client) can share the line in turn. An observer sees
// every block with its direction.
class Relay
{
public:
    typedef std::function<void(bool fromMasterSide, const uint8_t* data, size_t n)> Observer;

    Relay()
    {
        if (::pipe(wake_) != 0)
            wake_[0] = wake_[1] = -1;
    }
    ~Relay()
    {
        Stop();
        if (wake_[0] >= 0)
            ::close(wake_[0]);
        if (wake_[1] >= 0)
            ::close(wake_[1]);
    }
    // fd: the master fd of a pty pair whose slave a station or the master
    // program uses.
    void AddMasterSide(int fd) { ends_.push_back(End{fd, true}); }
    void AddStationSide(int fd) { ends_.push_back(End{fd, false}); }
    void SetObserver(Observer o) { observer_ = std::move(o); }
    // Drops (true) or passes the blocks a station sends.
    void MuteStations(bool mute) { muteStations_ = mute; }
    // Holds every block for the time its bytes take on a real line (e.g.
    // 1042 us a byte at 9600 baud, 10 bits); 0 passes them at once. Peers
    // written for real lines may rely on it (rx flushes its input right
    // after each answer, which a block sent with no line time can beat).
    void SetByteTime(int microseconds) { byteTimeUs_ = microseconds; }

    void Start()
    {
        running_ = true;
        thread_ = std::thread([this] { Loop(); });
    }
    void Stop()
    {
        if (!running_.exchange(false))
            return;
        char c = 'x';
        if (wake_[1] >= 0 && ::write(wake_[1], &c, 1) < 0)
        {
        }
        if (thread_.joinable())
            thread_.join();
    }

private:
    struct End
    {
        int fd;
        bool masterSide;
    };

    static void WriteAll(int fd, const uint8_t* p, size_t n)
    {
        while (n > 0)
        {
            ssize_t w = ::write(fd, p, n);
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                return;
            p += w;
            n -= static_cast<size_t>(w);
        }
    }

    void Loop()
    {
        std::vector<struct pollfd> fds;
        for (const End& e : ends_)
            fds.push_back(pollfd{e.fd, POLLIN, 0});
        fds.push_back(pollfd{wake_[0], POLLIN, 0});
        while (running_)
        {
            for (auto& p : fds)
                p.revents = 0;
            int r = ::poll(fds.data(), fds.size(), 200);
            if (r < 0 && errno != EINTR)
                break;
            if (r <= 0)
                continue;
            if (fds.back().revents != 0)
                break;
            for (size_t i = 0; i < ends_.size(); ++i)
            {
                if ((fds[i].revents & POLLIN) == 0)
                    continue;
                uint8_t buf[1024];
                ssize_t n = ::read(ends_[i].fd, buf, sizeof buf);
                if (n <= 0)
                    continue;
                if (observer_)
                    observer_(ends_[i].masterSide, buf, static_cast<size_t>(n));
                if (!ends_[i].masterSide && muteStations_)
                    continue;
                if (byteTimeUs_ > 0)
                    std::this_thread::sleep_for(std::chrono::microseconds(byteTimeUs_ * n));
                for (size_t j = 0; j < ends_.size(); ++j)
                    if (j != i && !(ends_[j].masterSide && ends_[i].masterSide))
                        WriteAll(ends_[j].fd, buf, static_cast<size_t>(n));
            }
        }
    }

    std::vector<End> ends_;
    Observer observer_;
    std::atomic<bool> running_{false};
    std::atomic<bool> muteStations_{false};
    int byteTimeUs_ = 0;
    std::thread thread_;
    int wake_[2] = {-1, -1};
};

// The link tests run twice: with the receive thread polling the port (the
// default) and with it waiting for the port to become readable.
#ifndef PTYKIT_FAST_RECV
#define PTYKIT_FAST_RECV 0
#endif

// Opens a protocol link on COM<port>, mapped to devicePath through
// TORVANE_COM<port>, at 9600 baud, 8 data bits, even parity (the drive's
// line settings).
inline bool OpenLink(CProtocolTemplate& link, int port, const std::string& devicePath, const char* protocol,
                     int baud = 9600, int fastRecv = PTYKIT_FAST_RECV)
{
    std::string var = "TORVANE_COM" + std::to_string(port);
    ::setenv(var.c_str(), devicePath.c_str(), 1);
    CCOMSet settings;
    settings.m_cfg.wPortNo = static_cast<uint16_t>(port);
    settings.m_cfg.nBaudRate = baud;
    settings.m_cfg.wParity = 2;
    settings.m_cfg.byDataBits = 8;
    settings.m_cfg.byStopBits = 1;
    settings.m_cfg.byFastRecv = static_cast<uint8_t>(fastRecv);
    bool ok = link.Init(1, &settings, protocol);
    // The run-info lines go to ./log only, not to the console.
    LOG_SetOutput(false, true);
    return ok;
}

inline void CloseLink(CProtocolTemplate& link)
{
    link.SetEnd();
    link.UnInit();
}

// Polls cond every millisecond until it holds or timeoutMs passes.
inline bool WaitFor(const std::function<bool()>& cond, int timeoutMs)
{
    Clock::time_point end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!cond())
    {
        if (Clock::now() >= end)
            return cond();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

inline long ElapsedMs(Clock::time_point since)
{
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

#ifdef PTYKIT_WITH_MODBUS
// A libmodbus RTU server (one station) on a tty path, answering in its own
// thread from a mapping of holding registers 0 .. registers-1.
class ModbusServer
{
public:
    ModbusServer(const std::string& path, int station, int registers)
    {
        ctx_ = modbus_new_rtu(path.c_str(), 9600, 'E', 8, 1);
        mapping_ = modbus_mapping_new(0, 0, registers, 0);
        if (ctx_ == nullptr || mapping_ == nullptr)
            return;
        modbus_set_slave(ctx_, station);
        modbus_set_indication_timeout(ctx_, 0, 100000);
        // A station waits this long for the reply of the station a request
        // was for: long enough for a busy machine, short enough that after a
        // request to a silent station it listens again before the master's
        // next request (tests give the master a longer reply time-out then).
        modbus_set_response_timeout(ctx_, 0, 300000);
        if (::getenv("PTYKIT_MODBUS_DEBUG") != nullptr)
            modbus_set_debug(ctx_, TRUE);
        if (modbus_connect(ctx_) != 0)
            return;
        connected_ = true;
        running_ = true;
        thread_ = std::thread([this] { Loop(); });
    }
    ~ModbusServer()
    {
        running_ = false;
        if (thread_.joinable())
            thread_.join();
        if (ctx_ != nullptr)
        {
            if (connected_)
                modbus_close(ctx_);
            modbus_free(ctx_);
        }
        if (mapping_ != nullptr)
            modbus_mapping_free(mapping_);
    }
    bool ok() const { return connected_; }
    void SetRegister(int reg, uint16_t value)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        mapping_->tab_registers[reg] = value;
    }
    uint16_t Register(int reg)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return mapping_->tab_registers[reg];
    }
    long Requests() const { return requests_.load(); }

private:
    void Loop()
    {
        uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
        while (running_)
        {
            int rc = modbus_receive(ctx_, query);
            if (rc > 0)
            {
                std::lock_guard<std::mutex> lock(mutex_);
                ++requests_;
                modbus_reply(ctx_, query, rc, mapping_);
            }
        }
    }

    modbus_t* ctx_ = nullptr;
    modbus_mapping_t* mapping_ = nullptr;
    bool connected_ = false;
    std::atomic<bool> running_{false};
    std::atomic<long> requests_{0};
    std::mutex mutex_;
    std::thread thread_;
};
#endif

}  // namespace ptykit

#endif
