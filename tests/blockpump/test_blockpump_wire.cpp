// BlockPump on the wire: the test plays the bootloader on the far side of a
// pseudo-terminal, reads the bytes exactly as sent and answers in chunks,
// late, too much, or not at all.
#include <gtest/gtest.h>

#include <future>

#include "BlockPump.h"
#include "PtyKit.h"

using namespace ptykit;
typedef std::vector<uint8_t> Bytes;

namespace {

struct Reply
{
    bool ok = false;
    uint8_t bytes[BLOCKPUMP_REPLY_SIZE] = {0};
    uint8_t length = 0;
    uint8_t err = 0;
    long elapsedMs = 0;
    Bytes Got() const { return Bytes(bytes, bytes + length); }
    std::string Text() const { return std::string(reinterpret_cast<const char*>(bytes), length); }
};

Bytes Ascii(const std::string& s)
{
    return Bytes(s.begin(), s.end());
}

// The frame of one block: header, 128 data bytes, CRC high and low.
Bytes Frame(uint8_t number, const Bytes& data128, uint8_t crcHigh, uint8_t crcLow)
{
    Bytes f;
    f.reserve(133);
    f.push_back(0x01);
    f.push_back(number);
    f.push_back(static_cast<uint8_t>(~number));
    for (uint8_t b : data128)
        f.push_back(b);
    f.push_back(crcHigh);
    f.push_back(crcLow);
    return f;
}

class BlockPumpWire : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.ok());
        ASSERT_TRUE(line_.ok());
        ASSERT_EQ(GetXModem(), nullptr) << "no instance before the first link";
        ASSERT_TRUE(OpenLink(link_, 1, line_.path(), "BlockPump"));
        pump_ = GetXModem();
        ASSERT_NE(pump_, nullptr);
    }
    void TearDown() override
    {
        CloseLink(link_);
        EXPECT_EQ(GetXModem(), nullptr) << "the getter must not outlive its instance";
    }

    std::future<Reply> CmdAsync(const std::string& cmd, bool longTime = false)
    {
        return std::async(std::launch::async, [=] {
            Reply r;
            Clock::time_point start = Clock::now();
            if (longTime)
                r.ok = pump_->ProcCmdLongTime(cmd.data(), static_cast<int>(cmd.size()), r.bytes, &r.length, &r.err);
            else
                r.ok = pump_->ProcCmd(cmd.data(), static_cast<int>(cmd.size()), r.bytes, &r.length, &r.err);
            r.elapsedMs = ElapsedMs(start);
            return r;
        });
    }
    std::future<Reply> BlockAsync(const Bytes& data, int number)
    {
        return std::async(std::launch::async, [=] {
            Reply r;
            Clock::time_point start = Clock::now();
            r.ok = pump_->ProcData(reinterpret_cast<const char*>(data.data()), static_cast<int>(data.size()), number,
                                   r.bytes, &r.length, &r.err);
            r.elapsedMs = ElapsedMs(start);
            return r;
        });
    }
    Reply Get(std::future<Reply>& f, int timeoutMs = 15000)
    {
        EXPECT_EQ(f.wait_for(std::chrono::milliseconds(timeoutMs)), std::future_status::ready);
        return f.get();
    }

    ScratchDir dir_;
    PtyPair line_;
    CProtocolTemplate link_;
    CBlockPump* pump_ = nullptr;
};

TEST_F(BlockPumpWire, LoadedByNameWithItsDefaults)
{
    EXPECT_EQ(static_cast<CLinkCore*>(pump_), link_.GetInterface()->GetInstance());
    ASSERT_NE(link_.GetInterface()->GetLibraryPath(), nullptr);
    EXPECT_NE(std::string(link_.GetInterface()->GetLibraryPath()).find("libBlockPump.so"), std::string::npos);
    EXPECT_EQ(pump_->GetOutTime(), 1000);
    EXPECT_EQ(pump_->GetCmdBay(), 200);
    EXPECT_EQ(pump_->IsFastRecv(), PTYKIT_FAST_RECV != 0) << "the receive mode is learnt from the channel";
}

TEST_F(BlockPumpWire, BlockOneShortDataPaddedWithZeros)
{
    auto f = BlockAsync(Bytes{0x31, 0x32, 0x33}, 1);
    Bytes data(128, 0x00);
    data[0] = 0x31;
    data[1] = 0x32;
    data[2] = 0x33;
    EXPECT_EQ(line_.Read(133, 2000), Frame(0x01, data, 0xCA, 0xFC));
    ASSERT_TRUE(line_.Write(Bytes{0x06}));
    Reply r = Get(f);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.Got(), Bytes{0x06});
}

