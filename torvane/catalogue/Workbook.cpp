// Workbook access: the Book and Sheet objects of Workbook.h.
//
// A book keeps its sheets as rows of cells; texts live in one pool per book
// (each distinct text once), which never shrinks, so every text pointer that
// readStr hands out stays valid until release().
//
// Loading: our compound-file reader checks the container and takes out the
// workbook stream; one scan of the stream checks the records that FreeXL
// 1.0.6 would trust blindly and collects what FreeXL gets wrong (boolean and
// error cells, which it reports as plain integers, and formula results, which
// it skips); FreeXL then reads the stream from a container of our own making
// and gives the texts and numbers.
//
// Saving builds the BIFF8 stream and the container in memory and writes them
// to a temporary file in the target's folder that then replaces the target.
#include "Workbook.h"

#include "Biff8.h"
#include "CompoundFile.h"

#include <freexl.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <unordered_map>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace xls {

namespace {

using biff8::Cell;
using biff8::CellKind;

constexpr int kMaxRows = 65536;
constexpr int kMaxCols = 256;
constexpr std::size_t kMaxSheetNameUnits = 31;
constexpr std::size_t kMaxFileSize = 1u << 30;   // larger files are refused on load

// ---------------------------------------------------------------------------
// Text conversion

// UTF-16 code units a wide text needs.
std::size_t utf16Units(const wchar_t* s, std::size_t n) {
    std::size_t units = n;
    if constexpr (sizeof(wchar_t) == 4) {
        for (std::size_t i = 0; i < n; ++i)
            if (static_cast<std::uint32_t>(s[i]) >= 0x10000 && static_cast<std::uint32_t>(s[i]) <= 0x10FFFF) ++units;
    }
    return units;
}

void putUtf8(std::string& out, std::uint32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

// A path for the file system: UTF-8. False for text that is not valid Unicode.
bool pathToUtf8(const wchar_t* path, std::string& out) {
    out.clear();
    for (const wchar_t* p = path; *p; ++p) {
        std::uint32_t c = static_cast<std::uint32_t>(*p);
        if constexpr (sizeof(wchar_t) == 2) {
            if (c >= 0xD800 && c <= 0xDBFF) {
                std::uint32_t d = static_cast<std::uint32_t>(p[1]);
                if (d < 0xDC00 || d > 0xDFFF) return false;
                c = 0x10000 + ((c - 0xD800) << 10) + (d - 0xDC00);
                ++p;
            }
        }
        if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) return false;
        putUtf8(out, c);
    }
    return true;
}

void putWide(std::wstring& out, std::uint32_t c) {
    if constexpr (sizeof(wchar_t) == 2) {
        if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(static_cast<wchar_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<wchar_t>(0xDC00 + (c & 0x3FF)));
            return;
        }
    }
    out.push_back(static_cast<wchar_t>(c));
}

// FreeXL's UTF-8 to a wide text; malformed sequences become U+FFFD.
void utf8ToWide(const char* s, std::wstring& out) {
    out.clear();
    const auto* p = reinterpret_cast<const unsigned char*>(s);
    while (*p) {
        std::uint32_t c = *p;
        int extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
        if (extra < 0) {
            putWide(out, 0xFFFD);
            ++p;
            continue;
        }
        c &= extra == 0 ? 0x7F : (0x3F >> extra);
        int i = 1;
        for (; i <= extra; ++i) {
            if ((p[i] & 0xC0) != 0x80) break;
            c = (c << 6) | (p[i] & 0x3F);
        }
        if (i <= extra || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF ||
            (extra == 1 && c < 0x80) || (extra == 2 && c < 0x800) || (extra == 3 && c < 0x10000)) {
            putWide(out, 0xFFFD);
            p += i;
            continue;
        }
        putWide(out, c);
        p += extra + 1;
    }
}

std::string errnoText(const char* what, int err) { return std::string(what) + ": " + std::generic_category().message(err); }

// ---------------------------------------------------------------------------
// Files

