#include "ParamGridView.h"

#include "ControlIds.h"
#include "LanguageTables.h"
#include "ParamPrompts.h"
#include "ParamTable.h"
#include "ParamTransfer.h"
#include "ParamViewLogic.h"
#include "ReportGrid.h"
#include "TorvaneApp.h"

#include <QApplication>
#include <QHeaderView>
#include <QPainter>
#include <QStyle>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QResizeEvent>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace {

// The image of the Value cell's button: drawn on the mask colour, which the
// image list makes transparent.
QPixmap EditBitmap()
{
    QPixmap pm(16, 16);
    pm.fill(QColor(0xFF, 0x00, 0xFF));
    QPainter p(&pm);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    for (int i = 0; i < 3; ++i) p.drawRect(3 + i * 4, 10, 2, 2);
    return pm;
}

QString Q(const std::wstring& s) { return QString::fromStdWString(s); }

}  // namespace

CParamGridView::CParamGridView(int selection, QWidget* parent, bool editableValues)
    : CDataDlg(parent), selection_(selection), editableValues_(editableValues)
{
    editIcon_ = MaskedIcon(EditBitmap(), QColor(0xFF, 0x00, 0xFF));
    grid_ = new CReportGrid(this);
    SetCtrlId(grid_, IDC_GRID);
    for (int c = 0; c < paramview::kColumnCount; ++c)
        grid_->AddColumn(QString::fromWCharArray(paramview::ColumnCaption(c)), paramview::ColumnWidth(c));
    connect(grid_, &CReportGrid::checkToggled, this, [this](int row) { OnCheckToggled(row); });
}

CParamGridView::~CParamGridView()
{
    // The workers use the rows and the grid of this class.
    StopWorkers();
}

QPushButton* CParamGridView::AddButton(int id, const QString& caption, std::function<void()> command)
{
    auto* b = new QPushButton(caption, this);
    SetCtrlId(b, id);
    // Enter in the grid must not run a command.
    b->setAutoDefault(false);
    connect(b, &QPushButton::clicked, this, [command = std::move(command)] { command(); });
    buttons_[id] = b;
    buttonOrder_.push_back(b);
    LayoutBand(width());
    return b;
}

int CParamGridView::LayoutBand(int viewWidth)
{
    // One row at the top while the buttons fit the width; otherwise they wrap
    // onto further rows and the grid moves down below the last one, so that
    // every button stays in reach however narrow the view.
    constexpr int kMargin = 8, kGap = 8, kHeight = 28, kMinWidth = 104, kOneRowTop = 24;
    std::vector<int> widths;
    for (QWidget* b : buttonOrder_)
        widths.push_back(std::max({int(kMinWidth), b->sizeHint().width(), b->minimumWidth()}));
    auto place = [&](int top, bool apply) {
        int x = kMargin, y = top;
        for (size_t i = 0; i < widths.size(); ++i) {
            if (x > kMargin && x + widths[i] > viewWidth - kMargin) {
                x = kMargin;
                y += kHeight + kGap;
            }
            if (apply) buttonOrder_[i]->setGeometry(x, y, widths[i], kHeight);
            x += widths[i] + kGap;
        }
        return y + kHeight;
    };
    const bool oneRow = place(kOneRowTop, false) == kOneRowTop + kHeight;
    const int bottom = place(oneRow ? kOneRowTop : kMargin, true);
    gridTop_ = std::max(int(kGridTop), bottom + kGap);
    return gridTop_;
}

void CParamGridView::AddBandWidget(QWidget* widget)
{
    buttonOrder_.push_back(widget);
    LayoutBand(width());
}

QPushButton* CParamGridView::Button(int id) const
{
    const auto it = buttons_.find(id);
    return it == buttons_.end() ? nullptr : it->second;
}

CParamPrompts& CParamGridView::Prompts() const
{
    return prompts_ ? *prompts_ : ParamPrompts();
}

