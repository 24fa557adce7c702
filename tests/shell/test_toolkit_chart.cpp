#include "ChartControl.h"
#include "ChartScale.h"
#include "ControlIds.h"

#include <QApplication>
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>
#include <QtCharts/QCategoryAxis>
#include <QtCharts/QLineSeries>
#include <gtest/gtest.h>

#include <cmath>

namespace {

// The chart as the real-time monitor sets it up.
class ChartTest : public ::testing::Test
{
protected:
  void SetUp() override
  {
    SetCtrlId(&chart, 1003);
    chart.AddTitle("Monitor");
    chart.AddTitle("Use mouse wheel to zoom chart", ChartDock::Bottom, ChartAlign::Far,
                   QFont("Tahoma", 8), Qt::gray);
    chart.SetRange(ChartAxis::Value, 0, 100.1);
    chart.SetAutoRange(ChartAxis::Value, false);
    chart.SetZoomAllowed(ChartAxis::Value, false);
    chart.SetInterlaced(ChartAxis::Value, true);
    chart.SetAxisTitle(ChartAxis::Value, "%");
    chart.SetRange(ChartAxis::Time, 0, 100.1);
    chart.SetAutoRange(ChartAxis::Time, false);
    chart.SetZoomAllowed(ChartAxis::Time, true);
    chart.SetZoomLimit(ChartAxis::Time, 10);
    chart.SetAxisTitle(ChartAxis::Time, "Time");
    chart.SetDiagramZoomAllowed(true);
    chart.SetDiagramBackground(Qt::white);
    chart.resize(800, 500);
    chart.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&chart));
    QApplication::processEvents();
    const CChartHitInfo hit = chart.HitTest(QPoint(400, 250));
    ASSERT_TRUE(hit.inPlot);
    plot = QRect(QPoint(hit.plotLeft, hit.plotTop), QPoint(hit.plotRight, hit.plotBottom));
  }

  void Wheel(const QPoint& pos, int notches)
  {
    QWheelEvent ev(QPointF(pos), QPointF(chart.viewport()->mapToGlobal(pos)), QPoint(),
                   QPoint(0, 120 * notches), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                   false);
    QApplication::sendEvent(chart.viewport(), &ev);
  }

  void Move(const QPoint& pos, Qt::MouseButtons buttons = Qt::NoButton)
  {
    QMouseEvent ev(QEvent::MouseMove, QPointF(pos), QPointF(chart.viewport()->mapToGlobal(pos)),
                   Qt::NoButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(chart.viewport(), &ev);
  }

  double VisibleWidth(ChartAxis a) const
  {
    return chart.VisibleMaximum(a) - chart.VisibleMinimum(a);
  }

  QLineSeries* Drawn(int i) const
  {
    return qobject_cast<QLineSeries*>(chart.chart()->series().value(i));
  }

  CVKRChartControl chart;
  QRect plot;
};

