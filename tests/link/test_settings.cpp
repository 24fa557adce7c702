// Connection settings in config.ini: defaults, reading, garbage, write order.
#include "ChannelSet.h"
#include "ConnectionSettings.h"
#include "LinkTestUtil.h"

#include <gtest/gtest.h>

using linktest::NewFolder;
using linktest::ReadFile;
using linktest::WriteFile;

namespace {
std::wstring W(const std::string& s) { return std::wstring(s.begin(), s.end()); }
}

TEST(ConnectionSettings, MissingFileGivesDefaults)
{
    ConnectionSettings s(W(NewFolder("nofile")));
    s.COMID = L"7";
    s.Load();
    EXPECT_EQ(s.COMID, L"-1");
    EXPECT_TRUE(s.PortUnset());
    EXPECT_EQ(s.bautRate, L"9600");
    EXPECT_EQ(s.devAddr, L"1");
    EXPECT_EQ(s.DataBit, L"8");
    EXPECT_EQ(s.Parity, L"2,EVEN,\u5076");
    EXPECT_EQ(s.OutTime, L"1000");
    EXPECT_EQ(s.CmdBay, L"200");
}

TEST(ConnectionSettings, FileWithoutComSectionGivesDefaults)
{
    const std::string dir = NewFolder("nosection");
    WriteFile(dir + "config.ini", "[Other]\nCOMID=5\nbautRate=38400\n");
    ConnectionSettings s(W(dir));
    s.Load();
    EXPECT_EQ(s.COMID, L"-1");
    EXPECT_EQ(s.bautRate, L"9600");
}

TEST(ConnectionSettings, ComSectionIsReadAndFillsTheRegisterLink)
{
    const std::string dir = NewFolder("section");
    WriteFile(dir + "config.ini",
              "[COM]\nCOMID=3\nbautRate=19200\ndevAddr=7\nDataBit=7\nParity=1,ODD,\xE5\xA5\x87\nOutTime=500\n"
              "CmdBay=300\nDownload=1\n");
    ConnectionSettings s(W(dir));
    s.Load();
    EXPECT_EQ(s.COMID, L"3");
    EXPECT_EQ(s.Parity, L"1,ODD,\u5947");
    EXPECT_EQ(s.ReplyTimeout(), 500);
    EXPECT_EQ(s.CmdBay, L"300");

    ComCfgStruct cfg;
    s.FillRegisterLink(cfg);
    EXPECT_EQ(cfg.wPortNo, 3);
    EXPECT_EQ(cfg.nBaudRate, 19200);
    EXPECT_EQ(cfg.byDataBits, 7);
    EXPECT_EQ(cfg.wParity, 1);
    EXPECT_EQ(cfg.byStopBits, 1);  // the channel's default stays

    s.bootBaud = L"38400";
    ComCfgStruct boot;
    s.FillBootLink(boot);
    EXPECT_EQ(boot.wPortNo, 3);
    EXPECT_EQ(boot.nBaudRate, 38400);
    EXPECT_EQ(boot.byDataBits, 8);
    EXPECT_EQ(boot.wParity, 2);
}

TEST(ConnectionSettings, GarbageValuesReadAsZero)
{
    const std::string dir = NewFolder("garbage");
    WriteFile(dir + "config.ini", "[COM]\nCOMID=abc\nbautRate=fast\ndevAddr=x1\nDataBit=\nParity=E\nOutTime=1e3x\n");
    ConnectionSettings s(W(dir));
    s.Load();
    EXPECT_EQ(s.COMID, L"abc");
    EXPECT_FALSE(s.PortUnset());
    EXPECT_EQ(s.PortNumber(), 0);
    EXPECT_EQ(s.BaudRate(), 0);
    EXPECT_EQ(s.Station(), 0);
    EXPECT_EQ(s.ParityNumber(), 0);
    EXPECT_EQ(s.ReplyTimeout(), 1);  // digits up to the first non-digit
    // An empty value is a value: the default applies only to a missing key.
    EXPECT_EQ(s.DataBit, L"");
    EXPECT_EQ(s.DataBits(), 0);
    ComCfgStruct cfg;
    s.FillRegisterLink(cfg);
    EXPECT_EQ(cfg.wPortNo, 0);
    EXPECT_EQ(cfg.nBaudRate, 0);
}

TEST(ConnectionSettings, StoreWritesTheSevenKeysInOrderAndKeepsOthers)
{
    const std::string dir = NewFolder("store");
    WriteFile(dir + "config.ini", "[COM]\nDownload=1\n");
    ConnectionSettings s(W(dir));
    s.Load();
    s.COMID = L"4";
    s.bautRate = L"38400";
    ASSERT_TRUE(s.Store());
    const std::string text = ReadFile(dir + "config.ini");
    const char* keys[] = {"Download=1", "COMID=4", "bautRate=38400", "DataBit=8", "Parity=2,EVEN,",
                          "devAddr=1", "OutTime=1000", "CmdBay=200"};
    size_t at = 0;
    for (const char* k : keys) {
        const size_t pos = text.find(k, at);
        ASSERT_NE(pos, std::string::npos) << k << " in\n" << text;
        at = pos;
    }
    ConnectionSettings back(W(dir));
    back.Load();
    EXPECT_EQ(back.COMID, L"4");
    EXPECT_EQ(back.Parity, L"2,EVEN,\u5076");
    EXPECT_EQ(back.StoredCOMID(), L"4");
}

TEST(ConnectionSettings, StatusTexts)
{
    ConnectionSettings s(L"");
    s.COMID = L"3";
    LinkStatusTexts t = MakeLinkStatusTexts(s, true, false);
    EXPECT_EQ(t.mode, L"Noraml");
    EXPECT_EQ(t.link, L"Connect");
    EXPECT_EQ(t.port, L"COM3,9600,8,2,EVEN");
    EXPECT_EQ(t.station, L"Station:1");

    s.bootBaud = L"38400";
    s.Parity = L"0,NONE,\u65e0";
    t = MakeLinkStatusTexts(s, false, true);
    EXPECT_EQ(t.mode, L"Boot");
    EXPECT_EQ(t.port, L"COM3,38400,8,0,NONE");

    t = MakeLinkStatusTexts(s, false, false);
    EXPECT_EQ(t.mode, L"");
    EXPECT_EQ(t.link, L"DisConn");
}
