// The "ports" report: COM1 to COM16, the device each maps to, and why a
// connection on it could fail (missing device, no access for this user, held
// by another process, a service known to grab serial devices).
#pragma once

#include <string>
#include <vector>

namespace cli {

struct ProcessRef {
    int pid = 0;
    std::string name;  // /proc/<pid>/comm
};

struct PortState {
    int port = 0;
    std::string device;
    bool present = false;
    bool notSerial = false;  // present, but no character device (a plain file, a folder)
    bool access = false;     // readable and writable by this user
    std::string group;       // the device's group (the one to join), when access is missing
    bool groupCanAccess = false;  // the group's mode bits allow read and write
    bool busy = false;       // an open as the program does it failed: taken exclusively
    std::vector<ProcessRef> holders;  // other processes with the device open
    std::string hint;        // a service known to grab such devices, when one runs
    bool network = false;    // the port maps to tcp:// or mbtcp://
    std::string netProblem;  // why a network port cannot be reached ("" when it can)
};

// Looks at port `port` as the program's serial channel would open it.
PortState InspectPort(int port);

// "name (pid N), ..."
std::string HolderList(const std::vector<ProcessRef>& holders);

// One line of advice for a port state ("" when the port looks usable).
std::string PortAdvice(const PortState& s);

}  // namespace cli
