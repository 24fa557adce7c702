// drivesim core, without a pty: checksums, configuration, fault texts, line
// settings, parameter conversions, the drive model on a simulated clock,
// Modbus framing and the bootloader's command handling.
#include "BootConfig.h"
#include "BootRequestDefaults.h"
#include "Bootloader.h"
#include "Crc.h"
#include "DriveApp.h"
#include "Faults.h"
#include "ModbusSlave.h"
#include "Params.h"
#include "Simulator.h"
#include "Workbook.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <unistd.h>

using namespace drivesim;

namespace {

std::vector<std::uint8_t> bytes(const char* s) { return std::vector<std::uint8_t>(s, s + std::strlen(s)); }

std::string tempPath(const char* name) {
    return std::string(::testing::TempDir()) + "drivesim_core_" + std::to_string(getpid()) + "_" + name;
}

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary);
    out << content;
}

}  // namespace

// ---------------------------------------------------------------- checksums

TEST(DriveSimCrc, CheckValues) {
    auto v = bytes("123456789");
    EXPECT_EQ(crc16Modbus(v.data(), v.size()), 0x4B37);
    EXPECT_EQ(crc16Xmodem(v.data(), v.size()), 0x31C3);
}

TEST(DriveSimCrc, PresenceRequestOfPart21) {
    // 01 06 00 55 00 01 + CRC, low byte first.
    std::vector<std::uint8_t> f{0x01, 0x06, 0x00, 0x55, 0x00, 0x01};
    auto full = withModbusCrc(f);
    ASSERT_EQ(full.size(), 8u);
    EXPECT_TRUE(modbusCrcOk(full.data(), full.size()));
    std::uint16_t crc = crc16Modbus(f.data(), f.size());
    EXPECT_EQ(full[6], crc & 0xFF);
    EXPECT_EQ(full[7], crc >> 8);
}

TEST(DriveSimCrc, BlockExamplesOfPart31) {
    std::vector<std::uint8_t> d(128, 0);
    d[0] = 0x31;
    d[1] = 0x32;
    d[2] = 0x33;
    EXPECT_EQ(crc16Xmodem(d.data(), 128), 0xCAFC);
    std::vector<std::uint8_t> zero(128, 0);
    EXPECT_EQ(crc16Xmodem(zero.data(), 128), 0x0000);
    zero[127] = 0x1A;
    EXPECT_EQ(crc16Xmodem(zero.data(), 128), 0xB37B);
}

TEST(DriveSimCrc, WireImageAppliesZeroCrcRuleAndPads) {
    std::vector<std::uint8_t> img(300, 0x55);
    std::fill(img.begin() + 128, img.begin() + 256, 0x00);  // block 2 all zero
    auto w = xmodemWireImage(img);
    ASSERT_EQ(w.size(), 384u);
    EXPECT_EQ(w[255], 0x1A);
    EXPECT_EQ(w[254], 0x00);
    EXPECT_EQ(w[299], 0x55);
    EXPECT_EQ(w[300], 0x00);  // padding is 0x00, not 0x1A
    EXPECT_TRUE(xmodemWireImage({}).empty());
}

// ------------------------------------------------------------ configuration

TEST(DriveSimBootConfig, DefaultsAreTheDecidedValues) {
    EXPECT_EQ(torvane::bootrequest::kDefaultCode, 0x5AA5);
    EXPECT_EQ(torvane::bootrequest::kDefaultKey, 0xC3E1);
    EXPECT_EQ(torvane::bootrequest::kCodeHighByte, 0x5A);
    EXPECT_EQ(torvane::bootrequest::kCodeLowByte, 0xA5);
    auto d = defaultBootRequestValues();
    EXPECT_EQ(d.code, 0x5AA5);
    EXPECT_EQ(d.key, 0xC3E1);
}

TEST(DriveSimBootConfig, ParseUint16) {
    std::uint16_t v = 0;
    EXPECT_TRUE(parseUint16("0x5AA5", &v));
    EXPECT_EQ(v, 0x5AA5);
    EXPECT_TRUE(parseUint16(" 50145 ", &v));
    EXPECT_EQ(v, 50145);
    EXPECT_TRUE(parseUint16("0XffFF", &v));
    EXPECT_EQ(v, 0xFFFF);
    v = 7;
    EXPECT_FALSE(parseUint16("0x10000", &v));
    EXPECT_FALSE(parseUint16("-1", &v));
    EXPECT_FALSE(parseUint16("12ab", &v));
    EXPECT_FALSE(parseUint16("", &v));
    EXPECT_EQ(v, 7);
}

TEST(DriveSimBootConfig, MissingFileGivesDefaults) {
    BootRequestValues v{1, 2};
    EXPECT_TRUE(readBootRequestValues(tempPath("does_not_exist.ini"), &v));
    EXPECT_EQ(v.code, 0x5AA5);
    EXPECT_EQ(v.key, 0xC3E1);
}

