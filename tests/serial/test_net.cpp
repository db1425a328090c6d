// The port on addresses of serial device servers: the addresses' form, the
// failures of connecting, and Debian's ser2net in front of a
// pseudo-terminal whose master side the test holds and plays the unit on.
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <thread>

#include <gtest/gtest.h>
#include <libtelnet.h>

#include "serial/UiBridge.h"
#include "serial/VaComm.h"
#include "tests/support/Ser2Net.h"
#include "tests/support/UiThread.h"
#include "tests/support/CommError.h"
#include "tests/support/FdBytes.h"

using namespace kv;
using kvtest::TSer2Net;
using kvtest::ErrorOf;

namespace {

struct TPty {
    int master = -1;
    int slave = -1;
    std::string path;
    TPty()
    {
        char name[256] = {};
        termios raw{};
        cfmakeraw(&raw);
        if (openpty(&master, &slave, name, &raw, nullptr) != 0)
            ADD_FAILURE() << "openpty: " << std::strerror(errno);
        path = name;
    }
    ~TPty()
    {
        if (master >= 0)
            close(master);
        if (slave >= 0)
            close(slave);
    }
    // The line speed the device was last set to.
    speed_t Speed() const
    {
        termios t{};
        tcgetattr(slave, &t);
        return cfgetospeed(&t);
    }
};

using kvtest::ReadUpTo;
using kvtest::WriteAll;

// Every byte value, twice, with 0xFF runs and CR NUL pairs (what the
// telnet layer must pass untouched).
std::string EveryByte()
{
    std::string s;
    for (int round = 0; round < 2; ++round)
        for (int b = 0; b < 256; ++b)
            s.push_back(static_cast<char>(round ? 255 - b : b));
    s += std::string("\xFF\xFF\xFF\r\0\r\n\xFF\xFA\xFF\xF0", 12);
    return s;
}

class NetTest : public ::testing::Test {
protected:
    void SetUp() override { SetUiBridge(&bridge); }
    void TearDown() override
    {
        ports.clear();
        EXPECT_TRUE(PumpUntil([] { return TVaCustomComm::RunningThreads() == 0; }, 10000))
            << "port threads still running after close";
        SetUiBridge(nullptr);
    }
    bool PumpUntil(const std::function<bool()>& pred, int ms) { return kvtest::ServeUntil(pred, ms); }
    // A port as the program sets it up, listening, collecting what arrives
    // and the errors it reports.
    TVaComm& NewPort(const std::string& device)
    {
        ports.push_back(std::make_unique<TPort>());
        TPort& p = *ports.back();
        p.comm.SetDeviceName(device);
        p.comm.SetBaudrate(br19200);
        p.comm.Buffers().SetWriteTimeout(10);
        p.listener.SetComm(&p.comm);
        p.comm.OnRxBuf = [&p](TVaComponent*, const uint8_t* d, int n) {
            p.received.append(reinterpret_cast<const char*>(d), static_cast<size_t>(n));
        };
        p.comm.OnError = [&p](TVaComponent*, int e) { p.errors.push_back(e); };
        return p.comm;
    }
    std::string& Received(size_t i = 0) { return ports[i]->received; }
    std::vector<int>& Errors(size_t i = 0) { return ports[i]->errors; }
    // Sends from a worker thread, as the session does, in 1 KiB pieces; a
    // piece the full queue refused goes again. onFirstFull, given how much
    // went, may shorten what is to go. Returns how many times the queue was
    // full; sent says how much went.
    int Send(TVaComm& c, const std::string& data, const std::function<size_t(size_t)>& onFirstFull = {},
             size_t* sent = nullptr)
    {
        std::atomic<bool> done{false};
        int full = 0;
        bool closed = false;
        size_t end = data.size();
        size_t i = 0;
        std::thread worker([&] {
            const uint64_t until = TickMs() + 20000;
            while (i < end && !closed && TickMs() < until) {
                const std::string piece = data.substr(i, std::min<size_t>(1024, end - i));
                try {
                    if (!c.PutText(piece))
                        closed = true;
                    else
                        i += piece.size();
                } catch (const EVaCommError&) {
                    if (full++ == 0 && onFirstFull)
                        end = std::min(end, onFirstFull(i));
                }
            }
            done = true;
            bridge.Wake();
        });
        EXPECT_TRUE(PumpUntil([&] { return done.load(); }, 30000));
        worker.join();
        EXPECT_FALSE(closed) << "the port closed while sending";
        EXPECT_EQ(i, end) << "not all sent in time";
        if (sent)
            *sent = i;
        return full;
    }
    // What the unit reads of data the port sends. The test's thread is the
    // port's UI thread: it keeps taking the port's hand-overs (the writer's
    // "queue empty" among them) until the unit has read everything.
    std::string SendToUnit(TVaComm& c, int unitFd, const std::string& data)
    {
        std::string atUnit;
        std::atomic<bool> unitDone{false};
        std::thread unit([&] {
            atUnit = ReadUpTo(unitFd, data.size(), 3000);
            unitDone = true;
            bridge.Wake();
        });
        Send(c, data);
        EXPECT_TRUE(PumpUntil([&] { return unitDone.load(); }, 10000));
        unit.join();
        return atUnit;
    }

