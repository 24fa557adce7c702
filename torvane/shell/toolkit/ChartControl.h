#pragma once
// CVKRChartControl: the chart of the two monitor views. A line chart with a
// value axis (vertical) and a time axis (horizontal), series of points,
// titles around the plot, zooming by mouse wheel and a hover notice that
// names the sample under the cursor.
//
// Axis model. Each axis has a whole range [range minimum, range maximum] and
// a visible range inside it. With the automatic range on, the whole range
// follows the data of all series; otherwise it stays where it was put. With
// the automatic visible range on, the visible range is the whole range;
// placing the visible range turns it off. Zooming (mouse wheel over the plot,
// only on axes that allow it, only while the diagram allows it) narrows or
// widens the visible range around the cursor, never below the axis' zoom
// limit (the narrowest visible width, in axis units) and never beyond the
// whole range. Dragging with the left button scrolls a zoomed axis.
//
// Points are kept by the control and handed to the drawing series in bulk
// before the next paint, so adding thousands of points one by one costs no
// per-point redraw. Of a series whose arguments only grow, the drawing
// series holds just the visible slice, thinned to what the pixels can show.

#include "ColorRef.h"

#include <QFont>
#include <QMetaType>
#include <QPointF>
#include <QString>
#include <QStringList>
#include <QVector>
#include <QtCharts/QChartView>

#include <memory>
#include <vector>

class QGraphicsSimpleTextItem;
class QValueAxis;
class QCategoryAxis;
class QXYSeries;

enum class ChartAxis { Value, Time };

enum class ChartSeriesKind { Line, FastLine };

enum class ChartDock { Top, Bottom, Left, Right };

enum class ChartAlign { Near, Center, Far };

struct CChartSeriesStyle
{
  ChartSeriesKind kind = ChartSeriesKind::Line;
  QColor color = Qt::blue;
  bool antialiasing = true; // the chart antialiases as a whole when any series asks
  bool markersVisible = false;
  int markerSize = 5;
  bool pointLabelsVisible = false;
  int labelLineLength = 0; // kept for the caller; labels sit just above their points
  bool textArguments = false; // arguments are texts, placed at 0, 1, 2, ...
};

// What lies under a point of the window.
struct CChartHitInfo
{
  bool hasAxes = false;  // the point is on the diagram
  bool inPlot = false;   // ... and inside the plot area
  double timeMin = 0;    // visible range of the time axis
  double timeMax = 0;
  double valueMin = 0;   // visible range of the value axis
  double valueMax = 0;
  int plotLeft = 0;      // plot edges in widget (viewport) pixels
  int plotRight = 0;
  int plotTop = 0;
  int plotBottom = 0;
  double timeValue = 0;  // axis values under the point
  double value = 0;
};

// Sent to the owner when the cursor moves over a sample of the plot.
struct CChartHoverNotice
{
  QWidget* window = nullptr; // the chart control
  int ctrlId = 0;            // its control identifier
  int index = 0;             // point index (time-axis position) under the cursor
  double timeValue = 0;      // time-axis value under the cursor
  double value = 0;          // value-axis value under the cursor
};
Q_DECLARE_METATYPE(CChartHoverNotice)

class CVKRChartControl : public QChartView
{
  Q_OBJECT
public:
  explicit CVKRChartControl(QWidget* parent = nullptr);
  ~CVKRChartControl() override;

  // --- series ---------------------------------------------------------
  void RemoveAllSeries();
  // Adds a series and returns its index (0, 1, ... in order of adding).
  int AddSeries(const QString& name, const CChartSeriesStyle& style);
  int SeriesCount() const;
  QString SeriesName(int series) const;
  CChartSeriesStyle SeriesStyle(int series) const;
  void SetSeriesColor(int series, const QColor& color);
  void SetSeriesAntialiasing(int series, bool on);
  void SetMarkersVisible(int series, bool visible, int size = 5);
  // series < 0: all series.
  void SetPointLabelsVisible(int series, bool visible);
  void SetLabelLineLength(int series, int length);

  // --- points -----------------------------------------------------------
  // Numeric argument: the point sits at that time-axis position.
  void AddPoint(int series, double argument, double value);
  // Text argument: the point sits at the next position (its index in the
  // series) and the text labels the time axis there.
  void AddPoint(int series, const QString& argument, double value);
  void AddPoints(int series, const QVector<QPointF>& points);
  int PointCount(int series) const;
  QPointF Point(int series, int index) const;
  QString ArgumentText(int series, int index) const;
  // What the drawing shows of a series after the last flush: markers only
  // while its visible points stand apart, point labels (when on) on every
  // how-many-th point so that they stay readable.
  bool MarkersShown(int series) const;
  int LabelStride(int series) const;

