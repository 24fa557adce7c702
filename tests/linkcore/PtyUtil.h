// A pseudo-terminal pair for the serial tests: the test holds the master
// (the "far side"); LinkCore opens the slave through TORVANE_COMn.
#ifndef LINKCORE_TEST_PTYUTIL_H
#define LINKCORE_TEST_PTYUTIL_H

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <chrono>
#include <string>

namespace lctest {

class PtyPair
{
public:
    PtyPair() = default;
    ~PtyPair() { Close(); }

    // Opens a pair; keepSlave keeps the test's own slave descriptor (to read
    // the terminal settings), otherwise only LinkCore holds the slave.
    bool Open(bool keepSlave = true)
    {
        char name[256];
        if (::openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0)
            return false;
        m_name = name;
        if (!keepSlave)
        {
            ::close(m_slave);
            m_slave = -1;
        }
        return true;
    }
    // Maps COM<port> to this pair's slave.
    void MapPort(int port) const
    {
        std::string key = "TORVANE_COM" + std::to_string(port);
        ::setenv(key.c_str(), m_name.c_str(), 1);
    }
    void CloseMaster()
    {
        if (m_master >= 0)
            ::close(m_master);
        m_master = -1;
    }
    void Close()
    {
        CloseMaster();
        if (m_slave >= 0)
            ::close(m_slave);
        m_slave = -1;
    }
    bool Write(const std::string& bytes)
    {
        size_t done = 0;
        while (done < bytes.size())
        {
            ssize_t n = ::write(m_master, bytes.data() + done, bytes.size() - done);
            if (n < 0)
            {
                if (errno == EINTR)
                    continue;
                return false;
            }
            done += static_cast<size_t>(n);
        }
        return true;
    }
    // Reads until `count` bytes arrived or timeoutMs passed.
    std::string Read(size_t count, int timeoutMs)
    {
        std::string out;
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (out.size() < count)
        {
            int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                            end - std::chrono::steady_clock::now()).count());
            if (left <= 0)
                break;
            struct pollfd pfd = {m_master, POLLIN, 0};
            if (::poll(&pfd, 1, left) <= 0)
                continue;
            char buf[1024];
            ssize_t n = ::read(m_master, buf, sizeof buf);
            if (n <= 0)
                break;
            out.append(buf, static_cast<size_t>(n));
        }
        return out;
    }
    // How many descriptors of this process refer to the slave.
    int SlaveOpenCount() const
    {
        int count = 0;
        for (int fd = 0; fd < 1024; ++fd)
        {
            char link[64];
            char target[256];
            snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
            ssize_t n = ::readlink(link, target, sizeof target - 1);
            if (n <= 0)
                continue;
            target[n] = '\0';
            if (m_name == target)
                ++count;
        }
        return count;
    }
    const std::string& Name() const { return m_name; }
    int Master() const { return m_master; }
    int Slave() const { return m_slave; }

private:
    int m_master = -1;
    int m_slave = -1;
    std::string m_name;
};

}  // namespace lctest

#endif
