// How the application reaches the drive: the register link (Modbus, normal
// mode) and the boot link (bootloader command line), the connection
// settings, the two connection flags, and the procedures that open the right
// link at the right port and baud rate and prove that something answers.
//
// Plain C++ with a small seam to the user interface (CLinkPrompts), so the
// procedures run without a display; the application object supplies the
// message boxes, the settings dialog and the status bar.
#pragma once

#include "ConnectionSettings.h"
#include "LinkHealth.h"
#include "ProtocolLink.h"

#include <atomic>
#include <mutex>
#include <string>

// What the connection procedures need from the user interface.
class CLinkPrompts {
public:
    virtual ~CLinkPrompts() = default;
    // A modal message box with an OK button.
    virtual void ShowMessage(const std::wstring& text) = 0;
    // The serial settings dialog; afterwards the settings equal config.ini.
    virtual void EditSerialSettings() = 0;
    // The connection state changed. Also called from the download worker
    // (ConnectNormalFromWorker): the program's answer refreshes the status
    // bar later on the GUI thread.
    virtual void UpdateStatusBar() = 0;
    // A question with Yes and No; true for Yes. Without an answer: No.
    virtual bool AskYesNo(const std::wstring& text)
    {
        (void)text;
        return false;
    }
};

class DeviceConnection {
public:
    static const char* const kRegisterProtocol;  // "RegMaster"
    static const char* const kBootProtocol;      // "BlockPump"
    static const char* const kVersionCommand;    // "VKR PM version\n"
    static const wchar_t* const kConnectFailedText;
    static const wchar_t* const kOpenFailedFormat;  // "COM%s is open failed."
    // The configured port goes to a Modbus TCP gateway, which carries no
    // bootloader traffic: "%s" is the port number, then the port text.
    static const wchar_t* const kNoBootOverGatewayFormat;
    // "COM%s is back. Connect to the drive again?"
    static const wchar_t* const kPortBackFormat;
    // How often the program looks at the register link's port.
    static constexpr int kPortWatchMs = 250;
    // The drive's presence register: writing 1 to it is echoed by a drive.
    static constexpr unsigned short kPresenceRegister = 0x0055;
    static constexpr int kSearchFirstPort = 1;
    static constexpr int kSearchLastPort = 16;

    // The settings live in programFolder + "config.ini". prompts may be null
    // (nothing is shown, the settings dialog only reloads).
    DeviceConnection(std::wstring programFolder, CLinkPrompts* prompts);
    ~DeviceConnection();  // closes both links
    DeviceConnection(const DeviceConnection&) = delete;
    DeviceConnection& operator=(const DeviceConnection&) = delete;

    void SetPrompts(CLinkPrompts* prompts) { prompts_ = prompts; }
    CLinkPrompts* prompts() const { return prompts_; }

    ConnectionSettings& settings() { return settings_; }
    const ConnectionSettings& settings() const { return settings_; }
    void LoadSettings() { settings_.Load(); }
    bool StoreSettings() const { return settings_.Store(); }

    // Register link up and the drive answered the presence test.
    bool ConnectNormal();
    // The normal connection for a worker thread (the end of a firmware
    // download): the same link and presence test as ConnectNormal, with a
    // copy of the settings taken on the GUI thread. It never opens the
    // settings dialog or a message box (an unset port simply fails), never
    // writes config.ini and never changes settings(); the status bar refresh
    // goes through UpdateStatusBar, which the program posts to the GUI thread.
    // Nothing else may use the links meanwhile (the download view keeps the
    // other commands away while its worker runs).
    bool ConnectNormalFromWorker(const ConnectionSettings& snapshot);
    // One presence request to the station of settings() on the register link
    // as it is open, at its settings: no new link, no second try. For the
    // further drives on a line once one of them answered, where a missing
    // station must cost one reply time-out, not a connection attempt. False
    // at once when the register link or its port is not open.
    bool ProbeStation();
    // Boot link up and the bootloader answered (9600 first, then 38400).
    bool ConnectBoot();
    // Connect command: the configured port in both modes, or the search over
    // COM1 to COM16 when no port is configured.
    bool AutoConnect();
    // One bootloader command with up to two tries; reply holds 256 bytes.
    bool SendBootCommand(const char* cmd, unsigned char* reply);
    // Closes both links and clears both flags.
    void Disconnect();
    // Closes both links (the flags stay as they are).
    void CloseLinks();

