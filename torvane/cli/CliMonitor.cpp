// torvane-cli monitor and recover: a recording from a terminal or a script,
// with the real-time monitor's sampler, the sample store with its journal,
// and the history writer; and the journals a killed run left, turned into
// history files.
#include "CliMonitor.h"

#include "DevicePlugins.h"
#include "HistoryFile.h"
#include "LanguageTables.h"
#include "MonitorBuffer.h"
#include "MonitorIntervals.h"
#include "ProgramFolder.h"
#include "RealTimeSampler.h"
#include "RecordingJournal.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace cli {

namespace {

void Say(const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); }

int UsageError(const std::string& text)
{
    Say("torvane-cli: " + text);
    Say("see: torvane-cli monitor --help");
    return kUsage;
}

// "10m", "5s", "500ms", "1h", "90" (seconds) -> ms; -1 when not a duration.
long long ParseDuration(const std::string& text)
{
    char* end = nullptr;
    const double n = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || !(n > 0)) return -1;
    const std::string unit = end;
    double ms = 0;
    if (unit.empty() || unit == "s") ms = n * 1000;
    else if (unit == "ms") ms = n;
    else if (unit == "m" || unit == "min") ms = n * 60000;
    else if (unit == "h") ms = n * 3600000;
    else return -1;
    return static_cast<long long>(ms);
}

std::wstring HistoryFolder(const std::wstring& programFolder)
{
    const std::wstring folder = WritableFolder(programFolder) + history::Folder();
    ::mkdir(Narrow(folder).c_str(), 0755);
    return folder;
}

// The record a slot names: a parameter ("P09.00", "09.00") or an address
// ("2305", "0x901").
const ParamRecord* SlotRecord(Session& s, const std::string& what)
{
    char* end = nullptr;
    const unsigned long address = std::strtoul(what.c_str(), &end, 0);
    if (!what.empty() && *end == 0 && what.find('.') == std::string::npos) {
        for (const ParamRecord& r : s.table().params)
            if (r.address == static_cast<int>(address)) return &r;
        return nullptr;
    }
    std::vector<int> records;
    std::vector<std::string> unknown;
    std::string pnu = what;
    if (!pnu.empty() && (pnu[0] == 'p')) pnu[0] = 'P';
    if (!s.SelectRecords({pnu}, &records, &unknown) || records.size() != 1) return nullptr;
    return &s.table().params[static_cast<size_t>(records.front())];
}

std::string ValueText(double v, int exponent)
{
    const char* f = exponent == 0 ? "%.0f" : exponent == -1 ? "%.1f" : exponent == -2 ? "%.2f" : "%.3f";
    char buf[64];
    std::snprintf(buf, sizeof buf, f, v);
    return buf;
}

std::string CsvField(const std::string& text)
{
    if (text.find_first_of(",\"\n") == std::string::npos) return text;
    std::string q = "\"";
    for (char c : text) q += c == '"' ? std::string("\"\"") : std::string(1, c);
    return q + "\"";
}

}  // namespace

