#include "FrameParts.h"

#include <QAction>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QKeySequenceEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>
#include <QDockWidget>
#include <QFile>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QSaveFile>
#include <QSettings>
#include <QStatusBar>
#include <QToolBar>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <algorithm>
#include <functional>

namespace {
const char* const kIdProperty = "ctrlId";
} // namespace

// --- command bars ---------------------------------------------------------------

CCommandBars::CCommandBars(QMainWindow* frame) : QObject(frame), m_frame(frame) {}

QAction* CCommandBars::Action(int id, const QString& text)
{
  const int tab = text.indexOf(QLatin1Char('\t'));
  const QString caption = tab < 0 ? text : text.left(tab);
  const QString keys = tab < 0 ? QString() : text.mid(tab + 1).trimmed();
  QAction*& action = m_actions[id];
  if (!action) {
    action = new QAction(m_frame);
    action->setProperty(kIdProperty, id);
    // Held by the frame as well, so its shortcut works wherever it is shown.
    m_frame->addAction(action);
    connect(action, &QAction::triggered, this, [this, id] { emit command(id); });
  }
  action->setText(caption);
  action->setStatusTip(QString());
  action->setToolTip(QString());
  if (!keys.isEmpty())
    action->setShortcut(QKeySequence(keys, QKeySequence::PortableText));
  if (std::find(m_hidden.begin(), m_hidden.end(), id) != m_hidden.end())
    action->setVisible(false);
  return action;
}

void CCommandBars::Fill(QMenu* menu, const std::vector<CMenuEntry>& items)
{
  for (const CMenuEntry& e : items) {
    if (e.separator) {
      menu->addSeparator();
    } else if (e.id <= 0) {
      QMenu* sub = menu->addMenu(e.text);
      connect(sub, &QMenu::aboutToShow, this, [this, sub] { emit popupOpening(sub); });
      Fill(sub, e.items);
    } else {
      menu->addAction(Action(e.id, e.text));
    }
  }
}

void CCommandBars::LoadMenu(const std::vector<CMenuEntry>& menu)
{
  QMenuBar* bar = m_frame->menuBar();
  for (QMenu* old : bar->findChildren<QMenu*>(QString(), Qt::FindDirectChildrenOnly))
    delete old;
  bar->clear();
  for (const CMenuEntry& e : menu) {
    if (e.separator) {
      bar->addSeparator();
    } else if (e.id <= 0) {
      QMenu* popup = bar->addMenu(e.text);
      connect(popup, &QMenu::aboutToShow, this, [this, popup] { emit popupOpening(popup); });
      Fill(popup, e.items);
    } else {
      bar->addAction(Action(e.id, e.text));
    }
  }
}

QToolBar* CCommandBars::LoadToolBar(const QString& name, const std::vector<int>& ids)
{
  QToolBar* bar = ToolBar(name);
  if (!bar) {
    bar = m_frame->addToolBar(name);
    bar->setObjectName(name);
  }
  bar->clear();
  for (int id : ids) {
    if (id == 0) {
      bar->addSeparator();
      continue;
    }
    QAction* a = Command(id);
    bar->addAction(a ? a : Action(id, QString::number(id)));
  }
  return bar;
}

QToolBar* CCommandBars::ToolBar(const QString& name) const
{
  return m_frame->findChild<QToolBar*>(name, Qt::FindDirectChildrenOnly);
}

QAction* CCommandBars::Command(int id) const
{
  const auto it = m_actions.find(id);
  return it == m_actions.end() ? nullptr : it->second;
}

std::vector<int> CCommandBars::CommandIds() const
{
  std::vector<int> ids;
  for (const auto& [id, action] : m_actions)
    ids.push_back(id);
  return ids;
}

QList<QMenu*> CCommandBars::Popups() const
{
  QList<QMenu*> out;
  std::function<void(const QList<QAction*>&)> walk = [&](const QList<QAction*>& actions) {
    for (QAction* a : actions)
      if (QMenu* m = a->menu()) {
        out.append(m);
        walk(m->actions());
      }
  };
  walk(m_frame->menuBar()->actions());
  return out;
}

