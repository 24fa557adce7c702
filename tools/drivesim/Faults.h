// Faults on demand: each misbehaviour the program must survive can be switched
// on by name, from a test (Simulator::setFault) or from the command line
// (drivesim --fault SPEC).
//
// Spec text:  NAME[=ARG[:ARG2]][#COUNT]
//   ARG, ARG2  numbers (decimal or 0x hex); each fault has defaults
//   COUNT      how many times the fault acts before it switches itself off
//              (default: until cleared; hangup: once)
// Examples: "silence", "late=1500", "split=3:40", "nak-block=5#1",
//           "exception=2#3", "hangup=2000".
#pragma once

#include <string>
#include <vector>

namespace drivesim {

enum class FaultKind {
    Silence,       // no reply at all (both modes)
    Exception,     // every Modbus request gets exception ARG (default 4)
    BadCrc,        // Modbus replies carry a wrong CRC
    Noise,         // ARG noise bytes (default 4) before every reply (both modes)
    Split,         // replies written in chunks of ARG bytes (default 2), ARG2 ms apart (default 30)
    Late,          // replies sent ARG ms late (default 1500: after the master's 1000 ms time-out)
    NakBlock,      // XMODEM block number ARG (1-based count within a reception) is NAKed
    ModeWord0081,  // the EE mode word is (and stays) 0081 whatever is written to it
    Hangup,        // the next request hangs up the line; it comes back after ARG ms (default 1000)
    DriveFault,    // the drive trips: fault bit set, motor coasts; fault reset (7) clears it
    DriveWarning,  // the drive's warning bit is set
    EeWriteError,  // a write_ee command line touching EE address ARG is refused with an error
    Count
};

struct FaultSetting {
    bool active = false;
    int arg = 0;
    int arg2 = 0;
    int remaining = -1;  // -1: until cleared
};

// The fault's name as written on the command line ("bad-crc", ...).
const char* faultName(FaultKind kind);
// The kind for a name; false when unknown.
bool faultFromName(const std::string& name, FaultKind* kind);
// The setting a bare "NAME" gives (defaults filled in, active).
FaultSetting defaultFaultSetting(FaultKind kind);
// Parses a faultText; on failure returns false with a message in `*error`.
bool parseFaultSpec(const std::string& faultText, FaultKind* kind, FaultSetting* setting,
                    std::string* error);
// One line per fault: "  name[=ARG]  meaning", for --help.
std::string faultHelpText();

// The current faults. Not thread-safe: the simulator guards it.
class FaultSet {
public:
    void set(FaultKind kind, const FaultSetting& setting);
    void clear(FaultKind kind);
    void clearAll();
    bool active(FaultKind kind) const;
    const FaultSetting& get(FaultKind kind) const;
    // When the fault is active: copies its setting to `*out` (if given),
    // counts one use (switching it off after its last), and returns true.
    bool use(FaultKind kind, FaultSetting* out = nullptr);
    // Names of the active faults, for logs.
    std::string describe() const;

private:
    FaultSetting settings_[static_cast<int>(FaultKind::Count)];
};

}  // namespace drivesim
