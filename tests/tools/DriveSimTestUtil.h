// Helpers for the drivesim tests: a serial port on the pty slave side (the
// "PC" of the tests), Modbus and XMODEM frames written here by hand, and
// quick simulator options. Waits are bounded reads, never sleeps used as
// synchronisation.
#pragma once

#include "Crc.h"
#include "Simulator.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace dst {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

inline speed_t speedOf(int baud) {
    switch (baud) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B9600;
    }
}

inline std::string text(const Bytes& b) { return std::string(b.begin(), b.end()); }

inline int msSince(Clock::time_point t0) {
    return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count());
}

// The PC's side of the line.
class PtyPort {
public:
    PtyPort() = default;
    ~PtyPort() { close(); }
    PtyPort(const PtyPort&) = delete;
    PtyPort& operator=(const PtyPort&) = delete;

    bool open(const std::string& path, int baud, char parity = 'E') {
        close();
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0) return false;
        if (!setLine(baud, parity)) return false;
        tcflush(fd_, TCIOFLUSH);
        return true;
    }
    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    int fd() const { return fd_; }

    // As a serial library sets a port: raw, the baud rate, parity bits.
    bool setLine(int baud, char parity) {
        termios t{};
        if (tcgetattr(fd_, &t) != 0) return false;
        cfmakeraw(&t);
        t.c_cflag |= CLOCAL | CREAD;
        t.c_cflag &= ~(PARENB | PARODD | CMSPAR | CSTOPB | CSIZE);
        t.c_cflag |= CS8;
        if (parity != 'N') t.c_cflag |= PARENB;
        if (parity == 'O') t.c_cflag |= PARODD;
        cfsetispeed(&t, speedOf(baud));
        cfsetospeed(&t, speedOf(baud));
        if (tcsetattr(fd_, TCSANOW, &t) == 0) return true;
        // On a pty the kernel drops PARENB, and glibc reports EINVAL when
        // the settings then come out unchanged although they were applied.
        termios now{};
        return errno == EINVAL && tcgetattr(fd_, &now) == 0 && cfgetospeed(&now) == speedOf(baud) &&
               ((now.c_cflag & PARODD) != 0) == (parity == 'O');
    }

    bool write(const Bytes& b) {
        std::size_t done = 0;
        auto t0 = Clock::now();
        while (done < b.size()) {
            ssize_t n = ::write(fd_, b.data() + done, b.size() - done);
            if (n > 0) done += static_cast<std::size_t>(n);
            else if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
            else if (msSince(t0) > 3000) return false;
            else {
                pollfd p{fd_, POLLOUT, 0};
                poll(&p, 1, 50);
            }
        }
        return true;
    }
    bool write(const std::string& s) { return write(Bytes(s.begin(), s.end())); }

    // Reads until `done(buffer)` holds or timeoutMs pass; returns what came.
    Bytes readUntil(const std::function<bool(const Bytes&)>& done, int timeoutMs) {
        Bytes got;
        auto t0 = Clock::now();
        for (;;) {
            if (done(got)) return got;
            int left = timeoutMs - msSince(t0);
            if (left <= 0) return got;
            pollfd p{fd_, POLLIN, 0};
            int r = poll(&p, 1, left);
            if (r <= 0) continue;
            if (p.revents & (POLLHUP | POLLERR)) {
                hungUp_ = true;
                return got;
            }
            std::uint8_t buf[512];
            ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n > 0) got.insert(got.end(), buf, buf + n);
            else if (n < 0 && errno == EIO) {
                hungUp_ = true;
                return got;
            }
        }
    }
    Bytes readN(std::size_t n, int timeoutMs) {
        return readUntil([n](const Bytes& b) { return b.size() >= n; }, timeoutMs);
    }
    // Everything that arrives within ms.
    Bytes readFor(int ms) {
        return readUntil([](const Bytes&) { return false; }, ms);
    }
    std::string readText(const std::string& until, int timeoutMs) {
        return text(readUntil([&](const Bytes& b) { return text(b).find(until) != std::string::npos; }, timeoutMs));
    }
    bool hungUp() const { return hungUp_; }

private:
    int fd_ = -1;
    bool hungUp_ = false;
};

inline Bytes withCrc(Bytes f) {
    std::uint16_t c = drivesim::crc16Modbus(f.data(), f.size());
    f.push_back(static_cast<std::uint8_t>(c & 0xFF));
    f.push_back(static_cast<std::uint8_t>(c >> 8));
    return f;
}

