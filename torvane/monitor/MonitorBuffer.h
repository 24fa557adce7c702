// The sample store: the one process-wide memory of monitored samples.
//
// A ring of 10000 samples of up to ten signals, the descriptors of those ten
// signals, the metadata a history workbook needs, and the automatic rescaling
// that keeps every signal within its chart scale. The real-time monitor
// appends one sample per sampling period from its sampling thread and draws
// from the store on the GUI thread; the history writer saves a range of it;
// the history reader refills it from a workbook.
//
// Every access goes through the store's lock, held only for copies of fixed
// size (never for disk I/O). Append and ReadNextForDisplay wait for the lock
// at most 1 s. An append that cannot have it in time is refused and counted
// (refusedBusy), and a display read that cannot have it reports "nothing new"
// and leaves `display` where it is, so the next tick reads the same sample.
//
// Continuous recording keeps the latest 10000 samples and saves the latest
// 1000 as a history workbook after every 1000th append. The append copies
// those samples under the lock and hands the copy to the store's own writer
// thread, so sampling never waits for the disk. The result of the latest
// automatic save (file name or failure) is kept for the monitor view and
// written to the run-info log.
//
// With the journal on, the same writer thread appends every sample of a live
// recording to its journal (RecordingJournal.h), so a crash loses at most the
// last half second; saving or discarding the recording removes the journal.
//
// Positions run modulo 10000. Slots are indexed 0..9 here (slot 1 is index 0).
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace journal { class CJournalWriter; }

constexpr int kMonitorSlots = 10;
constexpr uint32_t kMonitorRingSize = 10000;
constexpr uint32_t kAutoSaveEvery = 1000;
constexpr int kMonitorNameMax = 127;  // characters of a signal name or model

struct SampleEntry {
    uint8_t valid = 0;   // 1 when the slot was read for this sample
    float value = 0;     // engineering units (register value x 10^exponent)
    float percent = 0;   // value / scale x 100: what the charts plot
};

struct MonitorSample {
    uint64_t timeMs = 0;  // milliseconds since 1970-01-01 00:00 UTC
    SampleEntry entries[kMonitorSlots];
};

struct MonitorSignal {
    uint32_t address = 0;   // the monitored record's address (register = address - 1)
    std::wstring name;      // the quantity's name, at most kMonitorNameMax characters
    uint8_t enabled = 0;    // 1 when the slot is recorded
    int32_t exponent = 0;   // the monitored record's exponent
    float scale = 0;        // full-scale value in engineering units: 100 % on the chart
};

using MonitorSignals = std::array<MonitorSignal, kMonitorSlots>;

// Full scale a slot starts with: 1.0 for exponent -1, 0.1 for -2, 0.01 for
// -3, 10.0 for 0 and any other exponent.
float InitialScale(int32_t exponent);

// A change of the sampling interval during a recording: when (wall clock,
// ms since 1970 UTC), the new interval's name, and why ("overruns" for the
// automatic step, empty when the user chose it).
struct IntervalChange {
    uint64_t timeMs = 0;
    std::wstring intervalName;
    std::wstring reason;
};

// Where a live recording stands. The store keeps it, not the view: the
// monitor view derives its buttons from it, and the main window asks before
// it ends or drops a recording the user has not saved.
enum class RecordingPhase {
    Idle,     // nothing recorded, or what is held was discarded (or loaded)
    Logging,  // a data log appends to the store
    Stopped,  // the log ended; not saved since
    Saved,    // saved to savedPath since the log ended
};

struct RecordingState {
    RecordingPhase phase = RecordingPhase::Idle;
    uint64_t id = 0;          // number of the recording, new with every BeginRecording
    uint32_t samples = 0;     // samples held
    // Samples that exist in no file: all held ones; with continuous
    // recording, those since the last automatic save (all held ones when
    // that save failed). 0 when Idle or Saved.
    uint32_t unsaved = 0;
    bool continuous = false;
    std::wstring savedPath;   // where it was saved last (Saved)
    std::wstring startInterval;
    std::vector<IntervalChange> intervalChanges;
};

// Everything the history writer needs about a range of samples, copied out of
// the store so the file can be written without holding the store.
struct HistoryRecording {
    std::wstring model;
    std::wstring intervalName;  // the interval the recording started with
    std::vector<IntervalChange> intervalChanges;
    MonitorSignals signalSet;  // the ten slots (not "signals": a Qt keyword)
    uint64_t lastAppendMs = 0;          // wall-clock time of the latest append
    std::vector<MonitorSample> samples; // oldest first
};

// Result of an automatic save, for the monitor view and the log.
struct AutoSaveResult {
    uint32_t sequence = 0;  // automatic saves finished since the store was created; 0 = none yet
    bool ok = false;
    std::wstring path;      // the file written (or attempted)
    std::string error;      // why it failed; empty on success
};

