// Trace logs (CSFlogBuf) and the run-info log (LOG_ functions,
// CLogRunInfoList, CLog).
#include "TestUtil.h"

#include "LogBuf.h"
#include "LogRunInfo.h"
#include "WSNConfig.h"

#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <memory>
#include <regex>

using namespace lctest;

namespace {

class TraceLogTest : public LinkCoreTest
{
protected:
    void SetUp() override
    {
        LinkCoreTest::SetUp();
        m_rec.reset(new MSG_PROTOCOL);
        memset(m_rec.get(), 0, sizeof(MSG_PROTOCOL));
        m_rec->wYear = 2024;
        m_rec->wMonth = 3;
        m_rec->wDay = 5;
        m_rec->wHour = 7;
        m_rec->wMinute = 8;
        m_rec->wSecond = 9;
        m_rec->dwMicrosecond = 123456;
        SetBytes({0x01, 0x03, 0x0A, 0xFF, 0x10}, false);
    }
    void SetBytes(std::initializer_list<unsigned char> bytes, bool tx)
    {
        m_rec->bTransmit = tx;
        m_rec->nLength = static_cast<int>(bytes.size());
        int i = 0;
        for (unsigned char b : bytes)
            m_rec->byData[i++] = b;
    }
    // A CSFlogBuf built with stderr captured (the missing system
    // configuration file is reported there).
    CSFlogBuf* Make(const char* stem, unsigned int limit)
    {
        testing::internal::CaptureStderr();
        CSFlogBuf* log = new CSFlogBuf("VKR_M", stem, limit, 100, 5000);
        testing::internal::GetCapturedStderr();
        return log;
    }
    std::unique_ptr<MSG_PROTOCOL> m_rec;
};

const char kLine5[] = "2024-03-05 07:08:09-123 Rx: 01 03 0A FF 10 \r\n\r\n";

class RunInfoTest : public LinkCoreTest
{
protected:
    void SetUp() override
    {
        LinkCoreTest::SetUp();
        LOG_UnInit();
        LOG_SetOutput(false, true);
    }
    void TearDown() override
    {
        LOG_UnInit();
        LOG_SetOutput(false, true);
        LinkCoreTest::TearDown();
    }
};

int CountRunInfoLines(const std::string& text)
{
    const std::string end("\r\n\0", 3);
    int n = 0;
    for (std::string::size_type pos = text.find(end); pos != std::string::npos; pos = text.find(end, pos + 3))
        ++n;
    return n;
}

void UseUtc()
{
    setenv("TZ", "UTC", 1);
    tzset();
}

}  // namespace

// --- trace logs ----------------------------------------------------------------

TEST_F(TraceLogTest, LineFormatByteForByte)
{
    std::unique_ptr<CSFlogBuf> log(Make("./msg/RAW_MSG_CH1", 1000000));
    EXPECT_FALSE(log->IsMsgShow());
    EXPECT_TRUE(log->IsMsgFile());
    EXPECT_EQ(log->GetFileIndex(), 1);
    EXPECT_EQ(log->GetSizeLimit(), 1000000u);
    // The first file exists (with its folder) right after construction.
    ASSERT_TRUE(FileExists("./msg/RAW_MSG_CH1_1.txt"));
    EXPECT_EQ(FileSize("./msg/RAW_MSG_CH1_1.txt"), 0);

    for (int i = 0; i < 6; ++i)
        log->LogMessage(m_rec.get(), true);   // counted only
    EXPECT_EQ(log->GetRecordCount(), 6);
    EXPECT_EQ(FileSize("./msg/RAW_MSG_CH1_1.txt"), 0);

    log->LogMessage(m_rec.get(), false);      // record 7
    EXPECT_EQ(ReadFile("./msg/RAW_MSG_CH1_1.txt"), std::string("7  ") + kLine5);

    SetBytes({0xAB}, true);
    m_rec->dwMicrosecond = 5000;              // 5 ms
    log->LogMessage(m_rec.get(), false);
    EXPECT_EQ(ReadFile("./msg/RAW_MSG_CH1_1.txt"),
              std::string("7  ") + kLine5 + "8  2024-03-05 07:08:09-005 Tx: AB \r\n\r\n");
}

