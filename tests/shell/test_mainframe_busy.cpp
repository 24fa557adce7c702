// While the shown view runs something that owns the links (a download, a
// drive check), the main window refuses the commands that would touch them
// or replace the view, and closing asks the view to stop first.
#include "test_mainframe_util.h"

#include "MainFrameCommands.h"

#include <QCloseEvent>

#include <memory>

using namespace mftest;

namespace {

const wchar_t* const kBusy = L"A download is running";

// A view that reports itself busy while its flag is set; closing asks it to
// stop, which it agrees to as told.
class CBusyView : public CTestView {
public:
    using CTestView::CTestView;
    QString BusyText() const override { return busy ? QString::fromWCharArray(kBusy) : QString(); }
    bool StopForClose() override
    {
        ++*closeQuestions;
        if (!agree) return false;
        busy = false;
        return true;
    }
    bool busy = true;
    bool agree = false;
    // Outlives the view, which the agreed close deletes.
    std::shared_ptr<int> closeQuestions = std::make_shared<int>(0);
};

class BusyFrameTest : public FrameTest {
protected:
    void RegisterBusyView()
    {
        views_.Register(ViewKind::Parameter, [this](const ViewChoice& c, QWidget* parent) -> CDataDlg* {
            return new CBusyView(counts_, c, parent);
        });
        RegisterKinds({ViewKind::RealTimeMonitor});
    }
    int Refusals() const
    {
        int n = 0;
        for (const std::wstring& m : prompts_.messages) n += m == kBusy;
        return n;
    }
};

}  // namespace

TEST_F(BusyFrameTest, CommandsAndTreeAreRefusedWhileTheViewRuns)
{
    WriteProgramFolder(dir_);
    RegisterBusyView();
    Start();
    ASSERT_TRUE(frame_->DevicePane()->SelectNumber(10001));
    auto* v = dynamic_cast<CBusyView*>(frame_->CurrentView());
    ASSERT_NE(v, nullptr);
    const int made = counts_.made;

    frame_->OnCommand(ID_CONNECT);
    frame_->OnCommand(ID_OPEN_DATA);
    frame_->OnCommand(ID_LANGUAGE_CHINESE);
    EXPECT_EQ(Refusals(), 3);
    EXPECT_EQ(app_->Language().current(), L"English");
    EXPECT_FALSE(frame_->Command(ID_LANGUAGE_CHINESE)->isChecked());

    // Another tree item: the view stays and the tree shows it again.
    EXPECT_TRUE(frame_->DevicePane()->SelectNumber(DT_MONITOR_RT));
    EXPECT_EQ(Refusals(), 4);
    EXPECT_EQ(frame_->CurrentView(), v);
    EXPECT_EQ(counts_.made, made);
    EXPECT_EQ(COfficeTreeCtrl::ItemNumber(frame_->DevicePane()->Tree()->currentItem()), 10001);

    // Once the run is over everything works again.
    v->busy = false;
    EXPECT_TRUE(frame_->DevicePane()->SelectNumber(DT_MONITOR_RT));
    EXPECT_NE(frame_->CurrentView(), v);
    EXPECT_EQ(Refusals(), 4);
}

TEST_F(BusyFrameTest, ClosingAsksTheRunningViewAndMayBeRefused)
{
    WriteProgramFolder(dir_);
    RegisterBusyView();
    Start();
    ASSERT_TRUE(frame_->DevicePane()->SelectNumber(10001));
    auto* v = dynamic_cast<CBusyView*>(frame_->CurrentView());
    ASSERT_NE(v, nullptr);
    const std::shared_ptr<int> questions = v->closeQuestions;
    EXPECT_FALSE(frame_->close());
    EXPECT_EQ(*questions, 1);
    EXPECT_EQ(frame_->CurrentView(), v);
    EXPECT_TRUE(frame_->isVisible());
    // Start > Exit goes the same way.
    frame_->Command(ID_APP_EXIT)->trigger();
    EXPECT_EQ(*questions, 2);
    EXPECT_TRUE(frame_->isVisible());

    v->agree = true;
    frame_->Command(ID_APP_EXIT)->trigger();
    EXPECT_EQ(*questions, 3);
    EXPECT_FALSE(frame_->isVisible());
    EXPECT_EQ(frame_->CurrentView(), nullptr);
}
