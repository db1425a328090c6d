// The test's own thread as the UI thread, for the tests of every subsystem.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <exception>
#include <functional>

#include "serial/UiBridge.h"
#include "serial/VaComm.h"
#include "serial/VaSync.h"

namespace kvtest {

// The test's thread is the UI thread for as long as this lives. Declared
// first in a fixture, it goes last: by then every port is closed, and the
// port threads still on their way out are released and waited for before
// the bridge they wait in goes away.
// While it lives, a dialog asked for off the UI thread fails the test; other
// exceptions that reach the application's handler go to standard error.
class TUiThread {
public:
    TUiThread()
    {
        kv::SetUiBridge(&bridge);
        kv::SetApplicationExceptionHandler([](std::exception_ptr e) {
            try {
                std::rethrow_exception(e);
            } catch (const kv::EUiThreadRequired& wrongThread) {
                ADD_FAILURE() << wrongThread.what();
            } catch (...) {
                kv::WriteExceptionToStderr(e);
            }
        });
    }
    ~TUiThread()
    {
        bridge.Shutdown();
        kv::TVaCustomComm::WaitThreadsEnded(5000);
        kv::SetApplicationExceptionHandler(nullptr);
        kv::SetUiBridge(nullptr);
    }
    TUiThread(const TUiThread&) = delete;
    TUiThread& operator=(const TUiThread&) = delete;

    kv::TQueueUiBridge bridge;
};

// Serves the hand-overs to this (the UI) thread through the installed bridge
// until done holds or ms pass; whether done held. The tests' one way of
// waiting on the UI thread for what other threads hand over.
inline bool ServeUntil(const std::function<bool()>& done, int ms)
{
    const uint64_t deadline = kv::TickMs() + static_cast<uint64_t>(ms);
    for (;;) {
        if (done())
            return true;
        const uint64_t now = kv::TickMs();
        if (now >= deadline)
            return done();
        kv::UiBridge().ProcessEvents(static_cast<int>(std::min<uint64_t>(deadline - now, 20)));
    }
}

}  // namespace kvtest
