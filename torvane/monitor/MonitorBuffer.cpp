#include "MonitorBuffer.h"

#include "HistoryFile.h"
#include "RecordingJournal.h"
#include "LogBuf.h"
#include "WideText.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

constexpr auto kLockWait = std::chrono::milliseconds(1000);

uint64_t SystemNowMs()
{
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count());
}

std::wstring Cut(const std::wstring& text)
{
    return text.size() > static_cast<size_t>(kMonitorNameMax) ? text.substr(0, kMonitorNameMax) : text;
}

float PercentOf(float value, float scale)
{
    return static_cast<float>(static_cast<double>(value) / static_cast<double>(scale) * 100.0);
}

}  // namespace

void CStoreLock::lock()
{
    std::unique_lock<std::mutex> g(m_);
    cv_.wait(g, [this] { return !held_; });
    held_ = true;
}

void CStoreLock::unlock()
{
    {
        std::lock_guard<std::mutex> g(m_);
        held_ = false;
    }
    cv_.notify_one();
}

bool CStoreLock::try_lock_for(std::chrono::milliseconds wait)
{
    std::unique_lock<std::mutex> g(m_);
    if (!cv_.wait_for(g, wait, [this] { return !held_; })) return false;
    held_ = true;
    return true;
}

float InitialScale(int32_t exponent)
{
    switch (exponent) {
    case -1: return 1.0f;
    case -2: return 0.1f;
    case -3: return 0.01f;
    default: return 10.0f;
    }
}

CMonitorBuffer::CMonitorBuffer()
    : samples_(new MonitorSample[kMonitorRingSize]()), journal_(new journal::CJournalWriter)
{
}

CMonitorBuffer::~CMonitorBuffer()
{
    {
        std::lock_guard<std::mutex> g(saveMutex_);
        stopWriter_ = true;
    }
    saveCv_.notify_all();
    if (writer_.joinable()) writer_.join();
}

uint64_t CMonitorBuffer::Now() const
{
    return clock_ ? clock_() : SystemNowMs();
}

void CMonitorBuffer::SetClock(Clock clock)
{
    std::lock_guard<CStoreLock> g(lock_);
    clock_ = std::move(clock);
}

void CMonitorBuffer::Reset(bool continuous, const std::wstring& folder, const std::wstring& model,
                           const std::wstring& intervalName, const MonitorSignals& signalSet)
{
    std::lock_guard<CStoreLock> g(lock_);
    std::fill(samples_.get(), samples_.get() + kMonitorRingSize, MonitorSample());
    start_ = write_ = count_ = display_ = sinceSave_ = 0;
    continuous_ = continuous;
    folder_ = folder;
    model_ = Cut(model);
    intervalName_ = intervalName;
    for (int j = 0; j < kMonitorSlots; ++j) {
        MonitorSignal s = signalSet[static_cast<size_t>(j)];
        s.name = Cut(s.name);
        s.enabled = s.enabled ? 1 : 0;
        // A scale that is not positive would never grow by doubling.
        if (!(s.scale > 0) || !std::isfinite(s.scale)) s.scale = InitialScale(s.exponent);
        signals_[static_cast<size_t>(j)] = std::move(s);
    }
    intervalChanges_.clear();
    // What was held goes; its journal stays on disk unless the recording
    // was saved or discarded (which removed it already).
    QueueJournalClose(false);
    phase_ = RecordingPhase::Idle;
    savedPath_.clear();
    rescaled_ = false;
    lastAppend_ = 0;
    refusedFull_ = 0;
    refusedBusy_ = 0;
    // A continuous recording's first save should cost its append no more
    // than the later ones: the writer and a buffer are ready before it.
    if (continuous_) PrepareAutoSaves();
}

bool CMonitorBuffer::Append(uint64_t timeMs, const MonitorSample& sample)
{
    return AppendChecked(nullptr, timeMs, sample);
}

bool CMonitorBuffer::AppendToRecording(uint64_t id, uint64_t timeMs, const MonitorSample& sample)
{
    return AppendChecked(&id, timeMs, sample);
}

