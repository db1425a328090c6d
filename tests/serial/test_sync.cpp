// The wait primitive and the UI hand-over that every other part builds on.
#include "serial/UiBridge.h"
#include "serial/VaSync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using namespace kv;

TEST(WaitEvent, ManualResetStaysSignalledAutoResetDoesNot)
{
    TVaWaitEvent manual;
    EXPECT_EQ(manual.WaitMs(0), wrTimeout);
    manual.Signal();
    EXPECT_EQ(manual.WaitMs(0), wrSignaled);
    EXPECT_EQ(manual.WaitMs(0), wrSignaled);
    manual.Unsignal();
    EXPECT_EQ(manual.WaitMs(5), wrTimeout);

    TVaWaitEvent autoReset(false, true);
    autoReset.Signal();
    EXPECT_EQ(autoReset.WaitMs(0), wrSignaled);
    EXPECT_EQ(autoReset.WaitMs(0), wrTimeout);
}

TEST(WaitEvent, TimeoutIsHonouredAndSignalFromAnotherThreadWakes)
{
    TVaWaitEvent ev;
    uint64_t t0 = TickMs();
    EXPECT_EQ(ev.WaitMs(50), wrTimeout);
    uint64_t waited = TickMs() - t0;
    EXPECT_GE(waited, 49u);

    std::thread t([&] { ev.Signal(); });
    EXPECT_EQ(ev.WaitMs(5000), wrSignaled);
    t.join();

    TVaWaitEvent gone;
    std::thread a([&] { gone.Abandon(); });
    EXPECT_EQ(gone.WaitMs(-1), wrAbandoned);
    a.join();
}

TEST(WaitEvent, WaitForAnyPrefersListOrderAndTimesOut)
{
    TVaWaitEvent stop, purge, data;
    EXPECT_EQ(TVaWaitEvent::WaitForAny({&stop, &purge, &data}, 10), -1);
    data.Signal();
    purge.Signal();
    EXPECT_EQ(TVaWaitEvent::WaitForAny({&stop, &purge, &data}, 10), 1);
    purge.Unsignal();
    EXPECT_EQ(TVaWaitEvent::WaitForAny({&stop, &purge, &data}, 10), 2);
    data.Unsignal();
    std::thread t([&] { stop.Signal(); });
    EXPECT_EQ(TVaWaitEvent::WaitForAny({&stop, &purge, &data}, -1), 0);
    t.join();
}

TEST(QueueUiBridge, RunsWorkOnOwnerThreadAndReleasesCallers)
{
    TQueueUiBridge ui;
    std::atomic<bool> ranOnOwner{false};
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        EXPECT_FALSE(ui.IsUiThread());
        bool ok = ui.Synchronize([&] { ranOnOwner = ui.IsUiThread(); });
        EXPECT_TRUE(ok);
        returned = true;
    });
    while (!returned)
        ui.ProcessEvents(100);
    worker.join();
    EXPECT_TRUE(ranOnOwner);

    // A throwing hand-over goes to the application handler, not the caller.
    std::atomic<int> handled{0};
    SetApplicationExceptionHandler([&](std::exception_ptr) { ++handled; });
    std::thread thrower([&] { EXPECT_TRUE(ui.Synchronize([] { throw std::runtime_error("x"); })); });
    while (handled == 0)
        ui.ProcessEvents(100);
    thrower.join();
    SetApplicationExceptionHandler(nullptr);

    // Wake ends a wait at once; shutdown releases a caller whose work never runs.
    std::thread waker([&] { ui.Wake(); });
    uint64_t t0 = TickMs();
    ui.ProcessEvents(5000);
    EXPECT_LT(TickMs() - t0, 4000u);
    waker.join();

    std::atomic<int> result{-1};
    std::thread late([&] { result = ui.Synchronize([] {}) ? 1 : 0; });
    while (ui.Pending() == 0)
        std::this_thread::yield();
    ui.Shutdown();
    late.join();
    EXPECT_EQ(result, 0);
}

