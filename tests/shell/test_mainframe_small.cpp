// Everyday use of the shell, parameter, download, monitor and function views with the sample
// data set: every caption in the language chosen, every view usable in a
// main window of 800 x 600 (nothing cut, nothing out of reach, no sideways
// scrolling to reach a value's "..." button), and the parameter search.
#include "ShellViews.h"
#include "test_mainframe_util.h"

#include "DialogComSet.h"
#include "DlgProgess.h"
#include "ParamGridView.h"
#include "ParamViewLogic.h"
#include "ReportGrid.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QTest>

#include <functional>

using namespace mftest;

namespace {

// The sample data set's language files, parameter and function workbooks.
bool CopySampleData(const TempDir& dir, const std::string& language)
{
    const fs::path sample = TORVANE_SAMPLE_PROGRAM_DIR;
    std::error_code ec;
    for (const char* d : {"Language", "Parameter", "Function"}) {
        fs::copy(sample / d, fs::path(dir.path()) / d, fs::copy_options::recursive, ec);
        if (ec) return false;
    }
    WriteText(dir.file("Language/setting.ini"), "[Setting]\nLanguage=" + language + "\nDevice=TV380\n");
    return true;
}

bool HasHan(const QString& s)
{
    for (QChar c : s)
        if ((c.unicode() >= 0x4E00 && c.unicode() <= 0x9FFF) || (c.unicode() >= 0x3000 && c.unicode() <= 0x303F) ||
            (c.unicode() >= 0xFF00 && c.unicode() <= 0xFFEF))
            return true;
    return false;
}

bool HasLatinWord(const QString& s)
{
    int run = 0;
    for (QChar c : s) {
        run = (c.isLetter() && c.unicode() < 0x80) ? run + 1 : 0;
        if (run >= 2) return true;
    }
    return false;
}

// Names that read the same in both languages.
bool SameInBothLanguages(const QString& s)
{
    static const QStringList names = {"Torvane", "English", "TV380", "PID", "VKR Pnu", "HZ"};
    return names.contains(s);
}

// Why `caption` is not of `language`; empty when it is.
QString WrongLanguage(const QString& caption, const std::string& language)
{
    const QString c = caption.trimmed();
    if (c.isEmpty()) return QString();
    if (language == "English") return HasHan(c) ? QStringLiteral("Chinese text") : QString();
    if (!HasHan(c) && HasLatinWord(c) && !SameInBothLanguages(c)) return QStringLiteral("English text");
    return QString();
}

// The captions a user reads in a window: buttons, labels, group boxes,
// grid headings, hints of input fields, window titles. Data (cells, list
// entries, typed paths) are not captions.
void CollectCaptions(QWidget* root, const QString& where, std::vector<std::pair<QString, QString>>* out)
{
    auto add = [&](const QString& what, const QString& text) { out->push_back({where + ": " + what, text}); };
    if (root->isWindow()) add(QStringLiteral("window title"), root->windowTitle());
    for (QWidget* w : root->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(root)) continue;
        const QString name = QString::fromLatin1(w->metaObject()->className()) + "#" + QString::number(CtrlId(w));
        if (auto* b = qobject_cast<QAbstractButton*>(w))
            add(name, b->text());
        else if (auto* l = qobject_cast<QLabel*>(w))
            add(name, l->text());
        else if (auto* g = qobject_cast<QGroupBox*>(w))
            add(name, g->title());
        else if (auto* e = qobject_cast<QLineEdit*>(w))
            add(name + " hint", e->placeholderText());
        if (auto* grid = qobject_cast<CReportGrid*>(w))
            for (int c = 0; c < grid->ColumnCount(); ++c)
                if (grid->IsColumnVisible(c)) add(name + " column", grid->ColumnCaption(c));
    }
}

bool InsideGridOrScrollArea(const QWidget* w, const QWidget* root)
{
    for (const QWidget* p = w->parentWidget(); p && p != root; p = p->parentWidget())
        if (qobject_cast<const QAbstractItemView*>(p) || qobject_cast<const QScrollArea*>(p)) return true;
    return false;
}

