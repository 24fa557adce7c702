// Checking the connected drive against a program package and moving it
// between its application (normal mode, Modbus) and its bootloader (boot
// mode, command line): the identity reads (series registers, part number,
// EE mode word), the boot request, the two switches, the model check and the
// simple check of the download view.
//
// Plain C++ without widgets: the download view runs these on a worker thread
// while its progress dialog is up, and tests drive them directly. Everything
// the user is told goes through CModeSwitchPrompts, in the order it arises.
#pragma once

#include "DownloadState.h"
#include "ModelCatalogue.h"
#include "ProgramPackage.h"

#include <cstdint>
#include <initializer_list>
#include <string>

class DeviceConnection;

// What the procedures show. Called on the thread that runs them; a message
// returns when the user has dismissed it.
class CModeSwitchPrompts {
public:
    virtual ~CModeSwitchPrompts() = default;
    virtual void ShowMessage(const std::wstring& text) = 0;
    // A question with Yes and No buttons, No the default; true for Yes.
    // Without a user to ask: No.
    virtual bool AskDefaultNo(const std::wstring& text)
    {
        (void)text;
        return false;
    }
    // The progress dialog of the running check advances by n.
    virtual void Step(int n) { (void)n; }
    // The user cancelled the check: it stops at its next step.
    virtual bool Cancelled() const { return false; }
};

