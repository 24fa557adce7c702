#include "ParamPrompts.h"

#include "DlgCompareFile.h"
#include "DlgInputPara.h"

#include <QDir>
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

namespace {

QString RunFileDialog(QWidget* parent, const QString& folder, const QString& filterText, const QString& pattern,
                      bool save)
{
    QPointer<QFileDialog> dlg = new QFileDialog(parent, QStringLiteral("Parameter value file"), folder,
                                                filterText + QStringLiteral(" (") + pattern + QStringLiteral(")"));
    if (save) {
        dlg->setAcceptMode(QFileDialog::AcceptSave);
        dlg->setFileMode(QFileDialog::AnyFile);
        // The view asks about an existing file under its final name (".xls"
        // may still be added), once.
        dlg->setOption(QFileDialog::DontConfirmOverwrite, true);
    } else {
        dlg->setAcceptMode(QFileDialog::AcceptOpen);
        dlg->setFileMode(QFileDialog::AnyFile);
    }
    QString chosen;
    if (dlg->exec() == QDialog::Accepted && dlg && !dlg->selectedFiles().isEmpty())
        chosen = dlg->selectedFiles().first();
    delete dlg.data();
    return chosen;
}

}  // namespace

QString CParamPrompts::AskValueFile(QWidget* parent, const QString& folder, const QString& filterText,
                                    const QString& pattern)
{
    return RunFileDialog(parent, folder, filterText, pattern, false);
}

QString CParamPrompts::AskSaveValueFile(QWidget* parent, const QString& folder, const QString& filterText,
                                        const QString& pattern)
{
    return RunFileDialog(parent, folder, filterText, pattern, true);
}

bool CParamPrompts::ConfirmReplace(QWidget* parent, const QString& path)
{
    QPointer<QMessageBox> box = new QMessageBox(
        QMessageBox::Question, QStringLiteral("Torvane"),
        QStringLiteral("%1 already exists.\nDo you want to replace it?").arg(QDir::toNativeSeparators(path)),
        QMessageBox::Yes | QMessageBox::No, parent);
    box->setDefaultButton(QMessageBox::No);
    const bool yes = box->exec() == QMessageBox::Yes;
    delete box.data();
    return yes;
}

bool CParamPrompts::RunNumberDialog(CDlgInputPara& dialog)
{
    return dialog.exec() == QDialog::Accepted;
}

bool CParamPrompts::RunOptionDialog(CDlgInputParaCB& dialog)
{
    return dialog.exec() == QDialog::Accepted;
}

void CParamPrompts::RunCompareDialog(CDlgCompareFile& dialog)
{
    dialog.exec();
}

bool CParamPrompts::Confirm(QWidget* parent, const QString& text)
{
    QPointer<QMessageBox> box = new QMessageBox(QMessageBox::Question, QStringLiteral("Torvane"), text,
                                                QMessageBox::Yes | QMessageBox::No, parent);
    box->setDefaultButton(QMessageBox::No);
    const bool yes = box->exec() == QMessageBox::Yes;
    delete box.data();
    return yes;
}

void SetParamPrompts(CParamPrompts* prompts)
{
    g_prompts = prompts;
}

CParamPrompts& ParamPrompts()
{
    return g_prompts ? *g_prompts : g_ownPrompts;
}
