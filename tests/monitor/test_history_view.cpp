// The history viewer on the offscreen platform: loading recordings (our
// writer's and xlwt's), refusals, the table and the slot fields, the chart
// options, the hover, and the CSV and image exports.
#include "ControlIds.h"
#include "DialogHisLine.h"
#include "HistoryText.h"
#include "MonitorTestUtil.h"
#include "ReportGrid.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QImage>
#include <QFileInfo>
#include <QLineEdit>
#include <QTemporaryDir>

#include <sstream>

using namespace montest;

namespace {

struct TestPrompts : CHistoryPrompts {
    QStringList messages;
    QString file;
    QString askedFolder, askedFilter, askedPattern;
    void ShowMessage(QWidget*, const QString& text) override { messages << text; }
    QString AskOpenFile(QWidget*, const QString& folder, const QString& filterText, const QString& pattern) override {
        askedFolder = folder;
        askedFilter = filterText;
        askedPattern = pattern;
        return file;
    }
    QString AskSaveFile(QWidget*, const QString& folder, const QString& filterText, const QString& pattern) override {
        return AskOpenFile(nullptr, folder, filterText, pattern);
    }
};

constexpr uint64_t kEnd = 1700000123000ULL;

// A recording of 5 samples at "1sec": slots 1 (address 0x3001, exponent 0),
// 2 (0x3002, -1) and 4 (0x3004, -3) recorded, slot 3 not.
std::string WriteRecording(const wbtest::TempDir& dir, const std::wstring& model = L"VKR-T1") {
    TestClock clock;
    clock.now = kEnd;
    CMonitorBuffer store;
    store.SetClock(clock.fn());
    MonitorSignals sig = Slots(4, 0);
    for (int j = 0; j < kMonitorSlots; ++j) {
        sig[static_cast<size_t>(j)].address = static_cast<uint32_t>(0x3001 + j);
        sig[static_cast<size_t>(j)].exponent = j == 1 ? -1 : j == 3 ? -3 : 0;
        sig[static_cast<size_t>(j)].name = L"Quantity " + std::to_wstring(j + 1);
    }
    sig[0].name = L"Output frequency,输出频率";
    sig[2].enabled = 0;
    store.Reset(false, L"", model, L"1sec", sig);
    for (int k = 1; k <= 5; ++k) {
        MonitorSample s;
        s.entries[0] = {1, static_cast<float>(4 * k), 0};       // 4 .. 20: scale 10 -> 20
        s.entries[1] = {1, 0.5f * static_cast<float>(k), 0};    // 0.5 .. 2.5: scale 1 -> 4
        s.entries[3] = {1, 0.001f * static_cast<float>(k), 0};  // below 0.01
        EXPECT_TRUE(store.Append(kEnd - 1000ULL * static_cast<uint64_t>(5 - k), s)) << k;
    }
    const std::string path = dir.file(wbtest::U8(model) + ".xls");
    EXPECT_TRUE(store.SaveRange(store.start(), store.count(), wbtest::W(path)));
    return path;
}

// A recording of `n` samples at "1sec" ending at `end`: slot 1 (exponent 0)
// a ramp, slot 2 (exponent -1) its tenth.
std::string WriteRamp(const wbtest::TempDir& dir, const std::string& name, int n, uint64_t end) {
    TestClock clock;
    clock.now = end;
    CMonitorBuffer store;
    store.SetClock(clock.fn());
    MonitorSignals sig = Slots(2, 0);
    for (int j = 0; j < kMonitorSlots; ++j) {
        sig[static_cast<size_t>(j)].address = static_cast<uint32_t>(0x3001 + j);
        sig[static_cast<size_t>(j)].exponent = j == 1 ? -1 : 0;
    }
    store.Reset(false, L"", L"VKR-T1", L"1sec", sig);
    for (int k = 1; k <= n; ++k) {
        MonitorSample s;
        s.entries[0] = {1, static_cast<float>(k % 50), 0};
        s.entries[1] = {1, 0.1f * static_cast<float>(k % 50), 0};
        EXPECT_TRUE(store.Append(end - 1000ULL * static_cast<uint64_t>(n - k), s)) << k;
    }
    const std::string path = dir.file(name + ".xls");
    EXPECT_TRUE(store.SaveRange(store.start(), store.count(), wbtest::W(path)));
    return path;
}

struct ViewFixture : ::testing::Test {
    wbtest::TempDir dir;
    ParamTable table = MakeTable();
    CMonitorBuffer store;
    TestPrompts prompts;
    std::unique_ptr<CDialogHisLine> view;

