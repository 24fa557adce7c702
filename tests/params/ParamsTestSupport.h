// Helpers of the parameter view tests: answers to the views' questions,
// bounded waits on the event loop, the sample parameter table, and a drive
// simulator on a pseudo-terminal with the application connected to it.
#pragma once

#include "DataDlg.h"
#include "DevicePlugins.h"
#include "LinkHealth.h"
#include "DeviceConnection.h"
#include "LanguageTables.h"
#include "ParamPrompts.h"
#include "ParamTable.h"
#include "Simulator.h"
#include "TorvaneApp.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <memory>
#include <ostream>
#include <set>
#include <string>

// Readable QStrings in failure messages.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace ptest {

// The program folder with the sample data (Parameter/TV380.xls ...).
inline std::wstring SampleProgramDir() { return QString(TORVANE_SAMPLE_PROGRAM_DIR).toStdWString(); }
inline std::wstring SampleWorkbook() { return SampleProgramDir() + L"Parameter/TV380.xls"; }

inline void LoadSampleTable(ParamTable& table)
{
    ASSERT_TRUE(table.Load(SampleWorkbook())) << table.lastError();
}

// Runs the event loop until pred holds or timeoutMs pass; the result of pred.
inline bool WaitFor(const std::function<bool()>& pred, int timeoutMs = 20000)
{
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > timeoutMs) return pred();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// Answers of a test: every message is recorded; a file dialog gives `file`;
// the editors take `numberText` / `optionText` as if typed and press OK (the
// number editor up to `okPresses` times while it stays open); a file that
// would be replaced is replaced when `replaceAnswer` says so.
class TestPrompts : public CParamPrompts {
public:
    QStringList messages;
    std::function<void(const QString&)> onMessage;
    QString file;
    QString numberText;
    QString optionText;
    QStringList refusals;
    QStringList optionEntries;
    QString editorTitle;
    QString optionInitial;  // the option editor's text as it opened
    QString numberInitial;  // the number editor's field as it opened
    int okPresses = 1;
    int fileAsks = 0;
    int saveAsks = 0;
    QStringList replaceAsks;
    bool replaceAnswer = true;

    void ShowMessage(QWidget*, const QString& text) override
    {
        messages << text;
        if (onMessage) onMessage(text);
    }
    QString AskValueFile(QWidget*, const QString&, const QString& filterText, const QString& pattern) override
    {
        ++fileAsks;
        lastFilter = filterText + QStringLiteral("|") + pattern;
        return file;
    }
    QString AskSaveValueFile(QWidget*, const QString&, const QString& filterText, const QString& pattern) override
    {
        ++saveAsks;
        lastFilter = filterText + QStringLiteral("|") + pattern;
        return file;
    }
    bool ConfirmReplace(QWidget*, const QString& path) override
    {
        replaceAsks << path;
        return replaceAnswer;
    }
    bool RunNumberDialog(CDlgInputPara& dialog) override;
    bool RunOptionDialog(CDlgInputParaCB& dialog) override;
    // The compare dialog: `onCompare` ticks and presses what a test wants;
    // without it the rows ticked at the start are taken.
    std::function<void(CDlgCompareFile&)> onCompare;
    int compares = 0;
    void RunCompareDialog(CDlgCompareFile& dialog) override;
    // Questions: recorded, answered with `confirmAnswer`.
    QStringList confirms;
    bool confirmAnswer = true;
    bool Confirm(QWidget*, const QString& text) override
    {
        confirms << text;
        return confirmAnswer;
    }

    QString lastFilter;
};

// Link prompts that never open a window.
class QuietLinkPrompts : public CLinkPrompts {
public:
    void ShowMessage(const std::wstring&) override {}
    void EditSerialSettings() override {}
    void UpdateStatusBar() override {}
};

// Forwards to the register master, but makes the simulator stay silent on
// the requests for the registers in `silent` (each request is sent and gets
// no reply, so the master's time-out decides).
class SilencingPort : public CRegisterPort {
public:
    SilencingPort(drivesim::Simulator& sim) : sim_(sim) {}
    std::set<uint16_t> silent;
    std::atomic<int> reads{0};
    std::atomic<int> writes{0};
    // Passes the link's health on, so that batches may end when the drive
    // stops answering (off: the batch rules of a port without a link).
    bool withHealth = false;

    LinkHealth* Health() override { return withHealth ? ModbusPort().Health() : nullptr; }

    bool ProcRead(uint8_t station, uint16_t reg, uint8_t* value, uint8_t* err) override
    {
        ++reads;
        Arm(reg);
        return ModbusPort().ProcRead(station, reg, value, err);
    }
    bool ProcWrite(uint8_t station, uint16_t reg, uint8_t* value, uint8_t* err) override
    {
        ++writes;
        Arm(reg);
        return ModbusPort().ProcWrite(station, reg, value, err);
    }

private:
    void Arm(uint16_t reg)
    {
        if (silent.count(reg)) {
            drivesim::FaultSetting s;
            s.active = true;
            s.remaining = 1;
            sim_.setFault(drivesim::FaultKind::Silence, s);
        }
    }
    drivesim::Simulator& sim_;
};

// A simulated TV380 drive on a pty, and the application connected to it in
// normal mode with a short reply time-out.
class SimBench {
public:
    static constexpr int kPort = 9;

    SimBench(int replyTimeoutMs = 150);
    ~SimBench();

    bool ok() const { return ok_; }
    const std::string& error() const { return error_; }
    drivesim::Simulator& sim() { return *sim_; }
    CTorvaneApp& app() { return *app_; }
    ParamTable& table() { return table_; }
    const std::wstring& folder() const { return folder_; }

    // The simulator's register of a record.
    uint16_t Raw(const ParamRecord& r);
    // Requests the simulator has served so far.
    long Requests() { return sim_->stats().requests; }

private:
    bool ok_ = false;
    std::string error_;
    QTemporaryDir dir_;
    std::wstring folder_;
    std::unique_ptr<drivesim::Simulator> sim_;
    std::unique_ptr<LanguageTables> language_;
    std::unique_ptr<CTorvaneApp> app_;
    QuietLinkPrompts linkPrompts_;
    ParamTable table_;
};

// Engineering value of a raw register word, computed here from the table's
// rules (signed when min < 0, scaled by the exponent).
double Engineering(uint16_t raw, const ParamRecord& r);

// A workbook as /usr/bin/python3 with xlrd reads it (value_file_xlrd.py):
// {"sheets": [...], "rows": [[{"type", "value"}, ...], ...]}; an empty object
// with *error set when the script failed.
QJsonObject ReadWithXlrd(const QString& path, std::string* error);

// Index of a record by its PNU text ("01.03"); -1 when none.
int IndexOf(const ParamTable& table, const std::wstring& pnu);

}  // namespace ptest
