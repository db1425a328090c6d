// The wait primitive and the UI hand-over that every other part builds on.
#include "serial/UiBridge.h"
#include "serial/VaSync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

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
