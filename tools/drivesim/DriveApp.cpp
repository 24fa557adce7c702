#include "DriveApp.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

namespace drivesim {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kRatedCurrentDefault = 10.0;  // A
constexpr double kRatedVoltage = 380.0;        // V at base frequency
constexpr double kBaseHz = 50.0;
constexpr double kAmbient = 30.0;  // degrees C

std::string lower(const std::string& s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool has(const std::string& hay, const char* needle) { return hay.find(needle) != std::string::npos; }

// Smooth, deterministic wobble in [-1, 1] so that charts show life without
// random jumps.
double wobble(double t, double seed) {
    return 0.6 * std::sin(2 * kPi * 0.23 * t + seed) + 0.4 * std::sin(2 * kPi * 1.7 * t + 2.1 * seed);
}

}  // namespace

DriveApp::DriveApp(AppConfig config) : config_(std::move(config)) {
    quantities_.reserve(config_.params.size());
    for (std::size_t i = 0; i < config_.params.size(); ++i) {
        const ParamDef& p = config_.params[i];
        quantities_.push_back(classify(p));
        regs_[p.reg] = Register{Kind::Param, static_cast<int>(i), 0};
    }
    // Registers with a fixed meaning take precedence over workbook records.
    regs_[reg::kPresence] = Register{Kind::Presence, -1, 0};
    for (std::uint16_t r = reg::kSeriesFirst; r <= reg::kSeriesLast; ++r)
        regs_[r] = Register{Kind::Series, -1, 0};
    regs_[reg::kRunCommand] = Register{Kind::RunCommand, -1, 0};
    regs_[reg::kTargetFrequency] = Register{Kind::Target, -1, 0};
    regs_[reg::kStatus] = Register{Kind::Status, -1, 0};
    regs_[reg::kOutputFrequency] = Register{Kind::OutFreq, -1, 0};
    regs_[config_.bootCodeRegister] = Register{Kind::BootCode, -1, 0};
    regs_[config_.bootKeyRegister] = Register{Kind::BootKey, -1, 0};
    powerUp(0);
}

void DriveApp::powerUp(double now) {
    for (auto& kv : regs_) {
        Register& r = kv.second;
        r.value = 0;
        if (r.kind == Kind::Param) {
            const ParamDef& p = config_.params[r.param];
            if (!p.noDefault) r.value = p.toRaw(p.defaultValue);
        }
    }
    // Series: 0x0329, 0x032A informational; 0x032B..0x032D the text, low byte first.
    regs_[reg::kSeriesFirst].value = config_.seriesInfo0;
    regs_[reg::kSeriesFirst + 1].value = config_.seriesInfo1;
    std::string s = config_.series.substr(0, 6);
    s.resize(6, '\0');
    for (int i = 0; i < 3; ++i) {
        auto lo = static_cast<unsigned char>(s[2 * i]);
        auto hi = static_cast<unsigned char>(s[2 * i + 1]);
        regs_[static_cast<std::uint16_t>(reg::kSeriesFirst + 2 + i)].value =
            static_cast<std::uint16_t>(lo | (hi << 8));
    }
    lastAdvance_ = now;
    direction_ = 0;
    freq_ = 0;
    motorHz_ = 0;
    accel_ = 0;
    lastCommand_ = 0;
    bootStage_ = 0;
    // Keep the heatsink temperature: a quick restart does not cool the drive.
    if (temperature_ < kAmbient) temperature_ = kAmbient;
}

bool DriveApp::exists(std::uint16_t r) const {
    return config_.allRegisters || regs_.count(r) != 0;
}

DriveApp::Quantity DriveApp::classify(const ParamDef& p) const {
    if (!p.isMonitor()) return Quantity::Constant;
    std::string n = lower(p.name);
    std::string u = lower(p.unit);
    if (has(n, "bus") || has(n, "dc ")) return Quantity::DcBus;
    if (has(n, "temp") || has(u, "\xe2\x84\x83") || has(u, "\xc2\xb0") || u == "c") return Quantity::Temperature;
    if (has(n, "torque")) return Quantity::Torque;
    if (has(n, "power") || u == "kw" || u == "w") return Quantity::Power;
    if (has(n, "speed") || u == "rpm" || u == "r/min") return Quantity::Speed;
    if (has(n, "current") || u == "a") return Quantity::Current;
    if (has(n, "volt") || u == "v") return Quantity::Voltage;
    if (has(n, "freq") || u == "hz") return Quantity::Frequency;
    if (u == "%") return Quantity::Torque;
    return Quantity::Constant;
}

double DriveApp::loadFraction() const {
    double f = std::fabs(freq_);
    if (f < 0.05) return 0;
    return std::min(1.2, 0.3 + 0.5 * f / kBaseHz + 0.2 * std::fabs(accel_) / std::max(0.1, config_.rampHzPerSecond));
}

void DriveApp::advance(double now) {
    double dt = now - lastAdvance_;
    if (dt <= 0) return;
    // Steps of at most 50 ms; a long idle time is taken in at most 4000 steps.
    int steps = static_cast<int>(std::ceil(dt / 0.05));
    steps = std::min(std::max(steps, 1), 4000);
    double h = dt / steps;
    double target = regs_[reg::kTargetFrequency].value * 0.01;
    for (int i = 0; i < steps; ++i) {
        double before = freq_;
        if (tripped_) {
            freq_ = 0;
            direction_ = 0;
        } else {
            double desired = direction_ * target;
            double stepMax = config_.rampHzPerSecond * h;
            freq_ += std::max(-stepMax, std::min(stepMax, desired - freq_));
            if (std::fabs(freq_ - desired) < 1e-9) freq_ = desired;
        }
        accel_ = (freq_ - before) / h;
        if (std::fabs(freq_) > 0.01)
            motorHz_ += (freq_ - motorHz_) * (1 - std::exp(-h / 0.3));
        else
            motorHz_ *= std::exp(-h / 4.0);  // output off: the motor coasts down
        if (std::fabs(motorHz_) < 0.01) motorHz_ = 0;
        double steady = kAmbient + 45.0 * loadFraction();
        temperature_ += (steady - temperature_) * (1 - std::exp(-h / 40.0));
    }
    lastAdvance_ = now;
}

void DriveApp::setTrip(bool on, double now) {
    advance(now);
    tripped_ = on;
    if (on) {
        direction_ = 0;
        freq_ = 0;
    }
}

int DriveApp::runState() const {
    if (tripped_) return 3;
    if (direction_ > 0) return 1;
    if (direction_ < 0) return 2;
    return std::fabs(freq_) >= 0.05 ? 3 : 0;  // still ramping down after a stop (10101 not yet 0)
}

std::uint16_t DriveApp::statusWord() const {
    std::uint16_t w = 0;
    if (warning_ || temperature_ > 85.0) w |= 0x01;
    if (tripped_) w |= 0x02;
    w |= static_cast<std::uint16_t>((runState() & 3) << 2);
    return w;
}

double DriveApp::monitorValue(const ParamDef& p, double now) const {
    const std::size_t idx = static_cast<std::size_t>(&p - config_.params.data());
    const Quantity q = quantities_[idx];
    const double seed = static_cast<double>(p.reg % 97);
    const double f = std::fabs(freq_);
    const double load = loadFraction();
    const bool driving = f > 0.01;
    double rated = kRatedCurrentDefault;
    double current = driving ? rated * (0.3 + 0.45 * f / kBaseHz + 0.25 * std::fabs(accel_) /
                                                                   std::max(0.1, config_.rampHzPerSecond)) *
                                   (1 + 0.02 * wobble(now, seed))
                             : 0.0;
    double volts = driving ? kRatedVoltage * std::min(1.0, f / kBaseHz) * (1 + 0.005 * wobble(now, seed)) : 0.0;
    switch (q) {
    case Quantity::Frequency:
        if (has(lower(p.name), "set") || has(lower(p.name), "target") || has(lower(p.name), "ref"))
            return regs_.at(reg::kTargetFrequency).value * 0.01;
        return f;
    case Quantity::Speed:
        return std::fabs(motorHz_) * 30.0 * (1 - 0.03 * load);  // 4-pole motor, some slip
    case Quantity::Current:
        return current;
    case Quantity::Voltage:
        return volts;
    case Quantity::DcBus:
        return kRatedVoltage * std::sqrt(2.0) + 3.0 * wobble(now, seed) - 12.0 * load +
               (accel_ < -0.01 ? 25.0 : 0.0);  // regeneration while decelerating
    case Quantity::Temperature:
        return temperature_ + 0.2 * wobble(now, seed);
    case Quantity::Power:
        return std::sqrt(3.0) * volts * current * 0.85 / 1000.0;
    case Quantity::Torque: {
        double t = driving ? 100.0 * current / rated : 0.0;
        return freq_ < 0 && p.isSigned() ? -t : t;
    }
    case Quantity::Constant:
    default:
        return p.noDefault ? 0.0 : p.defaultValue;
    }
}

std::uint8_t DriveApp::read(std::uint16_t r, std::uint16_t* value, double now) {
    advance(now);
    auto it = regs_.find(r);
    if (it == regs_.end()) {
        if (!config_.allRegisters) return exc::kIllegalAddress;
        *value = 0;
        return 0;
    }
    Register& reg = it->second;
    switch (reg.kind) {
    case Kind::Param: {
        const ParamDef& p = config_.params[reg.param];
        if (p.isMonitor()) {
            double v = monitorValue(p, now);
            if (!p.noMin) v = std::max(v, p.minValue);
            if (!p.noMax) v = std::min(v, p.maxValue);
            *value = p.toRaw(v);
        } else {
            *value = reg.value;
        }
        return 0;
    }
    case Kind::RunCommand:
        *value = lastCommand_;
        return 0;
    case Kind::Status:
        *value = statusWord();
        return 0;
    case Kind::OutFreq:
        *value = static_cast<std::uint16_t>(std::lround(std::fabs(freq_) * 10.0));
        return 0;
    case Kind::BootCode:
    case Kind::BootKey:
        *value = 0;  // access values are not given back
        return 0;
    default:
        *value = reg.value;
        return 0;
    }
}

std::uint8_t DriveApp::write(std::uint16_t r, std::uint16_t value, double now, bool* bootRequested) {
    advance(now);
    *bootRequested = false;
    auto it = regs_.find(r);
    if (it == regs_.end()) {
        if (!config_.allRegisters) return exc::kIllegalAddress;
        regs_[r] = Register{Kind::Presence, -1, value};  // a free register from now on
        return 0;
    }
    Register& reg = it->second;
    switch (reg.kind) {
    case Kind::Param: {
        const ParamDef& p = config_.params[reg.param];
        if (p.isReadOnly()) return exc::kIllegalAddress;
        if (!p.inRange(value)) return exc::kIllegalValue;
        reg.value = value;
        return 0;
    }
    case Kind::Presence:
        reg.value = value;
        return 0;
    case Kind::Series:
    case Kind::Status:
    case Kind::OutFreq:
        return exc::kIllegalAddress;
    case Kind::RunCommand:
        switch (value) {
        case cmd::kForward:
            if (!tripped_) direction_ = 1;
            break;
        case cmd::kReverse:
            if (!tripped_) direction_ = -1;
            break;
        case cmd::kStop:
            direction_ = 0;
            break;
        case cmd::kCoastStop:
            direction_ = 0;
            freq_ = 0;  // output off at once; the motor coasts
            break;
        case cmd::kFaultReset:
            tripped_ = false;
            break;
        default:
            return exc::kIllegalValue;
        }
        lastCommand_ = value;
        return 0;
    case Kind::Target:
        if (value > static_cast<std::uint16_t>(std::lround(config_.maxTargetHz * 100))) return exc::kIllegalValue;
        reg.value = value;
        return 0;
    case Kind::BootCode:
        bootStage_ = (value == config_.bootCode) ? 1 : 0;
        return 0;
    case Kind::BootKey:
        if (value != config_.bootKey) {
            bootStage_ = 0;
        } else if (bootStage_ == 1) {
            bootStage_ = 2;
        } else if (bootStage_ == 2) {
            bootStage_ = 0;
            *bootRequested = true;
        }
        return 0;
    }
    return exc::kIllegalAddress;
}

std::string DriveApp::describeRegister(std::uint16_t r) const {
    auto it = regs_.find(r);
    if (it == regs_.end()) return "unknown";
    switch (it->second.kind) {
    case Kind::Param: {
        const ParamDef& p = config_.params[it->second.param];
        return "P" + p.pnu + " " + p.name;
    }
    case Kind::Presence: return "presence";
    case Kind::Series: return "series";
    case Kind::RunCommand: return "run command";
    case Kind::Target: return "target frequency";
    case Kind::Status: return "status";
    case Kind::OutFreq: return "output frequency";
    case Kind::BootCode: return "boot request code";
    case Kind::BootKey: return "boot request key";
    }
    return "?";
}

}  // namespace drivesim
