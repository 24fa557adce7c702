#include "ProgramPackage.h"

#include "FileBytes.h"
#include "LogBuf.h"
#include "ModelCatalogue.h"
#include "ProgramFolder.h"
#include "WideText.h"

#include <unzip.h>
#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace package {
const wchar_t* const kDefaultPackageName = L"ProgramFile.vkr";
const wchar_t* const kTopFolder = L"ProgramFile";
const wchar_t* const kModelWorkbook = L"VKR_MODEL.xls";
const wchar_t* const kWorkingCopy = L"temp.bin";
const wchar_t* const kDecompressionFailedText = L"Program file decompression failed!";
const wchar_t* const kCopyFailedFormat = L"Failed to read file1 :%d %s";
}  // namespace package

namespace {

fs::path PathOf(const std::wstring& text) { return fs::path(wtext::ToUtf8(text)); }

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

std::wstring FormatCopyFailed(int cause, const std::wstring& path)
{
    std::wstring text = package::kCopyFailedFormat;
    text.replace(text.find(L"%d"), 2, wtext::FormatInt(cause));
    text.replace(text.find(L"%s"), 2, path);
    return text;
}

// A Unix-made entry whose mode says symbolic link.
bool IsSymlinkEntry(const unz_file_info64& info)
{
    const unsigned host = static_cast<unsigned>(info.version >> 8);
    const unsigned long mode = info.external_fa >> 16;
    return host == 3 && (mode & 0170000) == 0120000;
}

// True when no existing part of `target` below `folder` is a symbolic link,
// so writing there cannot end up outside the folder.
bool NoLinkOnTheWay(const fs::path& folder, const fs::path& relative)
{
    fs::path at = folder;
    std::error_code ec;
    for (const fs::path& part : relative) {
        if (part.empty()) continue;
        at /= part;
        const fs::file_status st = fs::symlink_status(at, ec);
        if (ec) return true;  // missing from here on: it is created by us
        if (fs::is_symlink(st)) return false;
    }
    return true;
}

struct Extractor {
    fs::path folder;
    PackageOpenReport& report;
    std::vector<fs::path> written;
    uint64_t total = 0;
    int entries = 0;

    bool Fail(const std::string& why)
    {
        report.failure = wtext::FromUtf8(why);
        return false;
    }

    bool Refuse(const std::string& name, const std::string& why)
    {
        report.refusedEntries.push_back(wtext::FromUtf8(name));
        return Fail("entry \"" + name + "\" refused: " + why);
    }

    // Each entry goes to a temporary name first and gets its own name only
    // once its CRC is checked, so a damaged entry never lies on disk under
    // the name the download would read.
    bool WriteEntry(unzFile zf, const fs::path& target, const std::string& name, const unz_file_info64& info)
    {
        if (info.uncompressed_size > package::kMaxEntryBytes)
            return Fail("entry \"" + name + "\" is larger than " + std::to_string(package::kMaxEntryBytes) + " bytes");
        if (info.uncompressed_size > package::kRatioCheckedFrom &&
            info.uncompressed_size / std::max<ZPOS64_T>(info.compressed_size, 1) > package::kMaxRatio)
            return Fail("entry \"" + name + "\" is compressed more than " + std::to_string(package::kMaxRatio) +
                        " to 1");
        if (unzOpenCurrentFile(zf) != UNZ_OK) return Fail("entry \"" + name + "\" cannot be opened");
        const fs::path temp = target.string() + ".unpacking";
        const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0) {
            unzCloseCurrentFile(zf);
            return Fail(temp.string() + ": " + std::strerror(errno));
        }
        bool ok = true;
        std::string why;
        uint64_t size = 0;
        char buffer[65536];
        for (;;) {
            const int n = unzReadCurrentFile(zf, buffer, sizeof buffer);
            if (n == 0) break;
            if (n < 0) {
                ok = false;
                why = "entry \"" + name + "\" is damaged";
                break;
            }
            // The sizes in the directory may lie: the bytes themselves count.
            size += static_cast<uint64_t>(n);
            total += static_cast<uint64_t>(n);
            if (size > package::kMaxEntryBytes || total > package::kMaxTotalBytes) {
                ok = false;
                why = size > package::kMaxEntryBytes
                          ? "entry \"" + name + "\" is larger than " + std::to_string(package::kMaxEntryBytes) + " bytes"
                          : "the package holds more than " + std::to_string(package::kMaxTotalBytes) + " bytes";
                break;
            }
            size_t done = 0;
            while (ok && done < static_cast<size_t>(n)) {
                const ssize_t w = ::write(fd, buffer + done, static_cast<size_t>(n) - done);
                if (w < 0 && errno == EINTR) continue;
                if (w < 0) {
                    ok = false;
                    why = temp.string() + ": " + std::strerror(errno);
                } else {
                    done += static_cast<size_t>(w);
                }
            }
            if (!ok) break;
        }
        if (::close(fd) != 0 && ok) {
            ok = false;
            why = temp.string() + ": " + std::strerror(errno);
        }
        // The CRC is checked when the entry is closed after a full read.
        const int closed = unzCloseCurrentFile(zf);
        if (closed != UNZ_OK && ok) {
            ok = false;
            why = "entry \"" + name + "\" fails its CRC check";
        }
        std::error_code ec;
        if (ok) {
            fs::rename(temp, target, ec);
            if (ec) {
                ok = false;
                why = target.string() + ": " + ec.message();
            }
        }
        if (!ok) {
            fs::remove(temp, ec);
            return Fail(why);
        }
        written.push_back(target);
        ++report.filesWritten;
        return true;
    }

