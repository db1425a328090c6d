// Addresses of units behind serial device servers, and the link that
// carries the port's bytes to such a server.
//
// The link's thread moves bytes between the TCP connection and the link's
// end of a socket pair whose other end the port uses as its device. For
// rfc2217:// the bytes pass through the telnet layer (libtelnet): 0xFF is
// doubled on the way out and undoubled on the way in, negotiations and
// the COM-PORT-OPTION commands travel beside the data. Nothing ever waits
// for the server's answer to a command: the line settings go out when the
// server agrees to COM-PORT-OPTION, and its answers are only noted.
#include "serial/VaNet.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <libtelnet.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <thread>

#include "serial/VaCommThreads.h"
#include "serial/VaNetLink.h"
#include "serial/VaSync.h"

namespace kv {

// --- addresses ------------------------------------------------------------------

namespace {

constexpr const char* kRfc2217 = "rfc2217://";
constexpr const char* kTcp = "tcp://";

bool StartsWithNoCase(const std::string& s, const char* prefix)
{
    const size_t n = std::strlen(prefix);
    if (s.size() < n)
        return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(s[i])) != prefix[i])
            return false;
    return true;
}

const char* ErrorText(TVaNetAddressError e)
{
    switch (e) {
    case TVaNetAddressError::NotAnAddress: return "not rfc2217:// or tcp://";
    case TVaNetAddressError::NoHost: return "no host";
    case TVaNetAddressError::BadHost: return "bad host name";
    case TVaNetAddressError::UnclosedBracket: return "unclosed bracket";
    case TVaNetAddressError::BadIpv6: return "bad IPv6 address";
    case TVaNetAddressError::NoPort: return "no port";
    case TVaNetAddressError::BadPort: return "bad port";
    case TVaNetAddressError::PortOutOfRange: return "port out of range";
    case TVaNetAddressError::None: break;
    }
    return "";
}

bool HostCharOk(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_';
}

}  // namespace

std::string TVaNetAddress::Text() const
{
    std::string s = scheme == TVaNetScheme::Rfc2217 ? kRfc2217 : scheme == TVaNetScheme::Tcp ? kTcp : "";
    if (host.find(':') != std::string::npos)
        s += "[" + host + "]";
    else
        s += host;
    return s + ":" + std::to_string(port);
}

bool IsVaNetAddress(const std::string& text)
{
    return StartsWithNoCase(text, kRfc2217) || StartsWithNoCase(text, kTcp);
}

std::string VaNetAddressProblem(TVaNetAddressError why)
{
    switch (why) {
    case TVaNetAddressError::NotAnAddress: return "адрес начинается с rfc2217:// или tcp://";
    case TVaNetAddressError::NoHost: return "не указан сервер";
    case TVaNetAddressError::BadHost: return "недопустимые символы в имени сервера";
    case TVaNetAddressError::UnclosedBracket: return "нет закрывающей скобки ]";
    case TVaNetAddressError::BadIpv6: return "неверный адрес IPv6";
    case TVaNetAddressError::NoPort: return "не указан порт после двоеточия";
    case TVaNetAddressError::BadPort: return "порт должен быть числом";
    case TVaNetAddressError::PortOutOfRange: return "порт должен быть от 1 до 65535";
    case TVaNetAddressError::None: break;
    }
    return "";
}

