// Data file and status code names.
#include "DataFile.h"
#include "WSNConfig.h"

#include <ace/FILE_Connector.h>
#include <ace/Log_Msg.h>
#include <ace/OS_NS_string.h>
#include <ace/OS_NS_unistd.h>
#include <ace/OS_NS_fcntl.h>

#include <string>

namespace {

struct StatusName
{
    int         code;
    const char* name;
    const char* desc;   // GBK bytes, as stored in the original table
};

// The 29 channel status codes, in table order.
const StatusName kStatusNames[] = {
    { -1, "COMM_ERROR", "\xCD\xA8\xD0\xC5\xB4\xED\xCE\xF3" },  // 通信错误
    { 100, "COMM_INIT", "\xCD\xA8\xB5\xC0\xB3\xF5\xCA\xBC\xBB\xAF" },  // 通道初始化
    { 101, "COMM_REINIT", "\xCD\xA8\xB5\xC0\xD6\xD8\xD0\xC2\xB3\xF5\xCA\xBC\xBB\xAF" },  // 通道重新初始化
    { 103, "COMM_CLOSE", "\xCD\xA8\xB5\xC0\xB9\xD8\xB1\xD5" },  // 通道关闭
    { 105, "COMM_CONNECT", "\xCD\xA8\xB5\xC0\xC1\xAC\xBD\xD3\xB3\xC9\xB9\xA6" },  // 通道连接成功
    { 106, "COMM_DISCONNECT", "\xB6\xD4\xB7\xBD\xB6\xCF\xBF\xAA\xC1\xAC\xBD\xD3" },  // 对方断开连接
    { 107, "COMM_ACCEPT", "\xBD\xD3\xCA\xD5\xD0\xC2\xB5\xC4\xBF\xCD\xBB\xA7\xB6\xCB" },  // 接收新的客户端
    { 108, "COMM_WAITCONNECT", "\xB5\xC8\xB4\xFD\xBF\xCD\xBB\xA7\xB6\xCB\xC1\xAC\xBD\xD3" },  // 等待客户端连接
    { 109, "COMM_DISACCEPT", "\xB7\xC7\xB7\xA8\xB5\xC4\xBF\xCD\xBB\xA7\xB6\xCB" },  // 非法的客户端
    { 1000, "COMM_NOACTIVECH", "\xC3\xBB\xD3\xD0\xB4\xA6\xD3\xDA\xB9\xA4\xD7\xF7\xD7\xB4\xCC\xAC\xB5\xC4\xCD\xA8\xB5\xC0" },  // 没有处于工作状态的通道
    { 1001, "COMM_NOTINIT", "\xCD\xA8\xB5\xC0\xCE\xB4\xB3\xF5\xCA\xBC\xBB\xAF" },  // 通道未初始化
    { 2000, "COMM_INVALIDPTR", "\xCE\xDE\xD0\xA7\xB5\xC4\xD6\xB8\xD5\xEB" },  // 无效的指针
    { 200, "COMM_RING", "Modem \xD3\xD0\xD5\xF1\xC1\xE5\xC9\xF9" },  // Modem 有振铃声
    { 201, "COMM_HANDUP", "Modem \xB9\xD2\xB6\xCF" },  // Modem 挂断
    { 4301, "COMM_NO_MODEM", "Modem \xCE\xDE\xB7\xB5\xBB\xD8" },  // Modem 无返回
    { 4302, "COMM_RESEND", "Modem \xD6\xD8\xB7\xA2" },  // Modem 重发
    { 4303, "COMM_CANCEL", "Modem \xD6\xD0\xB6\xCF" },  // Modem 中断
    { 4307, "COMM_LPC_ERROR", "Modem LPC \xB4\xED\xCE\xF3" },  // Modem LPC 错误
    { 4308, "COMM_NOT_A_COM", "Modem NOT_A_COM" },  // Modem NOT_A_COM
    { 4309, "COMM_TIME_OUT_RCV", "Modem \xBD\xD3\xCA\xD5\xB3\xAC\xCA\xB1" },  // Modem 接收超时
    { 4310, "COMM_TIME_OUT_SEND", "Modem \xB7\xA2\xCB\xCD\xB3\xAC\xCA\xB1" },  // Modem 发送超时
    { 4311, "COMM_USER_END_LINK", "Modem \xCA\xD6\xB6\xAF\xD6\xD5\xD6\xB9" },  // Modem 手动终止
    { 4312, "COMM_NO_DIAL_TONE", "Modem \xBC\xEC\xB2\xE2\xB2\xBB\xB5\xBD\xB2\xA6\xBA\xC5\xD2\xF4" },  // Modem 检测不到拨号音
    { 4313, "COMM_BUSY", "Modem \xD5\xBC\xCF\xDF" },  // Modem 占线
    { 4314, "COMM_TIME_OUT", "Modem \xBC\xEC\xB2\xE2\xB3\xAC\xCA\xB1" },  // Modem 检测超时
    { 4315, "COMM_NO_CARRIER", "Modem \xC3\xBB\xD4\xD8\xB2\xA8\xD0\xC5\xBA\xC5" },  // Modem 没载波信号
    { 4317, "COMM_ERROR_COM", "Modem \xCE\xDE\xD0\xA7\xC3\xFC\xC1\xEE" },  // Modem 无效命令
    { 4318, "COMM_NOANSWER", "Modem \xBC\xEC\xB2\xE2\xB2\xBB\xB5\xBD\xCE\xDE\xC9\xF9\xD0\xC5\xBA\xC5" },  // Modem 检测不到无声信号
    { 4319, "COMM_CONNECTING", "\xD5\xFD\xD4\xDA\xC1\xAC\xBD\xD3" },  // 正在连接
};

const StatusName* FindStatus(int code)
{
    for (const StatusName& s : kStatusNames)
        if (s.code == code)
            return &s;
    return nullptr;
}

const int kDefaultFrameLen = 10000;

}  // namespace

