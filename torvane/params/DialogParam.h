// The parameter view: the records of one group, one subgroup or all groups
// (selection -1) in a grid with a check box per row. The user edits values
// in the grid, reads and writes the checked parameters from and to the drive,
// narrows the grid to the parameters that differ from their defaults, and
// saves and loads parameter value files.
#pragma once

#include "ParamGridView.h"
#include "ValueFile.h"

#include <atomic>

class QLabel;

class CDialogParam : public CParamGridView {
    Q_OBJECT
public:
    // selection: the group or subgroup number of the tree item, -1 for all.
    enum { IDC_COMPARE_FILE = 2060, IDC_UNDO_WRITE = 2061, IDC_PENDING = 2062 };

    explicit CDialogParam(int selection, QWidget* parent = nullptr);
    ~CDialogParam() override;

    void SetTable(ParamTable* table) override;
    void UpdateButtons(bool normalConnected) override;
    void StoreRowMarks() override;
    void ReadWorker() override;
    void WriteWorker() override;

    // Commands (buttons 2001, 2002, 1077, 2003, 2004, 2005, 2006).
    void OnSelectAll() override;
    void OnSelectDifferent();
    bool OnWriteSelected();
    void OnLoadValues();
    void OnSaveValues();
    // Compare with a file: asks for a value file and shows where the drive,
    // the file and the defaults differ; the rows taken are set, not written.
    void OnCompareFile();
    // Undo the last write: shows what it restores, then writes the drive's
    // values from before that write back, with the read-back check.
    void OnUndoLastWrite();
    // Edited, loaded or taken values not yet written, in the whole table.
    int PendingCount() const;
    QLabel* PendingLabel() const { return pending_; }
    // A click on the button of a row's Value cell: the editor opens shortly
    // after (the grid finishes its click first).
    void OnValueButton(int row);
    // The editor of a row's value, at once.
    void EditValue(int row);

    // The folder of the value files (below the program folder).
    QString ValueFolder() const;

protected:
    std::vector<int> SelectRows() const override;
    bool InitialCheck(const ParamRecord& record) const override;
    void OnCheckToggled(int row) override;

private:
    QString AskValueFile(bool save);
    // Asks for a value file and loads it; false (after saying why, when the
    // file was refused) when there is nothing to use.
    bool AskAndLoadValueFile(valuefile::LoadResult* res);
    // Gives record the value to write, shown in its row and checked, not
    // yet written to the drive.
    void SetUnwritten(int record, int row, double value);
    void CompareWith(const std::vector<valuefile::Entry>& entries);
    // Marks the Value cells of unwritten rows and says how many there are.
    void ShowPendingMarks();
    void ShowPendingMark(int row);
    QString Tr(const wchar_t* englishAndChinese) const;

    QLabel* pending_ = nullptr;
    // The write batch about to run restores an earlier one: it is not kept
    // for undo itself.
    std::atomic<bool> undoing_{false};
    // A compare waits for the read of the rows whose drive value is unknown.
    bool compareAfterRead_ = false;
    std::vector<valuefile::Entry> compareEntries_;
};
