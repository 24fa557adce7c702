// The serial channel, and the Linux mapping of port numbers to
// serial devices (see "Serial ports" in the README).
#include "CCOM.h"
#include "CProtocolTemplate.h"
#include "DataFile.h"
#include "UserFolder.h"
#include "WSNConfig.h"

#include <ace/DEV_Connector.h>
#include <ace/SOCK_Stream.h>
#include <ace/Log_Msg.h>
#include <ace/OS_NS_errno.h>
#include <ace/OS_NS_stdio.h>
#include <ace/OS_NS_stdlib.h>
#include <ace/OS_NS_string.h>
#include <ace/OS_NS_unistd.h>
#include <ace/OS_NS_fcntl.h>

#include <cstdarg>
#include <cstdio>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

// ---------------------------------------------------------------------------
// Port mapping

namespace {

std::string ProgramFolder()
{
    char buf[4096];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        return "./";
    buf[n] = '\0';
    std::string path(buf);
    std::string::size_type slash = path.rfind('/');
    if (slash == std::string::npos)
        return "./";
    return path.substr(0, slash + 1);
}

int CopyString(const std::string& s, char* out, unsigned int outSize)
{
    if (out != nullptr && outSize > 0)
    {
        size_t n = s.size() < outSize - 1 ? s.size() : outSize - 1;
        ACE_OS::memcpy(out, s.data(), n);
        out[n] = '\0';
    }
    return static_cast<int>(s.size());
}

// "COM3", "\\.\COM12" -> 3, 12; 0 when the name is not a COM name.
int PortFromName(const char* name)
{
    if (name == nullptr)
        return 0;
    const char* p = name;
    if (ACE_OS::strncmp(p, "\\\\.\\", 4) == 0)
        p += 4;
    if (::strncasecmp(p, "COM", 3) != 0)
        return 0;
    p += 3;
    if (*p < '0' || *p > '9')
        return 0;
    return ACE_OS::atoi(p);
}

std::string MappingHint(int port)
{
    char hint[512];
    ACE_OS::snprintf(hint, sizeof hint, "set TORVANE_COM%d or [Ports] COM%d in ports.ini", port, port);
    return hint;
}

}  // namespace

std::string LinkCoreSerialDevice(int port)
{
    if (port < 1)
        return std::string();
    char key[32];
    ACE_OS::snprintf(key, sizeof key, "TORVANE_COM%d", port);
    const char* env = ACE_OS::getenv(key);
    if (env != nullptr && env[0] != '\0')
        return env;

    std::string ini = LinkCoreWritableFolder(ProgramFolder()) + "ports.ini";
    if (ACE_OS::access(ini.c_str(), R_OK) == 0)
    {
        char name[32];
        char value[1024];
        ACE_OS::snprintf(name, sizeof name, "COM%d", port);
        if (WSNGetPrivateProfileString2("Ports", name, "", value, sizeof value, ini.c_str()) && value[0] != '\0')
            return value;
    }
    char dev[32];
    ACE_OS::snprintf(dev, sizeof dev, "/dev/ttyS%d", port - 1);
    return dev;
}

std::string LinkCoreSerialPortName(int port)
{
    char name[32];
    if (port < 10)
        ACE_OS::snprintf(name, sizeof name, "COM%d", port);
    else
        ACE_OS::snprintf(name, sizeof name, "\\\\.\\COM%d", port);
    return name;
}

extern "C" int LinkCoreSerialDevicePath(int port, char* out, unsigned int outSize)
{
    return CopyString(LinkCoreSerialDevice(port), out, outSize);
}

extern "C" int LinkCoreSerialDeviceForName(const char* name, char* out, unsigned int outSize)
{
    int port = PortFromName(name);
    if (port < 1)
    {
        CopyString(std::string(), out, outSize);
        return 0;
    }
    return CopyString(LinkCoreSerialDevice(port), out, outSize);
}

