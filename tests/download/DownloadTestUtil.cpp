#include "DownloadTestUtil.h"

#include "WideText.h"

#include <zip.h>
#include <zlib.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <sys/wait.h>

namespace dltest {

std::wstring W(const std::string& s) { return wtext::FromUtf8(s); }
std::string N(const std::wstring& s) { return wtext::ToUtf8(s); }

std::string SamplePackagePath() { return std::string(TORVANE_SAMPLE_PROGRAM_DIR) + "Program/ProgramFile.vkr"; }

std::string SampleImage(const std::string& relative)
{
    return std::string(TORVANE_SAMPLEDATA_DIR) + "/images/" + relative;
}

std::string ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool WriteBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

int RunCommand(const std::string& command, std::string* out)
{
    FILE* p = popen(command.c_str(), "r");
    if (!p) return -1;
    std::string text;
    std::array<char, 4096> buffer;
    size_t n;
    while ((n = fread(buffer.data(), 1, buffer.size(), p)) > 0) text.append(buffer.data(), n);
    const int status = pclose(p);
    if (out) *out = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool WriteZip(const std::string& path, const std::vector<ZipEntry>& entries)
{
    zipFile zf = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
    if (!zf) return false;
    bool ok = true;
    for (const ZipEntry& e : entries) {
        zip_fileinfo info{};
        info.tmz_date.tm_year = 2026;
        info.tmz_date.tm_mday = 1;
        unsigned long madeBy = 20;
        if (e.symlink) {
            info.external_fa = 0120777ul << 16;
            madeBy = (3u << 8) | 20u;  // made on Unix: the mode counts
        }
        int rc = zipOpenNewFileInZip4_64(zf, e.name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                                         e.deflate ? Z_DEFLATED : 0, e.deflate ? 9 : 0, 0,
                                         -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY, nullptr, 0, madeBy, 0, 0);
        if (rc == ZIP_OK && !e.data.empty())
            rc = zipWriteInFileInZip(zf, e.data.data(), static_cast<unsigned>(e.data.size()));
        if (rc == ZIP_OK) rc = zipCloseFileInZip(zf);
        ok = ok && rc == ZIP_OK;
    }
    return zipClose(zf, nullptr) == ZIP_OK && ok;
}

void RecordingPrompts::ShowMessage(const std::wstring& text)
{
    std::lock_guard<std::mutex> lock(mu_);
    messages_.push_back(text);
}

bool RecordingPrompts::AskYesNo(const std::wstring& text)
{
    questions.push_back(text);
    return answerYes;
}

void RecordingPrompts::SetCaption(const std::wstring& caption)
{
    {
        std::lock_guard<std::mutex> lock(mu_);
        captions_.push_back(caption);
        events_.push_back(L"caption:" + caption);
    }
    if (onCaption) onCaption(caption);
}

void RecordingPrompts::StepProgress(int n)
{
    std::lock_guard<std::mutex> lock(mu_);
    steps_.push_back(n);
    events_.push_back(L"step:" + std::to_wstring(n));
}

void RecordingPrompts::CloseProgress() { ++closes; }
void RecordingPrompts::RunEnded(bool ok)
{
    ++runEnded;
    succeeded = ok;
}

std::vector<std::wstring> RecordingPrompts::Messages() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return messages_;
}

void RecordingPrompts::Reset()
{
    std::lock_guard<std::mutex> lock(mu_);
    messages_.clear();
    captions_.clear();
    steps_.clear();
    events_.clear();
    questions.clear();
    closes = runEnded = 0;
    succeeded = false;
}

std::vector<std::wstring> RecordingPrompts::Events() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return events_;
}

std::vector<std::wstring> RecordingPrompts::Captions() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return captions_;
}

std::vector<int> RecordingPrompts::Steps() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return steps_;
}

int RecordingPrompts::StepTotal() const
{
    int total = 0;
    for (int n : Steps()) total += n;
    return total;
}

bool HookedBootPort::ProcCmd(const char* cmd, int length, unsigned char* reply, unsigned char* replyLength,
                             unsigned char* err)
{
    ++commands;
    std::string line(cmd, static_cast<size_t>(length));
    if (beforeCommand) beforeCommand(line);
    if (!replaceCommand.empty() && line == replaceCommand) line = withCommand;
    return XModemPort().ProcCmd(line.c_str(), static_cast<int>(line.size()), reply, replyLength, err);
}

bool HookedBootPort::ProcCmdLongTime(const char* cmd, int length, unsigned char* reply, unsigned char* replyLength,
                                     unsigned char* err)
{
    ++commands;
    if (beforeCommand) beforeCommand(std::string(cmd, static_cast<size_t>(length)));
    return XModemPort().ProcCmdLongTime(cmd, length, reply, replyLength, err);
}

bool HookedBootPort::ProcData(const char* data, int length, int blockNumber, unsigned char* reply,
                              unsigned char* replyLength, unsigned char* err)
{
    ++blocks;
    if (beforeBlock) beforeBlock(blockNumber);
    return XModemPort().ProcData(data, length, blockNumber, reply, replyLength, err);
}

}  // namespace dltest
