// Time of a flash image download at 38400 baud: the download sequence's
// announce and block sender (CDownloadSequence::SendCmdExpect, SendBlock)
// over BlockPump against drivesim in boot mode with every byte paced at its
// wire time, once with the boot link polling the port and once with FastLink,
// next to lrzsz's sx sending the same image to rx over a relay between two
// pseudo-terminals paced the same way, in the same run.
//
//   bench_download [KiB]        (default 256)
//
// Wire model: frame bytes x 10 / baud (one start, eight data, one stop bit)
// plus the reply time per block (the ACK byte's wire time). The simulated
// line is 8E1, so its own floor is 11 bits per byte; both are printed.
#include "Crc.h"
#include "DeviceConnection.h"
#include "DownloadSequence.h"
#include "Simulator.h"
#include "WideText.h"

#include <ace/Log_Msg.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <pty.h>
#include <string>
#include <csignal>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

FILE* g_out = stdout;

constexpr int kBaud = 38400;

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

std::vector<uint8_t> MakeImage(size_t n)
{
    std::vector<uint8_t> out(n);
    uint32_t x = 0x5EED1234u;
    for (auto& b : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<uint8_t>(x >> 24);
    }
    // A few all-zero blocks, as real images have.
    for (size_t block : {size_t(3), size_t(64), n / 128 - 1})
        if ((block + 1) * 128 <= n) std::fill(out.begin() + block * 128, out.begin() + (block + 1) * 128, 0);
    return out;
}

struct Prompts : CDownloadPrompts {
    void ShowMessage(const std::wstring& text) override
    {
        std::fprintf(g_out, "message: %s\n", wtext::ToUtf8(text).c_str());
    }
    bool AskYesNo(const std::wstring&) override { return true; }
    void SetCaption(const std::wstring&) override {}
    void StepProgress(int) override {}
    void CloseProgress() override {}
    void RunEnded(bool) override {}
};

// Copies bytes between two pseudo-terminal masters in both directions, each
// byte delivered no earlier than one character time after the previous one
// of its direction: a serial line at the simulated drive's rate.
class PacedRelay {
public:
    explicit PacedRelay(double charSeconds) : cs_(charSeconds) {}
    ~PacedRelay() { Stop(); }

    bool Open()
    {
        for (Side& s : sides_) {
            char name[128];
            if (openpty(&s.master, &s.slave, name, nullptr, nullptr) != 0) return false;
            s.path = name;
            termios t{};
            tcgetattr(s.slave, &t);
            cfmakeraw(&t);
            cfsetspeed(&t, B38400);
            tcsetattr(s.slave, TCSANOW, &t);
            fcntl(s.master, F_SETFL, fcntl(s.master, F_GETFL) | O_NONBLOCK);
        }
        thread_ = std::thread([this] { Run(); });
        return true;
    }
    void Stop()
    {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        for (Side& s : sides_) {
            if (s.master >= 0) close(s.master);
            if (s.slave >= 0) close(s.slave);
            s.master = s.slave = -1;
        }
    }
    const std::string& path(int i) const { return sides_[i].path; }

private:
    struct Side {
        int master = -1, slave = -1;
        std::string path;
        std::deque<std::pair<uint8_t, double>> outgoing;  // towards this side, with due times
        double last = 0;
    };
    double Now() const { return Seconds(start_, Clock::now()); }

    void Run()
    {
        while (!stop_) {
            pollfd p[2] = {{sides_[0].master, POLLIN, 0}, {sides_[1].master, POLLIN, 0}};
            double next = -1;
            for (const Side& s : sides_)
                if (!s.outgoing.empty() && (next < 0 || s.outgoing.front().second < next)) next = s.outgoing.front().second;
            int wait = 20;
            if (next >= 0) wait = std::max(0, static_cast<int>((next - Now()) * 1000));
            ::poll(p, 2, std::min(wait, 20));
            for (int i = 0; i < 2; ++i) {
                uint8_t buf[512];
                ssize_t n = ::read(sides_[i].master, buf, sizeof buf);
                Side& to = sides_[1 - i];
                if (n > 0) relayed_[i] += n;
                for (ssize_t k = 0; k < n; ++k) {
                    to.last = std::max(Now(), to.last) + cs_;
                    to.outgoing.emplace_back(buf[k], to.last);
                }
            }
            const double now = Now();
            for (Side& s : sides_) {
                std::string ready;
                while (!s.outgoing.empty() && s.outgoing.front().second <= now) {
                    ready.push_back(static_cast<char>(s.outgoing.front().first));
                    s.outgoing.pop_front();
                }
                if (!ready.empty() && ::write(s.master, ready.data(), ready.size()) < 0) {
                }
            }
        }
    }

