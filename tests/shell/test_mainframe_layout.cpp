// The layout file of the main window and the font settings.
#include "FontComboDlg.h"
#include "FrameParts.h"
#include "LayoutFile.h"
#include "SmallControls.h"
#include "test_mainframe_util.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDockWidget>
#include <QFile>
#include <QToolBar>

using namespace mftest;

namespace {

LayoutData SampleLayout()
{
    LayoutData d;
    d.taskPanelItems = {QStringLiteral("Tasks"), QString::fromUtf8("任务")};
    d.toolBars.push_back({QStringLiteral("Standard"), false, {32777, 0, 57664}});
    d.shortcuts = {{32777, QStringLiteral("Ctrl+K")}, {32778, QString()}};
    d.largeIcons = true;
    d.windowState = QByteArray("\x00\x01state\xff", 9);
    d.geometry = QByteArray("geometry");
    return d;
}

}  // namespace

TEST(LayoutFile, WrittenAndReadBack)
{
    TempDir dir;
    const QString path = dir.qfile("Torvane.xml");
    ASSERT_TRUE(WriteLayoutFile(path, SampleLayout()));
    const std::string xml = ReadText(dir.file("Torvane.xml"));
    for (const char* section : {"<Settings>", "<TaskPanel>", "<NormalLayout>", "<CommandBars>", "<Shortcuts>",
                                "<Options", "<DockingPane"})
        EXPECT_NE(xml.find(section), std::string::npos) << section;

    LayoutData back;
    ASSERT_TRUE(ReadLayoutFile(path, &back));
    const LayoutData want = SampleLayout();
    EXPECT_EQ(back.taskPanelItems, want.taskPanelItems);
    ASSERT_EQ(back.toolBars.size(), 1u);
    EXPECT_EQ(back.toolBars[0].name, QStringLiteral("Standard"));
    EXPECT_FALSE(back.toolBars[0].visible);
    EXPECT_EQ(back.toolBars[0].buttons, want.toolBars[0].buttons);
    EXPECT_EQ(back.shortcuts, want.shortcuts);
    EXPECT_TRUE(back.largeIcons);
    EXPECT_EQ(back.windowState, want.windowState);
    EXPECT_EQ(back.geometry, want.geometry);
    // Written through a temporary file: nothing else is left beside it.
    int files = 0;
    for (const auto& e : fs::directory_iterator(dir.path())) files += e.is_regular_file() ? 1 : 0;
    EXPECT_EQ(files, 1);
}

TEST(LayoutFile, MissingOrDamagedFilesReadAsNothing)
{
    TempDir dir;
    LayoutData untouched;
    untouched.taskPanelItems = {QStringLiteral("keep")};
    auto rejects = [&](const std::string& name, const std::string& content) {
        if (!content.empty()) WriteText(dir.file(name), content);
        LayoutData d = untouched;
        EXPECT_FALSE(ReadLayoutFile(dir.qfile(name), &d)) << name;
        EXPECT_EQ(d.taskPanelItems, untouched.taskPanelItems) << name;
    };
    rejects("missing.xml", "");
    rejects("garbage.xml", "\x01\x02 not xml at all");
    rejects("truncated.xml", "<?xml version=\"1.0\"?><Settings><TaskPanel><Item Caption=\"a\"/></TaskPanel><Normal");
    rejects("otherroot.xml", "<?xml version=\"1.0\"?><Layout><NormalLayout/></Layout>");
    rejects("badid.xml",
            "<Settings><NormalLayout><Shortcuts><Shortcut Id=\"abc\" Keys=\"Ctrl+K\"/></Shortcuts></NormalLayout>"
            "</Settings>");
    rejects("badbuttons.xml",
            "<Settings><NormalLayout><CommandBars><ToolBar Name=\"Standard\" Buttons=\"1,x\"/></CommandBars>"
            "</NormalLayout></Settings>");
    rejects("badbase64.xml",
            "<Settings><NormalLayout><DockingPane State=\"@@@@\" Geometry=\"\"/></NormalLayout></Settings>");
    rejects("twoRoots.xml", "<Settings><NormalLayout/></Settings><Settings/>");
    rejects("empty.xml", " ");
    // A folder in the file's place.
    fs::create_directories(dir.file("folder.xml"));
    rejects("folder.xml", "");
}

