// Register addressing, the conversions between register words and values
// (with the range rule for writes), and the batch loop's retry and stop
// rules, in memory and against a simulated drive.
#include "BatchLoop.h"
#include "DeviceConnection.h"
#include "DevicePlugins.h"
#include "LinkTestUtil.h"
#include "ParamTable.h"
#include "RegisterAccess.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace regaccess;

namespace {

ParamRecord Record(int address, int exponent, double minValue)
{
    ParamRecord r;
    r.address = address;
    r.exponent = exponent;
    r.minValue = minValue;
    r.maxValue = 65535;
    return r;
}

// Counts the calls that would reach the wire.
class CountingPort : public CRegisterPort {
public:
    bool ProcRead(uint8_t, uint16_t reg, uint8_t* value, uint8_t*) override
    {
        ++reads;
        lastReg = reg;
        value[0] = static_cast<uint8_t>(word & 0xFF);
        value[1] = static_cast<uint8_t>(word >> 8);
        return true;
    }
    bool ProcWrite(uint8_t station, uint16_t reg, uint8_t* value, uint8_t*) override
    {
        ++writes;
        lastStation = station;
        lastReg = reg;
        hi = value[0];
        lo = value[1];
        return true;
    }
    int reads = 0, writes = 0;
    uint16_t word = 0;
    uint16_t lastReg = 0;
    uint8_t lastStation = 0, hi = 0, lo = 0;
};

}  // namespace

TEST(RegisterAddressing, RegisterIsAddressMinusOneModulo65536)
{
    EXPECT_EQ(RegisterOf(Record(1, 0, 0)), 0);
    EXPECT_EQ(RegisterOf(Record(0, 0, 0)), 65535);
    EXPECT_EQ(RegisterOf(Record(0x0101, 0, 0)), 0x0100);
    EXPECT_EQ(RegisterOf(Record(65537, 0, 0)), 0);
}

TEST(RegisterAddressing, StationIsDecimalTextCutToEightBits)
{
    EXPECT_EQ(StationOf(L"1"), 1);
    EXPECT_EQ(StationOf(L"247"), 247);
    EXPECT_EQ(StationOf(L"abc"), 0);
    EXPECT_EQ(StationOf(L"257"), 1);
    EXPECT_EQ(StationOf(L""), 0);
}

TEST(ReadConversion, SignednessFollowsMinValueAndExponentScales)
{
    EXPECT_DOUBLE_EQ(WordToValue(0xFFF6, Record(1, -1, -100)), -1.0);
    EXPECT_NEAR(WordToValue(0xFFF6, Record(1, -1, 0)), 6552.6, 1e-9);
    EXPECT_NEAR(WordToValue(1234, Record(1, -2, 0)), 12.34, 1e-12);
    EXPECT_NEAR(WordToValue(1234, Record(1, -3, 0)), 1.234, 1e-12);
    EXPECT_DOUBLE_EQ(WordToValue(1234, Record(1, 1, 0)), 1234.0);   // other exponents: unscaled
    EXPECT_DOUBLE_EQ(WordToValue(0x8000, Record(1, 0, -1)), -32768.0);
    EXPECT_DOUBLE_EQ(WordToValue(0x8000, Record(1, 0, 0)), 32768.0);
}

TEST(WriteConversion, ScalesRoundsAndSendsHighByteFirst)
{
    CountingPort port;
    uint8_t err = 0xAA;
    ASSERT_TRUE(WriteValue(port, 1, Record(5, -2, 0), 12.34, &err));
    EXPECT_EQ(port.lastReg, 4);
    EXPECT_EQ(port.hi, 0x04);
    EXPECT_EQ(port.lo, 0xD2);

    // -1 into a signed register.
    ASSERT_TRUE(WriteValue(port, 1, Record(5, 0, -10), -1, &err));
    EXPECT_EQ(port.hi, 0xFF);
    EXPECT_EQ(port.lo, 0xFF);

    uint16_t w = 0;
    EXPECT_TRUE(ValueToWord(2.5, Record(1, 0, 0), &w));
    EXPECT_EQ(w, 3);  // halves round away from zero
    EXPECT_TRUE(ValueToWord(-2.5, Record(1, 0, -5), &w));
    EXPECT_EQ(w, static_cast<uint16_t>(-3));
    EXPECT_TRUE(ValueToWord(0.0049, Record(1, -2, 0), &w));
    EXPECT_EQ(w, 0);
}

