// The transfer batches of the parameter views without a view: the read batch
// and the write batch with its check pass, over rows of records with their
// transfer flags. The parameter view runs them on its worker thread and
// turns the hooks into grid updates and messages; the command-line program
// runs them on its own thread and prints. Both get the same addressing,
// conversion, retries and read-back check this way.
#pragma once

#include "BatchLoop.h"
#include "DevicePlugins.h"
#include "LinkHealth.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class ParamTable;

namespace paramxfer {

// Where the registers go: the port, the station, and the flag that stops a
// batch between attempts when cleared.
struct Target {
    CRegisterPort& port;
    uint8_t station;
    const std::atomic<bool>& running;
};

// The rows of a batch: a record index and a transfer flag per row.
struct Rows {
    std::vector<int> records;
    std::vector<bool> transfer;
};

// A batch that ended because its link stopped answering or lost its port
// (the port's health says so after a failed attempt). The remaining rows are
// not tried: each would only wait out its time-outs.
struct ReadStop {
    LinkHealth::State state = LinkHealth::State::NotAnswering;
    int lastRow = -1;          // the last row read before the stop; -1 none
    std::vector<int> notRead;  // rows to transfer that were not read, in order
};

struct WriteStop {
    LinkHealth::State state = LinkHealth::State::NotAnswering;
    int lastRow = -1;              // the last row written or read back before the stop; -1 none
    std::vector<int> written;      // rows the drive took (echoed), in order
    std::vector<int> notWritten;   // rows to transfer that were not written
    std::vector<int> notReadBack;  // written rows whose read-back did not happen
};

struct ReadHooks {
    // The record's value holds what was read.
    std::function<void(int row)> done;
    // A row given up, or one the passes did not reach (with the error of the
    // failure that used them up); not called for rows left by a stop.
    std::function<void(int row, uint8_t err)> givenUp;
    // When set, the rows the passes did not reach come here instead of to
    // givenUp (a view that reports them together).
    std::function<void(int row, uint8_t err)> notReached;
    // The link went away during the batch: the rows not read come here, and
    // to neither hook above. Without it they go to givenUp as no reply.
    std::function<void(const ReadStop& stop)> linkLost;
};

// Reads the records of the rows to transfer into their values.
BatchLoop::Result ReadRows(ParamTable& table, const Rows& rows, const Target& target, const ReadHooks& hooks);

struct WriteHooks {
    // Write pass: a row written (the drive echoed the value).
    std::function<void(int row)> written;
    // Write pass: a row given up, or left unwritten because the passes ran
    // out or the batch was stopped (err 0 then). A drive that refused the
    // value (an exception code, or a value that does not fit the register) is
    // given up at once.
    std::function<void(int row, uint8_t err)> writeGivenUp;
    // Between the passes (only when the batch was not stopped).
    std::function<void()> checkStarts;
    // Check pass: a row read back; `differs` when the value read back shows
    // differently from the record's value (texts formatted by exponent).
    std::function<void(int row, bool differs, const std::wstring& written, const std::wstring& readBack)> checked;
    // Check pass: the value read back, before `checked` (what the drive
    // holds now).
    std::function<void(int row, double value)> readBack;
    // Check pass: a row given up or not reached.
    std::function<void(int row, uint8_t err)> checkGivenUp;
    // The link went away during the batch: the batch ends at once. Rows not
    // reached by then come here and to no other hook (rows given up before
    // the stop went to their hooks and are also listed as not written).
    std::function<void(const WriteStop& stop)> linkLost;
};

// Writes the records' values of the rows to transfer, then reads every one
// of them back and compares.
void WriteRows(const ParamTable& table, const Rows& rows, const Target& target, const WriteHooks& hooks);

// The one message of a stopped batch, e.g. "The drive stopped answering
// after P07.03. 38 parameters were not read."
std::wstring ReadStopText(const ParamTable& table, const Rows& rows, const ReadStop& stop);
// The same for a write batch, with what was written, what was not, and what
// was written but not read back, one line each.
std::wstring WriteStopText(const ParamTable& table, const Rows& rows, const WriteStop& stop);
// The same texts from parameter numbers ("07.03"), for views with batches of
// their own; lastPnu is empty when nothing was transferred before the stop.
std::wstring ReadStopText(LinkHealth::State state, const std::wstring& lastPnu, size_t notRead);
std::wstring WriteStopText(LinkHealth::State state, const std::wstring& lastPnu,
                           const std::vector<std::wstring>& written, const std::vector<std::wstring>& notWritten,
                           const std::vector<std::wstring>& notReadBack);

}  // namespace paramxfer
