// Everything the parameter views ask the user: message boxes, the value-file
// dialog and the two value editors. The program's own answers are modal
// dialogs; a test puts its own answers in place (SetParamPrompts, or per
// view), so no test ever waits on a modal dialog.
//
// All calls are made on the GUI thread. A view may be destroyed while one of
// these dialogs is open (the main window replaces views); the program's
// answers keep their dialogs on the heap so that this is harmless.
#pragma once

#include <QApplication>
#include <QPointer>
#include <QString>


class CDataDlg;
class CDlgInputPara;
class CDlgInputParaCB;
class CDlgCompareFile;
class QWidget;

class CParamPrompts {
public:
    virtual ~CParamPrompts() = default;
    // A message box with an OK button; returns when it is dismissed.
    virtual void ShowMessage(QWidget* parent, const QString& text);
    // The file dialog of the value files to load (the open kind): starts in
    // `folder`, offers `filterText` for `pattern`. Empty when the user
    // cancelled.
    virtual QString AskValueFile(QWidget* parent, const QString& folder, const QString& filterText,
                                 const QString& pattern);
    // The same for saving (the save kind: a new name may be typed). It does
    // not ask about an existing file itself: the view asks ConfirmReplace
    // once it knows the file's final name.
    virtual QString AskSaveValueFile(QWidget* parent, const QString& folder, const QString& filterText,
                                     const QString& pattern);
    // The file exists: true replaces it.
    virtual bool ConfirmReplace(QWidget* parent, const QString& path);
    // Runs an editor modally; true on OK.
    virtual bool RunNumberDialog(CDlgInputPara& dialog);
    virtual bool RunOptionDialog(CDlgInputParaCB& dialog);
    // Runs the compare with a file modally; its outcome says what was pressed.
    virtual void RunCompareDialog(CDlgCompareFile& dialog);
    // A question with Yes and No (No the default); true for Yes.
    virtual bool Confirm(QWidget* parent, const QString& text);
};

// The prompts the views use unless they were given their own; null restores
// the program's own.
void SetParamPrompts(CParamPrompts* prompts);
CParamPrompts& ParamPrompts();

// Message boxes for a view's worker thread, shown on the GUI thread through
// the view's prompts (view->Prompts()). Posted to the application, not to
// the view: the box runs its own event loop, and the view may be destroyed
// while it is open.
template <class View>
void PostViewMessage(View* view, const QString& text)
{
    QPointer<View> self(view);
    QMetaObject::invokeMethod(
        qApp,
        [self, text] {
            if (self) self->Prompts().ShowMessage(self, text);
        },
        Qt::QueuedConnection);
}

// The same, and the worker goes on once the box is dismissed. The wait also
// ends, with false, when the view's running flag is cleared (cancel, view
// closed): the GUI thread may then be joining the worker. Once the flag is
// clear the box is not shown any more.
template <class View>
bool WaitViewMessage(View* view, const QString& text)
{
    return view->RunOnGuiAndWait([text](CDataDlg* v) {
        auto* self = static_cast<View*>(v);
        self->Prompts().ShowMessage(self, text);
    });
}
