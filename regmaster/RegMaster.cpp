// RegMaster: Modbus RTU master for single-register reads and writes.
#include "RegMaster.h"

#include <ace/Guard_T.h>
#include <ace/OS_NS_stdio.h>
#include <ace/OS_NS_string.h>
#include <ace/OS_NS_sys_time.h>
#include <ace/OS_NS_unistd.h>

#include "LogBuf.h"
#include "TcpChannel.h"

namespace {

// The instance the last CreatNewProtocol made; cleared when it is destroyed.
std::atomic<CRegMaster*> g_pInstance(nullptr);

const unsigned char kFunRead = 0x03;
const unsigned char kFunWrite = 0x06;
const unsigned char kExceptionBit = 0x80;
const unsigned short kKeepAliveReg = 0x0002;
const unsigned short kKeepAliveCount = 0x000B;

bool CrcOk(const uint8_t* frame, int length)
{
    uint16_t crc = RegMasterCrc16(frame, length - 2);
    return frame[length - 2] == static_cast<uint8_t>(crc & 0xFF) && frame[length - 1] == static_cast<uint8_t>(crc >> 8);
}

// "%02X " per byte into out (cut to fit).
void HexText(const uint8_t* data, int length, char* out, size_t outSize)
{
    size_t pos = 0;
    out[0] = '\0';
    for (int i = 0; i < length && pos + 4 <= outSize; ++i)
        pos += static_cast<size_t>(ACE_OS::snprintf(out + pos, outSize - pos, "%02X ", data[i]));
}


}  // namespace

uint16_t RegMasterCrc16(const uint8_t* data, int length)
{
    uint16_t crc = 0xFFFF;
    for (int i = 0; i < length; ++i)
    {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : static_cast<uint16_t>(crc >> 1);
    }
    return crc;
}

// ---------------------------------------------------------------------------
// CRegMasterData, CRegMasterExplain

CRegMasterData::CRegMasterData()
{
}

CRegMasterData::~CRegMasterData()
{
}

CRegMasterExplain::~CRegMasterExplain()
{
}

int CRegMasterExplain::FindTcpFrame(const uint8_t* b, int length, int* frameLength) const
{
    if (length < REGMASTER_MBAP_SIZE + 1)
        return 0;
    const int protocol = (b[2] << 8) | b[3];
    const int counted = (b[4] << 8) | b[5];   // unit id + PDU
    if (protocol != 0 || counted < 2 || counted > 254)
    {
        *frameLength = -1;
        return 0;
    }
    if (length >= 6 + counted)
        *frameLength = 6 + counted;
    return 0;
}

int CRegMasterExplain::FindFrame(const char* data, int length, int* frameLength)
{
    *frameLength = 0;
    if (data != nullptr && m_nFraming == REGMASTER_FRAMING_TCP)
        return FindTcpFrame(reinterpret_cast<const uint8_t*>(data), length, frameLength);
    if (data == nullptr || length < MIN_FRAME)
        return 0;
    if (length > MAX_BUFFERED)
    {
        *frameLength = -1;
        return 0;
    }
    const uint8_t* b = reinterpret_cast<const uint8_t*>(data);
    for (int i = 0; i + 1 < length; ++i)
    {
        const int rest = length - i;
        const uint8_t f = b[i + 1];
        if (f == kFunWrite && rest >= 8 && CrcOk(b + i, 8))
        {
            *frameLength = 8;
            return i;
        }
        if ((f & kExceptionBit) != 0 && rest >= 5 && CrcOk(b + i, 5))
        {
            *frameLength = 5;
            return i;
        }
        if (rest >= 3)
        {
            // Station, function, count, count data bytes; a count of 253 and
            // more wraps to a shape shorter than any reply and is no frame.
            const int n = (b[i + 2] + 3) & 0xFF;
            if (n >= 3 && n + 2 <= rest && CrcOk(b + i, n + 2))
            {
                *frameLength = n + 2;
                return i;
            }
        }
    }
    return 0;
}

// ---------------------------------------------------------------------------
// CRegMaster

