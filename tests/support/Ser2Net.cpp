#include "tests/support/Ser2Net.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <vector>

#include "serial/VaSync.h"

extern char** environ;

namespace kvtest {

namespace {

int MsLeft(uint64_t end)
{
    const uint64_t now = kv::TickMs();
    return now >= end ? 0 : static_cast<int>(end - now);
}

std::string Which(const std::string& name)
{
    for (const char* dir : {"/usr/sbin", "/usr/bin", "/sbin", "/bin", "/usr/local/sbin", "/usr/local/bin"}) {
        const std::string p = std::string(dir) + "/" + name;
        if (access(p.c_str(), X_OK) == 0)
            return p;
    }
    return {};
}

}  // namespace

int TSer2Net::FreePort()
{
    const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        throw std::runtime_error("socket: " + std::string(std::strerror(errno)));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        close(s);
        throw std::runtime_error("no free port: " + std::string(std::strerror(errno)));
    }
    close(s);
    return ntohs(a.sin_port);
}

TSer2Net::TSer2Net(const std::string& device, Kind kind, const std::string& options) : kind_(kind)
{
    const std::string exe = Which("ser2net");
    if (exe.empty())
        throw std::runtime_error("ser2net is not installed (scripts/setup.sh installs it)");
    port_ = FreePort();
    const std::string config = dir_ / "ser2net.yaml";
    const std::string pidFile = dir_ / "ser2net.pid";
    {
        std::ofstream f(config);
        f << "connection: &unit\n";
        f << "  accepter: " << (kind == Kind::Rfc2217 ? "telnet(rfc2217),tcp," : "tcp,") << "127.0.0.1," << port_
          << "\n";
        // "local": a pseudo-terminal has no modem lines to watch.
        f << "  connector: serialdev," << device << ",19200n81,local\n";
        f << "  options:\n";
        f << "    max-connections: 1\n";
        if (!options.empty())
            f << "    " << options << "\n";
        if (!f)
            throw std::runtime_error("cannot write " + config);
    }
    // ser2net writes its pid file once its accepters listen: wait for it.
    const int watch = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (watch < 0 || inotify_add_watch(watch, dir_.Path().c_str(), IN_CLOSE_WRITE | IN_MOVED_TO) < 0) {
        if (watch >= 0)
            close(watch);
        throw std::runtime_error("inotify: " + std::string(std::strerror(errno)));
    }
    std::vector<std::string> args = {exe, "-n", "-u", "-c", config, "-P", pidFile};
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // Its complaints (no mDNS here) stay out of the test's output.
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    const int rc = posix_spawn(&pid_, exe.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        close(watch);
        throw std::runtime_error("cannot start ser2net: " + std::string(std::strerror(rc)));
    }
    pidFd_ = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
    const uint64_t end = kv::TickMs() + 5000;
    bool ready = false;
    while (!ready) {
        pollfd p[2] = {{watch, POLLIN, 0}, {pidFd_, POLLIN, 0}};
        const int n = poll(p, pidFd_ >= 0 ? 2 : 1, MsLeft(end));
        if (n == 0)
            break;
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 || (p[1].revents & POLLIN))
            break;  // ser2net ended
        alignas(inotify_event) char buf[4096];
        while (read(watch, buf, sizeof buf) > 0) {
        }
        ready = std::filesystem::exists(pidFile);
    }
    close(watch);
    if (!ready) {
        Reap(0);
        throw std::runtime_error("ser2net did not start listening on 127.0.0.1:" + std::to_string(port_));
    }
}

TSer2Net::~TSer2Net()
{
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        Reap(3000);
    }
    if (pidFd_ >= 0)
        close(pidFd_);
}

std::string TSer2Net::Address() const
{
    return std::string(kind_ == Kind::Rfc2217 ? "rfc2217://" : "tcp://") + "127.0.0.1:" + std::to_string(port_);
}

void TSer2Net::Kill()
{
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        Reap(3000);
    }
}

// Waits for ser2net to end (killing it when it has not within timeoutMs).
void TSer2Net::Reap(int timeoutMs)
{
    if (pid_ <= 0)
        return;
    if (pidFd_ >= 0) {
        pollfd p = {pidFd_, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) == 0)
            kill(pid_, SIGKILL);
    } else {
        kill(pid_, SIGKILL);
    }
    int status;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
}

}  // namespace kvtest