bool CParamGridView::Busy() const
{
    return IsRunning() || const_cast<CParamGridView*>(this)->Workers().Running() > 0;
}

int CParamGridView::LanguageIndex() const
{
    return Language().languageIndex();
}

void CParamGridView::OnInitDialog()
{
    CDataDlg::OnInitDialog();
    // Shown filling the frame the main window gives it.
    if (parentWidget()) setGeometry(parentWidget()->rect());
    // The captions may have changed with the language texts.
    LayoutBand(width());
    grid_->setGeometry(0, gridTop_, width(), std::max(0, height() - gridTop_));
    FitColumns();
}

void CParamGridView::FitColumns()
{
    // The room for the columns, a vertical scroll bar always counted.
    int available = grid_->width() - 2 * grid_->frameWidth() -
                    grid_->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, grid_);
    if (!grid_->verticalHeader()->isHidden()) available -= grid_->verticalHeader()->width();
    const std::vector<int> widths = paramview::FitColumnWidths(available);
    for (int c = 0; c < paramview::kColumnCount; ++c) grid_->SetColumnWidth(c, widths[static_cast<size_t>(c)]);
}

void CParamGridView::resizeEvent(QResizeEvent* event)
{
    CDataDlg::resizeEvent(event);
    const QSize s = event->size();
    LayoutBand(s.width());
    grid_->setGeometry(0, gridTop_, s.width(), std::max(0, s.height() - gridTop_));
    FitColumns();
}

void CParamGridView::SetTable(ParamTable* table)
{
    CDataDlg::SetTable(table);
    FillGrid();
}

ParamRecord* CParamGridView::RecordOfRow(int row) const
{
    if (!table_ || row < 0 || row >= RowCount()) return nullptr;
    return table_->RecordByIndex(rows_[static_cast<size_t>(row)]);
}

void CParamGridView::ApplyLanguageTexts()
{
    CDataDlg::ApplyLanguageTexts();
    for (int c = 0; c < paramview::kColumnCount; ++c) {
        const std::wstring text = Language().ControlText(paramview::kFirstColumnText + c);
        grid_->SetColumnCaption(c, QString::fromStdWString(text.empty() ? paramview::ColumnCaption(c) : text));
    }
}

bool CParamGridView::ShowRecord(int recordIndex)
{
    for (int row = 0; row < RowCount(); ++row)
        if (rows_[static_cast<size_t>(row)] == recordIndex) {
            grid_->selectRow(row);
            grid_->scrollTo(grid_->model()->index(row, 0), QAbstractItemView::PositionAtCenter);
            return true;
        }
    return false;
}

void CParamGridView::FillGrid()
{
    grid_->RemoveAllRows();
    rows_.clear();
    ++gridGeneration_;
    if (!table_) return;
    rows_ = SelectRows();
    const int lang = LanguageIndex();
    for (int idx : rows_) {
        const ParamRecord& r = table_->params[static_cast<size_t>(idx)];
        const std::vector<std::wstring> t = paramview::RowTexts(*table_, r, lang);
        CReportRecord rec;
        rec.AddItem(CReportItem::Check(InitialCheck(r)));
        for (int c = paramview::kColPnu; c < paramview::kColumnCount; ++c) {
            CReportItem& item = rec.AddItem(CReportItem::Text(Q(t[static_cast<size_t>(c)])));
            if (c == paramview::kColValue && editableValues_) {
                item.button = true;
                item.buttonIcon = editIcon_;
            }
        }
        grid_->AddRecord(rec);
    }
    grid_->Populate();
}

void CParamGridView::ShowRowTexts(int row)
{
    const ParamRecord* r = RecordOfRow(row);
    if (!r) return;
    grid_->SetItemText(row, paramview::kColValue, Q(paramview::ShownValueText(*table_, *r, LanguageIndex())));
}