TEST_F(ChartTest, FastLineSeriesTakeThousandsOfPoints)
{
  CChartSeriesStyle style;
  style.kind = ChartSeriesKind::FastLine;
  for (int s = 0; s < 3; ++s) {
    style.color = QColor(0, 0, 255 - s);
    EXPECT_EQ(chart.AddSeries("Series", style), s);
  }
  for (int i = 0; i < 10000; ++i)
    for (int s = 0; s < 3; ++s)
      chart.AddPoint(s, i, (i + s) % 101);
  EXPECT_EQ(chart.SeriesCount(), 3);
  EXPECT_EQ(chart.PointCount(2), 10000);
  EXPECT_EQ(chart.Point(1, 9999), QPointF(9999, (9999 + 1) % 101));

  QApplication::processEvents(); // the points reach the drawing series in bulk
  ASSERT_EQ(chart.chart()->series().size(), 3);
  EXPECT_EQ(Drawn(2)->color(), QColor(0, 0, 253));
  EXPECT_FALSE(Drawn(0)->pointsVisible());
  EXPECT_FALSE(Drawn(0)->useOpenGL());

  // The time axis was set by hand: the data does not move it, and only the
  // visible points (with one beyond the right edge) are drawn.
  EXPECT_DOUBLE_EQ(chart.RangeMaximum(ChartAxis::Time), 100.1);
  ASSERT_EQ(Drawn(0)->count(), 102);
  EXPECT_EQ(Drawn(0)->at(50), QPointF(50, 50));
  EXPECT_EQ(Drawn(0)->at(101), QPointF(101, 0));

  // Scrolled to the end of the recording the slice follows.
  chart.SetRangeMaximum(ChartAxis::Time, 9999);
  chart.SetVisibleRange(ChartAxis::Time, 9899, 9999);
  QApplication::processEvents();
  ASSERT_EQ(Drawn(1)->count(), 102);
  EXPECT_EQ(Drawn(1)->at(0), QPointF(9898, (9898 + 1) % 101));
  EXPECT_EQ(Drawn(1)->at(101), QPointF(9999, (9999 + 1) % 101));

  // The whole recording in view: thinned to the pixel columns, yet keeping
  // both ends and the extremes of the line.
  chart.SetVisibleRangeAuto(ChartAxis::Time, true);
  QApplication::processEvents();
  const int drawn = Drawn(0)->count();
  EXPECT_LE(drawn, 4 * plot.width() + 2);
  EXPECT_GT(drawn, plot.width());
  EXPECT_EQ(Drawn(0)->at(0), QPointF(0, 0));
  EXPECT_EQ(Drawn(0)->at(drawn - 1), QPointF(9999, 9999 % 101));
  double lowest = 1e9, highest = -1e9;
  for (const QPointF& p : Drawn(0)->points()) {
    lowest = std::min(lowest, p.y());
    highest = std::max(highest, p.y());
  }
  EXPECT_EQ(lowest, 0);
  EXPECT_EQ(highest, 100);

  chart.RemoveAllSeries();
  EXPECT_EQ(chart.SeriesCount(), 0);
  EXPECT_EQ(chart.PointCount(0), 0);
  EXPECT_TRUE(chart.chart()->series().isEmpty());
}

TEST_F(ChartTest, AutomaticRangesFollowDataAndPlacedRangesStay)
{
  const int s = chart.AddSeries("Series", CChartSeriesStyle());
  chart.SetAutoRange(ChartAxis::Time, true);
  chart.AddPoint(s, 5, 10);
  chart.AddPoint(s, 250, 20);
  EXPECT_DOUBLE_EQ(chart.RangeMinimum(ChartAxis::Time), 5);
  EXPECT_DOUBLE_EQ(chart.RangeMaximum(ChartAxis::Time), 250);
  EXPECT_TRUE(chart.IsVisibleRangeAuto(ChartAxis::Time));
  EXPECT_DOUBLE_EQ(chart.VisibleMaximum(ChartAxis::Time), 250);
  EXPECT_DOUBLE_EQ(chart.RangeMaximum(ChartAxis::Value), 100.1) << "value range was fixed";

  // Following the newest sample as the monitor does: a window of the same
  // width, right end at the new maximum.
  chart.SetAutoRange(ChartAxis::Time, false);
  chart.SetRangeMaximum(ChartAxis::Time, 400);
  chart.SetVisibleRange(ChartAxis::Time, 300, 400);
  EXPECT_FALSE(chart.IsVisibleRangeAuto(ChartAxis::Time));
  chart.AddPoint(s, 500, 30);
  EXPECT_DOUBLE_EQ(chart.RangeMaximum(ChartAxis::Time), 400);
  EXPECT_DOUBLE_EQ(chart.VisibleMinimum(ChartAxis::Time), 300);
  EXPECT_DOUBLE_EQ(chart.VisibleMaximum(ChartAxis::Time), 400);

  chart.SetVisibleRangeAuto(ChartAxis::Time, true);
  EXPECT_DOUBLE_EQ(chart.VisibleMinimum(ChartAxis::Time), 5);
  EXPECT_DOUBLE_EQ(chart.VisibleMaximum(ChartAxis::Time), 400);
}

