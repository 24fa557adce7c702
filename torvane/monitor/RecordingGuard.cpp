#include "RecordingGuard.h"

#include "DialogRTLine.h"
#include "HistoryFile.h"
#include "MonitorBuffer.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

namespace {
CRecordingPrompts* g_prompts = nullptr;

QString Q(const wchar_t* s) { return QString::fromWCharArray(s); }
}  // namespace

CRecordingPrompts::Answer CRecordingPrompts::AskUnsaved(QWidget* parent, uint32_t samples)
{
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Torvane"), monitor::UnsavedRecordingText(samples),
                    QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, parent);
    box.setDefaultButton(QMessageBox::Save);
    switch (box.exec()) {
    case QMessageBox::Save: return Answer::Save;
    case QMessageBox::Discard: return Answer::Discard;
    default: return Answer::Cancel;
    }
}

QString CRecordingPrompts::AskSaveFile(QWidget* parent, const QString& folder)
{
    const QString filter = Q(history::FilterText());
    return QFileDialog::getSaveFileName(parent, QStringLiteral("Save Monitor Recording"), folder, filter, nullptr,
                                        QFileDialog::DontConfirmOverwrite);
}

bool CRecordingPrompts::ConfirmReplace(QWidget* parent, const QString& path)
{
    const QString text = QStringLiteral("%1 already exists.\nDo you want to replace it?").arg(path);
    return QMessageBox::question(parent, QStringLiteral("Torvane"), text, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

void CRecordingPrompts::ShowMessage(QWidget* parent, const QString& text)
{
    QMessageBox::information(parent, QStringLiteral("Torvane"), text);
}

void SetRecordingPrompts(CRecordingPrompts* prompts)
{
    g_prompts = prompts;
}

CRecordingPrompts& RecordingPrompts()
{
    static CRecordingPrompts own;
    return g_prompts ? *g_prompts : own;
}

namespace monitor {

QString UnsavedRecordingText(uint32_t samples)
{
    return QStringLiteral("The recording of %1 samples has not been saved.").arg(samples);
}

bool SaveRecordingAs(QWidget* parent, CRecordingPrompts& prompts, const QString& folder)
{
    CMonitorBuffer& store = TheMonitorBuffer();
    if (store.count() == 0) {
        prompts.ShowMessage(parent, Q(history::SaveFailedText()));
        return false;
    }
    QString path = prompts.AskSaveFile(parent, folder);
    if (path.isEmpty()) return false;
    if (!path.contains(QStringLiteral(".xls"))) path += QStringLiteral(".xls");
    if (QFileInfo::exists(path) && !prompts.ConfirmReplace(parent, path)) return false;
    const bool ok = store.SaveRecording(path.toStdWString());
    prompts.ShowMessage(parent, Q(ok ? history::SavedText() : history::SaveFailedText()));
    return ok;
}

bool SettleRecording(QWidget* parent, CDataDlg* current, bool dropsRecording, CRecordingPrompts& prompts)
{
    CMonitorBuffer& store = TheMonitorBuffer();
    const RecordingState rec = store.Recording();
    const bool logging = rec.phase == RecordingPhase::Logging;
    if (rec.unsaved == 0 || !(logging || dropsRecording)) return true;
    auto* view = qobject_cast<CDialogRTLine*>(current);
    const CRecordingPrompts::Answer answer = prompts.AskUnsaved(parent, rec.unsaved);
    if (answer == CRecordingPrompts::Answer::Cancel) return false;
    // Either way the log ends here, as the action would end it.
    if (view && view->IsLogging()) view->OnStopLog();
    if (answer == CRecordingPrompts::Answer::Discard) {
        store.Discard(rec.id);
        if (view) view->SyncWithRecording();
        return true;
    }
    const bool saved = SaveRecordingAs(parent, prompts, QString::fromStdWString(store.State().folder));
    if (view) view->SyncWithRecording();
    return saved;
}

}  // namespace monitor