    void SetUp() override {
        view.reset(new CDialogHisLine(nullptr, &store));
        view->SetPrompts(&prompts);
        view->SetTable(&table);
        view->resize(1280, 800);
        view->show();
    }
    QLineEdit* Edit(int id) const { return FindCtrlAs<QLineEdit>(view.get(), id); }
    QCheckBox* Check(int id) const { return FindCtrlAs<QCheckBox>(view.get(), id); }
    QString Cell(int row, int col) const { return view->Table()->ItemText(row, col); }
};

}  // namespace

TEST_F(ViewFixture, ARecordingLoadsIntoTableSlotsAndChart) {
    const std::string path = WriteRecording(dir);
    prompts.file = QString::fromStdString(path);
    view->SetHistoryFolder(QString::fromStdString(dir.path() + "/"));
    view->OnLoad();
    EXPECT_EQ(prompts.askedFolder, QString::fromStdString(dir.path() + "/"));
    EXPECT_EQ(prompts.askedFilter, QStringLiteral("VKR His(*.xls)"));
    EXPECT_EQ(prompts.askedPattern, QStringLiteral("*.xls"));
    EXPECT_TRUE(prompts.messages.isEmpty()) << prompts.messages.join("|").toStdString();

    // The rows carry the samples' own times, 1 s apart up to kEnd.
    const uint64_t first = kEnd - 4000;
    CReportGrid* grid = view->Table();
    ASSERT_EQ(grid->RowCount(), 5);
    EXPECT_EQ(Cell(0, 0), QString::fromStdWString(history::TableTimeText(first)));
    EXPECT_EQ(Cell(4, 0), QString::fromStdWString(history::TableTimeText(first + 4000)));
    EXPECT_EQ(Cell(0, 1), "4");
    EXPECT_EQ(Cell(4, 1), "20");
    EXPECT_EQ(Cell(0, 2), "0.5");
    EXPECT_EQ(Cell(4, 2), "2.5");
    EXPECT_EQ(Cell(4, 3), "");
    EXPECT_EQ(Cell(4, 4), "0.005");
    EXPECT_EQ(grid->ColumnCaption(0), "Time");
    EXPECT_EQ(grid->ColumnWidth(0), 250);
    EXPECT_EQ(grid->ColumnCaption(1), QString::fromStdWString(L"Output frequency,输出频率"));
    EXPECT_EQ(grid->ColumnWidth(1), 100);
    EXPECT_EQ(grid->ColumnWidth(3), 0);
    EXPECT_EQ(grid->ColumnCaption(3), "");
    EXPECT_EQ(grid->ColumnWidth(5), 0);

    EXPECT_EQ(Edit(CDialogHisLine::IDC_INTERVAL)->text(), "1sec");
    EXPECT_EQ(Edit(CDialogHisLine::kSlotNameIds[0])->text(), QString::fromStdWString(L"Output frequency,输出频率"));
    EXPECT_EQ(Edit(CDialogHisLine::kSlotNameIds[2])->text(), "Quantity 3");
    EXPECT_EQ(Edit(CDialogHisLine::kSlotScaleIds[0])->text(), "20");
    EXPECT_EQ(Edit(CDialogHisLine::kSlotScaleIds[1])->text(), "4.0");
    EXPECT_EQ(Edit(CDialogHisLine::kSlotScaleIds[3])->text(), "0.010");
    for (int j = 0; j < kMonitorSlots; ++j) {
        const bool recorded = j == 0 || j == 1 || j == 3;
        EXPECT_EQ(Check(CDialogHisLine::kSlotCheckIds[j])->isEnabled(), recorded) << j;
        EXPECT_EQ(Check(CDialogHisLine::kSlotCheckIds[j])->isChecked(), recorded) << j;
    }

    CVKRChartControl* chart = view->Chart();
    ASSERT_EQ(chart->SeriesCount(), 3);
    const int s0 = view->SeriesOfSlot(0);
    EXPECT_EQ(chart->SeriesName(s0), QString::fromStdWString(L"Output frequency,输出频率"));
    ASSERT_EQ(chart->PointCount(s0), 5);
    EXPECT_DOUBLE_EQ(chart->Point(s0, 4).y(), 100.0);
    EXPECT_DOUBLE_EQ(chart->Point(s0, 0).y(), 20.0);
    EXPECT_EQ(chart->ArgumentText(s0, 0), QString::fromStdWString(history::ChartTimeText(first)));
    EXPECT_EQ(chart->AxisTitle(ChartAxis::Time), QString::fromStdWString(history::ChartDateText(first + 4000)));
    EXPECT_EQ(chart->AxisTitle(ChartAxis::Value), "%");
    EXPECT_TRUE(chart->SeriesStyle(s0).markersVisible);
    EXPECT_FALSE(chart->SeriesStyle(s0).pointLabelsVisible);

    // Hover over sample 3: the checked slots show its values.
    CChartHoverNotice n;
    n.index = 2;
    view->OnChartHover(n);
    EXPECT_EQ(Edit(CDialogHisLine::kSlotValueIds[0])->text(), "12");
    EXPECT_EQ(Edit(CDialogHisLine::kSlotValueIds[1])->text(), "1.5");
    EXPECT_EQ(Edit(CDialogHisLine::kSlotValueIds[3])->text(), "0.003");
    EXPECT_EQ(Edit(CDialogHisLine::kSlotValueIds[2])->text(), "");
}