TEST_F(TraceLogTest, BothSwitchesOffCountsAndWritesNothing)
{
    WriteSystemConfig("[VKR_M]\nmsg_show=0\nmsg_file=0\n");
    std::unique_ptr<CSFlogBuf> log(new CSFlogBuf("VKR_M", "./msg/MSG_CH1", 1000, 100, 5000));
    EXPECT_FALSE(log->IsMsgShow());
    EXPECT_FALSE(log->IsMsgFile());
    testing::internal::CaptureStdout();
    log->LogMessage(m_rec.get(), false);
    log->LogMessage(m_rec.get(), true);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(log->GetRecordCount(), 0);
    EXPECT_FALSE(FileExists("./msg"));
}

TEST_F(TraceLogTest, ConsoleEchoOnly)
{
    WriteSystemConfig("[VKR_M]\nmsg_show=1\nmsg_file=0\n");
    std::unique_ptr<CSFlogBuf> log(new CSFlogBuf("VKR_M", "./msg/MSG_CH1", 1000, 100, 5000));
    EXPECT_TRUE(log->IsMsgShow());
    EXPECT_FALSE(log->IsMsgFile());
    testing::internal::CaptureStdout();
    log->LogMessage(m_rec.get(), false);
    log->PrintMessage(m_rec.get());
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "1  2024-03-05 07:08:09-123 Rx: 01 03 0A FF 10 \n\n"
                   "msg:2024-03-05 07:08:09-123 Rx: 01 03 0A FF 10 \n\n");
    EXPECT_EQ(log->GetRecordCount(), 1);
    EXPECT_FALSE(FileExists("./msg/MSG_CH1_1.txt"));
    // The engine switches echo off for the message trace.
    log->SetMsgShow(false);
    EXPECT_FALSE(log->IsMsgShow());
    EXPECT_TRUE(log->ClearLogFile());
}

TEST_F(TraceLogTest, SectionNameSelectsSwitches)
{
    WriteSystemConfig("[VKR_M]\nmsg_file=0\n[OTHER]\nmsg_file=1\n");
    std::unique_ptr<CSFlogBuf> a(new CSFlogBuf("VKR_M", "./msg/A", 1000, 100, 5000));
    std::unique_ptr<CSFlogBuf> b(new CSFlogBuf("OTHER", "./msg/B", 1000, 100, 5000));
    EXPECT_FALSE(a->IsMsgFile());
    EXPECT_TRUE(b->IsMsgFile());
    EXPECT_STREQ(b->GetName(), "OTHER");
    EXPECT_STREQ(b->GetFileStem(), "./msg/B");
}

TEST_F(TraceLogTest, Limit308Bytes)
{
    std::unique_ptr<CSFlogBuf> log(Make("./msg/L", 1000000));
    m_rec->nLength = 308;
    memset(m_rec->byData, 0x5A, 308);
    log->LogMessage(m_rec.get(), false);
    std::string first = ReadFile("./msg/L_1.txt");
    EXPECT_EQ(first.size(), strlen("1  2024-03-05 07:08:09-123 Rx: ") + 308 * 3 + 4);
    m_rec->nLength = 309;
    log->LogMessage(m_rec.get(), false);      // counted, not written
    EXPECT_EQ(log->GetRecordCount(), 2);
    EXPECT_EQ(ReadFile("./msg/L_1.txt"), first);
    SetBytes({0x01}, false);
    log->LogMessage(m_rec.get(), false);
    EXPECT_EQ(ReadFile("./msg/L_1.txt"), first + "3  2024-03-05 07:08:09-123 Rx: 01 \r\n\r\n");
}

