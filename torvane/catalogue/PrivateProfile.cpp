#include "PrivateProfile.h"

#include "WideText.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// A hand-edited settings file is a few kilobytes; anything this large is not
// one of ours and is not worth holding in memory.
constexpr size_t kMaxFileBytes = 16u * 1024u * 1024u;

enum class ReadResult { Ok, Missing, Failed };

ReadResult ReadWholeFile(const std::string& path, std::string& out)
{
    out.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? ReadResult::Missing : ReadResult::Failed;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return ReadResult::Failed;
    }
    char buf[8192];
    for (;;) {
        const ssize_t got = ::read(fd, buf, sizeof buf);
        if (got < 0) {
            if (errno == EINTR) continue;
            ::close(fd);
            return ReadResult::Failed;
        }
        if (got == 0) break;
        out.append(buf, static_cast<size_t>(got));
        if (out.size() > kMaxFileBytes) {
            ::close(fd);
            return ReadResult::Failed;
        }
    }
    ::close(fd);
    return ReadResult::Ok;
}

// INI files written by Windows tools are often UTF-16 with a byte order mark.
// They are read, and written back, in their own encoding; everything in
// between works on UTF-8.
enum class Encoding { Utf8, Utf16LE, Utf16BE };

std::string DecodeFile(const std::string& raw, Encoding& enc)
{
    enc = Encoding::Utf8;
    if (raw.size() < 2) return raw;
    const unsigned char b0 = static_cast<unsigned char>(raw[0]);
    const unsigned char b1 = static_cast<unsigned char>(raw[1]);
    if (b0 == 0xFF && b1 == 0xFE) enc = Encoding::Utf16LE;
    else if (b0 == 0xFE && b1 == 0xFF) enc = Encoding::Utf16BE;
    else return raw;
    std::wstring text;
    uint32_t pendingHigh = 0;
    for (size_t i = 2; i + 1 < raw.size(); i += 2) {
        const unsigned char lo = static_cast<unsigned char>(raw[enc == Encoding::Utf16LE ? i : i + 1]);
        const unsigned char hi = static_cast<unsigned char>(raw[enc == Encoding::Utf16LE ? i + 1 : i]);
        const uint32_t unit = (static_cast<uint32_t>(hi) << 8) | lo;
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (pendingHigh) text.push_back(L'\xFFFD');
            pendingHigh = unit;
            continue;
        }
        if (unit >= 0xDC00 && unit <= 0xDFFF) {
            text.push_back(pendingHigh ? static_cast<wchar_t>(0x10000 + ((pendingHigh - 0xD800) << 10) + (unit - 0xDC00))
                                       : L'\xFFFD');
            pendingHigh = 0;
            continue;
        }
        if (pendingHigh) text.push_back(L'\xFFFD');
        pendingHigh = 0;
        text.push_back(static_cast<wchar_t>(unit));
    }
    if (pendingHigh) text.push_back(L'\xFFFD');
    return wtext::ToUtf8(text);
}

std::string EncodeFile(const std::string& utf8, Encoding enc)
{
    if (enc == Encoding::Utf8) return utf8;
    std::string out;
    auto put = [&out, enc](uint32_t unit) {
        const char hi = static_cast<char>(unit >> 8);
        const char lo = static_cast<char>(unit & 0xFF);
        if (enc == Encoding::Utf16LE) { out.push_back(lo); out.push_back(hi); }
        else { out.push_back(hi); out.push_back(lo); }
    };
    put(0xFEFF);
    for (wchar_t c : wtext::FromUtf8(utf8)) {
        const uint32_t cp = static_cast<uint32_t>(c);
        if (cp >= 0x10000) {
            put(0xD800 + ((cp - 0x10000) >> 10));
            put(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            put(cp);
        }
    }
    return out;
}

struct Line {
    size_t begin = 0;   // first byte of the content (after a BOM on line 0)
    size_t end = 0;     // one past the content, before the line end
    size_t next = 0;    // one past the line end
};

std::vector<Line> SplitLines(const std::string& bytes)
{
    std::vector<Line> lines;
    size_t pos = 0;
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) pos = 3;
    while (pos < bytes.size()) {
        Line l;
        l.begin = pos;
        const size_t nl = bytes.find('\n', pos);
        if (nl == std::string::npos) {
            l.end = bytes.size();
            l.next = bytes.size();
        } else {
            l.end = (nl > pos && bytes[nl - 1] == '\r') ? nl - 1 : nl;
            l.next = nl + 1;
        }
        lines.push_back(l);
        pos = l.next;
    }
    return lines;
}