TEST_F(ViewFixture, RefusedFilesLeaveTheViewAsItWas) {
    ASSERT_TRUE(view->LoadFile(QString::fromStdString(WriteRecording(dir))));
    const QString other = QString::fromStdString(WriteRecording(dir, L"VKR-T9"));
    EXPECT_FALSE(view->LoadFile(other));
    ASSERT_EQ(prompts.messages.size(), 2);
    EXPECT_EQ(prompts.messages[0], "Device model does not match:VKR-T1    VKR-T9");
    EXPECT_EQ(prompts.messages[1], "File loading failed.");
    EXPECT_EQ(view->Table()->RowCount(), 5);
    EXPECT_EQ(Edit(CDialogHisLine::kSlotNameIds[1])->text(), "Quantity 2");
    EXPECT_EQ(store.count(), 5u);
    EXPECT_EQ(view->Chart()->SeriesCount(), 3);

    prompts.messages.clear();
    EXPECT_FALSE(view->LoadFile(QString::fromStdString(dir.file("missing.xls"))));
    EXPECT_EQ(prompts.messages, QStringList{"File loading failed."});

    // No data rows: accepted with its message; table and chart keep showing
    // the previous recording.
    prompts.messages.clear();
    {
        wbtest::BookPtr book;
        xls::Sheet* s = book->addSheet(L"Sheet1");
        s->writeStr(0, 0, L"VKR-T1");
        s->writeStr(1, 0, L"1sec");
        s->writeStr(2, 0, L"0");
        ASSERT_TRUE(book->save(wbtest::W(dir.file("nodata.xls")).c_str()));
    }
    EXPECT_TRUE(view->LoadFile(QString::fromStdString(dir.file("nodata.xls"))));
    EXPECT_EQ(prompts.messages, QStringList{"There is no valid data in the file."});
    EXPECT_EQ(view->Table()->RowCount(), 5);
    // Nothing to export then: refused before any file is asked for or written.
    prompts.messages.clear();
    prompts.file = QString::fromStdString(dir.file("empty.csv"));
    view->OnExportCsv();
    EXPECT_EQ(prompts.messages, QStringList{"There is no data to export."});
    EXPECT_FALSE(QFileInfo::exists(prompts.file));
}

