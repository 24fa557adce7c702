// Configuration functions (both syntaxes), folder
// listing and creation, CDataFile, status code names, channel descriptors.
#include "TestUtil.h"

#include "ChannelSet.h"
#include "CLinkCore.h"
#include "DataFile.h"
#include "WSNConfig.h"

#include <iconv.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>
#include <atomic>
#include <chrono>
#include <thread>
#include <fcntl.h>

using namespace lctest;

namespace {

class ConfigTest : public LinkCoreTest {};

std::string GbkToUtf8(const std::string& gbk)
{
    iconv_t cd = iconv_open("UTF-8", "GBK");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return "<no iconv>";
    std::string out(gbk.size() * 4 + 4, '\0');
    char* in = const_cast<char*>(gbk.data());
    size_t inLeft = gbk.size();
    char* o = &out[0];
    size_t outLeft = out.size();
    iconv(cd, &in, &inLeft, &o, &outLeft);
    iconv_close(cd);
    out.resize(out.size() - outLeft);
    return out;
}

}  // namespace

// --- plain INI ----------------------------------------------------------------

TEST_F(ConfigTest, IniStringMissingFileGivesDefaultAndDiagnostic)
{
    char out[256] = "junk";
    testing::internal::CaptureStderr();
    unsigned int r = WSNGetPrivateProfileString2("VKR_M", "msg_file", "1", out, 256, "../config/SystemConfig.ini");
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(r, 0u);
    EXPECT_STREQ(out, "1");
    EXPECT_NE(err.find("error open Ini config file--../config/SystemConfig.ini"), std::string::npos) << err;
}

TEST_F(ConfigTest, IniStringFoundAndCut)
{
    WriteSystemConfig("[protocolConfig]\nRawLogBufSize=123\n\n[VKR_M]\nmsg_show=0\nmsg_file = 7\nname=abcdefgh\n");
    char out[256];
    EXPECT_EQ(WSNGetPrivateProfileString2("VKR_M", "msg_file", "1", out, 256, "../config/SystemConfig.ini"), 1u);
    EXPECT_STREQ(out, "7");
    EXPECT_EQ(WSNGetPrivateProfileString2("protocolConfig", "RawLogBufSize", "", out, 256, "../config/SystemConfig.ini"), 1u);
    EXPECT_STREQ(out, "123");
    // outSize bounds the copy, terminating zero included.
    EXPECT_EQ(WSNGetPrivateProfileString2("VKR_M", "name", "", out, 4, "../config/SystemConfig.ini"), 1u);
    EXPECT_STREQ(out, "abc");
    // Missing key and missing section keep the default.
    EXPECT_EQ(WSNGetPrivateProfileString2("VKR_M", "nokey", "dflt", out, 256, "../config/SystemConfig.ini"), 0u);
    EXPECT_STREQ(out, "dflt");
    EXPECT_EQ(WSNGetPrivateProfileString2("NoSection", "msg_file", "x", out, 256, "../config/SystemConfig.ini"), 0u);
    EXPECT_STREQ(out, "x");
}

// --- registry export ------------------------------------------------------------

TEST_F(ConfigTest, RegistryExportStringAndDword)
{
    ASSERT_TRUE(WriteFile("reg.ini", "[Settings]\n\"Name\"=\"Drive A\"\n\"Count\"=dword:0000002a\n"));
    char out[64];
    EXPECT_EQ(WSNGetPrivateProfileString("Settings", "Name", "none", out, sizeof out, "reg.ini"), 1u);
    EXPECT_STREQ(out, "Drive A");
    EXPECT_EQ(WSNGetPrivateProfileInt("Settings", "Count", 5, "reg.ini"), 42u);
    EXPECT_EQ(WSNGetPrivateProfileInt2("Settings", "Count", 5, "reg.ini"), 42u);
    // A value written as a quoted string is not an integer.
    EXPECT_EQ(WSNGetPrivateProfileInt("Settings", "Name", 5, "reg.ini"), 5u);
    EXPECT_EQ(WSNGetPrivateProfileInt2("Settings", "Name", 9, "reg.ini"), 9u);
    // Missing section, key and file.
    EXPECT_EQ(WSNGetPrivateProfileInt("Other", "Count", 3, "reg.ini"), 3u);
    EXPECT_EQ(WSNGetPrivateProfileInt2("Other", "Count", 4, "reg.ini"), 4u);
    EXPECT_EQ(WSNGetPrivateProfileInt("Settings", "Nope", -1, "reg.ini"), static_cast<unsigned int>(-1));
    EXPECT_EQ(WSNGetPrivateProfileInt("Settings", "Count", 6, "missing.ini"), 6u);
    EXPECT_EQ(WSNGetPrivateProfileString("Settings", "Count", "d", out, sizeof out, "reg.ini"), 0u);
    EXPECT_STREQ(out, "d");
    EXPECT_EQ(WSNGetPrivateProfileString("Settings", "Name", "d", out, sizeof out, "missing.ini"), 0u);
    EXPECT_STREQ(out, "d");
    // The registry reader does not take plain INI lines as strings.
    ASSERT_TRUE(WriteFile("plain.ini", "[Settings]\nName=Drive A\n"));
    EXPECT_EQ(WSNGetPrivateProfileString("Settings", "Name", "d", out, sizeof out, "plain.ini"), 0u);
}

