#include "DialogParam.h"

#include "DlgInputPara.h"
#include "LanguageTables.h"
#include "ParamPrompts.h"
#include "ParamTable.h"
#include "ParamViewLogic.h"
#include "ProgramFolder.h"
#include "ReportGrid.h"
#include "TorvaneApp.h"
#include "ValueFile.h"

#include <QFileInfo>
#include <QLocale>
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

void CDialogParam::StoreRowMarks()
{
    if (!table_) return;
    for (int row = 0; row < RowCount(); ++row)
        if (ParamRecord* r = RecordOfRow(row)) r->selected = grid_->IsChecked(row) ? 1 : 0;
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
    const std::wstring stop =
        RunReadRows([&](int row, uint8_t err) { errors += paramview::ReadErrorLine(BatchRecord(row).pnu, err); });
    std::wstring summary = paramview::ReadSummary(errors);
    // A lost drive is said once, before any row the drive refused earlier.
    if (!stop.empty()) summary = summary.empty() ? stop : stop + L"\n" + summary;
    if (!summary.empty()) PostMessageBox(Q(summary));
    PostFinished();
}

void CDialogParam::WriteWorker()
{
    std::wstring errors;

    // A value nobody read, edited or loaded is not the user's: the row is
    // left out of both passes and named in the summary.
    const size_t n = Batch().records.size();
    for (size_t row = 0; row < n; ++row) {
        const ParamRecord& r = BatchRecord(static_cast<int>(row));
        if (!Batch().transfer[row] || !r.valueUnknown) continue;
        LeaveOutOfBatch(static_cast<int>(row));
        errors += paramview::UnknownNotWrittenLine(r.pnu);
    }

    paramxfer::WriteHooks h;
    h.written = [&](int row) {
        BatchRecord(row).valueUnwritten = false;
        PostProgressStep(1);
    };
    h.writeGivenUp = [&](int row, uint8_t) { errors += paramview::WriteGivenUpEntry(BatchRecord(row).pnu); };
    h.checkStarts = [&] { PostProgressCaption(Q(paramview::CheckCaption())); };
    h.checked = [&](int row, bool differs, const std::wstring& written, const std::wstring& read) {
        if (differs) errors += paramview::CheckMismatchLine(BatchRecord(row).pnu, written, read);
        PostProgressStep(1);
    };
    h.checkGivenUp = [&](int row, uint8_t err) {
        errors += paramview::CheckGivenUpLine(BatchRecord(row).pnu, err);
    };
    std::wstring stopText;
    h.linkLost = [&](const paramxfer::WriteStop& stop) {
        stopText = paramxfer::WriteStopText(*table_, TransferRows(), stop);
    };
    paramxfer::WriteRows(*table_, TransferRows(), TransferTarget(), h);

    FinishBatch();
    PostRedraw();
    if (!stopText.empty())
        PostMessageBox(Q(errors.empty() ? stopText : stopText + L"\n" + paramview::WriteSummary(errors)));
    else
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
        QPointer<CDlgInputParaCB> dlg =
            new CDlgInputParaCB(entries, Q(paramview::CurrentOptionChoice(*table_, *r, LanguageIndex())), this);
        dlg->title = Q(PickVariant(r->name, LanguageIndex()));
        dlg->minValue = r->minValue;
        dlg->maxValue = r->maxValue;
        const bool ok = Prompts().RunOptionDialog(*dlg);
        if (!stillHere() || !dlg) return;
        const QString text = dlg->choice;
        delete dlg.data();
        if (!ok) return;
        r = table_->RecordByIndex(index);
        // Without entries the dialog took a number within the bounds.
        r->value = entries.isEmpty() ? QLocale::c().toDouble(text)
                                     : paramview::OptionChoiceValue(text.toStdWString());
        r->valueUnknown = false;
        r->valueUnwritten = true;
        grid_->SetItemText(row, paramview::kColValue, Q(paramview::ShownValueText(*table_, *r, LanguageIndex())));
    } else {
        QPointer<CDlgInputPara> dlg = new CDlgInputPara(this);
        dlg->value = r->value;
        dlg->valueUnknown = r->valueUnknown;
        dlg->minValue = r->minValue;
        dlg->maxValue = r->maxValue;
        dlg->decimals = paramview::ValueDecimals(r->exponent);
        dlg->title = Q(PickVariant(r->name, LanguageIndex()));
        const bool ok = Prompts().RunNumberDialog(*dlg);
        if (!stillHere() || !dlg) return;
        const double v = dlg->value;
        delete dlg.data();
        if (!ok) return;
        r = table_->RecordByIndex(index);
        r->value = v;
        r->valueUnknown = false;
        r->valueUnwritten = true;
        grid_->SetItemText(row, paramview::kColValue, Q(FormatByExponent(v, r->exponent)));
    }
    grid_->Redraw();
}

QString CDialogParam::ValueFolder() const
{
    const std::wstring folder = TheApp() ? TheApp()->DataDir() : WritableFolder(ProgramFolder());
    return Q(JoinPath(folder, valuefile::Folder()));
}

QString CDialogParam::AskValueFile(bool save)
{
    QPointer<CDialogParam> self(this);
    const QString folder = ValueFolder();
    const QString filter = Q(valuefile::FilterText());
    const QString pattern = Q(valuefile::FilterPattern());
    const QString chosen = save ? Prompts().AskSaveValueFile(this, folder, filter, pattern)
                                : Prompts().AskValueFile(this, folder, filter, pattern);
    if (!self || chosen.isEmpty()) return QString();
    return Q(valuefile::WithXlsExtension(chosen.toStdWString()));
}

void CDialogParam::OnSaveValues()
{
    if (Busy() || !table_) return;
    QPointer<CDialogParam> self(this);
    const QString path = AskValueFile(true);
    if (!self || path.isEmpty() || Busy()) return;
    // Asked here, under the name the file gets: ".xls" may have been added.
    if (QFileInfo::exists(path)) {
        const bool replace = Prompts().ConfirmReplace(this, path);
        if (!self || !replace || Busy()) return;
    }
    const std::vector<bool> checked = CheckStates();
    // A file that could not be written is a failure too, not only a sheet
    // that could not be made.
    int leftOut = 0;
    const bool ok = valuefile::Save(path.toStdWString(), *table_, rows_, checked, nullptr, &leftOut);
    QString text = Q(ok ? valuefile::SavedText() : valuefile::SaveFailedText());
    if (ok && leftOut > 0) text += QStringLiteral("\n") + Q(valuefile::LeftOutText(leftOut));
    Prompts().ShowMessage(this, text);
}

void CDialogParam::OnLoadValues()
{
    if (Busy() || !table_) return;
    QPointer<CDialogParam> self(this);
    const QString path = AskValueFile(false);
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