TEST_F(BlockPumpWire, BlockNumbers255And256)
{
    Bytes data(128);
    for (int i = 0; i < 128; ++i)
        data[i] = static_cast<uint8_t>(i);

    auto f = BlockAsync(data, 255);
    EXPECT_EQ(line_.Read(133, 2000), Frame(0xFF, data, 0xE8, 0x0A));
    ASSERT_TRUE(line_.Write(Bytes{0x06}));
    EXPECT_TRUE(Get(f).ok);

    auto g = BlockAsync(data, 256);
    EXPECT_EQ(line_.Read(133, 2000), Frame(0x00, data, 0xE8, 0x0A));
    ASSERT_TRUE(line_.Write(Bytes{0x15}));
    Reply r = Get(g);
    ASSERT_TRUE(r.ok) << "a NAK is a reply; judging it is the caller's task";
    EXPECT_EQ(r.Got(), Bytes{0x15});
}

TEST_F(BlockPumpWire, AllZeroBlockGoesOutWith1AAndItsCrc)
{
    auto f = BlockAsync(Bytes(128, 0x00), 3);
    Bytes data(128, 0x00);
    data[127] = 0x1A;
    EXPECT_EQ(line_.Read(133, 2000), Frame(0x03, data, 0xB3, 0x7B));
    ASSERT_TRUE(line_.Write(Bytes{0x06}));
    EXPECT_TRUE(Get(f).ok);

    // SendData builds the same frame and does not wait.
    ASSERT_TRUE(pump_->SendData(nullptr, 0, 3));
    EXPECT_EQ(line_.Read(133, 2000), Frame(0x03, data, 0xB3, 0x7B));
}

TEST_F(BlockPumpWire, CommandBytesGoOutAsGiven)
{
    auto f = CmdAsync("VKR pm reset\n");
    EXPECT_EQ(line_.Read(13, 2000), Ascii("VKR pm reset\n"));
    EXPECT_TRUE(line_.Quiet(50)) << "nothing but the command line is sent";
    ASSERT_TRUE(line_.Write(Ascii("RedBoot> ")));
    Reply r = Get(f);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.Text(), "RedBoot> ");
    EXPECT_EQ(r.bytes[r.length], 0) << "a text reply comes back NUL-terminated";
}

TEST_F(BlockPumpWire, ReplyInChunksWithinTheGapIsOneReply)
{
    pump_->SetCmdBay(1000);
    auto f = CmdAsync("VKR PM version\n");
    ASSERT_EQ(line_.Read(15, 2000), Ascii("VKR PM version\n"));
    // The bootloader prints its answer in parts.
    ASSERT_TRUE(line_.Write(Ascii("Version: 2.07\r\n")));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_TRUE(line_.Write(Ascii("EE locked = 1\r\n")));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_TRUE(line_.Write(Ascii("RedBoot> ")));
    Reply r = Get(f);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.Text(), "Version: 2.07\r\nEE locked = 1\r\nRedBoot> ");
    EXPECT_GE(r.elapsedMs, 1000);
}

TEST_F(BlockPumpWire, ChunkAfterTheWakeBelongsToNoExchange)
{
    pump_->SetCmdBay(0);
    auto f = CmdAsync("VKR pm write_ee -a 0x600 -d 0065\n");
    ASSERT_EQ(line_.Read(33, 2000).size(), 33u);
    ASSERT_TRUE(line_.Write(Ascii("OK")));
    Reply first = Get(f);
    ASSERT_TRUE(first.ok);
    EXPECT_EQ(first.Text(), "OK");

    ASSERT_TRUE(line_.Write(Ascii("\r\nRedBoot> ")));
    ASSERT_TRUE(WaitFor([&] { return pump_->GetStrayBytes() == 11; }, 2000));

    auto g = CmdAsync("VKR pm reset\n");
    ASSERT_EQ(line_.Read(13, 2000).size(), 13u);
    ASSERT_TRUE(line_.Write(Ascii("reset")));
    Reply second = Get(g);
    ASSERT_TRUE(second.ok);
    EXPECT_EQ(second.Text(), "reset");
}

