// The one road from any thread to the user-interface thread.
//
// Port events, transfer events, the worker's dialog steps and the
// application's exceptions all reach the UI thread through Synchronize().
// The window installs a Qt bridge; tests and command-line tools install a
// TQueueUiBridge themselves and drain it on the thread that owns it. There
// is no bridge by default: a thread that asks while none is installed gets
// a refusal (see UiBridge()).
#pragma once

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
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

// The bridge in force. The program (or the test) that owns the UI thread
// installs one with SetUiBridge before any port opens or job runs, and
// uninstalls it (SetUiBridge(nullptr)) before the bridge goes away.
//
// While none is installed, UiBridge() is the refusal: Synchronize returns
// false without running fn, IsUiThread is false on every thread,
// ProcessEvents only waits up to ms (or until Wake) and runs nothing. A
// thread that asks then never becomes a UI thread of its own.
TUiBridge& UiBridge();
void SetUiBridge(TUiBridge* bridge);
// Whether a bridge is installed.
bool HasUiBridge();

// Thrown where work that belongs on the UI thread (a dialog, a widget) is
// asked for on another thread. Carries the name of what was asked.
class EUiThreadRequired : public std::logic_error {
public:
    using std::logic_error::logic_error;
};
// Throws EUiThreadRequired ("<what>: called off the UI thread") unless the
// caller is the UI thread of the bridge in force.
void RequireUiThread(const char* what);

// The application's exception handler. The default writes the message to
// standard error. Handlers of port events, transfer events and UI steps end
// up here when they throw.
//
// The handler runs on the UI thread only (a Qt handler may open a message
// box). HandleApplicationException may be called on any thread: off the UI
// thread it hands the exception over through Synchronize and waits until
// the handler has run; when the UI thread takes no more work (no bridge in
// force, or the bridge refuses) the message goes to standard error instead
// and the handler is not called.
using TExceptionHandler = std::function<void(std::exception_ptr)>;
void SetApplicationExceptionHandler(TExceptionHandler handler);
void HandleApplicationException(std::exception_ptr e);
// For a bridge that caught an exception of work it ran on its own UI
// thread: calls the handler (or the default) right there.
void RunApplicationExceptionHandler(std::exception_ptr e);
// What the default handler writes: "kvmanage: " and the exception's text.
void WriteExceptionToStderr(std::exception_ptr e);

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
