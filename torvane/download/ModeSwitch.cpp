#include "ModeSwitch.h"

#include "DeviceConnection.h"
#include "DevicePlugins.h"
#include "DownloadSequence.h"
#include "DownloadState.h"
#include "PrivateProfile.h"
#include "RegisterAccess.h"
#include "WideText.h"

#include <cctype>
#include <chrono>
#include <cstring>
#include <cwchar>
#include <filesystem>

namespace modeswitch {

const char* const kReadPartNumberCommand = "VKR pm read_ee -a 153 -l 9\n";
const char* const kReadModeWordCommand = "VKR pm read_ee -a 0x600 -l 2\n\n";
const char* const kMarkNormalCommand = "VKR pm write_ee -a 0x600 -d 0065\n";
const char* const kResetCommand = "VKR pm reset\n";
const char* const kModeWordDownloading = "0081";

namespace text {
const wchar_t* const kConnectDeviceFailed = L"Connect device failed!";
const wchar_t* const kDeviceDownloading = L"Device is downloading. Device can not switch to normal mode!";
const wchar_t* const kSwitchNormalFailed = L"Switch to normal mode failed";
const wchar_t* const kNormalConnectionFailed = L"Nomal connection failed! Please switch to nomal.";
const wchar_t* const kSwitchBootFailed = L"Switching to Boot mode failed.";
const wchar_t* const kReadPnFailed = L"Failed to read PN";
const wchar_t* const kMismatchedFormat = L"Device is Mismatched. Serial:%s \n  PN: %s";
const wchar_t* const kDeviceInfoErrorFormat = L"Device info error:%s  %s  %s";
const wchar_t* const kBootTooOld = L"The boot version is too old to update the program";
const wchar_t* const kSendCmdSwitchNormalFailed = L"SendCmd Switch to normal mode failed";
const wchar_t* const kSimpleInfoErrorFormat = L"Device info error, Serial:%s Power:%s";
const wchar_t* const kFileMissing = L"File is missing:";
const wchar_t* const kCodeFile = L"code file";
const wchar_t* const kDataFile = L" data file";
const wchar_t* const kConnectBootFailed = L"Connect to Boot mode failed.";
const wchar_t* const kDeviceConnectBootFailed = L"Device connect Boot failed.";
const wchar_t* const kNotAllFiles = L"Not all file is selected!";
const wchar_t* const kSwitchedBoot = L"Switch to Boot mode.";
const wchar_t* const kSwitchedNormal = L"Switch to normal mode.";
const wchar_t* const kModeWordUnknown =
    L"The drive's mode word cannot be read; the drive stays in boot mode.";
const wchar_t* const kOtherDriveFormat =
    L"The drive reports PN %s; the interrupted download was for PN %s. Connect that drive to resume the download.";
const wchar_t* const kDirectOtherModelFormat =
    L"The drive reports PN %s (%s); the selected model is %s. Download anyway?";
const wchar_t* const kDirectOtherModelNoPowerFormat =
    L"The drive reports PN %s; the selected model is %s. Download anyway?";
}  // namespace text

ModeWord ModeWordFromReply(const char* reply)
{
    if (std::strstr(reply, kModeWordDownloading)) return ModeWord::Downloading;
    int run = 0;
    for (const char* p = reply; *p; ++p) {
        run = std::isxdigit(static_cast<unsigned char>(*p)) ? run + 1 : 0;
        if (run >= 4) return ModeWord::NotDownloading;
    }
    return ModeWord::Unknown;
}

std::wstring Format(const std::wstring& format, std::initializer_list<std::wstring> args)
{
    std::wstring out;
    auto next = args.begin();
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] == L'%' && i + 1 < format.size() && format[i + 1] == L's') {
            if (next != args.end()) out += *next++;
            ++i;
        } else {
            out += format[i];
        }
    }
    return out;
}

std::string SeriesFromRegisters(const uint16_t words[3])
{
    std::string series;
    for (int i = 0; i < 3; ++i) {
        const char bytes[2] = {static_cast<char>(words[i] & 0xFF), static_cast<char>(words[i] >> 8)};
        for (char b : bytes) {
            if (b == 0) return series;
            series += b;
        }
    }
    return series;
}