TEST_F(FrameTest, LayoutWrittenAtCloseAndRestoredAtStart)
{
    WriteProgramFolder(dir_);
    Start();
    EXPECT_FALSE(QFile::exists(LayoutPath()));
    // The user moved things about.
    frame_->Command(ID_CONNECT)->setShortcut(QKeySequence(QStringLiteral("Ctrl+K")));
    frame_->Command(ID_DISCONNECT)->setShortcut(QKeySequence());
    frame_->CommandBars()->LoadToolBar(QStringLiteral("Standard"), {32777, 32778, 0, 57664});
    QDockWidget* dock = frame_->DockingPanes()->Pane(21002);
    frame_->addDockWidget(Qt::RightDockWidgetArea, dock);
    frame_->close();
    ASSERT_TRUE(QFile::exists(LayoutPath()));

    app_.reset();
    Start();
    EXPECT_EQ(frame_->Command(ID_CONNECT)->shortcut(), QKeySequence(QStringLiteral("Ctrl+K")));
    EXPECT_TRUE(frame_->Command(ID_DISCONNECT)->shortcut().isEmpty());
    EXPECT_EQ(frame_->ToolBarButtons(), (std::vector<int>{32777, 32778, 0, 57664}));
    EXPECT_EQ(frame_->dockWidgetArea(frame_->DockingPanes()->Pane(21002)), Qt::RightDockWidgetArea);

    // A language switch reloads the menus but keeps the user's keys and bar.
    EXPECT_TRUE(frame_->SwitchLanguage(L"Chinese"));
    EXPECT_EQ(frame_->Command(ID_CONNECT)->shortcut(), QKeySequence(QStringLiteral("Ctrl+K")));
    EXPECT_TRUE(frame_->Command(ID_DISCONNECT)->shortcut().isEmpty());
    EXPECT_EQ(frame_->ToolBarButtons(), (std::vector<int>{32777, 32778, 0, 57664}));
}

// The command-bar state is also kept in the user profile under
// "CommandBars": without the layout file the next run takes the shortcuts and
// the places of the bars from there, and the font settings in the same
// profile stay as they were.
TEST_F(FrameTest, CommandBarsComeFromTheProfileWithoutLayoutFile)
{
    WriteProgramFolder(dir_);
    FontSettings font;
    font.fontName = QStringLiteral("DejaVu Sans");
    font.fontSize = QStringLiteral("18");
    font.color = MakeColorRef(1, 2, 3);
    ASSERT_TRUE(font.Store(wtext::FromUtf8(profile_)));
    Start();
    frame_->Command(ID_CONNECT)->setShortcut(QKeySequence(QStringLiteral("Ctrl+K")));
    frame_->addDockWidget(Qt::RightDockWidgetArea, frame_->DockingPanes()->Pane(21002));
    frame_->close();
    ASSERT_TRUE(QFile::remove(LayoutPath()));
    EXPECT_NE(ReadText(profile_).find("[CommandBars]"), std::string::npos);

    app_.reset();
    Start();
    EXPECT_EQ(frame_->Command(ID_CONNECT)->shortcut(), QKeySequence(QStringLiteral("Ctrl+K")));
    EXPECT_EQ(frame_->dockWidgetArea(frame_->DockingPanes()->Pane(21002)), Qt::RightDockWidgetArea);
    EXPECT_EQ(FontSettings::Load(wtext::FromUtf8(profile_)), font);

    // With a layout file, the file has the last word.
    frame_->close();
    LayoutData d;
    ASSERT_TRUE(ReadLayoutFile(LayoutPath(), &d));
    d.shortcuts[ID_CONNECT] = QStringLiteral("Ctrl+J");
    ASSERT_TRUE(WriteLayoutFile(LayoutPath(), d));
    app_.reset();
    Start();
    EXPECT_EQ(frame_->Command(ID_CONNECT)->shortcut(), QKeySequence(QStringLiteral("Ctrl+J")));
}

