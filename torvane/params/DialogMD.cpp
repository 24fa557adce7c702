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
    const std::wstring stop = RunReadRows([this](int row, uint8_t err) {
        PostRedraw();
        // The batch goes on once the user has seen it.
        WaitForMessageBox(QString::fromStdWString(paramview::MDataErrorMessage(BatchRecord(row).pnu, err)));
    }, [this](const RowErrors& rows) {
        // Rows the passes ran out before: one message for all of them, not
        // one box each.
        std::vector<std::pair<std::wstring, int>> lines;
        for (const auto& [row, err] : rows) lines.emplace_back(BatchRecord(row).pnu, err);
        PostRedraw();
        PostMessageBox(QString::fromStdWString(paramview::MDataUnreachedMessage(lines)));
    });
    if (!stop.empty()) PostMessageBox(QString::fromStdWString(stop));
    PostFinished();
}
