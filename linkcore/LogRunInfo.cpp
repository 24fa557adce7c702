// The run-info log (LOG_ functions, CLogRunInfoList, CLog).
#include "LogBuf.h"
#include "LogRunInfo.h"
#include "LinkCorePaths.h"
#include "MonotonicWait.h"
#include "WSNConfig.h"

#include <ace/Date_Time.h>
#include <ace/FILE_Connector.h>
#include <ace/Guard_T.h>
#include <ace/Log_Msg.h>
#include <ace/Event_Base.h>
#include <ace/Manual_Event.h>
#include <ace/Message_Block.h>
#include <ace/OS_NS_stdio.h>
#include <ace/OS_NS_string.h>
#include <ace/OS_NS_sys_time.h>
#include <ace/OS_NS_fcntl.h>
#include <ace/Thread.h>

#include <stdarg.h>
#include <stdio.h>
#include <atomic>

namespace {

// Process-wide sequence counter, advanced under the queue lock.
uint64_t g_sequence = 0;

uint64_t NowMs()
{
    ACE_Time_Value now = ACE_OS::gettimeofday();
    return static_cast<uint64_t>(now.sec()) * 1000u + static_cast<uint64_t>(now.usec() / 1000);
}

}  // namespace

void LOG_FormatRunInfoTime(uint64_t timeMs, char* out, int outSize)
{
    ACE_Time_Value tv(static_cast<time_t>(timeMs / 1000), static_cast<suseconds_t>((timeMs % 1000) * 1000));
    ACE_Date_Time dt(tv);   // local time
    ACE_OS::snprintf(out, outSize, "%04d-%02d-%02d %02d:%02d:%02d %03d", static_cast<int>(dt.year()),
                     static_cast<int>(dt.month()), static_cast<int>(dt.day()), static_cast<int>(dt.hour()),
                     static_cast<int>(dt.minute()), static_cast<int>(dt.second()),
                     static_cast<int>(timeMs % 1000));
}

int LOG_FormatRunInfoLine(const RUNINFO_RECORD* record, char* out, int outSize)
{
    char timeText[64];
    LOG_FormatRunInfoTime(record->qwTimeMs, timeText, sizeof timeText);
    int n = ACE_OS::snprintf(out, outSize, "(%llu)%s: %s%s", static_cast<unsigned long long>(record->qwSequence),
                             timeText, record->szText, "\r\n");
    if (n < 0)
        n = 0;
    if (n > outSize - 1)
        n = outSize - 1;
    return n;
}

// ---------------------------------------------------------------------------
// CLogRunInfoList

CLogRunInfoList::CLogRunInfoList() : m_queue(RUNINFO_HIGH_WATER, RUNINFO_LOW_WATER)
{
}

CLogRunInfoList::~CLogRunInfoList()
{
    Flush();
    m_queue.close();
}

bool CLogRunInfoList::EnqueueTail(RUNINFO_RECORD& record)
{
    ACE_Guard<ACE_Thread_Mutex> guard(m_lock);
    record.qwSequence = ++g_sequence;
    if (m_queue.is_full())
    {
        int count = static_cast<int>(m_queue.message_count());
        // One line per overflow, not one per record: a busy link would
        // otherwise bury the diagnostic log. The writer reports the count.
        if (!m_bOverflowReported)
            ACE_ERROR((LM_ERROR, ACE_TEXT("CLogRunInfoList::EnqueueTail  mq is_full  message_count=%d!!\n"), count));
        m_bOverflowReported = true;
        for (int i = 0; i < count / 2; ++i)
        {
            ACE_Message_Block* old = nullptr;
            ACE_Time_Value noWait(ACE_Time_Value::zero);
            if (m_queue.dequeue_head(old, &noWait) == -1)
                break;
            old->release();
            ++m_nDropped;
        }
    }
    ACE_Message_Block* mb = new ACE_Message_Block(sizeof(RUNINFO_RECORD));
    ACE_OS::memcpy(mb->wr_ptr(), &record, sizeof(RUNINFO_RECORD));
    mb->wr_ptr(sizeof(RUNINFO_RECORD));
    ACE_Time_Value noWait(ACE_Time_Value::zero);
    if (m_queue.enqueue_tail(mb, &noWait) == -1)
    {
        ACE_ERROR((LM_ERROR, ACE_TEXT("CLogRunInfoList::EnqueueTail Could not enqueue on to mq  message_count=%d!!\n"),
                   static_cast<int>(m_queue.message_count())));
        mb->release();
        ++m_nDropped;
        return false;
    }
    if (m_pWake != nullptr && m_queue.message_count() >= RUNINFO_WAKE_COUNT)
        m_pWake->signal();
    return true;
}

