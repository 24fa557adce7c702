// BlockPump: the bootloader plug-in.
//
// Two kinds of exchange with the drive's bootloader, both synchronous on the
// calling thread: a text command line whose raw reply is handed back, and one
// 128-byte XMODEM-CRC block (133-byte frame) whose raw reply bytes are handed
// back. Nothing here judges a reply ("OK", ACK 0x06, NAK 0x15, ...): the
// callers do, and they retry.
//
// The library is loaded by LinkCore under the protocol name "BlockPump"
// (CProtocolTemplate::Init(1, &settings, "BlockPump")); the program reaches
// the one process-wide instance with GetXModem():
//
//   CBlockPump* boot = GetXModem();            // null while no link is open
//   boot->SetOutTime(1000);                    // reply time-out, ms
//   unsigned char reply[256] = {0}, len = 0, err = 0;
//   boot->ProcCmd("VKR PM version\n", 15, reply, &len, &err);
//   boot->ProcData(image, 128, 1, reply, &len, &err);   // block 1
//
// err: 0xFF = no reply byte within the time-out. The reply buffer must hold
// 256 bytes; at most 255 reply bytes are returned, followed by a NUL.
//
// The factory CreatNewProtocol is deliberately not declared here: every
// protocol plug-in exports one under the same C name, and LinkCore looks it
// up in the library it loaded.
#ifndef BLOCKPUMP_BLOCKPUMP_H
#define BLOCKPUMP_BLOCKPUMP_H

#include <stdint.h>
#include <atomic>
#include <ace/Thread_Mutex.h>
#include "CLinkCore.h"
#include "MonotonicWait.h"

#define BLOCKPUMP_API __attribute__((visibility("default")))

#define BLOCKPUMP_ERR_TIMEOUT 0xFF
#define BLOCKPUMP_BLOCK_SIZE  128
#define BLOCKPUMP_FRAME_SIZE  133
#define BLOCKPUMP_REPLY_SIZE  256

// CRC-16/XMODEM (polynomial 0x1021, initial 0, MSB first, no final XOR).
BLOCKPUMP_API uint16_t BlockPumpCrc16(const uint8_t* data, int length);
// Builds the 133-byte block frame: SOH, block number mod 256, its
// complement, the first `length` bytes of data (at most 128) padded with
// 0x00, CRC high, CRC low. A block whose CRC comes out 0x0000 with a 0x00
// last data byte gets 0x1A as that byte and the CRC of the changed data.
BLOCKPUMP_API void BlockPumpBuildFrame(const char* data, int length, int blockNumber, uint8_t* frame);

class BLOCKPUMP_API CBlockPumpData : public CProtocolData
{
public:
    CBlockPumpData();
    ~CBlockPumpData() override;
};

// Every chunk the channel delivers is one whole frame.
class BLOCKPUMP_API CBlockPumpExplain : public CProtocolExplain
{
public:
    ~CBlockPumpExplain() override;
    int FindFrame(const char* data, int length, int* frameLength) override;
};

class BLOCKPUMP_API CBlockPump : public CLinkCore
{
public:
    enum { DEFAULT_OUT_TIME_MS = 1000, DEFAULT_CMD_GAP_MS = 200, LONG_GAP_MS = 10000, MAX_REPLY = 255,
           LOG_TEXT_SIZE = 2048 };

    explicit CBlockPump(_PROTOCOLID id = _PROTOCOLID());
    ~CBlockPump() override;

    bool Initialize() override;
    void UnInit() override;
    bool ReadFrDBLink(CGenData* data) override;
    bool ProcessUpFrame(const char* frame, int length, int status) override;
    bool HandleTimer(unsigned int timerId) override;

