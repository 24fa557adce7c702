#include "DlgMakeFile.h"

#include "ControlIds.h"
#include "ProgramPackage.h"
#include "SmallControls.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

CDlgMakeFile::CDlgMakeFile(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Making a program file"));
    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(QStringLiteral("Program Path:"), this), 0, 0);
    source_ = new CBrowseEdit(this);
    source_->SetMode(CBrowseEdit::Mode::Folder);
    SetCtrlId(source_, IDC_SOURCE);
    grid->addWidget(source_, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Export File:"), this), 1, 0);
    export_ = new QLineEdit(this);
    SetCtrlId(export_, IDC_EXPORT);
    grid->addWidget(export_, 1, 1);
    grid->setColumnStretch(1, 1);

    ok_ = new QPushButton(QStringLiteral("OK"), this);
    SetCtrlId(ok_, IDOK_);
    ok_->setDefault(true);
    cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    SetCtrlId(cancel_, IDCANCEL_);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok_);
    buttons->addWidget(cancel_);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(buttons);
    resize(520, sizeHint().height());

    connect(source_, &CBrowseEdit::textChanged, this, &CDlgMakeFile::OnSourceChanged);
    connect(ok_, &QPushButton::clicked, this, &CDlgMakeFile::accept);
    connect(cancel_, &QPushButton::clicked, this, &CDlgMakeFile::reject);
}

void CDlgMakeFile::OnSourceChanged(const QString& text)
{
    export_->setText(QString::fromStdWString(ProposeExportFile(text.toStdWString())));
}

void CDlgMakeFile::accept()
{
    lastResult_ = MakePackage(source_->Text().toStdWString(), export_->text().toStdWString());
    QDialog::accept();
}

void RunMakeFileDialog(QWidget* parent)
{
    CDlgMakeFile dialog(parent);
    dialog.exec();
}