CRegMaster::CRegMaster(_PROTOCOLID id)
    : CLinkCore(id),
      m_dwOutTime(DEFAULT_OUT_TIME_MS),
      m_byReplyStation(0),
      m_byFlag(0),
      m_wLastReg(0),
      m_byValueHigh(0),
      m_byValueLow(0),
      m_byException(0),
      m_pReplyEvent(nullptr),
      m_nTicks(0),
      m_bExit(true),
      m_cmdThreadId(),
      m_hCmdThread(),
      m_bCmdThread(false),
      m_nRequestId(0),
      m_nAnsweredId(0),
      m_bPending(false),
      m_byExpStation(0),
      m_byExpFunction(0),
      m_wExpReg(0),
      m_nFrames(0),
      m_nUnmatched(0)
{
    ACE_OS::memset(m_txFrame, 0, sizeof m_txFrame);
    m_szTxLog[0] = '\0';
    m_szRxLog[0] = '\0';
    m_pProtocolExplain = new CRegMasterExplain;
    m_pProtocolData = new CRegMasterData;
}

CRegMaster::~CRegMaster()
{
    StopWaiters();
    if (m_bCmdThread)
    {
        m_bExit = true;
        if (m_pReplyEvent != nullptr)
            m_pReplyEvent->signal();
        ACE_Thread::join(m_hCmdThread);
        m_bCmdThread = false;
    }
    CRegMaster* self = this;
    g_pInstance.compare_exchange_strong(self, nullptr);
    // No request holds the event any more (StopWaiters took the request lock).
    ACE_Guard<ACE_Thread_Mutex> request(m_requestLock);
    delete m_pReplyEvent;
    m_pReplyEvent = nullptr;
}

bool CRegMaster::Initialize()
{
    CLinkCore::Initialize();
    m_bClosing = false;
    if (m_pReplyEvent == nullptr)
        m_pReplyEvent = new CMonotonicAutoEvent(0);
    else
        m_pReplyEvent->reset();
    return true;
}

void CRegMaster::StopWaiters()
{
    m_bClosing = true;
    if (m_pReplyEvent != nullptr)
        m_pReplyEvent->signal();
    // A request in progress sees the closing flag and returns; its lock is
    // then free. A request arriving later returns at once.
    ACE_Guard<ACE_Thread_Mutex> request(m_requestLock);
}

void CRegMaster::UnInit()
{
    if (!m_bExit || m_bCmdThread)
    {
        m_bExit = true;
        if (m_pReplyEvent != nullptr)
            m_pReplyEvent->signal();
        if (m_bCmdThread)
        {
            ACE_Thread::join(m_hCmdThread);
            m_bCmdThread = false;
        }
    }
    StopWaiters();
    CLinkCore::UnInit();
}

bool CRegMaster::ReadFrDBLink(CGenData* data)
{
    return data != nullptr && data->wKind == 0x20 && data->byCmd == 0x82;
}

bool CRegMaster::HandleTimer(unsigned int timerId)
{
    CLinkCore::HandleTimer(timerId);
    ++m_nTicks;
    return true;
}

void CRegMaster::SetOutTime(int ms)
{
    m_dwOutTime = ms > 0 ? static_cast<unsigned int>(ms) : 0u;
}

void CRegMaster::SetFraming(int framing)
{
    m_nFraming = framing;
    static_cast<CRegMasterExplain*>(m_pProtocolExplain)->SetFraming(framing);
}

void CRegMaster::SendFrame(const uint8_t* frame, int length)
{
    const int sent = WriteToChannel(reinterpret_cast<char*>(const_cast<uint8_t*>(frame)), length);
    HexText(frame, length, m_szTxLog, sizeof m_szTxLog);
    if (sent > 0)
        LOG_MakeAndAddRunInfo(1, "OUT %s", m_szTxLog);
    else
        LOG_MakeAndAddRunInfo(1, "OUT not sent (port closed) %s", m_szTxLog);
}

void CRegMaster::SettleLine(unsigned char station)
{
    // Modbus TCP replies carry their request's transaction id: a late one
    // is told apart without waiting for a quiet line.
    if (m_nFraming == REGMASTER_FRAMING_TCP)
        m_bAfterTimeout = false;
    if (!m_bAfterTimeout || m_bClosing)
        return;
    // A reply is taken only from the station asked (MatchReply): a late one
    // from the station that timed out cannot answer a request to another.
    // The next request to that station still waits.
    if (station != m_byTimedOutStation)
        return;
    const unsigned int quiet = m_dwOutTime.load();
    WaitQuietLine(quiet, quiet * 4 + 100);
    m_bAfterTimeout = false;
}

