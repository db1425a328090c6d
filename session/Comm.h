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

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

#include "serial/VaComm.h"
#include "serial/VaSync.h"
#include "session/LineObserver.h"

namespace kv {

// Thrown by the line primitives once the port has reported that the line
// hung up (the unit went away), instead of waiting out a time-out that no
// byte can end. The worker ends the job it belongs to (TCOMServer).
class ELineLost : public std::runtime_error {
public:
    ELineLost() : std::runtime_error("The line to the unit hung up") {}
};

// Thrown by a job's exchange, after its one message was shown, once the
// unit has not answered on the line as the exchange needs (no echo, no
// prompt, no reply within the time-out). The worker ends the job and the
// session ends the action the job belongs to (TKvMenu::TAction): a silent
// unit costs one message, not one per remaining exchange and job.
class ELineFault : public std::runtime_error {
public:
    ELineFault() : std::runtime_error("The unit did not answer on the line") {}
};

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

    // Whether the last SendEcho, WaitText or ReadUpTo ended without its
    // pattern (its time-out passed). ForgetWaitFailure clears it before a
    // job starts, so a failure step can tell a silent line from a reply it
    // did not like.
    bool LastWaitFailed() const { return lastWaitFailed_.load(); }
    void ForgetWaitFailure() { lastWaitFailed_.store(false); }

    // A copy of the receive buffer (for diagnostics and tests).
    std::string RxText() const;

    // The port reported a hang-up (OnError with CE_IOE) since it was last
    // opened. From then on a primitive that would wait throws ELineLost; one
    // waiting now is woken and throws. UI thread: tells onLineLost.
    void VaComm1LineLost();
    bool LineLost() const;
    // How many hang-ups were reported, ever.
    uint64_t LineLosses() const;
    // Told each hang-up once, on the UI thread, after the waits were woken.
    std::function<void()> onLineLost;

    // The watcher of the line (the exchange trace), or nullptr. It is told
    // of the port opening and closing, of every text written through this
    // owner and of every block received.
    void SetLineObserver(TLineObserver* observer);
    TLineObserver* LineObserver() const { return observer_.load(std::memory_order_acquire); }
    // A byte, and a secret text (the password), written to the port as
    // PutByte and PutText write them, told to the watcher.
    bool PutByte(uint8_t b);
    bool PutSecret(const std::string& text);

    // Bytes kept at most after a match.
    static constexpr size_t kKeepAfterMatch = 999;
    // Bound of the buffer between primitives: beyond it the oldest bytes go.
    static constexpr size_t kMaxBuffered = 64 * 1024;

    TVaComm VaComm1;
    TVaWaitMessage VaWaitMessage1;

private:
    // With the lock held: is the pattern already there; if not, arm.
    bool checkOrArmLocked(const std::string& pattern);
    // Throws ELineLost when the line has hung up (the lock held).
    void checkLineLocked() const;
    bool waitArmed(int timeoutMs);
    void cutAfterLocked(size_t end);
    // Notes how a wait ended and returns it.
    bool waited(bool found)
    {
        lastWaitFailed_.store(!found);
        return found;
    }

    mutable TVaCriticalSection lock_;
    std::string rxText_;
    std::string expected_;
    bool armed_ = false;
    bool lineLost_ = false;
    uint64_t lineLosses_ = 0;
    TVaWaitEvent rxEvent_{false, true};
    std::atomic<TLineObserver*> observer_{nullptr};
    std::atomic<bool> lastWaitFailed_{false};
};

// The program's port owner: the first TFormComm made that still exists.
// Without one it throws std::logic_error with kNoPortOwner: a job ran before
// its unit was made or after it went.
constexpr const char* kNoPortOwner =
    "FormComm: there is no port owner (the unit that owns the port was not made or is gone)";
TFormComm& FormComm();
// Whether there is one, and whether it is `comm`.
bool FormCommExists();
bool IsFormComm(const TFormComm& comm);

// A failure step of a job: shows its message and, when the exchange before
// it found the line silent (TFormComm::LastWaitFailed), ends the job and its
// action by throwing ELineFault. A reply the exchange did not like leaves
// the job to go on.
void ShowExchangeFailure(const std::string& message);

}  // namespace kv