bool readWholeFile(const std::string& path, std::vector<std::uint8_t>& data, std::string& error) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = errnoText("cannot open the file", errno);
        return false;
    }
    struct stat st;
    bool ok = false;
    if (::fstat(fd, &st) != 0) {
        error = errnoText("cannot read the file", errno);
    } else if (!S_ISREG(st.st_mode)) {
        error = "the path is not a regular file";
    } else if (st.st_size == 0) {
        error = "the file is empty";
    } else if (static_cast<std::uint64_t>(st.st_size) > kMaxFileSize) {
        error = "the file is too large for a workbook";
    } else {
        data.resize(static_cast<std::size_t>(st.st_size));
        std::size_t done = 0;
        ok = true;
        while (done < data.size()) {
            ssize_t n = ::read(fd, data.data() + done, data.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                error = n < 0 ? errnoText("cannot read the file", errno) : "the file changed while it was read";
                ok = false;
                break;
            }
            done += static_cast<std::size_t>(n);
        }
    }
    ::close(fd);
    return ok;
}

// Writes `data` to a new file in the target's folder, flushes it to disk and
// renames it over the target, so that the target is either the old file or
// the complete new one.
struct Chunk {
    const std::uint8_t* data;
    std::size_t size;
};

bool writeAll(int fd, const std::vector<Chunk>& chunks) {
    for (const Chunk& c : chunks) {
        std::size_t done = 0;
        while (done < c.size) {
            ssize_t n = ::write(fd, c.data + done, c.size - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                if (n == 0) errno = ENOSPC;
                return false;
            }
            done += static_cast<std::size_t>(n);
        }
    }
    return true;
}

bool replaceFile(const std::string& requested, const std::vector<Chunk>& chunks, std::string& error) {
    std::string target = requested;
    struct stat st;
    bool exists = false;
    if (::lstat(requested.c_str(), &st) == 0) {
        if (S_ISLNK(st.st_mode)) {  // write through a symbolic link, keep the link
            if (char* real = ::realpath(requested.c_str(), nullptr)) {
                target = real;
                std::free(real);
            }
        }
        if (::stat(target.c_str(), &st) == 0) {
            if (S_ISDIR(st.st_mode)) {
                error = "the path is a folder";
                return false;
            }
            exists = S_ISREG(st.st_mode);
        }
    }
    const std::size_t slash = target.find_last_of('/');
    const std::string dir = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);

    static std::atomic<unsigned> counter{0};
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = dir + ".torvane-save-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".tmp";
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        error = errnoText("cannot create a file in the target folder", errno);
        return false;
    }
    if (exists) (void)::fchmod(fd, st.st_mode & 07777);  // keep the old file's permissions

    bool ok = writeAll(fd, chunks);
    if (!ok) error = errnoText("cannot write the file", errno);
    if (ok && ::fsync(fd) != 0) {
        error = errnoText("cannot write the file", errno);
        ok = false;
    }
    if (::close(fd) != 0 && ok) {
        error = errnoText("cannot write the file", errno);
        ok = false;
    }
    if (ok && ::rename(temp.c_str(), target.c_str()) != 0) {
        error = errnoText("cannot replace the file", errno);
        ok = false;
    }
    if (!ok) ::unlink(temp.c_str());
    return ok;
}

// A file that FreeXL can open by name, holding `chunks`: an anonymous
// in-memory file (memfd, named through /proc/self/fd), or else a temporary
// file in the system's temporary folder. Gone when this object is.
class FreexlInput {
public:
    FreexlInput() = default;
    FreexlInput(const FreexlInput&) = delete;
    FreexlInput& operator=(const FreexlInput&) = delete;
    ~FreexlInput() {
        if (fd_ >= 0) ::close(fd_);
        if (!temp_.empty()) ::unlink(temp_.c_str());
    }

