#include "ReportGrid.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <thread>

namespace {

// A grid laid out like the parameter view's: a check column and texts.
class ReportGridTest : public ::testing::Test
{
protected:
  void SetUp() override
  {
    const char* captions[] = {"Select", "VKR Pnu", "Descripition", "Value"};
    const int widths[] = {50, 100, 200, 300};
    for (int i = 0; i < 4; ++i)
      grid.AddColumn(captions[i], widths[i]);
    for (int i = 0; i < 5; ++i) {
      CReportRecord r;
      r.AddItem(CReportItem::Check(i == 4));
      r.AddItem(CReportItem::Text(QString("P0.%1").arg(i)));
      r.AddItem(CReportItem::Text(QString("name %1").arg(i)));
      r.AddItem(CReportItem::Number(i * 1.5, "%.2f"));
      grid.AddRecord(r);
    }
    grid.Populate();
    grid.resize(700, 300);
    grid.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&grid));
  }

  void Click(const QRect& r)
  {
    ASSERT_FALSE(r.isEmpty());
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, Qt::NoModifier, r.center());
  }

  CReportGrid grid;
};

TEST_F(ReportGridTest, RecordsBecomeRowsAtPopulate)
{
  EXPECT_EQ(grid.RowCount(), 5);
  EXPECT_EQ(grid.model()->rowCount(), 5);
  EXPECT_EQ(grid.ItemText(2, 1), "P0.2");
  EXPECT_EQ(grid.ItemText(3, 3), "4.50");
  EXPECT_EQ(grid.model()->data(grid.model()->index(3, 3)).toString(), "4.50");
  EXPECT_TRUE(grid.IsChecked(4));
  EXPECT_FALSE(grid.IsChecked(0));

  CReportRecord late;
  late.AddItem(CReportItem::Check(false));
  EXPECT_EQ(grid.AddRecord(late), 5);
  EXPECT_EQ(grid.RowCount(), 5) << "a queued record is no row before Populate";
  grid.Populate();
  EXPECT_EQ(grid.RowCount(), 6);
  EXPECT_TRUE(grid.ItemText(5, 2).isEmpty()) << "a record may have fewer items than columns";

  grid.AddRecord(late);
  grid.RemoveAllRows();
  grid.Populate();
  EXPECT_EQ(grid.RowCount(), 0) << "removing all rows drops queued records too";
}

TEST_F(ReportGridTest, WidthZeroHidesColumnAndWidthShowsItAgain)
{
  EXPECT_EQ(grid.ColumnCount(), 4);
  EXPECT_EQ(grid.ColumnCaption(2), "Descripition");
  EXPECT_EQ(grid.model()->headerData(2, Qt::Horizontal).toString(), "Descripition");
  EXPECT_EQ(grid.columnWidth(1), 100);

  grid.SetColumnWidth(2, 0);
  grid.SetColumnCaption(2, QString());
  EXPECT_FALSE(grid.IsColumnVisible(2));
  EXPECT_TRUE(grid.isColumnHidden(2));
  EXPECT_EQ(grid.ColumnWidth(2), 0);
  EXPECT_TRUE(grid.CellRect(0, 2).isEmpty());
  EXPECT_TRUE(grid.IsColumnVisible(3));

  grid.SetColumnWidth(2, 100);
  grid.SetColumnCaption(2, "Signal");
  EXPECT_TRUE(grid.IsColumnVisible(2));
  EXPECT_EQ(grid.columnWidth(2), 100);
  EXPECT_EQ(grid.model()->headerData(2, Qt::Horizontal).toString(), "Signal");
}

TEST_F(ReportGridTest, CheckToggleNamesTheRowAfterRowsWereRemoved)
{
  QSignalSpy toggled(&grid, &CReportGrid::checkToggled);
  grid.RemoveRow(1); // "P0.1" goes; "P0.3" is now row 2
  ASSERT_EQ(grid.RowCount(), 4);
  ASSERT_EQ(grid.ItemText(2, 1), "P0.3");

  Click(grid.CheckRect(2, 0));
  ASSERT_EQ(toggled.count(), 1);
  EXPECT_EQ(toggled.at(0).at(0).toInt(), 2);
  EXPECT_TRUE(grid.IsChecked(2));
  EXPECT_FALSE(grid.IsChecked(1));
  EXPECT_TRUE(grid.IsChecked(3)) << "P0.4 was checked from the start";
  EXPECT_FALSE(grid.IsChecked(0));

  Click(grid.CheckRect(2, 0));
  ASSERT_EQ(toggled.count(), 2);
  EXPECT_FALSE(grid.IsChecked(2));

  // Clicking the text of a row toggles nothing.
  Click(grid.CellRect(2, 2));
  EXPECT_EQ(toggled.count(), 2);

  // The space key toggles the current row's check like a click.
  grid.setCurrentIndex(grid.model()->index(0, 0));
  grid.setFocus();
  QTest::keyClick(&grid, Qt::Key_Space);
  ASSERT_EQ(toggled.count(), 3);
  EXPECT_EQ(toggled.at(2).at(0).toInt(), 0);
  EXPECT_TRUE(grid.IsChecked(0));
}

