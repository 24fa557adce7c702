// The protocol engine with a test protocol.
#include "TestUtil.h"

#include "CLinkCore.h"
#include "CProtocolTemplate.h"

#include <string.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <regex>
#include <sstream>
#include <vector>

using namespace lctest;

namespace {

enum FinderMode { FRAMED, WHOLE_CHUNK, NEED_MORE };

// Frames: optional leading 0x00 bytes, then 0xA5, length n, n bytes. Any
// other first byte: discard. WHOLE_CHUNK: every chunk is one frame.
class TestExplain : public CProtocolExplain
{
public:
    int FindFrame(const char* data, int length, int* frameLength) override
    {
        ++calls;
        *frameLength = 0;
        if (mode == WHOLE_CHUNK)
        {
            *frameLength = length;
            return length > 0 ? 0 : -1;
        }
        if (mode == NEED_MORE)
            return 0;
        int i = 0;
        while (i < length && data[i] == 0)
            ++i;
        if (i >= length)
            return 0;
        if (static_cast<unsigned char>(data[i]) != 0xA5)
        {
            *frameLength = -1;
            return 0;
        }
        if (length - i < 2)
            return 0;
        int n = static_cast<unsigned char>(data[i + 1]);
        if (length - i < n + 2)
            return 0;
        *frameLength = n + 2;
        return i;
    }
    std::atomic<int> mode{FRAMED};
    std::atomic<int> calls{0};
};

struct Delivered
{
    std::string bytes;
    int length;
    int status;
    bool nullData;
};

class TestProtocol : public CLinkCore
{
public:
    explicit TestProtocol(bool withParts = true) : CLinkCore(_PROTOCOLID())
    {
        if (withParts)
        {
            m_pProtocolExplain = m_explain = new TestExplain;
            m_pProtocolData = new CProtocolData;
        }
    }
    bool ProcessUpFrame(const char* frame, int length, int status) override
    {
        std::lock_guard<std::mutex> lock(m_lock);
        Delivered d;
        d.nullData = frame == nullptr;
        d.bytes = frame && length > 0 ? std::string(frame, length) : std::string();
        d.length = length;
        d.status = status;
        m_frames.push_back(d);
        return true;
    }
    bool HandleTimer(unsigned int id) override
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_timerCalls.push_back(NowMs());
        m_timerIds.push_back(id);
        return CLinkCore::HandleTimer(id);
    }
    std::vector<Delivered> Frames()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_frames;
    }
    std::vector<long long> TimerCalls()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_timerCalls;
    }
    void Feed(const std::string& bytes) { ReadFrChannel(bytes.data(), static_cast<int>(bytes.size()), 0); }
    void CallReconnect() { ReconnectChannel(); }
    void SwapExplain(CProtocolExplain* explain) { m_pProtocolExplain = explain; }

    TestExplain* m_explain = nullptr;
    std::mutex m_lock;
    std::vector<Delivered> m_frames;
    std::vector<long long> m_timerCalls;
    std::vector<unsigned int> m_timerIds;
};

std::string Bytes(std::initializer_list<int> b)
{
    std::string s;
    for (int x : b)
        s.push_back(static_cast<char>(x));
    return s;
}

// A channel stand-in for the send hook.
struct FakeChannel
{
    std::mutex lock;
    std::string sent;
    int calls = 0;
    int lastFlags = -1;
    int lastLength = -1;
    void* lastOwner = nullptr;
    bool lastDataNull = false;
    int result = -2;   // -2: accept everything
};
FakeChannel* g_fake = nullptr;

int FakeSend(void* owner, const char* data, int length, int flags)
{
    std::lock_guard<std::mutex> lock(g_fake->lock);
    ++g_fake->calls;
    g_fake->lastOwner = owner;
    g_fake->lastFlags = flags;
    g_fake->lastLength = length;
    g_fake->lastDataNull = data == nullptr;
    if (data && length > 0)
        g_fake->sent.append(data, length);
    return g_fake->result == -2 ? length : g_fake->result;
}

