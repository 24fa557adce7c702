// The view base: batches on worker threads with the progress dialog, cancel,
// the end of a batch, and destroying a view while its worker is busy.
#include "DataDlg.h"
#include "DeviceConnection.h"
#include "DlgProgess.h"
#include "LinkTestUtil.h"
#include "ParamTable.h"
#include "UiTestUtil.h"

#include <QProgressBar>
#include <QPushButton>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>

namespace {

ParamRecord Record(int address)
{
    ParamRecord r;
    r.address = address;
    r.exponent = -1;
    r.minValue = 0;
    r.maxValue = 6000;
    return r;
}

// A view that reads its rows as the parameter view does.
class ReadView : public CDataDlg {
public:
    explicit ReadView(int rows)
    {
        for (int i = 0; i < rows; ++i) records.push_back(Record(0x0701 + i));
    }
    ~ReadView() override { StopWorkers(); }

    void ReadWorker() override
    {
        std::vector<bool> transfer(records.size(), true);
        BatchLoop::Hooks h;
        h.attempt = [this](int row) {
            uint8_t err = 0;
            return ReadRecord(records[static_cast<size_t>(row)], &err) ? BatchLoop::Attempt::Done
                                                                      : BatchLoop::Attempt::Failed;
        };
        h.done = [this](int) {
            ++done;
            PostProgressStep(1);
        };
        h.givenUp = [this](int) { ++givenUp; };
        result = RunBatchLoop(transfer, h);
        FinishBatch();
        finished = true;
    }

    std::vector<ParamRecord> records;
    std::atomic<int> done{0}, givenUp{0};
    std::atomic<bool> finished{false};
    BatchLoop::Result result;
};

class Views : public ::testing::Test {
protected:
    void SetUp() override { linktest::UnmapAllPorts(); }
    void Connect(int port, const wchar_t* outTime)
    {
        link_ = std::make_unique<DeviceConnection>(std::wstring(), &prompts_);
        link_->settings().COMID = std::to_wstring(port);
        link_->settings().OutTime = outTime;
        link_->ConnectNormal();
    }
    void TearDown() override { link_.reset(); }
    linktest::RecordingPrompts prompts_;
    std::unique_ptr<DeviceConnection> link_;
};

}  // namespace

TEST(ProgressDialog, RangeStepsAndCancel)
{
    CDataDlg owner;
    auto* dlg = new CDlgProgess(&owner);
    dlg->Create(&owner);
    EXPECT_EQ(dlg->upper(), 100);
    EXPECT_EQ(dlg->windowTitle(), QStringLiteral("Processing..."));
    EXPECT_FALSE(dlg->isModal());
    dlg->SetRange(5);
    dlg->Step(3);
    EXPECT_EQ(dlg->position(), 3);
    dlg->Step(10);  // beyond the range: the bar stays full
    EXPECT_EQ(dlg->position(), 5);
    dlg->show();

    owner.SetRunning(true);
    dlg->cancelButton()->click();
    EXPECT_FALSE(owner.IsRunning());
    EXPECT_FALSE(dlg->isVisible());
    // A close request after the cancel is harmless.
    owner.SetRunning(true);
    dlg->CloseRequest();
    EXPECT_FALSE(owner.IsRunning());
}

TEST(ProgressDialog, WorkerUpdatesArriveThroughQueuedCalls)
{
    CDataDlg owner;
    CDlgProgess dlg(&owner);
    dlg.Create(&owner);
    dlg.SetRange(4);
    dlg.show();
    owner.SetRunning(true);
    WorkerSlots worker;
    ASSERT_TRUE(worker.Start([&dlg] {
        dlg.PostCaption(QStringLiteral("Program downloading...Unlocking EE"));
        for (int i = 0; i < 6; ++i) dlg.PostStep(1);
        dlg.PostClose();
    }));
    worker.JoinAll();
    // Nothing reached the widgets from the worker itself.
    EXPECT_EQ(dlg.position(), 0);
    EXPECT_TRUE(uitest::PumpUntil([&] { return !dlg.isVisible(); }, 5000));
    EXPECT_EQ(dlg.position(), 4);
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("Program downloading...Unlocking EE"));
    EXPECT_FALSE(owner.IsRunning());  // the close request acts as cancel
}

