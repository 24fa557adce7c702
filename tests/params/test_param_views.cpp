// The parameter and M-data views against the drive simulator on a pty: the
// application connects in normal mode, the views run their batches on
// worker threads, and the tests answer the views' questions.
#include "DialogMD.h"
#include "DialogParam.h"
#include "DlgCompareFile.h"
#include "DlgInputPara.h"
#include "DlgProgess.h"
#include "FontSettings.h"
#include "ParamPlan.h"
#include "ParamViewLogic.h"
#include "ParamsTestSupport.h"
#include "ReportGrid.h"
#include "ValueFile.h"

#include <QApplication>
#include <QFileDialog>
#include <QFontMetrics>
#include <QHeaderView>
#include <QMessageBox>
#include <QPushButton>
#include <QLabel>
#include <QRegion>
#include <QTimer>
#include <QTest>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QTemporaryDir>

#include <set>
#include <thread>

#include <gtest/gtest.h>

namespace {

using paramview::kColValue;

QString Q(const std::wstring& s) { return QString::fromStdWString(s); }

struct Views : ::testing::Test {
    std::unique_ptr<ptest::SimBench> bench;
    ptest::TestPrompts prompts;
    std::unique_ptr<ptest::SilencingPort> port;

    void SetUp() override
    {
        bench = std::make_unique<ptest::SimBench>();
        ASSERT_TRUE(bench->ok()) << bench->error();
        port = std::make_unique<ptest::SilencingPort>(bench->sim());
    }
    void TearDown() override { bench.reset(); }

    ParamTable& table() { return bench->table(); }
    ParamRecord& Rec(const std::wstring& pnu) { return table().params[static_cast<size_t>(ptest::IndexOf(table(), pnu))]; }

    template <class View>
    std::unique_ptr<View> Open(int selection)
    {
        auto v = std::make_unique<View>(selection);
        v->SetPrompts(&prompts);
        v->SetRegisterPort(port.get());
        v->SetTable(&table());
        v->resize(1000, 600);
        return v;
    }

    // Starts nothing: waits for the batch the caller started.
    static bool WaitBatch(CParamGridView& v, int timeoutMs = 30000)
    {
        bool finished = false;
        auto c = QObject::connect(&v, &CParamGridView::batchFinished, [&] { finished = true; });
        const bool ok = ptest::WaitFor([&] { return finished; }, timeoutMs);
        QObject::disconnect(c);
        return ok;
    }

