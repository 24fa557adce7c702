// Everything the download view asks the user: message boxes and the yes/no
// question after a failed or cancelled download. The program's own answers
// are modal boxes; a test puts its own answers in place (SetProgramPrompts),
// so no test waits on a modal box.
//
// Called on the GUI thread only; the view carries a worker's questions there.
#pragma once

#include <QString>

class QWidget;

class CProgramPrompts {
public:
    virtual ~CProgramPrompts() = default;
    // A message box with an OK button; returns when it is dismissed.
    virtual void ShowMessage(QWidget* parent, const QString& text);
    // A question with Yes and No buttons, the default one as given; true
    // for Yes.
    virtual bool AskYesNo(QWidget* parent, const QString& text, bool defaultYes);
};

// The prompts the download view uses; null restores the program's own.
void SetProgramPrompts(CProgramPrompts* prompts);
CProgramPrompts& ProgramPrompts();
