#include "CliSession.h"

#include "UserFolder.h"

#include "CCOM.h"
#include "TcpChannel.h"
#include "DevicePlugins.h"
#include "ParamViewLogic.h"
#include "ProgramFolder.h"
#include "WideText.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>

#include <unistd.h>

namespace cli {

namespace {

// What the connection procedures say goes to standard error; the settings
// dialog and the status bar do not exist here.
class StderrPrompts : public CLinkPrompts {
public:
    // A port given as a device path is named by that path ("COM1 is open
    // failed." would name a port the user never mentioned).
    std::string portName, device;
    void ShowMessage(const std::wstring& text) override
    {
        std::string t = Narrow(text);
        if (!device.empty())
            for (size_t at = t.find(portName); at != std::string::npos; at = t.find(portName, at + device.size())) {
                const size_t end = at + portName.size();
                if (end < t.size() && std::isdigit(static_cast<unsigned char>(t[end]))) continue;
                t.replace(at, portName.size(), device);
            }
        std::fprintf(stderr, "%s\n", t.c_str());
    }
    void EditSerialSettings() override {}
    void UpdateStatusBar() override {}
};

bool AllDigits(const std::string& s)
{
    return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
}

std::string RealPath(const std::string& path)
{
    char buf[PATH_MAX];
    return ::realpath(path.c_str(), buf) ? std::string(buf) : path;
}

std::string Upper(std::string s)
{
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

std::string Narrow(const std::wstring& s) { return wtext::ToUtf8(s); }
std::wstring Widen(const std::string& s) { return wtext::FromUtf8(s); }

std::string ErrorText(uint8_t err)
{
    if (err == 0xFF) return "no reply";
    if (err == 0xFE) return "value does not fit the register";
    if (err == 0) return "not done";
    return "drive exception code " + std::to_string(err);
}

bool ParseOptions(int argc, char** argv, Options* o, std::string* error)
{
    static const char* const kValued[] = {"--port", "--baud", "--parity", "--station", "--timeout",
                                          "--format", "--folder", "--slot", "--interval", "--duration",
                                          "--out", "--series", "--power"};
    static const std::map<std::string, bool Options::*> kFlags = {
        {"--resume", &Options::resume}, {"--direct", &Options::direct},
        {"--data", &Options::data},     {"--program", &Options::program}};
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "-h" || a == "--help") {
            o->help = true;
            continue;
        }
        if (a == "--dry-run") {
            o->dryRun = true;
            continue;
        }
        if (a == "--verbose") {
            o->verbose = true;
            continue;
        }
        if (const auto flag = kFlags.find(a); flag != kFlags.end()) {
            o->*(flag->second) = true;
            continue;
        }
        if (a.rfind("--", 0) == 0) {
            std::string name = a, value;
            const size_t eq = a.find('=');
            bool known = false;
            for (const char* v : kValued) known = known || a.substr(0, eq) == v;
            if (!known) {
                *error = "unknown option " + a.substr(0, eq);
                return false;
            }
            if (eq != std::string::npos) {
                name = a.substr(0, eq);
                value = a.substr(eq + 1);
            } else if (i + 1 < argc) {
                value = argv[++i];
            } else {
                *error = "option " + a + " needs a value";
                return false;
            }
            if (name == "--port") o->port = value;
            else if (name == "--baud") o->baud = value;
            else if (name == "--parity") o->parity = value;
            else if (name == "--station") o->stations = value;
            else if (name == "--timeout") o->timeout = value;
            else if (name == "--folder") o->folder = value;
            else if (name == "--slot") o->slots.push_back(value);
            else if (name == "--interval") o->interval = value;
            else if (name == "--duration") o->duration = value;
            else if (name == "--out") o->out = value;
            else if (name == "--series") o->series = value;
            else if (name == "--power") o->power = value;
            else if (!ParseFormat(value, &o->format)) {
                *error = "--format takes table, csv or json";
                return false;
            }
            continue;
        }
        if (o->command.empty()) o->command = a;
        else o->args.push_back(a);
    }
    if (o->command == "help") {
        o->help = true;
        o->command = o->args.empty() ? "" : o->args.front();
        o->args.clear();
    }
    return true;
}

bool ParseStations(const std::string& text, std::vector<int>* stations)
{
    std::set<int> set;
    size_t from = 0;
    while (from <= text.size()) {
        const size_t comma = std::min(text.find(',', from), text.size());
        const std::string part = text.substr(from, comma - from);
        const size_t dash = part.find('-');
        const std::string a = part.substr(0, dash);
        const std::string b = dash == std::string::npos ? a : part.substr(dash + 1);
        if (!AllDigits(a) || !AllDigits(b) || a.size() > 3 || b.size() > 3) return false;
        const int lo = std::atoi(a.c_str()), hi = std::atoi(b.c_str());
        if (lo < 1 || hi > 247 || lo > hi) return false;
        for (int s = lo; s <= hi; ++s) set.insert(s);
        from = comma + 1;
    }
    stations->assign(set.begin(), set.end());
    return !stations->empty();
}

std::string StationFile(const std::string& path, int station)
{
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    const bool hasExt = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
    const std::string suffix = "-" + std::to_string(station);
    return hasExt ? path.substr(0, dot) + suffix + path.substr(dot) : path + suffix;
}

Session::Session(const Options& o) : o_(o) {}

bool Session::Prepare(std::string* error)
{
    if (!o_.folder.empty()) {
        std::string f = RealPath(o_.folder);
        if (f.empty() || f.back() != '/') f += '/';
        folder_ = Widen(f);
    } else {
        folder_ = ProgramFolder();
    }
    // The link writes its trace and run-info logs below the working
    // directory: beside the program's own, as when it is started from its
    // folder, not wherever a script happens to run. An installed program's
    // folder is read-only: the logs and config.ini are then the ones of the
    // user's data folder, as the program's.
    if (LinkCoreInstalledMode(Narrow(folder_))) {
        std::string why;
        if (!LinkCoreEnterUserDataFolder(Narrow(folder_), &why)) {
            *error = why;
            return false;
        }
    } else if (!folder_.empty() && ::chdir(Narrow(folder_).c_str()) != 0) {
        *error = "cannot work in the program folder " + Narrow(folder_);
        return false;
    }
    auto prompts = std::make_unique<StderrPrompts>();
    StderrPrompts* stderrPrompts = prompts.get();
    prompts_ = std::move(prompts);
    link_ = std::make_unique<DeviceConnection>(WritableFolder(folder_), prompts_.get());
    // Options apply to this run only; config.ini stays the program's.
    link_->SetStoreOnConnect(false);
    link_->LoadSettings();
    ConnectionSettings& s = link_->settings();

    if (!o_.port.empty()) {
        std::string p = Upper(o_.port);
        if (p.rfind("COM", 0) == 0) p = p.substr(3);
        if (AllDigits(p)) {
            const int n = std::atoi(p.c_str());
            if (n < DeviceConnection::kSearchFirstPort || n > DeviceConnection::kSearchLastPort) {
                *error = "--port: ports are COM1 to COM16, or a device path";
                return false;
            }
            s.COMID = wtext::FormatInt(n);
        } else {
            std::string why;
            if (LinkCoreParsePort(o_.port, nullptr, &why) == LINK_PORT_BAD) {
                *error = "--port: " + why;
                return false;
            }
            // A device path or network port: the port that maps to it, or
            // COM1 mapped to it for this run.
            portIsDevice_ = true;
            const std::string want = RealPath(o_.port);
            int n = 0;
            for (int k = DeviceConnection::kSearchFirstPort; k <= DeviceConnection::kSearchLastPort && !n; ++k)
                if (RealPath(LinkCoreSerialDevice(k)) == want) n = k;
            if (!n) {
                n = 1;
                ::setenv("TORVANE_COM1", o_.port.c_str(), 1);
            }
            s.COMID = wtext::FormatInt(n);
            stderrPrompts->portName = "COM" + std::to_string(n);
            stderrPrompts->device = o_.port;
        }
    }
    if (s.PortUnset()) {
        *error = "no serial port configured: give --port COMn (or a device), or set COMID in " +
                 Narrow(s.ConfigPath());
        return false;
    }
    if (!o_.baud.empty()) {
        if (!AllDigits(o_.baud) || std::atoi(o_.baud.c_str()) <= 0) {
            *error = "--baud takes a baud rate such as 9600";
            return false;
        }
        s.bautRate = Widen(o_.baud);
    }
    if (!o_.parity.empty()) {
        const std::string p = Upper(o_.parity);
        if (p == "NONE" || p == "N" || p == "0") s.Parity = L"0,NONE,\u65e0";
        else if (p == "ODD" || p == "O" || p == "1") s.Parity = L"1,ODD,\u5947";
        else if (p == "EVEN" || p == "E" || p == "2") s.Parity = L"2,EVEN,\u5076";
        else {
            *error = "--parity takes none, odd or even";
            return false;
        }
    }
    if (!o_.timeout.empty()) {
        if (!AllDigits(o_.timeout) || std::atoi(o_.timeout.c_str()) <= 0) {
            *error = "--timeout takes the reply time-out in milliseconds";
            return false;
        }
        s.OutTime = Widen(o_.timeout);
    }
    if (!o_.stations.empty()) {
        if (!ParseStations(o_.stations, &stations_)) {
            *error = "--station takes stations 1 to 247 as a list or ranges, such as 1-8,12";
            return false;
        }
    } else {
        stations_.assign(1, s.Station() & 0xFF);
    }
    return true;
}

bool Session::LoadTable(std::string* error)
{
    language_ = std::make_unique<LanguageTables>(folder_);
    language_->Start();
    const std::wstring path = ParameterWorkbookPath(folder_, ConfiguredDeviceType(folder_));
    if (!table_.Load(path)) {
        *error = Narrow(ParamLoadFailedMessage(path)) + " (" + table_.lastError() + ")";
        return false;
    }
    return true;
}

std::string Session::PortText() const
{
    const ConnectionSettings& s = link_->settings();
    const std::string name = "COM" + Narrow(s.COMID);
    const std::string device = LinkCoreSerialDevice(s.PortNumber());
    if (portIsDevice_ && !device.empty()) return device;
    return device.empty() ? name : name + " (" + device + ")";
}

int Session::Baud() const { return link_->settings().BaudRate(); }

bool Session::ConnectNormal(int station)
{
    link_->settings().devAddr = wtext::FormatInt(station);
    lineAnswered_ = link_->ConnectNormal();
    return lineAnswered_;
}

bool Session::lineAnswered() const
{
    const ProtocolLink& l = link_->registerLink();
    return lineAnswered_ && l.IsOpen() && l.PortOpen() && !l.DeviceLost();
}

bool Session::Reach(int station)
{
    if (!lineAnswered()) return ConnectNormal(station);
    link_->settings().devAddr = wtext::FormatInt(station);
    return link_->ProbeStation();
}

bool Session::ConnectBoot()
{
    lineAnswered_ = false;
    return link_->ConnectBoot();
}

bool Session::SelectRecords(const std::vector<std::string>& args, std::vector<int>* records,
                            std::vector<std::string>* unknown) const
{
    std::set<int> chosen;
    if (args.empty()) {
        for (int i : paramview::ParamViewRows(table_, -1)) chosen.insert(i);
    }
    for (const std::string& a : args) {
        const std::wstring w = Widen(a);
        bool found = false;
        if (!w.empty() && (w[0] == L'G' || w[0] == L'g')) {
            const std::wstring code = w.substr(1);
            const bool numeric = AllDigits(a.substr(1));
            for (const ParamGroup& g : table_.groups) {
                if (g.code == code || (numeric && g.number == wtext::ParseInt(code))) {
                    for (int i : paramview::GroupRows(table_, g.number)) chosen.insert(i);
                    found = true;
                    break;
                }
                for (const ParamSubgroup& sg : g.subgroups) {
                    if (!found && sg.code == code) {
                        for (int i : paramview::GroupRows(table_, sg.number)) chosen.insert(i);
                        found = true;
                    }
                }
                if (found) break;
            }
        } else {
            const std::wstring pnu = !w.empty() && (w[0] == L'P' || w[0] == L'p') ? w.substr(1) : w;
            for (const ParamRecord& r : table_.params) {
                if (r.pnu == pnu) {
                    chosen.insert(r.index);
                    found = true;
                    break;
                }
            }
        }
        if (!found) unknown->push_back(a);
    }
    records->assign(chosen.begin(), chosen.end());
    return unknown->empty();
}

}  // namespace cli
