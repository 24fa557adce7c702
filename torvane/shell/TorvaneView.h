// The view area of the main window: it shows one data view at a time,
// filling its client area.
#pragma once

#include <QWidget>

class CDataDlg;
class ParamTable;

class CTorvaneView : public QWidget {
    Q_OBJECT
public:
    explicit CTorvaneView(QWidget* parent = nullptr);
    ~CTorvaneView() override;

    CDataDlg* CurrentView() const { return view_; }

    // Replaces the current view by `view` (taking ownership): the old view's
    // workers are joined and it is destroyed first; then the new one becomes
    // a child of this area, is shown, gets the table and fills the area.
    // A null view only closes the current one.
    void ShowView(CDataDlg* view, ParamTable* table);
    // Stops and destroys the current view, if any.
    void CloseCurrentView();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    CDataDlg* view_ = nullptr;
};
