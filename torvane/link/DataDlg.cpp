#include "DataDlg.h"

#include "ControlIds.h"
#include "DlgProgess.h"
#include "FontSettings.h"
#include "LanguageTables.h"
#include "RegisterAccess.h"
#include "ReportGrid.h"
#include "TorvaneApp.h"

#include <QFontMetrics>
#include <QHeaderView>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QMetaObject>
#include <QPointer>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace {
// The batch a worker thread belongs to: its progress posts go to that
// batch's dialog only.
thread_local int t_batchId = 0;
}

CDataDlg::CDataDlg(QWidget* parent) : QDialog(parent), port_(&ModbusPort())
{
    RefreshStation();
}

CDataDlg::~CDataDlg()
{
    StopWorkers();
    delete progress_;
    progress_ = nullptr;
}

LanguageTables& CDataDlg::Language()
{
    return TheApp() ? TheApp()->Language() : TheLanguageTables();
}

void CDataDlg::ApplyLanguageTexts()
{
    ApplyCtrlTexts(this, Language().controlTexts());
}

void CDataDlg::SetTable(ParamTable* table) { table_ = table; }
void CDataDlg::UpdateButtons(bool) {}

void CDataDlg::StoreRowMarks() {}
void CDataDlg::SetRunning(bool running) { running_ = running; }
void CDataDlg::ReadWorker() {}
void CDataDlg::WriteWorker() {}
void CDataDlg::AuxWorker() {}
void CDataDlg::ApplyFontSettings()
{
    // The data in the grids takes the user's font and colour; buttons and
    // labels keep the program's.
    const FontSettings s = FontSettings::Load(UserProfilePath());
    const QFont font = s.ViewFont();
    const int rowHeight = QFontMetrics(font).height() + 8;
    for (CReportGrid* grid : findChildren<CReportGrid*>()) {
        grid->setFont(font);
        grid->verticalHeader()->setDefaultSectionSize(rowHeight);
        QPalette pal = grid->palette();
        pal.setColor(QPalette::Text, ColorRefToQColor(s.color));
        grid->setPalette(pal);
        grid->viewport()->update();
    }
}

void CDataDlg::showEvent(QShowEvent* event)
{
    if (!initialised_) {
        initialised_ = true;
        OnInitDialog();
    }
    QDialog::showEvent(event);
}

void CDataDlg::OnInitDialog()
{
    ApplyLanguageTexts();
    // A font the user chose in the font dialog holds for every view opened
    // afterwards; without one the program's own stays.
    if (FontSettings::Stored(UserProfilePath())) ApplyFontSettings();
}

// The workers do not read the settings texts, which the GUI thread may change
// meanwhile: the station is taken from them whenever a worker starts.
void CDataDlg::RefreshStation()
{
    if (TheApp()) station_ = regaccess::StationOf(TheApp()->Settings().devAddr);
}

void CDataDlg::RunWorker(Worker which)
{
    switch (which) {
    case Worker::Read: ReadWorker(); break;
    case Worker::Write: WriteWorker(); break;
    case Worker::Aux: AuxWorker(); break;
    }
}

bool CDataDlg::StartWorker(Worker which)
{
    RefreshStation();
    const int id = batchId_;
    return workers_.Start([this, which, id] {
        t_batchId = id;
        RunWorker(which);
    });
}

bool CDataDlg::StartWorker(std::function<void()> body)
{
    RefreshStation();
    const int id = batchId_;
    return workers_.Start([body = std::move(body), id] {
        t_batchId = id;
        body();
    });
}

bool CDataDlg::StartBatch(Worker which, int progressUpper, const QString& caption)
{
    if (running_.load()) return false;
    ++batchId_;
    // The old dialog may still be hidden after its close request; posts of
    // the old batch carry the old id and no longer reach any dialog.
    delete progress_;
    progress_ = new CDlgProgess(this);
    progress_->Create(this);
    progress_->SetRange(progressUpper);
    if (!caption.isEmpty()) progress_->setWindowTitle(caption);
    progress_->show();
    running_ = true;
    if (!StartWorker(which)) {
        running_ = false;
        progress_->hide();
        return false;
    }
    return true;
}

void CDataDlg::StopWorkers()
{
    running_ = false;
    workers_.JoinAll();
}

void CDataDlg::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        QWidget::keyPressEvent(event);  // past QDialog's close and default-button handling
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

void CDataDlg::Destroy(CDataDlg* view)
{
    if (!view) return;
    view->StopWorkers();
    delete view;
}

BatchLoop::Result CDataDlg::RunBatchLoop(const std::vector<bool>& transfer, const BatchLoop::Hooks& hooks,
                                         int attemptsPerRow)
{
    return BatchLoop(attemptsPerRow).Run(transfer, running_, hooks);
}

void CDataDlg::FinishBatch()
{
    running_ = false;
    PostProgressClose();
}

void CDataDlg::PostToGui(std::function<void()> fn)
{
    QMetaObject::invokeMethod(this, std::move(fn), Qt::QueuedConnection);
}

void CDataDlg::PostProgressStep(int n)
{
    const int id = t_batchId;
    PostToGui([this, id, n] {
        if (id == batchId_ && progress_) progress_->Step(n);
    });
}

void CDataDlg::PostProgressCaption(const QString& caption)
{
    const int id = t_batchId;
    PostToGui([this, id, caption] {
        if (id == batchId_ && progress_) progress_->setWindowTitle(caption);
    });
}

void CDataDlg::PostProgressClose()
{
    const int id = t_batchId;
    PostToGui([this, id] {
        if (id == batchId_ && progress_) progress_->CloseRequest();
    });
}

void CDataDlg::PostMessage(const QString& text)
{
    PostToGui([text] {
        if (TheApp()) TheApp()->ShowMessage(text);
    });
}

bool CDataDlg::RunOnGuiAndWait(std::function<void(CDataDlg* view)> fn)
{
    struct Wait {
        std::mutex mu;
        std::condition_variable cv;
        bool done = false;
    };
    auto wait = std::make_shared<Wait>();
    QPointer<CDataDlg> self(this);
    QMetaObject::invokeMethod(
        qApp,
        [self, fn = std::move(fn), wait] {
            if (self && self->IsRunning()) fn(self);
            std::lock_guard<std::mutex> lock(wait->mu);
            wait->done = true;
            wait->cv.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock<std::mutex> lock(wait->mu);
    while (!wait->done) {
        if (!IsRunning()) return false;
        wait->cv.wait_for(lock, std::chrono::milliseconds(50));
    }
    return true;
}

bool CDataDlg::ReadRecord(ParamRecord& record, uint8_t* err)
{
    return regaccess::ReadRecord(*port_, Station(), record, err);
}

bool CDataDlg::ReadValue(const ParamRecord& record, double* value, uint8_t* err)
{
    return regaccess::ReadValue(*port_, Station(), record, value, err);
}

bool CDataDlg::WriteRecord(const ParamRecord& record, uint8_t* err)
{
    return regaccess::WriteRecord(*port_, Station(), record, err);
}
