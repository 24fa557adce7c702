#include "ChartControl.h"

#include "ChartScale.h"
#include "ControlIds.h"

#include <QGraphicsLayout>
#include <QImage>
#include <QtCharts/QLegend>
#include <QtCharts/QLegendMarker>

#include <QGraphicsSimpleTextItem>
#include <QMouseEvent>
#include <QResizeEvent>
#include <QWheelEvent>
#include <QtCharts/QCategoryAxis>
#include <QtCharts/QChart>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {
// One wheel notch narrows the visible range to 1/1.25 of its width.
const double kZoomPerStep = 1.25;
const int kTitleGap = 4;
const int kBaseMargin = 8;

double NiceStep(double rough)
{
  if (!(rough > 0))
    return 1;
  const double p = std::pow(10.0, std::floor(std::log10(rough)));
  const double m = rough / p;
  const double nice = m <= 1 ? 1 : m <= 2 ? 2 : m <= 5 ? 5 : 10;
  return nice * p;
}
} // namespace

struct CVKRChartControl::Axis
{
  QValueAxis* q = nullptr;
  double rangeMin = 0;
  double rangeMax = 10;
  bool autoRange = true;
  double visMin = 0;
  double visMax = 10;
  bool visAuto = true;
  bool zoom = true;
  double zoomLimit = 0;
  bool interlaced = false;
  bool antialiasing = true;
  int maxDecimals = 3;
  bool dirty = false; // the drawn axis lags behind the numbers above
};

struct CVKRChartControl::Series
{
  QString name;
  CChartSeriesStyle style;
  QLineSeries* q = nullptr;
  QVector<QPointF> points;
  QStringList arguments; // texts of text arguments, by point index
  bool dirty = false;
  double minX = std::numeric_limits<double>::max();
  double maxX = std::numeric_limits<double>::lowest();
  double minY = std::numeric_limits<double>::max();
  double maxY = std::numeric_limits<double>::lowest();

  bool ascending = true; // arguments never went back: slices can be searched
  bool markersShown = false;
  int labelStride = 1;

  void Append(const QPointF& p)
  {
    if (!points.isEmpty() && p.x() < points.last().x())
      ascending = false;
    points.append(p);
    Extend(p);
  }

  void Extend(const QPointF& p)
  {
    minX = std::min(minX, p.x());
    maxX = std::max(maxX, p.x());
    minY = std::min(minY, p.y());
    maxY = std::max(maxY, p.y());
  }
};

struct CVKRChartControl::Title
{
  QGraphicsSimpleTextItem* item = nullptr;
  ChartDock dock = ChartDock::Top;
  ChartAlign align = ChartAlign::Center;
};

CVKRChartControl::CVKRChartControl(QWidget* parent)
    : QChartView(parent), m_chart(new QChart), m_value(new Axis), m_time(new Axis)
{
  qRegisterMetaType<CChartHoverNotice>();
  m_chart->legend()->hide();
  m_chart->setMargins(QMargins(kBaseMargin, kBaseMargin, kBaseMargin, kBaseMargin));
  m_chart->setBackgroundRoundness(0);

  m_value->q = new QValueAxis(m_chart);
  m_value->q->setTickCount(6);
  m_value->q->setLabelFormat("%g");
  auto* time = new QCategoryAxis(m_chart);
  time->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
  m_time->q = time;
  m_chart->addAxis(m_time->q, Qt::AlignBottom);
  m_chart->addAxis(m_value->q, Qt::AlignLeft);
  for (Axis* a : {m_value.get(), m_time.get()}) {
    a->q->setShadesPen(Qt::NoPen);
    a->q->setShadesBrush(QColor(236, 240, 248));
  }
  connect(m_time->q, &QValueAxis::rangeChanged, this, [this] { RelabelTimeAxis(); });

  setChart(m_chart);
  setRenderHint(QPainter::Antialiasing, true);
  setMouseTracking(true);
  viewport()->setMouseTracking(true);
  setFrameShape(QFrame::NoFrame);
  ApplyVisible(ChartAxis::Value);
  ApplyVisible(ChartAxis::Time);
  Flush();
}

CVKRChartControl::~CVKRChartControl() = default;

CVKRChartControl::Axis& CVKRChartControl::AxisOf(ChartAxis axis)
{
  return axis == ChartAxis::Value ? *m_value : *m_time;
}

