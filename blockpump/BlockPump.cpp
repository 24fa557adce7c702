// BlockPump: bootloader command lines and XMODEM-CRC blocks.
#include "BlockPump.h"

#include <ace/Guard_T.h>
#include <ace/OS_NS_stdio.h>
#include <ace/OS_NS_stdlib.h>
#include <ace/OS_NS_string.h>
#include <ace/OS_NS_sys_time.h>
#include <ace/OS_NS_unistd.h>

#include <cstdlib>

#include "LogBuf.h"
#include "TcpChannel.h"

namespace {

// The instance the last CreatNewProtocol made; cleared when it is destroyed.
std::atomic<CBlockPump*> g_pInstance(nullptr);

const uint8_t kSoh = 0x01;
const uint8_t kZeroCrcFill = 0x1A;
// Time the receive thread leaves for the rest of a reply before it wakes the
// waiter (polling receive only).
const int kGatherMs = 5;
// With the fast receive a command reply comes in as many small chunks as the
// bootloader's output has pauses. It is gathered until it ends in the prompt,
// or until the line has stayed quiet this long (as long as a serial read
// waits for its first byte): a reply without the prompt ("flash loading...",
// a cut-off line) is not kept waiting for the reply time-out.
const unsigned int kCmdQuietMs = 100;
const char kPrompt[] = "RedBoot>";

// The text ends in the bootloader's prompt, trailing blanks aside.
bool EndsWithPrompt(const uint8_t* text, int length)
{
    while (length > 0 && (text[length - 1] == ' ' || text[length - 1] == '\t'))
        --length;
    const int n = static_cast<int>(sizeof kPrompt) - 1;
    return length >= n && ACE_OS::memcmp(text + length - n, kPrompt, static_cast<size_t>(n)) == 0;
}

ACE_Time_Value Millis(int ms)
{
    if (ms < 0)
        ms = 0;
    return ACE_Time_Value(static_cast<time_t>(ms / 1000), static_cast<suseconds_t>((ms % 1000) * 1000));
}

}  // namespace

uint16_t BlockPumpCrc16(const uint8_t* data, int length)
{
    uint16_t crc = 0;
    for (int i = 0; i < length; ++i)
    {
        crc ^= static_cast<uint16_t>(data[i] << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021) : static_cast<uint16_t>(crc << 1);
    }
    return crc;
}

void BlockPumpBuildFrame(const char* data, int length, int blockNumber, uint8_t* frame)
{
    ACE_OS::memset(frame, 0, BLOCKPUMP_FRAME_SIZE);
    frame[0] = kSoh;
    frame[1] = static_cast<uint8_t>(blockNumber & 0xFF);
    frame[2] = static_cast<uint8_t>(~frame[1]);
    if (length > BLOCKPUMP_BLOCK_SIZE)
        length = BLOCKPUMP_BLOCK_SIZE;
    if (data != nullptr && length > 0)
        ACE_OS::memcpy(frame + 3, data, static_cast<size_t>(length));
    uint8_t* block = frame + 3;
    uint16_t crc = BlockPumpCrc16(block, BLOCKPUMP_BLOCK_SIZE);
    // Zero data ending in a zero CRC look like a line stuck at 0x00; the
    // bootloader expects such a block with 0x1A as its last data byte.
    if (crc == 0 && block[BLOCKPUMP_BLOCK_SIZE - 1] == 0)
    {
        block[BLOCKPUMP_BLOCK_SIZE - 1] = kZeroCrcFill;
        crc = BlockPumpCrc16(block, BLOCKPUMP_BLOCK_SIZE);
    }
    frame[131] = static_cast<uint8_t>(crc >> 8);
    frame[132] = static_cast<uint8_t>(crc & 0xFF);
}

// ---------------------------------------------------------------------------
// CBlockPumpData, CBlockPumpExplain

CBlockPumpData::CBlockPumpData()
{
}

CBlockPumpData::~CBlockPumpData()
{
}

CBlockPumpExplain::~CBlockPumpExplain()
{
}