uint64_t CLogRunInfoList::TakeDropped()
{
    ACE_Guard<ACE_Thread_Mutex> guard(m_lock);
    uint64_t n = m_nDropped;
    m_nDropped = 0;
    m_bOverflowReported = false;
    return n;
}

void CLogRunInfoList::SetWakeEvent(ACE_Event_Base* wake)
{
    ACE_Guard<ACE_Thread_Mutex> guard(m_lock);
    m_pWake = wake;
}

bool CLogRunInfoList::DequeueHead(RUNINFO_RECORD& record)
{
    ACE_Message_Block* mb = nullptr;
    ACE_Time_Value noWait(ACE_Time_Value::zero);
    if (m_queue.dequeue_head(mb, &noWait) == -1)
        return false;
    ACE_OS::memcpy(&record, mb->rd_ptr(), sizeof(RUNINFO_RECORD));
    mb->release();
    return true;
}

int CLogRunInfoList::MessageCount()
{
    return static_cast<int>(m_queue.message_count());
}

bool CLogRunInfoList::IsFull()
{
    return m_queue.is_full();
}

void CLogRunInfoList::Flush()
{
    m_queue.flush();
}

// ---------------------------------------------------------------------------
// CLog

CLog::CLog(const char* stem, unsigned int sizeLimit)
    : m_nIndex(0), m_dwSizeLimit(sizeLimit == 0 ? 1000000u : sizeLimit), m_bOpenReported(false)
{
    ACE_OS::strncpy(m_szStem, stem ? stem : "", sizeof m_szStem - 1);
    m_szStem[sizeof m_szStem - 1] = '\0';
    m_szFile[0] = '\0';
    Open(false);
}

CLog::~CLog()
{
    if (m_file.get_handle() != ACE_INVALID_HANDLE)
        m_file.close();
}

bool CLog::Open(bool truncate)
{
    if (m_file.get_handle() != ACE_INVALID_HANDLE)
        m_file.close();
    ACE_OS::snprintf(m_szFile, sizeof m_szFile, "%s_%d.txt", m_szStem, m_nIndex);
    int flags = O_WRONLY | O_CREAT | O_APPEND | (truncate ? O_TRUNC : 0);
    ACE_FILE_Connector connector;
    if (connector.connect(m_file, ACE_FILE_Addr(m_szFile), nullptr, ACE_Addr::sap_any, 0, flags,
                          ACE_DEFAULT_FILE_PERMS) == -1)
    {
        if (!m_bOpenReported)
            ACE_ERROR((LM_ERROR, ACE_TEXT("%p\n to %s\n"), ACE_TEXT("connect"), m_szFile));
        m_bOpenReported = true;
        m_file.set_handle(ACE_INVALID_HANDLE);
        return false;
    }
    m_bOpenReported = false;
    return true;
}