// What a user of `view` would run into: a control out of reach (outside the
// view), a caption cut short, two controls on top of each other, and in a
// parameter grid a value column whose "..." button needs sideways scrolling.
QStringList LayoutProblems(QWidget* view)
{
    QStringList problems;
    std::vector<std::pair<QWidget*, QRect>> controls;
    for (QWidget* w : view->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(view) || InsideGridOrScrollArea(w, view)) continue;
        const bool captioned = qobject_cast<QAbstractButton*>(w) || qobject_cast<QLabel*>(w);
        if (!captioned && !qobject_cast<QComboBox*>(w) && !qobject_cast<QLineEdit*>(w)) continue;
        const QString name = QString::fromLatin1(w->metaObject()->className()) + "#" + QString::number(CtrlId(w)) +
                             " \"" + CtrlText(w) + "\"";
        const QRect r(w->mapTo(view, QPoint(0, 0)), w->size());
        if (!view->rect().contains(r))
            problems << QStringLiteral("%1 at %2,%3 %4x%5 is outside the view %6x%7")
                            .arg(name).arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height())
                            .arg(view->width()).arg(view->height());
        auto* label = qobject_cast<QLabel*>(w);
        if (captioned && !(label && label->wordWrap()) && w->width() < w->sizeHint().width())
            problems << QStringLiteral("%1 is cut: %2 wide, needs %3").arg(name).arg(w->width()).arg(w->sizeHint().width());
        for (const auto& [other, otherRect] : controls)
            if (!other->isAncestorOf(w) && !w->isAncestorOf(other) && r.intersects(otherRect))
                problems << QStringLiteral("%1 overlaps %2").arg(name, QString::fromLatin1(other->metaObject()->className()) +
                                                                          "#" + QString::number(CtrlId(other)));
        controls.push_back({w, r});
    }
    // A command button in a scroll area is out of reach while it is
    // scrolled out of sight.
    for (QAbstractButton* b : view->findChildren<QPushButton*>()) {
        if (!b->isVisibleTo(view)) continue;
        for (QWidget* p = b->parentWidget(); p && p != view; p = p->parentWidget())
            if (auto* area = qobject_cast<QScrollArea*>(p)) {
                const QRect r(b->mapTo(area->viewport(), QPoint(0, 0)), b->size());
                if (!area->viewport()->rect().contains(r))
                    problems << QStringLiteral("button \"%1\" is scrolled out of sight").arg(b->text());
            }
    }
    if (auto* grid = view->findChild<CReportGrid*>()) {
        if (qobject_cast<CParamGridView*>(view)) {
            const int end = grid->columnViewportPosition(paramview::kColValue) + grid->columnWidth(paramview::kColValue);
            if (end > grid->viewport()->width())
                problems << QStringLiteral("the value column ends at %1, beyond the grid's %2")
                                .arg(end).arg(grid->viewport()->width());
        }
    }
    return problems;
}

}  // namespace

class SmallWindowTest : public FrameTest {
protected:
    // The frame with the sample data, 800 x 600, in `language`.
    void StartSample(const std::string& language)
    {
        ASSERT_TRUE(CopySampleData(dir_, language));
        RegisterBuiltViews(views_);
        Start();
        frame_->resize(800, 600);
        QApplication::processEvents();
    }
    // The views of the shell, parameter, download and monitor subsystems, by
    // tree item.
    std::vector<int> Items() const
    {
        return {DT_PARAMETER_ROOT, DT_GROUP_BASE + 1, DT_SUBGROUP_BASE + 21, DT_MD_GROUP_BASE + 8, DT_PROGRAM_ROOT
#ifdef TEST_HAVE_MONITOR
                , DT_MONITOR_RT, DT_MONITOR_HIS
#endif
        };
    }
    // Every view of Items() in turn, then the sample's function view "PID"
    // from the function menu.
    void ForEachView(const std::function<void(CDataDlg*)>& check)
    {
        for (int item : Items()) {
            ASSERT_TRUE(frame_->DevicePane()->SelectNumber(item)) << item;
            QApplication::processEvents();
            CDataDlg* v = frame_->CurrentView();
            ASSERT_NE(v, nullptr) << item;
            check(v);
        }
#ifdef TEST_HAVE_FUNCTION
        QAction* pid = nullptr;
        for (QAction* a : frame_->menuBar()->actions())
            if (a->menu())
                for (QAction* item : a->menu()->actions())
                    if (item->text() == QStringLiteral("PID")) pid = item;
        ASSERT_NE(pid, nullptr) << "no function PID in the menus";
        pid->trigger();
        QApplication::processEvents();
        CDataDlg* v = frame_->CurrentView();
        ASSERT_NE(v, nullptr);
        EXPECT_STREQ(v->metaObject()->className(), "CDialogFunPid");
        check(v);
#endif
    }
    void ExpectCaptionsIn(const std::string& language)
    {
        std::vector<std::pair<QString, QString>> captions;
        for (QAction* a : frame_->menuBar()->actions()) {
            captions.push_back({"menu", a->text()});
            if (a->menu())
                for (QAction* item : a->menu()->actions())
                    if (!item->isSeparator()) captions.push_back({"menu item", item->text()});
        }
        for (QDockWidget* d : frame_->findChildren<QDockWidget*>()) captions.push_back({"pane", d->windowTitle()});
        CollectCaptions(frame_->DevicePane(), "device pane", &captions);
        ForEachView([&](CDataDlg* v) {
            CollectCaptions(v, QString::fromLatin1(v->metaObject()->className()), &captions);
            CDlgProgess progress(v);
            progress.show();
            CollectCaptions(&progress, "progress dialog", &captions);
        });
        CDialogComSet comset(&app_->Language(), frame_);
        comset.OnInitDialog();
        CollectCaptions(&comset, "serial settings", &captions);
        for (const auto& [where, text] : captions) {
            const QString why = WrongLanguage(text, language);
            EXPECT_TRUE(why.isEmpty()) << language << ", " << where.toStdString() << ": \"" << text.toStdString()
                                       << "\" is " << why.toStdString();
        }
    }
};

