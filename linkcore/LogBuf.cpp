// Trace logs (CSFlogBuf).
#include "LogBuf.h"
#include "WSNConfig.h"
#include "CLinkCore.h"

#include <ace/OS_NS_stdio.h>
#include <ace/OS_NS_stdlib.h>
#include <ace/OS_NS_string.h>

#include <stdio.h>

namespace {

void CopyText(char* dst, size_t size, const char* src)
{
    if (src == nullptr)
        src = "";
    ACE_OS::strncpy(dst, src, size - 1);
    dst[size - 1] = '\0';
}

bool ReadSwitch(const char* section, const char* key, const char* defaultText)
{
    char value[256];
    WSNGetPrivateProfileString2(section, key, defaultText, value, sizeof value, LINKCORE_SYSTEM_CONFIG);
    return ACE_OS::atoi(value) != 0;
}

// Appends "Tx: " / "Rx: " and every byte as "%02X " at line + pos.
int AppendBytes(char* line, int pos, int size, const MSG_PROTOCOL* record)
{
    static const char kHex[] = "0123456789ABCDEF";
    const char* dir = record->bTransmit ? "Tx: " : "Rx: ";
    for (const char* p = dir; *p && pos < size - 1; ++p)
        line[pos++] = *p;
    int len = record->nLength < 0 ? 0 : record->nLength;
    for (int i = 0; i < len && pos + 3 < size; ++i)
    {
        unsigned char b = record->byData[i];
        line[pos++] = kHex[b >> 4];
        line[pos++] = kHex[b & 0x0F];
        line[pos++] = ' ';
    }
    line[pos] = '\0';
    return pos;
}

}  // namespace

CSFlogBuf::CSFlogBuf(const char* name, const char* stem, unsigned int sizeLimit,
                     unsigned int value1, unsigned int value2)
    : m_nFileIndex(1),
      m_dwSizeLimit(sizeLimit),
      m_dwValue1(value1),
      m_dwValue2(value2),
      m_pLine(new char[MSG_LINE_BUF_SIZE]),
      m_nRecordCount(0),
      m_bMsgShow(false),
      m_bMsgFile(true)
{
    CopyText(m_szName, sizeof m_szName, name);
    CopyText(m_szFileStem, sizeof m_szFileStem, stem);
    m_pLine[0] = '\0';
    m_bMsgShow = ReadSwitch(m_szName, "msg_show", "0");
    m_bMsgFile = ReadSwitch(m_szName, "msg_file", "1");
    if (m_bMsgFile)
    {
        char file[300];
        CurrentFileName(file, m_nFileIndex);
        CreateDataFile(file);
    }
}

CSFlogBuf::~CSFlogBuf()
{
    CloseDataFile();
    delete[] m_pLine;
    m_pLine = nullptr;
}

void CSFlogBuf::CurrentFileName(char* out, int index) const
{
    ACE_OS::snprintf(out, 300, "%s_%d.txt", m_szFileStem, index);
}

int CSFlogBuf::FormatLine(const char* prefix, int number, MSG_PROTOCOL* r)
{
    int pos;
    if (prefix == nullptr)
        pos = ACE_OS::snprintf(m_pLine, MSG_LINE_BUF_SIZE, "%d  %d-%02d-%02d %02d:%02d:%02d-%03d ", number,
                               r->wYear, r->wMonth, r->wDay, r->wHour, r->wMinute, r->wSecond,
                               static_cast<int>(r->dwMicrosecond / 1000));
    else
        pos = ACE_OS::snprintf(m_pLine, MSG_LINE_BUF_SIZE, "%s%d-%02d-%02d %02d:%02d:%02d-%03d ", prefix,
                               r->wYear, r->wMonth, r->wDay, r->wHour, r->wMinute, r->wSecond,
                               static_cast<int>(r->dwMicrosecond / 1000));
    if (pos < 0)
        pos = 0;
    if (pos > MSG_LINE_BUF_SIZE - 1)
        pos = MSG_LINE_BUF_SIZE - 1;
    return AppendBytes(m_pLine, pos, MSG_LINE_BUF_SIZE, r);
}

void CSFlogBuf::LogMessage(MSG_PROTOCOL* record, bool countOnly)
{
    if (!m_bMsgShow && !m_bMsgFile)
        return;
    ++m_nRecordCount;
    if (countOnly || record == nullptr)
        return;
    // 3 characters per byte plus 100 must fit the 1024-character line.
    if (record->nLength > MSG_LINE_MAX_BYTES)
        return;

    int len = FormatLine(nullptr, m_nRecordCount, record);
    if (m_bMsgShow)
    {
        ACE_OS::printf("%s\n\n", m_pLine);
        ACE_OS::fflush(stdout);
    }
    if (!m_bMsgFile)
        return;
    ACE_OS::memcpy(m_pLine + len, "\r\n\r\n", 4);
    len += 4;
    m_pLine[len] = '\0';

    char file[300];
    if (GetFileLength() > static_cast<long long>(m_dwSizeLimit))
    {
        CloseDataFile();
        m_nFileIndex = m_nFileIndex == 1 ? 0 : 1;
        CurrentFileName(file, m_nFileIndex);
        DeleteDataFile(file);
        CreateDataFile(file);
    }
    if (!SaveData(static_cast<unsigned int>(len), m_pLine))
    {
        CurrentFileName(file, m_nFileIndex);
        CreateDataFile(file);
        SaveData(static_cast<unsigned int>(len), m_pLine);
    }
}

void CSFlogBuf::PrintMessage(MSG_PROTOCOL* record)
{
    if (record == nullptr || record->nLength > MSG_LINE_MAX_BYTES)
        return;
    FormatLine("msg:", 0, record);
    ACE_OS::printf("%s\n\n", m_pLine);
    ACE_OS::fflush(stdout);
}

CWSN_log::CWSN_log()
{
}

CWSN_log& CWSN_log::operator=(const CWSN_log&)
{
    return *this;
}
