#include "DialogParam.h"

#include "ControlIds.h"
#include "DlgCompareFile.h"
#include "DlgInputPara.h"
#include "LanguageTables.h"
#include "ParamPrompts.h"
#include "ParamTable.h"
#include "ParamPlan.h"
#include "ParamViewLogic.h"
#include "ProgramFolder.h"
#include "ReportGrid.h"
#include "TorvaneApp.h"
#include "ValueFile.h"

#include <QColor>
#include <QFileInfo>
#include <QLabel>
#include <QLocale>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include <map>
#include <set>

namespace {

QString Q(const std::wstring& s) { return QString::fromStdWString(s); }
QString Q(const wchar_t* s) { return QString::fromWCharArray(s); }

bool NormalConnected() { return TheApp() && TheApp()->IsNormalConnected(); }

// The Value cell of a row whose value is not the drive's yet.
const QColor kPendingColour(255, 232, 150);

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
    AddButton(IDC_COMPARE_FILE, Tr(L"Compare File,\u4e0e\u6587\u4ef6\u6bd4\u8f83"), [this] { OnCompareFile(); });
    AddButton(IDC_UNDO_WRITE, Tr(L"Undo Last Write,\u64a4\u9500\u4e0a\u6b21\u5199\u5165"), [this] { OnUndoLastWrite(); });
    pending_ = new QLabel(this);
    SetCtrlId(pending_, IDC_PENDING);
    pending_->setMinimumWidth(180);
    AddBandWidget(pending_);
    connect(grid_, &CReportGrid::buttonClicked, this, &CDialogParam::OnValueButton);
    // A compare that asked for the unknown rows to be read goes on after.
    connect(this, &CParamGridView::batchFinished, this, [this] {
        undoing_ = false;
        ShowPendingMarks();
        if (!compareAfterRead_) return;
        compareAfterRead_ = false;
        const std::vector<valuefile::Entry> entries = std::move(compareEntries_);
        compareEntries_.clear();
        CompareWith(entries);
    });
    // Load and save stay as the template has them until the connection
    // state changes.
    const bool on = NormalConnected();
    Button(IDC_READ_SELECTED)->setEnabled(on);
    Button(IDC_WRITE_SELECTED)->setEnabled(on);
    Button(IDC_UNDO_WRITE)->setEnabled(on);
}

CDialogParam::~CDialogParam()
{
    StopWorkers();
}

void CDialogParam::SetTable(ParamTable* table)
{
    CParamGridView::SetTable(table);
    ShowPendingMarks();
}

void CDialogParam::UpdateButtons(bool normalConnected)
{
    for (int id : {int(IDC_READ_SELECTED), int(IDC_WRITE_SELECTED), int(IDC_LOAD_VALUES), int(IDC_SAVE_VALUES),
                   int(IDC_UNDO_WRITE)})
        Button(id)->setEnabled(normalConnected);
}

QString CDialogParam::Tr(const wchar_t* englishAndChinese) const
{
    return Q(PickVariant(englishAndChinese, LanguageIndex()));
}

int CDialogParam::PendingCount() const
{
    return table_ ? UnwrittenCount(*table_) : 0;
}

void CDialogParam::ShowPendingMark(int row)
{
    const ParamRecord* r = RecordOfRow(row);
    if (!r) return;
    if (r->valueUnwritten)
        grid_->SetItemMark(row, paramview::kColValue, kPendingColour,
                           Tr(L"Not written to the drive yet,\u5c1a\u672a\u5199\u5165\u9a71\u52a8\u5668"));
    else
        grid_->SetItemMark(row, paramview::kColValue, QColor(), QString());
}

