// torvane-cli: the drive's parameters from a terminal and from scripts.
//
// The commands use the program's own classes for everything that reaches
// the drive or a file: the connection settings and procedures, register
// addressing and conversion, the transfer batches with their retries and
// read-back check, the value checks, and the value files of the parameter
// view. Standard output carries data only; messages and progress go to
// standard error.
#ifdef TORVANE_CLI_FLASH
#include "CliFlash.h"
#endif
#ifdef TORVANE_CLI_MONITOR
#include "CliMonitor.h"
#endif
#include "CliOutput.h"
#include "CliPorts.h"
#include "CliSession.h"

#include "DevicePlugins.h"
#include "DriveIdentity.h"
#include "LanguageTables.h"
#include "LogBuf.h"
#include "ParamPlan.h"
#include "ParamTransfer.h"
#include "ParamViewLogic.h"
#include "ValueCheck.h"
#include "ValueFile.h"

#include <ace/Log_Msg.h>

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

using namespace cli;

namespace {

// Cleared by Ctrl+C: the batch in progress stops after its current attempt.
std::atomic<bool> g_running{true};

void OnInterrupt(int) { g_running = false; }

void Say(const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); }

// ---------------------------------------------------------------- help

const char* const kUsageText =
    "usage: torvane-cli [options] COMMAND [arguments]\n"
    "\n"
    "commands:\n"
    "  ports                    serial ports COM1 to COM16 and what stands in their way\n"
    "  info                     connect and show mode, port, baud rate, station, series\n"
    "  read [GROUP|PNU...]      read parameters (all of the parameter view by default)\n"
    "  write PNU=VALUE...       write parameters, range-checked, and check them back\n"
    "  backup FILE.xls [GROUP|PNU...]  read parameters and save a value file\n"
    "  restore FILE.xls [GROUP|PNU...]  write the values of a value file that differ from the drive\n"
    "  diff [FILE.xls] [GROUP|PNU...]  drive, file and defaults side by side, where they differ\n"
    "  monitor --slot N=PNU...  record quantities as a history file (--out) or CSV\n"
    "  recover [JOURNAL...]     save recordings a killed run left behind as history files\n"
    "  flash PACKAGE.vkr        download a program package into the drive (--dry-run: the plan)\n"
    "  flash --resume           complete a download that broke off\n"
    "\n"
    "options (the settings of config.ini apply unless given):\n"
    "  --port COMn|DEVICE       serial port, by number or device path\n"
    "  --baud N                 baud rate\n"
    "  --parity none|odd|even   parity\n"
    "  --station LIST           station, or for info, read, backup and diff a list such as 1-8,12\n"
    "  --timeout MS             reply time-out in milliseconds\n"
    "  --format table|csv|json  how data is printed (table)\n"
    "  --folder DIR             program folder to take config.ini, Language/ and Parameter/ from\n"
    "  --verbose                the serial link's own diagnostics on standard error\n"
    "  --help                   help, also after a command\n"
    "\n"
    "exit codes: 0 done; 1 diff found differences; 2 usage error; 3 no connection;\n"
    "  4 partly failed (rows or stations; flash: failed before the program was touched);\n"
    "  5 input refused, nothing written;\n"
    "  6 the parameter table or a file could not be read or written;\n"
    "  7 flash: the drive was left in its bootloader: run torvane-cli flash --resume to complete\n";

