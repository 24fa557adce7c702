#include "TorvaneView.h"

#include "DataDlg.h"

#include <QResizeEvent>

CTorvaneView::CTorvaneView(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("TorvaneView"));
}

CTorvaneView::~CTorvaneView()
{
    CloseCurrentView();
}

void CTorvaneView::CloseCurrentView()
{
    CDataDlg* old = view_;
    view_ = nullptr;
    // Joins the view's workers before anything it uses goes away.
    CDataDlg::Destroy(old);
}

void CTorvaneView::ShowView(CDataDlg* view, ParamTable* table)
{
    CloseCurrentView();
    if (!view) return;
    // A dialog is a window of its own; inside the frame it is a plain child.
    view->setParent(this, Qt::Widget);
    view->setGeometry(rect());
    view_ = view;
    view->show();
    view->SetTable(table);
    view->setGeometry(rect());
}

void CTorvaneView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (view_) view_->setGeometry(rect());
}