const CVKRChartControl::Axis& CVKRChartControl::AxisOf(ChartAxis axis) const
{
  return axis == ChartAxis::Value ? *m_value : *m_time;
}

CVKRChartControl::Series* CVKRChartControl::SeriesAt(int series)
{
  return series >= 0 && series < static_cast<int>(m_series.size()) ? m_series[series].get() : nullptr;
}

const CVKRChartControl::Series* CVKRChartControl::SeriesAt(int series) const
{
  return series >= 0 && series < static_cast<int>(m_series.size()) ? m_series[series].get() : nullptr;
}

// --- series ---------------------------------------------------------------

void CVKRChartControl::RemoveAllSeries()
{
  m_chart->removeAllSeries(); // deletes the drawing series
  m_series.clear();
  UpdateAutoRange(ChartAxis::Value);
  UpdateAutoRange(ChartAxis::Time);
  RelabelTimeAxis();
  UpdateRenderHints();
}

int CVKRChartControl::AddSeries(const QString& name, const CChartSeriesStyle& style)
{
  auto s = std::make_unique<Series>();
  s->name = name;
  s->style = style;
  s->q = new QLineSeries;
  s->q->setName(name);
  s->q->setUseOpenGL(false);
  m_chart->addSeries(s->q);
  s->q->attachAxis(m_time->q);
  s->q->attachAxis(m_value->q);
  ApplySeriesStyle(*s);
  m_series.push_back(std::move(s));
  UpdateRenderHints();
  return static_cast<int>(m_series.size()) - 1;
}

void CVKRChartControl::ApplySeriesStyle(Series& s)
{
  QPen pen(s.style.color);
  pen.setWidth(s.style.kind == ChartSeriesKind::FastLine ? 1 : 2);
  s.q->setPen(pen);
  s.q->setColor(s.style.color);
  // A fast line never draws markers, whatever the style asks for.
  const bool markers = s.style.markersVisible && s.style.kind == ChartSeriesKind::Line;
  s.q->setPointsVisible(markers);
  s.q->setMarkerSize(std::max(1, s.style.markerSize));
  s.q->setPointLabelsFormat(QStringLiteral("@yPoint"));
  s.q->setPointLabelsColor(s.style.color);
  s.q->setPointLabelsVisible(s.style.pointLabelsVisible);
  s.q->setPointLabelsClipping(true);
  // How many of the markers and labels can be read depends on the drawn
  // points: settled at the next flush.
  s.markersShown = markers;
  s.dirty = true;
  ScheduleFlush();
}

int CVKRChartControl::SeriesCount() const { return static_cast<int>(m_series.size()); }

QString CVKRChartControl::SeriesName(int series) const
{
  const Series* s = SeriesAt(series);
  return s ? s->name : QString();
}

CChartSeriesStyle CVKRChartControl::SeriesStyle(int series) const
{
  const Series* s = SeriesAt(series);
  return s ? s->style : CChartSeriesStyle();
}

void CVKRChartControl::SetSeriesColor(int series, const QColor& color)
{
  if (Series* s = SeriesAt(series)) {
    s->style.color = color;
    ApplySeriesStyle(*s);
  }
}

void CVKRChartControl::SetSeriesAntialiasing(int series, bool on)
{
  if (Series* s = SeriesAt(series)) {
    s->style.antialiasing = on;
    UpdateRenderHints();
  }
}

void CVKRChartControl::SetMarkersVisible(int series, bool visible, int size)
{
  if (Series* s = SeriesAt(series)) {
    s->style.markersVisible = visible;
    s->style.markerSize = size;
    ApplySeriesStyle(*s);
  }
}

void CVKRChartControl::SetPointLabelsVisible(int series, bool visible)
{
  for (int i = 0; i < SeriesCount(); ++i) {
    if (series >= 0 && i != series)
      continue;
    m_series[i]->style.pointLabelsVisible = visible;
    ApplySeriesStyle(*m_series[i]);
  }
}

void CVKRChartControl::SetLabelLineLength(int series, int length)
{
  if (Series* s = SeriesAt(series))
    s->style.labelLineLength = length;
}

void CVKRChartControl::UpdateRenderHints()
{
  // The drawing surface antialiases as a whole: on when any series wants it.
  bool any = m_series.empty() ? (m_time->antialiasing || m_value->antialiasing) : false;
  for (const auto& s : m_series)
    any = any || s->style.antialiasing;
  setRenderHint(QPainter::Antialiasing, any);
}

