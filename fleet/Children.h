// Child processes, each with a deadline, all waited on at once.
//
// Every child is watched through its pidfd; one poll over all of them, with
// the nearest deadline as its time-out, wakes when a child ends or a
// deadline passes. A child past its deadline is killed (SIGKILL) and
// reported as such once it is gone. Children die with the process that
// started them (PR_SET_PDEATHSIG), so a runner that is killed leaves none
// behind.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace kv {

class TChildren {
public:
    struct TLaunch {
        // argv[0] is the program's path (no search).
        std::vector<std::string> argv;
        // Files for standard output and error; empty: the parent's own.
        std::string stdoutPath;
        std::string stderrPath;
        // Standard input is /dev/null unless the child shares the parent's.
        bool inheritStdin = false;
        std::chrono::milliseconds timeout{0};
    };
    struct TEnd {
        // The exit status, or -1 when a signal ended it.
        int status = -1;
        int signal = 0;
        // Killed because it passed its deadline.
        bool timedOut = false;
    };
    using TDone = std::function<void(const TEnd&)>;

    TChildren() = default;
    ~TChildren();
    TChildren(const TChildren&) = delete;
    TChildren& operator=(const TChildren&) = delete;

    // Starts a child; `done` is called from Wait once it has ended. False
    // with `error` when it could not be started.
    bool Start(const TLaunch& launch, TDone done, std::string& error);
    size_t Running() const { return children_.size(); }

    // Waits until at least one child has ended (or passed its deadline and
    // was killed) and calls the `done` of each that ended. False at once
    // when none is running.
    bool Wait();

private:
    struct TChild {
        pid_t pid = -1;
        int pidfd = -1;
        std::chrono::steady_clock::time_point deadline;
        bool killed = false;
        TDone done;
    };
    std::vector<TChild> children_;
};

// Message for an end: "" for exit status 0.
std::string EndText(const TChildren::TEnd& end, std::chrono::milliseconds timeout);

}  // namespace kv
