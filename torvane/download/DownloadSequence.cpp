#include "DownloadSequence.h"

#include "CCOM.h"
#include "CalibrationFile.h"
#include "DeviceConnection.h"
#include "FileBytes.h"
#include "PrivateProfile.h"
#include "ProgramFolder.h"
#include "ProgramPackage.h"
#include "RegisterAccess.h"
#include "WideText.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <thread>

const char* const CDownloadSequence::kUnlockEe = "VKR pm lock -o n -t ee\n";
const char* const CDownloadSequence::kLockEe = "VKR pm lock -o y -t ee\n";
const char* const CDownloadSequence::kLoadPowerData = "VKR pm load pu_ee -m xMODEM -b 128\n";
const char* const CDownloadSequence::kLoadInit = "VKR pm load pu_ee -m xMODEM -b 1152\n";
const char* const CDownloadSequence::kLoadFlash = "VKR pm load pu -m xMODEM -b 0x08008000\n";
const char* const CDownloadSequence::kEraseFlash = "VKR pm flash_block_erase -s 2 -e 7\n";
const char* const CDownloadSequence::kMarkDownloading = "VKR pm write_ee -a 0x600 -d 0081\n";
const char* const CDownloadSequence::kMarkNormal = "VKR pm write_ee -a 0x600 -d 0065\n";
const char* const CDownloadSequence::kReset = "VKR pm reset\n";

const wchar_t* const CDownloadSequence::kQuestion = L"The program downloads direct.";
const wchar_t* const CDownloadSequence::kUnlockFailed = L"Unlocking EE failed";
const wchar_t* const CDownloadSequence::kPowerAnnounceFailed = L"Unlocking PU_EE_POWER failed";
const wchar_t* const CDownloadSequence::kPowerBlockFailed = L"Failed to download PU_EE_POWER file";
const wchar_t* const CDownloadSequence::kCalibrationFailed = L"Downloading the Calibration file failed";
const wchar_t* const CDownloadSequence::kLockFailed = L"Lock EE failed";
const wchar_t* const CDownloadSequence::kEraseFailed = L"FALSH_ERASE failed.";
const wchar_t* const CDownloadSequence::kFlashAnnounceFailed = L"Send CMD VKR_CMD_FALSH_LOAD failed";
const wchar_t* const CDownloadSequence::kFlashBlockFailed = L"Download program file failed,please re-power. ";
const wchar_t* const CDownloadSequence::kFlashRemainderFailed = L"Download program file failed2";
const wchar_t* const CDownloadSequence::kInitFailed = L"Download VKR_CMD_PU_EE_INIT failed";
const wchar_t* const CDownloadSequence::kNormalModeFailed = L"Switck to normal mode failed.";
const wchar_t* const CDownloadSequence::kFaultResetFailed = L"Inverter send fault reset failed.";
const wchar_t* const CDownloadSequence::kSucceeded = L"The program is downloaded successfully.";
const wchar_t* const CDownloadSequence::kReadFileFormat = L"Failed to read file :%d  %s";
const wchar_t* const CDownloadSequence::kImageEmptyFormat = L"The program file is empty: %s";
const wchar_t* const CDownloadSequence::kImageTooLargeFormat =
    L"The file is larger than its memory area of the drive (%d bytes at most): %s";
const wchar_t* const CDownloadSequence::kMarkDownloadingFailed =
    L"The drive did not confirm the download mark (0081); the flash was not erased.";
const wchar_t* const CDownloadSequence::kConfigWriteFailed =
    L"config.ini cannot be written (disk full or write-protected?); the flash was not erased.";
const wchar_t* const CDownloadSequence::kCancelled = L"The download was cancelled.";
const wchar_t* const CDownloadSequence::kCaption = L"Program downloading...";
const wchar_t* const CDownloadSequence::kDownloadKey = L"Download";
const wchar_t* const CDownloadSequence::kTranscriptName = L"download_log.txt";

