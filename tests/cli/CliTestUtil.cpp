#include "CliTestUtil.h"

#include "ParamTable.h"
#include "WideText.h"

#include <fcntl.h>
#include <ftw.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

extern char** environ;

namespace clitest {

namespace {

const ParamTable& SampleTable()
{
    static ParamTable table = [] {
        ParamTable t;
        t.Load(wtext::FromUtf8(TORVANE_SAMPLE_PROGRAM_DIR "Parameter/TV380.xls"));
        return t;
    }();
    return table;
}

const ParamRecord& Record(const std::wstring& pnu)
{
    for (const ParamRecord& r : SampleTable().params)
        if (r.pnu == pnu) return r;
    ADD_FAILURE() << "no parameter " << wtext::ToUtf8(pnu);
    static ParamRecord none;
    return none;
}

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) { return ::remove(path); }

}  // namespace

CliRun RunCli(const CliCall& call)
{
    CliRun run;
    std::vector<std::string> argStore{TORVANE_CLI_PATH};
    argStore.insert(argStore.end(), call.args.begin(), call.args.end());
    std::vector<char*> argv;
    for (std::string& a : argStore) argv.push_back(a.data());
    argv.push_back(nullptr);
    // The environment is made here: the child of a threaded process may only
    // call what is safe after fork.
    std::map<std::string, std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string kv = *e;
        const size_t eq = kv.find('=');
        if (eq != std::string::npos) env[kv.substr(0, eq)] = kv.substr(eq + 1);
    }
    for (const auto& kv : call.env) env[kv.first] = kv.second;
    std::vector<std::string> envStore;
    for (const auto& kv : env) envStore.push_back(kv.first + "=" + kv.second);
    std::vector<char*> envp;
    for (std::string& e : envStore) envp.push_back(e.data());
    envp.push_back(nullptr);

    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return run;
    const auto t0 = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], 1);
        ::dup2(err[1], 2);
        const int devnull = ::open("/dev/null", O_RDONLY);
        if (devnull >= 0) ::dup2(devnull, 0);
        if (!call.cwd.empty() && ::chdir(call.cwd.c_str()) != 0) ::_exit(126);
        if (call.uid >= 0 && (::setgid(static_cast<gid_t>(call.uid)) != 0 || ::setuid(static_cast<uid_t>(call.uid)) != 0))
            ::_exit(126);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    if (pid < 0) {
        ::close(out[0]);
        ::close(err[0]);
        return run;
    }
    auto elapsed = [&] {
        return static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count());
    };
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* sink[2] = {&run.out, &run.err};
    int open = 2;
    bool killed = false;
    bool signalled = !call.signalWhen;
    while (open > 0) {
        const int left = call.timeoutMs - elapsed();
        if (left <= 0) {
            ::kill(pid, SIGKILL);
            killed = true;
            break;
        }
        if (!signalled && call.signalWhen(run.out, run.err)) {
            ::kill(pid, call.signal);
            signalled = true;
        }
        if (::poll(fds, 2, signalled ? left : std::min(left, 50)) <= 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !fds[i].revents) continue;
            char buf[4096];
            const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                sink[i]->append(buf, static_cast<size_t>(n));
            } else {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (auto& f : fds)
        if (f.fd >= 0) ::close(f.fd);
    int status = 0;
    ::waitpid(pid, &status, 0);
    run.ms = elapsed();
    run.code = !killed && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

Folder::Folder(int timeoutMs)
{
    char tmpl[] = "/tmp/torvane-cli-XXXXXX";
    const char* made = ::mkdtemp(tmpl);
    if (!made) return;
    path_ = std::string(made) + "/";
    const std::string sample = TORVANE_SAMPLE_PROGRAM_DIR;
    for (const char* sub : {"Language", "Parameter"})
        if (::symlink((sample + sub).c_str(), (path_ + sub).c_str()) != 0) ADD_FAILURE() << "symlink " << sub;
    std::ofstream ini(path_ + "config.ini");
    ini << "[COM]\nCOMID=1\nbautRate=9600\nDataBit=8\nParity=2,EVEN,\xE5\x81\xB6\ndevAddr=1\nOutTime=" << timeoutMs
        << "\nCmdBay=200\n";
}

Folder::~Folder()
{
    if (!path_.empty()) ::nftw(path_.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

drivesim::SimOptions DriveOptions(int station)
{
    drivesim::SimOptions o;
    o.station = static_cast<std::uint8_t>(station);
    o.startMode = drivesim::Mode::Normal;
    o.bootSeconds = 0.05;
    o.boot.xmodemPoll = 0;
    std::string err;
    if (!drivesim::loadParamWorkbook(TORVANE_SAMPLE_PROGRAM_DIR "Parameter/TV380.xls", &o.params, &err))
        ADD_FAILURE() << "simulator workbook: " << err;
    if (std::getenv("DRIVESIM_TEST_LOG"))
        o.log = [](int, const std::string& l) { std::fprintf(stderr, "sim %s\n", l.c_str()); };
    return o;
}

std::unique_ptr<drivesim::Simulator> StartDrive(drivesim::SimOptions o)
{
    auto sim = std::make_unique<drivesim::Simulator>(std::move(o));
    std::string err;
    if (!sim->start(&err)) {
        ADD_FAILURE() << "simulator: " << err;
        return nullptr;
    }
    return sim;
}

uint16_t RegisterOf(const std::wstring& pnu)
{
    return static_cast<uint16_t>(Record(pnu).address - 1);
}

double DriveValue(drivesim::Simulator& sim, const std::wstring& pnu)
{
    const ParamRecord& r = Record(pnu);
    uint16_t w = 0;
    EXPECT_TRUE(sim.readRegister(RegisterOf(pnu), &w));
    const double raw = r.minValue < 0 ? static_cast<int16_t>(w) : w;
    return raw * std::pow(10.0, r.exponent);
}

void SetDriveValue(drivesim::Simulator& sim, const std::wstring& pnu, double value)
{
    const ParamRecord& r = Record(pnu);
    const long raw = std::lround(value / std::pow(10.0, r.exponent));
    EXPECT_EQ(sim.writeRegister(RegisterOf(pnu), static_cast<uint16_t>(raw & 0xFFFF)), 0);
}

long ParamWrites(drivesim::Simulator& sim)
{
    const drivesim::SimStats s = sim.stats();
    return s.writes - s.presenceWrites;
}

std::vector<std::vector<std::string>> CsvRows(const std::string& text)
{
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> row;
    std::string field;
    bool quoted = false, any = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"') {
            quoted = any = true;
        } else if (c == ',') {
            row.push_back(field);
            field.clear();
            any = true;
        } else if (c == '\r') {
        } else if (c == '\n') {
            row.push_back(field);
            rows.push_back(row);
            row.clear();
            field.clear();
            any = false;
        } else {
            field += c;
            any = true;
        }
    }
    if (any) {
        row.push_back(field);
        rows.push_back(row);
    }
    return rows;
}

}  // namespace clitest