    // ---- The link's health and its port ----
    // The health every register request of the program feeds (process-wide,
    // as the register master is). Each connection attempt and Disconnect
    // start it anew.
    LinkHealth& health() { return TheLinkHealth(); }
    enum class PortWatch {
        Nothing,
        Lost,  // the normal connection's port vanished: stop what uses the
               // link, then LosePort()
        Back,  // the port lost earlier can be opened again (said once per loss)
    };
    // One look at the port (GUI thread, every kPortWatchMs).
    PortWatch WatchPort();
    // The port vanished: the links are closed, both flags cleared, and the
    // health says "port lost" until the next attempt or Disconnect. Nothing
    // may use the links meanwhile.
    void LosePort();
    // The port number lost and not yet back, 0 for none.
    int LostPort() const { return lostPort_; }
    // The text of the question when the lost port is back.
    std::wstring PortBackText() const;
    // Forgets a lost port (the user declined to reconnect): "DisConn".
    void ForgetLostPort();

    bool normalConnected() const { return normalConnected_.load(); }
    bool bootConnected() const { return bootConnected_.load(); }
    // The bootloader's answer to the version command of the last ConnectBoot.
    const std::string& bootVersion() const { return bootVersion_; }

    ProtocolLink& registerLink() { return registerLink_; }
    ProtocolLink& bootLink() { return bootLink_; }

    // Reply time-out the port search puts into OutTime ("1000"). Tests use a
    // shorter one; the program keeps the default.
    void SetSearchOutTime(const std::wstring& ms) { searchOutTime_ = ms; }
    // Whether a normal connection on a port other than the stored one writes
    // the settings to config.ini (the program does; a caller that overrides
    // the settings for one run only does not).
    void SetStoreOnConnect(bool store) { storeOnConnect_ = store; }

    // False (after showing kNoBootOverGatewayFormat) when the configured port
    // maps to mbtcp://: nothing that needs the bootloader may start, since a
    // drive sent into it could not be reached there.
    bool BootReachable();

    // True when a bare channel can open port `port` right now. A probe: a
    // port that does not open is not reported.
    static bool PortCanOpen(int port);
    // The port number an open link of this connection holds, 0 for none (no
    // probe can open that port while it is held).
    int HeldPort() const;

    // Safe on the GUI thread while a worker connects: the boot baud rate,
    // which a boot connection writes, is read under its lock.
    LinkStatusTexts StatusTexts(int languageIndex = 0) const
    {
        std::lock_guard<std::mutex> lock(bootBaudMu_);
        return MakeLinkStatusTexts(settings_, normalConnected(), bootConnected(), TheLinkHealth().state(),
                                   languageIndex);
    }

private:
    void Message(const std::wstring& text);
    void EditSettings();
    void StatusChanged();
    bool OpenBoot(const wchar_t* baud);
    // Opens the register link with `s` and runs the presence test; sets the
    // normal-connected flag.
    bool OpenRegisterAndTest(const ConnectionSettings& s);
    // One presence request (write 1 to the presence register) to devAddr.
    bool PresenceRequest(const std::wstring& devAddr);

    ConnectionSettings settings_;
    // Guards settings_.bootBaud: ConnectBoot runs on the views' workers too.
    mutable std::mutex bootBaudMu_;
    CLinkPrompts* prompts_;
    ProtocolLink registerLink_{ProtocolLink::Kind::Register};
    ProtocolLink bootLink_{ProtocolLink::Kind::Boot};
    std::atomic<bool> normalConnected_{false};
    std::atomic<bool> bootConnected_{false};
    std::string bootVersion_;
    std::wstring searchOutTime_ = L"1000";
    bool storeOnConnect_ = true;
    int lostPort_ = 0;  // GUI thread
};
