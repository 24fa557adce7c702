// The serial settings dialog: the port probe, OK with its key order and
// values, Cancel that only reloads.
#include "ConnectionSettings.h"
#include "ControlIds.h"
#include "DialogComSet.h"
#include "LanguageTables.h"
#include "LinkTestUtil.h"
#include "UiTestUtil.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <algorithm>
#include <QPushButton>
#include <gtest/gtest.h>

using linktest::NewFolder;
using linktest::ReadFile;
using linktest::WriteFile;

namespace {

std::wstring W(const std::string& s) { return std::wstring(s.begin(), s.end()); }

QStringList Items(QComboBox* c)
{
    QStringList out;
    for (int i = 0; i < c->count(); ++i) out << c->itemText(i);
    return out;
}

class ComSetDialog : public ::testing::Test {
protected:
    void SetUp() override { linktest::UnmapAllPorts(); }
};

}  // namespace

TEST_F(ComSetDialog, PortListHoldsThePortsThatOpenNow)
{
    linktest::SilentPort com2(2);
    linktest::SilentPort com5(5);
    CDialogComSet dlg;
    dlg.port = QStringLiteral("COM9");
    dlg.dataBits = QStringLiteral("7");
    dlg.show();
    EXPECT_EQ(dlg.ProbedPorts(), (QStringList{QStringLiteral("COM2"), QStringLiteral("COM5")}));
    EXPECT_EQ(Items(dlg.combo(CDialogComSet::IDC_PORT)), dlg.ProbedPorts());
    EXPECT_EQ(dlg.combo(CDialogComSet::IDC_PORT)->currentText(), QStringLiteral("COM9"));
    EXPECT_EQ(dlg.combo(CDialogComSet::IDC_DATABITS)->currentText(), QStringLiteral("7"));
    EXPECT_EQ(Items(dlg.combo(CDialogComSet::IDC_BAUD)).join(','),
              QStringLiteral("2400,4800,9600,19200,38400,57600,115200"));
    EXPECT_EQ(dlg.combo(CDialogComSet::IDC_STATION)->count(), 252);
    EXPECT_EQ(dlg.combo(CDialogComSet::IDC_PARITY)->count(), 3);
    EXPECT_EQ(Items(dlg.combo(CDialogComSet::IDC_CMDGAP)).join(','),
              QStringLiteral("100,200,300,400,500,600,800,1000,2000,5000"));
    EXPECT_EQ(dlg.windowTitle(), QString::fromWCharArray(L"\u4e32\u53e3\u8bbe\u7f6e"));
    dlg.hide();
}

// The port the program's own link holds cannot be opened by the probe; it is
// listed all the same, in its place among the others.
TEST_F(ComSetDialog, HeldPortIsListedWithoutAProbe)
{
    linktest::SilentPort com2(2);
    linktest::SilentPort com7(7);
    CDialogComSet dlg;
    dlg.heldPort = 4;  // mapped to a path that does not exist: no probe could open it
    dlg.show();
    EXPECT_EQ(dlg.ProbedPorts(), (QStringList{QStringLiteral("COM2"), QStringLiteral("COM4"), QStringLiteral("COM7")}));
    dlg.hide();
}

TEST_F(ComSetDialog, NoPortsGiveAnEmptyListAndTheCurrentPort)
{
    const std::string dir = NewFolder("noports");
    WriteFile(dir + "config.ini", "[COM]\nCOMID=3\n");
    ConnectionSettings s(W(dir));
    s.Load();
    CDialogComSet dlg;
    LoadDialogFromSettings(dlg, s);
    dlg.show();
    EXPECT_EQ(dlg.combo(CDialogComSet::IDC_PORT)->count(), 0);
    EXPECT_EQ(dlg.combo(CDialogComSet::IDC_PORT)->currentText(), QStringLiteral("COM3"));
    dlg.hide();
}

