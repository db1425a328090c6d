// The serial port on Linux: the device, its line settings, reading,
// writing and the delivery of events on the UI thread. The event and writer
// threads are in serial/VaCommThreads.cpp.
#include "serial/VaComm.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "serial/UiBridge.h"
#include "serial/VaCommThreads.h"
#include "serial/VaTermios.h"

namespace kv {

namespace {

const char* const kMsgNotFound = "Specified device not found (%s).";
const char* const kMsgCantOpen = "Can't open specified device %s";
const char* const kMsgErrorSuffix = " (Error %d, %s)";
const char* const kMsgDcb = "Error writing dcb (%d), %s";
const char* const kMsgPurge = "Error clearing buffers (%d), %s";
const char* const kMsgStatus = "Error retrieving statistics (%d), %s";
const char* const kMsgRead = "Read error (%d), %s";
const char* const kMsgFull = "Output buffer is full. Please check comm status.";
const char* const kMsgWhileOpen = "Can't perform this operation while port is open";

// How long Flush waits for the writer to let go of the queue.
constexpr int kPurgeWaitMs = 2000;

std::string Format(const char* pattern, int code)
{
    char buf[512];
    std::snprintf(buf, sizeof buf, pattern, code, std::strerror(code));
    return buf;
}

[[noreturn]] void Raise(const char* pattern, int code)
{
    throw EVaCommError(Format(pattern, code));
}

[[noreturn]] void RaiseCantOpen(const std::string& name, int code)
{
    char head[512];
    std::snprintf(head, sizeof head, kMsgCantOpen, name.c_str());
    throw EVaCommError(head + Format(kMsgErrorSuffix, code));
}

}  // namespace

using detail::CallGuarded;

// --- the port ---------------------------------------------------------------------

TVaCustomComm::TVaCustomComm() : impl_(std::make_unique<Impl>())
{
    buffers_.owner_ = this;
    flowControl_.owner_ = this;
    eventChars_.owner_ = this;
}

TVaCustomComm::~TVaCustomComm()
{
    impl_->destroying = true;
    Close();
    std::vector<TVaDispatcher*> all;
    {
        std::lock_guard<std::mutex> g(impl_->listenersLock);
        all = impl_->listeners;
    }
    for (auto it = all.rbegin(); it != all.rend(); ++it)
        Detach(*it);
}

bool TVaCustomComm::IsOpen() const
{
    return impl_->fd.load() >= 0;
}

bool TVaCustomComm::DeviceLost() const
{
    return IsOpen() && impl_->deviceLost.load();
}

void TVaCustomComm::CheckClosed() const
{
    if (IsOpen())
        throw EVaCommError(kMsgWhileOpen);
}

std::string TVaCustomComm::ExpandedDeviceName() const
{
    std::string n = deviceName_;
    const auto pos = n.find("%d");
    if (pos != std::string::npos)
        n.replace(pos, 2, std::to_string(portNum_));
    const std::string prefix = "\\\\.\\";
    if (n.compare(0, prefix.size(), prefix) == 0)
        n.erase(0, prefix.size());
    return n;
}

void TVaCustomComm::Loaded()
{
    TVaComponent::Loaded();
    if (autoOpen_)
        Open();
}

void TVaCustomComm::Open()
{
    CheckClosed();
    {
        std::lock_guard<TVaCriticalSection> g(impl_->readLock);
        CheckClosed();
        CreateDevice();
        try {
            if (updateDCB_)
                ApplyLineSettings();
            termio::RequestLowLatency(impl_->fd);
            impl_->haveCounters = termio::ReadErrorCounters(impl_->fd, impl_->counters);
            impl_->countersAtOpen = impl_->counters;
            // The tty layer sizes its own queues; the write queue takes
            // WriteSize below. Reads are non-blocking and return what has
            // arrived, even nothing, which is what the read time-outs ask.
            uint32_t mask = 0;
            for (int e = ceBreak; e <= ceEvent2; ++e)
                if (monitorEvents_.Contains(static_cast<TVaCommEvent>(e)))
                    mask |= VaCommEventBit(static_cast<TVaCommEvent>(e));
            if (!directWrite_)
                mask &= ~EV_TXEMPTY;  // the writer thread raises it itself
            impl_->eventMask = mask;
            LaunchThreads();
        } catch (...) {
            StopThreads();
            const int fd = impl_->fd.exchange(-1);
            if (impl_->net) {
                ReleaseNet();
            } else {
                flock(fd, LOCK_UN);
                ioctl(fd, TIOCNXCL);
            }
            close(fd);
            throw;
        }
    }
    if (OnOpen)
        CallGuarded([this] { OnOpen(this); });
}

void TVaCustomComm::CreateDevice()
{
    const std::string name = ExpandedDeviceName();
    const std::string path = VaResolveDevice(name);
    impl_->openError = 0;
    {
        std::lock_guard<std::mutex> g(impl_->netLock);
        impl_->netStatus = TVaNetStatus();
    }
    if (IsVaNetAddress(path)) {
        CreateNetDevice(name, path);
        return;
    }
    int fd = -1;
    int err = ENOENT;
    if (!path.empty()) {
        fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        err = errno;
    }
    if (fd < 0) {
        impl_->openError = err;
        if (err == ENOENT) {
            char buf[512];
            std::snprintf(buf, sizeof buf, kMsgNotFound, name.c_str());
            throw EVaCommError(buf);
        }
        RaiseCantOpen(name, err);
    }
    // Without sharing: an advisory lock against every other opener, and the
    // tty's exclusive mode against openers that do not lock.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        err = errno == EWOULDBLOCK ? EBUSY : errno;
        impl_->openError = err;
        close(fd);
        RaiseCantOpen(name, err);
    }
    if (ioctl(fd, TIOCEXCL) != 0) {
        err = errno;
        impl_->openError = err;
        close(fd);
        RaiseCantOpen(name, err);
    }
    impl_->isPty = termio::IsPseudoTerminal(fd);
    impl_->deviceLost = false;
    impl_->pendingErrors = 0;
    impl_->parked = 0;
    impl_->fd = fd;
}