TEST_F(TraceLogTest, RotationBetweenTheTwoFiles)
{
    const std::string line = kLine5;          // 47 bytes plus the number and two spaces
    ASSERT_TRUE(WriteFile("./msg/R_0.txt", "stale content of the other file\n"));
    std::unique_ptr<CSFlogBuf> log(Make("./msg/R", 100));
    for (int i = 1; i <= 3; ++i)
        log->LogMessage(m_rec.get(), false);
    // 50 + 50 = 100 is not larger than the limit, so line 3 still goes to _1.
    std::string one = ReadFile("./msg/R_1.txt");
    EXPECT_EQ(one, "1  " + line + "2  " + line + "3  " + line);
    EXPECT_EQ(log->GetFileIndex(), 1);

    log->LogMessage(m_rec.get(), false);      // _1 is 150 > 100: rotate to _0, emptied first
    EXPECT_EQ(log->GetFileIndex(), 0);
    EXPECT_EQ(ReadFile("./msg/R_1.txt"), one);  // kept unchanged
    EXPECT_EQ(ReadFile("./msg/R_0.txt"), "4  " + line);

    for (int i = 5; i <= 7; ++i)
        log->LogMessage(m_rec.get(), false);  // 5, 6 to _0; 7 rotates back to _1
    EXPECT_EQ(ReadFile("./msg/R_0.txt"), "4  " + line + "5  " + line + "6  " + line);
    EXPECT_EQ(log->GetFileIndex(), 1);
    EXPECT_EQ(ReadFile("./msg/R_1.txt"), "7  " + line);
}

// --- run-info queue and file ------------------------------------------------------

TEST_F(RunInfoTest, LineFormat)
{
    UseUtc();
    RUNINFO_RECORD rec;
    memset(&rec, 0, sizeof rec);
    rec.qwSequence = 5;
    rec.qwTimeMs = 1700000000123ULL;   // 2023-11-14 22:13:20.123 UTC
    strcpy(rec.szText, "OUT 01 03 00 55 00 01 ");
    char line[4096];
    int n = LOG_FormatRunInfoLine(&rec, line, sizeof line);
    EXPECT_EQ(std::string(line, n), "(5)2023-11-14 22:13:20 123: OUT 01 03 00 55 00 01 \r\n");
    rec.qwTimeMs = 1700000000007ULL;
    LOG_FormatRunInfoTime(rec.qwTimeMs, line, sizeof line);
    EXPECT_STREQ(line, "2023-11-14 22:13:20 007");
    EXPECT_EQ(sizeof(RUNINFO_RECORD), 2136u);
}

TEST_F(RunInfoTest, QueueFullDropsOldestHalf)
{
    CLogRunInfoList list;
    RUNINFO_RECORD rec;
    memset(&rec, 0, sizeof rec);
    uint64_t first = 0;
    for (int i = 0; i < 122; ++i)
    {
        snprintf(rec.szText, sizeof rec.szText, "line %d", i + 1);
        ASSERT_TRUE(list.EnqueueTail(rec));
        if (i == 0)
            first = rec.qwSequence;
        EXPECT_EQ(rec.qwSequence, first + i);
    }
    EXPECT_FALSE(list.IsFull());
    ASSERT_TRUE(list.EnqueueTail(rec));
    EXPECT_TRUE(list.IsFull());                // 123 x 2136 bytes >= 262144
    EXPECT_EQ(list.MessageCount(), 123);

    testing::internal::CaptureStderr();
    snprintf(rec.szText, sizeof rec.szText, "line 124");
    ASSERT_TRUE(list.EnqueueTail(rec));
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("CLogRunInfoList::EnqueueTail  mq is_full  message_count=123!!"), std::string::npos) << err;
    EXPECT_EQ(list.MessageCount(), 123 - 61 + 1);

    RUNINFO_RECORD out;
    ASSERT_TRUE(list.DequeueHead(out));
    EXPECT_EQ(out.qwSequence, first + 61);     // the oldest 61 are gone
    EXPECT_STREQ(out.szText, "line 62");
    uint64_t last = out.qwSequence;
    while (list.DequeueHead(out))
    {
        EXPECT_EQ(out.qwSequence, last + 1);
        last = out.qwSequence;
    }
    EXPECT_EQ(last, first + 123);
    EXPECT_STREQ(out.szText, "line 124");
    EXPECT_EQ(list.MessageCount(), 0);
    EXPECT_FALSE(list.DequeueHead(out));
}

