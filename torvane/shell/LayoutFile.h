// The window layout kept beside the program between runs (the program path
// with ".xml"): root "Settings" with "TaskPanel" and "NormalLayout", the
// latter holding "CommandBars" (toolbars and their buttons), "Shortcuts",
// "Options" and "DockingPane" (the window's dock and toolbar placement and
// its geometry).
//
// Reading is all or nothing: the whole file is parsed and checked before the
// caller gets anything, so a damaged file leaves the window as it was.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <map>
#include <vector>

struct LayoutToolBar {
    QString name;
    bool visible = true;
    std::vector<int> buttons;  // command identifiers; 0 is a separator
};

struct LayoutData {
    QStringList taskPanelItems;
    std::vector<LayoutToolBar> toolBars;
    // Every command's keys in portable text ("Ctrl+C"); an empty text records
    // a shortcut the user removed.
    std::map<int, QString> shortcuts;
    bool largeIcons = false;
    QByteArray windowState;  // QMainWindow::saveState
    QByteArray geometry;     // QWidget::saveGeometry
};

// Writes the file through a temporary file renamed into place, so a failed
// write leaves the previous file. False when it could not be written.
bool WriteLayoutFile(const QString& path, const LayoutData& layout);

// Reads the file into *layout. False, and *layout untouched, when the file is
// missing, unreadable, not well-formed, not a layout file, or holds a value
// that does not parse (an identifier that is no number, bad base64).
bool ReadLayoutFile(const QString& path, LayoutData* layout);
