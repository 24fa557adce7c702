#include "Simulator.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace drivesim {

const char* modeName(Mode m) { return m == Mode::Normal ? "normal" : "boot"; }

std::string LineSettings::describe() const {
    char b[48];
    std::snprintf(b, sizeof b, "%d %d%c%d", baud, dataBits, parity, stopBits);
    return b;
}

double LineSettings::charSeconds() const {
    int bits = 1 + dataBits + (parity == 'N' ? 0 : 1) + stopBits;
    return static_cast<double>(bits) / static_cast<double>(baud > 0 ? baud : 9600);
}

bool parseLineSettings(const std::string& text, LineSettings* out) {
    // Tokens separated by blanks, commas or colons: the baud rate first, then
    // either a compact "8E1" or separate data bits, parity, stop bits.
    std::vector<std::string> tok;
    std::string cur;
    for (char c : text) {
        if (c == ' ' || c == ',' || c == ':' || c == '-') {
            if (!cur.empty()) tok.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.empty()) tok.push_back(cur);
    if (tok.empty()) return false;
    LineSettings s = *out;
    char* end = nullptr;
    long baud = std::strtol(tok[0].c_str(), &end, 10);
    if (*end || baud < 50 || baud > 4000000) return false;
    s.baud = static_cast<int>(baud);
    auto parity = [](char c, char* p) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (c != 'N' && c != 'E' && c != 'O' && c != 'M' && c != 'S') return false;
        *p = c;
        return true;
    };
    std::size_t i = 1;
    if (tok.size() == 2 && tok[1].size() == 3 && std::isdigit(static_cast<unsigned char>(tok[1][0]))) {
        s.dataBits = tok[1][0] - '0';
        if (!parity(tok[1][1], &s.parity)) return false;
        s.stopBits = tok[1][2] - '0';
        i = 2;
    }
    for (; i < tok.size(); ++i) {
        const std::string& t = tok[i];
        if (t.size() == 1 && std::isdigit(static_cast<unsigned char>(t[0]))) {
            int v = t[0] - '0';
            if (v >= 5) s.dataBits = v;
            else s.stopBits = v;
        } else {
            std::string l;
            for (char c : t) l += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (l == "none") s.parity = 'N';
            else if (l == "even") s.parity = 'E';
            else if (l == "odd") s.parity = 'O';
            else if (l == "mark") s.parity = 'M';
            else if (l == "space") s.parity = 'S';
            else if (t.size() != 1 || !parity(t[0], &s.parity)) return false;
        }
    }
    if (s.dataBits < 5 || s.dataBits > 8 || s.stopBits < 1 || s.stopBits > 2) return false;
    *out = s;
    return true;
}

namespace {

int speedToBaud(speed_t s) {
    switch (s) {
    case B50: return 50;
    case B75: return 75;
    case B110: return 110;
    case B134: return 134;
    case B150: return 150;
    case B200: return 200;
    case B300: return 300;
    case B600: return 600;
    case B1200: return 1200;
    case B1800: return 1800;
    case B2400: return 2400;
    case B4800: return 4800;
    case B9600: return 9600;
    case B19200: return 19200;
    case B38400: return 38400;
    case B57600: return 57600;
    case B115200: return 115200;
    case B230400: return 230400;
    case B460800: return 460800;
    case B500000: return 500000;
    case B576000: return 576000;
    case B921600: return 921600;
    case B1000000: return 1000000;
    case B1500000: return 1500000;
    case B2000000: return 2000000;
    default: return -1;
    }
}

speed_t baudToSpeed(int b) {
    switch (b) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    default: return B9600;
    }
}

std::string hexBytes(const std::vector<std::uint8_t>& b, std::size_t max = 48) {
    std::string s;
    char buf[4];
    for (std::size_t i = 0; i < b.size() && i < max; ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", b[i]);
        s += buf;
    }
    if (b.size() > max) s += " ...";
    return s;
}

}  // namespace

