#include "ParamsTestSupport.h"

#include "DlgCompareFile.h"
#include <QPushButton>

#include "DlgInputPara.h"
#include "WideText.h"

#include <QComboBox>
#include <QJsonDocument>
#include <QProcess>
#include <QLineEdit>
#include <QPushButton>

#include <cmath>

namespace ptest {

bool TestPrompts::RunNumberDialog(CDlgInputPara& dialog)
{
    dialog.refusal = [this](QWidget*, const QString& text) { refusals << text; };
    dialog.show();
    editorTitle = dialog.windowTitle();
    numberInitial = dialog.field()->text();
    dialog.field()->setText(numberText);
    for (int i = 0; i < okPresses && dialog.isVisible(); ++i) dialog.okButton()->click();
    const bool accepted = !dialog.isVisible() && dialog.result() == QDialog::Accepted;
    dialog.hide();
    return accepted;
}

bool TestPrompts::RunOptionDialog(CDlgInputParaCB& dialog)
{
    dialog.refusal = [this](QWidget*, const QString& text) { refusals << text; };
    dialog.show();
    editorTitle = dialog.windowTitle();
    optionInitial = dialog.list()->currentText();
    optionEntries.clear();
    for (int i = 0; i < dialog.list()->count(); ++i) optionEntries << dialog.list()->itemText(i);
    dialog.list()->setEditText(optionText);
    dialog.okButton()->click();
    const bool accepted = !dialog.isVisible() && dialog.result() == QDialog::Accepted;
    dialog.hide();
    return accepted;
}

SimBench::SimBench(int replyTimeoutMs)
{
    if (!dir_.isValid()) {
        error_ = "no temporary folder";
        return;
    }
    folder_ = (dir_.path() + QStringLiteral("/")).toStdWString();
    if (!table_.Load(SampleWorkbook())) {
        error_ = "sample table: " + table_.lastError();
        return;
    }
    drivesim::SimOptions o;
    o.bootSeconds = 0.05;
    o.startMode = drivesim::Mode::Normal;
    if (std::getenv("DRIVESIM_TEST_LOG"))
        o.log = [](int, const std::string& l) { std::fprintf(stderr, "sim %s\n", l.c_str()); };
    std::string err;
    if (!drivesim::loadParamWorkbook(wtext::ToUtf8(SampleWorkbook()), &o.params, &err)) {
        error_ = "simulator workbook: " + err;
        return;
    }
    sim_ = std::make_unique<drivesim::Simulator>(o);
    if (!sim_->start(&err)) {
        error_ = "simulator: " + err;
        return;
    }
    const std::string var = "TORVANE_COM" + std::to_string(kPort);
    setenv(var.c_str(), sim_->slavePath().c_str(), 1);

    language_ = std::make_unique<LanguageTables>(folder_);
    app_ = std::make_unique<CTorvaneApp>(folder_, language_.get());
    app_->SetPrompts(&linkPrompts_);
    ConnectionSettings& s = app_->Settings();
    s.COMID = std::to_wstring(kPort);
    s.bautRate = L"9600";
    s.DataBit = L"8";
    s.Parity = L"2,EVEN,\u5076";
    s.devAddr = L"1";
    s.OutTime = std::to_wstring(replyTimeoutMs);
    s.CmdBay = L"200";
    if (!app_->ConnectNormal()) {
        error_ = "the application did not connect to the simulator";
        return;
    }
    ok_ = true;
}

SimBench::~SimBench()
{
    app_.reset();
    if (sim_) sim_->stop();
}

uint16_t SimBench::Raw(const ParamRecord& r)
{
    uint16_t v = 0;
    sim_->readRegister(static_cast<uint16_t>((r.address - 1) & 0xFFFF), &v);
    return v;
}

double Engineering(uint16_t raw, const ParamRecord& r)
{
    const double n = r.minValue < 0 ? static_cast<double>(static_cast<int16_t>(raw)) : static_cast<double>(raw);
    switch (r.exponent) {
    case -1: return n / 10.0;
    case -2: return n / 100.0;
    case -3: return n / 1000.0;
    default: return n;
    }
}

QJsonObject ReadWithXlrd(const QString& path, std::string* error)
{
    QProcess py;
    py.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral(TORVANE_PARAMS_TEST_DIR "/value_file_xlrd.py"), path});
    if (!py.waitForFinished(30000) || py.exitStatus() != QProcess::NormalExit || py.exitCode() != 0) {
        *error = "xlrd: " + py.readAllStandardError().toStdString();
        return {};
    }
    return QJsonDocument::fromJson(py.readAllStandardOutput()).object();
}

int IndexOf(const ParamTable& table, const std::wstring& pnu)
{
    for (const ParamRecord& r : table.params)
        if (r.pnu == pnu) return r.index;
    return -1;
}

}  // namespace ptest

void ptest::TestPrompts::RunCompareDialog(CDlgCompareFile& dialog)
{
    ++compares;
    if (onCompare) {
        onCompare(dialog);
        return;
    }
    if (dialog.takeButton()->isEnabled()) dialog.takeButton()->click();
}
