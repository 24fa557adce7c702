// Time per absent station of torvane-cli's commands over several stations:
// one simulated drive at station 1, each command run with --station 1 and
// with --station 1-8, at several reply time-outs T. The difference over the
// seven stations that are not there is what one of them costs (aim: about
// one T).
//
//   bench_cli_stations [time-outs in ms, default 200 1000]
#include "Simulator.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <limits.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

std::string ProgramDir()
{
    char buf[PATH_MAX] = {0};
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    std::string p(buf, n > 0 ? static_cast<size_t>(n) : 0);
    return p.substr(0, p.find_last_of('/') + 1);
}

// Runs torvane-cli with the arguments, output discarded; the seconds it took.
double RunCli(const std::string& cli, const std::string& line, const std::vector<std::string>& args)
{
    std::vector<std::string> store{cli};
    store.insert(store.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : store) argv.push_back(a.data());
    argv.push_back(nullptr);
    const auto t0 = Clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::setenv("TORVANE_COM1", line.c_str(), 1);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<int> timeouts;
    for (int i = 1; i < argc; ++i) timeouts.push_back(std::atoi(argv[i]));
    if (timeouts.empty()) timeouts = {200, 1000};

    const std::string dir = ProgramDir();
    char tmpl[] = "/tmp/bench-cli-stations-XXXXXX";
    if (!::mkdtemp(tmpl)) return 1;
    const std::string folder = std::string(tmpl) + "/";
    for (const char* sub : {"Language", "Parameter"})
        if (::symlink((dir + sub).c_str(), (folder + sub).c_str()) != 0) return 1;

    drivesim::SimOptions o;
    o.startMode = drivesim::Mode::Normal;
    std::string err;
    if (!drivesim::loadParamWorkbook(dir + "Parameter/TV380.xls", &o.params, &err)) {
        std::fprintf(stderr, "%s\n", err.c_str());
        return 1;
    }
    drivesim::Simulator sim(o);
    if (!sim.start(&err)) {
        std::fprintf(stderr, "%s\n", err.c_str());
        return 1;
    }
    const std::string cli = dir + "torvane-cli";
    const std::string backup = folder + "b.xls";
    auto configure = [&](int timeoutMs) {
        std::ofstream(folder + "config.ini") << "[COM]\nCOMID=1\nbautRate=9600\nDataBit=8\nParity=2,EVEN,\xE5\x81\xB6\n"
                                                "devAddr=1\nOutTime="
                                             << timeoutMs << "\nCmdBay=200\n";
    };
    configure(1000);
    RunCli(cli, sim.slavePath(), {"--folder", folder, "backup", backup, "G01"});

    std::printf("%8s  %-8s %10s %12s %18s\n", "T (ms)", "command", "1 (s)", "1-8 (s)", "per absent (s)");
    for (int t : timeouts) {
        configure(t);
        const std::vector<std::pair<std::string, std::vector<std::string>>> commands = {
            {"info", {"info"}},
            {"read", {"read", "P01.04"}},
            {"backup", {"backup", folder + "s.xls", "G01"}},
            {"diff", {"diff", backup, "G01"}},
        };
        for (const auto& [name, args] : commands) {
            auto run = [&](const char* stations) {
                std::vector<std::string> a = {"--folder", folder, "--station", stations};
                a.insert(a.end(), args.begin(), args.end());
                return RunCli(cli, sim.slavePath(), a);
            };
            const double one = run("1");
            const double eight = run("1-8");
            std::printf("%8d  %-8s %10.2f %12.2f %18.2f\n", t, name.c_str(), one, eight, (eight - one) / 7);
        }
    }
    sim.stop();
    if (std::system(("rm -rf " + folder).c_str()) != 0) std::fprintf(stderr, "%s left behind\n", folder.c_str());
    return 0;
}
