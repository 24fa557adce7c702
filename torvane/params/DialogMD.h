// The M-data view: the records of a monitor group (8 or 9), read-only. The
// user checks rows and reads their current values from the drive. Rows start
// unchecked whatever the parameter view left in the records.
#pragma once

#include "ParamGridView.h"

class CDialogMD : public CParamGridView {
    Q_OBJECT
public:
    // selection: the group (or subgroup) number of the tree item.
    explicit CDialogMD(int selection, QWidget* parent = nullptr);
    ~CDialogMD() override;

    void UpdateButtons(bool normalConnected) override;
    void ReadWorker() override;

    // Select all checks every row (the grid is not refilled).
    void OnSelectAll() override;

protected:
    std::vector<int> SelectRows() const override;
    bool InitialCheck(const ParamRecord& record) const override;
};