namespace {
int HexValue(unsigned char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
}  // namespace

bool PartNumberFromReply(const unsigned char* reply, int length, std::string* partNumber)
{
    if (length < 8) return false;
    // A reply that does not begin with the digits would be read as some
    // other part number; it counts as no answer.
    if (length < 16) return false;
    std::string pn;
    bool ended = false;
    for (int i = 0; i < 8; ++i) {
        const int hi = HexValue(reply[2 * i]);
        const int lo = HexValue(reply[2 * i + 1]);
        if (hi < 0 || lo < 0) return false;
        const char c = static_cast<char>(hi * 16 + lo);
        if (c == 0) ended = true;
        if (!ended) pn += c;
    }
    *partNumber = pn;
    return true;
}

namespace {
uint16_t ParseValue(const std::wstring& text, uint16_t def)
{
    const std::wstring t = wtext::Trim(text);
    if (t.empty() || t[0] == L'-' || t[0] == L'+') return def;
    wchar_t* end = nullptr;
    errno = 0;
    const unsigned long v = std::wcstoul(t.c_str(), &end, 0);
    if (errno != 0 || !end || *end != 0 || v > 0xFFFF) return def;
    return static_cast<uint16_t>(v);
}
}  // namespace

namespace bootrequest {
const wchar_t* const kSection = L"BootRequest";
const wchar_t* const kCodeKeyName = L"Code";
const wchar_t* const kKeyKeyName = L"Key";
}  // namespace bootrequest

BootRequestValues LoadBootRequest(const std::wstring& configPath)
{
    namespace br = bootrequest;
    // The code is put together from its two bytes, not kept as one constant.
    const uint16_t defCode = static_cast<uint16_t>((br::kCodeHighByte << 8) | br::kCodeLowByte);
    BootRequestValues v{defCode, br::kDefaultKey};
    v.code = ParseValue(PrivateProfileGetString(br::kSection, br::kCodeKeyName, L"", configPath), defCode);
    v.key = ParseValue(PrivateProfileGetString(br::kSection, br::kKeyKeyName, L"", configPath), br::kDefaultKey);
    return v;
}

namespace {
bool FileExists(const std::wstring& path)
{
    std::error_code ec;
    return std::filesystem::is_regular_file(std::filesystem::path(wtext::ToUtf8(path)), ec);
}
}  // namespace

std::wstring ResumeRefusal(const CDownloadState& saved, const std::wstring& drivePartNumber,
                           const ModelCatalogue& catalogue, const std::wstring& programFolder,
                           PackageFilePaths* paths)
{
    // The images of the saved model go only to the drive they were meant for.
    if (!drivePartNumber.empty() && drivePartNumber != saved.SavedPartNumber())
        return Format(text::kOtherDriveFormat, {drivePartNumber, saved.SavedPartNumber()});
    ModelFiles files;
    if (!catalogue.FindModelFiles(saved.SavedSeries(), saved.SavedPartNumber(), saved.SavedPower(), files))
        return Format(text::kDeviceInfoErrorFormat, {saved.SavedSeries(), saved.SavedPartNumber(), saved.SavedPower()});
    *paths = PackagePaths(programFolder, files);
    return std::wstring();
}

PackageOptions OptionsFor(const PackageFilePaths& paths)
{
    PackageOptions o;
    const bool data = FileExists(paths.dataFile);
    const bool init = FileExists(paths.initFile);
    const bool cal = FileExists(paths.calibrationFile);
    const bool code = FileExists(paths.codeFile);
    o.dataFiles = data && init && cal;
    o.programFile = code && init;
    return o;
}

}  // namespace modeswitch

using namespace modeswitch;

namespace {
std::wstring W(const std::string& s)
{
    return wtext::FromUtf8(s);
}
}  // namespace

CModeSwitch::CModeSwitch(DeviceConnection& link, CModeSwitchPrompts& prompts, const ModelCatalogue& catalogue,
                         std::wstring programFolder, std::wstring configPath)
    : link_(link),
      prompts_(prompts),
      catalogue_(catalogue),
      programFolder_(std::move(programFolder)),
      configPath_(std::move(configPath))
{
}

uint8_t CModeSwitch::Station() const
{
    return regaccess::StationOf(link_.settings().devAddr);
}

std::string CModeSwitch::ReadSeries()
{
    uint16_t words[kSeriesLastRegister - kSeriesFirstRegister + 1] = {};
    for (uint16_t reg = kSeriesFirstRegister; reg <= kSeriesLastRegister; ++reg) {
        for (int attempt = 0; attempt < 3; ++attempt) {
            uint8_t value[2] = {0, 0};
            uint8_t err = 0;
            if (ModbusPort().ProcRead(Station(), reg, value, &err)) {
                words[reg - kSeriesFirstRegister] = static_cast<uint16_t>(value[0] | (value[1] << 8));
                break;
            }
        }
    }
    return SeriesFromRegisters(&words[kSeriesTextRegister - kSeriesFirstRegister]);
}

