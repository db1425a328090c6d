// Events and locks shared by every thread of the program.
//
// TVaWaitEvent is the one wait primitive: every wait in the program, for
// data, for a reply, for an idle worker, is a wait on such an event with a
// time-out in milliseconds. Nothing polls and nothing sleeps in slices.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <vector>

namespace kv {

// Milliseconds since an arbitrary start, monotonic (the tick counter).
uint64_t TickMs();

// A mutual-exclusion lock. No code path takes a lock it already holds.
class TVaCriticalSection {
public:
    void Enter() { m_.lock(); }
    void Leave() { m_.unlock(); }
    // For std::lock_guard and friends.
    void lock() { Enter(); }
    void unlock() { Leave(); }

private:
    std::mutex m_;
};

// Results of TVaWaitEvent::WaitMs and WaitForAny.
enum TVaWaitResult : int {
    wrSignaled = 0,
    wrTimeout = 1,
    wrAbandoned = 2,
    wrError = 3,
};

class TVaWaitEvent;

namespace detail {
// A waiter on several events at once registers one of these with each.
struct MultiWaiter {
    std::mutex m;
    std::condition_variable cv;
    bool fired = false;
};
}  // namespace detail

// A manual-reset event (or auto-reset, when created so), non-signalled at
// creation unless asked otherwise. WaitMs(-1) waits without limit.
class TVaWaitEvent {
public:
    explicit TVaWaitEvent(bool signaled = false, bool autoReset = false);
    ~TVaWaitEvent();
    TVaWaitEvent(const TVaWaitEvent&) = delete;
    TVaWaitEvent& operator=(const TVaWaitEvent&) = delete;

    void Signal();
    void Unsignal();
    bool IsSignaled() const;
    // Waits until signalled or until timeoutMs have passed; -1 waits forever.
    // An auto-reset event is reset by the wait that sees it signalled.
    TVaWaitResult WaitMs(int timeoutMs);
    // Marks the event abandoned: every present and future wait returns
    // wrAbandoned. Used when the owner of an event goes away.
    void Abandon();
    // The system error code of the last wrError (never set on this platform
    // except by misuse; kept for the interface).
    int LastError() const { return lastError_; }

    // Waits until any of the events is signalled. Returns the index of the
    // first signalled event in list order (so the list order is the priority),
    // or -1 on time-out. Auto-reset events are reset when they are chosen.
    static int WaitForAny(std::initializer_list<TVaWaitEvent*> events, int timeoutMs);

private:
    bool tryConsumeLocked();
    void addWatcher(detail::MultiWaiter* w);
    void removeWatcher(detail::MultiWaiter* w);

    mutable std::mutex m_;
    std::condition_variable cv_;
    bool signaled_;
    bool abandoned_ = false;
    const bool autoReset_;
    int lastError_ = 0;
    std::vector<detail::MultiWaiter*> watchers_;
};

}  // namespace kv