TEST_F(ChartTest, WheelZoomsTheTimeAxisOnlyAndStopsAtTheLimit)
{
  const QPoint centre = plot.center();
  const double anchor = chart.HitTest(centre).timeValue;
  Wheel(centre, 1);
  EXPECT_NEAR(VisibleWidth(ChartAxis::Time), 100.1 / 1.25, 1e-9);
  // The value under the cursor stays under the cursor.
  EXPECT_NEAR(chart.HitTest(centre).timeValue, anchor, 0.5);
  EXPECT_DOUBLE_EQ(VisibleWidth(ChartAxis::Value), 100.1) << "value axis zoom is off";
  EXPECT_FALSE(chart.IsVisibleRangeAuto(ChartAxis::Time));

  for (int i = 0; i < 30; ++i)
    Wheel(centre, 1);
  EXPECT_NEAR(VisibleWidth(ChartAxis::Time), 10, 1e-9) << "zoom limit";
  EXPECT_GE(chart.VisibleMinimum(ChartAxis::Time), 0);

  for (int i = 0; i < 30; ++i)
    Wheel(centre, -1);
  EXPECT_NEAR(chart.VisibleMinimum(ChartAxis::Time), 0, 1e-9);
  EXPECT_NEAR(chart.VisibleMaximum(ChartAxis::Time), 100.1, 1e-9) << "never beyond the range";

  // Wheel over the title band, or with zooming off, changes nothing.
  Wheel(QPoint(plot.center().x(), chart.height() - 3), 3);
  EXPECT_NEAR(VisibleWidth(ChartAxis::Time), 100.1, 1e-9);
  chart.SetDiagramZoomAllowed(false);
  Wheel(centre, 3);
  EXPECT_NEAR(VisibleWidth(ChartAxis::Time), 100.1, 1e-9);
}

TEST_F(ChartTest, WindowAtTheEndOfTheRangeEndsExactlyThere)
{
  // The monitor keeps following the newest sample only while the window's
  // right end equals the range maximum, so the edge must not drift.
  chart.SetRangeMaximum(ChartAxis::Time, 1234.567);
  chart.SetVisibleRange(ChartAxis::Time, 1134.467, 1234.567);
  for (int i = 0; i < 3; ++i) {
    Wheel(QPoint(plot.right(), plot.center().y()), 1);
    EXPECT_EQ(chart.VisibleMaximum(ChartAxis::Time), chart.RangeMaximum(ChartAxis::Time));
  }
  Wheel(QPoint(plot.right() - 5, plot.center().y()), -1);
  EXPECT_EQ(chart.VisibleMaximum(ChartAxis::Time), chart.RangeMaximum(ChartAxis::Time));
  for (int i = 0; i < 40; ++i)
    Wheel(plot.center(), -1);
  EXPECT_EQ(chart.VisibleMinimum(ChartAxis::Time), 0);
  EXPECT_EQ(chart.VisibleMaximum(ChartAxis::Time), 1234.567);
}

TEST_F(ChartTest, ValueAxisZoomsWhenAllowed)
{
  chart.SetZoomAllowed(ChartAxis::Value, true);
  chart.SetZoomLimit(ChartAxis::Value, 20);
  Wheel(QPoint(plot.center().x(), plot.bottom()), 5);
  EXPECT_NEAR(VisibleWidth(ChartAxis::Value), 100.1 / std::pow(1.25, 5), 1e-9);
  EXPECT_NEAR(chart.VisibleMinimum(ChartAxis::Value), 0, 1e-9) << "zoomed at the bottom edge";
  EXPECT_NEAR(VisibleWidth(ChartAxis::Time), 100.1 / std::pow(1.25, 5), 1e-9)
      << "both axes zoom when both allow it";
  for (int i = 0; i < 20; ++i)
    Wheel(plot.center(), 1);
  EXPECT_NEAR(VisibleWidth(ChartAxis::Value), 20, 1e-9);
}