TEST(WriteConversion, ValuesOutsideTheRegisterAreRefused)
{
    uint16_t w = 0;
    const ParamRecord u = Record(1, 0, 0);
    const ParamRecord s = Record(1, 0, -100);
    EXPECT_FALSE(ValueToWord(70000, u, &w));
    EXPECT_FALSE(ValueToWord(-1, u, &w));
    EXPECT_TRUE(ValueToWord(65535, u, &w));
    EXPECT_EQ(w, 65535);
    EXPECT_TRUE(ValueToWord(65535.4, u, &w));
    EXPECT_FALSE(ValueToWord(65535.5, u, &w));
    EXPECT_TRUE(ValueToWord(-0.4, u, &w));  // rounds to 0
    EXPECT_EQ(w, 0);
    EXPECT_FALSE(ValueToWord(-0.5, u, &w));

    EXPECT_TRUE(ValueToWord(32767, s, &w));
    EXPECT_FALSE(ValueToWord(32768, s, &w));
    EXPECT_TRUE(ValueToWord(-32768, s, &w));
    EXPECT_EQ(w, 0x8000);
    EXPECT_FALSE(ValueToWord(-32769, s, &w));
    // The range applies after scaling.
    EXPECT_FALSE(ValueToWord(3276.8, Record(1, -1, -100), &w));
    EXPECT_TRUE(ValueToWord(3276.7, Record(1, -1, -100), &w));
    EXPECT_FALSE(ValueToWord(655.36, Record(1, -2, 0), &w));
    EXPECT_FALSE(ValueToWord(std::nan(""), u, &w));
    EXPECT_FALSE(ValueToWord(INFINITY, u, &w));
    EXPECT_FALSE(ValueToWord(1e12, u, &w));
}

TEST(WriteConversion, RefusedValueSendsNothingAndReportsAnError)
{
    CountingPort port;
    ParamRecord r = Record(0x101, 0, 0);
    r.value = 70000;
    uint8_t err = 0;
    EXPECT_FALSE(WriteRecord(port, 1, r, &err));
    EXPECT_EQ(err, kErrOutOfRange);
    EXPECT_NE(err, 0);
    EXPECT_EQ(port.writes, 0);
}

TEST(ReadRecord, StoresTheConvertedWord)
{
    CountingPort port;
    port.word = 0xFFF6;
    ParamRecord r = Record(0x102, -1, -100);
    uint8_t err = 7;
    ASSERT_TRUE(ReadRecord(port, 3, r, &err));
    EXPECT_EQ(err, 0);
    EXPECT_EQ(port.lastReg, 0x101);
    EXPECT_DOUBLE_EQ(r.value, -1.0);
}

// ---- Batch loop in memory ----

namespace {
struct Trace {
    std::vector<int> attempts, done, givenUp;
};
BatchLoop::Hooks Hooks(Trace& t, std::function<BatchLoop::Attempt(int row, int nth)> outcome)
{
    BatchLoop::Hooks h;
    h.attempt = [&t, outcome](int row) {
        int nth = 0;
        for (int r : t.attempts) nth += r == row;
        t.attempts.push_back(row);
        return outcome(row, nth);
    };
    h.done = [&t](int row) { t.done.push_back(row); };
    h.givenUp = [&t](int row) { t.givenUp.push_back(row); };
    return h;
}
}  // namespace

TEST(BatchLoop, ThreeRowsAllFailingStopAfterNinePasses)
{
    Trace t;
    std::atomic<bool> running{true};
    const BatchLoop::Result r =
        BatchLoop().Run({true, true, true}, running, Hooks(t, [](int, int) { return BatchLoop::Attempt::Failed; }));
    EXPECT_EQ(r.steps, 9);
    EXPECT_EQ(t.attempts, (std::vector<int>{0, 0, 0, 0, 1, 1, 1, 1, 2}));
    EXPECT_EQ(t.givenUp, (std::vector<int>{0, 1}));  // the third row is not reported
    EXPECT_TRUE(t.done.empty());
    EXPECT_EQ(r.nextRow, 2);
    EXPECT_FALSE(r.stopped);
}

