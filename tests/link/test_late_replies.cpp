// A drive slower than the reply time-out: every reply comes after its
// request gave up. No read may ever get the value of another register.
#include "DeviceConnection.h"
#include "DevicePlugins.h"
#include "LinkTestUtil.h"

#include <gtest/gtest.h>

using linktest::NewFolder;
using linktest::RecordingPrompts;
using linktest::SimDrive;

namespace {

std::wstring W(const std::string& s) { return std::wstring(s.begin(), s.end()); }

TEST(LateReplies, ABatchOverALateDriveFailsAndNeverShiftsValues)
{
    linktest::UnmapAllPorts();
    SimDrive drive(3, linktest::NormalDrive());
    ASSERT_TRUE(drive.ok()) << drive.error();
    RecordingPrompts prompts;
    DeviceConnection link(W(NewFolder("late")), &prompts);
    prompts.Attach(&link);
    link.settings().COMID = L"3";
    link.settings().OutTime = L"300";
    ASSERT_TRUE(link.ConnectNormal());
    ASSERT_TRUE(plugins::SetModbusOutTime(200));

    // Six registers with values that tell them apart.
    std::vector<uint16_t> regs, truth;
    for (uint16_t reg = 0x100; reg < 0x180 && regs.size() < 6; ++reg) {
        const uint16_t want = static_cast<uint16_t>(11 + regs.size());
        uint16_t back = 0;
        if (drive.sim().writeRegister(reg, want) == 0 && drive.sim().readRegister(reg, &back) && back == want) {
            regs.push_back(reg);
            truth.push_back(want);
        }
    }
    ASSERT_EQ(regs.size(), 6u);

    auto read = [&](uint16_t reg, uint16_t* word, uint8_t* err) {
        uint8_t value[2] = {0, 0};
        *err = 0;
        const bool ok = ModbusPort().ProcRead(1, reg, value, err);
        *word = static_cast<uint16_t>(value[0] | (value[1] << 8));
        return ok;
    };

    // Each reply comes 100 ms after its request's 200 ms time-out, which is
    // when the next request would go out.
    drive.sim().setFault(drivesim::FaultKind::Late, {true, 300, 0, -1});
    int failures = 0;
    for (int pass = 0; pass < 2; ++pass) {
        for (size_t i = 0; i < regs.size(); ++i) {
            uint16_t word = 0;
            uint8_t err = 0;
            if (read(regs[i], &word, &err))
                EXPECT_EQ(word, truth[i]) << "register " << std::hex << regs[i] << " got another register's value";
            else {
                EXPECT_EQ(err, 0xFF);
                ++failures;
            }
        }
    }
    EXPECT_EQ(failures, 12) << "a late reply answered a later request";

    // Once the drive answers in time again, every value is its own.
    drive.sim().clearFault(drivesim::FaultKind::Late);
    for (size_t i = 0; i < regs.size(); ++i) {
        uint16_t word = 0;
        uint8_t err = 0;
        ASSERT_TRUE(read(regs[i], &word, &err)) << std::hex << regs[i] << " err " << int(err);
        EXPECT_EQ(word, truth[i]) << std::hex << regs[i];
    }
}

}  // namespace