int CmdMonitor(const Options& o, const std::atomic<bool>& running)
{
    if (!o.args.empty()) return UsageError("monitor takes no arguments: " + o.args.front());
    if (o.slots.empty()) return UsageError("monitor needs at least one --slot N=PARAMETER");
    const bool csv = o.format == Format::Csv;
    if (o.out.empty() && !csv) return UsageError("monitor needs --out FILE.xls or --format csv");
    const std::string intervalText = o.interval.empty() ? "1sec" : o.interval;
    const int interval = monitor::IntervalIndexOf(Widen(intervalText));
    if (interval < 0) return UsageError("--interval takes 20sec, 10sec, 5sec, 2sec, 1sec, 500ms, 400ms, 200ms, 100ms or 50ms");
    long long durationMs = -1;  // until interrupted
    if (!o.duration.empty() && (durationMs = ParseDuration(o.duration)) < 0)
        return UsageError("--duration takes a time such as 90s, 10m or 1h");
    std::string out = o.out;
    if (!out.empty() && out.front() != '/') {
        char cwd[4096];
        if (::getcwd(cwd, sizeof cwd)) out = std::string(cwd) + "/" + out;
    }
    if (!out.empty() && out.find(".xls") == std::string::npos) out += ".xls";

    Session s(o);
    std::string error;
    if (!s.Prepare(&error) || !s.LoadTable(&error)) {
        Say(error);
        return error.find("table") != std::string::npos ? kFailed : kUsage;
    }
    monitor::SlotPlans plans;
    MonitorSignals sigs;
    for (const std::string& given : o.slots) {
        const size_t eq = given.find('=');
        const int slot = eq == std::string::npos ? 0 : std::atoi(given.substr(0, eq).c_str());
        if (slot < 1 || slot > kMonitorSlots) return UsageError("--slot takes N=PARAMETER with N from 1 to 10: " + given);
        if (plans[static_cast<size_t>(slot - 1)].read) return UsageError("slot " + std::to_string(slot) + " given twice");
        const ParamRecord* r = SlotRecord(s, given.substr(eq + 1));
        if (!r) {
            Say("no parameter " + given.substr(eq + 1) + " in the table of " + Narrow(s.table().deviceType));
            return kRefused;
        }
        plans[static_cast<size_t>(slot - 1)] = {true, *r};
        MonitorSignal& sig = sigs[static_cast<size_t>(slot - 1)];
        sig.address = static_cast<uint32_t>(r->address);
        sig.name = PickVariant(r->name, s.languageIndex());
        sig.enabled = 1;
        sig.exponent = r->exponent;
        sig.scale = InitialScale(r->exponent);
    }
    const int station = s.stations().front();
    if (!s.ConnectNormal(station)) {
        Say("station " + std::to_string(station) + ": no reply at " + s.PortText());
        return kConnection;
    }

    CMonitorBuffer store;
    store.EnableJournal(true);
    const uint64_t id =
        store.BeginRecording(false, HistoryFolder(s.folder()), s.table().deviceType, monitor::IntervalName(interval), sigs);
    if (csv) {
        std::string head = "time_ms";
        for (int j = 0; j < kMonitorSlots; ++j)
            if (plans[static_cast<size_t>(j)].read)
                head += "," + CsvField(Narrow(sigs[static_cast<size_t>(j)].name));
        std::printf("%s\n", head.c_str());
        std::fflush(stdout);
    }

    std::atomic<bool> logging{true};
    std::atomic<long> lost{0};
    std::atomic<int> lastErr{0};
    std::atomic<bool> replying{true};
    monitor::SamplingControl control;
    control.interval = interval;
    control.chosenInterval = interval;
    monitor::CRealTimeSampler::Hooks hooks;
    hooks.append = [&](uint64_t timeMs, const monitor::Sweep& sweep) {
        MonitorSample sample{};
        std::string line = std::to_string(timeMs);
        for (int j = 0; j < kMonitorSlots; ++j) {
            const monitor::SweepEntry& e = sweep[static_cast<size_t>(j)];
            sample.entries[j].valid = e.valid ? 1 : 0;
            sample.entries[j].value = static_cast<float>(e.value);
            if (plans[static_cast<size_t>(j)].read) line += "," + ValueText(e.value, sigs[static_cast<size_t>(j)].exponent);
        }
        replying = true;
        const bool taken = store.AppendToRecording(id, timeMs, sample);
        if (taken && csv) {
            std::printf("%s\n", line.c_str());
            std::fflush(stdout);
        }
        return taken;
    };
    hooks.sweepLost = [&](int, uint8_t err) {
        ++lost;
        lastErr = err;
        replying = false;
    };
    hooks.intervalStepped = [&](int next, uint64_t timeMs, bool raised) {
        store.NoteIntervalChange(timeMs, monitor::IntervalName(next), raised ? L"overruns" : L"sweeps fit again");
    };
    monitor::CRealTimeSampler sampler(ModbusPort(), static_cast<uint8_t>(station), plans, logging, control,
                                      std::move(hooks));
    std::thread worker([&] { sampler.Run(); });

    const bool terminal = ::isatty(2) != 0;
    const auto t0 = std::chrono::steady_clock::now();
    bool full = false;
    for (;;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        // The sampler asks for a slower interval after overruns; here it
        // applies at once.
        const int pending = control.pendingInterval.exchange(-1);
        if (pending >= 0) control.interval = pending;
        const long long ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
        full = store.State().refusedFull > 0;
        if (terminal) {
            const std::string name = Narrow(monitor::IntervalName(control.interval.load()));
            std::fprintf(stderr, "\r%s: %u samples, %ld lost, link %s   ", name.c_str(), store.count(), lost.load(),
                         replying ? "ok" : (lastErr == 0xFF ? "no reply" : "errors"));
        }
        if (!running.load() || full || (durationMs >= 0 && ms >= durationMs)) break;
    }
    logging = false;
    worker.join();
    store.EndLogging(id);
    if (terminal) std::fprintf(stderr, "\n");
    if (full) Say("the recording is full (" + std::to_string(kMonitorRingSize) + " samples)");
    if (!running.load()) Say("interrupted");
    const uint32_t taken = store.count();
    if (lost > 0) Say(std::to_string(lost.load()) + " sweeps lost");
    if (taken == 0) {
        store.Discard(id);
        store.WaitWriter(5000);
        Say("no sample was taken");
        return lost > 0 ? kConnection : kFailed;
    }
    if (out.empty()) {
        // Standard output has it all.
        store.Discard(id);
        store.WaitWriter(5000);
        return kOk;
    }
    if (!store.SaveRecording(Widen(out), &error)) {
        store.WaitWriter(5000);
        Say(out + ": " + error);
        Say("the recording stays in " + Narrow(store.JournalPath()) + "; torvane-cli recover saves it");
        return kFailed;
    }
    store.WaitWriter(5000);
    Say(std::to_string(taken) + " samples saved to " + out);
    return kOk;
}

int CmdRecover(const Options& o)
{
    std::vector<std::string> paths = o.args;
    for (std::string& p : paths)
        if (!p.empty() && p.front() != '/') {
            char cwd[4096];
            if (::getcwd(cwd, sizeof cwd)) p = std::string(cwd) + "/" + p;
        }
    // No drive and no port: only the program folder's history folder.
    std::wstring program = ProgramFolder();
    if (!o.folder.empty()) {
        char real[PATH_MAX];
        if (!::realpath(o.folder.c_str(), real)) {
            Say("no program folder " + o.folder);
            return kUsage;
        }
        program = Widen(std::string(real) + "/");
    }
    std::string error;
    const std::wstring folder = HistoryFolder(program);
    if (paths.empty())
        for (const std::wstring& j : journal::FindLeftBehind(folder)) paths.push_back(Narrow(j));
    if (paths.empty()) {
        Say("no recording was left behind in " + Narrow(folder));
        return kOk;
    }
    int failed = 0;
    for (const std::string& p : paths) {
        std::wstring written;
        if (journal::Recover(Widen(p), folder, &written, &error)) {
            std::printf("%s\n", Narrow(written).c_str());
        } else {
            Say(p + ": " + error);
            ++failed;
        }
    }
    return failed == 0 ? kOk : failed == static_cast<int>(paths.size()) ? kFailed : kPartial;
}

}  // namespace cli
