#include "WorkerSlots.h"

#include <vector>

WorkerSlots::~WorkerSlots()
{
    JoinAll();
}

ACE_THR_FUNC_RETURN WorkerSlots::ThreadProc(void* arg)
{
    Start_* s = static_cast<Start_*>(arg);
    WorkerSlots* self = s->self;
    const int index = s->index;
    delete s;
    std::function<void()> body;
    {
        std::lock_guard<std::mutex> lock(self->mu_);
        body.swap(self->slots_[index].body);
    }
    if (body) body();
    self->slots_[index].ended.store(true);
    return 0;
}

void WorkerSlots::ReapEnded()
{
    std::vector<ACE_hthread_t> ended;
    {
        std::lock_guard<std::mutex> lock(mu_);
        for (Slot& s : slots_) {
            if (s.taken && s.ended.load()) {
                ended.push_back(s.handle);
                s.taken = false;
                s.handle = ACE_hthread_t();
                s.id = ACE_thread_t();
            }
        }
    }
    // The thread has returned from its body; the join only collects it.
    for (ACE_hthread_t h : ended) ACE_Thread::join(h, nullptr);
}

bool WorkerSlots::Start(std::function<void()> body)
{
    ReapEnded();
    std::lock_guard<std::mutex> lock(mu_);
    for (int i = 0; i < kSlots; ++i) {
        Slot& s = slots_[i];
        if (s.taken) continue;
        s.body = std::move(body);
        s.ended.store(false);
        Start_* arg = new Start_{this, i};
        // The slot table is locked while spawning, so the new thread picks up
        // its body only after the slot is recorded.
        if (ACE_Thread::spawn(&WorkerSlots::ThreadProc, arg, THR_NEW_LWP | THR_JOINABLE, &s.id, &s.handle) != 0) {
            delete arg;
            s.body = nullptr;
            return false;
        }
        s.taken = true;
        return true;
    }
    return false;
}

void WorkerSlots::JoinAll()
{
    std::vector<ACE_hthread_t> handles;
    {
        std::lock_guard<std::mutex> lock(mu_);
        for (Slot& s : slots_) {
            if (!s.taken) continue;
            handles.push_back(s.handle);
            s.taken = false;
            s.handle = ACE_hthread_t();
            s.id = ACE_thread_t();
        }
    }
    for (ACE_hthread_t h : handles) ACE_Thread::join(h, nullptr);
}

int WorkerSlots::Running() const
{
    std::lock_guard<std::mutex> lock(mu_);
    int n = 0;
    for (const Slot& s : slots_)
        if (s.taken && !s.ended.load()) ++n;
    return n;
}

int WorkerSlots::Taken() const
{
    std::lock_guard<std::mutex> lock(mu_);
    int n = 0;
    for (const Slot& s : slots_)
        if (s.taken) ++n;
    return n;
}