TEST(BatchLoop, RetriesUntilSuccessAndResetsTheFailureCount)
{
    Trace t;
    std::atomic<bool> running{true};
    // Row 0 succeeds at its fourth attempt, row 1 at once, row 2 at its second.
    const int failuresOf[] = {3, 0, 1};
    const BatchLoop::Result r = BatchLoop().Run({true, true, true}, running, Hooks(t, [&](int row, int nth) {
        return nth < failuresOf[row] ? BatchLoop::Attempt::Failed : BatchLoop::Attempt::Done;
    }));
    EXPECT_EQ(t.attempts, (std::vector<int>{0, 0, 0, 0, 1, 2, 2}));
    EXPECT_EQ(t.done, (std::vector<int>{0, 1, 2}));
    EXPECT_TRUE(t.givenUp.empty());
    EXPECT_EQ(r.steps, 7);
}

TEST(BatchLoop, FailuresUseUpTheStepBudgetBeforeTheLastRows)
{
    Trace t;
    std::atomic<bool> running{true};
    // Each row needs four attempts: two rows would take 8 passes, the budget is 6.
    const BatchLoop::Result r = BatchLoop().Run({true, true}, running, Hooks(t, [](int, int nth) {
        return nth < 3 ? BatchLoop::Attempt::Failed : BatchLoop::Attempt::Done;
    }));
    EXPECT_EQ(t.done, (std::vector<int>{0}));
    EXPECT_TRUE(t.givenUp.empty());
    EXPECT_EQ(r.steps, 6);
    EXPECT_EQ(r.nextRow, 1);
}

TEST(BatchLoop, UncheckedRowsCostAPassButNoAttempt)
{
    Trace t;
    std::atomic<bool> running{true};
    const BatchLoop::Result r = BatchLoop().Run({false, true, false, true}, running,
                                                Hooks(t, [](int, int) { return BatchLoop::Attempt::Done; }));
    EXPECT_EQ(t.attempts, (std::vector<int>{1, 3}));
    EXPECT_EQ(r.steps, 4);
    EXPECT_EQ(r.nextRow, 4);
}

TEST(BatchLoop, GiveUpNowAndTheFunctionViewsThreeAttempts)
{
    Trace t;
    std::atomic<bool> running{true};
    BatchLoop().Run({true, true}, running,
                    Hooks(t, [](int row, int) { return row == 0 ? BatchLoop::Attempt::GiveUpNow : BatchLoop::Attempt::Done; }));
    EXPECT_EQ(t.attempts, (std::vector<int>{0, 1}));
    EXPECT_EQ(t.givenUp, (std::vector<int>{0}));

    Trace t3;
    BatchLoop(3).Run({true, true}, running, Hooks(t3, [](int, int) { return BatchLoop::Attempt::Failed; }));
    EXPECT_EQ(t3.attempts, (std::vector<int>{0, 0, 0, 1, 1, 1}));
    EXPECT_EQ(t3.givenUp, (std::vector<int>{0, 1}));
}

TEST(BatchLoop, ClearingRunningStopsAfterTheAttemptInProgress)
{
    Trace t;
    std::atomic<bool> running{true};
    auto hooks = Hooks(t, [&running](int row, int) {
        if (row == 1) running = false;  // cancel while row 1 is being transferred
        return BatchLoop::Attempt::Done;
    });
    const BatchLoop::Result r = BatchLoop().Run({true, true, true, true}, running, hooks);
    EXPECT_EQ(t.attempts, (std::vector<int>{0, 1}));
    EXPECT_EQ(t.done, (std::vector<int>{0, 1}));
    EXPECT_TRUE(r.stopped);
}

// ---- Against a simulated drive ----

class RegisterAccessOnDrive : public ::testing::Test {
protected:
    void SetUp() override
    {
        drive_ = std::make_unique<linktest::SimDrive>(2, linktest::NormalDrive());
        ASSERT_TRUE(drive_->ok()) << drive_->error();
        link_ = std::make_unique<DeviceConnection>(std::wstring(), &prompts_);
        link_->settings().COMID = L"2";
        link_->settings().OutTime = L"150";
        ASSERT_TRUE(link_->ConnectNormal());
    }
    void TearDown() override
    {
        link_.reset();
        drive_.reset();
    }
    linktest::RecordingPrompts prompts_;
    std::unique_ptr<linktest::SimDrive> drive_;
    std::unique_ptr<DeviceConnection> link_;
};

