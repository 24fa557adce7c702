// drivesim: a simulated Torvane motor drive on a pseudo-terminal.
// See Simulator.h for what it does; `drivesim --help` for the options.
#include "BootConfig.h"
#include "BootRequestDefaults.h"
#include "Faults.h"
#include "Params.h"
#include "Simulator.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <mutex>
#include <string>

using namespace drivesim;

namespace {

const char* const kUsage = R"(Usage: drivesim [options]

A simulated Torvane motor drive on a pseudo-terminal: a Modbus RTU slave in
normal mode, the bootloader's command line and XMODEM-CRC receiver in boot
mode. Runs until SIGINT or SIGTERM. Once listening it prints
"drivesim: listening on PTY" on standard output.

Line:
  --link PATH             make PATH a symbolic link to the pty (removed at exit)
  --ready-file PATH       write the pty path to PATH once listening (removed at exit)
  --station N             Modbus station address (default 1)
  --baud N                normal mode baud rate (default 9600)
  --parity N|E|O|M|S      normal mode parity (default E); also none/even/odd
  --data-bits N           normal mode data bits (default 8)
  --stop-bits N           normal mode stop bits (default 1)
  --boot-baud N           boot mode baud rate (default 38400)
  --old-bootloader        boot mode at 9600 baud, as an old bootloader
  --boot-parity P         boot mode parity (default E)
  --boot-data-bits N      boot mode data bits (default 8)
  --boot-stop-bits N      boot mode stop bits (default 1)
  --no-line-check         answer whatever settings the pty has. Normally the
                          drive stays silent when the baud rate, or odd versus
                          even/none parity, of the pty differ from its own (a
                          pty does not keep the parity-enable flag or the data
                          bits, so even and none cannot be told apart)
  --pace                  pace every byte by its wire time at the set baud rate
  --turnaround MS         delay before every reply (default 0)

Drive:
  --mode normal|boot      mode at start (default: by the EE mode word, as at
                          power-up: 0065 starts the application)
  --workbook PATH         parameter workbook (.xls) giving the registers;
                          without it a small built-in register set is used
  --all-registers         every register exists (unknown ones read 0)
  --series TEXT           series text in registers 0x032B..0x032D (default TV380)
  --ramp HZ_PER_S         output frequency ramp (default 10 Hz/s)
  --config PATH           config.ini with [BootRequest] Code and Key (defaults
                          0x5AA5 and 0xC3E1)
  --boot-time MS          silence after a reset or boot request (default 500)

Bootloader:
  --part-number TEXT      part number in EE at 153 (default 38000075)
  --version-text TEXT     reply to "VKR PM version"
  --ee-file PATH          EE image: loaded at start when it exists, saved at
                          every reset and at exit
  --flash-file PATH       flash image from 0x08000000: the same
  --ee-unlocked           EE unlocked when the bootloader starts (default locked)
  --erase-time MS         duration of flash_block_erase (default 3000)
  --xmodem-poll MS        send 'C' this often while a load waits for its first
                          block, for standard senders such as sx (default
                          1000, 0 = never)

Faults (--fault SPEC, repeatable; SPEC = NAME[=ARG[:ARG2]][#COUNT], COUNT =
how many times it acts, default until exit; hangup acts once):
)";

const char* const kUsageTail = R"(
Output:
  -v, --verbose           print a line per request served
  -q, --quiet             print only the listening line and errors
  -h, --help              this text
)";

bool toInt(const char* s, long lo, long hi, long* out) {
    if (!s || !*s) return false;
    char* end = nullptr;
    long v = std::strtol(s, &end, 0);
    if (*end || v < lo || v > hi) return false;
    *out = v;
    return true;
}

