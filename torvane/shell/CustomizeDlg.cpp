#include "CustomizeDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QKeySequenceEdit>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {
QString Plain(QString text)
{
    // "&&" is a literal ampersand; a single "&" marks the access key.
    text.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
    text.remove(QLatin1Char('&'));
    text.replace(QStringLiteral("\x01"), QStringLiteral("&"));
    return text;
}
}  // namespace

// ---- model ----------------------------------------------------------------------

bool CustomizeModel::AddButton(int id, int after)
{
    if (id < 0) return false;
    if (id > 0 && std::find(buttons.begin(), buttons.end(), id) != buttons.end()) return false;
    const int n = static_cast<int>(buttons.size());
    const int at = after < 0 || after >= n ? n : after + 1;
    buttons.insert(buttons.begin() + at, id);
    return true;
}

bool CustomizeModel::RemoveButton(int index)
{
    if (index < 0 || index >= static_cast<int>(buttons.size())) return false;
    buttons.erase(buttons.begin() + index);
    return true;
}

bool CustomizeModel::MoveButton(int index, int delta)
{
    const int to = index + delta;
    const int n = static_cast<int>(buttons.size());
    if (index < 0 || index >= n || to < 0 || to >= n || delta == 0) return false;
    std::swap(buttons[static_cast<size_t>(index)], buttons[static_cast<size_t>(to)]);
    return true;
}

int CustomizeModel::AssignShortcut(int id, const QKeySequence& keys)
{
    int lost = 0;
    if (!keys.isEmpty())
        for (auto& [other, k] : shortcuts)
            if (other != id && k == keys) {
                k = QKeySequence();
                lost = other;
            }
    shortcuts[id] = keys;
    return lost;
}

// ---- dialog -----------------------------------------------------------------------

CCustomizeDlg::CCustomizeDlg(const CustomizeModel& model, const std::map<int, QString>& captions,
                             const std::vector<int>& toolbarCommands, const std::vector<int>& defaultButtons,
                             QWidget* parent)
    : QDialog(parent),
      model_(model),
      captions_(captions),
      defaults_(defaultButtons),
      buttonList_(new QListWidget),
      commandChoice_(new QComboBox),
      keyCommands_(new QListWidget),
      keyEdit_(new QKeySequenceEdit),
      keyInfo_(new QLabel),
      largeIcons_(new QCheckBox(tr("Large icons")))
{
    setWindowTitle(tr("Customize"));
    auto* tabs = new QTabWidget;

    // Toolbar page.
    auto* toolbar = new QWidget;
    auto* tbLayout = new QHBoxLayout(toolbar);
    tbLayout->addWidget(buttonList_, 1);
    auto* tbButtons = new QVBoxLayout;
    for (int id : toolbarCommands)
        if (id > 0) commandChoice_->addItem(CaptionOf(id), id);
    auto* add = new QPushButton(tr("Add"));
    auto* separator = new QPushButton(tr("Add Separator"));
    auto* remove = new QPushButton(tr("Remove"));
    auto* up = new QPushButton(tr("Move Up"));
    auto* down = new QPushButton(tr("Move Down"));
    auto* reset = new QPushButton(tr("Reset"));
    tbButtons->addWidget(commandChoice_);
    for (QPushButton* b : {add, separator, remove, up, down, reset}) tbButtons->addWidget(b);
    tbButtons->addStretch(1);
    tbLayout->addLayout(tbButtons);
    connect(add, &QPushButton::clicked, this, &CCustomizeDlg::AddSelectedCommand);
    connect(separator, &QPushButton::clicked, this, &CCustomizeDlg::AddSeparator);
    connect(remove, &QPushButton::clicked, this, &CCustomizeDlg::RemoveSelectedButton);
    connect(up, &QPushButton::clicked, this, [this] { MoveSelectedButton(-1); });
    connect(down, &QPushButton::clicked, this, [this] { MoveSelectedButton(1); });
    connect(reset, &QPushButton::clicked, this, &CCustomizeDlg::ResetButtons);
    tabs->addTab(toolbar, tr("Toolbar"));

    // Keyboard page.
    auto* keyboard = new QWidget;
    auto* kbLayout = new QVBoxLayout(keyboard);
    kbLayout->addWidget(keyCommands_, 1);
    kbLayout->addWidget(keyInfo_);
    auto* keyRow = new QHBoxLayout;
    auto* assign = new QPushButton(tr("Assign"));
    auto* clear = new QPushButton(tr("Remove"));
    keyRow->addWidget(keyEdit_, 1);
    keyRow->addWidget(assign);
    keyRow->addWidget(clear);
    kbLayout->addLayout(keyRow);
    auto selectedId = [this] {
        QListWidgetItem* item = keyCommands_->currentItem();
        return item ? item->data(Qt::UserRole).toInt() : 0;
    };
    connect(keyCommands_, &QListWidget::currentRowChanged, this, [this] { ShowKeys(); });
    connect(assign, &QPushButton::clicked, this, [this, selectedId] {
        if (const int id = selectedId()) AssignKeys(id, keyEdit_->keySequence());
    });
    connect(clear, &QPushButton::clicked, this, [this, selectedId] {
        if (const int id = selectedId()) AssignKeys(id, QKeySequence());
    });
    tabs->addTab(keyboard, tr("Keyboard"));

    // Options page.
    auto* options = new QWidget;
    auto* optLayout = new QVBoxLayout(options);
    largeIcons_->setChecked(model_.largeIcons);
    connect(largeIcons_, &QCheckBox::toggled, this, [this](bool on) { model_.largeIcons = on; });
    optLayout->addWidget(largeIcons_);
    optLayout->addStretch(1);
    tabs->addTab(options, tr("Options"));

    auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs);
    layout->addWidget(box);

    ShowButtons(0);
    ShowKeys();
}

