// Message logs.
//  - CSFlogBuf: hexadecimal trace of byte blocks into two alternating files
//    ("<stem>_1.txt", "<stem>_0.txt"); the engine owns two of them.
//  - LOG_ functions: the process-wide run-info log. Lines are queued from any
//    thread and written once a second by one writer thread into
//    "./log/<process>_0.txt" / "_1.txt" (the folder is made when missing).
#ifndef LINKCORE_LOGBUF_H
#define LINKCORE_LOGBUF_H

#include "DataFile.h"
#include "LinkCoreExport.h"

#define MSG_PROTOCOL_DATA_SIZE 65792   // room in one trace record
#define MSG_PROTOCOL_MAX_LEN   65536   // the engine records at most this many
#define MSG_LINE_BUF_SIZE      1024    // one formatted trace line
#define MSG_LINE_MAX_BYTES     308     // longer records are counted, not written

// One trace record, filled by the engine (CLinkCore::DisplayMsg) and written
// by CSFlogBuf::LogMessage. Timestamp is local time.
struct MSG_PROTOCOL
{
    unsigned short wYear;
    unsigned short wMonth;
    unsigned short wDay;
    unsigned short wHour;
    unsigned short wMinute;
    unsigned short wSecond;
    unsigned int   dwMicrosecond;
    bool           bTransmit;     // true = transmitted ("Tx:"), false = received ("Rx:")
    int            nLength;       // bytes in byData
    unsigned char  byData[MSG_PROTOCOL_DATA_SIZE];
};

// Trace log of one channel direction set. Not thread-safe by itself: the
// engine serialises its calls.
class LINKCORE_API CSFlogBuf : public CDataFile
{
public:
    // name: section of "../config/SystemConfig.ini" holding "msg_show" (default
    // 0) and "msg_file" (default 1); stem: e.g. "./msg/RAW_MSG_CH1", files are
    // "<stem>_<index>.txt"; sizeLimit: rotation threshold in bytes; the last two
    // values are stored only (100 and 5000 in this system). Opens
    // "<stem>_1.txt" (and its folders) when file output is on.
    CSFlogBuf(const char* name, const char* stem, unsigned int sizeLimit,
              unsigned int value1, unsigned int value2);
    virtual ~CSFlogBuf();

    // Counts one record (when echo or file output is on) and, unless
    // countOnly, writes its line: "%d  %d-%02d-%02d %02d:%02d:%02d-%03d " +
    // "Tx: "/"Rx: " + "%02X " per byte + "\r\n\r\n". Records over 308 bytes are
    // counted but not written. Rotates when the file is larger than the limit.
    void LogMessage(MSG_PROTOCOL* record, bool countOnly);
    // Console form: "msg:<time> Tx: <bytes>" followed by "\n\n".
    void PrintMessage(MSG_PROTOCOL* record);
    void SetMsgShow(bool show) { m_bMsgShow = show; }
    bool ClearLogFile() { return true; }

    // Accessors (for the application's diagnostics and the tests).
    const char*  GetName() const { return m_szName; }
    const char*  GetFileStem() const { return m_szFileStem; }
    int          GetFileIndex() const { return m_nFileIndex; }
    unsigned int GetSizeLimit() const { return m_dwSizeLimit; }
    int          GetRecordCount() const { return m_nRecordCount; }
    bool         IsMsgShow() const { return m_bMsgShow; }
    bool         IsMsgFile() const { return m_bMsgFile; }

protected:
    // Forms the line (without the CR LF pairs) into m_pLine; returns its length.
    int FormatLine(const char* prefix, int number, MSG_PROTOCOL* record);
    void CurrentFileName(char* out, int index) const;

    char         m_szName[256];
    char         m_szFileStem[256];
    int          m_nFileIndex;
    unsigned int m_dwSizeLimit;
    unsigned int m_dwValue1;
    unsigned int m_dwValue2;
    char*        m_pLine;
    int          m_nRecordCount;
    bool         m_bMsgShow;
    bool         m_bMsgFile;
};

// Exported class without behaviour (kept for the interface).
class LINKCORE_API CWSN_log
{
public:
    CWSN_log();
    CWSN_log& operator=(const CWSN_log&);
};

extern "C" {

// Sets up the run-info log with processName and starts its writer thread. If
// it is already set up: returns true and changes nothing.
LINKCORE_API bool LOG_Init(const char* processName);
// Sets up the state if needed, stores the name, starts the log if not running.
LINKCORE_API void LOG_SetProcessName(const char* processName);
// The process name, or null before setup.
LINKCORE_API char* LOG_GetProcessName();
// Queues one line (text cut to 2047 characters). Ignored before setup.
// Any thread.
LINKCORE_API void LOG_AddRunInfo(unsigned int level, const char* text);
// printf-style into 2048 characters, then as LOG_AddRunInfo. Any thread.
LINKCORE_API void LOG_MakeAndAddRunInfo(unsigned int level, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
// Stops the writer thread, closes the file, drops queued lines, frees the state.
LINKCORE_API void LOG_UnInit();
// LinkCore addition: switches the writer's outputs (both on by default):
// console echo to the ACE diagnostic log, and the run-info files.
LINKCORE_API void LOG_SetOutput(bool consoleEcho, bool fileOutput);
// LinkCore addition: switches the console echo alone (the engine sets it from
// its "msg_show" switch when it initialises).
LINKCORE_API void LOG_SetConsoleEcho(bool consoleEcho);

}  // extern "C"

#endif