const std::map<std::string, const char*> kCommandHelp = {
    {"ports",
     "usage: torvane-cli ports\n\n"
     "Lists COM1 to COM16 with the device each maps to (TORVANE_COMn, [Ports] in ports.ini,\n"
     "or /dev/ttyS(n-1)): whether it exists, whether this user may read and write it (and\n"
     "the group to join if not), whether another process holds it (from /proc), and a hint\n"
     "when a modem manager or braille daemon runs that grabs USB serial adapters.\n"
     "Run this first when a connection fails.\n"},
    {"info",
     "usage: torvane-cli [--port P] [--station LIST] info\n\n"
     "Connects as the program does, in normal mode and then in boot mode, and prints the\n"
     "mode, port, baud rate, station, the drive's series text and, in boot mode, the\n"
     "bootloader's version. With several stations each is asked in normal mode in turn.\n"},
    {"read",
     "usage: torvane-cli [options] read [GROUP|PNU...]\n\n"
     "Reads parameters and prints PNU, name (current language), value, unit, default, min\n"
     "and max. GROUP is a group or subgroup code such as G01 or G1.1, PNU a parameter such\n"
     "as P01.04. Without arguments every parameter of the parameter view is read.\n"
     "--format table|csv|json; --station takes a list.\n"},
    {"write",
     "usage: torvane-cli [options] write PNU=VALUE...\n\n"
     "Writes values and reads each back as the parameter view's write does. A value is a\n"
     "number with '.' as the point, or for an enumerated parameter its option code or text.\n"
     "Every value is checked first (known parameter, option, decimals, min..max): when one\n"
     "is refused, nothing is written and the exit code is 5. A value the drive already\n"
     "holds is not written (\"unchanged\") and never refused.\n"},
    {"backup",
     "usage: torvane-cli [options] backup FILE.xls [GROUP|PNU...]\n\n"
     "Reads parameters and saves them as a value file of the parameter view (it loads there\n"
     "with Load Param). With several stations each gets its own file, the station number\n"
     "before the extension (plant.xls -> plant-5.xls); a silent station is reported and\n"
     "the others go on. Rows that could not be read are left out and reported. Values the\n"
     "drive holds outside the table's min..max are saved as read and named on standard error\n"
     "(a restore leaves them alone while the drive still holds them).\n"},
    {"restore",
     "usage: torvane-cli [options] restore FILE.xls [GROUP|PNU...] [--dry-run]\n\n"
     "Loads a value file (it must be for the configured device type), reads the drive,\n"
     "writes only the values that differ, reads them back and prints what changed.\n"
     "GROUP and PNU limit the restore to those parameters of the file. Values with more\n"
     "decimals than the parameter keeps are rounded as the register rounds them.\n"
     "A value the drive already holds is left alone, even outside the table's min..max\n"
     "(a backup holds what the drive holds); a value that differs from the drive and is\n"
     "out of range refuses the whole restore before anything is written (exit code 5).\n"
     "--dry-run prints the plan and writes nothing.\n"},
    {"diff",
     "usage: torvane-cli [options] diff [FILE.xls] [GROUP|PNU...]\n\n"
     "Compares the drive, the value file (when given) and the defaults, and prints only the\n"
     "rows where any two differ, as the parameter view shows the values. With a file only\n"
     "the parameters it holds are read. With several stations each is compared with the\n"
     "same file. Exit code 1 when rows differ, 0 when none do; when a station or row could\n"
     "not be read, 4 (or 3 when no station answered) wins over 1: the comparison is\n"
     "not complete.\n"},
    {"monitor",
     "usage: torvane-cli [options] monitor --slot N=PNU|ADDRESS... [--interval 1sec] [--duration 10m]\n"
     "                   (--out FILE.xls | --format csv)\n\n"
     "Records up to ten quantities (slot 1 to 10, each a parameter such as P09.00 or its\n"
     "address such as 2305) once per interval (20sec 10sec 5sec 2sec 1sec 500ms 400ms 200ms\n"
     "100ms 50ms) as the real-time monitor does, until --duration (90s, 10m, 1h) has passed,\n"
     "Ctrl+C or SIGTERM, or 10000 samples. --out saves a history file (the history viewer\n"
     "loads it); --format csv prints each sample on standard output as it is taken. While it\n"
     "runs, the recording is journalled in the history folder: a killed run leaves it for\n"
     "torvane-cli recover and for the program's next start. Progress (samples, lost sweeps,\n"
     "the link) goes to standard error on a terminal. Drive commands are not sent.\n"},
    {"flash",
     "usage: torvane-cli [options] flash PACKAGE.vkr [--direct] [--series S] [--power P] [--data] [--program]\n"
     "                   [--dry-run]\n"
     "       torvane-cli [options] flash --resume [PACKAGE.vkr]\n\n"
     "Downloads a program package into the drive as the download view does: the package is\n"
     "opened with the view's limits, the drive is checked (its series in normal mode, then\n"
     "the boot request and its part number from the bootloader; --direct for a drive already\n"
     "in its bootloader), the model is the package's model with the drive's part number\n"
     "(--series and --power, when given, must agree with the drive, or nothing is written:\n"
     "exit code 5), and the download sequence writes the data files (--data) and the program\n"
     "file (--program), by default both when the model has them, and always the init file.\n"
     "The transcript is appended to download_log.txt. Progress goes to standard error on a\n"
     "terminal. --dry-run prints the plan (model, files, sizes, steps) and sends the drive\n"
     "nothing but the connection's requests (its presence test and the series): no boot\n"
     "request, no parameter or memory written; from a drive in normal\n"
     "mode it lists every model of the drive's series. Ctrl+C stops the download at its next\n"
     "step and says what the drive holds. A download that broke off after the program began\n"
     "leaves the drive in its bootloader (exit code 7); flash --resume completes it on the\n"
     "same drive (same part number) with the same model, the package given or the one used.\n"
     "One drive per port: no station list. Each port is held by one flash for the whole run;\n"
     "a second flash on the same port ends at once (exit code 3, \"in use\"). Flash several\n"
     "ports with one process each.\n"},
    {"recover",
     "usage: torvane-cli [options] recover [JOURNAL...]\n\n"
     "Saves recordings that a killed or crashed run left behind (their journals, by default\n"
     "every one in the history folder that no running log holds) as history files in the\n"
     "history folder, prints their names and removes the journals. A damaged journal gives\n"
     "every whole sample before the damage.\n"},
};

// A usage error is one line and where the help is, not the help itself: a
// script's log should show what was wrong.
int Usage(const std::string& error)
{
    Say("torvane-cli: " + (error.empty() ? std::string("usage error") : error) +
        " (torvane-cli --help lists the commands and options)");
    return kUsage;
}

