// CDataFile (the thin file object under the trace logs) and the
// channel status codes with their names.
#ifndef LINKCORE_DATAFILE_H
#define LINKCORE_DATAFILE_H

#include <ace/FILE_IO.h>
#include "LinkCoreExport.h"

// Channel status codes. A channel status event reaches
// CLinkCore::ReadFrChannel / ProcessUpFrame with one of these as `status`.
enum LinkCommStatus
{
    COMM_ERROR         = -1,
    COMM_INIT          = 100,   // port opened (the serial channel's only event)
    COMM_REINIT        = 101,
    COMM_CLOSE         = 103,
    COMM_CONNECT       = 105,
    COMM_DISCONNECT    = 106,
    COMM_ACCEPT        = 107,
    COMM_WAITCONNECT   = 108,
    COMM_DISACCEPT     = 109,
    COMM_RING          = 200,
    COMM_HANDUP        = 201,
    COMM_NOACTIVECH    = 1000,
    COMM_NOTINIT       = 1001,
    COMM_INVALIDPTR    = 2000,
    COMM_NO_MODEM      = 4301,
    COMM_RESEND        = 4302,
    COMM_CANCEL        = 4303,
    COMM_LPC_ERROR     = 4307,
    COMM_NOT_A_COM     = 4308,
    COMM_TIME_OUT_RCV  = 4309,
    COMM_TIME_OUT_SEND = 4310,
    COMM_USER_END_LINK = 4311,
    COMM_NO_DIAL_TONE  = 4312,
    COMM_BUSY          = 4313,
    COMM_TIME_OUT      = 4314,
    COMM_NO_CARRIER    = 4315,
    COMM_ERROR_COM     = 4317,
    COMM_NOANSWER      = 4318,
    COMM_CONNECTING    = 4319
};

extern "C" {
// Copies the symbolic name of code ("COMM_BUSY") to out (room for 32 bytes);
// false when the code is not in the table.
LINKCORE_API bool GetErrorCodeName(int code, char* out);
// Copies the description, as stored: GBK bytes, zero-terminated (room for 64
// bytes); false when the code is not in the table.
LINKCORE_API bool GetErrorDescName(int code, char* out);
}

// File object: open-or-create, positioned reads and writes, appends, and block
// ("subpacket") access in units of the frame length. Failures are reported by
// the result and one line in the ACE diagnostic log; nothing is thrown.
class LINKCORE_API CDataFile
{
public:
    CDataFile();
    virtual ~CDataFile();                 // closes the file

    // Closes any open file, remembers path, opens it for reading and writing
    // (created when missing). 0, or -1 with a diagnostic line.
    int  OpenDataFile(const char* path);
    // true when path can be opened as OpenDataFile does and its size read
    // (a missing file is created; false typically means a missing folder).
    bool IsFileExit(const char* path);
    // Creates the folders before the last "/" when needed, then OpenDataFile.
    int  CreateDataFile(const char* path);
    // Removes path if IsFileExit(path): 0 on success, otherwise -1.
    int  DeleteDataFile(const char* path);
    void CloseDataFile();
    int  GetFileLength();                 // size in bytes, -1 on failure

    bool LoadData(unsigned int offset, unsigned int length, void* buffer);
    bool SaveData(unsigned int offset, unsigned int length, void* buffer);
    bool SaveData(unsigned int length, void* buffer);   // append at the end

    bool LoadSubpacketData(int index, void* buffer);
    bool LoadRemainderData(int index, int length, void* buffer);
    bool LoadPieceData(int offset, void* buffer);
    bool SaveSubpacketData(int index, void* buffer);
    bool SaveRemainderData(int index, int length, void* buffer);

    const char* GetFileName() const { return m_szFileName; }
    int  GetFrameLen() const { return m_nFrameLen; }
    void SetFrameLen(int len) { m_nFrameLen = len; }
    bool Rename(const char*, const char*) { return true; }
    bool IsOpen() const { return m_file.get_handle() != ACE_INVALID_HANDLE; }

protected:
    ACE_FILE_IO m_file;
    char        m_szFileName[256];
    int         m_nFrameLen;

private:
    CDataFile(const CDataFile&) = delete;
    CDataFile& operator=(const CDataFile&) = delete;
};

#endif