bool CRegMaster::CallData(int station, int function, unsigned short reg, unsigned short countOrValue)
{
    m_wLastReg = reg;
    if (m_nFraming == REGMASTER_FRAMING_TCP)
    {
        unsigned short tid;
        {
            ACE_Guard<ACE_Thread_Mutex> guard(m_replyLock);
            tid = m_wTid;
        }
        uint8_t* f = m_txFrame;
        f[0] = static_cast<uint8_t>(tid >> 8);
        f[1] = static_cast<uint8_t>(tid & 0xFF);
        f[2] = 0;
        f[3] = 0;
        f[4] = 0;
        f[5] = 6;   // unit id + function + 4 bytes
        f[6] = static_cast<uint8_t>(station);
        f[7] = static_cast<uint8_t>(function);
        f[8] = static_cast<uint8_t>(reg >> 8);
        f[9] = static_cast<uint8_t>(reg & 0xFF);
        f[10] = static_cast<uint8_t>(countOrValue >> 8);
        f[11] = static_cast<uint8_t>(countOrValue & 0xFF);
        SendFrame(m_txFrame, REGMASTER_MBAP_SIZE + 5);
        return true;
    }
    m_txFrame[0] = static_cast<uint8_t>(station);
    m_txFrame[1] = static_cast<uint8_t>(function);
    m_txFrame[2] = static_cast<uint8_t>(reg >> 8);
    m_txFrame[3] = static_cast<uint8_t>(reg & 0xFF);
    m_txFrame[4] = static_cast<uint8_t>(countOrValue >> 8);
    m_txFrame[5] = static_cast<uint8_t>(countOrValue & 0xFF);
    uint16_t crc = RegMasterCrc16(m_txFrame, 6);
    m_txFrame[6] = static_cast<uint8_t>(crc & 0xFF);
    m_txFrame[7] = static_cast<uint8_t>(crc >> 8);
    SendFrame(m_txFrame, 8);
    return true;
}

void CRegMaster::CallFun03(unsigned char station, unsigned short reg, unsigned short count)
{
    CallData(station, kFunRead, reg, count);
}

void CRegMaster::CallFun06(unsigned char station, unsigned short reg, unsigned char* value)
{
    unsigned short word = value != nullptr ? static_cast<unsigned short>((value[0] << 8) | value[1]) : 0;
    CallData(station, kFunWrite, reg, word);
}

void CRegMaster::ArmRequest(unsigned char station, unsigned char function, unsigned short reg)
{
    ACE_Guard<ACE_Thread_Mutex> guard(m_replyLock);
    // A reply that came after its own request gave up may have left the event
    // signalled and the fields filled: neither may answer this request.
    if (m_pReplyEvent != nullptr)
        m_pReplyEvent->reset();
    m_byValueHigh = 0;
    m_byValueLow = 0;
    m_byException = 0;
    ++m_nRequestId;
    m_bPending = true;
    m_byExpStation = station;
    m_byExpFunction = function;
    m_wExpReg = reg;
    m_wExpTid = ++m_wTid;
}

bool CRegMaster::AwaitReply()
{
    const CMonotonicTime deadline = MonotonicDeadline(m_dwOutTime + m_nAllowanceMs);
    for (;;)
    {
        {
            ACE_Guard<ACE_Thread_Mutex> guard(m_replyLock);
            if (m_nAnsweredId == m_nRequestId)
            {
                m_bPending = false;
                return true;
            }
        }
        // The event can also carry the signal of a reply to an earlier
        // request that was parsed just before this one was armed; only the
        // answered id tells.
        if (m_bClosing || m_pReplyEvent == nullptr || m_pReplyEvent->wait(&deadline, 1) != 0)
            break;
    }
    ACE_Guard<ACE_Thread_Mutex> guard(m_replyLock);
    m_bPending = false;
    return m_nAnsweredId == m_nRequestId;
}

