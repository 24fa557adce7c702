// The function view: one drive function (such as the PID controller) as a
// picture with value fields laid over it. A column of up to nine settings
// the user reads, edits and writes, and a column of up to nine watched values
// a debug loop refreshes once a second. Workbook and picture come from the
// "Function/" folder of the program folder, named after the function.
//
// Threads: the fields and buttons belong to the GUI thread. The read and
// write batches and the debug loop run on a worker of the view, one at a time
// (the register link serves one request at a time); they store what they read
// in the entries' values, which a 1000 ms timer puts into the fields. The
// debug loop runs while `debugging` and the view's running flag are both set,
// so closing the view or disconnecting (which stop the workers) ends it too.
#pragma once

#include "DataDlg.h"
#include "FunctionWorkbook.h"
#include "LinkHealth.h"

#include <QString>

#include <atomic>
#include <map>
#include <optional>
#include <mutex>
#include <string>
#include <vector>

class CParamPrompts;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QTimer;

class CDialogFunPid : public CDataDlg {
    Q_OBJECT
public:
    enum {
        IDC_READ_PARA = 1084,
        IDC_WRITE_PARA = 1085,
        IDC_DEBUG = 1086,
        IDC_STOP_DEBUG = 1096,
        IDC_FIRST_SETTING = 1087,  // 1087..1095, editable
        IDC_FIRST_WATCH = 1097,    // 1097..1105, read-only
    };
    static constexpr int kTimerMs = 1000;
    static constexpr int kAttempts = 3;  // a failing entry is given up at its third failure
    static constexpr int kFieldWidth = 80;
    static constexpr int kFieldHeight = 22;
    // The picture and its fields. A view area smaller than this scrolls; the
    // buttons stand in a bar above it and never scroll out of reach.
    static constexpr int kCanvasWidth = 810;
    static constexpr int kCanvasHeight = 610;
    static constexpr int kButtonBarHeight = 44;

    // functionFolder: where "<name>.xls" and "<name>.bmp" are; empty: the
    // "Function/" folder of the program folder.
    explicit CDialogFunPid(const std::wstring& functionName, QWidget* parent = nullptr,
                           const std::wstring& functionFolder = std::wstring());
    ~CDialogFunPid() override;

    // Stores the table and finds the records of the entries.
    void SetTable(ParamTable* table) override;
    void UpdateButtons(bool normalConnected) override;
    void ReadWorker() override;
    void WriteWorker() override;
    void AuxWorker() override;

    // The buttons' commands; false when nothing was started.
    bool OnReadPara();
    bool OnWritePara();
    bool OnDebug();
    void OnStopDebug();
    // The 1000 ms timer's work.
    void OnTimer();

    const std::wstring& functionName() const { return functionName_; }
    const std::wstring& functionFolder() const { return functionFolder_; }
    std::wstring PicturePath() const;
    bool WorkbookLoaded() const { return loaded_; }
    // The entries with their current values.
    std::vector<FunctionEntry> Settings() const;
    std::vector<FunctionEntry> Watches() const;
    QLineEdit* SettingField(int i) const { return settingFields_[static_cast<size_t>(i)]; }
    QLineEdit* WatchField(int i) const { return watchFields_[static_cast<size_t>(i)]; }
    QPushButton* Button(int id) const;
    // What the picture, the fields and the buttons are drawn on.
    QWidget* Canvas() const { return canvas_; }
    bool IsDebugging() const { return debugging_.load(); }
    // A batch or the debug loop is still on its worker.
    bool Busy() const { return workerAlive_; }

    void SetPrompts(CParamPrompts* prompts) { prompts_ = prompts; }
    CParamPrompts& Prompts() const;

signals:
    // A read or write batch has made its last post (its summary is posted).
    void batchFinished();
    // The debug loop has ended.
    void debugEnded();

protected:
    void OnInitDialog() override;
    void resizeEvent(QResizeEvent* event) override;
    // Paints the picture under the canvas's fields.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The port's link no longer answers; *state says how.
    bool LinkGone(LinkHealth::State* state);
    enum class Column { Settings, Watches };
    void OnReadParaCommand();
    void OnWriteParaCommand();
    void OnDebugCommand();
    QPushButton* AddButton(int id, const QString& caption, int index, void (CDialogFunPid::*command)());
    void PaintPicture(QWidget* canvas);
    void PlaceFields(std::vector<QLineEdit*>& fields, const std::vector<FunctionEntry>& entries);
    void ShowValues(Column column);
    void RefreshButtons();
    bool BeginWorker(Worker which, bool batch);
    void WorkerEnded(bool batch);
    // Copies of the records of one column's entries, looked up by address in
    // the table as it is now; none for an address without a record. A batch
    // works on these, never on the table, which Open Data or a language
    // switch may load anew meanwhile.
    std::vector<std::optional<ParamRecord>> RecordsOf(const std::vector<FunctionEntry>& entries) const;
    // A value read from the drive goes into the table's record of the
    // address as the table is then (GUI thread).
    void PostRecordValue(int32_t address, double value);
    void StoreValue(Column column, int i, double value);
    bool SleepRestOfSweep(int elapsedMs);

    std::wstring functionName_;
    std::wstring functionFolder_;
    bool loaded_ = false;
    mutable std::mutex valuesMu_;      // the entries' values (GUI thread and worker)
    std::vector<FunctionEntry> settings_;
    std::vector<FunctionEntry> watches_;
    // Settings the last read batch read: only their fields take the values,
    // a field is never filled with a value that did not come from the drive.
    std::vector<bool> settingsRead_;
    // The records of the batch or debug loop on the worker, taken when it
    // starts.
    std::vector<std::optional<ParamRecord>> settingRecords_;
    std::vector<std::optional<ParamRecord>> watchRecords_;
    // Write batch: the checked values of the fields that held one, taken
    // when it starts.
    std::vector<std::optional<double>> writeValues_;
    QScrollArea* scroll_ = nullptr;
    QWidget* canvas_ = nullptr;
    std::vector<QLineEdit*> settingFields_;
    std::vector<QLineEdit*> watchFields_;
    std::map<int, QPushButton*> buttons_;
    QTimer* timer_ = nullptr;
    std::atomic<bool> valuesRead_{false};
    std::atomic<bool> debugging_{false};
    bool connected_ = false;
    bool workerAlive_ = false;  // GUI thread
    CParamPrompts* prompts_ = nullptr;
};
