// Whether the drive behind the register link answers: one state for the
// whole program, fed by the outcome of every register request (views,
// batches, the monitor's sampler, the PID function view, torvane-cli) and by
// the port watch of the device connection.
//
//   Answering     the last request got a reply (an exception reply counts:
//                 the drive is there and speaking); also the state after a
//                 connection attempt starts.
//   NotAnswering  kFailuresForSilence requests in a row got no reply, or a
//                 damaged one (bad CRC looks like no reply; a write echo
//                 carrying other value bytes is damaged).
//   PortLost      the channel's device vanished or was closed under the
//                 link (adapter pulled, far end of the line gone).
//
// The first good reply returns the state to Answering, also from PortLost
// (a reconnection's presence test is a good reply).
//
// Thread-safe: any thread reports. A change of state calls the listener on
// the reporting thread, outside the lock; the program's listener posts the
// change to the GUI thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

class LinkHealth {
public:
    enum class State { Answering, NotAnswering, PortLost };

    // Two requests in a row without a reply make the drive "not answering".
    // One lost reply (a noise burst, one late reply) must not flip the
    // state; two in a row are what the connection's presence test already
    // takes for "no drive". Every request after a time-out first waits for
    // a quiet line (one reply time-out), so each further failure costs two
    // time-outs: with two, a batch ends at most three time-outs after the
    // drive went silent.
    static constexpr int kFailuresForSilence = 2;

    enum class Outcome {
        Reply,     // a reply, normal or exception
        NoReply,   // nothing within the reply time-out (or a bad CRC)
        Damaged,   // a reply that does not fit the request (write echo differs)
    };

    using Listener = std::function<void(State state)>;

    LinkHealth() = default;
    LinkHealth(const LinkHealth&) = delete;
    LinkHealth& operator=(const LinkHealth&) = delete;

    // The outcome of one register request.
    void Report(Outcome outcome);
    // The outcome as the register master reports it: ok, or the error byte
    // (0xFF no reply, 0 with false a differing echo, else an exception).
    void ReportResult(bool ok, uint8_t err);
    // The channel's device is gone.
    void ReportPortLost();
    // A new connection starts: Answering, no failures counted. The time of
    // the last good reply is kept.
    void Reset();

    State state() const;
    bool answering() const { return state() == State::Answering; }
    int consecutiveFailures() const;
    // Wall-clock time of the last good reply in ms since 1970 UTC; 0 before
    // the first.
    uint64_t lastReplyMs() const;
    // Counts every change of state (tests wait for one).
    uint64_t changes() const;

    // Called after every change of state, on the thread that caused it.
    // Null removes it.
    void SetListener(Listener listener);

private:
    void Change(std::unique_lock<std::mutex>& lock, State next);

    mutable std::mutex mu_;
    State state_ = State::Answering;
    int failures_ = 0;
    uint64_t lastReplyMs_ = 0;
    uint64_t changes_ = 0;
    std::shared_ptr<Listener> listener_;
};

// The health of the program's register link: the register master instance
// is process-wide, and so is its health.
LinkHealth& TheLinkHealth();

// The state in words, for the status bar and messages, as a multi-language
// text ("English,Chinese").
const wchar_t* LinkHealthText(LinkHealth::State state);