Simulator::Simulator(SimOptions options) : options_(std::move(options)), epoch_(Clock::now()) {
    AppConfig app;
    app.params = options_.params.empty() ? builtinParams() : options_.params;
    app.series = options_.series;
    app.allRegisters = options_.allRegisters;
    app.rampHzPerSecond = options_.rampHzPerSecond;
    app.bootCode = options_.bootRequest.code;
    app.bootKey = options_.bootRequest.key;
    app_ = std::make_unique<DriveApp>(std::move(app));
    modbus_ = std::make_unique<ModbusSlave>(*app_, options_.station, &faults_);
    boot_ = std::make_unique<Bootloader>(memory_, faults_, options_.boot);
}

Simulator::~Simulator() { stop(); }

double Simulator::now() const {
    return std::chrono::duration<double>(Clock::now() - epoch_).count();
}

void Simulator::logLocked(int level, const std::string& line) const {
    if (!options_.log) return;
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "[%9.3f] ", now());
    options_.log(level, stamp + line);
}

bool Simulator::start(std::string* error) {
    std::lock_guard<std::mutex> lock(mu_);
    if (running_) return true;
    // Memories: factory state, then the files, then explicit settings.
    memory_.factoryReset("38000075");
    bool eeLoaded = false;
    std::string err;
    if (!options_.eeFile.empty() && access(options_.eeFile.c_str(), F_OK) == 0) {
        if (!memory_.loadEe(options_.eeFile, &err)) {
            if (error) *error = err;
            return false;
        }
        eeLoaded = true;
    }
    if (!options_.flashFile.empty() && access(options_.flashFile.c_str(), F_OK) == 0) {
        if (!memory_.loadFlash(options_.flashFile, &err)) {
            if (error) *error = err;
            return false;
        }
    }
    if (!options_.partNumber.empty()) memory_.setPartNumber(options_.partNumber);
    else if (!eeLoaded) memory_.setPartNumber("38000075");
    for (auto& f : options_.faults) faults_.set(f.first, f.second);
    if (faults_.active(FaultKind::ModeWord0081)) memory_.setModeWord(ee::kModeDownloading);
    if (faults_.active(FaultKind::DriveFault)) app_->setTrip(true, 0);
    if (faults_.active(FaultKind::DriveWarning)) app_->setWarning(true);

    Mode m = options_.startMode ? *options_.startMode : (startsApplicationLocked(nullptr) ? Mode::Normal : Mode::Boot);
    if (pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
        if (error) *error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    mode_ = m;  // the pty's initial settings follow the start mode
    if (!openPtyLocked(error)) {
        close(wake_[0]);
        close(wake_[1]);
        wake_[0] = wake_[1] = -1;
        return false;
    }
    if (!options_.linkPath.empty() && !linkLocked(error)) {
        closePtyLocked();
        close(wake_[0]);
        close(wake_[1]);
        wake_[0] = wake_[1] = -1;
        return false;
    }
    double t = now();
    enterModeLocked(m, t);
    stopping_ = false;
    running_ = true;
    writeReadyFileLocked();
    logLocked(0, "listening on " + slave_ + (options_.linkPath.empty() ? "" : " (link " + options_.linkPath + ")") +
                     ", " + modeName(m) + " mode, station " + std::to_string(options_.station) + ", normal " +
                     options_.normalLine.describe() + ", boot " + options_.bootLine.describe() +
                     ", faults: " + faults_.describe());
    thread_ = std::thread([this] { run(); });
    return true;
}

void Simulator::stop() {
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (!running_) return;
        stopping_ = true;
    }
    wake();
    if (thread_.joinable()) thread_.join();
    std::lock_guard<std::mutex> lock(mu_);
    closePtyLocked();
    if (!options_.linkPath.empty()) {
        char target[4096];
        ssize_t n = readlink(options_.linkPath.c_str(), target, sizeof target - 1);
        if (n >= 0) unlink(options_.linkPath.c_str());
    }
    if (!options_.readyFile.empty()) unlink(options_.readyFile.c_str());
    saveFilesLocked();
    close(wake_[0]);
    close(wake_[1]);
    wake_[0] = wake_[1] = -1;
    running_ = false;
    logLocked(0, "stopped");
}

