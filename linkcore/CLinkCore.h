// The protocol engine.
//
// CLinkCore is the abstract base of every protocol. A concrete protocol
// (a plug-in) derives from it, creates its frame finder (a CProtocolExplain
// subclass) and its protocol data (a CProtocolData subclass) in its
// constructor and implements ProcessUpFrame. The engine frames the byte
// stream from the channel, hands each frame to ProcessUpFrame on the receive
// thread, sends through WriteToChannel, traces both directions and calls
// HandleTimer(4002) once a second on its timer thread.
//
// Writing a protocol (see also CProtocolTemplate.h for the factory contract):
//
//   class CMyData : public CProtocolData {};
//   class CMyExplain : public CProtocolExplain {
//   public:
//       int FindFrame(const char* buf, int len, int* frameLen) override;
//   };
//   class CMyProto : public CLinkCore {
//   public:
//       explicit CMyProto(_PROTOCOLID id) : CLinkCore(id) {
//           m_pProtocolExplain = new CMyExplain;   // the engine deletes both
//           m_pProtocolData    = new CMyData;
//       }
//       bool Initialize() override { CLinkCore::Initialize(); /* own setup */ return true; }
//       void UnInit() override { /* own take-down */ CLinkCore::UnInit(); }
//       bool ProcessUpFrame(const char* frame, int len, int status) override;
//   };
//   extern "C" LINKCORE_PLUGIN_API CLinkCore* CreatNewProtocol(_PROTOCOLID id);
#ifndef LINKCORE_CLINKCORE_H
#define LINKCORE_CLINKCORE_H

#include <stdint.h>
#include <atomic>
#include <ace/Thread.h>
#include <ace/Thread_Mutex.h>
#include "MonotonicWait.h"
#include "LinkCoreExport.h"
#include "LinkCorePaths.h"
#include "LogBuf.h"
#include "DataFile.h"

class CLinkCore;
class CSensorDBLink;

// Channel hooks of the engine: (owner, bytes, length, flags) -> bytes sent.
// The template installs its send function (ProtocolTemplateSend,
// CProtocolTemplate.h) as the send hook.
typedef int (*PFN_CHANNEL_HOOK)(void* owner, const char* data, int length, int flags);

// The timer id the engine passes to HandleTimer once a second.
#define LINKCORE_TIMER_ID 4002

// 32-bit protocol identity passed by value to protocol constructors and to
// the plug-in factory. The factory gets the channel number as the 32-bit
// value (low half = channel, high half = 0); a default-constructed identity
// has both halves equal to 1.
struct _PROTOCOLID
{
    uint16_t wLow;
    uint16_t wHigh;

    _PROTOCOLID() : wLow(1), wHigh(1) {}
    _PROTOCOLID(uint16_t low, uint16_t high) : wLow(low), wHigh(high) {}
    static _PROTOCOLID FromValue(uint32_t value)
    {
        return _PROTOCOLID(static_cast<uint16_t>(value & 0xFFFFu), static_cast<uint16_t>(value >> 16));
    }
    uint32_t Value() const { return (static_cast<uint32_t>(wHigh) << 16) | wLow; }
};
static_assert(sizeof(_PROTOCOLID) == 4, "_PROTOCOLID is a 32-bit record");

// Data-link record. It carries no data in this system; the protocols look at
// its 16-bit kind and command byte only (ReadFrDBLink: kind 0x20, command 0x82).
class LINKCORE_API CGenData
{
public:
    CGenData() : wKind(0), byCmd(0), byReserved(0), nLength(0), pData(nullptr) {}
    virtual ~CGenData();

    uint16_t    wKind;
    uint8_t     byCmd;
    uint8_t     byReserved;
    int32_t     nLength;
    const char* pData;     // not owned
};

// Base of a protocol's data description. The name is the section of the
// system configuration file holding the trace switches ("VKR_M").
class LINKCORE_API CProtocolData
{
public:
    enum { RECV_BUF_SIZE = 131072, SECOND_BUF_SIZE = 8192 };