TEST_F(Views, BatchRunsOnAWorkerAndClosesItsProgressDialog)
{
    linktest::SimDrive drive(2, linktest::NormalDrive());
    ASSERT_TRUE(drive.ok()) << drive.error();
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(drive.sim().writeRegister(static_cast<uint16_t>(0x0700 + i), static_cast<uint16_t>(100 + i)), 0);
    Connect(2, L"300");
    ASSERT_TRUE(link_->normalConnected());

    ReadView view(3);
    view.show();
    ASSERT_TRUE(view.StartBatch(CDataDlg::Worker::Read, 3));
    EXPECT_TRUE(view.IsRunning());
    EXPECT_FALSE(view.StartBatch(CDataDlg::Worker::Read, 3));  // one batch at a time
    CDlgProgess* progress = view.Progress();
    ASSERT_NE(progress, nullptr);
    EXPECT_TRUE(uitest::PumpUntil([&] { return view.finished.load() && !progress->isVisible(); }, 10000));
    EXPECT_EQ(view.done.load(), 3);
    EXPECT_EQ(progress->position(), 3);
    EXPECT_FALSE(view.IsRunning());
    EXPECT_NEAR(view.records[2].value, 10.2, 1e-9);

    // The next batch discards the old dialog and opens a fresh one.
    view.finished = false;
    ASSERT_TRUE(view.StartBatch(CDataDlg::Worker::Read, 3));
    EXPECT_NE(view.Progress(), nullptr);
    EXPECT_EQ(view.Progress()->position(), 0);
    EXPECT_TRUE(uitest::PumpUntil([&] { return view.finished.load(); }, 10000));
}

TEST_F(Views, CancelInTheProgressDialogStopsTheBatch)
{
    drivesim::SimOptions o = linktest::NormalDrive();
    o.turnaroundSeconds = 0.05;  // every reply takes a while
    linktest::SimDrive drive(2, o);
    ASSERT_TRUE(drive.ok()) << drive.error();
    Connect(2, L"1000");
    ASSERT_TRUE(link_->normalConnected());

    ReadView view(40);
    view.show();
    ASSERT_TRUE(view.StartBatch(CDataDlg::Worker::Read, 40));
    ASSERT_TRUE(uitest::PumpUntil([&] { return view.Progress()->position() >= 2; }, 10000));
    view.Progress()->cancelButton()->click();
    EXPECT_FALSE(view.IsRunning());  // at once
    ASSERT_TRUE(uitest::PumpUntil([&] { return view.finished.load(); }, 10000));
    EXPECT_TRUE(view.result.stopped);
    EXPECT_LT(view.done.load(), 40);
    EXPECT_EQ(view.givenUp.load(), 0);
}

TEST_F(Views, DestroyingAViewWhileItsWorkerWaitsForTheDrive)
{
    linktest::SilentPort port(2);
    Connect(2, L"300");  // the drive is silent: every request waits its time-out
    auto posted = std::make_shared<std::atomic<int>>(0);
    auto requests = std::make_shared<std::atomic<int>>(0);
    auto ended = std::make_shared<std::atomic<bool>>(false);

    auto* view = new CDataDlg;
    view->SetRunning(true);
    ASSERT_TRUE(view->StartWorker([view, posted, requests, ended] {
        while (view->IsRunning()) {
            // Grid updates go to the GUI thread and never wait for it.
            view->PostToGui([posted] { ++*posted; });
            ParamRecord r = Record(0x0101);
            uint8_t err = 0;
            view->ReadRecord(r, &err);
            ++*requests;
        }
        view->PostToGui([posted] { ++*posted; });
        *ended = true;
    }));
    ASSERT_TRUE(uitest::PumpUntil([&] { return posted->load() >= 1; }, 5000));
    CDataDlg::Destroy(view);  // the worker is inside a request
    EXPECT_TRUE(ended->load());
    const int seen = posted->load();
    // What the worker posted after the view went is dropped, never run.
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    EXPECT_EQ(posted->load(), seen);
}

TEST_F(Views, DeletingAViewStopsItsBatch)
{
    drivesim::SimOptions o = linktest::NormalDrive();
    o.turnaroundSeconds = 0.03;
    linktest::SimDrive drive(2, o);
    ASSERT_TRUE(drive.ok()) << drive.error();
    Connect(2, L"1000");
    ASSERT_TRUE(link_->normalConnected());

    auto* view = new ReadView(200);
    view->show();
    ASSERT_TRUE(view->StartBatch(CDataDlg::Worker::Read, 200));
    ASSERT_TRUE(uitest::PumpUntil([&] { return view->done.load() >= 1; }, 10000));
    delete view;  // the destructor stops and joins the worker
    // The link is still usable: the worker ended cleanly after its request.
    uint8_t value[2] = {0, 1};
    uint8_t err = 0;
    EXPECT_TRUE(ModbusPort().ProcWrite(1, DeviceConnection::kPresenceRegister, value, &err)) << int(err);
}