void CCommandBars::HideCommand(int id)
{
  if (std::find(m_hidden.begin(), m_hidden.end(), id) == m_hidden.end())
    m_hidden.push_back(id);
  if (QAction* a = Command(id))
    a->setVisible(false);
}

bool CCommandBars::IsCommandHidden(int id) const
{
  return std::find(m_hidden.begin(), m_hidden.end(), id) != m_hidden.end();
}

void CCommandBars::SetAccelerator(int id, const QKeySequence& keys)
{
  if (QAction* a = Command(id))
    a->setShortcut(keys);
}

void CCommandBars::SetCommandTexts(int id, const QString& caption, const QString& description,
                                   const QString& tooltip)
{
  QAction* a = Command(id);
  if (!a)
    return;
  a->setText(caption);
  a->setStatusTip(description);
  a->setToolTip(tooltip);
}

QString CCommandBars::Caption(int id) const
{
  QAction* a = Command(id);
  return a ? a->text() : QString();
}

QString CCommandBars::Description(int id) const
{
  QAction* a = Command(id);
  return a ? a->statusTip() : QString();
}

QString CCommandBars::Tooltip(int id) const
{
  QAction* a = Command(id);
  return a ? a->toolTip() : QString();
}

std::map<int, QKeySequence> CCommandBars::Shortcuts() const
{
  std::map<int, QKeySequence> out;
  for (const auto& [id, action] : m_actions)
    if (!action->shortcut().isEmpty())
      out[id] = action->shortcut();
  return out;
}

void CCommandBars::SetShortcuts(const std::map<int, QKeySequence>& shortcuts)
{
  for (const auto& [id, keys] : shortcuts)
    SetAccelerator(id, keys);
}

void CCommandBars::SetLargeIcons(bool on)
{
  m_largeIcons = on;
  const int side = on ? 32 : 16;
  for (QToolBar* bar : m_frame->findChildren<QToolBar*>(QString(), Qt::FindDirectChildrenOnly))
    bar->setIconSize(QSize(side, side));
}

void CCommandBars::Customize(QWidget* parent)
{
  CCustomizeSheet sheet(*this, parent ? parent : m_frame);
  sheet.exec();
}

void CCommandBars::SaveState(QSettings& profile, const QString& key) const
{
  profile.beginGroup(key);
  profile.setValue(QStringLiteral("State"), m_frame->saveState());
  profile.remove(QStringLiteral("Shortcuts"));
  profile.beginGroup(QStringLiteral("Shortcuts"));
  for (const auto& [id, keys] : Shortcuts())
    profile.setValue(QString::number(id), keys.toString(QKeySequence::PortableText));
  profile.endGroup();
  profile.endGroup();
}

bool CCommandBars::LoadState(QSettings& profile, const QString& key)
{
  profile.beginGroup(key);
  const QByteArray state = profile.value(QStringLiteral("State")).toByteArray();
  std::map<int, QKeySequence> shortcuts;
  profile.beginGroup(QStringLiteral("Shortcuts"));
  for (const QString& k : profile.childKeys()) {
    bool ok = false;
    const int id = k.toInt(&ok);
    if (ok)
      shortcuts[id] =
          QKeySequence(profile.value(k).toString(), QKeySequence::PortableText);
  }
  profile.endGroup();
  profile.endGroup();
  SetShortcuts(shortcuts);
  return !state.isEmpty() && m_frame->restoreState(state);
}

// --- docking panes ----------------------------------------------------------------

CDockingPanes::CDockingPanes(QMainWindow* frame) : QObject(frame), m_frame(frame) {}

QDockWidget* CDockingPanes::CreatePane(int id, const QString& title, Qt::DockWidgetArea area,
                                       const QSize& initialSize)
{
  if (QDockWidget* existing = Pane(id))
    return existing;
  auto* dock = new QDockWidget(title, m_frame);
  dock->setObjectName(QStringLiteral("Pane%1").arg(id));
  dock->setProperty(kIdProperty, id);
  m_frame->addDockWidget(area, dock);
  const bool sideways = area == Qt::LeftDockWidgetArea || area == Qt::RightDockWidgetArea;
  m_frame->resizeDocks({dock}, {sideways ? initialSize.width() : initialSize.height()},
                       sideways ? Qt::Horizontal : Qt::Vertical);
  m_panes[id] = dock;
  return dock;
}

