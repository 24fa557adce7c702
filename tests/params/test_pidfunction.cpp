// The function view: the function list and workbooks, and the view's read,
// write and debug loop against the drive simulator on a pty.
#include "ControlIds.h"
#include "DeviceCatalogue.h"
#include "DialogFunPid.h"
#include "FunctionWorkbook.h"
#include "ParamsTestSupport.h"
#include "WideText.h"
#include "Workbook.h"

#include <QImage>
#include <QLineEdit>
#include <QPushButton>

#include <filesystem>
#include <variant>

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;

QString Q(const std::wstring& s) { return QString::fromStdWString(s); }

// One sheet's rows: B, C, D as the workbook holds them (text, or a number).
using CellValue = std::variant<std::wstring, double>;
struct Row {
    CellValue b, c, d;
};

bool PutCell(xls::Sheet* s, int row, int col, const CellValue& v)
{
    if (const auto* t = std::get_if<std::wstring>(&v)) return t->empty() || s->writeStr(row, col, t->c_str());
    return s->writeNum(row, col, std::get<double>(v));
}

// A function workbook: sheet 0 the settings, sheet 1 (when `watchSheet`) the
// watches, each with a heading row as the sample data has.
bool WriteFunctionBook(const std::wstring& path, const std::vector<Row>& settings, const std::vector<Row>& watches,
                       bool watchSheet = true)
{
    std::error_code ec;
    fs::create_directories(fs::path(wtext::ToUtf8(path)).parent_path(), ec);
    xls::Book* book = xlCreateBookW();
    bool ok = true;
    auto sheet = [&](const wchar_t* name, const std::vector<Row>& rows) {
        xls::Sheet* s = book->addSheet(name);
        ok = ok && s && s->writeStr(0, 1, L"Address") && s->writeStr(0, 2, L"X") && s->writeStr(0, 3, L"Y");
        for (size_t i = 0; ok && i < rows.size(); ++i) {
            const int r = static_cast<int>(i) + 1;
            ok = s->writeStr(r, 0, L"field") && PutCell(s, r, 1, rows[i].b) && PutCell(s, r, 2, rows[i].c) &&
                 PutCell(s, r, 3, rows[i].d);
        }
    };
    sheet(L"Setting", settings);
    if (watchSheet) sheet(L"Watch", watches);
    ok = ok && book->save(path.c_str());
    book->release();
    return ok;
}

std::wstring T(int n) { return std::to_wstring(n); }
Row R(int address, int x, int y) { return Row{T(address), T(x), T(y)}; }

// ---- function list and workbooks ---------------------------------------------------

TEST(FunctionWorkbook, SampleListAndPidLayout)
{
    const std::wstring program = ptest::SampleProgramDir();
    EXPECT_EQ(funview::LoadFunctionList(program), std::vector<std::wstring>{L"PID"});
    FunctionLayout layout;
    ASSERT_TRUE(funview::LoadFunctionWorkbook(funview::FunctionWorkbookPath(funview::FunctionFolder(program), L"PID"),
                                              &layout));
    ASSERT_EQ(layout.settings.size(), 8u);
    ASSERT_EQ(layout.watches.size(), 5u);
    EXPECT_EQ(layout.droppedRows, 0);
    // P13.01 at (60, 165) and P09.14 at (170, 105), as the sample's field table places them.
    ParamTable table;
    ptest::LoadSampleTable(table);
    EXPECT_EQ(funview::RecordOfAddress(table, layout.settings[0].address)->pnu, L"13.01");
    EXPECT_EQ(layout.settings[0].x, 60);
    EXPECT_EQ(layout.settings[0].y, 165);
    EXPECT_EQ(funview::RecordOfAddress(table, layout.watches[0].address)->pnu, L"09.14");
    EXPECT_EQ(layout.watches[0].x, 170);
    EXPECT_EQ(layout.watches[0].y, 105);
    for (const FunctionEntry& e : layout.settings) EXPECT_EQ(e.value, 0.0f);
}

