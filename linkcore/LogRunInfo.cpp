// The run-info log (LOG_ functions, CLogRunInfoList, CLog).
#include "LogBuf.h"
#include "LogRunInfo.h"
#include "LinkCorePaths.h"
#include "WSNConfig.h"

#include <ace/Date_Time.h>
#include <ace/FILE_Connector.h>
#include <ace/Guard_T.h>
#include <ace/Log_Msg.h>
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
        ACE_ERROR((LM_ERROR, ACE_TEXT("CLogRunInfoList::EnqueueTail  mq is_full  message_count=%d!!\n"), count));
        for (int i = 0; i < count / 2; ++i)
        {
            ACE_Message_Block* old = nullptr;
            ACE_Time_Value noWait(ACE_Time_Value::zero);
            if (m_queue.dequeue_head(old, &noWait) == -1)
                break;
            old->release();
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
        return false;
    }
    return true;
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
};

std::atomic<bool> g_consoleEcho{true};
std::atomic<bool> g_fileOutput{true};
RunInfoState*     g_state = nullptr;

ACE_Thread_Mutex& StateLock()
{
    static ACE_Thread_Mutex lock;
    return lock;
}

const int kBatch = 50;

ACE_THR_FUNC_RETURN WriterThread(void* arg)
{
    RunInfoState* st = static_cast<RunInfoState*>(arg);
    ACE_Time_Value oneSecond(1, 0);
    st->stopEvent.wait(&oneSecond, 0);
    ACE_Time_Value start = ACE_OS::gettimeofday();
    RUNINFO_RECORD* rec = new RUNINFO_RECORD;
    char timeText[64];
    char* line = new char[RUNINFO_TEXT_SIZE + 128];
    while (!st->stop)
    {
        for (int i = 0; i < kBatch && !st->stop; ++i)
        {
            if (!st->list->DequeueHead(*rec))
                break;
            if (g_consoleEcho)
            {
                LOG_FormatRunInfoTime(rec->qwTimeMs, timeText, sizeof timeText);
                ACE_OS::snprintf(line, RUNINFO_TEXT_SIZE + 128, "(%llu)%s: %s :%s",
                                 static_cast<unsigned long long>(rec->qwSequence), timeText, rec->szText, "\r\n");
                ACE_DEBUG((LM_INFO, ACE_TEXT("%s"), line));
            }
            if (g_fileOutput && st->log)
                st->log->Write(*rec);
        }
        // Sleep to the next whole second counted from the start time.
        ACE_Time_Value now = ACE_OS::gettimeofday();
        ACE_Time_Value elapsed = now - start;
        ACE_Time_Value next = start + ACE_Time_Value(elapsed.sec() + 1, 0);
        ACE_Time_Value wait = next - now;
        st->stopEvent.wait(&wait, 0);
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
