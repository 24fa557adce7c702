#include "Bootloader.h"

#include "Crc.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>

namespace drivesim {

namespace {

constexpr std::uint8_t SOH = 0x01;
constexpr std::uint8_t EOT = 0x04;
constexpr std::uint8_t ACK = 0x06;
constexpr std::uint8_t NAK = 0x15;
constexpr std::uint8_t CAN = 0x18;
constexpr std::size_t kFrame = 133;
constexpr std::size_t kLineMax = 1024;
const char* const kPrompt = "RedBoot> ";

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// "0x600" is hexadecimal, anything else decimal ("0600" too: no octal).
bool parseNumber(const std::string& t, unsigned long* out) {
    if (t.empty()) return false;
    const char* s = t.c_str();
    int base = 10;
    if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
        s += 2;
        base = 16;
    }
    if (!std::isxdigit(static_cast<unsigned char>(*s))) return false;
    char* end = nullptr;
    unsigned long v = std::strtoul(s, &end, base);
    if (*end != '\0' || v > 0xFFFFFFFFul) return false;
    *out = v;
    return true;
}

bool parseHexBytes(const std::string& t, std::vector<std::uint8_t>* out) {
    if (t.empty() || t.size() % 2 != 0) return false;
    out->clear();
    for (std::size_t i = 0; i < t.size(); i += 2) {
        if (!std::isxdigit(static_cast<unsigned char>(t[i])) ||
            !std::isxdigit(static_cast<unsigned char>(t[i + 1])))
            return false;
        out->push_back(static_cast<std::uint8_t>(std::stoul(t.substr(i, 2), nullptr, 16)));
    }
    return true;
}

std::string printable(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '\r') out += "\\r";
        else if (c == '\n') out += "\\n";
        else if (static_cast<unsigned char>(c) < 0x20) {
            char b[8];
            std::snprintf(b, sizeof b, "\\x%02X", static_cast<unsigned char>(c));
            out += b;
        } else out += c;
    }
    return out;
}

}  // namespace

Bootloader::Bootloader(Memory& memory, FaultSet& faults, BootOptions options)
    : mem_(memory), faults_(faults), options_(std::move(options)) {}

void Bootloader::start(double now) {
    state_ = State::Command;
    eeLocked_ = options_.eeLockedAtStart;
    line_.clear();
    lineOverflow_ = false;
    block_.clear();
    erasing_ = false;
    nextPoll_ = -1;
    lastByte_ = now;
    keepModeWordFault();
}

void Bootloader::reply(BootActions* act, const std::string& text) {
    act->replies.emplace_back(text.begin(), text.end());
}

void Bootloader::keepModeWordFault() {
    if (faults_.active(FaultKind::ModeWord0081)) mem_.setModeWord(ee::kModeDownloading);
}

void Bootloader::feed(std::uint8_t byte, double t, BootActions* act) {
    switch (state_) {
    case State::Command:
        if (line_.empty() && byte == SOH) {
            // A block with no load command before it.
            state_ = State::StrayBlock;
            block_.assign(1, byte);
            lastByte_ = t;
            return;
        }
        if (byte == '\n') {
            std::string line;
            line.swap(line_);
            if (lineOverflow_) {
                lineOverflow_ = false;
                reply(act, std::string("** Error: line too long\r\n") + kPrompt);
                act->log.push_back("line of more than 1024 characters -> error");
            } else {
                executeLine(line, t, act);
            }
        } else if (byte >= 0x20 && byte != 0x7F) {
            if (line_.size() < kLineMax) line_.push_back(static_cast<char>(byte));
            else lineOverflow_ = true;
        }
        // CR and other control bytes are ignored on the command line.
        return;
    case State::StrayBlock:
        block_.push_back(byte);
        lastByte_ = t;
        if (block_.size() == kFrame) {
            int number = block_[1];
            block_.clear();
            state_ = State::Command;
            act->replies.push_back({NAK});
            ++blocksNaked_;
            act->log.push_back("block " + std::to_string(number) + " outside a load -> NAK");
        }
        return;
    case State::Receive:
        if (!block_.empty()) {
            block_.push_back(byte);
            lastByte_ = t;
            if (block_.size() == kFrame) blockComplete(t, act);
            return;
        }
        if (byte == SOH) {
            block_.assign(1, byte);
            lastByte_ = t;
            cancels_ = 0;
        } else if (byte == EOT) {
            act->replies.push_back({ACK});
            endReception("end of transmission (EOT) -> ACK", act);
        } else if (byte == CAN) {
            if (++cancels_ >= 2) endReception("cancelled by the sender (CAN CAN)", act);
        } else if ((byte >= 0x20 && byte < 0x7F) || byte == '\r' || byte == '\n') {
            // A command line instead of a block ends the reception.
            endReception("a command line arrived", act);
            feed(byte, t, act);
        }
        // Anything else is line noise between blocks: ignored.
        return;
    }
}