inline Bytes request(std::uint8_t station, std::uint8_t function, std::uint16_t a, std::uint16_t b) {
    return withCrc({station, function, static_cast<std::uint8_t>(a >> 8), static_cast<std::uint8_t>(a & 0xFF),
                    static_cast<std::uint8_t>(b >> 8), static_cast<std::uint8_t>(b & 0xFF)});
}

inline bool crcOk(const Bytes& f) {
    if (f.size() < 4) return false;
    std::uint16_t c = drivesim::crc16Modbus(f.data(), f.size() - 2);
    return f[f.size() - 2] == (c & 0xFF) && f[f.size() - 1] == (c >> 8);
}

// A complete Modbus reply: an exception (5 bytes) or a read reply (n + 5) or
// an echo (8).
inline bool replyComplete(const Bytes& b) {
    if (b.size() < 5) return false;
    if (b[1] & 0x80) return true;
    if (b[1] == 3) return b.size() >= static_cast<std::size_t>(b[2]) + 5;
    return b.size() >= 8;
}

inline Bytes transact(PtyPort& port, const Bytes& req, int timeoutMs = 1000) {
    if (!port.write(req)) return {};
    return port.readUntil(replyComplete, timeoutMs);
}

// Reads one register; -1 on no reply, -(0x100 + code) on an exception.
inline long readReg(PtyPort& port, std::uint16_t reg, std::uint8_t station = 1) {
    Bytes r = transact(port, request(station, 3, reg, 1));
    if (r.size() == 5 && (r[1] & 0x80) && crcOk(r)) return -(0x100 + r[2]);
    if (r.size() != 7 || !crcOk(r)) return -1;
    return (r[3] << 8) | r[4];
}

// Writes one register; 0 when echoed, -1 on no reply, the exception code otherwise.
inline int writeReg(PtyPort& port, std::uint16_t reg, std::uint16_t value, std::uint8_t station = 1) {
    Bytes req = request(station, 6, reg, value);
    Bytes r = transact(port, req);
    if (r.size() == 5 && (r[1] & 0x80) && crcOk(r)) return r[2];
    if (r != req) return -1;
    return 0;
}

// A 133-byte XMODEM-CRC block as it goes on the wire: SOH, number,
// complement, the data padded with 0x00, CRC high, CRC low; the zero-CRC rule
// applied.
inline Bytes block(int number, const Bytes& data, bool corruptCrc = false) {
    Bytes d(data);
    d.resize(128, 0x00);
    std::uint16_t crc = drivesim::crc16Xmodem(d.data(), 128);
    if (crc == 0 && d[127] == 0) {
        d[127] = 0x1A;
        crc = drivesim::crc16Xmodem(d.data(), 128);
    }
    if (corruptCrc) crc ^= 0x0101;
    Bytes f{0x01, static_cast<std::uint8_t>(number & 0xFF), static_cast<std::uint8_t>(~number & 0xFF)};
    f.insert(f.end(), d.begin(), d.end());
    f.push_back(static_cast<std::uint8_t>(crc >> 8));
    f.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    return f;
}

// Sends a block and returns the first ACK (0x06) or NAK (0x15) that comes
// back, 0 when neither comes within timeoutMs.
inline int sendBlock(PtyPort& port, const Bytes& frame, int timeoutMs = 1500) {
    if (!port.write(frame)) return 0;
    Bytes r = port.readUntil(
        [](const Bytes& b) {
            for (auto c : b)
                if (c == 0x06 || c == 0x15) return true;
            return false;
        },
        timeoutMs);
    for (auto c : r)
        if (c == 0x06 || c == 0x15) return c;
    return 0;
}

// A command line and its reply up to the prompt.
inline std::string command(PtyPort& port, const std::string& line, int timeoutMs = 1500) {
    if (!port.write(line)) return {};
    return port.readText("RedBoot>", timeoutMs);
}

// Deterministic test data.
inline Bytes pattern(std::size_t n, std::uint32_t seed) {
    Bytes b(n);
    std::uint32_t x = seed ? seed : 1;
    for (auto& c : b) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<std::uint8_t>(x);
    }
    return b;
}

// Options for fast tests: short boot and erase times, no 'C' polling.
inline drivesim::SimOptions quickOptions() {
    drivesim::SimOptions o;
    o.bootSeconds = 0.05;
    o.boot.eraseSeconds = 0.3;
    o.boot.xmodemPoll = 0;
    o.rampHzPerSecond = 200;
    if (std::getenv("DRIVESIM_TEST_LOG"))
        o.log = [](int, const std::string& l) { std::fprintf(stderr, "sim %s\n", l.c_str()); };
    return o;
}

}  // namespace dst