// A frame finder that judges every buffer unusable (negative length).
class GarbageExplain : public CProtocolExplain
{
public:
    int FindFrame(const char*, int, int* frameLength) override
    {
        *frameLength = -1;
        return 0;
    }
};

void ReadFrChannelGarbage(TestProtocol* p)
{
    // One chunk is framed by a finder that answers a negative length for the
    // buffer that already holds a frame in progress.
    CProtocolExplain* own = p->m_explain;
    GarbageExplain garbage;
    p->SwapExplain(&garbage);
    p->Feed(Bytes({0x77}));
    p->SwapExplain(own);
}

class EngineTest : public LinkCoreTest
{
protected:
    void SetUp() override
    {
        LinkCoreTest::SetUp();
        g_fake = &m_fake;
    }
    void TearDown() override
    {
        if (m_proto)
        {
            m_proto->SetEnd();
            m_proto->UnInit();
            m_proto.reset();
        }
        LOG_UnInit();
        g_fake = nullptr;
        LinkCoreTest::TearDown();
    }
    // Creates and initialises the protocol with stderr captured (missing
    // system configuration file, missing ./log folder).
    TestProtocol* Start(bool withParts = true)
    {
        m_proto.reset(new TestProtocol(withParts));
        testing::internal::CaptureStderr();
        EXPECT_TRUE(m_proto->Initialize());
        m_initErr = testing::internal::GetCapturedStderr();
        return m_proto.get();
    }
    std::unique_ptr<TestProtocol> m_proto;
    std::string m_initErr;
    FakeChannel m_fake;
};

}  // namespace

TEST_F(EngineTest, ConstructionDefaults)
{
    TestProtocol p;
    EXPECT_EQ(p.GetRawLogSize(), 10485760u);
    EXPECT_EQ(p.GetMsgLogSize(), 10485760u);
    EXPECT_EQ(p.GetChannelNo(), 1);
    EXPECT_FALSE(p.IsEnd());
    EXPECT_EQ(p.GetDBLink(), nullptr);
    EXPECT_EQ(p.GetRawLog(), nullptr);
    EXPECT_EQ(p.GetAccumulatedLength(), 0);
    char data[2] = {1, 2};
    EXPECT_EQ(p.WriteToChannel(data, 2), 0);   // no channel bound
    _PROTOCOLID id;
    EXPECT_EQ(id.wLow, 1);
    EXPECT_EQ(id.wHigh, 1);
    EXPECT_EQ(_PROTOCOLID::FromValue(1).Value(), 1u);
    EXPECT_EQ(_PROTOCOLID::FromValue(0x00020003u).wHigh, 2);
    CGenData g;
    EXPECT_TRUE(p.ReadDBLink(&g));
    EXPECT_FALSE(p.WriteToDBLink(&g));
    EXPECT_TRUE(p.QueryDB(&g, &g, 0));
    EXPECT_EQ(p.ResBufLen(&g), 0);
    EXPECT_TRUE(p.IsRealDataFrame(data, 2));
}

TEST_F(EngineTest, InitializeWithoutSystemConfig)
{
    TestProtocol* p = Start();
    EXPECT_NE(m_initErr.find("error open Ini config file\n"), std::string::npos) << m_initErr;
    EXPECT_EQ(p->GetRawLogSize(), 10485760u);
    EXPECT_EQ(p->GetMsgLogSize(), 10485760u);
    ASSERT_NE(p->GetRawLog(), nullptr);
    ASSERT_NE(p->GetMsgLog(), nullptr);
    EXPECT_STREQ(p->GetRawLog()->GetFileStem(), "./msg/RAW_MSG_CH1");
    EXPECT_STREQ(p->GetMsgLog()->GetFileStem(), "./msg/MSG_CH1");
    EXPECT_STREQ(p->GetRawLog()->GetName(), "VKR_M");
    EXPECT_EQ(p->GetRawLog()->GetSizeLimit(), 10485760u);
    EXPECT_FALSE(p->GetMsgLog()->IsMsgShow());
    EXPECT_TRUE(FileExists("./msg/RAW_MSG_CH1_1.txt"));
    EXPECT_TRUE(FileExists("./msg/MSG_CH1_1.txt"));
    CProtocolData* d = p->GetProtocolData();
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->m_nChannel, 1);
    EXPECT_EQ(d->m_nRecvBufSize, 131072);
    EXPECT_EQ(d->m_nSecondBufSize, 8192);
    EXPECT_EQ(d->GetPB(), p);
    EXPECT_STREQ(d->GetName(), "VKR_M");
    ASSERT_NE(LOG_GetProcessName(), nullptr);
    EXPECT_STREQ(LOG_GetProcessName(), "VKR");
    // The template's send function is installed; without an owner nothing is sent.
    char data[1] = {1};
    EXPECT_EQ(p->WriteToChannel(data, 1), 0);
}