extern "C" int LinkCoreProgramFolder(char* out, unsigned int outSize)
{
    return CopyString(ProgramFolder(), out, outSize);
}

// ---------------------------------------------------------------------------
// CCOM

// Gives up the exclusive use taken at open, then closes; the close result.
static int ReleaseDevice(ACE_TTY_IO* dev)
{
    ACE_HANDLE h = dev->get_handle();
    ::ioctl(h, TIOCNXCL);
    ::flock(h, LOCK_UN);
    int rc = dev->close();
    dev->set_handle(ACE_INVALID_HANDLE);
    return rc;
}

CCOM::CCOM()
    : m_pSet(nullptr),
      m_pDev(new ACE_TTY_IO),
      m_pSock(new ACE_SOCK_Stream),
      m_pTcpSet(nullptr),
      m_bExit(false),
      m_threadId(),
      m_hThread(),
      m_bThread(false),
      m_nTimer(0),
      m_bOpen(false),
      m_pRecvBuf(new char[RECV_BUF_SIZE]),
      m_nReadSize(READ_SIZE),
      m_bErrorReported(false),
      m_bSendErrorReported(false)
{
    m_szPortName[0] = '\0';
    m_szDevicePath[0] = '\0';
    ACE_OS::memset(m_pRecvBuf, 0, RECV_BUF_SIZE);
}

CCOM::~CCOM()
{
    // The owner calls Uninitialize first; a receive thread still running here
    // would touch a dead object, so it is stopped all the same.
    if (m_bThread)
    {
        m_bExit = true;
        ACE_Thread::join(m_hThread);
        m_bThread = false;
    }
    ReleaseLocked();
    delete m_pSet;
    delete m_pTcpSet;
    delete[] m_pRecvBuf;
    delete m_pDev;
    delete m_pSock;
}

void CCOM::MakeSerialParams(const ComCfgStruct& cfg, ACE_TTY_IO::Serial_Params& p)
{
    p.baudrate = cfg.nBaudRate;
    p.paritymode = cfg.wParity == 1 ? "odd" : (cfg.wParity == 2 ? "even" : "none");
    p.databits = cfg.byDataBits;
    p.stopbits = cfg.byStopBits;
    // ACE on POSIX turns any non-zero RTS mode into RTS/CTS handshaking; only
    // mode 2 means that. Modes 1 and 3 set the RTS line instead (OpenCom).
    p.rtsenb = cfg.byRtsMode == 2 ? 2 : 0;
    p.dtrdisable = cfg.byDtrOff != 0;
    p.ctsenb = false;
    p.dsrenb = false;
    p.xinenb = false;
    p.xoutenb = false;
    p.modem = false;          // modem status lines ignored (CLOCAL)
    p.rcvenb = true;
    p.xonlim = 0;
    p.xofflim = 0;
    p.readmincharacters = 0;
    p.readtimeoutmsec = READ_TIMEOUT_MS;
    // No parity marking: a received 0xFF must stay one byte.
    p.inpckenb = false;
}

ACE_HANDLE CCOM::HandleLocked() const
{
    ACE_HANDLE h = m_pSock->get_handle();
    return h != ACE_INVALID_HANDLE ? h : m_pDev->get_handle();
}

int CCOM::ReleaseLocked()
{
    int rc = 0;
    if (m_pSock->get_handle() != ACE_INVALID_HANDLE)
    {
        rc = m_pSock->close();
        m_pSock->set_handle(ACE_INVALID_HANDLE);
    }
    if (m_pDev->get_handle() != ACE_INVALID_HANDLE)
        rc = ReleaseDevice(m_pDev);
    return rc;
}

void CCOM::CloseDevice()
{
    std::lock_guard<std::mutex> guard(m_devLock);
    ReleaseLocked();
}

ACE_HANDLE CCOM::DeviceHandle()
{
    std::lock_guard<std::mutex> guard(m_devLock);
    return HandleLocked();
}

