#include "RecordingGuard.h"

#include "DialogRTLine.h"
#include "HistoryFile.h"
#include "LogBuf.h"
#include "MonitorBuffer.h"
#include "RecordingJournal.h"

#include <QDateTime>
#include <QFile>
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

CRecordingPrompts::LeftBehind CRecordingPrompts::AskLeftBehind(QWidget* parent, const QString& text)
{
    QMessageBox box(QMessageBox::Question, QStringLiteral("Torvane"), text,
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Discard, parent);
    box.setDefaultButton(QMessageBox::Yes);
    switch (box.exec()) {
    case QMessageBox::Yes: return LeftBehind::Save;
    case QMessageBox::Discard: return LeftBehind::Discard;
    default: return LeftBehind::Keep;
    }
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

QString LeftBehindText(uint32_t samples, uint64_t firstMs, uint64_t lastMs)
{
    auto at = [](uint64_t ms) {
        return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(ms)).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    };
    return QStringLiteral("A recording of %1 samples from %2 to %3 was not saved. Save it as a history file?")
        .arg(samples)
        .arg(at(firstMs), at(lastMs));
}

int OfferLeftBehindRecordings(QWidget* parent, const QString& folder, CRecordingPrompts& prompts)
{
    int offered = 0;
    const std::wstring dir = folder.toStdWString();
    for (const std::wstring& path : journal::FindLeftBehind(dir)) {
        const QString name = QString::fromStdWString(path);
        journal::Contents contents;
        std::string error;
        if (!journal::Read(path, contents, &error)) {
            // Not ours to delete: it may be a later version's, or a disk's fault.
            LOG_MakeAndAddRunInfo(1, "Monitor journal not readable: %s", error.c_str());
            continue;
        }
        if (contents.samples.empty()) {
            QFile::remove(name);
            continue;
        }
        ++offered;
        const auto answer = prompts.AskLeftBehind(
            parent, LeftBehindText(static_cast<uint32_t>(contents.samples.size()), contents.samples.front().timeMs,
                                   contents.samples.back().timeMs));
        if (answer == CRecordingPrompts::LeftBehind::Discard) {
            QFile::remove(name);
        } else if (answer == CRecordingPrompts::LeftBehind::Keep) {
            prompts.ShowMessage(parent, QStringLiteral("The recording stays in %1. It is offered again at the next "
                                                       "start; \"torvane-cli recover\" saves it as well.")
                                            .arg(name));
        } else {
            std::wstring written;
            if (journal::Recover(path, dir, &written, &error)) {
                prompts.ShowMessage(parent, QStringLiteral("The recording was saved as %1.")
                                                .arg(QString::fromStdWString(written)));
            } else {
                LOG_MakeAndAddRunInfo(1, "Monitor journal not recovered: %s", error.c_str());
                prompts.ShowMessage(parent, QStringLiteral("%1\nThe recording stays in %2.")
                                                .arg(Q(history::SaveFailedText()), name));
            }
        }
    }
    return offered;
}

}  // namespace monitor
