#include "DialogParam.h"

#include "DlgInputPara.h"
#include "ParamPrompts.h"
#include "ParamTable.h"
#include "ParamViewLogic.h"
#include "ProgramFolder.h"
#include "ReportGrid.h"
#include "TorvaneApp.h"
#include "ValueFile.h"

#include <QPointer>
#include <QPushButton>
#include <QTimer>

namespace {

QString Q(const std::wstring& s) { return QString::fromStdWString(s); }
QString Q(const wchar_t* s) { return QString::fromWCharArray(s); }

bool NormalConnected() { return TheApp() && TheApp()->IsNormalConnected(); }

}  // namespace

CDialogParam::CDialogParam(int selection, QWidget* parent) : CParamGridView(selection, parent, true)
{
    AddButton(IDC_SELECT_ALL, Q(L"\u5168\u9009"), [this] { OnSelectAll(); });
    AddButton(IDC_CLEAR_SELECTION, Q(L"\u53d6\u6d88\u9009\u62e9"), [this] { OnClearSelection(); });
    AddButton(IDC_SELECT_DIFFERENT, Q(L"\u9009\u62e9\u4e0d\u540c"), [this] { OnSelectDifferent(); });
    AddButton(IDC_READ_SELECTED, Q(L"\u8bfb\u53d6\u9009\u62e9\u9879"), [this] { OnReadSelected(); });
    AddButton(IDC_WRITE_SELECTED, Q(L"\u5199\u9009\u62e9\u9879"), [this] { OnWriteSelected(); });
    AddButton(IDC_LOAD_VALUES, Q(L"\u8f7d\u5165\u53c2\u6570"), [this] { OnLoadValues(); });
    AddButton(IDC_SAVE_VALUES, Q(L"\u4fdd\u5b58\u53c2\u6570"), [this] { OnSaveValues(); });
    connect(grid_, &CReportGrid::buttonClicked, this, &CDialogParam::OnValueButton);
    // Load and save stay as the template has them until the connection
    // state changes.
    const bool on = NormalConnected();
    Button(IDC_READ_SELECTED)->setEnabled(on);
    Button(IDC_WRITE_SELECTED)->setEnabled(on);
}

CDialogParam::~CDialogParam()
{
    StopWorkers();
}

void CDialogParam::UpdateButtons(bool normalConnected)
{
    for (int id : {IDC_READ_SELECTED, IDC_WRITE_SELECTED, IDC_LOAD_VALUES, IDC_SAVE_VALUES})
        Button(id)->setEnabled(normalConnected);
}

std::vector<int> CDialogParam::SelectRows() const
{
    return paramview::ParamViewRows(*table_, selection_);
}

bool CDialogParam::InitialCheck(const ParamRecord& record) const
{
    return record.selected != 0;
}

void CDialogParam::OnCheckToggled(int row)
{
    if (ParamRecord* r = RecordOfRow(row)) r->selected = grid_->IsChecked(row) ? 1 : 0;
}

void CDialogParam::OnSelectAll()
{
    if (Busy()) return;
    FillGrid();
    for (int row = 0; row < grid_->RowCount(); ++row) grid_->SetChecked(row, true);
    grid_->Redraw();
}

void CDialogParam::OnSelectDifferent()
{
    if (Busy() || !table_) return;
    for (int row : paramview::RowsEqualToDefault(*table_, rows_)) {
        grid_->RemoveRow(row);
        rows_.erase(rows_.begin() + row);
        ++gridGeneration_;
    }
    for (int row = 0; row < grid_->RowCount(); ++row) grid_->SetChecked(row, true);
    grid_->Redraw();
}

bool CDialogParam::OnWriteSelected()
{
    return BeginBatch(Worker::Write, 2 * RowCount(), Q(paramview::WriteCaption()));
}

void CDialogParam::ReadWorker()
{
    std::wstring errors;
    RunReadRows([&](int row, uint8_t err) { errors += paramview::ReadErrorLine(BatchRecord(row).pnu, err); });
    const std::wstring summary = paramview::ReadSummary(errors);
    if (!summary.empty()) PostMessageBox(Q(summary));
    PostFinished();
}

void CDialogParam::WriteWorker()
{
    const size_t n = Batch().records.size();
    std::vector<uint8_t> lastError(n, 0);
    std::wstring errors;

    // Write pass. A drive that refused the value (an exception code, or a
    // value that does not fit the register) refuses it again: no retry.
    BatchLoop::Hooks w;
    w.attempt = [&](int row) {
        uint8_t err = 0;
        if (WriteRecord(BatchRecord(row), &err)) return BatchLoop::Attempt::Done;
        lastError[static_cast<size_t>(row)] = err;
        return err != 0 ? BatchLoop::Attempt::GiveUpNow : BatchLoop::Attempt::Failed;
    };
    w.done = [&](int) { PostProgressStep(1); };
    w.givenUp = [&](int row) { errors += paramview::WriteGivenUpEntry(BatchRecord(row).pnu); };
    // Rows left unwritten, also by a cancel, are named: the summary must not
    // call a write complete that did not happen.
    RunRows(w, w.givenUp, true);

    // Check pass: read every row back and compare what the user sees.
    if (IsRunning()) {
        PostProgressCaption(Q(paramview::CheckCaption()));
        std::fill(lastError.begin(), lastError.end(), 0);
        uint8_t batchError = 0;
        std::vector<double> readBack(n, 0.0);
        BatchLoop::Hooks c;
        c.attempt = [&](int row) {
            uint8_t err = 0;
            double v = 0;
            if (ReadValue(BatchRecord(row), &v, &err)) {
                readBack[static_cast<size_t>(row)] = v;
                return BatchLoop::Attempt::Done;
            }
            lastError[static_cast<size_t>(row)] = batchError = err;
            return BatchLoop::Attempt::Failed;
        };
        c.done = [&](int row) {
            const ParamRecord& r = BatchRecord(row);
            std::wstring written, read;
            if (paramview::ReadBackDiffers(r, readBack[static_cast<size_t>(row)], &written, &read))
                errors += paramview::CheckMismatchLine(r.pnu, written, read);
            PostProgressStep(1);
        };
        c.givenUp = [&](int row) {
            errors += paramview::CheckGivenUpLine(BatchRecord(row).pnu, lastError[static_cast<size_t>(row)]);
        };
        RunRows(c, [&](int row) {
            if (!lastError[static_cast<size_t>(row)]) lastError[static_cast<size_t>(row)] = batchError;
            c.givenUp(row);
        });
    }

    FinishBatch();
    PostRedraw();
    PostMessageBox(Q(paramview::WriteSummary(errors)));
    PostFinished();
}

