#include "BatchLoop.h"

BatchLoop::Result BatchLoop::Run(const std::vector<bool>& transfer, const std::atomic<bool>& running,
                                 const Hooks& hooks) const
{
    Result r;
    const int n = static_cast<int>(transfer.size());
    int row = 0;
    int failures = 0;
    // failures counts the earlier consecutive failures of the current row; the
    // row goes at the failure that makes attemptsPerRow_ of them.
    const int giveUpAt = attemptsPerRow_ - 1;
    while (running.load() && row < n && r.steps < 3 * n) {
        if (!transfer[static_cast<size_t>(row)]) {
            ++row;
        } else {
            ++r.attempts;
            const Attempt a = hooks.attempt ? hooks.attempt(row) : Attempt::Failed;
            if (a == Attempt::Abort) {
                ++r.steps;
                r.aborted = true;
                break;
            }
            if (a == Attempt::Done) {
                if (hooks.done) hooks.done(row);
                ++r.doneRows;
                ++row;
                failures = 0;
            } else if (a == Attempt::GiveUpNow || failures >= giveUpAt) {
                if (hooks.givenUp) hooks.givenUp(row);
                ++r.givenUpRows;
                ++row;
                failures = 0;
            } else {
                ++failures;
            }
        }
        ++r.steps;
    }
    r.nextRow = row;
    r.stopped = !r.aborted && !running.load() && row < n;
    return r;
}
