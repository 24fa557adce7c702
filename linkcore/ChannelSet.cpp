// Channel descriptors.
#include "ChannelSet.h"

#include <string.h>

namespace {

void CopyText(char* dst, size_t size, const char* src)
{
    if (src == nullptr)
        src = "";
    strncpy(dst, src, size - 1);
    dst[size - 1] = '\0';
}

}  // namespace

CComSetBase* CComSetBase::NewObject() const
{
    return new CComSetBase(*this);
}

// --- TCP ---------------------------------------------------------------------

CTcpSet::CTcpSet(unsigned int port, const char* address, int kind) : CComSetBase(kind), m_dwPort(port)
{
    CopyText(m_szAddress, sizeof m_szAddress, address);
}

CTcpSet::CTcpSet(const CTcpSet& other) : CComSetBase(other), m_dwPort(other.m_dwPort)
{
    memcpy(m_szAddress, other.m_szAddress, sizeof m_szAddress);
}

CTcpSet& CTcpSet::operator=(const CTcpSet& other)
{
    if (this != &other)
    {
        m_nKind = other.m_nKind;
        memcpy(m_szAddress, other.m_szAddress, sizeof m_szAddress);
        m_dwPort = other.m_dwPort;
    }
    return *this;
}

CComSetBase* CTcpSet::NewObject() const { return new CTcpSet(*this); }

CTcpClientSet::CTcpClientSet(unsigned int port, const char* address) : CTcpSet(port, address, CHANN_TCP_CLIENT) {}

CComSetBase* CTcpClientSet::NewObject() const { return new CTcpClientSet(*this); }

CTcpSvrSet::CTcpSvrSet(unsigned int port, const char* address, const unsigned int* entries, unsigned int count)
    : CTcpSet(port, address, CHANN_TCP_SERVER), m_dwCount(0)
{
    memset(m_dwEntries, 0, sizeof m_dwEntries);
    if (entries != nullptr)
    {
        m_dwCount = count > static_cast<unsigned int>(MAX_ENTRIES) ? static_cast<unsigned int>(MAX_ENTRIES) : count;
        memcpy(m_dwEntries, entries, m_dwCount * sizeof(unsigned int));
    }
}

CTcpSvrSet::CTcpSvrSet(const CTcpSvrSet& other) : CTcpSet(other), m_dwCount(other.m_dwCount)
{
    memcpy(m_dwEntries, other.m_dwEntries, sizeof m_dwEntries);
}

CTcpSvrSet& CTcpSvrSet::operator=(const CTcpSvrSet& other)
{
    if (this != &other)
    {
        CTcpSet::operator=(other);
        m_dwCount = other.m_dwCount;
        memcpy(m_dwEntries, other.m_dwEntries, sizeof m_dwEntries);
    }
    return *this;
}

CComSetBase* CTcpSvrSet::NewObject() const { return new CTcpSvrSet(*this); }

// --- UDP ---------------------------------------------------------------------

CUDPSet::CUDPSet(unsigned int port, int kind, const char* secondAddress, const char* firstAddress)
    : CComSetBase(kind), m_dwPort(port), m_dwPort2(port)
{
    CopyText(m_szFirstAddress, sizeof m_szFirstAddress, firstAddress);
    CopyText(m_szSecondAddress, sizeof m_szSecondAddress, secondAddress);
}

CUDPSet::CUDPSet(const CUDPSet& other) : CComSetBase(other), m_dwPort(other.m_dwPort), m_dwPort2(other.m_dwPort2)
{
    memcpy(m_szFirstAddress, other.m_szFirstAddress, sizeof m_szFirstAddress);
    memcpy(m_szSecondAddress, other.m_szSecondAddress, sizeof m_szSecondAddress);
}

CUDPSet& CUDPSet::operator=(const CUDPSet& other)
{
    if (this != &other)
    {
        m_nKind = other.m_nKind;
        memcpy(m_szFirstAddress, other.m_szFirstAddress, sizeof m_szFirstAddress);
        memcpy(m_szSecondAddress, other.m_szSecondAddress, sizeof m_szSecondAddress);
        m_dwPort = other.m_dwPort;
        m_dwPort2 = other.m_dwPort2;
    }
    return *this;
}

