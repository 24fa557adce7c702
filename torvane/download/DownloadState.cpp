#include "DownloadState.h"

#include "PrivateProfile.h"

const wchar_t* const CDownloadState::kSection = L"COM";
const wchar_t* const CDownloadState::kDownloadKey = L"Download";
const wchar_t* const CDownloadState::kSeriesKey = L"Serial";
const wchar_t* const CDownloadState::kPartNumberKey = L"ModelPN";
const wchar_t* const CDownloadState::kPowerKey = L"Power";
const wchar_t* const CDownloadState::kPackageKey = L"Package";

const wchar_t* const CDownloadState::kProgramRequired =
    L"The drive holds an incomplete program: the download must write the program file. "
    L"Tick the program file option (it needs the code and init files of the package).";
const wchar_t* const CDownloadState::kIncompleteProgram =
    L"The drive holds an incomplete program; Download completes it";
const wchar_t* const CDownloadState::kCloseWithIncompleteProgram =
    L"The drive holds an incomplete program and stays in its bootloader until a download completes. "
    L"Close the program anyway?";

CDownloadState::CDownloadState(std::wstring configPath, std::wstring section)
    : configPath_(std::move(configPath)), section_(std::move(section))
{
}

void CDownloadState::ReadSaved()
{
    savedSeries_ = PrivateProfileGetString(section_, kSeriesKey, L"", configPath_);
    savedPartNumber_ = PrivateProfileGetString(section_, kPartNumberKey, L"", configPath_);
    savedPower_ = PrivateProfileGetString(section_, kPowerKey, L"", configPath_);
    interrupted_ = PrivateProfileGetInt(section_, kDownloadKey, 0, configPath_) != 0;
}

bool CDownloadState::WriteDownloadMark(bool on)
{
    const bool ok = PrivateProfileWriteString(section_, kDownloadKey, on ? L"1" : L"0", configPath_);
    // Read back: a write that did not reach the disk must not count.
    const bool stored = ok && (PrivateProfileGetInt(section_, kDownloadKey, on ? 0 : 1, configPath_) != 0) == on;
    if (stored) interrupted_ = on;
    return stored;
}

bool CDownloadState::SaveSelection(const std::wstring& series, const std::wstring& partNumber,
                                   const std::wstring& power)
{
    bool ok = PrivateProfileWriteString(section_, kSeriesKey, series, configPath_);
    ok = PrivateProfileWriteString(section_, kPartNumberKey, partNumber, configPath_) && ok;
    ok = PrivateProfileWriteString(section_, kPowerKey, power, configPath_) && ok;
    if (ok) {
        savedSeries_ = series;
        savedPartNumber_ = partNumber;
        savedPower_ = power;
    }
    return ok;
}

std::wstring CDownloadState::SavedPackage() const
{
    return PrivateProfileGetString(section_, kPackageKey, L"", configPath_);
}

bool CDownloadState::SavePackage(const std::wstring& path)
{
    return PrivateProfileWriteString(section_, kPackageKey, path, configPath_);
}

void CDownloadState::PackageOpened(const std::wstring& path, bool extracted)
{
    package_ = path;
    extracted_ = extracted;
    ClearChecks();
    paths_ = PackageFilePaths();
}

void CDownloadState::PackageRemoved()
{
    extracted_ = false;
    ClearChecks();
}

void CDownloadState::ClearChecks()
{
    modelChecked_ = filesChecked_ = false;
    checkedSeries_.clear();
    checkedPartNumber_.clear();
    checkedPower_.clear();
}

void CDownloadState::SetModelChecked(const std::wstring& series, const std::wstring& partNumber,
                                     const std::wstring& power, const PackageFilePaths& paths)
{
    modelChecked_ = true;
    filesChecked_ = false;
    checkedSeries_ = series;
    checkedPartNumber_ = partNumber;
    checkedPower_ = power;
    paths_ = paths;
}

void CDownloadState::SetFilesChecked(const std::wstring& series, const std::wstring& power,
                                     const PackageFilePaths& paths)
{
    filesChecked_ = true;
    modelChecked_ = false;
    checkedSeries_ = series;
    checkedPartNumber_.clear();
    checkedPower_ = power;
    paths_ = paths;
}

void CDownloadState::SetDrive(Drive drive, const std::wstring& partNumber)
{
    drive_ = drive;
    if (!partNumber.empty()) drivePartNumber_ = partNumber;
}

void CDownloadState::RunEnded(const DownloadOutcome& outcome)
{
    lastRun_ = outcome;
    if (outcome.result == DownloadOutcome::Result::Succeeded) {
        interrupted_ = false;
        drive_ = Drive::Unknown;
    } else if (outcome.downloadMarked) {
        interrupted_ = true;
        drive_ = Drive::IncompleteProgram;
    }
}

bool CDownloadState::ProgramRequired() const
{
    if (interrupted_ || drive_ == Drive::IncompleteProgram) return true;
    return lastRun_.result != DownloadOutcome::Result::Succeeded && lastRun_.downloadMarked;
}

bool CDownloadState::LeftIncomplete() const
{
    if (lastRun_.result == DownloadOutcome::Result::Succeeded) return false;
    return drive_ == Drive::IncompleteProgram || lastRun_.downloadMarked;
}

std::wstring CDownloadState::DownloadRefusal(bool, bool programFileOption) const
{
    if (ProgramRequired() && !programFileOption) return kProgramRequired;
    return std::wstring();
}
