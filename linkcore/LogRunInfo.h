// The parts of the run-info log behind the LOG_ functions. Exported
// so that tests and tools can drive them directly; protocols and the program
// use the LOG_ functions of LogBuf.h.
#ifndef LINKCORE_LOGRUNINFO_H
#define LINKCORE_LOGRUNINFO_H

#include <stdint.h>
#include <ace/FILE_IO.h>
#include <ace/Message_Queue.h>
#include <ace/Synch_Traits.h>
#include <ace/Condition_Thread_Mutex.h>
#include <ace/Condition_Attributes.h>
#include <ace/Thread_Mutex.h>
#include "LinkCoreExport.h"

#define RUNINFO_TEXT_SIZE   2048
#define RUNINFO_HIGH_WATER  262144
#define RUNINFO_LOW_WATER   16384
// Queued records that wake the writer before its next whole second.
#define RUNINFO_WAKE_COUNT  50

class ACE_Event_Base;

// One queued run-info record: fixed 2136-byte block.
struct RUNINFO_RECORD
{
    uint64_t qwSequence;     // 1 for the first record of the process
    uint64_t qwTimeMs;       // milliseconds since 1970-01-01 UTC
    int32_t  nTextLength;    // at most 2047
    int32_t  nLevel;         // stored, not printed
    char     szProcess[64];
    char     szText[RUNINFO_TEXT_SIZE];
};
static_assert(sizeof(RUNINFO_RECORD) == 2136, "run-info record is a fixed 2136-byte block");

// Formats a run-info file line (without its terminating zero byte):
// "(%llu)%s: %s\r\n" with the time as "%04d-%02d-%02d %02d:%02d:%02d %03d"
// (local time). Returns the length.
LINKCORE_API int LOG_FormatRunInfoLine(const RUNINFO_RECORD* record, char* out, int outSize);
// The time text "%04d-%02d-%02d %02d:%02d:%02d %03d" of a millisecond time.
LINKCORE_API void LOG_FormatRunInfoTime(uint64_t timeMs, char* out, int outSize);

// The queue: a thread-safe message queue (high water 262144 bytes, low water
// 16384), so 123 queued records make it full.
class LINKCORE_API CLogRunInfoList
{
public:
    CLogRunInfoList();
    ~CLogRunInfoList();

    // Fills the next sequence number and appends. When the queue is full the
    // oldest half (count / 2) is discarded first and counted; the diagnostic
    // line is written for the first overflow after the last TakeDropped only.
    // With a wake event set, it is signalled once RUNINFO_WAKE_COUNT records
    // wait.
    bool EnqueueTail(RUNINFO_RECORD& record);
    // Records discarded since the last call (and re-arms the diagnostic line).
    uint64_t TakeDropped();
    void SetWakeEvent(ACE_Event_Base* wake);
    // Takes the oldest record; false when the queue is empty (never waits).
    bool DequeueHead(RUNINFO_RECORD& record);
    int  MessageCount();
    bool IsFull();
    void Flush();                           // drops every queued record

private:
    ACE_Message_Queue<ACE_MT_SYNCH> m_queue;
    ACE_Thread_Mutex                m_lock;   // sequence number + append
    uint64_t                        m_nDropped = 0;
    bool                            m_bOverflowReported = false;
    ACE_Event_Base*                 m_pWake = nullptr;
};

// The file writer: "<stem>_0.txt" / "<stem>_1.txt", rotation at the size
// limit (100000000 bytes; 1000000 if 0 is given). The folder is not created:
// while the file cannot be opened, every record tries again; the failure is
// reported once (not once per record) until an open succeeds.
class LINKCORE_API CLog
{
public:
    explicit CLog(const char* stem, unsigned int sizeLimit = 100000000u);
    ~CLog();
    // Rotates when the file is at least the limit, then writes the line and
    // one zero byte.
    bool Write(const RUNINFO_RECORD& record);
    int  GetFileIndex() const { return m_nIndex; }
    const char* GetFileName() const { return m_szFile; }

private:
    bool Open(bool truncate);
    char         m_szStem[256];
    char         m_szFile[300];
    int          m_nIndex;
    unsigned int m_dwSizeLimit;
    bool         m_bOpenReported;   // an open failure is reported once until an open succeeds
    ACE_FILE_IO  m_file;
    char         m_szLine[RUNINFO_TEXT_SIZE + 128];
};

#endif