    static int RowOf(const CParamGridView& v, const ParamRecord& r)
    {
        const auto& rows = v.RowRecords();
        for (size_t i = 0; i < rows.size(); ++i)
            if (rows[i] == r.index) return static_cast<int>(i);
        return -1;
    }
    static QString Cell(const CParamGridView& v, int row) { return v.Grid()->ItemText(row, kColValue); }
};

TEST_F(Views, ParamViewGridColumnsTextsAndChecks)
{
    Rec(L"01.02").selected = 1;
    auto v = Open<CDialogParam>(1);
    CReportGrid* g = v->Grid();
    const char* caps[] = {"Select", "VKR Pnu", "Descripition", "Value", "Default", "Min", "Max", "Unit"};
    const int widths[] = {50, 100, 200, 300, 80, 80, 80, 80};
    ASSERT_EQ(g->ColumnCount(), 8);
    for (int c = 0; c < 8; ++c) {
        EXPECT_EQ(g->ColumnCaption(c), caps[c]);
        EXPECT_EQ(g->ColumnWidth(c), widths[c]);
    }
    v->show();
    EXPECT_EQ(g->geometry(), QRect(0, 80, 1000, 520));
    v->resize(800, 500);
    EXPECT_EQ(g->geometry(), QRect(0, 80, 800, 420));
    ASSERT_EQ(v->RowCount(), static_cast<int>(paramview::ParamViewRows(table(), 1).size()));
    const int row = RowOf(*v, Rec(L"01.03"));
    EXPECT_EQ(g->ItemText(row, 1), "P01.03");
    EXPECT_EQ(g->ItemText(row, 2), "Digital frequency setting");
    EXPECT_EQ(g->ItemText(row, 3), "-");  // nothing read yet
    EXPECT_EQ(g->ItemText(row, 4), "50.00");
    EXPECT_EQ(g->ItemText(row, 7), "Hz");
    EXPECT_TRUE(g->Item(row, 3)->button);
    EXPECT_TRUE(g->IsChecked(RowOf(*v, Rec(L"01.02"))));
    EXPECT_FALSE(g->IsChecked(row));
    // Buttons follow the connection state.
    EXPECT_TRUE(v->Button(CParamGridView::IDC_READ_SELECTED)->isEnabled());
    v->UpdateButtons(false);
    for (int id : {2003, 2004, 2005, 2006}) EXPECT_FALSE(v->Button(id)->isEnabled()) << id;
    EXPECT_TRUE(v->Button(2001)->isEnabled());
    v->UpdateButtons(true);
    for (int id : {2003, 2004, 2005, 2006}) EXPECT_TRUE(v->Button(id)->isEnabled()) << id;
    // Clear selection keeps the records' marks; select all refills and checks.
    v->OnClearSelection();
    EXPECT_FALSE(g->IsChecked(RowOf(*v, Rec(L"01.02"))));
    EXPECT_EQ(Rec(L"01.02").selected, 1);
    v->OnSelectAll();
    for (int r = 0; r < g->RowCount(); ++r) EXPECT_TRUE(g->IsChecked(r));
}

// A narrow view (what an 800 x 600 main window leaves beside the device
// tree) wraps its buttons onto a second row; every button stays whole and
// inside the view, and the grid starts below them.
TEST_F(Views, ButtonRowWrapsInANarrowView)
{
    auto v = Open<CDialogParam>(1);
    const int ids[] = {CParamGridView::IDC_SELECT_ALL, CParamGridView::IDC_CLEAR_SELECTION,
                       CParamGridView::IDC_SELECT_DIFFERENT, CParamGridView::IDC_READ_SELECTED,
                       CParamGridView::IDC_WRITE_SELECTED, CParamGridView::IDC_LOAD_VALUES,
                       CParamGridView::IDC_SAVE_VALUES, CDialogParam::IDC_COMPARE_FILE,
                       CDialogParam::IDC_UNDO_WRITE};
    v->show();
    for (int width : {1400, 540, 300}) {
        v->resize(width, 500);
        QRegion used;
        int bottom = 0;
        std::set<int> tops;
        for (int id : ids) {
            const QRect r = v->Button(id)->geometry();
            EXPECT_GE(r.left(), 0) << width << " " << id;
            EXPECT_LE(r.right(), width - 1) << width << " " << id;
            EXPECT_GE(r.width(), v->Button(id)->sizeHint().width()) << id;
            EXPECT_FALSE(used.intersects(r)) << width << " " << id;
            used += r;
            bottom = std::max(bottom, r.bottom());
            tops.insert(r.top());
        }
        const QRect g = v->Grid()->geometry();
        EXPECT_GT(g.top(), bottom) << width;
        EXPECT_EQ(g.bottom(), 499) << width;
        if (width == 1400) {
            EXPECT_EQ(tops, std::set<int>{24});  // one row in the band above the grid at 80
            EXPECT_EQ(g.top(), 80);
        } else {
            EXPECT_GE(tops.size(), 2u) << width;
        }
    }
}

// The font dialog's choice shows in the grid of the view told about it, and
// of every view opened afterwards; without a choice the grid keeps the
// program's font.
TEST_F(Views, GridTakesTheStoredFont)
{
    QTemporaryDir dir;
    const std::wstring profile = (dir.path() + "/Torvane.ini").toStdWString();
    qputenv("TORVANE_PROFILE", QString::fromStdWString(profile).toLocal8Bit());
    auto plain = Open<CDialogParam>(1);
    plain->show();
    const QFont programFont = plain->Grid()->font();

    FontSettings chosen;
    chosen.fontSize = "24";
    chosen.bold = true;
    chosen.color = MakeColorRef(200, 0, 0);
    ASSERT_TRUE(chosen.Store(profile));
    plain->ApplyFontSettings();  // what the font command does for the current view
    auto opened = Open<CDialogParam>(2);
    opened->show();
    for (CDialogParam* v : {plain.get(), opened.get()}) {
        const QFont f = v->Grid()->font();
        EXPECT_EQ(f.pixelSize(), 24);
        EXPECT_TRUE(f.bold());
        EXPECT_EQ(v->Grid()->palette().color(QPalette::Text), QColor(200, 0, 0));
        EXPECT_GE(v->Grid()->verticalHeader()->defaultSectionSize(), QFontMetrics(f).height());
        EXPECT_NE(f, programFont);
    }
    qunsetenv("TORVANE_PROFILE");
}

TEST_F(Views, ReadGroupGivesSimulatorValuesAndReportsSilentRegister)
{
    // Distinct values, one of them negative on a signed register.
    bench->sim().writeRegister(static_cast<uint16_t>(Rec(L"01.03").address - 1), 1234);
    bench->sim().writeRegister(static_cast<uint16_t>(Rec(L"01.07").address - 1), 655);
    const ParamRecord& silent = Rec(L"01.05");
    port->silent.insert(static_cast<uint16_t>(silent.address - 1));
    auto v = Open<CDialogParam>(1);
    v->OnSelectAll();
    ASSERT_TRUE(v->OnReadSelected());
    EXPECT_FALSE(v->OnReadSelected());  // one batch at a time
    ASSERT_TRUE(WaitBatch(*v));

    int checkedSigned = 0;
    for (int row = 0; row < v->RowCount(); ++row) {
        const ParamRecord& r = table().params[static_cast<size_t>(v->RowRecords()[static_cast<size_t>(row)])];
        SCOPED_TRACE(r.pnu);
        if (r.index == silent.index) {
            EXPECT_EQ(Cell(*v, row), "-");
            continue;
        }
        const double expected = ptest::Engineering(bench->Raw(r), r);
        EXPECT_NEAR(r.value, expected, 1e-9);
        EXPECT_EQ(Cell(*v, row), Q(table().ValueText(r, 0)));
        checkedSigned += r.minValue < 0;
    }
    EXPECT_NEAR(Rec(L"01.03").value, 12.34, 1e-9);
    EXPECT_EQ(Cell(*v, RowOf(*v, Rec(L"01.03"))), "12.34");
    ASSERT_EQ(prompts.messages.size(), 1);
    EXPECT_EQ(prompts.messages[0], "Parameter read error:P01.05 errorCode255.\n");
    ASSERT_NE(v->Progress(), nullptr);
    EXPECT_FALSE(v->IsRunning());
}

TEST_F(Views, ReadOfSignedRegister)
{
    // P09.05 (motor speed) has a negative minimum: its register is signed.
    const ParamRecord& speed = Rec(L"09.05");
    ASSERT_LT(speed.minValue, 0);
    auto v = Open<CDialogMD>(9);
    const int row = RowOf(*v, speed);
    v->Grid()->SetChecked(row, true);
    // The application refuses a register write here; the monitor value is
    // whatever the drive computes, so compare with what it holds afterwards.
    ASSERT_TRUE(v->OnReadSelected());
    ASSERT_TRUE(WaitBatch(*v));
    EXPECT_NEAR(Rec(L"09.05").value, ptest::Engineering(bench->Raw(speed), speed), 1e-9);
    EXPECT_TRUE(prompts.messages.isEmpty());
}

TEST_F(Views, EditThenWriteReachesRegister)
{
    auto v = Open<CDialogParam>(1);
    ParamRecord& freq = Rec(L"01.03");
    const int row = RowOf(*v, freq);
    prompts.numberText = "12.34";
    v->EditValue(row);
    EXPECT_EQ(prompts.editorTitle.toStdWString(), PickVariant(freq.name, 0));
    EXPECT_EQ(freq.value, 12.34);
    EXPECT_EQ(Cell(*v, row), "12.34");
    EXPECT_FALSE(v->Grid()->IsChecked(row));  // editing neither checks nor writes
    EXPECT_EQ(bench->Raw(freq), 5000);

    // Above the maximum: refused by the editor, value unchanged.
    prompts.numberText = "590.01";
    v->EditValue(row);
    ASSERT_EQ(prompts.refusals.size(), 1);
    EXPECT_EQ(freq.value, 12.34);

    // An option parameter: entries from the option list, value from the code.
    ParamRecord& source = Rec(L"01.01");
    prompts.optionText = "2,Communication";
    v->EditValue(RowOf(*v, source));
    EXPECT_EQ(prompts.optionEntries, (QStringList{"0,Keypad", "1,Terminal", "2,Communication"}));
    EXPECT_EQ(source.value, 2);
    EXPECT_EQ(Cell(*v, RowOf(*v, source)), "2,Communication");

    v->Grid()->SetChecked(row, true);
    v->Grid()->SetChecked(RowOf(*v, source), true);
    const int before = port->writes;
    ASSERT_TRUE(v->OnWriteSelected());
    ASSERT_TRUE(WaitBatch(*v));
    EXPECT_EQ(bench->Raw(freq), 1234);
    EXPECT_EQ(bench->Raw(source), 2);
    EXPECT_EQ(port->writes - before, 2);
    ASSERT_EQ(prompts.messages.size(), 1);
    EXPECT_EQ(prompts.messages[0], "Parameter write completion");
    EXPECT_EQ(v->Progress()->upper(), 2 * v->RowCount());
    EXPECT_EQ(v->Progress()->windowTitle(), "Param...Check");
}

// The editors' titles are the parameter's name in the current language, as
// the grid shows it, not the stored "English,Chinese" text.
TEST_F(Views, EditorTitlesAreInTheCurrentLanguage)
{
    ParamRecord& freq = Rec(L"01.03");
    ParamRecord& source = Rec(L"01.01");
    ASSERT_EQ(freq.name, L"Digital frequency setting,\u6570\u5b57\u9891\u7387\u8bbe\u5b9a");
    LanguageTables& language = bench->app().Language();
    for (const wchar_t* name : {L"Chinese", L"English"}) {
        language.SetLanguage(name);
        const int index = language.languageIndex();
        auto v = Open<CDialogParam>(1);
        prompts.numberText = "12.5";
        v->EditValue(RowOf(*v, freq));
        EXPECT_EQ(prompts.editorTitle.toStdWString(), PickVariant(freq.name, index)) << name;
        prompts.optionText = "1";
        v->EditValue(RowOf(*v, source));
        EXPECT_EQ(prompts.editorTitle.toStdWString(), PickVariant(source.name, index)) << name;
    }
    EXPECT_EQ(PickVariant(freq.name, 1), L"\u6570\u5b57\u9891\u7387\u8bbe\u5b9a");
}

TEST_F(Views, ValueButtonOpensEditorShortlyAfter)
{
    auto v = Open<CDialogParam>(1);
    ParamRecord& accel = Rec(L"01.07");
    const int row = RowOf(*v, accel);
    prompts.numberText = "25.5";
    emit v->Grid()->buttonClicked(row);
    EXPECT_TRUE(prompts.editorTitle.isEmpty());  // not from within the click
    ASSERT_TRUE(ptest::WaitFor([&] { return !prompts.editorTitle.isEmpty(); }));
    EXPECT_EQ(accel.value, 25.5);
    EXPECT_EQ(Cell(*v, row), "25.5");
}

TEST_F(Views, WriteRefusedByDriveIsNotRetriedAndReportedTwice)
{
    auto v = Open<CDialogParam>(1);
    ParamRecord& freq = Rec(L"01.03");
    // Within 16 bits but above the drive's maximum: the drive answers with
    // an exception.
    freq.value = 600;
    freq.valueUnknown = false;
    v->Grid()->SetChecked(RowOf(*v, freq), true);
    const long before = bench->Requests();
    ASSERT_TRUE(v->OnWriteSelected());
    ASSERT_TRUE(WaitBatch(*v));
    EXPECT_EQ(bench->Requests() - before, 2);  // one write, one read back
    EXPECT_EQ(bench->Raw(freq), 5000);
    ASSERT_EQ(prompts.messages.size(), 1);
    EXPECT_EQ(prompts.messages[0], "Parameter write error:P01.03  Write Erroe P01.03 600.00  50.00.\n");
    EXPECT_EQ(freq.value, 600);  // the check pass leaves the record alone
}

TEST_F(Views, ValueBeyondRegisterIsNeverSent)
{
    auto v = Open<CDialogParam>(1);
    ParamRecord& freq = Rec(L"01.03");
    freq.value = 700;  // 70000 in register units: does not fit 16 bits
    freq.valueUnknown = false;
    v->Grid()->SetChecked(RowOf(*v, freq), true);
    const int writes = port->writes;
    const long before = bench->Requests();
    ASSERT_TRUE(v->OnWriteSelected());
    ASSERT_TRUE(WaitBatch(*v));
    EXPECT_EQ(port->writes - writes, 0);       // refused before it reached the link
    EXPECT_EQ(bench->Requests() - before, 1);  // only the read back reached the drive
    EXPECT_EQ(bench->Raw(freq), 5000);
    ASSERT_EQ(prompts.messages.size(), 1);
    EXPECT_EQ(prompts.messages[0], "Parameter write error:P01.03  Write Erroe P01.03 700.00  50.00.\n");
}

TEST_F(Views, WriteToSilentRegisterReportedInBothPasses)
{
    auto v = Open<CDialogParam>(1);
    ParamRecord& freq = Rec(L"01.03");
    freq.value = 20;
    freq.valueUnknown = false;
    port->silent.insert(static_cast<uint16_t>(freq.address - 1));
    v->Grid()->SetChecked(RowOf(*v, freq), true);
    ASSERT_TRUE(v->OnWriteSelected());
    ASSERT_TRUE(WaitBatch(*v));
    ASSERT_EQ(prompts.messages.size(), 1);
    EXPECT_EQ(prompts.messages[0], "Parameter write error:P01.03  read P01.03 errorCode255.\n");
}

TEST_F(Views, RowsLeftOverWhenPassesRunOutAreReported)
{
    // Subgroup 6.1 shows five rows, so a batch has fifteen passes. All
    // silent: three rows use four attempts each, the fourth gets three, the
    // fifth none. Both are reported all the same.
    bench->sim().setFault(drivesim::FaultKind::Silence);
    auto v = Open<CDialogParam>(61);
    ASSERT_EQ(v->RowCount(), 5);
    v->OnSelectAll();
    ASSERT_TRUE(v->OnReadSelected());
    ASSERT_TRUE(WaitBatch(*v));
    EXPECT_EQ(port->reads, 15);
    QString expected = "Parameter read error:";
    for (int row = 0; row < 5; ++row) {
        const ParamRecord& r = table().params[static_cast<size_t>(v->RowRecords()[static_cast<size_t>(row)])];
        expected += "P" + Q(r.pnu) + " errorCode255.\n";
        EXPECT_EQ(Cell(*v, row), "-") << row;
    }
    ASSERT_EQ(prompts.messages.size(), 1);
    EXPECT_EQ(prompts.messages[0], expected);
}

TEST_F(Views, CancelledWriteNamesTheRowsNotWritten)
{
    bench->sim().setFault(drivesim::FaultKind::Silence);
    auto v = Open<CDialogParam>(1);
    for (int row = 0; row < 3; ++row) {
        v->Grid()->SetChecked(row, true);
        table().params[static_cast<size_t>(v->RowRecords()[static_cast<size_t>(row)])].valueUnknown = false;
    }
    ASSERT_TRUE(v->OnWriteSelected());
    ASSERT_TRUE(ptest::WaitFor([&] { return port->writes >= 1; }));
    v->Progress()->OnCancel();
    EXPECT_FALSE(v->IsRunning());
    ASSERT_TRUE(WaitBatch(*v));
    EXPECT_LT(port->writes, 3);
    EXPECT_EQ(port->reads, 0);  // no check pass after a cancel
    ASSERT_EQ(prompts.messages.size(), 1);
    EXPECT_EQ(prompts.messages[0], "Parameter write error:P01.00  P01.01  P01.02  ");
}

TEST_F(Views, SelectDifferentAfterRead)
{
    // Subgroup 2.1 holds two records without a default (02.01, 02.03).
    bench->sim().writeRegister(static_cast<uint16_t>(Rec(L"02.04").address - 1), 6000);
    auto v = Open<CDialogParam>(21);
    v->OnSelectAll();
    ASSERT_TRUE(v->OnReadSelected());
    ASSERT_TRUE(WaitBatch(*v));
    EXPECT_TRUE(prompts.messages.isEmpty());
    v->OnClearSelection();
    v->OnSelectDifferent();
    std::vector<std::wstring> left;
    for (int idx : v->RowRecords()) left.push_back(table().params[static_cast<size_t>(idx)].pnu);
    EXPECT_EQ(left, (std::vector<std::wstring>{L"02.01", L"02.03", L"02.04"}));
    for (int r = 0; r < v->Grid()->RowCount(); ++r) EXPECT_TRUE(v->Grid()->IsChecked(r));
    EXPECT_EQ(Cell(*v, 2), "60.00");
}

TEST_F(Views, ValueFileSaveLoadAndDeviceCheck)
{
    QTemporaryDir dir;
    // Saved from subgroup 2.2 with its second and fourth rows checked.
    auto from = Open<CDialogParam>(22);
    ASSERT_GE(from->RowCount(), 4);
    ParamRecord& a = table().params[static_cast<size_t>(from->RowRecords()[1])];
    ParamRecord& b = table().params[static_cast<size_t>(from->RowRecords()[3])];
    a.value = 1.5;
    b.value = 7.25;
    a.valueUnknown = b.valueUnknown = false;
    from->Grid()->SetChecked(1, true);
    from->Grid()->SetChecked(3, true);
    prompts.file = dir.path() + "/motor";  // ".xls" is added
    from->OnSaveValues();
    EXPECT_EQ(prompts.lastFilter, "VKR Para(*.xls)|*.xls");
    ASSERT_EQ(prompts.messages, QStringList{"The file is saved successfully."});
    ASSERT_TRUE(QFile::exists(dir.path() + "/motor.xls"));
    {
        // Sheet rows 2 and 4 hold the two rows, rows 1 and 3 stay empty.
        std::string err;
        const QJsonObject doc = ptest::ReadWithXlrd(dir.path() + "/motor.xls", &err);
        ASSERT_FALSE(doc.isEmpty()) << err;
        const QJsonArray rows = doc["rows"].toArray();
        ASSERT_EQ(rows.size(), 5);
        EXPECT_EQ(rows[0].toArray()[3].toObject()["value"].toString(), "VALUE");
        EXPECT_TRUE(rows[1].toArray().isEmpty());
        EXPECT_TRUE(rows[3].toArray().isEmpty());
        EXPECT_EQ(rows[2].toArray()[1].toObject()["value"].toDouble(), a.address);
        EXPECT_EQ(rows[2].toArray()[3].toObject()["value"].toDouble(), 1.5);
        EXPECT_EQ(rows[4].toArray()[1].toObject()["value"].toDouble(), b.address);
        EXPECT_EQ(rows[4].toArray()[3].toObject()["value"].toDouble(), 7.25);
    }
    from.reset();

    // Loaded into group 2 of a fresh table: only the two addresses change.
    ParamTable fresh;
    ptest::LoadSampleTable(fresh);
    auto v = std::make_unique<CDialogParam>(2);
    v->SetPrompts(&prompts);
    v->SetTable(&fresh);
    prompts.messages.clear();
    v->OnLoadValues();
    ASSERT_EQ(prompts.messages, QStringList{"The file is loaded successfully."});
    for (int row = 0; row < v->RowCount(); ++row) {
        const ParamRecord& r = fresh.params[static_cast<size_t>(v->RowRecords()[static_cast<size_t>(row)])];
        SCOPED_TRACE(r.pnu);
        if (r.address == a.address || r.address == b.address) {
            EXPECT_EQ(r.value, r.address == a.address ? 1.5 : 7.25);
            EXPECT_TRUE(v->Grid()->IsChecked(row));
            EXPECT_EQ(Cell(*v, row), Q(fresh.ValueText(r, 0)));
        } else {
            EXPECT_EQ(r.value, 0);
            EXPECT_FALSE(v->Grid()->IsChecked(row));
        }
    }

    // A group without those addresses: nothing changes.
    auto other = std::make_unique<CDialogParam>(3);
    other->SetPrompts(&prompts);
    ParamTable third;
    ptest::LoadSampleTable(third);
    other->SetTable(&third);
    other->OnLoadValues();
    for (const ParamRecord& r : third.params) EXPECT_EQ(r.value, 0);

    // A file of another device type: both messages, nothing changes.
    ParamTable foreign;
    ptest::LoadSampleTable(foreign);
    foreign.deviceType = L"TV390";
    ASSERT_TRUE(valuefile::Save((dir.path() + "/foreign.xls").toStdWString(), foreign,
                                paramview::ParamViewRows(foreign, 2), std::vector<bool>(26, true)));
    prompts.file = dir.path() + "/foreign.xls";
    prompts.messages.clear();
    fresh.params[static_cast<size_t>(a.index)].value = 3;
    v->OnLoadValues();
    EXPECT_EQ(prompts.messages,
              (QStringList{"Device model does not match :TV380 != TV390", "The file load failed."}));
    EXPECT_EQ(fresh.params[static_cast<size_t>(a.index)].value, 3);

    // A file that cannot be written is reported as such.
    prompts.file = dir.path() + "/no such folder/values.xls";
    prompts.messages.clear();
    v->OnSaveValues();
    EXPECT_EQ(prompts.messages, QStringList{"The file saving failed."});

    // Cancelled file dialog: nothing at all.
    prompts.file.clear();
    prompts.messages.clear();
    v->OnLoadValues();
    v->OnSaveValues();
    EXPECT_TRUE(prompts.messages.isEmpty());
}

TEST_F(Views, MDataSilentRowGivesOneMessageOthersGetValues)
{
    Rec(L"09.02").selected = 1;  // marks of the parameter view do not carry over
    auto v = Open<CDialogMD>(9);
    ASSERT_EQ(v->RowCount(), 22);
    for (int r = 0; r < v->RowCount(); ++r) EXPECT_FALSE(v->Grid()->IsChecked(r));
    EXPECT_FALSE(v->Grid()->Item(0, kColValue)->button);
    EXPECT_EQ(v->Button(CParamGridView::IDC_WRITE_SELECTED), nullptr);

    // Quantities that stand still while the motor does: the set frequency
    // (the target frequency register) and the input terminal state.
    ASSERT_EQ(bench->sim().writeRegister(drivesim::reg::kTargetFrequency, 4321), 0);
    const ParamRecord& setFreq = Rec(L"09.01");
    const ParamRecord& current = Rec(L"09.02");
    const ParamRecord& inputs = Rec(L"09.09");
    for (const ParamRecord* r : {&setFreq, &current, &inputs}) v->Grid()->SetChecked(RowOf(*v, *r), true);
    port->silent.insert(static_cast<uint16_t>(current.address - 1));
    // While the message is up the batch waits: nothing after the silent row
    // has been asked for yet.
    int readsAtMessage = -1;
    prompts.onMessage = [&](const QString&) { readsAtMessage = port->reads; };
    ASSERT_TRUE(v->OnReadSelected());
    ASSERT_TRUE(WaitBatch(*v));
    ASSERT_EQ(prompts.messages, QStringList{"Parameter write read:P09.02  device error code:255"});
    EXPECT_EQ(readsAtMessage, 5);  // 09.01 once, 09.02 four times
    EXPECT_EQ(port->reads, 6);
    EXPECT_EQ(Cell(*v, RowOf(*v, current)), "-");
    EXPECT_NEAR(setFreq.value, 43.21, 1e-9);
    for (const ParamRecord* r : {&setFreq, &inputs}) {
        EXPECT_NEAR(r->value, ptest::Engineering(bench->Raw(*r), *r), 1e-9) << r->pnu;
        EXPECT_EQ(Cell(*v, RowOf(*v, *r)), Q(table().ValueText(*r, 0)));
    }
    // Toggling in the M-data view leaves the records alone.
    EXPECT_EQ(Rec(L"09.02").selected, 1);
}

TEST_F(Views, UnknownValuesAreNeitherWrittenNorSaved)
{
    ParamRecord& freq = Rec(L"01.03");
    ParamRecord& accel = Rec(L"01.07");
    bench->sim().writeRegister(static_cast<uint16_t>(freq.address - 1), 2500);
    auto v = Open<CDialogParam>(1);
    for (int row = 0; row < v->RowCount(); ++row) EXPECT_EQ(Cell(*v, row), "-") << row;

    // Nothing read yet: select all and write sends nothing at all.
    v->OnSelectAll();
    ASSERT_TRUE(v->OnWriteSelected());
    ASSERT_TRUE(WaitBatch(*v));
    EXPECT_EQ(port->writes, 0);
    EXPECT_EQ(port->reads, 0);  // nor is anything checked back
    EXPECT_EQ(bench->Raw(freq), 2500);
    QString expected = "Parameter write error:";
    for (int idx : v->RowRecords()) expected += "P" + Q(table().params[static_cast<size_t>(idx)].pnu) +
                                                " not written, value unknown.\n";
    ASSERT_EQ(prompts.messages, QStringList{expected});

    // A read makes a value known; a read given up makes it unknown again,
    // also when it had been edited.
    prompts.numberText = "30.0";
    v->EditValue(RowOf(*v, accel));
    EXPECT_EQ(Cell(*v, RowOf(*v, accel)), "30.0");
    EXPECT_FALSE(accel.valueUnknown);
    v->OnClearSelection();
    v->Grid()->SetChecked(RowOf(*v, freq), true);
    v->Grid()->SetChecked(RowOf(*v, accel), true);
    port->silent.insert(static_cast<uint16_t>(accel.address - 1));
    prompts.messages.clear();
    ASSERT_TRUE(v->OnReadSelected());
    ASSERT_TRUE(WaitBatch(*v));
    EXPECT_EQ(Cell(*v, RowOf(*v, freq)), "25.00");
    EXPECT_EQ(Cell(*v, RowOf(*v, accel)), "-");
    EXPECT_TRUE(accel.valueUnknown);
    EXPECT_FALSE(freq.valueUnknown);

    // Only the known row is written.
    port->silent.clear();
    prompts.numberText = "12.34";
    v->EditValue(RowOf(*v, freq));
    prompts.messages.clear();
    const int writes = port->writes;
    ASSERT_TRUE(v->OnWriteSelected());
    ASSERT_TRUE(WaitBatch(*v));
    EXPECT_EQ(port->writes - writes, 1);
    EXPECT_EQ(bench->Raw(freq), 1234);
    EXPECT_EQ(prompts.messages, QStringList{"Parameter write error:P01.07 not written, value unknown.\n"});

    // The save leaves the unknown row out and says so.
    QTemporaryDir dir;
    prompts.file = dir.path() + "/known";
    prompts.messages.clear();
    v->OnSaveValues();
    ASSERT_EQ(prompts.messages.size(), 1);
    EXPECT_EQ(prompts.messages[0], "The file is saved successfully.\n" + Q(valuefile::LeftOutText(1)));
    const valuefile::LoadResult saved = valuefile::Load((dir.path() + "/known.xls").toStdWString(), table());
    ASSERT_EQ(saved.status, valuefile::LoadResult::Status::Ok) << saved.error;
    ASSERT_EQ(saved.entries.size(), 1u);
    EXPECT_EQ(saved.entries[0].address, freq.address);
    EXPECT_DOUBLE_EQ(saved.entries[0].value, 12.34);

    // Loading the file makes its rows known in a fresh table.
    ParamTable fresh;
    ptest::LoadSampleTable(fresh);
    auto w = std::make_unique<CDialogParam>(1);
    w->SetPrompts(&prompts);
    w->SetTable(&fresh);
    w->OnLoadValues();
    const ParamRecord& loaded = fresh.params[static_cast<size_t>(freq.index)];
    EXPECT_FALSE(loaded.valueUnknown);
    EXPECT_TRUE(loaded.valueUnwritten);
    EXPECT_EQ(Cell(*w, RowOf(*w, loaded)), "12.34");
    EXPECT_EQ(Cell(*w, RowOf(*w, fresh.params[static_cast<size_t>(accel.index)])), "-");
}

TEST_F(Views, OptionEditorTakesOnlyListedOptionsAndOpensAtTheValue)
{
    ParamRecord& source = Rec(L"01.01");
    bench->sim().writeRegister(static_cast<uint16_t>(source.address - 1), 1);
    auto v = Open<CDialogParam>(1);
    const int row = RowOf(*v, source);
    // Unknown: nothing is offered as the current choice.
    prompts.optionText = "xyz";
    v->EditValue(row);
    EXPECT_EQ(prompts.optionInitial, QString());
    EXPECT_TRUE(source.valueUnknown);

    v->Grid()->SetChecked(row, true);
    ASSERT_TRUE(v->OnReadSelected());
    ASSERT_TRUE(WaitBatch(*v));
    EXPECT_EQ(Cell(*v, row), "1,Terminal");

    // Typed text that is no option: refused, nothing changes, and the write
    // sends the drive its own value back.
    prompts.refusals.clear();
    v->EditValue(row);
    EXPECT_EQ(prompts.optionInitial, "1,Terminal");
    EXPECT_EQ(prompts.refusals, QStringList{CDlgInputParaCB::NotAnOptionText()});
    EXPECT_EQ(source.value, 1);
    EXPECT_EQ(Cell(*v, row), "1,Terminal");
    prompts.messages.clear();
    ASSERT_TRUE(v->OnWriteSelected());
    ASSERT_TRUE(WaitBatch(*v));
    EXPECT_EQ(bench->Raw(source), 1);
    EXPECT_EQ(prompts.messages, QStringList{"Parameter write completion"});

    // The code alone picks its option.
    prompts.optionText = "2";
    v->EditValue(row);
    EXPECT_EQ(source.value, 2);
    EXPECT_EQ(Cell(*v, row), "2,Communication");
    prompts.messages.clear();
    ASSERT_TRUE(v->OnWriteSelected());
    ASSERT_TRUE(WaitBatch(*v));
    EXPECT_EQ(bench->Raw(source), 2);
    EXPECT_EQ(prompts.messages, QStringList{"Parameter write completion"});
}

TEST_F(Views, ExtraDecimalsShownRoundedAreWhatIsWritten)
{
    ParamRecord& freq = Rec(L"01.03");
    ASSERT_EQ(freq.exponent, -2);
    auto v = Open<CDialogParam>(1);
    const int row = RowOf(*v, freq);
    // Pressing OK once only shows the rounded value: nothing is taken.
    prompts.numberText = "35.555";
    v->EditValue(row);
    EXPECT_EQ(prompts.refusals, QStringList{CDlgInputPara::RoundedText("35.56", 2)});
    EXPECT_TRUE(freq.valueUnknown);
    EXPECT_EQ(Cell(*v, row), "-");

    // Taken at the second OK, as shown.
    prompts.okPresses = 2;
    v->EditValue(row);
    EXPECT_EQ(Cell(*v, row), "35.56");
    v->Grid()->SetChecked(row, true);
    ASSERT_TRUE(v->OnWriteSelected());
    ASSERT_TRUE(WaitBatch(*v));
    EXPECT_EQ(bench->Raw(freq), 3556);
    // The check pass finds what the cell shows.
    EXPECT_EQ(prompts.messages, QStringList{"Parameter write completion"});
    // The editor opens with the value at its places.
    v->EditValue(row);
    EXPECT_EQ(prompts.numberInitial, "35.56");
}

TEST_F(Views, SaveAsksBeforeReplacingAFile)
{
    QTemporaryDir dir;
    auto v = Open<CDialogParam>(1);
    ParamRecord& freq = Rec(L"01.03");
    freq.value = 10;
    freq.valueUnknown = false;
    v->Grid()->SetChecked(RowOf(*v, freq), true);
    const QString path = dir.path() + "/values.xls";
    auto savedValue = [&] {
        const valuefile::LoadResult r = valuefile::Load(path.toStdWString(), table());
        return r.entries.size() == 1 ? r.entries[0].value : -1.0;
    };

    prompts.file = dir.path() + "/values";  // the name gets ".xls" after the dialog
    v->OnSaveValues();
    EXPECT_EQ(prompts.saveAsks, 1);
    EXPECT_EQ(prompts.fileAsks, 0);  // the save dialog, not the open one
    EXPECT_TRUE(prompts.replaceAsks.isEmpty());  // a new file
    EXPECT_EQ(savedValue(), 10);

    // The file exists now: declined, it stays as it was.
    freq.value = 20;
    prompts.replaceAnswer = false;
    prompts.messages.clear();
    v->OnSaveValues();
    EXPECT_EQ(prompts.replaceAsks, QStringList{path});
    EXPECT_TRUE(prompts.messages.isEmpty());
    EXPECT_EQ(savedValue(), 10);

    prompts.replaceAnswer = true;
    prompts.file = path;
    v->OnSaveValues();
    EXPECT_EQ(prompts.replaceAsks.size(), 2);
    EXPECT_EQ(prompts.messages, QStringList{"The file is saved successfully."});
    EXPECT_EQ(savedValue(), 20);

    // Loading goes through the open dialog.
    v->OnLoadValues();
    EXPECT_EQ(prompts.fileAsks, 1);
    EXPECT_EQ(prompts.saveAsks, 3);
}

// Group 8 has sixteen rows, so a batch has 48 passes. All silent: twelve rows
// use four attempts each and get a message of their own; the last four are
// never reached and are named together in one more message.
TEST_F(Views, MDataRowsNotReachedShareOneMessage)
{
    // A short reply time-out: nothing answers anyway.
    port.reset();
    bench.reset();
    bench = std::make_unique<ptest::SimBench>(40);
    ASSERT_TRUE(bench->ok()) << bench->error();
    port = std::make_unique<ptest::SilencingPort>(bench->sim());
    bench->sim().setFault(drivesim::FaultKind::Silence);
    auto v = Open<CDialogMD>(8);
    ASSERT_EQ(v->RowCount(), 16);
    v->OnSelectAll();
    ASSERT_TRUE(v->OnReadSelected());
    ASSERT_TRUE(WaitBatch(*v));
    ASSERT_TRUE(ptest::WaitFor([&] { return prompts.messages.size() >= 13; }));
    EXPECT_EQ(port->reads, 48);
    auto pnu = [&](int row) { return Q(table().params[static_cast<size_t>(v->RowRecords()[static_cast<size_t>(row)])].pnu); };
    ASSERT_EQ(prompts.messages.size(), 13);
    for (int row = 0; row < 12; ++row)
        EXPECT_EQ(prompts.messages[row], "Parameter write read:P" + pnu(row) + "  device error code:255");
    QStringList lines;
    for (int row = 12; row < 16; ++row) lines << "Parameter write read:P" + pnu(row) + "  device error code:255";
    EXPECT_EQ(prompts.messages[12], lines.join('\n'));
    for (int row = 0; row < 16; ++row) EXPECT_EQ(Cell(*v, row), "-") << row;
}

TEST_F(Views, ClosingDuringLongBatchReturnsPromptly)
{
    bench->sim().setFault(drivesim::FaultKind::Silence);  // every request times out
    auto* v = Open<CDialogParam>(-1).release();
    v->OnSelectAll();
    const int rows = v->RowCount();
    ASSERT_GT(rows, 100);
    ASSERT_TRUE(v->OnReadSelected());
    ASSERT_TRUE(ptest::WaitFor([&] { return port->reads >= 2; }));
    CDataDlg::Destroy(v);  // as the main window does when another item is chosen
    // The batch stopped after the request in hand (hundreds were due), and
    // nothing it posted reaches the user once the view is gone.
    EXPECT_LT(port->reads, 10);
    QCoreApplication::processEvents();
    EXPECT_TRUE(prompts.messages.isEmpty());
}

TEST_F(Views, StoppedBatchDoesNotWriteIntoRefilledGrid)
{
    // As when the main window loads another table under the view: the
    // batch stops, the view refills, and what the batch posted before it
    // stopped must not land in the new rows.
    for (const wchar_t* pnu : {L"01.00", L"01.01", L"01.02"})
        bench->sim().writeRegister(static_cast<uint16_t>(Rec(pnu).address - 1), 1);
    auto v = Open<CDialogParam>(1);
    v->OnSelectAll();
    ASSERT_TRUE(v->OnReadSelected());
    // No event processing here: the batch's posts stay queued.
    QElapsedTimer t;
    t.start();
    while (port->reads < 5 && t.elapsed() < 20000) std::this_thread::yield();
    ASSERT_GE(port->reads, 5);
    v->StopWorkers();
    ParamTable fresh;
    ptest::LoadSampleTable(fresh);
    v->SetTable(&fresh);
    QCoreApplication::processEvents();
    ASSERT_TRUE(ptest::WaitFor([&] { return v->Workers().Running() == 0; }));
    QCoreApplication::processEvents();
    for (int row = 0; row < v->RowCount(); ++row) {
        const ParamRecord& r = fresh.params[static_cast<size_t>(v->RowRecords()[static_cast<size_t>(row)])];
        EXPECT_EQ(Cell(*v, row), Q(paramview::ShownValueText(fresh, r, 0))) << row;
    }
}

TEST_F(Views, ClosingWhileMDataMessageIsOpen)
{
    auto* v = Open<CDialogMD>(9).release();
    v->OnSelectAll();
    port->silent.insert(static_cast<uint16_t>(Rec(L"09.00").address - 1));
    // The view is replaced while its message box is open.
    bool destroyed = false;
    prompts.onMessage = [&](const QString&) {
        if (!destroyed) {
            destroyed = true;
            CDataDlg::Destroy(v);
        }
    };
    ASSERT_TRUE(v->OnReadSelected());
    ASSERT_TRUE(ptest::WaitFor([&] { return destroyed; }));
    EXPECT_EQ(prompts.messages.size(), 1);
    EXPECT_EQ(port->reads, 4);  // the batch did not go on after the view went
}

TEST_F(Views, ProgramMessageBoxGoesWithTheView)
{
    // The program's own message box, open while the main window replaces
    // the view: the box goes with its view and the batch ends.
    auto* v = new CDialogMD(9);
    v->SetRegisterPort(port.get());
    v->SetTable(&table());
    v->OnSelectAll();
    port->silent.insert(static_cast<uint16_t>(Rec(L"09.00").address - 1));
    bool destroyed = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!destroyed && qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            destroyed = true;
            CDataDlg::Destroy(v);
        }
    });
    poll.start(10);
    ASSERT_TRUE(v->OnReadSelected());
    ASSERT_TRUE(ptest::WaitFor([&] { return destroyed; }));
    EXPECT_EQ(port->reads, 4);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

}  // namespace