void CDialogParam::ShowPendingMarks()
{
    for (int row = 0; row < RowCount(); ++row) ShowPendingMark(row);
    const int n = PendingCount();
    pending_->setText(n == 0   ? QString()
                      : n == 1 ? Tr(L"1 value not written,1 \u9879\u672a\u5199\u5165")
                               : Tr(L"%1 values not written,%1 \u9879\u672a\u5199\u5165").arg(n));
    pending_->setToolTip(
        n == 0 ? QString()
               : Tr(L"Edited or loaded or taken and not yet written to the drive,"
                    L"\u5df2\u7f16\u8f91\u3001\u8f7d\u5165\u6216\u91c7\u7528\u4f46\u5c1a\u672a\u5199\u5165\u9a71\u52a8\u5668"));
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
    ShowPendingMarks();
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

    // What the drive held before, for undo: its value as last read or
    // read back, when known.
    std::vector<paramplan::Known> before(n);
    for (size_t row = 0; row < n; ++row) {
        const ParamRecord& r = BatchRecord(static_cast<int>(row));
        if (r.driveKnown) before[row] = paramplan::Known{true, r.driveValue};
    }
    paramplan::WriteBatch undo;
    undo.station = Station();

    paramxfer::WriteHooks h;
    h.written = [&](int row) {
        ParamRecord& r = BatchRecord(row);
        r.valueUnwritten = false;
        undo.rows.push_back(paramplan::UndoRow{r.index, r.address, before[static_cast<size_t>(row)]});
        PostProgressStep(1);
    };
    h.readBack = [&](int row, double v) {
        ParamRecord& r = BatchRecord(row);
        r.driveValue = v;
        r.driveKnown = true;
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
    if (!undoing_) paramplan::TheWriteHistory().Push(std::move(undo));

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
        dlg->table = table_;
        dlg->record = r;
        dlg->languageIndex = LanguageIndex();
        const bool ok = Prompts().RunNumberDialog(*dlg);
        if (!stillHere() || !dlg) return;
        const double v = dlg->value;
        delete dlg.data();
        if (!ok) return;
        r = table_->RecordByIndex(index);
        r->value = valuecheck::Rounded(*r, v);
        r->valueUnknown = false;
        r->valueUnwritten = true;
        grid_->SetItemText(row, paramview::kColValue, Q(FormatByExponent(r->value, r->exponent)));
    }
    ShowPendingMarks();
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

void CDialogParam::SetUnwritten(int record, int row, double value)
{
    ParamRecord& r = table_->params[static_cast<size_t>(record)];
    r.value = value;
    r.valueUnknown = false;
    r.valueUnwritten = true;
    ShowRowTexts(row);
    grid_->SetChecked(row, true);
}

bool CDialogParam::AskAndLoadValueFile(valuefile::LoadResult* res)
{
    if (Busy() || !table_) return false;
    QPointer<CDialogParam> self(this);
    const QString path = AskValueFile(false);
    if (!self || path.isEmpty() || Busy()) return false;
    *res = valuefile::Load(path.toStdWString(), *table_);
    if (res->status == valuefile::LoadResult::Status::ModelMismatch) {
        Prompts().ShowMessage(this, Q(valuefile::ModelMismatchText(table_->fileBaseName, res->fileModel)));
        if (!self) return false;
    }
    if (res->status != valuefile::LoadResult::Status::Ok) {
        Prompts().ShowMessage(this, Q(valuefile::LoadFailedText()));
        return false;
    }
    return true;
}

void CDialogParam::OnLoadValues()
{
    valuefile::LoadResult res;
    if (!AskAndLoadValueFile(&res)) return;
    const std::vector<valuefile::Target> targets = valuefile::Targets(res.entries, *table_, rows_);
    // With the drive's values known, the user sees what would change and
    // chooses first.
    for (const valuefile::Target& t : targets)
        if (table_->params[static_cast<size_t>(t.record)].driveKnown) {
            CompareWith(res.entries);
            return;
        }
    int rounded = 0, refused = 0;
    for (const valuefile::Target& t : targets) {
        const paramplan::Step st = paramplan::PlanOne(*table_, paramplan::Want{t.record, t.value}, {});
        if (st.rounded) ++rounded;
        if (st.verdict != valuecheck::Verdict::Ok) {
            ++refused;
            continue;
        }
        SetUnwritten(t.record, t.row, st.value);
    }
    ShowPendingMarks();
    grid_->Redraw();
    const std::wstring report = valuefile::LoadReportText(rounded, refused);
    Prompts().ShowMessage(this, Q(valuefile::LoadedText()) + (report.empty() ? QString() : QStringLiteral("\n") + Q(report)));
}

void CDialogParam::OnCompareFile()
{
    valuefile::LoadResult res;
    if (AskAndLoadValueFile(&res)) CompareWith(res.entries);
}

void CDialogParam::CompareWith(const std::vector<valuefile::Entry>& entries)
{
    if (Busy() || !table_) return;
    // One want per record, the file's last word on it; rows in grid order.
    std::map<int, double> byRecord;
    std::map<int, int> rowOf;
    for (const valuefile::Target& t : valuefile::Targets(entries, *table_, rows_)) {
        byRecord[t.record] = t.value;
        rowOf.emplace(t.record, t.row);
    }
    std::vector<paramplan::Want> wants;
    for (int row = 0; row < RowCount(); ++row) {
        const auto it = byRecord.find(rows_[static_cast<size_t>(row)]);
        if (it != byRecord.end()) wants.push_back(paramplan::Want{it->first, it->second});
    }
    const std::vector<paramplan::Step> steps =
        paramplan::Make(*table_, wants, paramplan::DriveOfRecords(*table_));
    QPointer<CDialogParam> self(this);
    QPointer<CDlgCompareFile> dlg = new CDlgCompareFile(*table_, steps, LanguageIndex(), this);
    Prompts().RunCompareDialog(*dlg);
    if (!self || !dlg || Busy()) return;
    const CDlgCompareFile::Outcome outcome = dlg->outcome();
    const std::vector<paramplan::Step> taken = dlg->Taken();
    const std::vector<int> unknown = dlg->UnknownRecords();
    delete dlg.data();
    if (outcome == CDlgCompareFile::Outcome::ReadFirst) {
        const std::set<int> read(unknown.begin(), unknown.end());
        for (int row = 0; row < RowCount(); ++row) grid_->SetChecked(row, read.count(rows_[static_cast<size_t>(row)]) > 0);
        compareEntries_ = entries;
        compareAfterRead_ = OnReadSelected();
        return;
    }
    if (outcome != CDlgCompareFile::Outcome::Take) return;
    // The rows taken become the rows to write, and only those.
    for (int row = 0; row < RowCount(); ++row) grid_->SetChecked(row, false);
    for (const paramplan::Step& st : taken) SetUnwritten(st.record, rowOf[st.record], st.value);
    ShowPendingMarks();
    grid_->Redraw();
}

void CDialogParam::OnUndoLastWrite()
{
    if (Busy() || !table_) return;
    paramplan::WriteHistory& history = paramplan::TheWriteHistory();
    if (history.Empty()) {
        Prompts().ShowMessage(this, Tr(L"There is no write to undo.,\u6ca1\u6709\u53ef\u64a4\u9500\u7684\u5199\u5165\u3002"));
        return;
    }
    const paramplan::WriteBatch batch = history.Last();
    const std::vector<paramplan::Step> steps =
        paramplan::UndoPlan(*table_, batch, paramplan::DriveOfRecords(*table_));
    std::map<int, int> rowOf;
    for (int row = 0; row < RowCount(); ++row) rowOf.emplace(rows_[static_cast<size_t>(row)], row);
    QString list;
    std::vector<paramplan::Step> toWrite;
    for (const paramplan::Step& st : steps) {
        const ParamRecord& r = table_->params[static_cast<size_t>(st.record)];
        const QString now = st.drive.known ? Q(table_->ValueText(r, st.drive.value, LanguageIndex())) : QStringLiteral("-");
        QString line = QStringLiteral("P%1: %2 -> %3").arg(Q(r.pnu), now, Q(table_->ValueText(r, st.value, LanguageIndex())));
        if (!rowOf.count(st.record))
            line += QStringLiteral("  ") + Tr(L"(not in this view),\uff08\u4e0d\u5728\u672c\u89c6\u56fe\u4e2d\uff09");
        else if (st.action == paramplan::Action::Write)
            toWrite.push_back(st);
        else if (st.action == paramplan::Action::Leave)
            line += QStringLiteral("  ") + Tr(L"(already),\uff08\u5df2\u662f\uff09");
        else if (st.action == paramplan::Action::Refuse)
            line += QStringLiteral("  ") + Q(paramplan::RefusalText(*table_, st, LanguageIndex()));
        else
            line += QStringLiteral("  ") + Tr(L"(drive value unknown),\uff08\u9a71\u52a8\u5668\u503c\u672a\u77e5\uff09");
        list += QStringLiteral("\n") + line;
    }
    if (toWrite.empty()) {
        Prompts().ShowMessage(this, Tr(L"Nothing to undo in this view: the drive holds the values from before "
                                       L"the last write or they are unknown.,"
                                       L"\u672c\u89c6\u56fe\u4e2d\u6ca1\u6709\u53ef\u64a4\u9500\u7684\u503c\u3002") +
                                        list);
        return;
    }
    QPointer<CDialogParam> self(this);
    const bool yes = Prompts().Confirm(
        this, Tr(L"Undo the last write? These parameters get back their values from before it (drive now -> before):,"
                 L"\u64a4\u9500\u4e0a\u6b21\u5199\u5165\uff1f\u4ee5\u4e0b\u53c2\u6570\u6062\u590d\u5199\u5165\u524d\u7684\u503c\uff08\u9a71\u52a8\u5668\u5f53\u524d -> \u5199\u5165\u524d\uff09\uff1a") +
                  list);
    if (!self || !yes || Busy()) return;
    for (int row = 0; row < RowCount(); ++row) grid_->SetChecked(row, false);
    for (const paramplan::Step& st : toWrite) SetUnwritten(st.record, rowOf[st.record], st.value);
    ShowPendingMarks();
    undoing_ = true;
    if (OnWriteSelected())
        history.DropLast();
    else
        undoing_ = false;
}