enum class Kind { Blank, Comment, Section, Key };

struct Parsed {
    Kind kind = Kind::Blank;
    std::wstring name;   // section or key name
    std::wstring value;  // key value, quotes removed
};

Parsed ParseLine(const std::string& bytes, const Line& l)
{
    Parsed p;
    const std::wstring text = wtext::Trim(wtext::FromUtf8(std::string_view(bytes).substr(l.begin, l.end - l.begin)));
    if (text.empty()) return p;
    if (text[0] == L';') {
        p.kind = Kind::Comment;
        return p;
    }
    if (text[0] == L'[') {
        p.kind = Kind::Section;
        const size_t close = text.rfind(L']');
        p.name = wtext::Trim(text.substr(1, close == std::wstring::npos || close == 0 ? std::wstring::npos : close - 1));
        return p;
    }
    p.kind = Kind::Key;
    const size_t eq = text.find(L'=');
    if (eq == std::wstring::npos) {
        p.name = text;
        return p;
    }
    p.name = wtext::Trim(text.substr(0, eq));
    std::wstring v = wtext::Trim(text.substr(eq + 1));
    if (v.size() >= 2 && (v.front() == L'"' || v.front() == L'\'') && v.back() == v.front()) {
        v = v.substr(1, v.size() - 2);
    }
    p.value = v;
    return p;
}

struct Location {
    bool sectionFound = false;
    size_t lastSectionLine = 0;  // header or last key line of the section
    bool keyFound = false;
    size_t keyLine = 0;
    std::wstring value;
};

Location Find(const std::string& bytes, const std::vector<Line>& lines, const std::wstring& section,
              const std::wstring& key)
{
    Location loc;
    const std::wstring wantSection = wtext::Trim(section);
    const std::wstring wantKey = wtext::Trim(key);
    bool inSection = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        const Parsed p = ParseLine(bytes, lines[i]);
        if (p.kind == Kind::Section) {
            if (inSection) break;  // only the first matching section counts
            if (wtext::EqualsNoCase(p.name, wantSection)) {
                inSection = true;
                loc.sectionFound = true;
                loc.lastSectionLine = i;
            }
            continue;
        }
        if (!inSection || p.kind != Kind::Key) continue;
        loc.lastSectionLine = i;
        if (!loc.keyFound && wtext::EqualsNoCase(p.name, wantKey)) {
            loc.keyFound = true;
            loc.keyLine = i;
            loc.value = p.value;
        }
    }
    return loc;
}

std::optional<std::wstring> Lookup(const std::wstring& section, const std::wstring& key, const std::wstring& path)
{
    std::string raw;
    if (ReadWholeFile(wtext::ToUtf8(path), raw) != ReadResult::Ok) return std::nullopt;
    Encoding enc;
    const std::string bytes = DecodeFile(raw, enc);
    const std::vector<Line> lines = SplitLines(bytes);
    Location loc = Find(bytes, lines, section, key);
    if (!loc.keyFound) return std::nullopt;
    return loc.value;
}

bool HasAny(const std::wstring& s, const wchar_t* chars)
{
    return s.find_first_of(chars, 0, std::char_traits<wchar_t>::length(chars) + 1) != std::wstring::npos;
}

bool WriteAll(int fd, const std::string& data)
{
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

std::string FolderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
}

// Writes `data` beside `target` and renames it over `target`.
bool ReplaceFile(const std::string& target, const std::string& data)
{
    std::string tmpl = target + ".XXXXXX";
    const int fd = ::mkstemp(tmpl.data());
    if (fd < 0) return false;
    struct stat st {};
    const mode_t mode = (::stat(target.c_str(), &st) == 0) ? (st.st_mode & 07777) : 0644;
    bool ok = ::fchmod(fd, mode) == 0 && WriteAll(fd, data) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok) ok = ::rename(tmpl.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(tmpl.c_str());
        return false;
    }
    // Make the rename itself durable.
    const int dfd = ::open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return true;
}

std::mutex& WriteMutex()
{
    static std::mutex m;
    return m;
}

