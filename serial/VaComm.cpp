// The serial port on Linux: the device, its line settings, the event thread
// that hands received data to the UI thread and the writer thread that
// drains the output queue.
//
// Both threads keep their state in an object they share with the port;
// Close marks it terminated, wakes the thread and forgets it without
// waiting. The thread ends on its own and the last owner frees the state, so
// a thread blocked in a hand-over to the UI thread never touches a closed or
// destroyed port: the hand-over checks the terminated flag on the UI thread,
// where the port is also closed and destroyed.
#include "serial/VaComm.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

#include "serial/UiBridge.h"
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

void CallGuarded(const std::function<void()>& fn)
{
    try {
        fn();
    } catch (...) {
        HandleApplicationException(std::current_exception());
    }
}

// --- running threads, for shutdown and tests

struct TThreadCount {
    std::mutex m;
    int n = 0;
    TVaWaitEvent none{true};
};

TThreadCount& Threads()
{
    // Never destroyed: a detached thread may still leave after exit begins.
    static TThreadCount* c = new TThreadCount;
    return *c;
}

void ThreadStarted()
{
    auto& t = Threads();
    std::lock_guard<std::mutex> g(t.m);
    if (t.n++ == 0)
        t.none.Unsignal();
}

void ThreadEnded()
{
    auto& t = Threads();
    std::lock_guard<std::mutex> g(t.m);
    if (--t.n == 0)
        t.none.Signal();
}

int MakeWakeFd()
{
    const int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0)
        throw std::system_error(errno, std::generic_category(), "eventfd");
    return fd;
}

void Poke(int wakeFd)
{
    const uint64_t one = 1;
    (void)!write(wakeFd, &one, sizeof one);
}

void Drain(int wakeFd)
{
    uint64_t v;
    (void)!read(wakeFd, &v, sizeof v);
}

int DupDevice(int fd)
{
    const int d = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (d < 0)
        throw std::system_error(errno, std::generic_category(), "dup");
    return d;
}

// Bytes waiting in the driver, 0 when it cannot say.
int QueuedInput(int fd)
{
    int n = 0;
    return ioctl(fd, FIONREAD, &n) == 0 ? n : 0;
}

}  // namespace

namespace detail {

// Shared by the port and its event thread.
struct TVaEventThreadState {
    TVaCustomComm* port = nullptr;  // used on the UI thread, and only while !terminated
    std::atomic<bool> terminated{false};
    int fd = -1;      // the thread's own descriptor of the device
    int wakeFd = -1;  // Close; a listener attached or bytes taken while parked
    uint32_t mask = 0;
    TThreadPriority priority = tpNormal;
    std::atomic<int> tid{0};
    // Bytes a delivery left in the driver (no listener); written by the
    // hand-over on the UI thread, read by the thread after it.
    int leftInDriver = 0;

    ~TVaEventThreadState()
    {
        if (fd >= 0)
            close(fd);
        if (wakeFd >= 0)
            close(wakeFd);
    }
    void Wake() { Poke(wakeFd); }
};

// Shared by the port and its writer thread.
struct TVaWriteThreadState {
    TVaCustomComm* port = nullptr;  // used on the UI thread, and only while !terminated
    std::atomic<bool> terminated{false};
    int fd = -1;
    int wakeFd = -1;  // stop or purge request while the thread waits for room
    int writeTimeout = 0;
    TThreadPriority priority = tpHighest;
    std::atomic<int> tid{0};

    TVaCriticalSection lock;  // the write lock: the queue and its generation
    TVaCommBuffer queue;
    uint64_t generation = 0;  // bumped by every clear of the queue

    TVaWaitEvent dataReady, stop, purgeRequest, purgeDone;
    TVaWaitEvent room;        // the writer removed bytes
    TVaWaitEvent inHandOver;  // the writer waits for the UI thread

    explicit TVaWriteThreadState(int capacity) : queue(capacity) {}
    ~TVaWriteThreadState()
    {
        if (fd >= 0)
            close(fd);
        if (wakeFd >= 0)
            close(wakeFd);
    }
    void Wake() { Poke(wakeFd); }
};

}  // namespace detail

using detail::TVaEventThreadState;
using detail::TVaWriteThreadState;

struct TVaCustomComm::Impl {
    std::atomic<int> fd{-1};
    bool isPty = false;
    bool destroying = false;

    // The read lock: reads, status queries, purges, line settings and the
    // shutdown of the threads.
    TVaCriticalSection readLock;

    std::mutex linkLock;  // guards the two thread states below
    std::shared_ptr<TVaEventThreadState> ev;
    std::shared_ptr<TVaWriteThreadState> wr;
    uint32_t eventMask = 0;