// A unit behind a serial device server: connect, and use the port's end of
// the link as the device.
void TVaCustomComm::CreateNetDevice(const std::string& name, const std::string& address)
{
    TVaNetAddress a;
    TVaNetStatus status;
    status.network = true;
    if (!ParseVaNetAddress(address, a)) {
        impl_->openError = EINVAL;
        {
            std::lock_guard<std::mutex> g(impl_->netLock);
            impl_->netStatus = status;
        }
        RaiseCantOpen(name, EINVAL);
    }
    std::shared_ptr<TVaNetLink> link = TVaNetLink::Connect(a, status);
    {
        std::lock_guard<std::mutex> g(impl_->netLock);
        impl_->netStatus = status;
    }
    if (!link) {
        if (status.failure == TVaNetFailure::HostNotFound) {
            impl_->openError = ENOENT;
            char buf[512];
            std::snprintf(buf, sizeof buf, kMsgNotFound, name.c_str());
            throw EVaCommError(buf);
        }
        impl_->openError = status.error != 0 ? status.error : EIO;
        RaiseCantOpen(name, impl_->openError);
    }
    impl_->isPty = false;
    impl_->deviceLost = false;
    impl_->pendingErrors = 0;
    impl_->parked = 0;
    {
        std::lock_guard<std::mutex> g(impl_->netLock);
        impl_->net = link;
    }
    impl_->fd = link->TakePortFd();
}

// Read lock held: ends the link of a network port, keeping what it learnt.
void TVaCustomComm::ReleaseNet()
{
    std::lock_guard<std::mutex> g(impl_->netLock);
    if (!impl_->net)
        return;
    impl_->net->Stop();
    impl_->netStatus = impl_->net->Status();
    impl_->net.reset();
}

TVaNetStatus TVaCustomComm::NetStatus() const
{
    std::lock_guard<std::mutex> g(impl_->netLock);
    return impl_->net ? impl_->net->Status() : impl_->netStatus;
}

bool TVaCustomComm::IsNetwork() const
{
    std::lock_guard<std::mutex> g(impl_->netLock);
    return impl_->net != nullptr;
}

