// Helpers for the main window tests: a program folder of their own with
// language files and a parameter workbook written through the workbook
// layer, a data view that counts its lives and runs a worker, and a
// fixture that starts the application with the shell's main frame.
#pragma once

#include "DataDlg.h"
#include "DeviceConnection.h"
#include "LanguageTables.h"
#include "DeviceViewPane.h"
#include "MainFrame.h"
#include "TorvaneView.h"
#include "ParamTable.h"
#include "TorvaneApp.h"
#include "ViewFactory.h"
#include "WideText.h"
#include "ControlIds.h"
#include "Workbook.h"

#include <QAction>
#include <QApplication>
#include <QDockWidget>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <unistd.h>
#include <variant>
#include <vector>

namespace mftest {

namespace fs = std::filesystem;

// A private folder, removed with its content; the working directory moves
// into it while it lives (the links write ./msg and ./log).
class TempDir {
public:
    TempDir()
    {
        const char* base = std::getenv("TMPDIR");
        std::string tmpl = std::string(base && *base ? base : "/tmp") + "/torvane-mf-XXXXXX";
        if (::mkdtemp(tmpl.data())) path_ = tmpl;
        std::error_code ec;
        previous_ = fs::current_path(ec);
        if (!path_.empty()) fs::current_path(path_, ec);
    }
    ~TempDir()
    {
        std::error_code ec;
        if (!previous_.empty()) fs::current_path(previous_, ec);
        if (!path_.empty()) fs::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::wstring folder() const { return wtext::FromUtf8(path_) + L"/"; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    QString qfile(const std::string& name) const { return QString::fromStdString(file(name)); }

private:
    std::string path_;
    fs::path previous_;
};

using CellValue = std::variant<std::wstring, double>;
struct Cell {
    int row;
    int col;
    CellValue value;
};

inline bool WriteBook(const std::string& path, const std::vector<Cell>& cells)
{
    std::error_code ec;
    fs::create_directories(fs::path(path).parent_path(), ec);
    xls::Book* book = xlCreateBookW();
    bool ok = book != nullptr;
    xls::Sheet* s = ok ? book->addSheet(L"Sheet1") : nullptr;
    ok = ok && s;
    for (const Cell& c : cells) {
        if (!ok) break;
        if (const auto* t = std::get_if<std::wstring>(&c.value))
            ok = s->writeStr(c.row, c.col, t->c_str());
        else
            ok = s->writeNum(c.row, c.col, std::get<double>(c.value));
    }
    if (ok) ok = book->save(wtext::FromUtf8(path).c_str());
    if (book) book->release();
    return ok;
}

inline void WriteText(const std::string& path, const std::string& bytes)
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

inline std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A parameter workbook: groups 1 (with subgroups 1.1 and 1.2), 2, and the
// M-data groups 8 (with subgroup 8.1) and 9.
inline bool WriteParamBook(const std::string& path, const std::wstring& deviceType)
{
    std::vector<Cell> c = {{0, 0, std::wstring(L"Address")}, {0, 1, std::wstring(L"PNU")},
                           {0, 2, std::wstring(L"Name")},    {1, 2, deviceType}};
    int row = 2;
    auto header = [&](const wchar_t* code, const wchar_t* name) {
        c.push_back({row, 1, std::wstring(code)});
        c.push_back({row, 2, std::wstring(name)});
        ++row;
    };
    auto param = [&](double address, const wchar_t* pnu, const wchar_t* name) {
        c.push_back({row, 0, address});
        c.push_back({row, 1, std::wstring(pnu)});
        c.push_back({row, 2, std::wstring(name)});
        c.push_back({row, 6, 0.0});
        ++row;
    };
    header(L"01***", L"Basic,基本");
    header(L"1.1*", L"Motor,电机");
    param(1001, L"01.00", L"Rated speed,额定转速");
    header(L"1.2*", L"Ramp,加减速");
    param(1010, L"01.10", L"Accel,加速");
    header(L"02***", L"Protection,保护");
    param(2001, L"02.00", L"Limit,限制");
    header(L"08***", L"Monitor,监控");
    header(L"8.1*", L"Output,输出");
    param(8001, L"08.00", L"Frequency,频率");
    header(L"09***", L"Fault,故障");
    param(9001, L"09.00", L"Last fault,最近故障");
    return WriteBook(path, c);
}

// Control texts: the commands, a view's button (2001) and label (2002).
inline bool WriteLanguageBook(const std::string& path)
{
    std::vector<Cell> c = {{0, 0, std::wstring(L"ID")}, {0, 2, std::wstring(L"English")},
                           {0, 3, std::wstring(L"Chinese")}};
    struct Row {
        double id;
        const wchar_t* en;
        const wchar_t* zh;
    };
    const Row rows[] = {
        {32776, L"Edit Serial Port (&E)", L"编辑串口(&E)"},
        {32777, L"Connect Serial Port (&C)\tCtrl+C", L"连接串口(&C)\tCtrl+C"},
        {32778, L"Disconnect(&D)\tCtrl+D", L"断开连接(&D)\tCtrl+D"},
        {32774, L"Open Data(&O)", L"打开数据(&O)"},
        {21002, L"Device View", L"设备视图"},
        {57664, L"&About Torvane...", L"关于Torvane(&A)..."},
        {2001, L"Select All", L"全选"},
        {2002, L"Value", L"数值"},
    };
    int r = 1;
    for (const Row& row : rows) {
        c.push_back({r, 0, row.id});
        c.push_back({r, 1, std::wstring(L"IDC")});
        c.push_back({r, 2, std::wstring(row.en)});
        c.push_back({r, 3, std::wstring(row.zh)});
        ++r;
    }
    return WriteBook(path, c);
}

// A program folder: Language/ with setting.ini, both INI files and
// language.xls; Parameter/TV380.xls and Parameter/TV500.xls.
inline void WriteProgramFolder(const TempDir& dir, const std::string& language = "English")
{
    WriteText(dir.file("Language/setting.ini"), "[Setting]\nLanguage=" + language + "\nDevice=TV380\n");
    WriteText(dir.file("Language/English.ini"),
              "[MENU]\nID_LANGUAGE_CHINESE=Chinese\nID_LANGUAGE_ENGLISH=English\nIDS_MENU_LANGUAGE=&Language\n"
              "IDS_MENU_HELP=&Help\nIDS_MENU_START=Start\nIDS_MENU_EDIT=Param(&M)\nIDS_MENU_VIEW=&View\n");
    WriteText(dir.file("Language/Chinese.ini"),
              "[MENU]\nID_LANGUAGE_CHINESE=中文\nID_LANGUAGE_ENGLISH=English\nIDS_MENU_LANGUAGE=语言(&L)\n"
              "IDS_MENU_HELP=帮助(&H)\nIDS_MENU_START=开始\nIDS_MENU_EDIT=参数(&M)\nIDS_MENU_VIEW=视图(&V)\n");
    ASSERT_TRUE(WriteLanguageBook(dir.file("Language/language.xls")));
    ASSERT_TRUE(WriteParamBook(dir.file("Parameter/TV380.xls"), L"TV380"));
    ASSERT_TRUE(WriteParamBook(dir.file("Parameter/TV500.xls"), L"TV500"));
}

// The captions of the menu bar's drop-down menus, in order.
inline QStringList MenuTitles(QMainWindow* f)
{
    QStringList out;
    for (QAction* a : f->menuBar()->actions())
        if (a->menu()) out << a->menu()->title();
    return out;
}

// Counts of the test views alive and made.
struct ViewCounts {
    std::atomic<int> alive{0};
    std::atomic<int> made{0};
    std::atomic<int> workersEnded{0};
    std::atomic<int> fontApplied{0};
    std::vector<ViewChoice> choices;
};

// A data view with a button (2001) and a label (2002) that start with their
// Chinese captions, as the dialog templates do; its worker runs until the
// view stops it.
class CTestView : public CDataDlg {
public:
    CTestView(ViewCounts& counts, const ViewChoice& choice, QWidget* parent)
        : CDataDlg(parent), counts_(counts), choice_(choice)
    {
        ++counts_.alive;
        ++counts_.made;
        auto* layout = new QVBoxLayout(this);
        button_ = new QPushButton(QString::fromUtf8("全选"), this);
        SetCtrlId(button_, 2001);
        label_ = new QLabel(QString::fromUtf8("数值"), this);
        SetCtrlId(label_, 2002);
        layout->addWidget(button_);
        layout->addWidget(label_);
    }
    ~CTestView() override
    {
        StopWorkers();
        --counts_.alive;
    }
    // Runs until `running` is cleared.
    bool StartLongWorker()
    {
        SetRunning(true);
        return StartWorker([this] {
            while (IsRunning()) std::this_thread::yield();
            ++counts_.workersEnded;
        });
    }
    void ApplyFontSettings() override { ++counts_.fontApplied; }
    void UpdateButtons(bool normal) override { lastNormal_ = normal; }

    QPushButton* button_;
    QLabel* label_;
    ViewCounts& counts_;
    ViewChoice choice_;
    int lastNormal_ = -1;
};

// Records the messages instead of showing them.
class CapturePrompts : public CLinkPrompts {
public:
    void ShowMessage(const std::wstring& text) override { messages.push_back(text); }
    void EditSerialSettings() override { ++settingsDialogs; }
    void UpdateStatusBar() override
    {
        if (TheApp()) TheApp()->UpdateStatusBar();
    }
    std::vector<std::wstring> messages;
    int settingsDialogs = 0;
};

// The application with the shell's main frame over a private program folder.
class FrameTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        profile_ = dir_.file("profile/Torvane.ini");
        qputenv("TORVANE_PROFILE", QByteArray::fromStdString(profile_));
    }
    void TearDown() override
    {
        app_.reset();
        qunsetenv("TORVANE_PROFILE");
    }

