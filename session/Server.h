// The worker thread: runs one job (a TJoint) at a time.
//
// The worker calls the job's process() until it reports finished; before
// each step it asks needsync() and, when that is true, has the UI thread run
// the step while it waits. `idle` is the claim: the session waits for it,
// resets it and then calls Start. A step that throws ends the job: the
// exception goes to the application's exception handler, afterFinish still
// runs and idle is signalled.
//
// A job whose line has hung up ends early: a step that throws ELineLost
// (session/Comm.h), or the interrupt hook answering with another job before
// a step or when a job is over, ends it (its action becomes 0 and its own
// step for 0 runs, which ends every job without touching the line), and the
// worker goes on with the job the hook gave, in the same claim.
//
// A step that throws ELineFault (the unit did not answer, its message shown)
// ends its job the same way; the line-fault hook is told, then the worker
// asks the interrupt hook as after a hang-up.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

#include "serial/VaSync.h"

namespace kv {

class TJoint;

class TCOMServer {
public:
    // Creates the thread suspended: it sleeps until the first Start.
    TCOMServer();
    // Stops the thread (Terminate) and waits for it to end.
    ~TCOMServer();
    TCOMServer(const TCOMServer&) = delete;
    TCOMServer& operator=(const TCOMServer&) = delete;

    // UI thread, after the caller has seen idle signalled and reset it:
    // beforeStart, job := the object, wake the worker.
    void Start(TJoint* object);

    // UI thread: Start when the worker is idle, claiming it; false, starting
    // nothing, when a job runs (it asks the interrupt hook before it ends).
    bool StartIfIdle(TJoint* object);

    // Asked on the worker before each step, after a step threw ELineLost,
    // and when a job is over (there together with going idle, so that a
    // StartIfIdle that found the worker busy is never lost): a job to run
    // instead of the rest, or nullptr. Any thread.
    void SetInterrupt(std::function<TJoint*()> interrupt);
    // Told on the worker when a step threw ELineFault, after its job ended.
    void SetLineFault(std::function<void()> told);

    // The program is shutting down: the worker signals idle and ends after
    // its current step. Any thread.
    void Terminate();
    bool Terminated() const { return terminated_.load(); }

    // The job now running. A step may replace it (the session hands the
    // worker over to the object it has navigated for); the next step then
    // runs on the new job.
    void SetJob(TJoint* object) { job_.store(object); }
    TJoint* Job() const { return job_.load(); }

    // Whether the thread got its raised priority (the system may refuse).
    bool PriorityRaised() const { return priorityRaised_.load(); }

    // Signalled while no job runs; created signalled.
    TVaWaitEvent idle{true};
    // Called by Start on the caller's thread before the worker wakes.
    std::function<void()> beforeStart;
    // Run on the UI thread when a job is over.
    std::function<void()> afterFinish;

private:
    void execute();
    void runJob();
    TJoint* interrupted();
    void endEarly(TJoint* job);

    std::atomic<TJoint*> job_{nullptr};
    std::atomic<bool> terminated_{false};
    std::atomic<bool> priorityRaised_{false};
    TVaWaitEvent wake_{false, true};
    TVaWaitEvent finished_;
    // Guards the interrupt hook, and going idle against StartIfIdle.
    std::mutex claimLock_;
    std::function<TJoint*()> interrupt_;
    std::function<void()> lineFault_;
    std::thread thread_;
};

}  // namespace kv
