// RegMaster on the wire: the test plays the drive on the far side of a
// pseudo-terminal, reads the request bytes exactly as they were sent and
// answers with hand-made frames (right, wrong, late, split, noisy).
#include <gtest/gtest.h>

#include <future>

#include "PtyKit.h"
#include "RegMaster.h"

using namespace ptykit;
typedef std::vector<uint8_t> Bytes;

namespace {

Bytes WithCrc(Bytes frame)
{
    uint16_t crc = 0xFFFF;
    for (uint8_t b : frame)
    {
        crc ^= b;
        for (int i = 0; i < 8; ++i)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : static_cast<uint16_t>(crc >> 1);
    }
    frame.push_back(static_cast<uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    return frame;
}

struct ReadResult
{
    bool ok = false;
    uint8_t value[2] = {0, 0};
    uint8_t err = 0;
    uint16_t Word() const { return static_cast<uint16_t>(value[0] | (value[1] << 8)); }
};

struct WriteResult
{
    bool ok = false;
    uint8_t err = 0;
};

class RegMasterWire : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.ok());
        ASSERT_TRUE(line_.ok());
        ASSERT_EQ(GetModbus(), nullptr) << "no instance before the first link";
        ASSERT_TRUE(OpenLink(link_, 2, line_.path(), "RegMaster"));
        master_ = GetModbus();
        ASSERT_NE(master_, nullptr);
        master_->SetOutTime(1000);
    }
    void TearDown() override
    {
        CloseLink(link_);
        EXPECT_EQ(GetModbus(), nullptr) << "the getter must not outlive its instance";
    }

    std::future<ReadResult> ReadAsync(uint8_t station, uint16_t reg)
    {
        return std::async(std::launch::async, [=] {
            ReadResult r;
            r.ok = master_->ProcRead(station, reg, r.value, &r.err);
            return r;
        });
    }
    std::future<WriteResult> WriteAsync(uint8_t station, uint16_t reg, uint8_t high, uint8_t low)
    {
        return std::async(std::launch::async, [=] {
            WriteResult r;
            uint8_t value[2] = {high, low};
            r.ok = master_->ProcWrite(station, reg, value, &r.err);
            return r;
        });
    }
    template <class T>
    T Get(std::future<T>& f, int timeoutMs = 5000)
    {
        EXPECT_EQ(f.wait_for(std::chrono::milliseconds(timeoutMs)), std::future_status::ready);
        return f.get();
    }

    ScratchDir dir_;
    PtyPair line_;
    CProtocolTemplate link_;
    CRegMaster* master_ = nullptr;
};

TEST_F(RegMasterWire, LoadedByNameAndReachedThroughGetter)
{
    EXPECT_EQ(static_cast<CLinkCore*>(master_), link_.GetInterface()->GetInstance());
    ASSERT_NE(link_.GetInterface()->GetLibraryPath(), nullptr);
    EXPECT_NE(std::string(link_.GetInterface()->GetLibraryPath()).find("libRegMaster.so"), std::string::npos);
    EXPECT_EQ(master_->GetOutTime(), 1000);
}

TEST_F(RegMasterWire, ReadRequestAndReplyBytes)
{
    auto f = ReadAsync(1, 0x0055);
    EXPECT_EQ(line_.Read(8, 2000), (Bytes{0x01, 0x03, 0x00, 0x55, 0x00, 0x01, 0x94, 0x1A}));
    ASSERT_TRUE(line_.Write(Bytes{0x01, 0x03, 0x02, 0x12, 0x34, 0xB5, 0x33}));
    ReadResult r = Get(f);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.value[0], 0x34);
    EXPECT_EQ(r.value[1], 0x12);
    EXPECT_EQ(r.err, 0) << "err stays untouched on success";
}

TEST_F(RegMasterWire, WriteRequestCarriesHighByteFirst)
{
    auto f = WriteAsync(1, 0x0055, 0x13, 0x88);
    Bytes req = line_.Read(8, 2000);
    EXPECT_EQ(req, (Bytes{0x01, 0x06, 0x00, 0x55, 0x13, 0x88, 0x94, 0x8C}));
    ASSERT_TRUE(line_.Write(req));
    EXPECT_TRUE(Get(f).ok);
}