QDockWidget* CDockingPanes::Pane(int id) const
{
  const auto it = m_panes.find(id);
  return it == m_panes.end() ? nullptr : it->second;
}

void CDockingPanes::Attach(int id, QWidget* child)
{
  if (QDockWidget* dock = Pane(id))
    dock->setWidget(child);
}

void CDockingPanes::ShowPane(int id)
{
  if (QDockWidget* dock = Pane(id)) {
    dock->show();
    dock->raise();
  }
}

// --- status bar ---------------------------------------------------------------------

CStatusPanes::CStatusPanes(QStatusBar* bar, int count)
{
  for (int i = 0; i < count; ++i) {
    auto* label = new QLabel(bar);
    if (i == 0) {
      bar->addWidget(label, 1);
    } else {
      label->setFrameShape(QFrame::Panel);
      label->setFrameShadow(QFrame::Sunken);
      label->setMinimumWidth(60);
      bar->addPermanentWidget(label);
    }
    m_panes.push_back(label);
  }
}

void CStatusPanes::SetPaneText(int pane, const QString& text)
{
  if (pane >= 0 && pane < Count())
    m_panes[pane]->setText(text);
}

QString CStatusPanes::PaneText(int pane) const
{
  return pane >= 0 && pane < Count() ? m_panes[pane]->text() : QString();
}

// --- layout file ----------------------------------------------------------------------

bool SaveLayoutFile(const QString& path, const CCommandBars& bars, const QStringList& taskPanelItems)
{
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly))
    return false;
  QXmlStreamWriter xml(&file);
  xml.setAutoFormatting(true);
  xml.writeStartDocument();
  xml.writeStartElement(QStringLiteral("Settings"));

  xml.writeStartElement(QStringLiteral("TaskPanel"));
  for (const QString& item : taskPanelItems) {
    xml.writeStartElement(QStringLiteral("Item"));
    xml.writeAttribute(QStringLiteral("Caption"), item);
    xml.writeEndElement();
  }
  xml.writeEndElement();

  xml.writeStartElement(QStringLiteral("NormalLayout"));
  xml.writeStartElement(QStringLiteral("CommandBars"));
  for (QToolBar* bar : bars.Frame()->findChildren<QToolBar*>(QString(), Qt::FindDirectChildrenOnly)) {
    xml.writeStartElement(QStringLiteral("ToolBar"));
    xml.writeAttribute(QStringLiteral("Name"), bar->objectName());
    xml.writeAttribute(QStringLiteral("Visible"), bar->isVisibleTo(bars.Frame()) ? "1" : "0");
    xml.writeEndElement();
  }
  xml.writeEndElement();
  xml.writeStartElement(QStringLiteral("Shortcuts"));
  for (const auto& [id, keys] : bars.Shortcuts()) {
    xml.writeStartElement(QStringLiteral("Shortcut"));
    xml.writeAttribute(QStringLiteral("Id"), QString::number(id));
    xml.writeAttribute(QStringLiteral("Keys"), keys.toString(QKeySequence::PortableText));
    xml.writeEndElement();
  }
  xml.writeEndElement();
  xml.writeEmptyElement(QStringLiteral("Options"));
  xml.writeAttribute(QStringLiteral("LargeIcons"), bars.LargeIcons() ? "1" : "0");
  xml.writeStartElement(QStringLiteral("DockingPane"));
  xml.writeAttribute(QStringLiteral("State"),
                     QString::fromLatin1(bars.Frame()->saveState().toBase64()));
  xml.writeEndElement();
  xml.writeEndElement(); // NormalLayout

  xml.writeEndElement(); // Settings
  xml.writeEndDocument();
  return !xml.hasError() && file.commit();
}

