// The INI stand-in: values read and one key written the way the Windows
// private-profile calls do, without disturbing the rest of the file.
#include "PrivateProfile.h"
#include "ProgramFolder.h"
#include "test_catalogue_helpers.h"

#include <cstdint>
#include <sys/wait.h>
#include <unistd.h>

using namespace cattest;

namespace {

const std::string kHandWritten =
    "\xEF\xBB\xBF; Torvane settings, edited by hand\r\n"
    "\r\n"
    "[COM]\r\n"
    "COMID = 3\r\n"
    "bautRate=9600\r\n"
    "Parity=2,EVEN,\xE5\x81\xB6\r\n"
    "; the drive answers slowly\r\n"
    "OutTime=1000\r\n"
    "\r\n"
    "[Other]\r\n"
    "COMID=99\r\n";

std::string Utf16LE(const std::wstring& text)
{
    std::string out = "\xFF\xFE";
    auto unit = [&out](uint32_t u) {
        out.push_back(static_cast<char>(u & 0xFF));
        out.push_back(static_cast<char>(u >> 8));
    };
    for (wchar_t c : text) {
        const uint32_t cp = static_cast<uint32_t>(c);
        if (cp >= 0x10000) {
            unit(0xD800 + ((cp - 0x10000) >> 10));
            unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            unit(cp);
        }
    }
    return out;
}

std::vector<std::string> DirEntries(const std::string& dir)
{
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    return names;
}

}  // namespace

TEST(PrivateProfile, ReadsValuesWithoutRegardToCaseAndKeepsCommas)
{
    TempDir dir;
    WriteText(dir.file("config.ini"), kHandWritten);
    const std::wstring ini = dir.wfile("config.ini");

    EXPECT_EQ(PrivateProfileGetString(L"COM", L"Parity", L"x", ini), L"2,EVEN,偶");
    EXPECT_EQ(PrivateProfileGetString(L"com", L"PARITY", L"x", ini), L"2,EVEN,偶");
    EXPECT_EQ(PrivateProfileGetString(L"COM", L"COMID", L"-1", ini), L"3");  // blanks around "=" ignored
    EXPECT_EQ(PrivateProfileGetString(L"Other", L"COMID", L"-1", ini), L"99");
    EXPECT_EQ(PrivateProfileGetString(L"COM", L"CmdBay", L"200", ini), L"200");
    EXPECT_EQ(PrivateProfileGetString(L"NoSuch", L"COMID", L"-1", ini), L"-1");
    EXPECT_EQ(PrivateProfileGetString(L"COM", L"COMID", L"-1", dir.wfile("missing.ini")), L"-1");
    // A comment line is not a key.
    EXPECT_EQ(PrivateProfileGetString(L"COM", L"; the drive answers slowly", L"d", ini), L"d");
    // The buffer size of the Windows call limits the text.
    EXPECT_EQ(PrivateProfileGetString(L"COM", L"Parity", L"", ini, 4), L"2,E");
}

TEST(PrivateProfile, ValueFormsAndFirstMatchWins)
{
    TempDir dir;
    WriteText(dir.file("a.ini"),
              "[S]\n"
              "Quoted=\"  padded  \"\n"
              "Single='x'\n"
              "Unbalanced=\"x\n"
              "Empty=\n"
              "NoEquals\n"
              "Dup=first\n"
              "dup=second\n"
              "[s]\n"
              "Later=1\n"
              "[ Spaced ]\n"
              "K=v\n"
              "[Latin]\n"
              "\xC3\x84rger=umlaut\n");
    const std::wstring ini = dir.wfile("a.ini");
    EXPECT_EQ(PrivateProfileGetString(L"S", L"Quoted", L"", ini), L"  padded  ");
    EXPECT_EQ(PrivateProfileGetString(L"S", L"Single", L"", ini), L"x");
    EXPECT_EQ(PrivateProfileGetString(L"S", L"Unbalanced", L"", ini), L"\"x");
    EXPECT_EQ(PrivateProfileGetString(L"S", L"Empty", L"def", ini), L"");
    EXPECT_EQ(PrivateProfileGetString(L"S", L"NoEquals", L"def", ini), L"");
    EXPECT_EQ(PrivateProfileGetString(L"S", L"DUP", L"", ini), L"first");
    // Only the first section of a name is searched.
    EXPECT_EQ(PrivateProfileGetString(L"S", L"Later", L"none", ini), L"none");
    EXPECT_EQ(PrivateProfileGetString(L"Spaced", L"K", L"", ini), L"v");
    EXPECT_EQ(PrivateProfileGetString(L"LATIN", L"\u00E4RGER", L"", ini), L"umlaut");
}