void Simulator::wake() {
    if (wake_[1] >= 0) {
        char c = 1;
        ssize_t r = write(wake_[1], &c, 1);
        (void)r;
    }
}

bool Simulator::openPtyLocked(std::string* error) {
    int m = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m < 0 || grantpt(m) != 0 || unlockpt(m) != 0) {
        if (error) *error = std::string("cannot open a pseudo-terminal: ") + std::strerror(errno);
        if (m >= 0) close(m);
        return false;
    }
    char name[256];
    if (ptsname_r(m, name, sizeof name) != 0) {
        if (error) *error = std::string("ptsname: ") + std::strerror(errno);
        close(m);
        return false;
    }
    int h = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (h < 0) {
        if (error) *error = std::string("cannot open ") + name + ": " + std::strerror(errno);
        close(m);
        return false;
    }
    // Raw, no echo, at the current mode's settings, so that a user who does
    // not set the line still gets a working 8-bit channel.
    termios t{};
    if (tcgetattr(h, &t) == 0) {
        cfmakeraw(&t);
        t.c_cflag |= CLOCAL | CREAD;
        const LineSettings& ls = lineLocked();
        t.c_cflag &= ~(PARODD | CMSPAR | CSTOPB);
        if (ls.parity == 'O' || ls.parity == 'M') t.c_cflag |= PARODD;
        if (ls.parity == 'M' || ls.parity == 'S') t.c_cflag |= CMSPAR;
        if (ls.parity != 'N') t.c_cflag |= PARENB;
        if (ls.stopBits == 2) t.c_cflag |= CSTOPB;
        cfsetispeed(&t, baudToSpeed(ls.baud));
        cfsetospeed(&t, baudToSpeed(ls.baud));
        tcsetattr(h, TCSANOW, &t);
    }
    master_ = m;
    holder_ = h;
    slave_ = name;
    lineOk_ = true;
    return true;
}

void Simulator::closePtyLocked() {
    if (holder_ >= 0) close(holder_);
    if (master_ >= 0) close(master_);
    holder_ = master_ = -1;
    slave_.clear();
    input_.clear();
    output_.clear();
}