    // Registers the test view for every kind in `kinds`.
    void RegisterKinds(const std::vector<ViewKind>& kinds)
    {
        for (ViewKind k : kinds)
            views_.Register(k, [this](const ViewChoice& c, QWidget* parent) -> CDataDlg* {
                counts_.choices.push_back(c);
                return new CTestView(counts_, c, parent);
            });
    }
    void RegisterAllKinds()
    {
        RegisterKinds({ViewKind::Parameter, ViewKind::MData, ViewKind::Download, ViewKind::RealTimeMonitor,
                       ViewKind::MonitorHistory, ViewKind::Function});
    }

    // Starts the application; the frame is shown (offscreen) unless told.
    CMainFrame* Start(bool show = true)
    {
        language_ = std::make_unique<LanguageTables>(dir_.folder());
        app_ = std::make_unique<CTorvaneApp>(dir_.folder(), language_.get());
        app_->SetPrompts(&prompts_);
        app_->SetMainWindowFactory([this](CTorvaneApp& a) -> std::unique_ptr<CMainWindowHost> {
            MainFrameOptions o;
            o.layoutPath = LayoutPath();
            o.profilePath = wtext::FromUtf8(profile_);
            o.table = &table_;
            o.views = &views_;
            if (makeFrame_) return makeFrame_(a, o);
            return std::make_unique<CMainFrame>(a, o);
        });
        EXPECT_TRUE(app_->InitInstance(show));
        frame_ = dynamic_cast<CMainFrame*>(app_->MainWindow());
        return frame_;
    }
    QString LayoutPath() const { return dir_.qfile("Torvane.xml"); }

    TempDir dir_;
    std::string profile_;
    ParamTable table_;
    CViewFactory views_;
    ViewCounts counts_;
    CapturePrompts prompts_;
    std::unique_ptr<LanguageTables> language_;
    std::unique_ptr<CTorvaneApp> app_;
    CMainFrame* frame_ = nullptr;
    // Builds a frame of a derived class instead (set before Start).
    std::function<std::unique_ptr<CMainFrame>(CTorvaneApp&, const MainFrameOptions&)> makeFrame_;
};

}  // namespace mftest