    // A refused or failed package leaves nothing of itself behind.
    void RemoveWritten()
    {
        std::error_code ec;
        for (const fs::path& p : written) fs::remove(p, ec);
        written.clear();
    }

    bool Entry(unzFile zf)
    {
        unz_file_info64 info{};
        if (unzGetCurrentFileInfo64(zf, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK)
            return Fail("the archive directory is damaged");
        std::string name(info.size_filename, '\0');
        if (unzGetCurrentFileInfo64(zf, &info, name.data(), static_cast<uLong>(name.size()), nullptr, 0, nullptr,
                                    0) != UNZ_OK)
            return Fail("the archive directory is damaged");
        if (++entries > package::kMaxEntries)
            return Fail("the package holds more than " + std::to_string(package::kMaxEntries) + " entries");
        if (name.find('\0') != std::string::npos) return Refuse(name, "a NUL in the name");
        if (IsSymlinkEntry(info)) return Refuse(name, "a symbolic link");
        if (info.flag & 1) return Fail("entry \"" + name + "\" is encrypted");

        const bool isFolder = !name.empty() && IsSeparator(name.back());
        std::string reduced = ReduceEntryName(name);
        if (reduced.empty() && isFolder) return true;  // the extraction folder itself
        if (!EntryNameStaysInside(reduced)) return Refuse(name, "it leaves the extraction folder");
        std::replace(reduced.begin(), reduced.end(), '\\', '/');
        const fs::path relative = fs::path(reduced).relative_path();
        if (!NoLinkOnTheWay(folder, relative)) return Refuse(name, "a symbolic link is in its way");

        const fs::path target = folder / relative;
        std::error_code ec;
        if (isFolder) {
            fs::create_directories(target, ec);
            if (ec && !fs::is_directory(target)) return Fail(target.string() + ": " + ec.message());
            return true;
        }
        if (target.has_parent_path()) {
            fs::create_directories(target.parent_path(), ec);
            if (ec && !fs::is_directory(target.parent_path()))
                return Fail(target.parent_path().string() + ": " + ec.message());
        }
        return WriteEntry(zf, target, name, info);
    }

    bool Run(const fs::path& archive)
    {
        unzFile zf = unzOpen64(archive.c_str());
        if (!zf) return Fail(archive.string() + ": not a readable archive");
        bool ok = true;
        int rc = unzGoToFirstFile(zf);
        if (rc != UNZ_OK && rc != UNZ_END_OF_LIST_OF_FILE) ok = Fail("the archive directory is damaged");
        while (ok && rc == UNZ_OK) {
            ok = Entry(zf);
            if (!ok) break;
            rc = unzGoToNextFile(zf);
            if (rc != UNZ_OK && rc != UNZ_END_OF_LIST_OF_FILE) ok = Fail("the archive directory is damaged");
        }
        unzClose(zf);
        return ok;
    }
};

bool EndsWithNoCase(const std::string& s, const char* tail)
{
    const size_t n = std::strlen(tail);
    if (s.size() < n) return false;
    for (size_t k = 0; k < n; ++k)
        if (std::tolower(static_cast<unsigned char>(s[s.size() - n + k])) != tail[k]) return false;
    return true;
}

void CollectEntries(const fs::path& dir, const std::string& prefix, const fs::path& skip,
                    std::vector<std::pair<std::string, fs::path>>& out, std::error_code& ec)
{
    std::vector<fs::directory_entry> children;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) children.push_back(*it);
    if (ec) return;
    std::sort(children.begin(), children.end(),
              [](const auto& a, const auto& b) { return a.path().filename() < b.path().filename(); });
    for (const auto& child : children) {
        std::error_code e2;
        if (!skip.empty() && fs::equivalent(child.path(), skip, e2)) continue;
        const std::string name = prefix + child.path().filename().string();
        const fs::file_status st = fs::symlink_status(child.path(), e2);
        if (fs::is_directory(st)) {
            out.emplace_back(name + "/", child.path());
            CollectEntries(child.path(), name + "/", skip, out, ec);
            if (ec) return;
        } else if (fs::is_regular_file(child.path(), e2)) {
            // A link to a file is packed as the file; links to folders are
            // left out (they could loop).
            out.emplace_back(name, child.path());
        }
    }
}

