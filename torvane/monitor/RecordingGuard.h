// The questions about a live recording the user has not saved: before an
// action ends a running log or drops the recording, and "Save Data" itself.
// Both go through the process-wide sample store's recording state, so the
// monitor view, the main window and any later reader agree on it.
#pragma once

#include <QString>

#include <cstdint>

class CDataDlg;
class QWidget;

// What the recording questions ask the user. The program's answers are modal
// dialogs; tests put their own in place (SetRecordingPrompts).
class CRecordingPrompts {
public:
    enum class Answer { Save, Discard, Cancel };
    virtual ~CRecordingPrompts() = default;
    // "The recording of N samples has not been saved." Save / Discard / Cancel.
    virtual Answer AskUnsaved(QWidget* parent, uint32_t samples);
    // The save-kind file dialog "Save Monitor Recording" for "VKR His(*.xls)",
    // starting in folder; empty when cancelled. It does not ask about an
    // existing file itself (ConfirmReplace does, for the final name).
    virtual QString AskSaveFile(QWidget* parent, const QString& folder);
    // The file exists: true replaces it.
    virtual bool ConfirmReplace(QWidget* parent, const QString& path);
    virtual void ShowMessage(QWidget* parent, const QString& text);

    // A recording left behind by a run that ended without saving it (its
    // journal): Save writes it as a history file, Keep leaves it for later,
    // Discard removes it.
    enum class LeftBehind { Save, Keep, Discard };
    // `text` is monitor::LeftBehindText(...); Yes / No / Discard.
    virtual LeftBehind AskLeftBehind(QWidget* parent, const QString& text);
};

void SetRecordingPrompts(CRecordingPrompts* prompts);  // null: the program's own
CRecordingPrompts& RecordingPrompts();

namespace monitor {

// "The recording of %1 samples has not been saved."
QString UnsavedRecordingText(uint32_t samples);

// "Save Data": asks for a file (the history folder first), asks before
// replacing one, writes the whole held recording and says how it went. True
// when the recording was saved.
bool SaveRecordingAs(QWidget* parent, CRecordingPrompts& prompts, const QString& folder);

// Before an action that ends a running log (`current` is the view shown,
// whose log is stopped on Save or Discard) or, when `dropsRecording`, also
// loses a stopped recording: asks when unsaved samples would be lost. False
// when the user cancelled (or the save did not happen); the action must not
// go on.
bool SettleRecording(QWidget* parent, CDataDlg* current, bool dropsRecording,
                     CRecordingPrompts& prompts = RecordingPrompts());

// "A recording of N samples from <start time> to <last time> was not saved.
// Save it as a history file?" (local times "yyyy-MM-dd hh:mm:ss").
QString LeftBehindText(uint32_t samples, uint64_t firstMs, uint64_t lastMs);

// At start: offers every recording journal in folder that no running log
// holds. Saved ones become history files in folder (and their journals go);
// kept ones stay where they are; discarded ones are removed. A journal with
// no whole sample holds nothing and is removed without asking; one whose
// header is damaged is left alone. Returns how many were offered.
int OfferLeftBehindRecordings(QWidget* parent, const QString& folder, CRecordingPrompts& prompts = RecordingPrompts());

}  // namespace monitor
