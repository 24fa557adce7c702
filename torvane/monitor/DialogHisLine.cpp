#include "DialogHisLine.h"

#include "ChartScale.h"
#include "ControlIds.h"
#include "HistoryText.h"
#include "MonitorCaptions.h"
#include "MonitorBuffer.h"
#include "ParamTable.h"
#include "ProgramFolder.h"
#include "ReportGrid.h"
#include "SmallControls.h"
#include "TorvaneApp.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollArea>

#include <algorithm>

namespace {

QString Q(const std::wstring& s) { return QString::fromStdWString(s); }
QString Q(const wchar_t* s) { return QString::fromWCharArray(s); }

CHistoryPrompts* g_prompts = nullptr;

// Options box: the commands on the left, two banks of five slots beside them,
// on a panel that scrolls sideways when the view is narrower than the panel.
constexpr int kPanelTop = 16;
constexpr int kPanelHeight = 206;
constexpr int kScrollBarRoom = 18;
constexpr int kOptionsHeight = kPanelTop + kPanelHeight + kScrollBarRoom;
constexpr int kSlotsLeft = 300;
constexpr int kBankWidth = 384;
constexpr int kSlotRowTop = 40;
constexpr int kSlotRowHeight = 30;

}  // namespace

void CHistoryPrompts::ShowMessage(QWidget* parent, const QString& text)
{
    QMessageBox::information(parent, QStringLiteral("Torvane"), text);
}

namespace {

// "VKR His(*.xls)" already names its pattern; "CSV" gets "(*.csv)" added.
QString DialogFilter(const QString& filterText, const QString& pattern)
{
    return filterText.contains(QLatin1Char('(')) ? filterText : filterText + QStringLiteral(" (") + pattern + ")";
}

}  // namespace

QString CHistoryPrompts::AskOpenFile(QWidget* parent, const QString& folder, const QString& filterText,
                                     const QString& pattern)
{
    return QFileDialog::getOpenFileName(parent, QString(), folder, DialogFilter(filterText, pattern));
}

QString CHistoryPrompts::AskSaveFile(QWidget* parent, const QString& folder, const QString& filterText,
                                     const QString& pattern)
{
    return QFileDialog::getSaveFileName(parent, QString(), folder, DialogFilter(filterText, pattern));
}

void SetHistoryPrompts(CHistoryPrompts* prompts) { g_prompts = prompts; }

CHistoryPrompts& HistoryPrompts()
{
    static CHistoryPrompts own;
    return g_prompts ? *g_prompts : own;
}

const int CDialogHisLine::kSlotCheckIds[kMonitorSlots] = {1005, 1006, 1016, 1021, 1026, 1035, 1045, 1050, 1055, 1060};
const int CDialogHisLine::kSlotColorIds[kMonitorSlots] = {1001, 1002, 1017, 1022, 1028, 1036, 1046, 1051, 1056, 1061};
const int CDialogHisLine::kSlotNameIds[kMonitorSlots] = {1031, 1037, 1042, 1043, IDC_SLOT5_NAME,
                                                         1047, 1052, 1057, 1062, 1065};
const int CDialogHisLine::kSlotValueIds[kMonitorSlots] = {1008, 1014, 1019, 1024, 1033, 1038, 1048, 1053, 1058, 1063};
const int CDialogHisLine::kSlotScaleIds[kMonitorSlots] = {1010, 1015, 1020, 1025, 1034, 1039, 1049, 1054, 1059, 1064};
const ColorRef CDialogHisLine::kDefaultColors[kMonitorSlots] = {
    MakeColorRef(0, 0, 255),   MakeColorRef(255, 0, 0),     MakeColorRef(0, 255, 0),   MakeColorRef(47, 79, 79),
    MakeColorRef(0, 205, 0),   MakeColorRef(0, 139, 0),     MakeColorRef(0, 255, 255), MakeColorRef(255, 218, 185),
    MakeColorRef(127, 255, 0), MakeColorRef(238, 180, 34)};

CDialogHisLine::CDialogHisLine(QWidget* parent, CMonitorBuffer* store)
    : CDataDlg(parent),
      ownStore_(store ? nullptr : std::make_unique<CMonitorBuffer>()),
      store_(store ? *store : *ownStore_)
{
    seriesOfSlot_.fill(-1);
    // Recordings are written where the program may write: beside it, or in
    // the user's data folder of an installed program.
    const std::wstring folder = TheApp() ? TheApp()->DataDir() : WritableFolder(ProgramFolder());
    historyFolder_ = Q(JoinPath(folder, history::Folder()));
    BuildControls();
    SetUpChart();
}