TEST_F(RegMasterWire, PresenceTestWriteSucceedsOnItsEcho)
{
    auto f = WriteAsync(1, 0x0055, 0x00, 0x01);
    Bytes req = line_.Read(8, 2000);
    EXPECT_EQ(req, (Bytes{0x01, 0x06, 0x00, 0x55, 0x00, 0x01, 0x58, 0x1A}));
    ASSERT_TRUE(line_.Write(req));
    WriteResult r = Get(f);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.err, 0);
}

TEST_F(RegMasterWire, EchoWithOtherValueFailsWithErrUntouched)
{
    auto f = WriteAsync(1, 0x0055, 0x00, 0x01);
    ASSERT_EQ(line_.Read(8, 2000).size(), 8u);
    ASSERT_TRUE(line_.Write(WithCrc({0x01, 0x06, 0x00, 0x55, 0x00, 0x02})));
    WriteResult r = Get(f);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.err, 0);
}

TEST_F(RegMasterWire, ExceptionRepliesGiveTheirCode)
{
    auto f = ReadAsync(1, 0x0055);
    ASSERT_EQ(line_.Read(8, 2000).size(), 8u);
    ASSERT_TRUE(line_.Write(Bytes{0x01, 0x83, 0x02, 0xC0, 0xF1}));
    ReadResult r = Get(f);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.err, 2);

    auto w = WriteAsync(1, 0x0100, 0x00, 0x07);
    ASSERT_EQ(line_.Read(8, 2000).size(), 8u);
    ASSERT_TRUE(line_.Write(WithCrc({0x01, 0x86, 0x04})));
    WriteResult wr = Get(w);
    EXPECT_FALSE(wr.ok);
    EXPECT_EQ(wr.err, 4);
}

TEST_F(RegMasterWire, ExceptionWithoutCodeIsNoAnswer)
{
    master_->SetOutTime(300);
    auto f = ReadAsync(1, 0x0055);
    ASSERT_EQ(line_.Read(8, 2000).size(), 8u);
    ASSERT_TRUE(line_.Write(WithCrc({0x01, 0x83, 0x00})));
    ReadResult r = Get(f);
    EXPECT_FALSE(r.ok) << "an exception reply was taken for a value";
    EXPECT_EQ(r.err, 0xFF);
    EXPECT_EQ(master_->GetUnmatchedCount(), 1);
}

TEST_F(RegMasterWire, NoReplyAndBadCrcTimeOutWithFF)
{
    master_->SetOutTime(150);
    auto f = ReadAsync(1, 0x0001);
    ASSERT_EQ(line_.Read(8, 2000).size(), 8u);
    ReadResult r = Get(f);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.err, 0xFF);

    auto g = ReadAsync(1, 0x0001);
    ASSERT_EQ(line_.Read(8, 2000).size(), 8u);
    Bytes bad = WithCrc({0x01, 0x03, 0x02, 0x00, 0x09});
    bad.back() ^= 0x01;
    ASSERT_TRUE(line_.Write(bad));
    ReadResult b = Get(g);
    EXPECT_FALSE(b.ok);
    EXPECT_EQ(b.err, 0xFF);
}

TEST_F(RegMasterWire, ReplyFoundBehindNoise)
{
    auto f = ReadAsync(1, 0x0002);
    ASSERT_EQ(line_.Read(8, 2000).size(), 8u);
    Bytes noisy = {0xFF, 0x00, 0x55, 0x13};
    Bytes reply = WithCrc({0x01, 0x03, 0x02, 0xAB, 0xCD});
    noisy.insert(noisy.end(), reply.begin(), reply.end());
    ASSERT_TRUE(line_.Write(noisy));
    ReadResult r = Get(f);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.Word(), 0xABCD);
}

TEST_F(RegMasterWire, ReplySplitOverTwoChunks)
{
    auto f = ReadAsync(1, 0x0003);
    ASSERT_EQ(line_.Read(8, 2000).size(), 8u);
    Bytes reply = WithCrc({0x01, 0x03, 0x02, 0x01, 0x02});
    ASSERT_TRUE(line_.Write(reply.data(), 3));
    // The first part must have reached the engine before the rest is sent.
    ASSERT_TRUE(WaitFor([&] { return master_->GetAccumulatedLength() == 3; }, 2000));
    EXPECT_EQ(f.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);
    ASSERT_TRUE(line_.Write(reply.data() + 3, reply.size() - 3));
    ReadResult r = Get(f);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.Word(), 0x0102);
}

