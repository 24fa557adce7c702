#include "DialogFunPid.h"

#include "ControlIds.h"
#include "DlgInputPara.h"
#include "LanguageTables.h"
#include "ParamPrompts.h"
#include "ParamTable.h"
#include "ParamTransfer.h"
#include "ProgramFolder.h"
#include "RegisterAccess.h"
#include "TorvaneApp.h"
#include "ValueCheck.h"
#include "WideText.h"

#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QPaintEvent>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollArea>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

QString Q(const std::wstring& s) { return QString::fromStdWString(s); }

// Buttons sit in a row above the picture, in the view itself.
constexpr int kButtonWidth = 104;
constexpr int kButtonHeight = 28;

std::wstring DefaultFunctionFolder()
{
    return funview::FunctionFolder(TheApp() ? TheApp()->ProgramDir() : ProgramFolder());
}

}  // namespace

CDialogFunPid::CDialogFunPid(const std::wstring& functionName, QWidget* parent, const std::wstring& functionFolder)
    : CDataDlg(parent),
      functionName_(functionName),
      functionFolder_(functionFolder.empty() ? DefaultFunctionFolder() : functionFolder)
{
    // The picture keeps its size; in a smaller view area it scrolls below
    // the buttons, which stay within reach.
    scroll_ = new QScrollArea(this);
    scroll_->setFrameShape(QFrame::NoFrame);
    canvas_ = new QWidget;
    canvas_->setFixedSize(kCanvasWidth, kCanvasHeight);
    canvas_->installEventFilter(this);
    scroll_->setWidget(canvas_);

    AddButton(IDC_READ_PARA, QStringLiteral("Read Para"), 0, &CDialogFunPid::OnReadParaCommand);
    AddButton(IDC_WRITE_PARA, QStringLiteral("Write Para"), 1, &CDialogFunPid::OnWriteParaCommand);
    AddButton(IDC_DEBUG, QStringLiteral("Debug"), 2, &CDialogFunPid::OnDebugCommand);
    AddButton(IDC_STOP_DEBUG, QStringLiteral("Stop Debug"), 3, &CDialogFunPid::OnStopDebug);

    for (int i = 0; i < funview::kMaxFields; ++i) {
        auto* s = new QLineEdit(canvas_);
        SetCtrlId(s, IDC_FIRST_SETTING + i);
        settingFields_.push_back(s);
        auto* w = new QLineEdit(canvas_);
        SetCtrlId(w, IDC_FIRST_WATCH + i);
        w->setReadOnly(true);
        watchFields_.push_back(w);
    }

    // A workbook that does not load leaves both columns empty.
    FunctionLayout layout;
    loaded_ = funview::LoadFunctionWorkbook(funview::FunctionWorkbookPath(functionFolder_, functionName_), &layout);
    settings_ = std::move(layout.settings);
    settingsRead_.assign(settings_.size(), false);
    watches_ = std::move(layout.watches);
    PlaceFields(settingFields_, settings_);
    PlaceFields(watchFields_, watches_);

    timer_ = new QTimer(this);
    timer_->setInterval(kTimerMs);
    connect(timer_, &QTimer::timeout, this, &CDialogFunPid::OnTimer);
    timer_->start();

    UpdateButtons(TheApp() && TheApp()->IsNormalConnected());
}

CDialogFunPid::~CDialogFunPid()
{
    // The workers use the entries and records of this class.
    debugging_ = false;
    StopWorkers();
}

QPushButton* CDialogFunPid::AddButton(int id, const QString& caption, int index, void (CDialogFunPid::*command)())
{
    auto* b = new QPushButton(caption, this);
    SetCtrlId(b, id);
    b->setAutoDefault(false);
    b->setGeometry(8 + index * (kButtonWidth + 8), (kButtonBarHeight - kButtonHeight) / 2, kButtonWidth,
                   kButtonHeight);
    connect(b, &QPushButton::clicked, this, command);
    buttons_[id] = b;
    return b;
}

QPushButton* CDialogFunPid::Button(int id) const
{
    const auto it = buttons_.find(id);
    return it == buttons_.end() ? nullptr : it->second;
}

