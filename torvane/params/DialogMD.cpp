#include "DialogMD.h"

#include "ParamTable.h"
#include "ParamViewLogic.h"
#include "ReportGrid.h"
#include "TorvaneApp.h"

#include <QPushButton>

namespace {
QString Q(const wchar_t* s) { return QString::fromWCharArray(s); }
}  // namespace

CDialogMD::CDialogMD(int selection, QWidget* parent) : CParamGridView(selection, parent, false)
{
    AddButton(IDC_SELECT_ALL, Q(L"\u5168\u9009"), [this] { OnSelectAll(); });
    AddButton(IDC_CLEAR_SELECTION, Q(L"\u53d6\u6d88\u9009\u62e9"), [this] { OnClearSelection(); });
    AddButton(IDC_READ_SELECTED, Q(L"\u8bfb\u53d6\u9009\u62e9\u9879"), [this] { OnReadSelected(); });
    UpdateButtons(TheApp() && TheApp()->IsNormalConnected());
}

CDialogMD::~CDialogMD()
{
    StopWorkers();
}

void CDialogMD::UpdateButtons(bool normalConnected)
{
    Button(IDC_READ_SELECTED)->setEnabled(normalConnected);
}

std::vector<int> CDialogMD::SelectRows() const
{
    return paramview::GroupRows(*table_, selection_);
}

bool CDialogMD::InitialCheck(const ParamRecord&) const
{
    return false;
}

void CDialogMD::OnSelectAll()
{
    for (int row = 0; row < grid_->RowCount(); ++row) grid_->SetChecked(row, true);
    grid_->Redraw();
}

void CDialogMD::ReadWorker()
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
        PostRedraw();
        // The batch goes on once the user has seen it.
        WaitForMessageBox(QString::fromStdWString(
            paramview::MDataErrorMessage(BatchRecord(row).pnu, lastError[static_cast<size_t>(row)])));
    };
    // A row the passes did not reach carries the failure that used them up.
    RunRows(h, [&](int row) {
        if (!lastError[static_cast<size_t>(row)]) lastError[static_cast<size_t>(row)] = batchError;
        h.givenUp(row);
    });

    FinishBatch();
    PostRedraw();
    PostFinished();
}