TEST(FunctionWorkbook, EndRuleRowLimitAndList)
{
    QTemporaryDir dir;
    const std::wstring folder = (dir.path() + "/").toStdWString();
    // Eleven settings: the view has nine fields, the rest are left out. The
    // watches end at the row whose D is empty; a number cell counts as filled.
    std::vector<Row> settings;
    for (int i = 0; i < 11; ++i) settings.push_back(R(100 + i, 10 * i, 20 * i));
    const std::vector<Row> watches = {Row{T(7), 1.0, T(2)}, Row{T(8), T(3), std::wstring()}, R(9, 5, 6)};
    ASSERT_TRUE(WriteFunctionBook(folder + L"Function/F.xls", settings, watches));
    FunctionLayout layout;
    ASSERT_TRUE(funview::LoadFunctionWorkbook(folder + L"Function/F.xls", &layout));
    ASSERT_EQ(layout.settings.size(), 9u);
    EXPECT_EQ(layout.droppedRows, 2);
    EXPECT_EQ(layout.settings[8].address, 108);
    EXPECT_EQ(layout.settings[8].x, 80);
    EXPECT_EQ(layout.settings[8].y, 160);
    ASSERT_EQ(layout.watches.size(), 1u);
    EXPECT_EQ(layout.watches[0].address, 7);
    EXPECT_EQ(layout.watches[0].x, 1);

    // An empty B ends the list even when C and D are filled.
    ASSERT_TRUE(WriteFunctionBook(folder + L"Function/G.xls", {R(5, 1, 1), Row{std::wstring(), T(1), T(1)}, R(6, 2, 2)},
                                  {}, false));
    ASSERT_TRUE(funview::LoadFunctionWorkbook(folder + L"Function/G.xls", &layout));
    EXPECT_EQ(layout.settings.size(), 1u);
    EXPECT_TRUE(layout.watches.empty());

    EXPECT_FALSE(funview::LoadFunctionWorkbook(folder + L"Function/missing.xls", &layout));
    EXPECT_TRUE(layout.settings.empty());

    // The list: rows 0 on, up to the first empty cell; names that would lead
    // out of the function folder are not offered.
    xls::Book* book = xlCreateBookW();
    xls::Sheet* s = book->addSheet(L"Function");
    const wchar_t* names[] = {L"PID", L"../Other", L"a\\b", L"Pump & Fan", L"", L"After"};
    for (int i = 0; i < 6; ++i)
        if (*names[i]) s->writeStr(i, 0, names[i]);
    ASSERT_TRUE(book->save((folder + L"Function/function.xls").c_str()));
    book->release();
    EXPECT_EQ(funview::LoadFunctionList(folder), (std::vector<std::wstring>{L"PID", L"Pump & Fan"}));
    EXPECT_TRUE(funview::LoadFunctionList(folder + L"nowhere/").empty());
}

TEST(FunctionWorkbook, FieldTextsAndFieldNumbers)
{
    ParamTable table;
    ptest::LoadSampleTable(table);
    const ParamRecord* kp = &table.params[static_cast<size_t>(ptest::IndexOf(table, L"13.04"))];
    FunctionEntry e;
    e.address = kp->address;
    e.value = 12.34f;
    EXPECT_EQ(funview::FieldText(&table, e), L"12.34");
    e.address = 9;  // no parameter there
    EXPECT_EQ(funview::FieldText(&table, e), L"-");

    double v = 0;
    EXPECT_TRUE(funview::ParseFieldText(L" -12.5 ", &v));
    EXPECT_EQ(v, -12.5);
    EXPECT_TRUE(funview::ParseFieldText(L".5", &v));
    EXPECT_EQ(v, 0.5);
    EXPECT_TRUE(funview::ParseFieldText(L"1e2", &v));
    EXPECT_EQ(v, 100.0);
    for (const wchar_t* bad : {L"", L"  ", L"-", L"abc", L"12abc", L"1,5", L"1e", L"."})
        EXPECT_FALSE(funview::ParseFieldText(bad, &v)) << wtext::ToUtf8(bad);
}

// ---- the view against the simulated drive ------------------------------------------

struct FunctionView : ::testing::Test {
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
    ParamRecord& Rec(const std::wstring& pnu)
    {
        return table().params[static_cast<size_t>(ptest::IndexOf(table(), pnu))];
    }
    static uint16_t Reg(const ParamRecord& r) { return static_cast<uint16_t>(r.address - 1); }
    std::wstring Folder() const { return bench->folder() + L"Function/"; }

