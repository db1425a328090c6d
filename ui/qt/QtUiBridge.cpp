#include "ui/qt/QtUiBridge.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QTimer>

#include "serial/VaSync.h"

namespace kv {

namespace {

QEvent::Type drainEventType()
{
    static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

void runGuarded(const std::function<void()>& fn)
{
    try {
        fn();
    } catch (...) {
        RunApplicationExceptionHandler(std::current_exception());
    }
}

}  // namespace

struct TQtUiBridge::Task {
    std::function<void()> fn;
    // Signalled when the work has run or was abandoned; `ran` says which.
    TVaWaitEvent done;
    bool ran = false;
};

// Lives on the GUI thread and runs the drain when its event arrives.
class TQtUiBridge::TReceiver : public QObject {
public:
    explicit TReceiver(TQtUiBridge& bridge) : bridge_(bridge) {}

    bool event(QEvent* e) override
    {
        if (e->type() != drainEventType())
            return QObject::event(e);
        bridge_.drain();
        return true;
    }

private:
    TQtUiBridge& bridge_;
};

TQtUiBridge::TQtUiBridge() : owner_(std::this_thread::get_id()), receiver_(std::make_unique<TReceiver>(*this)) {}

TQtUiBridge::~TQtUiBridge()
{
    Shutdown();
}

bool TQtUiBridge::IsUiThread() const
{
    return std::this_thread::get_id() == owner_;
}

bool TQtUiBridge::Synchronize(std::function<void()> fn)
{
    if (IsUiThread()) {
        runGuarded(fn);
        return true;
    }
    auto task = std::make_shared<Task>();
    task->fn = std::move(fn);
    {
        std::lock_guard<std::mutex> g(m_);
        if (closed_)
            return false;
        queue_.push_back(task);
        postDrainLocked();
        cv_.notify_all();
    }
    task->done.WaitMs(-1);
    std::lock_guard<std::mutex> g(m_);
    return task->ran;
}

void TQtUiBridge::postDrainLocked()
{
    if (drainPosted_)
        return;
    drainPosted_ = true;
    // Ahead of repaints: received bytes and the worker's steps wait for nothing.
    QCoreApplication::postEvent(receiver_.get(), new QEvent(drainEventType()), Qt::HighEventPriority);
}

void TQtUiBridge::drain()
{
    std::unique_lock<std::mutex> lk(m_);
    drainPosted_ = false;
    bool ranAny = false;
    while (!queue_.empty()) {
        auto task = queue_.front();
        queue_.pop_front();
        // If this piece runs a nested loop, that loop serves the rest.
        if (!queue_.empty())
            postDrainLocked();
        lk.unlock();
        runGuarded(task->fn);
        lk.lock();
        task->ran = true;
        task->done.Signal();
        ranAny = true;
    }
    if (ranAny)
        quitLoopsLocked();
}

void TQtUiBridge::ProcessEvents(int ms)
{
    if (!IsUiThread())
        return;
    std::unique_lock<std::mutex> lk(m_);
    if (woken_ || ms <= 0) {
        woken_ = false;
        lk.unlock();
        drain();
        return;
    }
    // Work already queued has its drain event posted: the loop runs it.
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(ms);
    loops_.push_back(&loop);
    lk.unlock();
    const int ran = loop.exec();
    lk.lock();
    std::erase(loops_, &loop);
    if (ran == -1) {
        // The application is quitting and Qt starts no loop: wait here.
        cv_.wait_for(lk, std::chrono::milliseconds(ms), [this] { return woken_ || closed_ || !queue_.empty(); });
        woken_ = false;
        lk.unlock();
        drain();
        return;
    }
    woken_ = false;
}

void TQtUiBridge::Wake()
{
    std::lock_guard<std::mutex> g(m_);
    woken_ = true;
    quitLoopsLocked();
    cv_.notify_all();
}

void TQtUiBridge::quitLoopsLocked()
{
    // Only the innermost loop: an outer one returns when the inner ones have.
    if (loops_.empty())
        return;
    QEventLoop* loop = loops_.back();
    if (IsUiThread())
        loop->quit();
    else
        QMetaObject::invokeMethod(loop, &QEventLoop::quit, Qt::QueuedConnection);
}

void TQtUiBridge::Shutdown()
{
    std::lock_guard<std::mutex> g(m_);
    closed_ = true;
    for (auto& task : queue_)
        task->done.Signal();
    queue_.clear();
    quitLoopsLocked();
    cv_.notify_all();
}

size_t TQtUiBridge::Pending() const
{
    std::lock_guard<std::mutex> g(m_);
    return queue_.size();
}

}  // namespace kv
