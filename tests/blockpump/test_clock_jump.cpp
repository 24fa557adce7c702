// Reply time-outs of both plug-ins end on time when the time of day jumps:
// they are measured on the monotonic clock (WallClockJump.h puts this
// program's wall clock an hour ahead of the kernel's, as if the clock had
// been set back an hour just after each wait took its deadline).
#include <gtest/gtest.h>

#include <future>

#include "BlockPump.h"
#include "PtyKit.h"
#include "RegMaster.h"
#include "WallClockJump.h"

using namespace ptykit;

namespace {

// Waits for a request that nobody answers; a wait that is still blocked
// after the bound is reported and then ended by closing the link, which
// wakes every waiter.
class ClockJump : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(wallclockjump::InForce());
        ASSERT_TRUE(dir_.ok());
        ASSERT_TRUE(line_.ok());
    }
    void TearDown() override { CloseLink(link_); }

    template <class T>
    bool EndsWithin(std::future<T>& f, int ms)
    {
        if (f.wait_for(std::chrono::milliseconds(ms)) == std::future_status::ready)
            return true;
        CloseLink(link_);   // wakes the waiter, so the future can be left
        f.wait();
        return false;
    }

    ScratchDir dir_;
    PtyPair line_;
    CProtocolTemplate link_;
};

}  // namespace

TEST_F(ClockJump, RegisterReadTimesOutOnTime)
{
    ASSERT_TRUE(OpenLink(link_, 1, line_.path(), "RegMaster"));
    CRegMaster* master = GetModbus();
    ASSERT_NE(master, nullptr);
    master->SetOutTime(300);
    auto read = std::async(std::launch::async, [=] {
        uint8_t value[2] = {0, 0};
        uint8_t err = 0;
        const Clock::time_point start = Clock::now();
        const bool ok = master->ProcRead(1, 0x0001, value, &err);
        return std::make_tuple(ok, err, ElapsedMs(start));
    });
    EXPECT_EQ(line_.Read(8, 2000).size(), 8u);
    ASSERT_TRUE(EndsWithin(read, 5000)) << "the read waited on the wall clock";
    auto [ok, err, elapsed] = read.get();
    EXPECT_FALSE(ok);
    EXPECT_EQ(err, 0xFF);
    EXPECT_GE(elapsed, 250);
}

TEST_F(ClockJump, BootloaderCommandAndBlockTimeOutOnTime)
{
    ASSERT_TRUE(OpenLink(link_, 1, line_.path(), "BlockPump"));
    CBlockPump* pump = GetXModem();
    ASSERT_NE(pump, nullptr);
    pump->SetOutTime(300);
    auto command = std::async(std::launch::async, [=] {
        uint8_t reply[BLOCKPUMP_REPLY_SIZE] = {0};
        uint8_t length = 0, err = 0;
        const Clock::time_point start = Clock::now();
        const bool ok = pump->ProcCmd("VKR PM version\n", 15, reply, &length, &err);
        return std::make_tuple(ok, err, ElapsedMs(start));
    });
    EXPECT_EQ(line_.Read(15, 2000).size(), 15u);
    ASSERT_TRUE(EndsWithin(command, 5000)) << "the command waited on the wall clock";
    auto [ok, err, elapsed] = command.get();
    EXPECT_FALSE(ok);
    EXPECT_EQ(err, 0xFF);
    EXPECT_GE(elapsed, 250);

    auto block = std::async(std::launch::async, [=] {
        uint8_t data[3] = {1, 2, 3};
        uint8_t reply[BLOCKPUMP_REPLY_SIZE] = {0};
        uint8_t length = 0, err = 0;
        return pump->ProcData(reinterpret_cast<const char*>(data), 3, 1, reply, &length, &err);
    });
    EXPECT_EQ(line_.Read(133, 2000).size(), 133u);
    ASSERT_TRUE(EndsWithin(block, 5000)) << "the block waited on the wall clock";
    EXPECT_FALSE(block.get());
}
