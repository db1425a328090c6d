#include "fleet/Children.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace kv {

namespace {

int pidfdOpen(pid_t pid)
{
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

}  // namespace

TChildren::~TChildren()
{
    for (TChild& c : children_) {
        ::kill(c.pid, SIGKILL);
        ::waitpid(c.pid, nullptr, 0);
        ::close(c.pidfd);
    }
}

bool TChildren::Start(const TLaunch& launch, TDone done, std::string& error)
{
    if (launch.argv.empty()) {
        error = "нет программы";
        return false;
    }
    // Everything the child needs is made before the fork: after it, only
    // calls that are safe there.
    std::vector<char*> argv;
    for (const std::string& a : launch.argv)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const char* out = launch.stdoutPath.empty() ? nullptr : launch.stdoutPath.c_str();
    const char* err = launch.stderrPath.empty() ? nullptr : launch.stderrPath.c_str();
    const bool inheritStdin = launch.inheritStdin;
    const pid_t parent = ::getpid();

    const pid_t pid = ::fork();
    if (pid < 0) {
        error = std::string("fork: ") + std::strerror(errno);
        return false;
    }
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
        if (!inheritStdin) {
            const int null = ::open("/dev/null", O_RDONLY);
            if (null < 0 || ::dup2(null, STDIN_FILENO) < 0)
                ::_exit(127);
        }
        if (out) {
            const int fd = ::open(out, O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (fd < 0 || ::dup2(fd, STDOUT_FILENO) < 0)
                ::_exit(127);
        }
        if (err) {
            const int fd = ::open(err, O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (fd < 0 || ::dup2(fd, STDERR_FILENO) < 0)
                ::_exit(127);
        }
        // The parent's blocked signals are not the child's business.
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    TChild child;
    child.pid = pid;
    child.pidfd = pidfdOpen(pid);
    if (child.pidfd < 0) {
        error = std::string("pidfd_open: ") + std::strerror(errno);
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        return false;
    }
    ::fcntl(child.pidfd, F_SETFD, FD_CLOEXEC);
    child.deadline = std::chrono::steady_clock::now() + launch.timeout;
    child.done = std::move(done);
    children_.push_back(std::move(child));
    return true;
}

bool TChildren::Wait()
{
    if (children_.empty())
        return false;
    for (;;) {
        const auto now = std::chrono::steady_clock::now();
        auto nearest = std::chrono::steady_clock::time_point::max();
        std::vector<pollfd> fds;
        for (TChild& c : children_) {
            if (!c.killed && c.deadline <= now) {
                ::kill(c.pid, SIGKILL);
                c.killed = true;
            }
            if (!c.killed)
                nearest = std::min(nearest, c.deadline);
            fds.push_back({c.pidfd, POLLIN, 0});
        }
        int timeout = -1;
        if (nearest != std::chrono::steady_clock::time_point::max()) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(nearest - now).count();
            timeout = static_cast<int>(std::clamp<long long>(left, 0, 24LL * 3600 * 1000));
        }
        const int n = ::poll(fds.data(), fds.size(), timeout);
        if (n < 0 && errno != EINTR)
            return false;
        if (n <= 0)
            continue;
        // The children that ended, taken out before any `done` runs (a
        // `done` may start others).
        std::vector<std::pair<TDone, TEnd>> ended;
        for (size_t i = fds.size(); i-- > 0;) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            TChild& c = children_[i];
            int raw = 0;
            if (::waitpid(c.pid, &raw, WNOHANG) != c.pid)
                continue;
            TEnd end;
            end.timedOut = c.killed;
            if (WIFEXITED(raw))
                end.status = WEXITSTATUS(raw);
            else if (WIFSIGNALED(raw))
                end.signal = WTERMSIG(raw);
            ::close(c.pidfd);
            ended.emplace_back(std::move(c.done), end);
            children_.erase(children_.begin() + static_cast<std::ptrdiff_t>(i));
        }
        if (ended.empty())
            continue;
        for (auto& [done, end] : ended)
            if (done)
                done(end);
        return true;
    }
}

std::string EndText(const TChildren::TEnd& end, std::chrono::milliseconds timeout)
{
    if (end.timedOut)
        return "не уложилось в " + std::to_string(timeout.count() / 1000) + " с и остановлено";
    if (end.status == 0)
        return {};
    if (end.status > 0)
        return "завершилось с кодом " + std::to_string(end.status);
    return std::string("остановлено сигналом ") + std::to_string(end.signal) + " (" + ::strsignal(end.signal) + ")";
}

}  // namespace kv