TEST_F(ChartTest, DraggingScrollsAZoomedTimeAxis)
{
  Wheel(plot.center(), 5);
  const double width = VisibleWidth(ChartAxis::Time);
  const double before = chart.VisibleMinimum(ChartAxis::Time);
  QTest::mousePress(chart.viewport(), Qt::LeftButton, Qt::NoModifier, plot.center());
  Move(plot.center() + QPoint(plot.width() / 10, 0), Qt::LeftButton);
  QTest::mouseRelease(chart.viewport(), Qt::LeftButton, Qt::NoModifier,
                      plot.center() + QPoint(plot.width() / 10, 0));
  EXPECT_NEAR(chart.VisibleMinimum(ChartAxis::Time), before - width / 10, width / 50);
  EXPECT_NEAR(VisibleWidth(ChartAxis::Time), width, 1e-9);
}

TEST_F(ChartTest, HoverNoticeNamesThePointUnderTheCursor)
{
  QSignalSpy spy(&chart, &CVKRChartControl::hoverNotice);
  chart.SetVisibleRange(ChartAxis::Time, 200, 300);
  const int x = plot.left() + (plot.width() * 3) / 4;
  Move(QPoint(x, plot.center().y()));
  ASSERT_EQ(spy.count(), 1);
  const auto notice = spy.at(0).at(0).value<CChartHoverNotice>();
  EXPECT_EQ(notice.ctrlId, 1003);
  EXPECT_EQ(notice.window, &chart);
  const CChartHitInfo hit = chart.HitTest(QPoint(x, plot.center().y()));
  const int expected =
      ((x - hit.plotLeft) * 300 + (hit.plotRight - x) * 200) / (hit.plotRight - hit.plotLeft);
  EXPECT_EQ(notice.index, expected);
  EXPECT_NEAR(notice.index, 275, 1);
  EXPECT_NEAR(notice.timeValue, 275, 1);
  EXPECT_NEAR(notice.value, 50.05, 1);

  // Outside the plot, and at index 0, nothing is sent.
  Move(QPoint(plot.left() - 20, plot.center().y()));
  Move(QPoint(plot.center().x(), plot.bottom() + 30));
  chart.SetVisibleRange(ChartAxis::Time, 0, 100.1);
  Move(QPoint(plot.left(), plot.center().y()));
  EXPECT_EQ(spy.count(), 1);
  Move(QPoint(plot.right(), plot.center().y()));
  ASSERT_EQ(spy.count(), 2);
  EXPECT_EQ(spy.at(1).at(0).value<CChartHoverNotice>().index, 100);
}

TEST_F(ChartTest, TextArgumentsLabelTheTimeAxis)
{
  CChartSeriesStyle style;
  style.textArguments = true;
  style.markersVisible = true;
  style.markerSize = 5;
  const int s = chart.AddSeries("signal1", style);
  const char* times[] = {"10:00:00-000", "10:00:01-000", "10:00:02-000"};
  for (int i = 0; i < 3; ++i)
    chart.AddPoint(s, times[i], 10.0 * i);
  EXPECT_EQ(chart.Point(s, 2), QPointF(2, 20));
  EXPECT_EQ(chart.ArgumentText(s, 1), "10:00:01-000");
  chart.SetRange(ChartAxis::Time, 0, 2);
  chart.Flush();
  auto* axis = qobject_cast<QCategoryAxis*>(chart.chart()->axes(Qt::Horizontal).value(0));
  ASSERT_NE(axis, nullptr);
  EXPECT_TRUE(axis->categoriesLabels().contains("10:00:02-000"));
  EXPECT_TRUE(Drawn(0)->pointsVisible());
  EXPECT_EQ(Drawn(0)->markerSize(), 5);

  chart.SetPointLabelsVisible(-1, true);
  EXPECT_TRUE(Drawn(0)->pointLabelsVisible());
  chart.SetPointLabelsVisible(-1, false);
  EXPECT_FALSE(Drawn(0)->pointLabelsVisible());
}