void CDialogParam::OnValueButton(int row)
{
    QTimer::singleShot(50, this, [this, row] { EditValue(row); });
}

void CDialogParam::EditValue(int row)
{
    // The worker of a batch uses the records' values.
    if (Busy() || !table_) return;
    ParamRecord* r = RecordOfRow(row);
    if (!r) return;
    const int index = r->index;
    QPointer<CDialogParam> self(this);
    // The view may be replaced while the editor is open: the editor is its
    // child and goes with it, and nothing below touches either then.
    auto stillHere = [&] {
        return self && row < RowCount() && rows_[static_cast<size_t>(row)] == index;
    };
    if (table_->HasOptions(r->pnu)) {
        QStringList entries;
        for (const std::wstring& e : table_->OptionChoices(r->pnu, LanguageIndex())) entries << Q(e);
        QPointer<CDlgInputParaCB> dlg = new CDlgInputParaCB(entries, QString(), this);
        dlg->title = Q(r->name);
        const bool ok = Prompts().RunOptionDialog(*dlg);
        if (!stillHere() || !dlg) return;
        const QString text = dlg->choice;
        delete dlg.data();
        if (!ok) return;
        r = table_->RecordByIndex(index);
        r->value = paramview::OptionChoiceValue(text.toStdWString());
        grid_->SetItemText(row, paramview::kColValue, text);
    } else {
        QPointer<CDlgInputPara> dlg = new CDlgInputPara(this);
        dlg->value = r->value;
        dlg->minValue = r->minValue;
        dlg->maxValue = r->maxValue;
        dlg->title = Q(r->name);
        const bool ok = Prompts().RunNumberDialog(*dlg);
        if (!stillHere() || !dlg) return;
        const double v = dlg->value;
        delete dlg.data();
        if (!ok) return;
        r = table_->RecordByIndex(index);
        r->value = v;
        grid_->SetItemText(row, paramview::kColValue, Q(FormatByExponent(v, r->exponent)));
    }
    grid_->Redraw();
}

QString CDialogParam::ValueFolder() const
{
    const std::wstring folder = TheApp() ? TheApp()->DataDir() : WritableFolder(ProgramFolder());
    return Q(JoinPath(folder, valuefile::Folder()));
}

QString CDialogParam::AskValueFile()
{
    QPointer<CDialogParam> self(this);
    const QString chosen = Prompts().AskValueFile(this, ValueFolder(), Q(valuefile::FilterText()),
                                                  Q(valuefile::FilterPattern()));
    if (!self || chosen.isEmpty()) return QString();
    return Q(valuefile::WithXlsExtension(chosen.toStdWString()));
}

void CDialogParam::OnSaveValues()
{
    if (Busy() || !table_) return;
    QPointer<CDialogParam> self(this);
    const QString path = AskValueFile();
    if (!self || path.isEmpty() || Busy()) return;
    const std::vector<bool> checked = CheckStates();
    // A file that could not be written is a failure too, not only a sheet
    // that could not be made.
    const bool ok = valuefile::Save(path.toStdWString(), *table_, rows_, checked);
    Prompts().ShowMessage(this, Q(ok ? valuefile::SavedText() : valuefile::SaveFailedText()));
}

void CDialogParam::OnLoadValues()
{
    if (Busy() || !table_) return;
    QPointer<CDialogParam> self(this);
    const QString path = AskValueFile();
    if (!self || path.isEmpty() || Busy()) return;
    const valuefile::LoadResult res = valuefile::Load(path.toStdWString(), *table_);
    if (res.status == valuefile::LoadResult::Status::ModelMismatch) {
        Prompts().ShowMessage(this, Q(valuefile::ModelMismatchText(table_->fileBaseName, res.fileModel)));
        if (!self) return;
    }
    if (res.status != valuefile::LoadResult::Status::Ok) {
        Prompts().ShowMessage(this, Q(valuefile::LoadFailedText()));
        return;
    }
    for (int row : valuefile::Apply(res.entries, *table_, rows_)) {
        ShowRowTexts(row);
        grid_->SetChecked(row, true);
    }
    grid_->Redraw();
    Prompts().ShowMessage(this, Q(valuefile::LoadedText()));
}