QString CCustomizeDlg::CaptionOf(int id) const
{
    if (id == 0) return tr("----------");
    const auto it = captions_.find(id);
    return it == captions_.end() ? QString::number(id) : Plain(it->second);
}

void CCustomizeDlg::ShowButtons(int select)
{
    buttonList_->clear();
    for (int id : model_.buttons) {
        auto* item = new QListWidgetItem(CaptionOf(id));
        item->setData(Qt::UserRole, id);
        buttonList_->addItem(item);
    }
    if (buttonList_->count() > 0) buttonList_->setCurrentRow(std::clamp(select, 0, buttonList_->count() - 1));
}

void CCustomizeDlg::ShowKeys()
{
    const int row = keyCommands_->currentRow();
    keyCommands_->blockSignals(true);
    keyCommands_->clear();
    for (const auto& [id, caption] : captions_) {
        const auto k = model_.shortcuts.find(id);
        const QString keys = k == model_.shortcuts.end() ? QString() : k->second.toString(QKeySequence::NativeText);
        auto* item = new QListWidgetItem(keys.isEmpty() ? Plain(caption) : Plain(caption) + QStringLiteral("\t") + keys);
        item->setData(Qt::UserRole, id);
        keyCommands_->addItem(item);
    }
    keyCommands_->setCurrentRow(row < 0 ? 0 : std::min(row, keyCommands_->count() - 1));
    keyCommands_->blockSignals(false);
    QListWidgetItem* item = keyCommands_->currentItem();
    const int id = item ? item->data(Qt::UserRole).toInt() : 0;
    const auto k = model_.shortcuts.find(id);
    keyInfo_->setText(k == model_.shortcuts.end() || k->second.isEmpty()
                          ? tr("No shortcut")
                          : tr("Current keys: %1").arg(k->second.toString(QKeySequence::NativeText)));
}

void CCustomizeDlg::AddSelectedCommand()
{
    const int id = commandChoice_->currentData().toInt();
    const int row = buttonList_->currentRow();
    if (model_.AddButton(id, row)) ShowButtons(row + 1);
}

void CCustomizeDlg::AddSeparator()
{
    const int row = buttonList_->currentRow();
    if (model_.AddButton(0, row)) ShowButtons(row + 1);
}

void CCustomizeDlg::RemoveSelectedButton()
{
    const int row = buttonList_->currentRow();
    if (model_.RemoveButton(row)) ShowButtons(row);
}

void CCustomizeDlg::MoveSelectedButton(int delta)
{
    const int row = buttonList_->currentRow();
    if (model_.MoveButton(row, delta)) ShowButtons(row + delta);
}

void CCustomizeDlg::ResetButtons()
{
    model_.buttons = defaults_;
    ShowButtons(0);
}

void CCustomizeDlg::AssignKeys(int id, const QKeySequence& keys)
{
    const int lost = model_.AssignShortcut(id, keys);
    if (lost) keyInfo_->setText(tr("Taken from %1").arg(CaptionOf(lost)));
    ShowKeys();
}
