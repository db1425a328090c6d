// What every session test needs: a headless UI thread (the test's own),
// scripted dialogs, and helpers that run jobs on the worker.
#pragma once

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "serial/UiBridge.h"
#include "serial/VaComm.h"
#include "session/Joint.h"
#include "session/Server.h"
#include "tests/support/ScriptedDialogs.h"
#include "tests/support/UiThread.h"

namespace kvtest {

// Waits, processing UI work, until the worker is idle again.
inline void WaitIdle(kv::TCOMServer& server)
{
    while (server.idle.WaitMs(0) != kv::wrSignaled)
        kv::UiBridge().ProcessEvents(100);
}

// Claims the worker and runs one job to its end.
inline void RunJob(kv::TCOMServer& server, kv::TJoint* job)
{
    WaitIdle(server);
    server.idle.Unsignal();
    server.Start(job);
    WaitIdle(server);
}

// A job made of scripted steps: each step says where it must run and what
// it does; the job is finished after the last step.
class TStepJob : public kv::TJoint {
public:
    struct Step {
        bool ui;
        std::function<void()> fn;
    };
    explicit TStepJob(std::vector<Step> steps) : steps_(std::move(steps)) {}
    bool needsync() override { return next_ < steps_.size() && steps_[next_].ui; }
    bool process() override
    {
        if (next_ >= steps_.size())
            return true;
        Step& s = steps_[next_++];
        onUi.push_back(kv::UiBridge().IsUiThread());
        s.fn();
        return next_ >= steps_.size();
    }
    // For each step that ran: whether it ran on the UI thread.
    std::vector<bool> onUi;

private:
    std::vector<Step> steps_;
    size_t next_ = 0;
};

// A setting object that only records what the step machine called.
class TRecordingJoint : public kv::TJoint1 {
public:
    explicit TRecordingJoint(uint8_t menuCode = 6, int inputSets = 2)
        : inputSets_(inputSets)
    {
        menu = menuCode;
    }
    void input() override
    {
        log("input");
        action = inputSets_;
    }
    void getp() override
    {
        log("getp");
        if (onGet)
            onGet();
    }
    void setp() override { log("setp"); }
    void output() override { log("output"); }

    std::function<void()> onGet;
    // Name of each call and whether it ran on the UI thread.
    std::vector<std::string> calls;
    std::vector<bool> callsOnUi;

private:
    void log(const char* what)
    {
        calls.push_back(what);
        callsOnUi.push_back(kv::UiBridge().IsUiThread());
    }
    int inputSets_;
};

}  // namespace kvtest
