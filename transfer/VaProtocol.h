// The base of the file-transfer components: a listener on the port that
// feeds a worker thread, which runs one transfer and reports its end with an
// exit code.
//
//   TVaProtocol   (TVaCommComponent)  Mode, Timeout, MaxErrors, BufferSize,
//                                     OnTransferStart/End, OnError
//   TVaProtocolThread (TVaThread)     the receive queue, ReadByte, error
//                                     counting, the silent abort
//
// Start, Cancel, Busy and AcceptData belong on the UI thread, where every
// event is raised too. The worker reaches the UI thread only through
// UiBridge().Synchronize().
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "serial/VaComm.h"
#include "serial/VaSync.h"
#include "transfer/VaThread.h"

namespace kv {

enum TVaTransferMode : int { tmUpload, tmDownload };

// Exit codes (ExitCode, OnTransferEnd).
constexpr int vtSuccess = 0;
constexpr int vtCancelled = -3;        // cancelled here; CAN CAN sent
constexpr int vtPeerCancelled = -4;    // CAN received
constexpr int vtProtocolError = -5;
constexpr int vtShortFile = -6;        // receiving: EOT before the size block 0 announced
constexpr int vtReadFailed = -7;       // reading the local file
constexpr int vtWriteFailed = -8;      // writing the local file
constexpr int vtTooManyErrors = -9;    // the error count reached MaxErrors
constexpr int vtNoSender = -10;        // ten handshakes went unanswered
constexpr int vtCreateFailed = -11;    // the local file could not be created
constexpr int vtOpenFailed = -12;      // the local file could not be opened
constexpr int vtLineLost = -13;        // the port reported that the line hung up
constexpr int vtOverflow = -14;        // more than 4096 bytes waited
// Error codes (OnError); each adds one to the error count.
constexpr int veTimeout = -1;
constexpr int veBadBlock = -15;        // check mismatch received, or NAK answer
constexpr int veUnexpected = -16;      // unusable handshake or EOT answer

// Bytes of the protocol.
namespace xy {
constexpr uint8_t SOH = 0x01;  // 128-byte block
constexpr uint8_t STX = 0x02;  // 1024-byte block
constexpr uint8_t EOT = 0x04;
constexpr uint8_t ACK = 0x06;
constexpr uint8_t NAK = 0x15;  // also: checksum requested
constexpr uint8_t CAN = 0x18;
constexpr uint8_t CRC = 'C';   // CRC requested
constexpr uint8_t STREAM = 'G';  // streaming requested
}  // namespace xy

// The most bytes the receive queue takes before the transfer is abandoned.
constexpr int kVaQueueLimit = 4096;

using TVaTransferEndEvent = std::function<void(TVaComponent* Sender, int ExitCode)>;
using TVaTransferErrorEvent = std::function<void(TVaComponent* Sender, int ErrorCode, int ErrorCount)>;

class TVaProtocol;

// Thrown to end a transfer once its exit code is set; caught at the top of
// the worker. Carries nothing.
struct TVaSilentAbort {};

class TVaProtocolThread : public TVaThread {
    friend class TVaProtocol;  // resets the worker before starting it

public:
    TVaProtocolThread(TVaProtocol* owner, int bufferSize);
    ~TVaProtocolThread() override;

    // UI thread: queue received bytes (the 4096-byte rule) and wake the worker.
    void Feed(const uint8_t* data, int count);
    // UI thread: the port's write queue has drained.
    void WriteQueueEmpty();
    // Any thread: ask the transfer to stop.
    void Cancel();
    // UI thread: the line has hung up; the transfer ends with -13 as soon as
    // it would wait for the peer.
    void LineLost();
    bool Cancelled() const { return cancelled_; }
    bool Overflow() const { return overflow_; }
    int ErrorCount() const { return errorCount_; }
    int LastError() const { return lastError_; }

protected:
    void Execute() override;

    // Virtual operations, in slot order.
    // The next received byte, waiting as long as it takes (one error per
    // Timeout); 0 once the transfer is cancelled.
    virtual int ReadByte();
    virtual void Upload() = 0;
    virtual void Download() = 0;
    // Empties the queue, clears the error count and the Cancelled flag.
    virtual void Reset();
    virtual void SendCancel();

