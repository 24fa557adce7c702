// Channel descriptors and the serial configuration record
// (ComCfgStruct, CCOMSet).
#ifndef LINKCORE_CHANNELSET_H
#define LINKCORE_CHANNELSET_H

#include <stdint.h>
#include "LinkCoreExport.h"

// Channel kinds set by the constructors below.
enum LinkChannelKind
{
    CHANN_TCP_SERVER   = 1,
    CHANN_TCP_CLIENT   = 2,
    CHANN_UDP_MIX      = 18,
    CHANN_COM          = 21,
    CHANN_MODEM_SERVER = 31,
    CHANN_MODEM_CLIENT = 32
};

// Serial configuration record, passed by value between the application and
// LinkCore. Field order; the default member values are the
// default record (port 0, 9600 baud, no parity, 8 data bits, 1 stop bit).
struct ComCfgStruct
{
    uint16_t wPortNo     = 0;     // COM port number, 1-based (COM1 = 1)
    uint16_t wReserved0  = 0;
    int32_t  nBaudRate   = 9600;  // bits per second
    uint16_t wParity     = 0;     // 0 none, 1 odd, 2 even; other values: none
    uint8_t  byRtsMode   = 0;     // 0 off, 1 on, 2 handshake, 3 high while sending
    uint8_t  byDtrOff    = 0;     // non-zero switches DTR off
    uint8_t  byDataBits  = 8;     // 5..8
    uint8_t  byFastRecv  = 0;     // non-zero: the receive thread waits for the port
                                   // to become readable instead of polling it
    uint8_t  byStopBits  = 1;     // 1 or 2
    uint8_t  byReserved2 = 0;
    // Not read by the serial channel; carried unchanged.
    int32_t  nUnused1    = 1;
    uint16_t wUnused2    = 4096;
    uint16_t wUnused3    = 4096;
    int32_t  nUnused4    = 5000;
    char     szUnused5[128] = {};
};

// Base of all channel settings: a channel kind plus the kind's parameters.
// NewObject makes a heap copy of the most derived object (caller owns it).
class LINKCORE_API CComSetBase
{
public:
    explicit CComSetBase(int kind = 0) : m_nKind(kind) {}
    virtual CComSetBase* GetComSet() { return this; }
    virtual CComSetBase* NewObject() const;
    // LinkCore addition: a virtual destructor, so that deleting a copy through
    // the base pointer is well defined.
    virtual ~CComSetBase() {}
    int  GetKind() const { return m_nKind; }

    int m_nKind;
};

class LINKCORE_API CTcpSet : public CComSetBase
{
public:
    CTcpSet(unsigned int port, const char* address, int kind);
    CTcpSet(const CTcpSet& other);
    CTcpSet& operator=(const CTcpSet& other);
    CComSetBase* NewObject() const override;

    char         m_szAddress[256];
    unsigned int m_dwPort;
};

class LINKCORE_API CTcpClientSet : public CTcpSet
{
public:
    CTcpClientSet(unsigned int port, const char* address);
    CTcpClientSet(const CTcpClientSet& other) = default;
    CTcpClientSet& operator=(const CTcpClientSet& other) = default;
    CComSetBase* NewObject() const override;
};

class LINKCORE_API CTcpSvrSet : public CTcpSet
{
public:
    enum { MAX_ENTRIES = 128 };
    CTcpSvrSet(unsigned int port, const char* address, const unsigned int* entries, unsigned int count);
    CTcpSvrSet(const CTcpSvrSet& other);
    CTcpSvrSet& operator=(const CTcpSvrSet& other);
    CComSetBase* NewObject() const override;

    unsigned int m_dwCount;
    unsigned int m_dwEntries[MAX_ENTRIES];
};

class LINKCORE_API CUDPSet : public CComSetBase
{
public:
    CUDPSet(unsigned int port = 0, int kind = 0, const char* secondAddress = nullptr,
            const char* firstAddress = nullptr);
    CUDPSet(const CUDPSet& other);
    CUDPSet& operator=(const CUDPSet& other);
    CComSetBase* NewObject() const override;

