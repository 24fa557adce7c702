// Modbus RTU slave framing and request handling for the drive's normal mode.
// Bytes come in with their arrival times; a frame ends where its length says
// (functions with a known layout) or at a silence of at least 3.5 character
// times. Not thread-safe: the simulator guards it.
#pragma once

#include "DriveApp.h"
#include "Faults.h"

#include <cstdint>
#include <string>
#include <vector>

namespace drivesim {

// One request the slave has dealt with.
struct ModbusExchange {
    std::vector<std::uint8_t> request;  // the whole frame, CRC included
    std::vector<std::uint8_t> reply;    // empty: no reply (other station, broadcast)
    std::string text;                   // one line for the log
    bool forUs = false;                 // addressed to this station (or broadcast)
    std::uint8_t exception = 0;         // exception code sent, 0 for a normal reply
    bool bootRequested = false;         // the write completed the boot request
    std::uint16_t writeRegister = 0;    // function 06: register and value written
    std::uint16_t writeValue = 0;
    bool wrote = false;                 // a function-06 write was executed
};

// Builds "frame + CRC low + CRC high".
std::vector<std::uint8_t> withModbusCrc(std::vector<std::uint8_t> frame);
bool modbusCrcOk(const std::uint8_t* frame, std::size_t length);

class ModbusSlave {
public:
    // `faults` (may be null): the "exception" fault answers every request for
    // this station with its exception code, without executing it.
    ModbusSlave(DriveApp& app, std::uint8_t station, FaultSet* faults = nullptr)
        : app_(app), station_(station), faults_(faults) {}

    void setStation(std::uint8_t s) { station_ = s; }
    std::uint8_t station() const { return station_; }
    // Silence (seconds) that ends a frame: 3.5 characters, at least `floor`.
    void setSilence(double seconds) { silence_ = seconds; }

    // Feeds one received byte; complete frames are handled at once and their
    // exchanges appended to `out`. Discarded bytes are noted in `notes`.
    void feed(std::uint8_t byte, double t, std::vector<ModbusExchange>* out,
              std::vector<std::string>* notes);
    // Ends a frame after silence: call with the current time.
    void tick(double now, std::vector<ModbusExchange>* out, std::vector<std::string>* notes);
    // The time by which tick() next has something to do (or a negative value).
    double nextDeadline() const;
    // Drops whatever is half-received.
    void reset();

    // Handles one complete, CRC-checked frame (public for tests).
    ModbusExchange handle(const std::vector<std::uint8_t>& frame, double now);

private:
    // Length of the frame starting the buffer: >0 known, 0 need more, -1 unknown layout.
    int expectedLength() const;
    void tryFrames(double t, std::vector<ModbusExchange>* out, std::vector<std::string>* notes);

    DriveApp& app_;
    std::uint8_t station_;
    FaultSet* faults_;
    double silence_ = 0.02;
    std::vector<std::uint8_t> buf_;
    double lastByte_ = 0;
    bool discarding_ = false;  // a bad frame: drop bytes until the line is silent
};

}  // namespace drivesim