TEST(DriveSimBootConfig, ReadsSectionAndKeysIgnoringCase) {
    std::string p = tempPath("config.ini");
    writeFile(p, "[COM]\r\nCOMID=3\r\nCode=0x1111\r\n[bootrequest]\r\n code = 0x1234 \r\nKEY=4660\r\n[Other]\r\nKey=1\r\n");
    BootRequestValues v{};
    std::string warning;
    EXPECT_TRUE(readBootRequestValues(p, &v, &warning));
    EXPECT_EQ(v.code, 0x1234);
    EXPECT_EQ(v.key, 4660);
    EXPECT_TRUE(warning.empty());
    std::remove(p.c_str());
}

TEST(DriveSimBootConfig, BadValueFallsBackToDefaultWithWarning) {
    std::string p = tempPath("bad.ini");
    writeFile(p, "[BootRequest]\nCode=banana\n");
    BootRequestValues v{};
    std::string warning;
    EXPECT_TRUE(readBootRequestValues(p, &v, &warning));
    EXPECT_EQ(v.code, 0x5AA5);
    EXPECT_EQ(v.key, 0xC3E1);
    EXPECT_NE(warning.find("Code"), std::string::npos);
    std::remove(p.c_str());
}

TEST(DriveSimBootConfig, Utf16FileIsRead) {
    std::string p = tempPath("utf16.ini");
    std::string ascii = "[BootRequest]\r\nCode=0x0102\r\nKey=0x0304\r\n";
    std::string raw = "\xFF\xFE";
    for (char c : ascii) {
        raw += c;
        raw += '\0';
    }
    writeFile(p, raw);
    BootRequestValues v{};
    EXPECT_TRUE(readBootRequestValues(p, &v));
    EXPECT_EQ(v.code, 0x0102);
    EXPECT_EQ(v.key, 0x0304);
    std::remove(p.c_str());
}

// ------------------------------------------------------------------- faults

TEST(DriveSimFaults, ParseSpecs) {
    FaultKind k;
    FaultSetting s;
    std::string err;
    ASSERT_TRUE(parseFaultSpec("silence", &k, &s, &err));
    EXPECT_EQ(k, FaultKind::Silence);
    EXPECT_EQ(s.remaining, -1);
    ASSERT_TRUE(parseFaultSpec("late=1500", &k, &s, &err));
    EXPECT_EQ(k, FaultKind::Late);
    EXPECT_EQ(s.arg, 1500);
    ASSERT_TRUE(parseFaultSpec("split=3:40", &k, &s, &err));
    EXPECT_EQ(s.arg, 3);
    EXPECT_EQ(s.arg2, 40);
    ASSERT_TRUE(parseFaultSpec("nak-block=5#1", &k, &s, &err));
    EXPECT_EQ(k, FaultKind::NakBlock);
    EXPECT_EQ(s.arg, 5);
    EXPECT_EQ(s.remaining, 1);
    ASSERT_TRUE(parseFaultSpec("exception", &k, &s, &err));
    EXPECT_EQ(s.arg, 4);
    ASSERT_TRUE(parseFaultSpec("hangup", &k, &s, &err));
    EXPECT_EQ(s.remaining, 1);
    EXPECT_EQ(s.arg, 1000);
    ASSERT_TRUE(parseFaultSpec("mode-word-0081", &k, &s, &err));
    ASSERT_TRUE(parseFaultSpec("bad-crc", &k, &s, &err));
    ASSERT_TRUE(parseFaultSpec("noise=0x10", &k, &s, &err));
    EXPECT_EQ(s.arg, 16);

    EXPECT_FALSE(parseFaultSpec("smoke", &k, &s, &err));
    EXPECT_NE(err.find("smoke"), std::string::npos);
    EXPECT_FALSE(parseFaultSpec("late=abc", &k, &s, &err));
    EXPECT_FALSE(parseFaultSpec("silence#0", &k, &s, &err));
    EXPECT_FALSE(parseFaultSpec("exception=0", &k, &s, &err));
    EXPECT_FALSE(parseFaultSpec("split=0", &k, &s, &err));
    EXPECT_FALSE(parseFaultSpec("late=-5", &k, &s, &err));
}

TEST(DriveSimFaults, CountSwitchesTheFaultOff) {
    FaultSet f;
    FaultSetting s = defaultFaultSetting(FaultKind::Silence);
    s.remaining = 2;
    f.set(FaultKind::Silence, s);
    EXPECT_TRUE(f.use(FaultKind::Silence));
    EXPECT_TRUE(f.use(FaultKind::Silence));
    EXPECT_FALSE(f.use(FaultKind::Silence));
    EXPECT_FALSE(f.active(FaultKind::Silence));
    f.set(FaultKind::Late, defaultFaultSetting(FaultKind::Late));
    for (int i = 0; i < 5; ++i) EXPECT_TRUE(f.use(FaultKind::Late));
    EXPECT_EQ(f.describe(), "late");
    f.clearAll();
    EXPECT_EQ(f.describe(), "none");
}

TEST(DriveSimFaults, EveryFaultHasAHelpLine) {
    std::string h = faultHelpText();
    for (int i = 0; i < static_cast<int>(FaultKind::Count); ++i) {
        const char* name = faultName(static_cast<FaultKind>(i));
        EXPECT_NE(h.find(name), std::string::npos) << name;
        FaultKind k;
        EXPECT_TRUE(faultFromName(name, &k));
        EXPECT_EQ(static_cast<int>(k), i);
    }
}

// ------------------------------------------------------------ line settings