// A reply that comes after its request gave up must not answer the next one.
TEST_F(RegMasterWire, LateReadReplyIsNotTakenByTheNextRead)
{
    master_->SetOutTime(200);
    auto first = ReadAsync(1, 0x0010);
    ASSERT_EQ(line_.Read(8, 2000).size(), 8u);
    ReadResult r1 = Get(first);
    ASSERT_FALSE(r1.ok);
    ASSERT_EQ(r1.err, 0xFF);

    // The drive answers the first request late.
    ASSERT_TRUE(line_.Write(WithCrc({0x01, 0x03, 0x02, 0xAA, 0xAA})));
    ASSERT_TRUE(WaitFor([&] { return master_->GetUnmatchedCount() == 1; }, 2000));

    master_->SetOutTime(1000);
    auto second = ReadAsync(1, 0x0011);
    Bytes req = line_.Read(8, 2000);
    ASSERT_EQ(req, WithCrc({0x01, 0x03, 0x00, 0x11, 0x00, 0x01}));
    ASSERT_TRUE(line_.Write(WithCrc({0x01, 0x03, 0x02, 0x0B, 0xBB})));
    ReadResult r2 = Get(second);
    ASSERT_TRUE(r2.ok);
    EXPECT_EQ(r2.Word(), 0x0BBB) << "the late reply of register 0x10 answered the read of 0x11";
}

// The next request is sent only once the line has been quiet after a
// time-out: a reply that comes late, just after the next request would have
// gone out, can no longer be taken as that request's answer.
TEST_F(RegMasterWire, NextRequestWaitsForAQuietLineAfterATimeOut)
{
    master_->SetOutTime(200);
    auto first = ReadAsync(1, 0x0010);
    ASSERT_EQ(line_.Read(8, 2000).size(), 8u);
    ASSERT_FALSE(Get(first).ok);

    auto second = ReadAsync(1, 0x0011);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    // The first request's reply, late: the second request must not be on
    // the line yet to take it.
    ASSERT_TRUE(line_.Write(WithCrc({0x01, 0x03, 0x02, 0xAA, 0xAA})));
    Bytes req = line_.Read(8, 3000);
    ASSERT_EQ(req, WithCrc({0x01, 0x03, 0x00, 0x11, 0x00, 0x01}));
    ASSERT_TRUE(line_.Write(WithCrc({0x01, 0x03, 0x02, 0x0B, 0xBB})));
    ReadResult r2 = Get(second);
    ASSERT_TRUE(r2.ok);
    EXPECT_EQ(r2.Word(), 0x0BBB) << "a late reply answered the next read";
    EXPECT_EQ(master_->GetUnmatchedCount(), 1);
}

// A late reply names its station: after a silent station timed out, a
// request to another station goes out without waiting for a quiet line (so
// a silent station on a bus costs one time-out), the silent one's late
// reply is not taken for its answer, and the next request to the silent
// station still waits.
TEST_F(RegMasterWire, RequestToAnotherStationDoesNotWaitAfterATimeOut)
{
    master_->SetOutTime(200);
    auto silent = WriteAsync(2, 0x0055, 0x00, 0x01);
    ASSERT_EQ(line_.Read(8, 2000).size(), 8u);
    ASSERT_FALSE(Get(silent).ok);

    // A quiet-line wait would hold the request back for 5 s.
    master_->SetOutTime(5000);
    auto other = WriteAsync(3, 0x0055, 0x00, 0x01);
    Bytes req = line_.Read(8, 2500);
    ASSERT_EQ(req, WithCrc({0x03, 0x06, 0x00, 0x55, 0x00, 0x01}));
    ASSERT_TRUE(line_.Write(WithCrc({0x02, 0x06, 0x00, 0x55, 0x00, 0x01})));
    ASSERT_TRUE(WaitFor([&] { return master_->GetUnmatchedCount() == 1; }, 2000));
    EXPECT_EQ(other.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);
    ASSERT_TRUE(line_.Write(req));
    EXPECT_TRUE(Get(other).ok);

    master_->SetOutTime(1500);
    auto again = WriteAsync(2, 0x0055, 0x00, 0x01);
    EXPECT_TRUE(line_.Quiet(1000)) << "the silent station was asked again without a quiet line";
    EXPECT_EQ(line_.Read(8, 3000).size(), 8u);
    EXPECT_FALSE(Get(again).ok);
}

