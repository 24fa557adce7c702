// RegMaster against libmodbus RTU servers: two stations (1 and 7) on one
// serial line built from pseudo-terminals; station 3 does not exist.
#include <gtest/gtest.h>

#include <future>
#include <memory>

#define PTYKIT_WITH_MODBUS
#include "PtyKit.h"
#include "RegMaster.h"

using namespace ptykit;

namespace {

const int kRegisters = 0x100;   // holding registers 0 .. 0xFF exist

class RegMasterModbus : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.ok());
        ASSERT_TRUE(program_.ok() && line1_.ok() && line7_.ok());
        relay_.AddMasterSide(program_.master());
        relay_.AddStationSide(line1_.master());
        relay_.AddStationSide(line7_.master());
        relay_.Start();
        station1_.reset(new ModbusServer(line1_.path(), 1, kRegisters));
        station7_.reset(new ModbusServer(line7_.path(), 7, kRegisters));
        ASSERT_TRUE(station1_->ok());
        ASSERT_TRUE(station7_->ok());
        ASSERT_TRUE(OpenLink(link_, 1, program_.path(), "RegMaster"));
        master_ = GetModbus();
        ASSERT_NE(master_, nullptr);
        master_->SetOutTime(1000);
    }
    void TearDown() override
    {
        CloseLink(link_);
        station1_.reset();
        station7_.reset();
        relay_.Stop();
    }

    bool Read(uint8_t station, uint16_t reg, uint16_t* word, uint8_t* err)
    {
        uint8_t value[2] = {0, 0};
        bool ok = master_->ProcRead(station, reg, value, err);
        *word = static_cast<uint16_t>(value[0] | (value[1] << 8));
        return ok;
    }
    bool Write(uint8_t station, uint16_t reg, uint16_t word, uint8_t* err)
    {
        uint8_t value[2] = {static_cast<uint8_t>(word >> 8), static_cast<uint8_t>(word & 0xFF)};
        return master_->ProcWrite(station, reg, value, err);
    }

    ScratchDir dir_;
    PtyPair program_, line1_, line7_;
    Relay relay_;
    std::unique_ptr<ModbusServer> station1_, station7_;
    CProtocolTemplate link_;
    CRegMaster* master_ = nullptr;
};

TEST_F(RegMasterModbus, ReadsRegistersOfTwoStations)
{
    station1_->SetRegister(0x55, 0x1234);
    station1_->SetRegister(0x00, 0x8001);
    station1_->SetRegister(0xFF, 0xFFFF);
    station7_->SetRegister(0x55, 0x0042);

    uint16_t word = 0;
    uint8_t err = 0;
    ASSERT_TRUE(Read(1, 0x55, &word, &err));
    EXPECT_EQ(word, 0x1234);
    ASSERT_TRUE(Read(1, 0x00, &word, &err));
    EXPECT_EQ(word, 0x8001);
    ASSERT_TRUE(Read(1, 0xFF, &word, &err));
    EXPECT_EQ(word, 0xFFFF);
    ASSERT_TRUE(Read(7, 0x55, &word, &err));
    EXPECT_EQ(word, 0x0042);
    EXPECT_EQ(err, 0);
}

TEST_F(RegMasterModbus, WritesLandInTheAddressedStation)
{
    uint8_t err = 0;
    ASSERT_TRUE(Write(1, 0x20, 0x1388, &err));
    ASSERT_TRUE(Write(7, 0x20, 0x00FE, &err));
    ASSERT_TRUE(Write(7, 0x21, 0xFF00, &err));
    EXPECT_EQ(station1_->Register(0x20), 0x1388);
    EXPECT_EQ(station7_->Register(0x20), 0x00FE);
    EXPECT_EQ(station7_->Register(0x21), 0xFF00);
    EXPECT_EQ(station1_->Register(0x21), 0);

    uint16_t word = 0;
    ASSERT_TRUE(Read(1, 0x20, &word, &err));
    EXPECT_EQ(word, 0x1388);
}

