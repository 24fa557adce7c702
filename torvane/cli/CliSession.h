// What every torvane-cli command shares: the options, the program folder
// with its settings and parameter table, the stations to visit, and the
// normal-mode connection to one station, made by the program's own
// connection procedures.
#pragma once

#include "CliOutput.h"
#include "DeviceConnection.h"
#include "LanguageTables.h"
#include "ParamTable.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace cli {

// Exit codes.
enum Exit {
    kOk = 0,
    kDifferent = 1,    // diff: some rows differ
    kUsage = 2,        // bad command line
    kConnection = 3,   // no drive answered (port missing, busy, or silent)
    kPartial = 4,      // some rows or stations failed, the rest was done
    kRefused = 5,      // input refused before anything was written
    kFailed = 6,       // the parameter table or a file could not be read or written
    kInBootloader = 7, // flash: the drive was left in its bootloader; flash --resume completes it
};

struct Options {
    std::string command;
    std::vector<std::string> args;
    bool help = false;
    bool dryRun = false;
    bool verbose = false;
    Format format = Format::Table;
    std::string port, baud, parity, timeout, stations, folder;
    // monitor
    std::vector<std::string> slots;  // "N=PARAMETER", as given
    std::string interval, duration, out;
    // flash
    bool resume = false, direct = false, data = false, program = false;
    std::string series, power;
};

// Parses the command line; false with a message on a usage error.
bool ParseOptions(int argc, char** argv, Options* o, std::string* error);

// "1-8,12" -> 1..8, 12 (ascending, no duplicates); false on anything that is
// not a list of stations 1 to 247.
bool ParseStations(const std::string& text, std::vector<int>* stations);

// A file name for one station of several: "plant.xls" -> "plant-5.xls".
std::string StationFile(const std::string& path, int station);

std::string Narrow(const std::wstring& s);
std::wstring Widen(const std::string& s);

// The text of a register-call error byte.
std::string ErrorText(uint8_t err);

class Session {
public:
    explicit Session(const Options& o);

    // Settings from config.ini with the options applied; false with a
    // message when an option is not understood or no port is configured.
    bool Prepare(std::string* error);
    // The parameter table of the configured device type and the language.
    bool LoadTable(std::string* error);

    const std::vector<int>& stations() const { return stations_; }
    bool manyStations() const { return stations_.size() > 1; }
    // Port as the messages name it: "COM3" or "COM3 (/dev/ttyUSB0)"; a port
    // given as a device path by that path alone.
    std::string PortText() const;
    // --port named a device path (not COMn): messages and advice name it.
    bool portIsDevice() const { return portIsDevice_; }
    int Baud() const;

    // Connects in normal mode to `station` (closing what was open).
    bool ConnectNormal(int station);
    // The next of several stations: once a station answered on the open
    // line, one presence request at its settings; before that a connection
    // as ConnectNormal makes it.
    bool Reach(int station);
    // A station answered on the line that is still open: a silence now is
    // that station's, not the port's or the settings'.
    bool lineAnswered() const;
    // Boot mode, as the program tries it after normal mode failed.
    bool ConnectBoot();
    void Disconnect()
    {
        lineAnswered_ = false;
        link_->Disconnect();
    }
    DeviceConnection& link() { return *link_; }

    ParamTable& table() { return table_; }
    int languageIndex() const { return language_->languageIndex(); }
    std::wstring folder() const { return folder_; }

    // The records the arguments name: "G01" a group or subgroup by code,
    // "P01.04" (or "01.04") one parameter; no arguments: every record the
    // parameter view shows. False with the arguments not understood.
    bool SelectRecords(const std::vector<std::string>& args, std::vector<int>* records,
                       std::vector<std::string>* unknown) const;

private:
    const Options& o_;
    std::wstring folder_;
    std::vector<int> stations_;
    bool portIsDevice_ = false;
    bool lineAnswered_ = false;
    std::unique_ptr<CLinkPrompts> prompts_;
    std::unique_ptr<DeviceConnection> link_;
    std::unique_ptr<LanguageTables> language_;
    ParamTable table_;
};

}  // namespace cli
