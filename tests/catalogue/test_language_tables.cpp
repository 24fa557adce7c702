// Language tables: the chosen language, menu captions from the language INI
// files, control texts from "language.xls", and the switch between languages.
#include "LanguageTables.h"
#include "PrivateProfile.h"
#include "test_catalogue_helpers.h"

using namespace cattest;

namespace {

// Rows 1 to 7: English in C for rows 1 to 6 (row 7 empty), Chinese in D for
// rows 1 to 4 and 6 (row 5 empty).
bool WriteLanguageBook(const std::string& path)
{
    std::vector<Cell> c = {{0, 0, std::wstring(L"ID")}, {0, 2, std::wstring(L"English")},
                           {0, 3, std::wstring(L"Chinese")}};
    const double ids[] = {2001, 2002, 1077, 2003, 2004, 32776};
    const wchar_t* en[] = {L"Select All", L"Clear", L"Different", L"Read", L"Write", L"Edit Serial Port"};
    const wchar_t* zh[] = {L"全选", L"取消选择", L"选择不同", L"读取选择项", nullptr, L"编辑串口"};
    for (int i = 0; i < 6; ++i) {
        c.push_back({i + 1, 0, ids[i]});
        c.push_back({i + 1, 1, std::wstring(L"IDC")});
        c.push_back({i + 1, 2, std::wstring(en[i])});
        if (zh[i]) c.push_back({i + 1, 3, std::wstring(zh[i])});
    }
    c.push_back({7, 0, 9999.0});
    c.push_back({7, 3, std::wstring(L"无英文")});
    c.push_back({8, 0, 5000.0});
    c.push_back({8, 2, std::wstring(L"Past the end")});
    return WriteBook(path, {{L"Text", c}});
}

void WriteLanguageFolder(const TempDir& dir)
{
    WriteText(dir.file("Language/setting.ini"), "; chosen language\r\n[Setting]\r\nLanguage=English\r\nDevice=TV380\r\n");
    WriteText(dir.file("Language/English.ini"),
              "[MENU]\r\nID_LANGUAGE_CHINESE=Chinese\r\nID_LANGUAGE_ENGLISH=English\r\nIDS_MENU_LANGUAGE=&Language\r\n"
              "IDS_MENU_HELP=&Help\r\nIDS_MENU_START=Start\r\nIDS_MENU_EDIT=Param(&M)\r\nIDS_MENU_VIEW=&View\r\n");
    WriteText(dir.file("Language/Chinese.ini"),
              "[MENU]\nID_LANGUAGE_CHINESE=中文\nID_LANGUAGE_ENGLISH=英文\nIDS_MENU_LANGUAGE=语言(&L)\n"
              "IDS_MENU_HELP=帮助(&H)\nIDS_MENU_START=开始\nIDS_MENU_EDIT=参数(&M)\n");
    ASSERT_TRUE(WriteLanguageBook(dir.file("Language/language.xls")));
}

}  // namespace

TEST(PickVariant, OnePartTwoPartsThreeParts)
{
    EXPECT_EQ(PickVariant(L"DEVICE,设备", 0), L"DEVICE");
    EXPECT_EQ(PickVariant(L"DEVICE,设备", 1), L"设备");
    EXPECT_EQ(PickVariant(L"Speed", 0), L"Speed");
    EXPECT_EQ(PickVariant(L"Speed", 1), L"Speed");
    EXPECT_EQ(PickVariant(L"Run,运行,Marche", 0), L"Run");
    EXPECT_EQ(PickVariant(L"Run,运行,Marche", 1), L"运行");
    EXPECT_EQ(PickVariant(L"Run,运行,Marche", 2), L"Marche");
    EXPECT_EQ(PickVariant(L"Run,运行", 5), L"Run");   // fewer parts: the first
    EXPECT_EQ(PickVariant(L"Run,", 1), L"");          // an empty variant is a variant
    EXPECT_EQ(PickVariant(L"", 1), L"");
    EXPECT_EQ(PickVariant(L"a,b", -1), L"a");
}

