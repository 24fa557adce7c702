// Protocol template, interface, binding and data link.
#include "CProtocolTemplate.h"

#include <ace/DLL.h>
#include <ace/DLL_Manager.h>
#include <ace/Log_Msg.h>
#include <ace/OS_NS_stdio.h>
#include <ace/OS_NS_string.h>
#include <ace/OS_NS_unistd.h>

#include <dlfcn.h>
#include <string>

// The binding of one loaded protocol library: owner interface, the protocol
// instance (owned) and the library handle. Private to LinkCore.
class CProtocol
{
public:
    CProtocol() : m_pOwner(nullptr), m_pInstance(nullptr), m_nChannel(0), m_bLoaded(false) {}
    virtual ~CProtocol() { Release(); }

    // Instance first (its code lives in the library), then the library.
    void Release()
    {
        if (m_pInstance != nullptr)
        {
            m_pInstance->UnInit();
            delete m_pInstance;
            m_pInstance = nullptr;
        }
        if (m_bLoaded)
        {
            m_dll.close();
            m_bLoaded = false;
        }
    }

    CProtocolInterface* m_pOwner;
    CLinkCore*          m_pInstance;
    int                 m_nChannel;
    ACE_DLL             m_dll;
    bool                m_bLoaded;
    std::string         m_libPath;
};

namespace {

std::string FolderOf(const std::string& file)
{
    std::string::size_type slash = file.rfind('/');
    if (slash == std::string::npos)
        return std::string();
    return file.substr(0, slash + 1);
}

std::string ProgramFolder()
{
    char buf[4096];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        return std::string();
    buf[n] = '\0';
    return FolderOf(buf);
}

// The folder holding libLinkCore.so itself.
std::string LinkCoreFolder()
{
    Dl_info info;
    if (::dladdr(reinterpret_cast<void*>(&ProtocolTemplateSend), &info) != 0 && info.dli_fname != nullptr)
    {
        char real[4096];
        if (::realpath(info.dli_fname, real) != nullptr)
            return FolderOf(real);
        return FolderOf(info.dli_fname);
    }
    return std::string();
}

// Opens the library of protocolName into binding; false when no candidate
// could be opened. errors collects one text per failed candidate.
bool LoadLibrary(CProtocol& binding, const char* protocolName, std::string& errors)
{
    std::string file = LinkCoreProtocolLibraryName(protocolName);
    std::string candidates[3];
    int count = 0;
    std::string program = ProgramFolder();
    std::string own = LinkCoreFolder();
    if (!program.empty())
        candidates[count++] = program + file;
    if (!own.empty() && own != program)
        candidates[count++] = own + file;
    candidates[count++] = file;   // the normal library search path

    // A plug-in links LinkCore and so ACE, whose own _get_dll_unload_policy
    // (lazy) would answer for the plug-in and keep it loaded after close.
    // Libraries are unloaded when their last user closes them.
    static const bool policySet = [] {
        ACE_DLL_Manager::instance()->unload_policy(ACE_DLL_UNLOAD_POLICY_PER_PROCESS);
        return true;
    }();
    (void)policySet;

    for (int i = 0; i < count; ++i)
    {
        const std::string& path = candidates[i];
        bool inFolder = path.find('/') != std::string::npos;
        if (inFolder && ACE_OS::access(path.c_str(), F_OK) != 0)
        {
            errors += "\n  " + path + ": not found";
            continue;
        }
        if (binding.m_dll.open(path.c_str(), RTLD_NOW | RTLD_LOCAL, true) == 0)
        {
            binding.m_bLoaded = true;
            binding.m_libPath = path;
            return true;
        }
        const ACE_TCHAR* err = binding.m_dll.error();
        errors += "\n  " + path + ": " + (err ? err : "cannot be loaded");
    }
    return false;
}

}  // namespace

std::string LinkCoreProtocolLibraryName(const char* protocolName)
{
    std::string name(protocolName ? protocolName : "");
    if (name.size() > LINKCORE_MAX_PROTOCOL_NAME)
        name.resize(LINKCORE_MAX_PROTOCOL_NAME);
    return "lib" + name + ".so";
}

