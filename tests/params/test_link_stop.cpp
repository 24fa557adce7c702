// Batches of the parameter view when the drive goes away in the middle: the
// simulator falls silent, or hangs its line up, at a chosen request. The
// batch must end a couple of requests later with one message, leave the
// rows it did not read unknown, and work again once the drive is back.
#include "DialogParam.h"
#include "LinkHealth.h"
#include "ParamViewLogic.h"
#include "ParamsTestSupport.h"
#include "ReportGrid.h"

#include <gtest/gtest.h>

namespace {

QString Q(const std::wstring& s) { return QString::fromStdWString(s); }

// The register master with its health, and a hook ahead of each request.
class TrippingPort : public CRegisterPort {
public:
    std::function<void(int request)> before;  // 1-based count
    std::atomic<int> requests{0};

    bool ProcRead(uint8_t station, uint16_t reg, uint8_t* value, uint8_t* err) override
    {
        Trip();
        return ModbusPort().ProcRead(station, reg, value, err);
    }
    bool ProcWrite(uint8_t station, uint16_t reg, uint8_t* value, uint8_t* err) override
    {
        Trip();
        return ModbusPort().ProcWrite(station, reg, value, err);
    }
    LinkHealth* Health() override { return ModbusPort().Health(); }

private:
    void Trip()
    {
        const int n = ++requests;
        if (before) before(n);
    }
};

struct LinkStop : ::testing::Test {
    std::unique_ptr<ptest::SimBench> bench;
    ptest::TestPrompts prompts;
    TrippingPort port;
    std::unique_ptr<CDialogParam> view;

    void SetUp() override
    {
        bench = std::make_unique<ptest::SimBench>();
        ASSERT_TRUE(bench->ok()) << bench->error();
        view = std::make_unique<CDialogParam>(1);
        view->SetPrompts(&prompts);
        view->SetRegisterPort(&port);
        view->SetTable(&bench->table());
    }
    void TearDown() override
    {
        view.reset();
        bench.reset();
    }

    QString Pnu(int row) const
    {
        return "P" + Q(bench->table().params[static_cast<size_t>(view->RowRecords()[static_cast<size_t>(row)])].pnu);
    }
    bool RunBatch(bool write)
    {
        bool finished = false;
        auto c = QObject::connect(view.get(), &CParamGridView::batchFinished, [&] { finished = true; });
        const bool started = write ? view->OnWriteSelected() : view->OnReadSelected();
        const bool ok = started && ptest::WaitFor([&] { return finished; }, 30000);
        QObject::disconnect(c);
        return ok;
    }

    // A whole group read; the drive goes away ahead of request 6.
    void ReadGroupWhileDriveGoes(const std::function<void()>& fault)
    {
        const int rows = view->RowCount();
        ASSERT_GT(rows, 10);
        view->OnSelectAll();
        port.before = [&](int n) {
            if (n == 6) fault();
        };
        ASSERT_TRUE(RunBatch(false));
        // Rows 0..4 read; then the silence counted up to "not answering",
        // and no further row was tried.
        EXPECT_EQ(port.requests.load(), 5 + LinkHealth::kFailuresForSilence);
        EXPECT_EQ(TheLinkHealth().state(), LinkHealth::State::NotAnswering);
        ASSERT_EQ(prompts.messages.size(), 1);
        EXPECT_EQ(prompts.messages[0], "The drive stopped answering after " + Pnu(4) + ". " +
                                           QString::number(rows - 5) + " parameters were not read.");
        for (int row = 0; row < rows; ++row) {
            const QString cell = view->Grid()->ItemText(row, paramview::kColValue);
            if (row < 5)
                EXPECT_NE(cell, "-") << row;
            else
                EXPECT_EQ(cell, "-") << row;
        }
    }
};

TEST_F(LinkStop, SilentDriveEndsTheReadBatchWithOneMessageAndItCanStartAgain)
{
    ReadGroupWhileDriveGoes([&] { bench->sim().setFault(drivesim::FaultKind::Silence); });

    // Back: the next batch reads every row, and the first reply mends the health.
    bench->sim().clearFault(drivesim::FaultKind::Silence);
    port.before = nullptr;
    prompts.messages.clear();
    ASSERT_TRUE(RunBatch(false));
    EXPECT_TRUE(prompts.messages.isEmpty()) << prompts.messages.join('|').toStdString();
    EXPECT_EQ(TheLinkHealth().state(), LinkHealth::State::Answering);
    for (int row = 0; row < view->RowCount(); ++row)
        EXPECT_NE(view->Grid()->ItemText(row, paramview::kColValue), "-") << row;
}

TEST_F(LinkStop, HungUpLineEndsTheReadBatchTheSameWay)
{
    ReadGroupWhileDriveGoes([&] { bench->sim().hangUp(0); });
    bench->sim().restoreLine();
}

TEST_F(LinkStop, WriteBatchListsWrittenNotWrittenAndNotReadBack)
{
    for (int row = 0; row < 4; ++row) view->Grid()->SetChecked(row, true);
    ASSERT_TRUE(RunBatch(false));  // the values to write back are the drive's own
    ASSERT_TRUE(prompts.messages.isEmpty());
    port.requests = 0;
    port.before = [&](int n) {
        if (n == 3) bench->sim().setFault(drivesim::FaultKind::Silence);
    };
    ASSERT_TRUE(RunBatch(true));
    EXPECT_EQ(port.requests.load(), 2 + LinkHealth::kFailuresForSilence);
    ASSERT_EQ(prompts.messages.size(), 1);
    const QString expected = "The drive stopped answering after " + Pnu(1) + ".\nWritten: " + Pnu(0) + " " + Pnu(1) +
                             "\nNot written: " + Pnu(2) + " " + Pnu(3) + "\nWritten, not read back: " + Pnu(0) +
                             " " + Pnu(1) +
                             // A write that got no reply is given up at once (it may have been
                             // executed): the third row went so before the fourth's failure
                             // made the drive "not answering".
                             "\nParameter write error:" + Pnu(2) + "  ";
    EXPECT_EQ(prompts.messages[0].toStdString(), expected.toStdString());
    bench->sim().clearFault(drivesim::FaultKind::Silence);
}

}  // namespace