TEST_F(RunInfoTest, FileWriterFormatAndRotation)
{
    UseUtc();
    ASSERT_TRUE(WSNCreatFilePath("./log"));
    ASSERT_TRUE(WriteFile("./log/T_1.txt", "old"));
    CLog log("./log/T", 120);
    EXPECT_STREQ(log.GetFileName(), "./log/T_0.txt");
    RUNINFO_RECORD rec;
    memset(&rec, 0, sizeof rec);
    rec.qwTimeMs = 1700000000123ULL;
    strcpy(rec.szText, "IN 01 03 02 12 34");
    std::string expected;
    for (int i = 1; i <= 3; ++i)
    {
        rec.qwSequence = i;
        ASSERT_TRUE(log.Write(rec));
        expected += "(" + std::to_string(i) + ")2023-11-14 22:13:20 123: IN 01 03 02 12 34\r\n" + std::string(1, '\0');
    }
    // 3 x 48 bytes: the third line was written at 96 < 120.
    EXPECT_EQ(ReadFile("./log/T_0.txt"), expected);
    EXPECT_EQ(log.GetFileIndex(), 0);
    rec.qwSequence = 4;
    ASSERT_TRUE(log.Write(rec));               // 144 >= 120: to _1, truncated first
    EXPECT_EQ(log.GetFileIndex(), 1);
    EXPECT_EQ(ReadFile("./log/T_0.txt"), expected);
    EXPECT_EQ(ReadFile("./log/T_1.txt"),
              "(4)2023-11-14 22:13:20 123: IN 01 03 02 12 34\r\n" + std::string(1, '\0'));
}

TEST_F(RunInfoTest, FileWriterWithoutFolderReports)
{
    testing::internal::CaptureStderr();
    CLog log("./nolog/T", 100);
    RUNINFO_RECORD rec;
    memset(&rec, 0, sizeof rec);
    EXPECT_FALSE(log.Write(rec));
    EXPECT_FALSE(log.Write(rec));
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("connect"), std::string::npos) << err;
    EXPECT_NE(err.find("./nolog/T_0.txt"), std::string::npos) << err;
    // Reported once, not once per record.
    EXPECT_EQ(err.find("connect", err.find("connect") + 1), std::string::npos) << err;
    // Written once the folder exists.
    ASSERT_TRUE(WSNCreatFilePath("./nolog"));
    EXPECT_TRUE(log.Write(rec));
}

// --- LOG_ functions ----------------------------------------------------------------------

TEST_F(RunInfoTest, EndToEndThroughTheWriterThread)
{
    ASSERT_TRUE(WSNCreatFilePath("./log"));
    EXPECT_EQ(LOG_GetProcessName(), nullptr);
    LOG_AddRunInfo(1, "VKR Running");              // before setup: dropped
    EXPECT_TRUE(LOG_Init("VKR"));
    ASSERT_NE(LOG_GetProcessName(), nullptr);
    EXPECT_STREQ(LOG_GetProcessName(), "VKR");
    EXPECT_TRUE(LOG_Init("Other"));                // already set up: nothing changes
    EXPECT_STREQ(LOG_GetProcessName(), "VKR");

    LOG_MakeAndAddRunInfo(1, "OUT %s", "01 03 00 55 00 01 ");
    LOG_AddRunInfo(1, "IN 01 03 02 12 34 ");
    ASSERT_TRUE(WaitFor([] { return CountRunInfoLines(ReadFile("./log/VKR_0.txt")) == 2; }, 4000));
    std::string text = ReadFile("./log/VKR_0.txt");
    EXPECT_EQ(text.find("VKR Running"), std::string::npos);
    std::regex line(R"(\((\d+)\)\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2} \d{3}: OUT 01 03 00 55 00 01 \r\n)");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(text, m, line)) << text;
    EXPECT_EQ(text[m.position(0) + m.length(0)], '\0');
    unsigned long long seq = std::stoull(m[1].str());
    EXPECT_NE(text.find("(" + std::to_string(seq + 1) + ")"), std::string::npos);
    EXPECT_NE(text.find(": IN 01 03 02 12 34 \r\n"), std::string::npos);

    LOG_UnInit();
    EXPECT_EQ(LOG_GetProcessName(), nullptr);
    LOG_AddRunInfo(1, "after");                    // dropped, no crash
    LOG_UnInit();
}