TEST(LanguageTables, StartSwitchToChineseAndBack)
{
    TempDir dir;
    WriteLanguageFolder(dir);
    LanguageTables lt(dir.folder());
    lt.Start();

    EXPECT_EQ(lt.current(), L"English");
    EXPECT_EQ(lt.languageIndex(), 0);
    EXPECT_EQ(lt.currentCommand(), LanguageTables::kEnglishCommand);
    EXPECT_EQ(lt.controlTexts().size(), 6u);
    EXPECT_EQ(lt.ControlText(2001), L"Select All");
    EXPECT_EQ(lt.ControlText(32776), L"Edit Serial Port");
    EXPECT_EQ(lt.ControlText(5000), L"");
    EXPECT_EQ(lt.MenuCaption(L"&View"), L"&View");
    EXPECT_EQ(lt.MenuCaption(L"Param(&M)"), L"Param(&M)");
    EXPECT_EQ(lt.MenuCaption(L"File"), L"");
    EXPECT_EQ(lt.CommandCaption(LanguageTables::kChineseCommand), L"Chinese");
    EXPECT_EQ(lt.PickVariant(L"DEVICE,设备"), L"DEVICE");

    ASSERT_TRUE(lt.SetLanguage(L"Chinese"));
    EXPECT_EQ(lt.current(), L"Chinese");
    EXPECT_EQ(lt.previous(), L"English");
    EXPECT_EQ(lt.languageIndex(), 1);
    EXPECT_EQ(lt.currentCommand(), LanguageTables::kChineseCommand);
    // Row 5 has no Chinese text: the list ends after row 4.
    EXPECT_EQ(lt.controlTexts().size(), 4u);
    EXPECT_EQ(lt.ControlText(2003), L"读取选择项");
    EXPECT_EQ(lt.ControlText(32776), L"");
    EXPECT_EQ(lt.CommandCaption(LanguageTables::kEnglishCommand), L"英文");
    // Every drop-down menu finds its Chinese caption, whether the bar shows
    // its resource caption or the English one; a key missing from the INI
    // file keeps its default.
    EXPECT_EQ(lt.MenuCaption(L"&Language"), L"语言(&L)");
    EXPECT_EQ(lt.MenuCaption(L"Param(&M)"), L"参数(&M)");
    EXPECT_EQ(lt.MenuCaption(L"&View"), L"&View");
    EXPECT_EQ(lt.PickVariant(L"DEVICE,设备"), L"设备");
    EXPECT_EQ(PrivateProfileGetString(L"Setting", L"Language", L"", lt.SettingFile()), L"Chinese");
    // The rest of the setting file is kept.
    EXPECT_EQ(PrivateProfileGetString(L"Setting", L"Device", L"", lt.SettingFile()), L"TV380");
    EXPECT_EQ(ReadText(dir.file("Language/setting.ini")).rfind("; chosen language\r\n", 0), 0u);

    // The language that is already current changes nothing.
    EXPECT_FALSE(lt.SetLanguage(L"Chinese"));
    EXPECT_EQ(lt.previous(), L"English");

    ASSERT_TRUE(lt.SetLanguage(L"English"));
    EXPECT_EQ(lt.previous(), L"Chinese");
    EXPECT_EQ(lt.languageIndex(), 0);
    EXPECT_EQ(lt.currentCommand(), LanguageTables::kEnglishCommand);
    EXPECT_EQ(lt.controlTexts().size(), 6u);
    EXPECT_EQ(lt.ControlText(2004), L"Write");
    EXPECT_EQ(lt.MenuCaption(L"语言(&L)"), L"&Language");
    EXPECT_EQ(lt.MenuCaption(L"&Language"), L"&Language");
    EXPECT_EQ(lt.MenuCaption(L"参数(&M)"), L"Param(&M)");

    // The next start remembers the choice.
    LanguageTables again(dir.folder());
    again.Start();
    EXPECT_EQ(again.current(), L"English");
}

TEST(LanguageTables, MissingFilesGiveTheDefaults)
{
    TempDir dir;
    LanguageTables lt(dir.folder());
    lt.Start();
    EXPECT_EQ(lt.current(), L"");
    EXPECT_EQ(lt.languageIndex(), 0);
    EXPECT_EQ(lt.currentCommand(), 0);
    EXPECT_TRUE(lt.controlTexts().empty());
    EXPECT_EQ(lt.CommandCaption(LanguageTables::kChineseCommand), L"Chinese");
    EXPECT_EQ(lt.CommandCaption(LanguageTables::kEnglishCommand), L"English");
    for (const auto& m : LanguageTables::kDropDownMenus) {
        EXPECT_EQ(lt.keyToText().at(m.key), m.defaultText);
        EXPECT_EQ(lt.MenuCaption(m.defaultText), m.defaultText);
    }

    // Without a Language folder the choice cannot be stored, but the switch
    // still happens for this run.
    EXPECT_TRUE(lt.SetLanguage(L"Chinese"));
    EXPECT_EQ(lt.languageIndex(), 1);
    EXPECT_EQ(lt.currentCommand(), LanguageTables::kChineseCommand);
    EXPECT_FALSE(fs::exists(dir.file("Language")));
}

TEST(LanguageTables, MissingWorkbookAfterASwitchKeepsThePreviousTexts)
{
    TempDir dir;
    WriteLanguageFolder(dir);
    LanguageTables lt(dir.folder());
    lt.Start();
    fs::remove(dir.file("Language/language.xls"));
    ASSERT_TRUE(lt.SetLanguage(L"Chinese"));
    EXPECT_EQ(lt.ControlText(2001), L"Select All");
    EXPECT_EQ(lt.controlTexts().size(), 6u);
    // A broken workbook is the same as a missing one.
    WriteText(dir.file("Language/language.xls"), "garbage");
    ASSERT_TRUE(lt.SetLanguage(L"English"));
    EXPECT_EQ(lt.ControlText(2001), L"Select All");
}

TEST(LanguageTables, OtherLanguageNames)
{
    TempDir dir;
    WriteLanguageFolder(dir);
    WriteText(dir.file("Language/German.ini"), "[MENU]\nIDS_MENU_HELP=&Hilfe\n");
    LanguageTables lt(dir.folder());
    lt.Start();
    ASSERT_TRUE(lt.SetLanguage(L"German"));
    EXPECT_EQ(lt.languageIndex(), 0);   // the English column and first variants
    EXPECT_EQ(lt.currentCommand(), 0);  // neither language command is checked
    EXPECT_EQ(lt.MenuCaption(L"&Help"), L"&Hilfe");
    EXPECT_EQ(lt.ControlText(2001), L"Select All");
    // Names are compared exactly.
    ASSERT_TRUE(lt.SetLanguage(L"chinese"));
    EXPECT_EQ(lt.languageIndex(), 0);
}

TEST(LanguageTables, OneObjectForTheProcess)
{
    EXPECT_EQ(&TheLanguageTables(), &TheLanguageTables());
}
