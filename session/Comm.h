// The owner of the program's serial port and the line transport over it.
//
// The unit echoes every byte, ends its lines with CR (an LF may follow, and
// is dropped here), and shows prompts when it waits for input. The three
// blocking primitives below are the only road to the unit besides file
// transfers:
//   SendEcho  sends a text and waits until it has come back;
//   WaitText  waits until a pattern is in the receive buffer;
//   ReadUpTo  reads everything up to and including a pattern.
// Texts here are byte strings as on the wire (code page 1251). After a
// successful primitive the buffer keeps only what followed the pattern, at
// most 999 bytes of it. The primitives block, so they run on the worker
// thread only; received bytes arrive on the UI thread (VaComm1RxBuf).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "serial/VaComm.h"
#include "serial/VaSync.h"

namespace kv {

class TFormComm {
public:
    // Sets up VaComm1 with the tool's values (19200 8N1, no flow control,
    // "COM%d", port 2, read and write time-outs 10) and attaches
    // VaWaitMessage1. The first instance becomes FormComm().
    TFormComm();
    ~TFormComm();
    TFormComm(const TFormComm&) = delete;
    TFormComm& operator=(const TFormComm&) = delete;

    bool SendEcho(const std::string& text, int timeoutMs);
    bool WaitText(const std::string& pattern, int timeoutMs);
    // On success `result` is the buffer up to and including the pattern.
    bool ReadUpTo(const std::string& pattern, int timeoutMs, std::string& result);

    // The receive handler: appends the bytes without LF and wakes an armed
    // wait whose pattern has appeared.
    void VaComm1RxBuf(const uint8_t* data, size_t count);

    // A copy of the receive buffer (for diagnostics and tests).
    std::string RxText() const;

    // Bytes kept at most after a match.
    static constexpr size_t kKeepAfterMatch = 999;
    // Bound of the buffer between primitives: beyond it the oldest bytes go.
    static constexpr size_t kMaxBuffered = 64 * 1024;

    TVaComm VaComm1;
    TVaWaitMessage VaWaitMessage1;

private:
    // With the lock held: is the pattern already there; if not, arm.
    bool checkOrArmLocked(const std::string& pattern);
    bool waitArmed(int timeoutMs);
    void cutAfterLocked(size_t end);

    mutable TVaCriticalSection lock_;
    std::string rxText_;
    std::string expected_;
    bool armed_ = false;
    TVaWaitEvent rxEvent_{false, true};
};

// The program's port owner.
TFormComm& FormComm();

}  // namespace kv