namespace modeswitch {

// Registers of the drive's application used here.
constexpr uint16_t kSeriesFirstRegister = 0x0329;
constexpr uint16_t kSeriesLastRegister = 0x032D;
constexpr uint16_t kSeriesTextRegister = 0x032B;  // 0x032B..0x032D hold the text

extern const char* const kReadPartNumberCommand;  // "VKR pm read_ee -a 153 -l 9\n"
extern const char* const kReadModeWordCommand;    // "VKR pm read_ee -a 0x600 -l 2\n\n"
extern const char* const kMarkNormalCommand;      // "VKR pm write_ee -a 0x600 -d 0065\n"
extern const char* const kResetCommand;           // "VKR pm reset\n"
extern const char* const kModeWordDownloading;    // "0081"

// The message texts of the download view.
namespace text {
extern const wchar_t* const kConnectDeviceFailed;     // "Connect device failed!"
extern const wchar_t* const kDeviceDownloading;       // "Device is downloading. Device can not switch to normal mode!"
extern const wchar_t* const kSwitchNormalFailed;      // "Switch to normal mode failed"
extern const wchar_t* const kNormalConnectionFailed;  // "Nomal connection failed! Please switch to nomal."
extern const wchar_t* const kSwitchBootFailed;        // "Switching to Boot mode failed."
extern const wchar_t* const kReadPnFailed;            // "Failed to read PN"
extern const wchar_t* const kMismatchedFormat;        // "Device is Mismatched. Serial:%s \n  PN: %s"
extern const wchar_t* const kDeviceInfoErrorFormat;   // "Device info error:%s  %s  %s"
extern const wchar_t* const kBootTooOld;              // "The boot version is too old to update the program"
extern const wchar_t* const kSendCmdSwitchNormalFailed;  // "SendCmd Switch to normal mode failed"
extern const wchar_t* const kSimpleInfoErrorFormat;   // "Device info error, Serial:%s Power:%s"
extern const wchar_t* const kFileMissing;             // "File is missing:"
extern const wchar_t* const kCodeFile;                // "code file"
extern const wchar_t* const kDataFile;                // " data file"
extern const wchar_t* const kConnectBootFailed;       // "Connect to Boot mode failed."
extern const wchar_t* const kDeviceConnectBootFailed; // "Device connect Boot failed."
extern const wchar_t* const kNotAllFiles;             // "Not all file is selected!"
extern const wchar_t* const kSwitchedBoot;            // "Switch to Boot mode."
extern const wchar_t* const kSwitchedNormal;          // "Switch to normal mode."
extern const wchar_t* const kModeWordUnknown;         // the mode word read got no usable answer
extern const wchar_t* const kOtherDriveFormat;        // resume refused: drive PN, saved PN
extern const wchar_t* const kDirectOtherModelFormat;  // direct download: drive PN (power), selected power
extern const wchar_t* const kDirectOtherModelNoPowerFormat;  // the same when the drive's PN is not in the package
}  // namespace text

// Replaces each "%s" of format by the next argument, in order.
std::wstring Format(const std::wstring& format, std::initializer_list<std::wstring> args);

// The series text of registers 0x032B..0x032D, each low byte first, up to
// the first zero byte.
std::string SeriesFromRegisters(const uint16_t words[3]);

// The part number of a reply to kReadPartNumberCommand: its first 16
// characters are 8 pairs of hexadecimal digits, each the code of one
// character; the text ends at the first zero byte. False when the reply is
// shorter than 8 bytes or does not begin with 16 hexadecimal digits.
bool PartNumberFromReply(const unsigned char* reply, int length, std::string* partNumber);

// The boot request: the code written once to register 0x0605, the key twice
// to register 0x4E1F. From config.ini [BootRequest] "Code" and "Key" (C-style
// text such as "0x5AA5" or decimal); a missing or unreadable value gives its
// default. The code is assembled at run time from its two bytes.
namespace bootrequest {
constexpr uint8_t kCodeHighByte = 0x5A;
constexpr uint8_t kCodeLowByte = 0xA5;
constexpr uint16_t kDefaultKey = 0xC3E1;
constexpr uint16_t kCodeRegister = 0x0605;
constexpr uint16_t kKeyRegister = 0x4E1F;
extern const wchar_t* const kSection;      // "BootRequest"
extern const wchar_t* const kCodeKeyName;  // "Code"
extern const wchar_t* const kKeyKeyName;   // "Key"
}  // namespace bootrequest
struct BootRequestValues {
    uint16_t code;
    uint16_t key;
};
BootRequestValues LoadBootRequest(const std::wstring& configPath);

// What the mode word read says.
enum class ModeWord { Downloading, NotDownloading, Unknown };
// A reply to kReadModeWordCommand: "0081" anywhere means downloading; a
// reply without four hexadecimal digits in a row means nothing is known.
ModeWord ModeWordFromReply(const char* reply);

// Which download options the files on disk allow: data files need the data,
// init and calibration images, the program file needs the code and init
// images.
struct PackageOptions {
    bool dataFiles = false;
    bool programFile = false;
};
PackageOptions OptionsFor(const PackageFilePaths& paths);

// Whether an interrupted flash download (saved: its config.ini keys, read)
// may be resumed on the drive that answers: the drive's part number
// (empty when it could not be read) must be the saved one, and the package
// must hold the saved model. Empty when it may, with the model's files in
// *paths; otherwise the message that refuses it.
std::wstring ResumeRefusal(const CDownloadState& saved, const std::wstring& drivePartNumber,
                           const ModelCatalogue& catalogue, const std::wstring& programFolder,
                           PackageFilePaths* paths);

}  // namespace modeswitch

// What a model check found (also when it failed part way).
struct ModelCheckResult {
    bool ok = false;
    // The drive answered, but the package or the selection does not fit it
    // (another model, no files, a bootloader too old): nothing was written.
    bool refused = false;
    std::string deviceSeries;
    std::string devicePartNumber;
    // The model checked: the selection, or the drive's own where none was given.
    std::wstring series;
    std::wstring power;
    bool havePaths = false;  // paths and options below were set
    // The drive was found in its bootloader with an unfinished flash
    // download; the paths are those of its model, and Download completes it.
    bool incompleteProgram = false;
    PackageFilePaths paths;
    modeswitch::PackageOptions options;
};

struct SimpleCheckResult {
    bool found = false;  // a model with that series and power exists
    PackageFilePaths paths;
    modeswitch::PackageOptions options;
    bool filesChecked = false;
};

class CModeSwitch {
public:
    // programFolder: the folder the package is extracted into (ends in a
    // separator). configPath: config.ini of the program (selection, boot
    // request values).
    CModeSwitch(DeviceConnection& link, CModeSwitchPrompts& prompts, const ModelCatalogue& catalogue,
                std::wstring programFolder, std::wstring configPath);

