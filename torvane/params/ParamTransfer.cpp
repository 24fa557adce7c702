#include "ParamTransfer.h"

#include "ParamTable.h"
#include "ParamViewLogic.h"
#include "RegisterAccess.h"

#include <algorithm>

namespace paramxfer {

namespace {

// A row is given up at its fourth consecutive failure.
constexpr int kAttemptsPerRow = 4;

ParamRecord& RecordOf(ParamTable& table, const Rows& rows, int row)
{
    return table.params[static_cast<size_t>(rows.records[static_cast<size_t>(row)])];
}

const ParamRecord& RecordOf(const ParamTable& table, const Rows& rows, int row)
{
    return table.params[static_cast<size_t>(rows.records[static_cast<size_t>(row)])];
}

// After a failed attempt: whether the link is gone, so that the batch ends
// now instead of waiting out the time-outs of every remaining row.
bool LinkGone(const Target& target, LinkHealth::State* state)
{
    LinkHealth* health = target.port.Health();
    if (!health) return false;
    *state = health->state();
    return *state != LinkHealth::State::Answering;
}

std::vector<std::wstring> Pnus(const ParamTable& table, const Rows& rows, const std::vector<int>& list)
{
    std::vector<std::wstring> out;
    for (int row : list) out.push_back(RecordOf(table, rows, row).pnu);
    return out;
}

std::wstring PnuList(const std::vector<std::wstring>& pnus)
{
    std::wstring text;
    for (const std::wstring& pnu : pnus) text += (text.empty() ? L"P" : L" P") + pnu;
    return text.empty() ? L"-" : text;
}

// "The drive stopped answering after P07.03." and its variants.
std::wstring StopLead(LinkHealth::State state, const std::wstring& lastPnu)
{
    const bool lost = state == LinkHealth::State::PortLost;
    if (lastPnu.empty()) return lost ? L"The port to the drive was lost." : L"The drive is not answering.";
    return (lost ? L"The port to the drive was lost after P" : L"The drive stopped answering after P") + lastPnu +
           L".";
}

std::wstring LastPnu(const ParamTable& table, const Rows& rows, int lastRow)
{
    return lastRow < 0 ? std::wstring() : RecordOf(table, rows, lastRow).pnu;
}

}  // namespace

std::wstring ReadStopText(LinkHealth::State state, const std::wstring& lastPnu, size_t notRead)
{
    return StopLead(state, lastPnu) + L" " + std::to_wstring(notRead) +
           (notRead == 1 ? L" parameter was not read." : L" parameters were not read.");
}

std::wstring WriteStopText(LinkHealth::State state, const std::wstring& lastPnu,
                           const std::vector<std::wstring>& written, const std::vector<std::wstring>& notWritten,
                           const std::vector<std::wstring>& notReadBack)
{
    return StopLead(state, lastPnu) + L"\nWritten: " + PnuList(written) + L"\nNot written: " + PnuList(notWritten) +
           L"\nWritten, not read back: " + PnuList(notReadBack);
}

std::wstring ReadStopText(const ParamTable& table, const Rows& rows, const ReadStop& stop)
{
    return ReadStopText(stop.state, LastPnu(table, rows, stop.lastRow), stop.notRead.size());
}

std::wstring WriteStopText(const ParamTable& table, const Rows& rows, const WriteStop& stop)
{
    return WriteStopText(stop.state, LastPnu(table, rows, stop.lastRow), Pnus(table, rows, stop.written),
                         Pnus(table, rows, stop.notWritten), Pnus(table, rows, stop.notReadBack));
}

BatchLoop::Result ReadRows(ParamTable& table, const Rows& rows, const Target& target, const ReadHooks& hooks)
{
    std::vector<uint8_t> lastError(rows.records.size(), 0);
    uint8_t batchError = 0;
    ReadStop stop;

    BatchLoop::Hooks h;
    h.attempt = [&](int row) {
        uint8_t err = 0;
        if (regaccess::ReadRecord(target.port, target.station, RecordOf(table, rows, row), &err))
            return BatchLoop::Attempt::Done;
        lastError[static_cast<size_t>(row)] = batchError = err;
        if (LinkGone(target, &stop.state)) return BatchLoop::Attempt::Abort;
        return BatchLoop::Attempt::Failed;
    };
    h.done = [&](int row) {
        stop.lastRow = row;
        if (hooks.done) hooks.done(row);
    };
    h.givenUp = [&](int row) {
        if (hooks.givenUp) hooks.givenUp(row, lastError[static_cast<size_t>(row)]);
    };
    const BatchLoop::Result res = BatchLoop(kAttemptsPerRow).Run(rows.transfer, target.running, h);
    if (res.aborted && hooks.linkLost) {
        stop.notRead = paramview::RowsNotReached(rows.transfer, res.nextRow);
        hooks.linkLost(stop);
        return res;
    }
    // A row the passes did not reach carries the failure that used them up.
    if (!res.stopped) {
        for (int row : paramview::RowsNotReached(rows.transfer, res.nextRow)) {
            if (!lastError[static_cast<size_t>(row)]) lastError[static_cast<size_t>(row)] = batchError;
            if (hooks.notReached)
                hooks.notReached(row, lastError[static_cast<size_t>(row)]);
            else
                h.givenUp(row);
        }
    }
    return res;
}

void WriteRows(const ParamTable& table, const Rows& rows, const Target& target, const WriteHooks& hooks)
{
    const size_t n = rows.records.size();
    std::vector<uint8_t> lastError(n, 0);
    const BatchLoop loop(kAttemptsPerRow);
    WriteStop stop;
    std::vector<bool> written(n, false);
    // The rows of the stop, once the link went away during a pass that
    // ended at `nextRow`.
    auto reportStop = [&](bool inCheck, int nextRow) {
        const std::vector<int> left = paramview::RowsNotReached(rows.transfer, nextRow);
        for (size_t row = 0; row < n; ++row) {
            if (!rows.transfer[row]) continue;
            if (written[row])
                stop.written.push_back(static_cast<int>(row));
            else
                stop.notWritten.push_back(static_cast<int>(row));
        }
        if (inCheck) {
            for (int row : left)
                if (written[static_cast<size_t>(row)]) stop.notReadBack.push_back(row);
        } else {
            stop.notReadBack = stop.written;
        }
        hooks.linkLost(stop);
    };

    // Write pass. A drive that refused the value (an exception code, or a
    // value that does not fit the register) refuses it again: no retry.
    BatchLoop::Hooks w;
    w.attempt = [&](int row) {
        uint8_t err = 0;
        if (regaccess::WriteRecord(target.port, target.station, RecordOf(table, rows, row), &err))
            return BatchLoop::Attempt::Done;
        lastError[static_cast<size_t>(row)] = err;
        if (hooks.linkLost && LinkGone(target, &stop.state)) return BatchLoop::Attempt::Abort;
        return err != 0 ? BatchLoop::Attempt::GiveUpNow : BatchLoop::Attempt::Failed;
    };
    w.done = [&](int row) {
        written[static_cast<size_t>(row)] = true;
        stop.lastRow = row;
        if (hooks.written) hooks.written(row);
    };
    w.givenUp = [&](int row) {
        if (hooks.writeGivenUp) hooks.writeGivenUp(row, lastError[static_cast<size_t>(row)]);
    };
    const BatchLoop::Result wr = loop.Run(rows.transfer, target.running, w);
    if (wr.aborted) {
        reportStop(false, wr.nextRow);
        return;
    }
    // Rows left unwritten, also by a stop, are named: a write that did not
    // happen must not pass for a complete one.
    for (int row : paramview::RowsNotReached(rows.transfer, wr.nextRow)) w.givenUp(row);
    if (!target.running.load()) return;

    // Check pass: every row read back and compared as the user sees it.
    if (hooks.checkStarts) hooks.checkStarts();
    std::fill(lastError.begin(), lastError.end(), 0);
    uint8_t batchError = 0;
    std::vector<double> readBack(n, 0.0);
    BatchLoop::Hooks c;
    c.attempt = [&](int row) {
        uint8_t err = 0;
        double v = 0;
        if (regaccess::ReadValue(target.port, target.station, RecordOf(table, rows, row), &v, &err)) {
            readBack[static_cast<size_t>(row)] = v;
            return BatchLoop::Attempt::Done;
        }
        lastError[static_cast<size_t>(row)] = batchError = err;
        if (hooks.linkLost && LinkGone(target, &stop.state)) return BatchLoop::Attempt::Abort;
        return BatchLoop::Attempt::Failed;
    };
    c.done = [&](int row) {
        if (hooks.readBack) hooks.readBack(row, readBack[static_cast<size_t>(row)]);
        stop.lastRow = row;
        std::wstring written, read;
        const bool differs =
            paramview::ReadBackDiffers(RecordOf(table, rows, row), readBack[static_cast<size_t>(row)], &written, &read);
        if (hooks.checked) hooks.checked(row, differs, written, read);
    };
    c.givenUp = [&](int row) {
        if (hooks.checkGivenUp) hooks.checkGivenUp(row, lastError[static_cast<size_t>(row)]);
    };
    const BatchLoop::Result cr = loop.Run(rows.transfer, target.running, c);
    if (cr.aborted) {
        reportStop(true, cr.nextRow);
        return;
    }
    if (!cr.stopped) {
        for (int row : paramview::RowsNotReached(rows.transfer, cr.nextRow)) {
            if (!lastError[static_cast<size_t>(row)]) lastError[static_cast<size_t>(row)] = batchError;
            c.givenUp(row);
        }
    }
}

}  // namespace paramxfer
