#include "DlgCompareFile.h"

#include "LanguageTables.h"
#include "ParamTable.h"
#include "ParamViewLogic.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

QString T(const wchar_t* both, int lang) { return QString::fromStdWString(PickVariant(both, lang)); }
QString Q(const std::wstring& s) { return QString::fromStdWString(s); }

}  // namespace

QString CDlgCompareFile::NothingDiffersText(int lang)
{
    return T(L"No row differs from the drive or the defaults.,没有与驱动器或默认值不同的项。", lang);
}

CDlgCompareFile::CDlgCompareFile(const ParamTable& table, const std::vector<paramplan::Step>& steps, int lang,
                                 QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(T(L"Compare with File,与文件比较", lang));
    for (const paramplan::Step& s : steps)
        if (paramplan::Differs(table, s)) rows_.push_back(s);

    auto* layout = new QVBoxLayout(this);
    const paramplan::Counts n = paramplan::Count(rows_);
    auto* summary = new QLabel(
        rows_.empty() ? NothingDiffersText(lang)
                      : T(L"%1 to write; %2 refused; %3 with the drive's value unknown.,"
                          L"%1 项可写入；%2 项被拒绝；%3 项驱动器值未知。",
                          lang)
                            .arg(n.write)
                            .arg(n.refuse)
                            .arg(n.readFirst),
        this);
    layout->addWidget(summary);

    grid_ = new QTableWidget(RowCount(), kColumns, this);
    grid_->setHorizontalHeaderLabels({T(L"Take,采用", lang), QStringLiteral("VKR Pnu"),
                                      T(L"Descripition,描述", lang), T(L"Drive,驱动器", lang),
                                      T(L"File,文件", lang), T(L"Default,默认值", lang), T(L"Unit,单位", lang),
                                      T(L"Note,说明", lang)});
    grid_->verticalHeader()->hide();
    grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    for (int row = 0; row < RowCount(); ++row) {
        const paramplan::Step& s = rows_[static_cast<size_t>(row)];
        const ParamRecord& r = table.params[static_cast<size_t>(s.record)];
        QString note;
        switch (s.action) {
        case paramplan::Action::Write: break;
        case paramplan::Action::Leave: note = T(L"Same as the drive,与驱动器相同", lang); break;
        case paramplan::Action::Refuse:
            note = T(L"Refused: ,拒绝：", lang) + Q(paramplan::RefusalText(table, s, lang));
            break;
        case paramplan::Action::ReadFirst:
            note = T(L"Drive value unknown: read it first,驱动器值未知：请先读取", lang);
            break;
        }
        if (s.rounded) note += (note.isEmpty() ? QString() : QStringLiteral(" ")) + T(L"(rounded),（已舍入）", lang);
        const QString texts[kColumns] = {
            QString(),
            QStringLiteral("P") + Q(r.pnu),
            Q(PickVariant(r.name, lang)),
            s.drive.known ? Q(table.ValueText(r, s.drive.value, lang)) : QStringLiteral("-"),
            Q(table.ValueText(r, s.value, lang)),
            Q(paramview::LimitText(r.defaultValue, r.noDefault, r.exponent)),
            Q(r.unit),
            note};
        for (int c = 0; c < kColumns; ++c) {
            auto* item = new QTableWidgetItem(texts[c]);
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
            if (c == kColTake && s.action == paramplan::Action::Write) {
                item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
                item->setCheckState(Qt::Checked);
            }
            grid_->setItem(row, c, item);
        }
    }
    grid_->resizeColumnsToContents();
    layout->addWidget(grid_, 1);

    auto* buttons = new QHBoxLayout;
    read_ = new QPushButton(T(L"Read unknown rows,读取未知项", lang), this);
    read_->setEnabled(n.readFirst > 0);
    take_ = new QPushButton(T(L"Take selected,采用所选", lang), this);
    take_->setEnabled(n.write > 0);
    take_->setDefault(true);
    auto* cancel = new QPushButton(T(L"Cancel,取消", lang), this);
    buttons->addWidget(read_);
    buttons->addStretch(1);
    buttons->addWidget(take_);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
    connect(take_, &QPushButton::clicked, this, [this] {
        outcome_ = Outcome::Take;
        accept();
    });
    connect(read_, &QPushButton::clicked, this, [this] {
        outcome_ = Outcome::ReadFirst;
        accept();
    });
    connect(cancel, &QPushButton::clicked, this, [this] {
        outcome_ = Outcome::Cancel;
        reject();
    });
    resize(760, 420);
}

QString CDlgCompareFile::Text(int row, int column) const
{
    const QTableWidgetItem* item = grid_->item(row, column);
    return item ? item->text() : QString();
}

bool CDlgCompareFile::IsTickable(int row) const
{
    const QTableWidgetItem* item = grid_->item(row, kColTake);
    return item && (item->flags() & Qt::ItemIsUserCheckable);
}

bool CDlgCompareFile::IsTicked(int row) const
{
    return IsTickable(row) && grid_->item(row, kColTake)->checkState() == Qt::Checked;
}

void CDlgCompareFile::SetTicked(int row, bool ticked)
{
    if (IsTickable(row)) grid_->item(row, kColTake)->setCheckState(ticked ? Qt::Checked : Qt::Unchecked);
}

std::vector<paramplan::Step> CDlgCompareFile::Taken() const
{
    std::vector<paramplan::Step> taken;
    for (int row = 0; row < RowCount(); ++row)
        if (IsTicked(row)) taken.push_back(rows_[static_cast<size_t>(row)]);
    return taken;
}

std::vector<int> CDlgCompareFile::UnknownRecords() const
{
    std::vector<int> records;
    for (const paramplan::Step& s : rows_)
        if (s.action == paramplan::Action::ReadFirst) records.push_back(s.record);
    return records;
}