    struct TPort {
        TVaComm comm;
        TVaWaitMessage listener;
        std::string received;
        std::vector<int> errors;
        ~TPort()
        {
            comm.Close();
            listener.SetComm(nullptr);
        }
    };
    TQueueUiBridge bridge;
    std::vector<std::unique_ptr<TPort>> ports;
};

#define START_SER2NET(var, ...)                                   \
    auto var = [&]() -> std::unique_ptr<TSer2Net> {               \
        try {                                                      \
            return std::make_unique<TSer2Net>(__VA_ARGS__);        \
        } catch (const std::exception& e) {                        \
            skipReason = e.what();                                 \
            return nullptr;                                        \
        }                                                          \
    }();                                                           \
    if (!var)                                                      \
        GTEST_SKIP() << "ser2net cannot start here: " << skipReason

}  // namespace

TEST(NetAddress, WellFormedAddressesAndWhatIsWrongWithTheOthers)
{
    TVaNetAddress a;
    ASSERT_TRUE(ParseVaNetAddress("rfc2217://192.168.1.20:4001", a));
    EXPECT_EQ(a.scheme, TVaNetScheme::Rfc2217);
    EXPECT_EQ(a.host, "192.168.1.20");
    EXPECT_EQ(a.port, 4001);
    EXPECT_EQ(a.Text(), "rfc2217://192.168.1.20:4001");
    ASSERT_TRUE(ParseVaNetAddress("TCP://pbx-serial.office.lan:7000/", a));
    EXPECT_EQ(a.scheme, TVaNetScheme::Tcp);
    EXPECT_EQ(a.host, "pbx-serial.office.lan");
    EXPECT_EQ(a.Text(), "tcp://pbx-serial.office.lan:7000");
    ASSERT_TRUE(ParseVaNetAddress("tcp://[fe80::1:2]:65535", a));
    EXPECT_EQ(a.host, "fe80::1:2");
    EXPECT_EQ(a.port, 65535);
    EXPECT_EQ(a.Text(), "tcp://[fe80::1:2]:65535");

    const std::pair<const char*, const char*> bad[] = {
        {"/dev/ttyUSB0", "not rfc2217:// or tcp://"},
        {"telnet://host:23", "not rfc2217:// or tcp://"},
        {"tcp://host", "no port"},
        {"tcp://:4001", "no host"},
        {"tcp://host:", "bad port"},
        {"tcp://host:0", "port out of range"},
        {"tcp://host:65536", "port out of range"},
        {"tcp://host:40x1", "bad port"},
        {"tcp://ho st:4001", "bad host name"},
        {"tcp://host/x:4001", "bad host name"},
        {"tcp://-host:4001", "bad host name"},
        {"rfc2217://[::1:4001", "unclosed bracket"},
        {"rfc2217://[::1]4001", "no port"},
        {"rfc2217://[zz::1]:4001", "bad IPv6 address"},
        {"rfc2217://1.2.3.4:5:6", "bad host name"},
    };
    for (const auto& [text, why] : bad) {
        std::string error;
        EXPECT_FALSE(ParseVaNetAddress(text, a, &error)) << text;
        EXPECT_EQ(error, why) << text;
    }
    EXPECT_TRUE(IsVaNetAddress("RFC2217://x"));
    EXPECT_TRUE(IsVaNetAddress("tcp://"));
    EXPECT_FALSE(IsVaNetAddress("/dev/tcp/host/1"));
    EXPECT_FALSE(IsVaNetAddress("COM1"));
}

