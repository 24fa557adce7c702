// The sample program package: model workbook, EE power data, EE init,
// calibration and application images, zipped under the top folder
// "ProgramFile" and stored in the package form.
#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

#include "BookUtil.h"
#include "SampleData.h"

namespace fs = std::filesystem;

namespace databuild {

namespace {

// Capacities the download view and the download sequence rely on.
constexpr size_t kModelTextCap = 31;       // every model workbook cell
constexpr size_t kSeriesCap = 6;           // bytes of registers 0x032B..0x032D
constexpr size_t kPartNumberCap = 8;       // bytes read from EE address 153
constexpr size_t kMaxModels = 1024, kMaxSeries = 32;
constexpr size_t kCalibrationCap = 30;     // characters before the "\n"
constexpr size_t kMaxCalibration = 256;
// EE map of the drive: power data from 128, init data from 1152, the mode
// word at 0x600. Blocks are padded to 128 bytes, so an image may use its
// window up to the next 128-byte boundary and no further.
constexpr long kDataWindow = 1152 - 128;
constexpr long kInitWindow = 0x600 - 1152;
constexpr long kCodeWindow = 6 * 128 * 1024;  // flash blocks 2 to 7
constexpr long kPartNumberOffset = 153 - 128;

bool IsPrintableAscii(const std::string& s) {
    for (char c : s)
        if (c < 0x21 || c > 0x7E) return false;
    return true;
}

bool IsAsciiText(const std::string& s) {
    for (char c : s)
        if (c < 0x20 || c > 0x7E) return false;
    return true;
}

// Names become file names below the extracted package.
bool IsPlainName(const std::string& s) {
    if (s.empty() || s.size() > kModelTextCap) return false;
    for (char c : s)
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
              c == '_' || c == '-'))
            return false;
    return true;
}

bool EndsWithNoCase(const std::string& s, const char* tail) {
    size_t n = std::char_traits<char>::length(tail);
    if (s.size() < n) return false;
    for (size_t k = 0; k < n; ++k)
        if (std::tolower(static_cast<unsigned char>(s[s.size() - n + k])) != tail[k]) return false;
    return true;
}

}  // namespace

bool LoadModelSource(const std::string& path, std::vector<ModelRow>& out, std::string& error) {
    out.clear();
    std::vector<CsvRow> rows;
    if (!ReadCsvTable(path,
                      {"series", "part_number", "power", "data", "calibration", "code", "init"},
                      rows, error))
        return false;
    std::set<std::string> series, models;
    for (const auto& row : rows) {
        const auto& c = row.cells;
        std::string where = Where(path, row.line);
        ModelRow m{row.line, c[0], c[1], c[2], c[3], c[4], c[5], c[6]};
        for (const auto& t : c)
            if (t.empty() || t.size() > kModelTextCap || !IsPrintableAscii(t)) {
                error = where + "every cell needs 1 to 31 printable ASCII characters";
                return false;
            }
        if (m.series.size() > kSeriesCap) {
            error = where + "series longer than the 6 bytes the drive reports";
            return false;
        }
        if (m.partNumber.size() > kPartNumberCap) {
            error = where + "part number longer than the 8 bytes the drive reports";
            return false;
        }
        for (const std::string* name : {&m.dataFile, &m.calibrationFile, &m.codeFile, &m.initFile})
            if (!IsPlainName(*name)) {
                error = where + "file name \"" + *name + "\" must be letters, digits, _ and -";
                return false;
            }
        if (!models.insert(m.series + "\n" + m.partNumber + "\n" + m.power).second) {
            error = where + "model listed twice";
            return false;
        }
        series.insert(m.series);
        out.push_back(std::move(m));
    }
    if (out.empty() || out.size() > kMaxModels || series.size() > kMaxSeries) {
        error = path + ": 1 to 1024 models of at most 32 series are needed";
        return false;
    }
    return true;
}

