#include "transfer/VaThread.h"

#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "serial/UiBridge.h"

namespace kv {

namespace {

// A priority becomes a nice value relative to the process. Raising it needs
// a privilege an ordinary user may lack; the thread then runs as it is.
void ApplyNice(int tid, TThreadPriority p)
{
    static const int offset[] = {19, 10, 5, 0, -5, -10, -20};
    if (tid <= 0)
        return;
    errno = 0;
    int base = getpriority(PRIO_PROCESS, static_cast<id_t>(getpid()));
    if (errno != 0)
        base = 0;
    const int nice = std::clamp(base + offset[std::clamp(static_cast<int>(p), 0, 6)], -20, 19);
    (void)setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice);
}

}  // namespace

TVaThread::~TVaThread()
{
    if (thread_.joinable()) {
        // Owners destroy a thread once Ended is signalled (Run's last act);
        // what is left is the return. The wait only guards against misuse.
        ended_.WaitMs(60000);
        thread_.join();
    }
}

void TVaThread::Start()
{
    if (thread_.joinable())
        return;
    thread_ = std::thread([this] { Run(); });
}

void TVaThread::SetPriority(TThreadPriority p)
{
    priority_ = p;
    ApplyNice(tid_, p);
}

void TVaThread::Run()
{
    tid_ = static_cast<int>(gettid());
    pthread_setname_np(pthread_self(), "kv-transfer");
    ApplyNice(tid_, priority_);
    try {
        Execute();
    } catch (...) {
        HandleApplicationException(std::current_exception());
    }
    terminated_ = true;
    if (OnTerminate) {
        UiBridge().Synchronize([this] {
            if (skipEnd_)
                return;
            inEndHandler_ = true;
            try {
                OnTerminate();
            } catch (...) {
                inEndHandler_ = false;
                throw;
            }
            inEndHandler_ = false;
        });
    }
    ended_.Signal();
    UiBridge().Wake();
    bool selfOwned;
    {
        std::lock_guard<std::mutex> g(endLock_);
        finished_ = true;
        selfOwned = selfOwned_;
    }
    if (selfOwned) {
        thread_.detach();
        delete this;
    }
}

void TVaThread::Release(std::unique_ptr<TVaThread> thread)
{
    if (!thread)
        return;
    {
        std::lock_guard<std::mutex> g(thread->endLock_);
        if (thread->thread_.joinable() && !thread->finished_) {
            thread->selfOwned_ = true;
            thread.release();
            return;
        }
    }
    thread.reset();
}

}  // namespace kv