bool CModeSwitch::ReadPartNumber(std::string* partNumber)
{
    if (!link_.bootConnected()) return false;
    for (int attempt = 0; attempt < 3; ++attempt) {
        unsigned char reply[256] = {};
        unsigned char length = 0;
        unsigned char err = 0;
        const bool done = plugins::BootCommand(kReadPartNumberCommand,
                                               static_cast<int>(std::strlen(kReadPartNumberCommand)), reply,
                                               &length, &err);
        if (done && PartNumberFromReply(reply, length, partNumber)) return true;
    }
    return false;
}

ModeWord CModeSwitch::ReadModeWord()
{
    unsigned char reply[256] = {};
    if (!link_.SendBootCommand(kReadModeWordCommand, reply)) return ModeWord::Unknown;
    reply[255] = 0;
    return ModeWordFromReply(reinterpret_cast<const char*>(reply));
}

bool CModeSwitch::DownloadMarked() const
{
    CDownloadState state(configPath_, stateSection_);
    state.ReadSaved();
    return state.InterruptedDownload();
}

std::wstring CModeSwitch::PowerOfPartNumber(const std::wstring& series, const std::wstring& partNumber) const
{
    for (const ModelRecord& m : catalogue_.models())
        if (m.series == series && m.partNumber == partNumber) return m.power;
    return std::wstring();
}

std::wstring CModeSwitch::PartNumberOf(const std::wstring& series, const std::wstring& power) const
{
    for (const ModelRecord& m : catalogue_.models())
        if (m.series == series && m.power == power) return m.partNumber;
    return std::wstring();
}

bool CModeSwitch::SendCmdExpect(const char* command, const char* expected)
{
    return bootcmd::SendCmdExpect(XModemPort(), command, expected);
}

void CModeSwitch::ResetDevice()
{
    bootcmd::ResetDevice(XModemPort());
}

bool CModeSwitch::ResetAndConnectNormal()
{
    ResetDevice();
    // The drive is silent while its application starts; a short reply
    // time-out must not give up on it before it could answer.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kRestartMs);
    do {
        if (link_.ConnectNormal()) return true;
    } while (!prompts_.Cancelled() && std::chrono::steady_clock::now() < deadline);
    return false;
}

bool CModeSwitch::SendBootRequest()
{
    namespace br = modeswitch::bootrequest;
    const BootRequestValues v = LoadBootRequest(configPath_);
    uint8_t code[2] = {static_cast<uint8_t>(v.code >> 8), static_cast<uint8_t>(v.code & 0xFF)};
    uint8_t err = 0;
    if (!ModbusPort().ProcWrite(Station(), br::kCodeRegister, code, &err)) return false;
    for (int i = 0; i < 2; ++i) {
        // The drive restarts on the second key and may not echo it.
        uint8_t key[2] = {static_cast<uint8_t>(v.key >> 8), static_cast<uint8_t>(v.key & 0xFF)};
        err = 0;
        ModbusPort().ProcWrite(Station(), br::kKeyRegister, key, &err);
    }
    return true;
}

bool CModeSwitch::BootRequestAndConnect()
{
    if (!SendBootRequest()) return false;
    if (link_.ConnectBoot()) return true;
    Message(text::kSwitchBootFailed);
    return false;
}

void CModeSwitch::SwitchToBoot()
{
    if (!link_.BootReachable()) return;
    if (!link_.normalConnected() && !link_.ConnectNormal()) return;
    if (!SendBootRequest()) return;
    if (link_.ConnectBoot())
        Message(text::kSwitchedBoot);
    else
        Message(text::kSwitchBootFailed);
}

void CModeSwitch::SwitchToNormal()
{
    if (!link_.BootReachable()) return;
    if (!link_.bootConnected() && !link_.ConnectBoot()) return;
    // Only a drive that says it is not downloading leaves its bootloader.
    const ModeWord word = DownloadMarked() ? ModeWord::Downloading : ReadModeWord();
    if (word == ModeWord::Downloading) {
        Message(text::kDeviceDownloading);
        return;
    }
    if (word == ModeWord::Unknown) {
        Message(text::kModeWordUnknown);
        return;
    }
    if (!SendCmdExpect(kMarkNormalCommand, "OK")) {
        Message(text::kSwitchNormalFailed);
        return;
    }
    Message(ResetAndConnectNormal() ? text::kSwitchedNormal : text::kSwitchNormalFailed);
}