bool CMonitorBuffer::AppendChecked(const uint64_t* id, uint64_t timeMs, const MonitorSample& sample)
{
    std::unique_lock<CStoreLock> g(lock_, std::defer_lock);
    if (!g.try_lock_for(kLockWait)) {
        ++refusedBusy_;
        return false;
    }
    if (id && (*id != recordingId_ || phase_ != RecordingPhase::Logging)) return false;
    const uint64_t live = phase_ == RecordingPhase::Logging ? recordingId_ : 0;
    if (!continuous_ && count_ == kMonitorRingSize) {
        ++refusedFull_;
        return false;
    }
    lastAppend_ = Now();
    MonitorSample& slot = samples_[write_];
    slot = sample;
    slot.timeMs = timeMs;
    for (int j = 0; j < kMonitorSlots; ++j) {
        if (!signals_[static_cast<size_t>(j)].enabled) continue;
        slot.entries[j].percent = PercentOf(slot.entries[j].value, signals_[static_cast<size_t>(j)].scale);
    }
    if (count_ == kMonitorRingSize) start_ = (start_ + 1) % kMonitorRingSize;
    write_ = (write_ + 1) % kMonitorRingSize;
    count_ = std::min(count_ + 1, kMonitorRingSize);

    bool save = false;
    SaveJob job;
    ++sinceSave_;
    if (continuous_ && sinceSave_ >= kAutoSaveEvery) {
        sinceSave_ = 0;
        // Only the copy is made here; the workbook is written by the writer
        // thread, so neither this thread nor the GUI waits for the disk.
        const uint32_t first = (write_ + kMonitorRingSize - kAutoSaveEvery) % kMonitorRingSize;
        job.recording.samples = TakeSpareBuffer();
        CopyRangeLocked(first, kAutoSaveEvery, job.recording);
        job.path = AutoSavePath(folder_, model_, lastAppend_);
        save = true;
    }
    RescaleLocked(slot);
    const MonitorSample journalled = slot;
    g.unlock();
    {
        std::lock_guard<std::mutex> q(saveMutex_);
        const bool journalling = live != 0 && journalId_ == live;
        if (journalling) {
            SaveJob rec;
            rec.kind = SaveJob::Kind::JournalSample;
            rec.timeMs = timeMs;
            rec.sample = journalled;
            QueueJob(std::move(rec));
        }
        if (save) {
            job.restartJournal = journalling;
            QueueJob(std::move(job));
        }
    }
    return true;
}

void CMonitorBuffer::RescaleLocked(const MonitorSample& added)
{
    bool any = false;
    for (int j = 0; j < kMonitorSlots; ++j) {
        MonitorSignal& s = signals_[static_cast<size_t>(j)];
        const float value = added.entries[j].value;
        if (!s.enabled || !(value > s.scale)) continue;
        while (s.scale < value) s.scale *= 2.0f;
        for (uint32_t i = 0, pos = start_; i < count_; ++i, pos = (pos + 1) % kMonitorRingSize)
            samples_[pos].entries[j].percent = PercentOf(samples_[pos].entries[j].value, s.scale);
        any = true;
    }
    if (any) {
        display_ = write_;
        rescaled_ = true;
    }
}

bool CMonitorBuffer::ReadNextForDisplay(MonitorSample& out)
{
    std::unique_lock<CStoreLock> g(lock_, std::defer_lock);
    if (!g.try_lock_for(kLockWait)) return false;
    if (display_ == write_) return false;
    out = samples_[display_];
    return true;
}

void CMonitorBuffer::AdvanceDisplay()
{
    std::lock_guard<CStoreLock> g(lock_);
    if (display_ != write_) display_ = (display_ + 1) % kMonitorRingSize;
}

void CMonitorBuffer::TakeForDisplay(std::vector<MonitorSample>& out)
{
    out.clear();
    std::lock_guard<CStoreLock> g(lock_);
    for (; display_ != write_; display_ = (display_ + 1) % kMonitorRingSize) out.push_back(samples_[display_]);
}