// ---------------------------------------------------------------- shared

struct Tally {
    int stations = 0;
    int silent = 0;
    int partial = 0;

    int Code() const
    {
        if (stations > 0 && silent == stations) return kConnection;
        return silent || partial ? kPartial : kOk;
    }
};

std::string Station(int s) { return std::to_string(s); }

// The bootloader's reply to its version command without the line breaks
// and the prompt that follow it: the first line that says something.
std::string BootVersionText(const std::string& reply)
{
    size_t from = 0;
    while (from < reply.size()) {
        size_t end = reply.find_first_of("\r\n", from);
        if (end == std::string::npos) end = reply.size();
        std::string line = reply.substr(from, end - from);
        const size_t prompt = line.find("RedBoot>");
        if (prompt != std::string::npos) line.erase(prompt);
        while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.pop_back();
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.erase(0, 1);
        if (!line.empty()) return line;
        from = end + 1;
    }
    return std::string();
}

// Why a station did not answer: the port first (missing, no access, in
// use), then the drive.
std::string NoReply(Session& session, int station, bool tryBoot = true)
{
    const std::string silent = "station " + Station(station) + ": no reply at " + session.PortText() + ", " +
                               std::to_string(session.Baud()) + " baud";
    // Another station answered on this line: the port and its settings are
    // good, and the line stays open for the stations after this one.
    if (session.lineAnswered()) return silent;
    // The failed attempt leaves its link open; the port is looked at as
    // another program would find it.
    session.link().CloseLinks();
    const PortState p = InspectPort(session.link().settings().PortNumber());
    // A device named on the command line is named back, with advice about
    // that path rather than about the COMn mapping it did not use.
    if (session.portIsDevice() && !p.present && !p.network)
        return p.device + ": serial device not found; check the path (serial adapters appear as /dev/ttyUSBn or "
                          "/dev/ttyACMn; torvane-cli ports lists what there is)";
    if (!p.present || !p.access || p.busy || p.notSerial)
        return session.PortText() + ": " + PortAdvice(p);
    // A drive in its bootloader answers no register request: say so
    // rather than "no reply" (one drive only: a bootloader has no station).
    if (tryBoot && !session.manyStations() && session.ConnectBoot()) {
        const std::string version = BootVersionText(session.link().bootVersion());
        session.Disconnect();
        return "the drive at " + session.PortText() + " is in its bootloader (boot mode" +
               (version.empty() ? std::string() : ": " + version) +
               "); its parameters can be read once it runs its application again";
    }
    return silent;
}

paramxfer::Target TargetFor(int station)
{
    return paramxfer::Target{ModbusPort(), static_cast<uint8_t>(station), g_running};
}

std::string Pnu(const ParamRecord& r) { return "P" + Narrow(r.pnu); }

std::string ValueText(Session& s, const ParamRecord& r)
{
    return Narrow(s.table().ValueText(r, s.languageIndex()));
}

std::string Limit(double v, bool absent, int exponent)
{
    return Narrow(paramview::LimitText(v, absent, exponent));
}

// Reads the records of one station into the table; the records that could
// not be read are reported and left out of `read`.
void ReadStation(Session& s, int station, const std::vector<int>& records, std::vector<bool>* read)
{
    paramxfer::Rows rows{records, std::vector<bool>(records.size(), true)};
    read->assign(records.size(), false);
    Progress progress;
    int done = 0;
    const std::string what = "station " + Station(station) + " read";
    paramxfer::ReadHooks h;
    h.done = [&](int row) {
        (*read)[static_cast<size_t>(row)] = true;
        progress.Show(what, ++done, static_cast<int>(records.size()));
    };
    h.givenUp = [&](int row, uint8_t err) {
        progress.Done();
        Say("station " + Station(station) + ": " + Pnu(s.table().params[static_cast<size_t>(records[row])]) +
            " not read: " + ErrorText(err));
    };
    // A drive that went silent ends the station at once, with one line
    // naming the last parameter read; its rows stay unread (exit code 4).
    h.linkLost = [&](const paramxfer::ReadStop& stop) {
        progress.Done();
        Say("station " + Station(station) + ": " + Narrow(paramxfer::ReadStopText(s.table(), rows, stop)));
    };
    paramxfer::ReadRows(s.table(), rows, TargetFor(station), h);
    progress.Done();
    if (!g_running) Say("interrupted");
}

bool IsNumber(const std::string& text)
{
    char* end = nullptr;
    std::strtod(text.c_str(), &end);
    return !text.empty() && end && *end == '\0';
}

bool AllTrue(const std::vector<bool>& v)
{
    for (bool b : v)
        if (!b) return false;
    return true;
}

