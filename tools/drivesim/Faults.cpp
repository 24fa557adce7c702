#include "Faults.h"

#include "BootConfig.h"

#include <cerrno>
#include <cstdlib>

namespace drivesim {

namespace {

struct FaultInfo {
    FaultKind kind;
    const char* name;
    int arg, arg2, count;
    const char* help;
};

const FaultInfo kFaults[] = {
    {FaultKind::Silence, "silence", 0, 0, -1, "no reply at all, in either mode"},
    {FaultKind::Exception, "exception", 4, 0, -1,
     "=CODE  every Modbus request is answered with exception CODE (default 4)"},
    {FaultKind::BadCrc, "bad-crc", 0, 0, -1, "Modbus replies carry a wrong CRC"},
    {FaultKind::Noise, "noise", 4, 0, -1,
     "=N  N noise bytes (default 4) before every reply, in either mode"},
    {FaultKind::Split, "split", 2, 30, -1,
     "=SIZE:GAP  replies go out in chunks of SIZE bytes (default 2), GAP ms apart (default 30)"},
    {FaultKind::Late, "late", 1500, 0, -1,
     "=MS  replies go out MS ms late (default 1500, after the master's 1000 ms time-out)"},
    {FaultKind::NakBlock, "nak-block", 1, 0, -1,
     "=N  XMODEM block N (counted from 1 within a reception) is answered with NAK"},
    {FaultKind::ModeWord0081, "mode-word-0081", 0, 0, -1,
     "the EE mode word at 0x600 is 0081 and stays so whatever is written"},
    {FaultKind::Hangup, "hangup", 1000, 0, 1,
     "=MS  the next request hangs up the line (pty closed); a new pty comes back after MS ms "
     "(default 1000) and the link is moved to it"},
    {FaultKind::DriveFault, "drive-fault", 0, 0, -1,
     "the drive trips (status fault bit, motor coasts); fault reset (code 7 to 9999) clears it"},
    {FaultKind::DriveWarning, "drive-warning", 0, 0, -1, "the drive's status warning bit is set"},
    {FaultKind::EeWriteError, "ee-write-error", 0x600, 0, -1,
     "=ADDR  a write_ee command line that touches EE address ADDR (default 0x600, the mode word) "
     "fails: error text, no OK, nothing written"},
};

const FaultInfo& info(FaultKind kind) { return kFaults[static_cast<int>(kind)]; }

bool parseInt(const std::string& text, int* out) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    long v = std::strtol(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || v < -1000000000L || v > 1000000000L) return false;
    *out = static_cast<int>(v);
    return true;
}

}  // namespace

const char* faultName(FaultKind kind) { return info(kind).name; }

bool faultFromName(const std::string& name, FaultKind* kind) {
    for (const FaultInfo& f : kFaults) {
        if (name == f.name) {
            *kind = f.kind;
            return true;
        }
    }
    return false;
}

FaultSetting defaultFaultSetting(FaultKind kind) {
    FaultSetting s;
    s.active = true;
    s.arg = info(kind).arg;
    s.arg2 = info(kind).arg2;
    s.remaining = info(kind).count;
    return s;
}

bool parseFaultSpec(const std::string& faultText, FaultKind* kind, FaultSetting* setting,
                    std::string* error) {
    std::string rest = faultText;
    std::string countText;
    std::size_t hash = rest.find('#');
    if (hash != std::string::npos) {
        countText = rest.substr(hash + 1);
        rest = rest.substr(0, hash);
    }
    std::string argText;
    std::size_t eq = rest.find('=');
    if (eq != std::string::npos) {
        argText = rest.substr(eq + 1);
        rest = rest.substr(0, eq);
    }
    FaultKind k;
    if (!faultFromName(rest, &k)) {
        if (error) *error = "unknown fault \"" + rest + "\" in \"" + faultText + "\"";
        return false;
    }
    FaultSetting s = defaultFaultSetting(k);
    if (eq != std::string::npos) {
        std::string a1 = argText, a2;
        std::size_t colon = argText.find(':');
        if (colon != std::string::npos) {
            a1 = argText.substr(0, colon);
            a2 = argText.substr(colon + 1);
        }
        if (!parseInt(a1, &s.arg) || (colon != std::string::npos && !parseInt(a2, &s.arg2))) {
            if (error) *error = "bad argument \"" + argText + "\" in fault \"" + faultText + "\"";
            return false;
        }
        if (s.arg < 0 || s.arg2 < 0) {
            if (error) *error = "negative argument in fault \"" + faultText + "\"";
            return false;
        }
    }
    if (hash != std::string::npos) {
        if (!parseInt(countText, &s.remaining) || s.remaining < 1) {
            if (error) *error = "bad count \"" + countText + "\" in fault \"" + faultText + "\"";
            return false;
        }
    }
    if (k == FaultKind::Exception && (s.arg < 1 || s.arg > 255)) {
        if (error) *error = "exception code must be 1..255 in \"" + faultText + "\"";
        return false;
    }
    if (k == FaultKind::Split && s.arg < 1) {
        if (error) *error = "split size must be at least 1 in \"" + faultText + "\"";
        return false;
    }
    if (k == FaultKind::NakBlock && s.arg < 1) {
        if (error) *error = "nak-block needs a block number from 1 in \"" + faultText + "\"";
        return false;
    }
    *kind = k;
    *setting = s;
    return true;
}

std::string faultHelpText() {
    std::string out;
    for (const FaultInfo& f : kFaults) {
        std::string h = f.help;
        std::string head = std::string("  ") + f.name;
        if (!h.empty() && h[0] == '=') {
            std::size_t sp = h.find("  ");
            head += h.substr(0, sp);
            h = h.substr(sp + 2);
        }
        while (head.size() < 24) head += ' ';
        out += head + " " + h + "\n";
    }
    return out;
}

void FaultSet::set(FaultKind kind, const FaultSetting& setting) {
    settings_[static_cast<int>(kind)] = setting;
}

void FaultSet::clear(FaultKind kind) { settings_[static_cast<int>(kind)] = FaultSetting(); }

void FaultSet::clearAll() {
    for (FaultSetting& s : settings_) s = FaultSetting();
}

bool FaultSet::active(FaultKind kind) const { return settings_[static_cast<int>(kind)].active; }

const FaultSetting& FaultSet::get(FaultKind kind) const {
    return settings_[static_cast<int>(kind)];
}

bool FaultSet::use(FaultKind kind, FaultSetting* out) {
    FaultSetting& s = settings_[static_cast<int>(kind)];
    if (!s.active) return false;
    if (out) *out = s;
    if (s.remaining > 0 && --s.remaining == 0) s = FaultSetting();
    return true;
}

std::string FaultSet::describe() const {
    std::string out;
    for (int i = 0; i < static_cast<int>(FaultKind::Count); ++i) {
        if (!settings_[i].active) continue;
        if (!out.empty()) out += ",";
        out += kFaults[i].name;
    }
    return out.empty() ? "none" : out;
}

}  // namespace drivesim
