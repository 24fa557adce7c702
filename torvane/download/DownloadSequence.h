// The firmware download: programs a drive through its bootloader over the
// open boot link.
//
// One run writes, as far as the options ask for: the EE power data image
// and the calibration command lines (data-files option), the application
// flash image (program-file option), and always the EE init image; then it
// marks normal start-up in the EE mode word, resets the drive, reconnects in
// normal mode and clears the drive's fault state. Every step either succeeds
// or stops the run with a message naming the step.
//
// The sequence runs on the download view's worker thread and never touches
// a widget: messages, the closing question and the progress dialog go
// through CDownloadPrompts, which the view implements by handing the work to
// the GUI thread; the view sets its buttons from the run's DownloadOutcome. The view opens the boot link before it
// starts the worker, keeps every other command away from the links while
// the worker runs, and owns the running flag that its progress dialog's
// cancel clears; the sequence polls it between steps and never interrupts an
// exchange.
//
// Every run appends a transcript (time, package, model, options, each step
// and its result, the outcome) to "download_log.txt" beside the program, so
// a technician can show what was written to which drive.
#pragma once

#include "ConnectionSettings.h"
#include "DevicePlugins.h"
#include "DownloadState.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class DeviceConnection;

// What the sequence asks of the view. All calls come from the download
// worker; an implementation does the work on the GUI thread. Those that
// return something (ShowMessage returns when the box is dismissed, AskYesNo
// returns the answer) must also return when the view is being closed, so
// that a view joining its worker never waits on a worker that waits on it:
// a dismissed box, and "Yes" to the question (leave everything as it is).
class CDownloadPrompts {
public:
    virtual ~CDownloadPrompts() = default;
    // A message box with an OK button.
    virtual void ShowMessage(const std::wstring& text) = 0;
    // A question with Yes and No buttons; true for Yes.
    virtual bool AskYesNo(const std::wstring& text) = 0;
    // The progress dialog: caption, advance by n, close request. Never waited for.
    virtual void SetCaption(const std::wstring& caption) = 0;
    virtual void StepProgress(int n) = 0;
    virtual void CloseProgress() = 0;
    // The run is over (the running flag is already cleared): clear both
    // options and disable their check boxes. Never waited for.
    virtual void RunEnded(bool succeeded) = 0;
};

// What one run writes, filled by the view before it starts the worker.
// Bootloader exchanges shared by the download sequence and the mode switches.
namespace bootcmd {
// Sends a command line up to twice until a reply comes back that holds
// `expected` and is at least as long as it (and as minLength).
bool SendCmdExpect(CBootPort& port, const char* command, const char* expected, int minLength = 0);
// Sends a command line up to twice until the bootloader confirms it: "OK" in
// the reply and no error text (a refused command ends with the prompt too).
bool SendCmdConfirmed(CBootPort& port, const char* command);
// Sends "VKR pm reset\n" up to twice, until the bootloader answers.
void ResetDevice(CBootPort& port);
}  // namespace bootcmd

struct DownloadJob {
    // Image paths in the extracted package (PackagePaths).
    std::wstring dataFile;
    std::wstring initFile;
    std::wstring calibrationFile;
    std::wstring codeFile;
    bool dataFilesOption = false;    // power data image and calibration lines
    bool programFileOption = false;  // application flash image
    // The package program folder (app folder + "Program/"), removed after a
    // completed run and after "No" to the closing question.
    std::wstring programFolder;
    // For the transcript.
    std::wstring packagePath;
    std::wstring series;
    std::wstring partNumber;
    std::wstring power;
    // The drive may hold an incomplete program (CDownloadState::
    // ProgramRequired): the run refuses to start without the program file.
    // config.ini "Download" = "1" requires it as well.
    bool programRequired = false;
    // The config.ini section of "Download" (CDownloadState::Section).
    std::wstring stateSection = CDownloadState::kSection;
};

// The run for the model of the last check: its files (state.Paths()), the
// options, and whether the drive has to get the program file.
DownloadJob MakeDownloadJob(const CDownloadState& state, const std::wstring& series, const std::wstring& partNumber,
                            const std::wstring& power, bool dataFiles, bool programFile,
                            const std::wstring& programFolder);

// One step of a run as it would go (the plan of a dry run): what is sent,
// the file and its size where an image or calibration file goes with it.
struct DownloadPlanStep {
    std::string action;
    std::wstring file;
    long long bytes = -1;  // -1: no file
    int blocks = 0;        // 128-byte blocks; for calibration files the command lines
};