// Goes through the stations one after the other: connects each in normal
// mode and reads the records. A silent station is reported and the others
// go on; `body` gets each station that answered, with the rows read.
void ReadStations(Session& s, const std::vector<int>& records, Tally* t,
                  const std::function<void(int station, const std::vector<bool>& read)>& body)
{
    Progress progress;
    for (int station : s.stations()) {
        if (!g_running) break;
        ++t->stations;
        if (s.manyStations()) progress.Show("station " + Station(station), t->stations, int(s.stations().size()));
        const bool answered = s.Reach(station);
        progress.Done();
        if (!answered) {
            Say(NoReply(s, station));
            ++t->silent;
            continue;
        }
        std::vector<bool> read;
        ReadStation(s, station, records, &read);
        if (!AllTrue(read)) ++t->partial;
        body(station, read);
    }
}

std::vector<Column> StationColumn(const Session& s)
{
    if (!s.manyStations()) return {};
    return {Column{"station", "Station", true}};
}

std::string AbsolutePath(const std::string& path)
{
    if (path.empty() || path.front() == '/') return path;
    char cwd[4096];
    return ::getcwd(cwd, sizeof cwd) ? std::string(cwd) + "/" + path : path;
}

bool LooksLikeFile(const std::string& a)
{
    const size_t n = a.size();
    return (n > 4 && (a.compare(n - 4, 4, ".xls") == 0 || a.compare(n - 4, 4, ".XLS") == 0)) ||
           a.find('/') != std::string::npos;
}

// A value file for the table: kOk, kRefused for a file of another device
// type, kFailed for one that cannot be read as a value file (missing, junk,
// cut short), with the messages the parameter view shows.
int LoadValueFile(Session& s, const std::string& path, valuefile::LoadResult* res)
{
    *res = valuefile::Load(Widen(path), s.table());
    using St = valuefile::LoadResult::Status;
    if (res->status == St::Ok) return kOk;
    if (res->status == St::ModelMismatch)
        Say(Narrow(valuefile::ModelMismatchText(s.table().fileBaseName, res->fileModel)));
    Say(Narrow(valuefile::LoadFailedText()) + " " + path + ": " + res->error);
    return res->status == St::ModelMismatch ? kRefused : kFailed;
}

// The values a value file holds, as the parameter view showing every group
// loads it (a later row for the same parameter wins), in record order;
// limited to `only` when it is not empty.
std::vector<paramplan::Want> FileWants(Session& s, const valuefile::LoadResult& res, const std::vector<int>& only)
{
    const std::vector<int> viewRows = paramview::ParamViewRows(s.table(), -1);
    std::map<int, double> byRecord;
    for (const valuefile::Target& t : valuefile::Targets(res.entries, s.table(), viewRows))
        byRecord[t.record] = t.value;
    const std::set<int> limit(only.begin(), only.end());
    std::vector<paramplan::Want> wants;
    for (const auto& [record, value] : byRecord)
        if (limit.empty() || limit.count(record)) wants.push_back(paramplan::Want{record, value});
    return wants;
}

std::vector<int> RecordsOf(const std::vector<paramplan::Want>& wants)
{
    std::vector<int> records;
    for (const paramplan::Want& w : wants) records.push_back(w.record);
    return records;
}

// The drive's values as just read into the session's table: known for the
// rows read.
paramplan::DriveOf DriveRead(Session& s, const std::vector<int>& records, const std::vector<bool>& read)
{
    std::map<int, bool> wasRead;
    for (size_t i = 0; i < records.size(); ++i) wasRead[records[i]] = read[i];
    const ParamTable& table = s.table();
    return [wasRead, &table](int record) {
        const auto it = wasRead.find(record);
        if (it == wasRead.end() || !it->second) return paramplan::Known{};
        return paramplan::Known{true, table.params[static_cast<size_t>(record)].value};
    };
}

// Says why each refused step is refused; true when there was one.
bool SayRefused(Session& s, const std::vector<paramplan::Step>& steps, const std::string& source,
                const std::map<int, std::string>& typed)
{
    bool any = false;
    for (const paramplan::Step& st : steps) {
        if (st.action != paramplan::Action::Refuse) continue;
        const ParamRecord& r = s.table().params[static_cast<size_t>(st.record)];
        const auto as = typed.find(st.record);
        Say((as != typed.end() ? as->second : Pnu(r) + "=" + Narrow(FormatByExponent(st.value, r.exponent)) + source) +
            ": " +
            Narrow(paramplan::RefusalText(s.table(), st, s.languageIndex())) + " (the drive holds " +
            Narrow(FormatByExponent(st.drive.value, r.exponent)) + ")");
        any = true;
    }
    return any;
}

// A copy of the table whose records hold the steps' values: what a write
// batch sends.
ParamTable ValuesOf(const ParamTable& table, const std::vector<paramplan::Step>& steps)
{
    ParamTable values = table;
    for (const paramplan::Step& st : steps) {
        ParamRecord& r = values.params[static_cast<size_t>(st.record)];
        r.value = st.value;
        r.valueUnknown = false;
    }
    return values;
}

bool Prepare(Session& s, bool table, int* code)
{
    std::string error;
    if (!s.Prepare(&error)) {
        *code = Usage(error);
        return false;
    }
    if (table && !s.LoadTable(&error)) {
        Say(error);
        *code = kFailed;
        return false;
    }
    return true;
}

