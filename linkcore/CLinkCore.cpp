// The protocol engine.
#include "CLinkCore.h"

#include <chrono>
#include <thread>
#include "CProtocolTemplate.h"

#include <ace/Configuration.h>
#include <ace/Configuration_Import_Export.h>
#include <ace/Date_Time.h>
#include <ace/Guard_T.h>
#include <ace/Log_Msg.h>
#include <ace/OS_NS_stdio.h>
#include <ace/OS_NS_stdlib.h>
#include <ace/OS_NS_string.h>
#include <ace/OS_NS_sys_time.h>

#include <stdlib.h>

namespace {

const unsigned int kRawLogDefault = 2000000u;
const unsigned int kMsgLogDefault = 100000000u;
const int kTickMs = 200;
const int kTicksPerTimer = 5;

}  // namespace

// ---------------------------------------------------------------------------
// CGenData, CProtocolExplain (out of line: their type information lives here)

CGenData::~CGenData()
{
}

CProtocolExplain::~CProtocolExplain()
{
}

// ---------------------------------------------------------------------------
// CProtocolData

CProtocolData::CProtocolData()
    : m_nChannel(1), m_nRecvBufSize(RECV_BUF_SIZE), m_nSecondBufSize(SECOND_BUF_SIZE), m_pLinkCore(nullptr)
{
    ACE_OS::memset(m_szName, 0, sizeof m_szName);
    ACE_OS::strcpy(m_szName, "VKR_M");
}

CProtocolData::~CProtocolData()
{
}

bool CProtocolData::Initialeze(int channel)
{
    m_nChannel = channel;
    m_nRecvBufSize = RECV_BUF_SIZE;
    m_nSecondBufSize = SECOND_BUF_SIZE;
    return true;
}

// ---------------------------------------------------------------------------
// CLinkCore

CLinkCore::CLinkCore(_PROTOCOLID /*id*/)
    : m_pfnSend(nullptr),
      m_pfnReconnect(nullptr),
      m_pDBLink(nullptr),
      m_pProtocolExplain(nullptr),
      m_pProtocolData(nullptr),
      m_pRecvBuf(nullptr),
      m_nRecvLen(0),
      m_pRawLog(nullptr),
      m_pMsgLog(nullptr),
      m_dwRawLogSize(DEFAULT_LOG_LIMIT),
      m_dwMsgLogSize(DEFAULT_LOG_LIMIT),
      m_nChannel(1),
      m_bTrace(true),
      m_pMsg(nullptr),
      m_pOwner(nullptr),
      m_bEnd(false),
      m_timerThreadId(),
      m_hTimerThread(),
      m_bTimerThread(false),
      m_nRecvBufSize(0),
      m_endEvent(0)
{
}

CLinkCore::~CLinkCore()
{
    if (m_bTimerThread)
    {
        SetEnd();
        ACE_Thread::join(m_hTimerThread);
        m_bTimerThread = false;
    }
    {
        ACE_Guard<ACE_Thread_Mutex> guard(m_traceLock);
        delete m_pRawLog;
        m_pRawLog = nullptr;
        delete m_pMsgLog;
        m_pMsgLog = nullptr;
        delete m_pMsg;
        m_pMsg = nullptr;
    }
    delete[] m_pRecvBuf;
    m_pRecvBuf = nullptr;
    delete m_pProtocolData;
    m_pProtocolData = nullptr;
    delete m_pProtocolExplain;
    m_pProtocolExplain = nullptr;
}

bool CLinkCore::Initialize()
{
    // 1. protocol data
    if (m_pProtocolData == nullptr)
        m_pProtocolData = new CProtocolData;
    m_pProtocolData->SetPB(this);
    m_pProtocolData->Initialeze(m_nChannel);

    // 2. trace record
    {
        ACE_Guard<ACE_Thread_Mutex> guard(m_traceLock);
        if (m_pMsg == nullptr)
        {
            m_pMsg = new MSG_PROTOCOL;
            ACE_OS::memset(m_pMsg, 0, sizeof(MSG_PROTOCOL));
        }
    }

    // 3. log size limits
    SetLogFileSize(LINKCORE_SYSTEM_CONFIG);

    // 4. timer thread
    m_bEnd = false;
    m_endEvent.reset();
    if (!m_bTimerThread)
        CreateMsgThread();

    // 5. receive buffer
    int size = m_pProtocolData->m_nRecvBufSize > 0 ? m_pProtocolData->m_nRecvBufSize : CProtocolData::RECV_BUF_SIZE;
    if (m_pRecvBuf == nullptr)
    {
        m_pRecvBuf = new char[size];
        m_nRecvBufSize = size;
    }
    ACE_OS::memset(m_pRecvBuf, 0, m_nRecvBufSize);
    m_nRecvLen = 0;

    // 6., 7. trace logs
    {
        ACE_Guard<ACE_Thread_Mutex> guard(m_traceLock);
        char stem[256];
        if (m_pRawLog == nullptr)
        {
            ACE_OS::snprintf(stem, sizeof stem, "%s/RAW_MSG_CH%d", LINKCORE_TRACE_FOLDER, m_nChannel);
            m_pRawLog = new CSFlogBuf(m_pProtocolData->m_szName, stem, m_dwRawLogSize, 100, 5000);
        }
        if (m_pMsgLog == nullptr)
        {
            ACE_OS::snprintf(stem, sizeof stem, "%s/MSG_CH%d", LINKCORE_TRACE_FOLDER, m_nChannel);
            m_pMsgLog = new CSFlogBuf(m_pProtocolData->m_szName, stem, m_dwMsgLogSize, 100, 5000);
            m_pMsgLog->SetMsgShow(false);
        }
    }

    // 8. channel send hook, trace on, run-info log. The run-info lines are
    // echoed on the console only when the protocol's traffic is ("msg_show"):
    // by default the traffic goes to the files and standard error stays quiet.
    m_pfnSend = &ProtocolTemplateSend;
    m_bTrace = true;
    LOG_Init("VKR");
    LOG_SetConsoleEcho(m_pRawLog->IsMsgShow());
    return true;
}