TEST_F(ConfigTest, RegistryWriteNeedsExistingFileAndRoundTrips)
{
    EXPECT_FALSE(WSNWritePrivateProfileString("COM", "COMID", "3", "absent.ini"));
    EXPECT_FALSE(FileExists("absent.ini"));

    ASSERT_TRUE(WriteFile("w.ini", "[Old]\n\"Keep\"=dword:00000007\n"));
    EXPECT_TRUE(WSNWritePrivateProfileString("COM", "COMID", "3", "w.ini"));
    EXPECT_TRUE(WSNWritePrivateProfileString("COM", "Parity", "2", "w.ini"));
    char out[32];
    EXPECT_EQ(WSNGetPrivateProfileString("COM", "COMID", "", out, sizeof out, "w.ini"), 1u);
    EXPECT_STREQ(out, "3");
    EXPECT_EQ(WSNGetPrivateProfileString("COM", "Parity", "", out, sizeof out, "w.ini"), 1u);
    EXPECT_STREQ(out, "2");
    EXPECT_EQ(WSNGetPrivateProfileInt("Old", "Keep", 0, "w.ini"), 7u);
    std::string text = ReadFile("w.ini");
    EXPECT_NE(text.find("[COM]\n\"COMID\"=\"3\"\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\"Keep\"=dword:00000007"), std::string::npos) << text;
}

// A damaged file with NUL bytes in its lines: the registry-export reader would
// double its line buffer for each such line (gigabytes for a few dozen lines,
// then a crash). It is refused like an unreadable file, for reads and writes,
// and left as it is.
TEST_F(ConfigTest, RegistryFileWithNulBytesIsRefused)
{
    std::string text = "[COM]\n\"COMID\"=\"3\"\n";
    for (int i = 0; i < 40; ++i)
        text += std::string("a\0\n", 3);
    ASSERT_TRUE(WriteFile("nul.ini", text));
    char out[32];
    EXPECT_EQ(WSNGetPrivateProfileString("COM", "COMID", "dflt", out, sizeof out, "nul.ini"), 0u);
    EXPECT_STREQ(out, "dflt");
    EXPECT_EQ(WSNGetPrivateProfileInt("COM", "Count", 9, "nul.ini"), 9u);
    EXPECT_FALSE(WSNWritePrivateProfileString("COM", "COMID", "4", "nul.ini"));
    EXPECT_EQ(ReadFile("nul.ini"), text);
}

// --- folders ---------------------------------------------------------------------

