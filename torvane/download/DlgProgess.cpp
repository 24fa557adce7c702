#include "DlgProgess.h"

#include "ControlIds.h"
#include "DataDlg.h"
#include "LanguageTables.h"
#include "TorvaneApp.h"

#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

CDlgProgess::CDlgProgess(CDataDlg* parentView) : QDialog(parentView), owner_(parentView)
{
    setWindowTitle(QStringLiteral("Processing..."));
    SetCtrlId(this, IDD);
    setModal(false);
    auto* layout = new QVBoxLayout(this);
    bar_ = new QProgressBar(this);
    SetCtrlId(bar_, IDC_PROGRESS);
    bar_->setRange(lower_, upper_);
    bar_->setValue(0);
    layout->addWidget(bar_);
    cancel_ = new QPushButton(QString::fromWCharArray(L"\u53d6\u6d88"), this);
    SetCtrlId(cancel_, IDCANCEL_);
    cancel_->setDefault(true);
    layout->addWidget(cancel_, 0, Qt::AlignHCenter);
    connect(cancel_, &QPushButton::clicked, this, &CDlgProgess::OnCancel);
    // The template's Chinese captions give way to the language shown.
    if (TheApp()) ApplyCtrlTexts(this, TheApp()->Language().controlTexts());
}

bool CDlgProgess::Create(CDataDlg* view)
{
    owner_ = view;
    if (parentWidget() != view) setParent(view, windowFlags() | Qt::Dialog);
    setModal(false);
    return true;
}

void CDlgProgess::SetRange(int upper)
{
    upper_ = upper;
    step_ = 1;
    bar_->setRange(0, upper);
    bar_->setValue(0);
}

int CDlgProgess::position() const
{
    return bar_->value();
}

void CDlgProgess::Step(int n)
{
    long long next = static_cast<long long>(bar_->value()) + n;
    if (next > bar_->maximum()) next = bar_->maximum();
    if (next < bar_->minimum()) next = bar_->minimum();
    bar_->setValue(static_cast<int>(next));
}

void CDlgProgess::OnCancel()
{
    if (owner_) owner_->SetRunning(false);
    QDialog::reject();
}

void CDlgProgess::reject()
{
    OnCancel();
}

void CDlgProgess::CloseRequest()
{
    if (TheApp()) TheApp()->UpdateStatusBar();
    OnCancel();
}

void CDlgProgess::PostStep(int n)
{
    QMetaObject::invokeMethod(this, [this, n] { Step(n); }, Qt::QueuedConnection);
}

void CDlgProgess::PostCaption(const QString& caption)
{
    QMetaObject::invokeMethod(this, [this, caption] { setWindowTitle(caption); }, Qt::QueuedConnection);
}

void CDlgProgess::PostClose()
{
    QMetaObject::invokeMethod(this, [this] { CloseRequest(); }, Qt::QueuedConnection);
}
