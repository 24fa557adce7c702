// Main of every LinkCore test program: runs the tests inside a temporary
// folder so the source and build trees are never written to.
#include "TestUtil.h"
#include "LogBuf.h"

#include <ftw.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace lctest {

namespace {
std::string g_root;
int g_counter = 0;

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*)
{
    ::remove(path);
    return 0;
}

void MakeDirs(const std::string& path)
{
    std::string::size_type pos = 0;
    while ((pos = path.find('/', pos + 1)) != std::string::npos)
        ::mkdir(path.substr(0, pos).c_str(), 0777);
    ::mkdir(path.c_str(), 0777);
}
}  // namespace

const std::string& Root() { return g_root; }

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::string();
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool FileExists(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

long FileSize(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

bool WriteFile(const std::string& path, const std::string& content)
{
    std::string::size_type slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0)
        MakeDirs(path.substr(0, slash));
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        return false;
    out << content;
    return static_cast<bool>(out);
}

void WriteSystemConfig(const std::string& content)
{
    ASSERT_TRUE(WriteFile("../config/SystemConfig.ini", content));
}

bool WaitFor(const std::function<bool()>& pred, int timeoutMs)
{
    long long end = NowMs() + timeoutMs;
    while (true)
    {
        if (pred())
            return true;
        if (NowMs() > end)
            return pred();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void LinkCoreTest::SetUp()
{
    m_dir = g_root + "/" + std::to_string(++g_counter) + "/work";
    MakeDirs(m_dir);
    ASSERT_EQ(::chdir(m_dir.c_str()), 0);
}

void LinkCoreTest::TearDown()
{
    ::chdir(g_root.c_str());
}

}  // namespace lctest

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    const char* tmp = ::getenv("TMPDIR");
    std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/linkcore-test-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (::mkdtemp(buf.data()) == nullptr)
    {
        perror("mkdtemp");
        return 2;
    }
    lctest::g_root = buf.data();
    if (::chdir(lctest::g_root.c_str()) != 0)
        return 2;
    // Run-info lines are not echoed to stderr unless a test asks for it.
    LOG_SetOutput(false, true);

    int rc = RUN_ALL_TESTS();

    LOG_UnInit();
    ::chdir("/");
    const char* keep = ::getenv("LINKCORE_TEST_KEEP");
    if (keep == nullptr || *keep == '\0')
        ::nftw(lctest::g_root.c_str(), lctest::RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
    else
        fprintf(stderr, "test files kept in %s\n", lctest::g_root.c_str());
    return rc;
}