void FillDate(const fs::path& path, zip_fileinfo& info)
{
    time_t t = std::time(nullptr);
    struct stat st {};
    if (!path.empty() && ::stat(path.c_str(), &st) == 0) t = st.st_mtime;
    struct tm local {};
    localtime_r(&t, &local);
    info.tmz_date.tm_sec = static_cast<uInt>(local.tm_sec);
    info.tmz_date.tm_min = static_cast<uInt>(local.tm_min);
    info.tmz_date.tm_hour = static_cast<uInt>(local.tm_hour);
    info.tmz_date.tm_mday = static_cast<uInt>(local.tm_mday);
    info.tmz_date.tm_mon = static_cast<uInt>(local.tm_mon);
    info.tmz_date.tm_year = static_cast<uInt>(local.tm_year + 1900);
}

// Deletes one path, lifting the write protection of its folder once when
// the first try fails.
bool RemoveOne(const fs::path& path)
{
    std::error_code ec;
    if (fs::remove(path, ec) || !ec) return true;
    const fs::path parent = path.parent_path();
    struct stat st {};
    if (::stat(parent.c_str(), &st) == 0) ::chmod(parent.c_str(), st.st_mode | S_IWUSR | S_IXUSR);
    struct stat own {};
    if (::lstat(path.c_str(), &own) == 0 && !S_ISLNK(own.st_mode)) ::chmod(path.c_str(), own.st_mode | S_IWUSR);
    ec.clear();
    return fs::remove(path, ec) || !ec;
}

void RemoveTree(const fs::path& dir)
{
    std::error_code ec;
    struct stat st {};
    // A folder without read or search permission cannot be listed.
    if (::stat(dir.c_str(), &st) == 0 && (st.st_mode & (S_IRUSR | S_IXUSR)) != (S_IRUSR | S_IXUSR))
        ::chmod(dir.c_str(), st.st_mode | S_IRUSR | S_IWUSR | S_IXUSR);
    std::vector<fs::path> children;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) children.push_back(it->path());
    for (const fs::path& child : children) {
        std::error_code e2;
        const fs::file_status s = fs::symlink_status(child, e2);
        if (fs::is_directory(s)) RemoveTree(child);
        else RemoveOne(child);
    }
    RemoveOne(dir);
}

}  // namespace

void InvertPackageBytes(std::string& bytes)
{
    for (size_t i = package::kPlainPrefix; i < bytes.size(); ++i) bytes[i] = static_cast<char>(~bytes[i]);
}

