// torvane-cli flash: a firmware download from a script, for service benches
// and production lines, with the download view's classes for every step:
// the package is opened as the view opens it (same caps, same refusals), the
// drive is checked as Model Check checks it, the download is the view's
// sequence with its transcript, and a broken-off download is resumed under
// the view's rules. One drive per port; each port is held by one flash for
// the whole run, so several ports can be flashed by several processes.
#include "CliFlash.h"

#include "CliOutput.h"
#include "DeviceConnection.h"
#include "DownloadSequence.h"
#include "DownloadState.h"
#include "CCOM.h"
#include "TcpChannel.h"
#include "ModeSwitch.h"
#include "ModelCatalogue.h"
#include "ProgramPackage.h"
#include "WideText.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>

namespace cli {

const char* const kLeftInBootloaderText =
    "The drive stays in its bootloader until a download completes: run torvane-cli flash --resume to complete it.";

namespace {

namespace fs = std::filesystem;

void Say(const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); }

int UsageError(const std::string& text)
{
    Say("torvane-cli: " + text + " (torvane-cli flash --help)");
    return kUsage;
}

// The port is held for the whole run, not only while one of its links is
// open: between the register link and the boot link (a boot request, a
// reset) the serial channel gives the port up for a moment, and a second
// flash must not slip in there. An open-file-description lock on the device
// itself: the channel's own lock (flock) does not see it, and the channel
// closing its descriptors does not drop it (a process-wide record lock would
// go with the first close). A second flash finds it at once.
class PortHold {
public:
    ~PortHold()
    {
        if (fd_ >= 0) ::close(fd_);
    }
    // False, with the reason in *why, when another flash holds the device.
    bool Take(const std::string& device, std::string* why)
    {
        if (LinkCoreParsePort(device, nullptr, nullptr) != LINK_PORT_SERIAL) return true;  // a network port
        fd_ = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0) {
            if (errno != EBUSY) return true;  // the connection says what is wrong
            *why = "in use";
            return false;
        }
        struct flock lock {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        if (::fcntl(fd_, F_OFD_SETLK, &lock) == 0) return true;
        *why = "in use by another torvane-cli flash";
        ::close(fd_);
        fd_ = -1;
        return false;
    }

private:
    int fd_ = -1;
};

// The package is extracted into a folder of this process's own: two flashes
// at once must not empty or remove each other's images.
class PackageFolder {
public:
    explicit PackageFolder(const std::wstring& appFolder)
    {
        const std::wstring base = PackageProgramFolder(appFolder);
        // Folders that killed runs left behind.
        std::error_code ec;
        for (const fs::directory_entry& e : fs::directory_iterator(Narrow(base), ec)) {
            const std::string name = e.path().filename().string();
            if (name.rfind("flash-", 0) != 0) continue;
            const long pid = std::strtol(name.c_str() + 6, nullptr, 10);
            if (pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) fs::remove_all(e.path(), ec);
        }
        folder_ = base + L"flash-" + wtext::FormatInt(static_cast<int>(::getpid())) + L"/";
    }
    ~PackageFolder()
    {
        RemoveExtracted(folder_);
        std::error_code ec;
        fs::remove_all(Narrow(folder_), ec);
    }
    const std::wstring& path() const { return folder_; }

private:
    std::wstring folder_;
};

// Progress on a terminal: the sequence's caption (the step, and in the
// flash image "n-i", block i of n) and, while the flash image goes, the
// time left at the pace of its blocks so far (the image is most of a run).
class FlashProgress {
public:
    void Caption(const std::wstring& caption)
    {
        caption_ = Narrow(caption);
        int n = 0, i = 0;
        const size_t at = caption_.find(kBlockCaption);
        if (at != std::string::npos && std::sscanf(caption_.c_str() + at + kBlockCaption.size(), "%d-%d", &n, &i) == 2) {
            const auto now = std::chrono::steady_clock::now();
            if (i == 0) flashStart_ = now;
            const double seconds = std::chrono::duration<double>(now - flashStart_).count();
            left_ = i > 0 ? static_cast<int>(seconds / i * (n - 1 - i) + 0.5) : -1;
        } else {
            left_ = -1;
        }
        Show();
    }
    void Done()
    {
        if (!terminal_ || !shown_) return;
        std::fprintf(stderr, "\r\033[K");
        std::fflush(stderr);
        shown_ = false;
    }

private:
    void Show()
    {
        if (!terminal_) return;
        std::string text = caption_;
        if (left_ >= 0) {
            char buf[32];
            std::snprintf(buf, sizeof buf, "  about %d:%02d left", left_ / 60, left_ % 60);
            text += buf;
        }
        std::fprintf(stderr, "\r\033[K%s", text.c_str());
        std::fflush(stderr);
        shown_ = true;
    }
    const std::string kBlockCaption = "Download program file :";
    const bool terminal_ = ::isatty(STDERR_FILENO) == 1;
    bool shown_ = false;
    std::string caption_;
    int left_ = -1;
    std::chrono::steady_clock::time_point flashStart_ = std::chrono::steady_clock::now();
};

// The download view's message boxes as lines on standard error.
class CheckPrompts : public CModeSwitchPrompts {
public:
    explicit CheckPrompts(const std::atomic<bool>& running) : running_(running) {}
    void ShowMessage(const std::wstring& text) override { Say(Narrow(text)); }
    bool Cancelled() const override { return !running_.load(); }

private:
    const std::atomic<bool>& running_;
};

class SequencePrompts : public CDownloadPrompts {
public:
    void ShowMessage(const std::wstring& text) override
    {
        progress.Done();
        Say(Narrow(text));
    }
    // "The program downloads direct.": Yes keeps the extracted package,
    // which this command removes when it ends anyway.
    bool AskYesNo(const std::wstring&) override { return true; }
    void SetCaption(const std::wstring& caption) override { progress.Caption(caption); }
    // The steps of the view's bar run past its end on small images: the
    // caption says more.
    void StepProgress(int) override {}
    void CloseProgress() override { progress.Done(); }
    void RunEnded(bool) override {}