// --- points ---------------------------------------------------------------

void CVKRChartControl::AddPoint(int series, double argument, double value)
{
  Series* s = SeriesAt(series);
  if (!s || !std::isfinite(argument) || !std::isfinite(value))
    return;
  s->Append(QPointF(argument, value));
  if (s->style.textArguments)
    s->arguments.append(QString::number(argument, 'g', 6));
  s->dirty = true;
  UpdateAutoRange(ChartAxis::Time);
  UpdateAutoRange(ChartAxis::Value);
  ScheduleFlush();
}

void CVKRChartControl::AddPoint(int series, const QString& argument, double value)
{
  Series* s = SeriesAt(series);
  if (!s || !std::isfinite(value))
    return;
  s->Append(QPointF(s->points.size(), value));
  s->arguments.append(argument);
  s->dirty = true;
  UpdateAutoRange(ChartAxis::Time);
  UpdateAutoRange(ChartAxis::Value);
  ScheduleFlush();
}

void CVKRChartControl::AddPoints(int series, const QVector<QPointF>& points)
{
  Series* s = SeriesAt(series);
  if (!s)
    return;
  s->points.reserve(s->points.size() + points.size());
  for (const QPointF& p : points) {
    if (!std::isfinite(p.x()) || !std::isfinite(p.y()))
      continue;
    s->Append(p);
    if (s->style.textArguments)
      s->arguments.append(QString::number(p.x(), 'g', 6));
  }
  s->dirty = true;
  UpdateAutoRange(ChartAxis::Time);
  UpdateAutoRange(ChartAxis::Value);
  ScheduleFlush();
}

int CVKRChartControl::PointCount(int series) const
{
  const Series* s = SeriesAt(series);
  return s ? s->points.size() : 0;
}

QPointF CVKRChartControl::Point(int series, int index) const
{
  const Series* s = SeriesAt(series);
  if (!s || index < 0 || index >= s->points.size())
    return {};
  return s->points[index];
}

QString CVKRChartControl::ArgumentText(int series, int index) const
{
  const Series* s = SeriesAt(series);
  if (!s || index < 0 || index >= s->arguments.size())
    return {};
  return s->arguments[index];
}

void CVKRChartControl::ScheduleFlush()
{
  if (m_flushPending)
    return;
  m_flushPending = true;
  QMetaObject::invokeMethod(this, [this] { Flush(); }, Qt::QueuedConnection);
}

void CVKRChartControl::Flush()
{
  m_flushPending = false;
  for (ChartAxis which : {ChartAxis::Value, ChartAxis::Time}) {
    Axis& a = AxisOf(which);
    if (!a.dirty)
      continue;
    a.dirty = false;
    double lo, hi;
    DrawnRange(which, &lo, &hi);
    a.q->setRange(lo, hi);
    if (which == ChartAxis::Value)
      ApplyValueTicks();
    if (which == ChartAxis::Time) // another slice of every series is visible
      for (auto& s : m_series)
        s->dirty = true;
  }
  bool texts = false;
  for (auto& s : m_series) {
    texts = texts || s->style.textArguments;
    if (!s->dirty)
      continue;
    s->dirty = false;
    const QList<QPointF> drawn = DrawnPoints(*s);
    s->q->replace(drawn);
    double lo, hi;
    DrawnRange(ChartAxis::Time, &lo, &hi);
    int inView = 0;
    for (const QPointF& p : drawn)
      inView += p.x() >= lo && p.x() <= hi;
    ApplyDensity(*s, inView);
  }
  if (texts)
    RelabelTimeAxis();
}

void CVKRChartControl::ApplyDensity(Series& s, int pointsInView)
{
  const double width = std::max<qreal>(100, m_chart->plotArea().width());
  const bool markers = s.style.markersVisible && s.style.kind == ChartSeriesKind::Line;
  s.markersShown = markers && chartscale::MarkersReadable(pointsInView, width);
  s.q->setPointsVisible(s.markersShown);
  // A label is about as wide as a value with its decimals.
  const int labelWidth = 44;
  s.labelStride = chartscale::LabelStride(pointsInView, width, labelWidth);
  QHash<int, QHash<QXYSeries::PointConfiguration, QVariant>> config;
  if (s.style.pointLabelsVisible && s.labelStride > 1) {
    const int n = static_cast<int>(s.q->count());
    for (int i = 0; i < n; ++i)
      if (i % s.labelStride != 0)
        config[i][QXYSeries::PointConfiguration::LabelVisibility] = false;
  }
  s.q->setPointsConfiguration(config);
}