CDialogHisLine::~CDialogHisLine() = default;

CHistoryPrompts& CDialogHisLine::Prompts() const
{
    return prompts_ ? *prompts_ : HistoryPrompts();
}

void CDialogHisLine::BuildControls()
{
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    options_ = new QGroupBox(QStringLiteral("Options"), this);
    SetCtrlId(options_, IDC_OPTIONS);
    optionsScroll_ = new QScrollArea(options_);
    optionsScroll_->setFrameShape(QFrame::NoFrame);
    optionsScroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* panel = new QWidget;
    panel->setFixedSize(kSlotsLeft + 2 * kBankWidth, kPanelHeight);
    optionsScroll_->setWidget(panel);

    auto* intervalLabel = new QLabel(QStringLiteral("Interval:"), panel);
    SetCtrlId(intervalLabel, monitor::IDC_INTERVAL_LABEL);
    intervalLabel->setGeometry(10, 24, 60, 22);
    interval_ = new QLineEdit(panel);
    interval_->setReadOnly(true);
    interval_->setGeometry(72, 24, 80, 22);
    SetCtrlId(interval_, IDC_INTERVAL);

    auto button = [this, panel](int id, const QString& text, int x, int y, int w, void (CDialogHisLine::*command)()) {
        auto* b = new QPushButton(text, panel);
        SetCtrlId(b, id);
        b->setAutoDefault(false);
        b->setGeometry(x, y, w, 26);
        connect(b, &QPushButton::clicked, this, [this, command] { (this->*command)(); });
        return b;
    };
    button(IDC_LOAD, QStringLiteral("Load"), 10, 54, 134, &CDialogHisLine::OnLoad);
    button(IDC_REFRESH, QStringLiteral("Refresh"), 150, 54, 134, &CDialogHisLine::OnRefresh);

    auto check = [this, panel](int id, const QString& text, int y, bool on, void (CDialogHisLine::*command)()) {
        auto* c = new QCheckBox(text, panel);
        SetCtrlId(c, id);
        c->setChecked(on);
        c->setGeometry(10, y, 274, 22);
        connect(c, &QCheckBox::clicked, this, [this, command] { (this->*command)(); });
        return c;
    };
    original_ = check(IDC_ORIGINAL, QStringLiteral("Original Value"), 86, false, &CDialogHisLine::OnOriginalValue);
    showValue_ = check(IDC_SHOW_VALUE, QStringLiteral("Show Value"), 108, false, &CDialogHisLine::OnShowValue);
    zoomY_ = check(IDC_ZOOM_Y, QStringLiteral("Zoom Y"), 130, false, &CDialogHisLine::OnZoomY);
    showTable_ = check(IDC_SHOW_TABLE, QStringLiteral("Show Table"), 152, true, &CDialogHisLine::OnShowTable);
    button(IDC_EXPORT_CSV, QStringLiteral("Export CSV..."), 10, 176, 134, &CDialogHisLine::OnExportCsv);
    button(IDC_SAVE_IMAGE, QStringLiteral("Save Chart Image..."), 150, 176, 134, &CDialogHisLine::OnSaveChartImage);

    for (int bank = 0; bank < 2; ++bank) {
        const int x = kSlotsLeft + bank * kBankWidth;
        const struct { const char* text; int x; int id; } headers[] = {
            {"Signal", x + 100, monitor::IDC_SIGNAL_HEADER},
            {"Signal Value", x + 226, monitor::IDC_SIGNAL_VALUE_HEADER},
            {"Signal Scaling", x + 302, monitor::IDC_SIGNAL_SCALING_HEADER}};
        for (const auto& h : headers) {
            auto* l = new QLabel(QString::fromLatin1(h.text), panel);
            SetCtrlId(l, h.id);
            l->setGeometry(h.x, 18, 84, 20);
        }
    }
    for (int j = 0; j < kMonitorSlots; ++j) {
        Slot& s = slot_[static_cast<size_t>(j)];
        const int x = kSlotsLeft + (j / 5) * kBankWidth;
        const int y = kSlotRowTop + (j % 5) * kSlotRowHeight;
        s.check = new QCheckBox(QStringLiteral("signal%1").arg(j + 1), panel);
        SetCtrlId(s.check, kSlotCheckIds[j]);
        s.check->setGeometry(x, y, 70, 24);
        s.check->setEnabled(false);
        s.color = new CColorPicker(panel);
        SetCtrlId(s.color, kSlotColorIds[j]);
        s.color->SetColor(kDefaultColors[j]);
        s.color->setGeometry(x + 72, y, 24, 24);
        connect(s.color, &CColorPicker::colorSelected, this, [this](ColorRef) { OnRefresh(); });
        auto edit = [panel](int id, int ex, int w) {
            auto* e = new QLineEdit(panel);
            e->setReadOnly(true);
            SetCtrlId(e, id);
            e->setGeometry(ex, 0, w, 24);
            return e;
        };
        s.name = edit(kSlotNameIds[j], x + 100, 122);
        s.value = edit(kSlotValueIds[j], x + 226, 72);
        s.scale = edit(kSlotScaleIds[j], x + 302, 72);
        for (QLineEdit* e : {s.name, s.value, s.scale}) e->move(e->x(), y);
    }

    grid_ = new CReportGrid(this);
    SetCtrlId(grid_, IDC_TABLE);
    grid_->AddColumn(monitor::Caption(monitor::IDC_TIME_COLUMN, "Time"), 250);
    for (int j = 0; j < kMonitorSlots; ++j)
        grid_->AddColumn(monitor::Caption(monitor::IDC_SIGNAL_HEADER, "Signal"), 100);

    chart_ = new CChartBorder<CVKRChartControl>(this);
    SetCtrlId(chart_, IDC_CHART);
    chart_->SetBorderColor(QColor(101, 147, 207));
    connect(chart_, &CVKRChartControl::hoverNotice, this, &CDialogHisLine::OnChartHover);
    ApplyLayout();
}