// A block's reply is its byte: the wait ends when the ACK is in, not at the
// time-out, and a NAK comes back the same way.
TEST_F(BlockPumpWire, BlockReplyIsTakenWhenItsByteIsIn)
{
    pump_->SetOutTime(5000);
    auto f = BlockAsync(Bytes(128, 0x44), 4);
    ASSERT_EQ(line_.Read(133, 2000).size(), 133u);
    ASSERT_TRUE(line_.Write(Bytes{0x06}));
    ASSERT_EQ(f.wait_for(std::chrono::milliseconds(2500)), std::future_status::ready) << "the ACK did not end the wait";
    Reply ack = f.get();
    ASSERT_TRUE(ack.ok);
    EXPECT_EQ(ack.Got(), Bytes{0x06});

    auto g = BlockAsync(Bytes(128, 0x55), 5);
    ASSERT_EQ(line_.Read(133, 2000).size(), 133u);
    ASSERT_TRUE(line_.Write(Bytes{0x15}));
    ASSERT_EQ(g.wait_for(std::chrono::milliseconds(2500)), std::future_status::ready) << "the NAK did not end the wait";
    Reply nak = g.get();
    ASSERT_TRUE(nak.ok);
    EXPECT_EQ(nak.Got(), Bytes{0x15});
}

#if PTYKIT_FAST_RECV
// The fast receive takes the bootloader's output in as many chunks as it
// pauses: a command reply is still handed back whole, up to its prompt.
TEST_F(BlockPumpWire, FastCommandReplyIsGatheredUpToThePrompt)
{
    pump_->SetCmdBay(0);
    pump_->SetOutTime(3000);
    auto f = CmdAsync("VKR PM version\n");
    ASSERT_EQ(line_.Read(15, 2000), Ascii("VKR PM version\n"));
    ASSERT_TRUE(line_.Write(Ascii("Version: 2.07\r\n")));
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    ASSERT_TRUE(line_.Write(Ascii("EE locked = 1\r\n")));
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    ASSERT_TRUE(line_.Write(Ascii("RedBoot> ")));
    Reply r = Get(f);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.Text(), "Version: 2.07\r\nEE locked = 1\r\nRedBoot> ");
    EXPECT_LT(r.elapsedMs, 3000) << "the prompt ends the reply";
}

// A reply without the prompt ("flash loading...") ends once the line has
// gone quiet, not at the time-out; what comes after it belongs to no
// exchange.
TEST_F(BlockPumpWire, FastReplyWithoutPromptEndsOnAQuietLine)
{
    pump_->SetCmdBay(0);
    pump_->SetOutTime(3000);
    auto f = CmdAsync("VKR pm load -a 0x08008000\n");
    ASSERT_EQ(line_.Read(26, 2000).size(), 26u);
    ASSERT_TRUE(line_.Write(Ascii("flash loading...\r\n")));
    Reply r = Get(f);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.Text(), "flash loading...\r\n");
    EXPECT_LT(r.elapsedMs, 3000);
    ASSERT_TRUE(line_.Write(Ascii("C")));
    EXPECT_TRUE(WaitFor([&] { return pump_->GetStrayBytes() == 1; }, 2000));
}
#endif

// A late ACK must not answer the next block: that would shift every ACK by
// one and let a refused block count as accepted.
TEST_F(BlockPumpWire, LateAckDoesNotAnswerTheNextBlock)
{
    pump_->SetOutTime(200);
    auto f = BlockAsync(Bytes(128, 0x11), 1);
    ASSERT_EQ(line_.Read(133, 2000).size(), 133u);
    Reply first = Get(f);
    EXPECT_FALSE(first.ok);
    EXPECT_EQ(first.err, 0xFF);

    ASSERT_TRUE(line_.Write(Bytes{0x06}));   // block 1 acknowledged too late
    ASSERT_TRUE(WaitFor([&] { return pump_->GetStrayBytes() == 1; }, 2000));

    // Sent once the line has been quiet for the reply time-out.
    pump_->SetOutTime(1500);
    auto g = BlockAsync(Bytes(128, 0x22), 2);
    Bytes frame = line_.Read(133, 5000);
    ASSERT_EQ(frame.size(), 133u);
    EXPECT_EQ(frame[1], 2);
    ASSERT_TRUE(line_.Write(Bytes{0x15}));   // block 2 refused
    Reply second = Get(g);
    ASSERT_TRUE(second.ok);
    EXPECT_EQ(second.Got(), Bytes{0x15}) << "block 2 took the late ACK of block 1";
}

