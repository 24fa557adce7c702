// Register read round trips over network ports, against libmodbus as the
// client on the same path in the same run.
//
//   bench_network [requests]          (default 300 per path and client)
//
// Paths:
//   tcp:// 38400, tcp:// 115200  ser2net (a serial device server) in front of
//                                the simulated drive's pty, which paces every
//                                byte at the line's rate; RTU frames over TCP.
//                                libmodbus sends its RTU frames over the same
//                                TCP connection (its RTU framing on the socket).
//   mbtcp://                     a libmodbus Modbus TCP server (unit 1); the
//                                client is libmodbus's Modbus TCP client.
// RegMaster runs through LinkCore as the program uses it, with the fast
// register link and with the default 20 ms polling.
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <ace/Log_Msg.h>
#include <modbus.h>

#include "CProtocolTemplate.h"
#include "LogBuf.h"
#include "NetTestUtil.h"
#include "RegMaster.h"
#include "Simulator.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Figures
{
    double median = 0, p99 = 0;
    int failed = 0;
};

template <class F>
Figures Measure(int count, F request)
{
    std::vector<double> us;
    Figures f;
    for (int i = 0; i < count; ++i)
    {
        const Clock::time_point start = Clock::now();
        const bool ok = request(i);
        const double t = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
        if (ok)
            us.push_back(t);
        else
            ++f.failed;
    }
    if (us.empty())
        return f;
    std::sort(us.begin(), us.end());
    f.median = us[us.size() / 2];
    f.p99 = us[std::min(us.size() - 1, (us.size() * 99 + 99) / 100 - 1)];
    return f;
}

// RegMaster on COM1 mapped to `url`. expect: the value register r holds as a
// function of r (a read with another value counts as failed), or null.
bool MeasureRegMaster(const std::string& url, int fastRecv, int count, Figures* read, uint16_t (*expect)(int))
{
    ::setenv("TORVANE_COM1", url.c_str(), 1);
    CCOMSet settings;
    settings.m_cfg.wPortNo = 1;
    settings.m_cfg.byFastRecv = static_cast<uint8_t>(fastRecv);
    CProtocolTemplate link;
    const bool ok = link.Init(1, &settings, "RegMaster") && GetModbus() != nullptr;
    LOG_SetOutput(false, true);
    if (ok)
    {
        CRegMaster* master = GetModbus();
        master->SetOutTime(1000);
        *read = Measure(count, [&](int i) {
            uint8_t value[2], err = 0;
            return master->ProcRead(1, static_cast<uint16_t>(i % 64), value, &err) &&
                   (expect == nullptr || (value[0] | (value[1] << 8)) == expect(i % 64));
        });
    }
    link.SetEnd();
    link.UnInit();
    return ok;
}

int Connect(int port)
{
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
    {
        ::close(s);
        return -1;
    }
    int one = 1;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return s;
}

// libmodbus's RTU master, its frames written to and read from the TCP
// connection to the device server.
bool MeasureLibmodbusRtu(int port, int count, Figures* read)
{
    modbus_t* ctx = modbus_new_rtu("/dev/null", 9600, 'E', 8, 1);
    const int s = Connect(port);
    if (ctx == nullptr || s < 0)
        return false;
    modbus_set_socket(ctx, s);
    modbus_set_slave(ctx, 1);
    modbus_set_response_timeout(ctx, 1, 0);
    *read = Measure(count, [&](int i) {
        uint16_t v = 0;
        return modbus_read_registers(ctx, i % 64, 1, &v) == 1;
    });
    ::close(s);
    modbus_free(ctx);
    return true;
}

uint16_t GatewayValue(int reg) { return static_cast<uint16_t>(1000 + reg); }

bool MeasureLibmodbusTcp(int port, int count, Figures* read)
{
    modbus_t* ctx = modbus_new_tcp("127.0.0.1", port);
    if (ctx == nullptr || modbus_connect(ctx) != 0)
        return false;
    modbus_set_slave(ctx, 1);
    modbus_set_response_timeout(ctx, 1, 0);
    *read = Measure(count, [&](int i) {
        uint16_t v = 0;
        return modbus_read_registers(ctx, i % 64, 1, &v) == 1 && v == GatewayValue(i % 64);
    });
    modbus_close(ctx);
    modbus_free(ctx);
    return true;
}