TEST_F(FrameTest, CorruptLayoutFileKeepsBuiltInLayout)
{
    WriteProgramFolder(dir_);
    WriteText(LayoutPath().toStdString(),
              "<Settings><TaskPanel><Item Caption=\"x\"/></TaskPanel><NormalLayout><Shortcuts>"
              "<Shortcut Id=\"32777\" Keys=\"Ctrl+K\"/></Shortcuts><CommandBars><ToolBar Name=\"Standard\" "
              "Buttons=\"57664\"/></CommandBars><DockingPane State=\"%%%\"/></NormalLayout></Settings>");
    Start();
    // Nothing of the damaged file was applied.
    EXPECT_EQ(frame_->Command(ID_CONNECT)->shortcut(), QKeySequence(QStringLiteral("Ctrl+C")));
    EXPECT_EQ(frame_->ToolBarButtons(), (std::vector<int>{32776, 32777, 32778, 0, 32774, 32772, 32773, 0, 57664}));
    EXPECT_TRUE(frame_->TaskPanelItems().isEmpty());
    EXPECT_EQ(frame_->dockWidgetArea(frame_->DockingPanes()->Pane(21002)), Qt::LeftDockWidgetArea);
    // And it is written anew at close.
    frame_->close();
    LayoutData d;
    EXPECT_TRUE(ReadLayoutFile(LayoutPath(), &d));
}

TEST_F(FrameTest, LayoutWithUnknownCommandsDropsThem)
{
    WriteProgramFolder(dir_);
    LayoutData d;
    d.toolBars.push_back({QStringLiteral("Standard"), true, {32777, 99999, 0, 32778}});
    d.toolBars.push_back({QStringLiteral("NoSuchBar"), true, {32777}});
    d.shortcuts = {{99999, QStringLiteral("Ctrl+J")}, {32779, QStringLiteral("Ctrl+Alt+F")}};
    ASSERT_TRUE(WriteLayoutFile(LayoutPath(), d));
    Start();
    EXPECT_EQ(frame_->ToolBarButtons(), (std::vector<int>{32777, 0, 32778}));
    EXPECT_EQ(frame_->CommandBars()->ToolBar(QStringLiteral("NoSuchBar")), nullptr);
    EXPECT_EQ(frame_->Command(ID_FONT_SETTINGS)->shortcut(), QKeySequence(QStringLiteral("Ctrl+Alt+F")));
}

// ---- font settings ----------------------------------------------------------------

TEST(FontSettings, FirstRunDefaults)
{
    TempDir dir;
    const std::wstring profile = wtext::FromUtf8(dir.file("cfg/Torvane.ini"));
    const FontSettings s = FontSettings::Load(profile);
    EXPECT_FALSE(s.bold);
    EXPECT_FALSE(s.italic);
    EXPECT_FALSE(s.underline);
    EXPECT_EQ(s.fontSize, QStringLiteral("15"));
    EXPECT_EQ(s.fontName, QStringLiteral("Verdana"));
    EXPECT_EQ(s.color, 0xFF000000u);

    CFontComboDlg dlg(nullptr, profile);
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("FontCombo"));
    EXPECT_EQ(dlg.FontNames()->SelectedFontName().toLower(), QStringLiteral("verdana"));
    EXPECT_EQ(dlg.Sizes()->currentText(), QStringLiteral("15"));
    EXPECT_FALSE(dlg.Bold()->isChecked());
    EXPECT_EQ(dlg.Picker()->GetColor(), 0xFF000000u);
    EXPECT_FALSE(dlg.Italic()->isEnabled());
    EXPECT_FALSE(dlg.Underline()->isEnabled());
    QStringList sizes;
    for (int i = 0; i < dlg.Sizes()->count(); ++i) sizes << dlg.Sizes()->itemText(i);
    EXPECT_EQ(sizes, (QStringList{"5", "7", "9", "12", "15", "18", "24"}));
    EXPECT_EQ(dlg.Sample()->Text(), QStringLiteral("Sample Text"));
    EXPECT_EQ(dlg.Sample()->SampleFont().pixelSize(), 15);
    EXPECT_EQ(FindCtrl(&dlg, 1003), dlg.Picker());
    EXPECT_EQ(FindCtrl(&dlg, 1002), dlg.Sizes());
}

