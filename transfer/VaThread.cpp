#include "transfer/VaThread.h"

#include <pthread.h>
#include <unistd.h>

#include "serial/UiBridge.h"

namespace kv {

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
    ApplyThreadPriority(tid_, p);
}

void TVaThread::Run()
{
    tid_ = static_cast<int>(gettid());
    pthread_setname_np(pthread_self(), "kv-transfer");
    ApplyThreadPriority(tid_, priority_);
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
