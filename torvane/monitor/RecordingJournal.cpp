#include "RecordingJournal.h"

#include "HistoryFile.h"
#include "WideText.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace journal {

namespace {

constexpr char kMagic[8] = {'T', 'V', 'J', 'R', 'N', 'L', '0', '1'};
constexpr uint32_t kMaxRecord = 64 * 1024;

int64_t SteadyMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

template <typename T>
void Put(std::string& out, T v)
{
    char b[sizeof(T)];
    std::memcpy(b, &v, sizeof(T));  // the platforms built for are little-endian
    out.append(b, sizeof(T));
}

void PutText(std::string& out, const std::wstring& text)
{
    std::string u = wtext::ToUtf8(text);
    if (u.size() > 0xFFFF) u.resize(0xFFFF);
    Put<uint16_t>(out, static_cast<uint16_t>(u.size()));
    out += u;
}

class Cursor {
public:
    Cursor(const char* p, size_t n) : p_(p), n_(n) {}
    template <typename T>
    bool Get(T& v)
    {
        if (n_ - at_ < sizeof(T)) return false;
        std::memcpy(&v, p_ + at_, sizeof(T));
        at_ += sizeof(T);
        return true;
    }
    bool GetText(std::wstring& text)
    {
        uint16_t len = 0;
        if (!Get(len) || n_ - at_ < len) return false;
        text = wtext::FromUtf8(std::string(p_ + at_, len));
        at_ += len;
        return true;
    }

private:
    const char* p_;
    size_t n_;
    size_t at_ = 0;
};

std::string HeaderPayload(const Header& h)
{
    std::string p;
    Put<uint64_t>(p, h.startMs);
    Put<uint8_t>(p, h.continuous ? 1 : 0);
    PutText(p, h.model);
    PutText(p, h.intervalName);
    for (const MonitorSignal& s : h.signalSet) {
        Put<uint32_t>(p, s.address);
        Put<uint8_t>(p, s.enabled ? 1 : 0);
        Put<int32_t>(p, s.exponent);
        Put<float>(p, s.scale);
        PutText(p, s.name);
    }
    return p;
}

bool ParseHeader(const std::string& p, Header& h)
{
    Cursor c(p.data(), p.size());
    uint8_t continuous = 0;
    if (!c.Get(h.startMs) || !c.Get(continuous) || !c.GetText(h.model) || !c.GetText(h.intervalName)) return false;
    h.continuous = continuous != 0;
    for (MonitorSignal& s : h.signalSet) {
        if (!c.Get(s.address) || !c.Get(s.enabled) || !c.Get(s.exponent) || !c.Get(s.scale) || !c.GetText(s.name))
            return false;
    }
    return true;
}

std::string LocalStamp(uint64_t ms)
{
    const std::time_t t = static_cast<std::time_t>(ms / 1000);
    std::tm local{};
    localtime_r(&t, &local);
    char stamp[64] = {0};
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H%M%S", &local);
    return stamp;
}

// The model as part of a file name: a journal read back may hold anything,
// and its file must still land in the history folder.
std::wstring SafeName(const std::wstring& model)
{
    std::wstring n = model.substr(0, 64);
    for (wchar_t& c : n)
        if (c < 0x20 || std::wstring(L"/\\:*?\"<>|").find(c) != std::wstring::npos) c = L'_';
    if (!n.empty() && n[0] == L'.') n[0] = L'_';
    return n;
}

bool Exists(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

bool WriteAll(int fd, const char* p, size_t n)
{
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

}  // namespace

const wchar_t* Extension() { return L".journal"; }

CJournalWriter::~CJournalWriter() { Close(false); }

bool CJournalWriter::Open(const std::wstring& folder, const Header& header, std::string* error)
{
    Close(false);
    const std::string base = wtext::ToUtf8(folder + SafeName(header.model)) + LocalStamp(header.startMs);
    std::string path;
    for (int n = 1; n < 1000 && fd_ < 0; ++n) {
        path = base + (n == 1 ? std::string() : " " + std::to_string(n)) + wtext::ToUtf8(Extension());
        fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd_ < 0 && errno != EEXIST) break;
    }
    if (fd_ < 0) {
        if (error) *error = "the journal could not be created: " + path + ": " + std::strerror(errno);
        return false;
    }
    ::flock(fd_, LOCK_EX | LOCK_NB);
    // The new name itself must survive a power cut, not only the bytes.
    const int dir = ::open(wtext::ToUtf8(folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    path_ = wtext::FromUtf8(path);
    header_ = header;
    failed_ = false;
    samples_ = 0;
    if (!WriteAll(fd_, kMagic, sizeof kMagic) || !WriteRecord('H', HeaderPayload(header_))) {
        if (error) *error = "the journal could not be written: " + path;
        Close(true);
        return false;
    }
    headerEnd_ = sizeof kMagic + 4 + 1 + HeaderPayload(header_).size() + 4;
    return Sync();
}

bool CJournalWriter::WriteRecord(char type, const std::string& payload)
{
    if (fd_ < 0 || failed_) return false;
    std::string rec;
    rec.reserve(payload.size() + 9);
    Put<uint32_t>(rec, static_cast<uint32_t>(payload.size() + 1));
    rec += type;
    rec += payload;
    const uLong crc = crc32(0L, reinterpret_cast<const Bytef*>(rec.data()), static_cast<uInt>(rec.size()));
    Put<uint32_t>(rec, static_cast<uint32_t>(crc));
    // One write per record: a crash tears at most the last one.
    if (!WriteAll(fd_, rec.data(), rec.size())) {
        failed_ = true;
        return false;
    }
    if (!dirty_) dirtySinceMs_ = SteadyMs();
    dirty_ = true;
    return true;
}

bool CJournalWriter::AppendSample(uint64_t timeMs, const MonitorSample& sample)
{
    std::string p;
    p.reserve(8 + 2 + 4 * kMonitorSlots);
    Put<uint64_t>(p, timeMs);
    uint16_t mask = 0;
    for (int j = 0; j < kMonitorSlots; ++j)
        if (sample.entries[j].valid) mask = static_cast<uint16_t>(mask | (1u << j));
    Put<uint16_t>(p, mask);
    for (int j = 0; j < kMonitorSlots; ++j) Put<float>(p, sample.entries[j].value);
    if (!WriteRecord('S', p)) return false;
    ++samples_;
    return true;
}

bool CJournalWriter::AppendIntervalChange(const IntervalChange& change)
{
    std::string p;
    Put<uint64_t>(p, change.timeMs);
    PutText(p, change.intervalName);
    PutText(p, change.reason);
    return WriteRecord('I', p);
}

bool CJournalWriter::Restart(const std::vector<IntervalChange>& changes)
{
    if (fd_ < 0) return false;
    // The samples so far are in a history file now; a crash before the
    // truncation reaches the disk recovers them once more, never fewer.
    if (::ftruncate(fd_, static_cast<off_t>(headerEnd_)) != 0 ||
        ::lseek(fd_, static_cast<off_t>(headerEnd_), SEEK_SET) < 0) {
        failed_ = true;
        return false;
    }
    failed_ = false;
    samples_ = 0;
    for (const IntervalChange& c : changes) AppendIntervalChange(c);
    return Sync();
}

bool CJournalWriter::Sync()
{
    if (fd_ < 0) return false;
    dirty_ = false;
    return ::fdatasync(fd_) == 0;
}

void CJournalWriter::Close(bool remove)
{
    if (fd_ < 0) return;
    if (remove) ::unlink(wtext::ToUtf8(path_).c_str());
    else ::fdatasync(fd_);
    ::close(fd_);  // releases the lock
    fd_ = -1;
    dirty_ = false;
}

bool Read(const std::wstring& path, Contents& out, std::string* error)
{
    auto fail = [error](std::string why) {
        if (error) *error = std::move(why);
        return false;
    };
    out = Contents();
    const std::string name = wtext::ToUtf8(path);
    const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return fail("the journal could not be opened: " + name + ": " + std::strerror(errno));
    std::string data;
    char buf[65536];
    for (;;) {
        const ssize_t r = ::read(fd, buf, sizeof buf);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        data.append(buf, static_cast<size_t>(r));
    }
    ::close(fd);
    if (data.size() < sizeof kMagic || std::memcmp(data.data(), kMagic, sizeof kMagic) != 0)
        return fail("not a recording journal: " + name);

    size_t at = sizeof kMagic;
    bool haveHeader = false;
    while (at < data.size()) {
        uint32_t len = 0;
        const size_t left = data.size() - at;
        if (left >= 4) std::memcpy(&len, data.data() + at, 4);
        if (left < 4 || len == 0 || len > kMaxRecord || left < 4 + static_cast<size_t>(len) + 4) break;
        uint32_t stored = 0;
        std::memcpy(&stored, data.data() + at + 4 + len, 4);
        const uLong crc = crc32(0L, reinterpret_cast<const Bytef*>(data.data() + at), 4 + len);
        if (static_cast<uint32_t>(crc) != stored) break;
        const char type = data[at + 4];
        const std::string payload = data.substr(at + 5, len - 1);
        if (!haveHeader) {
            if (type != 'H' || !ParseHeader(payload, out.header)) break;
            haveHeader = true;
        } else if (type == 'S') {
            Cursor c(payload.data(), payload.size());
            MonitorSample s;
            uint16_t mask = 0;
            bool ok = c.Get(s.timeMs) && c.Get(mask);
            for (int j = 0; ok && j < kMonitorSlots; ++j) {
                ok = c.Get(s.entries[j].value);
                s.entries[j].valid = (mask >> j) & 1u;
                const float scale = out.header.signalSet[static_cast<size_t>(j)].scale;
                s.entries[j].percent = scale > 0 ? s.entries[j].value / scale * 100.0f : 0.0f;
            }
            if (!ok) break;
            out.samples.push_back(s);
        } else if (type == 'I') {
            Cursor c(payload.data(), payload.size());
            IntervalChange ch;
            if (!c.Get(ch.timeMs) || !c.GetText(ch.intervalName) || !c.GetText(ch.reason)) break;
            out.intervalChanges.push_back(std::move(ch));
        }
        at += 4 + len + 4;
    }
    if (!haveHeader) return fail("the journal's header is damaged: " + name);
    out.damaged = at < data.size();
    out.damageOffset = out.damaged ? at : 0;
    return true;
}

std::vector<std::wstring> FindLeftBehind(const std::wstring& folder)
{
    std::vector<std::wstring> found;
    const std::string dirName = wtext::ToUtf8(folder);
    DIR* dir = ::opendir(dirName.empty() ? "." : dirName.c_str());
    if (!dir) return found;
    const std::string ext = wtext::ToUtf8(Extension());
    while (dirent* e = ::readdir(dir)) {
        const std::string n = e->d_name;
        if (n.size() <= ext.size() || n.compare(n.size() - ext.size(), ext.size(), ext) != 0) continue;
        const std::string full = dirName + n;
        const int fd = ::open(full.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        // A journal a running log holds is locked; it is not left behind.
        const bool free = ::flock(fd, LOCK_SH | LOCK_NB) == 0;
        ::close(fd);
        if (free) found.push_back(wtext::FromUtf8(full));
    }
    ::closedir(dir);
    std::sort(found.begin(), found.end());
    return found;
}

std::wstring RecoveredPath(const std::wstring& folder, const Contents& contents)
{
    const uint64_t first = contents.samples.empty() ? contents.header.startMs : contents.samples.front().timeMs;
    const std::string base = wtext::ToUtf8(folder + SafeName(contents.header.model)) + LocalStamp(first);
    std::string path = base + ".xls";
    for (int n = 1; Exists(path) && n < 1000; ++n)
        path = base + " recovered" + (n == 1 ? std::string() : " " + std::to_string(n)) + ".xls";
    return wtext::FromUtf8(path);
}

HistoryRecording ToRecording(const Contents& contents)
{
    HistoryRecording rec;
    rec.model = contents.header.model;
    rec.intervalName = contents.header.intervalName;
    rec.intervalChanges = contents.intervalChanges;
    rec.signalSet = contents.header.signalSet;
    rec.samples = contents.samples;
    rec.lastAppendMs = rec.samples.empty() ? contents.header.startMs : rec.samples.back().timeMs;
    return rec;
}

bool Recover(const std::wstring& journalPath, const std::wstring& folder, std::wstring* written, std::string* error)
{
    Contents contents;
    if (!Read(journalPath, contents, error)) return false;
    if (contents.samples.empty()) {
        if (error) *error = "the journal holds no sample";
        return false;
    }
    const std::wstring out = RecoveredPath(folder, contents);
    if (!history::WriteWorkbook(ToRecording(contents), out, error)) return false;
    ::unlink(wtext::ToUtf8(journalPath).c_str());
    if (written) *written = out;
    return true;
}

}  // namespace journal