TEST(HistoryViewer, LoadsIntoAStoreOfItsOwn) {
    wbtest::TempDir dir;
    ParamTable table = MakeTable();
    TheMonitorBuffer().BeginRecording(false, L"", L"VKR-T1", L"1sec", Slots(1));
    ASSERT_TRUE(TheMonitorBuffer().Append(1, Numbered(7)));
    CDialogHisLine view;
    view.SetTable(&table);
    TestPrompts prompts;
    view.SetPrompts(&prompts);
    ASSERT_TRUE(view.LoadFile(QString::fromStdString(WriteRecording(dir))));
    // The live recording is untouched and still unsaved.
    EXPECT_EQ(TheMonitorBuffer().count(), 1u);
    EXPECT_EQ(TheMonitorBuffer().Recording().phase, RecordingPhase::Logging);
    EXPECT_EQ(TheMonitorBuffer().HeldSamples()[0].entries[0].value, 7.0f);
    EXPECT_EQ(view.Table()->RowCount(), 5);
}

TEST_F(ViewFixture, ChartOptions) {
    ASSERT_TRUE(view->LoadFile(QString::fromStdString(WriteRecording(dir))));
    CVKRChartControl* chart = view->Chart();

    // A recorded slot the user unchecks leaves the chart on Refresh, not the table.
    Check(CDialogHisLine::kSlotCheckIds[1])->setChecked(false);
    view->OnRefresh();
    EXPECT_EQ(chart->SeriesCount(), 2);
    EXPECT_EQ(view->SeriesOfSlot(1), -1);
    EXPECT_EQ(view->Table()->ColumnWidth(2), 100);
    EXPECT_EQ(Cell(0, 2), "0.5");

    // Engineering values, all positive: the value axis still starts at 0.
    Check(CDialogHisLine::IDC_ORIGINAL)->click();
    EXPECT_DOUBLE_EQ(chart->RangeMinimum(ChartAxis::Value), 0.0);
    EXPECT_DOUBLE_EQ(chart->RangeMaximum(ChartAxis::Value), 20.0);
    EXPECT_DOUBLE_EQ(chart->Point(view->SeriesOfSlot(0), 4).y(), 20.0);
    EXPECT_EQ(chart->AxisTitle(ChartAxis::Value), "Value");
    EXPECT_EQ(chart->AxisTitle(ChartAxis::Time), "Time");
    Check(CDialogHisLine::IDC_ORIGINAL)->click();
    EXPECT_DOUBLE_EQ(chart->RangeMaximum(ChartAxis::Value), 100.1);
    EXPECT_EQ(chart->AxisTitle(ChartAxis::Value), "%");

    Check(CDialogHisLine::IDC_SHOW_VALUE)->click();
    EXPECT_TRUE(chart->SeriesStyle(0).pointLabelsVisible);
    Check(CDialogHisLine::IDC_SHOW_VALUE)->click();
    EXPECT_FALSE(chart->SeriesStyle(0).pointLabelsVisible);
    EXPECT_FALSE(chart->IsZoomAllowed(ChartAxis::Value));
    Check(CDialogHisLine::IDC_ZOOM_Y)->click();
    EXPECT_TRUE(chart->IsZoomAllowed(ChartAxis::Value));

    // Show Table: table left half, chart right half; cleared: chart full width.
    const int m = CDialogHisLine::kMargin;
    const int w = view->width();
    EXPECT_EQ(view->Options()->geometry(), QRect(m, m, w - 2 * m, view->Options()->height()));
    EXPECT_EQ(view->Table()->geometry().width(), w / 2 - 2 * m);
    EXPECT_EQ(chart->geometry().x(), w / 2);
    Check(CDialogHisLine::IDC_SHOW_TABLE)->click();
    EXPECT_EQ(view->Table()->geometry().size(), QSize(m, m));
    EXPECT_EQ(chart->geometry().x(), m);
    EXPECT_EQ(chart->geometry().width(), w - 2 * m);
    view->resize(1000, 700);
    EXPECT_EQ(chart->geometry().width(), 1000 - 2 * m);
    EXPECT_EQ(chart->geometry().bottom(), 700 - m - 1);
}