bool ParseVaNetAddress(const std::string& text, TVaNetAddress& out, std::string* error, TVaNetAddressError* why)
{
    const auto Fail = [&](TVaNetAddressError e) {
        if (error)
            *error = ErrorText(e);
        if (why)
            *why = e;
        return false;
    };
    TVaNetAddress a;
    std::string rest;
    if (StartsWithNoCase(text, kRfc2217)) {
        a.scheme = TVaNetScheme::Rfc2217;
        rest = text.substr(std::strlen(kRfc2217));
    } else if (StartsWithNoCase(text, kTcp)) {
        a.scheme = TVaNetScheme::Tcp;
        rest = text.substr(std::strlen(kTcp));
    } else {
        return Fail(TVaNetAddressError::NotAnAddress);
    }
    if (!rest.empty() && rest.back() == '/')
        rest.pop_back();
    size_t colon;
    if (!rest.empty() && rest[0] == '[') {
        const size_t close = rest.find(']');
        if (close == std::string::npos)
            return Fail(TVaNetAddressError::UnclosedBracket);
        a.host = rest.substr(1, close - 1);
        if (a.host.empty() || a.host.find_first_not_of("0123456789abcdefABCDEF:.") != std::string::npos ||
            a.host.find(':') == std::string::npos)
            return Fail(TVaNetAddressError::BadIpv6);
        if (close + 1 >= rest.size() || rest[close + 1] != ':')
            return Fail(TVaNetAddressError::NoPort);
        colon = close + 1;
    } else {
        colon = rest.rfind(':');
        if (colon == std::string::npos)
            return Fail(TVaNetAddressError::NoPort);
        a.host = rest.substr(0, colon);
        if (a.host.empty())
            return Fail(TVaNetAddressError::NoHost);
        if (!std::all_of(a.host.begin(), a.host.end(), HostCharOk) || a.host.front() == '.' ||
            a.host.front() == '-' || a.host.find("..") != std::string::npos || a.host.size() > 253)
            return Fail(TVaNetAddressError::BadHost);
    }
    const std::string port = rest.substr(colon + 1);
    if (port.empty() || port.size() > 5 || !std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return Fail(TVaNetAddressError::BadPort);
    a.port = std::stoi(port);
    if (a.port < 1 || a.port > 65535)
        return Fail(TVaNetAddressError::PortOutOfRange);
    out = a;
    if (why)
        *why = TVaNetAddressError::None;
    return true;
}

// --- resolving and connecting ------------------------------------------------------

namespace {

// One name resolution on a thread of its own; the caller waits for it with
// a time-out and, when that passes, leaves it to finish on its own.
struct TResolveJob {
    std::mutex m;
    TVaWaitEvent done;
    bool abandoned = false;
    int rc = 0;
    addrinfo* result = nullptr;
};

struct TAddrInfoFree {
    void operator()(addrinfo* a) const
    {
        if (a)
            freeaddrinfo(a);
    }
};
using TAddrInfoPtr = std::unique_ptr<addrinfo, TAddrInfoFree>;

TAddrInfoPtr Resolve(const TVaNetAddress& address, TVaNetStatus& status)
{
    auto job = std::make_shared<TResolveJob>();
    const std::string host = address.host;
    const std::string port = std::to_string(address.port);
    try {
        std::thread([job, host, port] {
            addrinfo hints{};
            hints.ai_family = AF_UNSPEC;
            hints.ai_socktype = SOCK_STREAM;
            hints.ai_flags = AI_NUMERICSERV;
            addrinfo* res = nullptr;
            const int rc = getaddrinfo(host.c_str(), port.c_str(), &hints, &res);
            std::lock_guard<std::mutex> g(job->m);
            if (job->abandoned) {
                if (res)
                    freeaddrinfo(res);
            } else {
                job->rc = rc;
                job->result = res;
            }
            job->done.Signal();
        }).detach();
    } catch (const std::system_error& e) {
        status.failure = TVaNetFailure::Other;
        status.error = e.code().value();
        status.errorText = e.what();
        return nullptr;
    }
    const bool finished = job->done.WaitMs(kVaConnectTimeoutMs) == wrSignaled;
    std::lock_guard<std::mutex> g(job->m);
    if (!finished) {
        job->abandoned = true;
        status.failure = TVaNetFailure::TimedOut;
        status.error = ETIMEDOUT;
        status.errorText = "name resolution timed out";
        return nullptr;
    }
    TAddrInfoPtr result(job->result);
    job->result = nullptr;
    if (job->rc != 0 || !result) {
        const int rc = job->rc;
        const bool notFound = rc == EAI_NONAME || rc == EAI_NODATA || rc == EAI_FAIL || rc == EAI_AGAIN;
        status.failure = notFound ? TVaNetFailure::HostNotFound : TVaNetFailure::Other;
        status.error = rc == EAI_SYSTEM ? errno : ENOENT;
        status.errorText = gai_strerror(rc);
        return nullptr;
    }
    return result;
}

std::string AddressText(const sockaddr* sa)
{
    char host[NI_MAXHOST] = "", serv[NI_MAXSERV] = "";
    const socklen_t len = sa->sa_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    if (getnameinfo(sa, len, host, sizeof host, serv, sizeof serv, NI_NUMERICHOST | NI_NUMERICSERV) != 0)
        return {};
    const std::string h = sa->sa_family == AF_INET6 ? "[" + std::string(host) + "]" : host;
    return h + ":" + serv;
}

TVaNetFailure FailureOf(int err)
{
    switch (err) {
    case ECONNREFUSED: return TVaNetFailure::Refused;
    case ETIMEDOUT: return TVaNetFailure::TimedOut;
    case EHOSTUNREACH:
    case ENETUNREACH:
    case EHOSTDOWN:
    case ENETDOWN: return TVaNetFailure::Unreachable;
    default: return TVaNetFailure::Other;
    }
}

void SetOptions(int fd)
{
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
    // A server that vanishes without a word (power, cable) is noticed within
    // about half a minute even while nothing is sent ...
    const int idle = 10, interval = 5, count = 3;
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
    // ... and within 20 s while bytes wait for its acknowledgement.
    const unsigned userTimeout = 20000;
    setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeout, sizeof userTimeout);
}

// Connects to one of the addresses within the time-out; returns the socket
// or -1 with status.failure set.
int ConnectAny(const addrinfo* list, TVaNetStatus& status)
{
    const uint64_t end = TickMs() + kVaConnectTimeoutMs;
    int lastErr = ETIMEDOUT;
    for (const addrinfo* a = list; a; a = a->ai_next) {
        const int fd = socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            lastErr = errno;
            continue;
        }
        int err = 0;
        if (connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
            err = errno;
            if (err == EINPROGRESS) {
                const int64_t left = static_cast<int64_t>(end) - static_cast<int64_t>(TickMs());
                pollfd p = {fd, POLLOUT, 0};
                int r;
                do
                    r = left > 0 ? poll(&p, 1, static_cast<int>(left)) : 0;
                while (r < 0 && errno == EINTR);
                if (r == 0) {
                    err = ETIMEDOUT;
                } else {
                    socklen_t len = sizeof err;
                    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
                        err = errno;
                }
            }
        }
        if (err == 0) {
            SetOptions(fd);
            status.resolved = AddressText(a->ai_addr);
            return fd;
        }
        close(fd);
        lastErr = err;
        if (err == ETIMEDOUT)
            break;  // the whole time-out is spent
    }
    status.failure = FailureOf(lastErr);
    status.error = lastErr;
    status.errorText = std::strerror(lastErr);
    return -1;
}

}  // namespace