    FlashProgress progress;
};

// Which options go: those asked for, or both where the model has the files.
bool ChooseOptions(const Options& o, const PackageFilePaths& paths, bool* data, bool* program)
{
    const modeswitch::PackageOptions have = modeswitch::OptionsFor(paths);
    *data = o.data || (!o.program && have.dataFiles);
    *program = o.program || (!o.data && have.programFile);
    if ((*data && !have.dataFiles) || (*program && !have.programFile)) {
        std::wstring text = modeswitch::text::kFileMissing;
        if (*program && !have.programFile) text += modeswitch::text::kCodeFile;
        if (*data && !have.dataFiles) text += modeswitch::text::kDataFile;
        Say(Narrow(text));
        return false;
    }
    return true;
}

// A path inside the extracted package as the package names it.
std::string InPackage(const std::wstring& path, const std::wstring& programFolder)
{
    const std::wstring top = ExtractedFolder(programFolder) + L"/";
    return Narrow(path.rfind(top, 0) == 0 ? path.substr(top.size()) : path);
}

void AddPlan(Rows* out, const DownloadJob& job, const std::wstring& programFolder)
{
    int n = 0;
    for (const DownloadPlanStep& st : CDownloadSequence::Plan(job))
        out->Add({Narrow(job.series), Narrow(job.partNumber), Narrow(job.power), std::to_string(++n), st.action,
                  st.file.empty() ? "" : InPackage(st.file, programFolder),
                  st.file.empty() ? "" : st.bytes < 0 ? "missing" : std::to_string(st.bytes),
                  st.file.empty() ? "" : std::to_string(st.blocks)});
}

Rows PlanColumns()
{
    Rows out;
    out.columns = {{"series", "Series"},   {"part_number", "PN"},  {"power", "Power"},
                   {"step", "Step", true}, {"action", "Action"},  {"file", "File"},
                   {"bytes", "Bytes", true}, {"blocks", "Blocks", true}};
    return out;
}

// A dry run's end: the plan on standard output, the assurance on standard error.
int PrintPlan(const Rows& plan, const Options& o)
{
    Print(stdout, plan, o.format);
    Say("dry run: nothing was written to the drive");
    return kOk;
}

}  // namespace

