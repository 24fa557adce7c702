#pragma once
// Numeric control identifiers. Dialog controls are known by number: the
// language workbook is keyed by these numbers, and views look their controls
// up by them. The number rides on the widget as the dynamic property "ctrlId".

#include <QObject>
#include <QString>
#include <QWidget>
#include <functional>
#include <map>
#include <string>


// Gives a widget its control identifier (0 takes it away).
void SetCtrlId(QWidget* widget, int id);

// The identifier of a widget, 0 when it has none.
int CtrlId(const QObject* widget);

// The first widget below root (root itself included) with that identifier,
// searched depth first in creation order; nullptr when none. Identifiers <= 0
// name nothing.
QWidget* FindCtrl(const QWidget* root, int id);

template <class T>
T* FindCtrlAs(const QWidget* root, int id)
{
  return qobject_cast<T*>(FindCtrl(root, id));
}

// Sets the caption of a control the way its kind shows one: button, label and
// line-edit text, group-box title, the window title of a top-level window,
// the edit text of an editable combo box. False when the widget has no caption.
bool SetCtrlText(QWidget* widget, const QString& text);

// The caption SetCtrlText would set; empty for widgets without one.
QString CtrlText(const QWidget* widget);

// Replaces the captions of root and of every widget below it whose
// identifier the look-up knows. The look-up returns false for identifiers it
// does not know; those controls keep their caption. A map entry applies even
// when its text is empty. Returns the number of captions replaced.
int ApplyCtrlTexts(QWidget* root, const std::function<bool(int id, QString* text)>& lookup);
int ApplyCtrlTexts(QWidget* root, const std::map<int, QString>& texts);
int ApplyCtrlTexts(QWidget* root, const std::map<int, std::wstring>& texts);