TEST(NetAddress, AnAddressIsOpenedAsItIsWhateverTheResolverSays)
{
    SetVaDeviceResolver([](const std::string&) { return std::string("/dev/ttyS9"); });
    EXPECT_EQ(VaResolveDevice("rfc2217://h:1"), "rfc2217://h:1");
    EXPECT_EQ(VaResolveDevice("tcp://h:1"), "tcp://h:1");
    EXPECT_EQ(VaResolveDevice("COM1"), "/dev/ttyS9");
    SetVaDeviceResolver([](const std::string&) { return std::string("tcp://10.0.0.5:4001"); });
    EXPECT_EQ(VaResolveDevice("COM2"), "tcp://10.0.0.5:4001") << "a COM port mapped to an address";
    SetVaDeviceResolver(nullptr);
}

TEST_F(NetTest, FailuresToConnectSayWhyAndLeaveThePortClosed)
{
    // Nobody listens.
    const int port = TSer2Net::FreePort();
    TVaComm& c = NewPort("tcp://127.0.0.1:" + std::to_string(port));
    EXPECT_EQ(ErrorOf([&] { c.Open(); }),
              "Can't open specified device tcp://127.0.0.1:" + std::to_string(port) + " (Error 111, Connection refused)");
    EXPECT_FALSE(c.IsOpen());
    EXPECT_EQ(c.LastOpenError(), ECONNREFUSED);
    TVaNetStatus s = c.NetStatus();
    EXPECT_TRUE(s.network);
    EXPECT_EQ(s.failure, TVaNetFailure::Refused);
    EXPECT_FALSE(s.connected);

    // A name that does not resolve (.invalid never does).
    c.SetDeviceName("rfc2217://kvmanage-no-such-host.invalid:4001");
    EXPECT_EQ(ErrorOf([&] { c.Open(); }), "Specified device not found (rfc2217://kvmanage-no-such-host.invalid:4001).");
    EXPECT_EQ(c.NetStatus().failure, TVaNetFailure::HostNotFound);
    EXPECT_FALSE(c.NetStatus().errorText.empty());

    // Not an address at all.
    c.SetDeviceName("tcp://host-without-port");
    EXPECT_EQ(ErrorOf([&] { c.Open(); }), "Can't open specified device tcp://host-without-port (Error 22, Invalid argument)");
    EXPECT_FALSE(c.IsOpen());

    // A path again is a path again: nothing of the network is left.
    c.SetDeviceName("/dev/kv-no-such-device");
    EXPECT_EQ(ErrorOf([&] { c.Open(); }), "Specified device not found (/dev/kv-no-such-device).");
    EXPECT_FALSE(c.NetStatus().network);
}