bool CRegMaster::ProcRead(unsigned char station, unsigned short reg, unsigned char* value, unsigned char* err)
{
    ACE_Guard<ACE_Thread_Mutex> request(m_requestLock);
    SettleLine(station);
    ArmRequest(station, kFunRead, reg);
    CallData(station, kFunRead, reg, 1);
    if (!AwaitReply())
    {
        m_bAfterTimeout = true;
        m_byTimedOutStation = station;
        if (err != nullptr)
            *err = REGMASTER_ERR_TIMEOUT;
        return false;
    }
    ACE_Guard<ACE_Thread_Mutex> guard(m_replyLock);
    if (m_byException != 0)
    {
        if (err != nullptr)
            *err = m_byException;
        return false;
    }
    if (value != nullptr)
    {
        value[0] = m_byValueLow;
        value[1] = m_byValueHigh;
    }
    return true;
}

bool CRegMaster::ProcWrite(unsigned char station, unsigned short reg, unsigned char* value, unsigned char* err)
{
    if (value == nullptr)
        return false;
    ACE_Guard<ACE_Thread_Mutex> request(m_requestLock);
    SettleLine(station);
    ArmRequest(station, kFunWrite, reg);
    CallFun06(station, reg, value);
    if (!AwaitReply())
    {
        m_bAfterTimeout = true;
        m_byTimedOutStation = station;
        if (err != nullptr)
            *err = REGMASTER_ERR_TIMEOUT;
        return false;
    }
    ACE_Guard<ACE_Thread_Mutex> guard(m_replyLock);
    if (m_byException != 0)
    {
        if (err != nullptr)
            *err = m_byException;
        return false;
    }
    return value[0] == m_byValueHigh && value[1] == m_byValueLow;
}

bool CRegMaster::ProcessUpFrame(const char* frame, int length, int status)
{
    if (status != 0)
    {
        SetCommState(false);
        // The port (re)opened: frame as its kind wants.
        LinkChannelInfo info;
        if (status == COMM_INIT && ProtocolTemplateChannelInfo(GetProtocol(), &info))
        {
            SetFraming(info.portKind == LINK_PORT_MBTCP ? REGMASTER_FRAMING_TCP : REGMASTER_FRAMING_RTU);
            m_nAllowanceMs = info.allowanceMs;
        }
        return true;
    }
    if (frame == nullptr || length < CRegMasterExplain::MIN_FRAME)
        return true;
    bool answered = false;
    {
        ACE_Guard<ACE_Thread_Mutex> guard(m_replyLock);
        unsigned long before = m_nAnsweredId;
        if (m_nFraming == REGMASTER_FRAMING_TCP)
            ProcessTcpFrame(reinterpret_cast<const uint8_t*>(frame), length);
        else
            ProcessLongFrame(reinterpret_cast<MODBUS_VARY_FRAME*>(const_cast<char*>(frame)), length);
        answered = m_nAnsweredId != before;
    }
    // The reply fields were written under the reply lock, so the waiter can
    // be woken at once: no pause here, the receive polling is delay enough.
    if (answered && m_pReplyEvent != nullptr)
        m_pReplyEvent->signal();
    return true;
}

// Called with m_replyLock held (from ProcessUpFrame).
bool CRegMaster::ProcessLongFrame(MODBUS_VARY_FRAME* frame, int length)
{
    ++m_nFrames;
    MatchReply(frame, length - 2);
    HexText(reinterpret_cast<const uint8_t*>(frame), length < 8 ? length : 8, m_szRxLog, sizeof m_szRxLog);
    LOG_MakeAndAddRunInfo(1, "IN %s", m_szRxLog);
    return true;
}

// Called with m_replyLock held (from ProcessUpFrame).
bool CRegMaster::ProcessTcpFrame(const uint8_t* frame, int length)
{
    ++m_nFrames;
    const unsigned short tid = static_cast<unsigned short>((frame[0] << 8) | frame[1]);
    // A reply to an earlier request that gave up waiting carries that
    // request's id: it is dropped, never taken for the outstanding one.
    if (length >= REGMASTER_MBAP_SIZE + 2 && tid == m_wExpTid)
        MatchReply(reinterpret_cast<const MODBUS_VARY_FRAME*>(frame + 6), length - 6);
    else
        ++m_nUnmatched;
    HexText(frame, length < 16 ? length : 16, m_szRxLog, sizeof m_szRxLog);
    LOG_MakeAndAddRunInfo(1, "IN %s", m_szRxLog);
    return true;
}