    bool create(const std::vector<Chunk>& chunks, std::string& error) {
#ifdef __linux__
        fd_ = ::memfd_create("torvane-workbook", MFD_CLOEXEC);
        if (fd_ >= 0) {
            path_ = "/proc/self/fd/" + std::to_string(fd_);
            if (writeAll(fd_, chunks) && ::access(path_.c_str(), R_OK) == 0) return true;
            ::close(fd_);
            fd_ = -1;
        }
#endif
        const char* tmp = std::getenv("TMPDIR");
        std::string name = std::string(tmp && *tmp ? tmp : "/tmp") + "/torvane-workbook-XXXXXX";
        std::vector<char> buf(name.begin(), name.end());
        buf.push_back(0);
        fd_ = ::mkstemp(buf.data());
        if (fd_ < 0) {
            error = errnoText("cannot create a temporary file", errno);
            return false;
        }
        temp_ = path_ = buf.data();
        if (!writeAll(fd_, chunks)) {
            error = errnoText("cannot write a temporary file", errno);
            return false;
        }
        return true;
    }
    const std::string& path() const { return path_; }

private:
    int fd_ = -1;
    std::string path_, temp_;
};

// ---------------------------------------------------------------------------
// FreeXL

const char* freexlError(int rc) {
    switch (rc) {
    case FREEXL_FILE_NOT_FOUND: return "the file does not exist";
    case FREEXL_INSUFFICIENT_MEMORY: return "out of memory";
    case FREEXL_INVALID_CFBF_HEADER:
    case FREEXL_CFBF_INVALID_SIGNATURE:
    case FREEXL_CFBF_INVALID_SECTOR_SIZE: return "the file is not a valid compound file (.xls)";
    case FREEXL_CFBF_READ_ERROR:
    case FREEXL_CFBF_SEEK_ERROR: return "the file is cut short";
    case FREEXL_CFBF_EMPTY_FAT_CHAIN:
    case FREEXL_CFBF_ILLEGAL_FAT_ENTRY:
    case FREEXL_INVALID_MINI_STREAM:
    case FREEXL_CFBF_ILLEGAL_MINI_FAT_ENTRY: return "the compound file's sector tables are damaged";
    case FREEXL_BIFF_INVALID_BOF: return "the workbook stream has an invalid BOF record";
    case FREEXL_BIFF_INVALID_SST:
    case FREEXL_BIFF_ILLEGAL_SST_INDEX: return "the workbook's shared string table is damaged";
    case FREEXL_BIFF_WORKBOOK_NOT_FOUND: return "the file holds no workbook stream";
    case FREEXL_INVALID_CHARACTER: return "the workbook holds text in an invalid encoding";
    case FREEXL_UNSUPPORTED_CHARSET: return "the workbook's code page is not supported";
    case FREEXL_ILLEGAL_RK_VALUE: return "the workbook holds an invalid number";
    case FREEXL_CRAFTED_FILE: return "the workbook is damaged";
    default: return "the workbook could not be read";
    }
}

struct FreexlHandle {
    const void* h = nullptr;
    ~FreexlHandle() {
        if (h) freexl_close(h);
    }
};

// Days from 1970-01-01 to a civil date (proleptic Gregorian).
long daysFromCivil(long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long>(doe) - 719468;
}

// FreeXL gives date and time cells as texts ("YYYY-MM-DD", "YYYY-MM-DD
// HH:MM:SS", "HH:MM:SS"); the interface knows numbers only, so they become
// the spreadsheet's date serial number again (to the second).
bool dateTextToSerial(int type, const char* text, bool mode1904, double& serial) {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    double days = 0;
    if (type == FREEXL_CELL_TIME) {
        if (std::sscanf(text, "%d:%d:%d", &h, &mi, &s) != 3) return false;
    } else {
        int n = std::sscanf(text, "%d-%d-%d %d:%d:%d", &y, &mo, &d, &h, &mi, &s);
        if (n != 3 && n != 6) return false;
        if (mo < 1 || mo > 12 || d < 1 || d > 31) return false;
        days = static_cast<double>(daysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)) -
                                   (mode1904 ? daysFromCivil(1904, 1, 1) : daysFromCivil(1899, 12, 30)));
    }
    serial = days + (h * 3600.0 + mi * 60.0 + s) / 86400.0;
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// Sheet and Book

