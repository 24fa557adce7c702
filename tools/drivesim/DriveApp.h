// The drive's application in normal mode: its holding registers and a small
// motor model behind them. Register semantics only; Modbus framing lives in
// ModbusSlave.h. Not thread-safe: the simulator guards it.
#pragma once

#include "Params.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace drivesim {

// Registers with a fixed meaning.
namespace reg {
constexpr std::uint16_t kPresence = 0x0055;
constexpr std::uint16_t kSeriesFirst = 0x0329;  // 0x0329..0x032D; text in 0x032B..0x032D
constexpr std::uint16_t kSeriesLast = 0x032D;
constexpr std::uint16_t kRunCommand = 9999;
constexpr std::uint16_t kTargetFrequency = 10000;  // 0.01 Hz
constexpr std::uint16_t kStatus = 10099;
constexpr std::uint16_t kOutputFrequency = 10101;  // 0.1 Hz
}  // namespace reg

// Run command codes written to register 9999.
namespace cmd {
constexpr std::uint16_t kForward = 1;
constexpr std::uint16_t kReverse = 2;
constexpr std::uint16_t kStop = 5;
constexpr std::uint16_t kCoastStop = 6;
constexpr std::uint16_t kFaultReset = 7;
}  // namespace cmd

// Modbus exception codes.
namespace exc {
constexpr std::uint8_t kIllegalFunction = 1;
constexpr std::uint8_t kIllegalAddress = 2;
constexpr std::uint8_t kIllegalValue = 3;
}  // namespace exc

struct AppConfig {
    std::vector<ParamDef> params;      // from a workbook or builtinParams()
    std::string series = "TV380";      // up to 6 ASCII characters, registers 0x032B..0x032D
    std::uint16_t seriesInfo0 = 0x0124;  // register 0x0329 (read by the program, not used)
    std::uint16_t seriesInfo1 = 0x0000;  // register 0x032A
    std::uint16_t bootCode = 0;        // boot request code for 0x0605
    std::uint16_t bootKey = 0;         // boot request key for 0x4E1F (written twice)
    std::uint16_t bootCodeRegister = 0x0605;
    std::uint16_t bootKeyRegister = 0x4E1F;
    double rampHzPerSecond = 10.0;     // acceleration and deceleration of the output frequency
    double maxTargetHz = 590.0;        // target frequency register accepts 0..59000
    bool allRegisters = false;         // every other register exists, reads 0, takes any write
};

class DriveApp {
public:
    explicit DriveApp(AppConfig config);

    // Power-up: registers from their defaults, motor stopped, boot request
    // sequence cleared. `now` is in seconds on the simulator's clock.
    void powerUp(double now);

    // Function 03 for one register. 0 or an exception code.
    std::uint8_t read(std::uint16_t r, std::uint16_t* value, double now);
    // Function 06. 0 or an exception code. `*bootRequested` becomes true when
    // this write completed the boot request sequence.
    std::uint8_t write(std::uint16_t r, std::uint16_t value, double now, bool* bootRequested);
    // Whether a register exists (for multi-register reads).
    bool exists(std::uint16_t r) const;

    // Brings the motor model up to `now`.
    void advance(double now);

    void setTrip(bool on, double now);
    void setWarning(bool on) { warning_ = on; }
    bool tripped() const { return tripped_; }

    // Model state, for tests and logs.
    double outputHz() const { return freq_; }  // signed: negative in reverse
    int runState() const;                      // 0 stop, 1 forward, 2 reverse, 3 other
    std::uint16_t statusWord() const;
    double temperature() const { return temperature_; }
    std::string describeRegister(std::uint16_t r) const;
    const AppConfig& config() const { return config_; }

private:
    enum class Kind { Param, Presence, Series, RunCommand, Target, Status, OutFreq, BootCode, BootKey };
    struct Register {
        Kind kind;
        int param = -1;  // index into config_.params
        std::uint16_t value = 0;
    };
    enum class Quantity { Constant, Frequency, Speed, Current, Voltage, DcBus, Temperature, Power, Torque };

    Quantity classify(const ParamDef& p) const;
    double monitorValue(const ParamDef& p, double now) const;
    double loadFraction() const;

    AppConfig config_;
    std::map<std::uint16_t, Register> regs_;
    std::vector<Quantity> quantities_;  // per param

    // Motor model.
    double lastAdvance_ = 0;
    int direction_ = 0;   // commanded: +1 forward, -1 reverse, 0 stop
    double freq_ = 0;     // output frequency, Hz, signed
    double motorHz_ = 0;  // rotor electrical frequency (lags; coasts)
    double accel_ = 0;    // last frequency change rate, Hz/s
    double temperature_ = 30;
    bool tripped_ = false;
    bool warning_ = false;
    std::uint16_t lastCommand_ = 0;
    int bootStage_ = 0;   // 0 idle, 1 code written, 2 key written once
};

}  // namespace drivesim
