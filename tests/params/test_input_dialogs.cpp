// The two value input dialogs: the number dialog's bound check and the
// option dialog's free text.
#include "DlgInputPara.h"
#include "ParamsTestSupport.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

namespace {

struct NumberDialog : ::testing::Test {
    CDlgInputPara dlg;
    QStringList refusals;

    void SetUp() override
    {
        dlg.refusal = [this](QWidget*, const QString& text) { refusals << text; };
        dlg.value = 50;
        dlg.minValue = 0;
        dlg.maxValue = 590;
        dlg.title = QStringLiteral("Digital frequency setting,\u6570\u5b57\u9891\u7387\u8bbe\u5b9a");
        dlg.show();
    }
    void TearDown() override { dlg.hide(); }

    void Enter(const QString& text)
    {
        dlg.field()->setText(text);
        dlg.okButton()->click();
    }
};

TEST_F(NumberDialog, OpensWithTitleAndValue)
{
    EXPECT_EQ(dlg.windowTitle(), dlg.title);
    EXPECT_EQ(dlg.field()->text(), QStringLiteral("50"));
}

TEST_F(NumberDialog, MaximumAcceptedOneStepAboveRefused)
{
    Enter(QStringLiteral("590.01"));
    ASSERT_EQ(refusals.size(), 1);
    EXPECT_EQ(refusals[0], CDlgInputPara::OutOfRangeText(0, 590));
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(dlg.focusWidget(), dlg.field());
    EXPECT_EQ(dlg.value, 50);

    Enter(QStringLiteral("590"));
    EXPECT_EQ(refusals.size(), 1);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(dlg.value, 590);
}

TEST_F(NumberDialog, MinimumAcceptedBelowRefused)
{
    Enter(QStringLiteral("-0.01"));
    EXPECT_EQ(refusals.size(), 1);
    EXPECT_TRUE(dlg.isVisible());
    Enter(QStringLiteral(" 0 "));
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.value, 0);
}

TEST_F(NumberDialog, TextThatIsNoNumberRefused)
{
    for (const char* text : {"abc", "", "12,5", "inf", "nan", "1e999"}) {
        Enter(QString::fromLatin1(text));
        EXPECT_TRUE(dlg.isVisible()) << text;
    }
    ASSERT_EQ(refusals.size(), 6);
    EXPECT_EQ(refusals[0], CDlgInputPara::NotANumberText());
    EXPECT_EQ(dlg.value, 50);
}

TEST_F(NumberDialog, EntryRoundedToTheValuesPlacesBeforeItIsTaken)
{
    dlg.decimals = 2;
    // The field shows what the drive keeps.
    dlg.hide();
    dlg.value = 12.5;
    dlg.show();
    EXPECT_EQ(dlg.field()->text(), QStringLiteral("12.50"));

    Enter(QStringLiteral("35.555"));
    ASSERT_EQ(refusals.size(), 1);
    EXPECT_EQ(refusals[0], CDlgInputPara::RoundedText(QStringLiteral("35.56"), 2));
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(dlg.field()->text(), QStringLiteral("35.56"));
    EXPECT_EQ(dlg.value, 12.5);
    dlg.okButton()->click();  // the rounded value, as shown
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_DOUBLE_EQ(dlg.value, 35.56);

    // Places it has anyway, and trailing zeros, are taken at once.
    dlg.show();
    Enter(QStringLiteral("35.5"));
    EXPECT_FALSE(dlg.isVisible());
    dlg.show();
    Enter(QStringLiteral("35.550"));
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(refusals.size(), 1);

    // Rounding that leaves the range is refused as out of range.
    dlg.show();
    Enter(QStringLiteral("590.006"));
    EXPECT_EQ(refusals.last(), CDlgInputPara::OutOfRangeText(0, 590));
    EXPECT_TRUE(dlg.isVisible());
    // A whole-number value rounds half away from zero, as the register does.
    dlg.decimals = 0;
    Enter(QStringLiteral("2.5"));
    EXPECT_EQ(dlg.field()->text(), QStringLiteral("3"));
}

TEST_F(NumberDialog, UnknownValueOpensWithEmptyField)
{
    dlg.hide();
    dlg.valueUnknown = true;
    dlg.show();
    EXPECT_EQ(dlg.field()->text(), QString());
    dlg.okButton()->click();
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(refusals, QStringList{CDlgInputPara::NotANumberText()});
}

TEST_F(NumberDialog, CancelLeavesValue)
{
    dlg.field()->setText(QStringLiteral("12"));
    dlg.cancelButton()->click();
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), QDialog::Rejected);
    EXPECT_EQ(dlg.value, 50);
}