void CDialogHisLine::SetUpChart()
{
    chart_->AddTitle(QStringLiteral("Monitor History"));
    chart_->SetRange(ChartAxis::Value, 0, 100.1);
    chart_->SetAutoRange(ChartAxis::Value, false);
    chart_->SetZoomAllowed(ChartAxis::Value, false);
    chart_->SetInterlaced(ChartAxis::Value, true);
    chart_->SetAxisTitle(ChartAxis::Value, QStringLiteral("%"));
    chart_->SetRange(ChartAxis::Time, 0, 100.1);
    chart_->SetAutoRange(ChartAxis::Time, false);
    chart_->SetZoomLimit(ChartAxis::Time, 10);
    chart_->SetInterlaced(ChartAxis::Time, false);
    chart_->SetAxisTitle(ChartAxis::Time, QStringLiteral("Time"));
    chart_->SetDiagramZoomAllowed(true);
    chart_->SetDiagramBackground(Qt::white);
    for (int j = 0; j < kMonitorSlots; ++j) {
        CChartSeriesStyle st;
        st.kind = ChartSeriesKind::Line;
        st.color = ColorRefToQColor(kDefaultColors[j]);
        st.markersVisible = true;
        st.markerSize = 5;
        st.pointLabelsVisible = false;
        chart_->AddSeries(QStringLiteral("Series"), st);
    }
}

void CDialogHisLine::OnInitDialog()
{
    CDataDlg::OnInitDialog();
    // Shown filling the frame the main window gives it.
    if (parentWidget()) setGeometry(parentWidget()->rect());
    ApplyLayout();
}

void CDialogHisLine::resizeEvent(QResizeEvent* event)
{
    CDataDlg::resizeEvent(event);
    ApplyLayout();
}

void CDialogHisLine::ApplyLayout()
{
    const int w = width();
    const int h = height();
    const int m = kMargin;
    options_->setGeometry(m, m, std::max(0, w - 2 * m), kOptionsHeight);
    optionsScroll_->setGeometry(1, kPanelTop, std::max(0, options_->width() - 2), kPanelHeight + kScrollBarRoom);
    const int top = m + kOptionsHeight + m;
    const int rest = std::max(0, h - top - m);
    if (showTable_->isChecked()) {
        grid_->setGeometry(m, top, std::max(0, w / 2 - 2 * m), rest);
        chart_->setGeometry(w / 2, top, std::max(0, w / 2 - m), rest);
    } else {
        grid_->setGeometry(m, top, m, m);
        chart_->setGeometry(m, top, std::max(0, w - 2 * m), rest);
    }
}

// ---- loading ----------------------------------------------------------------

void CDialogHisLine::OnLoad()
{
    const QString path = Prompts().AskOpenFile(this, historyFolder_, Q(history::FilterText()),
                                               Q(history::FilterPattern()));
    if (path.isEmpty() || !QFileInfo::exists(path)) return;
    LoadFile(path);
}