TEST(DriveSimLine, Parse) {
    LineSettings s;
    ASSERT_TRUE(parseLineSettings("9600 8E1", &s));
    EXPECT_EQ(s.baud, 9600);
    EXPECT_EQ(s.parity, 'E');
    ASSERT_TRUE(parseLineSettings("38400,N", &s));
    EXPECT_EQ(s.baud, 38400);
    EXPECT_EQ(s.parity, 'N');
    ASSERT_TRUE(parseLineSettings("19200,8,odd,2", &s));
    EXPECT_EQ(s.parity, 'O');
    EXPECT_EQ(s.stopBits, 2);
    EXPECT_FALSE(parseLineSettings("fast", &s));
    EXPECT_FALSE(parseLineSettings("9600 8X1", &s));
    LineSettings d;
    EXPECT_NEAR(d.charSeconds(), 11.0 / 9600, 1e-9);  // 9600 8E1: 11 bits
    EXPECT_EQ(d.describe(), "9600 8E1");
}

// ------------------------------------------------------------- parameters

TEST(DriveSimParams, ScalingAndRange) {
    ParamDef p;
    p.exponent = -2;
    p.minValue = -10;
    p.maxValue = 10;
    EXPECT_TRUE(p.isSigned());
    EXPECT_EQ(p.toRaw(-1.5), 0xFF6A);
    EXPECT_DOUBLE_EQ(p.toEngineering(0xFF6A), -1.5);
    EXPECT_TRUE(p.inRange(p.toRaw(10.0)));
    EXPECT_FALSE(p.inRange(p.toRaw(10.01)));
    EXPECT_TRUE(p.inRange(p.toRaw(-10.0)));
    EXPECT_FALSE(p.inRange(p.toRaw(-10.01)));
    p.noMax = true;
    EXPECT_TRUE(p.inRange(p.toRaw(100.0)));
    ParamDef u;
    u.exponent = -1;
    u.minValue = 0;
    u.maxValue = 3600;
    EXPECT_FALSE(u.isSigned());
    EXPECT_EQ(u.toRaw(10.0), 100);
    EXPECT_TRUE(u.inRange(36000));
    EXPECT_FALSE(u.inRange(36001));
    ParamDef odd;
    odd.exponent = 2;  // exponents other than 0..-3 scale nothing
    EXPECT_EQ(odd.toRaw(7), 7);
}

TEST(DriveSimParams, BuiltinSetHasSettingsAndMonitors) {
    auto b = builtinParams();
    int monitors = 0, settings = 0;
    for (auto& p : b) (p.isMonitor() ? monitors : settings)++;
    EXPECT_GE(monitors, 5);
    EXPECT_GE(settings, 3);
}

// A workbook in memory, to test the sheet reading without files.
namespace {

class FakeSheet : public xls::Sheet {
public:
    struct Cell {
        CellType type = CELLTYPE_EMPTY;
        std::wstring s;
        double n = 0;
        bool b = false;
    };
    std::map<std::pair<int, int>, Cell> cells;
    void str(int r, int c, const std::wstring& t) { cells[{r, c}] = Cell{CELLTYPE_STRING, t, 0, false}; }
    void num(int r, int c, double v) { cells[{r, c}] = Cell{CELLTYPE_NUMBER, L"", v, false}; }
    void boo(int r, int c, bool v) { cells[{r, c}] = Cell{CELLTYPE_BOOLEAN, L"", 0, v}; }
    const wchar_t* name() const override { return L"Sheet1"; }
    const wchar_t* readStr(int r, int c) override {
        auto it = cells.find({r, c});
        return it != cells.end() && it->second.type == CELLTYPE_STRING ? it->second.s.c_str() : nullptr;
    }
    double readNum(int r, int c) override {
        auto it = cells.find({r, c});
        return it != cells.end() && it->second.type == CELLTYPE_NUMBER ? it->second.n : 0;
    }
    bool readBool(int r, int c) override {
        auto it = cells.find({r, c});
        return it != cells.end() && it->second.type == CELLTYPE_BOOLEAN && it->second.b;
    }
    CellType cellType(int r, int c) override {
        auto it = cells.find({r, c});
        return it == cells.end() ? CELLTYPE_EMPTY : it->second.type;
    }
    int lastRow() override { return 0; }
    int lastCol() override { return 0; }
    bool writeStr(int, int, const wchar_t*) override { return false; }
    bool writeNum(int, int, double) override { return false; }
    bool writeBool(int, int, bool) override { return false; }
};

class FakeBook : public xls::Book {
public:
    FakeSheet sheet;
    bool hasSheet = true;
    bool load(const wchar_t*) override { return false; }
    bool save(const wchar_t*) override { return false; }
    xls::Sheet* addSheet(const wchar_t*) override { return nullptr; }
    xls::Sheet* getSheet(int i) override { return i == 0 && hasSheet ? &sheet : nullptr; }
    int sheetCount() const override { return hasSheet ? 1 : 0; }
    const char* errorMessage() const override { return ""; }
    void release() override {}
};

void paramRow(FakeSheet& s, int row, const wchar_t* address, const wchar_t* pnu, const wchar_t* name,
              const wchar_t* unit, const wchar_t* exponent, const wchar_t* def, const wchar_t* lo,
              const wchar_t* hi) {
    s.str(row, 0, address);
    s.str(row, 1, pnu);
    s.str(row, 2, name);
    s.str(row, 4, unit);
    s.boo(row, 5, false);
    s.str(row, 6, exponent);
    s.boo(row, 9, false);
    s.str(row, 10, def);
    s.boo(row, 11, false);
    s.str(row, 12, lo);
    s.boo(row, 13, false);
    s.str(row, 14, hi);
}

}  // namespace

