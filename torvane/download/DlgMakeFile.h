// "Making a program file": builds a package file from a prepared folder
// (main window command 32786). The user picks the source folder; an export
// file "ProgramFile.vkr" beside it is proposed and may be edited; OK makes
// the package (MakePackage), Cancel does nothing. No
// message reports the result; the result code stays readable for tests.
#pragma once

#include <QDialog>

class CBrowseEdit;
class QLabel;
class QLineEdit;
class QPushButton;

class CDlgMakeFile : public QDialog {
    Q_OBJECT
public:
    enum { IDD = 153, IDC_SOURCE = 1084, IDC_EXPORT = 1081, IDOK_ = 1, IDCANCEL_ = 2 };
    static constexpr int kCommandId = 32786;

    explicit CDlgMakeFile(QWidget* parent = nullptr);

    CBrowseEdit* sourceEdit() const { return source_; }
    QLineEdit* exportEdit() const { return export_; }
    QPushButton* okButton() const { return ok_; }
    QPushButton* cancelButton() const { return cancel_; }
    // MakePackage's result of the last OK (-1 before any).
    int lastResult() const { return lastResult_; }

    // OK: MakePackage with the two texts, then the dialog ends accepted.
    void accept() override;

private:
    void OnSourceChanged(const QString& text);

    CBrowseEdit* source_ = nullptr;
    QLineEdit* export_ = nullptr;
    QPushButton* ok_ = nullptr;
    QPushButton* cancel_ = nullptr;
    int lastResult_ = -1;
};

// Command 32786: the dialog, modal, with `parent` as its parent.
void RunMakeFileDialog(QWidget* parent);