// A block resent after a time-out goes out only once the line has been
// quiet: the earlier send's late ACK cannot count for the resend, whose own
// refusal is what the caller gets.
TEST_F(BlockPumpWire, ResendWaitsForAQuietLineAfterATimeOut)
{
    pump_->SetOutTime(200);
    auto f = BlockAsync(Bytes(128, 0x33), 7);
    ASSERT_EQ(line_.Read(133, 2000).size(), 133u);
    EXPECT_FALSE(Get(f).ok);

    auto g = BlockAsync(Bytes(128, 0x33), 7);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_TRUE(line_.Write(Bytes{0x06}));   // the first send's ACK, late
    Bytes frame = line_.Read(133, 3000);
    ASSERT_EQ(frame.size(), 133u);
    EXPECT_EQ(frame[1], 7);
    ASSERT_TRUE(line_.Write(Bytes{0x15}));   // the resend is refused
    Reply second = Get(g);
    ASSERT_TRUE(second.ok);
    EXPECT_EQ(second.Got(), Bytes{0x15}) << "the resend took the late ACK of the first send";
}

// Closing the boot link during a long command (the erase's ten-second gap)
// ends the command at once instead of after its gap and time-out.
TEST_F(BlockPumpWire, CloseDuringALongCommandEndsItPromptly)
{
    pump_->SetOutTime(2000);
    auto f = CmdAsync("VKR pm erase\n", true);
    ASSERT_EQ(line_.Read(13, 2000).size(), 13u);
    const auto start = Clock::now();
    CloseLink(link_);
    Reply r = Get(f, 4000);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.err, 0xFF);
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count(), 4000);
}

TEST_F(BlockPumpWire, SilenceTimesOutAfterGapAndTimeOut)
{
    pump_->SetOutTime(300);
    auto f = CmdAsync("VKR PM version\n");
    ASSERT_EQ(line_.Read(15, 2000).size(), 15u);
    Reply r = Get(f);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.err, 0xFF);
    EXPECT_GE(r.elapsedMs, 200 + 300);

    auto g = BlockAsync(Bytes{1, 2, 3}, 9);
    ASSERT_EQ(line_.Read(133, 2000).size(), 133u);
    Reply b = Get(g);
    EXPECT_FALSE(b.ok);
    EXPECT_EQ(b.err, 0xFF);
    EXPECT_GE(b.elapsedMs, 300);
}

TEST_F(BlockPumpWire, StatusEventDuringAWaitDoesNotWakeIt)
{
    pump_->SetCmdBay(0);
    pump_->SetOutTime(400);
    auto f = CmdAsync("VKR PM version\n");
    ASSERT_EQ(line_.Read(15, 2000).size(), 15u);
    // The channel reports an event (as it does when the port opens) while
    // the exchange waits: the link is reported lost, the waiter sleeps on.
    pump_->ReadFrChannel(nullptr, 0, 100);
    Reply r = Get(f);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.err, 0xFF);
    EXPECT_GE(r.elapsedMs, 400);
}

TEST_F(BlockPumpWire, ReplyIsCutAt255Bytes)
{
    pump_->SetCmdBay(300);
    auto f = CmdAsync("VKR pm dump\n");
    ASSERT_EQ(line_.Read(12, 2000).size(), 12u);
    Bytes big(300);
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<uint8_t>('A' + i % 26);
    ASSERT_TRUE(line_.Write(big));
    Reply r = Get(f);
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(r.length, 255);
    EXPECT_EQ(r.Got(), Bytes(big.begin(), big.begin() + 255));
    EXPECT_EQ(r.bytes[255], 0);
}

// The flash erase waits ten seconds whatever the bootloader does meanwhile.
TEST_F(BlockPumpWire, SlowLongCommandNeverReturnsBeforeTenSeconds)
{
    auto f = CmdAsync("VKR pm flash_block_erase -s 2 -e 7\n", true);
    ASSERT_EQ(line_.Read(35, 2000), Ascii("VKR pm flash_block_erase -s 2 -e 7\n"));
    ASSERT_TRUE(line_.Write(Ascii("OK\r\n")));
    Reply r = Get(f, 20000);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.Text(), "OK\r\n");
    EXPECT_GE(r.elapsedMs, 10000);
}

}  // namespace