CParamPrompts& CDialogFunPid::Prompts() const
{
    return prompts_ ? *prompts_ : ParamPrompts();
}

std::wstring CDialogFunPid::PicturePath() const
{
    return funview::FunctionPicturePath(functionFolder_, functionName_);
}

void CDialogFunPid::PlaceFields(std::vector<QLineEdit*>& fields, const std::vector<FunctionEntry>& entries)
{
    for (size_t i = 0; i < fields.size(); ++i) {
        QLineEdit* f = fields[i];
        f->resize(kFieldWidth, kFieldHeight);
        if (i < entries.size()) {
            f->move(entries[i].x, entries[i].y);
            f->show();
        } else {
            f->hide();
        }
    }
}

std::vector<std::optional<ParamRecord>> CDialogFunPid::RecordsOf(const std::vector<FunctionEntry>& entries) const
{
    std::vector<std::optional<ParamRecord>> records;
    for (const FunctionEntry& e : entries) {
        const ParamRecord* r = table_ ? funview::RecordOfAddress(static_cast<const ParamTable&>(*table_), e.address)
                                      : nullptr;
        records.push_back(r ? std::optional<ParamRecord>(*r) : std::nullopt);
    }
    return records;
}

void CDialogFunPid::PostRecordValue(int32_t address, double value)
{
    PostToGui([this, address, value] {
        if (!table_) return;
        if (ParamRecord* r = funview::RecordOfAddress(*table_, address)) r->value = value;
    });
}

void CDialogFunPid::SetTable(ParamTable* table)
{
    CDataDlg::SetTable(table);
    // An address that names no parameter is never read or written: its field
    // shows "-" and takes no input. The others stay empty until read.
    auto mark = [](std::vector<QLineEdit*>& fields, const std::vector<std::optional<ParamRecord>>& records,
                   bool editable) {
        for (size_t i = 0; i < records.size(); ++i) {
            QLineEdit* f = fields[i];
            f->setText(records[i] ? QString() : QStringLiteral("-"));
            f->setReadOnly(!editable || !records[i]);
        }
    };
    mark(settingFields_, RecordsOf(settings_), true);
    mark(watchFields_, RecordsOf(watches_), false);
}

void CDialogFunPid::OnInitDialog()
{
    CDataDlg::OnInitDialog();
    // Shown filling the frame the main window gives it.
    if (parentWidget()) setGeometry(parentWidget()->rect());
}

void CDialogFunPid::resizeEvent(QResizeEvent* event)
{
    CDataDlg::resizeEvent(event);
    scroll_->setGeometry(0, kButtonBarHeight, width(), std::max(0, height() - kButtonBarHeight));
}

bool CDialogFunPid::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == canvas_ && event->type() == QEvent::Paint) PaintPicture(canvas_);
    return CDataDlg::eventFilter(watched, event);
}

void CDialogFunPid::PaintPicture(QWidget* canvas)
{
    QPainter p(canvas);
    const QRect area(0, 0, funview::kPictureWidth, funview::kPictureHeight);
    // Read from the file at every paint, so a picture replaced on disk shows
    // at once.
    const QImage picture(Q(PicturePath()));
    if (!picture.isNull()) {
        p.drawImage(area, picture);
        return;
    }
    // Without its picture the fields still work; the area says what is missing.
    p.fillRect(area, canvas->palette().color(QPalette::Base));
    p.setPen(canvas->palette().color(QPalette::Mid));
    p.drawRect(area.adjusted(0, 0, -1, -1));
    p.setPen(canvas->palette().color(QPalette::Text));
    p.drawText(area.adjusted(16, 16, -16, -16), Qt::AlignCenter | Qt::TextWordWrap,
               QStringLiteral("Function picture not found: ") + Q(PicturePath()));
}

// ---- buttons ------------------------------------------------------------------------

void CDialogFunPid::UpdateButtons(bool normalConnected)
{
    connected_ = normalConnected;
    RefreshButtons();
}