    char         m_szFirstAddress[128];
    char         m_szSecondAddress[128];
    unsigned int m_dwPort;
    unsigned int m_dwPort2;   // the same value again
};

class LINKCORE_API CUDPMIXSet : public CComSetBase
{
public:
    CUDPMIXSet(const CUDPSet& first, const CUDPSet& second);
    CUDPMIXSet(const CUDPMIXSet& other);
    CUDPMIXSet& operator=(const CUDPMIXSet& other);
    CComSetBase* NewObject() const override;

    CUDPSet m_first;
    CUDPSet m_second;
};

// Serial settings. The application default-constructs one and
// fills m_cfg directly.
class LINKCORE_API CCOMSet : public CComSetBase
{
public:
    CCOMSet();                                        // kind 21, default record
    CCOMSet(const ComCfgStruct& cfg, int kind = CHANN_COM);
    CCOMSet(const CCOMSet& other);
    CCOMSet& operator=(const CCOMSet& other);
    CComSetBase* NewObject() const override;

    ComCfgStruct m_cfg;
};

class LINKCORE_API CModemClientSet : public CCOMSet
{
public:
    CModemClientSet(const ComCfgStruct& cfg, const char* number);
    CModemClientSet(const CModemClientSet& other);
    CModemClientSet& operator=(const CModemClientSet& other);
    CComSetBase* NewObject() const override;

    char m_szNumber[128];
};

class LINKCORE_API CModemSvrSet : public CCOMSet
{
public:
    explicit CModemSvrSet(const ComCfgStruct& cfg);
    CModemSvrSet(const CModemSvrSet& other) = default;
    CModemSvrSet& operator=(const CModemSvrSet& other) = default;
    CComSetBase* NewObject() const override;
};

// Four work-type values of a channel group (meaning not fixed by this system).
struct CChannWorkType
{
    unsigned int dwValue1 = 257;
    unsigned int dwValue2 = 10000;
    unsigned int dwValue3 = 1;
    unsigned int dwValue4 = 3;
};

// One channel of a group: id plus an owned copy of its settings.
class LINKCORE_API CChannelInfo
{
public:
    CChannelInfo(const CComSetBase* settings = nullptr, unsigned short id = 0);
    CChannelInfo(const CChannelInfo& other);
    CChannelInfo& operator=(const CChannelInfo& other);
    virtual ~CChannelInfo();

    CComSetBase*  GetComSet() const;          // the settings' GetComSet(), or null
    CComSetBase*  NewComSet() const;          // a new NewObject() copy, or null
    int           GetChannType() const;       // the settings' kind, -1 without
    CChannelInfo* NewObject() const;          // heap copy with its own settings copy

    unsigned short m_wId;
    unsigned short m_wField;                  // 0 after construction, copied
    CComSetBase*   m_pSet;                    // owned
};

// A group of channels with a growable owned array.
class LINKCORE_API CChannGroupInfo
{
public:
    CChannGroupInfo(const CChannelInfo* channels, unsigned short count, unsigned short id,
                    unsigned short capacity = 0, const CChannWorkType* work = nullptr,
                    const char* name = nullptr);
    CChannGroupInfo(const CChannGroupInfo& other);
    CChannGroupInfo& operator=(const CChannGroupInfo& other);
    virtual ~CChannGroupInfo();

    CChannelInfo*  GetChannInfo(unsigned short id) const;  // first with this id, or null
    CComSetBase*   GetComSet(unsigned short id) const;     // its settings, or null
    bool           IsServer() const;                       // any kind 1, 11 or 31
    bool           AddChannel(const CChannelInfo& channel);// grows by one when full
    void           RemoveAllChannel();

    unsigned short GetCount() const { return m_wCount; }
    unsigned short GetCapacity() const { return m_wCapacity; }
    const char*    GetName() const { return m_szName; }

    unsigned short m_wGroupId;
    unsigned short m_wField;
    unsigned int   m_dwWork[4];
    unsigned short m_wCount;
    unsigned short m_wCapacity;
    CChannelInfo*  m_pChannels;               // owned, m_wCapacity places
    char           m_szName[256];
};

#endif
