// The worker thread and the step machine of the setting objects: where each
// step runs, how a job ends, how jobs follow one another.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

#include "serial/VaComm.h"
#include "session/Comm.h"
#include "session/KvMenu.h"
#include "tests/session/Harness.h"

using namespace kv;
using namespace kvtest;

namespace {

struct Worker : ::testing::Test {
    TUiThread ui;
    TScriptedDialogs dialogs;
    TCOMServer server;
    int before = 0;
    int after = 0;
    std::vector<bool> afterOnUi;

    void SetUp() override
    {
        server.beforeStart = [this] { ++before; };
        server.afterFinish = [this] {
            ++after;
            afterOnUi.push_back(UiBridge().IsUiThread());
        };
    }
};

}  // namespace

TEST_F(Worker, JobFinishedAtOnceStillRunsAfterFinishOnceAndGoesIdle)
{
    TStepJob job({{false, [] {}}});
    RunJob(server, &job);
    EXPECT_EQ(job.onUi, std::vector<bool>({false}));
    EXPECT_EQ(before, 1);
    EXPECT_EQ(after, 1);
    EXPECT_EQ(afterOnUi, std::vector<bool>({true}));
    EXPECT_EQ(server.idle.WaitMs(0), wrSignaled);
}

TEST_F(Worker, SyncStepsRunOnTheUiThreadAndExchangesOnTheWorker)
{
    std::thread::id workerId;
    TStepJob job({
        {true, [] {}},
        {false, [&] { workerId = std::this_thread::get_id(); }},
        {true, [] {}},
    });
    RunJob(server, &job);
    EXPECT_EQ(job.onUi, std::vector<bool>({true, false, true}));
    EXPECT_NE(workerId, std::this_thread::get_id());
    EXPECT_EQ(after, 1);
}

TEST_F(Worker, ReplacedJobRunsNextStepInTheSameRunWithOneAfterFinish)
{
    TStepJob second({{false, [] {}}, {true, [] {}}});
    struct THandOver : TJoint {
        TCOMServer* server;
        TJoint* next;
        int calls = 0;
        bool process() override
        {
            ++calls;
            server->SetJob(next);
            return false;
        }
    } first;
    first.server = &server;
    first.next = &second;
    RunJob(server, &first);
    EXPECT_EQ(first.calls, 1);
    EXPECT_EQ(second.onUi, std::vector<bool>({false, true}));
    EXPECT_EQ(before, 1);
    EXPECT_EQ(after, 1);
}

TEST_F(Worker, ThrowingStepEndsTheJobAndTheHandlerHearsOfItOnTheUiThread)
{
    std::vector<std::string> reported;
    std::vector<bool> reportedOnUi;
    SetApplicationExceptionHandler([&](std::exception_ptr e) {
        reportedOnUi.push_back(UiBridge().IsUiThread());
        try {
            std::rethrow_exception(e);
        } catch (const std::exception& ex) {
            reported.push_back(ex.what());
        }
    });
    int ranAfterThrow = 0;
    TStepJob onWorker({{false, [] { throw EVaCommError("Output buffer is full. Please check comm status."); }},
                       {false, [&] { ++ranAfterThrow; }}});
    RunJob(server, &onWorker);
    TStepJob onUi({{true, [] { throw std::runtime_error("dialog failed"); }}, {false, [&] { ++ranAfterThrow; }}});
    RunJob(server, &onUi);
    SetApplicationExceptionHandler(nullptr);

    EXPECT_EQ(ranAfterThrow, 0);
    EXPECT_EQ(reported, std::vector<std::string>({"Output buffer is full. Please check comm status.", "dialog failed"}));
    EXPECT_EQ(reportedOnUi, std::vector<bool>({true, true}));
    EXPECT_EQ(after, 2);
    EXPECT_EQ(server.idle.WaitMs(0), wrSignaled);
}

// A job whose line hung up: what the worker does with the interrupt hook.
namespace {

// Records the action of every step; the step for 1 finds the line dead.
struct TLineJob : TJoint {
    std::vector<int32_t> steps;
    std::atomic<bool>* lost = nullptr;
    bool process() override
    {
        steps.push_back(action);
        if (action == 1) {
            *lost = true;
            throw ELineLost();
        }
        action = 0;
        return true;
    }
};

}  // namespace