TEST_F(EngineTest, InitializeCreatesProtocolDataWhenMissing)
{
    TestProtocol* p = Start(false);
    ASSERT_NE(p->GetProtocolData(), nullptr);
    EXPECT_EQ(p->GetProtocolData()->GetPB(), p);
    // No frame finder: bytes are traced but not framed.
    p->Feed(Bytes({0xA5, 0x01, 0x01}));
    EXPECT_TRUE(p->Frames().empty());
}

TEST_F(EngineTest, SizeLimitsFromSystemConfigZeroMeansDefault)
{
    WriteSystemConfig("[protocolConfig]\nRawLogBufSize=0\nMsgLogBufSize=12345\n");
    TestProtocol* p = Start();
    EXPECT_EQ(m_initErr.find("error open Ini config file\n"), std::string::npos) << m_initErr;
    EXPECT_EQ(p->GetRawLogSize(), 2000000u);
    EXPECT_EQ(p->GetMsgLogSize(), 12345u);
    EXPECT_EQ(p->GetRawLog()->GetSizeLimit(), 2000000u);
    EXPECT_EQ(p->GetMsgLog()->GetSizeLimit(), 12345u);
}

TEST_F(EngineTest, SizeLimitsFromSystemConfigMissingKeys)
{
    WriteSystemConfig("[VKR_M]\nmsg_file=1\n");
    TestProtocol* p = Start();
    EXPECT_EQ(p->GetRawLogSize(), 2000000u);
    EXPECT_EQ(p->GetMsgLogSize(), 100000000u);
}

TEST_F(EngineTest, SizeLimitsFromSystemConfigValues)
{
    WriteSystemConfig("[protocolConfig]\nRawLogBufSize=3000\nMsgLogBufSize=4000\n");
    TestProtocol* p = Start();
    EXPECT_EQ(p->GetRawLogSize(), 3000u);
    EXPECT_EQ(p->GetMsgLogSize(), 4000u);
}

TEST_F(EngineTest, SplitFrameDeliveredOnceAfterSecondChunk)
{
    TestProtocol* p = Start();
    p->Feed(Bytes({0xA5, 0x03, 0x01}));
    EXPECT_TRUE(p->Frames().empty());
    EXPECT_EQ(p->GetAccumulatedLength(), 3);
    p->Feed(Bytes({0x02, 0x03}));
    auto frames = p->Frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].bytes, Bytes({0xA5, 0x03, 0x01, 0x02, 0x03}));
    EXPECT_EQ(frames[0].status, 0);
    EXPECT_EQ(p->GetAccumulatedLength(), 0);
}

TEST_F(EngineTest, TwoFramesInOneChunkOnlyFirstDelivered)
{
    TestProtocol* p = Start();
    p->Feed(Bytes({0xA5, 0x01, 0x11, 0xA5, 0x01, 0x22}));
    auto frames = p->Frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].bytes, Bytes({0xA5, 0x01, 0x11}));
    EXPECT_EQ(p->GetAccumulatedLength(), 0);
    p->Feed(Bytes({0xA5, 0x01, 0x33}));
    frames = p->Frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[1].bytes, Bytes({0xA5, 0x01, 0x33}));
}