bool InvertPackageFile(const std::wstring& path, std::wstring* error)
{
    std::string bytes;
    int cause = 0;
    if (!filebytes::Read(path, bytes, &cause)) {
        if (error) *error = path + L": " + wtext::FromUtf8(std::strerror(cause));
        return false;
    }
    InvertPackageBytes(bytes);
    if (!filebytes::Write(path, bytes, &cause)) {
        if (error) *error = path + L": " + wtext::FromUtf8(std::strerror(cause));
        return false;
    }
    return true;
}

std::wstring PackageProgramFolder(const std::wstring& appFolder)
{
    // Extraction writes here: beside the program, or in the user's data
    // folder when the program folder is read-only (an installed program).
    return JoinPath(WritableFolder(appFolder), L"Program") + L"/";
}

std::wstring ExtractedFolder(const std::wstring& programFolder)
{
    return JoinPath(programFolder, package::kTopFolder);
}

std::wstring ModelWorkbookPath(const std::wstring& programFolder)
{
    return JoinPath(ExtractedFolder(programFolder), package::kModelWorkbook);
}

PackageFilePaths PackagePaths(const std::wstring& programFolder, const ModelFiles& names)
{
    const std::wstring top = ExtractedFolder(programFolder);
    PackageFilePaths p;
    p.dataFile = top + L"/data/" + names.dataFile + L".bin";
    p.initFile = top + L"/init/" + names.initFile + L".bin";
    p.calibrationFile = top + L"/calibration/" + names.calibrationFile + L".TTL";
    p.codeFile = top + L"/code/" + names.codeFile + L".bin";
    return p;
}

std::string ReduceEntryName(const std::string& name)
{
    std::string s = name;
    if (s.size() >= 2 && std::isalpha(static_cast<unsigned char>(s[0])) && s[1] == ':') s.erase(0, 2);
    size_t lead = 0;
    while (lead < s.size() && IsSeparator(s[lead])) ++lead;
    s.erase(0, lead);
    size_t cut = std::string::npos;
    for (const char* pattern : {"\\..\\", "\\../", "/../", "/..\\"}) {
        const size_t at = s.rfind(pattern);
        if (at != std::string::npos && (cut == std::string::npos || at > cut)) cut = at;
    }
    if (cut != std::string::npos) s.erase(0, cut + 4);
    return s;
}

bool EntryNameStaysInside(const std::string& reduced)
{
    if (reduced.empty() || IsSeparator(reduced[0])) return false;
    size_t start = 0;
    while (start <= reduced.size()) {
        size_t end = start;
        while (end < reduced.size() && !IsSeparator(reduced[end])) ++end;
        if (reduced.compare(start, end - start, "..") == 0 && end - start == 2) return false;
        start = end + 1;
    }
    return true;
}

bool OpenPackage(const std::wstring& packagePath, const std::wstring& programFolder, PackageOpenReport* report,
                 ModelCatalogue* catalogue)
{
    PackageOpenReport local;
    PackageOpenReport& r = report ? *report : local;
    r = PackageOpenReport();
    const fs::path folder = PathOf(programFolder);
    const std::wstring copy = JoinPath(programFolder, package::kWorkingCopy);
    std::error_code ec;

    // 1. The working copy.
    fs::create_directories(folder, ec);
    ec.clear();
    fs::copy_file(PathOf(packagePath), PathOf(copy), fs::copy_options::overwrite_existing, ec);

    // 2. Back to a plain archive.
    std::string bytes;
    int cause = 0;
    if (filebytes::Read(copy, bytes, &cause)) {
        InvertPackageBytes(bytes);
        if (!filebytes::Write(copy, bytes, &cause)) r.copyFailedText = FormatCopyFailed(cause, copy);
    } else {
        r.copyFailedText = FormatCopyFailed(cause, copy);
    }
    bytes.clear();
    bytes.shrink_to_fit();

    // 3. Extraction, into an empty folder: only this package's files may be
    // flashed from it.
    RemoveExtracted(programFolder);
    Extractor x{folder, r};
    if (!fs::is_regular_file(PathOf(copy), ec))
        x.Fail(wtext::ToUtf8(packagePath) + ": the package could not be copied");
    else
        r.extracted = x.Run(PathOf(copy));
    if (!r.extracted) {
        // Only a whole package is kept: half of one could be flashed.
        x.RemoveWritten();
        RemoveExtracted(programFolder);
        r.filesWritten = 0;
    }
    if (!r.extracted)
        LOG_MakeAndAddRunInfo(1, "package %s: %s", wtext::ToUtf8(packagePath).c_str(),
                              wtext::ToUtf8(r.failure).c_str());

    // 4. The copy goes.
    fs::remove(PathOf(copy), ec);

    // 5. The models of whatever the folder now holds.
    ModelCatalogue& models = catalogue ? *catalogue : TheModelCatalogue();
    r.catalogueLoaded = models.Load(ModelWorkbookPath(programFolder));
    return r.extracted;
}