void CLinkCore::UnInit()
{
    if (!m_bEnd)
        SetEnd();
    if (m_bTimerThread)
    {
        ACE_Thread::join(m_hTimerThread);
        m_bTimerThread = false;
    }
    ACE_Guard<ACE_Thread_Mutex> guard(m_traceLock);
    delete m_pRawLog;
    m_pRawLog = nullptr;
    delete m_pMsgLog;
    m_pMsgLog = nullptr;
}

void CLinkCore::SetEnd()
{
    m_bEnd = true;
    m_endEvent.signal();
}

bool CLinkCore::ReadFrChannel(const char* data, int length, int status)
{
    // 1. channel status event: no payload, clears any partial frame.
    if (status != 0)
    {
        ProcessUpFrame(data, length, status);
        if (m_pRecvBuf != nullptr)
            ACE_OS::memset(m_pRecvBuf, 0, m_nRecvBufSize);
        m_nRecvLen = 0;
        return true;
    }
    // 2.
    if (length <= 0 || data == nullptr)
        return true;
    m_nLastRecvMs = MonotonicMs();
    // 3. raw trace of the chunk
    if (length < RAW_TRACE_CHUNK_LIMIT)
        DisplayMsg(data, static_cast<unsigned int>(length), false, TRACE_RAW);
    if (m_pRecvBuf == nullptr || m_pProtocolExplain == nullptr)
        return true;

    // 4. append; bytes that would not fit restart the buffer with this chunk.
    if (m_nRecvLen < 0)
        m_nRecvLen = 0;
    if (length > m_nRecvBufSize)
        length = m_nRecvBufSize;
    if (m_nRecvLen + length > m_nRecvBufSize)
        m_nRecvLen = 0;
    ACE_OS::memcpy(m_pRecvBuf + m_nRecvLen, data, static_cast<size_t>(length));
    m_nRecvLen += length;

    // 5. framing
    for (int i = 0; i < 5; ++i)
    {
        int frameLength = 0;
        int offset = m_pProtocolExplain->FindFrame(m_pRecvBuf, m_nRecvLen, &frameLength);
        if (frameLength == 0)
            return true;
        if (frameLength < 0 || offset < 0 || offset + frameLength > m_nRecvLen)
        {
            // Nothing usable (or a frame finder answer outside the buffer).
            m_nRecvLen = 0;
            return true;
        }
        if (m_bTrace)
            DisplayMsg(m_pRecvBuf + offset, static_cast<unsigned int>(frameLength), false, TRACE_MSG);
        ProcessUpFrame(m_pRecvBuf + offset, frameLength, 0);
        // Bytes that followed the frame are discarded.
        m_nRecvLen = 0;
    }
    return true;
}

long long CLinkCore::MonotonicMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool CLinkCore::WaitQuietLine(unsigned int quietMs, unsigned int maxWaitMs)
{
    const long long start = MonotonicMs();
    for (;;)
    {
        const long long now = MonotonicMs();
        const long long last = m_nLastRecvMs.load();
        const long long quietSince = last > start ? last : start;
        if (now - quietSince >= static_cast<long long>(quietMs))
            return true;
        if (now - start >= static_cast<long long>(maxWaitMs) || m_bEnd)
            return false;
        long long wait = quietSince + quietMs - now;
        const long long limit = start + maxWaitMs - now;
        if (wait > limit)
            wait = limit;
        if (wait > 50)
            wait = 50;   // the end flag is seen within 50 ms
        std::this_thread::sleep_for(std::chrono::milliseconds(wait > 0 ? wait : 1));
    }
}

bool CLinkCore::ReadFrDBLink(CGenData*)
{
    return true;
}

bool CLinkCore::IsRealDataFrame(const char*, int)
{
    return true;
}

