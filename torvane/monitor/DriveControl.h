// The drive control panel's registers: run commands (register 9999), the
// target frequency (10000, in 0.01 Hz), and the status the panel shows
// (10099: warning, fault and run state; 10101: output frequency in 0.1 Hz).
// Plain C++ over the register port, so the monitor's sampling thread, its
// GUI thread and the tests use the same code.
#pragma once

#include "DevicePlugins.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>

namespace drivecontrol {

constexpr uint16_t kRunCommandRegister = 9999;
constexpr uint16_t kTargetRegister = 10000;
constexpr uint16_t kStatusRegister = 10099;
constexpr uint16_t kOutputFrequencyRegister = 10101;

// Forward, reverse, stop, coast to stop, fault reset.
constexpr int kCommandCount = 5;
// The code written to register 9999 for a command index (0..4); 0 outside.
uint16_t CommandCode(int commandIndex);

constexpr double kMaxTargetHz = 590.0;
// The target frequency as the register takes it: hundredths of a hertz,
// rounded to the nearest one (50.07 Hz -> 5007), clamped to 0..59000.
uint16_t TargetWord(double hz);

// Run state of the status register: 0 stop, 1 forward running, 2 reverse
// running, 3 anything else (also before the first status read).
const wchar_t* StatusText(int runState);

// What the panel shows of the drive. Written by whichever thread reads the
// status, shown by the GUI thread: every field is a word of its own.
struct DriveStatus {
    std::atomic<bool> warning{false};
    std::atomic<bool> fault{false};
    std::atomic<int> runState{3};
    std::atomic<double> outputHz{0.0};

    // Takes the low byte of a status word: bit 0 warning, bit 1 fault,
    // bits 2-3 run state.
    void ApplyStatusWord(uint16_t word);
    // Back to what nothing read says: no lamps, run state 3, 0 Hz.
    void Forget();
};

// A drive command as the user gave it: the register and the word, captured
// when the button was pressed (never looked up again when it is served).
struct Command {
    uint16_t reg = 0;   // kRunCommandRegister or kTargetRegister
    uint16_t word = 0;  // the command's code, or the target in 0.01 Hz
    bool IsRun() const { return reg == kRunCommandRegister; }
};
Command RunCommand(int commandIndex);  // word 0 for an index outside 0..4
Command TargetCommand(double hz);

// Commands handed to the thread that talks to the drive, served in the order
// given. Every run command is kept (a stop is never dropped); a target
// replaces one still waiting, in its place, since only the latest target is
// the user's. Any thread may post and take.
class CommandQueue {
public:
    void Post(const Command& command);
    bool Take(Command* command);
    size_t Pending() const;
    // The first waiting command, without taking it (reg 0 when none).
    Command Front() const;

private:
    mutable std::mutex mu_;
    std::deque<Command> queue_;
};

// The messages of a failed write.
const wchar_t* RunCommandFailedText();     // "Inverter start and stop control failed."
const wchar_t* TargetFailedText();         // "Inverter target operating frequency setting failed."

// One write of a command's code to register 9999; *err as the port reports.
bool WriteRunCommand(CRegisterPort& port, uint8_t station, int commandIndex, uint8_t* err);
// One write of a captured command.
bool WriteCommand(CRegisterPort& port, uint8_t station, const Command& command, uint8_t* err);
// One write of TargetWord(hz) to register 10000.
bool WriteTarget(CRegisterPort& port, uint8_t station, double hz, uint8_t* err);
// Reads 10099 and 10101 once each; a read that fails leaves its part of the
// status as it was. True when both reads succeeded.
bool ReadStatus(CRegisterPort& port, uint8_t station, DriveStatus& status);

}  // namespace drivecontrol
