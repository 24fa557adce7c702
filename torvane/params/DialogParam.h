// The parameter view: the records of one group, one subgroup or all groups
// (selection -1) in a grid with a check box per row. The user edits values
// in the grid, reads and writes the checked parameters from and to the drive,
// narrows the grid to the parameters that differ from their defaults, and
// saves and loads parameter value files.
#pragma once

#include "ParamGridView.h"

class CDialogParam : public CParamGridView {
    Q_OBJECT
public:
    // selection: the group or subgroup number of the tree item, -1 for all.
    explicit CDialogParam(int selection, QWidget* parent = nullptr);
    ~CDialogParam() override;

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
};
