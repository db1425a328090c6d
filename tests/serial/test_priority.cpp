// Thread priorities become nice values relative to the process, within the
// system's range; a refused raise is reported, not hidden.
#include "serial/VaPriority.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

using namespace kv;

namespace {

int NiceOf(int tid)
{
    errno = 0;
    const int n = getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
    EXPECT_EQ(errno, 0);
    return n;
}

}  // namespace

TEST(ThreadPriority, NiceValuesAreRelativeToTheProcessAndStayInRange)
{
    EXPECT_EQ(NiceForPriority(0, tpIdle), 19);
    EXPECT_EQ(NiceForPriority(0, tpLowest), 10);
    EXPECT_EQ(NiceForPriority(0, tpLower), 5);
    EXPECT_EQ(NiceForPriority(0, tpNormal), 0);
    EXPECT_EQ(NiceForPriority(0, tpHigher), -5);
    EXPECT_EQ(NiceForPriority(0, tpHighest), -10);
    EXPECT_EQ(NiceForPriority(0, tpTimeCritical), -20);
    // A process already running lower or higher shifts every value, and the
    // ends are cut at the system's range.
    EXPECT_EQ(NiceForPriority(10, tpLower), 15);
    EXPECT_EQ(NiceForPriority(10, tpLowest), 19);
    EXPECT_EQ(NiceForPriority(10, tpHighest), 0);
    EXPECT_EQ(NiceForPriority(-15, tpTimeCritical), -20);
    // Values outside the enum count as its nearest end.
    EXPECT_EQ(NiceForPriority(0, static_cast<TThreadPriority>(-3)), 19);
    EXPECT_EQ(NiceForPriority(0, static_cast<TThreadPriority>(42)), -20);
}

TEST(ThreadPriority, AppliedToARunningThreadAndARefusedRaiseSaysSo)
{
    EXPECT_FALSE(ApplyThreadPriority(0, tpLower));
    EXPECT_FALSE(ApplyThreadPriority(-1, tpLower));

    const int base = NiceOf(static_cast<int>(getpid()));
    // On a thread of its own: a nice value once raised cannot always be
    // taken back, and the test's main thread is the process's.
    std::thread([base] {
        const int tid = static_cast<int>(gettid());
        // Lowering is open to everyone.
        EXPECT_TRUE(ApplyThreadPriority(tid, tpLower));
        EXPECT_EQ(NiceOf(tid), NiceForPriority(base, tpLower));
        EXPECT_TRUE(ApplyThreadPriority(tid, tpIdle));
        EXPECT_EQ(NiceOf(tid), 19);
        // Raising may be refused; the answer must match what happened.
        const bool raised = ApplyThreadPriority(tid, tpHighest);
        EXPECT_EQ(raised, NiceOf(tid) == NiceForPriority(base, tpHighest));
    }).join();
    EXPECT_EQ(NiceOf(static_cast<int>(gettid())), base);
}