namespace
{
// Why the last open on this thread failed: the connection procedures run on
// the thread that opens, and put it in front of the user.
thread_local std::string t_lastOpenProblem;
}

std::string LinkCoreLastOpenProblem()
{
    return t_lastOpenProblem;
}

// Why a port does not open, on the diagnostic log; not for a probe, which
// expects most ports to fail. Kept for LinkCoreLastOpenProblem either way.
void CCOM::ReportOpenProblem(const char* format, ...)
{
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    t_lastOpenProblem = text;
    if (!m_bQuiet)
        ACE_ERROR((LM_ERROR, ACE_TEXT("%s\n"), text));
}

#define OPEN_ERROR(args) ReportOpenProblem args

bool CCOM::OpenCom(ComCfgStruct cfg)
{
    {
        // The receive thread reads the handle and closes the device after a
        // read error: the open changes the handle under the same lock.
        std::lock_guard<std::mutex> guard(m_devLock);
        if (m_bOpen && HandleLocked() != ACE_INVALID_HANDLE)
            return true;
        ReleaseLocked();
        m_bOpen = false;
        if (!OpenDeviceLocked(cfg))
            return false;
        t_lastOpenProblem.clear();
        m_bErrorReported = false;
        m_bSendErrorReported = false;
        m_bOpen = true;
    }
    OnRead(nullptr, 0, COMM_INIT);
    return true;
}

