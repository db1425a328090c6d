#include "serial/UiBridge.h"

#include <atomic>
#include <cstdio>

namespace kv {

namespace {
std::atomic<TUiBridge*> g_bridge{nullptr};
std::mutex g_handlerMutex;
TExceptionHandler g_handler;
}  // namespace

TUiBridge& UiBridge()
{
    TUiBridge* b = g_bridge.load();
    if (b)
        return *b;
    static TQueueUiBridge fallback;
    TUiBridge* expected = nullptr;
    g_bridge.compare_exchange_strong(expected, &fallback);
    return *g_bridge.load();
}

void SetUiBridge(TUiBridge* bridge)
{
    g_bridge.store(bridge);
}

void SetApplicationExceptionHandler(TExceptionHandler handler)
{
    std::lock_guard<std::mutex> g(g_handlerMutex);
    g_handler = std::move(handler);
}

void HandleApplicationException(std::exception_ptr e)
{
    TExceptionHandler h;
    {
        std::lock_guard<std::mutex> g(g_handlerMutex);
        h = g_handler;
    }
    if (h) {
        try {
            h(e);
        } catch (...) {
        }
        return;
    }
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
            HandleApplicationException(std::current_exception());
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
            HandleApplicationException(std::current_exception());
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