CComSetBase* CUDPSet::NewObject() const { return new CUDPSet(*this); }

CUDPMIXSet::CUDPMIXSet(const CUDPSet& first, const CUDPSet& second)
    : CComSetBase(CHANN_UDP_MIX), m_first(first), m_second(second)
{
}

CUDPMIXSet::CUDPMIXSet(const CUDPMIXSet& other)
    : CComSetBase(other), m_first(other.m_first), m_second(other.m_second)
{
}

CUDPMIXSet& CUDPMIXSet::operator=(const CUDPMIXSet& other)
{
    if (this != &other)
    {
        m_nKind = other.m_nKind;
        m_first = other.m_first;
        m_second = other.m_second;
    }
    return *this;
}

CComSetBase* CUDPMIXSet::NewObject() const { return new CUDPMIXSet(*this); }

// --- serial ------------------------------------------------------------------

CCOMSet::CCOMSet() : CComSetBase(CHANN_COM) {}

CCOMSet::CCOMSet(const ComCfgStruct& cfg, int kind) : CComSetBase(kind), m_cfg(cfg) {}

CCOMSet::CCOMSet(const CCOMSet& other) : CComSetBase(other), m_cfg(other.m_cfg) {}

CCOMSet& CCOMSet::operator=(const CCOMSet& other)
{
    if (this != &other)
    {
        m_nKind = other.m_nKind;
        m_cfg = other.m_cfg;
    }
    return *this;
}

CComSetBase* CCOMSet::NewObject() const { return new CCOMSet(*this); }

CModemClientSet::CModemClientSet(const ComCfgStruct& cfg, const char* number) : CCOMSet(cfg, CHANN_MODEM_CLIENT)
{
    CopyText(m_szNumber, sizeof m_szNumber, number);
}

CModemClientSet::CModemClientSet(const CModemClientSet& other) : CCOMSet(other)
{
    memcpy(m_szNumber, other.m_szNumber, sizeof m_szNumber);
}

CModemClientSet& CModemClientSet::operator=(const CModemClientSet& other)
{
    if (this != &other)
    {
        CCOMSet::operator=(other);
        memcpy(m_szNumber, other.m_szNumber, sizeof m_szNumber);
    }
    return *this;
}

CComSetBase* CModemClientSet::NewObject() const { return new CModemClientSet(*this); }

CModemSvrSet::CModemSvrSet(const ComCfgStruct& cfg) : CCOMSet(cfg, CHANN_MODEM_SERVER) {}

CComSetBase* CModemSvrSet::NewObject() const { return new CModemSvrSet(*this); }

// --- channel records -----------------------------------------------------------

CChannelInfo::CChannelInfo(const CComSetBase* settings, unsigned short id)
    : m_wId(id), m_wField(0), m_pSet(settings ? settings->NewObject() : nullptr)
{
}

CChannelInfo::CChannelInfo(const CChannelInfo& other)
    : m_wId(other.m_wId), m_wField(other.m_wField), m_pSet(other.m_pSet ? other.m_pSet->NewObject() : nullptr)
{
}

CChannelInfo& CChannelInfo::operator=(const CChannelInfo& other)
{
    if (this != &other)
    {
        CComSetBase* copy = other.m_pSet ? other.m_pSet->NewObject() : nullptr;
        delete m_pSet;
        m_pSet = copy;
        m_wId = other.m_wId;
        m_wField = other.m_wField;
    }
    return *this;
}

CChannelInfo::~CChannelInfo()
{
    delete m_pSet;
}

CComSetBase* CChannelInfo::GetComSet() const { return m_pSet ? m_pSet->GetComSet() : nullptr; }

CComSetBase* CChannelInfo::NewComSet() const { return m_pSet ? m_pSet->NewObject() : nullptr; }

int CChannelInfo::GetChannType() const { return m_pSet ? m_pSet->m_nKind : -1; }

CChannelInfo* CChannelInfo::NewObject() const { return new CChannelInfo(*this); }