bool CVKRChartControl::MarkersShown(int series) const
{
  const Series* s = SeriesAt(series);
  return s && s->markersShown;
}

int CVKRChartControl::LabelStride(int series) const
{
  const Series* s = SeriesAt(series);
  return s ? s->labelStride : 1;
}

QList<QPointF> CVKRChartControl::DrawnPoints(const Series& s) const
{
  // The drawing series gets only what can be seen: the points inside the
  // visible time range (and one either side so lines run to the edges), and
  // of those at most the lowest and highest of each pixel column. The cost of
  // a redraw then depends on the window, not on the length of the recording.
  const QVector<QPointF>& pts = s.points;
  if (!s.ascending || pts.size() <= 2)
    return pts;
  double lo, hi;
  DrawnRange(ChartAxis::Time, &lo, &hi);
  auto first = std::lower_bound(pts.begin(), pts.end(), lo,
                                [](const QPointF& p, double v) { return p.x() < v; });
  auto last = std::upper_bound(pts.begin(), pts.end(), hi,
                               [](double v, const QPointF& p) { return v < p.x(); });
  if (first != pts.begin())
    --first;
  if (last != pts.end())
    ++last;
  const int columns = std::max(100, static_cast<int>(m_chart->plotArea().width()));
  if (last - first <= 4 * columns)
    return QList<QPointF>(first, last);

  QList<QPointF> out;
  out.reserve(4 * columns + 2);
  const double perColumn = (hi - lo) / columns;
  auto column = [&](const QPointF& p) {
    return static_cast<long long>(std::floor((p.x() - lo) / perColumn));
  };
  out.append(*first);
  auto low = first + 1, high = first + 1;
  long long current = low < last ? column(*low) : 0;
  auto emitColumn = [&] {
    if (low == high) {
      out.append(*low);
    } else if (low < high) {
      out.append(*low);
      out.append(*high);
    } else {
      out.append(*high);
      out.append(*low);
    }
  };
  for (auto it = first + 1; it < last - 1; ++it) {
    const long long c = column(*it);
    if (c != current) {
      emitColumn();
      current = c;
      low = high = it;
      continue;
    }
    if (it->y() < low->y())
      low = it;
    if (it->y() > high->y())
      high = it;
  }
  if (first + 1 < last - 1)
    emitColumn();
  out.append(*(last - 1));
  return out;
}

// --- axes -------------------------------------------------------------------

void CVKRChartControl::DataExtent(ChartAxis axis, double* minimum, double* maximum) const
{
  *minimum = std::numeric_limits<double>::max();
  *maximum = std::numeric_limits<double>::lowest();
  for (const auto& s : m_series) {
    if (s->points.isEmpty())
      continue;
    *minimum = std::min(*minimum, axis == ChartAxis::Time ? s->minX : s->minY);
    *maximum = std::max(*maximum, axis == ChartAxis::Time ? s->maxX : s->maxY);
  }
}

void CVKRChartControl::UpdateAutoRange(ChartAxis axis)
{
  Axis& a = AxisOf(axis);
  if (!a.autoRange)
    return;
  double lo, hi;
  DataExtent(axis, &lo, &hi);
  if (lo > hi)
    return; // no data: the range stays
  if (lo == a.rangeMin && hi == a.rangeMax)
    return;
  a.rangeMin = lo;
  a.rangeMax = hi;
  ApplyVisible(axis);
}

void CVKRChartControl::ApplyVisible(ChartAxis axis)
{
  Axis& a = AxisOf(axis);
  if (a.visAuto) {
    a.visMin = a.rangeMin;
    a.visMax = a.rangeMax;
  }
  // The drawn axis takes the range at the next flush: moving it re-lays out
  // every series, which must not happen once per added point.
  a.dirty = true;
  ScheduleFlush();
}

void CVKRChartControl::DrawnRange(ChartAxis axis, double* lo, double* hi) const
{
  const Axis& a = AxisOf(axis);
  *lo = a.visMin;
  *hi = a.visMax;
  if (!(*hi > *lo)) // a single value still needs a drawable span
    *hi = *lo + 1;
}