void TVaCustomComm::Close()
{
    if (!IsOpen())
        return;
    {
        std::lock_guard<TVaCriticalSection> g(impl_->readLock);
        if (!IsOpen())
            return;
        StopThreads();
        const int fd = impl_->fd.exchange(-1);
        // Let go of the device at once, even while the ended threads still
        // hold their descriptors for a moment.
        if (impl_->net) {
            ReleaseNet();
        } else {
            flock(fd, LOCK_UN);
            ioctl(fd, TIOCNXCL);
        }
        close(fd);
        impl_->parked = 0;
    }
    if (!impl_->destroying && OnClose)
        CallGuarded([this] { OnClose(this); });
}

// --- line settings ------------------------------------------------------------------

// Read lock held, port open.
void TVaCustomComm::ApplyLineSettings()
{
    const int fd = impl_->fd;
    termio::TLineSettings s;
    s.speed = baudrate_ == brUser ? userBaudrate_ : VaBaudrateValue(baudrate_);
    s.dataBits = 4 + static_cast<int>(databits_);
    s.parity = static_cast<int>(parity_);
    // Linux knows one and two stop bits; a UART sends 1.5 for "two" at five
    // data bits.
    s.twoStopBits = stopbits_ != sb1;
    s.parityCheck = options_.Contains(coParityCheck);
    s.ctsFlow = flowControl_.OutCtsFlow() || flowControl_.ControlRts() == rtsHandshake;
    s.xonXoffOut = flowControl_.XonXoffOut();
    s.xonXoffIn = flowControl_.XonXoffIn();
    s.xonChar = eventChars_.XonChar();
    s.xoffChar = eventChars_.XoffChar();
    const bool dtr = flowControl_.ControlDtr() != dtrDisabled;
    const bool rts = flowControl_.ControlRts() == rtsEnabled || flowControl_.ControlRts() == rtsHandshake;
    if (impl_->net) {
        // The server sets its line (rfc2217), or is set up for it (tcp).
        if (s.dataBits < 5 || s.dataBits > 8 || s.speed <= 0)
            Raise(kMsgDcb, EINVAL);
        impl_->net->SetLine(s, dtr, rts);
        return;
    }
    int err = termio::ApplyLine(fd, s);
    if (err != 0)
        Raise(kMsgDcb, err);
    err = termio::SetModemLines(fd, dtr, rts);
    // A pseudo-terminal has no modem lines.
    if (err != 0 && !(impl_->isPty && (err == ENOTTY || err == EINVAL)))
        Raise(kMsgDcb, err);
    err = termio::VerifyLine(fd, s);
    if (err != 0)
        Raise(kMsgDcb, err);
}

void TVaCustomComm::ApplyIfOpen()
{
    if (!IsOpen())
        return;
    std::lock_guard<TVaCriticalSection> g(impl_->readLock);
    if (IsOpen())
        ApplyLineSettings();
}

namespace {
// Sets a line field and applies it; when the driver refuses, the old value
// and the old line settings come back.
template <class T, class F>
void SetAndApply(T& field, const T& value, F apply)
{
    if (field == value)
        return;
    const T old = field;
    field = value;
    try {
        apply();
    } catch (...) {
        field = old;
        try {
            apply();
        } catch (...) {
        }
        throw;
    }
}
}  // namespace

void TVaCustomComm::SetBaudrate(TVaBaudrate v)
{
    const TVaBaudrate oldRate = baudrate_;
    const int oldUser = userBaudrate_;
    if (v == oldRate && (v == brUser || oldUser == 0))
        return;
    baudrate_ = v;
    if (v != brUser)
        userBaudrate_ = 0;
    try {
        ApplyIfOpen();
    } catch (...) {
        baudrate_ = oldRate;
        userBaudrate_ = oldUser;
        try {
            ApplyIfOpen();
        } catch (...) {
        }
        throw;
    }
}

void TVaCustomComm::SetUserBaudrate(int v)
{
    if (v == userBaudrate_)
        return;
    const TVaBaudrate oldRate = baudrate_;
    const int oldUser = userBaudrate_;
    userBaudrate_ = v;
    baudrate_ = brUser;
    try {
        ApplyIfOpen();
    } catch (...) {
        baudrate_ = oldRate;
        userBaudrate_ = oldUser;
        try {
            ApplyIfOpen();
        } catch (...) {
        }
        throw;
    }
}

