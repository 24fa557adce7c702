#include "DlgInputPara.h"

#include "ControlIds.h"
#include "LanguageTables.h"
#include "ParamTable.h"
#include "ValueCheck.h"

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

#include <algorithm>
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
    about_ = new QLabel(this);
    SetCtrlId(about_, IDC_ABOUT);
    about_->hide();
    grid->addWidget(about_, 0, 0, 1, 2);
    grid->addWidget(label_, 1, 0);
    grid->addWidget(edit_, 1, 1);
    AddButtons(this, grid, 2, &ok_, &cancel_);
}

QString CDlgInputPara::AboutText(const ParamRecord& r, int languageIndex)
{
    const QString range = QString::fromStdWString(PickVariant(L"%1 to %2,%1 \u81f3 %2", languageIndex))
                              .arg(QString::fromStdWString(FormatByExponent(r.minValue, r.exponent)),
                                   QString::fromStdWString(FormatByExponent(r.maxValue, r.exponent)));
    return QString::fromStdWString(PickVariant(r.name, languageIndex)) + QStringLiteral("\n") + range +
           (r.unit.empty() ? QString() : QStringLiteral(" ") + QString::fromStdWString(r.unit));
}

QString CDlgInputPara::aboutText() const
{
    return about_->isHidden() ? QString() : about_->text();
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

QString CDlgInputPara::RoundedText(const QString& rounded, int decimals)
{
    return QStringLiteral("This value keeps %1 decimal places: the entry was rounded to %2. "
                          "Press OK to take it.")
        .arg(decimals)
        .arg(rounded);
}

double CDlgInputPara::RoundToDecimals(double v, int decimals, bool* changed)
{
    if (changed) *changed = false;
    if (decimals < 0 || decimals > 3 || !std::isfinite(v)) return v;
    // The register's own rounding, so the field shows what will be written.
    const double r = RoundByExponent(v, -decimals);
    if (changed) *changed = std::fabs(r - v) > 1e-9 * std::max(1.0, std::fabs(v));
    return r;
}

void CDlgInputPara::showEvent(QShowEvent* event)
{
    if (!event->spontaneous()) {
        setWindowTitle(title);
        if (record) {
            about_->setText(AboutText(*record, languageIndex));
            about_->show();
        }
        if (valueUnknown)
            edit_->clear();
        else
            edit_->setText(decimals >= 0 ? QString::number(value, 'f', decimals) : QString::number(value, 'g', 15));
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
    bool rounded = false;
    const double r = RoundToDecimals(v, decimals, &rounded);
    if (r < minValue || r > maxValue) {
        Refuse(OutOfRangeText(minValue, maxValue));
        return;
    }
    // Beyond the bounds, what every other path checks (an option code, a
    // value the register cannot hold).
    if (table && record) {
        const valuecheck::Assessed a = valuecheck::Assess(*table, *record, v);
        if (a.verdict != valuecheck::Verdict::Ok) {
            Refuse(QString::fromStdWString(valuecheck::ReasonText(*table, *record, a.verdict, languageIndex)));
            return;
        }
    }
    if (rounded) {
        const QString text = QString::number(r, 'f', decimals);
        edit_->setText(text);
        Refuse(RoundedText(text, decimals));
        return;
    }
    value = v;
    QDialog::accept();
}

CDlgInputParaCB::CDlgInputParaCB(const QStringList& entries, const QString& initialChoice, QWidget* parent)
    : QDialog(parent), optionEntries(entries), choice(initialChoice), refusal(&DefaultRefusal)
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

QString CDlgInputParaCB::NotAnOptionText()
{
    return QStringLiteral("Please choose one of the listed options.");
}

void CDlgInputParaCB::Refuse(const QString& text)
{
    if (refusal) refusal(this, text);
    combo_->setFocus();
    if (QLineEdit* e = combo_->lineEdit()) e->selectAll();
}

void CDlgInputParaCB::accept()
{
    const QString text = combo_->currentText().trimmed();
    if (optionEntries.isEmpty()) {
        bool ok = false;
        const double v = QLocale::c().toDouble(text, &ok);
        if (!ok || !std::isfinite(v)) {
            Refuse(CDlgInputPara::NotANumberText());
            return;
        }
        if (v < minValue || v > maxValue) {
            Refuse(CDlgInputPara::OutOfRangeText(minValue, maxValue));
            return;
        }
        choice = text;
        QDialog::accept();
        return;
    }
    const QString* picked = nullptr;
    for (const QString& e : optionEntries)
        if (e == text) {
            picked = &e;
            break;
        }
    // Typing just the code picks its entry.
    if (!picked && !text.isEmpty())
        for (const QString& e : optionEntries)
            if (e.section(QLatin1Char(','), 0, 0) == text) {
                picked = &e;
                break;
            }
    if (!picked) {
        Refuse(NotAnOptionText());
        return;
    }
    choice = *picked;
    QDialog::accept();
}