    CProtocolData();
    virtual ~CProtocolData();
    // Sets the channel number and the two buffer sizes; returns true.
    virtual bool Initialeze(int channel);
    virtual void Uninit() {}

    void SetPB(CLinkCore* engine) { m_pLinkCore = engine; }
    CLinkCore*  GetPB() const { return m_pLinkCore; }
    const char* GetName() const { return m_szName; }

    int        m_nChannel;
    int        m_nRecvBufSize;
    int        m_nSecondBufSize;
    CLinkCore* m_pLinkCore;
    char       m_szName[128];
};

// Frame finder. FindFrame returns the offset of the frame start and sets
// *frameLength: 0 = need more bytes (result ignored), negative = discard the
// buffer, positive = a complete frame of that length starts at the result.
class LINKCORE_API CProtocolExplain
{
public:
    virtual ~CProtocolExplain();
    virtual int FindFrame(const char* data, int length, int* frameLength) = 0;
};

class LINKCORE_API CLinkCore
{
public:
    enum { TRACE_RAW = 1, TRACE_MSG = 2, TRACE_BOTH = 3 };
    enum { RAW_TRACE_CHUNK_LIMIT = 4096, DEFAULT_LOG_LIMIT = 10485760 };

    explicit CLinkCore(_PROTOCOLID id = _PROTOCOLID());
    // Waits for the timer thread if still held, destroys remaining logs, the
    // receive buffer, the protocol data and the frame finder.
    virtual ~CLinkCore();

    // Virtual operations, in their fixed slot order.
    // Sets up protocol data, trace logs, size limits, the receive buffer, the
    // send hook and the timer thread; calls LOG_Init("VKR"). Returns true.
    virtual bool Initialize();
    // Raises the end flag if needed, joins the timer thread, destroys both
    // trace logs. Safe to call twice.
    virtual void UnInit();
    // Receive path (channel receive thread): status events go straight to
    // ProcessUpFrame; bytes are traced, buffered and framed.
    virtual bool ReadFrChannel(const char* data, int length, int status);
    virtual bool ReadFrDBLink(CGenData* data);
    // One complete frame (status 0) or a channel status event (status != 0,
    // no bytes). Runs on the channel's receive thread (or, for the port-opened
    // event, on the thread that opened the port).
    virtual bool ProcessUpFrame(const char* frame, int length, int status) = 0;
    virtual bool IsRealDataFrame(const char* frame, int length);
    // Sends through the channel send hook; the bytes the channel accepted, 0
    // without a bound channel or when the port is closed.
    virtual int  WriteToChannel(char* data, int length);
    // Called once a second on the timer thread with LINKCORE_TIMER_ID.
    virtual bool HandleTimer(unsigned int timerId);

    bool SetDBLink(CSensorDBLink* link) { m_pDBLink = link; return true; }
    CSensorDBLink*    GetDBLink() const { return m_pDBLink; }
    CProtocolExplain* GetProtocolExplain() const { return m_pProtocolExplain; }
    CProtocolData*    GetProtocolData() const { return m_pProtocolData; }
    void SetProtocol(void* owner) { m_pOwner = owner; }
    void* GetProtocol() const { return m_pOwner; }
    bool ReadDBLink(CGenData* data) { return ReadFrDBLink(data); }
    bool WriteToDBLink(CGenData*) { return m_pDBLink != nullptr; }
    bool QueryDB(CGenData*, CGenData*, int) { return true; }
    int  ResBufLen(CGenData*) { return 0; }
    bool IsEnd() const { return m_bEnd; }
    void SetEnd();
    void SetCommState(bool) {}
    void SetStCommStatus(unsigned short, bool) {}
    void WriteSensorMsg(const char*, unsigned int, bool) {}
    // Forms one trace record and writes it to the raw log (bit 0 of targets)
    // and/or the message log (bit 1). Thread-safe.
    void DisplayMsg(const char* data, unsigned int length, bool transmitted, int targets);

