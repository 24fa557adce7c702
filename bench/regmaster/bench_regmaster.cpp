// Round-trip time of CRegMaster::ProcRead and ProcWrite against a libmodbus
// RTU server (station 1), with the serial channel polling the port (the
// default) and with the fast register link, and of a plain libmodbus client
// against the same server in the same run.
//
//   bench_regmaster [requests]        (default 300 per kind and line)
//
// Lines: a bare pseudo-terminal (no wire time: the software's own latency),
// and a relay that holds every block for its wire time at 9600, 38400 and
// 115200 baud (10 bits a byte). The wire model of one read is its 8 request
// and 7 reply bytes at the line's rate plus the relay's turnaround. A monitor
// sweep of ten slots is twelve reads (the slots and the two status reads).
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <memory>

#include <ace/Log_Msg.h>

#define PTYKIT_WITH_MODBUS
#include "PtyKit.h"
#include "RegMaster.h"

using namespace ptykit;

namespace {

struct Figures
{
    double median = 0;
    double p99 = 0;
    int failed = 0;
};

Figures Summarise(std::vector<double> us, int failed)
{
    Figures f;
    f.failed = failed;
    if (us.empty())
        return f;
    std::sort(us.begin(), us.end());
    f.median = us[us.size() / 2];
    size_t i99 = (us.size() * 99 + 99) / 100;
    f.p99 = us[std::min(us.size() - 1, i99 > 0 ? i99 - 1 : 0)];
    return f;
}

template <class F>
Figures Measure(int count, F request)
{
    std::vector<double> us;
    us.reserve(static_cast<size_t>(count));
    int failed = 0;
    for (int i = 0; i < count; ++i)
    {
        Clock::time_point start = Clock::now();
        bool ok = request(i);
        double t = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
        if (ok)
            us.push_back(t);
        else
            ++failed;
    }
    return Summarise(us, failed);
}

struct Line
{
    const char* name;
    int baud;   // 0: bare pseudo-terminal
};

struct LineFigures
{
    Figures pollRead, pollWrite, fastRead, fastWrite, mbRead, mbWrite, fastSweep;
};

// RegMaster through LinkCore, as the program uses it.
bool MeasureRegMaster(const std::string& programPath, int programMaster, int stationMaster, int byteUs, int fastRecv,
                      int count, Figures* read, Figures* write, Figures* sweep)
{
    Relay bus;
    bus.AddMasterSide(programMaster);
    bus.AddStationSide(stationMaster);
    bus.SetByteTime(byteUs);
    bus.Start();
    CProtocolTemplate link;
    if (!OpenLink(link, 1, programPath, "RegMaster", 9600, fastRecv) || GetModbus() == nullptr)
        return false;
    CRegMaster* master = GetModbus();
    master->SetOutTime(1000);
    *read = Measure(count, [&](int i) {
        uint8_t value[2], err = 0;
        return master->ProcRead(1, static_cast<uint16_t>(i & 0xFF), value, &err);
    });
    *write = Measure(count, [&](int i) {
        uint8_t value[2] = {static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)}, err = 0;
        return master->ProcWrite(1, static_cast<uint16_t>(i & 0xFF), value, &err);
    });
    if (sweep != nullptr)
        *sweep = Measure(std::max(10, count / 12), [&](int) {
            bool ok = true;
            for (int r = 0; r < 12; ++r)
            {
                uint8_t value[2], err = 0;
                ok = master->ProcRead(1, static_cast<uint16_t>(r), value, &err) && ok;
            }
            return ok;
        });
    CloseLink(link);
    bus.Stop();
    return true;
}