TEST_F(ConfigTest, CreatFilePath)
{
    EXPECT_FALSE(WSNCreatFilePath(""));
    EXPECT_FALSE(WSNCreatFilePath(nullptr));
    EXPECT_TRUE(WSNCreatFilePath("./msg"));
    struct stat st;
    ASSERT_EQ(::stat("./msg", &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_TRUE(WSNCreatFilePath("./msg"));   // already there
    EXPECT_TRUE(WSNCreatFilePath("a/b/c/d"));
    ASSERT_EQ(::stat("a/b/c/d", &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0777u);
    ASSERT_EQ(::stat("a/b", &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0777u);
    EXPECT_TRUE(WSNCreatFilePath("plain"));
    EXPECT_EQ(::stat("plain", &st), 0);
}

TEST_F(ConfigTest, GetFilePath)
{
    int count = 99;
    EXPECT_EQ(WSNGetFilePath("nofolder", nullptr, &count), -1);
    EXPECT_EQ(count, -1);

    ASSERT_TRUE(WSNCreatFilePath("empty"));
    WSN_FILE_ENTRY entries[8];
    EXPECT_EQ(WSNGetFilePath("empty", entries, &count), 0);
    EXPECT_EQ(count, 0);

    ASSERT_TRUE(WriteFile("list/one.txt", "abc"));
    ASSERT_TRUE(WriteFile("list/two.bin", ""));
    ASSERT_TRUE(WSNCreatFilePath("list/sub"));
    long long before = static_cast<long long>(::time(nullptr));
    EXPECT_EQ(WSNGetFilePath("list", entries, &count), 3);
    EXPECT_EQ(count, 3);
    std::set<std::string> names;
    for (int i = 0; i < 3; ++i)
    {
        names.insert(entries[i].szName);
        EXPECT_EQ(entries[i].nTimesValid, 1);
        EXPECT_LE(entries[i].llModified, before + 5);
        EXPECT_GE(entries[i].llModified, before - 60);
        if (std::string(entries[i].szName) == "one.txt")
        {
            EXPECT_EQ(entries[i].nSize, 3);
        }
        if (std::string(entries[i].szName) == "two.bin")
        {
            EXPECT_EQ(entries[i].nSize, 0);
        }
    }
    EXPECT_EQ(names, (std::set<std::string>{"one.txt", "two.bin", "sub"}));
    // A trailing "/" is accepted; null entries only count.
    EXPECT_EQ(WSNGetFilePath("list/", nullptr, &count), 3);
}

// A named pipe in the folder is listed without being opened: opening it
// would wait for a writer that never comes.
TEST_F(ConfigTest, GetFilePathDoesNotOpenEntries)
{
    ASSERT_TRUE(WriteFile("pipes/data.txt", "12345"));
    ASSERT_EQ(::mkfifo("pipes/fifo", 0600), 0);
    std::atomic<int> result{-2};
    WSN_FILE_ENTRY entries[4];
    int count = 0;
    std::thread lister([&] { result = WSNGetFilePath("pipes", entries, &count); });
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (result == -2 && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const bool blocked = result == -2;
    if (blocked)
    {
        // Release the reader so the test can end.
        int fd = ::open("pipes/fifo", O_WRONLY | O_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
    }
    lister.join();
    ASSERT_FALSE(blocked) << "the listing opened the named pipe";
    EXPECT_EQ(result.load(), 2);
    for (int i = 0; i < 2; ++i)
    {
        if (std::string(entries[i].szName) == "data.txt")
            EXPECT_EQ(entries[i].nSize, 5);
        if (std::string(entries[i].szName) == "fifo")
            EXPECT_EQ(entries[i].nSize, 0);
    }
}

// --- CDataFile ---------------------------------------------------------------------

TEST_F(ConfigTest, DataFileCreatesMissingFolder)
{
    CDataFile f;
    EXPECT_EQ(f.GetFrameLen(), 10000);
    EXPECT_FALSE(FileExists("./msg"));
    EXPECT_EQ(f.CreateDataFile("./msg/data_1.txt"), 0);
    EXPECT_TRUE(FileExists("./msg/data_1.txt"));
    EXPECT_STREQ(f.GetFileName(), "./msg/data_1.txt");
    EXPECT_EQ(f.GetFileLength(), 0);
}

TEST_F(ConfigTest, DataFileOpenFailsInMissingFolder)
{
    CDataFile f;
    testing::internal::CaptureStderr();
    EXPECT_EQ(f.OpenDataFile("nofolder/x.dat"), -1);
    EXPECT_FALSE(f.IsFileExit("nofolder/x.dat"));
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("connect"), std::string::npos) << err;
    EXPECT_NE(err.find("nofolder/x.dat"), std::string::npos) << err;
    EXPECT_NE(err.find("get_info"), std::string::npos) << err;
    EXPECT_EQ(f.GetFileLength(), -1);
    char buf[4];
    testing::internal::CaptureStderr();
    EXPECT_FALSE(f.SaveData(4u, buf));
    EXPECT_FALSE(f.LoadData(0, 4, buf));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(f.DeleteDataFile("nofolder/x.dat"), -1);
}

TEST_F(ConfigTest, DataFileReadWriteAppendSubpackets)
{
    CDataFile f;
    ASSERT_EQ(f.CreateDataFile("d/file.dat"), 0);
    EXPECT_TRUE(f.SaveData(5u, const_cast<char*>("hello")));
    EXPECT_TRUE(f.SaveData(0u, 2u, const_cast<char*>("HE")));      // positioned write
    EXPECT_TRUE(f.SaveData(3u, const_cast<char*>("abc")));         // still appends
    EXPECT_EQ(f.GetFileLength(), 8);
    EXPECT_EQ(ReadFile("d/file.dat"), std::string("HEllo") + "abc");

    char buf[16] = {};
    EXPECT_TRUE(f.LoadData(2, 3, buf));
    EXPECT_EQ(std::string(buf, 3), "llo");
    testing::internal::CaptureStderr();
    EXPECT_FALSE(f.LoadData(6, 5, buf));    // only 2 bytes there
    EXPECT_NE(testing::internal::GetCapturedStderr().find("recv"), std::string::npos);

    f.SetFrameLen(4);
    EXPECT_EQ(f.GetFrameLen(), 4);
    EXPECT_TRUE(f.SaveSubpacketData(2, const_cast<char*>("WXYZ")));   // bytes 8..11
    EXPECT_TRUE(f.SaveRemainderData(3, 2, const_cast<char*>("12")));  // bytes 12..13
    EXPECT_EQ(ReadFile("d/file.dat"), "HElloabcWXYZ12");
    memset(buf, 0, sizeof buf);
    EXPECT_TRUE(f.LoadSubpacketData(1, buf));
    EXPECT_EQ(std::string(buf, 4), "oabc");
    EXPECT_TRUE(f.LoadRemainderData(3, 2, buf));
    EXPECT_EQ(std::string(buf, 2), "12");
    memset(buf, 0, sizeof buf);
    EXPECT_TRUE(f.LoadPieceData(1, buf));                             // frame length - 1 - 1 = 2 bytes at 1
    EXPECT_EQ(std::string(buf), "El");
    EXPECT_TRUE(f.Rename("a", "b"));

    EXPECT_TRUE(f.IsFileExit("d/file.dat"));
    EXPECT_EQ(f.DeleteDataFile("d/file.dat"), 0);
    EXPECT_FALSE(FileExists("d/file.dat"));
    f.CloseDataFile();
}

// --- status names --------------------------------------------------------------------

TEST_F(ConfigTest, StatusCodeNames)
{
    char out[64];
    EXPECT_TRUE(GetErrorCodeName(4313, out));
    EXPECT_STREQ(out, "COMM_BUSY");
    EXPECT_TRUE(GetErrorCodeName(100, out));
    EXPECT_STREQ(out, "COMM_INIT");
    EXPECT_TRUE(GetErrorCodeName(-1, out));
    EXPECT_STREQ(out, "COMM_ERROR");
    EXPECT_FALSE(GetErrorCodeName(102, out));
    EXPECT_FALSE(GetErrorDescName(102, out));

    const int codes[] = {-1, 100, 101, 103, 105, 106, 107, 108, 109, 1000, 1001, 2000, 200, 201, 4301,
                         4302, 4303, 4307, 4308, 4309, 4310, 4311, 4312, 4313, 4314, 4315, 4317, 4318, 4319};
    EXPECT_EQ(sizeof codes / sizeof codes[0], 29u);
    std::set<std::string> names;
    for (int code : codes)
    {
        ASSERT_TRUE(GetErrorCodeName(code, out)) << code;
        EXPECT_EQ(std::string(out).rfind("COMM_", 0), 0u);
        names.insert(out);
        ASSERT_TRUE(GetErrorDescName(code, out)) << code;
    }
    EXPECT_EQ(names.size(), 29u);
    EXPECT_EQ(COMM_INIT, 100);
}

TEST_F(ConfigTest, StatusDescriptionsAreGbk)
{
    char out[64];
    ASSERT_TRUE(GetErrorDescName(100, out));
    EXPECT_STREQ(out, "\xCD\xA8\xB5\xC0\xB3\xF5\xCA\xBC\xBB\xAF");
    EXPECT_EQ(GbkToUtf8(out), "通道初始化");
    ASSERT_TRUE(GetErrorDescName(4313, out));
    EXPECT_EQ(GbkToUtf8(out), "Modem 占线");
    ASSERT_TRUE(GetErrorDescName(4319, out));
    EXPECT_EQ(GbkToUtf8(out), "正在连接");
    ASSERT_TRUE(GetErrorDescName(1000, out));
    EXPECT_EQ(GbkToUtf8(out), "没有处于工作状态的通道");
}

// --- descriptors ------------------------------------------------------------------------

TEST_F(ConfigTest, ComSetDefaultsAndCopies)
{
    CCOMSet set;
    EXPECT_EQ(set.m_nKind, 21);
    EXPECT_EQ(set.m_cfg.wPortNo, 0);
    EXPECT_EQ(set.m_cfg.nBaudRate, 9600);
    EXPECT_EQ(set.m_cfg.wParity, 0);
    EXPECT_EQ(set.m_cfg.byDataBits, 8);
    EXPECT_EQ(set.m_cfg.byStopBits, 1);
    EXPECT_EQ(set.m_cfg.nUnused1, 1);
    EXPECT_EQ(set.m_cfg.wUnused2, 4096);
    EXPECT_EQ(set.m_cfg.wUnused3, 4096);
    EXPECT_EQ(set.m_cfg.nUnused4, 5000);
    EXPECT_EQ(set.GetComSet(), &set);
    set.m_cfg.wPortNo = 4;
    set.m_cfg.nBaudRate = 38400;
    CComSetBase* copy = set.NewObject();
    ASSERT_NE(copy, nullptr);
    CCOMSet* c = dynamic_cast<CCOMSet*>(copy);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->m_cfg.wPortNo, 4);
    EXPECT_EQ(c->m_cfg.nBaudRate, 38400);
    delete copy;

    CModemClientSet modem(set.m_cfg, nullptr);
    EXPECT_EQ(modem.m_nKind, 32);
    EXPECT_STREQ(modem.m_szNumber, "");
    CComSetBase* mcopy = modem.NewObject();
    EXPECT_NE(dynamic_cast<CModemClientSet*>(mcopy), nullptr);
    delete mcopy;
    EXPECT_EQ(CModemSvrSet(set.m_cfg).m_nKind, 31);
    CCOMSet k(set.m_cfg, 7);
    EXPECT_EQ(k.m_nKind, 7);
    k = k;
    EXPECT_EQ(k.m_cfg.wPortNo, 4);
}

TEST_F(ConfigTest, OtherSettingsKinds)
{
    CTcpClientSet client(502, const_cast<char*>("10.0.0.1"));
    EXPECT_EQ(client.m_nKind, 2);
    EXPECT_STREQ(client.m_szAddress, "10.0.0.1");
    unsigned int entries[3] = {7, 8, 9};
    CTcpSvrSet server(503, nullptr, entries, 3);
    EXPECT_EQ(server.m_nKind, 1);
    EXPECT_STREQ(server.m_szAddress, "");
    EXPECT_EQ(server.m_dwCount, 3u);
    EXPECT_EQ(server.m_dwEntries[2], 9u);
    CUDPSet a(600, 5, "second", "first");
    EXPECT_STREQ(a.m_szFirstAddress, "first");
    EXPECT_STREQ(a.m_szSecondAddress, "second");
    EXPECT_EQ(a.m_dwPort, 600u);
    EXPECT_EQ(a.m_dwPort2, 600u);
    CUDPMIXSet mix(a, CUDPSet(601, 6, nullptr, nullptr));
    EXPECT_EQ(mix.m_nKind, 18);
    CComSetBase* copy = mix.NewObject();
    CUDPMIXSet* m = dynamic_cast<CUDPMIXSet*>(copy);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->m_second.m_dwPort, 601u);
    delete copy;
}

TEST_F(ConfigTest, ChannelInfoAndGroups)
{
    CChannelInfo none(nullptr, 3);
    EXPECT_EQ(none.GetChannType(), -1);
    EXPECT_EQ(none.GetComSet(), nullptr);

    CCOMSet com;
    CTcpSvrSet svr(1, nullptr, nullptr, 0);
    CChannelInfo chans[3] = {CChannelInfo(&com, 1), CChannelInfo(&com, 2), CChannelInfo(&com, 3)};
    EXPECT_EQ(chans[0].GetChannType(), 21);
    EXPECT_NE(chans[0].GetComSet(), &com);   // an own copy

    CChannGroupInfo group(chans, 3, 77, 2, nullptr, nullptr);
    EXPECT_EQ(group.GetCapacity(), 3);
    EXPECT_EQ(group.GetCount(), 3);
    EXPECT_EQ(group.m_wGroupId, 77);
    EXPECT_EQ(group.m_dwWork[0], 257u);
    EXPECT_EQ(group.m_dwWork[1], 10000u);
    EXPECT_EQ(group.m_dwWork[2], 1u);
    EXPECT_EQ(group.m_dwWork[3], 3u);
    EXPECT_STREQ(group.GetName(), "");
    EXPECT_EQ(group.GetChannInfo(2)->m_wId, 2);
    EXPECT_EQ(group.GetChannInfo(9), nullptr);
    EXPECT_NE(group.GetComSet(3), nullptr);
    EXPECT_EQ(group.GetComSet(9), nullptr);
    EXPECT_FALSE(group.IsServer());

    CChannWorkType work;
    work.dwValue1 = 1;
    CChannGroupInfo full(chans, 3, 1, 4, &work, "grp");
    EXPECT_EQ(full.m_dwWork[0], 1u);
    EXPECT_STREQ(full.GetName(), "grp");
    EXPECT_TRUE(full.AddChannel(CChannelInfo(&svr, 4)));
    EXPECT_EQ(full.GetCapacity(), 4);
    EXPECT_EQ(full.GetCount(), 4);
    EXPECT_TRUE(full.IsServer());
    EXPECT_TRUE(full.AddChannel(CChannelInfo(&com, 5)));
    EXPECT_EQ(full.GetCapacity(), 5);
    EXPECT_EQ(full.GetCount(), 5);
    EXPECT_EQ(full.GetChannInfo(1)->GetChannType(), 21);

    CChannGroupInfo copy(full);
    EXPECT_EQ(copy.GetCount(), 5);
    EXPECT_NE(copy.GetChannInfo(4)->GetComSet(), full.GetChannInfo(4)->GetComSet());
    full.RemoveAllChannel();
    EXPECT_EQ(full.GetCount(), 0);
    EXPECT_EQ(full.GetCapacity(), 5);
    EXPECT_EQ(copy.GetCount(), 5);

    CChannelInfo* dup = chans[1].NewObject();
    EXPECT_EQ(dup->m_wId, 2);
    CComSetBase* s = dup->NewComSet();
    EXPECT_EQ(s->m_nKind, 21);
    delete s;
    delete dup;
}

// --- the program folder the build lays out ---------------------------------------

// Run from the program folder, LinkCore finds its system configuration at the
// documented defaults (traffic not echoed) and its log folders.
TEST_F(ConfigTest, ProgramFolderHasTheSystemConfigurationAndLogFolders)
{
    ASSERT_EQ(::chdir(TORVANE_PROGRAM_DIR), 0);
    struct Expect { const char* section; const char* key; const char* value; };
    const Expect expected[] = {
        {"protocolConfig", "RawLogBufSize", "2000000"},
        {"protocolConfig", "MsgLogBufSize", "100000000"},
        {"VKR_M", "msg_show", "0"},
        {"VKR_M", "msg_file", "1"},
    };
    testing::internal::CaptureStderr();
    for (const Expect& e : expected)
    {
        char out[256];
        EXPECT_EQ(WSNGetPrivateProfileString2(e.section, e.key, "missing", out, sizeof out, LINKCORE_SYSTEM_CONFIG),
                  1u) << e.key;
        EXPECT_STREQ(out, e.value) << e.key;
    }
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "");
    struct stat st;
    for (const char* folder : {LINKCORE_RUNINFO_FOLDER, LINKCORE_TRACE_FOLDER})
        EXPECT_TRUE(::stat(folder, &st) == 0 && S_ISDIR(st.st_mode)) << folder;
    ASSERT_EQ(::chdir(m_dir.c_str()), 0);
}