namespace {

const int kCmdSends = 2;
const int kBlockSends = 3;
const int kEraseSends = 3;
const uint8_t kAck = 0x06;
const uint8_t kNak = 0x15;

std::string Now()
{
    const std::time_t t = std::time(nullptr);
    struct tm local {};
    localtime_r(&t, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

std::wstring Counted(const wchar_t* stem, int total, int index)
{
    return std::wstring(CDownloadSequence::kCaption) + stem + wtext::FormatInt(total) + L"-" + wtext::FormatInt(index);
}

std::string Trimmed(const char* command)
{
    std::string s(command);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    return s;
}

}  // namespace

// The run's lines in the transcript file, appended and flushed one by one so
// that a run that ends abruptly still shows how far it got. Each line names
// the port: runs on several ports at once append to the same file.
class CDownloadSequence::Transcript {
public:
    Transcript(const std::wstring& path, std::string port) : port_(std::move(port))
    {
        if (!path.empty()) file_ = std::fopen(wtext::ToUtf8(path).c_str(), "a");
    }
    ~Transcript()
    {
        if (file_) std::fclose(file_);
    }
    void Line(const std::string& text)
    {
        if (!file_) return;
        std::fprintf(file_, "%s [%s] %s\n", Now().c_str(), port_.c_str(), text.c_str());
        std::fflush(file_);
    }
    bool ok() const { return file_ != nullptr; }

private:
    std::FILE* file_ = nullptr;
    std::string port_;
};

CDownloadSequence::CDownloadSequence(DownloadJob job, ConnectionSettings settings, DeviceConnection& connection,
                                     std::atomic<bool>& running, CDownloadPrompts& prompts)
    : job_(std::move(job)),
      settings_(std::move(settings)),
      connection_(connection),
      running_(running),
      prompts_(prompts),
      boot_(&XModemPort()),
      registers_(&ModbusPort()),
      transcriptPath_(JoinPath(settings_.programFolder(), kTranscriptName)),
      marks_(settings_.ConfigPath(), job_.stateSection)
{
}

CDownloadSequence::~CDownloadSequence() = default;

void CDownloadSequence::SetBootPort(CBootPort* port) { boot_ = port ? port : &XModemPort(); }
void CDownloadSequence::SetRegisterPort(CRegisterPort* port) { registers_ = port ? port : &ModbusPort(); }
void CDownloadSequence::SetTranscriptPath(const std::wstring& path) { transcriptPath_ = path; }

void CDownloadSequence::Note(const std::string& step, const std::string& result)
{
    if (transcript_) transcript_->Line(step + ": " + result);
}

void CDownloadSequence::Caption(const std::wstring& caption) { prompts_.SetCaption(caption); }

void CDownloadSequence::Step(int n) { prompts_.StepProgress(n); }

bool CDownloadSequence::SetDownloadKey(bool on)
{
    const bool ok = marks_.WriteDownloadMark(on);
    Note(std::string("config.ini Download = ") + (on ? "1" : "0"), ok ? "written" : "NOT WRITTEN");
    return ok;
}

// ---- Step operations ----

bool bootcmd::SendCmdExpect(CBootPort& port, const char* command, const char* expected, int minLength)
{
    const size_t need = std::max(std::strlen(expected), static_cast<size_t>(std::max(minLength, 0)));
    for (int attempt = 0; attempt < kCmdSends; ++attempt) {
        unsigned char reply[256] = {};
        unsigned char length = 0;
        unsigned char err = 0;
        if (!port.ProcCmd(command, static_cast<int>(std::strlen(command)), reply, &length, &err)) continue;
        reply[255] = 0;
        if (length >= need && std::strstr(reinterpret_cast<const char*>(reply), expected)) return true;
    }
    return false;
}

bool bootcmd::SendCmdConfirmed(CBootPort& port, const char* command)
{
    for (int attempt = 0; attempt < kCmdSends; ++attempt) {
        unsigned char reply[256] = {};
        unsigned char length = 0;
        unsigned char err = 0;
        if (!port.ProcCmd(command, static_cast<int>(std::strlen(command)), reply, &length, &err)) continue;
        reply[255] = 0;
        const std::string text(reinterpret_cast<const char*>(reply));
        std::string lower = text;
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (text.find("OK") != std::string::npos && lower.find("error") == std::string::npos) return true;
    }
    return false;
}

void bootcmd::ResetDevice(CBootPort& port)
{
    const char* const reset = CDownloadSequence::kReset;
    const int length = static_cast<int>(std::strlen(reset));
    for (int attempt = 0; attempt < kCmdSends; ++attempt) {
        unsigned char reply[256] = {};
        unsigned char replyLength = 0;
        unsigned char err = 0;
        if (port.ProcCmd(reset, length, reply, &replyLength, &err)) return;
    }
}

bool CDownloadSequence::SendCmdExpect(const char* command, const char* expected, int minLength)
{
    return bootcmd::SendCmdExpect(*boot_, command, expected, minLength);
}

bool CDownloadSequence::SendBlock(const uint8_t* data, int length, int blockNumber)
{
    for (int attempt = 0; attempt < kBlockSends; ++attempt) {
        unsigned char reply[256] = {};
        unsigned char replyLength = 0;
        unsigned char err = 0;
        if (!boot_->ProcData(reinterpret_cast<const char*>(data), length, blockNumber, reply, &replyLength, &err))
            continue;
        // The first ACK or NAK decides; a NAK asks for the block again.
        for (int i = 0; i < replyLength; ++i) {
            if (reply[i] == kAck) return true;
            if (reply[i] == kNak) break;
        }
    }
    return false;
}

bool CDownloadSequence::EraseProgramFlash()
{
    const int length = static_cast<int>(std::strlen(kEraseFlash));
    for (int attempt = 0; attempt < kEraseSends; ++attempt) {
        unsigned char reply[256] = {};
        unsigned char replyLength = 0;
        unsigned char err = 0;
        if (!boot_->ProcCmdLongTime(kEraseFlash, length, reply, &replyLength, &err)) continue;
        reply[255] = 0;
        if (replyLength >= 2 && std::strstr(reinterpret_cast<const char*>(reply), "OK")) return true;
    }
    return false;
}

void CDownloadSequence::ResetDevice()
{
    bootcmd::ResetDevice(*boot_);
}

bool CDownloadSequence::LoadImageFile(const std::wstring& path)
{
    std::string bytes;
    int cause = 0;
    image_.clear();
    if (!filebytes::Read(path, bytes, &cause)) {
        std::wstring text = kReadFileFormat;
        text.replace(text.find(L"%d"), 2, wtext::FormatInt(cause));
        text.replace(text.find(L"%s"), 2, path);
        Note("read " + wtext::ToUtf8(path), "FAILED (" + std::string(std::strerror(cause)) + ")");
        prompts_.ShowMessage(text);
        return false;
    }
    image_.assign(bytes.begin(), bytes.end());
    Note("read " + wtext::ToUtf8(path), std::to_string(image_.size()) + " bytes");
    return true;
}

bool CDownloadSequence::LoadCalibration(const std::wstring& path)
{
    std::wstring detail;
    const CalibrationFile::Status status = CalibrationFile::Load(path, calibration_, &detail);
    if (status != CalibrationFile::Status::Ok) {
        calibration_.clear();
        Note("read " + wtext::ToUtf8(path), "REFUSED (" + wtext::ToUtf8(detail) + ")");
        return false;
    }
    Note("read " + wtext::ToUtf8(path), std::to_string(calibration_.size()) + " calibration lines");
    return true;
}

void CDownloadSequence::ShowFailure(const std::wstring& text)
{
    prompts_.ShowMessage(text);
    prompts_.CloseProgress();
}

DownloadJob MakeDownloadJob(const CDownloadState& state, const std::wstring& series, const std::wstring& partNumber,
                            const std::wstring& power, bool dataFiles, bool programFile,
                            const std::wstring& programFolder)
{
    DownloadJob job;
    const PackageFilePaths& paths = state.Paths();
    job.dataFile = paths.dataFile;
    job.initFile = paths.initFile;
    job.calibrationFile = paths.calibrationFile;
    job.codeFile = paths.codeFile;
    job.dataFilesOption = dataFiles;
    job.programFileOption = programFile;
    job.programFolder = programFolder;
    job.packagePath = state.PackagePath();
    job.series = series;
    job.partNumber = partNumber;
    job.power = power;
    job.programRequired = state.ProgramRequired();
    job.stateSection = state.Section();
    return job;
}

std::vector<DownloadPlanStep> CDownloadSequence::Plan(const DownloadJob& job)
{
    std::vector<DownloadPlanStep> steps;
    const auto command = [&steps](const char* line) { steps.push_back(DownloadPlanStep{Trimmed(line), {}, -1, 0}); };
    const auto image = [&steps](const std::string& what, const std::wstring& path) {
        std::string bytes;
        const bool read = filebytes::Read(path, bytes);
        const long long size = read ? static_cast<long long>(bytes.size()) : -1;
        steps.push_back(DownloadPlanStep{what, path, size,
                                         read ? static_cast<int>((bytes.size() + kBlockSize - 1) / kBlockSize) : 0});
    };
    if (job.dataFilesOption) {
        command(kUnlockEe);
        command(kLoadPowerData);
        image("power data image", job.dataFile);
        std::vector<std::string> lines;
        const bool read = CalibrationFile::Load(job.calibrationFile, lines, nullptr) == CalibrationFile::Status::Ok;
        std::string bytes;
        filebytes::Read(job.calibrationFile, bytes);
        steps.push_back(DownloadPlanStep{"calibration lines", job.calibrationFile,
                                         read ? static_cast<long long>(bytes.size()) : -1,
                                         static_cast<int>(lines.size())});
        command(kLockEe);
    }
    if (job.programFileOption) {
        steps.push_back(DownloadPlanStep{"config.ini Download = 1", {}, -1, 0});
        command(kMarkDownloading);
        command(kEraseFlash);
        command(kLoadFlash);
        image("flash image", job.codeFile);
    }
    command(kUnlockEe);
    command(kLoadInit);
    image("init image", job.initFile);
    command(kLockEe);
    command(kMarkNormal);
    command(kReset);
    steps.push_back(DownloadPlanStep{"config.ini Download = 0", {}, -1, 0});
    steps.push_back(DownloadPlanStep{"fault reset (register 9999 = 7)", {}, -1, 0});
    return steps;
}

// ---- The sequence ----

bool CDownloadSequence::Fail(const std::wstring& text, const char* step)
{
    Note(step, "FAILED");
    Note("outcome", "failed: " + wtext::ToUtf8(text));
    if (outcome_.result == DownloadOutcome::Result::None) outcome_.result = DownloadOutcome::Result::Failed;
    outcome_.message = text;
    outcome_.eePartial = eeOpen_;
    ShowFailure(text);
    return false;
}

CDownloadSequence::Sent CDownloadSequence::SendImage(int midStep)
{
    const int length = static_cast<int>(image_.size());
    const int full = length / kBlockSize;
    const int rest = length % kBlockSize;
    for (int i = 1; i <= full; ++i) {
        if (Cancelled()) return Sent::Cancelled;
        if (!SendBlock(image_.data() + kBlockSize * (i - 1), kBlockSize, i)) {
            Note("block " + std::to_string(i), "not accepted");
            return Sent::Failed;
        }
    }
    Step(midStep);
    if (rest != 0 && !SendBlock(image_.data() + kBlockSize * full, rest, full + 1)) {
        Note("block " + std::to_string(full + 1), "not accepted");
        return Sent::Failed;
    }
    Note("image sent", std::to_string(full + (rest ? 1 : 0)) + " blocks");
    return Sent::Ok;
}

bool CDownloadSequence::FaultReset()
{
    if (!connection_.registerLink().IsOpen()) return false;
    uint8_t value[2] = {0x00, static_cast<uint8_t>(kFaultResetValue)};
    uint8_t err = 0;
    return registers_->ProcWrite(regaccess::StationOf(settings_.devAddr), kFaultResetRegister, value, &err);
}

bool CDownloadSequence::PrepareImages()
{
    const auto tooLarge = [this](const std::wstring& path, int limit) {
        std::wstring text = kImageTooLargeFormat;
        text.replace(text.find(L"%d"), 2, wtext::FormatInt(limit));
        text.replace(text.find(L"%s"), 2, path);
        Note("check " + wtext::ToUtf8(path), "REFUSED (" + std::to_string(image_.size()) + " bytes, at most " +
                                                 std::to_string(limit) + ")");
        return Fail(text, "images");
    };
    if (job_.dataFilesOption) {
        if (!LoadImageFile(job_.dataFile)) return Fail(kPowerBlockFailed, "power data image");
        if (static_cast<int>(image_.size()) > kPowerDataMax) return tooLarge(job_.dataFile, kPowerDataMax);
        dataImage_ = image_;
        if (!LoadCalibration(job_.calibrationFile)) return Fail(kCalibrationFailed, "calibration file");
    }
    if (job_.programFileOption) {
        if (!LoadImageFile(job_.codeFile)) return Fail(kFlashBlockFailed, "flash image");
        if (image_.empty()) {
            std::wstring text = kImageEmptyFormat;
            text.replace(text.find(L"%s"), 2, job_.codeFile);
            Note("check " + wtext::ToUtf8(job_.codeFile), "REFUSED (empty)");
            return Fail(text, "images");
        }
        if (static_cast<int64_t>(image_.size()) > kFlashMax) return tooLarge(job_.codeFile, kFlashMax);
        codeImage_ = image_;
    }
    if (!LoadImageFile(job_.initFile)) return Fail(kInitFailed, "init image");
    if (static_cast<int>(image_.size()) > kInitMax) return tooLarge(job_.initFile, kInitMax);
    initImage_ = image_;
    return true;
}

bool CDownloadSequence::Cancel(const std::string& where)
{
    outcome_.result = DownloadOutcome::Result::Cancelled;
    outcome_.eePartial = eeOpen_;
    Note("outcome", "cancelled " + where);
    return false;
}

std::wstring CDownloadSequence::CancelReport(const DownloadOutcome& o)
{
    std::wstring text = kCancelled;
    if (o.downloadMarked) {
        if (o.flashErased)
            text += L" The flash was erased and " + wtext::FormatInt(o.flashBlocksWritten) + L" of " +
                    wtext::FormatInt(o.flashBlocks) + L" program blocks were written.";
        else
            text += L" The drive is marked for a download (0081).";
        text += L" The drive stays in its bootloader until a download completes; press Download to resume it.";
    } else {
        text += L" The drive's program was not changed.";
    }
    if (o.eePartial) text += L" The EE may hold a partial image.";
    return text;
}

bool CDownloadSequence::Run()
{
    const std::string device = LinkCoreSerialDevice(settings_.PortNumber());
    transcript_ = std::make_unique<Transcript>(
        transcriptPath_, device.empty() ? "COM" + wtext::ToUtf8(settings_.COMID) : device);
    outcome_ = DownloadOutcome();
    eeOpen_ = false;
    marks_.ReadSaved();
    const auto yesNo = [](bool b) { return b ? std::string("yes") : std::string("no"); };
    Note("==== download", "start");
    Note("package", wtext::ToUtf8(job_.packagePath));
    Note("model", "series " + wtext::ToUtf8(job_.series) + ", part number " + wtext::ToUtf8(job_.partNumber) +
                      ", power " + wtext::ToUtf8(job_.power));
    Note("options", "data files " + yesNo(job_.dataFilesOption) + ", program file " + yesNo(job_.programFileOption));
    Note("port", "COM" + wtext::ToUtf8(settings_.COMID) + ", boot link at " + wtext::ToUtf8(settings_.bootBaud) +
                     " baud, station " + wtext::ToUtf8(settings_.devAddr));
    Note("files", "data " + wtext::ToUtf8(job_.dataFile) + ", calibration " + wtext::ToUtf8(job_.calibrationFile) +
                      ", code " + wtext::ToUtf8(job_.codeFile) + ", init " + wtext::ToUtf8(job_.initFile));

    const auto cancelled = [this](const char* where) { return Cancel(std::string("before ") + where); };
    const auto done = [this](const std::string& step) { Note(step, "ok"); };

    // A drive whose flash download did not finish has no runnable
    // application: only a run that writes it may mark normal start-up.
    if ((job_.programRequired || marks_.InterruptedDownload()) && !job_.programFileOption) {
        Note("drive", "holds an incomplete program; the program file option is not set");
        outcome_.result = DownloadOutcome::Result::Refused;
        return Fail(CDownloadState::kProgramRequired, "preconditions");
    }
    // Nothing goes to the drive before every image of the run is known good.
    if (!PrepareImages()) {
        outcome_.result = DownloadOutcome::Result::Refused;
        return false;
    }

    Step(1);
    if (job_.dataFilesOption) {
        Caption(std::wstring(kCaption) + L"Unlocking EE");
        if (!SendCmdExpect(kUnlockEe, "EE locked = 0")) return Fail(kUnlockFailed, "unlock EE");
        done("unlock EE");
        eeOpen_ = true;
        Step(1);

        Caption(std::wstring(kCaption) + L"PU_EE_POWER ");
        if (!SendCmdExpect(kLoadPowerData, "EE loading...")) return Fail(kPowerAnnounceFailed, "announce power data");
        done("announce power data");
        Step(1);

        if (Cancelled()) return cancelled("the power data image");
        image_ = dataImage_;
        switch (SendImage(1)) {
        case Sent::Ok: done("power data image"); break;
        case Sent::Failed: return Fail(kPowerBlockFailed, "power data image");
        case Sent::Cancelled: return cancelled("a power data block");
        }

        if (Cancelled()) return cancelled("the calibration");
        Caption(std::wstring(kCaption) + L"Calibration");
        const int c = static_cast<int>(calibration_.size());
        const int k = std::max(1, c / 7);
        for (int i = 0; i < c; ++i) {
            if (Cancelled()) return cancelled("a calibration line");
            // The bootloader ends a refused line with its prompt as well:
            // only its OK without an error counts.
            if (!bootcmd::SendCmdConfirmed(*boot_, calibration_[i].c_str())) {
                Note("calibration line " + std::to_string(i) + " \"" + Trimmed(calibration_[i].c_str()) + "\"",
                     "not confirmed");
                return Fail(kCalibrationFailed, "calibration");
            }
            Note("calibration line " + std::to_string(i) + " \"" + Trimmed(calibration_[i].c_str()) + "\"", "ok");
            if (i % k == 0) Step(1);
            Caption(Counted(L"Download Calibration file :", c, i));
        }

        if (Cancelled()) return cancelled("locking the EE");
        if (!SendCmdExpect(kLockEe, "EE locked = 1")) return Fail(kLockFailed, "lock EE");
        done("lock EE");
        eeOpen_ = false;
        Step(1);
    } else {
        Note("power data and calibration", "skipped");
        Step(5);
    }

    if (Cancelled()) return cancelled("the flash image");
    if (job_.programFileOption) {
        Caption(std::wstring(kCaption) + L"FALSH_ERASE");
        // Before anything is erased: config.ini tells the next start to
        // resume, and the mode word keeps the drive in its bootloader. Both
        // must hold, or the drive could be left with an erased application
        // and the mode word "0065".
        const bool wasMarked = marks_.InterruptedDownload();
        if (!SetDownloadKey(true)) {
            outcome_.result = DownloadOutcome::Result::Failed;
            return Fail(kConfigWriteFailed, "config.ini Download = 1");
        }
        interrupted_ = 1;
        if (!bootcmd::SendCmdConfirmed(*boot_, kMarkDownloading)) {
            Note("mark downloading (0081)", "not confirmed");
            if (!wasMarked) {
                SetDownloadKey(false);
                interrupted_ = 0;
            }
            return Fail(kMarkDownloadingFailed, "mark downloading (0081)");
        }
        done("mark downloading (0081)");
        outcome_.downloadMarked = true;

        if (Cancelled()) return cancelled("the erase");
        const int n = static_cast<int>(codeImage_.size()) / kBlockSize;
        const int rest = static_cast<int>(codeImage_.size()) % kBlockSize;
        outcome_.flashBlocks = n + (rest ? 1 : 0);
        if (!EraseProgramFlash()) return Fail(kEraseFailed, "erase flash");
        done("erase flash");
        outcome_.flashErased = true;
        Step(2);

        if (Cancelled()) return cancelled("announcing the flash image");
        if (!SendCmdExpect(kLoadFlash, "flash loading...")) return Fail(kFlashAnnounceFailed, "announce flash image");
        done("announce flash image");
        Step(1);

        if (Cancelled()) return cancelled("the flash image");
        image_ = codeImage_;
        const int k = std::max(1, n / 80);
        for (int i = 0; i < n; ++i) {
            if (Cancelled())
                return Cancel("after flash block " + std::to_string(i) + " of " + std::to_string(outcome_.flashBlocks));
            if (!SendBlock(image_.data() + kBlockSize * i, kBlockSize, i + 1)) {
                Note("block " + std::to_string(i + 1), "not accepted; " + std::to_string(i) + " of " +
                                                           std::to_string(outcome_.flashBlocks) + " flash blocks written");
                return Fail(kFlashBlockFailed, "flash image");
            }
            outcome_.flashBlocksWritten = i + 1;
            if (i % k == 0) Step(1);
            Caption(Counted(L"Download program file :", n, i));
        }

        if (Cancelled())
            return Cancel("after flash block " + std::to_string(n) + " of " + std::to_string(outcome_.flashBlocks));
        if (rest != 0 && !SendBlock(image_.data() + kBlockSize * n, rest, n + 1)) {
            Note("block " + std::to_string(n + 1), "not accepted; " + std::to_string(n) + " of " +
                                                       std::to_string(outcome_.flashBlocks) + " flash blocks written");
            return Fail(kFlashRemainderFailed, "flash image");
        }
        outcome_.flashBlocksWritten = outcome_.flashBlocks;
        Note("flash image", "ok, " + std::to_string(n + (rest ? 1 : 0)) + " blocks");
        Step(1);
    } else {
        Note("flash image", "skipped");
        Step(80);
    }

    if (Cancelled()) return cancelled("unlocking the EE");
    Caption(std::wstring(kCaption) + L"Unlocking EE");
    if (!SendCmdExpect(kUnlockEe, "EE locked = 0")) return Fail(kUnlockFailed, "unlock EE");
    done("unlock EE");
    eeOpen_ = true;
    Step(1);

    if (Cancelled()) return cancelled("announcing the init image");
    Caption(std::wstring(kCaption) + L"PU_EE_INIT");
    if (!SendCmdExpect(kLoadInit, "EE loading...")) return Fail(kInitFailed, "announce init image");
    done("announce init image");
    Step(1);

    if (Cancelled()) return cancelled("the init image");
    image_ = initImage_;
    switch (SendImage(1)) {
    case Sent::Ok: done("init image"); break;
    case Sent::Failed: return Fail(kInitFailed, "init image");
    case Sent::Cancelled: return cancelled("an init block");
    }

    if (!SendCmdExpect(kLockEe, "EE locked = 1")) return Fail(kLockFailed, "lock EE");
    done("lock EE");
    eeOpen_ = false;

    if (Cancelled()) return cancelled("marking normal start-up");
    Caption(L"Program downloaded...Switck to normal mode");
    if (!bootcmd::SendCmdConfirmed(*boot_, kMarkNormal)) return Fail(kNormalModeFailed, "mark normal start-up (0065)");
    done("mark normal start-up (0065)");
    Step(1);

    ResetDevice();
    Note("reset", "sent");
    SetDownloadKey(false);
    interrupted_ = 0;
    outcome_.result = DownloadOutcome::Result::Succeeded;

    RemoveExtracted(job_.programFolder);
    outcome_.packageRemoved = true;
    Note("extracted package", "removed");

    if (!connection_.normalConnected())
        Note("normal connection", connection_.ConnectNormalFromWorker(settings_) ? "ok" : "FAILED");
    std::this_thread::sleep_for(std::chrono::milliseconds(settleMs_));

    if (FaultReset()) {
        done("fault reset (register 9999 = 7)");
    } else {
        Note("fault reset (register 9999 = 7)", "FAILED");
        ShowFailure(kFaultResetFailed);
    }
    Note("outcome", "completed");
    ShowFailure(kSucceeded);
    return true;
}

bool CDownloadSequence::Execute()
{
    const bool ok = Run();
    if (!ok) {
        if (outcome_.result == DownloadOutcome::Result::Cancelled) prompts_.ShowMessage(CancelReport(outcome_));
        const bool keep = prompts_.AskYesNo(kQuestion);
        Note("question \"The program downloads direct.\"", keep ? "Yes: package kept" : "No: package removed");
        if (!keep) {
            RemoveExtracted(job_.programFolder);
            outcome_.packageRemoved = true;
        }
    }
    running_ = false;
    prompts_.CloseProgress();
    prompts_.RunEnded(ok);
    transcript_.reset();
    return ok;
}