namespace {

// The program's own file dialogs: the save kind for saving (its button says
// so), the open kind for loading.
TEST(ValueFileDialogs, SaveKindForSavingOpenKindForLoading)
{
    CParamPrompts own;
    QTemporaryDir dir;
    for (bool save : {true, false}) {
        SCOPED_TRACE(save);
        bool seen = false;
        QFileDialog::AcceptMode mode = QFileDialog::AcceptOpen;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
                seen = true;
                mode = d->acceptMode();
                d->reject();
            }
        });
        poll.start(20);
        const QString chosen = save ? own.AskSaveValueFile(nullptr, dir.path(), "VKR Para(*.xls)", "*.xls")
                                    : own.AskValueFile(nullptr, dir.path(), "VKR Para(*.xls)", "*.xls");
        EXPECT_TRUE(seen);
        EXPECT_TRUE(chosen.isEmpty());
        EXPECT_EQ(mode, save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    }
}

// Without an application the views take the program's language tables: the
// sample ones beside the test program, in English.
TEST(ViewTexts, CaptionsFromTheLanguageTable)
{
    TheLanguageTables().Start();
    ASSERT_FALSE(TheLanguageTables().controlTexts().empty());
    ParamTable table;
    ptest::LoadSampleTable(table);
    CDialogParam v(1);
    v.SetTable(&table);
    EXPECT_EQ(v.Button(2001)->text(), QString::fromWCharArray(L"\u5168\u9009"));  // template caption
    // Without a connection the transfer buttons start disabled; load and save
    // keep their template state.
    EXPECT_FALSE(v.Button(2003)->isEnabled());
    EXPECT_FALSE(v.Button(2004)->isEnabled());
    EXPECT_TRUE(v.Button(2005)->isEnabled());
    v.show();
    // Keys that would end a dialog leave the view and its rows alone.
    QTest::keyClick(&v, Qt::Key_Escape);
    QTest::keyClick(v.Grid(), Qt::Key_Return);
    EXPECT_TRUE(v.isVisible());
    EXPECT_FALSE(v.Grid()->IsChecked(0));
    const std::pair<int, const char*> expected[] = {{2001, "Select All"},  {2002, "Clear Selection"},
                                                    {1077, "Select Different"}, {2003, "Read Selected"},
                                                    {2004, "Write Selected"}, {2005, "Load Param"},
                                                    {2006, "Save Param"}};
    for (const auto& [id, text] : expected) EXPECT_EQ(v.Button(id)->text(), text) << id;
    CDialogMD md(9);
    md.SetTable(&table);
    md.show();
    EXPECT_EQ(md.Button(2003)->text(), "Read Selected");
    EXPECT_EQ(md.Button(1077), nullptr);
    EXPECT_EQ(md.RowCount(), 22);
}

