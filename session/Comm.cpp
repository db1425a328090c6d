#include "session/Comm.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <stdexcept>

#include "session/Dialogs.h"

namespace kv {

namespace {
std::atomic<TFormComm*> g_formComm{nullptr};
}  // namespace

TFormComm& FormComm()
{
    TFormComm* comm = g_formComm.load();
    if (!comm)
        throw std::logic_error(kNoPortOwner);
    return *comm;
}

bool FormCommExists()
{
    return g_formComm.load() != nullptr;
}

bool IsFormComm(const TFormComm& comm)
{
    return g_formComm.load() == &comm;
}

void ShowExchangeFailure(const std::string& message)
{
    ShowError(message);
    TFormComm* comm = g_formComm.load();
    if (comm && comm->LastWaitFailed())
        throw ELineFault();
}

TFormComm::TFormComm()
{
    VaComm1.SetName("VaComm1");
    VaComm1.SetBaudrate(br19200);
    // No flow control of any kind: the defaults, stated so they stay so.
    TVaFlowControl flow;
    VaComm1.SetFlowControl(flow);
    VaComm1.SetDeviceName("COM%d");
    VaComm1.SetPortNum(2);
    VaComm1.Buffers().SetReadTimeout(10);
    VaComm1.Buffers().SetWriteTimeout(10);
    VaComm1.OnRxBuf = [this](TVaComponent*, const uint8_t* data, int count) {
        VaComm1RxBuf(data, static_cast<size_t>(count));
    };
    VaComm1.OnError = [this](TVaComponent*, int errors) {
        if (errors & static_cast<int>(CE_IOE))
            VaComm1LineLost();
    };
    // A port opened again is a new line.
    VaComm1.OnOpen = [this](TVaComponent*) {
        {
            std::lock_guard<TVaCriticalSection> g(lock_);
            lineLost_ = false;
        }
        if (TLineObserver* o = LineObserver())
            o->LineOpened(VaResolveDevice(VaComm1.ExpandedDeviceName()));
    };
    VaComm1.OnClose = [this](TVaComponent*) {
        if (TLineObserver* o = LineObserver())
            o->LineClosed();
    };
    VaComm1.Loaded();

    VaWaitMessage1.SetName("VaWaitMessage1");
    VaWaitMessage1.SetComm(&VaComm1);
    VaWaitMessage1.SetActive(true);
    VaWaitMessage1.Loaded();

    TFormComm* none = nullptr;
    g_formComm.compare_exchange_strong(none, this);
}

TFormComm::~TFormComm()
{
    TFormComm* self = this;
    g_formComm.compare_exchange_strong(self, nullptr);
    VaComm1.Close();
    VaWaitMessage1.SetComm(nullptr);
    rxEvent_.Abandon();
}

void TFormComm::VaComm1RxBuf(const uint8_t* data, size_t count)
{
    if (TLineObserver* o = observer_.load(std::memory_order_acquire))
        o->LineReceived(data, count);
    std::lock_guard<TVaCriticalSection> g(lock_);
    size_t before = rxText_.size();
    for (size_t i = 0; i < count; ++i)
        if (data[i] != '\n')
            rxText_.push_back(static_cast<char>(data[i]));
    if (rxText_.size() > kMaxBuffered) {
        // A line that chatters while nobody reads: keep the newest bytes.
        const size_t drop = rxText_.size() - kMaxBuffered;
        rxText_.erase(0, drop);
        before = before > drop ? before - drop : 0;
    }
    if (armed_) {
        // The pattern was not there before this block: look only where it
        // could now end.
        const size_t overlap = expected_.empty() ? 0 : expected_.size() - 1;
        const size_t from = before > overlap ? before - overlap : 0;
        if (rxText_.find(expected_, from) != std::string::npos) {
            armed_ = false;
            rxEvent_.Signal();
        }
    }
}

void TFormComm::VaComm1LineLost()
{
    {
        std::lock_guard<TVaCriticalSection> g(lock_);
        if (lineLost_)
            return;
        lineLost_ = true;
        ++lineLosses_;
        if (armed_) {
            armed_ = false;
            rxEvent_.Signal();
        }
    }
    if (onLineLost)
        onLineLost();
}

bool TFormComm::LineLost() const
{
    std::lock_guard<TVaCriticalSection> g(lock_);
    return lineLost_;
}

uint64_t TFormComm::LineLosses() const
{
    std::lock_guard<TVaCriticalSection> g(lock_);
    return lineLosses_;
}

void TFormComm::checkLineLocked() const
{
    if (lineLost_)
        throw ELineLost();
}

void TFormComm::cutAfterLocked(size_t end)
{
    const size_t keep = std::min(rxText_.size() - end, kKeepAfterMatch);
    rxText_ = rxText_.substr(end, keep);
}

bool TFormComm::checkOrArmLocked(const std::string& pattern)
{
    expected_ = pattern;
    // What arrived before the line hung up is still read.
    if (rxText_.find(pattern) != std::string::npos)
        return true;
    checkLineLocked();
    armed_ = true;
    // A match meant for an earlier, timed-out wait must not end this one.
    rxEvent_.Unsignal();
    return false;
}

bool TFormComm::waitArmed(int timeoutMs)
{
    const bool signalled = rxEvent_.WaitMs(timeoutMs) == wrSignaled;
    std::lock_guard<TVaCriticalSection> g(lock_);
    if (!signalled)
        armed_ = false;
    // A match that came with the hang-up still counts.
    if (rxText_.find(expected_) == std::string::npos)
        checkLineLocked();
    return signalled;
}

bool TFormComm::SendEcho(const std::string& text, int timeoutMs)
{
    {
        std::lock_guard<TVaCriticalSection> g(lock_);
        checkLineLocked();
        rxText_.clear();
        expected_ = text;
        armed_ = true;
        rxEvent_.Unsignal();
    }
    if (TLineObserver* o = observer_.load(std::memory_order_acquire))
        o->LineSent(text, false);
    try {
        VaComm1.PutText(text);
    } catch (...) {
        std::lock_guard<TVaCriticalSection> g(lock_);
        armed_ = false;
        throw;
    }
    if (!waitArmed(timeoutMs))
        return waited(false);
    std::lock_guard<TVaCriticalSection> g(lock_);
    const size_t pos = rxText_.find(text);
    if (pos == std::string::npos)
        return waited(false);
    cutAfterLocked(pos + text.size());
    return waited(true);
}

bool TFormComm::WaitText(const std::string& pattern, int timeoutMs)
{
    std::string ignored;
    return ReadUpTo(pattern, timeoutMs, ignored);
}

bool TFormComm::ReadUpTo(const std::string& pattern, int timeoutMs, std::string& result)
{
    bool present;
    {
        std::lock_guard<TVaCriticalSection> g(lock_);
        present = checkOrArmLocked(pattern);
    }
    if (!present && !waitArmed(timeoutMs))
        return waited(false);
    std::lock_guard<TVaCriticalSection> g(lock_);
    const size_t pos = rxText_.find(pattern);
    if (pos == std::string::npos)
        return waited(false);
    const size_t end = pos + pattern.size();
    result = rxText_.substr(0, end);
    cutAfterLocked(end);
    return waited(true);
}

void TFormComm::SetLineObserver(TLineObserver* observer)
{
    observer_.store(observer, std::memory_order_release);
}

bool TFormComm::PutByte(uint8_t b)
{
    if (TLineObserver* o = observer_.load(std::memory_order_acquire))
        o->LineSent(std::string(1, static_cast<char>(b)), false);
    return VaComm1.PutByte(b);
}

bool TFormComm::PutSecret(const std::string& text)
{
    if (TLineObserver* o = observer_.load(std::memory_order_acquire))
        o->LineSent(text, true);
    return VaComm1.PutText(text);
}

std::string TFormComm::RxText() const
{
    std::lock_guard<TVaCriticalSection> g(lock_);
    return rxText_;
}

}  // namespace kv
