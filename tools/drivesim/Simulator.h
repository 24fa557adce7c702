// drivesim: a simulated Torvane motor drive on a pseudo-terminal.
//
// The simulator owns a pty pair and answers on its master side what a drive
// answers on its serial port: a Modbus RTU slave in normal mode, the
// bootloader's command line and XMODEM-CRC receiver in boot mode. Whoever
// opens the slave side (the program, mbpoll, sx, a test) is the PC.
//
// It is written from the drive's wire formats only and shares
// no code with LinkCore, RegMaster or BlockPump, so that a fault in them
// cannot hide behind the same fault here.
//
// Line settings: the simulator reads the termios that the slave side's user
// set (on Linux the master side reads the slave's termios) and stays silent
// when they do not match the current mode's settings, as a drive at another
// baud rate would. What survives on a Linux pty: the baud rate and the PARODD
// and CMSPAR bits. The kernel clears PARENB and forces CS8, so even parity
// and no parity look the same, and the data bits cannot be checked; odd (and
// mark/space) parity can be told from even/none.
//
// Threading: one thread runs the line. Every public operation may be called
// from any thread; they take the simulator's lock. The log callback is
// called with that lock held and must not call back into the simulator.
#pragma once

#include "BootConfig.h"
#include "Bootloader.h"
#include "DriveApp.h"
#include "Faults.h"
#include "Memory.h"
#include "ModbusSlave.h"
#include "Params.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace drivesim {

enum class Mode { Normal, Boot };
const char* modeName(Mode m);

struct LineSettings {
    int baud = 9600;
    char parity = 'E';  // 'N', 'E', 'O', 'M', 'S'
    int dataBits = 8;
    int stopBits = 1;

    // "9600 8E1"
    std::string describe() const;
    // Wire time of one character: start bit, data bits, parity bit, stop bits.
    double charSeconds() const;
};

// Parses "9600", "9600,E", "9600 8E1", "38400,8,N,1" and similar; false when
// the text is not understood.
bool parseLineSettings(const std::string& text, LineSettings* out);

struct SimOptions {
    std::uint8_t station = 1;
    LineSettings normalLine{9600, 'E', 8, 1};
    LineSettings bootLine{38400, 'E', 8, 1};
    bool checkLine = true;   // stay silent when the pty's settings do not match
    bool pace = false;       // pace every byte by its wire time at the set baud rate

    // Mode at start. Unset: as a real drive powers up, by the EE mode word
    // and the flash (0065 and a whole application start it, anything else
    // stays in the bootloader).
    std::optional<Mode> startMode;

    // Normal mode.
    std::vector<ParamDef> params;  // empty: builtinParams()
    std::string series = "TV380";
    bool allRegisters = false;
    double rampHzPerSecond = 10.0;
    BootRequestValues bootRequest = defaultBootRequestValues();

    // Boot mode.
    BootOptions boot;
    std::string partNumber;        // written to EE 153; empty: "38000075" unless an EE file was loaded
    std::string eeFile;            // loaded at start when it exists; saved at each reset and at stop
    std::string flashFile;         // the same for the flash image

    double bootSeconds = 0.5;      // silence after a reset or boot request before the new mode answers
    double turnaroundSeconds = 0;  // delay before every reply
    double hangupRestoreDefault = 1.0;

    std::string linkPath;          // symbolic link to the pty slave (moved after a hang-up)
    std::string readyFile;         // receives the slave path once the line is up

    std::vector<std::pair<FaultKind, FaultSetting>> faults;  // active from the start

    // Log lines: level 0 for events (mode changes, line settings, hang-ups),
    // level 1 for each request served.
    std::function<void(int level, const std::string& line)> log;
};

struct SimStats {
    long requests = 0;      // Modbus frames for us, command lines and blocks handled
    long replies = 0;       // replies queued (after faults)
    long ignoredBytes = 0;  // bytes dropped: line settings mismatch, booting, erase
    long bootRequests = 0;
    long resets = 0;
    long hangups = 0;
    long blocksAcked = 0;
    long blocksNaked = 0;
    long writes = 0;          // function-06 writes executed
    long presenceWrites = 0;  // of which to the presence register (a connection's test)
};

class Simulator {
public:
    explicit Simulator(SimOptions options);
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Opens the pty, loads the files, starts the line thread.
    bool start(std::string* error);
    // Stops the thread, closes the pty, removes the link and the ready file,
    // saves the EE and flash files. Safe to call twice.
    void stop();
    bool running() const { return running_; }