    // The first queued byte without taking it, or -1.
    int PeekByte();
    bool HasData();
    // Waits up to ms for a byte to be queued (or a cancel, an overflow or the
    // line's end); true when one is queued.
    bool WaitForData(int ms);
    // The next byte if one is queued within ms, else -1 (no error is
    // counted); 0 once the transfer is cancelled. For the bytes of a block
    // already started, which follow each other without pause.
    int ReadByteWithin(int ms);
    // Drops received bytes until none has come for quietMs, or Timeout has
    // passed in all: the rest of a block that was given up.
    void PurgeUntilQuiet(int quietMs);
    // Ends the transfer with -13 once the line has hung up.
    void CheckLine();
    // Counts one error; at MaxErrors ends the transfer with -9 (CAN CAN
    // first when withCan), otherwise raises OnError.
    void CountError(int code, bool withCan);
    // Sets the exit code and unwinds to the top of the worker.
    [[noreturn]] void Fail(int code);
    void SendBytes(const uint8_t* data, int count);
    void SendByte(uint8_t b);
    // Like SendBytes, but when the port's write queue has no room, waits
    // (up to Timeout) for it to drain and tries again: for a sender that
    // does not wait for answers.
    void SendStreaming(const uint8_t* data, int count);
    // Runs fn on the UI thread and waits for it, unless the worker is
    // terminating.
    void Sync(const std::function<void()>& fn);

    TVaProtocol* const owner_;
    // Settings taken from the component at Start.
    const TVaTransferMode mode_;
    const int timeout_;
    const int maxErrors_;

private:
    TVaCriticalSection queueLock_;
    TVaCommBuffer queue_;
    TVaWaitEvent dataArrived_;
    TVaWaitEvent writeDrained_;
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> overflow_{false};
    std::atomic<bool> lineLost_{false};
    int errorCount_ = 0;
    int lastError_ = 0;
};

class TVaProtocol : public TVaCommComponent {
public:
    TVaProtocol();
    ~TVaProtocol() override;

    // --- published properties
    TVaTransferMode Mode() const { return mode_; }
    void SetMode(TVaTransferMode v) { mode_ = v; }
    // Longest wait for one received byte before an error is counted, ms.
    int Timeout() const { return timeout_; }
    void SetTimeout(int v) { timeout_ = v; }
    int MaxErrors() const { return maxErrors_; }
    void SetMaxErrors(int v) { maxErrors_ = v; }
    // Capacity of the worker's receive queue, bytes.
    int BufferSize() const { return bufferSize_; }
    void SetBufferSize(int v) { bufferSize_ = v; }

    TVaNotifyEvent OnTransferStart;
    // On the UI thread, once the worker's transfer is over. The handler may
    // start the next transfer, or destroy the component (the worker then
    // frees itself once the handler has returned).
    TVaTransferEndEvent OnTransferEnd;
    TVaTransferErrorEvent OnError;

    // The result of the last transfer, as OnTransferEnd reports it.
    int ExitCode() const { return exitCode_; }
    // True from Start until just before OnTransferEnd.
    bool Busy() const { return busy_; }

    // --- virtual operations, in slot order
    void AcceptData(const uint8_t* data, int count) override;
    void AcceptEvents(uint32_t events) override;

protected:
    virtual std::unique_ptr<TVaProtocolThread> CreateWorker() = 0;
    virtual void RaiseTransferStart();
    virtual void RaiseTransferEnd();
    virtual void PrepareTransfer();

public:
    // Begins a transfer in the current Mode; raises std::runtime_error
    // "Transfer already in progress..." while one runs.
    virtual void Start();
    // Asks a running transfer to stop; nothing when idle.
    virtual void Cancel();

protected:
    // Stops a running worker and waits for it: for the destructor of the
    // most derived class, whose members the worker still uses.
    void StopWorker();

private:
    friend class TVaProtocolThread;
    void TransferDone();
    void ReapRetired();

    TVaTransferMode mode_ = tmUpload;
    int timeout_ = 60000;
    int maxErrors_ = 10;
    int bufferSize_ = 4096;
    std::atomic<int> exitCode_{0};
    std::atomic<bool> busy_{false};
    std::atomic<bool> destroying_{false};
    std::unique_ptr<TVaProtocolThread> worker_;
    // Workers that have run TransferDone and are about to end; released by
    // the next Start or by StopWorker.
    std::vector<std::unique_ptr<TVaProtocolThread>> retired_;
};

}  // namespace kv
