// Shared helpers of the device-link tests: a private working directory per
// test process, simulated drives on pseudo-terminals mapped to COMn, bare
// ptys that nobody answers, and bounded waits.
#pragma once

#include "DeviceConnection.h"
#include "Simulator.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace linktest {

// The working directory of this test process (fresh, removed at exit); the
// process runs in it, so LinkCore's ./msg and ./log land there.
const std::string& WorkDir();
// The bootloader's flash erase wait, 10 s on a real drive, shortened to
// 1 s for this process and the programs it starts: the simulated drives of
// the tests erase within half a second.
void ShortEraseWait();
// A fresh folder below WorkDir(), ending in "/".
std::string NewFolder(const std::string& name);

std::string ReadFile(const std::string& path);
bool WriteFile(const std::string& path, const std::string& content);

// Maps COM1..COM16 to paths that do not exist, so the real serial ports of
// the machine never take part.
void UnmapAllPorts();
void MapPort(int port, const std::string& path);

// A simulated drive whose pty is COM<port>.
class SimDrive {
public:
    SimDrive(int port, drivesim::SimOptions options);
    ~SimDrive();
    bool ok() const { return ok_; }
    drivesim::Simulator& sim() { return *sim_; }
    const std::string& error() const { return error_; }

private:
    std::unique_ptr<drivesim::Simulator> sim_;
    bool ok_ = false;
    std::string error_;
};

// Options of a drive in normal mode at `baud`, answering every register.
drivesim::SimOptions NormalDrive(int baud = 9600);
// Options of a drive in boot mode with its bootloader at `bootBaud`.
drivesim::SimOptions BootDrive(int bootBaud = 38400);

// A pty that can be opened as COM<port> and that nobody answers.
class SilentPort {
public:
    explicit SilentPort(int port);
    ~SilentPort();

private:
    int master_ = -1;
    int slave_ = -1;
    std::string link_;
};

// Records what the connection procedures show.
class RecordingPrompts : public CLinkPrompts {
public:
    explicit RecordingPrompts(DeviceConnection* link = nullptr) : link_(link) {}
    void ShowMessage(const std::wstring& text) override { messages.push_back(text); }
    void EditSerialSettings() override
    {
        ++settingsDialogs;
        if (link_) link_->LoadSettings();  // as the dialog's Cancel does
    }
    void UpdateStatusBar() override { ++statusUpdates; }
    bool AskYesNo(const std::wstring& text) override
    {
        questions.push_back(text);
        return answerYes;
    }
    void Attach(DeviceConnection* link) { link_ = link; }

    std::vector<std::wstring> messages;
    std::vector<std::wstring> questions;
    bool answerYes = true;
    int settingsDialogs = 0;
    int statusUpdates = 0;

private:
    DeviceConnection* link_;
};

// Polls pred until it holds or timeoutMs passed.
bool WaitFor(const std::function<bool()>& pred, int timeoutMs);

}  // namespace linktest