void CModeSwitch::ReturnToNormal()
{
    if (!link_.ConnectBoot()) return;
    if (DownloadMarked() || ReadModeWord() != ModeWord::NotDownloading) return;
    if (!SendCmdExpect(kMarkNormalCommand, "OK")) {
        Message(text::kSendCmdSwitchNormalFailed);
        return;
    }
    if (!ResetAndConnectNormal()) Message(text::kSwitchNormalFailed);
}

ModelCheckResult CModeSwitch::ModelCheck(const std::wstring& series, const std::wstring& power)
{
    ModelCheckResult result;
    // Refused before the boot request: a drive sent into its bootloader
    // behind a Modbus gateway could not be reached again.
    if (!link_.BootReachable()) return result;
    result.ok = ModelCheckSteps(series, power, &result);
    // A check the user cancelled stops where it is, the drive with it.
    if (!result.ok && !prompts_.Cancelled()) ReturnToNormal();
    return result;
}

bool CModeSwitch::ModelCheckSteps(const std::wstring& series, const std::wstring& power, ModelCheckResult* r)
{
    // 1. The drive in normal mode.
    if (!link_.normalConnected() && !link_.ConnectNormal()) {
        if (!link_.ConnectBoot()) {
            Message(text::kConnectDeviceFailed);
            return false;
        }
        const ModeWord word = ReadModeWord();
        if (word == ModeWord::Downloading || DownloadMarked()) return CheckIncompleteDrive(series, power, r);
        if (word == ModeWord::Unknown) {
            Message(text::kModeWordUnknown);
            return false;
        }
        if (!SendCmdExpect(kMarkNormalCommand, "OK")) {
            Message(text::kSwitchNormalFailed);
            return false;
        }
        if (!ResetAndConnectNormal()) {
            Message(text::kNormalConnectionFailed);
            return false;
        }
    }
    prompts_.Step(2);
    if (prompts_.Cancelled()) return false;

    // 3. Series from the application.
    r->deviceSeries = ReadSeries();
    prompts_.Step(3);
    if (prompts_.Cancelled()) return false;

    // 5. Into the bootloader.
    BootRequestAndConnect();
    prompts_.Step(2);
    prompts_.Step(1);
    prompts_.Step(3);
    if (prompts_.Cancelled()) return false;

    // 7. Part number from the bootloader.
    if (!ReadPartNumber(&r->devicePartNumber)) {
        Message(text::kReadPnFailed);
        return false;
    }

    // 8. The drive must be one of the package's models, of the selected series.
    const std::wstring devSeries = W(r->deviceSeries);
    const std::wstring devPn = W(r->devicePartNumber);
    r->series = series.empty() ? devSeries : series;
    r->power = power.empty() ? PowerOfPartNumber(devSeries, devPn) : power;
    if (!catalogue_.HasModel(devSeries, devPn, r->power) || r->series != devSeries) {
        r->refused = true;
        Message(Format(text::kMismatchedFormat, {devSeries, devPn}));
        return false;
    }

    // 9. Its files.
    ModelFiles files;
    if (!catalogue_.FindModelFiles(r->series, devPn, r->power, files)) {
        r->refused = true;
        Message(Format(text::kDeviceInfoErrorFormat, {r->series, devPn, r->power}));
        return false;
    }
    r->paths = ::PackagePaths(programFolder_, files);
    r->options = OptionsFor(r->paths);
    r->havePaths = true;

    // 12. An old bootloader (9600 baud only) cannot take the program.
    if (RefuseOldBootloader(r)) return false;

    // 13. Kept for a download that has to be resumed after a restart.
    CDownloadState(configPath_, stateSection_).SaveSelection(devSeries, devPn, r->power);
    return true;
}

bool CModeSwitch::CheckIncompleteDrive(const std::wstring& series, const std::wstring& power, ModelCheckResult* r)
{
    // The application cannot be asked for its series: the drive is known by
    // its part number in the selected series.
    ModelFiles files;
    r->series = series;
    r->power = power;
    if (!ReadPartNumber(&r->devicePartNumber) ||
        !ModelOfPartNumber(W(r->devicePartNumber), &r->series, &r->power) ||
        !catalogue_.FindModelFiles(r->series, W(r->devicePartNumber), r->power, files)) {
        Message(text::kDeviceDownloading);
        return false;
    }
    r->deviceSeries = wtext::ToUtf8(r->series);
    r->paths = ::PackagePaths(programFolder_, files);
    r->options = OptionsFor(r->paths);
    r->havePaths = true;
    r->incompleteProgram = true;
    if (RefuseOldBootloader(r)) return false;
    Message(CDownloadState::kIncompleteProgram);
    return true;
}

