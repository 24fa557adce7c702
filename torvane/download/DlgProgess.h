// The small modeless window that shows the progress of a long operation of a
// view (a parameter batch, a firmware download, a model check) and lets the
// user cancel it. It never stops the operation itself: cancel only clears the
// owning view's running flag, which the operation polls.
//
// GUI thread only, except the Post* calls, which a worker may make while the
// dialog exists (the owning view deletes it only when it opens the next one;
// CDataDlg's PostProgress* calls are safe at any time).
#pragma once

#include <QDialog>

class CDataDlg;
class QProgressBar;
class QPushButton;

class CDlgProgess : public QDialog {
    Q_OBJECT
public:
    enum { IDD = 149, IDC_PROGRESS = 1075, IDCANCEL_ = 2 };

    explicit CDlgProgess(CDataDlg* parentView = nullptr);

    // Records the owner view and makes the dialog a modeless child window of
    // it; the caller shows it.
    bool Create(CDataDlg* view);
    // Range 0..upper, step 1, position 0.
    void SetRange(int upper);
    // Advances by n; the bar stops at its upper bound.
    void Step(int n = 1);
    // Cancel button: the owner's running flag cleared, the dialog ends.
    void OnCancel();
    // End of the operation: the connection pane of the status bar is
    // refreshed, then as cancel (so every ending clears the running flag).
    void CloseRequest();

    // Queued versions for worker threads.
    void PostStep(int n = 1);
    void PostCaption(const QString& caption);
    void PostClose();

    int lower() const { return lower_; }
    int upper() const { return upper_; }
    int step() const { return step_; }
    int position() const;
    CDataDlg* owner() const { return owner_; }
    QProgressBar* bar() const { return bar_; }
    QPushButton* cancelButton() const { return cancel_; }

protected:
    void reject() override;  // Escape and the window's close box act as cancel

private:
    int lower_ = 0;
    int upper_ = 100;
    int step_ = 1;
    CDataDlg* owner_ = nullptr;
    QProgressBar* bar_ = nullptr;
    QPushButton* cancel_ = nullptr;
};