// ---- Compare, pending marks, undo ----

struct Compare : Views {
    QTemporaryDir dir;

    // A value file holding `values` (P-number -> value) for the rows of
    // group 1, written as a saved view would write it.
    QString File(const std::map<std::wstring, double>& values)
    {
        ParamTable t = table();
        const std::vector<int> rows = paramview::ParamViewRows(t, 1);
        std::vector<bool> checked(rows.size(), false);
        for (size_t i = 0; i < rows.size(); ++i) {
            ParamRecord& r = t.params[static_cast<size_t>(rows[i])];
            const auto it = values.find(r.pnu);
            if (it == values.end()) continue;
            r.value = it->second;
            r.valueUnknown = false;
            checked[i] = true;
        }
        const QString path = dir.path() + "/values.xls";
        EXPECT_TRUE(valuefile::Save(path.toStdWString(), t, rows, checked));
        return path;
    }
    void ReadAll(CDialogParam& v)
    {
        v.OnSelectAll();
        ASSERT_TRUE(v.OnReadSelected());
        ASSERT_TRUE(WaitBatch(v));
    }
    static bool Marked(const CDialogParam& v, int row) { return v.Grid()->Item(row, kColValue)->background.isValid(); }
    // The compare dialog's row of a P-number; -1 when not listed.
    static int DialogRow(const CDlgCompareFile& d, const QString& pnu)
    {
        for (int row = 0; row < d.RowCount(); ++row)
            if (d.Text(row, CDlgCompareFile::kColPnu) == pnu) return row;
        return -1;
    }
};