void CVKRChartControl::PlaceVisible(ChartAxis axis, double minimum, double width)
{
  Axis& a = AxisOf(axis);
  // The edges are set exactly, not by adding the width, so that a window at
  // the end of the range compares equal to the range's end.
  if (width >= a.rangeMax - a.rangeMin) {
    a.visMin = a.rangeMin;
    a.visMax = a.rangeMax;
  } else if (minimum <= a.rangeMin) {
    a.visMin = a.rangeMin;
    a.visMax = a.rangeMin + width;
  } else if (minimum + width >= a.rangeMax) {
    a.visMin = a.rangeMax - width;
    a.visMax = a.rangeMax;
  } else {
    a.visMin = minimum;
    a.visMax = minimum + width;
  }
  a.visAuto = false;
  ApplyVisible(axis);
}

void CVKRChartControl::SetRange(ChartAxis axis, double minimum, double maximum)
{
  Axis& a = AxisOf(axis);
  if (maximum < minimum)
    std::swap(minimum, maximum);
  a.rangeMin = minimum;
  a.rangeMax = maximum;
  ApplyVisible(axis);
}

void CVKRChartControl::SetRangeMinimum(ChartAxis axis, double minimum)
{
  Axis& a = AxisOf(axis);
  a.rangeMin = minimum;
  if (a.rangeMax < minimum)
    a.rangeMax = minimum;
  ApplyVisible(axis);
}

void CVKRChartControl::SetRangeMaximum(ChartAxis axis, double maximum)
{
  Axis& a = AxisOf(axis);
  a.rangeMax = maximum;
  if (a.rangeMin > maximum)
    a.rangeMin = maximum;
  ApplyVisible(axis);
}

double CVKRChartControl::RangeMinimum(ChartAxis axis) const { return AxisOf(axis).rangeMin; }
double CVKRChartControl::RangeMaximum(ChartAxis axis) const { return AxisOf(axis).rangeMax; }

void CVKRChartControl::SetAutoRange(ChartAxis axis, bool on)
{
  AxisOf(axis).autoRange = on;
  UpdateAutoRange(axis);
}

bool CVKRChartControl::IsAutoRange(ChartAxis axis) const { return AxisOf(axis).autoRange; }

void CVKRChartControl::SetVisibleRange(ChartAxis axis, double minimum, double maximum)
{
  Axis& a = AxisOf(axis);
  if (maximum < minimum)
    std::swap(minimum, maximum);
  a.visAuto = false;
  a.visMin = minimum;
  a.visMax = maximum;
  ApplyVisible(axis);
}

void CVKRChartControl::SetVisibleRangeAuto(ChartAxis axis, bool on)
{
  AxisOf(axis).visAuto = on;
  ApplyVisible(axis);
}

bool CVKRChartControl::IsVisibleRangeAuto(ChartAxis axis) const { return AxisOf(axis).visAuto; }
double CVKRChartControl::VisibleMinimum(ChartAxis axis) const { return AxisOf(axis).visMin; }
double CVKRChartControl::VisibleMaximum(ChartAxis axis) const { return AxisOf(axis).visMax; }

void CVKRChartControl::SetZoomAllowed(ChartAxis axis, bool allowed) { AxisOf(axis).zoom = allowed; }
bool CVKRChartControl::IsZoomAllowed(ChartAxis axis) const { return AxisOf(axis).zoom; }

void CVKRChartControl::SetZoomLimit(ChartAxis axis, double narrowestWidth)
{
  AxisOf(axis).zoomLimit = std::max(0.0, narrowestWidth);
}

double CVKRChartControl::ZoomLimit(ChartAxis axis) const { return AxisOf(axis).zoomLimit; }

void CVKRChartControl::SetInterlaced(ChartAxis axis, bool on)
{
  Axis& a = AxisOf(axis);
  a.interlaced = on;
  a.q->setShadesVisible(on);
}

bool CVKRChartControl::IsInterlaced(ChartAxis axis) const { return AxisOf(axis).interlaced; }

void CVKRChartControl::SetAxisTitle(ChartAxis axis, const QString& title)
{
  AxisOf(axis).q->setTitleText(title);
}

QString CVKRChartControl::AxisTitle(ChartAxis axis) const { return AxisOf(axis).q->titleText(); }