    double cs_;
    Side sides_[2];
public:
    std::atomic<long> relayed_[2] = {0, 0};
private:
    std::thread thread_;
    std::atomic<bool> stop_{false};
    Clock::time_point start_ = Clock::now();
};

// One timed download of the image through the download sequence's block
// sender, with the boot link polling the port or waiting for it (FastLink).
struct Ours {
    double seconds = 0;
    int sent = 0;
    bool stored = false;
};

bool RunOurs(bool fastLink, const std::vector<uint8_t>& image, const std::string& imagePath, const fs::path& work,
             Ours* out, double* charSeconds)
{
    drivesim::SimOptions o;
    o.startMode = drivesim::Mode::Boot;
    o.bootLine.baud = kBaud;
    o.pace = true;
    o.boot.xmodemPoll = 0;
    o.linkPath = (work / "COM1").string();
    drivesim::Simulator sim(o);
    std::string error;
    if (!sim.start(&error)) {
        std::fprintf(g_out, "simulator: %s\n", error.c_str());
        return false;
    }
    ::setenv("TORVANE_COM1", o.linkPath.c_str(), 1);
    *charSeconds = o.bootLine.charSeconds();

    DeviceConnection link(wtext::FromUtf8(work.string() + "/"), nullptr);
    link.settings().COMID = L"1";
    link.settings().OutTime = L"1000";
    link.settings().FastLink = fastLink ? L"1" : L"0";
    if (!link.ConnectBoot()) {
        std::fprintf(g_out, "no bootloader answered\n");
        return false;
    }

    std::atomic<bool> running{true};
    Prompts prompts;
    DownloadJob job;
    job.codeFile = wtext::FromUtf8(imagePath);
    job.programFileOption = true;
    CDownloadSequence seq(job, link.settings(), link, running, prompts);
    seq.SetTranscriptPath(std::wstring());
    // The drive programs erased flash only (the erase is not timed).
    if (!seq.EraseProgramFlash() || !seq.LoadImageFile(job.codeFile) ||
        !seq.SendCmdExpect(CDownloadSequence::kLoadFlash, "flash loading...")) {
        std::fprintf(g_out, "the flash load was not accepted\n");
        return false;
    }
    const int blocks = static_cast<int>((image.size() + 127) / 128);
    const auto t0 = Clock::now();
    out->sent = 0;
    for (int i = 0; i < blocks; ++i) {
        const int len = static_cast<int>(std::min<size_t>(128, image.size() - 128u * i));
        if (!seq.SendBlock(image.data() + 128 * i, len, i + 1)) break;
        ++out->sent;
    }
    out->seconds = Seconds(t0, Clock::now());
    link.Disconnect();
    out->stored = sim.flash(0x08008000, image.size()) == drivesim::xmodemWireImage(image);
    sim.stop();
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    const int kib = argc > 1 ? std::max(1, std::atoi(argv[1])) : 256;
    // The run-info log echoes every block; keep it away from the figures.
    g_out = fdopen(dup(STDOUT_FILENO), "w");
    const int devnull = ::open("/dev/null", O_WRONLY);
    dup2(devnull, STDOUT_FILENO);
    ACE_LOG_MSG->clr_flags(ACE_Log_Msg::STDERR);

    const fs::path work = fs::temp_directory_path() / ("bench-download-" + std::to_string(getpid()));
    fs::create_directories(work);
    fs::current_path(work);
    const std::vector<uint8_t> image = MakeImage(static_cast<size_t>(kib) * 1024);
    const std::string imagePath = (work / "code.bin").string();
    std::ofstream(imagePath, std::ios::binary).write(reinterpret_cast<const char*>(image.data()), image.size());

    const int blocks = static_cast<int>((image.size() + 127) / 128);
    double cs = 0;
    Ours polling, fast;
    if (!RunOurs(false, image, imagePath, work, &polling, &cs) || !RunOurs(true, image, imagePath, work, &fast, &cs))
        return 1;

    std::fflush(g_out);
    // sx to rx over the paced relay.
    PacedRelay relay(cs);
    double theirs = -1;
    bool theirsOk = false;
    if (relay.Open()) {
        // rx takes a plain name in the working folder (it refuses paths).
        const std::string received = (work / "received.bin").string();
        const std::string rxCmd = "rx -X -c -q received.bin < " + relay.path(1) + " > " + relay.path(1) + " 2>" + (work / "rx.err").string();
        const std::string sxCmd = "sx -X -q '" + imagePath + "' < " + relay.path(0) + " > " + relay.path(0) + " 2>" + (work / "sx.err").string();
        const int limit = 60 + static_cast<int>(3 * blocks * 133 * cs);
        // sx empties its input when it starts: rx's first 'C' must come
        // after that, so sx gets a head start (not counted).
        const pid_t sx = fork();
        if (sx == 0) {
            execl("/bin/sh", "sh", "-c", ("exec " + sxCmd).c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        const auto s0 = Clock::now();
        theirsOk = std::system(("timeout " + std::to_string(limit) + " sh -c \"" + rxCmd + "\"").c_str()) == 0;
        theirs = Seconds(s0, Clock::now());
        // rx has the file once it ends; sx may still wait for the last
        // acknowledgement, which does not count.
        int status = 0;
        for (int i = 0; i < 30 && waitpid(sx, &status, WNOHANG) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (waitpid(sx, &status, WNOHANG) == 0) {
            kill(sx, SIGTERM);
            waitpid(sx, &status, 0);
        }
        std::ifstream in(received, std::ios::binary);
        std::vector<uint8_t> got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        got.resize(std::min(got.size(), image.size()));
        theirsOk = theirsOk && got == image;
    }

    const double frameBytes = 133.0 * blocks;
    const double model10 = frameBytes * 10.0 / kBaud + blocks * (1 * 10.0 / kBaud);
    const double model11 = frameBytes * 11.0 / kBaud + blocks * (1 * 11.0 / kBaud);
    std::fprintf(g_out, "image %d KiB, %d blocks of 128 bytes, %d baud 8E1\n", kib, blocks, kBaud);
    std::fprintf(g_out, "%-38s %9s %9s %9s %9s  %s\n", "", "s", "/model", "/floor", "ms/block", "result");
    auto row = [&](const char* name, double t, const std::string& result) {
        std::fprintf(g_out, "%-38s %9.2f %9.3f %9.3f %9.2f  %s\n", name, t, t / model10, t / model11,
                     t * 1000 / blocks, result.c_str());
    };
    auto ours = [&](const Ours& r) {
        return std::to_string(r.sent) + "/" + std::to_string(blocks) + " blocks accepted, memory " +
               (r.stored ? "equal" : "DIFFERENT");
    };
    row("BlockPump polling (drivesim paced)", polling.seconds, ours(polling));
    row("BlockPump FastLink (drivesim paced)", fast.seconds, ours(fast));
    if (theirs >= 0) row("sx -> rx -c (lrzsz, paced relay)", theirs, theirsOk ? "file equal" : "FAILED");
    row("wire model, 10 bits/byte + ACK", model10, "");
    row("line floor, 11 bits/byte (8E1) + ACK", model11, "");
    if (theirs > 0) std::fprintf(g_out, "FastLink / lrzsz: %.3f\n", fast.seconds / theirs);
    if (!theirsOk) {
        std::fprintf(g_out, "relayed %ld / %ld bytes\n", relay.relayed_[0].load(), relay.relayed_[1].load());
        std::ifstream rxErr(work / "rx.err"), sxErr(work / "sx.err");
        std::fprintf(g_out, "rx: %s\nsx: %s\n", std::string(std::istreambuf_iterator<char>(rxErr), {}).c_str(),
                     std::string(std::istreambuf_iterator<char>(sxErr), {}).c_str());
    }
    fs::current_path(fs::temp_directory_path());
    std::error_code ec;
    fs::remove_all(work, ec);
    return 0;
}
