#include "ControlIds.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QVariant>
#include <QWidget>

namespace {
const char* const kCtrlIdProperty = "ctrlId";

QWidget* FindBelow(const QWidget* parent, int id)
{
  for (QObject* child : parent->children()) {
    auto* w = qobject_cast<QWidget*>(child);
    if (!w)
      continue;
    if (CtrlId(w) == id)
      return w;
    if (QWidget* found = FindBelow(w, id))
      return found;
  }
  return nullptr;
}

void ApplyBelow(QWidget* w, const std::function<bool(int, QString*)>& lookup, int* count)
{
  const int id = CtrlId(w);
  if (id > 0) {
    QString text;
    if (lookup(id, &text) && SetCtrlText(w, text))
      ++*count;
  }
  for (QObject* child : w->children())
    if (auto* cw = qobject_cast<QWidget*>(child))
      ApplyBelow(cw, lookup, count);
}
} // namespace

void SetCtrlId(QWidget* widget, int id)
{
  if (!widget)
    return;
  widget->setProperty(kCtrlIdProperty, id > 0 ? QVariant(id) : QVariant());
}

int CtrlId(const QObject* widget)
{
  if (!widget)
    return 0;
  const QVariant v = widget->property(kCtrlIdProperty);
  return v.isValid() ? v.toInt() : 0;
}

QWidget* FindCtrl(const QWidget* root, int id)
{
  if (!root || id <= 0)
    return nullptr;
  if (CtrlId(root) == id)
    return const_cast<QWidget*>(root);
  return FindBelow(root, id);
}

bool SetCtrlText(QWidget* widget, const QString& text)
{
  if (!widget)
    return false;
  if (auto* b = qobject_cast<QAbstractButton*>(widget)) {
    b->setText(text);
    return true;
  }
  if (auto* l = qobject_cast<QLabel*>(widget)) {
    l->setText(text);
    return true;
  }
  if (auto* g = qobject_cast<QGroupBox*>(widget)) {
    g->setTitle(text);
    return true;
  }
  if (auto* e = qobject_cast<QLineEdit*>(widget)) {
    e->setText(text);
    return true;
  }
  if (auto* c = qobject_cast<QComboBox*>(widget)) {
    if (!c->isEditable())
      return false;
    c->setEditText(text);
    return true;
  }
  if (widget->isWindow()) {
    widget->setWindowTitle(text);
    return true;
  }
  return false;
}

QString CtrlText(const QWidget* widget)
{
  if (!widget)
    return {};
  if (auto* b = qobject_cast<const QAbstractButton*>(widget))
    return b->text();
  if (auto* l = qobject_cast<const QLabel*>(widget))
    return l->text();
  if (auto* g = qobject_cast<const QGroupBox*>(widget))
    return g->title();
  if (auto* e = qobject_cast<const QLineEdit*>(widget))
    return e->text();
  if (auto* c = qobject_cast<const QComboBox*>(widget))
    return c->isEditable() ? c->currentText() : QString();
  if (widget->isWindow())
    return widget->windowTitle();
  return {};
}

int ApplyCtrlTexts(QWidget* root, const std::function<bool(int, QString*)>& lookup)
{
  int count = 0;
  if (root && lookup)
    ApplyBelow(root, lookup, &count);
  return count;
}

int ApplyCtrlTexts(QWidget* root, const std::map<int, QString>& texts)
{
  return ApplyCtrlTexts(root, [&texts](int id, QString* text) {
    const auto it = texts.find(id);
    if (it == texts.end())
      return false;
    *text = it->second;
    return true;
  });
}

int ApplyCtrlTexts(QWidget* root, const std::map<int, std::wstring>& texts)
{
  return ApplyCtrlTexts(root, [&texts](int id, QString* text) {
    const auto it = texts.find(id);
    if (it == texts.end())
      return false;
    *text = QString::fromStdWString(it->second);
    return true;
  });
}
