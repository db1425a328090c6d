#include "serial/VaSync.h"

#include <algorithm>

namespace kv {

uint64_t TickMs()
{
    using namespace std::chrono;
    return static_cast<uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

TVaWaitEvent::TVaWaitEvent(bool signaled, bool autoReset)
    : signaled_(signaled), autoReset_(autoReset)
{
}

TVaWaitEvent::~TVaWaitEvent() = default;

void TVaWaitEvent::Signal()
{
    std::vector<detail::MultiWaiter*> watchers;
    {
        std::lock_guard<std::mutex> g(m_);
        signaled_ = true;
        watchers = watchers_;
        // Wake under the lock: a watcher cannot unregister (and go away)
        // while we hold m_.
        for (auto* w : watchers) {
            std::lock_guard<std::mutex> wg(w->m);
            w->fired = true;
            w->cv.notify_all();
        }
    }
    if (autoReset_)
        cv_.notify_one();
    else
        cv_.notify_all();
}

void TVaWaitEvent::Unsignal()
{
    std::lock_guard<std::mutex> g(m_);
    signaled_ = false;
}

bool TVaWaitEvent::IsSignaled() const
{
    std::lock_guard<std::mutex> g(m_);
    return signaled_;
}

void TVaWaitEvent::Abandon()
{
    {
        std::lock_guard<std::mutex> g(m_);
        abandoned_ = true;
        for (auto* w : watchers_) {
            std::lock_guard<std::mutex> wg(w->m);
            w->fired = true;
            w->cv.notify_all();
        }
    }
    cv_.notify_all();
}

bool TVaWaitEvent::tryConsumeLocked()
{
    if (!signaled_)
        return false;
    if (autoReset_)
        signaled_ = false;
    return true;
}

TVaWaitResult TVaWaitEvent::WaitMs(int timeoutMs)
{
    std::unique_lock<std::mutex> lk(m_);
    auto ready = [this] { return abandoned_ || signaled_; };
    if (timeoutMs < 0) {
        cv_.wait(lk, ready);
    } else if (!cv_.wait_for(lk, std::chrono::milliseconds(timeoutMs), ready)) {
        return wrTimeout;
    }
    if (abandoned_)
        return wrAbandoned;
    tryConsumeLocked();
    return wrSignaled;
}

void TVaWaitEvent::addWatcher(detail::MultiWaiter* w)
{
    std::lock_guard<std::mutex> g(m_);
    watchers_.push_back(w);
}

void TVaWaitEvent::removeWatcher(detail::MultiWaiter* w)
{
    std::lock_guard<std::mutex> g(m_);
    watchers_.erase(std::remove(watchers_.begin(), watchers_.end(), w), watchers_.end());
}

int TVaWaitEvent::WaitForAny(std::initializer_list<TVaWaitEvent*> events, int timeoutMs)
{
    detail::MultiWaiter w;
    for (auto* e : events)
        e->addWatcher(&w);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    int result = -1;
    for (;;) {
        {
            std::lock_guard<std::mutex> wg(w.m);
            w.fired = false;
        }
        int i = 0;
        for (auto* e : events) {
            std::lock_guard<std::mutex> g(e->m_);
            if (e->abandoned_ || e->tryConsumeLocked()) {
                result = i;
                break;
            }
            ++i;
        }
        if (result >= 0)
            break;
        std::unique_lock<std::mutex> lk(w.m);
        if (timeoutMs < 0) {
            w.cv.wait(lk, [&] { return w.fired; });
        } else if (!w.cv.wait_until(lk, deadline, [&] { return w.fired; })) {
            lk.unlock();
            // One last look: a signal may have raced the time-out.
            int j = 0;
            for (auto* e : events) {
                std::lock_guard<std::mutex> g(e->m_);
                if (e->abandoned_ || e->tryConsumeLocked()) {
                    result = j;
                    break;
                }
                ++j;
            }
            break;
        }
    }
    for (auto* e : events)
        e->removeWatcher(&w);
    return result;
}

}  // namespace kv