TEST_F(Worker, StepThatMeetsAHungUpLineEndsItsJobAndTheHookGivesTheNextInTheSameClaim)
{
    std::atomic<bool> lost{false};
    TLineJob first;
    first.lost = &lost;
    first.action = 1;
    bool claimedMeanwhile = true;
    TStepJob instead({{true, [&] { claimedMeanwhile = server.StartIfIdle(&instead); }}});
    int given = 0;
    server.SetInterrupt([&]() -> TJoint* { return lost && given++ == 0 ? &instead : nullptr; });
    RunJob(server, &first);
    server.SetInterrupt(nullptr);
    EXPECT_EQ(first.steps, std::vector<int32_t>({1, 0})) << "the job's own end step runs, nothing else";
    EXPECT_EQ(first.action, 0);
    EXPECT_EQ(instead.onUi, std::vector<bool>({true}));
    EXPECT_FALSE(claimedMeanwhile) << "a busy worker is not claimed";
    EXPECT_EQ(before, 1);
    EXPECT_EQ(after, 1);
    EXPECT_EQ(server.idle.WaitMs(0), wrSignaled);
}

// A step that found the unit silent (ELineFault, its message already shown)
// ends its job like a hung-up line: the job's own end step runs, the
// line-fault hook hears of it once, and no exception reaches the handler.
TEST_F(Worker, StepThatFindsTheUnitSilentEndsItsJobAndTellsTheLineFaultHook)
{
    std::vector<std::string> reported;
    SetApplicationExceptionHandler([&](std::exception_ptr) { reported.push_back("thrown"); });
    struct TSilentJob : TJoint {
        std::vector<int32_t> steps;
        bool process() override
        {
            steps.push_back(action);
            if (action == 1)
                throw ELineFault();
            action = 0;
            return true;
        }
    } job;
    job.action = 1;
    int faults = 0;
    server.SetLineFault([&] { ++faults; });
    RunJob(server, &job);
    server.SetLineFault(nullptr);
    SetApplicationExceptionHandler(nullptr);
    EXPECT_EQ(job.steps, std::vector<int32_t>({1, 0}));
    EXPECT_EQ(faults, 1);
    EXPECT_TRUE(reported.empty());
    EXPECT_EQ(after, 1);
    EXPECT_EQ(server.idle.WaitMs(0), wrSignaled);
}

TEST_F(Worker, HookAnsweringWhenAJobIsOverStartsItsJobBracketedLikeAnyOther)
{
    // The line hangs up during the last step, which touches no line.
    std::atomic<bool> lost{false};
    TStepJob job({{true, [&] { lost = true; }}});
    TStepJob instead({{false, [] {}}});
    int given = 0;
    server.SetInterrupt([&]() -> TJoint* { return lost && given++ == 0 ? &instead : nullptr; });
    RunJob(server, &job);
    EXPECT_EQ(instead.onUi, std::vector<bool>({false}));
    EXPECT_EQ(before, 2);
    EXPECT_EQ(after, 2);
    // While idle, StartIfIdle claims the worker as Run does.
    TStepJob later({{false, [] {}}});
    ASSERT_TRUE(server.StartIfIdle(&later));
    WaitIdle(server);
    server.SetInterrupt(nullptr);
    EXPECT_EQ(later.onUi, std::vector<bool>({false}));
    EXPECT_EQ(before, 3);
    EXPECT_EQ(after, 3);
}

TEST_F(Worker, IdleEndsTheUiWaitAtOnceInsteadOfAfterASlice)
{
    // Without afterFinish nothing but idle itself can end the UI thread's
    // wait; a wait that only noticed idle at the end of its 100 ms slice
    // would need 2 s for twenty jobs instead of 0.4 s.
    server.afterFinish = nullptr;
    // Each job's step takes 20 ms, so the UI thread is surely inside its
    // slice when the worker goes idle.
    auto work = [] {
        TVaWaitEvent never;
        never.WaitMs(20);
    };
    std::vector<TStepJob> jobs(20, TStepJob({{false, work}}));
    const uint64_t t0 = TickMs();
    for (auto& j : jobs)
        RunJob(server, &j);
    EXPECT_LT(TickMs() - t0, 1500u);
    for (auto& j : jobs)
        EXPECT_EQ(j.onUi, std::vector<bool>({false}));
}

TEST_F(Worker, TerminatedWorkerEndsAndSignalsIdle)
{
    server.Terminate();
    EXPECT_EQ(server.idle.WaitMs(5000), wrSignaled);
    EXPECT_TRUE(server.Terminated());
}