bool CDialogHisLine::LoadFile(const QString& path)
{
    static const ParamTable kNoTable;
    const ParamTable& table = table_ ? *table_ : kNoTable;
    history::LoadResult res = history::CHistoryReader(table, store_).Load(path.toStdWString());
    if (!res.accepted) {
        if (!res.message.empty()) Prompts().ShowMessage(this, Q(res.message));
        Prompts().ShowMessage(this, Q(history::LoadFailedText()));
        return false;
    }
    if (res.outcome == history::LoadResult::Outcome::NoData) {
        // The table and chart keep what they showed.
        Prompts().ShowMessage(this, Q(res.message));
        return true;
    }
    lastLoad_ = std::move(res);
    interval_->setText(Q(lastLoad_.intervalText));
    // The interval the recording started with; when it changed is the file's to say.
    interval_->setToolTip(Q(lastLoad_.intervalChanges));
    for (int j = 0; j < kMonitorSlots; ++j) {
        const history::SlotInfo& info = lastLoad_.slotInfo[static_cast<size_t>(j)];
        Slot& s = slot_[static_cast<size_t>(j)];
        s.name->setText(Q(info.name));
        s.check->setChecked(info.recorded);
        s.check->setEnabled(info.recorded);
        s.value->clear();
        s.scale->setText(Q(history::ScalingText(info.scale, info.exponent, s.scale->text().toStdWString())));
    }
    FillTable();
    DrawChart();
    return true;
}

void CDialogHisLine::FillTable()
{
    grid_->RemoveAllRows();
    for (int j = 0; j < kMonitorSlots; ++j) {
        const history::SlotInfo& info = lastLoad_.slotInfo[static_cast<size_t>(j)];
        grid_->SetColumnWidth(j + 1, info.recorded ? 100 : 0);
        grid_->SetColumnCaption(j + 1, info.recorded ? Q(info.name) : QString());
    }
    const std::vector<MonitorSample> held = store_.HeldSamples();
    for (const MonitorSample& s : held) {
        CReportRecord r;
        r.items.reserve(kMonitorSlots + 1);
        r.AddItem(CReportItem::Text(Q(history::TableTimeText(s.timeMs))));
        for (int j = 0; j < kMonitorSlots; ++j) {
            const history::SlotInfo& info = lastLoad_.slotInfo[static_cast<size_t>(j)];
            r.AddItem(CReportItem::Text(info.recorded ? Q(FormatByExponent(s.entries[j].value, info.exponent))
                                                      : QString()));
        }
        grid_->AddRecord(r);
    }
    grid_->Populate();
}

// ---- chart ------------------------------------------------------------------

void CDialogHisLine::DrawChart()
{
    chart_->RemoveAllSeries();
    seriesOfSlot_.fill(-1);
    for (int j = 0; j < kMonitorSlots; ++j) {
        const Slot& s = slot_[static_cast<size_t>(j)];
        if (!s.check->isChecked()) continue;
        CChartSeriesStyle st;
        st.kind = ChartSeriesKind::Line;
        st.color = s.color->Color();
        st.markersVisible = true;
        st.markerSize = 5;
        st.pointLabelsVisible = false;
        st.labelLineLength = 20;
        st.textArguments = true;
        seriesOfSlot_[static_cast<size_t>(j)] = chart_->AddSeries(s.name->text(), st);
    }
    if (chart_->SeriesCount() == 0) return;

    const bool original = original_->isChecked();
    const std::vector<MonitorSample> held = store_.HeldSamples();
    std::array<QVector<QPointF>, kMonitorSlots> points;
    QStringList arguments;
    arguments.reserve(static_cast<int>(held.size()));
    double lo = 0, hi = 0;
    for (const MonitorSample& sample : held) arguments.append(Q(history::ChartTimeText(sample.timeMs)));
    for (int j = 0; j < kMonitorSlots; ++j) {
        const int series = seriesOfSlot_[static_cast<size_t>(j)];
        if (series < 0) continue;
        for (size_t i = 0; i < held.size(); ++i) {
            const SampleEntry& e = held[i].entries[j];
            if (!e.valid) continue;
            const double v = original ? e.value : e.percent;
            lo = std::min(lo, v);
            hi = std::max(hi, v);
            chart_->AddPoint(series, arguments[static_cast<int>(i)], v);
        }
    }

    chart_->SetAutoRange(ChartAxis::Value, false);
    // Engineering values tick with the finest decimals of the signals drawn;
    // percent needs one at most.
    int decimals = 0;
    for (int j = 0; j < kMonitorSlots; ++j)
        if (seriesOfSlot_[static_cast<size_t>(j)] >= 0)
            decimals = std::max(decimals, chartscale::DecimalsOfExponent(lastLoad_.slotInfo[static_cast<size_t>(j)].exponent));
    chart_->SetLabelDecimals(ChartAxis::Value, original ? decimals : 1);
    chart_->SetZoomLimit(ChartAxis::Value, 20);
    chart_->SetZoomAllowed(ChartAxis::Value, zoomY_->isChecked());
    // Percent keeps its 100.1 top; below 0 % it opens as far as a negative
    // value needs, so no sample is drawn outside the plot.
    const double top = original ? hi : 100.1;
    chart_->SetRange(ChartAxis::Value, lo, top > lo ? top : lo + 1);
    // The whole recording is the time axis; the wheel zooms into it.
    chart_->SetRange(ChartAxis::Time, 0, std::max<double>(1, static_cast<double>(held.size()) - 1));
    chart_->SetVisibleRangeAuto(ChartAxis::Time, true);
    chart_->SetVisibleRangeAuto(ChartAxis::Value, true);
    chart_->SetInterlaced(ChartAxis::Time, false);
    chart_->SetLabelAngle(ChartAxis::Time, 330);
    chart_->SetAxisAntialiasing(ChartAxis::Time, true);
    if (!held.empty()) chart_->SetAxisTitle(ChartAxis::Time, Q(history::ChartDateText(held.back().timeMs)));
    chart_->SetAxisTitle(ChartAxis::Value, QStringLiteral("%"));
}