TEST_F(RegMasterModbus, PresenceTestWrite)
{
    // Write 1 to register 0x0055 of station 1; the echo proves the drive.
    uint8_t value[2] = {0x00, 0x01};
    uint8_t err = 0;
    EXPECT_TRUE(master_->ProcWrite(1, 0x0055, value, &err));
    EXPECT_EQ(err, 0);
    EXPECT_EQ(station1_->Register(0x55), 1);
}

TEST_F(RegMasterModbus, IllegalDataAddressIsReportedAsException2)
{
    uint16_t word = 0;
    uint8_t err = 0;
    EXPECT_FALSE(Read(1, 0x0200, &word, &err));
    EXPECT_EQ(err, MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS);
    err = 0;
    EXPECT_FALSE(Write(7, 0x270F, 7, &err));
    EXPECT_EQ(err, MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS);

    // The exception leaves nothing behind for the next request.
    station1_->SetRegister(0x01, 0x0101);
    err = 0;
    ASSERT_TRUE(Read(1, 0x01, &word, &err));
    EXPECT_EQ(word, 0x0101);
    EXPECT_EQ(err, 0);
}

TEST_F(RegMasterModbus, SilentStationTimesOutWithFF)
{
    // Longer than the time the other stations wait for station 3's reply.
    master_->SetOutTime(700);
    uint16_t word = 0;
    uint8_t err = 0;
    Clock::time_point start = Clock::now();
    EXPECT_FALSE(Read(3, 0x55, &word, &err));
    EXPECT_EQ(err, 0xFF);
    EXPECT_GE(ElapsedMs(start), 690) << "gave up before the reply time-out";

    err = 0;
    EXPECT_FALSE(Write(3, 0x55, 1, &err));
    EXPECT_EQ(err, 0xFF);

    station1_->SetRegister(0x02, 0x0222);
    ASSERT_TRUE(Read(1, 0x02, &word, &err));
    EXPECT_EQ(word, 0x0222);
}

TEST_F(RegMasterModbus, LongMixedSequenceStaysInStep)
{
    for (int i = 0; i < kRegisters; ++i)
    {
        station1_->SetRegister(i, static_cast<uint16_t>(0x1000 + i));
        station7_->SetRegister(i, static_cast<uint16_t>(0x7000 + i));
    }
    uint8_t err = 0;
    for (int i = 0; i < 60; ++i)
    {
        uint8_t station = (i % 3 == 0) ? 7 : 1;
        uint16_t reg = static_cast<uint16_t>((i * 37) % kRegisters);
        uint16_t word = 0;
        if (i % 4 == 1)
        {
            uint16_t v = static_cast<uint16_t>(i * 911);
            ASSERT_TRUE(Write(station, reg, v, &err)) << "request " << i;
            ASSERT_TRUE(Read(station, reg, &word, &err)) << "request " << i;
            EXPECT_EQ(word, v) << "request " << i;
        }
        else
        {
            ASSERT_TRUE(Read(station, reg, &word, &err)) << "request " << i;
            uint16_t expected = station == 7 ? station7_->Register(reg) : station1_->Register(reg);
            EXPECT_EQ(word, expected) << "request " << i;
        }
    }
}

TEST_F(RegMasterModbus, ConcurrentCallersEachGetTheirOwnAnswers)
{
    for (int i = 0; i < 16; ++i)
    {
        station1_->SetRegister(i, static_cast<uint16_t>(0x1100 + i));
        station7_->SetRegister(i, static_cast<uint16_t>(0x7700 + i));
    }
    auto worker = [this](uint8_t station, uint16_t base) {
        int wrong = 0;
        for (int round = 0; round < 15; ++round)
        {
            uint16_t word = 0;
            uint8_t err = 0;
            uint16_t reg = static_cast<uint16_t>(round % 16);
            if (!Read(station, reg, &word, &err) || word != base + reg)
                ++wrong;
        }
        return wrong;
    };
    auto a = std::async(std::launch::async, worker, 1, 0x1100);
    auto b = std::async(std::launch::async, worker, 7, 0x7700);
    EXPECT_EQ(a.get(), 0);
    EXPECT_EQ(b.get(), 0);
}

}  // namespace
