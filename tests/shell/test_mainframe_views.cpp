// The customise dialog, the sample data set's tree, and the views this
// build has, opened from the tree of a real main frame.
#include "CustomizeDlg.h"
#include "FrameParts.h"
#include "ShellViews.h"
#include "test_mainframe_util.h"

#include <QAction>
#include <QComboBox>
#include <QListWidget>
#include <QPointer>
#include <QToolBar>

using namespace mftest;

TEST(CustomizeModel, ToolbarButtonEdits)
{
    CustomizeModel m;
    m.buttons = {32776, 32777, 0, 57664};
    EXPECT_FALSE(m.AddButton(32777));        // already on the bar
    EXPECT_TRUE(m.AddButton(32774, 0));      // after the first
    EXPECT_EQ(m.buttons, (std::vector<int>{32776, 32774, 32777, 0, 57664}));
    EXPECT_TRUE(m.AddButton(0));             // separators may repeat
    EXPECT_TRUE(m.MoveButton(1, -1));
    EXPECT_FALSE(m.MoveButton(0, -1));
    EXPECT_FALSE(m.MoveButton(5, 1));
    EXPECT_EQ(m.buttons, (std::vector<int>{32774, 32776, 32777, 0, 57664, 0}));
    EXPECT_TRUE(m.RemoveButton(5));
    EXPECT_FALSE(m.RemoveButton(5));
    EXPECT_FALSE(m.RemoveButton(-1));
    EXPECT_EQ(m.buttons, (std::vector<int>{32774, 32776, 32777, 0, 57664}));
}

TEST(CustomizeModel, OneCommandPerShortcut)
{
    CustomizeModel m;
    m.shortcuts = {{32777, QKeySequence("Ctrl+C")}, {32778, QKeySequence("Ctrl+D")}};
    EXPECT_EQ(m.AssignShortcut(32778, QKeySequence("Ctrl+C")), 32777);
    EXPECT_TRUE(m.shortcuts[32777].isEmpty());
    EXPECT_EQ(m.shortcuts[32778], QKeySequence("Ctrl+C"));
    EXPECT_EQ(m.AssignShortcut(32778, QKeySequence()), 0);
    EXPECT_TRUE(m.shortcuts[32778].isEmpty());
}

TEST_F(FrameTest, CustomizeDialogChangesReachTheWindowOnOk)
{
    WriteProgramFolder(dir_);
    Start();
    const CustomizeModel before = frame_->CurrentCustomization();
    EXPECT_EQ(before.buttons, frame_->ToolBarButtons());
    EXPECT_EQ(before.shortcuts.at(ID_CONNECT), QKeySequence("Ctrl+C"));

    std::map<int, QString> captions = {{ID_CONNECT, "Connect"}, {ID_USER_GUIDE, "User Guideline"}};
    CCustomizeDlg dlg(before, captions, {ID_CONNECT, ID_USER_GUIDE}, StandardToolBarIds(), frame_);
    // Add "User Guideline" after the first button, drop the last one.
    dlg.CommandChoice()->setCurrentIndex(dlg.CommandChoice()->findData(ID_USER_GUIDE));
    dlg.ButtonList()->setCurrentRow(0);
    dlg.AddSelectedCommand();
    dlg.ButtonList()->setCurrentRow(dlg.ButtonList()->count() - 1);
    dlg.RemoveSelectedButton();
    dlg.AssignKeys(ID_USER_GUIDE, QKeySequence("F1"));
    // Nothing reaches the window before OK.
    EXPECT_EQ(frame_->ToolBarButtons(), before.buttons);

    frame_->ApplyCustomization(dlg.Model());
    EXPECT_EQ(frame_->ToolBarButtons(),
              (std::vector<int>{32776, 32785, 32777, 32778, 0, 32774, 32772, 32773, 0}));
    EXPECT_EQ(frame_->Command(ID_USER_GUIDE)->shortcut(), QKeySequence("F1"));
    // The toolbar shares the commands' actions: enabling still follows.
    EXPECT_FALSE(frame_->Command(ID_DISCONNECT)->isEnabled());

    dlg.ResetButtons();
    frame_->ApplyCustomization(dlg.Model());
    EXPECT_EQ(frame_->ToolBarButtons(), StandardToolBarIds());
}