TEST(PrivateProfile, IntegerReadingFollowsTheWindowsCall)
{
    TempDir dir;
    WriteText(dir.file("n.ini"), "[N]\nPlain=38400\nTail=12abc\nWord=abc\nEmpty=\nSigned= -5\nHex=0x10\n");
    const std::wstring ini = dir.wfile("n.ini");
    EXPECT_EQ(PrivateProfileGetInt(L"N", L"Plain", 7, ini), 38400);
    EXPECT_EQ(PrivateProfileGetInt(L"N", L"Tail", 7, ini), 12);
    EXPECT_EQ(PrivateProfileGetInt(L"N", L"Word", 7, ini), 0);
    EXPECT_EQ(PrivateProfileGetInt(L"N", L"Empty", 7, ini), 7);
    EXPECT_EQ(PrivateProfileGetInt(L"N", L"Signed", 7, ini), -5);
    EXPECT_EQ(PrivateProfileGetInt(L"N", L"Hex", 7, ini), 0);
    EXPECT_EQ(PrivateProfileGetInt(L"N", L"Missing", 7, ini), 7);
    EXPECT_EQ(PrivateProfileGetInt(L"N", L"Plain", 7, dir.wfile("none.ini")), 7);
}

TEST(PrivateProfile, WritingOneKeyKeepsEverythingElse)
{
    TempDir dir;
    WriteText(dir.file("config.ini"), kHandWritten);
    const std::wstring ini = dir.wfile("config.ini");

    ASSERT_TRUE(PrivateProfileWriteString(L"com", L"comid", L"5", ini));
    std::string expected = kHandWritten;
    expected.replace(expected.find("COMID = 3"), 9, "COMID = 5");
    EXPECT_EQ(ReadText(dir.file("config.ini")), expected);

    // A new key joins the end of its section, before the blank line.
    ASSERT_TRUE(PrivateProfileWriteString(L"COM", L"Download", L"1", ini));
    expected.replace(expected.find("OutTime=1000\r\n") + 14, 0, "Download=1\r\n");
    EXPECT_EQ(ReadText(dir.file("config.ini")), expected);

    // A new section goes to the end, kept apart by a blank line.
    ASSERT_TRUE(PrivateProfileWriteString(L"Setting", L"Language", L"Chinese", ini));
    expected += "\r\n[Setting]\r\nLanguage=Chinese\r\n";
    EXPECT_EQ(ReadText(dir.file("config.ini")), expected);

    EXPECT_EQ(PrivateProfileGetString(L"COM", L"Parity", L"", ini), L"2,EVEN,偶");
    EXPECT_EQ(PrivateProfileGetString(L"Other", L"COMID", L"", ini), L"99");
    // No temporary file is left beside it.
    EXPECT_EQ(DirEntries(dir.path()), std::vector<std::string>{"config.ini"});
}

TEST(PrivateProfile, WritingCreatesFileSectionAndKey)
{
    TempDir dir;
    const std::wstring ini = dir.wfile("setting.ini");
    ASSERT_TRUE(PrivateProfileWriteString(L"Setting", L"Device", L"TV380", ini));
    ASSERT_TRUE(PrivateProfileWriteString(L"Setting", L"Language", L"Chinese", ini));
    ASSERT_TRUE(PrivateProfileWriteString(L"COM", L"Parity", L"1,ODD,奇", ini));
    EXPECT_EQ(ReadText(dir.file("setting.ini")),
              "[Setting]\nDevice=TV380\nLanguage=Chinese\n\n[COM]\nParity=1,ODD,\xE5\xA5\x87\n");
    EXPECT_EQ(PrivateProfileGetString(L"COM", L"Parity", L"", ini), L"1,ODD,奇");

    // Last line without a line end; a section header as the last line.
    WriteText(dir.file("b.ini"), "[A]\nx=1");
    ASSERT_TRUE(PrivateProfileWriteString(L"A", L"y", L"2", dir.wfile("b.ini")));
    EXPECT_EQ(ReadText(dir.file("b.ini")), "[A]\nx=1\ny=2\n");
    WriteText(dir.file("c.ini"), "[A]");
    ASSERT_TRUE(PrivateProfileWriteString(L"A", L"y", L"2", dir.wfile("c.ini")));
    EXPECT_EQ(ReadText(dir.file("c.ini")), "[A]\ny=2\n");
}

TEST(PrivateProfile, ByteOrderMarksOfBothEncodings)
{
    TempDir dir;
    WriteText(dir.file("bom8.ini"), "\xEF\xBB\xBF[Setting]\nLanguage=Chinese\n");
    EXPECT_EQ(PrivateProfileGetString(L"Setting", L"Language", L"", dir.wfile("bom8.ini")), L"Chinese");

    // A UTF-16LE file with its mark, and a character beyond the 16-bit range
    // in a comment.
    const std::wstring before = L";\U0001F600\r\n[Setting]\r\nDevice=TV380\r\n";
    WriteText(dir.file("wide.ini"), Utf16LE(before));
    const std::wstring ini = dir.wfile("wide.ini");
    EXPECT_EQ(PrivateProfileGetString(L"setting", L"device", L"", ini), L"TV380");
    ASSERT_TRUE(PrivateProfileWriteString(L"Setting", L"Device", L"TV500", ini));
    EXPECT_EQ(ReadText(dir.file("wide.ini")), Utf16LE(L";\U0001F600\r\n[Setting]\r\nDevice=TV500\r\n"));
    EXPECT_EQ(PrivateProfileGetString(L"Setting", L"Device", L"", ini), L"TV500");
}

