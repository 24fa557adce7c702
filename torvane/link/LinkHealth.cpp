#include "LinkHealth.h"

#include <chrono>
#include <memory>

namespace {

uint64_t WallMs()
{
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::system_clock::now().time_since_epoch())
                                     .count());
}

}  // namespace

void LinkHealth::Change(std::unique_lock<std::mutex>& lock, State next)
{
    if (state_ == next) return;
    state_ = next;
    ++changes_;
    const std::shared_ptr<Listener> listener = listener_;
    // The listener may post, log or ask this object again: never under the lock.
    lock.unlock();
    if (listener && *listener) (*listener)(next);
}

void LinkHealth::Report(Outcome outcome)
{
    std::unique_lock<std::mutex> lock(mu_);
    if (outcome == Outcome::Reply) {
        failures_ = 0;
        lastReplyMs_ = WallMs();
        Change(lock, State::Answering);
        return;
    }
    ++failures_;
    // A lost port stays lost until a reply proves otherwise.
    if (state_ == State::Answering && failures_ >= kFailuresForSilence) Change(lock, State::NotAnswering);
}

void LinkHealth::ReportResult(bool ok, uint8_t err)
{
    if (ok || (err != 0 && err != 0xFF))
        Report(Outcome::Reply);
    else
        Report(err == 0xFF ? Outcome::NoReply : Outcome::Damaged);
}

void LinkHealth::ReportPortLost()
{
    std::unique_lock<std::mutex> lock(mu_);
    Change(lock, State::PortLost);
}

void LinkHealth::Reset()
{
    std::unique_lock<std::mutex> lock(mu_);
    failures_ = 0;
    Change(lock, State::Answering);
}

LinkHealth::State LinkHealth::state() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return state_;
}

int LinkHealth::consecutiveFailures() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return failures_;
}

uint64_t LinkHealth::lastReplyMs() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return lastReplyMs_;
}

uint64_t LinkHealth::changes() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return changes_;
}

void LinkHealth::SetListener(Listener listener)
{
    std::lock_guard<std::mutex> lock(mu_);
    listener_ = listener ? std::make_shared<Listener>(std::move(listener)) : nullptr;
}

LinkHealth& TheLinkHealth()
{
    static LinkHealth health;
    return health;
}

const wchar_t* LinkHealthText(LinkHealth::State state)
{
    switch (state) {
    case LinkHealth::State::Answering: return L"Connect,\u5df2\u8fde\u63a5";
    case LinkHealth::State::NotAnswering: return L"Not answering,\u65e0\u5e94\u7b54";
    case LinkHealth::State::PortLost: return L"Port lost,\u7aef\u53e3\u4e22\u5931";
    }
    return L"";
}
