// The one road from any thread to the user-interface thread.
//
// Port events, transfer events and the worker's dialog steps all reach the
// UI thread through Synchronize(). The window installs a Qt bridge; tests
// and command-line tools install TQueueUiBridge and drain it on the thread
// that owns it.
#pragma once

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace kv {

class TUiBridge {
public:
    virtual ~TUiBridge() = default;
    // Runs fn on the UI thread and waits until it has run. Called on the UI
    // thread, runs fn at once. An exception thrown by fn goes to the
    // application exception handler and never reaches the caller. Returns
    // false, without running fn, once the UI thread no longer takes work.
    virtual bool Synchronize(std::function<void()> fn) = 0;
    // UI thread only: runs pending work, waiting for it up to ms
    // milliseconds. Returns as soon as some work was done or Wake() was called.
    virtual void ProcessEvents(int ms) = 0;
    // Any thread: makes a ProcessEvents in progress return now.
    virtual void Wake() = 0;
    virtual bool IsUiThread() const = 0;
};

// The bridge in force. Installed once at start-up (tests install their own);
// without one installed, a process-wide TQueueUiBridge owned by the first
// thread that asks is used.
TUiBridge& UiBridge();
void SetUiBridge(TUiBridge* bridge);

// The application's exception handler. The default writes the message to
// standard error. Handlers of port events, transfer events and UI steps end
// up here when they throw.
using TExceptionHandler = std::function<void(std::exception_ptr)>;
void SetApplicationExceptionHandler(TExceptionHandler handler);
void HandleApplicationException(std::exception_ptr e);

// Headless bridge: a queue that the owning thread drains in ProcessEvents.
class TQueueUiBridge : public TUiBridge {
public:
    // The constructing thread becomes the UI thread.
    TQueueUiBridge();
    ~TQueueUiBridge() override;

    bool Synchronize(std::function<void()> fn) override;
    void ProcessEvents(int ms) override;
    void Wake() override;
    bool IsUiThread() const override;

    // Refuses further work and releases every caller still waiting in
    // Synchronize (their calls return false).
    void Shutdown();
    // Number of hand-overs waiting to run.
    size_t Pending() const;

private:
    struct Task;
    std::thread::id owner_;
    mutable std::mutex m_;
    std::condition_variable cv_;
    std::deque<std::shared_ptr<Task>> queue_;
    bool woken_ = false;
    bool closed_ = false;
};

}  // namespace kv
