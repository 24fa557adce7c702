#include "DeviceConnection.h"

#include "CCOM.h"
#include "ChannelSet.h"
#include "TcpChannel.h"
#include "DevicePlugins.h"
#include "RegisterAccess.h"
#include "WideText.h"

#include <cstring>

const char* const DeviceConnection::kRegisterProtocol = "RegMaster";
const char* const DeviceConnection::kBootProtocol = "BlockPump";
const char* const DeviceConnection::kVersionCommand = "VKR PM version\n";
const wchar_t* const DeviceConnection::kConnectFailedText =
    L"Device has failed to connect, Please check:\n 1. Device connection \n 2. Serial port settings";
const wchar_t* const DeviceConnection::kOpenFailedFormat = L"COM%s is open failed.";
const wchar_t* const DeviceConnection::kNoBootOverGatewayFormat =
    L"COM%s is a Modbus TCP gateway (%s): the bootloader cannot be reached through it. "
    L"Connect the drive through a serial port or a serial device server (tcp://HOST:PORT) to download.";
const wchar_t* const DeviceConnection::kPortBackFormat = L"COM%s is back. Connect to the drive again?";

DeviceConnection::DeviceConnection(std::wstring programFolder, CLinkPrompts* prompts)
    : settings_(std::move(programFolder)), prompts_(prompts)
{
}

DeviceConnection::~DeviceConnection()
{
    CloseLinks();
}

void DeviceConnection::Message(const std::wstring& text)
{
    if (prompts_) prompts_->ShowMessage(text);
}

void DeviceConnection::EditSettings()
{
    if (prompts_)
        prompts_->EditSerialSettings();
    else
        settings_.Load();
}

void DeviceConnection::StatusChanged()
{
    if (prompts_) prompts_->UpdateStatusBar();
}

void DeviceConnection::CloseLinks()
{
    bootLink_.Close();
    registerLink_.Close();
}

void DeviceConnection::Disconnect()
{
    CloseLinks();
    normalConnected_ = false;
    bootConnected_ = false;
    lostPort_ = 0;
    health().Reset();
}

DeviceConnection::PortWatch DeviceConnection::WatchPort()
{
    if (normalConnected_.load() && registerLink_.DeviceLost()) return PortWatch::Lost;
    if (lostPort_ > 0 && !normalConnected_.load() && !bootConnected_.load() && PortCanOpen(lostPort_)) {
        // Said once: the program offers or reconnects, and a refusal stands.
        return PortWatch::Back;
    }
    return PortWatch::Nothing;
}

void DeviceConnection::LosePort()
{
    const int port = registerLink_.settings().m_cfg.wPortNo;
    health().ReportPortLost();
    CloseLinks();
    normalConnected_ = false;
    bootConnected_ = false;
    lostPort_ = port > 0 ? port : settings_.PortNumber();
    StatusChanged();
}

std::wstring DeviceConnection::PortBackText() const
{
    std::wstring text = kPortBackFormat;
    text.replace(text.find(L"%s"), 2, wtext::FormatInt(lostPort_));
    return text;
}

void DeviceConnection::ForgetLostPort()
{
    lostPort_ = 0;
    health().Reset();
    StatusChanged();
}

bool DeviceConnection::PortCanOpen(int port)
{
    CCOMSet set;
    set.m_cfg.wPortNo = static_cast<uint16_t>(port);
    CCOM com;
    com.SetQuiet(true);
    if (!com.InitCOM(&set)) return false;
    com.UninitCOM();
    return true;
}

int DeviceConnection::HeldPort() const
{
    for (const ProtocolLink* link : {&registerLink_, &bootLink_})
        if (link->IsOpen() && link->PortOpen()) return link->settings().m_cfg.wPortNo;
    return 0;
}

bool DeviceConnection::PresenceRequest(const std::wstring& devAddr)
{
    uint8_t value[2] = {0x00, 0x01};
    uint8_t err = 0;
    return ModbusPort().ProcWrite(regaccess::StationOf(devAddr), kPresenceRegister, value, &err);
}

bool DeviceConnection::OpenRegisterAndTest(const ConnectionSettings& s)
{
    // The presence test below is the new link's first word on the health.
    health().Reset();
    s.FillRegisterLink(registerLink_.settings().m_cfg);
    registerLink_.Open(kRegisterProtocol);

    bool connected = false;
    if (plugins::SetModbusOutTime(s.ReplyTimeout())) {
        for (int attempt = 0; attempt < 2 && !connected; ++attempt) connected = PresenceRequest(s.devAddr);
    }
    normalConnected_ = connected;
    return connected;
}

bool DeviceConnection::ProbeStation()
{
    bootConnected_ = false;
    bool answered = false;
    if (registerLink_.IsOpen() && registerLink_.PortOpen() && plugins::HaveModbus()) {
        // Another drive: what its neighbour's requests did says nothing of it.
        health().Reset();
        answered = PresenceRequest(settings_.devAddr);
    }
    normalConnected_ = answered;
    StatusChanged();
    return answered;
}

