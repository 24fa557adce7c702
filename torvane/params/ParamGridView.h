// What the parameter view and the M-data view share: the button band and the
// eight-column grid of one group's records, the check states, starting a
// batch over the checked rows, and the ways a worker thread reaches the
// grid, the progress dialog and the user.
//
// Threads: the grid, the buttons and the row list belong to the GUI thread.
// A batch's worker gets its own copy of the rows and their transfer flags,
// changes the records' values and posts every grid update and message to the
// GUI thread; it never waits on the GUI except for a message box the batch
// goes on after, and that wait ends as soon as the batch is stopped (cancel,
// view closed). While a worker is alive the rows do not change: commands that
// would refill, reorder or edit them are ignored until it has ended.
#pragma once

#include "BatchLoop.h"
#include "DataDlg.h"
#include "ParamTransfer.h"

#include <QIcon>
#include <QString>

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

class CParamPrompts;
class CReportGrid;
class QPushButton;
struct ParamRecord;

class CParamGridView : public CDataDlg {
    Q_OBJECT
public:
    enum {
        IDC_SELECT_ALL = 2001,
        IDC_CLEAR_SELECTION = 2002,
        IDC_SELECT_DIFFERENT = 1077,
        IDC_READ_SELECTED = 2003,
        IDC_WRITE_SELECTED = 2004,
        IDC_LOAD_VALUES = 2005,
        IDC_SAVE_VALUES = 2006,
        IDC_GRID = 1002,
    };
    static constexpr int kGridTop = 80;

    ~CParamGridView() override;

    int selection() const { return selection_; }
    CReportGrid* Grid() const { return grid_; }
    // Record index of every grid row, in grid order.
    const std::vector<int>& RowRecords() const { return rows_; }
    int RowCount() const { return static_cast<int>(rows_.size()); }
    QPushButton* Button(int id) const;

    // Stores the table and fills the grid for the view's selection.
    void SetTable(ParamTable* table) override;
    bool ShowRecord(int recordIndex) override;
    // The control texts, and the grid's column captions in the language shown.
    void ApplyLanguageTexts() override;

    // Who answers the view's questions (the process-wide prompts by default).
    void SetPrompts(CParamPrompts* prompts) { prompts_ = prompts; }
    CParamPrompts& Prompts() const;

    // A worker of this view is alive (a batch runs or is finishing).
    bool Busy() const;

    // Commands shared by both views.
    virtual void OnSelectAll() = 0;
    void OnClearSelection();
    // Read selected; false when no batch was started.
    bool OnReadSelected();

signals:
    // A batch's worker has finished its last post (tests wait for it).
    void batchFinished();

protected:
    CParamGridView(int selection, QWidget* parent, bool editableValues);

    void OnInitDialog() override;
    void resizeEvent(QResizeEvent* event) override;

    QPushButton* AddButton(int id, const QString& caption, std::function<void()> command);
    // A widget of the band that is no button (a status line), placed after
    // the buttons added so far.
    void AddBandWidget(QWidget* widget);
    // Places the buttons in the band at the top for a view this wide; the
    // grid's top (kGridTop, or lower when the buttons need more rows).
    int LayoutBand(int viewWidth);
    // Narrows the name and value columns in a narrow grid (FitColumnWidths).
    void FitColumns();
    // The records this view shows for its selection.
    virtual std::vector<int> SelectRows() const = 0;
    // The check state a row starts with.
    virtual bool InitialCheck(const ParamRecord& record) const = 0;
    // A check box the user toggled.
    virtual void OnCheckToggled(int row) {}

    void FillGrid();
    void ShowRowTexts(int row);
    ParamRecord* RecordOfRow(int row) const;
    std::vector<bool> CheckStates() const;
    int LanguageIndex() const;

    // Starts a batch over the rows shown: their check states become the
    // transfer flags of the worker. Refused while a worker is alive.
    bool BeginBatch(Worker which, int progressUpper, const QString& caption = QString());

    // ---- For the worker ----
    struct BatchRows {
        std::vector<int> records;    // record index per row
        std::vector<bool> transfer;  // check state per row when the batch started
        int generation = 0;          // of the grid rows the batch was started on
    };
    // The rows of the batch in hand (read by its worker).
    const BatchRows& Batch() const { return batch_; }
    // The worker leaves a row out of its batch before the loop starts.
    void LeaveOutOfBatch(int row) { batch_.transfer[static_cast<size_t>(row)] = false; }
    ParamRecord& BatchRecord(int row) const;
    // The read batch both views run: a row read shows its value text; a row
    // given up (or not reached) shows "-", its value counts as unknown, and it
    // is handed to `givenUp` with the
    // error byte of its last attempt, or of the failure that used up the
    // passes. With `unreached`, the rows not reached go there instead, all
    // together after the loop. Ends the batch with the grid redrawn.
    using RowErrors = std::vector<std::pair<int, uint8_t>>;
    // Returns the message of a batch the link's loss ended (its rows are
    // left unknown), empty otherwise.
    std::wstring RunReadRows(const std::function<void(int row, uint8_t err)>& givenUp,
                             const std::function<void(const RowErrors& rows)>& unreached = nullptr);
    // The batch's rows and this view's port, station and running flag, as
    // the transfer batches take them.
    paramxfer::Rows TransferRows() const;
    paramxfer::Target TransferTarget() const;
    void PostValueText(int row, const std::wstring& text);
    void PostRedraw();
    // A message box after the worker has moved on.
    void PostMessageBox(const QString& text);
    // A message box the worker waits for; returns false when the wait ended
    // because the batch was stopped.
    bool WaitForMessageBox(const QString& text);
    // The worker's last post.
    void PostFinished();

    int selection_;
    bool editableValues_;
    CReportGrid* grid_ = nullptr;
    std::vector<int> rows_;
    // Counts every change of the row list: a batch's posts that arrive after
    // the rows were refilled or removed no longer name the same records.
    int gridGeneration_ = 0;
    QIcon editIcon_;

private:
    std::map<int, QPushButton*> buttons_;
    std::vector<QWidget*> buttonOrder_;
    int gridTop_ = kGridTop;
    CParamPrompts* prompts_ = nullptr;
    BatchRows batch_;
};
