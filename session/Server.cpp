#include "session/Server.h"

#include <exception>
#include <unistd.h>

#include "serial/UiBridge.h"
#include "serial/VaPriority.h"
#include "session/Comm.h"
#include "session/Joint.h"

namespace kv {

TCOMServer::TCOMServer()
{
    thread_ = std::thread([this] { execute(); });
}

TCOMServer::~TCOMServer()
{
    Terminate();
    // The worker may be handing a step to the UI thread; when this is the UI
    // thread, keep running its work until the worker has ended.
    if (UiBridge().IsUiThread()) {
        while (finished_.WaitMs(0) != wrSignaled)
            UiBridge().ProcessEvents(100);
    }
    thread_.join();
}

void TCOMServer::Start(TJoint* object)
{
    if (beforeStart)
        beforeStart();
    job_.store(object);
    wake_.Signal();
}

bool TCOMServer::StartIfIdle(TJoint* object)
{
    std::lock_guard<std::mutex> g(claimLock_);
    if (terminated_.load() || idle.WaitMs(0) != wrSignaled)
        return false;
    idle.Unsignal();
    Start(object);
    return true;
}

void TCOMServer::SetInterrupt(std::function<TJoint*()> interrupt)
{
    std::lock_guard<std::mutex> g(claimLock_);
    interrupt_ = std::move(interrupt);
}

void TCOMServer::SetLineFault(std::function<void()> told)
{
    std::lock_guard<std::mutex> g(claimLock_);
    lineFault_ = std::move(told);
}

TJoint* TCOMServer::interrupted()
{
    std::lock_guard<std::mutex> g(claimLock_);
    return interrupt_ ? interrupt_() : nullptr;
}

void TCOMServer::Terminate()
{
    terminated_.store(true);
    wake_.Signal();
}

void TCOMServer::execute()
{
    // Two steps above normal: a nice value 10 below the process's. Only a
    // privileged process may lower its nice value; otherwise the thread stays
    // at the process's priority.
    priorityRaised_.store(ApplyThreadPriority(static_cast<int>(gettid()), tpHighest));
    for (;;) {
        wake_.WaitMs(-1);
        if (terminated_.load())
            break;
        for (;;) {
            runJob();
            TJoint* next = nullptr;
            {
                std::lock_guard<std::mutex> g(claimLock_);
                if (!terminated_.load() && interrupt_)
                    next = interrupt_();
                if (!next)
                    idle.Signal();
            }
            if (!next)
                break;
            // A job of the worker's own, bracketed like any other.
            if (beforeStart)
                UiBridge().Synchronize(beforeStart);
            job_.store(next);
        }
        UiBridge().Wake();
        if (terminated_.load())
            break;
    }
    idle.Signal();
    finished_.Signal();
    UiBridge().Wake();
}

// Runs one step of the job, on the UI thread when it asks for it. False
// when the UI thread takes no more work.
static bool runStep(TJoint* job, bool& done)
{
    if (!job->needsync()) {
        done = job->process();
        return true;
    }
    std::exception_ptr failure;
    const bool ran = UiBridge().Synchronize([&] {
        try {
            done = job->process();
        } catch (...) {
            failure = std::current_exception();
        }
    });
    if (failure)
        std::rethrow_exception(failure);
    return ran;
}

void TCOMServer::endEarly(TJoint* job)
{
    job->action = 0;
    bool done = false;
    runStep(job, done);
}

void TCOMServer::runJob()
{
    bool done = false;
    try {
        while (!done) {
            if (terminated_.load())
                return;
            TJoint* job = job_.load();
            if (!job)
                break;
            if (TJoint* instead = interrupted()) {
                if (instead != job)
                    endEarly(job);
                job_.store(instead);
                continue;
            }
            try {
                if (!runStep(job, done))
                    return;  // the UI thread takes no more work: nothing can finish
            } catch (const ELineLost&) {
                endEarly(job);
                TJoint* instead = interrupted();
                if (!instead)
                    break;
                job_.store(instead);
            } catch (const ELineFault&) {
                endEarly(job);
                std::function<void()> told;
                {
                    std::lock_guard<std::mutex> g(claimLock_);
                    told = lineFault_;
                }
                if (told)
                    told();
                TJoint* instead = interrupted();
                if (!instead)
                    break;
                job_.store(instead);
            }
        }
    } catch (...) {
        // A step failed in a way its job does not handle: the job ends here.
        HandleApplicationException(std::current_exception());
    }
    if (afterFinish)
        UiBridge().Synchronize(afterFinish);
}

}  // namespace kv