TEST_F(RegisterAccessOnDrive, WriteAndReadBackThroughTheRegisterMaster)
{
    ParamRecord r = Record(0x0301, -2, -1000);
    r.value = -12.34;
    uint8_t err = 0;
    ASSERT_TRUE(WriteRecord(ModbusPort(), 1, r, &err)) << int(err);
    uint16_t raw = 0;
    ASSERT_TRUE(drive_->sim().readRegister(0x0300, &raw));
    EXPECT_EQ(raw, static_cast<uint16_t>(-1234));
    r.value = 0;
    ASSERT_TRUE(ReadRecord(ModbusPort(), 1, r, &err));
    EXPECT_NEAR(r.value, -12.34, 1e-9);
}

TEST_F(RegisterAccessOnDrive, OutOfRangeValueNeverReachesTheDrive)
{
    ASSERT_EQ(drive_->sim().writeRegister(0x0300, 1234), 0);
    const long before = drive_->sim().stats().requests;
    ParamRecord r = Record(0x0301, 0, 0);
    r.value = 70000;  // would go out as 4464 if cut to 16 bits
    uint8_t err = 0;
    EXPECT_FALSE(WriteRecord(ModbusPort(), 1, r, &err));
    EXPECT_EQ(err, kErrOutOfRange);
    r.value = -1;  // would go out as 65535
    EXPECT_FALSE(WriteRecord(ModbusPort(), 1, r, &err));
    EXPECT_EQ(drive_->sim().stats().requests, before);
    uint16_t raw = 0;
    ASSERT_TRUE(drive_->sim().readRegister(0x0300, &raw));
    EXPECT_EQ(raw, 1234);
}

TEST_F(RegisterAccessOnDrive, BatchOfThreeFailingRowsMakesNineRequests)
{
    drive_->sim().setFault(drivesim::FaultKind::Exception);
    const long before = drive_->sim().stats().requests;
    std::vector<ParamRecord> rows = {Record(0x0101, 0, 0), Record(0x0102, 0, 0), Record(0x0103, 0, 0)};
    std::vector<int> errors;
    std::vector<int> givenUp;
    std::atomic<bool> running{true};
    BatchLoop::Hooks h;
    h.attempt = [&](int row) {
        uint8_t err = 0;
        if (ReadRecord(ModbusPort(), 1, rows[static_cast<size_t>(row)], &err)) return BatchLoop::Attempt::Done;
        errors.push_back(err);
        return BatchLoop::Attempt::Failed;
    };
    h.givenUp = [&](int row) { givenUp.push_back(row); };
    const BatchLoop::Result r = BatchLoop().Run({true, true, true}, running, h);
    EXPECT_EQ(r.steps, 9);
    EXPECT_EQ(givenUp, (std::vector<int>{0, 1}));
    EXPECT_EQ(drive_->sim().stats().requests - before, 9);
    ASSERT_EQ(errors.size(), 9u);
    for (int e : errors) EXPECT_EQ(e, 4);  // the drive's exception code
}

TEST_F(RegisterAccessOnDrive, BatchRetriesASilentDriveAndCompletes)
{
    ASSERT_EQ(drive_->sim().writeRegister(0x0101, 50), 0);
    // The first two replies are lost; the batch retries and finishes.
    std::string error;
    ASSERT_TRUE(drive_->sim().setFault("silence#2", &error)) << error;
    std::vector<ParamRecord> rows = {Record(0x0102, -1, 0)};
    std::atomic<bool> running{true};
    int failures = 0;
    BatchLoop::Hooks h;
    h.attempt = [&](int row) {
        uint8_t err = 0;
        if (ReadRecord(ModbusPort(), 1, rows[static_cast<size_t>(row)], &err)) return BatchLoop::Attempt::Done;
        EXPECT_EQ(err, kErrTimeout);
        ++failures;
        return BatchLoop::Attempt::Failed;
    };
    const BatchLoop::Result r = BatchLoop().Run({true}, running, h);
    EXPECT_EQ(r.doneRows, 1);
    EXPECT_EQ(failures, 2);
    EXPECT_NEAR(rows[0].value, 5.0, 1e-9);
}