void CMonitorBuffer::CopyHeldForDisplay(std::vector<MonitorSample>& out)
{
    std::lock_guard<CStoreLock> g(lock_);
    out.resize(count_);
    const uint32_t head = std::min(count_, kMonitorRingSize - start_);
    std::copy(samples_.get() + start_, samples_.get() + start_ + head, out.begin());
    std::copy(samples_.get(), samples_.get() + (count_ - head), out.begin() + head);
    display_ = write_;
}

bool CMonitorBuffer::rescaled() const
{
    std::lock_guard<CStoreLock> g(lock_);
    return rescaled_;
}

bool CMonitorBuffer::TakeRescaled()
{
    std::lock_guard<CStoreLock> g(lock_);
    const bool was = rescaled_;
    rescaled_ = false;
    return was;
}

void CMonitorBuffer::ClearRescaled()
{
    std::lock_guard<CStoreLock> g(lock_);
    rescaled_ = false;
}

void CMonitorBuffer::CopyRangeLocked(uint32_t first, uint32_t n, HistoryRecording& out) const
{
    out.model = model_;
    out.intervalName = intervalName_;
    out.intervalChanges = intervalChanges_;
    out.signalSet = signals_;
    out.lastAppendMs = lastAppend_;
    out.samples.resize(n);
    first %= kMonitorRingSize;
    const uint32_t head = std::min(n, kMonitorRingSize - first);
    std::copy(samples_.get() + first, samples_.get() + first + head, out.samples.begin());
    std::copy(samples_.get(), samples_.get() + (n - head), out.samples.begin() + head);
}

HistoryRecording CMonitorBuffer::CopyRange(uint32_t first, uint32_t n) const
{
    HistoryRecording rec;
    std::lock_guard<CStoreLock> g(lock_);
    CopyRangeLocked(first, std::min(n, kMonitorRingSize), rec);
    return rec;
}

bool CMonitorBuffer::SaveRange(uint32_t first, uint32_t n, const std::wstring& path, std::string* error)
{
    HistoryRecording rec;
    {
        std::lock_guard<CStoreLock> g(lock_);
        const uint32_t offset = (first % kMonitorRingSize + kMonitorRingSize - start_) % kMonitorRingSize;
        if (n == 0 || offset + static_cast<uint64_t>(n) > count_) {
            if (error) *error = n == 0 ? "no samples to save" : "the range is not held by the store";
            return false;
        }
        CopyRangeLocked(first, n, rec);
    }
    return history::WriteWorkbook(rec, path, error);
}

uint32_t CMonitorBuffer::start() const
{
    std::lock_guard<CStoreLock> g(lock_);
    return start_;
}

uint32_t CMonitorBuffer::write() const
{
    std::lock_guard<CStoreLock> g(lock_);
    return write_;
}

uint32_t CMonitorBuffer::count() const
{
    std::lock_guard<CStoreLock> g(lock_);
    return count_;
}

uint32_t CMonitorBuffer::display() const
{
    std::lock_guard<CStoreLock> g(lock_);
    return display_;
}

uint32_t CMonitorBuffer::sinceSave() const
{
    std::lock_guard<CStoreLock> g(lock_);
    return sinceSave_;
}

MonitorBufferState CMonitorBuffer::State() const
{
    std::lock_guard<CStoreLock> g(lock_);
    MonitorBufferState s;
    s.start = start_;
    s.write = write_;
    s.count = count_;
    s.display = display_;
    s.sinceSave = sinceSave_;
    s.continuous = continuous_;
    s.rescaled = rescaled_;
    s.lastAppendMs = lastAppend_;
    s.folder = folder_;
    s.model = model_;
    s.intervalName = intervalName_;
    s.refusedFull = refusedFull_;
    s.refusedBusy = refusedBusy_.load();
    return s;
}

MonitorSignals CMonitorBuffer::Signals() const
{
    std::lock_guard<CStoreLock> g(lock_);
    return signals_;
}

MonitorSignal CMonitorBuffer::Signal(int slot) const
{
    if (slot < 0 || slot >= kMonitorSlots) return MonitorSignal();
    std::lock_guard<CStoreLock> g(lock_);
    return signals_[static_cast<size_t>(slot)];
}

std::vector<MonitorSample> CMonitorBuffer::HeldSamples() const
{
    std::vector<MonitorSample> out;
    CopyHeld(out);
    return out;
}

