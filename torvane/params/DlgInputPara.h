// The two small modal dialogs in which the user enters one value: a number
// within bounds (CDlgInputPara) or a choice from an option list
// (CDlgInputParaCB). They only return the value; the caller decides what to
// do with it.
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

#include <functional>

class ParamTable;
struct ParamRecord;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

class CDlgInputPara : public QDialog {
    Q_OBJECT
public:
    enum { IDD = 130, IDOK_ = 1, IDCANCEL_ = 2, IDC_LABEL = 2026, IDC_VALUE = 1011, IDC_ABOUT = 2063 };

    explicit CDlgInputPara(QWidget* parent = nullptr);

    // Set by the caller before the dialog runs; on OK `value` holds the
    // entered number. Cancel leaves them alone.
    double value = 0;
    double minValue = 0;
    double maxValue = 0;
    QString title;
    // The decimal places the value keeps (what reaches the drive); -1 takes
    // the number as typed. A number with more places is rounded, shown
    // rounded in the field, and taken only at the next OK.
    int decimals = -1;
    // There is no value to show: the field starts empty.
    bool valueUnknown = false;
    // The parameter the value is for, when there is one: the dialog then
    // names it with its range and unit, and checks the entry with the value
    // check every path uses (range, resolution, register). Both or neither.
    const ParamTable* table = nullptr;
    const ParamRecord* record = nullptr;
    int languageIndex = 0;

    // "Name\n0.00 to 590.00 Hz" in the language of `languageIndex`.
    static QString AboutText(const ParamRecord& record, int languageIndex);
    QString aboutText() const;

    // The standard refusals (a text that is no number, a number out of range).
    static QString NotANumberText();
    static QString OutOfRangeText(double minValue, double maxValue);
    // The field now shows the entry rounded to the value's places.
    static QString RoundedText(const QString& rounded, int decimals);
    // A number rounded the way the drive's register takes it: half away from
    // zero at `decimals` places. *changed tells whether the number had more.
    static double RoundToDecimals(double v, int decimals, bool* changed);

    // Shows a refusal; a message box by default. Tests put their own here.
    std::function<void(QWidget* parent, const QString& text)> refusal;

    QLineEdit* field() const { return edit_; }
    QPushButton* okButton() const { return ok_; }
    QPushButton* cancelButton() const { return cancel_; }

    // OK: takes the field when it holds a number within the bounds and with
    // no more places than `decimals`; otherwise the refusal is shown and the
    // dialog stays open with the field focused.
    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void Refuse(const QString& text);

    QLabel* label_;
    QLabel* about_;
    QLineEdit* edit_;
    QPushButton* ok_;
    QPushButton* cancel_;
};

class CDlgInputParaCB : public QDialog {
    Q_OBJECT
public:
    enum { IDD = 152, IDOK_ = 1, IDCANCEL_ = 2, IDC_LABEL = 2010, IDC_CHOICE = 1012 };

    CDlgInputParaCB(const QStringList& optionEntries, const QString& choice, QWidget* parent = nullptr);

    QStringList optionEntries;
    // The text of the list's edit part: shown at start, and on OK the entry
    // picked, or the entry whose code was typed.
    QString choice;
    QString title;
    // Without entries a number within these bounds is taken instead.
    double minValue = 0;
    double maxValue = 0;

    // Shows a refusal; a message box by default. Tests put their own here.
    std::function<void(QWidget* parent, const QString& text)> refusal;
    static QString NotAnOptionText();

    QComboBox* list() const { return combo_; }
    QPushButton* okButton() const { return ok_; }
    QPushButton* cancelButton() const { return cancel_; }

    // OK: takes one of the entries (typed in full, or just its code); a text
    // that is none of them is refused and the dialog stays open. A value
    // nobody meant must never reach the drive.
    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void Refuse(const QString& text);

    QLabel* label_;
    QComboBox* combo_;
    QPushButton* ok_;
    QPushButton* cancel_;
    bool filled_ = false;
};