bool CCOM::OpenDeviceLocked(const ComCfgStruct& cfg)
{
    int port = cfg.wPortNo;
    ACE_OS::strncpy(m_szPortName, LinkCoreSerialPortName(port).c_str(), sizeof m_szPortName - 1);
    m_szPortName[sizeof m_szPortName - 1] = '\0';
    std::string device = LinkCoreSerialDevice(PortFromName(m_szPortName));
    ACE_OS::strncpy(m_szDevicePath, device.c_str(), sizeof m_szDevicePath - 1);
    m_szDevicePath[sizeof m_szDevicePath - 1] = '\0';

    if (device.empty())
    {
        OPEN_ERROR(("COM%d: no serial port with this number; ports are COM1 to COM16", port));
        return false;
    }
    LinkNetPort net;
    std::string why;
    const int kind = LinkCoreParsePort(device, &net, &why);
    if (kind == LINK_PORT_BAD)
    {
        OPEN_ERROR(("COM%d: %s; %s", port, why.c_str(), MappingHint(port).c_str()));
        return false;
    }
    if (kind != LINK_PORT_SERIAL)
        return OpenNetLocked(port, net);
    m_nPortKind = LINK_PORT_SERIAL;
    m_nAllowanceMs = 0;
    if (ACE_OS::access(device.c_str(), F_OK) != 0)
    {
        OPEN_ERROR(("COM%d: serial device %s not found; %s", port, device.c_str(),
                   MappingHint(port).c_str()));
        return false;
    }

    // Non-blocking open so that a port without carrier does not hang the
    // open; blocking reads are restored once CLOCAL is set.
    ACE_DEV_Connector connector;
    if (connector.connect(*m_pDev, ACE_DEV_Addr(device.c_str()), nullptr, ACE_Addr::sap_any, 0,
                          O_RDWR | O_NOCTTY | O_NONBLOCK) == -1)
    {
        int err = errno;
        m_pDev->set_handle(ACE_INVALID_HANDLE);
        if (err == EBUSY)
            OPEN_ERROR(("COM%d: serial device %s is in use", port, device.c_str()));
        else
            OPEN_ERROR(("COM%d: cannot open serial device %s: %s; %s", port, device.c_str(),
                       ACE_OS::strerror(err), MappingHint(port).c_str()));
        return false;
    }
    ACE_HANDLE h = m_pDev->get_handle();
    // A COM port is exclusive: a second open of the same device (the port
    // probe while the link is up) fails as it does on the original platform.
    if (::flock(h, LOCK_EX | LOCK_NB) != 0)
    {
        OPEN_ERROR(("COM%d: serial device %s is in use", port, device.c_str()));
        m_pDev->close();
        m_pDev->set_handle(ACE_INVALID_HANDLE);
        return false;
    }
    ::ioctl(h, TIOCEXCL);

    // Linux refuses a settings change (EINVAL) when the control flags come out
    // unchanged although more was asked, as on a pseudo-terminal, which drops
    // parity and data bits: a second open with parity would then fail. HUPCL,
    // which the settings below set again, is dropped first so that the control
    // flags always change.
    struct termios before;
    if (::tcgetattr(h, &before) == 0 && (before.c_cflag & HUPCL))
    {
        before.c_cflag &= ~HUPCL;
        ::tcsetattr(h, TCSANOW, &before);
    }

    ACE_TTY_IO::Serial_Params params;
    MakeSerialParams(cfg, params);
    if (m_pDev->control(ACE_TTY_IO::SETPARAMS, &params) == -1)
    {
        int err = errno;
        OPEN_ERROR(("COM%d: serial device %s refused the settings (%d baud, %d data bits, parity %d, "
                            "%d stop bits): %s",
                   port, device.c_str(), cfg.nBaudRate, cfg.byDataBits, cfg.wParity, cfg.byStopBits,
                   ACE_OS::strerror(err)));
        ReleaseDevice(m_pDev);
        return false;
    }
    // Raw byte channel as a Windows COM port is: no line editing, no
    // translation, no parity marks.
    struct termios tio;
    if (::tcgetattr(h, &tio) == 0)
    {
        tio.c_iflag &= ~(BRKINT | INLCR | IGNCR | ICRNL | IMAXBEL | PARMRK);
        tio.c_lflag &= ~(IEXTEN | ECHONL | ECHOK | ECHOKE | ECHOCTL | NOFLSH | ICANON | ECHO | ISIG);
        tio.c_oflag &= ~OPOST;
        ::tcsetattr(h, TCSANOW, &tio);
    }
    // RTS line for modes 0 (off), 1 (on) and 3 (high while sending: kept high).
    if (cfg.byRtsMode != 2)
    {
        int rts = TIOCM_RTS;
        ::ioctl(h, cfg.byRtsMode == 0 ? TIOCMBIC : TIOCMBIS, &rts);
    }
    int fl = ::fcntl(h, F_GETFL);
    if (fl != -1)
        ::fcntl(h, F_SETFL, fl & ~O_NONBLOCK);
    ::tcflush(h, TCIFLUSH);
    return true;
}

bool CCOM::OpenNetLocked(int port, const LinkNetPort& where)
{
    std::string why;
    long long connectUs = 0;
    if (!LinkCoreTcpConnect(where, CONNECT_TIMEOUT_MS, *m_pSock, &why, &connectUs))
    {
        OPEN_ERROR(("COM%d: %s: %s", port, m_szDevicePath, why.c_str()));
        return false;
    }
    delete m_pTcpSet;
    m_pTcpSet = new CTcpClientSet(where.port, where.host.c_str());
    m_nPortKind = where.kind;
    m_nAllowanceMs = LinkCoreNetAllowanceMs(connectUs);
    return true;
}

#undef OPEN_ERROR

bool CCOM::InitCOM(CCOMSet* set)
{
    if (m_bOpen && DeviceHandle() != ACE_INVALID_HANDLE)
        return true;
    if (set == nullptr)
        return false;
    CComSetBase* copy = set->NewObject();
    delete m_pSet;
    m_pSet = copy;
    m_bOpen = false;
    m_cfg = static_cast<CCOMSet*>(m_pSet)->m_cfg;
    m_bFastRecv = m_cfg.byFastRecv != 0;
    return OpenCom(m_cfg);
}

