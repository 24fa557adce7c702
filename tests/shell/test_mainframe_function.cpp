// The function menu: the device tree has no function root, so the names of
// "Function/function.xls" are offered in a menu of their own that opens the
// function view in the main window.
#include "DialogFunPid.h"
#include "ShellViews.h"
#include "test_mainframe_util.h"

#include <QAction>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>

using namespace mftest;

namespace {

QMenu* MenuTitled(CMainFrame* f, const QString& title)
{
    for (QAction* a : f->menuBar()->actions())
        if (a->menu() && a->menu()->title() == title) return a->menu();
    return nullptr;
}

// The function list and one function workbook (a setting and a watch).
void WriteFunctions(const TempDir& dir, const std::vector<std::wstring>& names)
{
    std::vector<Cell> list;
    for (size_t i = 0; i < names.size(); ++i) list.push_back({static_cast<int>(i), 0, names[i]});
    ASSERT_TRUE(WriteBook(dir.file("Function/function.xls"), list));
    ASSERT_TRUE(WriteBook(dir.file("Function/PID.xls"),
                          {{0, 1, std::wstring(L"Address")}, {1, 1, std::wstring(L"1001")},
                           {1, 2, std::wstring(L"40")}, {1, 3, std::wstring(L"50")}}));
}

void AddFunctionMenuCaptions(const TempDir& dir)
{
    WriteText(dir.file("Language/English.ini"), ReadText(dir.file("Language/English.ini")) +
                                                    "IDS_MENU_FUNCTION=Function(&F)\n");
    WriteText(dir.file("Language/Chinese.ini"), ReadText(dir.file("Language/Chinese.ini")) +
                                                    "IDS_MENU_FUNCTION=功能调试(&F)\n");
}

}  // namespace

TEST_F(FrameTest, FunctionMenuOpensTheFunctionViewByName)
{
    WriteProgramFolder(dir_);
    AddFunctionMenuCaptions(dir_);
    WriteFunctions(dir_, {L"PID", L"Pump & Fan"});
    RegisterBuiltViews(views_);
    ASSERT_TRUE(views_.Has(ViewKind::Function));
    Start();
    EXPECT_EQ(MenuTitles(frame_),
              (QStringList{"Start", "Param(&M)", "&View", "Function(&F)", "&Language", "&Help"}));
    QMenu* menu = MenuTitled(frame_, "Function(&F)");
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(menu->actions().size(), 2);
    EXPECT_EQ(menu->actions().at(0)->text(), "PID");
    EXPECT_EQ(menu->actions().at(1)->text(), "Pump && Fan");

    // The item opens the real view for its name, filling the view area.
    menu->actions().at(0)->trigger();
    auto* view = qobject_cast<CDialogFunPid*>(frame_->CurrentView());
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->functionName(), L"PID");
    EXPECT_EQ(view->functionFolder(), dir_.folder() + L"Function/");
    EXPECT_EQ(view->Table(), &table_);
    ASSERT_EQ(view->Settings().size(), 1u);
    EXPECT_EQ(view->SettingField(0)->pos(), QPoint(40, 50));
    EXPECT_EQ(view->parentWidget(), frame_->View());
    // Not connected: nothing to transfer.
    EXPECT_FALSE(view->Button(CDialogFunPid::IDC_READ_PARA)->isEnabled());

    // The menu's caption follows the language files; its items stay.
    EXPECT_TRUE(frame_->SwitchLanguage(L"Chinese"));
    menu = MenuTitled(frame_, QString::fromUtf8("功能调试(&F)"));
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu->actions().at(0)->text(), "PID");
    EXPECT_TRUE(frame_->SwitchLanguage(L"English"));
    EXPECT_NE(MenuTitled(frame_, "Function(&F)"), nullptr);

    // A second function replaces the view (its workbook is missing: no fields).
    MenuTitled(frame_, "Function(&F)")->actions().at(1)->trigger();
    view = qobject_cast<CDialogFunPid*>(frame_->CurrentView());
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->functionName(), L"Pump & Fan");
    EXPECT_FALSE(view->WorkbookLoaded());
}

TEST_F(FrameTest, NoFunctionListNoFunctionMenu)
{
    WriteProgramFolder(dir_);
    RegisterBuiltViews(views_);
    Start();
    EXPECT_EQ(MenuTitles(frame_), (QStringList{"Start", "Param(&M)", "&View", "&Language", "&Help"}));
}
