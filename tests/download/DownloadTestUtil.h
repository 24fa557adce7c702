// Shared helpers of the download tests: prompts that record what the
// download sequence shows, zip archives with chosen entries (hostile ones
// included), and the sample package of the program folder.
#pragma once

#include "DownloadSequence.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace dltest {

std::wstring W(const std::string& s);
std::string N(const std::wstring& s);

// The sample package the build placed in the program folder.
std::string SamplePackagePath();
// The unpacked sample images of the build tree ("data/X.bin", ...).
std::string SampleImage(const std::string& relative);

std::string ReadBytes(const std::string& path);
bool WriteBytes(const std::string& path, const std::string& bytes);
// Runs a shell command; its exit status, its standard output in *out.
int RunCommand(const std::string& command, std::string* out = nullptr);

// One entry of a test archive.
struct ZipEntry {
    std::string name;
    std::string data;
    bool symlink = false;  // a Unix symbolic link whose target is `data`
    bool deflate = false;  // deflated at level 9 (stored otherwise)
};
// Writes a plain zip archive with the entries in order.
bool WriteZip(const std::string& path, const std::vector<ZipEntry>& entries);

// Records everything the sequence asks of the view. The answer to the
// question and a hook on every caption (to cancel at a chosen point) are set
// by the test.
class RecordingPrompts : public CDownloadPrompts {
public:
    void ShowMessage(const std::wstring& text) override;
    bool AskYesNo(const std::wstring& text) override;
    void SetCaption(const std::wstring& caption) override;
    void StepProgress(int n) override;
    void CloseProgress() override;
    void RunEnded(bool succeeded) override;

    // Forgets everything recorded (the answer and the hook stay).
    void Reset();
    std::vector<std::wstring> Messages() const;
    // Captions ("caption:...") and steps ("step:n") in the order they came.
    std::vector<std::wstring> Events() const;
    std::vector<std::wstring> Captions() const;
    std::vector<int> Steps() const;
    int StepTotal() const;

    bool answerYes = true;
    std::function<void(const std::wstring& caption)> onCaption;

    std::vector<std::wstring> questions;
    int closes = 0;
    int runEnded = 0;
    bool succeeded = false;

private:
    mutable std::mutex mu_;
    std::vector<std::wstring> messages_;
    std::vector<std::wstring> captions_;
    std::vector<int> steps_;
    std::vector<std::wstring> events_;
};

// The bootloader exchanges of the open boot link, with a hook before each
// (to switch a simulator fault on at a chosen point) and an optional
// replacement of a command line.
class HookedBootPort : public CBootPort {
public:
    bool ProcCmd(const char* cmd, int length, unsigned char* reply, unsigned char* replyLength,
                 unsigned char* err) override;
    bool ProcCmdLongTime(const char* cmd, int length, unsigned char* reply, unsigned char* replyLength,
                         unsigned char* err) override;
    bool ProcData(const char* data, int length, int blockNumber, unsigned char* reply, unsigned char* replyLength,
                  unsigned char* err) override;

    std::function<void(const std::string& command)> beforeCommand;
    std::function<void(int blockNumber)> beforeBlock;
    std::string replaceCommand, withCommand;
    int commands = 0;
    int blocks = 0;
};

}  // namespace dltest