bool LoadLayoutFile(const QString& path, CCommandBars& bars, QStringList* taskPanelItems)
{
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly))
    return false;

  // Read everything first; a damaged file must leave the frame as it is.
  QStringList items;
  std::map<QString, bool> toolBars;
  std::map<int, QKeySequence> shortcuts;
  QByteArray state;
  bool largeIcons = false;
  bool sawSettings = false;
  QXmlStreamReader xml(&file);
  QStringList path_;
  while (!xml.atEnd()) {
    const auto token = xml.readNext();
    if (token == QXmlStreamReader::StartElement) {
      const QString name = xml.name().toString();
      const auto a = xml.attributes();
      if (path_.isEmpty()) {
        if (name != QLatin1String("Settings"))
          return false;
        sawSettings = true;
      } else if (name == QLatin1String("Item") && path_.last() == QLatin1String("TaskPanel")) {
        items.append(a.value(QLatin1String("Caption")).toString());
      } else if (name == QLatin1String("ToolBar") && path_.last() == QLatin1String("CommandBars")) {
        toolBars[a.value(QLatin1String("Name")).toString()] =
            a.value(QLatin1String("Visible")) != QLatin1String("0");
      } else if (name == QLatin1String("Shortcut") && path_.last() == QLatin1String("Shortcuts")) {
        bool ok = false;
        const int id = a.value(QLatin1String("Id")).toInt(&ok);
        if (ok)
          shortcuts[id] = QKeySequence(a.value(QLatin1String("Keys")).toString(),
                                       QKeySequence::PortableText);
      } else if (name == QLatin1String("Options")) {
        largeIcons = a.value(QLatin1String("LargeIcons")) == QLatin1String("1");
      } else if (name == QLatin1String("DockingPane")) {
        state = QByteArray::fromBase64(a.value(QLatin1String("State")).toLatin1());
      }
      path_.append(name);
    } else if (token == QXmlStreamReader::EndElement) {
      path_.removeLast();
    }
  }
  if (xml.hasError() || !sawSettings)
    return false;

  if (!state.isEmpty())
    bars.Frame()->restoreState(state);
  for (const auto& [name, visible] : toolBars)
    if (QToolBar* bar = bars.ToolBar(name))
      bar->setVisible(visible);
  bars.SetShortcuts(shortcuts);
  bars.SetLargeIcons(largeIcons);
  if (taskPanelItems)
    *taskPanelItems = items;
  return true;
}

// --- customise sheet ------------------------------------------------------------------

namespace {
QString Plain(QString caption)
{
  caption.remove(QLatin1Char('&'));
  return caption;
}

void CollectCommands(const QList<QAction*>& actions, std::vector<int>* ids)
{
  for (QAction* a : actions) {
    if (QMenu* m = a->menu()) {
      CollectCommands(m->actions(), ids);
      continue;
    }
    const int id = a->property(kIdProperty).toInt();
    if (id > 0 && std::find(ids->begin(), ids->end(), id) == ids->end())
      ids->push_back(id);
  }
}
} // namespace

