// The serial channel.
//
// CCOM owns one serial port: opens it with a CCOMSet, sends byte blocks and
// (after Initialize) runs a receive thread that polls the port every 20 ms and
// hands every chunk (at most 256 bytes) to the virtual OnRead. CVKRCom is the
// CCOM the protocol template creates: its OnRead forwards to the bound
// CProtocolInterface.
//
// Port numbers on Linux: COMn is the device LinkCoreSerialDevice(n) names
// (TORVANE_COMn, then [Ports] COMn of ports.ini in the program folder, then
// /dev/ttyS(n-1)); see "Serial ports" in the README. A port that maps to
// "tcp://HOST:PORT" or "mbtcp://HOST:PORT" is opened as a TCP client instead
// (TcpChannel.h): the same sends, receive thread and status event, the
// serial parameters unused.
#ifndef LINKCORE_CCOM_H
#define LINKCORE_CCOM_H

#include <atomic>
#include <mutex>
#include <string>
#include <ace/TTY_IO.h>
#include <ace/Thread.h>
#include "ChannelSet.h"
#include "TcpChannel.h"
#include "LinkCoreExport.h"

class CProtocolInterface;
class ACE_SOCK_Stream;

// The device path of serial port number `port` (1-based, COM1 = 1):
//  1. the environment variable TORVANE_COM<port>, if set and not empty;
//  2. else key "COM<port>" of section "Ports" in "ports.ini" in the folder of
//     the running program (/proc/self/exe), if present and not empty;
//  3. else "/dev/ttyS<port-1>".
// Empty for a port number below 1.
LINKCORE_API std::string LinkCoreSerialDevice(int port);
// The platform name of a port: "COM%d" below 10, "\\.\COM%d"
// from 10 on.
LINKCORE_API std::string LinkCoreSerialPortName(int port);
// Why the last serial port open on the calling thread failed, in one line
// that names the port, the device and what to do ("COM3: serial device
// /dev/ttyS2 not found; set TORVANE_COM3 or [Ports] COM3 in ports.ini"); empty
// when it succeeded or nothing was opened yet. Quiet channels set it too.
LINKCORE_API std::string LinkCoreLastOpenProblem();

extern "C" {
// C form of LinkCoreSerialDevice: copies the path to out (cut to outSize
// bytes); returns the length of the full path, 0 for an invalid port.
LINKCORE_API int LinkCoreSerialDevicePath(int port, char* out, unsigned int outSize);
// Maps a platform port name ("COM3", "\\.\COM12") to its device path; the port number
// is the decimal number after "COM". Returns the length, 0 when not a COM name.
LINKCORE_API int LinkCoreSerialDeviceForName(const char* name, char* out, unsigned int outSize);
// The program folder: the folder of /proc/self/exe, with a trailing "/".
LINKCORE_API int LinkCoreProgramFolder(char* out, unsigned int outSize);
}

class LINKCORE_API CCOM
{
public:
    enum { RECV_BUF_SIZE = 512, READ_SIZE = 256, POLL_MS = 20, READ_TIMEOUT_MS = 100,
           // A network port that does not answer the connect within this
           // time counts as missing.
           CONNECT_TIMEOUT_MS = 3000 };

    CCOM();
    // Frees the receive buffer and the device object. Does not close the port
    // or stop the thread: call Uninitialize first.
    virtual ~CCOM();

    // Opens the port with set and starts the receive thread; false (no thread)
    // when the port cannot be opened. A successful open reports
    // OnRead(nullptr, 0, COMM_INIT) once, on the calling thread.
    virtual bool Initialize(CCOMSet* set);
    // Stops and joins the receive thread (if running), then UninitCOM().
    virtual void Uninitialize();
    // Writes length bytes; the number written, 0 when the port is not open or
    // the write failed (the device is closed then). timeout is not used.
    virtual int  SendData(const char* data, int length, unsigned int timeout);
    // Receive hook: CCOM returns true.
    virtual bool OnRead(const char* data, int length, int status);
    // Counts; every 10th call re-runs the open with the stored configuration.
    virtual bool HandleTimer(unsigned int timerId);

    // Open only, no receive thread (the application's port probe).
    bool InitCOM(CCOMSet* set);
    // A quiet channel does not report why its port failed to open: a probe
    // of the ports expects most of them to fail.
    void SetQuiet(bool quiet) { m_bQuiet = quiet; }
    // Closes the port and deletes the settings copy.
    void UninitCOM();
    // One read of up to 256 bytes passed to OnRead; OnRead's result, 0 when
    // nothing was read or the port is not open.
    int  Read();