void Bootloader::endReception(const char* why, BootActions* act) {
    char buf[200];
    std::snprintf(buf, sizeof buf, "reception into %s at 0x%X ended: %s; %d block(s) accepted",
                  target_ == Target::Ee ? "EE" : "flash", base_, why, accepted_);
    act->log.push_back(buf);
    state_ = State::Command;
    block_.clear();
    nextPoll_ = -1;
}

void Bootloader::blockComplete(double now, BootActions* act) {
    std::vector<std::uint8_t> b;
    b.swap(block_);
    ++received_;
    const std::uint8_t number = b[1];
    auto nak = [&](const std::string& why) {
        act->replies.push_back({NAK});
        ++blocksNaked_;
        act->log.push_back("block " + std::to_string(number) + " -> NAK (" + why + ")");
    };
    if (static_cast<std::uint8_t>(number + b[2]) != 0xFF) return nak("block number and complement disagree");
    std::uint16_t crc = crc16Xmodem(b.data() + 3, 128);
    std::uint16_t sent = static_cast<std::uint16_t>((b[131] << 8) | b[132]);
    if (crc != sent) {
        char m[64];
        std::snprintf(m, sizeof m, "bad CRC %04X, computed %04X", sent, crc);
        return nak(m);
    }
    if (accepted_ > 0 && number == lastNumber_) {
        act->replies.push_back({ACK});
        ++blocksAcked_;
        act->log.push_back("block " + std::to_string(number) + " again -> ACK (duplicate, not written)");
        return;
    }
    const std::uint8_t expected = static_cast<std::uint8_t>(lastNumber_ + 1);
    if (number != expected) return nak("expected block " + std::to_string(expected));
    const int index = accepted_ + 1;
    FaultSetting nakFault;
    if (faults_.active(FaultKind::NakBlock) && faults_.get(FaultKind::NakBlock).arg == index &&
        faults_.use(FaultKind::NakBlock, &nakFault))
        return nak("fault nak-block=" + std::to_string(index));
    const std::uint32_t address = base_ + 128u * static_cast<std::uint32_t>(index - 1);
    char where[64];
    if (target_ == Target::Ee) {
        if (eeLocked_) return nak("EE is locked");
        if (!mem_.writeEe(address, b.data() + 3, 128)) return nak("outside the EE");
        keepModeWordFault();
        std::snprintf(where, sizeof where, "EE 0x%04X..0x%04X", address, address + 127);
    } else {
        if (!mem_.programFlash(address, b.data() + 3, 128)) return nak("flash not erased there, or outside the flash");
        std::snprintf(where, sizeof where, "flash 0x%08X..0x%08X", address, address + 127);
    }
    accepted_ = index;
    lastNumber_ = number;
    act->replies.push_back({ACK});
    ++blocksAcked_;
    act->log.push_back("block " + std::to_string(number) + " (#" + std::to_string(index) + ") -> ACK, " + where);
    (void)now;
}