// A consistent copy of the store's positions and metadata.
struct MonitorBufferState {
    uint32_t start = 0;
    uint32_t write = 0;
    uint32_t count = 0;
    uint32_t display = 0;
    uint32_t sinceSave = 0;
    bool continuous = false;
    bool rescaled = false;
    uint64_t lastAppendMs = 0;
    std::wstring folder;
    std::wstring model;
    std::wstring intervalName;
    uint64_t refusedFull = 0;  // appends refused because a non-continuous store was full
    uint64_t refusedBusy = 0;  // appends refused because the lock was not had within 1 s
};

// The store's lock: a gate that is open when created, taken by one thread at
// a time, with a bounded wait. Built on a mutex and a condition variable
// (steady clock), which every thread checker of the platform understands.
class CStoreLock {
public:
    void lock();
    void unlock();
    bool try_lock_for(std::chrono::milliseconds wait);

private:
    std::mutex m_;
    std::condition_variable cv_;
    bool held_ = false;
};

class CMonitorBuffer {
public:
    CMonitorBuffer();
    // Finishes the automatic saves still queued, then stops the writer thread.
    ~CMonitorBuffer();
    CMonitorBuffer(const CMonitorBuffer&) = delete;
    CMonitorBuffer& operator=(const CMonitorBuffer&) = delete;

    // Starts a recording (or a loaded history): all samples zeroed, positions
    // and counters 0, `rescaled` cleared; mode, folder (ending in a
    // separator), model, interval name and the ten signals from the caller.
    // Names and the model are cut to kMonitorNameMax characters; a scale that
    // is not a positive finite number is replaced by InitialScale(exponent).
    // Automatic saves already handed to the writer still complete.
    void Reset(bool continuous, const std::wstring& folder, const std::wstring& model,
               const std::wstring& intervalName, const MonitorSignals& signalSet);

    // Adds one sample. The caller fills `valid` and `value` of the entries;
    // timeMs is stored in the sample, percent values are computed here for
    // enabled slots, and the rescale check runs on the new sample. False when
    // the sample was refused (non-continuous store full, or the lock not had
    // within 1 s); both are counted in the state.
    bool Append(uint64_t timeMs, const MonitorSample& sample);
    // Append for the data log of recording `id`: refused as well once that
    // log has ended, so nothing reaches a recording after its stop.
    bool AppendToRecording(uint64_t id, uint64_t timeMs, const MonitorSample& sample);

    // Copies the sample at `display`; false when `display` equals `write`
    // (nothing new) or the lock was not had within 1 s.
    bool ReadNextForDisplay(MonitorSample& out);
    // Advances `display` by one unless it already equals `write`.
    void AdvanceDisplay();
    // Every sample from `display` up to the newest, oldest first, and
    // `display` set past them, in one step (the live chart's tick).
    void TakeForDisplay(std::vector<MonitorSample>& out);
    // The held samples, oldest first, and `display` set past the newest, in
    // one step: a redraw from this copy is never drawn twice.
    void CopyHeldForDisplay(std::vector<MonitorSample>& out);

    // Rescale notice for the live chart: set by an append that rescaled a
    // slot, kept until cleared. TakeRescaled clears it and says whether it
    // was set, in one step, so a rescale during the chart's redraw is seen
    // by the next tick.
    bool rescaled() const;
    bool TakeRescaled();
    void ClearRescaled();

    // Writes n samples from ring position `first` as a history workbook
    // (copied under the lock, written after it is released, on the calling
    // thread). False when n is 0 or more than the held samples, or the
    // workbook could not be written; *error then says why.
    bool SaveRange(uint32_t first, uint32_t n, const std::wstring& path, std::string* error = nullptr);
    // Copy of n samples from ring position `first` with the metadata.
    HistoryRecording CopyRange(uint32_t first, uint32_t n) const;

    // ---- Read access for the views ----
    uint32_t start() const;
    uint32_t write() const;
    uint32_t count() const;
    uint32_t display() const;
    uint32_t sinceSave() const;
    MonitorBufferState State() const;
    MonitorSignals Signals() const;
    MonitorSignal Signal(int slot) const;  // slot 0..9; an empty signal outside
    // The held samples, oldest first.
    std::vector<MonitorSample> HeldSamples() const;
    void CopyHeld(std::vector<MonitorSample>& out) const;
    // The sample at a ring position (taken modulo 10000). False when that
    // position holds no sample of the current recording.
    bool ReadAt(uint32_t position, MonitorSample& out) const;
    // The index-th held sample, oldest first; false past the held ones.
    bool ReadAged(uint32_t index, MonitorSample& out) const;

    // The interval changed during the recording (the user's choice, or the
    // overrun rule's step to a slower one). The interval the recording
    // started with stays its intervalName; each sample keeps its own time.
    void NoteIntervalChange(uint64_t timeMs, const std::wstring& intervalName, const std::wstring& reason);

    // ---- The recording's state ----
    // Starts a live recording: Reset, then Logging. Returns its id.
    uint64_t BeginRecording(bool continuous, const std::wstring& folder, const std::wstring& model,
                            const std::wstring& intervalName, const MonitorSignals& signalSet);
    // The log of recording `id` has ended (whichever thread saw it end):
    // Logging -> Stopped. Nothing for another recording.
    void EndLogging(uint64_t id);
    // The held recording was written to path in full: Stopped -> Saved.
    void MarkSaved(uint64_t id, const std::wstring& path);
    // The user let the recording go: -> Idle (the samples stay held until
    // the next reset).
    void Discard(uint64_t id);
    RecordingState Recording() const;
    // Writes the held recording to path and marks it saved. False (with
    // *error) when nothing is held or the file could not be written.
    bool SaveRecording(const std::wstring& path, std::string* error = nullptr);

