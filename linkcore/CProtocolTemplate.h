// The protocol template and the data link.
//
// CProtocolTemplate is the object the application holds per protocol link.
// Init(channel, settings, "RegMaster") creates the serial channel (CVKRCom)
// and a CProtocolInterface, loads the plug-in libRegMaster.so, asks its
// factory CreatNewProtocol for the protocol instance, wires channel,
// interface and instance together, initialises the instance and opens the
// port. SetEnd on every template, then UnInit, takes the link down in the
// order channel, instance, library.
//
// Plug-in contract (a protocol library named "lib<Name>.so"):
//   extern "C" LINKCORE_PLUGIN_API CLinkCore* CreatNewProtocol(_PROTOCOLID id);
// returns a new instance of its CLinkCore subclass (already carrying its frame
// finder and protocol data; id.Value() is the channel number) and records it
// as the plug-in's process-wide instance for its own getter. LinkCore calls
// SetProtocol, SetDBLink and Initialize on it, later UnInit and delete.
//
// The library is searched in this order: the folder of the running program,
// the folder holding libLinkCore.so, then the normal library search path.
#ifndef LINKCORE_CPROTOCOLTEMPLATE_H
#define LINKCORE_CPROTOCOLTEMPLATE_H

#include <mutex>
#include "LinkCoreExport.h"
#include "CLinkCore.h"
#include "CCOM.h"

#define LINKCORE_PLUGIN_API __attribute__((visibility("default")))
#define LINKCORE_FACTORY_NAME "CreatNewProtocol"
#define LINKCORE_MAX_PROTOCOL_NAME 59

// The factory every plug-in exports with C linkage.
typedef CLinkCore* (*PFN_CREATNEWPROTOCOL)(_PROTOCOLID id);

class CProtocol;          // the binding of a loaded library (private to LinkCore)
class CProtocolTemplate;
class CChannGroupPath;    // not used in this system
class CProtocolRunInfo;   // not used in this system

// The template's send function, installed by CLinkCore::Initialize as the
// engine's channel send hook. owner is the binding the template handed to the
// instance with SetProtocol. Returns 0 when owner is null or flags is
// non-zero; otherwise the channel's SendData(data, length, 0), 0 without a
// channel.
LINKCORE_API int ProtocolTemplateSend(void* owner, const char* data, int length, int flags);

// The library file of a protocol name: "lib" + name (at most 59 characters)
// + ".so" ("RegMaster" -> "libRegMaster.so").
LINKCORE_API std::string LinkCoreProtocolLibraryName(const char* protocolName);

typedef bool (*PFN_DISPLAY)(void* context, unsigned int, bool, unsigned int);

// Data-link object handed to a template; carries no traffic in this system.
class LINKCORE_API CSensorDBLink
{
public:
    explicit CSensorDBLink(int capacity);
    virtual ~CSensorDBLink();                 // frees the table (not the templates)
    virtual bool OnRead(CGenData*) { return true; }
    // Appends to the table; ignored when it is full.
    void Add(CProtocolTemplate* pTemplate);
    int  GetCount() const { return m_nCount; }
    int  GetCapacity() const { return m_nCapacity; }
    CProtocolTemplate* GetAt(int index) const;

protected:
    CProtocolTemplate** m_ppTemplates;        // owned table
    int                 m_nCount;
    int                 m_nCapacity;

private:
    CSensorDBLink(const CSensorDBLink&) = delete;
    CSensorDBLink& operator=(const CSensorDBLink&) = delete;
};

// Binds a channel to a loaded protocol instance.
class LINKCORE_API CProtocolInterface
{
public:
    explicit CProtocolInterface(int channel);
    virtual ~CProtocolInterface();            // releases the binding as UnInit does
    // Receive path: the instance's ReadFrChannel; false without an instance.
    virtual bool OnRead(const char* data, int length, int status, CChannGroupPath* path);

    // Loads lib<protocolName>.so and binds its instance; always true (a missing
    // plug-in or factory leaves the binding without an instance and writes a
    // diagnostic line).
    bool Initialize(int channel, const char* protocolName);
    // Waits for a send in progress: once it returns, nothing sends to the old
    // channel any more, so the channel may be deleted.
    bool SetChannel(CVKRCom* channel);
    // Sends through the bound channel under the channel lock; 0 without one.
    int  SendToChannel(const char* data, int length);
    bool SetDBLink(CSensorDBLink* link);
    bool ReadFrDBLink(CGenData* data);
    int  MsgToChannel(const char* data, int length, unsigned short channel);
    void SetEnd();
    void UnInit();                            // instance UnInit, delete, close library
    void SetDisplayFun(PFN_DISPLAY fun) { m_pfnDisplay = fun; }
    CProtocolRunInfo* GetRunInfo(unsigned short) { return nullptr; }
    bool GetCommState(unsigned short) { return false; }
    bool ReconnectChannel(unsigned short) { return false; }

    CVKRCom*   GetChannel() const { return m_pChannel; }
    // The loaded instance (null when none) and the library file it came from.
    CLinkCore*  GetInstance() const;
    const char* GetLibraryPath() const;

protected:
    CVKRCom*       m_pChannel;                // not owned; guarded by m_channelLock
    std::mutex     m_channelLock;
    CProtocol*     m_pProtocol;               // owned binding
    int            m_nChannel;
    CSensorDBLink* m_pDBLink;                 // not owned
    PFN_DISPLAY    m_pfnDisplay;

private:
    CProtocolInterface(const CProtocolInterface&) = delete;
    CProtocolInterface& operator=(const CProtocolInterface&) = delete;
};

class LINKCORE_API CProtocolTemplate
{
public:
    CProtocolTemplate();
    virtual ~CProtocolTemplate();             // runs UnInit

    // Creates channel and interface, loads and initialises the protocol, opens
    // the port. true only when the port opened (the loaded protocol stays in
    // place either way until UnInit).
    bool Init(int channel, CCOMSet* settings, const char* protocolName);
    bool IsInit() const { return m_bInit; }
    bool SetDBLink(CSensorDBLink* link);      // false for null
    CSensorDBLink* GreatSensorDBLink(int capacity) { return new CSensorDBLink(capacity); }
    // Raises the protocol's end flag (its timer thread stops within 200 ms).
    void SetEnd();
    // Channel first (receive thread joined, port closed), then instance
    // (UnInit, delete), then library. Safe to call twice.
    void UnInit();

    int                 GetChannelNo() const { return m_nChannel; }
    CVKRCom*            GetChannel() const { return m_pChannel; }
    CProtocolInterface* GetInterface() const { return m_pInterface; }
    CSensorDBLink*      GetDBLink() const { return m_pDBLink; }

protected:
    int                 m_nChannel;
    CVKRCom*            m_pChannel;           // owned
    CProtocolInterface* m_pInterface;         // owned
    CSensorDBLink*      m_pDBLink;            // not owned
    bool                m_bInit;

private:
    CProtocolTemplate(const CProtocolTemplate&) = delete;
    CProtocolTemplate& operator=(const CProtocolTemplate&) = delete;
};

#endif