    std::unique_ptr<CDialogFunPid> Open(const std::wstring& name, const std::wstring& folder)
    {
        auto v = std::make_unique<CDialogFunPid>(name, nullptr, folder);
        v->SetPrompts(&prompts);
        v->SetRegisterPort(port.get());
        v->SetTable(&table());
        v->UpdateButtons(true);
        v->resize(1000, 640);
        return v;
    }
    // A function of the test's own in the bench's folder.
    std::unique_ptr<CDialogFunPid> OpenOwn(const std::vector<Row>& settings, const std::vector<Row>& watches,
                                           bool watchSheet = true)
    {
        EXPECT_TRUE(WriteFunctionBook(Folder() + L"Own.xls", settings, watches, watchSheet));
        return Open(L"Own", Folder());
    }
    Row At(const std::wstring& pnu, int x, int y) { return R(Rec(pnu).address, x, y); }

    bool WaitMessage(const QString& text, int timeoutMs = 30000)
    {
        return ptest::WaitFor([&] { return prompts.messages.contains(text); }, timeoutMs);
    }
    static bool WaitSignal(CDialogFunPid& v, void (CDialogFunPid::*signal)(), int timeoutMs = 30000)
    {
        bool seen = false;
        auto c = QObject::connect(&v, signal, [&] { seen = true; });
        const bool ok = ptest::WaitFor([&] { return seen; }, timeoutMs);
        QObject::disconnect(c);
        return ok;
    }
};

TEST_F(FunctionView, SampleFunctionReadsAndWritesItsSettings)
{
    auto v = Open(L"PID", funview::FunctionFolder(ptest::SampleProgramDir()));
    ASSERT_TRUE(v->WorkbookLoaded());
    const std::vector<FunctionEntry> settings = v->Settings();
    const std::vector<FunctionEntry> watches = v->Watches();
    ASSERT_EQ(settings.size(), 8u);
    ASSERT_EQ(watches.size(), 5u);
    for (int i = 0; i < funview::kMaxFields; ++i) {
        QLineEdit* s = v->SettingField(i);
        QLineEdit* w = v->WatchField(i);
        EXPECT_EQ(CtrlId(s), 1087 + i);
        EXPECT_EQ(CtrlId(w), 1097 + i);
        EXPECT_EQ(s->isHidden(), i >= 8) << i;
        EXPECT_EQ(w->isHidden(), i >= 5) << i;
        if (i < 8) EXPECT_EQ(s->pos(), QPoint(settings[static_cast<size_t>(i)].x, settings[static_cast<size_t>(i)].y));
        if (i < 5) EXPECT_EQ(w->pos(), QPoint(watches[static_cast<size_t>(i)].x, watches[static_cast<size_t>(i)].y));
        EXPECT_FALSE(s->isReadOnly());
        EXPECT_TRUE(w->isReadOnly());
    }
    EXPECT_EQ(v->SettingField(0)->pos(), QPoint(60, 165));
    EXPECT_FALSE(v->Button(CDialogFunPid::IDC_STOP_DEBUG)->isEnabled());
    // The picture lies under the fields at the view's top-left, as the file has it.
    const QImage picture(Q(v->PicturePath()));
    ASSERT_EQ(picture.size(), QSize(800, 600));
    const QImage shown = v->Canvas()->grab().toImage();
    for (const QPoint& p : {QPoint(2, 2), QPoint(30, 100), QPoint(340, 90), QPoint(700, 590)})
        EXPECT_EQ(shown.pixelColor(p), picture.pixelColor(p)) << p.x() << "," << p.y();

    // Settings on the drive that differ from their defaults.
    ASSERT_EQ(bench->sim().writeRegister(Reg(Rec(L"13.01")), 655), 0);   // 65.5 %
    ASSERT_EQ(bench->sim().writeRegister(Reg(Rec(L"13.06")), 1234), 0);  // 1.234 s
    ASSERT_TRUE(v->OnReadPara());
    ASSERT_TRUE(WaitSignal(*v, &CDialogFunPid::batchFinished));
    ASSERT_TRUE(WaitMessage("Parameter Read completion"));
    EXPECT_EQ(prompts.messages, QStringList{"Parameter Read completion"});
    // The timer shows the values within its second.
    ASSERT_TRUE(ptest::WaitFor([&] { return v->SettingField(0)->text() == "65.5"; }, 5000));
    const std::vector<FunctionEntry> read = v->Settings();
    for (size_t i = 0; i < read.size(); ++i) {
        const ParamRecord& r = *funview::RecordOfAddress(table(), read[i].address);
        const double expected = ptest::Engineering(bench->Raw(r), r);
        EXPECT_NEAR(read[i].value, expected, 1e-4) << wtext::ToUtf8(r.pnu);
        EXPECT_NEAR(r.value, expected, 1e-9) << wtext::ToUtf8(r.pnu);
        EXPECT_EQ(v->SettingField(static_cast<int>(i))->text(), Q(FormatByExponent(read[i].value, r.exponent)));
    }
    EXPECT_EQ(v->SettingField(3)->text(), "1.234");  // P13.06, exponent -3

    // A write lands on the register; the records keep what was read.
    prompts.messages.clear();
    v->SettingField(0)->setText("12.5");
    ASSERT_TRUE(v->OnWritePara());
    ASSERT_TRUE(WaitSignal(*v, &CDialogFunPid::batchFinished));
    ASSERT_TRUE(WaitMessage("Parameter Write completion"));
    EXPECT_EQ(prompts.messages, QStringList{"Parameter Write completion"});
    EXPECT_EQ(bench->Raw(Rec(L"13.01")), 125);
    EXPECT_EQ(bench->Raw(Rec(L"13.06")), 1234);
    EXPECT_NEAR(Rec(L"13.01").value, 65.5, 1e-9);
}

