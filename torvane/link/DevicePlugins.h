// The program's access to the two protocol plug-ins' instances (GetModbus,
// GetXModem). Everything that calls into the plug-ins goes through here, so
// that a missing instance (plug-in not loaded, link closed) is one checked
// case instead of a null pointer at every call site.
#pragma once

#include <cstdint>

class LinkHealth;

// One Modbus holding register at a time, as the register master offers it.
// Results as CRegMaster's: true = done; false with *err 0xFF = no reply in
// time; false with another non-zero *err = the device's exception code; a
// write false with *err untouched = the echo differed.
class CRegisterPort {
public:
    virtual ~CRegisterPort() = default;
    // value[0] = low byte, value[1] = high byte on success.
    virtual bool ProcRead(uint8_t station, uint16_t reg, uint8_t* value, uint8_t* err) = 0;
    // value[0] = high byte, value[1] = low byte (wire order).
    virtual bool ProcWrite(uint8_t station, uint16_t reg, uint8_t* value, uint8_t* err) = 0;
    // The health of the link behind this port, which its requests feed;
    // null for a port that reaches no link. A port that passes requests on
    // to another passes this on too.
    virtual LinkHealth* Health() { return nullptr; }
};

// The register master of the open register link. Without an instance every
// call fails as a time-out (err 0xFF) and reaches no drive, so it tells the
// link's health nothing; every other call reports its outcome to
// TheLinkHealth().
CRegisterPort& ModbusPort();

// The bootloader exchanges of the block-transfer protocol, as CBlockPump
// offers them: reply must hold 256 bytes; true = reply bytes arrived (their
// count in *replyLength), false with *err 0xFF = nothing arrived in time.
class CBootPort {
public:
    virtual ~CBootPort() = default;
    // A command line; the reply is gathered after the command gap.
    virtual bool ProcCmd(const char* cmd, int length, unsigned char* reply, unsigned char* replyLength,
                         unsigned char* err) = 0;
    // A command line whose reply comes after a fixed 10-second pause (erase).
    virtual bool ProcCmdLongTime(const char* cmd, int length, unsigned char* reply, unsigned char* replyLength,
                                 unsigned char* err) = 0;
    // One 128-byte block (the first `length` bytes of data, padded with 0x00).
    virtual bool ProcData(const char* data, int length, int blockNumber, unsigned char* reply,
                          unsigned char* replyLength, unsigned char* err) = 0;
};

// The block-transfer protocol of the open boot link. Without an instance
// every call fails as a time-out (err 0xFF).
CBootPort& XModemPort();

namespace plugins {

// The register master instance exists.
bool HaveModbus();
// Sets the register master's reply time-out; false without an instance.
bool SetModbusOutTime(int ms);

// The block-transfer instance exists.
bool HaveXModem();
bool SetXModemOutTime(int ms);
// One bootloader command exchange (ProcCmd); reply must hold 256 bytes.
// Without an instance: false with *err 0xFF.
bool BootCommand(const char* cmd, int length, unsigned char* reply, unsigned char* replyLength,
                 unsigned char* err);

}  // namespace plugins