TEST(DriveSimParams, ReadsTheSheetLayoutOfPart53) {
    FakeBook book;
    FakeSheet& s = book.sheet;
    s.str(1, 2, L"SIM");
    s.str(2, 1, L"01***");
    s.str(2, 2, L"Basic,基本");
    paramRow(s, 3, L"257", L"01.00", L"Acceleration time,加速时间", L"s", L"-1", L"12.5", L"0", L"3600");
    paramRow(s, 4, L"258", L"01.01", L"Offset,偏置", L"Hz", L"-2", L"-1.50", L"-10.00", L"10.00");
    s.str(5, 1, L"1.1*");  // a subgroup stays in group 1
    paramRow(s, 6, L"", L"01.02", L"No address", L"", L"0", L"0", L"0", L"1");  // skipped
    s.str(7, 0, L"260");  // numbers given as number cells
    s.str(7, 1, L"01.03");
    s.num(7, 6, 0);
    s.num(7, 10, 3);
    s.num(7, 12, 0);
    s.num(7, 14, 9);
    s.boo(7, 13, true);  // no maximum
    s.str(8, 1, L"09***");
    paramRow(s, 9, L"2305", L"09.00", L"Output frequency,输出频率", L"Hz", L"-2", L"0", L"0", L"590.00");
    paramRow(s, 10, L"1", L"09.01", L"Register zero", L"", L"0", L"0", L"0", L"1");
    // Row 11: empty B ends the scan.
    paramRow(s, 12, L"3000", L"", L"After the end", L"", L"0", L"0", L"0", L"1");
    s.cells.erase({12, 1});

    std::vector<ParamDef> out;
    std::string err;
    ASSERT_TRUE(readParamsFromBook(book, &out, &err)) << err;
    ASSERT_EQ(out.size(), 5u);
    EXPECT_EQ(out[0].reg, 256);
    EXPECT_EQ(out[0].pnu, "01.00");
    EXPECT_EQ(out[0].name, "Acceleration time");
    EXPECT_EQ(out[0].exponent, -1);
    EXPECT_DOUBLE_EQ(out[0].defaultValue, 12.5);
    EXPECT_EQ(out[0].group, 1);
    EXPECT_TRUE(out[1].isSigned());
    EXPECT_EQ(out[2].reg, 259);
    EXPECT_TRUE(out[2].noMax);
    EXPECT_DOUBLE_EQ(out[2].defaultValue, 3);
    EXPECT_EQ(out[2].group, 1);
    EXPECT_EQ(out[3].reg, 2304);
    EXPECT_TRUE(out[3].isMonitor());
    EXPECT_EQ(out[4].reg, 0);

    FakeBook empty;
    empty.hasSheet = false;
    EXPECT_FALSE(readParamsFromBook(empty, &out, &err));
}

// ------------------------------------------------------------- drive model

namespace {

AppConfig testConfig() {
    AppConfig c;
    c.params = builtinParams();
    c.bootCode = 0x5AA5;
    c.bootKey = 0xC3E1;
    c.rampHzPerSecond = 10;
    return c;
}

std::uint16_t rd(DriveApp& a, std::uint16_t r, double t) {
    std::uint16_t v = 0xDEAD;
    EXPECT_EQ(a.read(r, &v, t), 0) << "register " << r;
    return v;
}

std::uint8_t wr(DriveApp& a, std::uint16_t r, std::uint16_t v, double t, bool* boot = nullptr) {
    bool b = false;
    std::uint8_t e = a.write(r, v, t, &b);
    if (boot) *boot = b;
    return e;
}

}  // namespace