TEST_F(ReportGridTest, CheckSetByProgramGivesNoNotice)
{
  QSignalSpy toggled(&grid, &CReportGrid::checkToggled);
  for (int row = 0; row < grid.RowCount(); ++row)
    grid.SetChecked(row, true);
  EXPECT_EQ(toggled.count(), 0);
  for (int row = 0; row < grid.RowCount(); ++row)
    EXPECT_TRUE(grid.IsChecked(row));
  grid.SetChecked(1, true, 1); // a text item has no check
  EXPECT_FALSE(grid.IsChecked(1, 1));
}

TEST_F(ReportGridTest, InCellButtonNamesItsRow)
{
  QSignalSpy clicked(&grid, &CReportGrid::buttonClicked);
  QSignalSpy toggled(&grid, &CReportGrid::checkToggled);
  grid.SetItemButton(3, 3, true);
  EXPECT_TRUE(grid.ButtonRect(2, 3).isEmpty());
  const QRect button = grid.ButtonRect(3, 3);
  ASSERT_FALSE(button.isEmpty());
  EXPECT_TRUE(grid.CellRect(3, 3).contains(button));

  Click(button);
  ASSERT_EQ(clicked.count(), 1);
  EXPECT_EQ(clicked.at(0).at(0).toInt(), 3);

  // The rest of the cell is no button.
  QTest::mouseClick(grid.viewport(), Qt::LeftButton, Qt::NoModifier,
                    grid.CellRect(3, 3).topLeft() + QPoint(5, 5));
  EXPECT_EQ(clicked.count(), 1);

  grid.RemoveRow(0);
  Click(grid.ButtonRect(2, 3));
  ASSERT_EQ(clicked.count(), 2);
  EXPECT_EQ(clicked.at(1).at(0).toInt(), 2);
  EXPECT_EQ(toggled.count(), 0);
}

TEST_F(ReportGridTest, NotifiedViewMayRebuildTheGridAtOnce)
{
  // Views refill or shrink the grid from inside the notifications.
  QObject::connect(&grid, &CReportGrid::checkToggled, &grid, [this](int row) { grid.RemoveRow(row); });
  QObject::connect(&grid, &CReportGrid::buttonClicked, &grid, [this](int) {
    grid.RemoveAllRows();
    CReportRecord r;
    r.AddItem(CReportItem::Check(false));
    grid.AddRecord(r);
    grid.Populate();
  });
  Click(grid.CheckRect(4, 0));
  ASSERT_EQ(grid.RowCount(), 4);
  EXPECT_EQ(grid.ItemText(3, 1), "P0.3");
  grid.SetItemButton(1, 3, true);
  Click(grid.ButtonRect(1, 3));
  EXPECT_EQ(grid.RowCount(), 1);
  Click(grid.CheckRect(0, 0));
  EXPECT_EQ(grid.RowCount(), 0) << "its check toggled and the row went";
}

TEST_F(ReportGridTest, WorkerThreadUpdatesReachTheGrid)
{
  std::thread worker([this] {
    grid.SetItemText(1, 3, "-");
    grid.SetItemNumber(2, 3, 12.345);
    grid.SetChecked(0, true);
    grid.Redraw();
  });
  worker.join();
  // The changes are carried over to the grid's thread, not made behind it.
  EXPECT_EQ(grid.ItemText(1, 3), "1.50");
  QCoreApplication::sendPostedEvents(&grid);
  EXPECT_EQ(grid.ItemText(1, 3), "-");
  EXPECT_EQ(grid.ItemText(2, 3), "12.35");
  EXPECT_TRUE(grid.IsChecked(0));
}

TEST(ReportFormat, NumberFormatsAreCheckedBeforeUse)
{
  EXPECT_EQ(FormatNumber("%.0f", 2.5), "2");
  EXPECT_EQ(FormatNumber("%.3f", 1), "1.000");
  EXPECT_EQ(FormatNumber("%5.1f%%", 12.25), " 12.2%");
  // Formats that would read arguments that are not there fall back.
  EXPECT_EQ(FormatNumber("%s", 1.5), "1.5");
  EXPECT_EQ(FormatNumber("%d", 1.5), "1.5");
  EXPECT_EQ(FormatNumber("%f %f", 1.5), "1.5");
  EXPECT_EQ(FormatNumber("", 1.5), "1.5");
}

} // namespace
