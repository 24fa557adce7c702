#include "ParamGridView.h"

#include "ControlIds.h"
#include "LanguageTables.h"
#include "ParamPrompts.h"
#include "ParamTable.h"
#include "ParamViewLogic.h"
#include "ReportGrid.h"
#include "TorvaneApp.h"

#include <QApplication>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QResizeEvent>

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
    const int i = static_cast<int>(buttonOrder_.size());
    b->setGeometry(8 + i * 112, 24, 104, 28);
    connect(b, &QPushButton::clicked, this, [command = std::move(command)] { command(); });
    buttons_[id] = b;
    buttonOrder_.push_back(b);
    return b;
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
}

void CParamGridView::resizeEvent(QResizeEvent* event)
{
    CDataDlg::resizeEvent(event);
    const QSize s = event->size();
    grid_->setGeometry(0, kGridTop, s.width(), std::max(0, s.height() - kGridTop));
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
    grid_->SetItemText(row, paramview::kColValue, Q(table_->ValueText(*r, LanguageIndex())));
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

BatchLoop::Result CParamGridView::RunRows(const BatchLoop::Hooks& hooks, const std::function<void(int)>& unreached,
                                          bool reportWhenStopped)
{
    const BatchLoop::Result res = RunBatchLoop(batch_.transfer, hooks);
    if (unreached && (!res.stopped || reportWhenStopped))
        for (int row : paramview::RowsNotReached(batch_.transfer, res.nextRow)) unreached(row);
    return res;
}

void CParamGridView::RunReadRows(const std::function<void(int row, uint8_t err)>& givenUp)
{
    const int lang = LanguageIndex();
    std::vector<uint8_t> lastError(Batch().records.size(), 0);
    uint8_t batchError = 0;

    BatchLoop::Hooks h;
    h.attempt = [&](int row) {
        uint8_t err = 0;
        if (ReadRecord(BatchRecord(row), &err)) return BatchLoop::Attempt::Done;
        lastError[static_cast<size_t>(row)] = batchError = err;
        return BatchLoop::Attempt::Failed;
    };
    h.done = [&](int row) {
        PostValueText(row, table_->ValueText(BatchRecord(row), lang));
        PostProgressStep(1);
    };
    h.givenUp = [&](int row) {
        PostValueText(row, L"-");
        givenUp(row, lastError[static_cast<size_t>(row)]);
    };
    // A row the passes did not reach carries the failure that used them up.
    RunRows(h, [&](int row) {
        if (!lastError[static_cast<size_t>(row)]) lastError[static_cast<size_t>(row)] = batchError;
        h.givenUp(row);
    });

    FinishBatch();
    PostRedraw();
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
    // Posted to the application, not to the view: the box runs its own event
    // loop, and the view may be destroyed while it is open.
    QPointer<CParamGridView> self(this);
    QMetaObject::invokeMethod(
        qApp,
        [self, text] {
            if (self) self->Prompts().ShowMessage(self, text);
        },
        Qt::QueuedConnection);
}

bool CParamGridView::WaitForMessageBox(const QString& text)
{
    return RunOnGuiAndWait([text](CDataDlg* view) {
        auto* self = static_cast<CParamGridView*>(view);
        self->Prompts().ShowMessage(self, text);
    });
}

void CParamGridView::PostFinished()
{
    PostToGui([this] { emit batchFinished(); });
}