TEST_F(FunctionView, DebugLoopFollowsAChangingRegisterUntilStopped)
{
    auto v = OpenOwn({At(L"13.01", 10, 10)}, {At(L"13.04", 10, 100), At(L"13.05", 10, 140)});
    ASSERT_EQ(bench->sim().writeRegister(Reg(Rec(L"13.04")), 1234), 0);
    ASSERT_TRUE(v->OnDebug());
    EXPECT_TRUE(v->IsDebugging());
    for (int id : {CDialogFunPid::IDC_READ_PARA, CDialogFunPid::IDC_WRITE_PARA, CDialogFunPid::IDC_DEBUG})
        EXPECT_FALSE(v->Button(id)->isEnabled()) << id;
    EXPECT_TRUE(v->Button(CDialogFunPid::IDC_STOP_DEBUG)->isEnabled());
    ASSERT_TRUE(ptest::WaitFor([&] { return v->WatchField(0)->text() == "12.34"; }, 10000));
    EXPECT_EQ(v->WatchField(1)->text(), "2.00");  // P13.05 at its default
    // The drive's value changes; the next sweeps bring it.
    ASSERT_EQ(bench->sim().writeRegister(Reg(Rec(L"13.04")), 2345), 0);
    ASSERT_TRUE(ptest::WaitFor([&] { return v->WatchField(0)->text() == "23.45"; }, 10000));
    EXPECT_NEAR(Rec(L"13.04").value, 23.45, 1e-9);
    // Only the watches are read while debugging.
    EXPECT_TRUE(v->SettingField(0)->text().isEmpty());

    v->OnStopDebug();
    EXPECT_FALSE(v->IsDebugging());
    EXPECT_FALSE(v->Button(CDialogFunPid::IDC_STOP_DEBUG)->isEnabled());
    ASSERT_TRUE(WaitSignal(*v, &CDialogFunPid::debugEnded, 10000));
    for (int id : {CDialogFunPid::IDC_READ_PARA, CDialogFunPid::IDC_WRITE_PARA, CDialogFunPid::IDC_DEBUG})
        EXPECT_TRUE(v->Button(id)->isEnabled()) << id;
    const int reads = port->reads;
    ASSERT_EQ(bench->sim().writeRegister(Reg(Rec(L"13.04")), 1111), 0);
    ptest::WaitFor([] { return false; }, 1500);
    EXPECT_EQ(port->reads, reads);
    EXPECT_EQ(v->WatchField(0)->text(), "23.45");
    EXPECT_TRUE(prompts.messages.isEmpty());
}

TEST_F(FunctionView, StopDebugWhileAReadBlocksOnASilentDrive)
{
    auto v = OpenOwn({}, {At(L"13.04", 10, 100), At(L"13.05", 10, 140), At(L"13.06", 10, 180)});
    bench->sim().setFault(drivesim::FaultKind::Silence);
    ASSERT_TRUE(v->OnDebug());
    ASSERT_TRUE(ptest::WaitFor([&] { return port->reads >= 1; }, 10000));
    v->OnStopDebug();
    const int readsAtStop = port->reads;
    // The read in progress runs into its reply time-out; nothing follows it.
    ASSERT_TRUE(WaitSignal(*v, &CDialogFunPid::debugEnded, 10000));
    EXPECT_LE(port->reads, readsAtStop + 1);
    EXPECT_FALSE(v->Busy());
    EXPECT_TRUE(v->Button(CDialogFunPid::IDC_DEBUG)->isEnabled());
    // Closing the view while debugging on a silent drive ends the loop too.
    ASSERT_TRUE(v->OnDebug());
    ASSERT_TRUE(ptest::WaitFor([&] { return port->reads > readsAtStop + 1; }, 10000));
    v.reset();
    bench->sim().clearFaults();
}