// ---- the setting objects' step machine, driven by the session's Run ----

namespace {

struct Machine : ::testing::Test {
    TUiThread ui;
    TScriptedDialogs dialogs;
    TFormComm comm;
    TCOMServer server;
    TKvMenu session{comm, server};

    void SetUp() override { session.level = 6; }  // the unit stands in "PC SYS>"
};

}  // namespace

TEST_F(Machine, ReadJobCallsGetpOnTheWorkerThenOutputOnTheUi)
{
    TRecordingJoint obj;
    obj.action = 3;
    session.Run(&obj);
    session.WaitIdle();
    EXPECT_EQ(obj.calls, std::vector<std::string>({"getp", "output"}));
    EXPECT_EQ(obj.callsOnUi, std::vector<bool>({false, true}));
    EXPECT_EQ(obj.action, 0);
    EXPECT_TRUE(dialogs.Shown().empty());
}

TEST_F(Machine, EditJobWritesReadsBackAndShowsOrStopsAfterAnUnchangedInput)
{
    TRecordingJoint changed(6, 2);
    changed.action = 1;
    session.Run(&changed);
    session.WaitIdle();
    EXPECT_EQ(changed.calls, std::vector<std::string>({"input", "setp", "getp", "output"}));
    EXPECT_EQ(changed.callsOnUi, std::vector<bool>({true, false, false, true}));
    EXPECT_EQ(changed.action, 0);

    TRecordingJoint unchanged(6, 0);
    unchanged.action = 1;
    session.Run(&unchanged);
    session.WaitIdle();
    EXPECT_EQ(unchanged.calls, std::vector<std::string>({"input"}));
    EXPECT_EQ(unchanged.action, 0);
    EXPECT_EQ(session.level, 6);  // nothing was navigated
}

TEST_F(Machine, SecondRunWaitsForTheFirstWhileTheUiStaysResponsive)
{
    std::vector<std::string> order;
    dialogs.OnShow([&](const TScriptedDialogs::TShown& s) { order.push_back("shown " + s.text); });
    TRecordingJoint first, second;
    first.onGet = [&] {
        order.push_back("first getp");
        ShowWarning("from the first job");  // needs the UI thread while Run waits
    };
    second.onGet = [&] { order.push_back("second getp"); };
    first.action = 3;
    second.action = 3;
    session.Run(&first);
    session.Run(&second);
    // The second Run returned only after the first job had ended. A read
    // that had something to say read no value: nothing is shown as one.
    EXPECT_EQ(first.calls, std::vector<std::string>({"getp"}));
    EXPECT_FALSE(first.valueRead);
    session.WaitIdle();
    EXPECT_EQ(order, std::vector<std::string>({"first getp", "shown from the first job", "second getp"}));
    EXPECT_EQ(second.calls, std::vector<std::string>({"getp", "output"}));
}

TEST_F(Machine, UndefinedMenuIsRefusedAndTheNextRunStillWorks)
{
    TRecordingJoint undefined(0);
    undefined.action = 3;
    session.Run(&undefined);
    EXPECT_EQ(dialogs.Shown(), std::vector<TScriptedDialogs::TShown>(
                                   {{TScriptedDialogs::TKind::Error, "Menu mode is Undefined"}}));
    EXPECT_EQ(server.idle.WaitMs(0), wrSignaled);
    EXPECT_TRUE(undefined.calls.empty());

    TRecordingJoint obj;
    obj.action = 3;
    session.Run(&obj);
    session.WaitIdle();
    EXPECT_EQ(obj.calls, std::vector<std::string>({"getp", "output"}));
}

TEST_F(Machine, BaseOperationsWarnWithTheirOwnNames)
{
    TJoint1 plain;
    plain.input();
    plain.getp();
    plain.setp();
    plain.output();
    TJoint bare;
    EXPECT_FALSE(bare.process());
    EXPECT_EQ(dialogs.Messages(), std::vector<std::string>({"TJoint: input ?", "TJoint: getp ?", "TJoint: setp ?",
                                                            "TJoint: output ?", "TJoint: process ?"}));
    EXPECT_EQ(plain.text(), "Не определен");
    for (int a : {0, 1, 2, 3, 4, 5}) {
        plain.action = a;
        EXPECT_EQ(plain.needsync(), a == 1 || a == 4) << a;
    }
    plain.action = 7;
    EXPECT_TRUE(plain.process());
    EXPECT_EQ(plain.action, 0);
}
