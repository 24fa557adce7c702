// The journal of a live recording: every sample the store takes, on disk
// while the log runs, so a crash, a kill or a power cut loses at most the
// last second of it.
//
// File layout (little-endian), one file per recording, in the history folder:
//   "TVJRNL01"                                    8 bytes
//   record*: u32 length, u8 type, payload (length - 1 bytes), u32 CRC-32
//            (zlib) of the length, type and payload bytes
// The first record is the header (type 'H'): start time (u64 ms since 1970
// UTC), continuous (u8), model, interval name, then the ten slots: address
// (u32), enabled (u8), exponent (i32), scale (f32), name. Texts are a u16
// byte count and UTF-8. A sample ('S') is its time (u64), a mask of the
// slots read (u16, bit 0 = slot 1) and the ten values (f32). An interval
// change ('I') is its time (u64), the new interval's name and the reason.
// Records of another type are skipped, so later versions can add some.
//
// A record whose length, bytes or checksum do not hold ends the journal: a
// reader recovers every whole record before it and invents nothing after it.
//
// Only the store's writer thread writes a journal. While it is open the file
// is locked (flock), so a journal left behind is one nobody holds.
#pragma once

#include "MonitorBuffer.h"

#include <cstdint>
#include <string>
#include <vector>

namespace journal {

// File name ending of journals.
const wchar_t* Extension();  // ".journal"

struct Header {
    uint64_t startMs = 0;
    bool continuous = false;
    std::wstring model;
    std::wstring intervalName;
    MonitorSignals signalSet;
};

// Bytes one sample takes in the journal.
constexpr uint32_t kSampleRecordBytes = 4 + 1 + 8 + 2 + 4 * kMonitorSlots + 4;

class CJournalWriter {
public:
    CJournalWriter() = default;
    ~CJournalWriter();  // closes, keeping the file
    CJournalWriter(const CJournalWriter&) = delete;
    CJournalWriter& operator=(const CJournalWriter&) = delete;

    // Creates a new journal in folder (named after the model and the start
    // time; never replaces a file), locks it and writes the header and the
    // interval changes known so far. Closes an open one first (kept).
    bool Open(const std::wstring& folder, const Header& header, std::string* error = nullptr);
    bool IsOpen() const { return fd_ >= 0; }
    const std::wstring& Path() const { return path_; }

    bool AppendSample(uint64_t timeMs, const MonitorSample& sample);
    bool AppendIntervalChange(const IntervalChange& change);
    // Starts the journal over: only the header and the given interval
    // changes (after the samples so far went into a history file).
    bool Restart(const std::vector<IntervalChange>& changes);

    // Written bytes not yet forced to the disk, and the steady-clock time (ms)
    // by which they must be.
    bool Dirty() const { return dirty_; }
    int64_t SyncDueMs() const { return dirtySinceMs_ + kSyncWithinMs; }
    // fdatasync; false when it failed.
    bool Sync();
    // Closes the file; `remove` deletes it (the recording was saved or let go).
    void Close(bool remove);

    // A write failed (disk full, file gone): later records are not written.
    bool Failed() const { return failed_; }
    // Samples written since the open or the last restart.
    uint32_t Samples() const { return samples_; }
    // Written bytes are forced to disk within this time.
    static constexpr int64_t kSyncWithinMs = 500;

private:
    bool WriteRecord(char type, const std::string& payload);

    int fd_ = -1;
    std::wstring path_;
    Header header_;
    uint64_t headerEnd_ = 0;
    bool dirty_ = false;
    int64_t dirtySinceMs_ = 0;
    uint32_t samples_ = 0;
    bool failed_ = false;  // a write failed: later records would follow a hole
};

// What a journal holds.
struct Contents {
    Header header;
    std::vector<MonitorSample> samples;  // oldest first, percent computed with the header's scales
    std::vector<IntervalChange> intervalChanges;
    bool damaged = false;       // a record was cut or damaged; what follows it is left out
    uint64_t damageOffset = 0;  // byte where the damage starts
};

// Reads a journal. False (with *error) when it is no journal or its header
// cannot be read; a damaged record after the header only ends the samples.
bool Read(const std::wstring& path, Contents& out, std::string* error = nullptr);

// The journals in folder that no running log holds, oldest name first.
std::vector<std::wstring> FindLeftBehind(const std::wstring& folder);

// The history file a recovered journal is written to: folder + model (at most
// 64 characters, path and control characters replaced by "_") + the
// local time of its first sample "%Y-%m-%d %H%M%S" + ".xls"; an existing file
// is never replaced (" recovered", " recovered 2", ... are added).
std::wstring RecoveredPath(const std::wstring& folder, const Contents& contents);

// Writes the journal's recording as a history workbook (true times) at
// RecoveredPath(folder) and removes the journal. False (with *error) when the
// journal holds no sample or the file could not be written; the journal is
// then kept.
bool Recover(const std::wstring& journalPath, const std::wstring& folder, std::wstring* written = nullptr,
             std::string* error = nullptr);

// The recording a journal holds, as the history writer takes it.
HistoryRecording ToRecording(const Contents& contents);

}  // namespace journal
