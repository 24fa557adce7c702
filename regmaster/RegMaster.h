// RegMaster: the Modbus RTU master plug-in.
//
// The drive's 16-bit holding registers are read one at a time with function
// 03 (count 1) and written with function 06. Requests are synchronous: the
// calling thread sends the request and blocks until the serial receive
// thread has parsed the matching reply, or the reply time-out expires. There
// are no retries here; callers retry where they need to.
//
// The library is loaded by LinkCore under the protocol name "RegMaster"
// (CProtocolTemplate::Init(1, &settings, "RegMaster")); its factory creates
// the one process-wide CRegMaster, which the program reaches with
// GetModbus():
//
//   CRegMaster* master = GetModbus();          // null while no link is open
//   master->SetOutTime(1000);                  // reply time-out, ms
//   unsigned char value[2], err = 0;
//   if (master->ProcRead(1, 0x0055, value, &err))
//       word = value[0] | (value[1] << 8);     // value[0] is the LOW byte
//   unsigned char out[2] = { 0x13, 0x88 };     // value[0] is the HIGH byte
//   master->ProcWrite(1, 0x0055, out, &err);
//
// err: 0xFF = no (matching) reply within the time-out, otherwise the
// device's Modbus exception code.
//
// Modbus TCP: on a channel opened to an "mbtcp://HOST:PORT" port the same
// requests go out as Modbus TCP frames (MBAP header: transaction id, protocol
// 0, length, unit id = the station; the same function codes; no CRC), and a
// reply is taken only when it carries the transaction id of the outstanding
// request. The framing follows the channel: the master asks its channel at
// every open (the port-opened event), so nothing changes for its callers. On
// a network channel the reply time-out also grows by the channel's reply
// allowance (twice the round trip measured at connect, TcpChannel.h).
//
// The factory CreatNewProtocol is deliberately not declared here: every
// protocol plug-in exports one under the same C name, and LinkCore looks it
// up in the library it loaded.
#ifndef REGMASTER_REGMASTER_H
#define REGMASTER_REGMASTER_H

#include <stdint.h>
#include <atomic>
#include <ace/Thread.h>
#include <ace/Thread_Mutex.h>
#include "CLinkCore.h"
#include "MonotonicWait.h"

#define REGMASTER_API __attribute__((visibility("default")))

// Error byte of a request that got no matching reply within the time-out.
#define REGMASTER_ERR_TIMEOUT 0xFF

// How requests and replies are framed on the channel.
enum RegMasterFraming
{
    REGMASTER_FRAMING_RTU = 0,   // station ... CRC (serial line, tcp:// device server)
    REGMASTER_FRAMING_TCP = 1    // MBAP header + PDU (mbtcp:// gateway)
};
// MBAP header: transaction id, protocol id, length (each 2 bytes, big-endian)
// and the unit id that the length counts with the PDU.
#define REGMASTER_MBAP_SIZE 7

#pragma pack(push, 1)
// Reply to function 03 (or any reply carrying a byte count): station,
// function, byte count, data (register high, low, ...), CRC low, CRC high.
struct MODBUS_VARY_FRAME
{
    uint8_t byStation;
    uint8_t byFunction;
    uint8_t byCount;
    uint8_t byData[253];
};

// Reply to function 06: the echo of the request.
struct MODBUS_WRITE_SINGLE_FRAME
{
    uint8_t byStation;
    uint8_t byFunction;
    uint8_t byRegHigh;
    uint8_t byRegLow;
    uint8_t byValueHigh;
    uint8_t byValueLow;
    uint8_t byCrcLow;
    uint8_t byCrcHigh;
};
#pragma pack(pop)

// Modbus RTU CRC-16 (reflected 0xA001, initial 0xFFFF, no final XOR). The
// frame carries it low byte first.
REGMASTER_API uint16_t RegMasterCrc16(const uint8_t* data, int length);

class REGMASTER_API CRegMasterData : public CProtocolData
{
public:
    CRegMasterData();
    ~CRegMasterData() override;
};