TEST_F(FunctionView, SettingThatNeverAnswersIsReportedAfterThreeAttempts)
{
    auto v = OpenOwn({At(L"13.01", 10, 10), At(L"13.04", 10, 40)}, {});
    port->silent.insert(Reg(Rec(L"13.01")));
    ASSERT_EQ(bench->sim().writeRegister(Reg(Rec(L"13.04")), 4321), 0);
    int readsAtMessage = -1;
    prompts.onMessage = [&](const QString& m) {
        if (m.startsWith("Parameter read:")) readsAtMessage = port->reads;
    };
    ASSERT_TRUE(v->OnReadPara());
    ASSERT_TRUE(WaitSignal(*v, &CDialogFunPid::batchFinished));
    ASSERT_TRUE(WaitMessage("Parameter Read completion"));
    EXPECT_EQ(prompts.messages,
              (QStringList{"Parameter read:P13.01  device error code:255", "Parameter Read completion"}));
    EXPECT_EQ(readsAtMessage, 3);  // shown before the next entry is read
    EXPECT_EQ(port->reads, 4);
    ASSERT_TRUE(ptest::WaitFor([&] { return v->SettingField(1)->text() == "43.21"; }, 5000));
    // The setting that was not read shows no value that did not come from the drive.
    EXPECT_TRUE(v->SettingField(0)->text().isEmpty());
}

TEST_F(FunctionView, SilentDriveEndsBothBatchesWithOneMessage)
{
    port->withHealth = true;
    auto v = OpenOwn({At(L"13.01", 10, 10), At(L"13.04", 10, 40), At(L"13.06", 10, 70)}, {});
    ASSERT_TRUE(v->OnReadPara());  // settings not read are not written
    ASSERT_TRUE(WaitSignal(*v, &CDialogFunPid::batchFinished));
    ASSERT_TRUE(WaitMessage("Parameter Read completion"));
    ASSERT_TRUE(ptest::WaitFor([&] { return !v->SettingField(2)->text().isEmpty(); }, 5000));
    prompts.messages.clear();

    bench->sim().setFault(drivesim::FaultKind::Silence);
    ASSERT_TRUE(v->OnWritePara());
    ASSERT_TRUE(WaitSignal(*v, &CDialogFunPid::batchFinished));
    ASSERT_TRUE(ptest::WaitFor([&] { return !prompts.messages.isEmpty(); }));
    EXPECT_EQ(prompts.messages, QStringList{"The drive is not answering.\nWritten: -\nNot written: P13.01 P13.04 "
                                            "P13.06\nWritten, not read back: -"});
    EXPECT_EQ(port->writes, LinkHealth::kFailuresForSilence);

    // Already known silent: the read ends at its first failure.
    prompts.messages.clear();
    ASSERT_TRUE(v->OnReadPara());
    ASSERT_TRUE(WaitSignal(*v, &CDialogFunPid::batchFinished));
    ASSERT_TRUE(ptest::WaitFor([&] { return !prompts.messages.isEmpty(); }));
    EXPECT_EQ(prompts.messages, QStringList{"The drive is not answering. 3 parameters were not read."});
    EXPECT_EQ(port->reads, 3 + 1);  // the first batch's three, then one
    bench->sim().clearFault(drivesim::FaultKind::Silence);
}

TEST_F(FunctionView, WorkbookWithThreeSettingsAndNoWatches)
{
    auto v = OpenOwn({At(L"13.01", 30, 40), At(L"13.04", 130, 240), At(L"13.05", 500, 560)}, {});
    ASSERT_EQ(v->Settings().size(), 3u);
    EXPECT_TRUE(v->Watches().empty());
    const QPoint at[] = {{30, 40}, {130, 240}, {500, 560}};
    for (int i = 0; i < funview::kMaxFields; ++i) {
        EXPECT_EQ(v->SettingField(i)->isHidden(), i >= 3) << i;
        EXPECT_TRUE(v->WatchField(i)->isHidden()) << i;
        if (i < 3) {
            EXPECT_EQ(v->SettingField(i)->pos(), at[i]);
            EXPECT_FALSE(v->SettingField(i)->isReadOnly());
        }
    }
}