extern "C" {

bool GetErrorCodeName(int code, char* out)
{
    const StatusName* s = FindStatus(code);
    if (s == nullptr || out == nullptr)
        return false;
    ACE_OS::strcpy(out, s->name);
    return true;
}

bool GetErrorDescName(int code, char* out)
{
    const StatusName* s = FindStatus(code);
    if (s == nullptr || out == nullptr)
        return false;
    ACE_OS::strcpy(out, s->desc);
    return true;
}

}  // extern "C"

CDataFile::CDataFile() : m_nFrameLen(kDefaultFrameLen)
{
    m_szFileName[0] = '\0';
}

CDataFile::~CDataFile()
{
    CloseDataFile();
}

int CDataFile::OpenDataFile(const char* path)
{
    CloseDataFile();
    if (path == nullptr || path[0] == '\0')
    {
        ACE_ERROR((LM_ERROR, ACE_TEXT("%p\n to %s\n"), ACE_TEXT("connect"), "(empty)"));
        return -1;
    }
    if (path != m_szFileName)
    {
        ACE_OS::strncpy(m_szFileName, path, sizeof m_szFileName - 1);
        m_szFileName[sizeof m_szFileName - 1] = '\0';
    }
    ACE_FILE_Connector connector;
    // Read and write, created when missing. Appends seek to the end
    // themselves, so positioned writes stay positioned.
    if (connector.connect(m_file, ACE_FILE_Addr(path), nullptr, ACE_Addr::sap_any, 0,
                          O_RDWR | O_CREAT, ACE_DEFAULT_FILE_PERMS) == -1)
    {
        ACE_ERROR((LM_ERROR, ACE_TEXT("%p\n to %s\n"), ACE_TEXT("connect"), path));
        m_file.set_handle(ACE_INVALID_HANDLE);
        return -1;
    }
    return 0;
}

bool CDataFile::IsFileExit(const char* path)
{
    if (path == nullptr || path[0] == '\0')
        return false;
    // Opened the way OpenDataFile opens, on a separate handle so that the
    // object's own file is left alone.
    ACE_FILE_IO probe;
    ACE_FILE_Connector connector;
    if (connector.connect(probe, ACE_FILE_Addr(path), nullptr, ACE_Addr::sap_any, 0,
                          O_RDWR | O_CREAT, ACE_DEFAULT_FILE_PERMS) == -1)
    {
        ACE_ERROR((LM_ERROR, ACE_TEXT("%p\n"), ACE_TEXT("get_info")));
        return false;
    }
    ACE_FILE_Info info;
    bool ok = probe.get_info(info) == 0;
    if (!ok)
        ACE_ERROR((LM_ERROR, ACE_TEXT("%p\n"), ACE_TEXT("get_info")));
    probe.close();
    return ok;
}