bool DeviceConnection::ConnectNormal()
{
    CloseLinks();
    if (settings_.PortUnset()) EditSettings();
    normalConnected_ = false;
    bootConnected_ = false;
    lostPort_ = 0;

    const bool connected = OpenRegisterAndTest(settings_);

    if (connected && storeOnConnect_ && settings_.StoredCOMID() != settings_.COMID) settings_.Store();
    StatusChanged();
    return connected;
}

bool DeviceConnection::ConnectNormalFromWorker(const ConnectionSettings& snapshot)
{
    CloseLinks();
    normalConnected_ = false;
    bootConnected_ = false;
    const bool connected = !snapshot.PortUnset() && OpenRegisterAndTest(snapshot);
    StatusChanged();
    return connected;
}

bool DeviceConnection::OpenBoot(const wchar_t* baud)
{
    bootLink_.Close();
    {
        std::lock_guard<std::mutex> lock(bootBaudMu_);
        settings_.bootBaud = baud;
        settings_.FillBootLink(bootLink_.settings().m_cfg);
    }
    return bootLink_.Open(kBootProtocol);
}

bool DeviceConnection::BootReachable()
{
    const int port = settings_.PortNumber();
    if (settings_.PortUnset() || LinkCorePortKind(port) != LINK_PORT_MBTCP) return true;
    std::wstring text = kNoBootOverGatewayFormat;
    text.replace(text.find(L"%s"), 2, settings_.COMID);
    const std::string where = LinkCoreSerialDevice(port);
    text.replace(text.find(L"%s"), 2, std::wstring(where.begin(), where.end()));
    Message(text);
    return false;
}

bool DeviceConnection::ConnectBoot()
{
    CloseLinks();
    if (settings_.PortUnset()) EditSettings();
    normalConnected_ = false;
    bootConnected_ = false;
    lostPort_ = 0;
    health().Reset();
    bootVersion_.clear();
    if (!BootReachable()) {
        StatusChanged();
        return false;
    }

    if (!OpenBoot(L"9600")) {
        std::wstring text = kOpenFailedFormat;
        text.replace(text.find(L"%s"), 2, settings_.COMID);
        // What to do about it (map the port, join the group, free it) goes
        // in the same box; otherwise only standard error would say.
        const std::string why = LinkCoreLastOpenProblem();
        if (!why.empty()) text += L"\n" + wtext::FromUtf8(why);
        Message(text);
        return false;
    }
    if (!plugins::SetXModemOutTime(settings_.ReplyTimeout())) {
        bootLink_.Close();
        return false;
    }
    unsigned char reply[256] = {};
    bool answered = SendBootCommand(kVersionCommand, reply);
    if (!answered) {
        // A newer bootloader listens at 38400 baud only.
        if (!OpenBoot(L"38400")) return false;
        if (!plugins::SetXModemOutTime(settings_.ReplyTimeout())) {
            bootLink_.Close();
            StatusChanged();
            return false;
        }
        answered = SendBootCommand(kVersionCommand, reply);
        if (!answered) {
            bootLink_.Close();
            StatusChanged();
            return false;
        }
    }
    reply[255] = 0;
    bootVersion_.assign(reinterpret_cast<const char*>(reply));
    bootConnected_ = true;
    StatusChanged();
    return true;
}

bool DeviceConnection::SendBootCommand(const char* cmd, unsigned char* reply)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        std::memset(reply, 0, 256);
        unsigned char length = 0;
        unsigned char err = 0;
        if (plugins::BootCommand(cmd, static_cast<int>(std::strlen(cmd)), reply, &length, &err)) return true;
    }
    return false;
}

bool DeviceConnection::AutoConnect()
{
    settings_.Load();
    if (!settings_.PortUnset()) {
        if (ConnectNormal()) return true;
        // A gateway port has no boot mode to fall back on.
        if (LinkCorePortKind(settings_.PortNumber()) != LINK_PORT_MBTCP && ConnectBoot()) return true;
        Message(kConnectFailedText);
        return false;
    }

    settings_.bautRate = L"9600";
    settings_.devAddr = L"1";
    settings_.DataBit = L"8";
    settings_.Parity = ConnectionSettings::kDefaultParity;
    settings_.OutTime = searchOutTime_;
    static const wchar_t* const kBauds[] = {L"9600", L"38400", L"19200"};
    for (int port = kSearchFirstPort; port <= kSearchLastPort; ++port) {
        if (!PortCanOpen(port)) continue;
        settings_.COMID = wtext::FormatInt(port);
        for (const wchar_t* baud : kBauds) {
            settings_.bautRate = baud;
            if (ConnectNormal()) return true;
        }
        settings_.bautRate = L"9600";
        if (ConnectBoot()) return true;
    }
    EditSettings();
    return false;
}
