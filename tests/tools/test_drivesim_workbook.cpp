// drivesim with a parameter workbook written through the workbook layer
// (TorvaneWorkbook): registers, defaults, ranges and monitor quantities come
// from the file. Built only when the layer is part of the build.
#include "DriveSimTestUtil.h"
#include "Params.h"
#include "Workbook.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <unistd.h>

using namespace drivesim;
using namespace dst;

namespace {

std::wstring wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

void row(xls::Sheet* s, int r, const wchar_t* address, const wchar_t* pnu, const wchar_t* name, const wchar_t* unit,
         const wchar_t* exponent, const wchar_t* def, const wchar_t* lo, const wchar_t* hi, bool noMax = false) {
    s->writeStr(r, 0, address);
    s->writeStr(r, 1, pnu);
    s->writeStr(r, 2, name);
    s->writeStr(r, 3, L"RW");
    s->writeStr(r, 4, unit);
    s->writeBool(r, 5, true);
    s->writeStr(r, 6, exponent);
    s->writeBool(r, 7, false);
    s->writeStr(r, 8, L"0");
    s->writeBool(r, 9, false);
    s->writeStr(r, 10, def);
    s->writeBool(r, 11, false);
    s->writeStr(r, 12, lo);
    s->writeBool(r, 13, noMax);
    s->writeStr(r, 14, hi);
}

std::string writeTestWorkbook() {
    std::string path = std::string(::testing::TempDir()) + "SIMTEST_" + std::to_string(getpid()) + ".xls";
    xls::Book* book = xlCreateBookW();
    xls::Sheet* s = book->addSheet(L"Sheet1");
    s->writeStr(0, 0, L"Address");
    s->writeStr(1, 2, L"SIMTEST");
    s->writeStr(2, 1, L"01***");
    s->writeStr(2, 2, L"Basic,基本");
    row(s, 3, L"257", L"01.00", L"Acceleration time,加速时间", L"s", L"-1", L"12.5", L"0.0", L"3600.0");
    row(s, 4, L"258", L"01.01", L"Frequency offset,频率偏置", L"Hz", L"-2", L"-1.50", L"-10.00", L"10.00");
    row(s, 5, L"259", L"01.02", L"Free value,自由", L"", L"0", L"7", L"0", L"0", true);
    s->writeStr(6, 1, L"09***");
    s->writeStr(6, 2, L"Running state,运行状态");
    row(s, 7, L"2305", L"09.00", L"Output frequency,输出频率", L"Hz", L"-2", L"0", L"0", L"590.00");
    row(s, 8, L"2306", L"09.01", L"Heatsink temperature,散热器温度", L"°C", L"-1", L"0", L"-20.0", L"150.0");
    bool ok = book->save(wide(path).c_str());
    book->release();
    return ok ? path : std::string();
}

}  // namespace

TEST(DriveSimWorkbook, LoadsRecordsFromAFile) {
    std::string path = writeTestWorkbook();
    ASSERT_FALSE(path.empty());
    EXPECT_TRUE(workbookSupportBuilt());
    std::vector<ParamDef> params;
    std::string err;
    ASSERT_TRUE(loadParamWorkbook(path, &params, &err)) << err;
    ASSERT_EQ(params.size(), 5u);
    EXPECT_EQ(params[0].reg, 256);
    EXPECT_EQ(params[0].name, "Acceleration time");
    EXPECT_EQ(params[0].exponent, -1);
    EXPECT_DOUBLE_EQ(params[0].defaultValue, 12.5);
    EXPECT_TRUE(params[1].isSigned());
    EXPECT_TRUE(params[2].noMax);
    EXPECT_TRUE(params[3].isMonitor());
    EXPECT_EQ(params[4].unit, "\xC2\xB0" "C");

    SimOptions o = quickOptions();
    o.params = params;
    o.rampHzPerSecond = 100;
    Simulator sim(o);
    ASSERT_TRUE(sim.start(&err)) << err;
    PtyPort port;
    ASSERT_TRUE(port.open(sim.slavePath(), 9600));
    EXPECT_EQ(readReg(port, 256), 125);     // 12.5 s with exponent -1
    EXPECT_EQ(readReg(port, 257), 0xFF6A);  // -1.50 Hz, signed because min < 0
    EXPECT_EQ(readReg(port, 258), 7);
    EXPECT_EQ(writeReg(port, 256, 36001), 3);  // above 3600.0 s
    EXPECT_EQ(writeReg(port, 256, 36000), 0);
    EXPECT_EQ(writeReg(port, 257, static_cast<std::uint16_t>(-1001)), 3);
    EXPECT_EQ(writeReg(port, 258, 65535), 0);  // no maximum
    EXPECT_EQ(readReg(port, 0x0106), -(0x100 + 2));  // the built-in set is not there
    // The monitor frequency follows the drive.
    EXPECT_EQ(writeReg(port, reg::kTargetFrequency, 2500), 0);
    EXPECT_EQ(writeReg(port, reg::kRunCommand, cmd::kForward), 0);
    auto t0 = Clock::now();
    long f = 0;
    while (msSince(t0) < 3000 && (f = readReg(port, 2304)) != 2500) {
    }
    EXPECT_EQ(f, 2500);
    EXPECT_GE(readReg(port, 2305), 200);  // at least 20.0 degrees C
    port.close();
    sim.stop();
    std::remove(path.c_str());
}

TEST(DriveSimWorkbook, MissingFileIsAnError) {
    std::vector<ParamDef> params;
    std::string err;
    EXPECT_FALSE(loadParamWorkbook("/nonexistent/NOPE.xls", &params, &err));
    EXPECT_FALSE(err.empty());
}

#ifdef DRIVESIM_SAMPLE_WORKBOOK
TEST(DriveSimWorkbook, SampleTableOfTheProgram) {
    std::vector<ParamDef> params;
    std::string err;
    ASSERT_TRUE(loadParamWorkbook(DRIVESIM_SAMPLE_WORKBOOK, &params, &err)) << err;
    int monitors = 0;
    for (const auto& p : params) monitors += p.isMonitor();
    EXPECT_GE(params.size(), 100u);
    EXPECT_GE(monitors, 5);
}
#endif
