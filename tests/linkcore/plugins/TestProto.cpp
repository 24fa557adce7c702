// A small protocol plug-in for the template tests, written against the
// LinkCore headers exactly as RegMaster and BlockPump are: a CLinkCore
// subclass with its own CProtocolData and CProtocolExplain, the C factory
// CreatNewProtocol, and a process-wide instance with a getter.
//
// Built several times: TESTPROTO_VARIANT names the copy (for the search
// order test), TESTPROTO_NO_FACTORY leaves the factory out.
#include "CLinkCore.h"
#include "CProtocolTemplate.h"

#include <stdarg.h>
#include <stdio.h>

#ifndef TESTPROTO_VARIANT
#define TESTPROTO_VARIANT "proto"
#endif

// Provided by the test program (weak: absent when loaded elsewhere).
extern "C" void LinkCoreTestEvent(const char* text) __attribute__((weak));

namespace {

void Event(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Event(const char* format, ...)
{
    if (LinkCoreTestEvent == nullptr)
        return;
    char text[512];
    va_list ap;
    va_start(ap, format);
    vsnprintf(text, sizeof text, format, ap);
    va_end(ap);
    LinkCoreTestEvent(text);
}

class CTestProtoData : public CProtocolData
{
};

// Frames: 0xA5, length n, n bytes.
class CTestProtoExplain : public CProtocolExplain
{
public:
    int FindFrame(const char* data, int length, int* frameLength) override
    {
        *frameLength = 0;
        if (length < 2)
            return 0;
        if (static_cast<unsigned char>(data[0]) != 0xA5)
        {
            *frameLength = -1;
            return 0;
        }
        int n = static_cast<unsigned char>(data[1]);
        if (length >= n + 2)
            *frameLength = n + 2;
        return 0;
    }
};

}  // namespace

class CTestProto;
static CTestProto* g_instance = nullptr;

class CTestProto : public CLinkCore
{
public:
    explicit CTestProto(_PROTOCOLID id) : CLinkCore(id)
    {
        m_pProtocolExplain = new CTestProtoExplain;   // the engine deletes both
        m_pProtocolData = new CTestProtoData;
    }
    ~CTestProto() override
    {
        Event("destroy");
        if (g_instance == this)
            g_instance = nullptr;
    }
    bool Initialize() override
    {
        bool ok = CLinkCore::Initialize();
        Event("initialize");
        return ok;
    }
    void UnInit() override
    {
        Event("uninit");
        CLinkCore::UnInit();
    }
    bool ProcessUpFrame(const char* frame, int length, int status) override
    {
        if (status != 0)
        {
            SetCommState(false);
            Event("status %d", status);
            return true;
        }
        char text[512];
        int pos = 0;
        for (int i = 0; i < length && pos < 480; ++i)
            pos += snprintf(text + pos, sizeof text - pos, "%02X ", static_cast<unsigned char>(frame[i]));
        text[pos] = '\0';
        Event("frame %s", text);
        LOG_MakeAndAddRunInfo(1, "IN %s", text);
        return true;
    }
};

#ifndef TESTPROTO_NO_FACTORY
extern "C" LINKCORE_PLUGIN_API CLinkCore* CreatNewProtocol(_PROTOCOLID id)
{
    g_instance = new CTestProto(id);
    Event("create %s %u", TESTPROTO_VARIANT, id.Value());
    return g_instance;
}
#endif

extern "C" LINKCORE_PLUGIN_API CLinkCore* GetTestProto()
{
    return g_instance;
}

__attribute__((destructor)) static void OnUnload()
{
    Event("unload %s", TESTPROTO_VARIANT);
}