// Frame finder: a write echo (8 bytes, function 06), an exception reply (5
// bytes, function with bit 7) or a reply with a byte count, each recognised
// by its CRC at the first offset where one fits. Fewer than 5 bytes: wait;
// more than 512 bytes without a frame: discard.
//
// Modbus TCP framing: one frame is the MBAP header and the PDU its length
// field gives, at the start of the buffer (TCP keeps the stream in order). A
// header with another protocol id or a length outside 2 to 254 cannot be
// resynchronised: the buffer is discarded.
class REGMASTER_API CRegMasterExplain : public CProtocolExplain
{
public:
    enum { MIN_FRAME = 5, MAX_BUFFERED = 512 };
    ~CRegMasterExplain() override;
    int FindFrame(const char* data, int length, int* frameLength) override;
    void SetFraming(int framing) { m_nFraming = framing; }
    int  GetFraming() const { return m_nFraming.load(); }

private:
    int FindTcpFrame(const uint8_t* data, int length, int* frameLength) const;
    std::atomic<int> m_nFraming{REGMASTER_FRAMING_RTU};
};

class REGMASTER_API CRegMaster : public CLinkCore
{
public:
    enum { DEFAULT_OUT_TIME_MS = 1000, LOG_TEXT_SIZE = 2048 };

    explicit CRegMaster(_PROTOCOLID id = _PROTOCOLID());
    ~CRegMaster() override;

    bool Initialize() override;
    void UnInit() override;
    bool ReadFrDBLink(CGenData* data) override;
    bool ProcessUpFrame(const char* frame, int length, int status) override;
    bool HandleTimer(unsigned int timerId) override;

    // Reads one holding register (function 03, count 1). true: value[0] =
    // low byte, value[1] = high byte; err untouched. false: *err = 0xFF (no
    // matching reply in time) or the device's exception code.
    bool ProcRead(unsigned char station, unsigned short reg, unsigned char* value, unsigned char* err);
    // Writes one register (function 06); value[0] = HIGH byte, value[1] =
    // low byte (wire order). true: the echo carried the same value. false with
    // *err = 0xFF / exception code, or with *err untouched when the echo
    // carried other value bytes.
    bool ProcWrite(unsigned char station, unsigned short reg, unsigned char* value, unsigned char* err);
    // Reply time-out in milliseconds (1000 after construction); negative
    // values count as 0.
    void SetOutTime(int ms);
    int  GetOutTime() const { return static_cast<int>(m_dwOutTime.load()); }
    // Framing and extra reply time; set from the channel at every open,
    // settable by hand where the master is bound to a channel of a test's own.
    void SetFraming(int framing);
    int  GetFraming() const { return m_nFraming.load(); }
    void SetReplyAllowance(unsigned int ms) { m_nAllowanceMs = ms; }
    unsigned int GetReplyAllowance() const { return m_nAllowanceMs.load(); }

    // Builds and sends one 8-byte request: station, function, register,
    // count (or value); logs it as "OUT %s". Returns true.
    bool CallData(int station, int function, unsigned short reg, unsigned short countOrValue);
    void CallFun03(unsigned char station, unsigned short reg, unsigned short count);
    void CallFun06(unsigned char station, unsigned short reg, unsigned char* value);
    // Parses one reply frame of `length` bytes. The reply fields change only
    // when the frame answers the outstanding request (same station, same
    // function with or without the exception bit, for a write echo also the
    // same register). Logs "IN %s" for every frame. Returns true.
    bool ProcessLongFrame(MODBUS_VARY_FRAME* frame, int length);
    // A Modbus TCP reply (MBAP header and PDU, `length` bytes): taken only
    // with the outstanding request's transaction id, then matched as above.
    bool ProcessTcpFrame(const uint8_t* frame, int length);
    void ProcFun03(MODBUS_VARY_FRAME* frame);
    void ProcFun06(MODBUS_WRITE_SINGLE_FRAME* frame);
    // Keep-alive loop (reads 11 registers from register 2 at the last reply
    // station until the exit flag is set). Nothing in Torvane starts it.
    void CmdProc();

