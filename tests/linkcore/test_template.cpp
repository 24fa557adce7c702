// The protocol template loading small test plug-ins by name.
#include "TestUtil.h"
#include "PtyUtil.h"

#include "CProtocolTemplate.h"

#include <string.h>

#include <algorithm>
#include <mutex>
#include <vector>

using namespace lctest;

namespace {

// Events reported by the test plug-ins (never freed: the plug-ins may report
// from their unload hook at process end).
std::mutex& EventLock()
{
    static std::mutex* m = new std::mutex;
    return *m;
}
std::vector<std::string>& EventList()
{
    static std::vector<std::string>* v = new std::vector<std::string>;
    return *v;
}
PtyPair* g_pty = nullptr;

std::vector<std::string> Events()
{
    std::lock_guard<std::mutex> lock(EventLock());
    return EventList();
}

void ClearEvents()
{
    std::lock_guard<std::mutex> lock(EventLock());
    EventList().clear();
}

bool HasEvent(const std::string& e)
{
    auto v = Events();
    return std::find(v.begin(), v.end(), e) != v.end();
}

int IndexOf(const std::string& e)
{
    auto v = Events();
    auto it = std::find(v.begin(), v.end(), e);
    return it == v.end() ? -1 : static_cast<int>(it - v.begin());
}

std::string Joined()
{
    std::string s;
    for (const std::string& e : Events())
        s += "[" + e + "] ";
    return s;
}

std::string ProgramFolderOfLinkCore()
{
    return TORVANE_PROGRAM_DIR "/";
}

std::string TestFolder()
{
    char buf[4096];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    buf[n > 0 ? n : 0] = '\0';
    std::string p(buf);
    return p.substr(0, p.rfind('/') + 1);
}

std::string Canonical(const std::string& path)
{
    char real[4096];
    return ::realpath(path.c_str(), real) ? std::string(real) : path;
}

class TemplateTest : public LinkCoreTest
{
protected:
    void SetUp() override
    {
        LinkCoreTest::SetUp();
        ClearEvents();
        ASSERT_TRUE(m_pty.Open(false));   // only LinkCore holds the slave
        m_pty.MapPort(6);
        g_pty = &m_pty;
        m_set.m_cfg.wPortNo = 6;
        m_set.m_cfg.nBaudRate = 9600;
        m_set.m_cfg.wParity = 2;
        m_set.m_cfg.byDataBits = 8;
    }
    void TearDown() override
    {
        m_tpl.SetEnd();
        m_tpl.UnInit();
        g_pty = nullptr;
        m_pty.Close();
        ::unsetenv("TORVANE_COM6");
        LOG_UnInit();
        LinkCoreTest::TearDown();
    }
    // Init with stderr captured into m_err.
    bool Init(const char* name)
    {
        testing::internal::CaptureStderr();
        bool ok = m_tpl.Init(1, &m_set, name);
        m_err = testing::internal::GetCapturedStderr();
        return ok;
    }
    CLinkCore* Instance() const
    {
        return m_tpl.GetInterface() ? m_tpl.GetInterface()->GetInstance() : nullptr;
    }
    PtyPair m_pty;
    CCOMSet m_set;
    CProtocolTemplate m_tpl;
    std::string m_err;
};

}  // namespace

// Called by the test plug-ins. At "uninit" it notes whether the serial port
// is still open: the channel must be gone before the instance goes.
extern "C" __attribute__((visibility("default"))) void LinkCoreTestEvent(const char* text)
{
    std::string e(text);
    if (e == "uninit" && g_pty != nullptr)
        e += g_pty->SlaveOpenCount() == 0 ? " port-closed" : " port-open";
    std::lock_guard<std::mutex> lock(EventLock());
    EventList().push_back(e);
}

TEST(ProtocolLibraryName, FormedTheLinuxWay)
{
    EXPECT_EQ(LinkCoreProtocolLibraryName("RegMaster"), "libRegMaster.so");
    EXPECT_EQ(LinkCoreProtocolLibraryName("BlockPump"), "libBlockPump.so");
    std::string longName(70, 'x');
    EXPECT_EQ(LinkCoreProtocolLibraryName(longName.c_str()), "lib" + std::string(59, 'x') + ".so");
}