// ---------------------------------------------------------------- commands

int CmdPorts(const Options& o)
{
    Rows out;
    out.columns = {{"port", "Port"},       {"device", "Device"}, {"present", "Present"},
                   {"access", "Access"},   {"held_by", "Held by"}, {"advice", "Advice"}};
    for (int port = DeviceConnection::kSearchFirstPort; port <= DeviceConnection::kSearchLastPort; ++port) {
        const PortState p = InspectPort(port);
        out.Add({"COM" + std::to_string(port), p.device, p.present ? "yes" : "no",
                 !p.present ? "-" : p.access ? "yes" : "no", HolderList(p.holders), PortAdvice(p)});
    }
    Print(stdout, out, o.format);
    return kOk;
}

int CmdInfo(const Options& o)
{
    Session s(o);
    int code = kOk;
    if (!Prepare(s, false, &code)) return code;
    Rows out;
    out.columns = {{"station", "Station", true}, {"mode", "Mode"},     {"port", "Port"},
                   {"baud", "Baud", true},       {"series", "Series"}, {"bootloader", "Bootloader"}};
    Tally t;
    Progress progress;
    for (int station : s.stations()) {
        if (!g_running) break;
        ++t.stations;
        if (s.manyStations()) progress.Show("station " + Station(station), t.stations, int(s.stations().size()));
        const bool answered = s.Reach(station);
        progress.Done();
        if (answered) {
            std::string series;
            uint8_t err = 0;
            if (!driveid::ReadSeries(ModbusPort(), static_cast<uint8_t>(station), &series, &err)) {
                Say("station " + Station(station) + ": series not read: " + ErrorText(err));
                ++t.partial;
            }
            out.Add({Station(station), "normal", s.PortText(), std::to_string(s.Baud()), series, ""});
            continue;
        }
        // A bootloader has no station: it is asked only when one drive is.
        if (!s.manyStations() && s.ConnectBoot()) {
            const ConnectionSettings& cs = s.link().settings();
            out.Add({"", "boot", s.PortText(), Narrow(cs.bootBaud), "", BootVersionText(s.link().bootVersion())});
            continue;
        }
        Say(NoReply(s, station, false) + (s.manyStations() ? "" : " (normal mode), nor from a bootloader"));
        ++t.silent;
    }
    s.Disconnect();
    // Nothing answered: no data, not even the header.
    if (t.Code() != kConnection) Print(stdout, out, o.format);
    return t.Code();
}

int CmdRead(const Options& o)
{
    Session s(o);
    int code = kOk;
    if (!Prepare(s, true, &code)) return code;
    std::vector<int> records;
    std::vector<std::string> unknown;
    if (!s.SelectRecords(o.args, &records, &unknown)) {
        for (const std::string& u : unknown) Say("unknown group or parameter: " + u);
        return kRefused;
    }
    Rows out;
    out.columns = StationColumn(s);
    const std::vector<Column> cols = {{"pnu", "PNU"},         {"name", "Name"},      {"value", "Value", true},
                                      {"unit", "Unit"},       {"default", "Default", true},
                                      {"min", "Min", true},   {"max", "Max", true}};
    out.columns.insert(out.columns.end(), cols.begin(), cols.end());
    Tally t;
    ReadStations(s, records, &t, [&](int station, const std::vector<bool>& read) {
        for (size_t i = 0; i < records.size(); ++i) {
            const ParamRecord& r = s.table().params[static_cast<size_t>(records[i])];
            std::vector<std::string> row;
            if (s.manyStations()) row.push_back(Station(station));
            const std::vector<std::string> cells = {
                Pnu(r), Narrow(PickVariant(r.name, s.languageIndex())), read[i] ? ValueText(s, r) : "-",
                Narrow(r.unit), Limit(r.defaultValue, r.noDefault, r.exponent),
                Limit(r.minValue, r.noMin, r.exponent), Limit(r.maxValue, r.noMax, r.exponent)};
            row.insert(row.end(), cells.begin(), cells.end());
            out.Add(std::move(row));
        }
    });
    s.Disconnect();
    if (t.Code() != kConnection) Print(stdout, out, o.format);
    return t.Code();
}

