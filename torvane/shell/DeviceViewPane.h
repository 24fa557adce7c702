// The device view pane: the device tree of the current parameter table, the
// contents of the docking pane "Device View".
#pragma once

#include "DeviceCatalogue.h"

#include <QIcon>
#include <QStringList>
#include <QPixmap>
#include <QTreeWidget>
#include <QWidget>

#include <vector>

// The tree control: a tree with an Office-style thin border, buttons, lines
// and the selection shown when it has no focus. Each item carries its
// catalogue number.
class COfficeTreeCtrl : public QTreeWidget {
    Q_OBJECT
public:
    explicit COfficeTreeCtrl(QWidget* parent = nullptr);

    // The catalogue number of an item (0 for null).
    static int ItemNumber(const QTreeWidgetItem* item);
    // The first item with that number, searched in tree order; null if none.
    QTreeWidgetItem* FindItem(int number) const;
};

class QCompleter;
class QLineEdit;
class QStringListModel;

class CDeviceViewPane : public QWidget {
    Q_OBJECT
public:
    explicit CDeviceViewPane(QWidget* parent = nullptr);

    COfficeTreeCtrl* Tree() const { return tree_; }
    // The parameter search field above the tree.
    QLineEdit* SearchField() const { return search_; }
    // What the search field offers as the user types ("P01.04 Name"), and
    // the hint it shows while empty.
    void SetSearchEntries(const QStringList& entries);
    void SetSearchHint(const QString& hint);

    // Empties the tree and fills it with `items` (parents before children).
    // Raises no selection notice.
    void Rebuild(const std::vector<TreeItem>& items);
    // Empties the tree (no notice).
    void Clear();
    // Selects the item with that number; its selection notice follows.
    bool SelectNumber(int number);
    // Puts the selection back on the item selected before the last change,
    // without a notice (a view that may not be replaced now).
    void RevertSelection();

    // The tree's two images: 0 for an item, 1 for the selected item.
    static QPixmap TreeImage(int index);
    static QIcon TreeIcon();

signals:
    // The selection moved to an item that has a parent (the root and a
    // cleared selection raise nothing).
    void itemSelected(int number, int parentNumber, const QString& text);
    // Enter in the search field, or an offered entry chosen.
    void searchRequested(const QString& text);

private:
    void OnCurrentChanged(QTreeWidgetItem* current);

    COfficeTreeCtrl* tree_;
    QLineEdit* search_;
    QStringListModel* searchEntries_;
    QCompleter* completer_;
    bool activated_ = false;
    bool rebuilding_ = false;
    QTreeWidgetItem* previous_ = nullptr;
};