TEST(UiBridgeInForce, WithoutABridgeEveryThreadIsRefusedAndNoneBecomesTheUiThread)
{
    ASSERT_FALSE(HasUiBridge());
    std::atomic<bool> ran{false};
    bool accepted = true;
    bool askerIsUi = true;
    // A port thread that asks while no bridge is installed.
    std::thread asker([&] {
        accepted = UiBridge().Synchronize([&] { ran = true; });
        askerIsUi = UiBridge().IsUiThread();
    });
    asker.join();
    EXPECT_FALSE(accepted);
    EXPECT_FALSE(ran);
    EXPECT_FALSE(askerIsUi);
    EXPECT_FALSE(UiBridge().IsUiThread());

    // The refusal's slice is a wait that Wake ends, not a spin.
    std::thread waker([] { UiBridge().Wake(); });
    const uint64_t t0 = TickMs();
    UiBridge().ProcessEvents(5000);
    EXPECT_LT(TickMs() - t0, 4000u);
    waker.join();

    // The bridge installed afterwards is the one in force, on its own thread.
    TQueueUiBridge ui;
    SetUiBridge(&ui);
    std::atomic<bool> ranOnUi{false};
    std::atomic<bool> done{false};
    std::thread late([&] {
        EXPECT_FALSE(UiBridge().IsUiThread());
        EXPECT_TRUE(UiBridge().Synchronize([&] { ranOnUi = UiBridge().IsUiThread(); }));
        done = true;
    });
    while (!done)
        ui.ProcessEvents(100);
    late.join();
    EXPECT_TRUE(ranOnUi);
    SetUiBridge(nullptr);
    EXPECT_FALSE(HasUiBridge());
}

TEST(UiBridgeInForce, ExceptionsOfOtherThreadsReachTheHandlerOnTheUiThreadOrStandardError)
{
    std::vector<bool> handledOnUi;
    std::vector<std::string> texts;
    SetApplicationExceptionHandler([&](std::exception_ptr e) {
        handledOnUi.push_back(UiBridge().IsUiThread());
        try {
            std::rethrow_exception(e);
        } catch (const std::exception& x) {
            texts.push_back(x.what());
        }
    });
    auto throwOn = [](const char* text) {
        std::thread t([text] {
            try {
                throw std::runtime_error(text);
            } catch (...) {
                HandleApplicationException(std::current_exception());
            }
        });
        return t;
    };

    {
        TQueueUiBridge ui;
        SetUiBridge(&ui);
        std::atomic<bool> back{false};
        std::thread worker([&] {
            try {
                throw std::runtime_error("worker failed");
            } catch (...) {
                HandleApplicationException(std::current_exception());
            }
            // The handler has run by the time the call returns.
            back = true;
        });
        while (!back)
            ui.ProcessEvents(100);
        worker.join();
        EXPECT_EQ(texts, std::vector<std::string>({"worker failed"}));

        // On the UI thread itself the handler runs at once.
        try {
            throw std::runtime_error("ui failed");
        } catch (...) {
            HandleApplicationException(std::current_exception());
        }

        // Once the UI thread takes no more work: standard error.
        ui.Shutdown();
        testing::internal::CaptureStderr();
        throwOn("after shutdown").join();
        EXPECT_NE(testing::internal::GetCapturedStderr().find("kvmanage: after shutdown"), std::string::npos);
        SetUiBridge(nullptr);
    }
    testing::internal::CaptureStderr();
    throwOn("no bridge").join();
    EXPECT_NE(testing::internal::GetCapturedStderr().find("kvmanage: no bridge"), std::string::npos);
    SetApplicationExceptionHandler(nullptr);

    EXPECT_EQ(texts, std::vector<std::string>({"worker failed", "ui failed"}));
    EXPECT_EQ(handledOnUi, std::vector<bool>({true, true}));
}