TEST_F(EngineTest, FrameAtAnOffsetIsDeliveredInPlace)
{
    TestProtocol* p = Start();
    p->Feed(Bytes({0x00, 0x00, 0xA5, 0x01, 0x55}));
    auto frames = p->Frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].bytes, Bytes({0xA5, 0x01, 0x55}));
}

TEST_F(EngineTest, NegativeFrameLengthDropsEverythingSilently)
{
    TestProtocol* p = Start();
    int msg0 = p->GetMsgLog()->GetRecordCount();
    p->Feed(Bytes({0xA5, 0x05, 0x01}));     // a frame in progress: kept
    p->Feed(Bytes({0x77}));
    EXPECT_EQ(p->GetAccumulatedLength(), 4);
    p->ReadFrChannel(nullptr, 0, 0);        // no bytes: nothing happens
    EXPECT_EQ(p->GetAccumulatedLength(), 4);
    // Garbage at the start of the buffer: the finder answers a negative
    // length and the whole buffer is dropped, without a trace line.
    ReadFrChannelGarbage(p);
    EXPECT_EQ(p->GetAccumulatedLength(), 0);
    EXPECT_TRUE(p->Frames().empty());
    EXPECT_EQ(p->GetMsgLog()->GetRecordCount(), msg0);
    p->Feed(Bytes({0xA5, 0x01, 0x44}));     // starts afresh
    auto frames = p->Frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].bytes, Bytes({0xA5, 0x01, 0x44}));
    EXPECT_EQ(p->GetMsgLog()->GetRecordCount(), msg0 + 1);
}

TEST_F(EngineTest, StatusEventReachesProtocolAndClearsPartialFrame)
{
    TestProtocol* p = Start();
    p->Feed(Bytes({0xA5, 0x03, 0x01}));
    EXPECT_EQ(p->GetAccumulatedLength(), 3);
    EXPECT_TRUE(p->ReadFrChannel(nullptr, 0, COMM_INIT));
    auto frames = p->Frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].status, 100);
    EXPECT_TRUE(frames[0].nullData);
    EXPECT_EQ(frames[0].length, 0);
    EXPECT_EQ(p->GetAccumulatedLength(), 0);
    // The rest of the old frame now starts a new buffer: no frame.
    p->Feed(Bytes({0xA5, 0x00}));           // a complete empty frame
    p->Feed(Bytes({0x02, 0x03}));           // junk: discarded
    frames = p->Frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[1].bytes, Bytes({0xA5, 0x00}));
}

TEST_F(EngineTest, RawTraceSuppressedFrom4096Bytes)
{
    TestProtocol* p = Start();
    p->m_explain->mode = WHOLE_CHUNK;
    int raw0 = p->GetRawLog()->GetRecordCount();
    int msg0 = p->GetMsgLog()->GetRecordCount();
    p->Feed(std::string(4095, '\x11'));
    EXPECT_EQ(p->GetRawLog()->GetRecordCount(), raw0 + 1);
    EXPECT_EQ(p->GetMsgLog()->GetRecordCount(), msg0 + 1);
    p->Feed(std::string(4096, '\x22'));
    EXPECT_EQ(p->GetRawLog()->GetRecordCount(), raw0 + 1);   // not traced
    EXPECT_EQ(p->GetMsgLog()->GetRecordCount(), msg0 + 2);   // but framed
    auto frames = p->Frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[1].length, 4096);
    // Small chunks are traced as "Rx:" lines in the raw file.
    p->Feed(Bytes({0x01, 0x02}));
    std::string raw = ReadFile("./msg/RAW_MSG_CH1_1.txt");
    std::regex line(R"((\d+)  \d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}-\d{3} Rx: 01 02 \r\n\r\n$)");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(raw, m, line)) << raw;
    EXPECT_EQ(std::stoi(m[1].str()), raw0 + 2);
}