TEST(DriveSimApp, DefaultsAndFixedRegisters) {
    DriveApp a(testConfig());
    EXPECT_EQ(rd(a, 0x0100, 0), 100);      // 10.0 s
    EXPECT_EQ(rd(a, 0x0104, 0), 0xFF6A);   // -1.50 Hz, signed
    EXPECT_EQ(rd(a, 0x032B, 0), 0x5654);   // "TV", low byte first
    EXPECT_EQ(rd(a, 0x032C, 0), 0x3833);   // "38", low byte first
    EXPECT_EQ(rd(a, 0x032D, 0), 0x0030);   // "0", then zero
    EXPECT_EQ(wr(a, 0x0055, 1, 0), 0);
    EXPECT_EQ(rd(a, 0x0055, 0), 1);
    std::uint16_t v;
    EXPECT_EQ(a.read(0x7777, &v, 0), exc::kIllegalAddress);
    EXPECT_EQ(wr(a, 0x7777, 1, 0), exc::kIllegalAddress);
    EXPECT_EQ(wr(a, 0x0102, 59001, 0), exc::kIllegalValue);  // above 590.00 Hz
    EXPECT_EQ(wr(a, 0x0102, 999, 0), exc::kIllegalValue);    // below 10.00 Hz
    EXPECT_EQ(wr(a, 0x0102, 6000, 0), 0);
    EXPECT_EQ(wr(a, 0x0104, static_cast<std::uint16_t>(-1001), 0), exc::kIllegalValue);
    EXPECT_EQ(wr(a, 0x0104, static_cast<std::uint16_t>(-1000), 0), 0);
    EXPECT_EQ(wr(a, 0x0900, 5, 0), exc::kIllegalAddress);  // monitor: read-only
    EXPECT_EQ(wr(a, reg::kStatus, 0, 0), exc::kIllegalAddress);
    EXPECT_EQ(wr(a, reg::kRunCommand, 3, 0), exc::kIllegalValue);
    EXPECT_EQ(wr(a, reg::kTargetFrequency, 59001, 0), exc::kIllegalValue);
    EXPECT_EQ(wr(a, reg::kTargetFrequency, 59000, 0), 0);
    a.powerUp(1);
    EXPECT_EQ(rd(a, 0x0102, 1), 5000);  // back to the default
    EXPECT_EQ(rd(a, 0x0055, 1), 0);
}

TEST(DriveSimApp, AllRegistersMode) {
    AppConfig c = testConfig();
    c.allRegisters = true;
    DriveApp a(c);
    EXPECT_EQ(rd(a, 0x7777, 0), 0);
    EXPECT_EQ(wr(a, 0x7777, 42, 0), 0);
    EXPECT_EQ(rd(a, 0x7777, 0), 42);
}

TEST(DriveSimApp, RampsForwardStopReverseAndCoast) {
    DriveApp a(testConfig());
    EXPECT_EQ(wr(a, reg::kTargetFrequency, 5000, 0), 0);  // 50 Hz
    EXPECT_EQ(rd(a, reg::kStatus, 0), 0);
    EXPECT_EQ(wr(a, reg::kRunCommand, cmd::kForward, 0), 0);
    EXPECT_EQ(rd(a, reg::kOutputFrequency, 2.0), 200);  // 10 Hz/s for 2 s: 20.0 Hz
    EXPECT_EQ(rd(a, reg::kStatus, 2.0) & 0x0C, 0x04);   // forward running
    EXPECT_EQ(rd(a, reg::kOutputFrequency, 10.0), 500);
    EXPECT_NEAR(rd(a, 0x0900, 10.0) * 0.01, 50.0, 0.01);  // monitor output frequency
    EXPECT_EQ(rd(a, 0x0901, 10.0), 5000);                 // set frequency
    EXPECT_GT(rd(a, 0x0902, 10.0), 100);                  // some amperes
    EXPECT_GT(rd(a, 0x0903, 10.0), 300);                  // volts
    EXPECT_GT(rd(a, 0x0905, 10.0), 1300);                 // rpm of a 4-pole motor
    EXPECT_EQ(rd(a, reg::kRunCommand, 10.0), cmd::kForward);

    EXPECT_EQ(wr(a, reg::kRunCommand, cmd::kStop, 10.0), 0);
    EXPECT_EQ(rd(a, reg::kOutputFrequency, 12.0), 300);  // ramping down
    EXPECT_EQ(rd(a, reg::kStatus, 12.0) & 0x0C, 0x0C);   // "other" while stopping
    EXPECT_EQ(rd(a, reg::kOutputFrequency, 20.0), 0);
    EXPECT_EQ(rd(a, reg::kStatus, 20.0) & 0x0C, 0x00);
    EXPECT_EQ(rd(a, 0x0902, 20.0), 0);  // no current when stopped

    EXPECT_EQ(wr(a, reg::kRunCommand, cmd::kReverse, 20.0), 0);
    EXPECT_EQ(rd(a, reg::kOutputFrequency, 23.0), 300);  // unsigned magnitude
    EXPECT_LT(a.outputHz(), 0);
    EXPECT_EQ(rd(a, reg::kStatus, 23.0) & 0x0C, 0x08);   // reverse running
    EXPECT_LT(static_cast<std::int16_t>(rd(a, 0x0906, 23.0)), 0);  // torque sign follows direction

    EXPECT_EQ(wr(a, reg::kRunCommand, cmd::kCoastStop, 23.0), 0);
    EXPECT_EQ(rd(a, reg::kOutputFrequency, 23.0), 0);  // output off at once
    EXPECT_GT(rd(a, 0x0905, 23.5), 0);                 // the motor still turns, coasting
}

TEST(DriveSimApp, TemperatureFollowsTheLoad) {
    DriveApp a(testConfig());
    double t0 = a.temperature();
    wr(a, reg::kTargetFrequency, 5000, 0);
    wr(a, reg::kRunCommand, cmd::kForward, 0);
    a.advance(120);
    double hot = a.temperature();
    EXPECT_GT(hot, t0 + 20);
    EXPECT_GT(rd(a, 0x0908, 120), 500);  // above 50.0 degrees C
    wr(a, reg::kRunCommand, cmd::kStop, 120);
    a.advance(400);
    EXPECT_LT(a.temperature(), hot - 20);
}