void TVaCustomComm::SetParity(TVaParity v) { SetAndApply(parity_, v, [this] { ApplyIfOpen(); }); }
void TVaCustomComm::SetDatabits(TVaDatabits v) { SetAndApply(databits_, v, [this] { ApplyIfOpen(); }); }
void TVaCustomComm::SetStopbits(TVaStopbits v) { SetAndApply(stopbits_, v, [this] { ApplyIfOpen(); }); }
void TVaCustomComm::SetOptions(TVaCommOptions v) { SetAndApply(options_, v, [this] { ApplyIfOpen(); }); }

void TVaCustomComm::SetPortNum(int v)
{
    CheckClosed();
    portNum_ = v;
}

void TVaCustomComm::SetDeviceName(const std::string& v)
{
    CheckClosed();
    deviceName_ = v;
}

void TVaCustomComm::SetMonitorEvents(TVaCommEvents v)
{
    CheckClosed();
    monitorEvents_ = v;
}

void TVaCustomComm::SetDirectWrite(bool v)
{
    CheckClosed();
    directWrite_ = v;
}

void TVaCustomComm::SetUpdateDCB(bool v)
{
    CheckClosed();
    updateDCB_ = v;
}

void TVaCustomComm::SetEventPriority(TThreadPriority v)
{
    eventPriority_ = v;
    if (auto e = impl_->EventState())
        ApplyThreadPriority(e->tid, v);
}

void TVaCustomComm::SetWritePriority(TThreadPriority v)
{
    writePriority_ = v;
    if (auto w = impl_->WriteState())
        ApplyThreadPriority(w->tid, v);
}

void TVaCustomComm::ValueChanging(TVaPersistent* which)
{
    if (which == &buffers_)
        CheckClosed();
}

void TVaCustomComm::ValueChanged(TVaPersistent* which)
{
    if (which != &buffers_)
        ApplyIfOpen();
}

// --- reading ------------------------------------------------------------------------

int TVaCustomComm::GetBytes(uint8_t* buffer, int count)
{
    if (!IsOpen() || count <= 0)
        return 0;
    int got = 0;
    {
        std::lock_guard<TVaCriticalSection> g(impl_->readLock);
        const int fd = impl_->fd;
        if (fd < 0)
            return 0;
        // Non-blocking: whatever has arrived, at once. A read therefore never
        // needs ReadTimeout.
        while (got < count) {
            const ssize_t n = read(fd, buffer + got, static_cast<size_t>(count - got));
            if (n > 0) {
                got += static_cast<int>(n);
                continue;
            }
            if (n == 0 || errno == EAGAIN)
                break;
            if (errno == EINTR)
                continue;
            if (errno == EIO || errno == ECONNRESET)  // the far end went away; the event thread reports it
                break;
            Raise(kMsgRead, errno);
        }
    }
    if (got > 0)
        impl_->Unpark();
    return got;
}

int TVaCustomComm::InputCount()
{
    if (!IsOpen())
        return 0;
    std::lock_guard<TVaCriticalSection> g(impl_->readLock);
    const int fd = impl_->fd;
    // A tty that hung up has nothing more; the link to a server that went
    // away still holds the server's last words.
    if (fd < 0 || (impl_->deviceLost && !impl_->net))
        return 0;
    int n = 0;
    if (ioctl(fd, FIONREAD, &n) != 0) {
        if (errno == EIO)
            return 0;
        Raise(kMsgStatus, errno);
    }
    return n;
}

int TVaCustomComm::LastOpenError() const
{
    return impl_->openError;
}

bool TVaCustomComm::ErrorCounts(TVaErrorCounts& out)
{
    std::lock_guard<TVaCriticalSection> g(impl_->readLock);
    const int fd = impl_->fd;
    termio::TErrorCounters now;
    if (fd < 0 || !impl_->haveCounters || impl_->deviceLost || !termio::ReadErrorCounters(fd, now))
        return false;
    const auto& was = impl_->countersAtOpen;
    out.frame = now.frame - was.frame;
    out.parity = now.parity - was.parity;
    out.overrun = (now.overrun - was.overrun) + (now.bufOverrun - was.bufOverrun);
    out.brk = now.brk - was.brk;
    return true;
}

