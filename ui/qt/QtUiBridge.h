// The UI bridge on Qt: the GUI thread is the UI thread.
//
// Synchronize from another thread puts the work in the bridge's own queue,
// posts one drain event to the GUI thread and waits on a TVaWaitEvent of
// its own until the work has run, or until Shutdown releases it (then it
// returns false). The drain runs one piece of work at a time with the queue
// unlocked, and posts itself again before each while more is queued, so a
// piece that opens a modal dialog or waits for the worker (a nested event
// loop) does not hold up the work behind it.
//
// ProcessEvents(ms) runs a local QEventLoop for at most ms milliseconds; it
// ends early when Wake is called or work has been run. While the
// application is quitting, when Qt runs no loop, it waits up to ms for work
// or Wake and runs the work itself.
//
// Shutting down: Shutdown (no more work; every waiting hand-over returns
// false), then let the port threads end (TVaCustomComm::WaitThreadsEnded),
// then SetUiBridge(nullptr), then destroy the bridge.
#pragma once

#include <QObject>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "serial/UiBridge.h"

class QEventLoop;

namespace kv {

class TQtUiBridge : public TUiBridge {
public:
    // On the GUI thread, with the application object made.
    TQtUiBridge();
    ~TQtUiBridge() override;
    TQtUiBridge(const TQtUiBridge&) = delete;
    TQtUiBridge& operator=(const TQtUiBridge&) = delete;

    bool Synchronize(std::function<void()> fn) override;
    void ProcessEvents(int ms) override;
    void Wake() override;
    bool IsUiThread() const override;

    // Refuses further work from other threads and releases every hand-over
    // still waiting (its Synchronize returns false without running it).
    void Shutdown();
    // Number of hand-overs waiting to run.
    size_t Pending() const;

private:
    struct Task;
    class TReceiver;

    void drain();
    // With m_ held: posts the drain event unless one is on its way.
    void postDrainLocked();
    void quitLoopsLocked();

    const std::thread::id owner_;
    std::unique_ptr<TReceiver> receiver_;
    mutable std::mutex m_;
    // For a wait while the application no longer runs event loops.
    std::condition_variable cv_;
    std::deque<std::shared_ptr<Task>> queue_;
    bool drainPosted_ = false;
    bool closed_ = false;
    bool woken_ = false;
    // The local loops of the ProcessEvents calls on the stack, innermost last.
    std::vector<QEventLoop*> loops_;
};

}  // namespace kv