std::vector<bool> CParamGridView::CheckStates() const
{
    std::vector<bool> states(rows_.size());
    for (int row = 0; row < RowCount(); ++row) states[static_cast<size_t>(row)] = grid_->IsChecked(row);
    return states;
}

void CParamGridView::OnClearSelection()
{
    for (int row = 0; row < grid_->RowCount(); ++row) grid_->SetChecked(row, false);
    grid_->Redraw();
}

bool CParamGridView::BeginBatch(Worker which, int progressUpper, const QString& caption)
{
    // One worker at a time: the register link serves one request at a time,
    // and a finishing worker may still be posting to the rows.
    if (Busy() || !table_) return false;
    batch_.records = rows_;
    batch_.transfer = CheckStates();
    batch_.generation = gridGeneration_;
    return StartBatch(which, progressUpper, caption);
}

bool CParamGridView::OnReadSelected()
{
    return BeginBatch(Worker::Read, RowCount());
}

ParamRecord& CParamGridView::BatchRecord(int row) const
{
    return table_->params[static_cast<size_t>(batch_.records[static_cast<size_t>(row)])];
}

std::wstring CParamGridView::RunReadRows(const std::function<void(int row, uint8_t err)>& givenUp,
                                         const std::function<void(const RowErrors& rows)>& unreached)
{
    const int lang = LanguageIndex();
    paramxfer::ReadHooks h;
    h.done = [&](int row) {
        PostValueText(row, paramview::ShownValueText(*table_, BatchRecord(row), lang));
        PostProgressStep(1);
    };
    h.givenUp = [&](int row, uint8_t err) {
        // What the record held is no longer what the drive holds, as far as
        // anyone knows: it must not be written or saved as if it were.
        ParamRecord& r = BatchRecord(row);
        r.valueUnknown = true;
        r.valueUnwritten = false;
        r.driveKnown = false;
        PostValueText(row, L"-");
        givenUp(row, err);
    };
    RowErrors notReached;
    if (unreached) {
        h.notReached = [&](int row, uint8_t err) {
            ParamRecord& r = BatchRecord(row);
            r.valueUnknown = true;
            r.valueUnwritten = false;
            r.driveKnown = false;
            PostValueText(row, L"-");
            notReached.emplace_back(row, err);
        };
    }
    std::wstring stopText;
    h.linkLost = [&](const paramxfer::ReadStop& stop) {
        for (int row : stop.notRead) {
            ParamRecord& r = BatchRecord(row);
            r.valueUnknown = true;
            r.valueUnwritten = false;
            PostValueText(row, L"-");
        }
        stopText = paramxfer::ReadStopText(*table_, TransferRows(), stop);
    };
    paramxfer::ReadRows(*table_, TransferRows(), TransferTarget(), h);
    if (unreached && !notReached.empty()) unreached(notReached);

    FinishBatch();
    PostRedraw();
    return stopText;
}

paramxfer::Rows CParamGridView::TransferRows() const
{
    return paramxfer::Rows{batch_.records, batch_.transfer};
}

paramxfer::Target CParamGridView::TransferTarget() const
{
    return paramxfer::Target{Port(), Station(), RunningFlag()};
}

void CParamGridView::PostValueText(int row, const std::wstring& text)
{
    const int generation = batch_.generation;
    PostToGui([this, row, generation, text = Q(text)] {
        if (generation == gridGeneration_ && row < grid_->RowCount())
            grid_->SetItemText(row, paramview::kColValue, text);
    });
}

void CParamGridView::PostRedraw()
{
    PostToGui([this] { grid_->Redraw(); });
}

void CParamGridView::PostMessageBox(const QString& text)
{
    PostViewMessage(this, text);
}

bool CParamGridView::WaitForMessageBox(const QString& text)
{
    return WaitViewMessage(this, text);
}

void CParamGridView::PostFinished()
{
    PostToGui([this] { emit batchFinished(); });
}