TEST_F(NetTest, ConnectionThatIsNeverAcceptedTimesOutAfterFiveSeconds)
{
    // A listener whose backlog is full drops further connection requests
    // without an answer, as a host behind a silent firewall does.
    const int lst = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(bind(lst, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(getsockname(lst, reinterpret_cast<sockaddr*>(&a), &len), 0);
    ASSERT_EQ(listen(lst, 0), 0);
    std::vector<int> fillers;
    for (int i = 0; i < 4; ++i) {
        const int f = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        connect(f, reinterpret_cast<sockaddr*>(&a), sizeof a);
        fillers.push_back(f);
    }
    TVaComm& c = NewPort("rfc2217://127.0.0.1:" + std::to_string(ntohs(a.sin_port)));
    const uint64_t start = TickMs();
    const std::string error = ErrorOf([&] { c.Open(); });
    const uint64_t took = TickMs() - start;
    EXPECT_NE(error.find("(Error 110, Connection timed out)"), std::string::npos) << error;
    EXPECT_EQ(c.NetStatus().failure, TVaNetFailure::TimedOut);
    EXPECT_GE(took, 4900u);
    EXPECT_LT(took, 7000u);
    EXPECT_FALSE(c.IsOpen());
    for (int f : fillers)
        close(f);
    close(lst);
}

class NetThroughSer2Net : public NetTest, public ::testing::WithParamInterface<TSer2Net::Kind> {
protected:
    std::string skipReason;
};

TEST_P(NetThroughSer2Net, EveryByteValuePassesBothWaysUntouched)
{
    TPty pty;
    START_SER2NET(server, pty.path, GetParam());
    TVaComm& c = NewPort(server->Address());
    c.Open();
    EXPECT_TRUE(c.IsOpen());
    EXPECT_TRUE(c.IsNetwork());
    const std::string data = EveryByte();

    // Unit to port.
    ASSERT_TRUE(WriteAll(pty.master, data));
    EXPECT_TRUE(PumpUntil([&] { return Received().size() >= data.size(); }, 5000));
    EXPECT_TRUE(Received() == data) << "got " << Received().size() << " bytes, not the ones sent";

    // Port to unit, 40 times over (20 KiB).
    std::string many;
    for (int i = 0; i < 40; ++i)
        many += data;
    const std::string atUnit = SendToUnit(c, pty.master, many);
    EXPECT_TRUE(atUnit == many) << "unit got " << atUnit.size() << " of " << many.size() << " bytes";

    const TVaNetStatus s = c.NetStatus();
    EXPECT_TRUE(s.connected);
    EXPECT_EQ(s.resolved, "127.0.0.1:" + std::to_string(server->Port()));
    EXPECT_EQ(s.received, data.size());
    EXPECT_FALSE(s.telnetInRawData);
    EXPECT_FALSE(s.offersMirrored);
    EXPECT_EQ(s.comPortAgreed, GetParam() == TSer2Net::Kind::Rfc2217);
    EXPECT_TRUE(Errors().empty());
    c.Close();
    EXPECT_FALSE(c.IsOpen());
}

TEST_P(NetThroughSer2Net, TheServerGoingAwayIsTheLineHangingUpOnce)
{
    TPty pty;
    START_SER2NET(server, pty.path, GetParam());
    TVaComm& c = NewPort(server->Address());
    c.Open();
    ASSERT_TRUE(WriteAll(pty.master, "last words\r"));
    ASSERT_TRUE(PumpUntil([&] { return Received() == "last words\r"; }, 5000));
    server->Kill();
    ASSERT_TRUE(PumpUntil([&] { return !Errors().empty(); }, 5000));
    EXPECT_NE(Errors()[0] & static_cast<int>(CE_IOE), 0);
    EXPECT_TRUE(c.DeviceLost());
    // A write now goes nowhere and says so no second time.
    EXPECT_TRUE(c.PutText("anyone?"));
    PumpUntil([] { return false; }, 300);
    EXPECT_EQ(Errors().size(), 1u);
    EXPECT_EQ(c.InputCount(), 0);
    EXPECT_TRUE(c.NetStatus().closedByServer || c.NetStatus().reset);
    c.Close();
    EXPECT_TRUE(c.NetStatus().closedByServer || c.NetStatus().reset) << "kept after close";
}

TEST_P(NetThroughSer2Net, SecondClientIsTurnedAwayWithTheServersWords)
{
    TPty pty;
    START_SER2NET(server, pty.path, GetParam());
    TVaComm& first = NewPort(server->Address());
    first.Open();
    TVaComm& second = NewPort(server->Address());
    second.Open();  // the connection itself is accepted
    ASSERT_TRUE(PumpUntil([&] { return !Errors(1).empty(); }, 5000));
    EXPECT_NE(Errors(1)[0] & static_cast<int>(CE_IOE), 0);
    const TVaNetStatus s = second.NetStatus();
    // Ended by the server: closed, or reset when our own negotiation was
    // still unread on its side.
    EXPECT_TRUE(s.closedByServer || s.reset);
    EXPECT_NE(s.firstBytes.find("already in use"), std::string::npos) << s.firstBytes;
    EXPECT_NE(Received(1).find("already in use"), std::string::npos) << "the words reach the port as data";
    // The first client is not disturbed.
    ASSERT_TRUE(WriteAll(pty.master, "still here"));
    EXPECT_TRUE(PumpUntil([&] { return Received(0) == "still here"; }, 5000));
    EXPECT_TRUE(Errors(0).empty());
}

INSTANTIATE_TEST_SUITE_P(Kinds, NetThroughSer2Net, ::testing::Values(TSer2Net::Kind::Rfc2217, TSer2Net::Kind::Tcp),
                         [](const auto& kind) { return kind.param == TSer2Net::Kind::Rfc2217 ? "rfc2217" : "tcp"; });

TEST_F(NetTest, Rfc2217SetsTheServersLineAndChangesItWhileOpen)
{
    std::string skipReason;
    TPty pty;
    START_SER2NET(server, pty.path, TSer2Net::Kind::Rfc2217);
    TVaComm& c = NewPort(server->Address());
    c.SetBaudrate(br4800);
    c.Open();
    // The server opens the device with its own 19200 and then takes ours.
    EXPECT_TRUE(PumpUntil([&] { return pty.Speed() == B4800; }, 5000)) << "speed " << pty.Speed();
    c.SetBaudrate(br19200);
    EXPECT_TRUE(PumpUntil([&] { return pty.Speed() == B19200; }, 5000)) << "speed " << pty.Speed();
    termios t{};
    tcgetattr(pty.slave, &t);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);
    EXPECT_TRUE(c.NetStatus().telnetAnswered);

    EXPECT_TRUE(PumpUntil([&] { return c.NetStatus().comPortAnswers >= 8; }, 5000))
        << "the server answers each setting; answers " << c.NetStatus().comPortAnswers;
    EXPECT_TRUE(Errors().empty());
}

TEST_P(NetThroughSer2Net, PurgeDropsWhatWaitedForThePortAndNothingAfter)
{
    TPty pty;
    START_SER2NET(server, pty.path, GetParam());
    TVaComm& c = NewPort(server->Address());
    // No listener: what arrives stays with the port, as the port's reads
    // have nobody to give it to.
    ports[0]->listener.SetComm(nullptr);
    int told = 0;
    c.OnRxChar = [&](TVaComponent*, int n) { told = n; };
    c.Open();
    ASSERT_TRUE(WriteAll(pty.master, "stale reply"));
    ASSERT_TRUE(PumpUntil([&] { return told == 11; }, 5000)) << "told of " << told;
    EXPECT_EQ(c.InputCount(), 11);
    EXPECT_EQ(Received(), "");

    // Purged as a transfer begins (both ways): what reached this computer
    // goes, the server is asked to drop only what it has yet to send on the
    // line, and answers that.
    const int answers = c.NetStatus().comPortAnswers;
    c.FlushAll();
    EXPECT_EQ(c.InputCount(), 0);
    if (GetParam() == TSer2Net::Kind::Rfc2217) {
        EXPECT_TRUE(PumpUntil([&] { return c.NetStatus().comPortAnswers > answers; }, 5000));
    }

    // The next exchange: the port sends, the unit answers what it read.
    ports[0]->listener.SetComm(&c);
    EXPECT_EQ(SendToUnit(c, pty.master, "GET\r"), "GET\r");
    ASSERT_TRUE(WriteAll(pty.master, "=7\r"));
    EXPECT_TRUE(PumpUntil([&] { return Received().size() >= 3; }, 5000));
    PumpUntil([] { return false; }, 100);
    EXPECT_EQ(Received(), "=7\r") << "nothing of the stale reply";
    EXPECT_TRUE(Errors().empty());
}

TEST_F(NetTest, RawAddressOfATelnetPortAndTheReverseAreNoticed)
{
    std::string skipReason;
    {
        // tcp:// to a telnet port: the data begins with the server's
        // negotiations; nothing can pass sensibly, the line hangs up.
        TPty pty;
        START_SER2NET(server, pty.path, TSer2Net::Kind::Rfc2217);
        TVaComm& c = NewPort("tcp://127.0.0.1:" + std::to_string(server->Port()));
        c.Open();
        ASSERT_TRUE(PumpUntil([&] { return !Errors().empty(); }, 5000));
        EXPECT_TRUE(c.NetStatus().telnetInRawData);
        EXPECT_EQ(Received(), "") << "telnet commands are not the unit's data";
        c.Close();
    }
    {
        // rfc2217:// to a raw port in front of a device that echoes (as the
        // unit does): our own offers come back.
        TPty pty;
        START_SER2NET(server, pty.path, TSer2Net::Kind::Tcp);
        std::atomic<bool> stop{false};
        std::thread echo([&] {
            char b[256];
            while (!stop) {
                pollfd p = {pty.master, POLLIN, 0};
                if (poll(&p, 1, 50) > 0) {
                    const ssize_t n = read(pty.master, b, sizeof b);
                    if (n > 0)
                        (void)!write(pty.master, b, static_cast<size_t>(n));
                }
            }
        });
        TVaComm& c = NewPort("rfc2217://127.0.0.1:" + std::to_string(server->Port()));
        c.Open();
        EXPECT_TRUE(PumpUntil([&] { return !Errors(1).empty(); }, 5000));
        const TVaNetStatus s = c.NetStatus();
        EXPECT_TRUE(s.offersMirrored);
        EXPECT_FALSE(s.comPortAgreed);
        stop = true;
        echo.join();
        c.Close();
    }
}

namespace {

// A server of the test's own on 127.0.0.1, for what ser2net cannot be made
// to do on demand: leave the port's bytes unread for a while, and cut its
// own bytes where the test likes. Speaks telnet through libtelnet (refusing
// every option, as a plain telnet server would) or raw bytes.
struct TScriptedServer {
    int listener = -1;
    int conn = -1;
    int port = 0;
    bool telnet = false;
    telnet_t* t = nullptr;
    std::string decoded;  // what the port sent, telnet taken off
    std::string escaped;  // libtelnet's output for the port

    explicit TScriptedServer(bool telnetServer) : telnet(telnetServer)
    {
        listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        // A small window: the connection fills after a few KiB.
        const int small = 4096;
        setsockopt(listener, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(listener, 1) != 0 ||
            getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            ADD_FAILURE() << "listen: " << std::strerror(errno);
        port = ntohs(a.sin_port);
        if (telnet)
            t = telnet_init(nullptr, &OnTelnet, 0, this);
    }
    ~TScriptedServer()
    {
        if (t)
            telnet_free(t);
        if (conn >= 0)
            close(conn);
        if (listener >= 0)
            close(listener);
    }
    std::string Address() const { return std::string(telnet ? "rfc2217://" : "tcp://") + "127.0.0.1:" + std::to_string(port); }
    bool Accept()
    {
        pollfd p = {listener, POLLIN, 0};
        if (poll(&p, 1, 5000) != 1)
            return false;
        conn = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        const int one = 1;
        setsockopt(conn, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        return conn >= 0;
    }
    // Reads until want bytes of data came or nothing came for idleMs.
    void ReadData(size_t want, int idleMs)
    {
        char buf[4096];
        while (decoded.size() < want) {
            pollfd p = {conn, POLLIN, 0};
            if (poll(&p, 1, idleMs) <= 0)
                return;
            const ssize_t n = read(conn, buf, sizeof buf);
            if (n <= 0)
                return;
            if (telnet)
                telnet_recv(t, buf, static_cast<size_t>(n));
            else
                decoded.append(buf, static_cast<size_t>(n));
        }
    }
    // The bytes on the wire for data.
    std::string Encode(const std::string& data)
    {
        if (!telnet)
            return data;
        escaped.clear();
        telnet_send(t, data.data(), data.size());
        std::string out;
        out.swap(escaped);
        return out;
    }
    static void OnTelnet(telnet_t*, telnet_event_t* ev, void* user)
    {
        auto* s = static_cast<TScriptedServer*>(user);
        if (ev->type == TELNET_EV_DATA)
            s->decoded.append(ev->data.buffer, ev->data.size);
        else if (ev->type == TELNET_EV_SEND)
            s->escaped.append(ev->data.buffer, ev->data.size);
    }
};

class NetThroughScriptedServer : public NetTest, public ::testing::WithParamInterface<TSer2Net::Kind> {};

}  // namespace

TEST_P(NetThroughScriptedServer, BulkBothWaysThroughAServerThatStallsAndCutsEscapesInTwo)
{
    const bool rfc2217 = GetParam() == TSer2Net::Kind::Rfc2217;
    TScriptedServer server(rfc2217);
    TVaComm& c = NewPort(server.Address());
    c.Open();
    ASSERT_TRUE(server.Accept());

    // Port to server: the server reads nothing until the port's queue has
    // been found full, so every buffer on the way (the connection, the link,
    // the socket pair, the writer's queue) fills and drains again; not one
    // byte may be lost or doubled.
    std::string data;
    for (int i = 0; data.size() < 16u * 1024 * 1024; ++i)
        data += i % 3 ? EveryByte() : std::string(777, '\xFF');
    TVaWaitEvent release;
    std::atomic<bool> read{false};
    std::atomic<size_t> total{data.size()};
    std::thread reader([&] {
        if (release.WaitMs(20000) == wrSignaled)
            server.ReadData(total, 5000);
        read = true;
        bridge.Wake();
    });
    size_t sent = 0;
    const int full = Send(
        c, data,
        [&](size_t went) {
            // Held up at last: 256 KiB more, then the server reads.
            total = std::min(data.size(), went + 256 * 1024);
            release.Signal();
            return total.load();
        },
        &sent);
    release.Signal();
    EXPECT_TRUE(PumpUntil([&] { return read.load(); }, 20000));
    reader.join();
    EXPECT_GT(full, 0) << "the stalled server never held the port up";
    EXPECT_EQ(server.decoded.size(), sent);
    EXPECT_TRUE(server.decoded == data.substr(0, sent)) << "the bytes differ";

    // Server to port: every escaped 0xFF pair cut in two, each half in a
    // segment of its own that the port has taken before the next is sent.
    const std::string back = EveryByte();
    const std::string wire = server.Encode(back);
    std::vector<size_t> cuts;
    for (size_t i = 0; rfc2217 && i + 1 < wire.size(); ++i)
        if (wire[i] == '\xFF' && wire[i + 1] == '\xFF') {
            cuts.push_back(i + 1);
            ++i;
        }
    EXPECT_EQ(cuts.size(), rfc2217 ? static_cast<size_t>(std::count(back.begin(), back.end(), '\xFF')) : 0u);
    cuts.push_back(wire.size());
    // How many of the unit's bytes the first n bytes on the wire carry (a
    // half pair at the end carries none yet).
    auto carried = [&](size_t n) {
        if (!rfc2217)
            return n;
        size_t count = 0;
        for (size_t i = 0; i < n; ++i) {
            if (wire[i] == '\xFF') {
                if (i + 1 == n)
                    break;
                ++i;
            }
            ++count;
        }
        return count;
    };
    size_t from = 0;
    for (size_t cut : cuts) {
        ASSERT_TRUE(WriteAll(server.conn, wire.substr(from, cut - from)));
        ASSERT_TRUE(PumpUntil([&] { return Received().size() >= carried(cut); }, 5000))
            << "at " << cut << ": " << Received().size() << " of " << carried(cut);
        from = cut;
    }
    EXPECT_TRUE(PumpUntil([&] { return Received().size() >= back.size(); }, 5000));
    EXPECT_TRUE(Received() == back) << "port got " << Received().size() << " of " << back.size();
    EXPECT_TRUE(Errors().empty());
}

INSTANTIATE_TEST_SUITE_P(Kinds, NetThroughScriptedServer,
                         ::testing::Values(TSer2Net::Kind::Rfc2217, TSer2Net::Kind::Tcp),
                         [](const auto& kind) { return kind.param == TSer2Net::Kind::Rfc2217 ? "rfc2217" : "tcp"; });