int ProtocolTemplateSend(void* owner, const char* data, int length, int flags)
{
    if (owner == nullptr || flags != 0)
        return 0;
    CProtocol* binding = static_cast<CProtocol*>(owner);
    CProtocolInterface* pInterface = binding->m_pOwner;
    if (pInterface == nullptr)
        return 0;
    return pInterface->SendToChannel(data, length);
}

bool ProtocolTemplateChannelInfo(void* owner, LinkChannelInfo* info)
{
    if (owner == nullptr || info == nullptr)
        return false;
    CProtocolInterface* pInterface = static_cast<CProtocol*>(owner)->m_pOwner;
    CVKRCom* channel = pInterface != nullptr ? pInterface->GetChannel() : nullptr;
    if (channel == nullptr)
        return false;
    info->portKind = channel->GetPortKind();
    info->channelKind = info->portKind == LINK_PORT_SERIAL ? CHANN_COM : CHANN_TCP_CLIENT;
    info->allowanceMs = channel->GetReplyAllowanceMs();
    info->fastRecv = channel->GetFastRecv();
    return true;
}

// ---------------------------------------------------------------------------
// CSensorDBLink

CSensorDBLink::CSensorDBLink(int capacity)
    : m_ppTemplates(nullptr), m_nCount(0), m_nCapacity(capacity > 0 ? capacity : 0)
{
    m_ppTemplates = new CProtocolTemplate*[m_nCapacity > 0 ? m_nCapacity : 1];
    for (int i = 0; i < (m_nCapacity > 0 ? m_nCapacity : 1); ++i)
        m_ppTemplates[i] = nullptr;
}

CSensorDBLink::~CSensorDBLink()
{
    delete[] m_ppTemplates;
}

void CSensorDBLink::Add(CProtocolTemplate* pTemplate)
{
    if (m_nCount < m_nCapacity)
        m_ppTemplates[m_nCount++] = pTemplate;
}

CProtocolTemplate* CSensorDBLink::GetAt(int index) const
{
    return index >= 0 && index < m_nCount ? m_ppTemplates[index] : nullptr;
}

// ---------------------------------------------------------------------------
// CProtocolInterface

CProtocolInterface::CProtocolInterface(int channel)
    : m_pChannel(nullptr), m_pProtocol(nullptr), m_nChannel(channel), m_pDBLink(nullptr), m_pfnDisplay(nullptr)
{
}

CProtocolInterface::~CProtocolInterface()
{
    UnInit();
}

bool CProtocolInterface::Initialize(int channel, const char* protocolName)
{
    if (m_pProtocol != nullptr)
        UnInit();
    m_nChannel = channel;
    m_pProtocol = new CProtocol;
    m_pProtocol->m_pOwner = this;
    m_pProtocol->m_nChannel = channel;

    std::string errors;
    std::string file = LinkCoreProtocolLibraryName(protocolName);
    if (!LoadLibrary(*m_pProtocol, protocolName, errors))
    {
        ACE_ERROR((LM_ERROR, ACE_TEXT("LinkCore: protocol \"%s\": library %s could not be loaded:%s\n"),
                   protocolName ? protocolName : "", file.c_str(), errors.c_str()));
        return true;
    }
    void* symbol = m_pProtocol->m_dll.symbol(LINKCORE_FACTORY_NAME);
    if (symbol == nullptr)
    {
        const ACE_TCHAR* err = m_pProtocol->m_dll.error();
        ACE_ERROR((LM_ERROR, ACE_TEXT("LinkCore: protocol library %s has no factory %s: %s\n"),
                   m_pProtocol->m_libPath.c_str(), LINKCORE_FACTORY_NAME, err ? err : "symbol not found"));
        return true;
    }
    PFN_CREATNEWPROTOCOL factory = reinterpret_cast<PFN_CREATNEWPROTOCOL>(symbol);
    CLinkCore* instance = factory(_PROTOCOLID::FromValue(static_cast<uint32_t>(channel)));
    if (instance == nullptr)
    {
        ACE_ERROR((LM_ERROR, ACE_TEXT("LinkCore: %s of %s created no protocol\n"), LINKCORE_FACTORY_NAME,
                   m_pProtocol->m_libPath.c_str()));
        return true;
    }
    m_pProtocol->m_pInstance = instance;
    instance->SetProtocol(m_pProtocol);
    instance->SetDBLink(m_pDBLink);
    instance->Initialize();
    return true;
}