int CLinkCore::WriteToChannel(char* data, int length)
{
    PFN_CHANNEL_HOOK send = m_pfnSend;
    void* owner = m_pOwner;
    if (send == nullptr || owner == nullptr)
        return 0;
    int result = send(owner, data, length, 0);
    // Only what the channel took went out; a refused frame (closed port,
    // result 0) is not traced as sent.
    if (result > 0 && length > 0)
        DisplayMsg(data, static_cast<unsigned int>(length), true, TRACE_BOTH);
    return result;
}

bool CLinkCore::HandleTimer(unsigned int)
{
    return true;
}

void CLinkCore::StampRecord(const char* data, unsigned int length, bool transmitted)
{
    if (length > MSG_PROTOCOL_MAX_LEN)
        length = 4096;
    ACE_Time_Value now = ACE_OS::gettimeofday();
    ACE_Date_Time dt(now);   // local date and time
    m_pMsg->wYear = static_cast<unsigned short>(dt.year());
    m_pMsg->wMonth = static_cast<unsigned short>(dt.month());
    m_pMsg->wDay = static_cast<unsigned short>(dt.day());
    m_pMsg->wHour = static_cast<unsigned short>(dt.hour());
    m_pMsg->wMinute = static_cast<unsigned short>(dt.minute());
    m_pMsg->wSecond = static_cast<unsigned short>(dt.second());
    m_pMsg->dwMicrosecond = static_cast<unsigned int>(now.usec());
    m_pMsg->bTransmit = transmitted;
    m_pMsg->nLength = static_cast<int>(length);
    if (data != nullptr && length > 0)
        ACE_OS::memcpy(m_pMsg->byData, data, length);
}

void CLinkCore::DisplayMsg(const char* data, unsigned int length, bool transmitted, int targets)
{
    if (!m_bTrace)
        return;
    ACE_Guard<ACE_Thread_Mutex> guard(m_traceLock);
    if (m_pMsg == nullptr)
        return;
    bool raw = (targets & TRACE_RAW) && m_pRawLog != nullptr;
    bool msg = (targets & TRACE_MSG) && m_pMsgLog != nullptr;
    if (!raw && !msg)
        return;
    StampRecord(data, length, transmitted);
    if (raw)
        m_pRawLog->LogMessage(m_pMsg, false);
    if (msg)
        m_pMsgLog->LogMessage(m_pMsg, false);
}

void CLinkCore::ReconnectChannel()
{
    if (m_pfnReconnect != nullptr && m_pOwner != nullptr)
        m_pfnReconnect(m_pOwner, nullptr, 0, 1283);
}

bool CLinkCore::SetLogFileSize(const char* iniPath)
{
    ACE_Configuration_Heap heap;
    ACE_Ini_ImpExp imp(heap);
    if (iniPath == nullptr || heap.open() != 0 || imp.import_config(iniPath) != 0)
    {
        ACE_ERROR((LM_ERROR, ACE_TEXT("error open Ini config file\n")));
        return false;
    }
    unsigned long raw = 0;
    unsigned long msg = 0;
    ACE_Configuration_Section_Key key;
    if (heap.open_section(heap.root_section(), "protocolConfig", 0, key) == 0)
    {
        ACE_TString value;
        if (heap.get_string_value(key, "RawLogBufSize", value) == 0)
            raw = ACE_OS::strtoul(value.c_str(), nullptr, 10);
        if (heap.get_string_value(key, "MsgLogBufSize", value) == 0)
            msg = ACE_OS::strtoul(value.c_str(), nullptr, 10);
    }
    m_dwRawLogSize = raw == 0 ? kRawLogDefault : static_cast<unsigned int>(raw);
    m_dwMsgLogSize = msg == 0 ? kMsgLogDefault : static_cast<unsigned int>(msg);
    return true;
}

bool CLinkCore::CreateMsgThread()
{
    if (ACE_Thread::spawn(&CLinkCore::TimerThreadProc, this, THR_NEW_LWP | THR_JOINABLE, &m_timerThreadId,
                          &m_hTimerThread) == 0)
        m_bTimerThread = true;
    else
        ACE_ERROR((LM_ERROR, ACE_TEXT("%p\n"), ACE_TEXT("engine timer thread spawn")));
    return true;
}

ACE_THR_FUNC_RETURN CLinkCore::TimerThreadProc(void* arg)
{
    static_cast<CLinkCore*>(arg)->TimerLoop();
    return 0;
}

void CLinkCore::TimerLoop()
{
    int ticks = 0;
    // Ticks are counted on the monotonic clock, so setting the time of day
    // neither stalls nor hurries the timer.
    CMonotonicTime next = MonotonicNow();
    const ACE_Time_Value tick(0, kTickMs * 1000);
    while (!m_bEnd)
    {
        // Sleep one 200 ms tick; SetEnd wakes the wait at once.
        next += tick;
        while (!m_bEnd && MonotonicNow() < next)
            m_endEvent.wait(&next, 1);
        const CMonotonicTime now = MonotonicNow();
        if (now >= next + tick)
            next = now;   // a late tick (busy machine): no burst of catch-up ticks
        if (m_bEnd)
            break;
        if (++ticks % kTicksPerTimer == 0)
            HandleTimer(LINKCORE_TIMER_ID);
    }
}