    // LinkCore additions for tests and tools.
    // Replaces the channel hooks (Initialize installs the template's send
    // function; call this after Initialize to bind another channel).
    void SetChannelHooks(PFN_CHANNEL_HOOK send, PFN_CHANNEL_HOOK reconnect = nullptr)
    {
        m_pfnSend = send;
        m_pfnReconnect = reconnect;
    }
    int  GetChannelNo() const { return m_nChannel; }
    void SetChannelNo(int channel) { m_nChannel = channel; }
    unsigned int GetRawLogSize() const { return m_dwRawLogSize; }
    unsigned int GetMsgLogSize() const { return m_dwMsgLogSize; }
    CSFlogBuf* GetRawLog() const { return m_pRawLog; }
    CSFlogBuf* GetMsgLog() const { return m_pMsgLog; }
    int  GetAccumulatedLength() const { return m_nRecvLen; }
    void EnableTrace(bool enable) { m_bTrace = enable; }

    // After a request gave up waiting, its reply may still come and would be
    // taken for the next request's (a read reply names no register). The
    // protocols call this before the next request: it returns once no byte
    // has arrived for quietMs, counted from the call (or from the last byte
    // that arrives meanwhile; such bytes meet no waiting request and are
    // dropped). Gives up after maxWaitMs of a line that never goes quiet
    // (noise) and returns false. Uses the monotonic clock.
    bool WaitQuietLine(unsigned int quietMs, unsigned int maxWaitMs);
    // Monotonic milliseconds of the last received chunk (0: none yet).
    long long LastReceiveMs() const { return m_nLastRecvMs.load(); }
    static long long MonotonicMs();

protected:
    void ReconnectChannel();
    // Reads "RawLogBufSize"/"MsgLogBufSize" of section "protocolConfig" (plain
    // INI). Missing or 0: 2000000 / 100000000. File unreadable: false, limits
    // unchanged.
    bool SetLogFileSize(const char* iniPath);

    // Fields in their fixed order.
    PFN_CHANNEL_HOOK   m_pfnSend;
    PFN_CHANNEL_HOOK   m_pfnReconnect;
    CSensorDBLink*     m_pDBLink;           // not owned
    CProtocolExplain*  m_pProtocolExplain;  // set by the derived constructor; deleted by the engine
    CProtocolData*     m_pProtocolData;     // set by the derived constructor; deleted by the engine
    char*              m_pRecvBuf;          // owned
    std::atomic<int>   m_nRecvLen;          // written by the receive thread only; read by diagnostics
    CSFlogBuf*         m_pRawLog;           // owned
    CSFlogBuf*         m_pMsgLog;           // owned
    unsigned int       m_dwRawLogSize;
    unsigned int       m_dwMsgLogSize;
    int                m_nChannel;
    bool               m_bTrace;
    MSG_PROTOCOL*      m_pMsg;              // owned
    void*              m_pOwner;
    std::atomic<bool>  m_bEnd;
    ACE_thread_t       m_timerThreadId;
    ACE_hthread_t      m_hTimerThread;
    bool               m_bTimerThread;      // m_hTimerThread holds a joinable thread

private:
    bool CreateMsgThread();
    static ACE_THR_FUNC_RETURN TimerThreadProc(void* arg);
    void TimerLoop();
    void StampRecord(const char* data, unsigned int length, bool transmitted);

    int                m_nRecvBufSize;
    ACE_Thread_Mutex   m_traceLock;         // trace record + both trace logs
    CMonotonicManualEvent m_endEvent;          // wakes the timer thread on SetEnd
    std::atomic<long long> m_nLastRecvMs{0}; // monotonic time of the last chunk

    CLinkCore(const CLinkCore&) = delete;
    CLinkCore& operator=(const CLinkCore&) = delete;
};

#endif