TEST_F(FunctionView, UnknownAddressAndFieldWithoutNumberAreNotSent)
{
    auto v = OpenOwn({R(9, 10, 10), At(L"13.01", 10, 40), At(L"13.04", 10, 70)}, {R(8, 10, 200)});
    EXPECT_EQ(v->SettingField(0)->text(), "-");
    EXPECT_TRUE(v->SettingField(0)->isReadOnly());
    EXPECT_EQ(v->WatchField(0)->text(), "-");
    ASSERT_TRUE(v->OnReadPara());
    ASSERT_TRUE(WaitSignal(*v, &CDialogFunPid::batchFinished));
    ASSERT_TRUE(WaitMessage("Parameter Read completion"));
    EXPECT_EQ(port->reads, 2);

    // A field without a number refuses the whole write, naming it.
    prompts.messages.clear();
    const uint16_t before = bench->Raw(Rec(L"13.01"));
    v->SettingField(1)->setText("5x");
    v->SettingField(2)->setText(" 3.5 ");
    EXPECT_FALSE(v->OnWritePara());
    EXPECT_EQ(prompts.messages, QStringList{"Parameter write refused:P13.01  not a number"});
    EXPECT_EQ(port->writes, 0);
    prompts.messages.clear();
    v->SettingField(1)->clear();  // an empty field is not written
    ASSERT_TRUE(v->OnWritePara());
    ASSERT_TRUE(WaitSignal(*v, &CDialogFunPid::batchFinished));
    ASSERT_TRUE(WaitMessage("Parameter Write completion"));
    EXPECT_EQ(prompts.messages, QStringList{"Parameter Write completion"});
    EXPECT_EQ(port->writes, 1);
    EXPECT_EQ(bench->Raw(Rec(L"13.01")), before);
    EXPECT_EQ(bench->Raw(Rec(L"13.04")), 350);

    // The debug loop skips the unknown address as well.
    const int reads = port->reads;
    ASSERT_TRUE(v->OnDebug());
    ptest::WaitFor([] { return false; }, 1200);
    v->OnStopDebug();
    ASSERT_TRUE(WaitSignal(*v, &CDialogFunPid::debugEnded, 10000));
    EXPECT_EQ(port->reads, reads);
    EXPECT_EQ(v->WatchField(0)->text(), "-");
}

TEST_F(FunctionView, MissingWorkbookAndPicture)
{
    auto v = Open(L"Nothing", Folder());
    EXPECT_FALSE(v->WorkbookLoaded());
    for (int i = 0; i < funview::kMaxFields; ++i) {
        EXPECT_TRUE(v->SettingField(i)->isHidden());
        EXPECT_TRUE(v->WatchField(i)->isHidden());
    }
    // The area of the missing picture says so instead.
    const QImage shown = v->Canvas()->grab().toImage();
    EXPECT_EQ(shown.pixelColor(400, 100), v->Canvas()->palette().color(QPalette::Base));
    // Nothing to read: the batch ends at once with its summary.
    ASSERT_TRUE(v->OnReadPara());
    ASSERT_TRUE(WaitMessage("Parameter Read completion"));
    EXPECT_EQ(port->reads, 0);
}

}  // namespace

