// The customise dialog, the sample data set's tree, and the views this
// build has, opened from the tree of a real main frame.
#include "CustomizeDlg.h"
#include "FrameParts.h"
#include "ShellViews.h"
#ifdef TEST_HAVE_PARAMS
#include "DialogParam.h"
#include "ReportGrid.h"
#endif
#include "test_mainframe_util.h"

#include <QAction>
#include <QComboBox>
#include <QListWidget>
#include <QPointer>
#include <QToolBar>

#include <algorithm>

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

TEST_F(FrameTest, OldViewIsGoneBeforeTheNewOneIsMade)
{
    WriteProgramFolder(dir_);
    // What the creator of each new view finds: views alive, workers ended,
    // and the view the frame still shows.
    struct Seen {
        int alive;
        int workersEnded;
        CDataDlg* current;
    };
    std::vector<Seen> seen;
    for (ViewKind k : {ViewKind::Parameter, ViewKind::RealTimeMonitor})
        views_.Register(k, [this, &seen](const ViewChoice& c, QWidget* parent) -> CDataDlg* {
            seen.push_back({counts_.alive.load(), counts_.workersEnded.load(), frame_->CurrentView()});
            return new CTestView(counts_, c, parent);
        });
    Start();
    ASSERT_TRUE(frame_->DevicePane()->SelectNumber(DT_MONITOR_RT));
    auto* monitor = dynamic_cast<CTestView*>(frame_->CurrentView());
    ASSERT_NE(monitor, nullptr);
    ASSERT_TRUE(monitor->StartLongWorker());

    ASSERT_TRUE(frame_->DevicePane()->SelectNumber(10002));
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].alive, 0);
    EXPECT_EQ(seen[1].workersEnded, 1);
    EXPECT_EQ(seen[1].current, nullptr);
    EXPECT_EQ(counts_.alive, 1);
    // An item that opens nothing leaves the view in place.
    CDataDlg* shown = frame_->CurrentView();
    ASSERT_TRUE(frame_->DevicePane()->SelectNumber(DT_PROGRAM_ROOT));
    EXPECT_EQ(frame_->CurrentView(), shown);
}

#ifdef TEST_HAVE_PARAMS
TEST_F(FrameTest, ValueFileButtonsStayEnabledOffline)
{
    WriteProgramFolder(dir_);
    RegisterBuiltViews(views_);
    Start();
    ASSERT_FALSE(app_->IsNormalConnected());
    ASSERT_TRUE(frame_->DevicePane()->SelectNumber(10001));
    auto* v = dynamic_cast<CDialogParam*>(frame_->CurrentView());
    ASSERT_NE(v, nullptr);
    // Reading and writing need the drive; preparing and saving a value file
    // does not.
    EXPECT_FALSE(v->Button(CParamGridView::IDC_READ_SELECTED)->isEnabled());
    EXPECT_FALSE(v->Button(CParamGridView::IDC_WRITE_SELECTED)->isEnabled());
    EXPECT_TRUE(v->Button(CParamGridView::IDC_LOAD_VALUES)->isEnabled());
    EXPECT_TRUE(v->Button(CParamGridView::IDC_SAVE_VALUES)->isEnabled());
    // So also after the language switch opens the parameter view anew.
    EXPECT_TRUE(frame_->SwitchLanguage(L"Chinese"));
    v = dynamic_cast<CDialogParam*>(frame_->CurrentView());
    ASSERT_NE(v, nullptr);
    EXPECT_TRUE(v->Button(CParamGridView::IDC_LOAD_VALUES)->isEnabled());
    EXPECT_TRUE(v->Button(CParamGridView::IDC_SAVE_VALUES)->isEnabled());
}

namespace {
// A workbook whose records load (addresses as text): group 1 with 1001 and
// 1010, group 2 with 2001.
bool WriteRecordsBook(const std::string& path, const std::wstring& deviceType)
{
    std::vector<Cell> c = {{1, 2, deviceType}, {2, 1, std::wstring(L"01***")}, {2, 2, std::wstring(L"Basic,基本")}};
    int row = 3;
    for (const wchar_t* a : {L"1001", L"1010"}) {
        c.push_back({row, 0, std::wstring(a)});
        c.push_back({row, 1, std::wstring(L"01.") + (a + 2)});
        c.push_back({row, 2, std::wstring(L"Value ") + a});
        c.push_back({row, 6, std::wstring(L"0")});
        ++row;
    }
    c.push_back({row, 1, std::wstring(L"02***")});
    c.push_back({row++, 2, std::wstring(L"Protection,保护")});
    c.push_back({row, 0, std::wstring(L"2001")});
    c.push_back({row, 1, std::wstring(L"02.01")});
    c.push_back({row, 2, std::wstring(L"Limit,限制")});
    c.push_back({row, 6, std::wstring(L"0")});
    return WriteBook(path, c);
}

// A frame that answers the question about unwritten values.
class CDiscardAnsweringFrame : public CMainFrame {
public:
    CDiscardAnsweringFrame(CTorvaneApp& app, const MainFrameOptions& o) : CMainFrame(app, o) {}
    bool answer = false;
    std::vector<int> asked;
    bool leaveAnswer = true;
    std::vector<int> leaveAsked;

protected:
    bool ConfirmDiscardUnwritten(int count) override
    {
        asked.push_back(count);
        return answer;
    }
    bool ConfirmLeaveUnwritten(int count) override
    {
        leaveAsked.push_back(count);
        return leaveAnswer;
    }
};
}  // namespace

