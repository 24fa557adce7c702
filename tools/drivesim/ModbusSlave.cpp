#include "ModbusSlave.h"

#include "Crc.h"

#include <cstdio>

namespace drivesim {

std::vector<std::uint8_t> withModbusCrc(std::vector<std::uint8_t> frame) {
    std::uint16_t crc = crc16Modbus(frame.data(), frame.size());
    frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<std::uint8_t>(crc >> 8));
    return frame;
}

bool modbusCrcOk(const std::uint8_t* frame, std::size_t length) {
    if (length < 4) return false;
    std::uint16_t crc = crc16Modbus(frame, length - 2);
    return frame[length - 2] == (crc & 0xFF) && frame[length - 1] == (crc >> 8);
}

namespace {

std::string hex(const std::vector<std::uint8_t>& b) {
    std::string s;
    char buf[4];
    for (std::size_t i = 0; i < b.size(); ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", b[i]);
        s += buf;
    }
    return s;
}

std::uint16_t be16(const std::vector<std::uint8_t>& f, std::size_t at) {
    return static_cast<std::uint16_t>((f[at] << 8) | f[at + 1]);
}

}  // namespace

int ModbusSlave::expectedLength() const {
    if (buf_.size() < 2) return 0;
    switch (buf_[1]) {
    case 1: case 2: case 3: case 4: case 5: case 6:
        return 8;
    case 7: case 11: case 12: case 17:
        return 4;
    case 15: case 16:
        return buf_.size() < 7 ? 0 : 9 + buf_[6];
    case 22:
        return 10;
    case 23:
        return buf_.size() < 11 ? 0 : 13 + buf_[10];
    default:
        return -1;
    }
}

void ModbusSlave::reset() {
    buf_.clear();
    discarding_ = false;
}

void ModbusSlave::feed(std::uint8_t byte, double t, std::vector<ModbusExchange>* out,
                       std::vector<std::string>* notes) {
    if (!buf_.empty() && t - lastByte_ > silence_) tick(t, out, notes);
    if (discarding_ && t - lastByte_ > silence_) discarding_ = false;
    lastByte_ = t;
    if (discarding_) return;
    buf_.push_back(byte);
    tryFrames(t, out, notes);
}

void ModbusSlave::tryFrames(double t, std::vector<ModbusExchange>* out, std::vector<std::string>* notes) {
    for (;;) {
        int n = expectedLength();
        if (n <= 0 || buf_.size() < static_cast<std::size_t>(n)) return;
        if (!modbusCrcOk(buf_.data(), static_cast<std::size_t>(n))) {
            if (notes) notes->push_back("bad CRC, frame dropped: " + hex(buf_));
            buf_.clear();
            discarding_ = true;  // the rest of this burst belongs to the bad frame
            return;
        }
        std::vector<std::uint8_t> frame(buf_.begin(), buf_.begin() + n);
        buf_.erase(buf_.begin(), buf_.begin() + n);
        out->push_back(handle(frame, t));
    }
}

void ModbusSlave::tick(double now, std::vector<ModbusExchange>* out, std::vector<std::string>* notes) {
    if (buf_.empty() || now - lastByte_ <= silence_) return;
    if (expectedLength() < 0 && modbusCrcOk(buf_.data(), buf_.size())) {
        std::vector<std::uint8_t> frame;
        frame.swap(buf_);
        out->push_back(handle(frame, now));
        return;
    }
    if (notes) notes->push_back("incomplete frame dropped after silence: " + hex(buf_));
    buf_.clear();
    discarding_ = false;
}

double ModbusSlave::nextDeadline() const {
    if (buf_.empty()) return -1;
    return lastByte_ + silence_ + 0.0005;
}

ModbusExchange ModbusSlave::handle(const std::vector<std::uint8_t>& frame, double now) {
    ModbusExchange ex;
    ex.request = frame;
    const std::uint8_t station = frame[0];
    const std::uint8_t function = frame[1];
    const bool broadcast = station == 0;
    ex.forUs = broadcast || station == station_;
    char line[256];
    if (!ex.forUs) {
        std::snprintf(line, sizeof line, "station %u, not ours: %s", station, hex(frame).c_str());
        ex.text = line;
        return ex;
    }
    auto exception = [&](std::uint8_t code, const char* what) {
        ex.exception = code;
        if (!broadcast)
            ex.reply = withModbusCrc({station, static_cast<std::uint8_t>(function | 0x80), code});
        std::snprintf(line, sizeof line, "%s -> exception %02X", what, code);
        ex.text = line;
    };
    FaultSetting forced;
    if (!broadcast && faults_ && faults_->use(FaultKind::Exception, &forced)) {
        char what[64];
        std::snprintf(what, sizeof what, "function %u, fault exception", function);
        exception(static_cast<std::uint8_t>(forced.arg), what);
        return ex;
    }
    if (function == 3 && frame.size() == 8) {
        std::uint16_t start = be16(frame, 2), count = be16(frame, 4);
        char what[96];
        std::snprintf(what, sizeof what, "read 0x%04X (%u) x%u", start, start, count);
        if (count < 1 || count > 125) {
            exception(exc::kIllegalValue, what);
            return ex;
        }
        if (static_cast<unsigned>(start) + count > 0x10000u) {
            exception(exc::kIllegalAddress, what);
            return ex;
        }
        for (unsigned i = 0; i < count; ++i) {
            if (!app_.exists(static_cast<std::uint16_t>(start + i))) {
                exception(exc::kIllegalAddress, what);
                return ex;
            }
        }
        std::vector<std::uint8_t> reply{station, 3, static_cast<std::uint8_t>(count * 2)};
        std::string values;
        for (unsigned i = 0; i < count; ++i) {
            std::uint16_t v = 0;
            std::uint8_t e = app_.read(static_cast<std::uint16_t>(start + i), &v, now);
            if (e) {
                exception(e, what);
                return ex;
            }
            reply.push_back(static_cast<std::uint8_t>(v >> 8));
            reply.push_back(static_cast<std::uint8_t>(v & 0xFF));
            char b[8];
            std::snprintf(b, sizeof b, i ? " %04X" : "%04X", v);
            values += b;
        }
        if (!broadcast) ex.reply = withModbusCrc(reply);
        std::string desc = count == 1 ? " " + app_.describeRegister(start) : std::string();
        ex.text = std::string(what) + desc + " -> " + values;
        return ex;
    }
    if (function == 6 && frame.size() == 8) {
        std::uint16_t r = be16(frame, 2), v = be16(frame, 4);
        char what[96];
        std::snprintf(what, sizeof what, "write 0x%04X (%u) = 0x%04X (%u)", r, r, v, v);
        bool boot = false;
        std::uint8_t e = app_.write(r, v, now, &boot);
        if (e) {
            exception(e, what);
            return ex;
        }
        ex.wrote = true;
        ex.writeRegister = r;
        ex.writeValue = v;
        ex.bootRequested = boot;
        if (!broadcast) ex.reply = frame;  // the echo
        ex.text = std::string(what) + " " + app_.describeRegister(r) + " -> echo" +
                  (boot ? " (boot request complete)" : "");
        return ex;
    }
    char what[64];
    std::snprintf(what, sizeof what, "function %u (%zu bytes)", function, frame.size());
    exception(exc::kIllegalFunction, what);
    return ex;
}

}  // namespace drivesim
