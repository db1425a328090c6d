// The UI bridge's contract on the headless bridge.
#include "tests/support/BridgeContract.h"

namespace {

struct TQueueBridgeTraits {
    using Bridge = kv::TQueueUiBridge;
    // Headless, a modal dialog's loop is a run of ProcessEvents slices.
    static bool RunModal(Bridge& b, int ms, std::function<void()>& quit)
    {
        bool quitted = false;
        quit = [&] { quitted = true; };
        const uint64_t until = kv::TickMs() + static_cast<uint64_t>(ms);
        while (!quitted && kv::TickMs() < until)
            b.ProcessEvents(100);
        quit = nullptr;
        return quitted;
    }
};

}  // namespace

namespace kvtest {
INSTANTIATE_TYPED_TEST_SUITE_P(Queue, UiBridgeContract, TQueueBridgeTraits);
}