// A port mapped to a network port is listed by its text without a probe
// (which would connect); the serial parameters are greyed with a note, and
// OK stores the port's number.
TEST_F(ComSetDialog, NetworkPortIsShownByItsTextAndTheSerialParametersDoNotApply)
{
    linktest::SilentPort com2(2);
    linktest::MapPort(3, "tcp://192.0.2.1:4001");
    linktest::MapPort(4, "mbtcp://127.0.0.1:502");
    const std::string dir = NewFolder("net");
    WriteFile(dir + "config.ini", "[COM]\nCOMID=3\n");
    ConnectionSettings s(W(dir));
    s.Load();
    uitest::WhenModalOpens<CDialogComSet>([](CDialogComSet* dlg) {
        EXPECT_EQ(dlg->ProbedPorts(), (QStringList{QStringLiteral("COM2"), QStringLiteral("COM3 tcp://192.0.2.1:4001"),
                                                   QStringLiteral("COM4 mbtcp://127.0.0.1:502")}));
        QComboBox* port = dlg->combo(CDialogComSet::IDC_PORT);
        EXPECT_EQ(port->currentText(), QStringLiteral("COM3 tcp://192.0.2.1:4001"));
        auto* note = FindCtrlAs<QLabel>(dlg, CDialogComSet::IDC_NET_NOTE);
        EXPECT_FALSE(dlg->combo(CDialogComSet::IDC_BAUD)->isEnabled());
        EXPECT_FALSE(dlg->combo(CDialogComSet::IDC_PARITY)->isEnabled());
        EXPECT_TRUE(note->text().contains(QStringLiteral("do not apply"))) << note->text().toStdString();
        port->setEditText(QStringLiteral("COM2"));
        EXPECT_TRUE(dlg->combo(CDialogComSet::IDC_BAUD)->isEnabled());
        EXPECT_TRUE(note->isHidden());
        port->setEditText(QStringLiteral("COM4 mbtcp://127.0.0.1:502"));
        EXPECT_TRUE(note->text().contains(QStringLiteral("unit identifier"))) << note->text().toStdString();
        FindCtrlAs<QPushButton>(dlg, CDialogComSet::IDOK_)->click();
    });
    EditSerialSettings(s, nullptr, nullptr);
    EXPECT_EQ(s.COMID, L"4");
}

TEST(ComSetPortText, CharactersCOMAreStrippedFromBothEnds)
{
    EXPECT_EQ(CDialogComSet::PortNumberText(QStringLiteral("COM5")), QStringLiteral("5"));
    EXPECT_EQ(CDialogComSet::PortNumberText(QStringLiteral("COM12")), QStringLiteral("12"));
    EXPECT_EQ(CDialogComSet::PortNumberText(QStringLiteral("12")), QStringLiteral("12"));
    EXPECT_EQ(CDialogComSet::PortNumberText(QStringLiteral("MOC3C")), QStringLiteral("3"));
    EXPECT_EQ(CDialogComSet::PortNumberText(QStringLiteral("com3")), QStringLiteral("com3"));
}

TEST_F(ComSetDialog, OkWritesTheKeysInOrderAndReloads)
{
    const std::string dir = NewFolder("ok");
    ConnectionSettings s(W(dir));
    s.Load();
    uitest::WhenModalOpens<CDialogComSet>([](CDialogComSet* dlg) {
        dlg->combo(CDialogComSet::IDC_PORT)->setEditText(QStringLiteral("COM12"));
        dlg->combo(CDialogComSet::IDC_BAUD)->setEditText(QStringLiteral("19200"));
        dlg->combo(CDialogComSet::IDC_DATABITS)->setEditText(QStringLiteral("6"));
        dlg->combo(CDialogComSet::IDC_PARITY)->setCurrentIndex(1);
        dlg->combo(CDialogComSet::IDC_STATION)->setEditText(QStringLiteral("5"));
        dlg->combo(CDialogComSet::IDC_TIMEOUT)->setEditText(QStringLiteral("500"));
        dlg->combo(CDialogComSet::IDC_CMDGAP)->setEditText(QStringLiteral("fast"));
        FindCtrlAs<QPushButton>(dlg, CDialogComSet::IDOK_)->click();
    });
    EditSerialSettings(s, nullptr, nullptr);

    const std::string expected = "[COM]\nCOMID=12\nbautRate=19200\nParity=1,ODD,\xE5\xA5\x87\ndevAddr=5\n"
                                 "OutTime=500\nCmdBay=fast\nDataBit=8\n";
    std::string text = ReadFile(dir + "config.ini");
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    EXPECT_EQ(text, expected);
    EXPECT_EQ(s.COMID, L"12");
    EXPECT_EQ(s.DataBit, L"8");
    EXPECT_EQ(s.Parity, L"1,ODD,\u5947");
    EXPECT_EQ(s.CmdBay, L"fast");
    EXPECT_EQ(s.ReplyTimeout(), 500);
}