    // Diagnostics: frames parsed, and frames that answered no outstanding
    // request (late or foreign replies) and were dropped.
    long GetFrameCount() const { return m_nFrames.load(); }
    long GetUnmatchedCount() const { return m_nUnmatched.load(); }
    unsigned char GetReplyStation() const { return m_byReplyStation; }
    unsigned short GetLastRegister() const { return m_wLastReg; }

protected:
    bool CreateThread();
    bool IsExit() const { return m_bExit; }

private:
    // Outstanding request: what a reply must carry to be taken as its answer.
    void ArmRequest(unsigned char station, unsigned char function, unsigned short reg);
    // Waits for the answer to the armed request; true when it came in time.
    // Disarms the request in every case.
    bool AwaitReply();
    // Before a request to `station` (m_requestLock held): after a time-out of
    // a request to the same station, waits until the line has been quiet for
    // a reply time-out, so that a late reply to the earlier request cannot be
    // taken for this one's. A late reply names its station and is never
    // taken for another's: a request to another station goes out at once,
    // so that each silent station on a line costs one time-out, not two.
    void SettleLine(unsigned char station);
    // Closing: wakes a request that waits for its reply and waits until it
    // has returned, so the reply event can go.
    void StopWaiters();
    static ACE_THR_FUNC_RETURN KeepAliveProc(void* arg);
    void SendFrame(const uint8_t* frame, int length);
    // Matches a reply in its RTU shape without the CRC (`body` bytes:
    // station/unit, function, ...) against the outstanding request and
    // stores it. m_replyLock held.
    void MatchReply(const MODBUS_VARY_FRAME* frame, int body);

    // Fields in the order of the register master's record.
    std::atomic<unsigned int> m_dwOutTime;
    unsigned char  m_byReplyStation;
    unsigned char  m_byFlag;
    unsigned short m_wLastReg;
    unsigned char  m_byValueHigh;
    unsigned char  m_byValueLow;
    unsigned char  m_byException;
    CMonotonicAutoEvent* m_pReplyEvent;            // owned; created by Initialize
    int            m_nTicks;
    std::atomic<bool> m_bExit;
    std::atomic<bool> m_bClosing{false};      // UnInit or destruction: waits end now
    ACE_thread_t   m_cmdThreadId;
    ACE_hthread_t  m_hCmdThread;
    bool           m_bCmdThread;

    // One request at a time, from sending to the end of its wait.
    ACE_Thread_Mutex m_requestLock;
    // The outstanding request and the reply fields, shared with the receive
    // thread.
    ACE_Thread_Mutex m_replyLock;
    unsigned long  m_nRequestId;              // increases with every request
    unsigned long  m_nAnsweredId;             // request whose answer is stored
    bool           m_bPending;
    unsigned char  m_byExpStation;
    unsigned char  m_byExpFunction;
    unsigned short m_wExpReg;
    std::atomic<long> m_nFrames;
    std::atomic<long> m_nUnmatched;

    // A request timed out: its reply may still be on its way, so the next
    // request to the same station first waits for a quiet line.
    bool    m_bAfterTimeout = false;          // guarded by m_requestLock
    unsigned char m_byTimedOutStation = 0;    // the station it went to; m_requestLock
    uint8_t m_txFrame[REGMASTER_MBAP_SIZE + 5];  // guarded by m_requestLock
    std::atomic<int> m_nFraming{REGMASTER_FRAMING_RTU};
    std::atomic<unsigned int> m_nAllowanceMs{0};
    unsigned short m_wTid = 0;                // last transaction id sent; m_replyLock
    unsigned short m_wExpTid = 0;             // the outstanding request's; m_replyLock
    char    m_szTxLog[LOG_TEXT_SIZE];         // guarded by m_requestLock
    char    m_szRxLog[LOG_TEXT_SIZE];         // receive thread only

    CRegMaster(const CRegMaster&) = delete;
    CRegMaster& operator=(const CRegMaster&) = delete;
};

extern "C" {
// The process-wide register master: null before the first link was opened
// and after its instance has been destroyed.
REGMASTER_API CRegMaster* GetModbus();
}

#endif