TEST_F(ChartTest, NumericTimeAxisIsLabelledAcrossTheVisibleRange)
{
  auto* axis = qobject_cast<QCategoryAxis*>(chart.chart()->axes(Qt::Horizontal).value(0));
  ASSERT_NE(axis, nullptr);
  QStringList labels = axis->categoriesLabels();
  ASSERT_GE(labels.size(), 3);
  EXPECT_EQ(labels.first(), "0");
  EXPECT_EQ(labels.last(), "100");
  chart.SetVisibleRange(ChartAxis::Time, 5000, 5100);
  QApplication::processEvents(); // the drawn axis follows before the next paint
  labels = axis->categoriesLabels();
  ASSERT_GE(labels.size(), 3);
  EXPECT_EQ(labels.first(), "5000");
  EXPECT_DOUBLE_EQ(axis->min(), 5000);
  EXPECT_DOUBLE_EQ(axis->max(), 5100);
}

TEST(ChartBorder, FramesTheChart)
{
  CChartBorder<CVKRChartControl> framed;
  framed.SetBorderColor(QColor(101, 147, 207));
  EXPECT_EQ(framed.frameShape(), QFrame::Box);
  EXPECT_EQ(framed.palette().color(QPalette::WindowText), QColor(101, 147, 207));
  EXPECT_EQ(framed.AddSeries("Series", CChartSeriesStyle()), 0);
}

TEST_F(ChartTest, TitlesAreDockedAroundThePlot)
{
  ASSERT_EQ(chart.TitleCount(), 2);
  EXPECT_EQ(chart.TitleText(1), "Use mouse wheel to zoom chart");
  EXPECT_EQ(chart.AxisTitle(ChartAxis::Time), "Time");
  EXPECT_TRUE(chart.IsInterlaced(ChartAxis::Value));
  // The bottom title sits below the plot and to its right end.
  const QRectF plotBefore = chart.chart()->plotArea();
  chart.RemoveAllTitles();
  QApplication::processEvents();
  EXPECT_EQ(chart.TitleCount(), 0);
  EXPECT_GT(chart.chart()->plotArea().height(), plotBefore.height())
      << "the plot takes the room the titles left";
}

} // namespace

// The chart's arithmetic without a display.
TEST(ChartScale, TicksKeepTheSignalsDecimals)
{
  chartscale::Ticks t = chartscale::NiceTicks(0, 100.1, 6, 1);
  EXPECT_DOUBLE_EQ(t.step, 20);
  EXPECT_EQ(t.decimals, 0);
  EXPECT_EQ(t.count, 6);
  // Zoomed far in: never finer than the signal's last decimal.
  t = chartscale::NiceTicks(12.3, 12.34, 6, 1);
  EXPECT_DOUBLE_EQ(t.step, 0.1);
  EXPECT_EQ(t.decimals, 1);
  t = chartscale::NiceTicks(-1, 1, 4, 3);
  EXPECT_DOUBLE_EQ(t.step, 0.5);
  EXPECT_EQ(t.decimals, 1);
  EXPECT_DOUBLE_EQ(t.first, -1);
  EXPECT_EQ(chartscale::TickText(-0.0001, 2), "0.00");
  EXPECT_EQ(chartscale::TickText(2.5, 0), "2");
  EXPECT_EQ(chartscale::DecimalsOfExponent(-2), 2);
  EXPECT_EQ(chartscale::DecimalsOfExponent(-4), 3);
}

TEST(ChartScale, MarkersLabelsAndHoverByDensity)
{
  EXPECT_TRUE(chartscale::MarkersReadable(20, 600));
  EXPECT_FALSE(chartscale::MarkersReadable(1000, 600));
  EXPECT_EQ(chartscale::LabelStride(10, 900, 40), 1);
  EXPECT_EQ(chartscale::LabelStride(1001, 500, 40), 80);
  EXPECT_EQ(chartscale::HoverIndex(100, 100, 600, 200, 300), 200);
  EXPECT_EQ(chartscale::HoverIndex(600, 100, 600, 200, 300), 300);
  EXPECT_EQ(chartscale::HoverIndex(350, 100, 600, 200.9, 300.9), 250);
  EXPECT_EQ(chartscale::HoverIndex(99, 100, 600, 0, 100), -1);
}
