// What every UI bridge must do, as one type-parameterized test suite. Each
// bridge's test program instantiates it with traits of its own:
//
//   struct Traits {
//       using Bridge = ...;               // made on the test's thread, its UI thread
//       // Runs the toolkit's own nested loop, as a modal dialog does, until
//       // quit() is called (on the UI thread) or ms have passed; true when
//       // quit() ended it.
//       static bool RunModal(Bridge& b, int ms, std::function<void()>& quit);
//   };
//   INSTANTIATE_TYPED_TEST_SUITE_P(Queue, UiBridgeContract, Traits);
//
// The bridge is installed for each test and uninstalled after it.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "serial/UiBridge.h"
#include "serial/VaSync.h"

namespace kvtest {

template <typename Traits>
class UiBridgeContract : public ::testing::Test {
protected:
    using Bridge = typename Traits::Bridge;

    void SetUp() override
    {
        bridge = std::make_unique<Bridge>();
        kv::SetUiBridge(bridge.get());
    }
    void TearDown() override
    {
        bridge->Shutdown();
        kv::SetUiBridge(nullptr);
        kv::SetApplicationExceptionHandler(nullptr);
        bridge.reset();
    }

    // Runs UI work until done() holds, at most ms; true when it held.
    bool ServeUntil(const std::function<bool()>& done, int ms = 20000)
    {
        const uint64_t until = kv::TickMs() + static_cast<uint64_t>(ms);
        while (!done() && kv::TickMs() < until)
            bridge->ProcessEvents(100);
        return done();
    }