int CBlockPumpExplain::FindFrame(const char*, int length, int* frameLength)
{
    if (length > 0)
    {
        *frameLength = length;
        return 0;
    }
    *frameLength = 0;
    return -1;
}

// ---------------------------------------------------------------------------
// CBlockPump

namespace {

// The pause of a long command. A real bootloader needs the whole 10 s to
// erase its flash; the test suite's simulated drive erases in a fraction of
// that and sets TORVANE_TEST_ERASE_PAUSE_MS (0..10000), so that each flash
// of a test does not sit idle for ten seconds.
int LongGapMs()
{
    const char* text = ACE_OS::getenv("TORVANE_TEST_ERASE_PAUSE_MS");
    if (text == nullptr || *text == '\0')
        return CBlockPump::LONG_GAP_MS;
    char* end = nullptr;
    const long ms = std::strtol(text, &end, 10);
    if (*end != '\0' || ms < 0 || ms > CBlockPump::LONG_GAP_MS)
        return CBlockPump::LONG_GAP_MS;
    return static_cast<int>(ms);
}

}  // namespace

CBlockPump::CBlockPump(_PROTOCOLID id)
    : CLinkCore(id),
      m_byStart(0),
      m_byReplyLen(0),
      m_nOutTime(DEFAULT_OUT_TIME_MS),
      m_nCmdGap(DEFAULT_CMD_GAP_MS),
      m_nLongGap(LongGapMs()),
      m_pReplyEvent(nullptr),
      m_nTicks(0),
      m_bWaiting(false),
      m_nStray(0)
{
    ACE_OS::memset(m_byReply, 0, sizeof m_byReply);
    ACE_OS::memset(m_txFrame, 0, sizeof m_txFrame);
    m_szTxLog[0] = '\0';
    m_szRxLog[0] = '\0';
    m_pProtocolExplain = new CBlockPumpExplain;
    m_pProtocolData = new CBlockPumpData;
}

CBlockPump::~CBlockPump()
{
    StopWaiters();
    CBlockPump* self = this;
    g_pInstance.compare_exchange_strong(self, nullptr);
    ACE_Guard<ACE_Thread_Mutex> exchange(m_exchangeLock);
    delete m_pReplyEvent;
    m_pReplyEvent = nullptr;
}

bool CBlockPump::Initialize()
{
    CLinkCore::Initialize();
    m_bClosing = false;
    if (m_pReplyEvent == nullptr)
        m_pReplyEvent = new CMonotonicAutoEvent(0);
    else
        m_pReplyEvent->reset();
    return true;
}

void CBlockPump::StopWaiters()
{
    m_bClosing = true;
    if (m_pReplyEvent != nullptr)
        m_pReplyEvent->signal();
    ACE_Guard<ACE_Thread_Mutex> exchange(m_exchangeLock);
}

void CBlockPump::UnInit()
{
    StopWaiters();
    CLinkCore::UnInit();
}

bool CBlockPump::ReadFrDBLink(CGenData* data)
{
    return data != nullptr && data->wKind == 0x20 && data->byCmd == 0x82;
}

bool CBlockPump::HandleTimer(unsigned int timerId)
{
    CLinkCore::HandleTimer(timerId);
    ++m_nTicks;
    return true;
}

void CBlockPump::SetOutTime(int ms)
{
    m_nOutTime = ms > 0 ? ms : 0;
}

void CBlockPump::SetCmdBay(int ms)
{
    m_nCmdGap = ms > 0 ? ms : 0;
}

bool CBlockPump::SendCmd(const char* data, int length)
{
    if (data == nullptr || length <= 0)
        return true;
    ACE_Guard<ACE_Thread_Mutex> exchange(m_exchangeLock);
    WriteToChannel(const_cast<char*>(data), length);
    return true;
}

bool CBlockPump::SendData(const char* data, int length, int blockNumber)
{
    ACE_Guard<ACE_Thread_Mutex> exchange(m_exchangeLock);
    BlockPumpBuildFrame(data, length, blockNumber, m_txFrame);
    WriteToChannel(reinterpret_cast<char*>(m_txFrame), BLOCKPUMP_FRAME_SIZE);
    return true;
}

