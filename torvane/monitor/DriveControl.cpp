#include "DriveControl.h"

#include <cmath>

namespace drivecontrol {

namespace {
constexpr uint16_t kCodes[kCommandCount] = {1, 2, 5, 6, 7};

bool WriteWord(CRegisterPort& port, uint8_t station, uint16_t reg, uint16_t word, uint8_t* err)
{
    uint8_t buf[2] = {static_cast<uint8_t>(word >> 8), static_cast<uint8_t>(word & 0xFF)};
    *err = 0;
    return port.ProcWrite(station, reg, buf, err);
}

bool ReadWord(CRegisterPort& port, uint8_t station, uint16_t reg, uint16_t* word)
{
    uint8_t buf[2] = {0, 0};
    uint8_t err = 0;
    if (!port.ProcRead(station, reg, buf, &err)) return false;
    *word = static_cast<uint16_t>(buf[0] | (buf[1] << 8));
    return true;
}
}  // namespace

uint16_t CommandCode(int commandIndex)
{
    return commandIndex >= 0 && commandIndex < kCommandCount ? kCodes[commandIndex] : 0;
}

uint16_t TargetWord(double hz)
{
    // Rounded, not cut: 50.07 * 100 is 5006.999... in binary, and the drive
    // must run at the frequency the user typed.
    if (!(hz > 0)) return 0;
    const double hundredths = std::round(hz * 100.0);
    if (hundredths >= kMaxTargetHz * 100.0) return static_cast<uint16_t>(kMaxTargetHz * 100.0);
    return static_cast<uint16_t>(hundredths);
}

const wchar_t* StatusText(int runState)
{
    switch (runState) {
    case 0: return L"Stop";
    case 1: return L"Forward running";
    case 2: return L"Reverse running";
    default: return L"-";
    }
}

void DriveStatus::ApplyStatusWord(uint16_t word)
{
    warning = (word & 0x01) != 0;
    fault = (word & 0x02) != 0;
    runState = (word >> 2) & 0x03;
}

void DriveStatus::Forget()
{
    warning = false;
    fault = false;
    runState = 3;
    outputHz = 0.0;
}

Command RunCommand(int commandIndex)
{
    return Command{kRunCommandRegister, CommandCode(commandIndex)};
}

Command TargetCommand(double hz)
{
    return Command{kTargetRegister, TargetWord(hz)};
}

void CommandQueue::Post(const Command& command)
{
    std::lock_guard<std::mutex> g(mu_);
    if (!command.IsRun())
        for (Command& waiting : queue_)
            if (waiting.reg == command.reg) {
                waiting = command;
                return;
            }
    queue_.push_back(command);
}

bool CommandQueue::Take(Command* command)
{
    std::lock_guard<std::mutex> g(mu_);
    if (queue_.empty()) return false;
    *command = queue_.front();
    queue_.pop_front();
    return true;
}

size_t CommandQueue::Pending() const
{
    std::lock_guard<std::mutex> g(mu_);
    return queue_.size();
}

Command CommandQueue::Front() const
{
    std::lock_guard<std::mutex> g(mu_);
    return queue_.empty() ? Command{} : queue_.front();
}

bool WriteCommand(CRegisterPort& port, uint8_t station, const Command& command, uint8_t* err)
{
    if (command.reg == 0 || (command.IsRun() && command.word == 0)) {
        *err = 0;
        return false;
    }
    return WriteWord(port, station, command.reg, command.word, err);
}

const wchar_t* RunCommandFailedText() { return L"Inverter start and stop control failed."; }
const wchar_t* TargetFailedText() { return L"Inverter target operating frequency setting failed."; }

bool WriteRunCommand(CRegisterPort& port, uint8_t station, int commandIndex, uint8_t* err)
{
    const uint16_t code = CommandCode(commandIndex);
    if (code == 0) {
        *err = 0;
        return false;
    }
    return WriteWord(port, station, kRunCommandRegister, code, err);
}

bool WriteTarget(CRegisterPort& port, uint8_t station, double hz, uint8_t* err)
{
    return WriteWord(port, station, kTargetRegister, TargetWord(hz), err);
}

bool ReadStatus(CRegisterPort& port, uint8_t station, DriveStatus& status)
{
    uint16_t word = 0;
    bool ok = true;
    if (ReadWord(port, station, kStatusRegister, &word))
        status.ApplyStatusWord(word);
    else
        ok = false;
    if (ReadWord(port, station, kOutputFrequencyRegister, &word))
        status.outputHz = word * 0.1;
    else
        ok = false;
    return ok;
}

}  // namespace drivecontrol