TEST(FontSettings, ChangesAreStoredAndReadBack)
{
    TempDir dir;
    const std::wstring profile = wtext::FromUtf8(dir.file("cfg/Torvane.ini"));
    {
        CFontComboDlg dlg(nullptr, profile);
        dlg.Sizes()->setCurrentIndex(dlg.Sizes()->findText(QStringLiteral("24")));
        dlg.Bold()->setChecked(true);
        EXPECT_EQ(dlg.Sample()->SampleFont().pixelSize(), 24);
        EXPECT_TRUE(dlg.Sample()->SampleFont().bold());
        // Written at every update.
        const FontSettings now = FontSettings::Load(profile);
        EXPECT_EQ(now.fontSize, QStringLiteral("24"));
        EXPECT_TRUE(now.bold);
        // A colour is written when the dialog goes.
        dlg.OnColorChosen(MakeColorRef(10, 20, 30));
        EXPECT_EQ(dlg.Sample()->SampleColor(), MakeColorRef(10, 20, 30));
        EXPECT_EQ(FontSettings::Load(profile).color, 0xFF000000u);
    }
    const FontSettings s = FontSettings::Load(profile);
    EXPECT_EQ(s.color, MakeColorRef(10, 20, 30));
    EXPECT_EQ(s.fontSize, QStringLiteral("24"));
    EXPECT_TRUE(s.bold);
    // The automatic colour survives its signed form in the profile.
    FontSettings a = s;
    a.color = 0xFF000000u;
    ASSERT_TRUE(a.Store(profile));
    EXPECT_NE(ReadText(dir.file("cfg/Torvane.ini")).find("m_crCurrent=-16777216"), std::string::npos);
    EXPECT_EQ(FontSettings::Load(profile).color, 0xFF000000u);
}

TEST(FontSettings, StoredSizeNotInTheListLeavesNoSelection)
{
    TempDir dir;
    const std::string path = dir.file("Torvane.ini");
    WriteText(path, "[Settings]\nm_strFontSize=11\nm_strFontName=NoSuchFontFamily\nm_bBold=1\n");
    const std::wstring profile = wtext::FromUtf8(path);
    CFontComboDlg dlg(nullptr, profile);
    EXPECT_EQ(dlg.Sizes()->currentIndex(), -1);
    EXPECT_EQ(dlg.Sizes()->currentText(), QString());
    EXPECT_TRUE(dlg.Bold()->isChecked());
    // A stored name that is not installed is kept as it is.
    EXPECT_EQ(dlg.FontNames()->SelectedFontName(), QStringLiteral("NoSuchFontFamily"));
    // The next update takes the size from the (empty) list text.
    dlg.Bold()->setChecked(false);
    const FontSettings s = FontSettings::Load(profile);
    EXPECT_EQ(s.fontSize, QString());
    EXPECT_FALSE(s.bold);
    EXPECT_EQ(s.fontName, QStringLiteral("NoSuchFontFamily"));
}

TEST(FontSettings, ProfileTyposDoNotBreakTheDialog)
{
    TempDir dir;
    const std::string path = dir.file("Torvane.ini");
    WriteText(path, "[Settings]\nm_crCurrent=blue\nm_bBold=yes\nm_strFontSize=big\n");
    const FontSettings s = FontSettings::Load(wtext::FromUtf8(path));
    EXPECT_EQ(s.color, 0u);
    EXPECT_FALSE(s.bold);
    CFontComboDlg dlg(nullptr, wtext::FromUtf8(path));
    EXPECT_EQ(dlg.Sizes()->currentIndex(), -1);
    EXPECT_GT(dlg.Sample()->SampleFont().pixelSize() + dlg.Sample()->SampleFont().pointSize(), 0);
}

TEST(FontSettings, ProfileFromEnvironment)
{
    qputenv("TORVANE_PROFILE", "/tmp/somewhere/p.ini");
    EXPECT_EQ(UserProfilePath(), L"/tmp/somewhere/p.ini");
    qunsetenv("TORVANE_PROFILE");
    const std::wstring home = UserProfilePath();
    const std::wstring tail = L"/.config/Torvane/Torvane.ini";
    ASSERT_GT(home.size(), tail.size());
    EXPECT_EQ(home.substr(home.size() - tail.size()), tail);
}

TEST_F(FrameTest, FontCommandAppliesToTheCurrentView)
{
    WriteProgramFolder(dir_);
    RegisterAllKinds();
    Start();
    ASSERT_TRUE(frame_->DevicePane()->SelectNumber(10001));
    // Close the dialog as soon as it shows.
    bool closed = false;
    QMetaObject::invokeMethod(
        frame_,
        [&] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* d = qobject_cast<CFontComboDlg*>(w); d && d->isVisible()) {
                    d->OnColorChosen(MakeColorRef(1, 2, 3));
                    d->accept();
                    closed = true;
                }
        },
        Qt::QueuedConnection);
    frame_->OnCommand(ID_FONT_SETTINGS);
    EXPECT_TRUE(closed);
    EXPECT_EQ(counts_.fontApplied, 1);
    // The colour chosen last was stored before the view was told.
    EXPECT_EQ(FontSettings::Load(wtext::FromUtf8(profile_)).color, MakeColorRef(1, 2, 3));
}
