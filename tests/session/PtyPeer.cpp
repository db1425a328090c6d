#include "tests/session/PtyPeer.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <stdexcept>

namespace kvtest {

TPtyPeer::TPtyPeer(bool echo) : echo_(echo)
{
    char name[256] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0)
        throw std::runtime_error("openpty failed");
    path_ = name;
    termios t{};
    tcgetattr(slave_, &t);
    cfmakeraw(&t);
    tcsetattr(slave_, TCSANOW, &t);
    if (pipe(stopPipe_) != 0)
        throw std::runtime_error("pipe failed");
    thread_ = std::thread([this] { loop(); });
}

TPtyPeer::~TPtyPeer()
{
    const char stop = 1;
    (void)!write(stopPipe_[1], &stop, 1);
    thread_.join();
    close(stopPipe_[0]);
    close(stopPipe_[1]);
    close(master_);
    close(slave_);
}

void TPtyPeer::On(const std::string& trigger, const std::string& reply)
{
    std::lock_guard<std::mutex> g(m_);
    rules_.emplace_back(trigger, reply);
}

void TPtyPeer::Send(const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            return;
        done += static_cast<size_t>(n);
    }
}

std::string TPtyPeer::Received() const
{
    std::lock_guard<std::mutex> g(m_);
    return received_;
}

bool TPtyPeer::WaitReceived(const std::string& text, int timeoutMs)
{
    const uint64_t deadline = kv::TickMs() + static_cast<uint64_t>(timeoutMs);
    for (;;) {
        {
            std::lock_guard<std::mutex> g(m_);
            if (received_.find(text) != std::string::npos)
                return true;
        }
        const uint64_t now = kv::TickMs();
        if (now >= deadline)
            return false;
        arrived_.WaitMs(static_cast<int>(deadline - now));
    }
}

void TPtyPeer::loop()
{
    char buf[4096];
    for (;;) {
        pollfd fds[2] = {{master_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0)
            continue;
        if (fds[1].revents)
            return;
        if (!(fds[0].revents & POLLIN))
            continue;
        const ssize_t n = read(master_, buf, sizeof buf);
        if (n <= 0)
            continue;
        const std::string chunk(buf, static_cast<size_t>(n));
        std::string replies;
        {
            std::lock_guard<std::mutex> g(m_);
            received_ += chunk;
            pending_ += chunk;
            while (!rules_.empty()) {
                const size_t at = pending_.find(rules_.front().first);
                if (at == std::string::npos)
                    break;
                replies += rules_.front().second;
                pending_.erase(0, at + rules_.front().first.size());
                rules_.pop_front();
            }
        }
        if (echo_)
            Send(chunk);
        Send(replies);
        arrived_.Signal();
    }
}

}  // namespace kvtest