    bool IsExit() const { return m_bExit; }
    bool GetStatus() const { return m_bOpen; }          // open flag
    // Open, and the device still there: a read or write error closes the
    // device (the far end hung up, the adapter was pulled) and leaves the
    // open flag set.
    bool DeviceOpen() { return m_bOpen && DeviceHandle() != ACE_INVALID_HANDLE; }
    const ComCfgStruct& GetConfig() const { return m_cfg; }
    // The platform port name of the last open ("COM3", "\\.\COM12") and the device it
    // mapped to.
    const char* GetPortName() const { return m_szPortName; }
    const char* GetDevicePath() const { return m_szDevicePath; }
    // What the last open reached: LINK_PORT_SERIAL, LINK_PORT_TCP or
    // LINK_PORT_MBTCP; for a network port its descriptor (kind
    // CHANN_TCP_CLIENT, null otherwise) and the extra reply time the
    // protocols add (LinkCoreNetAllowanceMs of the connect's round trip).
    int GetPortKind() const { return m_nPortKind.load(); }
    const CTcpClientSet* GetTcpSet() const { return m_pTcpSet; }
    unsigned int GetReplyAllowanceMs() const { return m_nAllowanceMs.load(); }
    // The receive thread waits for the port instead of polling it.
    bool GetFastRecv() const { return m_bFastRecv.load(); }
    // The serial parameters the open applies for cfg (exposed for tests).
    static void MakeSerialParams(const ComCfgStruct& cfg, ACE_TTY_IO::Serial_Params& params);

protected:
    unsigned int GetInterval() { return 50; }
    bool CreateRecvThread();
    bool OpenCom(ComCfgStruct cfg);
    bool OpenDeviceLocked(const ComCfgStruct& cfg);   // m_devLock held
    bool OpenNetLocked(int port, const LinkNetPort& where);  // m_devLock held
    ACE_HANDLE HandleLocked() const;                   // serial or socket
    int  ReleaseLocked();                              // closes either; close result
    void ReportOpenProblem(const char* format, ...);
    void CloseDevice();
    ACE_HANDLE DeviceHandle();                         // read under m_devLock
    static ACE_THR_FUNC_RETURN RecvThreadProc(void* arg);
    void RecvLoop();

    CComSetBase*      m_pSet;          // owned copy (NewObject) of the settings
    ComCfgStruct      m_cfg;
    ACE_TTY_IO*       m_pDev;          // owned
    ACE_SOCK_Stream*  m_pSock;         // owned; open instead of m_pDev for a network port
    CTcpClientSet*    m_pTcpSet;       // owned; the network end of the last open, or null
    std::atomic<int>  m_nPortKind{LINK_PORT_SERIAL};
    std::atomic<unsigned int> m_nAllowanceMs{0};
    std::atomic<bool> m_bExit;
    ACE_thread_t      m_threadId;
    ACE_hthread_t     m_hThread;
    bool              m_bThread;       // m_hThread holds a joinable thread
    int               m_nTimer;
    std::atomic<bool> m_bOpen;
    std::atomic<bool> m_bFastRecv{false}; // wait for readable instead of sleeping
    char*             m_pRecvBuf;      // RECV_BUF_SIZE bytes, owned
    int               m_nReadSize;     // READ_SIZE
    bool              m_bErrorReported;// one read-error line per open
    bool              m_bSendErrorReported; // one send-error line per open
    bool              m_bQuiet = false; // open failures not reported (probe)
    // Closing the device and sending on it happen on different threads (the
    // receive thread closes after a read error, requesters send); the lock
    // keeps a close from landing in the middle of a send, where the number
    // could be reused by an unrelated file.
    std::mutex        m_devLock;
    char              m_szPortName[32];
    char              m_szDevicePath[256];

private:
    CCOM(const CCOM&) = delete;
    CCOM& operator=(const CCOM&) = delete;
};

// The channel the template creates: forwards every chunk and status event to
// the bound interface.
class LINKCORE_API CVKRCom : public CCOM
{
public:
    CVKRCom();
    ~CVKRCom() override;
    bool OnRead(const char* data, int length, int status) override;

    void SetInterface(CProtocolInterface* pInterface) { m_pInterface = pInterface; }
    CProtocolInterface* GetInterface() const { return m_pInterface; }

protected:
    // Not owned. Set before the receive thread starts, cleared by the template
    // before it joins the thread; atomic because the thread reads it.
    std::atomic<CProtocolInterface*> m_pInterface;
};

#endif