int CmdBackup(const Options& o)
{
    if (o.args.empty()) return Usage("backup needs a file name");
    Session s(o);
    int code = kOk;
    if (!Prepare(s, true, &code)) return code;
    const std::string file = o.args.front();
    std::vector<int> records;
    std::vector<std::string> unknown;
    if (!s.SelectRecords(std::vector<std::string>(o.args.begin() + 1, o.args.end()), &records, &unknown)) {
        for (const std::string& u : unknown) Say("unknown group or parameter: " + u);
        return kRefused;
    }
    Rows out;
    out.columns = {{"station", "Station", true}, {"file", "File"}, {"saved", "Saved", true}, {"not_read", "Not read", true}};
    Tally t;
    bool saveFailed = false;
    ReadStations(s, records, &t, [&](int station, const std::vector<bool>& read) {
        int saved = 0;
        for (bool b : read) saved += b ? 1 : 0;
        // The drive may hold values its own table calls out of range; they
        // are saved as read, and a restore leaves them alone.
        for (size_t i = 0; i < records.size(); ++i) {
            const ParamRecord& r = s.table().params[static_cast<size_t>(records[i])];
            if (!read[i] || valuecheck::Check(s.table(), r, r.value) == valuecheck::Verdict::Ok) continue;
            Say("station " + Station(station) + ": " + Pnu(r) + " = " + ValueText(s, r) +
                " read from the drive is " +
                Narrow(valuecheck::ReasonText(s.table(), r, valuecheck::Check(s.table(), r, r.value),
                                              s.languageIndex())) +
                " of the parameter table; saved as read");
        }
        const std::string path = Narrow(valuefile::WithXlsExtension(
            Widen(s.manyStations() ? StationFile(file, station) : file)));
        std::string error;
        // Only rows read now are saved: a value file must not carry a value
        // the drive never gave.
        if (!valuefile::Save(Widen(path), s.table(), records, read, &error)) {
            Say(Narrow(valuefile::SaveFailedText()) + " " + path + ": " + error);
            saveFailed = true;
            return;
        }
        out.Add({Station(station), path, std::to_string(saved), std::to_string(records.size() - saved)});
    });
    s.Disconnect();
    if (t.Code() != kConnection) Print(stdout, out, o.format);
    return saveFailed ? kFailed : t.Code();
}

// The result texts of one row of a write batch.
struct WriteResults {
    std::vector<std::string> text;
    bool allGood = true;
};

WriteResults WriteRecords(Session& s, int station, const ParamTable& values, const std::vector<int>& records)
{
    WriteResults res;
    res.text.assign(records.size(), "");
    paramxfer::Rows rows{records, std::vector<bool>(records.size(), true)};
    Progress progress;
    int done = 0;
    const int total = 2 * static_cast<int>(records.size());
    paramxfer::WriteHooks h;
    h.written = [&](int) { progress.Show("write", ++done, total); };
    h.writeGivenUp = [&](int row, uint8_t err) {
        res.text[static_cast<size_t>(row)] = "not written: " + ErrorText(err);
        res.allGood = false;
    };
    h.checked = [&](int row, bool differs, const std::wstring&, const std::wstring& readBack) {
        progress.Show("check", ++done, total);
        std::string& t = res.text[static_cast<size_t>(row)];
        if (differs) {
            t += (t.empty() ? "" : "; ") + std::string("read back ") + Narrow(readBack);
            res.allGood = false;
        } else if (t.empty()) {
            t = "written";
        }
    };
    h.checkGivenUp = [&](int row, uint8_t err) {
        std::string& t = res.text[static_cast<size_t>(row)];
        t += (t.empty() ? "" : "; ") + std::string("not read back: ") + ErrorText(err);
        res.allGood = false;
    };
    paramxfer::WriteRows(values, rows, TargetFor(station), h);
    progress.Done();
    if (!g_running) {
        Say("interrupted");
        res.allGood = false;
    }
    return res;
}

// The rows of a write or restore: each step's record with the result of
// the write, "unchanged" for a value the drive already held.
Rows PlanRows(Session& s, const std::vector<paramplan::Step>& steps, const WriteResults& res,
              const std::vector<int>& written, bool dryRun, bool refused)
{
    Rows out;
    out.columns = {{"pnu", "PNU"}, {"name", "Name"}, {"drive", "Drive", true}, {"value", "Value", true},
                   {"result", "Result"}};
    std::map<int, size_t> at;
    for (size_t i = 0; i < written.size(); ++i) at[written[i]] = i;
    for (const paramplan::Step& st : steps) {
        const ParamRecord& r = s.table().params[static_cast<size_t>(st.record)];
        std::string result;
        switch (st.action) {
        case paramplan::Action::Leave: result = "unchanged"; break;
        case paramplan::Action::ReadFirst: result = "not written: not read"; break;
        case paramplan::Action::Refuse:
            result = "refused: " + Narrow(paramplan::RefusalText(s.table(), st, s.languageIndex()));
            break;
        case paramplan::Action::Write: {
            const auto it = at.find(st.record);
            if (refused) result = "not written";
            else if (dryRun) result = "to write";
            else if (it != at.end() && it->second < res.text.size()) result = res.text[it->second];
            else result = "not written: interrupted";
            break;
        }
        }
        out.Add({Pnu(r), Narrow(PickVariant(r.name, s.languageIndex())),
                 st.drive.known ? Narrow(s.table().ValueText(r, st.drive.value, s.languageIndex())) : "-",
                 Narrow(s.table().ValueText(r, st.value, s.languageIndex())), result});
    }
    return out;
}