    // ---- The journal ----
    // With the journal on, every live recording (BeginRecording with a
    // folder) is journalled in its folder by the writer thread, and the
    // journal is removed when the recording is saved or discarded. Off by
    // default; the program and torvane-cli turn it on.
    void EnableJournal(bool on);
    // The journal of the current recording (empty when none is open).
    std::wstring JournalPath() const;
    // Waits until the writer has written (not necessarily synced) everything
    // queued so far; false when that did not happen within timeoutMs.
    bool WaitWriter(int timeoutMs) const { return WaitAutoSaves(timeoutMs); }

    // ---- Automatic saves ----
    AutoSaveResult LastAutoSave() const;
    // Automatic saves handed to the writer and not finished yet.
    uint32_t PendingAutoSaves() const;
    // Waits until every queued automatic save has finished; false when that
    // did not happen within timeoutMs.
    bool WaitAutoSaves(int timeoutMs) const;

    // Wall-clock source in ms since 1970 (UTC) for `lastAppend` and the
    // automatic save's file name (local time of it). Null restores the
    // system clock. Tests set their own.
    using Clock = std::function<uint64_t()>;
    void SetClock(Clock clock);

    // File name of an automatic save made at wall-clock time nowMs: folder +
    // model + local time "%Y-%m-%d %H%M%S" + ".xls".
    static std::wstring AutoSavePath(const std::wstring& folder, const std::wstring& model, uint64_t nowMs);

private:
    // Work of the writer thread, in the order it was queued: automatic
    // saves and the journal's records.
    struct SaveJob {
        enum class Kind { Save, JournalOpen, JournalSample, JournalInterval, JournalClose };
        Kind kind = Kind::Save;
        std::wstring path;  // Save: the file; JournalOpen: the folder
        HistoryRecording recording;  // Save; JournalOpen: model, interval and slots
        bool restartJournal = false;  // Save: the journal starts over once the file is written
        bool removeJournal = false;   // JournalClose
        uint64_t timeMs = 0;          // JournalOpen: start; JournalSample: the sample's time
        MonitorSample sample;         // JournalSample
        IntervalChange change;        // JournalInterval
    };

    uint64_t Now() const;
    bool AppendChecked(const uint64_t* id, uint64_t timeMs, const MonitorSample& sample);
    void CopyRangeLocked(uint32_t first, uint32_t n, HistoryRecording& out) const;
    void RescaleLocked(const MonitorSample& added);
    std::vector<MonitorSample> TakeSpareBuffer();
    void PrepareAutoSaves();
    void QueueAutoSave(SaveJob job);
    void QueueJob(SaveJob job);  // with saveMutex_ held
    void QueueJournalClose(bool remove);
    void RunJournalJob(SaveJob& job);
    void WriterLoop();

    // The ring and its descriptors, in the order the store is laid out.
    std::unique_ptr<MonitorSample[]> samples_;
    MonitorSignals signals_;
    uint32_t start_ = 0;
    uint32_t write_ = 0;
    uint32_t count_ = 0;
    uint32_t display_ = 0;
    uint32_t sinceSave_ = 0;
    std::wstring folder_;
    std::wstring model_;
    bool continuous_ = false;
    std::wstring intervalName_;
    std::vector<IntervalChange> intervalChanges_;
    RecordingPhase phase_ = RecordingPhase::Idle;
    uint64_t recordingId_ = 0;
    std::wstring savedPath_;
    bool rescaled_ = false;
    uint64_t lastAppend_ = 0;
    uint64_t refusedFull_ = 0;
    std::atomic<uint64_t> refusedBusy_{0};  // counted without the lock it could not get
    mutable CStoreLock lock_;

    Clock clock_;  // guarded by lock_

    // Automatic saves: a queue of copies written by one writer thread.
    mutable std::mutex saveMutex_;
    mutable std::condition_variable saveCv_;
    std::deque<SaveJob> saveQueue_;
    uint32_t queuedSaves_ = 0;  // Save jobs queued and not finished
    uint32_t journalBusy_ = 0;  // jobs taken by the writer and not finished (saves and journal records)
    bool journalOn_ = false;        // guarded by saveMutex_
    uint64_t journalId_ = 0;        // recording the open journal belongs to (0: none); saveMutex_
    std::wstring journalPath_;      // saveMutex_
    std::unique_ptr<journal::CJournalWriter> journal_;  // the writer thread's alone
    std::vector<std::vector<MonitorSample>> spare_;  // sample buffers of finished saves
    bool stopWriter_ = false;
    AutoSaveResult lastAutoSave_;
    std::thread writer_;
};

// The store of the running program, created at program start and kept until
// the program ends.
CMonitorBuffer& TheMonitorBuffer();