void CVKRChartControl::SetLabelAngle(ChartAxis axis, int degrees)
{
  AxisOf(axis).q->setLabelsAngle(degrees);
}

void CVKRChartControl::SetLabelDecimals(ChartAxis axis, int maxDecimals)
{
  Axis& a = AxisOf(axis);
  a.maxDecimals = std::clamp(maxDecimals, 0, 6);
  a.dirty = true;
  ScheduleFlush();
}

int CVKRChartControl::LabelDecimals(ChartAxis axis) const { return AxisOf(axis).maxDecimals; }

void CVKRChartControl::ApplyValueTicks()
{
  // Ticks at round values with the decimals of the signal: a zoomed axis
  // gets finer ticks, never longer labels than the values themselves.
  double lo, hi;
  DrawnRange(ChartAxis::Value, &lo, &hi);
  const int wanted = std::clamp(static_cast<int>(m_chart->plotArea().height() / 45), 2, 10);
  const chartscale::Ticks t = chartscale::NiceTicks(lo, hi, wanted, m_value->maxDecimals);
  m_value->q->setTickType(QValueAxis::TicksDynamic);
  m_value->q->setTickAnchor(t.first);
  m_value->q->setTickInterval(t.step);
  m_value->q->setLabelFormat(QStringLiteral("%.%1f").arg(t.decimals));
}

double CVKRChartControl::ValueTickStep() const { return m_value->q->tickInterval(); }
QString CVKRChartControl::ValueTickFormat() const { return m_value->q->labelFormat(); }

QStringList CVKRChartControl::TimeAxisLabels() const
{
  QStringList out;
  for (QString label : static_cast<QCategoryAxis*>(m_time->q)->categoriesLabels())
    out << label.remove(QChar(0x200B));
  return out;
}

void CVKRChartControl::SetLegendVisible(bool visible)
{
  QLegend* legend = m_chart->legend();
  legend->setAlignment(Qt::AlignBottom);
  legend->setVisible(visible);
  if (m_chart->layout())
    m_chart->layout()->activate();
}

bool CVKRChartControl::IsLegendVisible() const { return m_chart->legend()->isVisible(); }

QImage CVKRChartControl::GrabWithLegend()
{
  const bool was = IsLegendVisible();
  SetLegendVisible(true);
  Flush();
  const QImage image = grab().toImage();
  SetLegendVisible(was);
  return image;
}

void CVKRChartControl::SetAxisAntialiasing(ChartAxis axis, bool on)
{
  AxisOf(axis).antialiasing = on;
  UpdateRenderHints();
}

void CVKRChartControl::RelabelTimeAxis()
{
  auto* axis = static_cast<QCategoryAxis*>(m_time->q);
  const QStringList old = axis->categoriesLabels();
  for (const QString& label : old)
    axis->remove(label);

  const double lo = axis->min(), hi = axis->max();
  const Series* textSeries = nullptr;
  for (const auto& s : m_series)
    if (s->style.textArguments && !s->arguments.isEmpty()) {
      textSeries = s.get();
      break;
    }
  const double plotWidth = std::max<qreal>(100, m_chart->plotArea().width());
  const int wanted = std::max(2, static_cast<int>(plotWidth / (textSeries ? 110 : 70)));
  double step = NiceStep((hi - lo) / wanted);
  if (textSeries)
    step = std::max(1.0, std::ceil(step));
  axis->setStartValue(lo);
  QStringList used;
  const long long first = static_cast<long long>(std::ceil(lo / step));
  for (long long k = first; k * step <= hi + step * 1e-9 && used.size() < 200; ++k) {
    const double v = k * step;
    QString label;
    if (textSeries) {
      const int i = static_cast<int>(std::llround(v));
      label = i >= 0 && i < textSeries->arguments.size() ? textSeries->arguments[i] : QString();
    } else {
      label = QString::number(v, 'g', 8);
    }
    // Category labels must be unique; pad repeats with invisible spaces.
    while (used.contains(label))
      label += QChar(0x200B);
    used.append(label);
    axis->append(label, v);
  }
}

// --- diagram ------------------------------------------------------------------

void CVKRChartControl::SetDiagramZoomAllowed(bool allowed) { m_diagramZoom = allowed; }
bool CVKRChartControl::IsDiagramZoomAllowed() const { return m_diagramZoom; }