TEST_F(EngineTest, ReceiveBufferNeverOverflows)
{
    TestProtocol* p = Start();
    p->m_explain->mode = NEED_MORE;
    std::string chunk(256, '\x33');
    for (int i = 0; i < 131072 / 256; ++i)
        p->Feed(chunk);
    EXPECT_EQ(p->GetAccumulatedLength(), 131072);
    p->Feed(std::string(10, '\x44'));       // would not fit: start again with this chunk
    EXPECT_EQ(p->GetAccumulatedLength(), 10);
}

TEST_F(EngineTest, WriteToChannelThroughTheSendHook)
{
    TestProtocol* p = Start();
    p->SetChannelHooks(&FakeSend, &FakeSend);
    char frame[4] = {0x01, 0x03, 0x00, 0x55};
    EXPECT_EQ(p->WriteToChannel(frame, 4), 0);   // no owner yet
    EXPECT_EQ(m_fake.calls, 0);

    int owner = 0;
    p->SetProtocol(&owner);
    int raw0 = p->GetRawLog()->GetRecordCount();
    int msg0 = p->GetMsgLog()->GetRecordCount();
    EXPECT_EQ(p->WriteToChannel(frame, 4), 4);
    EXPECT_EQ(m_fake.calls, 1);
    EXPECT_EQ(m_fake.lastOwner, &owner);
    EXPECT_EQ(m_fake.lastFlags, 0);
    EXPECT_EQ(m_fake.sent, std::string(frame, 4));
    EXPECT_EQ(p->GetRawLog()->GetRecordCount(), raw0 + 1);
    EXPECT_EQ(p->GetMsgLog()->GetRecordCount(), msg0 + 1);
    EXPECT_NE(ReadFile("./msg/MSG_CH1_1.txt").find(" Tx: 01 03 00 55 \r\n\r\n"), std::string::npos);

    m_fake.result = -1;                           // channel error: nothing traced
    EXPECT_EQ(p->WriteToChannel(frame, 4), -1);
    EXPECT_EQ(p->GetRawLog()->GetRecordCount(), raw0 + 1);
    m_fake.result = 0;                            // port closed: result 0, nothing traced
    EXPECT_EQ(p->WriteToChannel(frame, 4), 0);
    EXPECT_EQ(p->GetRawLog()->GetRecordCount(), raw0 + 1);
    EXPECT_EQ(p->GetMsgLog()->GetRecordCount(), msg0 + 1);

    m_fake.calls = 0;
    p->CallReconnect();                           // (owner, no data, 0, 1283)
    EXPECT_EQ(m_fake.calls, 1);
    EXPECT_EQ(m_fake.lastFlags, 1283);
    EXPECT_EQ(m_fake.lastLength, 0);
    EXPECT_TRUE(m_fake.lastDataNull);

    // The template's own send function refuses null owners and non-zero flags.
    EXPECT_EQ(ProtocolTemplateSend(nullptr, frame, 4, 0), 0);
    EXPECT_EQ(ProtocolTemplateSend(&owner, frame, 4, 1283), 0);
}

TEST_F(EngineTest, TraceDisabledFormsNoRecord)
{
    TestProtocol* p = Start();
    p->EnableTrace(false);
    int raw0 = p->GetRawLog()->GetRecordCount();
    p->Feed(Bytes({0xA5, 0x01, 0x01}));
    p->DisplayMsg("ab", 2, true, CLinkCore::TRACE_BOTH);
    EXPECT_EQ(p->GetRawLog()->GetRecordCount(), raw0);
    EXPECT_EQ(p->Frames().size(), 1u);
}