// Held while a file of the folder is read, changed and replaced: another
// process writing a key at the same time (several torvane-cli flash runs
// share config.ini) would otherwise replace the file with its own copy and
// drop this key. The file itself cannot carry the lock, it is replaced.
class FolderWriteLock {
public:
    explicit FolderWriteLock(const std::string& folder)
        : fd_(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
    {
        if (fd_ >= 0)
            while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
            }
    }
    ~FolderWriteLock()
    {
        if (fd_ >= 0) ::close(fd_);
    }
    FolderWriteLock(const FolderWriteLock&) = delete;
    FolderWriteLock& operator=(const FolderWriteLock&) = delete;

private:
    int fd_;
};

}  // namespace

std::wstring PrivateProfileGetString(const std::wstring& section, const std::wstring& key, const std::wstring& def,
                                     const std::wstring& path, size_t capacity)
{
    std::wstring result;
    try {
        const std::optional<std::wstring> v = Lookup(section, key, path);
        result = v ? *v : def;
    } catch (...) {
        result = def;
    }
    if (capacity == 0) return std::wstring();
    if (result.size() > capacity - 1) result.resize(capacity - 1);
    return result;
}

int PrivateProfileGetInt(const std::wstring& section, const std::wstring& key, int def, const std::wstring& path)
{
    try {
        const std::optional<std::wstring> v = Lookup(section, key, path);
        if (!v || v->empty()) return def;
        return wtext::ParseInt(*v);
    } catch (...) {
        return def;
    }
}

bool PrivateProfileWriteString(const std::wstring& section, const std::wstring& key, const std::wstring& value,
                               const std::wstring& path)
{
    const std::wstring sec = wtext::Trim(section);
    const std::wstring k = wtext::Trim(key);
    if (sec.empty() || k.empty() || path.empty()) return false;
    if (HasAny(section, L"\r\n]") || HasAny(key, L"\r\n=") || HasAny(value, L"\r\n")) return false;
    if (k[0] == L'[' || k[0] == L';') return false;

    try {
        std::lock_guard<std::mutex> lock(WriteMutex());
        std::string target = wtext::ToUtf8(path);
        // Write through a symbolic link rather than replacing the link.
        if (char* real = ::realpath(target.c_str(), nullptr)) {
            target = real;
            std::free(real);
        }
        const FolderWriteLock folderLock(FolderOf(target));
        std::string raw;
        const ReadResult rr = ReadWholeFile(target, raw);
        if (rr == ReadResult::Failed) return false;
        Encoding enc;
        const std::string bytes = DecodeFile(raw, enc);

        const std::vector<Line> lines = SplitLines(bytes);
        std::string eol = "\n";
        const size_t firstNl = bytes.find('\n');
        if (firstNl != std::string::npos && firstNl > 0 && bytes[firstNl - 1] == '\r') eol = "\r\n";

        const Location loc = Find(bytes, lines, sec, k);
        const std::string v8 = wtext::ToUtf8(value);
        std::string out;
        if (loc.keyFound) {
            if (loc.value == value) return true;  // nothing to change
            const Line& l = lines[loc.keyLine];
            const size_t eq = bytes.find('=', l.begin);
            std::string content;
            if (eq != std::string::npos && eq < l.end) {
                size_t keep = eq + 1;
                while (keep < l.end && (bytes[keep] == ' ' || bytes[keep] == '\t')) ++keep;
                content = bytes.substr(l.begin, keep - l.begin) + v8;
            } else {
                size_t e = l.end;
                while (e > l.begin && (bytes[e - 1] == ' ' || bytes[e - 1] == '\t')) --e;
                content = bytes.substr(l.begin, e - l.begin) + "=" + v8;
            }
            out = bytes.substr(0, l.begin) + content + bytes.substr(l.end);
        } else if (loc.sectionFound) {
            const Line& l = lines[loc.lastSectionLine];
            out = bytes.substr(0, l.next);
            if (l.next == l.end) out += eol;  // last line of the file had no line end
            out += wtext::ToUtf8(k) + "=" + v8 + eol;
            out += bytes.substr(l.next);
        } else {
            out = bytes;
            if (!lines.empty()) {
                const Line& last = lines.back();
                if (last.next == last.end) out += eol;
                if (last.end > last.begin) {
                    const std::wstring lastText = wtext::Trim(
                        wtext::FromUtf8(std::string_view(bytes).substr(last.begin, last.end - last.begin)));
                    if (!lastText.empty()) out += eol;  // keep sections apart by a blank line
                }
            }
            out += "[" + wtext::ToUtf8(sec) + "]" + eol + wtext::ToUtf8(k) + "=" + v8 + eol;
        }
        return ReplaceFile(target, EncodeFile(out, enc));
    } catch (...) {
        return false;
    }
}
