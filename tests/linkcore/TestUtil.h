// Shared helpers of the LinkCore tests: a fresh working directory per test
// (with "../config" beside it), file helpers and bounded waits.
#ifndef LINKCORE_TEST_UTIL_H
#define LINKCORE_TEST_UTIL_H

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

namespace lctest {

// The temporary root of this test process (removed at exit).
const std::string& Root();

// Reads a whole file ("" when missing); FileExists; WriteFile creates the
// folders before the last "/".
std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);
bool WriteFile(const std::string& path, const std::string& content);
long FileSize(const std::string& path);

// Writes "../config/SystemConfig.ini" (relative to the working directory).
void WriteSystemConfig(const std::string& content);

// Polls pred every 5 ms until it holds or timeoutMs passed.
bool WaitFor(const std::function<bool()>& pred, int timeoutMs);

inline long long NowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Every LinkCore test runs in its own fresh working directory
// <root>/<n>/work, so that "./msg", "./log" and "../config" are private.
class LinkCoreTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;
    std::string m_dir;   // the working directory of this test
};

}  // namespace lctest

#endif