class CDownloadSequence {
public:
    // Bootloader command lines.
    static const char* const kUnlockEe;       // "VKR pm lock -o n -t ee\n"
    static const char* const kLockEe;         // "VKR pm lock -o y -t ee\n"
    static const char* const kLoadPowerData;  // "VKR pm load pu_ee -m xMODEM -b 128\n"
    static const char* const kLoadInit;       // "VKR pm load pu_ee -m xMODEM -b 1152\n"
    static const char* const kLoadFlash;      // "VKR pm load pu -m xMODEM -b 0x08008000\n"
    static const char* const kEraseFlash;     // "VKR pm flash_block_erase -s 2 -e 7\n"
    static const char* const kMarkDownloading;  // "VKR pm write_ee -a 0x600 -d 0081\n"
    static const char* const kMarkNormal;     // "VKR pm write_ee -a 0x600 -d 0065\n"
    static const char* const kReset;          // "VKR pm reset\n"

    // Messages.
    static const wchar_t* const kQuestion;               // "The program downloads direct."
    static const wchar_t* const kUnlockFailed;           // "Unlocking EE failed"
    static const wchar_t* const kPowerAnnounceFailed;    // "Unlocking PU_EE_POWER failed"
    static const wchar_t* const kPowerBlockFailed;       // "Failed to download PU_EE_POWER file"
    static const wchar_t* const kCalibrationFailed;      // "Downloading the Calibration file failed"
    static const wchar_t* const kLockFailed;             // "Lock EE failed"
    static const wchar_t* const kEraseFailed;            // "FALSH_ERASE failed."
    static const wchar_t* const kFlashAnnounceFailed;    // "Send CMD VKR_CMD_FALSH_LOAD failed"
    static const wchar_t* const kFlashBlockFailed;       // "Download program file failed,please re-power. "
    static const wchar_t* const kFlashRemainderFailed;   // "Download program file failed2"
    static const wchar_t* const kInitFailed;             // "Download VKR_CMD_PU_EE_INIT failed"
    static const wchar_t* const kNormalModeFailed;       // "Switck to normal mode failed."
    static const wchar_t* const kFaultResetFailed;       // "Inverter send fault reset failed."
    static const wchar_t* const kSucceeded;              // "The program is downloaded successfully."
    static const wchar_t* const kReadFileFormat;         // "Failed to read file :%d  %s"
    static const wchar_t* const kImageEmptyFormat;       // the program file is empty (path)
    static const wchar_t* const kImageTooLargeFormat;    // an image exceeds its memory area (limit, path)
    static const wchar_t* const kMarkDownloadingFailed;  // "0081" not confirmed, nothing erased
    static const wchar_t* const kConfigWriteFailed;      // config.ini "Download" not written, nothing erased
    static const wchar_t* const kCancelled;              // first sentence of the cancel report

    // Captions of the progress dialog.
    static const wchar_t* const kCaption;                // "Program downloading..."

    // config.ini [COM] "Download".
    static const wchar_t* const kDownloadKey;            // "Download"
    // The transcript beside the program.
    static const wchar_t* const kTranscriptName;         // "download_log.txt"

    static constexpr int kBlockSize = 128;
    static constexpr uint16_t kFaultResetRegister = 0x270F;  // 9999
    static constexpr uint16_t kFaultResetValue = 7;
    static constexpr int kSettleMs = 2000;  // after the reset, before the fault reset
    // Memory areas the images go to: the power data image EE 128..1151, the
    // init image EE 1152..1535 (below the mode word at 0x600), the
    // application flash from 0x08008000 to the end of the erased sectors 2..7
    // (0x08080000).
    static constexpr int kPowerDataMax = 1152 - 128;
    static constexpr int kInitMax = 0x600 - 1152;
    static constexpr int kFlashMax = 0x08080000 - 0x08008000;

    // settings: a copy taken on the GUI thread (port, device address,
    // reply time-out, config.ini). connection: its normal connection is
    // reopened at the end with that copy. running: the view's running flag;
    // the view sets it before the worker starts, the run clears it at its end.
    CDownloadSequence(DownloadJob job, ConnectionSettings settings, DeviceConnection& connection,
                      std::atomic<bool>& running, CDownloadPrompts& prompts);
    ~CDownloadSequence();
    CDownloadSequence(const CDownloadSequence&) = delete;
    CDownloadSequence& operator=(const CDownloadSequence&) = delete;