void CDialogHisLine::OnRefresh()
{
    DrawChart();
}

void CDialogHisLine::OnOriginalValue()
{
    DrawChart();
    chart_->SetPointLabelsVisible(-1, showValue_->isChecked());
    chart_->SetZoomAllowed(ChartAxis::Value, zoomY_->isChecked());
    chart_->SetAxisTitle(ChartAxis::Time, QStringLiteral("Time"));
    chart_->SetAxisTitle(ChartAxis::Value, original_->isChecked() ? QStringLiteral("Value") : QStringLiteral("%"));
}

void CDialogHisLine::OnShowValue()
{
    chart_->SetPointLabelsVisible(-1, showValue_->isChecked());
}

void CDialogHisLine::OnZoomY()
{
    chart_->SetZoomAllowed(ChartAxis::Value, zoomY_->isChecked());
}

void CDialogHisLine::OnShowTable()
{
    ApplyLayout();
}

void CDialogHisLine::OnChartHover(const CChartHoverNotice& notice)
{
    MonitorSample sample;
    if (notice.index < 0 || !store_.ReadAt(static_cast<uint32_t>(notice.index), sample)) return;
    for (int j = 0; j < kMonitorSlots; ++j) {
        const Slot& s = slot_[static_cast<size_t>(j)];
        if (!s.check->isChecked() || !sample.entries[j].valid) continue;
        s.value->setText(Q(FormatByExponent(sample.entries[j].value, lastLoad_.slotInfo[static_cast<size_t>(j)].exponent)));
    }
}

// ---- export -----------------------------------------------------------------

bool CDialogHisLine::ExportCsv(const QString& path)
{
    // Before a load the store may still hold a live recording that this
    // view does not show: nothing to export then.
    if (lastLoad_.rows == 0) return false;
    std::vector<history::CsvColumn> columns;
    for (int j = 0; j < kMonitorSlots; ++j) {
        const history::SlotInfo& info = lastLoad_.slotInfo[static_cast<size_t>(j)];
        if (info.recorded) columns.push_back({j, info.name, info.exponent});
    }
    return history::WriteCsv(path.toStdWString(), store_.HeldSamples(), columns);
}

bool CDialogHisLine::SaveChartImage(const QString& path)
{
    // On screen the slot fields name the lines; the image stands alone.
    return chart_->GrabWithLegend().save(path, "PNG");
}

void CDialogHisLine::OnExportCsv()
{
    // A load without data rows leaves the store empty while the table still
    // shows the file before: there is nothing to write.
    if (lastLoad_.rows == 0 || store_.count() == 0) {
        Prompts().ShowMessage(this, QStringLiteral("There is no data to export."));
        return;
    }
    QString path = Prompts().AskSaveFile(this, historyFolder_, QStringLiteral("CSV"), QStringLiteral("*.csv"));
    if (path.isEmpty()) return;
    if (!path.endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive)) path += QStringLiteral(".csv");
    Prompts().ShowMessage(this, Q(ExportCsv(path) ? history::SavedText() : history::SaveFailedText()));
}

void CDialogHisLine::OnSaveChartImage()
{
    QString path = Prompts().AskSaveFile(this, historyFolder_, QStringLiteral("PNG"), QStringLiteral("*.png"));
    if (path.isEmpty()) return;
    if (!path.endsWith(QStringLiteral(".png"), Qt::CaseInsensitive)) path += QStringLiteral(".png");
    Prompts().ShowMessage(this, Q(SaveChartImage(path) ? history::SavedText() : history::SaveFailedText()));
}