bool CCOM::Initialize(CCOMSet* set)
{
    if (m_bOpen && DeviceHandle() != ACE_INVALID_HANDLE)
        return true;
    if (!InitCOM(set))
        return false;
    if (!m_bThread)
        CreateRecvThread();
    return true;
}

void CCOM::Uninitialize()
{
    m_bExit = true;
    if (m_bThread)
    {
        ACE_Thread::join(m_hThread);
        m_bThread = false;
    }
    UninitCOM();
}

void CCOM::UninitCOM()
{
    {
        std::lock_guard<std::mutex> guard(m_devLock);
        if (HandleLocked() != ACE_INVALID_HANDLE && ReleaseLocked() == -1)
            ACE_ERROR((LM_ERROR, ACE_TEXT("%p\n"), ACE_TEXT("close")));
        m_bOpen = false;
    }
    delete m_pSet;
    m_pSet = nullptr;
}

int CCOM::SendData(const char* data, int length, unsigned int /*timeout*/)
{
    if (!m_bOpen || data == nullptr || length <= 0)
        return 0;
    ssize_t n = -1;
    {
        // The device is left open on a failed send: only the receive thread
        // closes it (after it has seen the line fail too), so a requester
        // never pulls the handle from under a running read.
        std::lock_guard<std::mutex> guard(m_devLock);
        if (HandleLocked() == ACE_INVALID_HANDLE)
            errno = EBADF;
        else if (m_pSock->get_handle() != ACE_INVALID_HANDLE)
            // A server that has gone must not raise SIGPIPE in the program.
            n = m_pSock->send_n(data, static_cast<size_t>(length), MSG_NOSIGNAL);
        else
            n = m_pDev->send_n(data, static_cast<size_t>(length));
    }
    if (n < 0 || n != length)
    {
        if (!m_bSendErrorReported)
        {
            m_bSendErrorReported = true;
            ACE_ERROR((LM_ERROR, ACE_TEXT("(%P|%t) COM%d: %p\n"), static_cast<int>(m_cfg.wPortNo), ACE_TEXT("send_n")));
        }
        return 0;
    }
    return static_cast<int>(n);
}

int CCOM::Read()
{
    const ACE_HANDLE h = m_bOpen ? DeviceHandle() : ACE_INVALID_HANDLE;
    if (h == ACE_INVALID_HANDLE)
        return 0;
    if (m_nPortKind != LINK_PORT_SERIAL)
    {
        // A socket has no read time-out of its own.
        struct pollfd wait = {h, POLLIN, 0};
        if (::poll(&wait, 1, READ_TIMEOUT_MS) <= 0)
            return 0;
    }
    ssize_t n = ACE_OS::read(h, m_pRecvBuf, static_cast<size_t>(m_nReadSize));
    if (n <= 0)
        return 0;
    return OnRead(m_pRecvBuf, static_cast<int>(n), 0) ? 1 : 0;
}

bool CCOM::OnRead(const char*, int, int)
{
    return true;
}

bool CCOM::HandleTimer(unsigned int)
{
    ++m_nTimer;
    if (m_nTimer % 10 == 0)
        OpenCom(m_cfg);
    return true;
}

bool CCOM::CreateRecvThread()
{
    m_bExit = false;
    if (ACE_Thread::spawn(&CCOM::RecvThreadProc, this, THR_NEW_LWP | THR_JOINABLE, &m_threadId, &m_hThread) == 0)
        m_bThread = true;
    else
        ACE_ERROR((LM_ERROR, ACE_TEXT("%p\n"), ACE_TEXT("serial receive thread spawn")));
    return true;
}

ACE_THR_FUNC_RETURN CCOM::RecvThreadProc(void* arg)
{
    static_cast<CCOM*>(arg)->RecvLoop();
    return 0;
}