int CmdFlash(const Options& o, std::atomic<bool>& running,
             const std::function<std::string(Session&, int station)>& noReply)
{
    if (o.args.size() > 1) return UsageError("flash takes one package file");
    if (o.args.empty() && !o.resume) return UsageError("flash needs a package file (or --resume)");
    if (o.resume && (o.direct || !o.series.empty() || !o.power.empty()))
        return UsageError("--resume flashes the model of the interrupted download; it takes no --direct, "
                          "--series or --power");
    Session s(o);
    std::string error;
    if (!s.Prepare(&error)) {
        Say("torvane-cli: " + error);
        return kUsage;
    }
    if (s.manyStations())
        return UsageError("flash takes one drive per port; flash several ports with one torvane-cli flash each");
    const int station = s.stations().front();
    DeviceConnection& link = s.link();
    link.settings().devAddr = wtext::FormatInt(station);
    const std::string device = LinkCoreSerialDevice(link.settings().PortNumber());

    PortHold hold;
    if (!hold.Take(device, &error)) {
        Say(s.PortText() + ": " + error + "; one flash per port");
        return kConnection;
    }

    // The download state of this port (several ports may be flashed at once).
    CDownloadState state(link.settings().ConfigPath(), L"Flash " + Widen(device));
    state.ReadSaved();
    if (o.resume && !state.InterruptedDownload()) {
        Say("no interrupted download on " + s.PortText() + ": nothing to resume");
        return kRefused;
    }
    const std::wstring package = o.args.empty() ? state.SavedPackage() : Widen(o.args.front());
    if (package.empty()) {
        Say("the package of the interrupted download is not known: give it, torvane-cli flash --resume PACKAGE");
        return kUsage;
    }

    PackageFolder folder(s.folder());
    ModelCatalogue catalogue;
    PackageOpenReport report;
    const bool opened = OpenPackage(package, folder.path(), &report, &catalogue);
    if (!report.copyFailedText.empty()) Say(Narrow(report.copyFailedText));
    if (!opened) {
        Say(Narrow(package::kDecompressionFailedText) + " " + Narrow(package) +
            (report.failure.empty() ? std::string() : ": " + Narrow(report.failure)));
        return kFailed;
    }
    state.PackageOpened(package, true);

    CheckPrompts checkPrompts(running);
    CModeSwitch sw(link, checkPrompts, catalogue, folder.path(), link.settings().ConfigPath());
    sw.SetStateSection(state.Section());

    std::wstring series, partNumber, power;
    if (o.resume) {
        // The view's rules: the drive in its bootloader, the same drive by
        // its part number, the saved model.
        if (!link.ConnectBoot()) {
            Say(Narrow(modeswitch::text::kConnectBootFailed));
            return kConnection;
        }
        std::string pn;
        sw.ReadPartNumber(&pn);
        PackageFilePaths paths;
        const std::wstring refusal = modeswitch::ResumeRefusal(state, Widen(pn), catalogue, folder.path(), &paths);
        if (!refusal.empty()) {
            Say(Narrow(refusal));
            return kRefused;
        }
        series = state.SavedSeries();
        partNumber = state.SavedPartNumber();
        power = state.SavedPower();
        if (!pn.empty()) state.SetDrive(CDownloadState::Drive::IncompleteProgram, Widen(pn));
        state.SetModelChecked(series, partNumber, power, paths);
        if (o.dryRun) {
            s.Disconnect();
            bool data = false, program = false;
            if (!ChooseOptions(o, paths, &data, &program)) return kRefused;
            Rows out = PlanColumns();
            AddPlan(&out, MakeDownloadJob(state, series, partNumber, power, data, program, folder.path()),
                    folder.path());
            return PrintPlan(out, o);
        }
    } else if (o.dryRun) {
        // Nothing goes to the drive: no boot request, so the part number is
        // known only from a drive already in its bootloader. From a drive
        // in normal mode the plan shows every model of its series.
        Rows out = PlanColumns();
        std::vector<ModelRecord> models;
        if (o.direct) {
            std::string pn;
            if (!link.ConnectBoot() || !sw.ReadPartNumber(&pn)) {
                Say(Narrow(modeswitch::text::kDeviceConnectBootFailed));
                return kConnection;
            }
            for (const ModelRecord& m : catalogue.models())
                if (m.partNumber == Widen(pn)) models.push_back(m);
        } else {
            if (!s.ConnectNormal(station)) {
                Say(noReply(s, station));
                return kConnection;
            }
            const std::wstring driveSeries = Widen(sw.ReadSeries());
            for (const ModelRecord& m : catalogue.models())
                if (m.series == driveSeries) models.push_back(m);
            if (!o.series.empty() && Widen(o.series) != driveSeries) models.clear();
        }
        std::vector<ModelRecord> chosen;
        for (const ModelRecord& m : models)
            if ((o.series.empty() || m.series == Widen(o.series)) && (o.power.empty() || m.power == Widen(o.power)))
                chosen.push_back(m);
        s.Disconnect();
        if (chosen.empty()) {
            Say("the package holds no model for this drive" +
                (o.series.empty() && o.power.empty() ? std::string() : " with the series and power given"));
            return kRefused;
        }
        if (!o.direct && chosen.size() > 1)
            Say("the drive's part number is read from its bootloader when the flash runs; it picks one of these models");
        for (const ModelRecord& m : chosen) {
            ModelFiles files{m.dataFile, m.calibrationFile, m.codeFile, m.initFile};
            CDownloadState plan(state);
            plan.SetPaths(PackagePaths(folder.path(), files));
            bool data = false, program = false;
            if (!ChooseOptions(o, plan.Paths(), &data, &program)) return kRefused;
            AddPlan(&out, MakeDownloadJob(plan, m.series, m.partNumber, m.power, data, program, folder.path()),
                    folder.path());
        }
        return PrintPlan(out, o);
    } else {
        const ModelCheckResult r =
            o.direct ? sw.BootloaderCheck(Widen(o.series), Widen(o.power)) : sw.ModelCheck(Widen(o.series), Widen(o.power));
        if (!r.ok) {
            if (!running) {
                Say("interrupted; the drive is left where the check stopped");
                return kPartial;
            }
            if (r.refused) return kRefused;
            // Nothing answered: why (the port, or a silent drive).
            if (o.direct && r.devicePartNumber.empty())
                Say("--direct: no bootloader answered at " + s.PortText() +
                    "; a drive that runs its application is flashed without --direct");
            else if (r.devicePartNumber.empty() && r.deviceSeries.empty())
                Say(noReply(s, station));
            return kConnection;
        }
        series = r.series;
        partNumber = Widen(r.devicePartNumber);
        power = r.power;
        if (r.incompleteProgram) state.SetDrive(CDownloadState::Drive::IncompleteProgram, partNumber);
        state.SetModelChecked(series, partNumber, power, r.paths);
    }

    bool data = false, program = false;
    if (!ChooseOptions(o, state.Paths(), &data, &program)) {
        sw.ReturnToNormal();
        return kRefused;
    }
    // Saved before anything reaches the drive: a resume flashes this model.
    if (!state.SaveSelection(series, partNumber, power) || !state.SavePackage(package)) {
        Say(Narrow(CDownloadSequence::kConfigWriteFailed));
        sw.ReturnToNormal();
        return kFailed;
    }
    Say("flashing " + Narrow(series) + " PN " + Narrow(partNumber) + " " + Narrow(power) + " at " + s.PortText() +
        ": " + (data ? "data files" : "") + (data && program ? " and " : "") + (program ? "program file" : "") +
        (data || program ? ", " : "") + "init file");

    SequencePrompts prompts;
    const DownloadJob job = MakeDownloadJob(state, series, partNumber, power, data, program, folder.path());
    CDownloadSequence sequence(job, link.settings(), link, running, prompts);
    sequence.Execute();
    const DownloadOutcome outcome = sequence.Outcome();
    state.RunEnded(outcome);
    if (outcome.result == DownloadOutcome::Result::Succeeded) {
        s.Disconnect();
        return kOk;
    }
    if (state.ProgramRequired()) {
        Say(kLeftInBootloaderText);
        return kInBootloader;
    }
    // The program was not touched: the drive goes back to its application
    // as after a failed model check (never with "0081" in it).
    sw.ReturnToNormal();
    s.Disconnect();
    return outcome.result == DownloadOutcome::Result::Refused ? kRefused : kPartial;
}

}  // namespace cli
