// The engine's timer keeps its pace when the time of day jumps: its ticks
// are counted on the monotonic clock (WallClockJump.h puts the program's
// wall clock an hour ahead of the kernel's).
#include "TestUtil.h"
#include "WallClockJump.h"

#include "CLinkCore.h"

#include <mutex>
#include <vector>

using namespace lctest;

namespace {

class TickCounter : public CLinkCore
{
public:
    TickCounter() : CLinkCore(_PROTOCOLID()) {}
    bool ProcessUpFrame(const char*, int, int) override { return true; }
    bool HandleTimer(unsigned int id) override
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_calls.push_back(NowMs());
        return CLinkCore::HandleTimer(id);
    }
    std::vector<long long> Calls()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_calls;
    }

private:
    std::mutex m_lock;
    std::vector<long long> m_calls;
};

class ClockJump : public LinkCoreTest
{
};

}  // namespace

TEST_F(ClockJump, TimerKeepsItsPaceWhenTheTimeOfDayJumps)
{
    ASSERT_TRUE(wallclockjump::InForce());
    TickCounter engine;
    testing::internal::CaptureStderr();
    ASSERT_TRUE(engine.Initialize());
    testing::internal::GetCapturedStderr();
    const long long started = NowMs();
    // Once a second; a wall-clock wait would not tick for an hour.
    EXPECT_TRUE(WaitFor([&] { return engine.Calls().size() >= 2; }, 5000));
    const std::vector<long long> calls = engine.Calls();
    if (calls.size() >= 2)
    {
        EXPECT_GE(calls[0] - started, 800);
        EXPECT_LE(calls[1] - calls[0], 1500);
    }
    const long long before = NowMs();
    engine.UnInit();
    EXPECT_LT(NowMs() - before, 1000) << "the timer thread must end at once";
}
