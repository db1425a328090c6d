#include "serial/UiBridge.h"

#include <atomic>
#include <cstdio>
#include <string>

namespace kv {

namespace {

// What a thread gets while no bridge is installed: no thread is the UI
// thread and no work is taken. ProcessEvents still waits its slice (a loop
// that drains the UI thread in slices must not spin), and Wake ends it.
class TRefusingUiBridge : public TUiBridge {
public:
    bool Synchronize(std::function<void()>) override { return false; }
    void ProcessEvents(int ms) override
    {
        std::unique_lock<std::mutex> lk(m_);
        if (ms > 0)
            cv_.wait_for(lk, std::chrono::milliseconds(ms), [this] { return woken_; });
        woken_ = false;
    }
    void Wake() override
    {
        std::lock_guard<std::mutex> g(m_);
        woken_ = true;
        cv_.notify_all();
    }
    bool IsUiThread() const override { return false; }

private:
    std::mutex m_;
    std::condition_variable cv_;
    bool woken_ = false;
};

TRefusingUiBridge& Refusal()
{
    // Never destroyed: detached port threads may ask while the process exits.
    static TRefusingUiBridge* r = new TRefusingUiBridge;
    return *r;
}

std::atomic<TUiBridge*> g_bridge{nullptr};
std::mutex g_handlerMutex;
TExceptionHandler g_handler;

TExceptionHandler CurrentHandler()
{
    std::lock_guard<std::mutex> g(g_handlerMutex);
    return g_handler;
}

}  // namespace

void RunApplicationExceptionHandler(std::exception_ptr e)
{
    TExceptionHandler h = CurrentHandler();
    if (!h) {
        WriteExceptionToStderr(e);
        return;
    }
    try {
        h(e);
    } catch (...) {
    }
}

TUiBridge& UiBridge()
{
    TUiBridge* b = g_bridge.load();
    return b ? *b : Refusal();
}

void SetUiBridge(TUiBridge* bridge)
{
    g_bridge.store(bridge);
    // Whoever waits in the refusal's ProcessEvents looks again.
    if (bridge)
        Refusal().Wake();
}

bool HasUiBridge()
{
    return g_bridge.load() != nullptr;
}

void RequireUiThread(const char* what)
{
    if (!UiBridge().IsUiThread())
        throw EUiThreadRequired(std::string(what) + ": called off the UI thread");
}

void SetApplicationExceptionHandler(TExceptionHandler handler)
{
    std::lock_guard<std::mutex> g(g_handlerMutex);
    g_handler = std::move(handler);
}

void HandleApplicationException(std::exception_ptr e)
{
    TUiBridge& ui = UiBridge();
    if (ui.IsUiThread()) {
        RunApplicationExceptionHandler(e);
        return;
    }
    if (!ui.Synchronize([e] { RunApplicationExceptionHandler(e); }))
        WriteExceptionToStderr(e);
}

void WriteExceptionToStderr(std::exception_ptr e)
{
    try {
        std::rethrow_exception(e);
    } catch (const std::exception& ex) {
        std::fprintf(stderr, "kvmanage: %s\n", ex.what());
    } catch (...) {
        std::fprintf(stderr, "kvmanage: unknown exception\n");
    }
}

struct TQueueUiBridge::Task {
    std::function<void()> fn;
    bool finished = false;
    bool abandoned = false;
    std::condition_variable done;
};

TQueueUiBridge::TQueueUiBridge() : owner_(std::this_thread::get_id()) {}

TQueueUiBridge::~TQueueUiBridge()
{
    Shutdown();
    if (g_bridge.load() == this)
        g_bridge.store(nullptr);
}

bool TQueueUiBridge::IsUiThread() const
{
    return std::this_thread::get_id() == owner_;
}

bool TQueueUiBridge::Synchronize(std::function<void()> fn)
{
    if (IsUiThread()) {
        try {
            fn();
        } catch (...) {
            RunApplicationExceptionHandler(std::current_exception());
        }
        return true;
    }
    auto task = std::make_shared<Task>();
    task->fn = std::move(fn);
    std::unique_lock<std::mutex> lk(m_);
    if (closed_)
        return false;
    queue_.push_back(task);
    cv_.notify_all();
    task->done.wait(lk, [&] { return task->finished || task->abandoned; });
    return task->finished;
}

void TQueueUiBridge::ProcessEvents(int ms)
{
    std::unique_lock<std::mutex> lk(m_);
    auto ready = [this] { return !queue_.empty() || woken_ || closed_; };
    if (ms > 0)
        cv_.wait_for(lk, std::chrono::milliseconds(ms), ready);
    woken_ = false;
    while (!queue_.empty()) {
        auto task = queue_.front();
        queue_.pop_front();
        lk.unlock();
        try {
            task->fn();
        } catch (...) {
            RunApplicationExceptionHandler(std::current_exception());
        }
        lk.lock();
        task->finished = true;
        task->done.notify_all();
    }
}

void TQueueUiBridge::Wake()
{
    std::lock_guard<std::mutex> g(m_);
    woken_ = true;
    cv_.notify_all();
}

void TQueueUiBridge::Shutdown()
{
    std::lock_guard<std::mutex> g(m_);
    closed_ = true;
    for (auto& t : queue_) {
        t->abandoned = true;
        t->done.notify_all();
    }
    queue_.clear();
    cv_.notify_all();
}

size_t TQueueUiBridge::Pending() const
{
    std::lock_guard<std::mutex> g(m_);
    return queue_.size();
}

}  // namespace kv