class BookImpl;

class SheetImpl final : public Sheet {
public:
    SheetImpl(BookImpl& book, std::wstring name) : book_(book), name_(std::move(name)) {}
    ~SheetImpl() override = default;

    const wchar_t* name() const override { return name_.c_str(); }
    const wchar_t* readStr(int row, int col) override;
    double readNum(int row, int col) override {
        const Cell* c = find(row, col);
        if (!c) return 0;
        if (c->kind == biff8::kNumber) return c->num;
        if (c->kind == biff8::kBool) return c->code ? 1 : 0;
        return 0;
    }
    bool readBool(int row, int col) override {
        const Cell* c = find(row, col);
        if (!c) return false;
        if (c->kind == biff8::kBool) return c->code != 0;
        if (c->kind == biff8::kNumber) return c->num != 0;
        return false;
    }
    CellType cellType(int row, int col) override {
        const Cell* c = find(row, col);
        switch (c ? c->kind : biff8::kEmpty) {
        case biff8::kNumber: return CELLTYPE_NUMBER;
        case biff8::kString: return CELLTYPE_STRING;
        case biff8::kBool: return CELLTYPE_BOOLEAN;
        case biff8::kError: return CELLTYPE_ERROR;
        default: return CELLTYPE_EMPTY;
        }
    }
    int lastRow() override { return lastRow_; }
    int lastCol() override { return lastCol_; }

    bool writeStr(int row, int col, const wchar_t* text) override;
    bool writeNum(int row, int col, double value) override {
        if (!std::isfinite(value)) return false;  // a BIFF8 number cannot hold NaN or infinity
        Cell cell;
        cell.kind = biff8::kNumber;
        cell.num = value;
        return put(row, col, cell);
    }
    bool writeBool(int row, int col, bool value) override {
        Cell cell;
        cell.kind = biff8::kBool;
        cell.code = value ? 1 : 0;
        return put(row, col, cell);
    }

    const std::wstring& nameString() const { return name_; }
    const biff8::Rows& rows() const { return rows_; }

    // Stores a cell; false out of range or out of memory.
    bool put(int row, int col, const Cell& cell) {
        try {
            Cell* c = slot(row, col);
            if (!c) return false;
            *c = cell;
            return true;
        } catch (...) {
            return false;
        }
    }

private:
    static bool inRange(int row, int col) { return row >= 0 && row < kMaxRows && col >= 0 && col < kMaxCols; }

    const Cell* find(int row, int col) const {
        if (!inRange(row, col) || static_cast<std::size_t>(row) >= rows_.size()) return nullptr;
        const auto& r = rows_[static_cast<std::size_t>(row)];
        if (static_cast<std::size_t>(col) >= r.size() || r[static_cast<std::size_t>(col)].kind == biff8::kEmpty)
            return nullptr;
        return &r[static_cast<std::size_t>(col)];
    }

    // The cell at (row, col), created empty when missing; null out of range.
    // The extent covers it afterwards (every caller stores a value in it).
    Cell* slot(int row, int col) {
        if (!inRange(row, col)) return nullptr;
        const auto r = static_cast<std::size_t>(row), c = static_cast<std::size_t>(col);
        if (r >= rows_.size()) rows_.resize(r + 1);
        auto& cells = rows_[r];
        if (c >= cells.size()) cells.resize(c + 1);
        if (row >= lastRow_) lastRow_ = row + 1;
        if (col >= lastCol_) lastCol_ = col + 1;
        return &cells[c];
    }

    BookImpl& book_;
    std::wstring name_;
    biff8::Rows rows_;
    int lastRow_ = 0, lastCol_ = 0;
};

