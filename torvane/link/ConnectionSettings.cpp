#include "ConnectionSettings.h"

#include "CCOM.h"
#include "ChannelSet.h"
#include "LanguageTables.h"
#include "PrivateProfile.h"
#include "ProgramFolder.h"
#include "WideText.h"

const wchar_t* const ConnectionSettings::kDefaultCOMID = L"-1";
const wchar_t* const ConnectionSettings::kDefaultBautRate = L"9600";
const wchar_t* const ConnectionSettings::kDefaultDevAddr = L"1";
const wchar_t* const ConnectionSettings::kDefaultDataBit = L"8";
const wchar_t* const ConnectionSettings::kDefaultParity = L"2,EVEN,\u5076";
const wchar_t* const ConnectionSettings::kDefaultOutTime = L"1000";
const wchar_t* const ConnectionSettings::kDefaultCmdBay = L"200";
const wchar_t* const ConnectionSettings::kFastLink = L"FastLink";
const wchar_t* const ConnectionSettings::kAutoReconnect = L"AutoReconnect";
const wchar_t* const ConnectionSettings::kSection = L"COM";
const wchar_t* const ConnectionSettings::kFileName = L"config.ini";

namespace {
// The buffer the settings were always read into.
constexpr size_t kValueCapacity = 512;
}

ConnectionSettings::ConnectionSettings(std::wstring programFolder)
    : COMID(kDefaultCOMID),
      bautRate(kDefaultBautRate),
      devAddr(kDefaultDevAddr),
      DataBit(kDefaultDataBit),
      Parity(kDefaultParity),
      OutTime(kDefaultOutTime),
      CmdBay(kDefaultCmdBay),
      folder_(std::move(programFolder))
{
}

std::wstring ConnectionSettings::ConfigPath() const
{
    // The folder carries its separator already; an empty folder means the
    // working directory.
    return folder_ + kFileName;
}

void ConnectionSettings::Load()
{
    const std::wstring path = ConfigPath();
    auto get = [&](const wchar_t* key, const wchar_t* def) {
        return PrivateProfileGetString(kSection, key, def, path, kValueCapacity);
    };
    COMID = get(L"COMID", kDefaultCOMID);
    bautRate = get(L"bautRate", kDefaultBautRate);
    devAddr = get(L"devAddr", kDefaultDevAddr);
    DataBit = get(L"DataBit", kDefaultDataBit);
    Parity = get(L"Parity", kDefaultParity);
    OutTime = get(L"OutTime", kDefaultOutTime);
    CmdBay = get(L"CmdBay", kDefaultCmdBay);
    FastLink = get(kFastLink, L"");
    AutoReconnect = get(kAutoReconnect, L"");
}

bool ConnectionSettings::Store() const
{
    const std::wstring path = ConfigPath();
    bool ok = true;
    ok = PrivateProfileWriteString(kSection, L"COMID", COMID, path) && ok;
    ok = PrivateProfileWriteString(kSection, L"bautRate", bautRate, path) && ok;
    ok = PrivateProfileWriteString(kSection, L"DataBit", DataBit, path) && ok;
    ok = PrivateProfileWriteString(kSection, L"Parity", Parity, path) && ok;
    ok = PrivateProfileWriteString(kSection, L"devAddr", devAddr, path) && ok;
    ok = PrivateProfileWriteString(kSection, L"OutTime", OutTime, path) && ok;
    ok = PrivateProfileWriteString(kSection, L"CmdBay", CmdBay, path) && ok;
    if (!FastLink.empty())
        ok = PrivateProfileWriteString(kSection, kFastLink, FastLink, path) && ok;
    if (!AutoReconnect.empty())
        ok = PrivateProfileWriteString(kSection, kAutoReconnect, AutoReconnect, path) && ok;
    return ok;
}

std::wstring ConnectionSettings::StoredCOMID() const
{
    return PrivateProfileGetString(kSection, L"COMID", kDefaultCOMID, ConfigPath(), kValueCapacity);
}

bool ConnectionSettings::PortUnset() const
{
    return COMID.empty() || COMID == L"-1";
}

int ConnectionSettings::PortNumber() const { return wtext::ParseInt(COMID); }
int ConnectionSettings::BaudRate() const { return wtext::ParseInt(bautRate); }
int ConnectionSettings::DataBits() const { return wtext::ParseInt(DataBit); }
int ConnectionSettings::ReplyTimeout() const { return wtext::ParseInt(OutTime); }
int ConnectionSettings::Station() const { return wtext::ParseInt(devAddr); }

bool ConnectionSettings::FastLinkOn() const { return wtext::ParseInt(FastLink) == 1; }
bool ConnectionSettings::AutoReconnectOn() const { return wtext::ParseInt(AutoReconnect) == 1; }

int ConnectionSettings::ParityNumber() const
{
    return wtext::ParseInt(Parity.substr(0, 1));
}

void ConnectionSettings::FillRegisterLink(ComCfgStruct& cfg) const
{
    cfg.wPortNo = static_cast<uint16_t>(PortNumber());
    cfg.nBaudRate = BaudRate();
    cfg.byDataBits = static_cast<uint8_t>(DataBits());
    cfg.wParity = static_cast<uint16_t>(ParityNumber());
    cfg.byFastRecv = FastLinkOn() ? 1 : 0;
}

void ConnectionSettings::FillBootLink(ComCfgStruct& cfg) const
{
    cfg.wPortNo = static_cast<uint16_t>(PortNumber());
    cfg.nBaudRate = wtext::ParseInt(bootBaud);
    cfg.byDataBits = 8;
    cfg.wParity = 2;
    cfg.byFastRecv = FastLinkOn() ? 1 : 0;
}

LinkStatusTexts MakeLinkStatusTexts(const ConnectionSettings& s, bool normalConnected, bool bootConnected,
                                    LinkHealth::State health, int languageIndex)
{
    LinkStatusTexts t;
    if (normalConnected)
        t.mode = L"Noraml";
    else if (bootConnected)
        t.mode = L"Boot";
    // The boot link's requests do not feed the health: it says "Connect".
    if (normalConnected)
        t.link = PickVariant(LinkHealthText(health), languageIndex);
    else if (bootConnected)
        t.link = PickVariant(LinkHealthText(LinkHealth::State::Answering), languageIndex);
    else if (health == LinkHealth::State::PortLost)
        t.link = PickVariant(LinkHealthText(health), languageIndex);
    else
        t.link = PickVariant(L"DisConn,\u65ad\u5f00", languageIndex);
    std::wstring parity = s.Parity;
    // The last two characters are the Chinese name and the comma before it.
    parity = parity.size() >= 2 ? parity.substr(0, parity.size() - 2) : std::wstring();
    t.port = L"COM" + s.COMID + L"," + (bootConnected ? s.bootBaud : s.bautRate) + L"," + s.DataBit + L"," + parity;
    // Over a network port the line settings are the device server's: the
    // port's text tells more.
    const int port = s.PortUnset() ? 0 : s.PortNumber();
    if (port >= 1 && LinkCorePortKind(port) != LINK_PORT_SERIAL) {
        const std::string where = LinkCoreSerialDevice(port);
        t.port = L"COM" + s.COMID + L"," + std::wstring(where.begin(), where.end());
    }
    t.station = L"Station:" + s.devAddr;
    return t;
}
