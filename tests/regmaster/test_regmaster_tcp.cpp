// RegMaster over network ports against a libmodbus Modbus TCP server on
// loopback (mbtcp://): framing, transaction ids, exceptions, time-outs, and
// the server dropping the connection in the middle of a batch.
#include <gtest/gtest.h>

#include "ModbusGateway.h"
#include "PtyKit.h"
#include "RegMaster.h"

using namespace ptykit;
using nettest::Gateway;

namespace {

class RegMasterTcp : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.ok());
        ASSERT_TRUE(gw_.ok());
        for (int r = 0; r < 100; ++r)
            gw_.Set(r, static_cast<uint16_t>(1000 + r));
        ASSERT_TRUE(Open());
    }
    void TearDown() override { CloseLink(link_); }
    bool Open()
    {
        if (!OpenLink(link_, 3, gw_.Url(), "RegMaster") || GetModbus() == nullptr)
            return false;
        master_ = GetModbus();
        master_->SetOutTime(300);
        return true;
    }
    bool Read(uint16_t reg, uint16_t* word, uint8_t* err, uint8_t unit = 1)
    {
        uint8_t v[2] = {0, 0};
        *err = 0;
        const bool ok = master_->ProcRead(unit, reg, v, err);
        *word = static_cast<uint16_t>(v[0] | (v[1] << 8));
        return ok;
    }

    ScratchDir dir_;
    Gateway gw_;
    CProtocolTemplate link_;
    CRegMaster* master_ = nullptr;
};

}  // namespace

TEST_F(RegMasterTcp, EveryReplyMustCarryItsRequestsTransactionId)
{
    EXPECT_EQ(master_->GetFraming(), REGMASTER_FRAMING_TCP);
    EXPECT_GE(master_->GetReplyAllowance(), LINK_NET_MIN_ALLOWANCE_MS);
    uint16_t word = 0;
    uint8_t err = 0;
    ASSERT_TRUE(Read(10, &word, &err));
    EXPECT_EQ(word, 1010);
    uint8_t out[2] = {0xBE, 0xEF};
    ASSERT_TRUE(master_->ProcWrite(1, 20, out, &err));
    EXPECT_EQ(gw_.Get(20), 0xBEEF);

    // Exceptions: a register outside the map, a unit the gateway cannot reach.
    EXPECT_FALSE(Read(200, &word, &err));
    EXPECT_EQ(err, MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS);
    EXPECT_FALSE(Read(10, &word, &err, 7));
    EXPECT_EQ(err, MODBUS_EXCEPTION_GATEWAY_TARGET);

    // A silent server is a time-out.
    gw_.silent = true;
    EXPECT_FALSE(Read(10, &word, &err));
    EXPECT_EQ(err, REGMASTER_ERR_TIMEOUT);
    gw_.silent = false;

    // The reply to a request that gave up comes just before the next one's:
    // its transaction id is not the outstanding one, so it is dropped.
    gw_.holdNext = true;
    EXPECT_FALSE(Read(11, &word, &err));
    EXPECT_EQ(err, REGMASTER_ERR_TIMEOUT);
    const long dropped = master_->GetUnmatchedCount();
    ASSERT_TRUE(Read(12, &word, &err));
    EXPECT_EQ(word, 1012);
    EXPECT_EQ(master_->GetUnmatchedCount(), dropped + 1);
}

TEST_F(RegMasterTcp, ServerClosingMidBatchIsALostLinkAndReopeningWorks)
{
    nettest::StderrLines log("COM3");
    gw_.closeAfter = 3;
    int done = 0;
    uint16_t word = 0;
    uint8_t err = 0;
    for (int i = 0; i < 6; ++i)
        done += Read(static_cast<uint16_t>(i), &word, &err) ? 1 : 0;
    EXPECT_EQ(done, 3);
    EXPECT_EQ(err, REGMASTER_ERR_TIMEOUT);
    // Said once, as a serial device that vanished is; the channel's end is closed.
    ASSERT_TRUE(WaitFor([&] { return !log.Lines().empty(); }, 2000));
    EXPECT_EQ(log.Lines().front(), "COM3: " + gw_.Url() + ": connection closed by the server");
    EXPECT_EQ(link_.GetChannel()->SendData("x", 1, 0), 0);

    // Taken down and opened again, the link works on a new connection.
    CloseLink(link_);
    ASSERT_TRUE(Open());
    ASSERT_TRUE(Read(5, &word, &err));
    EXPECT_EQ(word, 1005);
    EXPECT_EQ(gw_.connections.load(), 2);
}