CCustomizeSheet::CCustomizeSheet(CCommandBars& bars, QWidget* parent)
    : QDialog(parent), m_bars(bars), m_categoryList(new QListWidget),
      m_commandList(new QListWidget), m_keyCommands(new QListWidget),
      m_keyEdit(new QKeySequenceEdit), m_currentKeys(new QLabel)
{
  setWindowTitle(tr("Customize"));

  // Categories: the drop-down menus of the menu bar, then the fixed ones.
  for (QAction* a : bars.Frame()->menuBar()->actions()) {
    if (QMenu* m = a->menu()) {
      std::vector<int> ids;
      CollectCommands(m->actions(), &ids);
      m_categories.emplace_back(Plain(m->title()), ids);
    }
  }
  std::vector<int> all = bars.CommandIds();
  all.erase(std::remove_if(all.begin(), all.end(), [&](int id) { return bars.IsCommandHidden(id); }),
            all.end());
  m_categories.emplace_back(tr("All Commands"), all);
  m_categories.emplace_back(tr("Built-in Menus"), std::vector<int>(bars.Popups().size(), 0));
  m_categories.emplace_back(tr("New Menu"), std::vector<int>());

  auto* tabs = new QTabWidget;
  auto* commands = new QWidget;
  auto* commandsLayout = new QHBoxLayout(commands);
  commandsLayout->addWidget(m_categoryList);
  commandsLayout->addWidget(m_commandList, 1);
  for (const auto& c : m_categories)
    m_categoryList->addItem(c.first);
  connect(m_categoryList, &QListWidget::currentRowChanged, this, &CCustomizeSheet::ShowCategory);
  tabs->addTab(commands, tr("Commands"));

  auto* keyboard = new QWidget;
  auto* keyLayout = new QVBoxLayout(keyboard);
  keyLayout->addWidget(m_keyCommands, 1);
  keyLayout->addWidget(m_currentKeys);
  auto* keyRow = new QHBoxLayout;
  auto* assign = new QPushButton(tr("Assign"));
  auto* remove = new QPushButton(tr("Remove"));
  keyRow->addWidget(m_keyEdit, 1);
  keyRow->addWidget(assign);
  keyRow->addWidget(remove);
  keyLayout->addLayout(keyRow);
  for (int id : all) {
    auto* item = new QListWidgetItem(Plain(bars.Caption(id)));
    item->setData(Qt::UserRole, id);
    m_keyCommands->addItem(item);
  }
  auto selectedId = [this] {
    QListWidgetItem* item = m_keyCommands->currentItem();
    return item ? item->data(Qt::UserRole).toInt() : 0;
  };
  connect(m_keyCommands, &QListWidget::currentRowChanged, this, [this] { ShowKeys(); });
  connect(assign, &QPushButton::clicked, this,
          [this, selectedId] { AssignShortcut(selectedId(), m_keyEdit->keySequence()); });
  connect(remove, &QPushButton::clicked, this, [this, selectedId] { RemoveShortcut(selectedId()); });
  tabs->addTab(keyboard, tr("Keyboard"));

  auto* options = new QWidget;
  auto* optionsLayout = new QVBoxLayout(options);
  auto* large = new QCheckBox(tr("Large icons"));
  large->setChecked(bars.LargeIcons());
  connect(large, &QCheckBox::toggled, this, [this](bool on) { m_bars.SetLargeIcons(on); });
  optionsLayout->addWidget(large);
  optionsLayout->addStretch(1);
  tabs->addTab(options, tr("Options"));

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tabs);
  layout->addWidget(buttons);
  m_categoryList->setCurrentRow(0);
}

QStringList CCustomizeSheet::Categories() const
{
  QStringList out;
  for (const auto& c : m_categories)
    out.append(c.first);
  return out;
}

std::vector<int> CCustomizeSheet::CategoryCommands(const QString& category) const
{
  for (const auto& c : m_categories)
    if (c.first == category)
      return c.second;
  return {};
}

void CCustomizeSheet::ShowCategory(int row)
{
  m_commandList->clear();
  if (row < 0 || row >= static_cast<int>(m_categories.size()))
    return;
  if (m_categories[row].first == tr("Built-in Menus")) {
    for (QMenu* m : m_bars.Popups())
      m_commandList->addItem(Plain(m->title()));
    return;
  }
  for (int id : m_categories[row].second)
    m_commandList->addItem(Plain(m_bars.Caption(id)));
}

void CCustomizeSheet::AssignShortcut(int id, const QKeySequence& keys)
{
  if (id <= 0 || keys.isEmpty())
    return;
  // A key sequence belongs to one command: whoever held it gives it up.
  for (const auto& [other, held] : m_bars.Shortcuts())
    if (other != id && held == keys)
      m_bars.SetAccelerator(other, QKeySequence());
  m_bars.SetAccelerator(id, keys);
  ShowKeys();
}

void CCustomizeSheet::RemoveShortcut(int id)
{
  if (id <= 0)
    return;
  m_bars.SetAccelerator(id, QKeySequence());
  ShowKeys();
}

void CCustomizeSheet::ShowKeys()
{
  QListWidgetItem* item = m_keyCommands->currentItem();
  const QAction* a = item ? m_bars.Command(item->data(Qt::UserRole).toInt()) : nullptr;
  m_currentKeys->setText(a ? a->shortcut().toString(QKeySequence::NativeText) : QString());
}