TEST_F(ComSetDialog, FastLinkBoxIsStoredAndShownAgain)
{
    const std::string dir = NewFolder("fastlink");
    ConnectionSettings s(W(dir));
    s.Load();
    auto setBox = [&](bool on) {
        bool shown = !on;
        uitest::WhenModalOpens<CDialogComSet>([&](CDialogComSet* dlg) {
            shown = dlg->fastLinkBox()->isChecked();
            dlg->fastLinkBox()->setChecked(on);
            FindCtrlAs<QPushButton>(dlg, CDialogComSet::IDOK_)->click();
        });
        EditSerialSettings(s, nullptr, nullptr);
        return shown;
    };
    EXPECT_FALSE(setBox(true));   // opened clear: no key yet
    EXPECT_NE(ReadFile(dir + "config.ini").find("FastLink=1"), std::string::npos);
    EXPECT_TRUE(s.FastLinkOn());
    EXPECT_TRUE(setBox(false));   // reopened checked, from the file
    EXPECT_NE(ReadFile(dir + "config.ini").find("FastLink=0"), std::string::npos);
    EXPECT_FALSE(s.FastLinkOn());
}

TEST_F(ComSetDialog, AutoReconnectIsOffUntilTheBoxIsChecked)
{
    const std::string dir = NewFolder("autoreconnect");
    ConnectionSettings s(W(dir));
    s.Load();
    EXPECT_FALSE(s.AutoReconnectOn());
    bool shown = true;
    uitest::WhenModalOpens<CDialogComSet>([&](CDialogComSet* dlg) {
        shown = dlg->autoReconnectBox()->isChecked();
        dlg->autoReconnectBox()->setChecked(true);
        FindCtrlAs<QPushButton>(dlg, CDialogComSet::IDOK_)->click();
    });
    EditSerialSettings(s, nullptr, nullptr);
    EXPECT_FALSE(shown);
    EXPECT_NE(ReadFile(dir + "config.ini").find("AutoReconnect=1"), std::string::npos);
    EXPECT_TRUE(s.AutoReconnectOn());
}

TEST_F(ComSetDialog, SevenDataBitsAreKept)
{
    const std::string dir = NewFolder("seven");
    ConnectionSettings s(W(dir));
    s.Load();
    uitest::WhenModalOpens<CDialogComSet>([](CDialogComSet* dlg) {
        dlg->combo(CDialogComSet::IDC_DATABITS)->setCurrentIndex(0);
        FindCtrlAs<QPushButton>(dlg, CDialogComSet::IDOK_)->click();
    });
    EditSerialSettings(s, nullptr, nullptr);
    EXPECT_EQ(s.DataBit, L"7");
    // The port field showed "COM" + "-1".
    EXPECT_EQ(s.COMID, L"-1");
}

TEST_F(ComSetDialog, CancelLeavesTheFileAndReloadsTheSettings)
{
    const std::string dir = NewFolder("cancel");
    const std::string original = "; serial settings\r\n[COM]\r\nCOMID=4\r\nbautRate=38400\r\n";
    WriteFile(dir + "config.ini", original);
    ConnectionSettings s(W(dir));
    s.Load();
    s.bautRate = L"115200";  // changed in memory only
    s.COMID = L"9";
    uitest::WhenModalOpens<CDialogComSet>([](CDialogComSet* dlg) {
        dlg->combo(CDialogComSet::IDC_PORT)->setEditText(QStringLiteral("COM1"));
        FindCtrlAs<QPushButton>(dlg, CDialogComSet::IDCANCEL_)->click();
    });
    EditSerialSettings(s, nullptr, nullptr);
    EXPECT_EQ(ReadFile(dir + "config.ini"), original);
    EXPECT_EQ(s.COMID, L"4");
    EXPECT_EQ(s.bautRate, L"38400");
}

TEST_F(ComSetDialog, LanguageTextsReplaceTheTemplateTexts)
{
    const std::string folder = TORVANE_SAMPLE_PROGRAM_DIR;
    if (linktest::ReadFile(folder + "Language/language.xls").empty()) GTEST_SKIP() << "sample data not built";
    LanguageTables english(W(folder));
    english.Start();
    ASSERT_FALSE(english.controlTexts().empty());
    CDialogComSet dlg(&english);
    dlg.dataBits = QStringLiteral("7");
    dlg.show();
    EXPECT_EQ(dlg.windowTitle(), QString::fromStdWString(english.ControlText(CDialogComSet::IDD)));
    EXPECT_EQ(CtrlText(FindCtrl(&dlg, CDialogComSet::IDC_PORT_LABEL)),
              QString::fromStdWString(english.ControlText(CDialogComSet::IDC_PORT_LABEL)));
    EXPECT_EQ(CtrlText(FindCtrl(&dlg, CDialogComSet::IDOK_)), QString::fromStdWString(english.ControlText(1)));
    // A combo whose id also names a control elsewhere shows its member.
    EXPECT_EQ(dlg.combo(CDialogComSet::IDC_DATABITS)->currentText(), QStringLiteral("7"));
    dlg.hide();
}