void CVKRChartControl::SetDiagramBackground(const QColor& solidFill)
{
  m_chart->setPlotAreaBackgroundBrush(QBrush(solidFill, Qt::SolidPattern));
  m_chart->setPlotAreaBackgroundVisible(true);
}

QRectF CVKRChartControl::PlotRectInViewport() const
{
  const QRectF plot = m_chart->plotArea();
  const QRectF scene = m_chart->mapRectToScene(plot);
  return mapFromScene(scene).boundingRect();
}

CChartHitInfo CVKRChartControl::HitTest(const QPoint& pos) const
{
  CChartHitInfo info;
  const QRectF plot = PlotRectInViewport();
  info.plotLeft = static_cast<int>(std::lround(plot.left()));
  info.plotRight = static_cast<int>(std::lround(plot.right()));
  info.plotTop = static_cast<int>(std::lround(plot.top()));
  info.plotBottom = static_cast<int>(std::lround(plot.bottom()));
  info.timeMin = m_time->visMin;
  info.timeMax = m_time->visMax;
  info.valueMin = m_value->visMin;
  info.valueMax = m_value->visMax;
  if (plot.width() <= 0 || plot.height() <= 0)
    return info;
  // The diagram takes in the axis labels around the plot as well.
  const QRectF diagram = plot.adjusted(-60, -10, 10, 50);
  info.hasAxes = diagram.contains(pos);
  info.inPlot = pos.x() >= info.plotLeft && pos.x() <= info.plotRight && pos.y() >= info.plotTop &&
                pos.y() <= info.plotBottom;
  double t0, t1, v0, v1;
  DrawnRange(ChartAxis::Time, &t0, &t1);
  DrawnRange(ChartAxis::Value, &v0, &v1);
  info.timeValue = t0 + (pos.x() - plot.left()) / plot.width() * (t1 - t0);
  info.value = v1 - (pos.y() - plot.top()) / plot.height() * (v1 - v0);
  return info;
}

void CVKRChartControl::ZoomAt(double timeValue, double value, double steps)
{
  const double factor = std::pow(kZoomPerStep, steps);
  for (ChartAxis which : {ChartAxis::Time, ChartAxis::Value}) {
    Axis& a = AxisOf(which);
    if (!a.zoom)
      continue;
    const double whole = a.rangeMax - a.rangeMin;
    const double width = a.visMax - a.visMin;
    if (!(whole > 0) || !(width > 0))
      continue;
    const double narrowest = std::min(whole, std::max(a.zoomLimit, whole * 1e-9));
    const double newWidth = std::clamp(width / factor, narrowest, whole);
    const double anchor = which == ChartAxis::Time ? timeValue : value;
    const double share = std::clamp((anchor - a.visMin) / width, 0.0, 1.0);
    PlaceVisible(which, anchor - share * newWidth, newWidth);
  }
}

// --- titles -------------------------------------------------------------------

void CVKRChartControl::AddTitle(const QString& text, ChartDock dock, ChartAlign align,
                                const QFont& font, const QColor& color)
{
  auto t = std::make_unique<Title>();
  t->item = new QGraphicsSimpleTextItem(text, m_chart);
  t->item->setFont(font);
  t->item->setBrush(color);
  t->dock = dock;
  t->align = align;
  if (dock == ChartDock::Left)
    t->item->setRotation(-90);
  else if (dock == ChartDock::Right)
    t->item->setRotation(90);
  m_titles.push_back(std::move(t));
  LayoutTitles();
}

void CVKRChartControl::RemoveAllTitles()
{
  for (auto& t : m_titles)
    delete t->item;
  m_titles.clear();
  LayoutTitles();
}

int CVKRChartControl::TitleCount() const { return static_cast<int>(m_titles.size()); }

QString CVKRChartControl::TitleText(int index) const
{
  return index >= 0 && index < TitleCount() ? m_titles[index]->item->text() : QString();
}