  // --- axes -----------------------------------------------------------
  void SetRange(ChartAxis axis, double minimum, double maximum);
  void SetRangeMinimum(ChartAxis axis, double minimum);
  void SetRangeMaximum(ChartAxis axis, double maximum);
  double RangeMinimum(ChartAxis axis) const;
  double RangeMaximum(ChartAxis axis) const;
  void SetAutoRange(ChartAxis axis, bool on);
  bool IsAutoRange(ChartAxis axis) const;
  void SetVisibleRange(ChartAxis axis, double minimum, double maximum);
  void SetVisibleRangeAuto(ChartAxis axis, bool on);
  bool IsVisibleRangeAuto(ChartAxis axis) const;
  double VisibleMinimum(ChartAxis axis) const;
  double VisibleMaximum(ChartAxis axis) const;
  void SetZoomAllowed(ChartAxis axis, bool allowed);
  bool IsZoomAllowed(ChartAxis axis) const;
  void SetZoomLimit(ChartAxis axis, double narrowestWidth);
  double ZoomLimit(ChartAxis axis) const;
  void SetInterlaced(ChartAxis axis, bool on);
  bool IsInterlaced(ChartAxis axis) const;
  void SetAxisTitle(ChartAxis axis, const QString& title);
  QString AxisTitle(ChartAxis axis) const;
  void SetLabelAngle(ChartAxis axis, int degrees);
  // The most decimals the value axis' tick labels carry (those of the
  // signal shown); ticks are never placed finer than that.
  void SetLabelDecimals(ChartAxis axis, int maxDecimals);
  int LabelDecimals(ChartAxis axis) const;
  // The tick labels the time axis shows now.
  QStringList TimeAxisLabels() const;
  // The value axis' ticks as drawn: first tick, step and label decimals.
  double ValueTickStep() const;
  QString ValueTickFormat() const;
  void SetAxisAntialiasing(ChartAxis axis, bool on);

  // --- diagram ----------------------------------------------------------
  void SetDiagramZoomAllowed(bool allowed);
  bool IsDiagramZoomAllowed() const;
  void SetDiagramBackground(const QColor& solidFill);
  // Zooms around the given time/value position, as the mouse wheel does:
  // steps > 0 zoom in, < 0 zoom out.
  void ZoomAt(double timeValue, double value, double steps);
  CChartHitInfo HitTest(const QPoint& viewportPos) const;

  // --- titles -----------------------------------------------------------
  void AddTitle(const QString& text, ChartDock dock = ChartDock::Top,
                ChartAlign align = ChartAlign::Center, const QFont& font = QFont(),
                const QColor& color = Qt::black);
  void RemoveAllTitles();
  int TitleCount() const;
  QString TitleText(int index) const;

  // Hands pending points to the drawing series now (done anyway before the
  // next paint).
  void Flush();

  // A legend naming each series by its colour (off by default: the views
  // name the slots beside the chart); exported images carry one.
  void SetLegendVisible(bool visible);
  bool IsLegendVisible() const;
  // The chart as an image, with a legend whatever the screen shows.
  QImage GrabWithLegend();

signals:
  void hoverNotice(const CChartHoverNotice& notice);

protected:
  void mouseMoveEvent(QMouseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

private:
  struct Axis;
  struct Series;
  struct Title;

  Axis& AxisOf(ChartAxis axis);
  const Axis& AxisOf(ChartAxis axis) const;
  Series* SeriesAt(int series);
  const Series* SeriesAt(int series) const;
  void ApplySeriesStyle(Series& s);
  void DataExtent(ChartAxis axis, double* minimum, double* maximum) const;
  void UpdateAutoRange(ChartAxis axis);
  void ApplyVisible(ChartAxis axis);
  void PlaceVisible(ChartAxis axis, double minimum, double width);
  void DrawnRange(ChartAxis axis, double* lo, double* hi) const;
  QList<QPointF> DrawnPoints(const Series& s) const;
  void RelabelTimeAxis();
  void ApplyValueTicks();
  void ApplyDensity(Series& s, int pointsInView);
  void LayoutTitles();
  void ScheduleFlush();
  void UpdateRenderHints();
  QRectF PlotRectInViewport() const;

  QChart* m_chart;
  std::unique_ptr<Axis> m_value;
  std::unique_ptr<Axis> m_time;
  std::vector<std::unique_ptr<Series>> m_series;
  std::vector<std::unique_ptr<Title>> m_titles;
  bool m_diagramZoom = false;
  bool m_flushPending = false;
  bool m_dragging = false;
  QPoint m_dragLast;
};

// The monitors hold their chart through this frame; it draws a thin border
// in the given colour and otherwise is the control itself.
template <class T>
class CChartBorder : public T
{
public:
  using T::T;
  void SetBorderColor(const QColor& color)
  {
    this->setFrameShape(QFrame::Box);
    this->setLineWidth(1);
    QPalette p = this->palette();
    p.setColor(QPalette::WindowText, color);
    this->setPalette(p);
  }
};
