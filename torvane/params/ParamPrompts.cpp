#include "ParamPrompts.h"

#include "DlgInputPara.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>

namespace {
CParamPrompts g_ownPrompts;
CParamPrompts* g_prompts = nullptr;
}  // namespace

void CParamPrompts::ShowMessage(QWidget* parent, const QString& text)
{
    QPointer<QMessageBox> box = new QMessageBox(QMessageBox::NoIcon, QStringLiteral("Torvane"), text,
                                                QMessageBox::Ok, parent);
    box->exec();
    delete box.data();
}

QString CParamPrompts::AskValueFile(QWidget* parent, const QString& folder, const QString& filterText,
                                    const QString& pattern)
{
    QPointer<QFileDialog> dlg = new QFileDialog(parent, QStringLiteral("Parameter value file"), folder,
                                                filterText + QStringLiteral(" (") + pattern + QStringLiteral(")"));
    // The open kind, but a name that does not exist yet may be typed (the
    // same dialog serves saving).
    dlg->setAcceptMode(QFileDialog::AcceptOpen);
    dlg->setFileMode(QFileDialog::AnyFile);
    QString chosen;
    if (dlg->exec() == QDialog::Accepted && dlg && !dlg->selectedFiles().isEmpty())
        chosen = dlg->selectedFiles().first();
    delete dlg.data();
    return chosen;
}

bool CParamPrompts::RunNumberDialog(CDlgInputPara& dialog)
{
    return dialog.exec() == QDialog::Accepted;
}

bool CParamPrompts::RunOptionDialog(CDlgInputParaCB& dialog)
{
    return dialog.exec() == QDialog::Accepted;
}

void SetParamPrompts(CParamPrompts* prompts)
{
    g_prompts = prompts;
}

CParamPrompts& ParamPrompts()
{
    return g_prompts ? *g_prompts : g_ownPrompts;
}
