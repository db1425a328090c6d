// Private to the port: the link to a serial device server. Only
// serial/VaComm.cpp and serial/VaNet*.cpp include it.
#pragma once

#include <memory>
#include <mutex>

#include "serial/VaNet.h"
#include "serial/VaTermios.h"

namespace kv {

class TVaNetLink {
public:
    // Resolves and connects (each within kVaConnectTimeoutMs), then starts
    // the link's thread. On failure returns null with status.failure set.
    // status is filled in as the connection goes on (see Status()).
    static std::shared_ptr<TVaNetLink> Connect(const TVaNetAddress& address, TVaNetStatus& status);
    ~TVaNetLink();

    // The port's end of the socket pair, once; the port owns it from then
    // on and uses it as its device.
    int TakePortFd()
    {
        const int fd = portFd_;
        portFd_ = -1;
        return fd;
    }

    // rfc2217: the line the server is to set; sent at once when the server
    // has agreed to COM-PORT-OPTION, else when it does.
    void SetLine(const termio::TLineSettings& s, bool dtr, bool rts);
    // Input: drops what the link holds for the port. Output (rfc2217): asks
    // the server to discard what it has yet to send on the line
    // (PURGE-DATA); what the server received is never purged there.
    void Purge(bool input, bool output);
    // Ends the link: the connection is shut at once; the thread ends on its
    // own.
    void Stop();
    // What the link learnt so far.
    TVaNetStatus Status() const;

    struct State;

private:
    TVaNetLink() = default;
    std::shared_ptr<State> st_;
    int portFd_ = -1;
};

}  // namespace kv