TEST_F(RunInfoTest, WriterWritesATrickleOnceASecondAndABurstAtOnce)
{
    ASSERT_TRUE(WSNCreatFilePath("./log"));
    LOG_SetProcessName("BATCH");
    EXPECT_STREQ(LOG_GetProcessName(), "BATCH");
    const std::string file = "./log/BATCH_0.txt";
    // Fewer lines than a batch wait for the writer's next whole second.
    for (int i = 0; i < 10; ++i)
        LOG_MakeAndAddRunInfo(1, "line %d", i);
    ASSERT_TRUE(WaitFor([&] { return CountRunInfoLines(ReadFile(file)) == 10; }, 4000));
    const long long firstBatch = NowMs();
    LOG_MakeAndAddRunInfo(1, "line %d", 10);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(CountRunInfoLines(ReadFile(file)), 10);
    ASSERT_TRUE(WaitFor([&] { return CountRunInfoLines(ReadFile(file)) == 11; }, 3000));
    EXPECT_GE(NowMs() - firstBatch, 700);

    // A burst of more than two queues' worth of lines is written whole, at
    // once, in its order: the writer is woken by every batch waiting.
    const long long burst = NowMs();
    for (int i = 11; i < 120; ++i)
        LOG_MakeAndAddRunInfo(1, "line %d", i);
    ASSERT_TRUE(WaitFor([&] { return CountRunInfoLines(ReadFile(file)) == 120; }, 3000));
    // One batch a second would take over two seconds. When the writer drains
    // the queue faster than the lines come (a slow, instrumented or loaded
    // machine), the last few lines, fewer than a batch, keep the trickle rule
    // and wait up to a second.
    EXPECT_LT(NowMs() - burst, 1600);
    std::string text = ReadFile(file);
    EXPECT_LT(text.find(": line 0\r\n"), text.find(": line 119\r\n"));
}

TEST_F(RunInfoTest, SustainedTwoHundredLinesASecondKeepsEveryLine)
{
    ASSERT_TRUE(WSNCreatFilePath("./log"));
    testing::internal::CaptureStderr();
    ASSERT_TRUE(LOG_Init("FAST"));
    // What a register link at 100 requests a second logs: OUT and IN lines.
    for (int i = 0; i < 300; ++i)
    {
        LOG_MakeAndAddRunInfo(1, "seq %d", i);
        if (i % 2 == 1)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const std::string file = "./log/FAST_0.txt";
    const bool all = WaitFor([&] { return CountRunInfoLines(ReadFile(file)) >= 300; }, 5000);
    LOG_UnInit();
    std::string err = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(all) << CountRunInfoLines(ReadFile(file));
    EXPECT_EQ(err.find("mq is_full"), std::string::npos) << err;
    std::string text = ReadFile(file);
    EXPECT_EQ(text.find("dropped"), std::string::npos);
    size_t at = 0;
    for (int i = 0; i < 300; ++i)
    {
        const std::string want = ": seq " + std::to_string(i) + "\r\n";
        at = text.find(want, at);
        ASSERT_NE(at, std::string::npos) << want;
    }
}

TEST_F(RunInfoTest, OverflowIsReportedOnceAndCounted)
{
    CLogRunInfoList list;
    RUNINFO_RECORD rec;
    memset(&rec, 0, sizeof rec);
    testing::internal::CaptureStderr();
    for (int i = 0; i < 400; ++i)
        ASSERT_TRUE(list.EnqueueTail(rec));
    std::string err = testing::internal::GetCapturedStderr();
    const size_t first = err.find("mq is_full");
    ASSERT_NE(first, std::string::npos) << err;
    EXPECT_EQ(err.find("mq is_full", first + 1), std::string::npos) << err;
    const uint64_t dropped = list.TakeDropped();
    EXPECT_EQ(dropped + static_cast<uint64_t>(list.MessageCount()), 400u);
    EXPECT_GT(dropped, 0u);
    EXPECT_EQ(list.TakeDropped(), 0u);
    // Counted again, and reported again, for the next overflow.
    testing::internal::CaptureStderr();
    for (int i = 0; i < 123; ++i)
        ASSERT_TRUE(list.EnqueueTail(rec));
    err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("mq is_full"), std::string::npos) << err;
    EXPECT_GT(list.TakeDropped(), 0u);
}

