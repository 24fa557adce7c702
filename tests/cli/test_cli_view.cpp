// A backup written by torvane-cli is a value file of the parameter view: it
// loads there (offscreen) and xlrd reads it.
#include "CliTestUtil.h"

#include "DialogParam.h"
#include "ParamViewLogic.h"
#include "ParamsTestSupport.h"
#include "ReportGrid.h"
#include "WideText.h"

#include <QApplication>
#include <QJsonArray>

#include <gtest/gtest.h>

namespace {

TEST(CliView, BackupLoadsInTheParameterViewAndXlrdReadsIt)
{
    clitest::Folder folder;
    auto sim = clitest::StartDrive(clitest::DriveOptions(1));
    ASSERT_TRUE(sim);
    clitest::SetDriveValue(*sim, L"01.04", 61.25);
    clitest::SetDriveValue(*sim, L"01.07", 3.5);

    clitest::CliCall call;
    call.cwd = folder.path();
    call.env["TORVANE_COM1"] = sim->slavePath();
    call.args = {"--folder", folder.path(), "backup", "drive.xls", "G01"};
    const clitest::CliRun run = clitest::RunCli(call);
    ASSERT_EQ(run.code, 0) << run.out << run.err;
    const QString file = QString::fromStdString(folder / "drive.xls");

    // The parameter view of every group, on a fresh table.
    ParamTable table;
    ptest::LoadSampleTable(table);
    ptest::TestPrompts prompts;
    prompts.file = file;
    CDialogParam view(-1);
    view.SetPrompts(&prompts);
    view.SetTable(&table);
    view.OnLoadValues();
    ASSERT_EQ(prompts.messages, QStringList{"The file is loaded successfully."});
    const std::vector<int> group = paramview::GroupRows(table, 1);
    int checked = 0;
    for (int row = 0; row < view.RowCount(); ++row) checked += view.Grid()->IsChecked(row) ? 1 : 0;
    EXPECT_EQ(checked, static_cast<int>(group.size()));
    for (int row = 0; row < view.RowCount(); ++row) {
        const ParamRecord& r = table.params[static_cast<size_t>(view.RowRecords()[static_cast<size_t>(row)])];
        if (r.pnu == L"01.04") {
            EXPECT_DOUBLE_EQ(r.value, 61.25);
            EXPECT_EQ(view.Grid()->ItemText(row, paramview::kColValue), "61.25");
        }
        if (r.pnu == L"01.07") {
            EXPECT_DOUBLE_EQ(r.value, 3.5);
        }
    }

    std::string err;
    const QJsonObject doc = ptest::ReadWithXlrd(file, &err);
    ASSERT_FALSE(doc.isEmpty()) << err;
    const QJsonArray rows = doc["rows"].toArray();
    ASSERT_EQ(rows.size(), static_cast<int>(group.size()) + 1);
    EXPECT_EQ(rows[0].toArray()[0].toObject()["value"].toString(), "TV380");
    EXPECT_EQ(rows[0].toArray()[3].toObject()["value"].toString(), "VALUE");
    bool seen = false;
    for (const auto& row : rows) {
        const QJsonArray cells = row.toArray();
        if (cells.size() > 3 && cells[2].toObject()["value"].toString() == "P01.04") {
            EXPECT_EQ(cells[3].toObject()["value"].toDouble(), 61.25);
            seen = true;
        }
    }
    EXPECT_TRUE(seen);
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