// Reads the drive's values of the wants, plans, and unless the plan refuses
// one (or it is a dry run) writes what differs and checks it back. The
// rows printed are those `show` keeps.
int ApplyPlan(Session& s, const Options& o, const std::vector<paramplan::Want>& wants, const std::string& source,
              const std::map<int, std::string>& typed, const std::function<bool(const paramplan::Step&)>& show)
{
    const int station = s.stations().front();
    if (!s.ConnectNormal(station)) {
        Say(NoReply(s, station));
        return kConnection;
    }
    const std::vector<int> records = RecordsOf(wants);
    std::vector<bool> read;
    ReadStation(s, station, records, &read);
    std::vector<paramplan::Step> steps = paramplan::Make(s.table(), wants, DriveRead(s, records, read));
    const bool refused = SayRefused(s, steps, source, typed);
    if (refused) Say("nothing written");
    const std::vector<paramplan::Step> toWrite = paramplan::Only(steps, paramplan::Action::Write);
    std::vector<int> written;
    for (const paramplan::Step& st : toWrite) written.push_back(st.record);
    WriteResults res;
    if (!refused && !o.dryRun && g_running && !toWrite.empty())
        res = WriteRecords(s, station, ValuesOf(s.table(), toWrite), written);
    s.Disconnect();

    std::vector<paramplan::Step> shown;
    for (const paramplan::Step& st : steps)
        if (show(st)) shown.push_back(st);
    Print(stdout, PlanRows(s, shown, res, written, o.dryRun, refused), o.format);
    if (refused) return kRefused;
    if (!AllTrue(read) || !res.allGood || (!o.dryRun && !toWrite.empty() && res.text.empty())) return kPartial;
    return kOk;
}

int CmdWrite(const Options& o)
{
    if (o.args.empty()) return Usage("write needs PNU=VALUE");
    Session s(o);
    int code = kOk;
    if (!Prepare(s, true, &code)) return code;
    if (s.manyStations()) return Usage("write goes to one station");
    ParamTable& table = s.table();
    std::vector<paramplan::Want> wants;
    std::map<int, std::string> typed;
    bool refused = false;
    for (const std::string& a : o.args) {
        const size_t eq = a.find('=');
        if (eq == std::string::npos) return Usage("write takes PNU=VALUE, not " + a);
        std::vector<int> one;
        std::vector<std::string> unknown;
        const std::string name = a.substr(0, eq);
        const bool group = !name.empty() && (name[0] == 'G' || name[0] == 'g');
        if (group || !s.SelectRecords({name}, &one, &unknown) || one.size() != 1) {
            Say(a + ": unknown parameter " + name);
            refused = true;
            continue;
        }
        const ParamRecord& r = table.params[static_cast<size_t>(one.front())];
        // What is typed must say one value exactly; whether that value may
        // go to the drive is the plan's to say, knowing what the drive holds.
        const valuecheck::Parsed p = valuecheck::Parse(table, r, Widen(a.substr(eq + 1)));
        if (p.verdict == valuecheck::Verdict::NotANumber || p.verdict == valuecheck::Verdict::TooManyDecimals ||
            (p.verdict == valuecheck::Verdict::NotAnOption && !IsNumber(a.substr(eq + 1)))) {
            Say(a + ": " + Narrow(valuecheck::ReasonText(table, r, p.verdict, s.languageIndex())));
            refused = true;
            continue;
        }
        for (const paramplan::Want& w : wants)
            if (w.record == r.index) {
                Say(a + ": " + Pnu(r) + " is given twice");
                refused = true;
            }
        wants.push_back(paramplan::Want{r.index, p.value});
        typed[r.index] = a;
    }
    if (refused) {
        Say("nothing written");
        return kRefused;
    }
    return ApplyPlan(s, o, wants, "", typed, [](const paramplan::Step&) { return true; });
}

int CmdRestore(const Options& o)
{
    if (o.args.empty()) return Usage("restore needs a file name");
    Session s(o);
    int code = kOk;
    if (!Prepare(s, true, &code)) return code;
    if (s.manyStations()) return Usage("restore goes to one station");
    const std::string file = o.args.front();
    std::vector<int> chosen;
    std::vector<std::string> unknown;
    const std::vector<std::string> selection(o.args.begin() + 1, o.args.end());
    if (!selection.empty() && !s.SelectRecords(selection, &chosen, &unknown)) {
        for (const std::string& u : unknown) Say("unknown group or parameter: " + u);
        return kRefused;
    }
    valuefile::LoadResult loaded;
    if (const int fc = LoadValueFile(s, file, &loaded)) return fc;
    const std::vector<paramplan::Want> wants = FileWants(s, loaded, chosen);
    return ApplyPlan(s, o, wants, " in " + file, {}, [](const paramplan::Step& st) {
        return st.action == paramplan::Action::Write || st.action == paramplan::Action::Refuse;
    });
}

