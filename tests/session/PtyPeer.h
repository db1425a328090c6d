// A scripted peer on a pseudo-terminal, for tests that need replies the
// simulated unit would never give (broken lines, odd replies). The tool
// opens Path(); the peer reads what the tool sends, optionally echoes it,
// and answers by rules: when the bytes received since the last rule fired
// contain the next rule's trigger, its reply is sent. Rules fire in order,
// each once.
#pragma once

#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "serial/VaSync.h"

namespace kvtest {

class TPtyPeer {
public:
    explicit TPtyPeer(bool echo = true);
    ~TPtyPeer();
    TPtyPeer(const TPtyPeer&) = delete;
    TPtyPeer& operator=(const TPtyPeer&) = delete;

    // The device path the tool opens.
    const std::string& Path() const { return path_; }
    // Answer the next time `trigger` has arrived.
    void On(const std::string& trigger, const std::string& reply);
    // Sends bytes to the tool now.
    void Send(const std::string& bytes);
    // Everything the tool has sent so far.
    std::string Received() const;
    // Waits until what the tool sent contains text; false on time-out.
    bool WaitReceived(const std::string& text, int timeoutMs);

private:
    void loop();

    std::string path_;
    int master_ = -1;
    int slave_ = -1;
    int stopPipe_[2] = {-1, -1};
    bool echo_;
    mutable std::mutex m_;
    std::string received_;
    std::string pending_;
    std::deque<std::pair<std::string, std::string>> rules_;
    kv::TVaWaitEvent arrived_{false, true};
    std::thread thread_;
};

}  // namespace kvtest