// Closing the link while a read waits for its reply ends the read at once
// (as a time-out) and frees nothing the read still uses.
TEST_F(RegMasterWire, CloseDuringARequestEndsItPromptly)
{
    master_->SetOutTime(8000);
    auto f = ReadAsync(1, 0x0030);
    ASSERT_EQ(line_.Read(8, 2000).size(), 8u);
    const auto start = Clock::now();
    CloseLink(link_);
    ReadResult r = Get(f, 3000);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.err, 0xFF);
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count(), 3000);
    EXPECT_EQ(GetModbus(), nullptr);
}

TEST_F(RegMasterWire, LateReplyArrivingDuringAWriteIsIgnored)
{
    master_->SetOutTime(200);
    auto first = ReadAsync(1, 0x0010);
    ASSERT_EQ(line_.Read(8, 2000).size(), 8u);
    ASSERT_FALSE(Get(first).ok);

    // After the time-out the write waits for a quiet line (its own reply
    // time-out) before it goes out.
    master_->SetOutTime(1500);
    auto w = WriteAsync(1, 0x0020, 0x00, 0x05);
    Bytes req = line_.Read(8, 5000);
    ASSERT_EQ(req.size(), 8u);
    // The late read reply shows up while the write waits: other function.
    ASSERT_TRUE(line_.Write(WithCrc({0x01, 0x03, 0x02, 0xAA, 0xAA})));
    ASSERT_TRUE(WaitFor([&] { return master_->GetUnmatchedCount() == 1; }, 2000));
    EXPECT_EQ(w.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);
    ASSERT_TRUE(line_.Write(req));
    EXPECT_TRUE(Get(w).ok);
}

TEST_F(RegMasterWire, EchoOfAnotherRegisterOrStationIsIgnored)
{
    master_->SetOutTime(2000);
    auto w = WriteAsync(1, 0x0020, 0x00, 0x05);
    Bytes req = line_.Read(8, 2000);
    ASSERT_EQ(req.size(), 8u);
    ASSERT_TRUE(line_.Write(WithCrc({0x01, 0x06, 0x00, 0x21, 0x00, 0x05})));
    ASSERT_TRUE(WaitFor([&] { return master_->GetUnmatchedCount() == 1; }, 2000));
    ASSERT_TRUE(line_.Write(WithCrc({0x02, 0x06, 0x00, 0x20, 0x00, 0x05})));
    ASSERT_TRUE(WaitFor([&] { return master_->GetUnmatchedCount() == 2; }, 2000));
    ASSERT_TRUE(line_.Write(WithCrc({0x02, 0x86, 0x02})));
    ASSERT_TRUE(WaitFor([&] { return master_->GetUnmatchedCount() == 3; }, 2000));
    EXPECT_EQ(w.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);
    ASSERT_TRUE(line_.Write(req));
    WriteResult r = Get(w);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.err, 0);
}

TEST_F(RegMasterWire, RequestsDoNotOverlap)
{
    // Two callers at once: the second request goes out only after the first
    // has its answer, and each gets its own value.
    auto a = ReadAsync(1, 0x0030);
    Bytes reqA = line_.Read(8, 2000);
    ASSERT_EQ(reqA.size(), 8u);
    auto b = ReadAsync(1, 0x0031);
    EXPECT_TRUE(line_.Quiet(100)) << "a second request went out while the first was waiting";
    ASSERT_TRUE(line_.Write(WithCrc({0x01, 0x03, 0x02, 0x00, reqA[3]})));
    Bytes reqB = line_.Read(8, 2000);
    ASSERT_EQ(reqB.size(), 8u);
    ASSERT_TRUE(line_.Write(WithCrc({0x01, 0x03, 0x02, 0x00, reqB[3]})));
    EXPECT_EQ(Get(a).Word(), 0x30);
    EXPECT_EQ(Get(b).Word(), 0x31);
}