bool MeasureLibmodbus(const std::string& clientPath, int clientMaster, int stationMaster, int byteUs, int count,
                      Figures* read, Figures* write)
{
    Relay bus;
    bus.AddMasterSide(clientMaster);
    bus.AddStationSide(stationMaster);
    bus.SetByteTime(byteUs);
    bus.Start();
    modbus_t* ctx = modbus_new_rtu(clientPath.c_str(), 9600, 'E', 8, 1);
    if (ctx == nullptr || modbus_set_slave(ctx, 1) != 0 || modbus_connect(ctx) != 0)
        return false;
    modbus_set_response_timeout(ctx, 1, 0);
    *read = Measure(count, [&](int i) {
        uint16_t v = 0;
        return modbus_read_registers(ctx, i & 0xFF, 1, &v) == 1;
    });
    *write = Measure(count, [&](int i) { return modbus_write_register(ctx, i & 0xFF, static_cast<uint16_t>(i)) == 1; });
    modbus_close(ctx);
    modbus_free(ctx);
    bus.Stop();
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    int count = argc > 1 ? atoi(argv[1]) : 300;
    if (count <= 0)
        count = 300;
    // The run-info lines go to the log file only.
    ACE_LOG_MSG->clr_flags(ACE_Log_Msg::STDERR);

    ScratchDir dir;
    PtyPair program, client, station;
    if (!dir.ok() || !program.ok() || !client.ok() || !station.ok())
    {
        fprintf(stderr, "cannot set up the scratch folder or the pseudo-terminals\n");
        return 1;
    }
    ModbusServer server(station.path(), 1, 0x100);
    if (!server.ok())
    {
        fprintf(stderr, "libmodbus server did not start on %s\n", station.path().c_str());
        return 1;
    }
    for (int r = 0; r < 0x100; ++r)
        server.SetRegister(r, static_cast<uint16_t>(r * 3));

    const Line lines[] = {{"pty", 0}, {"9600", 9600}, {"38400", 38400}, {"115200", 115200}};
    int failed = 0;
    printf("ProcRead/ProcWrite round trips, %d requests each, libmodbus RTU server (station 1); times in ms\n", count);
    printf("%-7s %-22s %9s %9s %9s %9s %8s\n", "line", "master", "rd med", "rd p99", "wr med", "wr p99", "failed");
    for (const Line& line : lines)
    {
        const int byteUs = line.baud > 0 ? 10000000 / line.baud : 0;
        LineFigures f;
        bool ok = MeasureRegMaster(program.path(), program.master(), station.master(), byteUs, 0, count, &f.pollRead,
                                   &f.pollWrite, nullptr) &&
                  MeasureRegMaster(program.path(), program.master(), station.master(), byteUs, 1, count, &f.fastRead,
                                   &f.fastWrite, &f.fastSweep) &&
                  MeasureLibmodbus(client.path(), client.master(), station.master(), byteUs, count, &f.mbRead,
                                   &f.mbWrite);
        if (!ok)
        {
            fprintf(stderr, "line %s: a link did not open\n", line.name);
            return 1;
        }
        auto row = [&](const char* who, const Figures& r, const Figures& w) {
            printf("%-7s %-22s %9.3f %9.3f %9.3f %9.3f %8d\n", line.name, who, r.median / 1000.0, r.p99 / 1000.0,
                   w.median / 1000.0, w.p99 / 1000.0, r.failed + w.failed);
            failed += r.failed + w.failed;
        };
        row("RegMaster polling", f.pollRead, f.pollWrite);
        row("RegMaster FastLink", f.fastRead, f.fastWrite);
        row("libmodbus", f.mbRead, f.mbWrite);
        if (line.baud > 0)
            printf("%-7s %-22s %9.3f   (15 bytes x 10 bits / baud)\n", line.name, "wire model read", 150000.0 / line.baud);
        if (f.mbRead.median > 0)
            printf("%-7s %-22s %9.2f %9.2f   polling %.2f\n", line.name, "FastLink/libmodbus rd", f.fastRead.median / f.mbRead.median,
                   f.mbRead.p99 > 0 ? f.fastRead.p99 / f.mbRead.p99 : 0.0, f.pollRead.median / f.mbRead.median);
        printf("%-7s %-22s %9.3f %9.3f   (12 reads, FastLink)\n", line.name, "monitor sweep 10 slots", f.fastSweep.median / 1000.0,
               f.fastSweep.p99 / 1000.0);
        failed += f.fastSweep.failed;
    }
    return failed == 0 ? 0 : 2;
}
