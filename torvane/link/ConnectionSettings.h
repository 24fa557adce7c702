// The serial connection settings of the application and their home, section
// "COM" of "config.ini" in the program folder.
//
// All values are kept as the text the user typed or the file held; they are
// turned into numbers (decimal, a text that is no number gives 0) only where
// they are used. The folder is given at construction so that the program uses
// its own folder and the tests a temporary one.
#pragma once

#include "LinkHealth.h"

#include <string>

struct ComCfgStruct;

class ConnectionSettings {
public:
    // Defaults of a config.ini without these keys.
    static const wchar_t* const kDefaultCOMID;     // "-1": not configured
    static const wchar_t* const kDefaultBautRate;  // "9600"
    static const wchar_t* const kDefaultDevAddr;   // "1"
    static const wchar_t* const kDefaultDataBit;   // "8"
    static const wchar_t* const kDefaultParity;    // "2,EVEN,偶"
    static const wchar_t* const kDefaultOutTime;   // "1000"
    static const wchar_t* const kDefaultCmdBay;    // "200"
    static const wchar_t* const kFastLink;         // "FastLink": "1" turns it on
    static const wchar_t* const kAutoReconnect;    // "AutoReconnect": "1" turns it on
    static const wchar_t* const kSection;          // "COM"
    static const wchar_t* const kFileName;         // "config.ini"

    // programFolder ends in a separator, or is empty for the working directory.
    explicit ConnectionSettings(std::wstring programFolder);

    // Reads the seven keys (defaults for missing ones). Keys the download
    // keeps in the same section ("Download", ...) are not touched.
    void Load();
    // Writes the seven keys in the order COMID, bautRate, DataBit, Parity,
    // devAddr, OutTime, CmdBay, then "FastLink" when it has a value (a file
    // that never had the key keeps none). False when the file could not be
    // written.
    bool Store() const;

    // The COMID as the file holds it now (default "-1").
    std::wstring StoredCOMID() const;

    const std::wstring& programFolder() const { return folder_; }
    std::wstring ConfigPath() const;  // programFolder + "config.ini"

    // True when COMID is "-1" or empty.
    bool PortUnset() const;

    // Numbers as the connection uses them (a text that is no number gives 0).
    int PortNumber() const;
    int BaudRate() const;
    int DataBits() const;
    int ParityNumber() const;     // the first character of Parity
    int ReplyTimeout() const;     // OutTime
    int Station() const;          // devAddr, untruncated
    // The links' receive threads wait for the port to become readable
    // instead of sleeping between reads ("FastLink" = 1): a register reply or
    // a block's ACK is taken as soon as it is in; the boot link still gathers
    // a command reply whole.
    bool FastLinkOn() const;
    // A register link whose port vanished is connected again by itself, with
    // the same settings, when the port comes back ("AutoReconnect" = 1).
    // Off by default: the program then asks first, so that a different
    // drive plugged in meanwhile is not taken for the old one unasked.
    bool AutoReconnectOn() const;

    // Register link settings: port, baud rate, data bits and parity from the
    // settings; everything else the channel's default record.
    void FillRegisterLink(ComCfgStruct& cfg) const;
    // Boot link settings: port, boot baud, 8 data bits, even parity, the
    // fast receive as the register link.
    void FillBootLink(ComCfgStruct& cfg) const;

    std::wstring COMID;
    std::wstring bautRate;
    std::wstring devAddr;
    std::wstring DataBit;
    std::wstring Parity;
    std::wstring OutTime;
    std::wstring CmdBay;
    std::wstring FastLink;   // empty: the key is absent (off)
    std::wstring AutoReconnect;  // empty: the key is absent (off)
    std::wstring bootBaud;   // not stored: the rate the boot link was opened with

private:
    std::wstring folder_;
};

// Status bar texts of the connection (panes 1 to 4 of the main window).
struct LinkStatusTexts {
    std::wstring mode;      // "Noraml", "Boot" or empty
    std::wstring link;      // "Connect", "Not answering", "Port lost" or "DisConn"
    std::wstring port;      // "COM3,9600,8,2,EVEN"
    std::wstring station;   // "Station:1"
};
// The link pane says how the drive answers: "Connect" while it does, "Not
// answering" while a normal connection's drive is silent, "Port lost" once
// the port vanished (until the next connection or Disconnect), else
// "DisConn"; in Chinese for language index 1.
LinkStatusTexts MakeLinkStatusTexts(const ConnectionSettings& s, bool normalConnected, bool bootConnected,
                                    LinkHealth::State health = LinkHealth::State::Answering,
                                    int languageIndex = 0);
