// Round-trip time of CRegMaster::ProcRead and ProcWrite against a libmodbus
// RTU server (station 1) over pseudo-terminals, and of a plain libmodbus
// client against the same server in the same run.
//
//   bench_regmaster [requests]        (default 1000 per kind)
//
// Pseudo-terminals carry no wire time, so the figures are the software's own
// latency; on RegMaster's side the serial channel's 20 ms receive polling
// bounds it.
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

void Print(const char* what, const Figures& f)
{
    printf("%-28s median %9.3f ms   p99 %9.3f ms   failed %d\n", what, f.median / 1000.0, f.p99 / 1000.0, f.failed);
}

}  // namespace

int main(int argc, char** argv)
{
    int count = argc > 1 ? atoi(argv[1]) : 1000;
    if (count <= 0)
        count = 1000;
    // The run-info queue overflows at 100 lines a second and says so on the
    // diagnostic log; that is expected here and would drown the figures.
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

    // RegMaster through LinkCore, as the program uses it.
    Figures rmRead, rmWrite;
    {
        Relay bus;
        bus.AddMasterSide(program.master());
        bus.AddStationSide(station.master());
        bus.Start();
        CProtocolTemplate link;
        if (!OpenLink(link, 1, program.path(), "RegMaster") || GetModbus() == nullptr)
        {
            fprintf(stderr, "RegMaster link did not open\n");
            return 1;
        }
        CRegMaster* master = GetModbus();
        master->SetOutTime(1000);
        rmRead = Measure(count, [&](int i) {
            uint8_t value[2], err = 0;
            return master->ProcRead(1, static_cast<uint16_t>(i & 0xFF), value, &err);
        });
        rmWrite = Measure(count, [&](int i) {
            uint8_t value[2] = {static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)}, err = 0;
            return master->ProcWrite(1, static_cast<uint16_t>(i & 0xFF), value, &err);
        });
        CloseLink(link);
        bus.Stop();
    }

    // A plain libmodbus client on the same server.
    Figures mbRead, mbWrite;
    {
        Relay bus;
        bus.AddMasterSide(client.master());
        bus.AddStationSide(station.master());
        bus.Start();
        modbus_t* ctx = modbus_new_rtu(client.path().c_str(), 9600, 'E', 8, 1);
        if (ctx == nullptr || modbus_set_slave(ctx, 1) != 0 || modbus_connect(ctx) != 0)
        {
            fprintf(stderr, "libmodbus client did not connect\n");
            return 1;
        }
        modbus_set_response_timeout(ctx, 1, 0);
        mbRead = Measure(count, [&](int i) {
            uint16_t v = 0;
            return modbus_read_registers(ctx, i & 0xFF, 1, &v) == 1;
        });
        mbWrite = Measure(count, [&](int i) { return modbus_write_register(ctx, i & 0xFF, static_cast<uint16_t>(i)) == 1; });
        modbus_close(ctx);
        modbus_free(ctx);
        bus.Stop();
    }

    printf("Round trips over pseudo-terminals, %d requests each, libmodbus RTU server (station 1)\n", count);
    Print("RegMaster ProcRead", rmRead);
    Print("RegMaster ProcWrite", rmWrite);
    Print("libmodbus read_registers", mbRead);
    Print("libmodbus write_register", mbWrite);
    if (mbRead.median > 0 && mbWrite.median > 0)
        printf("ratio RegMaster/libmodbus      read median %.1f  p99 %.1f   write median %.1f  p99 %.1f\n",
               rmRead.median / mbRead.median, rmRead.p99 / mbRead.p99, rmWrite.median / mbWrite.median,
               rmWrite.p99 / mbWrite.p99);
    return rmRead.failed + rmWrite.failed + mbRead.failed + mbWrite.failed == 0 ? 0 : 2;
}
