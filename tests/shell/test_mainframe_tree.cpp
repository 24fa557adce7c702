// The device tree in the main window and the views its items open.
#include "DeviceViewPane.h"
#include "TorvaneView.h"
#include "test_mainframe_util.h"

#include <QAction>
#include <QFileInfo>
#include <QPointer>
#include <QTreeWidgetItemIterator>

using namespace mftest;

namespace {

struct Row {
    int number;
    int parentNumber;
    QString text;
    bool bold;
    bool expanded;
};

std::vector<Row> Rows(COfficeTreeCtrl* tree)
{
    std::vector<Row> out;
    for (QTreeWidgetItemIterator it(tree); *it; ++it) {
        QTreeWidgetItem* i = *it;
        out.push_back({COfficeTreeCtrl::ItemNumber(i), COfficeTreeCtrl::ItemNumber(i->parent()), i->text(0),
                       i->font(0).bold(), i->isExpanded()});
    }
    return out;
}

const Row* FindRow(const std::vector<Row>& rows, int number)
{
    for (const Row& r : rows)
        if (r.number == number) return &r;
    return nullptr;
}

}  // namespace

TEST_F(FrameTest, TreeShowsCatalogueOfConfiguredTable)
{
    WriteProgramFolder(dir_);
    ASSERT_NE(Start(), nullptr);
    EXPECT_TRUE(prompts_.messages.empty());
    const auto rows = Rows(frame_->DevicePane()->Tree());

    // Root, device, the four fixed roots, the two monitor items, groups 1 and
    // 2 with subgroups under the parameter root, groups 8 and 9 under M-data.
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows[0].number, DT_ROOT);
    EXPECT_EQ(rows[0].text, QStringLiteral("DEVICE"));
    EXPECT_TRUE(rows[0].bold);
    const std::vector<std::pair<int, int>> expected = {
        {DT_DEVICE_ROOT, DT_ROOT},        {DT_PARAMETER_ROOT, DT_DEVICE_ROOT}, {DT_MD_ROOT, DT_DEVICE_ROOT},
        {DT_MONITOR_ROOT, DT_DEVICE_ROOT}, {DT_MONITOR_RT, DT_MONITOR_ROOT},    {DT_MONITOR_HIS, DT_MONITOR_ROOT},
        {DT_PROGRAM_ROOT, DT_DEVICE_ROOT}, {10001, DT_PARAMETER_ROOT},         {10002, DT_PARAMETER_ROOT},
        {60008, DT_MD_ROOT},               {60009, DT_MD_ROOT},
    };
    for (const auto& [number, parent] : expected) {
        const Row* r = FindRow(rows, number);
        ASSERT_NE(r, nullptr) << number;
        EXPECT_EQ(r->parentNumber, parent) << number;
        EXPECT_FALSE(r->bold) << number;
    }
    EXPECT_EQ(FindRow(rows, DT_DEVICE_ROOT)->text, QStringLiteral("TV380"));
    EXPECT_EQ(FindRow(rows, 10001)->text, QStringLiteral("G01 Basic"));
    EXPECT_EQ(FindRow(rows, DT_FUNCTION_ROOT), nullptr);
    EXPECT_EQ(FindRow(rows, DT_MONITOR_GZ), nullptr);
    // Subgroups of group 1 below it, subgroup of 8 below its M-data group.
    int subgroupsOf1 = 0, subgroupsOf8 = 0;
    for (const Row& r : rows) {
        if (r.parentNumber == 10001) {
            ++subgroupsOf1;
            EXPECT_GE(r.number, 20000);
            EXPECT_LT(r.number, 30000);
        }
        if (r.parentNumber == 60008) {
            ++subgroupsOf8;
            EXPECT_GE(r.number, 70000);
        }
    }
    EXPECT_EQ(subgroupsOf1, 2);
    EXPECT_EQ(subgroupsOf8, 1);

    for (int n : {DT_ROOT, DT_DEVICE_ROOT, DT_MONITOR_ROOT, DT_PARAMETER_ROOT, DT_MD_ROOT})
        EXPECT_TRUE(FindRow(rows, n)->expanded) << n;
    EXPECT_FALSE(FindRow(rows, 10001)->expanded);

    // Building the tree opened nothing.
    EXPECT_EQ(frame_->CurrentView(), nullptr);
    EXPECT_EQ(frame_->DevicePane()->Tree()->currentItem(), nullptr);
}

TEST_F(FrameTest, TreeItemsCarryNormalAndSelectedImages)
{
    WriteProgramFolder(dir_);
    Start();
    const QImage normal = CDeviceViewPane::TreeImage(0).toImage();
    const QImage selected = CDeviceViewPane::TreeImage(1).toImage();
    EXPECT_EQ(normal.size(), QSize(16, 16));
    EXPECT_EQ(selected.size(), QSize(16, 16));
    EXPECT_NE(normal, selected);
    QTreeWidgetItem* item = frame_->DevicePane()->Tree()->FindItem(DT_MONITOR_RT);
    ASSERT_NE(item, nullptr);
    const QIcon icon = item->icon(0);
    EXPECT_EQ(icon.pixmap(16, 16, QIcon::Normal).toImage().convertToFormat(normal.format()), normal);
    EXPECT_EQ(icon.pixmap(16, 16, QIcon::Selected).toImage().convertToFormat(selected.format()), selected);
    EXPECT_EQ(CtrlId(frame_->DevicePane()->Tree()), 60001);
}