bool LoadImageSource(const std::string& path, std::vector<ImageSpec>& out, std::string& error) {
    out.clear();
    std::vector<CsvRow> rows;
    if (!ReadCsvTable(path, {"folder", "name", "size", "seed", "zero_blocks", "patches"}, rows,
                      error))
        return false;
    std::set<std::string> names;
    for (const auto& row : rows) {
        const auto& c = row.cells;
        std::string where = Where(path, row.line);
        ImageSpec s;
        s.line = row.line;
        s.folder = c[0];
        s.name = c[1];
        long window;
        if (s.folder == "data") window = kDataWindow;
        else if (s.folder == "init") window = kInitWindow;
        else if (s.folder == "code") window = kCodeWindow;
        else {
            error = where + "folder must be data, init or code";
            return false;
        }
        if (!IsPlainName(s.name) || !names.insert(s.folder + "/" + s.name).second) {
            error = where + "image name must be a new plain name";
            return false;
        }
        long long size, seed;
        if (!ParseInt(c[2], size) || size < 0 || size > window) {
            error = where + "size must lie within the image's window of " +
                    std::to_string(window) + " bytes";
            return false;
        }
        if (!ParseInt(c[3], seed) || seed <= 0 || seed > 0xFFFFFFFFLL) {
            error = where + "seed must be a non-zero 32-bit number";
            return false;
        }
        s.size = static_cast<long>(size);
        s.seed = static_cast<uint32_t>(seed);
        // zero_blocks: block indexes separated by ";".
        std::string list = c[4];
        size_t start = 0;
        while (start < list.size()) {
            size_t end = list.find(';', start);
            if (end == std::string::npos) end = list.size();
            long long block;
            if (!ParseInt(list.substr(start, end - start), block) || block < 0 ||
                (block + 1) * 128 > s.size) {
                error = where + "zero block must be a whole 128-byte block of the image";
                return false;
            }
            s.zeroBlocks.push_back(static_cast<long>(block));
            start = end + 1;
        }
        // patches: OFFSET=TEXT separated by ";"; the text is written with a NUL after it.
        list = c[5];
        start = 0;
        while (start < list.size()) {
            size_t end = list.find(';', start);
            if (end == std::string::npos) end = list.size();
            std::string item = list.substr(start, end - start);
            size_t eq = item.find('=');
            long long offset;
            if (eq == std::string::npos || !ParseInt(item.substr(0, eq), offset) || offset < 0 ||
                !IsAsciiText(item.substr(eq + 1)) ||
                offset + static_cast<long long>(item.size() - eq) > s.size) {
                error = where + "patch must be OFFSET=TEXT inside the image";
                return false;
            }
            s.patches.emplace_back(static_cast<long>(offset), item.substr(eq + 1));
            start = end + 1;
        }
        out.push_back(std::move(s));
    }
    return true;
}

std::string GenerateImage(const ImageSpec& image) {
    std::string bytes(static_cast<size_t>(image.size), '\0');
    uint32_t x = image.seed;
    for (auto& b : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<char>(x >> 24);
    }
    for (long block : image.zeroBlocks)
        std::fill(bytes.begin() + block * 128, bytes.begin() + (block + 1) * 128, '\0');
    for (const auto& p : image.patches) {
        std::copy(p.second.begin(), p.second.end(), bytes.begin() + p.first);
        bytes[p.first + p.second.size()] = '\0';
    }
    return bytes;
}

std::vector<std::string> CalibrationCommands(std::string_view text) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        size_t next = end == std::string_view::npos ? text.size() : end + 1;
        std::string_view line = text.substr(start, (end == std::string_view::npos ? text.size() : end) - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        size_t at = line.find("VKR pm write_ee");
        if (at != std::string_view::npos) {
            std::string_view cmd = line.substr(at, line.size() - at - 1);
            out.push_back(std::string(cmd) + "\n");
        }
        start = next;
    }
    return out;
}

bool WriteModelBook(const std::vector<ModelRow>& models, const std::string& outPath,
                    std::string& error) {
    BookHolder h;
    xls::Sheet* s = h.book->addSheet(L"Model");
    if (!s) {
        error = "cannot add the sheet";
        return false;
    }
    bool ok = Put(s, 0, 0, "Torvane program package model list");
    static const char* headings[7] = {"Series",    "Part number", "Power",    "Data file",
                                      "Calibration file", "Code file", "Init file"};
    for (int k = 0; k < 7; ++k) ok = Put(s, 1, k, headings[k]) && ok;
    int row = 2;
    for (const auto& m : models) {
        const std::string* cells[7] = {&m.series,   &m.partNumber, &m.power,   &m.dataFile,
                                       &m.calibrationFile, &m.codeFile, &m.initFile};
        for (int k = 0; k < 7; ++k) ok = Put(s, row, k, *cells[k]) && ok;
        ++row;
    }
    if (!ok) {
        error = outPath + ": a cell could not be stored";
        return false;
    }
    return SaveBook(h, outPath, error);
}