void Bootloader::tick(double now, BootActions* act) {
    if (erasing_ && now >= eraseDone_) {
        erasing_ = false;
        bool ok = mem_.eraseSectors(eraseFirst_, eraseLast_);
        reply(act, ok ? std::string("OK\r\n") + kPrompt : std::string("** Error: erase failed\r\n") + kPrompt);
        act->log.push_back("flash_block_erase -s " + std::to_string(eraseFirst_) + " -e " +
                           std::to_string(eraseLast_) + (ok ? " done -> OK" : " failed"));
    }
    if ((state_ == State::Receive || state_ == State::StrayBlock) && !block_.empty() &&
        now - lastByte_ > options_.blockTimeout) {
        std::size_t got = block_.size();
        block_.clear();
        act->replies.push_back({NAK});
        ++blocksNaked_;
        act->log.push_back("incomplete block (" + std::to_string(got) + " of 133 bytes) -> NAK");
        if (state_ == State::StrayBlock) state_ = State::Command;
    }
    if (state_ == State::Receive && received_ == 0 && block_.empty() && nextPoll_ >= 0 && now >= nextPoll_) {
        if (pollsLeft_ > 0) {
            --pollsLeft_;
            reply(act, "C");
            nextPoll_ = now + options_.xmodemPoll;
        } else {
            nextPoll_ = -1;
        }
    }
}

double Bootloader::nextDeadline() const {
    double d = -1;
    auto consider = [&](double t) {
        if (t >= 0 && (d < 0 || t < d)) d = t;
    };
    if (erasing_) consider(eraseDone_);
    if ((state_ == State::Receive || state_ == State::StrayBlock) && !block_.empty())
        consider(lastByte_ + options_.blockTimeout + 0.001);
    if (state_ == State::Receive && received_ == 0 && block_.empty() && nextPoll_ >= 0) consider(nextPoll_);
    return d;
}

