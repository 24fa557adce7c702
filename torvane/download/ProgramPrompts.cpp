#include "ProgramPrompts.h"

#include <QMessageBox>
#include <QPointer>

namespace {
CProgramPrompts g_ownPrompts;
CProgramPrompts* g_prompts = nullptr;
}  // namespace

void CProgramPrompts::ShowMessage(QWidget* parent, const QString& text)
{
    // The parent may go while the box is open (the box goes with it).
    QPointer<QMessageBox> box =
        new QMessageBox(QMessageBox::NoIcon, QStringLiteral("Torvane"), text, QMessageBox::Ok, parent);
    box->exec();
    delete box.data();
}

bool CProgramPrompts::AskYesNo(QWidget* parent, const QString& text, bool defaultYes)
{
    QPointer<QMessageBox> box = new QMessageBox(QMessageBox::Question, QStringLiteral("Torvane"), text,
                                                QMessageBox::Yes | QMessageBox::No, parent);
    box->setDefaultButton(defaultYes ? QMessageBox::Yes : QMessageBox::No);
    const int answer = box->exec();
    delete box.data();
    return answer == QMessageBox::Yes;
}

void SetProgramPrompts(CProgramPrompts* prompts)
{
    g_prompts = prompts;
}

CProgramPrompts& ProgramPrompts()
{
    return g_prompts ? *g_prompts : g_ownPrompts;
}