TEST_F(Compare, FileDifferingInThreeRowsTakeTwoWritesExactlyThose)
{
    auto v = Open<CDialogParam>(1);
    ReadAll(*v);
    ParamRecord& freq = Rec(L"01.03");
    ParamRecord& jog = Rec(L"01.16");
    ParamRecord& dir1 = Rec(L"01.09");
    const uint16_t jogBefore = bench->Raw(jog);
    prompts.file = File({{L"01.03", 12.34}, {L"01.16", 3.5}, {L"01.09", 1}});
    prompts.onCompare = [&](CDlgCompareFile& d) {
        const int f = DialogRow(d, "P01.03"), j = DialogRow(d, "P01.16"), o = DialogRow(d, "P01.09");
        ASSERT_TRUE(f >= 0 && j >= 0 && o >= 0);
        EXPECT_EQ(d.Text(f, CDlgCompareFile::kColFile), "12.34");
        EXPECT_EQ(d.Text(f, CDlgCompareFile::kColDrive), "50.00");
        EXPECT_EQ(d.Text(f, CDlgCompareFile::kColUnit), "Hz");
        EXPECT_EQ(d.Text(o, CDlgCompareFile::kColFile), "1,Opposite direction");
        EXPECT_TRUE(d.IsTicked(f) && d.IsTicked(j) && d.IsTicked(o));
        d.SetTicked(j, false);
        d.takeButton()->click();
    };
    v->OnCompareFile();
    ASSERT_EQ(prompts.compares, 1);
    // Taken, marked, checked; nothing written yet.
    const int before = port->writes;
    EXPECT_EQ(Cell(*v, RowOf(*v, freq)), "12.34");
    EXPECT_TRUE(freq.valueUnwritten && Marked(*v, RowOf(*v, freq)));
    EXPECT_FALSE(jog.valueUnwritten || Marked(*v, RowOf(*v, jog)));
    EXPECT_EQ(v->PendingLabel()->text(), "2 values not written");
    EXPECT_EQ(bench->Raw(freq), 5000);

    ASSERT_TRUE(v->OnWriteSelected());
    ASSERT_TRUE(WaitBatch(*v));
    EXPECT_EQ(port->writes - before, 2);
    EXPECT_EQ(bench->Raw(freq), 1234);
    EXPECT_EQ(bench->Raw(dir1), 1);
    EXPECT_EQ(bench->Raw(jog), jogBefore);
    // The write clears the marks.
    EXPECT_FALSE(freq.valueUnwritten || Marked(*v, RowOf(*v, freq)));
    EXPECT_EQ(v->PendingLabel()->text(), "");
}