bool CProtocolInterface::SetChannel(CVKRCom* channel)
{
    std::lock_guard<std::mutex> guard(m_channelLock);
    m_pChannel = channel;
    return true;
}

int CProtocolInterface::SendToChannel(const char* data, int length)
{
    std::lock_guard<std::mutex> guard(m_channelLock);
    if (m_pChannel == nullptr)
        return 0;
    return m_pChannel->SendData(data, length, 0);
}

bool CProtocolInterface::OnRead(const char* data, int length, int status, CChannGroupPath*)
{
    CLinkCore* instance = GetInstance();
    if (instance == nullptr)
        return false;
    return instance->ReadFrChannel(data, length, status);
}

bool CProtocolInterface::SetDBLink(CSensorDBLink* link)
{
    m_pDBLink = link;
    if (CLinkCore* instance = GetInstance())
        instance->SetDBLink(link);
    return true;
}

bool CProtocolInterface::ReadFrDBLink(CGenData* data)
{
    if (CLinkCore* instance = GetInstance())
        instance->ReadFrDBLink(data);
    return true;
}

int CProtocolInterface::MsgToChannel(const char* data, int length, unsigned short)
{
    return m_pChannel != nullptr ? m_pChannel->SendData(data, length, 0) : 0;
}

void CProtocolInterface::SetEnd()
{
    if (CLinkCore* instance = GetInstance())
        instance->SetEnd();
}

void CProtocolInterface::UnInit()
{
    if (m_pProtocol != nullptr)
    {
        m_pProtocol->Release();
        delete m_pProtocol;
        m_pProtocol = nullptr;
    }
}

CLinkCore* CProtocolInterface::GetInstance() const
{
    return m_pProtocol != nullptr ? m_pProtocol->m_pInstance : nullptr;
}

const char* CProtocolInterface::GetLibraryPath() const
{
    return m_pProtocol != nullptr && m_pProtocol->m_bLoaded ? m_pProtocol->m_libPath.c_str() : nullptr;
}

// ---------------------------------------------------------------------------
// CProtocolTemplate

CProtocolTemplate::CProtocolTemplate()
    : m_nChannel(0), m_pChannel(nullptr), m_pInterface(nullptr), m_pDBLink(nullptr), m_bInit(false)
{
}

CProtocolTemplate::~CProtocolTemplate()
{
    UnInit();
}

bool CProtocolTemplate::Init(int channel, CCOMSet* settings, const char* protocolName)
{
    // A template that was not taken down is taken down first.
    if (m_pChannel != nullptr || m_pInterface != nullptr)
        UnInit();
    m_nChannel = channel;
    m_pInterface = new CProtocolInterface(channel);
    m_pChannel = new CVKRCom;
    m_pChannel->SetInterface(m_pInterface);
    m_pInterface->SetChannel(m_pChannel);
    m_pInterface->Initialize(channel, protocolName);
    if (settings != nullptr && m_pChannel->Initialize(settings))
    {
        m_bInit = true;
        return true;
    }
    return false;
}

bool CProtocolTemplate::SetDBLink(CSensorDBLink* link)
{
    if (link == nullptr)
        return false;
    m_pDBLink = link;
    return true;
}

void CProtocolTemplate::SetEnd()
{
    if (m_pInterface != nullptr)
        m_pInterface->SetEnd();
}

void CProtocolTemplate::UnInit()
{
    // 1. The interface no longer sends to the channel.
    if (m_pInterface != nullptr)
        m_pInterface->SetChannel(nullptr);
    // 2. Channel first, so that no received chunk reaches an instance that is
    //    being taken down.
    if (m_pChannel != nullptr)
    {
        m_pChannel->SetInterface(nullptr);
        m_pChannel->Uninitialize();
        delete m_pChannel;
        m_pChannel = nullptr;
    }
    // 3. Instance (UnInit, delete), library, binding, interface.
    if (m_pInterface != nullptr)
    {
        m_pInterface->UnInit();
        delete m_pInterface;
        m_pInterface = nullptr;
    }
    // 4.
    m_bInit = false;
}