    std::unique_ptr<Bridge> bridge;
};

TYPED_TEST_SUITE_P(UiBridgeContract);

TYPED_TEST_P(UiBridgeContract, RunsWorkOnTheUiThreadAtOnceThereAndHandedOverFromOthers)
{
    auto& ui = *this->bridge;
    EXPECT_TRUE(ui.IsUiThread());
    bool now = false;
    EXPECT_TRUE(ui.Synchronize([&] { now = true; }));
    EXPECT_TRUE(now);  // ran before Synchronize returned, without an event loop

    std::atomic<bool> onUi{false};
    std::atomic<bool> returned{false};
    std::atomic<bool> callerIsUi{true};
    int value = 0;
    std::thread caller([&] {
        callerIsUi = ui.IsUiThread();
        EXPECT_TRUE(ui.Synchronize([&] {
            onUi = ui.IsUiThread();
            value = 42;
        }));
        EXPECT_EQ(value, 42);  // the caller waited for the work
        returned = true;
    });
    EXPECT_TRUE(this->ServeUntil([&] { return returned.load(); }));
    caller.join();
    EXPECT_TRUE(onUi);
    EXPECT_FALSE(callerIsUi);
}

TYPED_TEST_P(UiBridgeContract, ProcessEventsEndsWhenWorkHasRunOrWakeIsCalled)
{
    auto& ui = *this->bridge;
    // Far longer than any of these may take: a slice that is not ended
    // early by the work or the wake would show as a wait of a minute.
    constexpr int kSlice = 60000;
    std::atomic<bool> ran{false};
    std::thread caller([&] { ui.Synchronize([&] { ran = true; }); });
    uint64_t t0 = kv::TickMs();
    while (!ran && kv::TickMs() - t0 < 30000)
        ui.ProcessEvents(kSlice);
    EXPECT_TRUE(ran);
    EXPECT_LT(kv::TickMs() - t0, 30000u);
    caller.join();

    std::thread waker([&] { ui.Wake(); });
    t0 = kv::TickMs();
    ui.ProcessEvents(kSlice);
    EXPECT_LT(kv::TickMs() - t0, 30000u);
    waker.join();

    // A wake that came before the slice ends the next one at once.
    ui.Wake();
    t0 = kv::TickMs();
    ui.ProcessEvents(kSlice);
    EXPECT_LT(kv::TickMs() - t0, 30000u);
}

TYPED_TEST_P(UiBridgeContract, WorkThatWaitsOrRunsAModalLoopLetsLaterHandOversRun)
{
    auto& ui = *this->bridge;
    // Work that waits for the worker the way Run does: slices of
    // ProcessEvents until what it waits for has happened on the UI thread.
    std::vector<std::string> order;
    std::atomic<bool> firstDone{false};
    std::thread first([&] {
        ui.Synchronize([&] {
            order.push_back("first begins");
            bool secondRan = false;
            std::thread second([&] {
                ui.Synchronize([&] {
                    order.push_back("second");
                    secondRan = true;
                });
            });
            EXPECT_TRUE(this->ServeUntil([&] { return secondRan; }));
            second.join();
            order.push_back("first ends");
        });
        firstDone = true;
    });
    EXPECT_TRUE(this->ServeUntil([&] { return firstDone.load(); }));
    first.join();
    EXPECT_EQ(order, (std::vector<std::string>{"first begins", "second", "first ends"}));

    // Work that opens a modal dialog: the toolkit's own loop serves the
    // hand-over that closes it.
    std::function<void()> quit;
    bool quitByWork = false;
    std::atomic<bool> modalDone{false};
    std::thread opener([&] {
        ui.Synchronize([&] {
            std::thread closer([&] { ui.Synchronize([&] { quit(); }); });
            quitByWork = TypeParam::RunModal(ui, 20000, quit);
            closer.join();
        });
        modalDone = true;
    });
    EXPECT_TRUE(this->ServeUntil([&] { return modalDone.load(); }));
    opener.join();
    EXPECT_TRUE(quitByWork);
}

TYPED_TEST_P(UiBridgeContract, HandOversQueuedBehindModalWorkRunInsideItsLoop)
{
    auto& ui = *this->bridge;
    // Two hand-overs wait in the queue before the UI thread serves either.
    // Whichever runs first opens a modal loop; the other, queued behind it
    // already, must run inside that loop and closes it.
    std::function<void()> quit;
    int opened = 0;
    bool closedByOther = false;
    auto work = [&] {
        if (opened++ == 0)
            closedByOther = TypeParam::RunModal(ui, 20000, quit);
        else if (quit)
            quit();
    };
    std::atomic<int> returned{0};
    kv::TVaWaitEvent asked[2];
    std::vector<std::thread> callers;
    for (int i = 0; i < 2; ++i) {
        callers.emplace_back([&, i] {
            asked[i].Signal();
            ui.Synchronize(work);
            ++returned;
        });
    }
    for (auto& a : asked)
        ASSERT_EQ(a.WaitMs(10000), kv::wrSignaled);
    // Each caller is between its signal and its queue entry for a few
    // instructions at most.
    const uint64_t until = kv::TickMs() + 10000;
    while (ui.Pending() < 2 && kv::TickMs() < until)
        std::this_thread::yield();
    ASSERT_EQ(ui.Pending(), 2u);
    EXPECT_TRUE(this->ServeUntil([&] { return returned.load() == 2; }));
    for (auto& t : callers)
        t.join();
    EXPECT_EQ(opened, 2);
    EXPECT_TRUE(closedByOther);
}

TYPED_TEST_P(UiBridgeContract, AThrowingHandOverReachesTheApplicationHandlerOnTheUiThread)
{
    auto& ui = *this->bridge;
    std::vector<std::string> handled;
    std::vector<bool> handledOnUi;
    kv::SetApplicationExceptionHandler([&](std::exception_ptr e) {
        handledOnUi.push_back(ui.IsUiThread());
        try {
            std::rethrow_exception(e);
        } catch (const std::exception& x) {
            handled.push_back(x.what());
        }
    });
    std::atomic<bool> returned{false};
    std::atomic<bool> result{false};
    std::atomic<bool> afterRan{false};
    std::thread caller([&] {
        result = ui.Synchronize([] { throw std::runtime_error("Output buffer is full"); });
        ui.Synchronize([&] { afterRan = true; });
        returned = true;
    });
    EXPECT_TRUE(this->ServeUntil([&] { return returned.load(); }));
    caller.join();
    EXPECT_TRUE(result);  // the work ran; its failure is the handler's
    EXPECT_TRUE(afterRan);
    EXPECT_EQ(handled, (std::vector<std::string>{"Output buffer is full"}));
    EXPECT_EQ(handledOnUi, (std::vector<bool>{true}));
}

TYPED_TEST_P(UiBridgeContract, ShutdownReleasesWaitingHandOversAndRefusesNewOnes)
{
    auto& ui = *this->bridge;
    // The caller may hand over just before or just after the shutdown;
    // either way it is released with false and its work never runs.
    constexpr int kCallers = 20;
    std::atomic<int> ran{0};
    std::atomic<int> accepted{0};
    std::vector<std::thread> callers;
    kv::TVaWaitEvent started[kCallers];
    for (int i = 0; i < kCallers; ++i) {
        callers.emplace_back([&, i] {
            started[i].Signal();
            if (ui.Synchronize([&] { ++ran; }))
                ++accepted;
        });
    }
    for (auto& s : started)
        EXPECT_EQ(s.WaitMs(10000), kv::wrSignaled);
    ui.Shutdown();
    for (auto& t : callers)
        t.join();
    EXPECT_EQ(ran, 0);
    EXPECT_EQ(accepted, 0);
    EXPECT_EQ(ui.Pending(), 0u);

    bool afterwards = false;
    std::thread late([&] { afterwards = ui.Synchronize([] {}); });
    late.join();
    EXPECT_FALSE(afterwards);
    // Work of the UI thread itself still runs.
    bool own = false;
    EXPECT_TRUE(ui.Synchronize([&] { own = true; }));
    EXPECT_TRUE(own);
}

TYPED_TEST_P(UiBridgeContract, ManyCallersLoseNothingAndKeepTheirOrder)
{
    auto& ui = *this->bridge;
    constexpr int kThreads = 4;
    constexpr int kEach = 300;
    std::vector<std::vector<int>> seen(kThreads);
    std::atomic<int> finished{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i)
                EXPECT_TRUE(ui.Synchronize([&, t, i] { seen[static_cast<size_t>(t)].push_back(i); }));
            ++finished;
        });
    }
    EXPECT_TRUE(this->ServeUntil([&] { return finished.load() == kThreads; }, 60000));
    for (auto& t : threads)
        t.join();
    for (const auto& s : seen) {
        ASSERT_EQ(s.size(), static_cast<size_t>(kEach));
        for (int i = 0; i < kEach; ++i)
            EXPECT_EQ(s[static_cast<size_t>(i)], i);
    }
}

REGISTER_TYPED_TEST_SUITE_P(UiBridgeContract, RunsWorkOnTheUiThreadAtOnceThereAndHandedOverFromOthers,
                            ProcessEventsEndsWhenWorkHasRunOrWakeIsCalled,
                            WorkThatWaitsOrRunsAModalLoopLetsLaterHandOversRun,
                            HandOversQueuedBehindModalWorkRunInsideItsLoop,
                            AThrowingHandOverReachesTheApplicationHandlerOnTheUiThread,
                            ShutdownReleasesWaitingHandOversAndRefusesNewOnes,
                            ManyCallersLoseNothingAndKeepTheirOrder);

}  // namespace kvtest
