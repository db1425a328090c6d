// Debian's ser2net in front of a device (kvsim's pseudo-terminal), on a
// free port of 127.0.0.1, for the tests and benchmarks of units reached over
// the network. Started with the object and stopped with it.
//
//   kv::SimProcess sim;
//   kvtest::TSer2Net server(sim.Path(), kvtest::TSer2Net::Kind::Rfc2217);
//   comm.VaComm1.SetDeviceName(server.Address());  // rfc2217://127.0.0.1:PORT
#pragma once

#include <sys/types.h>

#include <string>

#include "tests/support/TempDir.h"

namespace kvtest {

class TSer2Net {
public:
    enum class Kind {
        Rfc2217,  // accepter telnet(rfc2217),tcp
        Tcp,      // accepter tcp
    };

    // Starts ser2net and waits (at most 5 s) until it accepts connections.
    // `options` are further lines of the connection's options block
    // ("kickolduser: true"). Throws std::runtime_error, saying why, when it
    // cannot start; tests skip then.
    TSer2Net(const std::string& device, Kind kind, const std::string& options = {});
    ~TSer2Net();
    TSer2Net(const TSer2Net&) = delete;
    TSer2Net& operator=(const TSer2Net&) = delete;

    int Port() const { return port_; }
    // "rfc2217://127.0.0.1:PORT" or "tcp://127.0.0.1:PORT".
    std::string Address() const;
    pid_t Pid() const { return pid_; }
    // Ends ser2net at once (SIGKILL), as a server that goes away would.
    void Kill();

    // A TCP port of 127.0.0.1 nobody listens on at the moment.
    static int FreePort();

private:
    void Reap(int timeoutMs);

    TTempDir dir_;
    Kind kind_;
    int port_ = 0;
    pid_t pid_ = -1;
    int pidFd_ = -1;
};

}  // namespace kvtest