int CmdDiff(const Options& o)
{
    Session s(o);
    int code = kOk;
    if (!Prepare(s, true, &code)) return code;
    std::vector<std::string> selection = o.args;
    std::string file;
    if (!selection.empty() && LooksLikeFile(selection.front())) {
        file = selection.front();
        selection.erase(selection.begin());
    }
    std::vector<int> records;
    std::vector<std::string> unknown;
    if (!s.SelectRecords(selection, &records, &unknown)) {
        for (const std::string& u : unknown) Say("unknown group or parameter: " + u);
        return kRefused;
    }
    std::map<int, double> fileValue;
    if (!file.empty()) {
        valuefile::LoadResult loaded;
        if (const int fc = LoadValueFile(s, file, &loaded)) return fc;
        // Only what the file holds is compared.
        for (const paramplan::Want& w : FileWants(s, loaded, records)) fileValue[w.record] = w.value;
        records.clear();
        for (const auto& kv : fileValue) records.push_back(kv.first);
    }

    Rows out;
    out.columns = StationColumn(s);
    std::vector<Column> cols = {{"pnu", "PNU"}, {"name", "Name"}, {"drive", "Drive", true}};
    if (!file.empty()) cols.push_back({"file", "File", true});
    cols.push_back({"default", "Default", true});
    cols.push_back({"unit", "Unit"});
    out.columns.insert(out.columns.end(), cols.begin(), cols.end());
    Tally t;
    bool differ = false;
    ReadStations(s, records, &t, [&](int station, const std::vector<bool>& read) {
        // The comparison of the parameter view's compare: the drive's value,
        // the file's at the parameter's resolution, the default.
        std::vector<paramplan::Want> wants;
        for (size_t i = 0; i < records.size(); ++i) {
            const double v = file.empty() ? s.table().params[static_cast<size_t>(records[i])].value
                                          : fileValue[records[i]];
            wants.push_back(paramplan::Want{records[i], v});
        }
        const std::vector<paramplan::Step> steps = paramplan::Make(s.table(), wants, DriveRead(s, records, read));
        for (const paramplan::Step& st : steps) {
            // Rows not read were reported; they take no part.
            if (!st.drive.known || !paramplan::Differs(s.table(), st)) continue;
            differ = true;
            const ParamRecord& d = s.table().params[static_cast<size_t>(st.record)];
            std::vector<std::string> row;
            if (s.manyStations()) row.push_back(Station(station));
            row.push_back(Pnu(d));
            row.push_back(Narrow(PickVariant(d.name, s.languageIndex())));
            row.push_back(ValueText(s, d));
            if (!file.empty()) row.push_back(Narrow(s.table().ValueText(d, st.value, s.languageIndex())));
            row.push_back(Limit(d.defaultValue, d.noDefault, d.exponent));
            row.push_back(Narrow(d.unit));
            out.Add(std::move(row));
        }
    });
    s.Disconnect();
    const int failures = t.Code();
    // Nothing answered: no data, not even the header.
    if (failures != kConnection) Print(stdout, out, o.format);
    // A station that failed outweighs differences elsewhere: the comparison
    // is not complete.
    if (failures != kOk) return failures;
    return differ ? kDifferent : kOk;
}

}  // namespace

int main(int argc, char** argv)
{
    Options o;
    std::string error;
    if (!ParseOptions(argc, argv, &o, &error)) return Usage(error);
    const std::map<std::string, std::function<int(const Options&)>> commands = {
        {"ports", CmdPorts}, {"info", CmdInfo},       {"read", CmdRead}, {"write", CmdWrite},
        {"backup", CmdBackup}, {"restore", CmdRestore}, {"diff", CmdDiff},
#ifdef TORVANE_CLI_MONITOR
        {"monitor", [](const Options& opt) { return CmdMonitor(opt, g_running); }},
        {"recover", CmdRecover},
#endif
#ifdef TORVANE_CLI_FLASH
        {"flash",
         [](const Options& opt) {
             return CmdFlash(opt, g_running, [](Session& s, int station) { return NoReply(s, station, false); });
         }},
#endif
    };
    if (o.help) {
        const auto it = kCommandHelp.find(o.command);
        std::fprintf(stdout, "%s", it != kCommandHelp.end() ? it->second : kUsageText);
        return kOk;
    }
    if (o.command.empty()) return Usage("no command given");
    const auto it = commands.find(o.command);
    if (it == commands.end()) return Usage("unknown command " + o.command);
    if (o.dryRun && o.command != "restore" && o.command != "flash") return Usage("--dry-run belongs to restore and flash");
    if ((o.resume || o.direct || o.data || o.program || !o.series.empty() || !o.power.empty()) && o.command != "flash")
        return Usage("--resume, --direct, --data, --program, --series and --power belong to flash");

    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
    // The link's run-info lines go to its log files only, and its
    // diagnostics only when asked for: standard error is for this program's
    // messages, which say what went wrong in the user's terms.
    LOG_SetOutput(false, true);
    if (!o.verbose) ACE_Log_Msg::instance()->priority_mask(0, ACE_Log_Msg::PROCESS);
    // File names are the user's, relative to where the command was given;
    // the session works in the program folder afterwards.
    const bool firstIsFile = o.command == "backup" || o.command == "restore" || o.command == "flash" ||
                             (o.command == "diff" && !o.args.empty() && LooksLikeFile(o.args.front()));
    if (firstIsFile && !o.args.empty()) o.args.front() = AbsolutePath(o.args.front());
    return it->second(o);
}