TEST(OptionDialog, EntriesInOrderAndOnlyListedOptionsTaken)
{
    const QStringList entries{QStringLiteral("0,Keypad"), QStringLiteral("1,Terminal"),
                              QStringLiteral("2,Communication")};
    CDlgInputParaCB dlg(entries, QString());
    QStringList refusals;
    dlg.refusal = [&](QWidget*, const QString& text) { refusals << text; };
    dlg.title = QStringLiteral("Run command source");
    dlg.show();
    EXPECT_EQ(dlg.windowTitle(), dlg.title);
    ASSERT_EQ(dlg.list()->count(), 3);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(dlg.list()->itemText(i), entries[i]);
    EXPECT_EQ(dlg.list()->currentText(), QString());

    // A text that is none of the options would reach the drive as code 0.
    for (const char* typed : {"7,not listed", "xyz", "", "Terminal", "1,terminal"}) {
        dlg.list()->setEditText(QString::fromLatin1(typed));
        dlg.okButton()->click();
        EXPECT_TRUE(dlg.isVisible()) << typed;
    }
    ASSERT_EQ(refusals.size(), 5);
    EXPECT_EQ(refusals[0], CDlgInputParaCB::NotAnOptionText());
    EXPECT_EQ(dlg.choice, QString());

    // The code alone picks its entry.
    dlg.list()->setEditText(QStringLiteral(" 1 "));
    dlg.okButton()->click();
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(dlg.choice, QStringLiteral("1,Terminal"));
}

TEST(OptionDialog, WithoutEntriesANumberWithinBounds)
{
    CDlgInputParaCB dlg({}, QString());
    QStringList refusals;
    dlg.refusal = [&](QWidget*, const QString& text) { refusals << text; };
    dlg.minValue = 0;
    dlg.maxValue = 5;
    dlg.show();
    for (const char* typed : {"xyz", "6"}) {
        dlg.list()->setEditText(QString::fromLatin1(typed));
        dlg.okButton()->click();
        EXPECT_TRUE(dlg.isVisible()) << typed;
    }
    EXPECT_EQ(refusals, (QStringList{CDlgInputPara::NotANumberText(), CDlgInputPara::OutOfRangeText(0, 5)}));
    dlg.list()->setEditText(QStringLiteral("5"));
    dlg.okButton()->click();
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.choice, QStringLiteral("5"));
}

TEST(OptionDialog, PickedEntryReturnedCancelKeepsChoice)
{
    CDlgInputParaCB dlg({QStringLiteral("0,Off"), QStringLiteral("1,On")}, QStringLiteral("0,Off"));
    dlg.show();
    EXPECT_EQ(dlg.list()->currentText(), QStringLiteral("0,Off"));
    dlg.list()->setCurrentIndex(1);
    dlg.cancelButton()->click();
    EXPECT_EQ(dlg.choice, QStringLiteral("0,Off"));

    dlg.show();
    dlg.list()->setCurrentIndex(1);
    dlg.okButton()->click();
    EXPECT_EQ(dlg.choice, QStringLiteral("1,On"));
}

// The number dialog for a parameter names it with its range and unit, in
// the language chosen, and rounds as the register does.
TEST(ParameterNumberDialog, ShowsNameRangeAndUnit)
{
    ParamTable table;
    ptest::LoadSampleTable(table);
    const ParamRecord& jog = table.params[static_cast<size_t>(ptest::IndexOf(table, L"01.16"))];
    CDlgInputPara dlg;
    QStringList refusals;
    dlg.refusal = [&](QWidget*, const QString& text) { refusals << text; };
    dlg.table = &table;
    dlg.record = &jog;
    dlg.minValue = jog.minValue;
    dlg.maxValue = jog.maxValue;
    dlg.decimals = 2;
    dlg.show();
    EXPECT_EQ(dlg.aboutText(), QStringLiteral("Jog frequency\n0.00 to 590.00 Hz"));
    EXPECT_EQ(CDlgInputPara::AboutText(jog, 1), QStringLiteral("\u70b9\u52a8\u8fd0\u884c\u9891\u7387\n0.00 \u81f3 590.00 Hz"));
    dlg.field()->setText(QStringLiteral("35.555"));
    dlg.okButton()->click();
    EXPECT_EQ(refusals, QStringList{CDlgInputPara::RoundedText(QStringLiteral("35.56"), 2)});
    dlg.okButton()->click();
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_DOUBLE_EQ(dlg.value, 35.56);

    // Without a parameter the dialog says what it always said.
    CDlgInputPara plain;
    plain.show();
    EXPECT_TRUE(plain.aboutText().isEmpty());
}

}  // namespace