void CDialogFunPid::RefreshButtons()
{
    // While a worker is alive (a batch, or the debug loop finishing its last
    // sweep after Stop Debug) no other may start: the register link serves
    // one request at a time.
    const bool idle = connected_ && !debugging_ && !workerAlive_;
    for (int id : {IDC_READ_PARA, IDC_WRITE_PARA, IDC_DEBUG}) Button(id)->setEnabled(idle);
    Button(IDC_STOP_DEBUG)->setEnabled(debugging_.load());
}

bool CDialogFunPid::BeginWorker(Worker which, bool batch)
{
    if (workerAlive_ || !table_) return false;
    workerAlive_ = true;
    bool started;
    if (batch) {
        started = StartBatch(which, static_cast<int>(settings_.size()));
    } else {
        running_ = true;
        started = StartWorker(which);
        if (!started) running_ = false;
    }
    if (!started) {
        workerAlive_ = false;
        debugging_ = false;
    }
    RefreshButtons();
    return started;
}

void CDialogFunPid::WorkerEnded(bool batch)
{
    workerAlive_ = false;
    // However the loop ended (Stop Debug, disconnect), the view no longer debugs.
    if (!batch) debugging_ = false;
    RefreshButtons();
    if (batch)
        emit batchFinished();
    else
        emit debugEnded();
}

void CDialogFunPid::OnReadParaCommand() { OnReadPara(); }
void CDialogFunPid::OnWriteParaCommand() { OnWritePara(); }
void CDialogFunPid::OnDebugCommand() { OnDebug(); }

bool CDialogFunPid::OnReadPara()
{
    if (workerAlive_ || !table_) return false;
    settingRecords_ = RecordsOf(settings_);
    return BeginWorker(Worker::Read, true);
}

bool CDialogFunPid::OnWritePara()
{
    if (workerAlive_ || !table_) return false;
    settingRecords_ = RecordsOf(settings_);
    // Every field is checked as the parameter view checks a value before any
    // is written: one refused field refuses the write, so the drive is never
    // left half written. An empty field is not written.
    std::vector<std::optional<double>> values(settings_.size());
    for (size_t i = 0; i < settings_.size(); ++i) {
        const std::optional<ParamRecord>& r = settingRecords_[i];
        QLineEdit* field = settingFields_[i];
        const std::wstring text = field->text().toStdWString();
        if (!r || wtext::Trim(text).empty()) continue;
        const valuecheck::Parsed p = valuecheck::Parse(*table_, *r, text);
        if (p.verdict == valuecheck::Verdict::Ok) {
            values[i] = p.value;
            continue;
        }
        std::wstring why = valuecheck::ReasonText(*table_, *r, p.verdict, Language().languageIndex());
        if (p.verdict == valuecheck::Verdict::TooManyDecimals) {
            // Rounded as the register takes it and shown: the user writes
            // what the field then says.
            const int decimals = r->exponent == -1 ? 1 : r->exponent == -2 ? 2 : r->exponent == -3 ? 3 : 0;
            const double rounded = CDlgInputPara::RoundToDecimals(p.value, decimals, nullptr);
            field->setText(Q(FormatByExponent(rounded, r->exponent)));
            why += L"; the field now shows it rounded";
        }
        Prompts().ShowMessage(this, Q(L"Parameter write refused:P" + r->pnu + L"  " + why));
        field->setFocus();
        return false;
    }
    writeValues_ = std::move(values);
    {
        std::lock_guard<std::mutex> lock(valuesMu_);
        for (size_t i = 0; i < settings_.size(); ++i)
            if (writeValues_[i]) settings_[i].value = static_cast<float>(*writeValues_[i]);
    }
    return BeginWorker(Worker::Write, true);
}

bool CDialogFunPid::OnDebug()
{
    if (workerAlive_ || !table_) return false;
    watchRecords_ = RecordsOf(watches_);
    debugging_ = true;
    return BeginWorker(Worker::Aux, false);
}

void CDialogFunPid::OnStopDebug()
{
    // The loop ends after its current sweep; the other buttons come back then.
    debugging_ = false;
    RefreshButtons();
}