void Bootloader::executeLine(const std::string& line, double now, BootActions* act) {
    std::istringstream in(line);
    std::vector<std::string> tok;
    for (std::string w; in >> w;) tok.push_back(w);
    const std::string shown = "\"" + printable(line) + "\"";
    auto answer = [&](const std::string& text, const std::string& summary) {
        reply(act, text);
        act->log.push_back(shown + " -> " + summary);
    };
    auto error = [&](const std::string& what) {
        answer("** Error: " + what + "\r\n" + kPrompt, "error: " + what);
    };
    if (tok.empty()) {
        answer(kPrompt, "prompt");
        return;
    }
    if (tok.size() < 3 || lower(tok[0]) != "vkr" || lower(tok[1]) != "pm") {
        error("Illegal command: \"" + printable(line) + "\"");
        return;
    }
    const std::string command = lower(tok[2]);
    std::map<std::string, std::string> opt;
    std::vector<std::string> positional;
    for (std::size_t i = 3; i < tok.size(); ++i) {
        if (tok[i].size() >= 2 && tok[i][0] == '-' && i + 1 < tok.size()) {
            // Calibration files quote their commands ('VKR pm write_ee -a 64
            // -d 0400') and the program keeps the closing quote: a quote
            // ending a value is not part of it.
            std::string v = tok[i + 1];
            while (!v.empty() && (v.back() == '\'' || v.back() == '"')) v.pop_back();
            opt[tok[i]] = v;
            ++i;
        } else {
            positional.push_back(tok[i]);
        }
    }
    auto number = [&](const char* key, unsigned long* v) { return opt.count(key) && parseNumber(opt[key], v); };

    if (command == "version") {
        answer(options_.versionText + "\r\n" + kPrompt, options_.versionText);
        return;
    }
    if (command == "lock") {
        std::string o = lower(opt["-o"]);
        if ((o != "n" && o != "y") || lower(opt["-t"]) != "ee") {
            error("usage: VKR pm lock -o n|y -t ee");
            return;
        }
        eeLocked_ = (o == "y");
        std::string text = std::string("EE locked = ") + (eeLocked_ ? "1" : "0");
        answer(text + "\r\n" + kPrompt, text);
        return;
    }
    if (command == "load") {
        std::string what = positional.empty() ? std::string() : lower(positional[0]);
        unsigned long address = 0;
        if ((what != "pu_ee" && what != "pu") || lower(opt["-m"]) != "xmodem" || !number("-b", &address)) {
            error("usage: VKR pm load pu_ee|pu -m xMODEM -b ADDRESS");
            return;
        }
        if (what == "pu_ee") {
            if (eeLocked_) {
                error("EE is locked");
                return;
            }
            if (address >= ee::kSize) {
                error("EE address out of range");
                return;
            }
            target_ = Target::Ee;
        } else {
            if (address < flash::kBase || address >= flash::kBase + flash::kSize) {
                error("flash address out of range");
                return;
            }
            target_ = Target::Flash;
        }
        base_ = static_cast<std::uint32_t>(address);
        state_ = State::Receive;
        block_.clear();
        accepted_ = 0;
        received_ = 0;
        lastNumber_ = 0;
        cancels_ = 0;
        pollsLeft_ = options_.xmodemPollCount;
        nextPoll_ = options_.xmodemPoll > 0 ? now + options_.xmodemPoll : -1;
        const char* text = target_ == Target::Ee ? "EE loading..." : "flash loading...";
        answer(std::string(text) + "\r\n", text);
        return;
    }
    if (command == "flash_block_erase") {
        unsigned long s = 0, e = 0;
        if (!number("-s", &s) || !number("-e", &e) || s > e || e >= static_cast<unsigned long>(flash::kSectors)) {
            error("usage: VKR pm flash_block_erase -s FIRST -e LAST (sectors 0..11)");
            return;
        }
        erasing_ = true;
        eraseDone_ = now + options_.eraseSeconds;
        eraseFirst_ = static_cast<int>(s);
        eraseLast_ = static_cast<int>(e);
        act->log.push_back(shown + " -> erasing sectors " + std::to_string(s) + ".." + std::to_string(e));
        return;
    }
    if (command == "write_ee") {
        unsigned long address = 0;
        std::vector<std::uint8_t> data;
        if (!number("-a", &address) || !opt.count("-d") || !parseHexBytes(opt["-d"], &data)) {
            error("usage: VKR pm write_ee -a ADDRESS -d HEXBYTES");
            return;
        }
        if (address >= ee::kSize || data.size() > ee::kSize - address) {
            error("EE address out of range");
            return;
        }
        // The lock guards the EE contents; the mode word belongs to the
        // bootloader itself and stays writable (the download marks it while
        // the EE is locked: a download locks the EE and then still writes the mode word).
        bool onlyModeWord = address >= ee::kModeWord && address + data.size() <= ee::kModeWord + 2;
        if (eeLocked_ && !onlyModeWord) {
            error("EE is locked");
            return;
        }
        const FaultSetting& failing = faults_.get(FaultKind::EeWriteError);
        if (faults_.active(FaultKind::EeWriteError) && failing.arg >= 0 &&
            static_cast<unsigned long>(failing.arg) >= address &&
            static_cast<unsigned long>(failing.arg) < address + data.size() && faults_.use(FaultKind::EeWriteError)) {
            error("EE write failed");
            return;
        }
        mem_.writeEe(static_cast<std::uint32_t>(address), data.data(), data.size());
        keepModeWordFault();
        answer(std::string("OK\r\n") + kPrompt, "OK");
        return;
    }
    if (command == "read_ee") {
        unsigned long address = 0, length = 0;
        if (!number("-a", &address) || !number("-l", &length) || length < 1 || length > 256) {
            error("usage: VKR pm read_ee -a ADDRESS -l LENGTH (1..256)");
            return;
        }
        if (address >= ee::kSize || length > ee::kSize - address) {
            error("EE address out of range");
            return;
        }
        std::string hex;
        char b[4];
        for (unsigned long i = 0; i < length; ++i) {
            std::snprintf(b, sizeof b, "%02X", mem_.ee()[address + i]);
            hex += b;
        }
        answer(hex + "\r\n" + kPrompt, hex);
        return;
    }
    if (command == "reset") {
        char m[64];
        std::snprintf(m, sizeof m, "resetting, mode word %04X", mem_.modeWord());
        answer("Resetting...\r\n", m);
        act->reset = true;
        return;
    }
    error("Illegal command: \"" + printable(line) + "\"");
}

}  // namespace drivesim