bool Simulator::linkLocked(std::string* error) {
    const std::string& link = options_.linkPath;
    struct stat st{};
    if (lstat(link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        if (error) *error = link + " exists and is not a symbolic link; not replacing it";
        return false;
    }
    std::string tmp = link + ".drivesim-tmp";
    unlink(tmp.c_str());
    if (symlink(slave_.c_str(), tmp.c_str()) != 0 || rename(tmp.c_str(), link.c_str()) != 0) {
        if (error) *error = "cannot create the link " + link + ": " + std::strerror(errno);
        unlink(tmp.c_str());
        return false;
    }
    return true;
}

void Simulator::writeReadyFileLocked() {
    if (options_.readyFile.empty() || slave_.empty()) return;
    std::string tmp = options_.readyFile + ".tmp";
    FILE* f = std::fopen(tmp.c_str(), "w");
    if (!f) return;
    std::fprintf(f, "%s\n", slave_.c_str());
    std::fclose(f);
    std::rename(tmp.c_str(), options_.readyFile.c_str());
}

const LineSettings& Simulator::lineLocked() const {
    return mode_ == Mode::Normal ? options_.normalLine : options_.bootLine;
}

bool Simulator::lineMatchesLocked(std::string* seen) {
    termios t{};
    if (master_ < 0 || tcgetattr(master_, &t) != 0) return true;
    int baud = speedToBaud(cfgetospeed(&t));
    bool odd = (t.c_cflag & PARODD) != 0;
    bool stick = (t.c_cflag & CMSPAR) != 0;
    const char* parity = stick ? (odd ? "mark" : "space") : (odd ? "odd" : "even or none");
    if (seen) *seen = std::to_string(baud) + " baud, parity " + parity;
    if (!options_.checkLine) return true;
    const LineSettings& want = lineLocked();
    bool parityOk;
    switch (want.parity) {
    case 'O': parityOk = odd && !stick; break;
    case 'M': parityOk = odd && stick; break;
    case 'S': parityOk = !odd && stick; break;
    default: parityOk = !odd && !stick; break;  // even and none cannot be told apart on a pty
    }
    return baud == want.baud && parityOk;
}

void Simulator::run() {
    std::vector<pollfd> fds;
    for (;;) {
        int timeoutMs;
        bool wantOut;
        int fd;
        {
            std::lock_guard<std::mutex> lock(mu_);
            if (stopping_) return;
            double t = now();
            double d = nextDeadlineLocked(t);
            double wait = d < 0 ? 0.2 : std::min(0.2, std::max(0.0, d - t));
            timeoutMs = static_cast<int>(std::ceil(wait * 1000.0));
            fd = master_;
            wantOut = false;
            if (fd >= 0 && !output_.empty()) {
                double due = std::max(output_.front().notBefore, options_.pace ? nextOutByte_ : 0.0);
                wantOut = due <= t;
            }
        }
        fds.clear();
        fds.push_back({wake_[0], POLLIN, 0});
        if (fd >= 0) fds.push_back({fd, static_cast<short>(POLLIN | (wantOut ? POLLOUT : 0)), 0});
        int r = poll(fds.data(), fds.size(), timeoutMs);
        if (r < 0 && errno != EINTR) {
            std::lock_guard<std::mutex> lock(mu_);
            logLocked(0, std::string("poll failed: ") + std::strerror(errno));
            return;
        }
        if (fds[0].revents & POLLIN) {
            char buf[64];
            while (read(wake_[0], buf, sizeof buf) > 0) {
            }
        }
        std::lock_guard<std::mutex> lock(mu_);
        if (stopping_) return;
        double t = now();
        if (fds.size() > 1 && fd == master_ && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) readLocked(t);
        if (phase_ == Phase::Restarting && t >= phaseUntil_) enterModeLocked(restartTarget_, t);
        if (phase_ == Phase::Down && phaseUntil_ >= 0 && t >= phaseUntil_) restoreLineLocked(t);
        processInputLocked(t);
        flushOutputLocked(t);
    }
}

double Simulator::nextDeadlineLocked(double t) const {
    double d = -1;
    auto consider = [&](double x) {
        if (x >= 0 && (d < 0 || x < d)) d = x;
    };
    if (phase_ != Phase::Running) consider(phaseUntil_);
    if (!input_.empty()) consider(input_.front().t);
    if (!output_.empty()) consider(std::max(output_.front().notBefore, options_.pace ? nextOutByte_ : 0.0));
    if (phase_ == Phase::Running) {
        if (mode_ == Mode::Normal) consider(modbus_->nextDeadline());
        else consider(boot_->nextDeadline());
    }
    (void)t;
    return d;
}

void Simulator::readLocked(double t) {
    std::uint8_t buf[4096];
    for (;;) {
        ssize_t n = read(master_, buf, sizeof buf);
        if (n <= 0) return;  // EAGAIN, or EIO when no one holds the slave (we do)
        if (phase_ != Phase::Running) {
            stats_.ignoredBytes += n;
            logLocked(1, "ignored " + std::to_string(n) + " byte(s): the drive is restarting");
            continue;
        }
        std::string seen;
        bool ok = lineMatchesLocked(&seen);
        if (ok != lineOk_) {
            lineOk_ = ok;
            logLocked(0, ok ? "line settings match again (" + seen + ")"
                            : "line settings do not match: the pty is at " + seen + ", the drive (" +
                                  modeName(mode_) + " mode) at " + lineLocked().describe() + "; staying silent");
        }
        if (!ok) {
            stats_.ignoredBytes += n;
            logLocked(1, "ignored " + std::to_string(n) + " byte(s) at " + seen);
            continue;
        }
        double cs = lineLocked().charSeconds();
        for (ssize_t i = 0; i < n; ++i) {
            double at = t;
            if (options_.pace) {
                at = std::max(t, lastArrival_) + cs;
                lastArrival_ = at;
            }
            input_.push_back({buf[i], at});
        }
    }
}

void Simulator::processInputLocked(double t) {
    if (phase_ != Phase::Running) {
        input_.clear();
        return;
    }
    if (mode_ == Mode::Normal) {
        std::vector<ModbusExchange> ex;
        std::vector<std::string> notes;
        while (!input_.empty() && input_.front().t <= t && phase_ == Phase::Running && mode_ == Mode::Normal) {
            InByte b = input_.front();
            input_.pop_front();
            modbus_->feed(b.byte, b.t, &ex, &notes);
            if (!ex.empty()) handleModbusLocked(ex, b.t);
        }
        if (phase_ == Phase::Running && mode_ == Mode::Normal) modbus_->tick(t, &ex, &notes);
        if (!ex.empty()) handleModbusLocked(ex, t);
        for (const std::string& n : notes) logLocked(1, "normal: " + n);
    } else {
        BootActions act;
        while (!input_.empty() && input_.front().t <= t && phase_ == Phase::Running && mode_ == Mode::Boot &&
               !boot_->busy(t)) {
            InByte b = input_.front();
            input_.pop_front();
            boot_->feed(b.byte, b.t, &act);
            if (!act.replies.empty() || act.reset || !act.log.empty()) {
                handleBootLocked(act, b.t);
                act = BootActions();
            }
        }
        if (phase_ == Phase::Running && mode_ == Mode::Boot) {
            boot_->tick(t, &act);
            handleBootLocked(act, t);
        }
    }
    if (phase_ != Phase::Running) input_.clear();
}

void Simulator::handleModbusLocked(std::vector<ModbusExchange>& exchanges, double t) {
    for (ModbusExchange& e : exchanges) {
        if (phase_ != Phase::Running) break;
        if (e.forUs) ++stats_.requests;
        if (e.wrote) {
            ++stats_.writes;
            if (e.writeRegister == reg::kPresence) ++stats_.presenceWrites;
        }
        logLocked(1, "normal: " + e.text);
        if (e.wrote && e.writeRegister == reg::kRunCommand && e.writeValue == cmd::kFaultReset)
            faults_.clear(FaultKind::DriveFault);
        if (!e.reply.empty()) sendLocked(std::move(e.reply), true, t);
        if (e.bootRequested) {
            ++stats_.bootRequests;
            logLocked(0, "boot request received: restarting into the bootloader");
            restartLocked(Mode::Boot, t, options_.bootSeconds);
        }
    }
    exchanges.clear();
}

void Simulator::handleBootLocked(BootActions& act, double t) {
    for (const std::string& l : act.log) logLocked(1, "boot: " + l);
    stats_.requests += static_cast<long>(act.log.size());
    stats_.blocksAcked = boot_->blocksAcked();
    stats_.blocksNaked = boot_->blocksNaked();
    for (auto& r : act.replies) sendLocked(std::move(r), false, t);
    if (act.reset && phase_ == Phase::Running) {
        std::string why;
        Mode target = startsApplicationLocked(&why) ? Mode::Normal : Mode::Boot;
        ++stats_.resets;
        char m[96];
        std::snprintf(m, sizeof m, "reset: mode word %04X, restarting into %s mode", memory_.modeWord(),
                      modeName(target));
        logLocked(0, m + (why.empty() ? std::string() : " (" + why + ")"));
        saveFilesLocked();
        restartLocked(target, t, options_.bootSeconds);
    }
    act = BootActions();
}

void Simulator::sendLocked(std::vector<std::uint8_t> bytes, bool modbus, double t) {
    if (master_ < 0 || bytes.empty()) return;
    FaultSetting s;
    if (faults_.use(FaultKind::Hangup, &s)) {
        logLocked(0, "fault hangup: hanging up instead of replying");
        hangUpLocked(s.arg / 1000.0, t);
        return;
    }
    if (faults_.use(FaultKind::Silence)) {
        logLocked(1, "  (fault silence: no reply)");
        return;
    }
    if (modbus && faults_.use(FaultKind::BadCrc)) {
        bytes.back() = static_cast<std::uint8_t>(bytes.back() ^ 0xA5);
        logLocked(1, "  (fault bad-crc)");
    }
    if (faults_.use(FaultKind::Noise, &s)) {
        std::vector<std::uint8_t> noise;
        while (static_cast<int>(noise.size()) < s.arg) {
            noiseSeed_ = noiseSeed_ * 1103515245u + 12345u;
            auto b = static_cast<std::uint8_t>(noiseSeed_ >> 16);
            // Never ACK, NAK or 'C' in boot mode: noise must not look like an answer.
            if (!modbus && (b == 0x06 || b == 0x15 || b == 'C')) continue;
            noise.push_back(b);
        }
        bytes.insert(bytes.begin(), noise.begin(), noise.end());
        logLocked(1, "  (fault noise: " + hexBytes(noise) + ")");
    }
    double at = t + options_.turnaroundSeconds;
    if (faults_.use(FaultKind::Late, &s)) {
        at += s.arg / 1000.0;
        logLocked(1, "  (fault late: +" + std::to_string(s.arg) + " ms)");
    }
    ++stats_.replies;
    if (faults_.use(FaultKind::Split, &s)) {
        std::size_t size = static_cast<std::size_t>(std::max(1, s.arg));
        for (std::size_t i = 0, k = 0; i < bytes.size(); i += size, ++k) {
            OutItem it;
            it.bytes.assign(bytes.begin() + static_cast<long>(i),
                            bytes.begin() + static_cast<long>(std::min(bytes.size(), i + size)));
            it.notBefore = at + static_cast<double>(k) * s.arg2 / 1000.0;
            output_.push_back(std::move(it));
        }
        logLocked(1, "  (fault split: chunks of " + std::to_string(size) + ", " + std::to_string(s.arg2) + " ms apart)");
    } else {
        OutItem it;
        it.bytes = std::move(bytes);
        it.notBefore = at;
        output_.push_back(std::move(it));
    }
    flushOutputLocked(t);
}

void Simulator::flushOutputLocked(double t) {
    const double cs = lineLocked().charSeconds();
    while (!output_.empty() && master_ >= 0) {
        OutItem& it = output_.front();
        double due = std::max(it.notBefore, options_.pace ? nextOutByte_ : 0.0);
        if (due > t) return;
        std::size_t n = options_.pace ? 1 : it.bytes.size() - it.pos;
        ssize_t w = write(master_, it.bytes.data() + it.pos, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            // The slave's input queue is full (nobody reads): the bytes go
            // into the void, as on a real line.
            if (!outputDropNoted_) logLocked(0, std::string("reply dropped: ") + std::strerror(errno));
            outputDropNoted_ = true;
            output_.pop_front();
            continue;
        }
        outputDropNoted_ = false;
        it.pos += static_cast<std::size_t>(w);
        if (options_.pace) nextOutByte_ = std::max(due, t - cs) + cs * static_cast<double>(w);
        if (it.pos >= it.bytes.size()) output_.pop_front();
    }
}

bool Simulator::startsApplicationLocked(std::string* why) const {
    if (memory_.modeWord() != ee::kModeApplication) return false;
    std::string reason;
    if (memory_.applicationValid(&reason)) return true;
    if (why) *why = "mode word 0065 but " + reason;
    return false;
}

bool Simulator::applicationValid() const {
    std::lock_guard<std::mutex> lock(mu_);
    return memory_.applicationValid();
}

void Simulator::restartLocked(Mode target, double t, double delay) {
    phase_ = Phase::Restarting;
    restartTarget_ = target;
    phaseUntil_ = t + delay;
    input_.clear();
    modbus_->reset();
    wake();
}

void Simulator::enterModeLocked(Mode m, double t) {
    mode_ = m;
    phase_ = Phase::Running;
    input_.clear();
    modbus_->reset();
    modbus_->setSilence(std::max(3.5 * options_.normalLine.charSeconds(), 0.02));
    if (m == Mode::Normal) {
        app_->powerUp(t);
        if (faults_.active(FaultKind::DriveFault)) app_->setTrip(true, t);
    } else {
        boot_->start(t);
    }
    logLocked(0, std::string("running in ") + modeName(m) + " mode at " + lineLocked().describe());
}

void Simulator::hangUpLocked(double downSeconds, double t) {
    ++stats_.hangups;
    closePtyLocked();
    if (!options_.linkPath.empty()) unlink(options_.linkPath.c_str());
    phase_ = Phase::Down;
    phaseUntil_ = downSeconds > 0 ? t + downSeconds : -1;
    logLocked(0, "line hung up" + (downSeconds > 0 ? " for " + std::to_string(static_cast<int>(downSeconds * 1000)) + " ms"
                                                  : std::string(" until restored")));
    wake();
}

void Simulator::restoreLineLocked(double t) {
    std::string err;
    if (!openPtyLocked(&err)) {
        logLocked(0, "cannot bring the line back: " + err);
        phaseUntil_ = t + 1.0;
        return;
    }
    if (!options_.linkPath.empty() && !linkLocked(&err)) logLocked(0, err);
    writeReadyFileLocked();
    phase_ = Phase::Running;
    logLocked(0, "line back on " + slave_);
    wake();
}

void Simulator::saveFilesLocked() {
    std::string err;
    if (!options_.eeFile.empty() && !memory_.saveEe(options_.eeFile, &err)) logLocked(0, err);
    if (!options_.flashFile.empty() && !memory_.saveFlash(options_.flashFile, &err)) logLocked(0, err);
}

std::string Simulator::slavePath() const {
    std::lock_guard<std::mutex> lock(mu_);
    return slave_;
}

Mode Simulator::mode() const {
    std::lock_guard<std::mutex> lock(mu_);
    return mode_;
}

bool Simulator::transitioning() const {
    std::lock_guard<std::mutex> lock(mu_);
    return phase_ != Phase::Running;
}

void Simulator::powerCycle(Mode m) {
    std::lock_guard<std::mutex> lock(mu_);
    if (phase_ == Phase::Down) return;
    enterModeLocked(m, now());
    wake();
}

bool Simulator::waitForMode(Mode m, int timeoutMs) const {
    auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mu_);
            if (mode_ == m && phase_ == Phase::Running) return true;
        }
        if (Clock::now() >= until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

bool Simulator::setFault(const std::string& faultText, std::string* error) {
    FaultKind k;
    FaultSetting s;
    if (!parseFaultSpec(faultText, &k, &s, error)) return false;
    setFault(k, s);
    return true;
}

void Simulator::setFault(FaultKind kind, FaultSetting setting) {
    std::lock_guard<std::mutex> lock(mu_);
    setting.active = true;
    faults_.set(kind, setting);
    double t = now();
    if (kind == FaultKind::ModeWord0081) memory_.setModeWord(ee::kModeDownloading);
    if (kind == FaultKind::DriveFault) app_->setTrip(true, t);
    if (kind == FaultKind::DriveWarning) app_->setWarning(true);
    logLocked(0, std::string("fault on: ") + faultName(kind) + " (active: " + faults_.describe() + ")");
    wake();
}

void Simulator::clearFault(FaultKind kind) {
    std::lock_guard<std::mutex> lock(mu_);
    faults_.clear(kind);
    if (kind == FaultKind::DriveFault) app_->setTrip(false, now());
    if (kind == FaultKind::DriveWarning) app_->setWarning(false);
    logLocked(0, std::string("fault off: ") + faultName(kind));
}

void Simulator::clearFaults() {
    std::lock_guard<std::mutex> lock(mu_);
    faults_.clearAll();
    app_->setTrip(false, now());
    app_->setWarning(false);
    logLocked(0, "all faults off");
}

bool Simulator::faultActive(FaultKind kind) const {
    std::lock_guard<std::mutex> lock(mu_);
    return faults_.active(kind);
}

void Simulator::hangUp(int downMs) {
    std::lock_guard<std::mutex> lock(mu_);
    if (phase_ == Phase::Down) return;
    hangUpLocked(downMs / 1000.0, now());
}

void Simulator::restoreLine() {
    std::lock_guard<std::mutex> lock(mu_);
    if (phase_ == Phase::Down) restoreLineLocked(now());
}

bool Simulator::readRegister(std::uint16_t r, std::uint16_t* value) {
    std::lock_guard<std::mutex> lock(mu_);
    return app_->read(r, value, now()) == 0;
}

std::uint8_t Simulator::writeRegister(std::uint16_t r, std::uint16_t value) {
    std::lock_guard<std::mutex> lock(mu_);
    bool boot = false;
    return app_->write(r, value, now(), &boot);
}

double Simulator::outputHz() const {
    std::lock_guard<std::mutex> lock(mu_);
    app_->advance(now());
    return app_->outputHz();
}

std::vector<std::uint8_t> Simulator::ee(std::uint32_t address, std::size_t length) const {
    std::lock_guard<std::mutex> lock(mu_);
    const auto& e = memory_.ee();
    if (address >= e.size()) return {};
    length = std::min(length, e.size() - address);
    return std::vector<std::uint8_t>(e.begin() + address, e.begin() + static_cast<long>(address + length));
}

std::vector<std::uint8_t> Simulator::flash(std::uint32_t address, std::size_t length) const {
    std::lock_guard<std::mutex> lock(mu_);
    const auto& f = memory_.flashBytes();
    if (address < flash::kBase || address - flash::kBase >= f.size()) return {};
    std::size_t off = address - flash::kBase;
    length = std::min(length, f.size() - off);
    return std::vector<std::uint8_t>(f.begin() + static_cast<long>(off), f.begin() + static_cast<long>(off + length));
}

std::uint16_t Simulator::modeWord() const {
    std::lock_guard<std::mutex> lock(mu_);
    return memory_.modeWord();
}

bool Simulator::eeLocked() const {
    std::lock_guard<std::mutex> lock(mu_);
    return boot_->eeLocked();
}

bool Simulator::loadEe(const std::string& path, std::string* error) {
    std::lock_guard<std::mutex> lock(mu_);
    return memory_.loadEe(path, error);
}

bool Simulator::saveEe(const std::string& path, std::string* error) const {
    std::lock_guard<std::mutex> lock(mu_);
    return memory_.saveEe(path, error);
}

bool Simulator::loadFlash(const std::string& path, std::string* error) {
    std::lock_guard<std::mutex> lock(mu_);
    return memory_.loadFlash(path, error);
}

bool Simulator::saveFlash(const std::string& path, std::string* error) const {
    std::lock_guard<std::mutex> lock(mu_);
    return memory_.saveFlash(path, error);
}

SimStats Simulator::stats() const {
    std::lock_guard<std::mutex> lock(mu_);
    SimStats s = stats_;
    s.blocksAcked = boot_->blocksAcked();
    s.blocksNaked = boot_->blocksNaked();
    return s;
}

}  // namespace drivesim
