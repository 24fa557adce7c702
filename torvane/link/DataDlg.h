// The common base of the data views the main window hosts (parameters,
// M-data, functions, monitors, history, download).
//
// A view transfers registers on worker threads (up to four slots), never on
// the GUI thread. Workers never touch widgets: they post to the GUI thread
// (PostToGui, PostProgress*), and those posts never block. `running` is the
// only control state shared with the workers: clearing it stops a batch
// after the attempt in progress.
//
// Destroying a view stops its workers first (StopWorkers: clear running,
// join). A derived view whose workers use its own members calls
// StopWorkers() at the start of its destructor, before those members go.
#pragma once

#include "BatchLoop.h"
#include "DevicePlugins.h"
#include "WorkerSlots.h"

#include <QDialog>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>

class CDlgProgess;
class LanguageTables;
class ParamTable;
struct ParamRecord;

class CDataDlg : public QDialog {
    Q_OBJECT
public:
    enum class Worker { Read, Write, Aux };

    explicit CDataDlg(QWidget* parent = nullptr);
    ~CDataDlg() override;

    // ---- Virtual operations, in this order ----
    // Sets the caption of every control whose identifier has a text in the
    // current language.
    virtual void ApplyLanguageTexts();
    // Stores the table; views also fill their grid.
    virtual void SetTable(ParamTable* table);
    // The normal-connected state changed; views enable their transfer buttons.
    virtual void UpdateButtons(bool normalConnected);
    // Sets or clears `running` (the progress dialog's cancel clears it).
    virtual void SetRunning(bool running);
    // Bodies of the worker threads.
    virtual void ReadWorker();
    virtual void WriteWorker();
    virtual void AuxWorker();
    // Shows the data grids in the font and colour of the user profile (the
    // font dialog's choice); called after that dialog and when a view opens.
    virtual void ApplyFontSettings();
    // The table is about to be loaded anew: the view puts what it shows of
    // the records (their check marks) into them, so that it carries over.
    virtual void StoreRowMarks();
    // Why the main window must leave the links and the view alone now (a
    // download or a drive check running); empty when it may go on.
    virtual QString BusyText() const { return QString(); }
    // The program is closing while BusyText() is not empty: true once the
    // view has stopped what runs (it may ask the user first); false keeps
    // the program open.
    virtual bool StopForClose() { return true; }
    // Selects and scrolls to the row of a record (the parameter search);
    // false when this view does not list it.
    virtual bool ShowRecord(int recordIndex) { return false; }
    // The program is closing while nothing runs: false keeps it open (the
    // view has asked the user, e.g. about a drive left in a state worth a
    // word).
    virtual bool ConfirmClose() { return true; }
    // The link's health changed (GUI thread); LinkHealth tells the state.
    virtual void LinkHealthChanged() {}

    // ---- Running state and workers ----
    bool IsRunning() const { return running_.load(); }
    const std::atomic<bool>& RunningFlag() const { return running_; }
    // Starts a worker thread on one of the worker operations; the caller sets
    // `running` first when the worker polls it. False when no slot is free.
    bool StartWorker(Worker which);
    bool StartWorker(std::function<void()> body);
    // Starts a batch (GUI thread): refused while a batch runs; otherwise the
    // previous progress dialog is discarded, a new one opens with the range
    // 0..progressUpper (and the caption, when given), `running` is set and
    // the worker starts.
    bool StartBatch(Worker which, int progressUpper, const QString& caption = QString());
    // Clears `running` and waits for every worker to end. Holds nothing the
    // workers need, so a worker finishing its last request runs to its end.
    void StopWorkers();
    WorkerSlots& Workers() { return workers_; }

    ParamTable* Table() const { return table_; }
    CDlgProgess* Progress() const { return progress_; }

    // ---- For the worker threads ----
    // Runs the batch loop over the rows with the running flag of this view.
    BatchLoop::Result RunBatchLoop(const std::vector<bool>& transfer, const BatchLoop::Hooks& hooks,
                                   int attemptsPerRow = 4);
    // End of a batch: clears `running` and posts the close request to the
    // batch's progress dialog.
    void FinishBatch();
    // Queues fn to run on the GUI thread; dropped when the view is gone by then.
    void PostToGui(std::function<void()> fn);
    // Progress of the batch this worker belongs to; a later batch's dialog is
    // never touched.
    void PostProgressStep(int n = 1);
    void PostProgressCaption(const QString& caption);
    void PostProgressClose();
    // A message box on the GUI thread, shown after the worker has moved on.
    void PostMessage(const QString& text);
    // Runs fn on the GUI thread and waits until it has returned (a message
    // box the worker must not go on past). fn is posted to the application,
    // not to the view, because it may run a modal loop during which the view
    // is destroyed; it gets the view, and is skipped when the view is gone or
    // `running` is cleared by then. False, without waiting any longer, when
    // `running` is cleared first: the GUI thread may be joining this worker.
    bool RunOnGuiAndWait(std::function<void(CDataDlg* view)> fn);

    // Register access (worker threads) with the station of the connection
    // settings as it was when the worker started.
    uint8_t Station() const { return station_.load(); }
    void SetStation(uint8_t station) { station_ = station; }
    bool ReadRecord(ParamRecord& record, uint8_t* err);
    bool ReadValue(const ParamRecord& record, double* value, uint8_t* err);
    bool WriteRecord(const ParamRecord& record, uint8_t* err);
    // The port the register calls go to (the register master by default).
    void SetRegisterPort(CRegisterPort* port) { port_ = port; }
    CRegisterPort& Port() const { return *port_; }

    // Stops the view's workers and deletes it (the main window's way to
    // replace a view).
    static void Destroy(CDataDlg* view);

    // The language tables of the application (the process-wide ones without one).
    static LanguageTables& Language();

protected:
    // First show: language texts applied (a view shows itself filling its frame).
    void showEvent(QShowEvent* event) override;
    virtual void OnInitDialog();
    // A view lives inside the main window, not as a dialog of its own:
    // Escape does not close it and Enter does not press one of its buttons.
    void keyPressEvent(QKeyEvent* event) override;
    void reject() override {}

    ParamTable* table_ = nullptr;
    std::atomic<bool> running_{false};

private:
    void RunWorker(Worker which);
    void RefreshStation();

    WorkerSlots workers_;
    CDlgProgess* progress_ = nullptr;
    int batchId_ = 0;                  // GUI thread: the current batch
    std::atomic<uint8_t> station_{1};
    CRegisterPort* port_;
    bool initialised_ = false;
};