TEST(DriveSimApp, TripAndFaultReset) {
    DriveApp a(testConfig());
    wr(a, reg::kTargetFrequency, 3000, 0);
    wr(a, reg::kRunCommand, cmd::kForward, 0);
    a.advance(5);
    a.setTrip(true, 5);
    EXPECT_EQ(rd(a, reg::kStatus, 5) & 0x02, 0x02);
    EXPECT_EQ(rd(a, reg::kOutputFrequency, 5), 0);
    EXPECT_EQ(rd(a, reg::kStatus, 5) & 0x0C, 0x0C);  // 0x0E style: fault and "other"
    wr(a, reg::kRunCommand, cmd::kForward, 5);       // ignored while tripped
    EXPECT_EQ(rd(a, reg::kOutputFrequency, 7), 0);
    EXPECT_EQ(wr(a, reg::kRunCommand, cmd::kFaultReset, 7), 0);
    EXPECT_FALSE(a.tripped());
    EXPECT_EQ(rd(a, reg::kStatus, 7), 0);
    a.setWarning(true);
    EXPECT_EQ(rd(a, reg::kStatus, 7) & 0x01, 0x01);
}

TEST(DriveSimApp, BootRequestSequence) {
    DriveApp a(testConfig());
    bool boot = false;
    EXPECT_EQ(wr(a, 0x0605, 0x5AA5, 0, &boot), 0);
    EXPECT_FALSE(boot);
    EXPECT_EQ(wr(a, 0x4E1F, 0xC3E1, 0, &boot), 0);
    EXPECT_FALSE(boot);
    EXPECT_EQ(wr(a, 0x4E1F, 0xC3E1, 0, &boot), 0);
    EXPECT_TRUE(boot);
    // The key without the code does nothing; a wrong key starts over.
    EXPECT_EQ(wr(a, 0x4E1F, 0xC3E1, 0, &boot), 0);
    EXPECT_EQ(wr(a, 0x4E1F, 0xC3E1, 0, &boot), 0);
    EXPECT_FALSE(boot);
    wr(a, 0x0605, 0x5AA5, 0);
    wr(a, 0x4E1F, 0x1111, 0);
    EXPECT_EQ(wr(a, 0x4E1F, 0xC3E1, 0, &boot), 0);
    EXPECT_EQ(wr(a, 0x4E1F, 0xC3E1, 0, &boot), 0);
    EXPECT_FALSE(boot);
    wr(a, 0x0605, 0x1234, 0);  // wrong code
    wr(a, 0x4E1F, 0xC3E1, 0);
    EXPECT_EQ(wr(a, 0x4E1F, 0xC3E1, 0, &boot), 0);
    EXPECT_FALSE(boot);
}

// ----------------------------------------------------------- Modbus framing

TEST(DriveSimModbus, FramesAcrossChunksAndSilence) {
    DriveApp a(testConfig());
    ModbusSlave s(a, 1);
    s.setSilence(0.02);
    std::vector<ModbusExchange> ex;
    std::vector<std::string> notes;
    auto req = withModbusCrc({1, 3, 0x00, 0x55, 0x00, 0x01});
    for (std::size_t i = 0; i < 4; ++i) s.feed(req[i], 1.000, &ex, &notes);
    for (std::size_t i = 4; i < 8; ++i) s.feed(req[i], 1.010, &ex, &notes);  // within the silence
    ASSERT_EQ(ex.size(), 1u);
    EXPECT_EQ(ex[0].reply, withModbusCrc({1, 3, 2, 0, 0}));

    ex.clear();
    for (std::size_t i = 0; i < 4; ++i) s.feed(req[i], 2.000, &ex, &notes);
    for (std::size_t i = 4; i < 8; ++i) s.feed(req[i], 2.100, &ex, &notes);  // a gap: two fragments
    s.tick(3.0, &ex, &notes);
    EXPECT_TRUE(ex.empty());
    EXPECT_FALSE(notes.empty());

    // Two requests in one burst give two replies.
    ex.clear();
    auto w = withModbusCrc({1, 6, 0x00, 0x55, 0x12, 0x34});
    std::vector<std::uint8_t> both(w);
    both.insert(both.end(), req.begin(), req.end());
    for (auto b : both) s.feed(b, 4.0, &ex, &notes);
    ASSERT_EQ(ex.size(), 2u);
    EXPECT_EQ(ex[0].reply, w);
    EXPECT_EQ(ex[1].reply, withModbusCrc({1, 3, 2, 0x12, 0x34}));
}

TEST(DriveSimModbus, BadCrcDropsTheBurst) {
    DriveApp a(testConfig());
    ModbusSlave s(a, 1);
    std::vector<ModbusExchange> ex;
    std::vector<std::string> notes;
    auto req = withModbusCrc({1, 3, 0x00, 0x55, 0x00, 0x01});
    auto bad = req;
    bad[7] ^= 0xFF;
    for (auto b : bad) s.feed(b, 1.0, &ex, &notes);
    EXPECT_TRUE(ex.empty());
    // After silence the next good request is served.
    for (auto b : req) s.feed(b, 1.5, &ex, &notes);
    EXPECT_EQ(ex.size(), 1u);
}