TEST_F(RegMasterWire, GarbledLineThenAValidReply)
{
    master_->SetOutTime(300);
    // Line noise in bursts while a request waits: no frame, no crash, a
    // time-out; the buffer overflow rule clears the junk.
    uint32_t seed = 12345;
    auto next = [&] {
        seed = seed * 1103515245u + 12345u;
        return static_cast<uint8_t>(seed >> 16);
    };
    auto f = ReadAsync(1, 0x0040);
    ASSERT_EQ(line_.Read(8, 2000).size(), 8u);
    for (int burst = 0; burst < 6; ++burst)
    {
        Bytes noise(200);
        for (uint8_t& b : noise)
            b = next();
        ASSERT_TRUE(line_.Write(noise));
    }
    ReadResult r = Get(f);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.err, 0xFF);

    // What is left of the junk may swallow one more reply (the engine keeps
    // up to 512 bytes); a caller's retry gets through.
    master_->SetOutTime(500);
    bool done = false;
    for (int attempt = 0; attempt < 2 && !done; ++attempt)
    {
        auto g = ReadAsync(1, 0x0041);
        ASSERT_EQ(line_.Read(8, 2000).size(), 8u);
        ASSERT_TRUE(line_.Write(WithCrc({0x01, 0x03, 0x02, 0x44, 0x41})));
        ReadResult again = Get(g);
        if (again.ok)
        {
            EXPECT_EQ(again.Word(), 0x4441);
            done = true;
        }
        else
            EXPECT_EQ(again.err, 0xFF);
    }
    EXPECT_TRUE(done) << "the link did not recover from the noise";
}

// The frame finder's limits, on buffers made by hand.
TEST(RegMasterFrameFinder, ShapesAndLimits)
{
    CRegMasterExplain finder;
    int len = 99;

    Bytes four = {0x01, 0x03, 0x02, 0x00};
    finder.FindFrame(reinterpret_cast<const char*>(four.data()), 4, &len);
    EXPECT_EQ(len, 0) << "fewer than 5 bytes: wait";

    Bytes noise(513, 0x5A);
    finder.FindFrame(reinterpret_cast<const char*>(noise.data()), 513, &len);
    EXPECT_LT(len, 0) << "more than 512 bytes without a frame: discard";
    finder.FindFrame(reinterpret_cast<const char*>(noise.data()), 512, &len);
    EXPECT_EQ(len, 0) << "up to 512 bytes are kept";

    Bytes exc = {0x33};
    Bytes e = WithCrc({0x01, 0x83, 0x02});
    exc.insert(exc.end(), e.begin(), e.end());
    int at = finder.FindFrame(reinterpret_cast<const char*>(exc.data()), static_cast<int>(exc.size()), &len);
    EXPECT_EQ(at, 1);
    EXPECT_EQ(len, 5);

    Bytes reply = WithCrc({0x07, 0x03, 0x04, 0x01, 0x02, 0x03, 0x04});
    at = finder.FindFrame(reinterpret_cast<const char*>(reply.data()), static_cast<int>(reply.size()), &len);
    EXPECT_EQ(at, 0);
    EXPECT_EQ(len, 9);
    // The same frame one byte short is not a frame yet.
    finder.FindFrame(reinterpret_cast<const char*>(reply.data()), static_cast<int>(reply.size()) - 1, &len);
    EXPECT_EQ(len, 0);

    Bytes echo = WithCrc({0x01, 0x06, 0x00, 0x55, 0x00, 0x01});
    at = finder.FindFrame(reinterpret_cast<const char*>(echo.data()), 8, &len);
    EXPECT_EQ(at, 0);
    EXPECT_EQ(len, 8);
}

TEST(RegMasterFrameFinder, NeverPointsPastTheBytesGiven)
{
    CRegMasterExplain finder;
    uint32_t seed = 777;
    Bytes buf(600);
    for (int round = 0; round < 20000; ++round)
    {
        seed = seed * 1664525u + 1013904223u;
        int length = static_cast<int>(seed % 601);
        for (int i = 0; i < length; ++i)
        {
            seed = seed * 1664525u + 1013904223u;
            // Few distinct byte values make accidental shapes likely.
            buf[i] = static_cast<uint8_t>((seed >> 24) % 8 == 0 ? 0x06 : (seed >> 20) & 0x8F);
        }
        int frameLength = 0;
        int at = finder.FindFrame(reinterpret_cast<const char*>(buf.data()), length, &frameLength);
        if (frameLength > 0)
        {
            ASSERT_GE(at, 0);
            ASSERT_GE(frameLength, 5);
            ASSERT_LE(at + frameLength, length) << "round " << round;
        }
        else if (length > 512)
        {
            ASSERT_LT(frameLength, 0);
        }
    }
}

}  // namespace
