// The UI bridge's contract on the Qt bridge, and what only the Qt bridge has
// to get right: the application quitting under it.
#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include "tests/support/BridgeContract.h"
#include "ui/qt/QtUiBridge.h"

namespace {

struct TQtBridgeTraits {
    using Bridge = kv::TQtUiBridge;
    // A modal dialog's loop: the toolkit's own nested event loop.
    static bool RunModal(Bridge&, int ms, std::function<void()>& quit)
    {
        QEventLoop loop;
        bool quitted = false;
        quit = [&] {
            quitted = true;
            loop.quit();
        };
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        loop.exec();
        quit = nullptr;
        return quitted;
    }
};

}  // namespace

namespace kvtest {
INSTANTIATE_TYPED_TEST_SUITE_P(Qt, UiBridgeContract, TQtBridgeTraits);
}

// Once the application has been told to quit, Qt starts no more event
// loops; a wait for the worker at that point (closing the window logs out)
// must still be served and must not spin.
TEST(QtUiBridge, WaitsForWorkWhileTheApplicationQuits)
{
    kv::TQtUiBridge ui;
    kv::SetUiBridge(&ui);
    bool served = false;
    int slices = 0;
    QTimer::singleShot(0, [&] {
        QCoreApplication::exit(0);
        std::atomic<bool> returned{false};
        std::thread caller([&] {
            ui.Synchronize([&] { served = true; });
            returned = true;
        });
        const uint64_t until = kv::TickMs() + 20000;
        while (!returned && kv::TickMs() < until) {
            ui.ProcessEvents(100);
            ++slices;
        }
        caller.join();
    });
    QCoreApplication::exec();
    EXPECT_TRUE(served);
    // A spinning wait would have taken thousands of slices.
    EXPECT_LT(slices, 50);
    ui.Shutdown();
    kv::SetUiBridge(nullptr);
}