int MakePackage(const std::wstring& sourceFolder, const std::wstring& packagePath)
{
    const fs::path source = PathOf(sourceFolder);
    const fs::path target = PathOf(packagePath);
    std::error_code ec;
    if (sourceFolder.empty() || !fs::is_directory(source, ec)) return package::kMakeNoSource;

    const std::string top = wtext::ToUtf8(package::kTopFolder);
    std::vector<std::pair<std::string, fs::path>> entries;
    entries.emplace_back(top + "/", fs::path());
    // The package may be proposed inside the source folder: it is never
    // packed into itself. It does not exist yet on a first run.
    fs::path skip;
    if (fs::exists(target, ec)) skip = target;
    CollectEntries(source, top + "/", skip, entries, ec);
    if (ec) return package::kMakeEntryFailed;

    zipFile zf = zipOpen64(target.c_str(), APPEND_STATUS_CREATE);
    if (!zf) return package::kMakeCannotCreate;
    static const char* const kStored[] = {".zip", ".zoo", ".arc", ".lzh", ".arj", ".tgz"};
    int result = package::kMakeOk;
    for (const auto& [name, path] : entries) {
        const bool isFolder = name.back() == '/';
        std::string data;
        if (!isFolder && !filebytes::Read(wtext::FromUtf8(path.string()), data)) {
            result = package::kMakeEntryFailed;
            break;
        }
        zip_fileinfo info{};
        FillDate(path, info);
        info.external_fa = isFolder ? 0x10 : 0x20;  // directory / archive attribute
        bool store = isFolder;
        for (const char* ext : kStored) store = store || EndsWithNoCase(name, ext);
        int rc = zipOpenNewFileInZip64(zf, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                                       store ? 0 : Z_DEFLATED, store ? 0 : 8, data.size() >= 0xFFFFFFFFull ? 1 : 0);
        size_t done = 0;
        while (rc == ZIP_OK && done < data.size()) {
            const unsigned chunk = static_cast<unsigned>(std::min<size_t>(data.size() - done, 1u << 30));
            rc = zipWriteInFileInZip(zf, data.data() + done, chunk);
            done += chunk;
        }
        if (rc == ZIP_OK) rc = zipCloseFileInZip(zf);
        if (rc != ZIP_OK) {
            result = package::kMakeEntryFailed;
            break;
        }
    }
    if (zipClose(zf, nullptr) != ZIP_OK && result == package::kMakeOk) result = package::kMakeEntryFailed;
    // Half a package is worse than none: it would open as a damaged one.
    if (result != package::kMakeOk) fs::remove(target, ec);
    return result;
}

std::wstring ProposeExportFile(const std::wstring& sourceFolder)
{
    const size_t at = sourceFolder.find_last_of(L"/\\");
    if (at == std::wstring::npos || sourceFolder.size() == 3) return sourceFolder + package::kDefaultPackageName;
    return sourceFolder.substr(0, at + 1) + package::kDefaultPackageName;
}

bool RemoveExtracted(const std::wstring& programFolder)
{
    const fs::path folder = PathOf(ExtractedFolder(programFolder));
    std::error_code ec;
    const fs::file_status st = fs::symlink_status(folder, ec);
    if (ec || !fs::exists(st)) return true;
    if (fs::is_directory(st))
        RemoveTree(folder);
    else
        RemoveOne(folder);
    return !fs::exists(fs::symlink_status(folder, ec));
}