TEST_F(FrameTest, MissingParameterWorkbookLeavesTreeEmptyWithMessage)
{
    WriteProgramFolder(dir_);
    fs::remove(dir_.file("Parameter/TV380.xls"));
    Start();
    EXPECT_EQ(frame_->DevicePane()->Tree()->topLevelItemCount(), 0);
    ASSERT_EQ(prompts_.messages.size(), 1u);
    EXPECT_EQ(prompts_.messages[0].rfind(L"Device parameter file failed to load:", 0), 0u);
}

TEST_F(FrameTest, EachItemOpensItsViewOrNone)
{
    WriteProgramFolder(dir_);
    RegisterAllKinds();
    Start();
    CDeviceViewPane* pane = frame_->DevicePane();

    struct Case {
        int number;
        ViewKind kind;
        int selection;
    };
    const Case cases[] = {
        {DT_PARAMETER_ROOT, ViewKind::Parameter, -1}, {10001, ViewKind::Parameter, 1},
        {10002, ViewKind::Parameter, 2},              {60008, ViewKind::MData, 8},
        {DT_PROGRAM_ROOT, ViewKind::Download, 0},     {DT_MONITOR_RT, ViewKind::RealTimeMonitor, 0},
        {DT_MONITOR_HIS, ViewKind::MonitorHistory, 0},
    };
    for (const Case& c : cases) {
        const int before = counts_.made;
        ASSERT_TRUE(pane->SelectNumber(c.number)) << c.number;
        ASSERT_EQ(counts_.made, before + 1) << c.number;
        EXPECT_EQ(counts_.choices.back().kind, c.kind) << c.number;
        EXPECT_EQ(counts_.choices.back().selection, c.selection) << c.number;
        // One view at a time, filling the view area, with the table.
        EXPECT_EQ(counts_.alive, 1) << c.number;
        auto* v = dynamic_cast<CTestView*>(frame_->CurrentView());
        ASSERT_NE(v, nullptr);
        EXPECT_EQ(v->parentWidget(), frame_->View());
        EXPECT_EQ(v->geometry(), frame_->View()->rect());
        EXPECT_EQ(v->Table(), &table_);
    }

    // Items that open nothing leave the current view in place.
    CDataDlg* shown = frame_->CurrentView();
    for (int n : {DT_DEVICE_ROOT, DT_MONITOR_ROOT, DT_MD_ROOT}) {
        ASSERT_TRUE(pane->SelectNumber(n));
        EXPECT_EQ(frame_->CurrentView(), shown) << n;
    }
    // The root has no parent: nothing happens.
    ASSERT_TRUE(pane->SelectNumber(DT_ROOT));
    EXPECT_EQ(frame_->CurrentView(), shown);
    EXPECT_EQ(counts_.alive, 1);
}

TEST_F(FrameTest, SelectingTheSameItemTwiceKeepsOneView)
{
    WriteProgramFolder(dir_);
    RegisterAllKinds();
    Start();
    ASSERT_TRUE(frame_->DevicePane()->SelectNumber(DT_MONITOR_RT));
    CDataDlg* first = frame_->CurrentView();
    ASSERT_TRUE(frame_->DevicePane()->SelectNumber(DT_MONITOR_RT));
    EXPECT_EQ(frame_->CurrentView(), first);
    EXPECT_EQ(counts_.made, 1);
    EXPECT_EQ(counts_.alive, 1);
}

TEST_F(FrameTest, UnbuiltViewKindOpensNothingAndTreeStillWorks)
{
    WriteProgramFolder(dir_);
    RegisterKinds({ViewKind::Parameter});
    Start();
    CDeviceViewPane* pane = frame_->DevicePane();
    ASSERT_TRUE(pane->SelectNumber(DT_MONITOR_RT));
    EXPECT_EQ(frame_->CurrentView(), nullptr);
    ASSERT_TRUE(pane->SelectNumber(10001));
    ASSERT_NE(frame_->CurrentView(), nullptr);
    CDataDlg* param = frame_->CurrentView();
    ASSERT_TRUE(pane->SelectNumber(DT_PROGRAM_ROOT));
    EXPECT_EQ(frame_->CurrentView(), param);
    EXPECT_EQ(counts_.made, 1);
}