    // The exchanges go to the open links' protocols unless set (tests,
    // benchmarks). Null restores the default.
    void SetBootPort(CBootPort* port);
    void SetRegisterPort(CRegisterPort* port);
    // The transcript file (default: the settings' folder + kTranscriptName);
    // empty writes none.
    void SetTranscriptPath(const std::wstring& path);
    // The pause before the fault reset (kSettleMs).
    void SetSettleMs(int ms) { settleMs_ = ms; }

    // The whole thread body after the view set the running flag: Run(); on
    // failure or cancel the question kQuestion, "No" removing the extracted
    // package (RemoveExtracted) and disabling the check buttons; then the
    // running flag is cleared, the progress dialog closed and RunEnded
    // called. Returns Run()'s result; Outcome() tells the rest.
    bool Execute();

    // The sequence alone: true when it completed (the success message shown).
    bool Run();

    // ---- Step operations ----
    // Up to 2 sends; success when a reply of at least strlen(expected) bytes
    // (and at least minLength) contains `expected`.
    bool SendCmdExpect(const char* command, const char* expected, int minLength = 0);
    // Up to 3 sends of one block; the first ACK (0x06) in a reply accepts it.
    // A NAK (0x15) asks for the block again and, like a missing reply, uses
    // up one try.
    bool SendBlock(const uint8_t* data, int length, int blockNumber);
    // Up to 3 erase tries of at least 10 seconds each; "OK" expected.
    bool EraseProgramFlash();
    // Up to 2 sends of the reset line, stopping at the first one answered.
    void ResetDevice();
    // Reads the whole file into the image buffer; on a file error shows
    // kReadFileFormat with the cause and the path and empties the buffer.
    bool LoadImageFile(const std::wstring& path);
    // Fills the calibration table; false when the file cannot be read or
    // does not fit the table (nothing of it is kept).
    bool LoadCalibration(const std::wstring& path);
    // The message, then the progress dialog's close request.
    void ShowFailure(const std::wstring& text);

    // ---- State ----
    // 1 from the moment the flash image is about to be written until the
    // run completes (mirrored in config.ini "Download").
    int InterruptedDownload() const { return interrupted_.load(); }
    // How the last Run() ended.
    const DownloadOutcome& Outcome() const { return outcome_; }
    // The words after a cancel: what was written and where the drive stays.
    static std::wstring CancelReport(const DownloadOutcome& outcome);
    // The steps Run() takes for a job, in order, without a drive.
    static std::vector<DownloadPlanStep> Plan(const DownloadJob& job);
    const std::vector<uint8_t>& Image() const { return image_; }
    const std::vector<std::string>& CalibrationTable() const { return calibration_; }
    const DownloadJob& Job() const { return job_; }
    std::wstring TranscriptPath() const { return transcriptPath_; }

private:
    class Transcript;
    enum class Sent { Ok, Failed, Cancelled };

    bool Cancelled() const { return !running_.load(); }
    void Caption(const std::wstring& suffix);
    void Step(int n);
    bool SetDownloadKey(bool on);
    // Reads and checks every image and the calibration file of the run
    // before the first command line; false (message shown) when one is
    // unreadable, empty where it may not be, or larger than its area.
    bool PrepareImages();
    bool Cancel(const std::string& where);
    // Sends the whole image buffer in blocks. The running flag is checked
    // before each full block; `midStep` advances the progress between the
    // full blocks and the remainder (the images of the EE).
    Sent SendImage(int midStep);
    bool Fail(const std::wstring& text, const char* step);
    void Note(const std::string& step, const std::string& result);
    bool FaultReset();

    DownloadJob job_;
    ConnectionSettings settings_;
    DeviceConnection& connection_;
    std::atomic<bool>& running_;
    CDownloadPrompts& prompts_;
    CBootPort* boot_;
    CRegisterPort* registers_;
    std::wstring transcriptPath_;
    std::unique_ptr<Transcript> transcript_;
    int settleMs_ = kSettleMs;

    std::vector<uint8_t> image_;
    std::vector<uint8_t> dataImage_, initImage_, codeImage_;
    std::vector<std::string> calibration_;
    std::atomic<int> interrupted_{0};
    CDownloadState marks_;
    DownloadOutcome outcome_;
    bool eeOpen_ = false;  // the EE is unlocked for an image or calibration lines
};