// --- the link -------------------------------------------------------------------

namespace {

constexpr unsigned char kComPortOption = 44;
// COM-PORT-OPTION commands (client to server).
constexpr unsigned char kSetBaudrate = 1;
constexpr unsigned char kSetDatasize = 2;
constexpr unsigned char kSetParity = 3;
constexpr unsigned char kSetStopsize = 4;
constexpr unsigned char kSetControl = 5;
constexpr unsigned char kPurgeData = 12;

// What the link holds at most in either direction before it stops reading
// from the other side.
constexpr size_t kHoldLimit = 64 * 1024;
constexpr size_t kFirstBytesKept = 256;

const telnet_telopt_t kTelnetOptions[] = {
    {TELNET_TELOPT_BINARY, TELNET_WILL, TELNET_DO},
    {TELNET_TELOPT_SGA, TELNET_WILL, TELNET_DO},
    // A server never offers it; accepting the offer lets the event tell of
    // our own offer coming back (see OnTelnet).
    {kComPortOption, TELNET_WILL, TELNET_DO},
    {-1, 0, 0},
};

}  // namespace

struct TVaNetLink::State {
    std::mutex m;  // everything below but the descriptors the thread owns
    bool rfc2217 = false;
    telnet_t* telnet = nullptr;
    int tcp = -1;   // closed by the thread, under m
    int local = -1; // the link's end of the pair; the thread's
    int wake = -1;
    std::atomic<bool> stop{false};

    std::string inbound;   // for the port
    std::string outbound;  // for the server
    TVaNetStatus status;
    bool haveLine = false;
    termio::TLineSettings line;
    bool dtr = false, rts = false;
    bool rawInspected = false;  // tcp: the first byte was looked at

