// Private to the port: what the port shares with its event and writer
// threads (their states), the port's own state (TVaCustomComm::Impl) and the
// few helpers both sides use. Only serial/VaComm.cpp and
// serial/VaCommThreads.cpp include it.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "serial/VaComm.h"
#include "serial/VaNetLink.h"
#include "serial/VaTermios.h"

namespace kv {

namespace detail {

// Runs fn; what it throws goes to the application's exception handler.
void CallGuarded(const std::function<void()>& fn);
// Wakes a thread waiting on its wake-up descriptor.
void Poke(int wakeFd);
// The count of running port threads (RunningThreads) for threads that
// belong to a port without being its event or writer thread.
void ThreadStarted();
void ThreadEnded();


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
    bool isSocket = false;  // writes go through send() without SIGPIPE
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
    // A unit behind a serial device server: the link, while open, and what
    // it learnt (kept after Close until the next Open).
    std::shared_ptr<TVaNetLink> net;
    TVaNetStatus netStatus;
    mutable std::mutex netLock;  // guards netStatus and the net pointer's reads
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

}  // namespace kv
