// The port's two threads: the event thread that hands received data and
// line events to the UI thread, and the writer thread that drains the output
// queue; how the port starts and stops them, and the count of running
// threads of all ports.
//
// Both threads keep their state in an object they share with the port;
// Close marks it terminated, wakes the thread and forgets it without
// waiting. The thread ends on its own and the last owner frees the state, so
// a thread blocked in a hand-over to the UI thread never touches a closed or
// destroyed port: the hand-over checks the terminated flag on the UI thread,
// where the port is also closed and destroyed.
#include "serial/VaCommThreads.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <thread>

#include "serial/UiBridge.h"

namespace kv {

namespace detail {

void CallGuarded(const std::function<void()>& fn)
{
    try {
        fn();
    } catch (...) {
        HandleApplicationException(std::current_exception());
    }
}

void Poke(int wakeFd)
{
    const uint64_t one = 1;
    (void)!write(wakeFd, &one, sizeof one);
}

}  // namespace detail

namespace {

using detail::CallGuarded;
using detail::ThreadEnded;
using detail::ThreadStarted;

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

}  // namespace

void detail::ThreadStarted()
{
    auto& t = Threads();
    std::lock_guard<std::mutex> g(t.m);
    if (t.n++ == 0)
        t.none.Unsignal();
}

void detail::ThreadEnded()
{
    auto& t = Threads();
    std::lock_guard<std::mutex> g(t.m);
    if (--t.n == 0)
        t.none.Signal();
}

namespace {

int MakeWakeFd()
{
    const int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0)
        throw std::system_error(errno, std::generic_category(), "eventfd");
    return fd;
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
        const ssize_t n = st.isSocket ? send(st.fd, data + done, static_cast<size_t>(len - done), MSG_NOSIGNAL)
                                      : write(st.fd, data + done, static_cast<size_t>(len - done));
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
                // A line already reported lost is not reported again.
                if (raw->terminated.load() || raw->port->impl_->deviceLost.exchange(true))
                    return;
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

// --- starting and stopping ---------------------------------------------------------

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
        st->isSocket = impl_->net != nullptr;
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
