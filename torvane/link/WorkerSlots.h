// The worker threads of one view: four slots, each an ACE thread that runs
// one body (a batch, a sampling loop, a download). A slot is taken when its
// thread starts and is joined by whoever reuses the slot or by JoinAll.
//
// JoinAll is the only wait. It holds no lock while it waits, so a worker that
// is still finishing its last request can run to its end; workers must never
// wait on the thread that joins them (they post to the GUI thread instead of
// calling into it).
#pragma once

#include <ace/Thread.h>

#include <atomic>
#include <functional>
#include <mutex>

class WorkerSlots {
public:
    static constexpr int kSlots = 4;

    WorkerSlots() = default;
    ~WorkerSlots();  // joins what is still running
    WorkerSlots(const WorkerSlots&) = delete;
    WorkerSlots& operator=(const WorkerSlots&) = delete;

    // Starts body on a new thread in the first free slot (slots whose thread
    // has ended are joined and reused). False when all four are busy or the
    // thread could not be spawned.
    bool Start(std::function<void()> body);
    // Waits for every started thread to end and frees all slots.
    void JoinAll();
    // Threads started and not yet ended.
    int Running() const;
    // Slots holding a thread that has not been joined yet.
    int Taken() const;

private:
    struct Slot {
        ACE_thread_t id{};
        ACE_hthread_t handle{};
        bool taken = false;
        std::atomic<bool> ended{false};
        std::function<void()> body;
    };
    struct Start_ {
        WorkerSlots* self;
        int index;
    };
    static ACE_THR_FUNC_RETURN ThreadProc(void* arg);
    void ReapEnded();

    mutable std::mutex mu_;  // guards the slot table, never held while joining
    Slot slots_[kSlots];
};
