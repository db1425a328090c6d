// The thread class the transfer workers derive from: created suspended,
// started once, told to stop with Terminate, and, when Execute has
// returned, runs its end handler on the UI thread before it signals Ended.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "serial/VaComm.h"
#include "serial/VaSync.h"

namespace kv {

class TVaThread {
public:
    TVaThread() = default;
    // Waits for a started thread to end.
    virtual ~TVaThread();
    TVaThread(const TVaThread&) = delete;
    TVaThread& operator=(const TVaThread&) = delete;

    // Runs Execute on a new thread. Once only.
    void Start();
    void Terminate() { terminated_ = true; }
    bool Terminated() const { return terminated_; }
    TThreadPriority Priority() const { return priority_; }
    // Takes effect when the thread starts, or at once if it runs.
    void SetPriority(TThreadPriority p);

    // Runs on the UI thread, synchronously, after Execute has returned;
    // skipped when it is empty or when SkipEndHandler() has been called
    // before the hand-over runs.
    std::function<void()> OnTerminate;
    // Called on the UI thread by an owner that goes away: the end handler
    // no longer runs.
    void SkipEndHandler() { skipEnd_ = true; }
    // True while OnTerminate runs (on the UI thread). The thread cannot end
    // before its end handler has returned, so an owner that goes away from
    // inside that handler must not wait for it: it hands it to Release.
    bool InEndHandler() const { return inEndHandler_; }

    // Signalled when the thread has left everything it shares behind.
    TVaWaitEvent& Ended() { return ended_; }

    // Lets go of a thread whose owner goes away, without waiting for it: a
    // thread that has not ended yet frees itself when it ends (it touches
    // nothing of its former owner after its end handler); one that never
    // started or has ended is freed now.
    static void Release(std::unique_ptr<TVaThread> thread);

protected:
    virtual void Execute() = 0;

private:
    void Run();

    std::thread thread_;
    std::atomic<bool> terminated_{false};
    std::atomic<bool> skipEnd_{false};
    std::atomic<int> tid_{0};
    std::atomic<TThreadPriority> priority_{tpNormal};
    std::atomic<bool> inEndHandler_{false};
    TVaWaitEvent ended_;
    // Run's last part against Release: whether Run is past its end, and
    // whether the thread owns itself.
    std::mutex endLock_;
    bool finished_ = false;
    bool selfOwned_ = false;
};

}  // namespace kv