class BookImpl final : public Book {
public:
    bool load(const wchar_t* path) override;
    bool save(const wchar_t* path) override;
    Sheet* addSheet(const wchar_t* name) override;
    Sheet* getSheet(int index) override {
        if (index < 0 || static_cast<std::size_t>(index) >= sheets_.size()) return nullptr;
        return sheets_[static_cast<std::size_t>(index)].get();
    }
    int sheetCount() const override { return static_cast<int>(sheets_.size()); }
    const char* errorMessage() const override { return error_.c_str(); }
    void release() override { delete this; }

    // The pool index of a text, adding it when new.
    std::uint32_t intern(std::wstring_view text) {
        auto it = index_.find(text);
        if (it != index_.end()) return it->second;
        pool_.emplace_back(text);
        auto id = static_cast<std::uint32_t>(pool_.size() - 1);
        index_.emplace(std::wstring_view(pool_.back()), id);
        return id;
    }
    const wchar_t* text(std::uint32_t id) const { return pool_[id].c_str(); }

private:
    ~BookImpl() override = default;
    bool loadFile(const wchar_t* path);
    bool saveFile(const wchar_t* path);
    static bool sameSheetName(const std::wstring& a, const std::wstring& b);

    std::deque<std::wstring> pool_;  // deque: elements never move
    std::unordered_map<std::wstring_view, std::uint32_t> index_;
    std::vector<std::unique_ptr<SheetImpl>> sheets_;
    std::vector<std::unique_ptr<SheetImpl>> retired_;  // replaced by a load; kept until release
    std::string error_;
};

const wchar_t* SheetImpl::readStr(int row, int col) {
    const Cell* c = find(row, col);
    return c && c->kind == biff8::kString ? book_.text(c->str) : nullptr;
}

bool SheetImpl::writeStr(int row, int col, const wchar_t* text) {
    if (!text || !inRange(row, col)) return false;
    try {
        const std::size_t n = std::wcslen(text);
        if (utf16Units(text, n) > biff8::kMaxSharedTextUnits) return false;
        Cell cell;
        cell.kind = biff8::kString;
        cell.str = book_.intern(std::wstring_view(text, n));
        return put(row, col, cell);
    } catch (...) {
        return false;
    }
}

bool BookImpl::sameSheetName(const std::wstring& a, const std::wstring& b) {
    // Excel compares sheet names without regard to case.
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i] && std::towlower(static_cast<wint_t>(a[i])) != std::towlower(static_cast<wint_t>(b[i])))
            return false;
    return true;
}

Sheet* BookImpl::addSheet(const wchar_t* name) {
    if (!name) return nullptr;
    try {
        std::wstring n(name);
        const std::size_t units = utf16Units(n.data(), n.size());
        if (units == 0 || units > kMaxSheetNameUnits) return nullptr;
        // Characters Excel refuses in a sheet name (it would repair the file).
        if (n.find_first_of(L":\\/?*[]") != std::wstring::npos || n.front() == L'\'' || n.back() == L'\'')
            return nullptr;
        for (const auto& s : sheets_)
            if (sameSheetName(s->nameString(), n)) return nullptr;
        sheets_.push_back(std::make_unique<SheetImpl>(*this, std::move(n)));
        return sheets_.back().get();
    } catch (...) {
        return nullptr;
    }
}

bool BookImpl::load(const wchar_t* path) {
    error_.clear();
    try {
        return loadFile(path);
    } catch (const std::bad_alloc&) {
        error_ = "out of memory";
    } catch (...) {
        error_ = "unexpected failure while loading";
    }
    return false;
}

bool BookImpl::save(const wchar_t* path) {
    error_.clear();
    try {
        return saveFile(path);
    } catch (const std::bad_alloc&) {
        error_ = "out of memory";
    } catch (...) {
        error_ = "unexpected failure while saving";
    }
    return false;
}