TEST(DriveSimModbus, StationsBroadcastAndFunctions) {
    DriveApp a(testConfig());
    ModbusSlave s(a, 7);
    auto e = s.handle(withModbusCrc({1, 3, 0, 0x55, 0, 1}), 0);
    EXPECT_FALSE(e.forUs);
    EXPECT_TRUE(e.reply.empty());
    e = s.handle(withModbusCrc({0, 6, 0, 0x55, 0, 9}), 0);  // broadcast: executed, no reply
    EXPECT_TRUE(e.forUs);
    EXPECT_TRUE(e.reply.empty());
    std::uint16_t v;
    a.read(0x55, &v, 0);
    EXPECT_EQ(v, 9);
    e = s.handle(withModbusCrc({7, 16, 0, 0x55, 0, 1, 2, 0, 1}), 0);
    EXPECT_EQ(e.reply, withModbusCrc({7, 0x90, 1}));
    e = s.handle(withModbusCrc({7, 3, 0, 0x55, 0, 0}), 0);
    EXPECT_EQ(e.reply, withModbusCrc({7, 0x83, 3}));
    e = s.handle(withModbusCrc({7, 3, 0, 0x55, 0, 126}), 0);
    EXPECT_EQ(e.reply, withModbusCrc({7, 0x83, 3}));
    e = s.handle(withModbusCrc({7, 3, 0x03, 0x29, 0, 5}), 0);  // multi-register read
    ASSERT_EQ(e.reply.size(), 15u);
    EXPECT_EQ(e.reply[2], 10);
    e = s.handle(withModbusCrc({7, 3, 0x03, 0x2C, 0, 3}), 0);  // runs past the series registers
    EXPECT_EQ(e.reply, withModbusCrc({7, 0x83, 2}));

    // A function whose length the slave does not know ends at silence.
    ModbusSlave t(a, 1);
    std::vector<ModbusExchange> ex;
    std::vector<std::string> notes;
    auto odd = withModbusCrc({1, 0x41, 9, 9});
    for (auto b : odd) t.feed(b, 1.0, &ex, &notes);
    EXPECT_TRUE(ex.empty());
    t.tick(1.5, &ex, &notes);
    ASSERT_EQ(ex.size(), 1u);
    EXPECT_EQ(ex[0].reply, withModbusCrc({1, 0xC1, 1}));
}

TEST(DriveSimModbus, ExceptionFaultDoesNotExecute) {
    DriveApp a(testConfig());
    FaultSet f;
    FaultSetting s = defaultFaultSetting(FaultKind::Exception);
    s.arg = 6;
    s.remaining = 1;
    f.set(FaultKind::Exception, s);
    ModbusSlave m(a, 1, &f);
    auto e = m.handle(withModbusCrc({1, 6, 0, 0x55, 0, 3}), 0);
    EXPECT_EQ(e.reply, withModbusCrc({1, 0x86, 6}));
    std::uint16_t v;
    a.read(0x55, &v, 0);
    EXPECT_EQ(v, 0);
    e = m.handle(withModbusCrc({1, 6, 0, 0x55, 0, 3}), 0);
    EXPECT_EQ(e.exception, 0);
}

// --------------------------------------------------------------- bootloader

namespace {

struct BootFixture {
    Memory mem;
    FaultSet faults;
    Bootloader boot{mem, faults, BootOptions()};
    double t = 0;
    std::string out;
    bool reset = false;

    BootFixture(BootOptions o = BootOptions()) : boot(mem, faults, o) { boot.start(0); }
    void send(const std::string& s) {
        BootActions act;
        for (char c : s) boot.feed(static_cast<std::uint8_t>(c), t, &act);
        collect(act);
    }
    void send(const std::vector<std::uint8_t>& b) {
        BootActions act;
        for (auto c : b) boot.feed(c, t, &act);
        collect(act);
    }
    void tick(double now) {
        t = now;
        BootActions act;
        boot.tick(t, &act);
        collect(act);
    }
    void collect(BootActions& act) {
        for (auto& r : act.replies) out.append(r.begin(), r.end());
        reset = reset || act.reset;
    }
    std::string take() {
        std::string s;
        s.swap(out);
        return s;
    }
};

std::vector<std::uint8_t> frame(int number, std::vector<std::uint8_t> d) {
    d.resize(128, 0);
    std::uint16_t crc = crc16Xmodem(d.data(), 128);
    std::vector<std::uint8_t> f{1, static_cast<std::uint8_t>(number), static_cast<std::uint8_t>(~number)};
    f.insert(f.end(), d.begin(), d.end());
    f.push_back(static_cast<std::uint8_t>(crc >> 8));
    f.push_back(static_cast<std::uint8_t>(crc));
    return f;
}

}  // namespace

TEST(DriveSimBootloader, EraseTakesItsTime) {
    BootOptions o;
    o.eraseSeconds = 2.0;
    BootFixture b(o);
    b.send("VKR pm flash_block_erase -s 2 -e 7\n");
    EXPECT_EQ(b.take(), "");
    EXPECT_TRUE(b.boot.busy(1.0));
    b.tick(1.9);
    EXPECT_EQ(b.take(), "");
    b.tick(2.0);
    EXPECT_EQ(b.take(), "OK\r\nRedBoot> ");
    EXPECT_FALSE(b.boot.busy(2.0));
    EXPECT_EQ(b.mem.flashBytes()[0x8000], 0xFF);
    EXPECT_NE(b.mem.flashBytes()[0x7FFF], 0xFF);   // sector 1 kept
    EXPECT_EQ(b.mem.flashBytes()[0x7FFFF], 0xFF);  // end of sector 7
    EXPECT_NE(b.mem.flashBytes()[0x80000], 0xFF);  // sector 8 kept
}