int CDataFile::CreateDataFile(const char* path)
{
    if (path == nullptr || path[0] == '\0')
        return -1;
    if (!IsFileExit(path))
    {
        std::string p(path);
        std::string::size_type slash = p.rfind('/');
        if (slash != std::string::npos && slash > 0)
            WSNCreatFilePath(p.substr(0, slash).c_str());
    }
    return OpenDataFile(path);
}

int CDataFile::DeleteDataFile(const char* path)
{
    if (!IsFileExit(path))
        return -1;
    if (IsOpen() && ACE_OS::strcmp(path, m_szFileName) == 0)
        CloseDataFile();
    return ACE_OS::unlink(path) == 0 ? 0 : -1;
}

void CDataFile::CloseDataFile()
{
    if (m_file.get_handle() != ACE_INVALID_HANDLE)
        m_file.close();
}

int CDataFile::GetFileLength()
{
    if (!IsOpen())
        return -1;
    ACE_FILE_Info info;
    if (m_file.get_info(info) != 0)
    {
        ACE_ERROR((LM_ERROR, ACE_TEXT("%p\n"), ACE_TEXT("get_info")));
        return -1;
    }
    return static_cast<int>(info.size_);
}

bool CDataFile::LoadData(unsigned int offset, unsigned int length, void* buffer)
{
    if (!IsOpen() || m_file.seek(static_cast<ACE_OFF_T>(offset), SEEK_SET) < 0)
    {
        ACE_ERROR((LM_ERROR, ACE_TEXT("%p\n"), ACE_TEXT("recv")));
        return false;
    }
    ssize_t n = m_file.recv_n(buffer, length);
    if (n < 0 || static_cast<unsigned int>(n) != length)
    {
        ACE_ERROR((LM_ERROR, ACE_TEXT("%p\n"), ACE_TEXT("recv")));
        return false;
    }
    return true;
}

bool CDataFile::SaveData(unsigned int offset, unsigned int length, void* buffer)
{
    if (!IsOpen() || m_file.seek(static_cast<ACE_OFF_T>(offset), SEEK_SET) < 0)
    {
        ACE_ERROR((LM_ERROR, ACE_TEXT("%p\n"), ACE_TEXT("send")));
        return false;
    }
    ssize_t n = m_file.send_n(buffer, length);
    if (n < 0 || static_cast<unsigned int>(n) != length)
    {
        ACE_ERROR((LM_ERROR, ACE_TEXT("%p\n"), ACE_TEXT("send")));
        return false;
    }
    return true;
}

bool CDataFile::SaveData(unsigned int length, void* buffer)
{
    if (!IsOpen() || m_file.seek(0, SEEK_END) < 0)
    {
        ACE_ERROR((LM_ERROR, ACE_TEXT("%p\n"), ACE_TEXT("send")));
        return false;
    }
    ssize_t n = m_file.send_n(buffer, length);
    if (n < 0 || static_cast<unsigned int>(n) != length)
    {
        ACE_ERROR((LM_ERROR, ACE_TEXT("%p\n"), ACE_TEXT("send")));
        return false;
    }
    return true;
}

bool CDataFile::LoadSubpacketData(int index, void* buffer)
{
    return LoadData(static_cast<unsigned int>(index * m_nFrameLen), static_cast<unsigned int>(m_nFrameLen), buffer);
}

bool CDataFile::LoadRemainderData(int index, int length, void* buffer)
{
    return LoadData(static_cast<unsigned int>(index * m_nFrameLen), static_cast<unsigned int>(length), buffer);
}

bool CDataFile::LoadPieceData(int offset, void* buffer)
{
    return LoadData(static_cast<unsigned int>(offset), static_cast<unsigned int>(m_nFrameLen - offset - 1), buffer);
}

bool CDataFile::SaveSubpacketData(int index, void* buffer)
{
    return SaveData(static_cast<unsigned int>(index * m_nFrameLen), static_cast<unsigned int>(m_nFrameLen), buffer);
}

bool CDataFile::SaveRemainderData(int index, int length, void* buffer)
{
    return SaveData(static_cast<unsigned int>(index * m_nFrameLen), static_cast<unsigned int>(length), buffer);
}