    // Path of the current pty slave (changes after a hang-up); empty while down.
    std::string slavePath() const;

    Mode mode() const;
    // True while the drive restarts (reset, boot request) or the line is down.
    bool transitioning() const;
    // Power-cycles into `m` at once (no boot time): registers to defaults,
    // bootloader restarted.
    void powerCycle(Mode m);
    // Waits until the drive runs in `m` (not restarting), at most timeoutMs.
    bool waitForMode(Mode m, int timeoutMs) const;

    // Faults (see Faults.h).
    bool setFault(const std::string& faultText, std::string* error = nullptr);
    void setFault(FaultKind kind, FaultSetting setting);
    void setFault(FaultKind kind) { setFault(kind, defaultFaultSetting(kind)); }
    void clearFault(FaultKind kind);
    void clearFaults();
    bool faultActive(FaultKind kind) const;
    // Hangs the line up now; a new pty comes back after downMs (0: stays down
    // until restoreLine()).
    void hangUp(int downMs);
    void restoreLine();

    // Registers as the application sees them (no line, no faults).
    bool readRegister(std::uint16_t reg, std::uint16_t* value);
    std::uint8_t writeRegister(std::uint16_t reg, std::uint16_t value);
    double outputHz() const;

    // Memories.
    std::vector<std::uint8_t> ee(std::uint32_t address, std::size_t length) const;
    std::vector<std::uint8_t> flash(std::uint32_t address, std::size_t length) const;
    std::uint16_t modeWord() const;
    // The flash holds a whole application (Memory::applicationValid).
    bool applicationValid() const;
    bool eeLocked() const;
    bool loadEe(const std::string& path, std::string* error);
    bool saveEe(const std::string& path, std::string* error) const;
    bool loadFlash(const std::string& path, std::string* error);
    bool saveFlash(const std::string& path, std::string* error) const;

    SimStats stats() const;
    const SimOptions& options() const { return options_; }

private:
    using Clock = std::chrono::steady_clock;
    struct InByte {
        std::uint8_t byte;
        double t;
    };
    struct OutItem {
        std::vector<std::uint8_t> bytes;
        std::size_t pos = 0;
        double notBefore = 0;
    };
    enum class Phase { Running, Restarting, Down };

    double now() const;
    void run();
    bool openPtyLocked(std::string* error);
    void closePtyLocked();
    bool linkLocked(std::string* error);
    void writeReadyFileLocked();
    void logLocked(int level, const std::string& line) const;
    const LineSettings& lineLocked() const;
    bool lineMatchesLocked(std::string* seen);
    void readLocked(double t);
    void processInputLocked(double t);
    void handleModbusLocked(std::vector<ModbusExchange>& exchanges, double t);
    void handleBootLocked(BootActions& act, double t);
    void sendLocked(std::vector<std::uint8_t> bytes, bool modbus, double t);
    void flushOutputLocked(double t);
    // A power-up or reset starts the application: mode word 0065 and a
    // whole application in flash.
    bool startsApplicationLocked(std::string* why) const;
    void restartLocked(Mode target, double t, double delay);
    void enterModeLocked(Mode m, double t);
    void hangUpLocked(double downSeconds, double t);
    void restoreLineLocked(double t);
    double nextDeadlineLocked(double t) const;
    void saveFilesLocked();
    void wake();

    SimOptions options_;
    Clock::time_point epoch_;

    mutable std::mutex mu_;
    FaultSet faults_;
    Memory memory_;
    std::unique_ptr<DriveApp> app_;
    std::unique_ptr<ModbusSlave> modbus_;
    std::unique_ptr<Bootloader> boot_;

    Mode mode_ = Mode::Normal;
    Phase phase_ = Phase::Running;
    Mode restartTarget_ = Mode::Normal;
    double phaseUntil_ = 0;  // end of the restart or of the hang-up (<0: until restoreLine)

    int master_ = -1;
    int holder_ = -1;  // our own slave fd: keeps the pty up while the user closes and reopens it
    std::string slave_;
    int wake_[2] = {-1, -1};
    std::thread thread_;
    std::atomic<bool> running_{false};
    bool stopping_ = false;

    std::deque<InByte> input_;
    double lastArrival_ = 0;
    std::deque<OutItem> output_;
    double nextOutByte_ = 0;
    bool lineOk_ = true;
    bool outputDropNoted_ = false;
    std::uint32_t noiseSeed_ = 0x2545F491u;

    SimStats stats_;
};

}  // namespace drivesim