bool CBlockPump::ProcCmd(const char* cmd, int length, unsigned char* reply, unsigned char* replyLength,
                         unsigned char* err)
{
    return Exchange(cmd, length, false, 0, m_nCmdGap, reply, replyLength, err);
}

bool CBlockPump::ProcCmdLongTime(const char* cmd, int length, unsigned char* reply, unsigned char* replyLength,
                                 unsigned char* err)
{
    return Exchange(cmd, length, false, 0, m_nLongGap, reply, replyLength, err);
}

bool CBlockPump::ProcData(const char* data, int length, int blockNumber, unsigned char* reply,
                          unsigned char* replyLength, unsigned char* err)
{
    return Exchange(data, length, true, blockNumber, 0, reply, replyLength, err);
}

void CBlockPump::BeginExchange()
{
    ACE_Guard<ACE_Thread_Mutex> guard(m_replyLock);
    // Bytes and a signal left by an earlier exchange whose waiter gave up
    // must not answer this one (a late ACK would shift every later block).
    ACE_OS::memset(m_byReply, 0, sizeof m_byReply);
    m_byReplyLen = 0;
    if (m_pReplyEvent != nullptr)
        m_pReplyEvent->reset();
    m_bWaiting = true;
}

int CBlockPump::EndExchange(unsigned char* reply)
{
    ACE_Guard<ACE_Thread_Mutex> guard(m_replyLock);
    int n = m_byReplyLen;
    if (reply != nullptr && n > 0)
    {
        ACE_OS::memcpy(reply, m_byReply, static_cast<size_t>(n));
        reply[n] = 0;   // n <= 255 and the caller's buffer holds 256
    }
    ACE_OS::memcpy(m_szRxLog, m_byReply, sizeof m_szRxLog);
    m_szRxLog[sizeof m_szRxLog - 1] = '\0';
    ACE_OS::memset(m_byReply, 0, sizeof m_byReply);
    m_byReplyLen = 0;
    m_bWaiting = false;
    return n;
}

