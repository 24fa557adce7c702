#include "DlgInputPara.h"

#include "ControlIds.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QShowEvent>

#include <cmath>

namespace {

void DefaultRefusal(QWidget* parent, const QString& text)
{
    // On the heap: the parent may go while the box is open.
    QPointer<QMessageBox> box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Torvane"), text,
                                                QMessageBox::Ok, parent);
    box->exec();
    delete box.data();
}

void AddButtons(QDialog* dlg, QGridLayout* grid, int row, QPushButton** ok, QPushButton** cancel)
{
    *ok = new QPushButton(QStringLiteral("OK"), dlg);
    SetCtrlId(*ok, 1);
    (*ok)->setDefault(true);
    *cancel = new QPushButton(QStringLiteral("Cancel"), dlg);
    SetCtrlId(*cancel, 2);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(*ok);
    buttons->addWidget(*cancel);
    grid->addLayout(buttons, row, 0, 1, 2);
    QObject::connect(*ok, &QPushButton::clicked, dlg, &QDialog::accept);
    QObject::connect(*cancel, &QPushButton::clicked, dlg, &QDialog::reject);
}

}  // namespace

CDlgInputPara::CDlgInputPara(QWidget* parent) : QDialog(parent), refusal(&DefaultRefusal)
{
    setWindowTitle(QStringLiteral("Input param..."));
    SetCtrlId(this, IDD);
    auto* grid = new QGridLayout(this);
    label_ = new QLabel(QStringLiteral("Para:"), this);
    SetCtrlId(label_, IDC_LABEL);
    edit_ = new QLineEdit(this);
    SetCtrlId(edit_, IDC_VALUE);
    grid->addWidget(label_, 0, 0);
    grid->addWidget(edit_, 0, 1);
    AddButtons(this, grid, 1, &ok_, &cancel_);
}

QString CDlgInputPara::NotANumberText()
{
    return QStringLiteral("Please enter a number.");
}

QString CDlgInputPara::OutOfRangeText(double minValue, double maxValue)
{
    return QStringLiteral("Please enter a number between %1 and %2.")
        .arg(QString::number(minValue, 'g', 15), QString::number(maxValue, 'g', 15));
}

void CDlgInputPara::showEvent(QShowEvent* event)
{
    if (!event->spontaneous()) {
        setWindowTitle(title);
        edit_->setText(QString::number(value, 'g', 15));
        edit_->selectAll();
        edit_->setFocus();
    }
    QDialog::showEvent(event);
}

void CDlgInputPara::Refuse(const QString& text)
{
    if (refusal) refusal(this, text);
    edit_->setFocus();
    edit_->selectAll();
}

void CDlgInputPara::accept()
{
    bool ok = false;
    const double v = QLocale::c().toDouble(edit_->text().trimmed(), &ok);
    if (!ok || !std::isfinite(v)) {
        Refuse(NotANumberText());
        return;
    }
    if (v < minValue || v > maxValue) {
        Refuse(OutOfRangeText(minValue, maxValue));
        return;
    }
    value = v;
    QDialog::accept();
}

CDlgInputParaCB::CDlgInputParaCB(const QStringList& entries, const QString& initialChoice, QWidget* parent)
    : QDialog(parent), optionEntries(entries), choice(initialChoice)
{
    setWindowTitle(QStringLiteral("Input param..."));
    SetCtrlId(this, IDD);
    auto* grid = new QGridLayout(this);
    label_ = new QLabel(QStringLiteral("Select:"), this);
    SetCtrlId(label_, IDC_LABEL);
    combo_ = new QComboBox(this);
    combo_->setEditable(true);
    combo_->setInsertPolicy(QComboBox::NoInsert);
    combo_->setMinimumContentsLength(24);
    SetCtrlId(combo_, IDC_CHOICE);
    grid->addWidget(label_, 0, 0);
    grid->addWidget(combo_, 0, 1);
    AddButtons(this, grid, 1, &ok_, &cancel_);
}

void CDlgInputParaCB::showEvent(QShowEvent* event)
{
    if (!event->spontaneous()) {
        if (!filled_) {
            filled_ = true;
            combo_->addItems(optionEntries);
        }
        setWindowTitle(title);
        combo_->setEditText(choice);
        combo_->setFocus();
    }
    QDialog::showEvent(event);
}

void CDlgInputParaCB::accept()
{
    choice = combo_->currentText();
    QDialog::accept();
}