// ---- values ---------------------------------------------------------------------------

std::vector<FunctionEntry> CDialogFunPid::Settings() const
{
    std::lock_guard<std::mutex> lock(valuesMu_);
    return settings_;
}

std::vector<FunctionEntry> CDialogFunPid::Watches() const
{
    std::lock_guard<std::mutex> lock(valuesMu_);
    return watches_;
}

void CDialogFunPid::StoreValue(Column column, int i, double value)
{
    std::lock_guard<std::mutex> lock(valuesMu_);
    auto& entries = column == Column::Settings ? settings_ : watches_;
    entries[static_cast<size_t>(i)].value = static_cast<float>(value);
    if (column == Column::Settings) settingsRead_[static_cast<size_t>(i)] = true;
}

void CDialogFunPid::ShowValues(Column column)
{
    std::vector<FunctionEntry> entries;
    std::vector<bool> show;
    {
        std::lock_guard<std::mutex> lock(valuesMu_);
        entries = column == Column::Settings ? settings_ : watches_;
        show = column == Column::Settings ? settingsRead_ : std::vector<bool>(entries.size(), true);
    }
    auto& fields = column == Column::Settings ? settingFields_ : watchFields_;
    for (size_t i = 0; i < entries.size(); ++i)
        if (show[i]) fields[i]->setText(Q(funview::FieldText(table_, entries[i])));
}

void CDialogFunPid::OnTimer()
{
    if (valuesRead_.exchange(false)) ShowValues(Column::Settings);
    if (debugging_) ShowValues(Column::Watches);
}

// ---- workers --------------------------------------------------------------------------

namespace {

size_t CountFrom(const std::vector<bool>& transfer, int from)
{
    size_t n = 0;
    for (size_t i = from < 0 ? 0 : static_cast<size_t>(from); i < transfer.size(); ++i) n += transfer[i] ? 1 : 0;
    return n;
}

}  // namespace

bool CDialogFunPid::LinkGone(LinkHealth::State* state)
{
    // After a failed attempt: a drive that stopped answering ends the batch
    // at once, with one message, instead of a message per setting.
    LinkHealth* health = Port().Health();
    if (!health || health->answering()) return false;
    *state = health->state();
    return true;
}

void CDialogFunPid::ReadWorker()
{
    const int n = static_cast<int>(settings_.size());
    std::vector<bool> transfer(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) transfer[static_cast<size_t>(i)] = settingRecords_[static_cast<size_t>(i)].has_value();
    std::vector<uint8_t> lastError(static_cast<size_t>(n), 0);
    {
        std::lock_guard<std::mutex> lock(valuesMu_);
        settingsRead_.assign(static_cast<size_t>(n), false);
    }

    LinkHealth::State lost = LinkHealth::State::Answering;
    std::wstring lastPnu;
    BatchLoop::Hooks h;
    h.attempt = [&](int i) {
        uint8_t err = 0;
        if (ReadRecord(*settingRecords_[static_cast<size_t>(i)], &err)) return BatchLoop::Attempt::Done;
        lastError[static_cast<size_t>(i)] = err;
        return LinkGone(&lost) ? BatchLoop::Attempt::Abort : BatchLoop::Attempt::Failed;
    };
    h.done = [&](int i) {
        const ParamRecord& r = *settingRecords_[static_cast<size_t>(i)];
        lastPnu = r.pnu;
        StoreValue(Column::Settings, i, r.value);
        PostRecordValue(r.address, r.value);
        PostProgressStep(1);
    };
    h.givenUp = [&](int i) {
        WaitViewMessage(this, Q(funview::ReadFailedMessage(settingRecords_[static_cast<size_t>(i)]->pnu,
                                                       lastError[static_cast<size_t>(i)])));
    };
    const BatchLoop::Result res = RunBatchLoop(transfer, h, kAttempts);

    valuesRead_ = true;
    FinishBatch();
    if (res.aborted)
        PostViewMessage(this, Q(paramxfer::ReadStopText(lost, lastPnu, CountFrom(transfer, res.nextRow))));
    else
        PostViewMessage(this, Q(funview::kReadCompletion));
    PostToGui([this] { WorkerEnded(true); });
}