bool CLog::Write(const RUNINFO_RECORD& record)
{
    // A file that could not be opened is tried again at every record (the
    // folder may have appeared meanwhile).
    if (m_file.get_handle() == ACE_INVALID_HANDLE)
        Open(false);
    if (m_file.get_handle() != ACE_INVALID_HANDLE)
    {
        ACE_FILE_Info info;
        if (m_file.get_info(info) != 0)
            ACE_ERROR((LM_ERROR, ACE_TEXT("%p\n"), ACE_TEXT("get_info")));
        else if (static_cast<unsigned long long>(info.size_) >= m_dwSizeLimit)
        {
            m_nIndex = m_nIndex == 0 ? 1 : 0;
            Open(true);
        }
    }
    int len = LOG_FormatRunInfoLine(&record, m_szLine, sizeof m_szLine);
    // The line and its terminating zero byte. Without a file the record is
    // lost; the open failure has been reported already.
    if (m_file.get_handle() == ACE_INVALID_HANDLE)
        return false;
    ssize_t n = m_file.send_n(m_szLine, len + 1);
    if (n != len + 1)
    {
        ACE_ERROR((LM_ERROR, ACE_TEXT("%p\n"), ACE_TEXT("send")));
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Process-wide run-info state

namespace {

struct RunInfoState
{
    std::atomic<bool> stop{false};
    ACE_thread_t      threadId{};
    ACE_hthread_t     hThread{};
    bool              hasThread = false;
    CLogRunInfoList*  list = nullptr;
    CLog*             log = nullptr;
    bool              started = false;
    char              name[256] = {};
    ACE_Manual_Event  stopEvent;
    CMonotonicAutoEvent wakeEvent;   // stop, or a batch of records waiting
};

std::atomic<bool> g_consoleEcho{true};
std::atomic<bool> g_fileOutput{true};
RunInfoState*     g_state = nullptr;

// Never destroyed: the writer is stopped at process end (RunInfoAtExit)
// after function-local statics made later than it have already gone.
ACE_Thread_Mutex& StateLock()
{
    static ACE_Thread_Mutex* lock = new ACE_Thread_Mutex;
    return *lock;
}

const int kBatch = 50;

// Writes one record: echo and file, as switched.
void WriteRecord(RunInfoState* st, const RUNINFO_RECORD& rec, char* line, char* timeText, int timeTextSize)
{
    if (g_consoleEcho)
    {
        LOG_FormatRunInfoTime(rec.qwTimeMs, timeText, timeTextSize);
        ACE_OS::snprintf(line, RUNINFO_TEXT_SIZE + 128, "(%llu)%s: %s :%s",
                         static_cast<unsigned long long>(rec.qwSequence), timeText, rec.szText, "\r\n");
        ACE_DEBUG((LM_INFO, ACE_TEXT("%s"), line));
    }
    if (g_fileOutput && st->log)
        st->log->Write(rec);
}

ACE_THR_FUNC_RETURN WriterThread(void* arg)
{
    RunInfoState* st = static_cast<RunInfoState*>(arg);
    const CMonotonicTime firstSecond = MonotonicDeadline(1000);
    st->wakeEvent.wait(&firstSecond, 1);   // a batch waiting ends the first second early too
    const CMonotonicTime start = MonotonicNow();
    RUNINFO_RECORD* rec = new RUNINFO_RECORD;
    char timeText[64];
    char* line = new char[RUNINFO_TEXT_SIZE + 128];
    while (!st->stop)
    {
        // Batches of 50 until the queue is empty: a link busier than 50 lines
        // a second keeps every line instead of filling the queue.
        bool more = true;
        while (more && !st->stop)
        {
            int i = 0;
            for (; i < kBatch && !st->stop; ++i)
            {
                if (!st->list->DequeueHead(*rec))
                    break;
                WriteRecord(st, *rec, line, timeText, sizeof timeText);
            }
            more = i == kBatch;
        }
        // Records that had to be dropped all the same (the disk could not
        // keep up) are counted in the log itself.
        if (uint64_t dropped = st->list->TakeDropped())
        {
            ACE_OS::memset(rec, 0, sizeof *rec);
            rec->qwTimeMs = NowMs();
            ACE_OS::snprintf(rec->szText, RUNINFO_TEXT_SIZE, "run-info queue full: %llu records dropped",
                             static_cast<unsigned long long>(dropped));
            rec->nTextLength = static_cast<int32_t>(ACE_OS::strlen(rec->szText));
            ACE_OS::snprintf(rec->szProcess, sizeof rec->szProcess, "%s", st->name);
            WriteRecord(st, *rec, line, timeText, sizeof timeText);
        }
        // Sleep to the next whole second counted from the start time, or
        // until the queue has a batch waiting.
        const ACE_Time_Value elapsed = MonotonicNow() - start;
        CMonotonicTime next = start;
        next += ACE_Time_Value(elapsed.sec() + 1, 0);
        st->wakeEvent.wait(&next, 1);
    }
    delete[] line;
    delete rec;
    return 0;
}

void StartLocked(RunInfoState* st)
{
    if (st->list == nullptr)
        st->list = new CLogRunInfoList;
    if (st->log == nullptr)
    {
        // The file writer does not create folders; without its folder every
        // line would be lost, so the run-info folder is made here.
        WSNCreatFilePath(LINKCORE_RUNINFO_FOLDER);
        char stem[300];
        ACE_OS::snprintf(stem, sizeof stem, "%s/%s", LINKCORE_RUNINFO_FOLDER, st->name);
        st->log = new CLog(stem);
    }
    st->stop = false;
    st->stopEvent.reset();
    st->list->SetWakeEvent(&st->wakeEvent);
    if (ACE_Thread::spawn(WriterThread, st, THR_NEW_LWP | THR_JOINABLE, &st->threadId, &st->hThread) == 0)
        st->hasThread = true;
    else
        ACE_ERROR((LM_ERROR, ACE_TEXT("%p\n"), ACE_TEXT("LOG writer spawn")));
    st->started = true;
}

void SetName(RunInfoState* st, const char* name)
{
    ACE_OS::strncpy(st->name, name ? name : "", sizeof st->name - 1);
    st->name[sizeof st->name - 1] = '\0';
}

// Stops the writer before the other static objects go at process end.
struct RunInfoAtExit
{
    ~RunInfoAtExit() { LOG_UnInit(); }
} g_runInfoAtExit;

}  // namespace

extern "C" {

bool LOG_Init(const char* processName)
{
    ACE_Guard<ACE_Thread_Mutex> guard(StateLock());
    if (g_state != nullptr && g_state->started)
        return true;
    if (g_state == nullptr)
        g_state = new RunInfoState;
    SetName(g_state, processName);
    StartLocked(g_state);
    return true;
}

void LOG_SetProcessName(const char* processName)
{
    ACE_Guard<ACE_Thread_Mutex> guard(StateLock());
    if (g_state == nullptr)
        g_state = new RunInfoState;
    SetName(g_state, processName);
    if (!g_state->started)
        StartLocked(g_state);
}

char* LOG_GetProcessName()
{
    ACE_Guard<ACE_Thread_Mutex> guard(StateLock());
    return g_state ? g_state->name : nullptr;
}

void LOG_AddRunInfo(unsigned int level, const char* text)
{
    ACE_Guard<ACE_Thread_Mutex> guard(StateLock());
    if (g_state == nullptr || g_state->list == nullptr)
        return;
    RUNINFO_RECORD rec;
    rec.qwSequence = 0;
    rec.qwTimeMs = NowMs();
    size_t len = text ? ACE_OS::strlen(text) : 0;
    if (len > RUNINFO_TEXT_SIZE - 1)
        len = RUNINFO_TEXT_SIZE - 1;
    if (len)
        ACE_OS::memcpy(rec.szText, text, len);
    rec.szText[len] = '\0';
    rec.nTextLength = static_cast<int32_t>(len);
    rec.nLevel = static_cast<int32_t>(level);
    ACE_OS::strncpy(rec.szProcess, g_state->name, sizeof rec.szProcess - 1);
    rec.szProcess[sizeof rec.szProcess - 1] = '\0';
    g_state->list->EnqueueTail(rec);
}

void LOG_MakeAndAddRunInfo(unsigned int level, const char* format, ...)
{
    if (format == nullptr)
        return;
    char text[RUNINFO_TEXT_SIZE];
    va_list ap;
    va_start(ap, format);
    vsnprintf(text, sizeof text, format, ap);
    va_end(ap);
    LOG_AddRunInfo(level, text);
}

void LOG_UnInit()
{
    RunInfoState* st;
    {
        ACE_Guard<ACE_Thread_Mutex> guard(StateLock());
        st = g_state;
        g_state = nullptr;
    }
    if (st == nullptr)
        return;
    st->stop = true;
    st->stopEvent.signal();
    st->wakeEvent.signal();
    if (st->hasThread)
    {
        ACE_Thread::join(st->hThread);
        st->hasThread = false;
    }
    delete st->log;
    delete st->list;    // drops queued records
    delete st;
}

void LOG_SetOutput(bool consoleEcho, bool fileOutput)
{
    g_consoleEcho = consoleEcho;
    g_fileOutput = fileOutput;
}

void LOG_SetConsoleEcho(bool consoleEcho)
{
    g_consoleEcho = consoleEcho;
}

}  // extern "C"