TEST_F(EngineTest, TransmitAndReceiveLinesNeverMix)
{
    TestProtocol* p = Start();
    p->SetChannelHooks(&FakeSend);
    int owner = 0;
    p->SetProtocol(&owner);
    const int n = 300;
    std::thread tx([&] {
        char frame[8] = {0x01, 0x06, 0x00, 0x55, 0x00, 0x01, 0x58, 0x1A};
        for (int i = 0; i < n; ++i)
            p->WriteToChannel(frame, 8);
    });
    for (int i = 0; i < n; ++i)
        p->Feed(Bytes({0xA5, 0x02, 0x12, 0x34}));
    tx.join();
    EXPECT_EQ(p->GetRawLog()->GetRecordCount(), 2 * n);
    std::string raw = ReadFile("./msg/RAW_MSG_CH1_1.txt");
    std::regex line(R"(^\d+  \d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}-\d{3} )"
                    R"((Tx: 01 06 00 55 00 01 58 1A |Rx: A5 02 12 34 )$)");
    std::istringstream in(raw);
    std::string l;
    int lines = 0;
    while (std::getline(in, l))
    {
        if (!l.empty() && l.back() == '\r')
            l.pop_back();
        if (l.empty())
            continue;
        ++lines;
        EXPECT_TRUE(std::regex_match(l, line)) << l;
    }
    EXPECT_EQ(lines, 2 * n);
}

TEST_F(EngineTest, TimerOnceASecondAndStopsWithin200msOfSetEnd)
{
    TestProtocol* p = Start();
    long long started = NowMs();
    ASSERT_TRUE(WaitFor([&] { return p->TimerCalls().size() >= 2; }, 4000));
    auto calls = p->TimerCalls();
    EXPECT_EQ(p->m_timerIds[0], 4002u);
    // Roughly once a second (5 ticks of 200 ms).
    EXPECT_GE(calls[0] - started, 800);
    EXPECT_GE(calls[1] - calls[0], 700);
    EXPECT_LE(calls[1] - calls[0], 1500);

    // SetEnd half-way between two calls, then watch for 1.3 s.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    long long endAt = NowMs();
    p->SetEnd();
    EXPECT_TRUE(p->IsEnd());
    std::this_thread::sleep_for(std::chrono::milliseconds(1300));
    for (long long t : p->TimerCalls())
        EXPECT_LE(t, endAt + 200) << "HandleTimer " << (t - endAt) << " ms after SetEnd";
    long long before = NowMs();
    p->UnInit();                                   // the thread has ended: no wait
    EXPECT_LT(NowMs() - before, 100);
    EXPECT_EQ(p->GetRawLog(), nullptr);
    EXPECT_EQ(p->GetMsgLog(), nullptr);
    p->UnInit();                                   // a second time: nothing to do
}

TEST_F(EngineTest, UnInitWithoutSetEndStillEndsTheTimer)
{
    TestProtocol* p = Start();
    long long before = NowMs();
    p->UnInit();
    EXPECT_LT(NowMs() - before, 250);
    EXPECT_TRUE(p->IsEnd());
    size_t n = p->TimerCalls().size();
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    EXPECT_EQ(p->TimerCalls().size(), n);
}

TEST_F(EngineTest, DestructorAfterInitializeTakesEverythingDown)
{
    Start();
    m_proto.reset();   // destructor: joins the timer, frees logs and buffers
    SUCCEED();
}

// The run-info lines of a protocol's traffic reach standard error only when
// the protocol's "msg_show" switch is on; the file under ./log (whose folder
// the log makes) gets them either way.
class RunInfoEchoTest : public EngineTest
{
protected:
    void Check(bool show)
    {
        WriteSystemConfig(std::string("[VKR_M]\nmsg_show=") + (show ? "1" : "0") + "\nmsg_file=1\n");
        ASSERT_FALSE(FileExists("./log"));
        Start();
        testing::internal::CaptureStderr();
        const std::string text = "OUT 01 06 00 55 00 01";
        LOG_AddRunInfo(1, text.c_str());
        const bool written =
            WaitFor([&] { return ReadFile("./log/VKR_0.txt").find(text) != std::string::npos; }, 5000);
        const std::string err = testing::internal::GetCapturedStderr();
        ASSERT_TRUE(written);
        EXPECT_EQ(err.find(text) != std::string::npos, show) << err;
    }
};

TEST_F(RunInfoEchoTest, QuietWhenMsgShowIsOff) { Check(false); }
TEST_F(RunInfoEchoTest, EchoedWhenMsgShowIsOn) { Check(true); }