TEST(DriveSimBootloader, IncompleteBlockIsNakedAfterTimeout) {
    BootOptions o;
    o.xmodemPoll = 0;
    BootFixture b(o);
    b.send("VKR pm lock -o n -t ee\n");
    b.take();
    b.send("VKR pm load pu_ee -m xMODEM -b 128\n");
    EXPECT_EQ(b.take(), "EE loading...\r\n");
    auto f = frame(1, {1, 2, 3});
    f.resize(60);
    b.send(f);
    b.tick(0.5);
    EXPECT_EQ(b.take(), "");
    b.tick(1.2);
    EXPECT_EQ(b.take(), "\x15");
    b.send(frame(1, {1, 2, 3}));
    EXPECT_EQ(b.take(), "\x06");
}

TEST(DriveSimBootloader, PollsWithCUntilTheFirstBlock) {
    BootOptions o;
    o.xmodemPoll = 1.0;
    o.xmodemPollCount = 3;
    o.eeLockedAtStart = false;
    BootFixture b(o);
    b.send("VKR pm load pu_ee -m xMODEM -b 128\n");
    b.take();
    for (double t = 0.5; t < 6; t += 0.5) b.tick(t);
    EXPECT_EQ(b.take(), "CCC");
    b.send("VKR pm load pu_ee -m xMODEM -b 128\n");
    b.take();
    b.tick(7.1);
    EXPECT_EQ(b.take(), "C");
    b.send(frame(1, {9}));
    EXPECT_EQ(b.take(), "\x06");
    b.tick(9);
    b.tick(11);
    EXPECT_EQ(b.take(), "");  // no polling after the first block
}

TEST(DriveSimBootloader, CalibrationLineWithClosingQuote) {
    BootFixture b;
    b.send("VKR pm lock -o n -t ee\n");
    b.take();
    b.send("VKR pm write_ee -a 64 -d 0400'\n");
    EXPECT_EQ(b.take(), "OK\r\nRedBoot> ");
    EXPECT_EQ(b.mem.ee()[64], 0x04);
    EXPECT_EQ(b.mem.ee()[65], 0x00);
}

// The application starts only when it is whole: its image names its length,
// and no block within it is still erased.
TEST(DriveSimBootloader, ApplicationValidOnlyWhenWhole) {
    BootOptions o;
    o.eraseSeconds = 0;
    o.xmodemPoll = 0;
    BootFixture b(o);
    EXPECT_TRUE(b.mem.applicationValid());  // the factory application
    b.send("VKR pm flash_block_erase -s 2 -e 7\n");
    b.tick(0.1);
    EXPECT_EQ(b.take(), "OK\r\nRedBoot> ");
    std::string why;
    EXPECT_FALSE(b.mem.applicationValid(&why));
    EXPECT_NE(why.find("no application length"), std::string::npos) << why;

    std::string image(3 * 128 + 10, '\x11');
    image = flash::withLengthStamp(image);
    EXPECT_EQ(image.substr(flash::kLengthField, 4), std::string("394\0", 4));
    b.send("VKR pm load pu -m xMODEM -b 0x08008000\n");
    EXPECT_EQ(b.take(), "flash loading...\r\n");
    for (int i = 0; i < 3; ++i) {
        b.send(frame(i + 1, std::vector<std::uint8_t>(image.begin() + 128 * i, image.begin() + 128 * (i + 1))));
        EXPECT_EQ(b.take(), "\x06");
        EXPECT_FALSE(b.mem.applicationValid(&why)) << "after block " << i + 1;
    }
    EXPECT_NE(why.find("block 4 of 4 is erased"), std::string::npos) << why;
    b.send(frame(4, std::vector<std::uint8_t>(image.begin() + 384, image.end())));
    EXPECT_EQ(b.take(), "\x06");
    EXPECT_TRUE(b.mem.applicationValid(&why)) << why;
}

TEST(DriveSimBootloader, RefusedWriteAnswersAnErrorWithoutOk) {
    BootFixture b;
    FaultSetting s = defaultFaultSetting(FaultKind::EeWriteError);
    b.faults.set(FaultKind::EeWriteError, s);
    b.send("VKR pm write_ee -a 0x600 -d 0081\n");
    const std::string reply = b.take();
    EXPECT_EQ(reply.find("OK"), std::string::npos) << reply;
    EXPECT_NE(reply.find("** Error"), std::string::npos) << reply;
    EXPECT_NE(reply.find("RedBoot> "), std::string::npos) << reply;
    EXPECT_EQ(b.mem.modeWord(), ee::kModeApplication);
    // Other addresses are written as before.
    b.send("VKR pm lock -o n -t ee\n");
    b.take();
    b.send("VKR pm write_ee -a 64 -d 0400\n");
    EXPECT_EQ(b.take(), "OK\r\nRedBoot> ");
}
