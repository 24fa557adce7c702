// What the download view knows about the package, the drive and the last
// run, in one place: the package opened and where its files are, the model
// checked and for which drive, the drive's identity and the state it was
// left in, the last run's outcome and the last flash block written.
//
// Plain C++ without widgets. The view derives its buttons and messages from
// it, the download sequence takes its preconditions from it, and the keys of
// config.ini [COM] that survive a restart ("Download", "Serial", "ModelPN",
// "Power") are written through it only.
//
// The rule it exists for: once a flash download has begun (config.ini
// "Download" = "1", or a run of this session failed or was cancelled after
// the erase) the drive holds no runnable application, and no run may mark
// normal start-up without writing the program file.
#pragma once

#include "ProgramPackage.h"

#include <string>

// How a download run ended, as the sequence saw it.
struct DownloadOutcome {
    enum class Result { None, Succeeded, Failed, Refused, Cancelled };
    Result result = Result::None;
    // The run marked the download ("0081", config.ini "Download" = "1"):
    // from then on the drive's flash may be erased until a run completes.
    bool downloadMarked = false;
    bool flashErased = false;
    // Flash blocks accepted by the drive in this run, of flashBlocks.
    int flashBlocksWritten = 0;
    int flashBlocks = 0;
    // An EE image (power data or init) was being written when the run ended.
    bool eePartial = false;
    // What the user was told (the failure message), for the transcript.
    std::wstring message;
    // The extracted package was removed (a completed run, or "No" to the
    // question after a failed one): the checks wait for the next package.
    bool packageRemoved = false;
};

class CDownloadState {
public:
    // What the bootloader and the mode word say about the drive.
    enum class Drive {
        Unknown,            // not asked yet, or no answer
        Application,        // answers in normal mode
        Bootloader,         // in its bootloader, mode word not "0081"
        IncompleteProgram,  // in its bootloader with "0081": a flash download did not finish
    };

    static const wchar_t* const kSection;         // "COM"
    static const wchar_t* const kDownloadKey;     // "Download"
    static const wchar_t* const kSeriesKey;       // "Serial"
    static const wchar_t* const kPartNumberKey;   // "ModelPN"
    static const wchar_t* const kPowerKey;        // "Power"
    static const wchar_t* const kPackageKey;      // "Package": the package opened last

    // Messages of the rules below.
    static const wchar_t* const kProgramRequired;
    static const wchar_t* const kIncompleteProgram;        // "The drive holds an incomplete program; Download completes it"
    static const wchar_t* const kCloseWithIncompleteProgram;

    // section: where the keys live in config.ini; the program's own is
    // kSection. A command-line flash keeps them per port (several ports
    // may be flashed at once, each by its own process).
    explicit CDownloadState(std::wstring configPath = std::wstring(), std::wstring section = kSection);
    void SetConfigPath(const std::wstring& path) { configPath_ = path; }
    const std::wstring& ConfigPath() const { return configPath_; }
    const std::wstring& Section() const { return section_; }

    // ---- config.ini ----
    // Reads the saved selection and "Download".
    void ReadSaved();
    const std::wstring& SavedSeries() const { return savedSeries_; }
    const std::wstring& SavedPartNumber() const { return savedPartNumber_; }
    const std::wstring& SavedPower() const { return savedPower_; }
    bool InterruptedDownload() const { return interrupted_; }
    // Writes "Download"; false when config.ini could not be written.
    bool WriteDownloadMark(bool on);
    // Writes "Serial", "ModelPN" and "Power"; false when one was not written.
    bool SaveSelection(const std::wstring& series, const std::wstring& partNumber, const std::wstring& power);
    // The package opened last ("Package"), offered again for a resume.
    std::wstring SavedPackage() const;
    bool SavePackage(const std::wstring& path);

    // ---- package ----
    // A package file was opened (extracted, or not: `extracted`); every
    // check made with the previous one is void.
    void PackageOpened(const std::wstring& path, bool extracted);
    // The extracted files were removed (completed run, "No" to the question).
    void PackageRemoved();
    bool PackageUsable() const { return extracted_; }
    const std::wstring& PackagePath() const { return package_; }

    // ---- checks ----
    void ClearChecks();
    void SetModelChecked(const std::wstring& series, const std::wstring& partNumber, const std::wstring& power,
                         const PackageFilePaths& paths);
    void SetFilesChecked(const std::wstring& series, const std::wstring& power, const PackageFilePaths& paths);
    // The files of the last check, kept while the check is void (the
    // paths shown in the view).
    void SetPaths(const PackageFilePaths& paths) { paths_ = paths; }
    bool ModelChecked() const { return modelChecked_; }
    bool FilesChecked() const { return filesChecked_; }
    const PackageFilePaths& Paths() const { return paths_; }
    const std::wstring& CheckedPartNumber() const { return checkedPartNumber_; }

    // ---- drive ----
    void SetDrive(Drive drive, const std::wstring& partNumber = std::wstring());
    Drive DriveKnown() const { return drive_; }
    const std::wstring& DrivePartNumber() const { return drivePartNumber_; }

    // ---- runs ----
    void RunEnded(const DownloadOutcome& outcome);
    const DownloadOutcome& LastRun() const { return lastRun_; }

    // ---- rules ----
    // The drive may hold an erased or partly written application: the next
    // run has to write the program file.
    bool ProgramRequired() const;
    // This session saw the drive with an incomplete program (a run broke off
    // after the download mark, or a check found one) and no run has
    // completed it since.
    bool LeftIncomplete() const;
    // Why a download with these options may not start; empty when it may.
    std::wstring DownloadRefusal(bool dataFilesOption, bool programFileOption) const;

private:
    std::wstring configPath_;
    std::wstring section_;
    std::wstring savedSeries_, savedPartNumber_, savedPower_;
    bool interrupted_ = false;

    std::wstring package_;
    bool extracted_ = false;

    bool modelChecked_ = false;
    bool filesChecked_ = false;
    std::wstring checkedSeries_, checkedPartNumber_, checkedPower_;
    PackageFilePaths paths_;

    Drive drive_ = Drive::Unknown;
    std::wstring drivePartNumber_;

    DownloadOutcome lastRun_;
};