TEST(PrivateProfile, RefusesWhatWouldBreakTheFile)
{
    TempDir dir;
    WriteText(dir.file("config.ini"), kHandWritten);
    const std::wstring ini = dir.wfile("config.ini");
    EXPECT_FALSE(PrivateProfileWriteString(L"COM", L"COMID", L"3\r\n[Evil]\r\nx=1", ini));
    EXPECT_FALSE(PrivateProfileWriteString(L"COM", L"A=B", L"1", ini));
    EXPECT_FALSE(PrivateProfileWriteString(L"CO]M", L"A", L"1", ini));
    EXPECT_FALSE(PrivateProfileWriteString(L"", L"A", L"1", ini));
    EXPECT_FALSE(PrivateProfileWriteString(L"COM", L"", L"1", ini));
    EXPECT_FALSE(PrivateProfileWriteString(L"COM", L";A", L"1", ini));
    EXPECT_FALSE(PrivateProfileWriteString(L"COM", L"A", std::wstring(L"a\0b", 3), ini));
    EXPECT_EQ(ReadText(dir.file("config.ini")), kHandWritten);

    // A folder that does not exist is not created.
    EXPECT_FALSE(PrivateProfileWriteString(L"S", L"K", L"v", dir.wfile("no/such/dir.ini")));
    EXPECT_FALSE(fs::exists(dir.file("no")));
    // A folder in place of the file is an error, not an empty file.
    fs::create_directory(dir.file("adir.ini"));
    EXPECT_FALSE(PrivateProfileWriteString(L"S", L"K", L"v", dir.wfile("adir.ini")));
    EXPECT_EQ(PrivateProfileGetString(L"S", L"K", L"d", dir.wfile("adir.ini")), L"d");
}

TEST(PrivateProfile, WritesThroughALinkAndKeepsThePermissions)
{
    TempDir dir;
    WriteText(dir.file("real.ini"), "[S]\nK=old\n");
    fs::permissions(dir.file("real.ini"), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::create_symlink("real.ini", dir.file("link.ini"));
    ASSERT_TRUE(PrivateProfileWriteString(L"S", L"K", L"new", dir.wfile("link.ini")));
    EXPECT_TRUE(fs::is_symlink(dir.file("link.ini")));
    EXPECT_EQ(ReadText(dir.file("real.ini")), "[S]\nK=new\n");
    EXPECT_EQ(fs::status(dir.file("real.ini")).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

// Two processes writing keys of one file at once (two flashes on two ports
// share config.ini): neither loses the other's keys.
TEST(PrivateProfile, WritersInTwoProcessesKeepEachOthersKeys)
{
    TempDir dir;
    const std::wstring path = dir.wfile("shared.ini");
    constexpr int kKeys = 60;
    const auto writeAll = [&path](const wchar_t* section) {
        bool ok = true;
        for (int i = 0; i < kKeys; ++i)
            ok = PrivateProfileWriteString(section, L"K" + std::to_wstring(i), std::to_wstring(i), path) && ok;
        return ok;
    };
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) ::_exit(writeAll(L"B") ? 0 : 1);
    EXPECT_TRUE(writeAll(L"A"));
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    for (const wchar_t* section : {L"A", L"B"})
        for (int i = 0; i < kKeys; ++i)
            EXPECT_EQ(PrivateProfileGetInt(section, L"K" + std::to_wstring(i), -1, path), i) << section << i;
}

TEST(ProgramFolder, IsTheFolderOfThisTestProgram)
{
    const std::wstring folder = ProgramFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.back(), L'/');
    const std::wstring exe = ProgramFilePath();
    EXPECT_EQ(exe.compare(0, folder.size(), folder), 0);
    EXPECT_EQ(exe.find(L'/', folder.size()), std::wstring::npos);
    EXPECT_TRUE(fs::exists(wtext::ToUtf8(exe)));

    EXPECT_EQ(JoinPath(L"/a/", L"b.ini"), L"/a/b.ini");
    EXPECT_EQ(JoinPath(L"/a", L"b.ini"), L"/a/b.ini");
    EXPECT_EQ(JoinPath(L"C:\\a\\", L"b.ini"), L"C:\\a\\b.ini");
    EXPECT_EQ(JoinPath(L"", L"b.ini"), L"b.ini");
}