bool BookImpl::loadFile(const wchar_t* path) {
    if (!path || !*path) {
        error_ = "no file name";
        return false;
    }
    std::string path8;
    if (!pathToUtf8(path, path8)) {
        error_ = "the file name is not valid Unicode";
        return false;
    }

    // FreeXL 1.0.6 trusts the file too much (sector chains and counts of the
    // container, lengths in records), so it never reads the file itself: our
    // reader checks the container and takes out the workbook stream, the scan
    // checks the stream's records, and FreeXL reads a container of our own
    // making around that stream.
    std::vector<biff8::ScannedSheet> scanned;
    FreexlHandle xl;
    int rc;
    {
        std::vector<std::uint8_t> stream;
        {
            std::vector<std::uint8_t> file;
            if (!readWholeFile(path8, file, error_)) return false;
            if (!cfb::readWorkbookStream(file.data(), file.size(), stream, error_)) return false;
        }
        if (!biff8::scanWorkbookStream(stream, scanned, error_)) return false;
        std::vector<std::uint8_t> head, tail;
        cfb::buildContainer(stream.size(), head, tail);
        FreexlInput input;
        if (!input.create({{head.data(), head.size()}, {stream.data(), stream.size()}, {tail.data(), tail.size()}},
                          error_))
            return false;
        rc = freexl_open(input.path().c_str(), &xl.h);  // reads the whole workbook
    }
    if (rc != FREEXL_OK) {
        error_ = freexlError(rc);
        return false;
    }
    unsigned info = 0;
    if (freexl_get_info(xl.h, FREEXL_BIFF_PASSWORD, &info) == FREEXL_OK && info == FREEXL_BIFF_OBFUSCATED) {
        error_ = "the workbook is encrypted";
        return false;
    }
    bool mode1904 = freexl_get_info(xl.h, FREEXL_BIFF_DATEMODE, &info) == FREEXL_OK && info == FREEXL_BIFF_DATEMODE_1904;
    unsigned count = 0;
    if ((rc = freexl_get_info(xl.h, FREEXL_BIFF_SHEET_COUNT, &count)) != FREEXL_OK) {
        error_ = freexlError(rc);
        return false;
    }

    std::vector<std::unique_ptr<SheetImpl>> loaded;
    std::wstring wide;
    for (unsigned i = 0; i < count; ++i) {
        const char* name8 = nullptr;
        if ((rc = freexl_get_worksheet_name(xl.h, static_cast<unsigned short>(i), &name8)) != FREEXL_OK ||
            (rc = freexl_select_active_worksheet(xl.h, static_cast<unsigned short>(i))) != FREEXL_OK) {
            error_ = freexlError(rc);
            return false;
        }
        utf8ToWide(name8 ? name8 : "", wide);
        auto sheet = std::make_unique<SheetImpl>(*this, wide);
        unsigned rows = 0;
        unsigned short cols = 0;
        if ((rc = freexl_worksheet_dimensions(xl.h, &rows, &cols)) != FREEXL_OK) {
            error_ = freexlError(rc);
            return false;
        }
        rows = std::min<unsigned>(rows, kMaxRows);
        cols = std::min<unsigned short>(cols, kMaxCols);
        for (unsigned r = 0; r < rows; ++r) {
            for (unsigned c = 0; c < cols; ++c) {
                FreeXL_CellValue v;
                if ((rc = freexl_get_cell_value(xl.h, r, static_cast<unsigned short>(c), &v)) != FREEXL_OK) {
                    error_ = freexlError(rc);
                    return false;
                }
                Cell cell;
                switch (v.type) {
                case FREEXL_CELL_INT:
                    cell.kind = biff8::kNumber;
                    cell.num = v.value.int_value;
                    break;
                case FREEXL_CELL_DOUBLE:
                    cell.kind = biff8::kNumber;
                    cell.num = v.value.double_value;
                    break;
                case FREEXL_CELL_TEXT:
                case FREEXL_CELL_SST_TEXT:
                    utf8ToWide(v.value.text_value ? v.value.text_value : "", wide);
                    cell.kind = biff8::kString;
                    cell.str = intern(wide);
                    break;
                case FREEXL_CELL_DATE:
                case FREEXL_CELL_DATETIME:
                case FREEXL_CELL_TIME:
                    if (v.value.text_value && dateTextToSerial(v.type, v.value.text_value, mode1904, cell.num)) {
                        cell.kind = biff8::kNumber;
                    } else {
                        utf8ToWide(v.value.text_value ? v.value.text_value : "", wide);
                        cell.kind = biff8::kString;
                        cell.str = intern(wide);
                    }
                    break;
                default:
                    continue;
                }
                sheet->put(static_cast<int>(r), static_cast<int>(c), cell);
            }
        }

        // Boolean and error cells, which FreeXL gave as integers, and formula
        // results, which it left out.
        const biff8::ScannedSheet* special = nullptr;
        if (scanned.size() == count) {
            special = &scanned[i];
        } else {
            for (const auto& s : scanned)
                if (s.name == sheet->nameString()) special = &s;
        }
        if (special) {
            for (const auto& sc : special->cells) {
                Cell cell;
                cell.kind = sc.kind;
                if (sc.kind == biff8::kBool) cell.code = sc.code ? 1 : 0;
                else if (sc.kind == biff8::kError) cell.code = sc.code;
                else if (sc.kind == biff8::kNumber) cell.num = sc.num;
                else cell.str = intern(sc.text);
                sheet->put(sc.row, sc.col, cell);
            }
        }
        loaded.push_back(std::move(sheet));
    }

    // Replace the sheets; the old ones stay alive until release, so pointers
    // that callers still hold do not dangle.
    for (auto& s : sheets_) retired_.push_back(std::move(s));
    sheets_ = std::move(loaded);
    return true;
}