void CMonitorBuffer::CopyHeld(std::vector<MonitorSample>& out) const
{
    std::lock_guard<CStoreLock> g(lock_);
    out.resize(count_);
    const uint32_t head = std::min(count_, kMonitorRingSize - start_);
    std::copy(samples_.get() + start_, samples_.get() + start_ + head, out.begin());
    std::copy(samples_.get(), samples_.get() + (count_ - head), out.begin() + head);
}

bool CMonitorBuffer::ReadAt(uint32_t position, MonitorSample& out) const
{
    position %= kMonitorRingSize;
    std::lock_guard<CStoreLock> g(lock_);
    if ((position + kMonitorRingSize - start_) % kMonitorRingSize >= count_) return false;
    out = samples_[position];
    return true;
}

bool CMonitorBuffer::ReadAged(uint32_t index, MonitorSample& out) const
{
    std::lock_guard<CStoreLock> g(lock_);
    if (index >= count_) return false;
    out = samples_[(start_ + index) % kMonitorRingSize];
    return true;
}

void CMonitorBuffer::NoteIntervalChange(uint64_t timeMs, const std::wstring& intervalName, const std::wstring& reason)
{
    std::lock_guard<CStoreLock> g(lock_);
    const std::wstring& current = intervalChanges_.empty() ? intervalName_ : intervalChanges_.back().intervalName;
    if (intervalName == current) return;
    intervalChanges_.push_back({timeMs, intervalName, reason});
    std::lock_guard<std::mutex> q(saveMutex_);
    if (phase_ == RecordingPhase::Logging && journalId_ == recordingId_) {
        SaveJob job;
        job.kind = SaveJob::Kind::JournalInterval;
        job.change = intervalChanges_.back();
        QueueJob(std::move(job));
    }
}

uint64_t CMonitorBuffer::BeginRecording(bool continuous, const std::wstring& folder, const std::wstring& model,
                                        const std::wstring& intervalName, const MonitorSignals& signalSet)
{
    Reset(continuous, folder, model, intervalName, signalSet);
    std::lock_guard<CStoreLock> g(lock_);
    phase_ = RecordingPhase::Logging;
    ++recordingId_;
    std::lock_guard<std::mutex> q(saveMutex_);
    if (journalOn_ && !folder_.empty()) {
        SaveJob job;
        job.kind = SaveJob::Kind::JournalOpen;
        job.path = folder_;
        job.timeMs = Now();
        job.recording.model = model_;
        job.recording.intervalName = intervalName_;
        job.recording.signalSet = signals_;
        job.restartJournal = continuous_;
        journalId_ = recordingId_;
        QueueJob(std::move(job));
    }
    return recordingId_;
}

void CMonitorBuffer::EndLogging(uint64_t id)
{
    std::lock_guard<CStoreLock> g(lock_);
    if (id == recordingId_ && phase_ == RecordingPhase::Logging) phase_ = RecordingPhase::Stopped;
}

void CMonitorBuffer::MarkSaved(uint64_t id, const std::wstring& path)
{
    std::lock_guard<CStoreLock> g(lock_);
    if (id != recordingId_ || phase_ == RecordingPhase::Idle || phase_ == RecordingPhase::Logging) return;
    phase_ = RecordingPhase::Saved;
    savedPath_ = path;
    if (journalId_ == id) QueueJournalClose(true);
}

void CMonitorBuffer::Discard(uint64_t id)
{
    std::lock_guard<CStoreLock> g(lock_);
    if (id != recordingId_) return;
    phase_ = RecordingPhase::Idle;
    if (journalId_ == id) QueueJournalClose(true);
}

void CMonitorBuffer::EnableJournal(bool on)
{
    std::lock_guard<std::mutex> g(saveMutex_);
    journalOn_ = on;
}

std::wstring CMonitorBuffer::JournalPath() const
{
    std::lock_guard<std::mutex> g(saveMutex_);
    return journalPath_;
}