bool BuildProgramFolder(const std::vector<ModelRow>& models, const std::vector<ImageSpec>& images,
                        const std::string& calibrationDir, const std::string& stagingDir,
                        std::string& error) {
    std::map<std::string, std::string> generated;  // "folder/name" -> bytes
    for (const auto& image : images) generated[image.folder + "/" + image.name] = GenerateImage(image);

    // Every model's files must be in the package, and the data image must
    // carry the model's part number where the drive reports it from.
    std::set<std::string> usedCalibration, usedImages;
    for (const auto& m : models) {
        std::string where = Where("models", m.line);
        for (auto [folder, name] : {std::pair{"data", &m.dataFile}, std::pair{"init", &m.initFile},
                                    std::pair{"code", &m.codeFile}}) {
            std::string key = std::string(folder) + "/" + *name;
            if (!generated.count(key)) {
                error = where + "no " + folder + " image " + *name;
                return false;
            }
            usedImages.insert(key);
        }
        const std::string& data = generated["data/" + m.dataFile];
        std::string expect = m.partNumber + std::string(1, '\0');
        if (data.size() < kPartNumberOffset + expect.size() ||
            data.compare(kPartNumberOffset, expect.size(), expect) != 0) {
            error = where + "data image " + m.dataFile + " does not hold part number " +
                    m.partNumber + " at offset 25 (EE address 153)";
            return false;
        }
        usedCalibration.insert(m.calibrationFile);
    }
    for (const auto& [key, bytes] : generated)
        if (!usedImages.count(key)) {
            error = "image " + key + " is not used by any model";
            return false;
        }

    std::error_code ec;
    fs::remove_all(stagingDir, ec);
    for (const char* sub : {"data", "init", "calibration", "code"}) {
        fs::create_directories(fs::path(stagingDir) / sub, ec);
        if (ec) {
            error = stagingDir + ": cannot create folders: " + ec.message();
            return false;
        }
    }
    for (const auto& [key, bytes] : generated)
        if (!WriteFileBytes(stagingDir + "/" + key + ".bin", bytes, error)) return false;

    for (const auto& name : usedCalibration) {
        std::string text;
        std::string src = calibrationDir + "/" + name + ".TTL";
        if (!ReadFileBytes(src, text, error)) return false;
        auto commands = CalibrationCommands(text);
        if (commands.empty() || commands.size() > kMaxCalibration) {
            error = src + ": 1 to 256 \"VKR pm write_ee\" lines are needed";
            return false;
        }
        for (const auto& c : commands)
            if (c.size() - 1 > kCalibrationCap) {
                error = src + ": command \"" + c.substr(0, c.size() - 1) +
                        "\" is longer than 30 characters";
                return false;
            }
        for (size_t start = 0; start < text.size();) {
            size_t end = text.find('\n', start);
            size_t len = (end == std::string::npos ? text.size() : end) - start;
            if (len > 1023) {
                error = src + ": a line longer than 1023 characters would end the reading";
                return false;
            }
            start = end == std::string::npos ? text.size() : end + 1;
        }
        if (!WriteFileBytes(stagingDir + "/calibration/" + name + ".TTL", text, error))
            return false;
    }
    return WriteModelBook(models, stagingDir + "/VKR_MODEL.xls", error);
}

namespace {

void CollectEntries(const fs::path& dir, const std::string& prefix,
                    std::vector<std::pair<std::string, fs::path>>& out, std::error_code& ec) {
    std::vector<fs::directory_entry> children;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        children.push_back(*it);
    std::sort(children.begin(), children.end(),
              [](const auto& a, const auto& b) { return a.path().filename() < b.path().filename(); });
    for (const auto& child : children) {
        std::string name = prefix + child.path().filename().string();
        if (child.is_directory(ec)) {
            out.emplace_back(name + "/", child.path());
            CollectEntries(child.path(), name + "/", out, ec);
        } else {
            out.emplace_back(name, child.path());
        }
    }
}

}  // namespace

bool ZipFolder(const std::string& sourceDir, const std::string& topName,
               const std::string& zipPath, std::string& error) {
    std::error_code ec;
    if (!fs::is_directory(sourceDir, ec)) {
        error = sourceDir + ": no such folder";
        return false;
    }
    std::vector<std::pair<std::string, fs::path>> entries;
    entries.emplace_back(topName + "/", fs::path());
    CollectEntries(sourceDir, topName + "/", entries, ec);
    if (ec) {
        error = sourceDir + ": " + ec.message();
        return false;
    }
    zipFile zf = zipOpen64(zipPath.c_str(), APPEND_STATUS_CREATE);
    if (!zf) {
        error = zipPath + ": cannot create the archive";
        return false;
    }
    bool ok = true;
    for (const auto& [name, path] : entries) {
        bool folder = name.back() == '/';
        std::string bytes;
        if (!folder && !ReadFileBytes(path.string(), bytes, error)) {
            ok = false;
            break;
        }
        zip_fileinfo info{};
        info.tmz_date.tm_year = 2026;
        info.tmz_date.tm_mon = 0;
        info.tmz_date.tm_mday = 1;
        info.external_fa = folder ? 0x10 : 0x20;  // directory / archive attribute
        static const char* stored[] = {".zip", ".zoo", ".arc", ".lzh", ".arj", ".tgz"};
        bool store = folder;
        for (const char* ext : stored) store = store || EndsWithNoCase(name, ext);
        int rc = zipOpenNewFileInZip64(zf, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                                       store ? 0 : Z_DEFLATED, store ? 0 : 8,
                                       bytes.size() >= 0xFFFFFFFFull ? 1 : 0);
        if (rc == ZIP_OK && !bytes.empty())
            rc = zipWriteInFileInZip(zf, bytes.data(), static_cast<unsigned>(bytes.size()));
        if (rc == ZIP_OK) rc = zipCloseFileInZip(zf);
        if (rc != ZIP_OK) {
            error = zipPath + ": cannot add " + name;
            ok = false;
            break;
        }
    }
    if (zipClose(zf, nullptr) != ZIP_OK && ok) {
        error = zipPath + ": cannot finish the archive";
        ok = false;
    }
    return ok;
}

void InvertPackage(std::string& bytes) {
    for (size_t i = 32; i < bytes.size(); ++i) bytes[i] = static_cast<char>(~bytes[i]);
}

}  // namespace databuild