// A long trace is a line, not a row of markers, and "Show Value" labels
// only as many points as can be read; a short one keeps both.
TEST_F(ViewFixture, DenseTracesDropMarkersAndLabelAReadableSubset) {
    ASSERT_TRUE(view->LoadFile(QString::fromStdString(WriteRamp(dir, "long", 1000, kEnd))));
    CVKRChartControl* chart = view->Chart();
    Check(CDialogHisLine::IDC_SHOW_VALUE)->click();
    chart->Flush();
    EXPECT_FALSE(chart->MarkersShown(0));
    const int plotWidth = chart->HitTest(QPoint()).plotRight - chart->HitTest(QPoint()).plotLeft;
    ASSERT_GT(plotWidth, 100);
    const int stride = chart->LabelStride(0);
    EXPECT_GT(stride, 1);
    EXPECT_LE(1000 / stride, plotWidth / 30) << "labels closer than 30 pixels";

    ASSERT_TRUE(view->LoadFile(QString::fromStdString(WriteRecording(dir))));
    chart->Flush();
    EXPECT_TRUE(chart->MarkersShown(0));
    EXPECT_EQ(chart->LabelStride(0), 1);
}

// Loading another file leaves none of the first file's time labels; value
// ticks carry the decimals of the signals drawn.
TEST_F(ViewFixture, AnotherFileRelabelsAndTicksUseTheSignalsDecimals) {
    ASSERT_TRUE(view->LoadFile(QString::fromStdString(WriteRamp(dir, "first", 20, kEnd))));
    CVKRChartControl* chart = view->Chart();
    chart->Flush();
    const uint64_t later = kEnd + 3 * 3600 * 1000ULL;
    ASSERT_TRUE(view->LoadFile(QString::fromStdString(WriteRamp(dir, "second", 20, later))));
    chart->Flush();
    QStringList second;
    for (int k = 0; k < 20; ++k)
        second << QString::fromStdWString(history::ChartTimeText(later - 1000ULL * static_cast<uint64_t>(19 - k)));
    const QStringList labels = chart->TimeAxisLabels();
    ASSERT_FALSE(labels.isEmpty());
    for (const QString& l : labels) EXPECT_TRUE(l.isEmpty() || second.contains(l)) << l.toStdString();

    Check(CDialogHisLine::kSlotCheckIds[1])->setChecked(false);
    Check(CDialogHisLine::IDC_ORIGINAL)->click();
    chart->Flush();
    EXPECT_EQ(chart->ValueTickFormat(), "%.0f");
    EXPECT_GE(chart->ValueTickStep(), 1.0);
    Check(CDialogHisLine::kSlotCheckIds[1])->setChecked(true);
    view->OnRefresh();
    chart->SetVisibleRange(ChartAxis::Value, 0, 1);
    chart->Flush();
    EXPECT_EQ(chart->ValueTickFormat(), "%.1f");
    EXPECT_GE(chart->ValueTickStep(), 0.1);
    EXPECT_LT(chart->ValueTickStep(), 1.0);
}

// The exported image names the series: a legend below the plot in the
// slots' colours.
TEST_F(ViewFixture, SavedChartImageHasALegend) {
    ASSERT_TRUE(view->LoadFile(QString::fromStdString(WriteRecording(dir))));
    const QString png = QString::fromStdString(dir.file("chart.png"));
    ASSERT_TRUE(view->SaveChartImage(png));
    EXPECT_FALSE(view->Chart()->IsLegendVisible());
    const QImage image(png);
    ASSERT_FALSE(image.isNull());
    const QColor slot1 = ColorRefToQColor(CDialogHisLine::kDefaultColors[0]);
    const CChartHitInfo hit = view->Chart()->HitTest(QPoint());
    int below = 0;
    for (int y = image.height() - 40; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) below += image.pixelColor(x, y) == slot1;
    EXPECT_GT(below, 10) << "no legend mark in the slot's colour below the plot (plot bottom " << hit.plotBottom << ")";
}