bool BookImpl::saveFile(const wchar_t* path) {
    if (!path || !*path) {
        error_ = "no file name";
        return false;
    }
    std::string path8;
    if (!pathToUtf8(path, path8)) {
        error_ = "the file name is not valid Unicode";
        return false;
    }
    if (sheets_.empty()) {
        error_ = "the workbook has no sheets";
        return false;
    }
    if (sheets_.size() > biff8::kMaxSheets) {
        error_ = "the workbook has too many sheets (more than 4096)";
        return false;
    }

    // Shared strings: each text used by a cell once, in order of first use.
    // The limits are those under which FreeXL reads the file back.
    biff8::SstOut sst;
    sst.poolToSst.assign(pool_.size(), biff8::kNotShared);
    std::vector<biff8::SheetOut> sheets;
    sheets.reserve(sheets_.size());
    std::uint64_t cells = 0;
    for (const auto& s : sheets_) {
        sheets.push_back({&s->nameString(), &s->rows()});
        cells += static_cast<std::uint64_t>(s->lastRow()) * static_cast<std::uint64_t>(s->lastCol());
        for (const auto& row : s->rows()) {
            for (const Cell& c : row) {
                if (c.kind != biff8::kString || pool_[c.str].empty()) continue;
                ++sst.totalRefs;
                if (sst.poolToSst[c.str] == biff8::kNotShared) {
                    sst.poolToSst[c.str] = static_cast<std::uint32_t>(sst.texts.size());
                    sst.texts.push_back(&pool_[c.str]);
                }
            }
        }
    }
    if (cells > biff8::kMaxDeclaredCells) {
        error_ = "the sheets span too many cells (more than 16777216 in all)";
        return false;
    }
    if (sst.texts.size() > biff8::kMaxSharedTexts) {
        error_ = "the workbook holds too many distinct texts (more than 1048576)";
        return false;
    }

    std::vector<std::uint8_t> stream, head, tail;
    biff8::writeWorkbookStream(sheets, sst, stream);
    if (stream.size() > 0x7FFFFFFFu) {
        error_ = "the workbook is too large for the .xls format";
        return false;
    }
    cfb::buildContainer(stream.size(), head, tail);
    return replaceFile(path8, {{head.data(), head.size()}, {stream.data(), stream.size()}, {tail.data(), tail.size()}},
                       error_);
}

}  // namespace xls

xls::Book* xlCreateBookW() {
    try {
        return new xls::BookImpl();
    } catch (...) {
        return nullptr;  // out of memory: the one case the factory cannot meet
    }
}