    // Sends `length` bytes of cmd, waits the command gap, then up to the
    // reply time-out for reply bytes. true: the bytes gathered since the
    // exchange began (at least one) are in reply, their count in
    // *replyLength. false: *err = 0xFF. With the fast receive the reply is
    // gathered until it ends in the "RedBoot>" prompt or the line has been
    // quiet for 100 ms (within the reply time-out).
    bool ProcCmd(const char* cmd, int length, unsigned char* reply, unsigned char* replyLength, unsigned char* err);
    // As ProcCmd with a fixed 10-second pause after sending (flash erase).
    bool ProcCmdLongTime(const char* cmd, int length, unsigned char* reply, unsigned char* replyLength,
                         unsigned char* err);
    // Sends one block frame of the first `length` bytes (at most 128) of data
    // as block blockNumber, then waits up to the reply time-out, no gap.
    // With the fast receive the first reply byte (ACK, NAK) ends the wait.
    bool ProcData(const char* data, int length, int blockNumber, unsigned char* reply, unsigned char* replyLength,
                  unsigned char* err);
    // Writes the bytes; no wait, no log. true.
    bool SendCmd(const char* data, int length);
    // Writes one block frame; no wait, no log. true.
    bool SendData(const char* data, int length, int blockNumber);
    // Reply time-out (1000 ms after construction); negative counts as 0.
    void SetOutTime(int ms);
    int  GetOutTime() const { return m_nOutTime.load(); }
    unsigned int GetReplyAllowance() const { return m_nAllowanceMs.load(); }
    // Pause between a command line and the wait for its reply (200 ms).
    void SetCmdBay(int ms);
    int  GetCmdBay() const { return m_nCmdGap.load(); }
    void Start() { m_byStart = 0; }

    // The channel's receive thread waits for the port (byFastRecv), as of
    // its last open.
    bool IsFastRecv() const { return m_bFastRecv.load(); }

    // Diagnostics: reply bytes that arrived while no exchange was waiting
    // for them and were dropped.
    long GetStrayBytes() const { return m_nStray.load(); }

private:
    bool Exchange(const char* out, int outLength, bool isBlock, int blockNumber, int gapMs, unsigned char* reply,
                  unsigned char* replyLength, unsigned char* err);
    void BeginExchange();
    // Closing: wakes an exchange that waits and waits until it has returned.
    void StopWaiters();
    int  EndExchange(unsigned char* reply);

    // Fields in the order of the block-transfer record.
    uint8_t          m_byStart;
    uint8_t          m_byReply[BLOCKPUMP_REPLY_SIZE];   // guarded by m_replyLock
    uint8_t          m_byReplyLen;                      // guarded by m_replyLock
    std::atomic<int> m_nOutTime;
    // Extra reply time of a network channel (a serial device server),
    // learnt from the channel at every open; 0 on a serial port.
    std::atomic<unsigned int> m_nAllowanceMs{0};
    std::atomic<int> m_nCmdGap;
    const int        m_nLongGap;   // LONG_GAP_MS unless a test shortens it
    std::atomic<bool> m_bClosing{false};        // UnInit or destruction: waits end now
    // The channel's receive thread waits for the port (FastLink), learnt at
    // every open: replies are taken as they come in, not once per poll.
    std::atomic<bool> m_bFastRecv{false};
    CMonotonicAutoEvent* m_pReplyEvent;                     // owned; created by Initialize
    int              m_nTicks;

    ACE_Thread_Mutex  m_exchangeLock;   // one exchange at a time
    ACE_Thread_Mutex  m_replyLock;      // reply buffer shared with the receive thread
    bool              m_bWaiting;       // an exchange is gathering reply bytes
    std::atomic<long> m_nStray;
    bool    m_bAfterTimeout = false;                    // guarded by m_exchangeLock
    uint8_t m_txFrame[BLOCKPUMP_FRAME_SIZE];            // guarded by m_exchangeLock
    char    m_szTxLog[LOG_TEXT_SIZE];                   // guarded by m_exchangeLock
    char    m_szRxLog[BLOCKPUMP_REPLY_SIZE];            // guarded by m_exchangeLock

    CBlockPump(const CBlockPump&) = delete;
    CBlockPump& operator=(const CBlockPump&) = delete;
};

extern "C" {
// The process-wide block-transfer protocol: null before the first link was
// opened and after its instance has been destroyed.
BLOCKPUMP_API CBlockPump* GetXModem();
}

#endif
