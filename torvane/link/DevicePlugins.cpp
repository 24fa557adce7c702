#include "DevicePlugins.h"

#include "BlockPump.h"
#include "LinkHealth.h"
#include "RegMaster.h"

namespace {

class ModbusRegisterPort : public CRegisterPort {
public:
    bool ProcRead(uint8_t station, uint16_t reg, uint8_t* value, uint8_t* err) override
    {
        CRegMaster* m = GetModbus();
        if (!m) {
            *err = 0xFF;
            return false;
        }
        const bool ok = m->ProcRead(station, reg, value, err);
        TheLinkHealth().ReportResult(ok, *err);
        return ok;
    }
    bool ProcWrite(uint8_t station, uint16_t reg, uint8_t* value, uint8_t* err) override
    {
        CRegMaster* m = GetModbus();
        if (!m) {
            *err = 0xFF;
            return false;
        }
        const uint8_t before = *err;
        const bool ok = m->ProcWrite(station, reg, value, err);
        // A differing echo leaves the error byte as the caller set it.
        TheLinkHealth().ReportResult(ok, ok || *err != before ? *err : 0);
        return ok;
    }
    LinkHealth* Health() override { return &TheLinkHealth(); }
};

class XModemBootPort : public CBootPort {
public:
    bool ProcCmd(const char* cmd, int length, unsigned char* reply, unsigned char* replyLength,
                 unsigned char* err) override
    {
        CBlockPump* p = GetXModem();
        if (!p) {
            *err = 0xFF;
            return false;
        }
        return p->ProcCmd(cmd, length, reply, replyLength, err);
    }
    bool ProcCmdLongTime(const char* cmd, int length, unsigned char* reply, unsigned char* replyLength,
                         unsigned char* err) override
    {
        CBlockPump* p = GetXModem();
        if (!p) {
            *err = 0xFF;
            return false;
        }
        return p->ProcCmdLongTime(cmd, length, reply, replyLength, err);
    }
    bool ProcData(const char* data, int length, int blockNumber, unsigned char* reply, unsigned char* replyLength,
                  unsigned char* err) override
    {
        CBlockPump* p = GetXModem();
        if (!p) {
            *err = 0xFF;
            return false;
        }
        return p->ProcData(data, length, blockNumber, reply, replyLength, err);
    }
};

}  // namespace

CBootPort& XModemPort()
{
    static XModemBootPort port;
    return port;
}

CRegisterPort& ModbusPort()
{
    static ModbusRegisterPort port;
    return port;
}

namespace plugins {

bool HaveModbus() { return GetModbus() != nullptr; }

bool SetModbusOutTime(int ms)
{
    CRegMaster* m = GetModbus();
    if (!m) return false;
    m->SetOutTime(ms);
    return true;
}

bool HaveXModem() { return GetXModem() != nullptr; }

bool SetXModemOutTime(int ms)
{
    CBlockPump* p = GetXModem();
    if (!p) return false;
    p->SetOutTime(ms);
    return true;
}

bool BootCommand(const char* cmd, int length, unsigned char* reply, unsigned char* replyLength, unsigned char* err)
{
    return XModemPort().ProcCmd(cmd, length, reply, replyLength, err);
}

}  // namespace plugins
