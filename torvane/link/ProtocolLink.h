// The application's holder of one protocol link (the register link to the
// drive's Modbus interface, or the boot link to its bootloader): its serial
// settings, its protocol template and its data link.
#pragma once

class CCOMSet;
class CProtocolTemplate;
class CSensorDBLink;

class ProtocolLink {
public:
    enum class Kind { Register, Boot };

    explicit ProtocolLink(Kind kind);
    ~ProtocolLink();  // closes the link
    ProtocolLink(const ProtocolLink&) = delete;
    ProtocolLink& operator=(const ProtocolLink&) = delete;

    // Creates the template and its data link and initialises the template
    // with the settings and the protocol name ("RegMaster", "BlockPump").
    // The boot link reports whether its port opened; the register link
    // always reports true and leaves the judgement to the presence test.
    bool Open(const char* protocolName);
    // Raises the end flag on every template, then takes each down and frees
    // them and the data link. Nothing happens when the link is closed.
    void Close();

    bool IsOpen() const { return templates_ != nullptr; }
    // True when the port of the open link is open.
    bool PortOpen() const;
    // True when the link is open and a channel's device was closed under it
    // (read or write error: the device vanished or the line hung up).
    bool DeviceLost() const;

    CCOMSet& settings() { return *settings_; }
    const CCOMSet& settings() const { return *settings_; }
    Kind kind() const { return kind_; }
    int templateCount() const { return count_; }

private:
    Kind kind_;
    int count_ = 1;
    CCOMSet* settings_;                    // owned
    CProtocolTemplate* templates_ = nullptr;  // owned array of count_, null when closed
    CSensorDBLink* dbLink_ = nullptr;      // owned, null when closed
};