    std::mutex listenersLock;
    std::vector<TVaDispatcher*> listeners;

    std::atomic<uint32_t> pendingErrors{0};
    std::atomic<bool> deviceLost{false};
    // Bytes a delivery without listener left in the driver; the event
    // thread is parked on them until something changes.
    std::atomic<int> parked{0};

    bool haveCounters = false;
    termio::TErrorCounters counters;  // under readLock
    termio::TErrorCounters countersAtOpen;
    std::atomic<int> openError{0};

    std::shared_ptr<TVaEventThreadState> EventState()
    {
        std::lock_guard<std::mutex> g(linkLock);
        return ev;
    }
    std::shared_ptr<TVaWriteThreadState> WriteState()
    {
        std::lock_guard<std::mutex> g(linkLock);
        return wr;
    }
    bool HasListeners()
    {
        std::lock_guard<std::mutex> g(listenersLock);
        return !listeners.empty();
    }
    bool IsAttached(TVaDispatcher* d)
    {
        std::lock_guard<std::mutex> g(listenersLock);
        return std::find(listeners.begin(), listeners.end(), d) != listeners.end();
    }
    // Something changed that a parked event thread waits for.
    void Unpark()
    {
        if (parked.exchange(0) > 0)
            if (auto e = EventState())
                e->Wake();
    }

    static void EventThread(std::shared_ptr<TVaEventThreadState> st);
    static void EventHandOver(TVaEventThreadState& st, uint32_t events, bool fault);
    static void WriteThread(std::shared_ptr<TVaWriteThreadState> st);
    enum class TWriteOutcome { Done, Stop, Purge, Failed };
    static TWriteOutcome WriteChunk(TVaWriteThreadState& st, const uint8_t* data, int len, int& err);
};

// --- event thread ---------------------------------------------------------------
//
// Waits with poll() on the device and its wake-up descriptor. Received data
// is handed to the UI thread. When a delivery leaves the bytes in the driver
// (no listener attached) the thread stops asking for POLLIN, which would
// report the same bytes without end, and parks: it wakes when a listener
// attaches or bytes are taken, or when more bytes arrive, which an
// edge-triggered epoll set on the device tells without polling. A hang-up or
// error of the device is reported once; the thread then watches only its
// wake-up descriptor.