[[noreturn]] void usageError(const std::string& msg) {
    std::fprintf(stderr, "drivesim: %s\nTry 'drivesim --help'.\n", msg.c_str());
    std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
    SimOptions o;
    bool verbose = false;
    std::atomic<bool> quiet{false};
    std::string workbook, config;
    auto need = [&](int& i) -> const char* {
        if (i + 1 >= argc) usageError(std::string("option ") + argv[i] + " needs a value");
        return argv[++i];
    };
    auto number = [&](int& i, long lo, long hi) -> long {
        const char* opt = argv[i];
        const char* v = need(i);
        long n;
        if (!toInt(v, lo, hi, &n))
            usageError(std::string("bad value \"") + v + "\" for " + opt + " (" + std::to_string(lo) + ".." +
                       std::to_string(hi) + ")");
        return n;
    };
    auto parity = [&](int& i) -> char {
        const char* opt = argv[i];
        std::string v = need(i);
        LineSettings s;
        if (!parseLineSettings("9600 " + v, &s)) usageError("bad parity \"" + v + "\" for " + opt);
        return s.parity;
    };
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            std::fputs(faultHelpText().c_str(), stdout);
            std::fputs(kUsageTail, stdout);
            return 0;
        } else if (a == "--link") o.linkPath = need(i);
        else if (a == "--ready-file") o.readyFile = need(i);
        else if (a == "--station") o.station = static_cast<std::uint8_t>(number(i, 1, 247));
        else if (a == "--baud") o.normalLine.baud = static_cast<int>(number(i, 50, 4000000));
        else if (a == "--parity") o.normalLine.parity = parity(i);
        else if (a == "--data-bits") o.normalLine.dataBits = static_cast<int>(number(i, 5, 8));
        else if (a == "--stop-bits") o.normalLine.stopBits = static_cast<int>(number(i, 1, 2));
        else if (a == "--boot-baud") o.bootLine.baud = static_cast<int>(number(i, 50, 4000000));
        else if (a == "--old-bootloader") o.bootLine.baud = 9600;
        else if (a == "--boot-parity") o.bootLine.parity = parity(i);
        else if (a == "--boot-data-bits") o.bootLine.dataBits = static_cast<int>(number(i, 5, 8));
        else if (a == "--boot-stop-bits") o.bootLine.stopBits = static_cast<int>(number(i, 1, 2));
        else if (a == "--no-line-check") o.checkLine = false;
        else if (a == "--pace") o.pace = true;
        else if (a == "--turnaround") o.turnaroundSeconds = number(i, 0, 60000) / 1000.0;
        else if (a == "--mode") {
            std::string m = need(i);
            if (m == "normal") o.startMode = Mode::Normal;
            else if (m == "boot") o.startMode = Mode::Boot;
            else usageError("--mode takes normal or boot");
        } else if (a == "--workbook") workbook = need(i);
        else if (a == "--all-registers") o.allRegisters = true;
        else if (a == "--series") o.series = need(i);
        else if (a == "--ramp") {
            const char* v = need(i);
            char* end = nullptr;
            double r = std::strtod(v, &end);
            if (*end || !(r > 0) || r > 10000) usageError(std::string("bad ramp \"") + v + "\"");
            o.rampHzPerSecond = r;
        } else if (a == "--config") config = need(i);
        else if (a == "--boot-time") o.bootSeconds = number(i, 0, 600000) / 1000.0;
        else if (a == "--part-number") o.partNumber = need(i);
        else if (a == "--version-text") o.boot.versionText = need(i);
        else if (a == "--ee-file") o.eeFile = need(i);
        else if (a == "--flash-file") o.flashFile = need(i);
        else if (a == "--ee-unlocked") o.boot.eeLockedAtStart = false;
        else if (a == "--erase-time") o.boot.eraseSeconds = number(i, 0, 600000) / 1000.0;
        else if (a == "--xmodem-poll") o.boot.xmodemPoll = number(i, 0, 600000) / 1000.0;
        else if (a == "--fault") {
            std::string faultText = need(i), err;
            FaultKind k;
            FaultSetting s;
            if (!parseFaultSpec(faultText, &k, &s, &err)) usageError(err);
            o.faults.emplace_back(k, s);
        } else if (a == "-v" || a == "--verbose") verbose = true;
        else if (a == "-q" || a == "--quiet") quiet = true;
        else usageError("unknown option " + a);
    }
    if (o.series.size() > 6) usageError("--series takes at most 6 characters");
    if (o.partNumber.size() > 8) usageError("--part-number takes at most 8 characters");

    if (!config.empty()) {
        std::string warning;
        if (!readBootRequestValues(config, &o.bootRequest, &warning)) {
            std::fprintf(stderr, "drivesim: cannot read %s\n", config.c_str());
            return 1;
        }
        if (!warning.empty()) std::fprintf(stderr, "drivesim: %s\n", warning.c_str());
    }
    if (!workbook.empty()) {
        std::string err;
        if (!loadParamWorkbook(workbook, &o.params, &err)) {
            std::fprintf(stderr, "drivesim: %s\n", err.c_str());
            return 1;
        }
        if (o.params.empty()) std::fprintf(stderr, "drivesim: %s holds no parameter records\n", workbook.c_str());
    }

    std::mutex outMu;
    o.log = [&](int level, const std::string& line) {
        if (level > 0 && !verbose) return;
        if (level == 0 && quiet) return;
        std::lock_guard<std::mutex> lock(outMu);
        std::fprintf(stdout, "%s\n", line.c_str());
        std::fflush(stdout);
    };

    // The line thread inherits this mask; the signals are taken by sigwait.
    sigset_t sigs;
    sigemptyset(&sigs);
    sigaddset(&sigs, SIGINT);
    sigaddset(&sigs, SIGTERM);
    sigaddset(&sigs, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &sigs, nullptr);

    Simulator sim(o);
    std::string err;
    bool quietStart = quiet.load();
    quiet = true;  // the listening line below replaces the simulator's own
    if (!sim.start(&err)) {
        std::fprintf(stderr, "drivesim: %s\n", err.c_str());
        return 1;
    }
    quiet = quietStart;
    {
        std::lock_guard<std::mutex> lock(outMu);
        std::fprintf(stdout, "drivesim: listening on %s%s%s, %s mode, station %u, boot request code 0x%04X key 0x%04X\n",
                     sim.slavePath().c_str(), o.linkPath.empty() ? "" : " link ", o.linkPath.c_str(),
                     modeName(sim.mode()), o.station, o.bootRequest.code, o.bootRequest.key);
        std::fflush(stdout);
    }
    int sig = 0;
    sigwait(&sigs, &sig);
    sim.stop();
    return 0;
}
