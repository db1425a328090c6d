#include "transfer/VaProtocol.h"

#include <algorithm>
#include <stdexcept>

#include "serial/UiBridge.h"

namespace kv {

// --- the worker ------------------------------------------------------------------

TVaProtocolThread::TVaProtocolThread(TVaProtocol* owner, int bufferSize)
    : owner_(owner),
      mode_(owner->Mode()),
      timeout_(owner->Timeout()),
      maxErrors_(owner->MaxErrors()),
      queue_(bufferSize > 0 ? bufferSize : 1),
      writeDrained_(true)
{
    SetPriority(tpHigher);
}

TVaProtocolThread::~TVaProtocolThread() = default;

void TVaProtocolThread::Feed(const uint8_t* data, int count)
{
    if (count <= 0)
        return;
    if (!overflow_) {
        std::lock_guard<TVaCriticalSection> g(queueLock_);
        const int queued = queue_.Count();
        if (queued + count > kVaQueueLimit || queued + count > queue_.Capacity())
            overflow_ = true;
        else
            queue_.Append(data, count);
    }
    dataArrived_.Signal();
}

void TVaProtocolThread::WriteQueueEmpty()
{
    writeDrained_.Signal();
}

void TVaProtocolThread::Cancel()
{
    cancelled_ = true;
    dataArrived_.Signal();
    writeDrained_.Signal();
}

void TVaProtocolThread::LineLost()
{
    lineLost_ = true;
    dataArrived_.Signal();
    writeDrained_.Signal();
}

void TVaProtocolThread::CheckLine()
{
    // Nothing can be sent to the peer any more, not even CAN.
    if (lineLost_)
        Fail(vtLineLost);
}

void TVaProtocolThread::Execute()
{
    // The first round was reset by Start, before the thread ran: bytes that
    // arrive while the thread starts up are kept.
    bool first = true;
    while (!Terminated()) {
        if (!first)
            Reset();
        first = false;
        try {
            if (mode_ == tmUpload)
                Upload();
            else
                Download();
        } catch (const TVaSilentAbort&) {
            // Fail() has set ExitCode: how the transfer ended.
            Terminate();
            cancelled_ = true;
            dataArrived_.Signal();
        } catch (...) {
            // Any other failure (a write the port could not take once the
            // line was gone, say) set no ExitCode: it is never a success.
            const TVaCustomComm* comm = owner_->Dispatcher().Comm();
            owner_->exitCode_ =
                lineLost_ || !comm || !comm->IsOpen() || comm->DeviceLost() ? vtLineLost : vtProtocolError;
            Terminate();
            cancelled_ = true;
            dataArrived_.Signal();
        }
    }
}

void TVaProtocolThread::Reset()
{
    {
        std::lock_guard<TVaCriticalSection> g(queueLock_);
        queue_.Clear();
    }
    errorCount_ = 0;
    lastError_ = 0;
    cancelled_ = false;
}

void TVaProtocolThread::SendCancel() {}

bool TVaProtocolThread::HasData()
{
    std::lock_guard<TVaCriticalSection> g(queueLock_);
    return queue_.Count() > 0;
}

int TVaProtocolThread::PeekByte()
{
    std::lock_guard<TVaCriticalSection> g(queueLock_);
    return queue_.Count() > 0 ? queue_.Data()[0] : -1;
}

bool TVaProtocolThread::WaitForData(int ms)
{
    const uint64_t deadline = TickMs() + static_cast<uint64_t>(ms < 0 ? 0 : ms);
    for (;;) {
        // Reset first, then look: a byte queued in between signals again.
        dataArrived_.Unsignal();
        if (HasData())
            return true;
        if (cancelled_ || overflow_ || lineLost_)
            return false;
        const uint64_t now = TickMs();
        if (now >= deadline)
            return false;
        dataArrived_.WaitMs(static_cast<int>(deadline - now));
    }
}

int TVaProtocolThread::ReadByte()
{
    if (!HasData() && !cancelled_) {
        while (!WaitForData(timeout_)) {
            CheckLine();
            if (cancelled_ || overflow_)
                break;
            CountError(veTimeout, false);
        }
    }
    if (overflow_) {
        SendCancel();
        Fail(vtOverflow);
    }
    if (cancelled_)
        return 0;
    uint8_t b = 0;
    std::lock_guard<TVaCriticalSection> g(queueLock_);
    queue_.Take(&b, 1);
    return b;
}

int TVaProtocolThread::ReadByteWithin(int ms)
{
    if (!HasData() && !cancelled_ && !WaitForData(ms))
        CheckLine();
    if (overflow_) {
        SendCancel();
        Fail(vtOverflow);
    }
    if (cancelled_)
        return 0;
    uint8_t b = 0;
    std::lock_guard<TVaCriticalSection> g(queueLock_);
    if (queue_.Count() == 0)
        return -1;
    queue_.Take(&b, 1);
    return b;
}

void TVaProtocolThread::PurgeUntilQuiet(int quietMs)
{
    const uint64_t end = TickMs() + static_cast<uint64_t>(timeout_ > 0 ? timeout_ : 0);
    for (;;) {
        {
            std::lock_guard<TVaCriticalSection> g(queueLock_);
            queue_.Clear();
        }
        const uint64_t now = TickMs();
        if (now >= end || !WaitForData(static_cast<int>(std::min<uint64_t>(quietMs, end - now))))
            return;
    }
}

void TVaProtocolThread::CountError(int code, bool withCan)
{
    ++errorCount_;
    lastError_ = code;
    if (errorCount_ == maxErrors_) {
        if (withCan)
            SendCancel();
        Fail(vtTooManyErrors);
    }
    const int count = errorCount_;
    TVaProtocol* owner = owner_;
    Sync([owner, code, count] {
        if (owner->OnError)
            owner->OnError(owner, code, count);
    });
}

void TVaProtocolThread::Fail(int code)
{
    owner_->exitCode_ = code;
    throw TVaSilentAbort{};
}

void TVaProtocolThread::SendBytes(const uint8_t* data, int count)
{
    if (Terminated() || count <= 0)
        return;
    if (TVaCustomComm* comm = owner_->Dispatcher().Comm())
        comm->PutBytes(data, count);
}

void TVaProtocolThread::SendByte(uint8_t b)
{
    SendBytes(&b, 1);
}

void TVaProtocolThread::SendStreaming(const uint8_t* data, int count)
{
    for (;;) {
        writeDrained_.Unsignal();
        try {
            SendBytes(data, count);
            return;
        } catch (const EVaCommError&) {
            // The queue holds what was sent before and has no room for all
            // of this; nothing of it was queued. Wait for the queue to drain.
            CheckLine();
            if (cancelled_ || writeDrained_.WaitMs(timeout_) != wrSignaled || cancelled_)
                throw;
            CheckLine();
        }
    }
}

void TVaProtocolThread::Sync(const std::function<void()>& fn)
{
    if (Terminated())
        return;
    UiBridge().Synchronize(fn);
}

// --- the component -----------------------------------------------------------------

TVaProtocol::TVaProtocol()
{
    // The listener takes data only while a transfer runs.
    SetActive(false);
}

TVaProtocol::~TVaProtocol()
{
    StopWorker();
}

void TVaProtocol::AcceptData(const uint8_t* data, int count)
{
    if (count > 0 && worker_)
        worker_->Feed(data, count);
}

void TVaProtocol::AcceptEvents(uint32_t events)
{
    if ((events & EV_TXEMPTY) && worker_)
        worker_->WriteQueueEmpty();
    if ((events & EV_ERR) && worker_ && Comm() && Comm()->DeviceLost())
        worker_->LineLost();
}

void TVaProtocol::RaiseTransferStart()
{
    if (!OnTransferStart)
        return;
    try {
        OnTransferStart(this);
    } catch (...) {
        HandleApplicationException(std::current_exception());
    }
}

void TVaProtocol::RaiseTransferEnd()
{
    if (!OnTransferEnd)
        return;
    // The handler may release this component (and so clear or destroy
    // OnTransferEnd) while it runs: it runs from a copy, and nothing here
    // touches the component after it.
    const TVaTransferEndEvent handler = OnTransferEnd;
    try {
        handler(this, exitCode_);
    } catch (...) {
        HandleApplicationException(std::current_exception());
    }
}

void TVaProtocol::PrepareTransfer()
{
    exitCode_ = 0;
    if (TVaComm* comm = Comm())
        comm->FlushAll();
    SetActive(true);
}

void TVaProtocol::Start()
{
    if (worker_)
        throw std::runtime_error("Transfer already in progress...");
    ReapRetired();
    PrepareTransfer();
    worker_ = CreateWorker();
    worker_->Reset();
    // A line that died before: the transfer ends at its first wait.
    if (Comm() && Comm()->DeviceLost())
        worker_->LineLost();
    worker_->OnTerminate = [this] { TransferDone(); };
    busy_ = true;
    RaiseTransferStart();
    worker_->Start();
}

void TVaProtocol::Cancel()
{
    if (worker_)
        worker_->Cancel();
}

void TVaProtocol::TransferDone()
{
    SetActive(false);
    if (destroying_)
        return;
    retired_.push_back(std::move(worker_));
    busy_ = false;
    RaiseTransferEnd();
}

void TVaProtocol::ReapRetired()
{
    // A worker still in its TransferDone (Start called from OnTransferEnd)
    // stays until a later call.
    std::erase_if(retired_, [](const auto& w) { return w->Ended().WaitMs(0) == wrSignaled; });
}

void TVaProtocol::StopWorker()
{
    destroying_ = true;
    if (worker_) {
        worker_->SkipEndHandler();
        worker_->Terminate();
        worker_->Cancel();
        retired_.push_back(std::move(worker_));
    }
    // A worker may be waiting for a hand-over to this very thread. One whose
    // end handler is running it now (the component is released from its
    // own OnTransferEnd) cannot end before this returns: it is let go of
    // and frees itself.
    for (auto& w : retired_) {
        if (UiBridge().IsUiThread() && w->InEndHandler())
            continue;
        while (w->Ended().WaitMs(0) != wrSignaled) {
            if (UiBridge().IsUiThread())
                UiBridge().ProcessEvents(100);
            else
                w->Ended().WaitMs(100);
        }
    }
    for (auto& w : retired_)
        TVaThread::Release(std::move(w));
    retired_.clear();
    busy_ = false;
    SetActive(false);
}

}  // namespace kv
