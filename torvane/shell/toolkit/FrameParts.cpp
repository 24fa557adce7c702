#include "FrameParts.h"

#include <QAction>
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
  if (taskPanelItems)
    *taskPanelItems = items;
  return true;
}
