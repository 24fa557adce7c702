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

}  // namespace

BatchLoop::Result ReadRows(ParamTable& table, const Rows& rows, const Target& target, const ReadHooks& hooks)
{
    std::vector<uint8_t> lastError(rows.records.size(), 0);
    uint8_t batchError = 0;

    BatchLoop::Hooks h;
    h.attempt = [&](int row) {
        uint8_t err = 0;
        if (regaccess::ReadRecord(target.port, target.station, RecordOf(table, rows, row), &err))
            return BatchLoop::Attempt::Done;
        lastError[static_cast<size_t>(row)] = batchError = err;
        return BatchLoop::Attempt::Failed;
    };
    h.done = [&](int row) {
        if (hooks.done) hooks.done(row);
    };
    h.givenUp = [&](int row) {
        if (hooks.givenUp) hooks.givenUp(row, lastError[static_cast<size_t>(row)]);
    };
    const BatchLoop::Result res = BatchLoop(kAttemptsPerRow).Run(rows.transfer, target.running, h);
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

    // Write pass. A drive that refused the value (an exception code, or a
    // value that does not fit the register) refuses it again: no retry.
    BatchLoop::Hooks w;
    w.attempt = [&](int row) {
        uint8_t err = 0;
        if (regaccess::WriteRecord(target.port, target.station, RecordOf(table, rows, row), &err))
            return BatchLoop::Attempt::Done;
        lastError[static_cast<size_t>(row)] = err;
        return err != 0 ? BatchLoop::Attempt::GiveUpNow : BatchLoop::Attempt::Failed;
    };
    w.done = [&](int row) {
        if (hooks.written) hooks.written(row);
    };
    w.givenUp = [&](int row) {
        if (hooks.writeGivenUp) hooks.writeGivenUp(row, lastError[static_cast<size_t>(row)]);
    };
    const BatchLoop::Result wr = loop.Run(rows.transfer, target.running, w);
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
        return BatchLoop::Attempt::Failed;
    };
    c.done = [&](int row) {
        if (hooks.readBack) hooks.readBack(row, readBack[static_cast<size_t>(row)]);
        std::wstring written, read;
        const bool differs =
            paramview::ReadBackDiffers(RecordOf(table, rows, row), readBack[static_cast<size_t>(row)], &written, &read);
        if (hooks.checked) hooks.checked(row, differs, written, read);
    };
    c.givenUp = [&](int row) {
        if (hooks.checkGivenUp) hooks.checkGivenUp(row, lastError[static_cast<size_t>(row)]);
    };
    const BatchLoop::Result cr = loop.Run(rows.transfer, target.running, c);
    if (!cr.stopped) {
        for (int row : paramview::RowsNotReached(rows.transfer, cr.nextRow)) {
            if (!lastError[static_cast<size_t>(row)]) lastError[static_cast<size_t>(row)] = batchError;
            c.givenUp(row);
        }
    }
}

}  // namespace paramxfer