TEST_F(RunInfoTest, DroppedRecordsAreCountedInTheFile)
{
    ASSERT_TRUE(WSNCreatFilePath("./log"));
    testing::internal::CaptureStderr();
    ASSERT_TRUE(LOG_Init("DROP"));
    // Faster than any writer: one call with no pause at all.
    for (int i = 0; i < 5000; ++i)
        LOG_MakeAndAddRunInfo(1, "burst %d", i);
    const std::string file = "./log/DROP_0.txt";
    const bool last = WaitFor([&] { return ReadFile(file).find(": burst 4999\r\n") != std::string::npos; }, 5000);
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    LOG_UnInit();
    testing::internal::GetCapturedStderr();
    ASSERT_TRUE(last);
    // Every line is either in the file or in a count of dropped lines.
    std::string text = ReadFile(file);
    long long counted = 0;
    std::regex drop(R"(run-info queue full: (\d+) records dropped)");
    for (std::sregex_iterator it(text.begin(), text.end(), drop), end; it != end; ++it)
        counted += std::stoll((*it)[1].str());
    EXPECT_EQ(CountRunInfoLines(text) - static_cast<int>(std::distance(
                  std::sregex_iterator(text.begin(), text.end(), drop), std::sregex_iterator())) + counted,
              5000);
}

TEST_F(RunInfoTest, LongTextIsCut)
{
    ASSERT_TRUE(WSNCreatFilePath("./log"));
    ASSERT_TRUE(LOG_Init("CUT"));
    std::string big(3000, 'x');
    LOG_AddRunInfo(1, big.c_str());
    LOG_MakeAndAddRunInfo(2, "%s%s", big.c_str(), "tail");
    ASSERT_TRUE(WaitFor([] { return CountRunInfoLines(ReadFile("./log/CUT_0.txt")) == 2; }, 4000));
    std::string text = ReadFile("./log/CUT_0.txt");
    std::string cut(2047, 'x');
    EXPECT_NE(text.find(": " + cut + "\r\n"), std::string::npos);
    EXPECT_EQ(text.find(std::string(2048, 'x')), std::string::npos);
    EXPECT_EQ(text.find("tail"), std::string::npos);
}

TEST_F(RunInfoTest, ConsoleEchoGoesToTheDiagnosticLog)
{
    LOG_SetOutput(true, false);
    testing::internal::CaptureStderr();
    ASSERT_TRUE(LOG_Init("ECHO"));
    LOG_AddRunInfo(1, "echo me");
    std::this_thread::sleep_for(std::chrono::milliseconds(1600));
    std::string err = testing::internal::GetCapturedStderr();
    std::regex line(R"(\(\d+\)\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2} \d{3}: echo me :\r\n)");
    EXPECT_TRUE(std::regex_search(err, line)) << err;
}