void CCOM::RecvLoop()
{
    const ACE_Time_Value pollPeriod(0, POLL_MS * 1000);
    while (!m_bExit)
    {
        // Fast receive waits for the port to become readable (at most one
        // poll period, so the exit flag is still seen in time): a reply is
        // framed as soon as its bytes are in, not up to 20 ms later.
        const bool fast = m_bFastRecv.load();
        ACE_HANDLE h = m_bOpen ? DeviceHandle() : ACE_INVALID_HANDLE;
        bool readable = false;
        if (!fast || h == ACE_INVALID_HANDLE)
            ACE_OS::sleep(pollPeriod);
        else
        {
            struct pollfd wait;
            wait.fd = h;
            wait.events = POLLIN;
            wait.revents = 0;
            int ready = ::poll(&wait, 1, POLL_MS);
            if (ready == 0 || (ready < 0 && errno == EINTR))
                continue;
            if (ready < 0)
                ACE_OS::sleep(pollPeriod);   // not a descriptor poll can watch: behave as polling
            readable = ready > 0;
        }
        if (!m_bOpen)
            continue;
        const ACE_HANDLE polled = h;
        h = DeviceHandle();
        if (h == ACE_INVALID_HANDLE)
            continue;   // closed after an error: reported once, the owner reopens
        const bool net = m_nPortKind != LINK_PORT_SERIAL;
        // (Fast receive has just seen it readable: no second wait.)
        if (net && !(readable && h == polled))
        {
            // A socket read would wait for ever: wait as long as a serial
            // read would, for bytes or the end of the connection.
            struct pollfd wait = {h, POLLIN, 0};
            int ready = ::poll(&wait, 1, READ_TIMEOUT_MS);
            if (ready == 0 || (ready < 0 && errno == EINTR))
                continue;
        }
        // Waits at most the 100 ms read time-out; returns as soon as bytes are there.
        ssize_t n = ACE_OS::read(h, m_pRecvBuf, static_cast<size_t>(m_nReadSize));
        bool peerClosed = false;
        if (n == 0 && net)
        {
            // End of stream: the server closed the connection. The link is
            // gone as when a serial adapter is pulled.
            peerClosed = true;
            errno = ECONNRESET;
            n = -1;
        }
        else if (n == 0)
        {
            // A hung-up device (unplugged adapter, far end of a pty gone)
            // reads as end of file; poll tells it from a quiet line.
            struct pollfd pfd;
            pfd.fd = h;
            pfd.events = POLLIN;
            pfd.revents = 0;
            if (::poll(&pfd, 1, 0) > 0 && (pfd.revents & (POLLHUP | POLLERR | POLLNVAL)))
            {
                errno = EIO;
                n = -1;
            }
        }
        if (n < 0)
        {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            int err = errno;
            CloseDevice();
            if (!m_bErrorReported)
            {
                m_bErrorReported = true;
                errno = err;
                if (peerClosed)
                    ACE_ERROR((LM_ERROR, ACE_TEXT("(%P|%t) COM%d: %s: connection closed by the server\n"),
                               static_cast<int>(m_cfg.wPortNo), m_szDevicePath));
                else
                    ACE_ERROR((LM_ERROR, ACE_TEXT("(%P|%t) %p\n"), ACE_TEXT("recv")));
            }
            continue;
        }
        if (n > 0)
            OnRead(m_pRecvBuf, static_cast<int>(n), 0);
    }
}

// ---------------------------------------------------------------------------
// CVKRCom

CVKRCom::CVKRCom() : m_pInterface(nullptr)
{
}

CVKRCom::~CVKRCom()
{
    // Stop the receive thread while this object's OnRead still exists.
    if (m_bThread)
    {
        m_bExit = true;
        ACE_Thread::join(m_hThread);
        m_bThread = false;
    }
}

bool CVKRCom::OnRead(const char* data, int length, int status)
{
    CProtocolInterface* pInterface = m_pInterface;
    if (pInterface != nullptr)
        pInterface->OnRead(data, length, status, nullptr);
    return true;
}