// Rows whose drive value is unknown are offered to be read first; the
// compare then shows them with the drive's value.
TEST_F(Compare, UnknownDriveValuesAreReadFirst)
{
    auto v = Open<CDialogParam>(1);
    prompts.file = File({{L"01.03", 12.34}});
    int round = 0;
    prompts.onCompare = [&](CDlgCompareFile& d) {
        const int f = DialogRow(d, "P01.03");
        ASSERT_GE(f, 0);
        if (++round == 1) {
            EXPECT_EQ(d.Text(f, CDlgCompareFile::kColDrive), "-");
            EXPECT_FALSE(d.IsTickable(f));
            EXPECT_TRUE(d.readButton()->isEnabled());
            d.readButton()->click();
        } else {
            EXPECT_EQ(d.Text(f, CDlgCompareFile::kColDrive), "50.00");
            EXPECT_TRUE(d.IsTicked(f));
        }
    };
    v->OnCompareFile();
    ASSERT_TRUE(WaitBatch(*v));
    EXPECT_EQ(round, 2);
    EXPECT_EQ(port->writes, 0);
}

TEST_F(Compare, EditAndLoadShowThePendingMark)
{
    auto v = Open<CDialogParam>(1);
    ParamRecord& freq = Rec(L"01.03");
    ParamRecord& jog = Rec(L"01.16");
    prompts.numberText = "12.5";
    v->EditValue(RowOf(*v, freq));
    EXPECT_TRUE(Marked(*v, RowOf(*v, freq)));
    EXPECT_EQ(v->Grid()->Item(RowOf(*v, freq), kColValue)->toolTip, "Not written to the drive yet");
    EXPECT_EQ(v->PendingLabel()->text(), "1 value not written");
    prompts.file = File({{L"01.16", 3.5}});
    v->OnLoadValues();
    EXPECT_TRUE(jog.valueUnwritten && Marked(*v, RowOf(*v, jog)));
    EXPECT_EQ(v->PendingLabel()->text(), "2 values not written");
}