TVaLineStatus TVaCustomComm::LineStatus()
{
    TVaLineStatus ls;
    std::lock_guard<TVaCriticalSection> g(impl_->readLock);
    const int fd = impl_->fd;
    if (fd < 0)
        return ls;
    ls.Errors = impl_->pendingErrors.exchange(0);
    if (impl_->deviceLost)
        return ls;
    termio::TErrorCounters now;
    if (impl_->haveCounters && termio::ReadErrorCounters(fd, now)) {
        const auto& was = impl_->counters;
        if (now.frame != was.frame)
            ls.Errors |= CE_FRAME;
        if (now.overrun != was.overrun)
            ls.Errors |= CE_OVERRUN;
        if (now.parity != was.parity)
            ls.Errors |= CE_RXPARITY;
        if (now.brk != was.brk)
            ls.Errors |= CE_BREAK;
        if (now.bufOverrun != was.bufOverrun)
            ls.Errors |= CE_RXOVER;
        impl_->counters = now;
    }
    int in = 0, out = 0;
    if (ioctl(fd, FIONREAD, &in) != 0 || ioctl(fd, TIOCOUTQ, &out) != 0) {
        if (errno == EIO)
            return ls;
        Raise(kMsgStatus, errno);
    }
    ls.InQueue = static_cast<uint32_t>(in);
    ls.OutQueue = static_cast<uint32_t>(out);
    return ls;
}

// --- writing ------------------------------------------------------------------------

bool TVaCustomComm::Enqueue(const uint8_t* data, int count)
{
    auto st = impl_->WriteState();
    if (!st)
        return false;
    const uint64_t start = TickMs();
    for (;;) {
        st->room.Unsignal();
        {
            std::lock_guard<TVaCriticalSection> g(st->lock);
            if (st->queue.Count() + count <= st->queue.Capacity()) {
                st->queue.Append(data, count);
                st->dataReady.Signal();
                return true;
            }
        }
        const int64_t left = static_cast<int64_t>(st->writeTimeout) - static_cast<int64_t>(TickMs() - start);
        if (left <= 0 || st->terminated.load())
            return false;
        st->room.WaitMs(static_cast<int>(left));
    }
}

int TVaCustomComm::PutBytes(const uint8_t* data, int count)
{
    if (!IsOpen() || count <= 0)
        return 0;
    if (directWrite_) {
        // Written here and now, waiting for room at most WriteTimeout.
        const int fd = impl_->fd;
        const uint64_t start = TickMs();
        int done = 0;
        while (done < count) {
            const ssize_t n = impl_->net ? send(fd, data + done, static_cast<size_t>(count - done), MSG_NOSIGNAL)
                                         : write(fd, data + done, static_cast<size_t>(count - done));
            if (n > 0) {
                done += static_cast<int>(n);
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno != EAGAIN) {
                impl_->pendingErrors |= CE_IOE;
                return done;
            }
            const int64_t left =
                static_cast<int64_t>(buffers_.WriteTimeout()) - static_cast<int64_t>(TickMs() - start);
            pollfd p = {fd, POLLOUT, 0};
            if (left <= 0 || poll(&p, 1, static_cast<int>(left)) == 0)
                throw EVaCommError(kMsgFull);
        }
        return count;
    }
    if (!Enqueue(data, count))
        throw EVaCommError(kMsgFull);
    return count;
}

bool TVaCustomComm::PutText(const std::string& text)
{
    const int n = static_cast<int>(text.size());
    return PutBytes(reinterpret_cast<const uint8_t*>(text.data()), n) == n;
}

bool TVaCustomComm::PutByte(uint8_t b)
{
    return PutBytes(&b, 1) == 1;
}

void TVaCustomComm::Flush(int flags)
{
    if (!IsOpen())
        return;
    std::lock_guard<TVaCriticalSection> g(impl_->readLock);
    const int fd = impl_->fd;
    if (fd < 0)
        return;
    if (flags & (PURGE_TXABORT | PURGE_TXCLEAR)) {
        if (auto st = impl_->WriteState()) {
            st->purgeDone.Unsignal();
            st->purgeRequest.Signal();
            st->Wake();
            // The writer empties the queue when it takes the request. A
            // writer waiting for the UI thread (perhaps for this very thread)
            // has no bytes in flight: the queue is emptied here instead.
            if (TVaWaitEvent::WaitForAny({&st->purgeDone, &st->inHandOver}, kPurgeWaitMs) == 1) {
                {
                    std::lock_guard<TVaCriticalSection> wg(st->lock);
                    st->queue.Clear();
                    ++st->generation;
                }
                st->purgeRequest.Unsignal();
                st->room.Signal();
            }
        }
    }
    const bool input = (flags & (PURGE_RXABORT | PURGE_RXCLEAR)) != 0;
    const bool output = (flags & (PURGE_TXABORT | PURGE_TXCLEAR)) != 0;
    if (impl_->net) {
        // What the link and the local end hold, and what the server holds.
        if (input) {
            uint8_t sink[4096];
            while (read(fd, sink, sizeof sink) > 0) {
            }
        }
        impl_->net->Purge(input, output);
    } else if (input || output) {
        const int which = input && output ? TCIOFLUSH : input ? TCIFLUSH : TCOFLUSH;
        if (tcflush(fd, which) != 0)
            Raise(kMsgPurge, errno);
    }
    if (input)
        impl_->Unpark();
}

