// Helpers of the torvane-cli tests: the program run as its own process with
// a bounded wait, a program folder per test (the sample tables, a config.ini
// of its own), simulated drives on pseudo-terminals, and several of them on
// one line behind a relay.
#pragma once

#include "Simulator.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace clitest {

struct CliRun {
    int code = -1;        // exit code; -1 when it did not end in time or was killed
    std::string out;      // standard output
    std::string err;      // standard error
    int ms = 0;           // how long it ran
};

struct CliCall {
    std::vector<std::string> args;
    std::map<std::string, std::string> env;  // added to this process's environment
    std::string cwd;
    int timeoutMs = 60000;
    int uid = -1;  // run as this user (only when the tests run as root)
    // Sends `signal` once, as soon as this says so about the output so far.
    std::function<bool(const std::string& out, const std::string& err)> signalWhen;
    int signal = 2;  // SIGINT
};

// Runs torvane-cli with the arguments; stdout and stderr captured apart.
CliRun RunCli(const CliCall& call);

// A fresh folder for one test, removed with it: the working directory of
// the runs and a program folder with the sample Language/ and Parameter/
// folders and a config.ini naming COM1 at 9600 baud, station 1, even parity,
// reply time-out `timeoutMs`.
class Folder {
public:
    explicit Folder(int timeoutMs = 1000);
    ~Folder();
    const std::string& path() const { return path_; }  // ends in "/"
    std::string operator/(const std::string& name) const { return path_ + name; }

private:
    std::string path_;
};

// A simulated TV380 drive (the sample workbook's registers) at `station`.
drivesim::SimOptions DriveOptions(int station = 1);
std::unique_ptr<drivesim::Simulator> StartDrive(drivesim::SimOptions o);

// The register of a parameter in the sample table ("01.04" -> its address - 1).
uint16_t RegisterOf(const std::wstring& pnu);
// The engineering value of a parameter as the drive holds it.
double DriveValue(drivesim::Simulator& sim, const std::wstring& pnu);
// Sets a parameter in the drive as its keypad would.
void SetDriveValue(drivesim::Simulator& sim, const std::wstring& pnu, double value);
// Writes to parameters the drive executed (connections' presence tests left out).
long ParamWrites(drivesim::Simulator& sim);

// CSV output (header first) as rows of fields, quotes undone.
std::vector<std::vector<std::string>> CsvRows(const std::string& text);

}  // namespace clitest