    ~State()
    {
        if (telnet)
            telnet_free(telnet);
        if (tcp >= 0)
            close(tcp);
        if (local >= 0)
            close(local);
        if (wake >= 0)
            close(wake);
    }

    void Poke() { detail::Poke(wake); }

    void Keep(const char* data, size_t n)
    {
        status.received += n;
        const size_t room = kFirstBytesKept - std::min(kFirstBytesKept, status.firstBytes.size());
        status.firstBytes.append(data, std::min(room, n));
    }

    // m held.
    void SendCommand(std::initializer_list<unsigned char> bytes)
    {
        const std::string b(bytes.begin(), bytes.end());
        telnet_subnegotiation(telnet, kComPortOption, b.data(), b.size());
    }

    // m held; the server has agreed to COM-PORT-OPTION.
    void SendLine()
    {
        const uint32_t baud = static_cast<uint32_t>(line.speed);
        SendCommand({kSetBaudrate, static_cast<unsigned char>(baud >> 24), static_cast<unsigned char>(baud >> 16),
                     static_cast<unsigned char>(baud >> 8), static_cast<unsigned char>(baud)});
        SendCommand({kSetDatasize, static_cast<unsigned char>(line.dataBits)});
        // 1 none, 2 odd, 3 even, 4 mark, 5 space: our codes plus one.
        SendCommand({kSetParity, static_cast<unsigned char>(line.parity + 1)});
        SendCommand({kSetStopsize, static_cast<unsigned char>(line.twoStopBits ? 2 : 1)});
        // Outbound flow: 1 none, 2 XON/XOFF, 3 hardware; inbound: 14, 15, 16.
        SendCommand({kSetControl, static_cast<unsigned char>(line.ctsFlow ? 3 : line.xonXoffOut ? 2 : 1)});
        SendCommand({kSetControl, static_cast<unsigned char>(line.ctsFlow ? 16 : line.xonXoffIn ? 15 : 14)});
        // DTR 8 on / 9 off, RTS 11 on / 12 off.
        SendCommand({kSetControl, static_cast<unsigned char>(dtr ? 8 : 9)});
        SendCommand({kSetControl, static_cast<unsigned char>(rts ? 11 : 12)});
    }

    // The telnet layer's events; m held (every libtelnet call is made under it).
    static void OnTelnet(telnet_t*, telnet_event_t* ev, void* user)
    {
        auto* s = static_cast<State*>(user);
        switch (ev->type) {
        case TELNET_EV_DATA:
            s->inbound.append(ev->data.buffer, ev->data.size);
            s->Keep(ev->data.buffer, ev->data.size);
            break;
        case TELNET_EV_SEND:
            s->outbound.append(ev->data.buffer, ev->data.size);
            break;
        case TELNET_EV_WILL:
            // A server never offers COM-PORT-OPTION itself: this is our own
            // offer coming back from whatever echoes behind a raw port.
            if (ev->neg.telopt == kComPortOption)
                s->status.offersMirrored = true;
            else
                s->status.telnetAnswered = true;
            break;
        case TELNET_EV_DO:
            s->status.telnetAnswered = true;
            if (ev->neg.telopt == kComPortOption && !s->status.comPortAgreed) {
                s->status.comPortAgreed = true;
                if (s->haveLine)
                    s->SendLine();
            }
            break;
        case TELNET_EV_WONT:
        case TELNET_EV_DONT:
            s->status.telnetAnswered = true;
            break;
        case TELNET_EV_SUBNEGOTIATION:
            if (ev->sub.telopt == kComPortOption) {
                s->status.telnetAnswered = true;
                ++s->status.comPortAnswers;
            }
            break;
        case TELNET_EV_ERROR:
            s->status.errorText = ev->error.msg ? ev->error.msg : "telnet protocol error";
            break;
        default:
            break;
        }
    }

    static void Run(std::shared_ptr<State> st);
};