TEST_F(TemplateTest, LoadsByNameBindsAndRuns)
{
    EXPECT_FALSE(m_tpl.IsInit());
    ASSERT_TRUE(Init("TestProto")) << m_err;
    EXPECT_TRUE(m_tpl.IsInit());
    EXPECT_EQ(m_tpl.GetChannelNo(), 1);
    ASSERT_NE(m_tpl.GetChannel(), nullptr);
    ASSERT_NE(m_tpl.GetInterface(), nullptr);
    EXPECT_EQ(m_tpl.GetChannel()->GetInterface(), m_tpl.GetInterface());
    EXPECT_EQ(m_tpl.GetInterface()->GetChannel(), m_tpl.GetChannel());
    CLinkCore* instance = Instance();
    ASSERT_NE(instance, nullptr);
    // Found beside libLinkCore.so (the test program's folder has no copy).
    ASSERT_NE(m_tpl.GetInterface()->GetLibraryPath(), nullptr);
    EXPECT_EQ(Canonical(m_tpl.GetInterface()->GetLibraryPath()),
              Canonical(ProgramFolderOfLinkCore() + "libTestProto.so"));
    // Factory called with the channel number, then Initialize, then the
    // port-opened event through channel, interface and engine.
    EXPECT_EQ(IndexOf("create proto 1"), 0) << Joined();
    EXPECT_EQ(IndexOf("initialize"), 1) << Joined();
    EXPECT_EQ(IndexOf("status 100"), 2) << Joined();
    EXPECT_NE(instance->GetProtocol(), nullptr);   // the binding is the owner
    EXPECT_EQ(instance->GetDBLink(), nullptr);
    EXPECT_STREQ(instance->GetProtocolData()->GetName(), "VKR_M");

    // Receive path: far side -> CVKRCom -> interface -> ReadFrChannel.
    ASSERT_TRUE(m_pty.Write(std::string("\xA5\x02\x12\x34", 4)));
    EXPECT_TRUE(WaitFor([] { return HasEvent("frame A5 02 12 34 "); }, 1000)) << Joined();
    // Send path: WriteToChannel -> send hook -> template send -> SendData.
    char req[3] = {0x01, 0x02, 0x03};
    EXPECT_EQ(instance->WriteToChannel(req, 3), 3);
    EXPECT_EQ(m_pty.Read(3, 1000), std::string(req, 3));
    EXPECT_EQ(m_tpl.GetInterface()->MsgToChannel("xy", 2, 1), 2);
    EXPECT_EQ(m_pty.Read(2, 1000), "xy");

    // Take-down: end flag first, then channel, instance, library.
    m_tpl.SetEnd();
    EXPECT_TRUE(instance->IsEnd());
    m_tpl.UnInit();
    EXPECT_FALSE(m_tpl.IsInit());
    EXPECT_EQ(m_tpl.GetChannel(), nullptr);
    EXPECT_EQ(m_tpl.GetInterface(), nullptr);
    int uninit = IndexOf("uninit port-closed");
    int destroy = IndexOf("destroy");
    int unload = IndexOf("unload proto");
    EXPECT_GE(uninit, 0) << Joined();
    EXPECT_GT(destroy, uninit) << Joined();
    EXPECT_GT(unload, destroy) << Joined();
    EXPECT_FALSE(HasEvent("uninit port-open")) << Joined();
    EXPECT_EQ(m_pty.SlaveOpenCount(), 0);
}

TEST_F(TemplateTest, UnInitTwiceAndWithoutInit)
{
    CProtocolTemplate never;
    never.SetEnd();
    never.UnInit();
    never.UnInit();
    EXPECT_FALSE(never.IsInit());

    ASSERT_TRUE(Init("TestProto")) << m_err;
    m_tpl.SetEnd();
    m_tpl.UnInit();
    size_t n = Events().size();
    m_tpl.UnInit();
    m_tpl.SetEnd();
    EXPECT_EQ(Events().size(), n);
    EXPECT_FALSE(m_tpl.IsInit());

    // Init may be called anew.
    ClearEvents();
    ASSERT_TRUE(Init("TestProto")) << m_err;
    EXPECT_TRUE(HasEvent("create proto 1")) << Joined();
    EXPECT_TRUE(HasEvent("status 100")) << Joined();
}

TEST_F(TemplateTest, MissingLibrary)
{
    EXPECT_TRUE(Init("NoSuchProto"));               // the port opened
    EXPECT_TRUE(m_tpl.IsInit());
    EXPECT_EQ(Instance(), nullptr);
    EXPECT_EQ(m_tpl.GetInterface()->GetLibraryPath(), nullptr);
    EXPECT_NE(m_err.find("libNoSuchProto.so could not be loaded"), std::string::npos) << m_err;
    EXPECT_NE(m_err.find(ProgramFolderOfLinkCore() + "libNoSuchProto.so: not found"), std::string::npos) << m_err;
    // Without an instance the interface reports false and sends nothing.
    EXPECT_FALSE(m_tpl.GetInterface()->OnRead("x", 1, 0, nullptr));
    ASSERT_TRUE(m_pty.Write("ignored"));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    m_tpl.SetEnd();
    m_tpl.UnInit();
    EXPECT_FALSE(m_tpl.IsInit());
}