// --- channel groups ------------------------------------------------------------

CChannGroupInfo::CChannGroupInfo(const CChannelInfo* channels, unsigned short count, unsigned short id,
                                 unsigned short capacity, const CChannWorkType* work, const char* name)
    : m_wGroupId(id), m_wField(0), m_wCount(0), m_wCapacity(capacity > count ? capacity : count),
      m_pChannels(nullptr)
{
    CChannWorkType defaults;
    const CChannWorkType& w = work ? *work : defaults;
    m_dwWork[0] = w.dwValue1;
    m_dwWork[1] = w.dwValue2;
    m_dwWork[2] = w.dwValue3;
    m_dwWork[3] = w.dwValue4;
    CopyText(m_szName, sizeof m_szName, name);
    m_pChannels = new CChannelInfo[m_wCapacity ? m_wCapacity : 1];
    if (channels != nullptr)
    {
        for (unsigned short i = 0; i < count; ++i)
            m_pChannels[i] = channels[i];
        m_wCount = count;
    }
}

CChannGroupInfo::CChannGroupInfo(const CChannGroupInfo& other)
    : m_wGroupId(other.m_wGroupId), m_wField(other.m_wField), m_wCount(other.m_wCount),
      m_wCapacity(other.m_wCapacity), m_pChannels(new CChannelInfo[other.m_wCapacity ? other.m_wCapacity : 1])
{
    memcpy(m_dwWork, other.m_dwWork, sizeof m_dwWork);
    memcpy(m_szName, other.m_szName, sizeof m_szName);
    for (unsigned short i = 0; i < m_wCount; ++i)
        m_pChannels[i] = other.m_pChannels[i];
}

CChannGroupInfo& CChannGroupInfo::operator=(const CChannGroupInfo& other)
{
    if (this != &other)
    {
        CChannelInfo* channels = new CChannelInfo[other.m_wCapacity ? other.m_wCapacity : 1];
        for (unsigned short i = 0; i < other.m_wCount; ++i)
            channels[i] = other.m_pChannels[i];
        delete[] m_pChannels;
        m_pChannels = channels;
        m_wGroupId = other.m_wGroupId;
        m_wField = other.m_wField;
        memcpy(m_dwWork, other.m_dwWork, sizeof m_dwWork);
        m_wCount = other.m_wCount;
        m_wCapacity = other.m_wCapacity;
        memcpy(m_szName, other.m_szName, sizeof m_szName);
    }
    return *this;
}

CChannGroupInfo::~CChannGroupInfo()
{
    delete[] m_pChannels;
}

CChannelInfo* CChannGroupInfo::GetChannInfo(unsigned short id) const
{
    for (unsigned short i = 0; i < m_wCount; ++i)
        if (m_pChannels[i].m_wId == id)
            return &m_pChannels[i];
    return nullptr;
}

CComSetBase* CChannGroupInfo::GetComSet(unsigned short id) const
{
    CChannelInfo* info = GetChannInfo(id);
    return info ? info->GetComSet() : nullptr;
}

bool CChannGroupInfo::IsServer() const
{
    for (unsigned short i = 0; i < m_wCount; ++i)
    {
        int kind = m_pChannels[i].GetChannType();
        if (kind == 1 || kind == 11 || kind == 31)
            return true;
    }
    return false;
}

bool CChannGroupInfo::AddChannel(const CChannelInfo& channel)
{
    if (m_wCount >= m_wCapacity)
    {
        unsigned short capacity = static_cast<unsigned short>(m_wCapacity + 1);
        CChannelInfo* channels = new CChannelInfo[capacity];
        for (unsigned short i = 0; i < m_wCount; ++i)
            channels[i] = m_pChannels[i];
        delete[] m_pChannels;
        m_pChannels = channels;
        m_wCapacity = capacity;
    }
    m_pChannels[m_wCount++] = channel;
    return true;
}

void CChannGroupInfo::RemoveAllChannel()
{
    delete[] m_pChannels;
    m_pChannels = new CChannelInfo[m_wCapacity ? m_wCapacity : 1];
    m_wCount = 0;
}
