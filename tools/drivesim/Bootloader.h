// The drive's bootloader in boot mode: a text command line (prompt
// "RedBoot>", commands "VKR pm ...") and an XMODEM-CRC
// receiver for the load commands. Bytes come in with their
// arrival times; replies go out through the Output list. Not thread-safe:
// the simulator guards it.
#pragma once

#include "Faults.h"
#include "Memory.h"

#include <cstdint>
#include <string>
#include <vector>

namespace drivesim {

struct BootOptions {
    std::string versionText = "VKR bootloader V2.03 (drivesim)";
    double eraseSeconds = 3.0;        // flash_block_erase takes this long before its "OK"
    double blockTimeout = 1.0;        // a block that stops arriving for this long is NAKed
    double xmodemPoll = 1.0;          // send 'C' this often while waiting for the first block (0: never)
    int xmodemPollCount = 10;         // at most this many 'C' per reception
    bool eeLockedAtStart = true;      // EE lock state after each start of the bootloader
};

// What the bootloader wants done after a byte or a tick.
struct BootActions {
    std::vector<std::vector<std::uint8_t>> replies;  // in order
    std::vector<std::string> log;                    // one line per request served
    bool reset = false;                              // "VKR pm reset" was answered: restart the drive
};

class Bootloader {
public:
    Bootloader(Memory& memory, FaultSet& faults, BootOptions options);

    // The bootloader starts (after a reset or a boot request): EE lock as
    // configured, command state, nothing half-received.
    void start(double now);

    void feed(std::uint8_t byte, double t, BootActions* act);
    void tick(double now, BootActions* act);
    // Next time tick() has work (negative: none).
    double nextDeadline() const;
    // True while an erase runs: the bootloader does not read the line then
    // (the simulator keeps the bytes until it is done).
    bool busy(double now) const { return erasing_ && now < eraseDone_; }

    bool eeLocked() const { return eeLocked_; }
    bool receiving() const { return state_ == State::Receive; }
    const BootOptions& options() const { return options_; }
    void setOptions(const BootOptions& o) { options_ = o; }

    // Counters for tests.
    int blocksAcked() const { return blocksAcked_; }
    int blocksNaked() const { return blocksNaked_; }

private:
    enum class State { Command, Receive, StrayBlock };
    enum class Target { Ee, Flash };

    void executeLine(const std::string& line, double now, BootActions* act);
    void reply(BootActions* act, const std::string& text);
    void blockComplete(double now, BootActions* act);
    void endReception(const char* why, BootActions* act);
    void keepModeWordFault();

    Memory& mem_;
    FaultSet& faults_;
    BootOptions options_;

    State state_ = State::Command;
    bool eeLocked_ = true;
    std::string line_;
    bool lineOverflow_ = false;

    // XMODEM reception.
    Target target_ = Target::Ee;
    std::uint32_t base_ = 0;
    std::vector<std::uint8_t> block_;
    double lastByte_ = 0;
    int accepted_ = 0;           // blocks accepted in this reception
    int received_ = 0;           // blocks that arrived whole in this reception
    std::uint8_t lastNumber_ = 0;
    int cancels_ = 0;
    double nextPoll_ = -1;
    int pollsLeft_ = 0;

    // Erase in progress.
    bool erasing_ = false;
    double eraseDone_ = 0;
    int eraseFirst_ = 0, eraseLast_ = 0;

    int blocksAcked_ = 0;
    int blocksNaked_ = 0;
};

}  // namespace drivesim