TEST_F(TemplateTest, MissingFactory)
{
    EXPECT_TRUE(Init("TestNoFactory"));
    EXPECT_EQ(Instance(), nullptr);
    ASSERT_NE(m_tpl.GetInterface()->GetLibraryPath(), nullptr);
    EXPECT_NE(m_err.find("has no factory CreatNewProtocol"), std::string::npos) << m_err;
    EXPECT_NE(m_err.find("libTestNoFactory.so"), std::string::npos) << m_err;
    EXPECT_FALSE(HasEvent("status 100"));
    m_tpl.UnInit();
    EXPECT_TRUE(HasEvent("unload nofactory")) << Joined();   // the library is closed
}

TEST_F(TemplateTest, ProgramFolderComesFirst)
{
    ASSERT_TRUE(Init("TestOrder")) << m_err;
    EXPECT_TRUE(HasEvent("create exe 1")) << Joined();
    EXPECT_FALSE(HasEvent("create core 1")) << Joined();
    EXPECT_EQ(Canonical(m_tpl.GetInterface()->GetLibraryPath()), Canonical(TestFolder() + "libTestOrder.so"));
}

TEST_F(TemplateTest, NormalLibraryPathComesLast)
{
    // libTestPathProto.so sits only in a folder named by LD_LIBRARY_PATH.
    ASSERT_TRUE(Init("TestPathProto")) << m_err;
    ASSERT_NE(Instance(), nullptr) << m_err;
    EXPECT_TRUE(HasEvent("create path 1")) << Joined();
    EXPECT_STREQ(m_tpl.GetInterface()->GetLibraryPath(), "libTestPathProto.so");
}

TEST_F(TemplateTest, PortMissingButProtocolLoaded)
{
    ::setenv("TORVANE_COM6", (m_dir + "/absent").c_str(), 1);
    EXPECT_FALSE(Init("TestProto"));
    EXPECT_FALSE(m_tpl.IsInit());
    ASSERT_NE(Instance(), nullptr);                 // idle, waiting for UnInit
    EXPECT_TRUE(HasEvent("initialize"));
    EXPECT_FALSE(HasEvent("status 100"));
    EXPECT_NE(m_err.find("COM6: serial device " + m_dir + "/absent not found"), std::string::npos) << m_err;
    m_tpl.SetEnd();
    m_tpl.UnInit();
    EXPECT_TRUE(HasEvent("destroy"));
    EXPECT_TRUE(HasEvent("unload proto"));
}

TEST_F(TemplateTest, DataLinks)
{
    CSensorDBLink* link = m_tpl.GreatSensorDBLink(2);
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(link->GetCapacity(), 2);
    link->Add(&m_tpl);
    link->Add(&m_tpl);
    link->Add(&m_tpl);                              // full: ignored
    EXPECT_EQ(link->GetCount(), 2);
    EXPECT_EQ(link->GetAt(1), &m_tpl);
    EXPECT_EQ(link->GetAt(2), nullptr);
    CGenData data;
    EXPECT_TRUE(link->OnRead(&data));

    EXPECT_TRUE(m_tpl.SetDBLink(link));
    EXPECT_FALSE(m_tpl.SetDBLink(nullptr));
    EXPECT_EQ(m_tpl.GetDBLink(), link);             // kept

    ASSERT_TRUE(Init("TestProto")) << m_err;
    // The template keeps the link to itself; the interface passes its own on.
    EXPECT_EQ(Instance()->GetDBLink(), nullptr);
    EXPECT_TRUE(m_tpl.GetInterface()->SetDBLink(link));
    EXPECT_EQ(Instance()->GetDBLink(), link);
    EXPECT_TRUE(m_tpl.GetInterface()->ReadFrDBLink(&data));
    EXPECT_EQ(m_tpl.GetInterface()->GetRunInfo(1), nullptr);
    EXPECT_FALSE(m_tpl.GetInterface()->GetCommState(1));
    EXPECT_FALSE(m_tpl.GetInterface()->ReconnectChannel(1));
    m_tpl.SetEnd();
    m_tpl.UnInit();
    delete link;
}

TEST_F(TemplateTest, DestructorTakesTheLinkDown)
{
    {
        CProtocolTemplate local;
        testing::internal::CaptureStderr();
        ASSERT_TRUE(local.Init(1, &m_set, "TestProto"));
        testing::internal::GetCapturedStderr();
        local.SetEnd();
    }
    EXPECT_GE(IndexOf("uninit port-closed"), 0) << Joined();
    EXPECT_GT(IndexOf("unload proto"), IndexOf("destroy")) << Joined();
}

TEST_F(TemplateTest, NothingReachesTheInstanceAfterUnInit)
{
    ASSERT_TRUE(Init("TestProto")) << m_err;
    m_tpl.SetEnd();
    m_tpl.UnInit();
    ClearEvents();
    m_pty.Write(std::string("\xA5\x01\x01", 3));
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_TRUE(Events().empty()) << Joined();
}