// --- listeners and delivery on the UI thread ------------------------------------------

void TVaCustomComm::Attach(TVaDispatcher* d)
{
    if (!d || d->comm_ == this)
        return;
    if (d->comm_)
        d->comm_->Detach(d);
    {
        std::lock_guard<std::mutex> g(impl_->listenersLock);
        impl_->listeners.push_back(d);
        d->comm_ = this;
    }
    impl_->Unpark();
}

void TVaCustomComm::Detach(TVaDispatcher* d)
{
    if (!d)
        return;
    std::lock_guard<std::mutex> g(impl_->listenersLock);
    auto& l = impl_->listeners;
    l.erase(std::remove(l.begin(), l.end(), d), l.end());
    if (d->comm_ == this)
        d->comm_ = nullptr;
}

void TVaCustomComm::RaiseRxChar()
{
    const int n = InputCount();
    if (n <= 0)
        return;
    if (impl_->HasListeners()) {
        std::vector<uint8_t> block(static_cast<size_t>(n));
        const int got = GetBytes(block.data(), n);
        if (got > 0)
            RaiseRxBuf(block.data(), got);
    } else {
        impl_->parked = n;
        if (OnRxChar)
            OnRxChar(this, n);
    }
}

void TVaCustomComm::RaiseRxBuf(const uint8_t* data, int count)
{
    std::vector<TVaDispatcher*> snapshot;
    {
        std::lock_guard<std::mutex> g(impl_->listenersLock);
        snapshot = impl_->listeners;
    }
    // A handler may detach (or attach) listeners; each one is asked only
    // while it is still attached.
    for (TVaDispatcher* d : snapshot)
        if (impl_->IsAttached(d) && d->Active() && d->Owner())
            d->Owner()->AcceptData(data, count);
    if (OnRxBuf)
        OnRxBuf(this, data, count);
}

void TVaCustomComm::PassEvents(uint32_t events)
{
    std::vector<TVaDispatcher*> snapshot;
    {
        std::lock_guard<std::mutex> g(impl_->listenersLock);
        snapshot = impl_->listeners;
    }
    for (TVaDispatcher* d : snapshot)
        if (impl_->IsAttached(d) && d->Active() && d->Owner())
            d->Owner()->AcceptEvents(events);
}

void TVaCustomComm::RaiseCommEvents(uint32_t events)
{
    if (events & EV_ERR) {
        const TVaLineStatus ls = LineStatus();
        if (ls.Errors != 0 && OnError) {
            const int errors = static_cast<int>(ls.Errors);
            CallGuarded([this, errors] { OnError(this, errors); });
        }
    }
    if (impl_->HasListeners())
        PassEvents(events);
    const std::pair<uint32_t, TVaNotifyEvent*> handlers[] = {
        {EV_RXFLAG, &OnRxFlag}, {EV_CTS, &OnCts},         {EV_DSR, &OnDsr},
        {EV_RING, &OnRing},     {EV_RLSD, &OnRlsd},       {EV_TXEMPTY, &OnTxEmpty},
        {EV_BREAK, &OnBreak},   {EV_PERR, &OnPErr},       {EV_RX80FULL, &OnRx80Full},
        {EV_EVENT1, &OnEvent1}, {EV_EVENT2, &OnEvent2},
    };
    for (const auto& [bit, handler] : handlers)
        if ((events & bit) && *handler)
            (*handler)(this);
}

}  // namespace kv