TEST_F(FrameTest, ReloadKeepsValuesAndMarksOfTheSameDeviceType)
{
    WriteProgramFolder(dir_);
    ASSERT_TRUE(WriteRecordsBook(dir_.file("Parameter/TV380.xls"), L"TV380"));
    ASSERT_TRUE(WriteRecordsBook(dir_.file("Parameter/TV500.xls"), L"TV500"));
    RegisterBuiltViews(views_);
    makeFrame_ = [](CTorvaneApp& a, const MainFrameOptions& o) -> std::unique_ptr<CMainFrame> {
        return std::make_unique<CDiscardAnsweringFrame>(a, o);
    };
    Start();
    auto* frame = dynamic_cast<CDiscardAnsweringFrame*>(frame_);
    ASSERT_NE(frame, nullptr);
    ASSERT_TRUE(frame->DevicePane()->SelectNumber(DT_PARAMETER_ROOT));
    auto* v = dynamic_cast<CDialogParam*>(frame->CurrentView());
    ASSERT_NE(v, nullptr);
    auto recordAt = [this](int address) -> ParamRecord* {
        for (ParamRecord& r : table_.params)
            if (r.address == address) return &r;
        return nullptr;
    };
    auto rowOf = [](CDialogParam* view, int index) {
        const auto& rows = view->RowRecords();
        return static_cast<int>(std::find(rows.begin(), rows.end(), index) - rows.begin());
    };
    // 1001 edited (not written), 1010 read, 2001 never read; 1001 checked.
    ParamRecord* speed = recordAt(1001);
    ParamRecord* accel = recordAt(1010);
    ASSERT_TRUE(speed && accel);
    speed->value = 7;
    speed->valueUnknown = false;
    speed->valueUnwritten = true;
    accel->value = 3;
    accel->valueUnknown = false;
    v->Grid()->SetChecked(rowOf(v, speed->index), true);

    // With a value not written the switch asks first; No keeps all as it is.
    frame->leaveAnswer = false;
    EXPECT_FALSE(frame->SwitchLanguage(L"Chinese"));
    EXPECT_EQ(frame->leaveAsked, std::vector<int>{1});
    EXPECT_EQ(frame->CurrentView(), v);
    frame->leaveAnswer = true;

    // The language switch reloads the same type: all of it stays.
    EXPECT_TRUE(frame->SwitchLanguage(L"Chinese"));
    EXPECT_EQ(frame->leaveAsked, (std::vector<int>{1, 1}));
    v = dynamic_cast<CDialogParam*>(frame->CurrentView());
    ASSERT_NE(v, nullptr);
    speed = recordAt(1001);
    accel = recordAt(1010);
    EXPECT_EQ(speed->value, 7);
    EXPECT_TRUE(speed->valueUnwritten);
    EXPECT_EQ(accel->value, 3);
    EXPECT_FALSE(accel->valueUnknown);
    EXPECT_TRUE(recordAt(2001)->valueUnknown);
    EXPECT_TRUE(v->Grid()->IsChecked(rowOf(v, speed->index)));
    EXPECT_FALSE(v->Grid()->IsChecked(rowOf(v, accel->index)));
    EXPECT_EQ(v->Grid()->ItemText(rowOf(v, speed->index), 3), QStringLiteral("7"));
    EXPECT_EQ(v->Grid()->ItemText(rowOf(v, recordAt(2001)->index), 3), QStringLiteral("-"));

    // Leaving the parameter view asks too; No keeps it.
    frame->leaveAnswer = false;
    frame->DevicePane()->SelectNumber(DT_MONITOR_HIS);
    EXPECT_EQ(frame->leaveAsked.size(), 3u);
    EXPECT_EQ(frame->CurrentView(), v);
    frame->leaveAnswer = true;

    // Open Data with the same workbook: no question, nothing lost.
    EXPECT_TRUE(frame->OpenDataFile(dir_.qfile("Parameter/TV380.xls")));
    EXPECT_TRUE(frame->asked.empty());
    EXPECT_EQ(recordAt(1001)->value, 7);

    // Another type would drop the unwritten value: asked; "no" keeps all.
    EXPECT_FALSE(frame->OpenDataFile(dir_.qfile("Parameter/TV500.xls")));
    EXPECT_EQ(frame->asked, std::vector<int>{1});
    EXPECT_TRUE(prompts_.messages.empty());  // no failure reported
    EXPECT_EQ(table_.deviceType, L"TV380");
    EXPECT_EQ(recordAt(1001)->value, 7);
    EXPECT_NE(ReadText(dir_.file("Language/setting.ini")).find("Device=TV380"), std::string::npos);

    // "yes" loads the other type, fresh.
    frame->answer = true;
    EXPECT_TRUE(frame->OpenDataFile(dir_.qfile("Parameter/TV500.xls")));
    EXPECT_EQ(frame->asked.size(), 2u);
    EXPECT_EQ(table_.deviceType, L"TV500");
    EXPECT_EQ(recordAt(1001)->value, 0);
    EXPECT_TRUE(recordAt(1001)->valueUnknown);
    EXPECT_EQ(recordAt(1001)->selected, 0);

    // Nothing unwritten: another type loads without a question.
    EXPECT_TRUE(frame->OpenDataFile(dir_.qfile("Parameter/TV380.xls")));
    EXPECT_EQ(frame->asked.size(), 2u);
}
#endif