TEST_F(ViewFixture, CsvExportIsReadBackByPython) {
    const std::string csv = dir.file("export.csv");
    EXPECT_FALSE(view->ExportCsv(QString::fromStdString(csv))) << "nothing loaded yet";
    ASSERT_TRUE(view->LoadFile(QString::fromStdString(WriteRecording(dir))));
    ASSERT_TRUE(view->ExportCsv(QString::fromStdString(csv)));
    const std::string script = dir.file("read.py");
    {
        std::ofstream f(script);
        f << "import csv, sys\n"
             "with open(sys.argv[1], newline='', encoding='utf-8') as f:\n"
             "    for row in csv.reader(f):\n"
             "        print('|'.join(x.encode('utf-8').hex() or '-' for x in row))\n";
    }
    FILE* p = ::popen(("/usr/bin/python3 " + wbtest::quote(script) + " " + wbtest::quote(csv)).c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    ASSERT_EQ(::pclose(p), 0);
    std::vector<std::vector<std::wstring>> rows;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::wstring> fields;
        std::istringstream f(line);
        std::string h;
        while (std::getline(f, h, '|')) fields.push_back(h == "-" ? L"" : wbtest::W(wbtest::fromHex(h)));
        rows.push_back(fields);
    }
    ASSERT_EQ(rows.size(), 6u);
    EXPECT_EQ(rows[0], (std::vector<std::wstring>{L"Time", L"Output frequency,输出频率", L"Quantity 2", L"Quantity 4"}));
    const std::vector<MonitorSample> held = store.HeldSamples();
    for (size_t k = 0; k < 5; ++k) {
        ASSERT_EQ(rows[k + 1].size(), 4u);
        EXPECT_EQ(rows[k + 1][0], history::IsoTimeText(held[k].timeMs));
        EXPECT_EQ(std::stod(rows[k + 1][1]), held[k].entries[0].value);
        EXPECT_NEAR(std::stod(rows[k + 1][2]), held[k].entries[1].value, 1e-6);
        EXPECT_NEAR(std::stod(rows[k + 1][3]), held[k].entries[3].value, 1e-6);
    }
    EXPECT_EQ(rows[5][0].substr(10, 1), L"T");

    const QString png = QString::fromStdString(dir.file("chart.png"));
    ASSERT_TRUE(view->SaveChartImage(png));
    QImage image(png);
    EXPECT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), view->Chart()->size());
}

TEST_F(ViewFixture, AnXlwtRecordingLoads) {
    const std::string path = dir.file("xlwt_history.xls");
    std::string out;
    ASSERT_TRUE(wbtest::runScript("xlwt history " + wbtest::quote(path), out));
    table = MakeTable(L"VKR-7.5G");
    ASSERT_TRUE(view->LoadFile(QString::fromStdString(path)));
    EXPECT_TRUE(prompts.messages.isEmpty());
    EXPECT_EQ(view->Table()->RowCount(), 10000);
    EXPECT_EQ(Cell(0, 0), QString::fromStdWString(history::TableTimeText(1700000000000ULL)));
    EXPECT_EQ(Cell(9999, 0), QString::fromStdWString(history::TableTimeText(1700000000000ULL + 9999000ULL)));
    // Row 1, slot 1: (1 * 1) % 997 / 8 - 40; no record at 1001: three decimals.
    EXPECT_EQ(Cell(0, 1), "-39.875");
    EXPECT_EQ(view->Table()->ColumnWidth(3), 0);
    EXPECT_EQ(view->Chart()->SeriesCount(), 7);
}

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QTemporaryDir work;
    if (work.isValid()) QDir::setCurrent(work.path());
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