bool CBlockPump::Exchange(const char* out, int outLength, bool isBlock, int blockNumber, int gapMs,
                          unsigned char* reply, unsigned char* replyLength, unsigned char* err)
{
    ACE_Guard<ACE_Thread_Mutex> exchange(m_exchangeLock);
    if (outLength < 0)
        outLength = 0;
    // The last exchange gave up waiting: its ACK, NAK or reply line may still
    // come and must not answer this one. Wait for a quiet line first.
    if (m_bAfterTimeout && !m_bClosing)
    {
        const int outTime = m_nOutTime.load();
        const unsigned int quiet = static_cast<unsigned int>(outTime > 0 ? outTime : 0);
        WaitQuietLine(quiet, quiet * 4 + 100);
        m_bAfterTimeout = false;
    }
    BeginExchange();

    if (isBlock)
    {
        if (outLength > BLOCKPUMP_BLOCK_SIZE)
            outLength = BLOCKPUMP_BLOCK_SIZE;
        if (out == nullptr)
            outLength = 0;
        BlockPumpBuildFrame(out, outLength, blockNumber, m_txFrame);
        WriteToChannel(reinterpret_cast<char*>(m_txFrame), BLOCKPUMP_FRAME_SIZE);
        size_t pos = 0;
        m_szTxLog[0] = '\0';
        for (int i = 0; i < outLength && pos + 4 <= sizeof m_szTxLog; ++i)
            pos += static_cast<size_t>(ACE_OS::snprintf(m_szTxLog + pos, sizeof m_szTxLog - pos, "%02X ",
                                                        static_cast<uint8_t>(out[i])));
        LOG_MakeAndAddRunInfo(1, "OUT%d   %s", blockNumber, m_szTxLog);
    }
    else
    {
        // The command may carry no terminating NUL: log its own bytes only.
        int shown = 0;
        while (out != nullptr && shown < outLength && out[shown] != '\0')
            ++shown;
        LOG_MakeAndAddRunInfo(1, "OUT  %.*s", shown, out != nullptr ? out : "");
        if (out != nullptr && outLength > 0)
            WriteToChannel(const_cast<char*>(out), outLength);
    }

    // The gap lets the reply gather; a closing link does not wait it out.
    for (int waited = 0; waited < gapMs && !m_bClosing; waited += 20)
        ACE_OS::sleep(Millis(gapMs - waited < 20 ? gapMs - waited : 20));

    const CMonotonicTime deadline =
        MonotonicDeadline(static_cast<unsigned int>(m_nOutTime > 0 ? m_nOutTime.load() : 0) + m_nAllowanceMs.load());
    // Polling receive: a chunk holds all that came in one poll period, the
    // first one is the reply. Fast receive: a block's ACK or NAK is the reply
    // as soon as its byte is in; a command reply is gathered whole.
    const bool gather = m_bFastRecv.load() && !isBlock;
    for (;;)
    {
        int have = 0;
        bool whole = false;
        {
            ACE_Guard<ACE_Thread_Mutex> guard(m_replyLock);
            have = m_byReplyLen;
            whole = have >= MAX_REPLY || EndsWithPrompt(m_byReply, have);
        }
        if (have > 0 && (!gather || whole))
            break;
        CMonotonicTime until = deadline;
        if (have > 0)
        {
            const CMonotonicTime quiet = MonotonicDeadline(kCmdQuietMs);
            if (quiet < deadline)
                until = quiet;
        }
        // A wake with nothing gathered is the signal of a chunk that belonged
        // to an earlier exchange: keep waiting for this one's bytes. A wait
        // that ends with bytes gathered (the line went quiet, or the time-out)
        // ends the reply.
        if (m_bClosing || m_pReplyEvent == nullptr || m_pReplyEvent->wait(&until, 1) != 0)
            break;
    }

    int n = EndExchange(reply);
    if (n == 0)
    {
        m_bAfterTimeout = true;
        if (err != nullptr)
            *err = BLOCKPUMP_ERR_TIMEOUT;
        return false;
    }
    if (replyLength != nullptr)
        *replyLength = static_cast<unsigned char>(n);
    if (isBlock)
        LOG_MakeAndAddRunInfo(1, "IN %02x", static_cast<uint8_t>(m_szRxLog[0]));
    else
        LOG_MakeAndAddRunInfo(1, "IN  %s", m_szRxLog);
    return true;
}

bool CBlockPump::ProcessUpFrame(const char* frame, int length, int status)
{
    if (status != 0)
    {
        SetCommState(false);
        LinkChannelInfo info;
        if (status == COMM_INIT && ProtocolTemplateChannelInfo(GetProtocol(), &info))
        {
            m_nAllowanceMs = info.allowanceMs;
            m_bFastRecv = info.fastRecv;
        }
        return true;
    }
    if (frame == nullptr || length <= 0)
        return true;
    bool deliver = false;
    {
        ACE_Guard<ACE_Thread_Mutex> guard(m_replyLock);
        if (m_bWaiting)
        {
            int room = MAX_REPLY - m_byReplyLen;
            int take = length < room ? length : room;
            if (take > 0)
            {
                ACE_OS::memcpy(m_byReply + m_byReplyLen, frame, static_cast<size_t>(take));
                m_byReplyLen = static_cast<uint8_t>(m_byReplyLen + take);
            }
            deliver = true;
        }
        else
            m_nStray += length;
    }
    if (!deliver)
        return true;
    // The fast receive's waiter gathers a command reply itself, and a
    // block's reply byte is taken at once.
    if (!m_bFastRecv.load())
        ACE_OS::sleep(Millis(kGatherMs));
    if (m_pReplyEvent != nullptr)
        m_pReplyEvent->signal();
    return true;
}

// ---------------------------------------------------------------------------
// Plug-in exports

extern "C" BLOCKPUMP_API CLinkCore* CreatNewProtocol(_PROTOCOLID id)
{
    CBlockPump* pump = nullptr;
    try
    {
        pump = new CBlockPump(id);
    }
    catch (...)
    {
        return nullptr;
    }
    g_pInstance = pump;
    return pump;
}

extern "C" BLOCKPUMP_API CBlockPump* GetXModem()
{
    return g_pInstance.load();
}