// Values with more decimals than the parameter keeps: the load rounds them
// as the register does, says so, and the registers get what the cells show.
TEST_F(Compare, ValueFileWithExtraDecimalsIsShownAndWrittenRounded)
{
    auto v = Open<CDialogParam>(1);
    ParamRecord& freq = Rec(L"01.03");
    ParamRecord& jog = Rec(L"01.16");
    prompts.file = File({{L"01.03", 35.555}, {L"01.16", 1.005}, {L"01.04", 9999}});
    v->OnLoadValues();
    ASSERT_EQ(prompts.messages.size(), 1);
    EXPECT_EQ(prompts.messages[0], "The file is loaded successfully.\n" + Q(valuefile::LoadReportText(2, 1)));
    EXPECT_EQ(Cell(*v, RowOf(*v, freq)), "35.56");
    EXPECT_EQ(Cell(*v, RowOf(*v, jog)), "1.00");
    EXPECT_EQ(Cell(*v, RowOf(*v, Rec(L"01.04"))), "-");  // refused: left as it was
    prompts.messages.clear();
    ASSERT_TRUE(v->OnWriteSelected());
    ASSERT_TRUE(WaitBatch(*v));
    EXPECT_EQ(bench->Raw(freq), 3556);
    EXPECT_EQ(bench->Raw(jog), 100);
    EXPECT_EQ(prompts.messages, QStringList{"Parameter write completion"});
}