// A Modbus TCP server of libmodbus: one client at a time, 64 registers.
class TcpServer
{
public:
    TcpServer()
    {
        port_ = nettest::FreeLoopbackPort();
        ctx_ = modbus_new_tcp("127.0.0.1", port_);
        map_ = modbus_mapping_new(0, 0, 64, 0);
        for (int r = 0; r < 64; ++r)
            map_->tab_registers[r] = static_cast<uint16_t>(1000 + r);
        listen_ = modbus_tcp_listen(ctx_, 1);
        thread_ = std::thread([this] {
            uint8_t q[MODBUS_TCP_MAX_ADU_LENGTH];
            while (modbus_tcp_accept(ctx_, &listen_) >= 0)
            {
                int n;
                while ((n = modbus_receive(ctx_, q)) >= 0)
                    if (n > 0)
                        modbus_reply(ctx_, q, n, map_);
                ::close(modbus_get_socket(ctx_));
            }
        });
    }
    ~TcpServer()
    {
        ::shutdown(listen_, SHUT_RDWR);
        thread_.join();
        ::close(listen_);
        modbus_mapping_free(map_);
        modbus_free(ctx_);
    }
    int port() const { return port_; }

private:
    int port_ = 0, listen_ = -1;
    modbus_t* ctx_ = nullptr;
    modbus_mapping_t* map_ = nullptr;
    std::thread thread_;
};

void Row(const char* path, const char* who, const Figures& f)
{
    printf("%-14s %-20s %9.3f %9.3f %7d\n", path, who, f.median / 1000.0, f.p99 / 1000.0, f.failed);
}

}  // namespace

int main(int argc, char** argv)
{
    int count = argc > 1 ? atoi(argv[1]) : 300;
    if (count <= 0)
        count = 300;
    ACE_LOG_MSG->clr_flags(ACE_Log_Msg::STDERR);
    char tmpl[] = "/tmp/bench-network-XXXXXX";
    const char* dirName = ::mkdtemp(tmpl);
    if (dirName == nullptr)
        return 1;
    const std::string dir = std::string(dirName) + "/";
    if (::chdir(dir.c_str()) != 0)
        return 1;

    printf("Register read round trips (function 03, one register), %d requests each; times in ms\n", count);
    printf("%-14s %-20s %9s %9s %7s\n", "path", "client", "median", "p99", "failed");
    int failed = 0;
    for (int baud : {38400, 115200})
    {
        drivesim::SimOptions o;
        o.startMode = drivesim::Mode::Normal;
        o.normalLine.baud = baud;
        o.allRegisters = true;
        o.pace = true;
        o.linkPath = dir + "drive-" + std::to_string(baud);
        drivesim::Simulator sim(o);
        std::string error;
        if (!sim.start(&error))
        {
            fprintf(stderr, "drivesim: %s\n", error.c_str());
            return 1;
        }
        nettest::Ser2net server(dir, o.linkPath, std::to_string(baud) + "e81");
        if (!server.ok())
        {
            fprintf(stderr, "%s\n", server.error().c_str());
            return 1;
        }
        const std::string path = "tcp:// " + std::to_string(baud);
        Figures fast, poll, mb;
        if (!MeasureRegMaster(server.Url(), 1, count, &fast, nullptr) ||
            !MeasureRegMaster(server.Url(), 0, count, &poll, nullptr) ||
            !MeasureLibmodbusRtu(server.port(), count, &mb))
        {
            fprintf(stderr, "%s: a client could not connect\n", path.c_str());
            return 1;
        }
        Row(path.c_str(), "RegMaster FastLink", fast);
        Row(path.c_str(), "RegMaster polling", poll);
        Row(path.c_str(), "libmodbus (RTU)", mb);
        printf("%-14s %-20s %9.3f   (15 bytes x 10 bits / baud)\n", path.c_str(), "wire model", 150000.0 / baud);
        if (mb.median > 0)
            printf("%-14s %-20s %9.2f %9.2f\n", path.c_str(), "FastLink/libmodbus", fast.median / mb.median,
                   mb.p99 > 0 ? fast.p99 / mb.p99 : 0.0);
        failed += fast.failed + poll.failed + mb.failed;
        server.Stop();
        sim.stop();
    }
    {
        TcpServer server;
        const std::string url = "mbtcp://127.0.0.1:" + std::to_string(server.port());
        Figures fast, poll, mb;
        if (!MeasureRegMaster(url, 1, count, &fast, GatewayValue) || !MeasureRegMaster(url, 0, count, &poll, GatewayValue) ||
            !MeasureLibmodbusTcp(server.port(), count, &mb))
        {
            fprintf(stderr, "mbtcp://: a client could not connect\n");
            return 1;
        }
        Row("mbtcp://", "RegMaster FastLink", fast);
        Row("mbtcp://", "RegMaster polling", poll);
        Row("mbtcp://", "libmodbus (TCP)", mb);
        if (mb.median > 0)
            printf("%-14s %-20s %9.2f %9.2f\n", "mbtcp://", "FastLink/libmodbus", fast.median / mb.median,
                   mb.p99 > 0 ? fast.p99 / mb.p99 : 0.0);
        failed += fast.failed + poll.failed + mb.failed;
    }
    std::string rm = "rm -rf '" + dir + "'";
    if (::system(rm.c_str()) != 0)
        fprintf(stderr, "could not remove %s\n", dir.c_str());
    return failed > 0 ? 2 : 0;
}