    // ---- Identity reads ----
    // Registers 0x0329..0x032D, up to 3 tries each; a register that fails
    // three times gives two zero bytes.
    std::string ReadSeries();
    // Up to 3 sends on the boot link; false when none gave a part number.
    bool ReadPartNumber(std::string* partNumber);
    // The EE mode word, read on the boot link.
    modeswitch::ModeWord ReadModeWord();
    // config.ini "Download" = "1": a flash download of this program did not
    // finish, whatever the drive answers.
    bool DownloadMarked() const;
    // The power of the series' model with that part number; empty when the
    // package has no such model.
    std::wstring PowerOfPartNumber(const std::wstring& series, const std::wstring& partNumber) const;
    // The part number of the first model with that series and power.
    std::wstring PartNumberOf(const std::wstring& series, const std::wstring& power) const;

    // ---- Boot commands ----
    // Up to 2 sends; true when the reply holds `expected`.
    bool SendCmdExpect(const char* command, const char* expected);
    // Up to 2 sends of the reset line, stopping at the first exchange that
    // worked; the reply is not examined.
    void ResetDevice();
    // ResetDevice, then the normal connection, tried again until the drive
    // has had kRestartMs to start its application.
    bool ResetAndConnectNormal();
    static constexpr int kRestartMs = 5000;

    // ---- Procedures ----
    // The code write and, only when it worked, the two key writes. True when
    // the code write worked.
    bool SendBootRequest();
    // Boot request then ConnectBoot; failure of the boot connection shows
    // kSwitchBootFailed. True when the boot link is up.
    bool BootRequestAndConnect();
    // Switch to boot mode (2022).
    void SwitchToBoot();
    // Switch to normal mode (2023).
    void SwitchToNormal();
    // Back to normal mode after a failed model check.
    void ReturnToNormal();
    // The model check (2024) for the selected series and power, with the
    // progress steps of its dialog. A failed check has already returned the
    // drive to normal mode (when it can); a cancelled one stops at its next
    // step and leaves the drive where it is.
    // An empty series or power stands for the drive's own: the series its
    // application reports, the power of the package's model with its part
    // number.
    ModelCheckResult ModelCheck(const std::wstring& series, const std::wstring& power);
    // The same check for a drive already in its bootloader, which stays
    // there: the boot link is opened and the drive is known by its part
    // number alone (series and power as above, from the package's model
    // with that part number when empty).
    ModelCheckResult BootloaderCheck(const std::wstring& series, const std::wstring& power);
    // The simple check (2032): files by series and power only.
    SimpleCheckResult SimpleCheck(const std::wstring& series, const std::wstring& power);
    // Direct download's connection (2031 steps 1 and 2): true when the boot
    // link is up afterwards.
    bool ConnectForDirectDownload();
    // Before a direct download: when the bootloader names a part number
    // other than the selected model's, asks the user (default No). True
    // when the download may go on.
    bool ConfirmDirectModel(const std::wstring& series, const std::wstring& power);

    // The config.ini section of the download keys (CDownloadState::Section).
    void SetStateSection(const std::wstring& section) { stateSection_ = section; }

private:
    bool ModelCheckSteps(const std::wstring& series, const std::wstring& power, ModelCheckResult* result);
    // Model check of a drive found in its bootloader with an unfinished
    // flash download: identified by its part number.
    bool CheckIncompleteDrive(const std::wstring& series, const std::wstring& power, ModelCheckResult* r);
    // A bootloader found at 9600 baud is too old for the program: the check
    // is refused with kBootTooOld and no options. True when it was.
    bool RefuseOldBootloader(ModelCheckResult* r);
    // The first model with that part number, of the series and power when
    // given (empty: any); false when the package has none.
    bool ModelOfPartNumber(const std::wstring& partNumber, std::wstring* series, std::wstring* power) const;
    uint8_t Station() const;
    void Message(const std::wstring& text) { prompts_.ShowMessage(text); }

    DeviceConnection& link_;
    CModeSwitchPrompts& prompts_;
    const ModelCatalogue& catalogue_;
    std::wstring programFolder_;
    std::wstring configPath_;
    std::wstring stateSection_ = CDownloadState::kSection;
};