TEST_F(Compare, UndoLastWriteRestoresTheDrivesValuesCheckedByReadBack)
{
    paramplan::TheWriteHistory().Clear();
    auto v = Open<CDialogParam>(1);
    ReadAll(*v);
    ParamRecord& freq = Rec(L"01.03");
    ParamRecord& jog = Rec(L"01.16");
    ParamRecord& dir1 = Rec(L"01.09");
    const uint16_t rawBefore[3] = {bench->Raw(freq), bench->Raw(jog), bench->Raw(dir1)};
    prompts.file = File({{L"01.03", 12.34}, {L"01.16", 3.5}, {L"01.09", 1}});
    v->OnCompareFile();
    ASSERT_TRUE(v->OnWriteSelected());
    ASSERT_TRUE(WaitBatch(*v));
    ASSERT_EQ(bench->Raw(jog), 350);
    ASSERT_EQ(paramplan::TheWriteHistory().Size(), 1u);

    prompts.messages.clear();
    const int before = port->writes;
    v->OnUndoLastWrite();
    ASSERT_EQ(prompts.confirms.size(), 1);
    EXPECT_TRUE(prompts.confirms[0].contains("P01.03: 12.34 -> 50.00")) << prompts.confirms[0].toStdString();
    EXPECT_TRUE(prompts.confirms[0].contains("P01.16: 3.50 -> ")) << prompts.confirms[0].toStdString();
    ASSERT_TRUE(WaitBatch(*v));
    EXPECT_EQ(port->writes - before, 3);
    EXPECT_EQ(bench->Raw(freq), rawBefore[0]);
    EXPECT_EQ(bench->Raw(jog), rawBefore[1]);
    EXPECT_EQ(bench->Raw(dir1), rawBefore[2]);
    // The check pass read every row back and found it as written.
    EXPECT_EQ(prompts.messages, QStringList{"Parameter write completion"});
    // The undo is not itself kept for undo; the history is used up.
    EXPECT_TRUE(paramplan::TheWriteHistory().Empty());
    v->OnUndoLastWrite();
    EXPECT_EQ(prompts.messages.last(), "There is no write to undo.");
}

}  // namespace
