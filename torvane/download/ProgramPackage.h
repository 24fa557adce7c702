// Program packages: the one file that carries a family's model workbook and
// its firmware images.
//
// A package ("ProgramFile.vkr") is a zip archive whose first 32 bytes are
// stored as they are and whose remaining bytes are stored inverted (XOR
// 0xFF). Inside, the top folder "ProgramFile" holds "VKR_MODEL.xls" and the
// folders "data", "init", "calibration" and "code".
//
// The download view opens a package by extracting it into its program folder
// (the program's own folder followed by "Program/") and loading the model
// workbook into the model catalogue; the download sequence reads the images
// from the extracted folder. Everything here is plain file work without
// widgets; results are values, nothing throws.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class ModelCatalogue;
struct ModelFiles;

namespace package {

// Bytes 0..31 of a package are stored plain.
constexpr size_t kPlainPrefix = 32;

extern const wchar_t* const kDefaultPackageName;       // "ProgramFile.vkr"
extern const wchar_t* const kTopFolder;                // "ProgramFile"
extern const wchar_t* const kModelWorkbook;            // "VKR_MODEL.xls"
extern const wchar_t* const kWorkingCopy;              // "temp.bin"
// Shown by the download view when OpenPackage reports failure.
extern const wchar_t* const kDecompressionFailedText;  // "Program file decompression failed!"
// Shown when the working copy cannot be read or written back (cause, path).
extern const wchar_t* const kCopyFailedFormat;         // "Failed to read file1 :%d %s"

// Limits no real package comes near (a few dozen entries, images of at most
// 480 KiB, workbooks of a few hundred KiB): a package beyond one of them is
// refused as a whole, nothing of it kept.
constexpr int kMaxEntries = 1000;
constexpr uint64_t kMaxEntryBytes = 16u << 20;  // one entry, uncompressed
constexpr uint64_t kMaxTotalBytes = 64u << 20;  // all entries together
constexpr uint64_t kMaxRatio = 100;             // uncompressed : compressed, for entries above
constexpr uint64_t kRatioCheckedFrom = 1u << 20;  // this size

// MakePackage results.
constexpr int kMakeOk = 0;
constexpr int kMakeNoSource = 0x200;       // the source folder does not exist
constexpr int kMakeCannotCreate = 0x201;   // the archive file could not be created
constexpr int kMakeEntryFailed = 0x202;    // a file could not be read or added

}  // namespace package

// Inverts every byte from offset 32 to the end; files of 32 bytes or less
// stay as they are. Applying it twice gives the bytes back.
void InvertPackageBytes(std::string& bytes);
// The same for a file on disk (read whole, inverted, written back). False
// with a reason when the file cannot be read or written.
bool InvertPackageFile(const std::wstring& path, std::wstring* error = nullptr);

// Where the download view keeps packages: "Program/" in WritableFolder(appFolder)
// (appFolder itself unless it is read-only).
std::wstring PackageProgramFolder(const std::wstring& appFolder);
// programFolder + "ProgramFile": the extracted package.
std::wstring ExtractedFolder(const std::wstring& programFolder);
// The extracted model workbook.
std::wstring ModelWorkbookPath(const std::wstring& programFolder);

// The four image paths of a model in the extracted package:
// "data/<name>.bin", "init/<name>.bin", "calibration/<name>.TTL",
// "code/<name>.bin".
struct PackageFilePaths {
    std::wstring dataFile;
    std::wstring initFile;
    std::wstring calibrationFile;
    std::wstring codeFile;
};
PackageFilePaths PackagePaths(const std::wstring& programFolder, const ModelFiles& names);

// What OpenPackage met on its way.
struct PackageOpenReport {
    // Set when the working copy could not be read or written back: the
    // message "Failed to read file1 :%d %s" for the view to show. Extraction
    // is attempted anyway.
    std::wstring copyFailedText;
    // The extraction succeeded (the return value of OpenPackage).
    bool extracted = false;
    // Why the extraction failed, in words (for the run-info log).
    std::wstring failure;
    // Entries that would have left the extraction folder (traversal,
    // absolute names, symbolic links): refused, nothing of them written.
    std::vector<std::wstring> refusedEntries;
    // Files written below the program folder.
    int filesWritten = 0;
    // The model workbook loaded into the catalogue.
    bool catalogueLoaded = false;
};

// Opens a package for the download view: copies it to programFolder +
// "temp.bin" (replacing any file of that name), inverts the copy from offset
// 32, empties the extracted folder (ExtractedFolder) of a previous package,
// extracts every entry below programFolder (creating it when missing; each
// entry under a temporary name until its CRC is checked; the limits above
// enforced on the bytes themselves),
// deletes the copy and loads the extracted model workbook into `catalogue`
// (TheModelCatalogue() when null). True when the extraction succeeded; on
// false everything extracted is removed again (the catalogue comes out
// empty) and the view shows kDecompressionFailedText.
//
// Entry names are reduced as the drive tool always did (a leading drive
// letter and colon, leading "/" and "\", and everything up to the last
// "/../"-like separator pair are removed). A name that still leaves the
// folder after that, or a symbolic-link entry, is refused and ends the
// extraction as a failure. Extraction stops at the first failed entry.
bool OpenPackage(const std::wstring& packagePath, const std::wstring& programFolder,
                 PackageOpenReport* report = nullptr, ModelCatalogue* catalogue = nullptr);

// The name reduction of OpenPackage (UTF-8 entry name in, reduced name out).
std::string ReduceEntryName(const std::string& name);
// True when a reduced name stays below the extraction folder: not absolute,
// no ".." component, not empty.
bool EntryNameStaysInside(const std::string& reduced);

// Builds a package file (a plain zip archive, not inverted) from a prepared
// folder: the folder entry "ProgramFile/", then the folder's content
// recursively as "ProgramFile/<relative path>" ("/" separators, folders with
// a final "/"). Files ending in ".zip", ".zoo", ".arc", ".lzh", ".arj" or
// ".tgz" are stored, all others deflated at level 8. The package file itself
// is never added when it lies inside the source folder. Returns kMakeOk, or
// kMakeNoSource (nothing written) and the other kMake* codes.
int MakePackage(const std::wstring& sourceFolder, const std::wstring& packagePath);

// The export file proposed for a source folder: the text cut after its last
// separator ("/" or "\"; unchanged when it has none or is a three-character
// drive root such as "D:\") followed by "ProgramFile.vkr". "D:\work\ProgramFile"
// gives "D:\work\ProgramFile.vkr".
std::wstring ProposeExportFile(const std::wstring& sourceFolder);

// Deletes the extracted package folder with everything below it (write
// protection is lifted where a deletion fails; symbolic links are removed,
// never followed). True when the folder is gone.
bool RemoveExtracted(const std::wstring& programFolder);