bool CModeSwitch::RefuseOldBootloader(ModelCheckResult* r)
{
    if (link_.settings().bootBaud != L"9600") return false;
    r->refused = true;
    r->options = PackageOptions();
    Message(text::kBootTooOld);
    return true;
}

bool CModeSwitch::ModelOfPartNumber(const std::wstring& partNumber, std::wstring* series, std::wstring* power) const
{
    for (const ModelRecord& m : catalogue_.models()) {
        if (m.partNumber != partNumber || (!series->empty() && m.series != *series) ||
            (!power->empty() && m.power != *power))
            continue;
        *series = m.series;
        *power = m.power;
        return true;
    }
    return false;
}

ModelCheckResult CModeSwitch::BootloaderCheck(const std::wstring& series, const std::wstring& power)
{
    ModelCheckResult r;
    if (!link_.BootReachable()) return r;
    if (!link_.bootConnected() && !link_.ConnectBoot()) {
        Message(text::kDeviceConnectBootFailed);
        return r;
    }
    const ModeWord word = ReadModeWord();
    if (word == ModeWord::Downloading || DownloadMarked()) {
        r.ok = CheckIncompleteDrive(series, power, &r);
        // A drive that answers with its part number but fits no model of
        // the package is refused; one that does not answer is not.
        r.refused = !r.ok && !r.devicePartNumber.empty();
        return r;
    }
    if (!ReadPartNumber(&r.devicePartNumber)) {
        Message(text::kReadPnFailed);
        return r;
    }
    const std::wstring pn = W(r.devicePartNumber);
    r.series = series;
    r.power = power;
    ModelFiles files;
    if (!ModelOfPartNumber(pn, &r.series, &r.power) || !catalogue_.FindModelFiles(r.series, pn, r.power, files)) {
        r.refused = true;
        Message(Format(text::kMismatchedFormat, {series, pn}));
        return r;
    }
    r.deviceSeries = wtext::ToUtf8(r.series);
    r.paths = ::PackagePaths(programFolder_, files);
    r.options = OptionsFor(r.paths);
    r.havePaths = true;
    if (RefuseOldBootloader(&r)) return r;
    CDownloadState(configPath_, stateSection_).SaveSelection(r.series, pn, r.power);
    r.ok = true;
    return r;
}

SimpleCheckResult CModeSwitch::SimpleCheck(const std::wstring& series, const std::wstring& power)
{
    SimpleCheckResult r;
    ModelFiles files;
    if (!catalogue_.FindModelFilesByPower(series, power, files)) {
        Message(Format(text::kSimpleInfoErrorFormat, {series, power}));
        return r;
    }
    r.found = true;
    r.paths = ::PackagePaths(programFolder_, files);
    r.options = OptionsFor(r.paths);
    r.filesChecked = r.options.dataFiles && r.options.programFile;
    if (!r.filesChecked) {
        std::wstring text = text::kFileMissing;
        if (!r.options.programFile) text += text::kCodeFile;
        if (!r.options.dataFiles) text += text::kDataFile;
        Message(text);
    }
    return r;
}

bool CModeSwitch::ConfirmDirectModel(const std::wstring& series, const std::wstring& power)
{
    std::string pn;
    if (!ReadPartNumber(&pn)) return true;  // an old bootloader: the recovery route stays open
    const std::wstring drivePn = W(pn);
    const std::wstring selectedPn = PartNumberOf(series, power);
    if (selectedPn.empty() || drivePn == selectedPn) return true;
    const std::wstring drivePower = PowerOfPartNumber(series, drivePn);
    const std::wstring question = drivePower.empty()
                                      ? Format(text::kDirectOtherModelNoPowerFormat, {drivePn, power})
                                      : Format(text::kDirectOtherModelFormat, {drivePn, drivePower, power});
    return prompts_.AskDefaultNo(question);
}

bool CModeSwitch::ConnectForDirectDownload()
{
    if (!link_.BootReachable()) return false;
    if (link_.ConnectNormal()) SendBootRequest();
    if (!link_.ConnectBoot()) Message(text::kConnectBootFailed);
    if (!link_.bootConnected() && !link_.ConnectBoot()) {
        Message(text::kDeviceConnectBootFailed);
        return false;
    }
    return true;
}
