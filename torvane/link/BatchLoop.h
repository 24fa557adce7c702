// The batch loop every view's transfer command follows: the checked rows in
// order, a failing row retried until it is given up, a step budget of three
// passes per row, and the running flag that stops the batch between attempts.
#pragma once

#include <atomic>
#include <functional>
#include <vector>

class BatchLoop {
public:
    enum class Attempt {
        Done,       // the row's transfer succeeded
        Failed,     // failed; the row is tried again until it is given up
        GiveUpNow,  // failed in a way that retrying cannot mend: give up at once
        Abort,      // failed because the link is gone: the batch ends here,
                    // the row neither done nor given up
    };

    struct Hooks {
        // One transfer attempt of a row (worker thread).
        std::function<Attempt(int row)> attempt;
        // After a successful attempt (apply the result, advance the progress).
        std::function<void(int row)> done;
        // A row that is given up (report it as the view does).
        std::function<void(int row)> givenUp;
    };

    struct Result {
        int steps = 0;       // passes of the loop
        int attempts = 0;    // transfer attempts made
        int doneRows = 0;
        int givenUpRows = 0;
        int nextRow = 0;     // the row the loop stopped at (rows() when all were handled)
        bool stopped = false;  // ended because the running flag was cleared
        bool aborted = false;  // ended by an attempt that answered Abort (nextRow is its row)
    };

    // attemptsPerRow: a row is given up at its attemptsPerRow-th consecutive
    // failure (4 for the parameter views, 3 for the function view).
    explicit BatchLoop(int attemptsPerRow = 4) : attemptsPerRow_(attemptsPerRow) {}

    // Runs over rows with their transfer flags while `running` is set. The
    // loop makes at most 3 x rows passes: when failures pile up, the batch
    // ends before the last rows without reporting them.
    Result Run(const std::vector<bool>& transfer, const std::atomic<bool>& running, const Hooks& hooks) const;

    int attemptsPerRow() const { return attemptsPerRow_; }

private:
    int attemptsPerRow_;
};