TEST_F(FrameTest, SampleDataTree)
{
    const fs::path sample = fs::path(TORVANE_SAMPLE_PROGRAM_DIR);
    if (!fs::exists(sample / "Parameter" / "TV380.xls") || !fs::exists(sample / "Language" / "language.xls"))
        GTEST_SKIP() << "sample data not built";
    for (const char* sub : {"Language", "Parameter"})
        fs::copy(sample / sub, fs::path(dir_.path()) / sub, fs::copy_options::recursive);
    RegisterAllKinds();
    Start();
    EXPECT_TRUE(prompts_.messages.empty());
    COfficeTreeCtrl* tree = frame_->DevicePane()->Tree();
    ASSERT_EQ(tree->topLevelItemCount(), 1);
    EXPECT_TRUE(tree->topLevelItem(0)->font(0).bold());
    QTreeWidgetItem* device = tree->FindItem(DT_DEVICE_ROOT);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->text(0).toStdWString(), table_.deviceType);
    // Every group of the table is under the parameter or the M-data root.
    for (const ParamGroup& g : table_.groups) {
        const bool mdata = g.number == 8 || g.number == 9;
        QTreeWidgetItem* item = tree->FindItem((mdata ? DT_MD_GROUP_BASE : DT_GROUP_BASE) + g.number);
        ASSERT_NE(item, nullptr) << g.number;
        EXPECT_EQ(COfficeTreeCtrl::ItemNumber(item->parent()), mdata ? DT_MD_ROOT : DT_PARAMETER_ROOT);
        EXPECT_EQ(item->childCount(), g.subgroupCount());
        ASSERT_TRUE(frame_->DevicePane()->SelectNumber(COfficeTreeCtrl::ItemNumber(item)));
        EXPECT_EQ(counts_.choices.back().kind, mdata ? ViewKind::MData : ViewKind::Parameter);
        EXPECT_EQ(counts_.choices.back().selection, g.number);
    }
    EXPECT_EQ(counts_.alive, 1);
}

#ifdef TEST_HAVE_PARAMS
TEST_F(FrameTest, BuiltParameterAndMDataViewsOpenFromTheTree)
{
    WriteProgramFolder(dir_);
    RegisterBuiltViews(views_);
    EXPECT_TRUE(views_.Has(ViewKind::Parameter));
    EXPECT_TRUE(views_.Has(ViewKind::MData));
    Start();
    ASSERT_TRUE(frame_->DevicePane()->SelectNumber(10001));
    QPointer<CDataDlg> param = frame_->CurrentView();
    ASSERT_FALSE(param.isNull());
    EXPECT_EQ(param->Table(), &table_);
    ASSERT_TRUE(frame_->DevicePane()->SelectNumber(60008));
    EXPECT_TRUE(param.isNull());
    ASSERT_NE(frame_->CurrentView(), nullptr);
    EXPECT_EQ(frame_->CurrentView()->parentWidget(), frame_->View());
    // The language switch selects the parameter root: a parameter view again.
    EXPECT_TRUE(frame_->SwitchLanguage(L"Chinese"));
    ASSERT_NE(frame_->CurrentView(), nullptr);
    EXPECT_NE(frame_->CurrentView()->metaObject()->className(), QByteArray("CDialogMD"));
}
#endif

TEST_F(FrameTest, CommandsWithoutMenuItemRunTheirRegisteredHandler)
{
    WriteProgramFolder(dir_);
    Start();
    QWidget* parentSeen = nullptr;
    RegisterShellCommand(ID_PROGRAM_MAKER, [&](QWidget* parent) { parentSeen = parent; });
    frame_->OnCommand(ID_PROGRAM_MAKER);
    EXPECT_EQ(parentSeen, frame_);
    // The frame's own handler comes first.
    int own = 0;
    frame_->SetCommandHandler(ID_PROGRAM_MAKER, [&] { ++own; });
    parentSeen = nullptr;
    frame_->Command(ID_PROGRAM_MAKER)->trigger();
    EXPECT_EQ(own, 1);
    EXPECT_EQ(parentSeen, nullptr);
    RegisterShellCommand(ID_PROGRAM_MAKER, nullptr);
    EXPECT_EQ(FindShellCommand(ID_PROGRAM_MAKER), nullptr);
}
