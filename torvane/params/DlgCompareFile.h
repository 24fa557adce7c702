// Compare with a file: the rows where the drive, a value file and the
// default differ, side by side, with the parameter's unit and option texts.
// The user ticks the rows to take; the dialog only returns them, and the
// view sets those values in its rows (not yet written). Rows whose drive
// value is unknown cannot be judged: the dialog offers to read them first.
// The rows and what each would do come from the write plan, the same
// comparison as torvane-cli diff.
#pragma once

#include "ParamPlan.h"

#include <QDialog>
#include <QString>

#include <vector>

class ParamTable;
class QPushButton;
class QTableWidget;

class CDlgCompareFile : public QDialog {
    Q_OBJECT
public:
    enum class Outcome { Cancel, Take, ReadFirst };
    enum Column { kColTake, kColPnu, kColName, kColDrive, kColFile, kColDefault, kColUnit, kColNote, kColumns };

    // `steps` of the plan for the file's rows; only those where drive, file
    // and default differ are shown. Rows that would be written start ticked.
    CDlgCompareFile(const ParamTable& table, const std::vector<paramplan::Step>& steps, int languageIndex,
                    QWidget* parent = nullptr);

    // The rows shown, in order.
    const std::vector<paramplan::Step>& Rows() const { return rows_; }
    int RowCount() const { return static_cast<int>(rows_.size()); }
    QString Text(int row, int column) const;
    // Only a row the plan would write can be taken.
    bool IsTickable(int row) const;
    bool IsTicked(int row) const;
    void SetTicked(int row, bool ticked);
    // The ticked rows' steps.
    std::vector<paramplan::Step> Taken() const;
    // Rows whose drive value is unknown.
    std::vector<int> UnknownRecords() const;

    Outcome outcome() const { return outcome_; }
    QTableWidget* grid() const { return grid_; }
    QPushButton* takeButton() const { return take_; }
    QPushButton* readButton() const { return read_; }

    // "Nothing differs" line shown when no row is listed.
    static QString NothingDiffersText(int languageIndex);

private:
    std::vector<paramplan::Step> rows_;
    QTableWidget* grid_;
    QPushButton* take_;
    QPushButton* read_;
    Outcome outcome_ = Outcome::Cancel;
};
