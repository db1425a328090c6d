// The exchange trace "Журнал обмена": every send and reply on the line to
// the unit, kept in memory for the user to read and save.
//
// One line per send or reply: the time since the connection started, the
// direction, and the text, code page 1251 decoded, control bytes escaped
// (\r, \n, \t, \x18; a backslash as \\). A reply line ends with its CR;
// text that has arrived without one (a prompt) is the open last line until
// the next send. Sends that follow each other within a moment with nothing
// received between them share a line (the wake-up bytes).
//
// Secrets never enter it: bytes the session sends as secret (the password)
// and their echo, and the values of the two password parameters (00 and
// 104) in replies and in writes appear as "*", one per byte. Nothing of a
// file transfer's payload enters it; each transfer gives one line.
//
// The trace keeps the newest kLimit bytes of its text. It is thread-safe:
// the session writes from its worker and the UI thread, the window reads.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "session/LineObserver.h"

namespace kv {

enum class TTraceDirection : char { Sent = '>', Received = '<', Event = '-' };

struct TTraceLine {
    uint64_t seq = 0;  // counts every line ever made
    int64_t ms = 0;    // since the connection started
    TTraceDirection direction = TTraceDirection::Event;
    std::string text;  // UTF-8
    size_t bytes = 0;  // what it adds to the trace's size: its formatted length and a newline
    // The line as the window shows it and a saved file holds it (no newline).
    std::string Format() const;
};

// What changed since the reader last looked.
struct TTraceDelta {
    bool reset = false;            // start again: cleared, or lines dropped that the reader has not seen
    uint64_t firstSeq = 0;         // the oldest line kept
    std::vector<TTraceLine> lines; // the new complete lines (after reset: all of them)
    std::string open;              // the open last line, formatted; empty when none
    uint64_t lastSeq = 0;          // what to pass to the next Since()
};

class TTraceLog : public TLineObserver {
public:
    static constexpr size_t kLimit = 1024 * 1024;
    // A reply line is cut after this many bytes without a CR.
    static constexpr size_t kLongLine = 4096;
    // Sends within this many milliseconds of each other share a line.
    static constexpr int64_t kSendJoinMs = 50;

    using TClock = std::function<int64_t()>;  // milliseconds, monotonic
    explicit TTraceLog(size_t limit = kLimit, TClock clock = {});

    // TLineObserver
    void LineOpened(const std::string& device) override;
    void LineClosed() override;
    void LineSent(const std::string& bytes, bool secret) override;
    void LineReceived(const uint8_t* data, size_t count) override;
    void TransferStarted() override;
    void TransferEnded(const TTransferRecord& record) override;

    // The complete lines and the open last line, formatted.
    std::vector<std::string> Lines() const;
    // The whole trace as a saved file holds it: UTF-8, a newline after every line.
    std::string Text() const;
    // The bytes of the lines kept (as Text() counts them).
    size_t Size() const;
    // "Очистить": empties the trace; the connection's state stays.
    void Clear();

    // The lines after `lastSeq`, the last line a reader has seen (0: none).
    TTraceDelta Since(uint64_t lastSeq) const;
    // Called after a change, once until the next Since(); it runs on the
    // thread that recorded, under the trace's lock, so it must only post
    // itself an update (never call the trace).
    void SetOnChange(std::function<void()> onChange);

    // For the connection doctor: the bytes received since the port opened,
    // and the first of them as the trace shows them (secrets masked).
    size_t ReceivedSinceOpen() const;
    std::string ReceivedTextSinceOpen() const;

private:
    struct TOut {
        uint8_t byte;
        bool masked;
    };

    int64_t nowLocked() const;
    void commitOpenLocked();
    void pushLocked(TTraceDirection direction, std::string text, int64_t ms);
    void eventLocked(const std::string& text);
    void receiveByteLocked(uint8_t b, std::vector<TOut>& out);
    void appendReceivedLocked(const TOut& o);
    void releaseHeldLocked(bool masked);
    void analyseSendLocked(const std::string& bytes, bool& secret);
    void changedLocked();

    const size_t limit_;
    TClock clock_;
    int64_t epoch_ = 0;

    mutable std::mutex m_;
    std::deque<TTraceLine> lines_;
    size_t size_ = 0;
    uint64_t nextSeq_ = 1;
    // The open reply line.
    std::string open_;
    size_t openRaw_ = 0;
    bool openEnded_ = false;  // its CR has come; an LF may still join it
    int64_t openMs_ = 0;
    // The last line was a send that the next one may join.
    bool lastSendJoinable_ = false;
    int64_t lastSendMs_ = 0;

    // Masking: a secret awaiting its echo and the received bytes that match
    // its beginning so far; the password parameters' state.
    std::string secret_;
    std::string held_;
    enum class TCommand { None, Get, Set } command_ = TCommand::None;
    bool secretNextSend_ = false;
    enum class TValue { Idle, AwaitEquals, Masking } value_ = TValue::Idle;
    int menu_ = 0;                 // the menu whose prompt came last
    std::string promptTail_;       // the last received bytes, for prompts

    bool transfer_ = false;
    size_t receivedSinceOpen_ = 0;
    std::string sampleSinceOpen_;

    std::function<void()> onChange_;
    mutable bool notified_ = false;
};

// A transfer's line: "YModem: отправлен файл greeting.wav, 80000 байт, ...".
std::string TransferText(const TTransferRecord& record);

}  // namespace kv
