// Helpers of the network-port tests (loopback only): a free TCP port on
// 127.0.0.1, ser2net started with a configuration of its own in front of a
// serial device (a simulated drive's pty), and a bounded wait for a port to
// listen.
#pragma once

#include <string>
#include <vector>

#include <sys/types.h>

namespace nettest {

// A TCP port on 127.0.0.1 that nothing listens on right now.
int FreeLoopbackPort();
// True once something listens on 127.0.0.1:port (read from /proc/net/tcp,
// without connecting), false after timeoutMs.
bool WaitListening(int port, int timeoutMs);

// ser2net (Debian package ser2net) carrying the raw bytes of `device` to TCP
// port `port` of 127.0.0.1 at the line settings `line` ("9600e81"): a serial
// device server as a plant has one. Its YAML file lives in `folder`.
class Ser2net {
public:
    Ser2net(const std::string& folder, const std::string& device, const std::string& line);
    ~Ser2net();  // stops it
    bool ok() const { return pid_ > 0 && port_ > 0; }
    const std::string& error() const { return error_; }
    int port() const { return port_; }
    // "tcp://127.0.0.1:PORT" (or another scheme: "mbtcp").
    std::string Url(const char* scheme = "tcp") const;
    // Ends the server (the connection is closed on the program) and starts it
    // again on the same port.
    void Stop();
    bool Start();

private:
    std::string folder_, device_, line_, error_;
    int port_ = 0;
    pid_t pid_ = -1;
};

// What the link says on standard error (its diagnostic lines, from every
// thread) while this object lives: standard error goes to a scratch file.
// Lines() gives the lines that name `about` (a port, "COM3"), from there on.
class StderrLines {
public:
    explicit StderrLines(std::string about);
    ~StderrLines();
    std::vector<std::string> Lines() const;

private:
    std::string about_, path_;
    int saved_ = -1;
};

}  // namespace nettest