void CRegMaster::MatchReply(const MODBUS_VARY_FRAME* constFrame, int body)
{
    MODBUS_VARY_FRAME* frame = const_cast<MODBUS_VARY_FRAME*>(constFrame);
    const uint8_t function = frame->byFunction;
    const uint8_t plain = static_cast<uint8_t>(function & ~kExceptionBit);
    const bool exception = (function & kExceptionBit) != 0;

    bool matches = m_bPending && m_nAnsweredId != m_nRequestId && frame->byStation == m_byExpStation &&
                   plain == m_byExpFunction;
    // An exception reply without a code would read as success; it is no
    // answer at all.
    if (matches && exception)
        matches = frame->byCount != 0;
    else if (matches)
    {
        if (plain == kFunRead)
            matches = body >= 5 && frame->byCount >= 2;
        else if (plain == kFunWrite)
        {
            const MODBUS_WRITE_SINGLE_FRAME* echo = reinterpret_cast<const MODBUS_WRITE_SINGLE_FRAME*>(frame);
            matches = body == 6 && ((echo->byRegHigh << 8) | echo->byRegLow) == m_wExpReg;
        }
        else
            matches = false;
    }
    if (matches)
    {
        if (exception)
            m_byException = frame->byCount;   // the exception code sits where the count would
        else if (plain == kFunRead)
            ProcFun03(frame);
        else
            ProcFun06(reinterpret_cast<MODBUS_WRITE_SINGLE_FRAME*>(frame));
        m_nAnsweredId = m_nRequestId;
    }
    else
        ++m_nUnmatched;
}

void CRegMaster::ProcFun03(MODBUS_VARY_FRAME* frame)
{
    m_byException = 0;
    m_byReplyStation = frame->byStation;
    m_byValueHigh = frame->byData[0];
    m_byValueLow = frame->byData[1];
}

void CRegMaster::ProcFun06(MODBUS_WRITE_SINGLE_FRAME* frame)
{
    m_byException = 0;
    m_byReplyStation = frame->byStation;
    m_byValueHigh = frame->byValueHigh;
    m_byValueLow = frame->byValueLow;
}

bool CRegMaster::CreateThread()
{
    if (m_bCmdThread || m_pReplyEvent == nullptr)
        return false;
    m_bExit = false;
    m_pReplyEvent->signal();
    if (ACE_Thread::spawn(&CRegMaster::KeepAliveProc, this, THR_NEW_LWP | THR_JOINABLE, &m_cmdThreadId, &m_hCmdThread) != 0)
    {
        m_bExit = true;
        return false;
    }
    m_bCmdThread = true;
    return true;
}

ACE_THR_FUNC_RETURN CRegMaster::KeepAliveProc(void* arg)
{
    CRegMaster* self = static_cast<CRegMaster*>(arg);
    // Give the link a second to settle before polling.
    for (int i = 0; i < 10 && !self->m_bExit; ++i)
        ACE_OS::sleep(ACE_Time_Value(0, 100000));
    self->CmdProc();
    return 0;
}

void CRegMaster::CmdProc()
{
    // Each poll is a request like any other: it holds the request lock from
    // sending to the end of its wait, so it never takes a caller's reply.
    while (!m_bExit)
    {
        ACE_Guard<ACE_Thread_Mutex> request(m_requestLock);
        unsigned char station;
        {
            ACE_Guard<ACE_Thread_Mutex> guard(m_replyLock);
            station = m_byReplyStation;
        }
        ArmRequest(station, kFunRead, kKeepAliveReg);
        CallData(station, kFunRead, kKeepAliveReg, kKeepAliveCount);
        AwaitReply();
    }
}

// ---------------------------------------------------------------------------
// Plug-in exports

extern "C" REGMASTER_API CLinkCore* CreatNewProtocol(_PROTOCOLID id)
{
    CRegMaster* master = nullptr;
    try
    {
        master = new CRegMaster(id);
    }
    catch (...)
    {
        return nullptr;
    }
    g_pInstance = master;
    return master;
}

extern "C" REGMASTER_API CRegMaster* GetModbus()
{
    return g_pInstance.load();
}