void CMonitorBuffer::QueueJournalClose(bool remove)
{
    std::lock_guard<std::mutex> g(saveMutex_);
    if (journalId_ == 0) return;
    journalId_ = 0;
    SaveJob job;
    job.kind = SaveJob::Kind::JournalClose;
    job.removeJournal = remove;
    QueueJob(std::move(job));
}

RecordingState CMonitorBuffer::Recording() const
{
    const AutoSaveResult autoSave = LastAutoSave();
    std::lock_guard<CStoreLock> g(lock_);
    RecordingState r;
    r.phase = phase_;
    r.id = recordingId_;
    r.samples = count_;
    r.continuous = continuous_;
    r.savedPath = savedPath_;
    r.startInterval = intervalName_;
    r.intervalChanges = intervalChanges_;
    if (phase_ == RecordingPhase::Logging || phase_ == RecordingPhase::Stopped) {
        // With continuous recording the automatic saves hold the rest,
        // unless the latest of them failed.
        const bool autoSaved = continuous_ && count_ >= kAutoSaveEvery && (autoSave.sequence == 0 || autoSave.ok);
        r.unsaved = autoSaved ? std::min(sinceSave_, count_) : count_;
    }
    return r;
}

bool CMonitorBuffer::SaveRecording(const std::wstring& path, std::string* error)
{
    const RecordingState before = Recording();
    const MonitorBufferState st = State();
    if (st.count == 0) {
        if (error) *error = "no samples to save";
        return false;
    }
    if (!SaveRange(st.start, st.count, path, error)) return false;
    MarkSaved(before.id, path);
    return true;
}

std::wstring CMonitorBuffer::AutoSavePath(const std::wstring& folder, const std::wstring& model, uint64_t nowMs)
{
    const std::time_t t = static_cast<std::time_t>(nowMs / 1000);
    std::tm local{};
    localtime_r(&t, &local);
    char stamp[64] = {0};
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H%M%S", &local);
    return folder + model + wtext::FromUtf8(stamp) + L".xls";
}

// ---- Automatic saves ----

std::vector<MonitorSample> CMonitorBuffer::TakeSpareBuffer()
{
    std::lock_guard<std::mutex> g(saveMutex_);
    if (spare_.empty()) return std::vector<MonitorSample>();
    std::vector<MonitorSample> buffer = std::move(spare_.back());
    spare_.pop_back();
    return buffer;
}

void CMonitorBuffer::PrepareAutoSaves()
{
    std::lock_guard<std::mutex> g(saveMutex_);
    while (spare_.size() < 2) spare_.emplace_back(kAutoSaveEvery);
    if (!writer_.joinable()) writer_ = std::thread([this] { WriterLoop(); });
}

void CMonitorBuffer::QueueAutoSave(SaveJob job)
{
    std::lock_guard<std::mutex> g(saveMutex_);
    QueueJob(std::move(job));
}

void CMonitorBuffer::QueueJob(SaveJob job)
{
    if (job.kind == SaveJob::Kind::Save) ++queuedSaves_;
    saveQueue_.push_back(std::move(job));
    if (!writer_.joinable()) writer_ = std::thread([this] { WriterLoop(); });
    saveCv_.notify_all();
}

void CMonitorBuffer::RunJournalJob(SaveJob& job)
{
    journal::CJournalWriter& j = *journal_;
    switch (job.kind) {
    case SaveJob::Kind::JournalOpen: {
        journal::Header h;
        h.startMs = job.timeMs;
        h.continuous = job.restartJournal;
        h.model = job.recording.model;
        h.intervalName = job.recording.intervalName;
        h.signalSet = job.recording.signalSet;
        std::string error;
        const bool ok = j.Open(job.path, h, &error);
        {
            std::lock_guard<std::mutex> g(saveMutex_);
            journalPath_ = ok ? j.Path() : std::wstring();
        }
        if (!ok) LOG_MakeAndAddRunInfo(1, "Monitor journal not started: %s", error.c_str());
        break;
    }
    case SaveJob::Kind::JournalSample: {
        const bool failedBefore = j.Failed();
        if (!j.AppendSample(job.timeMs, job.sample) && !failedBefore && j.IsOpen())
            LOG_MakeAndAddRunInfo(1, "Monitor journal write failed: %s", wtext::ToUtf8(j.Path()).c_str());
        break;
    }
    case SaveJob::Kind::JournalInterval: j.AppendIntervalChange(job.change); break;
    case SaveJob::Kind::JournalClose: {
        j.Close(job.removeJournal);
        std::lock_guard<std::mutex> g(saveMutex_);
        journalPath_.clear();
        break;
    }
    case SaveJob::Kind::Save: break;
    }
}

