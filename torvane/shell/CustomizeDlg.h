// Customising the command bars (command 35001): which buttons the "Standard"
// toolbar shows and in what order, the keyboard shortcuts of the commands,
// and the large-icon option. The choices are edited in a CustomizeModel and
// reach the window only on OK.
#pragma once

#include <QDialog>
#include <QKeySequence>
#include <QString>

#include <map>
#include <vector>

class QCheckBox;
class QComboBox;
class QKeySequenceEdit;
class QLabel;
class QListWidget;

struct CustomizeModel {
    std::vector<int> buttons;                 // 0 is a separator
    std::map<int, QKeySequence> shortcuts;    // every command, empty = none
    bool largeIcons = false;

    // Adds a button (or a separator, 0) after position `after` (-1: at the
    // end). A command already on the bar is not added twice. False when
    // nothing was added.
    bool AddButton(int id, int after = -1);
    bool RemoveButton(int index);
    // Moves the button at index by delta (-1 up, +1 down); false at an end.
    bool MoveButton(int index, int delta);
    // Gives `keys` to command id; another command holding the same keys
    // loses them (one command per shortcut). Empty keys remove the shortcut.
    // Returns the command that lost the keys, or 0.
    int AssignShortcut(int id, const QKeySequence& keys);
};

class CCustomizeDlg : public QDialog {
    Q_OBJECT
public:
    // captions: the commands whose keys can be set, by identifier (shown
    // without "&"); toolbarCommands: those that can be put on the toolbar.
    CCustomizeDlg(const CustomizeModel& model, const std::map<int, QString>& captions,
                  const std::vector<int>& toolbarCommands, const std::vector<int>& defaultButtons,
                  QWidget* parent = nullptr);

    const CustomizeModel& Model() const { return model_; }

    // What the buttons of the pages do, for the keyboard and for tests.
    void AddSelectedCommand();
    void AddSeparator();
    void RemoveSelectedButton();
    void MoveSelectedButton(int delta);
    void ResetButtons();
    void AssignKeys(int id, const QKeySequence& keys);

    QListWidget* ButtonList() const { return buttonList_; }
    QComboBox* CommandChoice() const { return commandChoice_; }
    QListWidget* KeyCommands() const { return keyCommands_; }

private:
    QString CaptionOf(int id) const;
    void ShowButtons(int select);
    void ShowKeys();

    CustomizeModel model_;
    std::map<int, QString> captions_;
    std::vector<int> defaults_;
    QListWidget* buttonList_;
    QComboBox* commandChoice_;
    QListWidget* keyCommands_;
    QKeySequenceEdit* keyEdit_;
    QLabel* keyInfo_;
    QCheckBox* largeIcons_;
};