void TVaCustomComm::Impl::EventThread(std::shared_ptr<TVaEventThreadState> st)
{
    st->tid = static_cast<int>(gettid());
    ApplyThreadPriority(st->tid, st->priority);
    const bool watchRx = (st->mask & EV_RXCHAR) != 0;
    bool watching = true;  // the device is alive
    bool armed = true;     // POLLIN wanted
    int parkedOn = 0;
    // Edge-triggered: readable once per arrival of new bytes, not while old
    // ones merely wait in the driver.
    const int arrivals = epoll_create1(EPOLL_CLOEXEC);
    if (arrivals >= 0) {
        epoll_event ev{};
        ev.events = EPOLLIN | EPOLLET;
        epoll_ctl(arrivals, EPOLL_CTL_ADD, st->fd, &ev);
    }
    while (!st->terminated.load()) {
        pollfd p[3] = {};
        p[0].fd = watching ? st->fd : -1;
        p[0].events = static_cast<short>(watchRx && armed ? POLLIN : 0);
        p[1].fd = st->wakeFd;
        p[1].events = POLLIN;
        p[2].fd = watching && !armed ? arrivals : -1;
        p[2].events = POLLIN;
        const int r = poll(p, 3, -1);
        if (st->terminated.load())
            break;
        if (r < 0 && errno == EINTR)
            continue;
        const bool arrived = (p[2].revents & POLLIN) != 0;
        if (arrived) {
            epoll_event ev[4];
            while (epoll_wait(arrivals, ev, 4, 0) > 0) {
            }
        }
        if (p[1].revents & POLLIN) {
            Drain(st->wakeFd);
            if (!armed) {
                armed = true;
                continue;
            }
        }
        uint32_t events = 0;
        const bool fault = r < 0 || (p[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
        if (fault) {
            watching = false;
            if (st->mask & EV_ERR)
                events |= EV_ERR;
            if (watchRx && QueuedInput(st->fd) > 0)
                events |= EV_RXCHAR;
        } else if (armed) {
            if (p[0].revents & POLLIN)
                events |= EV_RXCHAR;
        } else if (arrived) {
            const int n = QueuedInput(st->fd);
            if (n == 0)
                armed = true;
            else if (n > parkedOn)
                events |= EV_RXCHAR;
            else
                parkedOn = n;
        }
        if (events == 0)
            continue;
        st->leftInDriver = 0;
        TVaEventThreadState* raw = st.get();
        const bool ran = UiBridge().Synchronize([raw, events, fault] { EventHandOver(*raw, events, fault); });
        if (!ran)
            break;  // the UI thread takes no more work
        if (st->leftInDriver > 0 && watching) {
            armed = false;
            parkedOn = st->leftInDriver;
        } else {
            armed = true;
        }
    }
    if (arrivals >= 0)
        close(arrivals);
}

// On the UI thread.
void TVaCustomComm::Impl::EventHandOver(TVaEventThreadState& st, uint32_t events, bool fault)
{
    if (st.terminated.load())
        return;
    TVaCustomComm* port = st.port;
    if (fault) {
        port->impl_->deviceLost = true;
        port->impl_->pendingErrors |= CE_IOE;
    }
    if (events & EV_RXCHAR) {
        port->impl_->parked = 0;
        CallGuarded([port] { port->RaiseRxChar(); });
        st.leftInDriver = port->impl_->parked.load();
        events &= ~EV_RXCHAR;
    }
    if (events != 0)
        port->RaiseCommEvents(events);
}

// --- writer thread ----------------------------------------------------------------

TVaCustomComm::Impl::TWriteOutcome TVaCustomComm::Impl::WriteChunk(TVaWriteThreadState& st, const uint8_t* data,
                                                                   int len, int& err)
{
    int done = 0;
    while (done < len) {
        if (st.terminated.load())
            return TWriteOutcome::Stop;
        const ssize_t n = write(st.fd, data + done, static_cast<size_t>(len - done));
        if (n > 0) {
            done += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN) {
            err = errno;
            return TWriteOutcome::Failed;
        }
        // No room in the driver: wait for it, or for stop or purge.
        pollfd p[2] = {};
        p[0].fd = st.fd;
        p[0].events = POLLOUT;
        p[1].fd = st.wakeFd;
        p[1].events = POLLIN;
        if (poll(p, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            err = errno;
            return TWriteOutcome::Failed;
        }
        if (p[1].revents & POLLIN) {
            Drain(st.wakeFd);
            if (st.stop.IsSignaled())
                return TWriteOutcome::Stop;
            if (st.purgeRequest.IsSignaled())
                return TWriteOutcome::Purge;
        }
        if ((p[0].revents & (POLLERR | POLLHUP | POLLNVAL)) && !(p[0].revents & POLLOUT)) {
            err = EIO;
            return TWriteOutcome::Failed;
        }
    }
    return TWriteOutcome::Done;
}

void TVaCustomComm::Impl::WriteThread(std::shared_ptr<TVaWriteThreadState> st)
{
    st->tid = static_cast<int>(gettid());
    ApplyThreadPriority(st->tid, st->priority);
    std::vector<uint8_t> chunk(static_cast<size_t>(std::max(st->queue.Capacity(), 1)));
    TVaWriteThreadState* raw = st.get();
    // The writer empties the queue itself before it says the purge is done:
    // otherwise it could take the old bytes again before the purging thread
    // clears them.
    auto acknowledgePurge = [raw] {
        {
            std::lock_guard<TVaCriticalSection> g(raw->lock);
            raw->queue.Clear();
            ++raw->generation;
            raw->dataReady.Unsignal();
        }
        raw->room.Signal();
        raw->purgeRequest.Unsignal();
        raw->purgeDone.Signal();
    };
    while (!st->terminated.load()) {
        const int which = TVaWaitEvent::WaitForAny({&st->stop, &st->purgeRequest, &st->dataReady}, -1);
        if (which == 0 || which < 0) {
            st->terminated = true;
            break;
        }
        if (which == 1) {
            acknowledgePurge();
            continue;
        }
        int len;
        uint64_t gen;
        {
            std::lock_guard<TVaCriticalSection> g(st->lock);
            len = st->queue.Count();
            gen = st->generation;
            st->queue.Peek(chunk.data(), len);
            if (len == 0)
                st->dataReady.Unsignal();
        }
        if (len == 0)
            continue;
        int err = 0;
        const TWriteOutcome outcome = WriteChunk(*st, chunk.data(), len, err);
        if (outcome == TWriteOutcome::Stop) {
            st->terminated = true;
            break;
        }
        if (outcome == TWriteOutcome::Purge) {
            acknowledgePurge();
            continue;
        }
        if (outcome == TWriteOutcome::Failed) {
            // The bytes cannot go out; writing them again would fail again
            // and again. Drop them, report once, and wait for new data.
            {
                std::lock_guard<TVaCriticalSection> g(st->lock);
                if (gen == st->generation) {
                    st->queue.Clear();
                    ++st->generation;
                }
                if (st->queue.Count() == 0)
                    st->dataReady.Unsignal();
            }
            st->room.Signal();
            st->inHandOver.Signal();
            UiBridge().Synchronize([raw] {
                if (raw->terminated.load())
                    return;
                raw->port->impl_->deviceLost = true;
                raw->port->impl_->pendingErrors |= CE_IOE;
                raw->port->RaiseCommEvents(EV_ERR);
            });
            st->inHandOver.Unsignal();
            continue;
        }
        bool empty;
        {
            std::lock_guard<TVaCriticalSection> g(st->lock);
            if (gen == st->generation)
                st->queue.Remove(len);
            empty = st->queue.Count() == 0;
            if (empty)
                st->dataReady.Unsignal();
        }
        st->room.Signal();
        if (empty) {
            st->inHandOver.Signal();
            UiBridge().Synchronize([raw] {
                if (!raw->terminated.load())
                    raw->port->RaiseCommEvents(EV_TXEMPTY);
            });
            st->inHandOver.Unsignal();
        }
    }
}

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
            flock(fd, LOCK_UN);
            ioctl(fd, TIOCNXCL);
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
    int fd = -1;
    int err = ENOENT;
    impl_->openError = 0;
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

void TVaCustomComm::LaunchThreads()
{
    const int fd = impl_->fd;
    if (impl_->eventMask != 0) {
        auto st = std::make_shared<TVaEventThreadState>();
        st->port = this;
        st->mask = impl_->eventMask;
        st->priority = eventPriority_;
        st->wakeFd = MakeWakeFd();
        st->fd = DupDevice(fd);
        {
            std::lock_guard<std::mutex> g(impl_->linkLock);
            impl_->ev = st;
        }
        ThreadStarted();
        try {
            std::thread([st]() mutable {
                Impl::EventThread(std::move(st));
                ThreadEnded();
            }).detach();
        } catch (...) {
            ThreadEnded();
            throw;
        }
    }
    if (!directWrite_) {
        auto st = std::make_shared<TVaWriteThreadState>(buffers_.WriteSize());
        st->port = this;
        st->priority = writePriority_;
        st->writeTimeout = buffers_.WriteTimeout();
        st->wakeFd = MakeWakeFd();
        st->fd = DupDevice(fd);
        {
            std::lock_guard<std::mutex> g(impl_->linkLock);
            impl_->wr = st;
        }
        ThreadStarted();
        try {
            std::thread([st]() mutable {
                Impl::WriteThread(std::move(st));
                ThreadEnded();
            }).detach();
        } catch (...) {
            ThreadEnded();
            throw;
        }
    }
}

// Read lock held.
void TVaCustomComm::StopThreads()
{
    std::shared_ptr<TVaEventThreadState> ev;
    std::shared_ptr<TVaWriteThreadState> wr;
    {
        std::lock_guard<std::mutex> g(impl_->linkLock);
        ev.swap(impl_->ev);
        wr.swap(impl_->wr);
    }
    if (ev) {
        ev->terminated = true;
        ev->Wake();
    }
    if (wr) {
        wr->terminated = true;
        wr->stop.Signal();
        wr->room.Signal();
        wr->Wake();
    }
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
        flock(fd, LOCK_UN);
        ioctl(fd, TIOCNXCL);
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
    int err = termio::ApplyLine(fd, s);
    if (err != 0)
        Raise(kMsgDcb, err);
    const bool dtr = flowControl_.ControlDtr() != dtrDisabled;
    const bool rts = flowControl_.ControlRts() == rtsEnabled || flowControl_.ControlRts() == rtsHandshake;
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
            if (errno == EIO)  // the far end went away; the event thread reports it
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
    if (fd < 0 || impl_->deviceLost)
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
            const ssize_t n = write(fd, data + done, static_cast<size_t>(count - done));
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
    if (flags != 10) {
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
    const bool input = (flags & 0x0A) != 0;
    const bool output = (flags & 0x05) != 0;
    if (input || output) {
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

// --- threads of all ports -------------------------------------------------------------

int TVaCustomComm::RunningThreads()
{
    auto& t = Threads();
    std::lock_guard<std::mutex> g(t.m);
    return t.n;
}

bool TVaCustomComm::WaitThreadsEnded(int ms)
{
    return Threads().none.WaitMs(ms) == wrSignaled;
}

}  // namespace kv