void CMonitorBuffer::WriterLoop()
{
    // Background work: a woken writer must not take the core from the
    // sampling thread that just queued the save.
    sched_param batch{};
    pthread_setschedparam(pthread_self(), SCHED_BATCH, &batch);
    setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 10);

    using std::chrono::milliseconds;
    using std::chrono::steady_clock;
    const auto ready = [this] { return stopWriter_ || !saveQueue_.empty(); };
    std::unique_lock<std::mutex> g(saveMutex_);
    for (;;) {
        // The journal's bytes reach the disk within kSyncWithinMs of their
        // write, however the samples come.
        if (journal_->Dirty()) {
            const auto due = steady_clock::time_point(milliseconds(journal_->SyncDueMs()));
            if (!saveCv_.wait_until(g, due, ready)) {
                g.unlock();
                journal_->Sync();
                g.lock();
                continue;
            }
        } else {
            saveCv_.wait(g, ready);
        }
        // Queued recordings are written even when the store is going away.
        if (saveQueue_.empty()) {
            g.unlock();
            journal_->Close(false);
            return;
        }
        // Everything queued, taken in one step: an append never waits for
        // this lock longer than a swap.
        std::deque<SaveJob> jobs;
        jobs.swap(saveQueue_);
        journalBusy_ = static_cast<uint32_t>(jobs.size());
        // At program end the log may be gone before the store: the last
        // saves are written but not logged.
        const bool log = !stopWriter_;
        g.unlock();
        for (SaveJob& job : jobs) {
            if (job.kind != SaveJob::Kind::Save) {
                RunJournalJob(job);
                continue;
            }
            std::string error;
            const bool ok = history::WriteWorkbook(job.recording, job.path, &error);
            // The saved samples need the journal no more: it keeps those since.
            if (ok && job.restartJournal) journal_->Restart(job.recording.intervalChanges);
            const std::string name = wtext::ToUtf8(job.path);
            if (log && ok)
                LOG_MakeAndAddRunInfo(1, "Monitor history saved: %s", name.c_str());
            else if (log)
                LOG_MakeAndAddRunInfo(1, "Monitor history save failed: %s: %s", name.c_str(), error.c_str());

            std::lock_guard<std::mutex> done(saveMutex_);
            // The copy's memory serves the next save, so an append that
            // starts a save copies into pages it already has.
            if (spare_.size() < 2) spare_.push_back(std::move(job.recording.samples));
            lastAutoSave_.sequence += 1;
            lastAutoSave_.ok = ok;
            lastAutoSave_.path = std::move(job.path);
            lastAutoSave_.error = ok ? std::string() : error;
            --queuedSaves_;
            saveCv_.notify_all();
        }
        if (journal_->Dirty() &&
            std::chrono::duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count() >=
                journal_->SyncDueMs())
            journal_->Sync();
        g.lock();
        journalBusy_ = 0;
        saveCv_.notify_all();
    }
}

AutoSaveResult CMonitorBuffer::LastAutoSave() const
{
    std::lock_guard<std::mutex> g(saveMutex_);
    return lastAutoSave_;
}

uint32_t CMonitorBuffer::PendingAutoSaves() const
{
    std::lock_guard<std::mutex> g(saveMutex_);
    return queuedSaves_;
}

bool CMonitorBuffer::WaitAutoSaves(int timeoutMs) const
{
    std::unique_lock<std::mutex> g(saveMutex_);
    return saveCv_.wait_for(g, std::chrono::milliseconds(timeoutMs),
                            [this] { return saveQueue_.empty() && journalBusy_ == 0; });
}

CMonitorBuffer& TheMonitorBuffer()
{
    static CMonitorBuffer store;
    return store;
}