void CDialogFunPid::WriteWorker()
{
    const int n = static_cast<int>(settings_.size());
    std::vector<bool> transfer(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        transfer[static_cast<size_t>(i)] =
            settingRecords_[static_cast<size_t>(i)].has_value() && writeValues_[static_cast<size_t>(i)].has_value();
    {
        std::lock_guard<std::mutex> lock(valuesMu_);
        settingsRead_.assign(static_cast<size_t>(n), false);
    }

    LinkHealth::State lost = LinkHealth::State::Answering;
    std::wstring lastPnu;
    std::vector<std::wstring> written;
    BatchLoop::Hooks h;
    h.attempt = [&](int i) {
        uint8_t err = 0;
        if (regaccess::WriteValue(Port(), Station(), *settingRecords_[static_cast<size_t>(i)],
                                  *writeValues_[static_cast<size_t>(i)], &err))
            return BatchLoop::Attempt::Done;
        // A value the register cannot hold was never sent; trying again
        // would not change that.
        if (err == regaccess::kErrOutOfRange) return BatchLoop::Attempt::GiveUpNow;
        return LinkGone(&lost) ? BatchLoop::Attempt::Abort : BatchLoop::Attempt::Failed;
    };
    std::vector<std::wstring> notReadBack;
    h.done = [&](int i) {
        lastPnu = settingRecords_[static_cast<size_t>(i)]->pnu;
        written.push_back(lastPnu);
        // The field then shows what the drive holds, read back.
        ParamRecord back = *settingRecords_[static_cast<size_t>(i)];
        uint8_t err = 0;
        if (ReadRecord(back, &err))
            StoreValue(Column::Settings, i, back.value);
        else
            notReadBack.push_back(lastPnu);
        PostProgressStep(1);
    };
    h.givenUp = [&](int i) {
        WaitViewMessage(this, Q(funview::WriteFailedMessage(settingRecords_[static_cast<size_t>(i)]->pnu)));
    };
    const BatchLoop::Result res = RunBatchLoop(transfer, h, kAttempts);

    valuesRead_ = true;
    FinishBatch();
    if (res.aborted) {
        std::vector<std::wstring> notWritten;
        for (int i = res.nextRow; i < n; ++i)
            if (transfer[static_cast<size_t>(i)]) notWritten.push_back(settingRecords_[static_cast<size_t>(i)]->pnu);
        PostViewMessage(this, Q(paramxfer::WriteStopText(lost, lastPnu, written, notWritten, notReadBack)));
    } else {
        PostViewMessage(this, Q(funview::kWriteCompletion));
    }
    PostToGui([this] { WorkerEnded(true); });
}

void CDialogFunPid::AuxWorker()
{
    using Clock = std::chrono::steady_clock;
    auto active = [this] { return debugging_.load() && running_.load(); };
    while (active()) {
        const Clock::time_point start = Clock::now();
        for (size_t i = 0; i < watches_.size() && active(); ++i) {
            std::optional<ParamRecord>& record = watchRecords_[i];
            if (!record) continue;
            uint8_t err = 0;
            bool ok = ReadRecord(*record, &err);
            // One more try; a second failure leaves the value as it was.
            if (!ok && active()) ok = ReadRecord(*record, &err);
            if (ok) {
                StoreValue(Column::Watches, static_cast<int>(i), record->value);
                PostRecordValue(record->address, record->value);
            }
        }
        const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
        SleepRestOfSweep(static_cast<int>(elapsed.count()));
    }
    running_ = false;
    PostToGui([this] { WorkerEnded(false); });
}

bool CDialogFunPid::SleepRestOfSweep(int elapsedMs)
{
    // In short steps, so that Stop Debug or closing the view need not wait
    // for the rest of the second.
    using Clock = std::chrono::steady_clock;
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(std::max(0, kTimerMs - elapsedMs));
    while (Clock::now() < end) {
        if (!debugging_.load() || !running_.load()) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}