void CVKRChartControl::LayoutTitles()
{
  const QRectF area = m_chart->rect();
  int used[4] = {0, 0, 0, 0}; // top, bottom, left, right
  for (auto& t : m_titles) {
    const QRectF r = t->item->boundingRect();
    const double w = r.width(), h = r.height();
    const int d = static_cast<int>(t->dock);
    auto along = [&](double span, double length) {
      switch (t->align) {
      case ChartAlign::Near: return double(kTitleGap);
      case ChartAlign::Far: return span - length - kTitleGap;
      default: return (span - length) / 2;
      }
    };
    switch (t->dock) {
    case ChartDock::Top:
      t->item->setPos(along(area.width(), w), kTitleGap + used[d]);
      break;
    case ChartDock::Bottom:
      t->item->setPos(along(area.width(), w), area.height() - kTitleGap - used[d] - h);
      break;
    case ChartDock::Left: // rotated -90: drawn upwards from its position
      t->item->setPos(kTitleGap + used[d], area.height() - along(area.height(), w));
      break;
    case ChartDock::Right: // rotated 90: drawn downwards from its position
      t->item->setPos(area.width() - kTitleGap - used[d], along(area.height(), w));
      break;
    }
    used[d] += static_cast<int>(std::ceil(h)) + kTitleGap;
  }
  m_chart->setMargins(QMargins(kBaseMargin + used[2], kBaseMargin + used[0], kBaseMargin + used[3],
                               kBaseMargin + used[1]));
}

// --- events -------------------------------------------------------------------

void CVKRChartControl::mouseMoveEvent(QMouseEvent* event)
{
  QChartView::mouseMoveEvent(event);
  const QPoint pos = event->position().toPoint();

  if (m_dragging) {
    const QRectF plot = PlotRectInViewport();
    const QPoint delta = pos - m_dragLast;
    m_dragLast = pos;
    if (plot.width() > 0 && plot.height() > 0) {
      const struct { ChartAxis axis; double shift; } moves[] = {
          {ChartAxis::Time, -delta.x() / plot.width()},
          {ChartAxis::Value, delta.y() / plot.height()}};
      for (const auto& m : moves) {
        Axis& a = AxisOf(m.axis);
        const double width = a.visMax - a.visMin;
        if (!a.zoom || !(width > 0) || m.shift == 0 || width >= a.rangeMax - a.rangeMin)
          continue;
        PlaceVisible(m.axis, a.visMin + m.shift * width, width);
      }
    }
  }

  const CChartHitInfo hit = HitTest(pos);
  // Outside the plot the formula would name samples beyond the visible
  // range (or divide by a zero-width plot), so only the plot itself counts.
  if (!hit.hasAxes || !hit.inPlot || hit.plotRight <= hit.plotLeft)
    return;
  const long long index =
      chartscale::HoverIndex(pos.x(), hit.plotLeft, hit.plotRight, hit.timeMin, hit.timeMax);
  if (index < 1)
    return;
  CChartHoverNotice notice;
  notice.window = this;
  notice.ctrlId = CtrlId(this);
  notice.index = static_cast<int>(index);
  notice.timeValue = hit.timeValue;
  notice.value = hit.value;
  emit hoverNotice(notice);
}

void CVKRChartControl::mousePressEvent(QMouseEvent* event)
{
  QChartView::mousePressEvent(event);
  if (event->button() == Qt::LeftButton && m_diagramZoom &&
      HitTest(event->position().toPoint()).inPlot) {
    m_dragging = true;
    m_dragLast = event->position().toPoint();
    event->accept();
  }
}

void CVKRChartControl::mouseReleaseEvent(QMouseEvent* event)
{
  QChartView::mouseReleaseEvent(event);
  if (event->button() == Qt::LeftButton)
    m_dragging = false;
}

void CVKRChartControl::wheelEvent(QWheelEvent* event)
{
  const CChartHitInfo hit = HitTest(event->position().toPoint());
  if (!m_diagramZoom || !hit.inPlot) {
    QChartView::wheelEvent(event);
    return;
  }
  const double steps = event->angleDelta().y() / 120.0;
  if (steps != 0)
    ZoomAt(hit.timeValue, hit.value, steps);
  event->accept();
}

void CVKRChartControl::resizeEvent(QResizeEvent* event)
{
  QChartView::resizeEvent(event);
  LayoutTitles();
  RelabelTimeAxis();
  // The plot's height decides how many value ticks fit.
  m_value->dirty = true;
  // The number of pixel columns decides how finely the points are drawn.
  for (auto& s : m_series)
    s->dirty = true;
  ScheduleFlush();
}

void CVKRChartControl::paintEvent(QPaintEvent* event)
{
  if (m_flushPending)
    Flush();
  QChartView::paintEvent(event);
}