TEST_F(FunctionView, WriteParaChecksEveryFieldFirstAndShowsWhatTheDriveHolds)
{
    // A setting with two decimals, and one whose maximum is below 150.
    const ParamRecord* fine = nullptr;
    const ParamRecord* bounded = nullptr;
    for (const ParamRecord& r : table().params) {
        if (r.address <= 0 || table().HasOptions(r.pnu)) continue;
        if (!fine && r.exponent == -2 && r.minValue <= 25 && r.maxValue >= 26) fine = &r;
        if (!bounded && r.exponent == 0 && r.maxValue < 150 && r.minValue <= 10 && r.maxValue >= 10) bounded = &r;
    }
    ASSERT_TRUE(fine && bounded);
    const std::wstring finePnu = fine->pnu, boundedPnu = bounded->pnu;
    auto v = OpenOwn({At(finePnu, 10, 10), At(boundedPnu, 10, 40)}, {});
    const uint16_t fineBefore = bench->Raw(Rec(finePnu)), boundedBefore = bench->Raw(Rec(boundedPnu));

    v->SettingField(0)->setText("25.555");
    v->SettingField(1)->setText("10");
    EXPECT_FALSE(v->OnWritePara());
    ASSERT_EQ(prompts.messages.size(), 1);
    EXPECT_TRUE(prompts.messages[0].startsWith(Q(L"Parameter write refused:P" + finePnu))) << prompts.messages[0].toStdString();
    EXPECT_EQ(v->SettingField(0)->text(), "25.56");
    v->SettingField(1)->setText("150");
    EXPECT_FALSE(v->OnWritePara());
    EXPECT_TRUE(prompts.messages.last().startsWith(Q(L"Parameter write refused:P" + boundedPnu)));
    EXPECT_EQ(port->writes, 0);
    EXPECT_EQ(bench->Raw(Rec(finePnu)), fineBefore);
    EXPECT_EQ(bench->Raw(Rec(boundedPnu)), boundedBefore);

    // As shown is as written; the fields then show what the drive holds.
    prompts.messages.clear();
    v->SettingField(1)->setText("10");
    ASSERT_TRUE(v->OnWritePara());
    ASSERT_TRUE(WaitSignal(*v, &CDialogFunPid::batchFinished));
    ASSERT_TRUE(WaitMessage("Parameter Write completion"));
    EXPECT_EQ(bench->Raw(Rec(finePnu)), 2556);
    EXPECT_EQ(bench->Raw(Rec(boundedPnu)), 10);
    // The field is filled from the drive, read back, in the parameter's format.
    v->SettingField(0)->setText("25.570");
    ASSERT_TRUE(v->OnWritePara());
    ASSERT_TRUE(WaitSignal(*v, &CDialogFunPid::batchFinished));
    ASSERT_TRUE(ptest::WaitFor([&] { return v->SettingField(0)->text() == "25.57"; }, 5000));
    EXPECT_EQ(bench->Raw(Rec(finePnu)), 2557);
}

TEST_F(FunctionView, ABatchAfterADeclinedOpenDataOfAnotherTypeUsesTheTableAsItIs)
{
    auto v = Open(L"PID", funview::FunctionFolder(ptest::SampleProgramDir()));
    ASSERT_TRUE(v->WorkbookLoaded());
    // An unwritten value makes Open Data of another type ask; the answer No
    // puts the table back as a copy, at other addresses in memory.
    Rec(L"13.01").valueUnwritten = true;
    const std::wstring other = bench->folder() + L"OTHER.xls";
    {
        xls::Book* book = xlCreateBookW();
        xls::Sheet* sh = book->addSheet(L"P");
        ASSERT_TRUE(sh && sh->writeStr(1, 2, L"OTHER") && sh->writeStr(2, 1, L"01***") &&
                    sh->writeStr(2, 2, L"Basic") && sh->writeStr(3, 0, L"1") && sh->writeStr(3, 1, L"01.00") &&
                    sh->writeStr(3, 2, L"Speed") && book->save(other.c_str()));
        book->release();
    }
    bool declined = false;
    EXPECT_FALSE(ChangeDeviceType(table(), other, bench->folder(), nullptr, [](int) { return false; }, &declined));
    ASSERT_TRUE(declined);

    ASSERT_EQ(bench->sim().writeRegister(Reg(Rec(L"13.01")), 655), 0);
    ASSERT_TRUE(v->OnReadPara());
    ASSERT_TRUE(WaitSignal(*v, &CDialogFunPid::batchFinished));
    ASSERT_TRUE(ptest::WaitFor([&] { return v->SettingField(0)->text() == "65.5"; }, 5000));
    EXPECT_NEAR(Rec(L"13.01").value, 65.5, 1e-9);
    v->SettingField(0)->setText("12.5");
    ASSERT_TRUE(v->OnWritePara());
    ASSERT_TRUE(WaitSignal(*v, &CDialogFunPid::batchFinished));
    EXPECT_EQ(bench->Raw(Rec(L"13.01")), 125);
    ASSERT_TRUE(v->OnDebug());
    ASSERT_TRUE(ptest::WaitFor([&] { return !v->WatchField(0)->text().isEmpty(); }, 5000));
    v->OnStopDebug();
    ASSERT_TRUE(WaitSignal(*v, &CDialogFunPid::debugEnded, 10000));
}
