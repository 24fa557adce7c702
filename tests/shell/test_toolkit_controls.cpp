#include "ControlIds.h"
#include "SmallControls.h"

#include <QDialog>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>
#include <gtest/gtest.h>

namespace {

// --- colour picker ------------------------------------------------------------

class ScriptedPicker : public CColorPicker
{
public:
  QColor answer; // invalid: the user cancels
  QColor offered;

protected:
  bool PromptColor(const QColor& initial, QColor* chosen) override
  {
    offered = initial;
    if (!answer.isValid())
      return false;
    *chosen = answer;
    return true;
  }
};

TEST(ColorPicker, StoredValuesReadBackUnchanged)
{
  CColorPicker picker;
  picker.SetColor(kColorAutomatic);
  EXPECT_EQ(picker.GetColor(), 0xFF000000u);
  EXPECT_EQ(picker.Color(), QColor(Qt::black));

  // Slot 1 of the monitor: red 0, green 0, blue 255.
  picker.SetColor(MakeColorRef(0, 0, 255));
  EXPECT_EQ(picker.GetColor(), 0x00FF0000u);
  EXPECT_EQ(picker.Color(), QColor(0, 0, 255));
  picker.SetColor(MakeColorRef(238, 180, 34));
  EXPECT_EQ(picker.Color(), QColor(238, 180, 34));
  EXPECT_EQ(QColorToColorRef(picker.Color()), picker.GetColor());
}

TEST(ColorPicker, UserChoiceIsNoticedAndCancelChangesNothing)
{
  ScriptedPicker picker;
  QSignalSpy spy(&picker, &CColorPicker::colorSelected);
  picker.SetColor(MakeColorRef(47, 79, 79));
  EXPECT_EQ(spy.count(), 0) << "setting is no choice";

  picker.answer = QColor(255, 218, 185);
  QTest::mouseClick(&picker, Qt::LeftButton);
  EXPECT_EQ(picker.offered, QColor(47, 79, 79));
  ASSERT_EQ(spy.count(), 1);
  EXPECT_EQ(spy.at(0).at(0).value<ColorRef>(), MakeColorRef(255, 218, 185));
  EXPECT_EQ(picker.GetColor(), MakeColorRef(255, 218, 185));

  picker.answer = QColor();
  EXPECT_FALSE(picker.Choose());
  EXPECT_EQ(spy.count(), 1);
  EXPECT_EQ(picker.GetColor(), MakeColorRef(255, 218, 185));
}

// --- browse edit --------------------------------------------------------------

class ScriptedBrowse : public CBrowseEdit
{
public:
  QString answer;
  QString startedAt;

protected:
  QString PromptPath(const QString& start) override
  {
    startedAt = start;
    return answer;
  }
};

TEST(BrowseEdit, EveryTextChangeIsNoticed)
{
  CBrowseEdit edit;
  QSignalSpy spy(&edit, &CBrowseEdit::textChanged);
  edit.SetText("C:\\");
  ASSERT_EQ(spy.count(), 1);
  EXPECT_EQ(spy.at(0).at(0).toString(), "C:\\");

  edit.Edit()->clear();
  QTest::keyClicks(edit.Edit(), "a.vkr");
  EXPECT_EQ(edit.Text(), "a.vkr");
  EXPECT_EQ(spy.count(), 1 + 1 + 5); // clear, then one per typed character
  EXPECT_EQ(spy.last().at(0).toString(), "a.vkr");
}

TEST(BrowseEdit, ChosenPathGoesIntoTheEdit)
{
  ScriptedBrowse edit;
  edit.SetMode(CBrowseEdit::Mode::Folder);
  edit.SetInitialFolder(QDir::tempPath());
  QSignalSpy spy(&edit, &CBrowseEdit::textChanged);

  edit.answer = QDir::tempPath() + "/source";
  EXPECT_TRUE(edit.Browse());
  EXPECT_EQ(edit.startedAt, QDir::tempPath()) << "an empty edit opens at the initial folder";
  EXPECT_EQ(edit.Text(), QDir::toNativeSeparators(QDir::tempPath() + "/source"));
  ASSERT_EQ(spy.count(), 1);

  // Opening again starts where the edit's path is, when it can.
  edit.SetText(QDir::tempPath());
  edit.answer.clear(); // cancelled
  EXPECT_FALSE(edit.Browse());
  EXPECT_EQ(edit.startedAt, QDir::tempPath());
  EXPECT_EQ(edit.Text(), QDir::tempPath());
  EXPECT_EQ(spy.count(), 2);

  edit.SetFilter("VKR(*.vkr)");
  EXPECT_EQ(edit.Filter(), "VKR(*.vkr)");
  EXPECT_EQ(edit.GetMode(), CBrowseEdit::Mode::Folder);
}

// --- font-name combo ---------------------------------------------------------

TEST(FontNameCombo, SelectsInstalledAndKeepsStoredNames)
{
  CFontNameCombo combo;
  ASSERT_GT(combo.count(), 0) << "the list holds the installed families";
  const QString installed = combo.itemText(combo.count() - 1);
  QSignalSpy spy(&combo, &CFontNameCombo::fontNameChanged);

  EXPECT_TRUE(combo.SelectFontName(installed.toUpper()));
  EXPECT_EQ(combo.SelectedFontName(), installed);
  EXPECT_EQ(combo.SelectedFont().family(), installed);
  ASSERT_GE(spy.count(), 1);
  EXPECT_EQ(spy.last().at(0).toString(), installed);

  const int before = combo.count();
  const QString missing = "NoSuchFamily Verdana";
  EXPECT_FALSE(combo.SelectFontName(missing));
  EXPECT_EQ(combo.SelectedFontName(), missing);
  EXPECT_EQ(combo.count(), before + 1);
  EXPECT_FALSE(combo.SelectFontName(missing)) << "still not installed";
  EXPECT_EQ(combo.count(), before + 1) << "added once";
}

// --- control identifiers -------------------------------------------------------

TEST(ControlIds, FindAndTranslateByIdentifier)
{
  QDialog dialog;
  SetCtrlId(&dialog, 148);
  auto* layout = new QVBoxLayout(&dialog);
  auto* group = new QGroupBox("Options", &dialog);
  SetCtrlId(group, 1004);
  auto* inner = new QVBoxLayout(group);
  auto* start = new QPushButton("Start Data Log", group);
  SetCtrlId(start, 1032);
  inner->addWidget(start);
  auto* label = new QLabel("通信端口", &dialog);
  SetCtrlId(label, 2010);
  auto* plain = new QLabel("kept", &dialog);
  SetCtrlId(plain, 2011);
  auto* anonymous = new QLabel("no id", &dialog);
  layout->addWidget(group);
  layout->addWidget(label);
  layout->addWidget(plain);
  layout->addWidget(anonymous);

  EXPECT_EQ(FindCtrl(&dialog, 1032), start) << "found below a nested group";
  EXPECT_EQ(FindCtrlAs<QGroupBox>(&dialog, 1004), group);
  EXPECT_EQ(FindCtrlAs<QPushButton>(&dialog, 1004), nullptr);
  EXPECT_EQ(FindCtrl(&dialog, 148), &dialog);
  EXPECT_EQ(FindCtrl(&dialog, 9999), nullptr);
  EXPECT_EQ(FindCtrl(&dialog, 0), nullptr) << "0 names no control";
  EXPECT_EQ(CtrlId(anonymous), 0);

  const std::map<int, std::wstring> texts = {
      {148, L"Serial Port Setting"}, {1004, L"选项"}, {1032, L"开始"}, {2010, L"Port"},
      {4711, L"not on this dialog"}};
  EXPECT_EQ(ApplyCtrlTexts(&dialog, texts), 4);
  EXPECT_EQ(dialog.windowTitle(), "Serial Port Setting");
  EXPECT_EQ(group->title(), QString::fromWCharArray(L"选项"));
  EXPECT_EQ(start->text(), QString::fromWCharArray(L"开始"));
  EXPECT_EQ(label->text(), "Port");
  EXPECT_EQ(plain->text(), "kept");
  EXPECT_EQ(CtrlText(start), start->text());

  SetCtrlId(start, 0);
  EXPECT_EQ(FindCtrl(&dialog, 1032), nullptr);
}

} // namespace