TEST_F(SmallWindowTest, EveryCaptionInEnglish)
{
    StartSample("English");
    ExpectCaptionsIn("English");
}

TEST_F(SmallWindowTest, EveryCaptionInChinese)
{
    StartSample("Chinese");
    ExpectCaptionsIn("Chinese");
}

// At 800 x 600 the shell, parameter and download views are usable without
// widening the window; the grab is what the user sees.
TEST_F(SmallWindowTest, ViewsAreUsableAt800x600)
{
    StartSample("English");
    EXPECT_EQ(frame_->size(), QSize(800, 600));
    EXPECT_EQ(frame_->grab().size(), QSize(800, 600));
    ForEachView([&](CDataDlg* v) {
        EXPECT_EQ(v->size(), frame_->View()->size()) << v->metaObject()->className();
        const QStringList problems = LayoutProblems(v);
        EXPECT_TRUE(problems.isEmpty()) << v->metaObject()->className() << ":\n  "
                                        << problems.join(QStringLiteral("\n  ")).toStdString();
    });
}

// The search field above the tree: a parameter by number or by words of its
// name in the language shown opens its group with the row selected; Ctrl+F
// goes to the field.
TEST_F(SmallWindowTest, ParameterSearchOpensTheGroupAtTheRow)
{
    StartSample("English");
    QLineEdit* field = frame_->DevicePane()->SearchField();
    EXPECT_EQ(frame_->Command(ID_FIND_PARAM)->shortcut(), QKeySequence(QStringLiteral("Ctrl+F")));
    EXPECT_EQ(field->placeholderText(), QStringLiteral("Find Parameter (Ctrl+F)"));
    frame_->Command(ID_FIND_PARAM)->trigger();
    EXPECT_EQ(frame_->focusWidget(), field);

    auto selectedPnu = [this]() -> std::wstring {
        auto* v = dynamic_cast<CParamGridView*>(frame_->CurrentView());
        if (!v) return L"(no parameter view)";
        const QModelIndexList rows = v->Grid()->selectionModel()->selectedRows();
        if (rows.size() != 1) return L"(no row)";
        return table_.params[static_cast<size_t>(v->RowRecords()[static_cast<size_t>(rows[0].row())])].pnu;
    };
    // Enter in the field: the words are in subgroup 2.1.
    field->setText(QStringLiteral("rated voltage"));
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(COfficeTreeCtrl::ItemNumber(frame_->DevicePane()->Tree()->currentItem()), DT_SUBGROUP_BASE + 21);
    EXPECT_EQ(selectedPnu(), L"02.02");
    // By number, also of a monitor group.
    EXPECT_TRUE(frame_->FindParameter(QStringLiteral("P9.1")));
    EXPECT_EQ(selectedPnu(), L"09.01");

    // Names are searched in the language shown.
    EXPECT_TRUE(frame_->SwitchLanguage(L"Chinese"));
    EXPECT_FALSE(frame_->FindParameter(QStringLiteral("rated current")));
    EXPECT_EQ(frame_->PaneText(0), QString::fromUtf8("未找到参数: rated current"));
    EXPECT_TRUE(frame_->FindParameter(QString::fromUtf8("电机1额定电流")));
    EXPECT_EQ(selectedPnu(), L"02.03");
}