namespace {

// Writes as much of buf as the descriptor takes; false on a failure other
// than a full buffer (err set).
bool WriteSome(int fd, std::string& buf, bool socket, int& err)
{
    while (!buf.empty()) {
        const ssize_t n = socket ? send(fd, buf.data(), buf.size(), MSG_NOSIGNAL) : write(fd, buf.data(), buf.size());
        if (n > 0) {
            buf.erase(0, static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return true;
        err = n < 0 ? errno : EPIPE;
        return false;
    }
    return true;
}

}  // namespace

void TVaNetLink::State::Run(std::shared_ptr<State> st)
{
    char buf[16384];
    bool serverGone = false;
    bool portGone = false;
    while (!st->stop.load()) {
        pollfd p[3] = {};
        {
            std::lock_guard<std::mutex> g(st->m);
            if (serverGone && st->inbound.empty())
                break;  // everything the server sent is with the port
            p[0].fd = serverGone ? -1 : st->tcp;
            p[0].events = static_cast<short>((st->inbound.size() < kHoldLimit ? POLLIN : 0) |
                                             (st->outbound.empty() ? 0 : POLLOUT));
            p[1].fd = st->local;
            p[1].events = static_cast<short>((st->outbound.size() < kHoldLimit && !portGone ? POLLIN : 0) |
                                             (st->inbound.empty() ? 0 : POLLOUT));
        }
        p[2].fd = st->wake;
        p[2].events = POLLIN;
        if (poll(p, 3, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (st->stop.load())
            break;
        if (p[2].revents & POLLIN) {
            uint64_t v;
            (void)!read(st->wake, &v, sizeof v);
        }
        std::lock_guard<std::mutex> g(st->m);
        // From the server.
        if (!serverGone && (p[0].revents & (POLLIN | POLLHUP | POLLERR))) {
            const ssize_t n = recv(st->tcp, buf, sizeof buf, 0);
            // Acknowledge at once: a server that sends small pieces without
            // TCP_NODELAY holds the next one until the last is acknowledged,
            // and a delayed acknowledgement would add up to 40 ms to every
            // echo and reply. The kernel leaves quick mode on its own, so
            // this is asked again after every read.
            const int quick = 1;
            setsockopt(st->tcp, IPPROTO_TCP, TCP_QUICKACK, &quick, sizeof quick);
            if (n > 0) {
                if (st->rfc2217) {
                    telnet_recv(st->telnet, buf, static_cast<size_t>(n));
                    if (st->status.offersMirrored)
                        serverGone = true;  // a raw port: nothing sensible can pass
                } else {
                    if (!st->rawInspected) {
                        st->rawInspected = true;
                        // A telnet server opens with its negotiations.
                        const auto b0 = static_cast<unsigned char>(buf[0]);
                        const auto b1 = n > 1 ? static_cast<unsigned char>(buf[1]) : 0;
                        if (b0 == 0xFF && b1 >= 250 && b1 <= 254)
                            st->status.telnetInRawData = true;
                    }
                    st->Keep(buf, static_cast<size_t>(n));
                    if (st->status.telnetInRawData)
                        serverGone = true;  // the data would be mangled both ways
                    else
                        st->inbound.append(buf, static_cast<size_t>(n));
                }
            } else if (n == 0) {
                serverGone = true;
                st->status.closedByServer = true;
            } else if (errno != EAGAIN && errno != EINTR) {
                serverGone = true;
                st->status.reset = true;
                st->status.error = errno;
                st->status.errorText = std::strerror(errno);
            }
            if (serverGone) {
                shutdown(st->tcp, SHUT_RDWR);
                st->outbound.clear();
            }
        }
        // From the port.
        if (!portGone && (p[1].revents & (POLLIN | POLLHUP | POLLERR))) {
            const ssize_t n = read(st->local, buf, sizeof buf);
            if (n > 0) {
                if (serverGone)
                    ;  // nowhere to go
                else if (st->rfc2217)
                    telnet_send(st->telnet, buf, static_cast<size_t>(n));
                else
                    st->outbound.append(buf, static_cast<size_t>(n));
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                portGone = true;  // the port closed its end
                break;
            }
        }
        int err = 0;
        if (!st->inbound.empty() && !WriteSome(st->local, st->inbound, true, err))
            break;
        if (!serverGone && !st->outbound.empty() && !WriteSome(st->tcp, st->outbound, true, err)) {
            serverGone = true;
            st->status.reset = true;
            st->status.error = err;
            st->status.errorText = std::strerror(err);
            shutdown(st->tcp, SHUT_RDWR);
        }
    }
    // The port's end hangs up: its event thread reports the lost line.
    std::lock_guard<std::mutex> g(st->m);
    if (st->tcp >= 0) {
        close(st->tcp);
        st->tcp = -1;
    }
    if (st->local >= 0) {
        close(st->local);
        st->local = -1;
    }
}

std::shared_ptr<TVaNetLink> TVaNetLink::Connect(const TVaNetAddress& address, TVaNetStatus& status)
{
    status = TVaNetStatus();
    status.network = true;
    status.address = address;
    TAddrInfoPtr addresses = Resolve(address, status);
    if (!addresses)
        return nullptr;
    const int tcp = ConnectAny(addresses.get(), status);
    if (tcp < 0)
        return nullptr;
    status.connected = true;

    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) != 0) {
        status.failure = TVaNetFailure::Other;
        status.error = errno;
        status.errorText = std::strerror(errno);
        close(tcp);
        return nullptr;
    }
    auto st = std::make_shared<State>();
    st->tcp = tcp;
    st->local = pair[1];
    st->wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    st->rfc2217 = address.scheme == TVaNetScheme::Rfc2217;
    st->status = status;
    if (st->wake < 0) {
        status.failure = TVaNetFailure::Other;
        status.error = errno;
        close(pair[0]);
        return nullptr;
    }
    if (st->rfc2217) {
        st->telnet = telnet_init(kTelnetOptions, &State::OnTelnet, 0, st.get());
        std::lock_guard<std::mutex> g(st->m);
        // Our offers; the server's own offers are answered by the table.
        telnet_negotiate(st->telnet, TELNET_WILL, TELNET_TELOPT_BINARY);
        telnet_negotiate(st->telnet, TELNET_DO, TELNET_TELOPT_BINARY);
        telnet_negotiate(st->telnet, TELNET_WILL, TELNET_TELOPT_SGA);
        telnet_negotiate(st->telnet, TELNET_DO, TELNET_TELOPT_SGA);
        telnet_negotiate(st->telnet, TELNET_WILL, kComPortOption);
    }
    std::shared_ptr<TVaNetLink> link(new TVaNetLink);
    link->st_ = st;
    link->portFd_ = pair[0];
    detail::ThreadStarted();
    try {
        std::thread([st]() mutable {
            State::Run(std::move(st));
            detail::ThreadEnded();
        }).detach();
    } catch (const std::system_error& e) {
        detail::ThreadEnded();
        status.failure = TVaNetFailure::Other;
        status.error = e.code().value();
        close(pair[0]);
        return nullptr;
    }
    return link;
}

TVaNetLink::~TVaNetLink()
{
    Stop();
    if (portFd_ >= 0)
        close(portFd_);
}

void TVaNetLink::SetLine(const termio::TLineSettings& s, bool dtr, bool rts)
{
    std::lock_guard<std::mutex> g(st_->m);
    st_->line = s;
    st_->dtr = dtr;
    st_->rts = rts;
    st_->haveLine = true;
    if (st_->rfc2217 && st_->status.comPortAgreed && st_->tcp >= 0) {
        st_->SendLine();
        st_->Poke();
    }
}

void TVaNetLink::Purge(bool input, bool output)
{
    std::lock_guard<std::mutex> g(st_->m);
    // Input: what reached this computer, and no more. The server is not
    // asked to drop what it received from the line (PURGE-DATA 1): it acts
    // when the request arrives, later than the port's purge, and would drop
    // what the unit sent in between, such as the start of a block or the
    // reply to what the tool sent next.
    if (input)
        st_->inbound.clear();
    // Output: what the server has yet to send on the line (PURGE-DATA 2),
    // say the rest of a cancelled upload. The request travels ahead of
    // whatever the port sends next, so that is not touched.
    if (output && st_->rfc2217 && st_->status.comPortAgreed && st_->tcp >= 0) {
        st_->SendCommand({kPurgeData, 2});
        st_->Poke();
    }
}

void TVaNetLink::Stop()
{
    if (!st_)
        return;
    st_->stop = true;
    {
        std::lock_guard<std::mutex> g(st_->m);
        if (st_->tcp >= 0)
            shutdown(st_->tcp, SHUT_RDWR);  // the server sees the end at once
    }
    st_->Poke();
}

TVaNetStatus TVaNetLink::Status() const
{
    std::lock_guard<std::mutex> g(st_->m);
    return st_->status;
}

}  // namespace kv