TEST_F(FrameTest, ReplacedViewsWorkerIsJoinedBeforeTheNewViewShows)
{
    WriteProgramFolder(dir_);
    RegisterAllKinds();
    Start();
    ASSERT_TRUE(frame_->DevicePane()->SelectNumber(DT_MONITOR_RT));
    auto* monitor = dynamic_cast<CTestView*>(frame_->CurrentView());
    ASSERT_NE(monitor, nullptr);
    ASSERT_TRUE(monitor->StartLongWorker());
    QPointer<CDataDlg> old(monitor);

    ASSERT_TRUE(frame_->DevicePane()->SelectNumber(10002));
    EXPECT_TRUE(old.isNull());
    EXPECT_EQ(counts_.workersEnded, 1);
    EXPECT_EQ(counts_.alive, 1);
    EXPECT_NE(frame_->CurrentView(), nullptr);
}

TEST_F(FrameTest, OpenDataLoadsAnotherTypeAndRebuildsTree)
{
    WriteProgramFolder(dir_);
    RegisterAllKinds();
    Start();
    ASSERT_TRUE(frame_->DevicePane()->SelectNumber(10001));

    EXPECT_TRUE(frame_->OpenDataFile(dir_.qfile("Parameter/TV500.xls")));
    EXPECT_EQ(table_.deviceType, L"TV500");
    QTreeWidgetItem* device = frame_->DevicePane()->Tree()->FindItem(DT_DEVICE_ROOT);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->text(0), QStringLiteral("TV500"));
    EXPECT_NE(ReadText(dir_.file("Language/setting.ini")).find("Device=TV500"), std::string::npos);

    // A workbook that does not load: message, nothing else changes.
    WriteText(dir_.file("broken.xls"), "not a workbook");
    EXPECT_FALSE(frame_->OpenDataFile(dir_.qfile("broken.xls")));
    ASSERT_EQ(prompts_.messages.size(), 1u);
    EXPECT_EQ(QString::fromStdWString(prompts_.messages[0]),
              QStringLiteral("Device parameter file failed to load:") + dir_.qfile("broken.xls"));
    EXPECT_EQ(table_.deviceType, L"TV500");
    EXPECT_NE(frame_->DevicePane()->Tree()->FindItem(10001), nullptr);
    EXPECT_NE(ReadText(dir_.file("Language/setting.ini")).find("Device=TV500"), std::string::npos);
}

namespace {
// A frame whose Open Data dialog answers with a set path.
class CAnsweringFrame : public CMainFrame {
public:
    CAnsweringFrame(CTorvaneApp& app, const MainFrameOptions& o) : CMainFrame(app, o) {}
    QString answer;
    QString startSeen;
    int prompts = 0;

protected:
    QString PromptOpenData(const QString& startPath) override
    {
        ++prompts;
        startSeen = startPath;
        return answer;
    }
};
}  // namespace

TEST_F(FrameTest, OpenDataCommandStartsAtTheLoadedWorkbook)
{
    WriteProgramFolder(dir_);
    CAnsweringFrame* frame = nullptr;
    makeFrame_ = [&frame](CTorvaneApp& a, const MainFrameOptions& o) {
        auto f = std::make_unique<CAnsweringFrame>(a, o);
        frame = f.get();
        return std::unique_ptr<CMainFrame>(std::move(f));
    };
    Start();
    ASSERT_NE(frame, nullptr);

    // Cancelled: nothing changes.
    frame->OnCommand(ID_OPEN_DATA);
    EXPECT_EQ(frame->prompts, 1);
    EXPECT_EQ(QFileInfo(frame->startSeen).canonicalFilePath(), QFileInfo(dir_.qfile("Parameter/TV380.xls")).canonicalFilePath());
    EXPECT_EQ(table_.deviceType, L"TV380");

    // A file that does not exist is not loaded.
    frame->answer = dir_.qfile("Parameter/Nothing.xls");
    frame->OnCommand(ID_OPEN_DATA);
    EXPECT_EQ(table_.deviceType, L"TV380");
    EXPECT_TRUE(prompts_.messages.empty());

    frame->answer = dir_.qfile("Parameter/TV500.xls");
    frame->OnCommand(ID_OPEN_DATA);
    EXPECT_EQ(table_.deviceType, L"TV500");
    frame->OnCommand(ID_OPEN_DATA);
    EXPECT_EQ(QFileInfo(frame->startSeen).canonicalFilePath(), QFileInfo(dir_.qfile("Parameter/TV500.xls")).canonicalFilePath());
}

TEST_F(FrameTest, CommandsCarryTheirIdentifiers)
{
    WriteProgramFolder(dir_);
    Start();
    for (int id : {32772, 32773, 32774, 32775, 32776, 32777, 32778, 32779, 32785, 32786, 21002, 35001, 57664}) {
        QAction* a = frame_->Command(id);
        ASSERT_NE(a, nullptr) << id;
        EXPECT_EQ(a->data().toInt(), id);
        EXPECT_EQ(a->property("ctrlId").toInt(), id);
    }
    // Through a language switch as well (the menus are built anew).
    EXPECT_TRUE(frame_->SwitchLanguage(L"Chinese"));
    EXPECT_EQ(frame_->Command(ID_CONNECT)->data().toInt(), ID_CONNECT);
}
