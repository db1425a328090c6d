// The serial port over real pseudo-terminal pairs: the test holds the master
// side and plays the unit; the port opens the slave by its path.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <random>
#include <thread>

#include <gtest/gtest.h>

#include "serial/UiBridge.h"
#include "serial/VaComm.h"
#include "tests/support/UiThread.h"
#include "tests/support/CommError.h"
#include "tests/support/FdBytes.h"

int PtyOutputSpeed(int fd);

using namespace kv;
using kvtest::ErrorOf;

namespace {

const std::string kFull = "Output buffer is full. Please check comm status.";
const std::string kWhileOpen = "Can't perform this operation while port is open";

// Headless UI bridge that also signals each hand-over a thread begins.
class TSpyBridge : public TQueueUiBridge {
public:
    bool Synchronize(std::function<void()> fn) override
    {
        ++entered;
        entry.Signal();
        return TQueueUiBridge::Synchronize(std::move(fn));
    }
    std::atomic<int> entered{0};
    TVaWaitEvent entry{false, true};
};

struct TPty {
    int master = -1;
    int slave = -1;  // kept open to look at the line settings
    std::string path;
    TPty()
    {
        char name[256] = {};
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0)
            ADD_FAILURE() << "openpty: " << std::strerror(errno);
        path = name;
    }
    ~TPty()
    {
        CloseMaster();
        if (slave >= 0)
            close(slave);
    }
    void CloseMaster()
    {
        if (master >= 0)
            close(master);
        master = -1;
    }
};

double ProcessCpuSeconds()
{
    rusage ru {};
    getrusage(RUSAGE_SELF, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

std::vector<uint8_t> RandomBytes(size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    std::vector<uint8_t> v(n);
    for (auto& b : v)
        b = static_cast<uint8_t>(gen());
    return v;
}

using kvtest::WriteAll;

// What came back, as bytes.
std::vector<uint8_t> ReadUpTo(int fd, size_t n, int idleMs)
{
    return kvtest::ReadUpTo<std::vector<uint8_t>>(fd, n, idleMs);
}

class TRecorder : public TVaCommComponent {
public:
    TRecorder(std::string name, std::vector<std::string>& log) : name_(std::move(name)), log_(log) {}
    void AcceptData(const uint8_t* d, int n) override
    {
        log_.push_back(name_);
        data.insert(data.end(), d, d + n);
    }
    void AcceptEvents(uint32_t e) override { events.push_back(e); }
    std::vector<uint8_t> data;
    std::vector<uint32_t> events;

private:
    std::string name_;
    std::vector<std::string>& log_;
};

class CommTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetUiBridge(&bridge);
        SetApplicationExceptionHandler([this](std::exception_ptr e) {
            try {
                std::rethrow_exception(e);
            } catch (const std::exception& x) {
                appErrors.push_back(x.what());
            }
        });
    }
    void TearDown() override
    {
        ports.clear();
        EXPECT_TRUE(PumpUntil([] { return TVaCustomComm::RunningThreads() == 0; }, 10000))
            << "port threads still running after close";
        SetApplicationExceptionHandler(nullptr);
        SetUiBridge(nullptr);
    }
    bool PumpUntil(const std::function<bool()>& pred, int ms) { return kvtest::ServeUntil(pred, ms); }
    // CPU the whole process uses while this thread serves hand-overs for ms,
    // as an idle UI thread does.
    double CpuWhilePumping(int ms)
    {
        const double before = ProcessCpuSeconds();
        EXPECT_FALSE(PumpUntil([] { return false; }, ms));
        return ProcessCpuSeconds() - before;
    }
    TVaComm& NewPort(const std::string& device)
    {
        ports.push_back(std::make_unique<TVaComm>());
        TVaComm& p = *ports.back();
        p.SetDeviceName(device);
        p.SetBaudrate(br19200);
        return p;
    }

    TSpyBridge bridge;
    std::vector<std::string> appErrors;
    std::vector<std::unique_ptr<TVaComm>> ports;
};

}  // namespace

TEST(CommDefaults, PublishedDefaultsAndDeviceNames)
{
    static_assert(brUser == 0 && br19200 == 9 && br256000 == 15);
    static_assert(paSpace == 4 && db8 == 4 && sb2 == 2 && rtsToggle == 3 && tpHighest == 5);
    EXPECT_EQ(VaBaudrateValue(br14400), 14400);
    EXPECT_EQ(VaBaudrateValue(br56000), 56000);
    EXPECT_EQ(VaCommEventBit(ceError), 0x80u);
    EXPECT_EQ(VaCommEventBit(ceRing), 0x100u);

    TVaComm c;
    EXPECT_FALSE(c.AutoOpen());
    EXPECT_EQ(c.Baudrate(), br1200);
    EXPECT_EQ(c.Databits(), db8);
    EXPECT_EQ(c.Parity(), paNone);
    EXPECT_EQ(c.Stopbits(), sb1);
    EXPECT_EQ(c.PortNum(), 0);
    EXPECT_EQ(c.DeviceName(), "\\\\.\\COM%d");
    EXPECT_EQ(c.MonitorEvents(), (TVaCommEvents{ceError, ceRxChar, ceTxEmpty}));
    EXPECT_EQ(c.Buffers().ReadSize(), 4096);
    EXPECT_EQ(c.Buffers().WriteSize(), 2048);
    EXPECT_EQ(c.Buffers().ReadTimeout(), 1000);
    EXPECT_EQ(c.Buffers().WriteTimeout(), 1000);
    EXPECT_EQ(c.EventChars().XonChar(), 17);
    EXPECT_EQ(c.EventChars().XoffChar(), 19);
    EXPECT_EQ(c.EventPriority(), tpNormal);
    EXPECT_EQ(c.WritePriority(), tpHighest);
    EXPECT_TRUE(c.UpdateDCB());
    EXPECT_EQ(c.UserBaudrate(), 0);

    c.SetPortNum(2);
    EXPECT_EQ(c.ExpandedDeviceName(), "COM2");
    c.SetDeviceName("COM%d");
    EXPECT_EQ(c.ExpandedDeviceName(), "COM2");

    // UserBaudrate and Baudrate follow each other.
    c.SetUserBaudrate(31250);
    EXPECT_EQ(c.Baudrate(), brUser);
    c.SetBaudrate(br9600);
    EXPECT_EQ(c.UserBaudrate(), 0);

    // A copy of a value object belongs to no port; Assign copies every value.
    TVaBuffers b = c.Buffers();
    b.SetReadTimeout(10);
    b.SetWriteTimeout(10);
    EXPECT_EQ(c.Buffers().ReadTimeout(), 1000);
    c.SetBuffers(b);
    EXPECT_EQ(c.Buffers().ReadTimeout(), 10);
    EXPECT_EQ(c.Buffers().WriteTimeout(), 10);

    EXPECT_EQ(VaDefaultDevicePath("COM3"), "/dev/ttyS2");
    EXPECT_EQ(VaDefaultDevicePath("COM0"), "");
    EXPECT_EQ(VaResolveDevice("/dev/pts/7"), "/dev/pts/7");
    SetVaDeviceResolver([](const std::string& n) { return n == "COM3" ? std::string("/dev/ttyUSB0") : ""; });
    EXPECT_EQ(VaResolveDevice("COM3"), "/dev/ttyUSB0");
    EXPECT_EQ(VaResolveDevice("/dev/pts/7"), "/dev/pts/7");
    SetVaDeviceResolver(nullptr);
}

TEST(CommWaitMessage, PatternsEscapesBlanksAndCase)
{
    TVaWaitMessage w;
    std::vector<int> hits;
    w.OnMessage = [&](TVaComponent*, int i) { hits.push_back(i); };
    w.SetStrings({"PC>", "^M", "a b", "ПАРОЛЬ"});
    EXPECT_EQ(TVaWaitMessage::Unescape("x^Jy^z^"), std::string("x\ny\x1a^"));

    const std::string in = std::string("xxpc>") + '\r' + std::string("a\0b", 3) + "\xef\xe0\xf0\xee\xeb\xfc";
    w.AcceptData(reinterpret_cast<const uint8_t*>(in.data()), static_cast<int>(in.size()));
    // "пароль" in code page 1251 matches the pattern in any case; the pattern
    // itself is UTF-8 here and so never matches: only 0, 1, 2 fire.
    EXPECT_EQ(hits, (std::vector<int>{0, 1, 2}));

    hits.clear();
    w.SetCaseSensitive(true);
    w.SetStrings({"aa", "PC>"});
    const std::string in2 = "aaapc>PC>";
    w.AcceptData(reinterpret_cast<const uint8_t*>(in2.data()), static_cast<int>(in2.size()));
    EXPECT_EQ(hits, (std::vector<int>{0, 0, 1}));
}

TEST_F(CommTest, MissingDeviceAndDeviceAlreadyOpen)
{
    TVaComm& missing = NewPort("COM%d");
    missing.SetPortNum(9);
    SetVaDeviceResolver([](const std::string&) { return std::string("/dev/kv-no-such-device"); });
    EXPECT_EQ(ErrorOf([&] { missing.Open(); }), "Specified device not found (COM9).");
    EXPECT_FALSE(missing.IsOpen());
    SetVaDeviceResolver(nullptr);
    missing.SetDeviceName("/dev/kv-no-such-device");
    EXPECT_EQ(ErrorOf([&] { missing.Open(); }), "Specified device not found (/dev/kv-no-such-device).");
    EXPECT_EQ(missing.LastOpenError(), ENOENT);

    TPty pty;
    TVaComm& first = NewPort(pty.path);
    first.Open();
    ASSERT_TRUE(first.IsOpen());
    EXPECT_EQ(first.LastOpenError(), 0);
    TVaErrorCounts counts;
    EXPECT_FALSE(first.ErrorCounts(counts));  // a pseudo-terminal counts no line errors

    const std::string busy = std::string(" (Error 16, ") + std::strerror(EBUSY) + ")";
    TVaComm& second = NewPort("COM%d");
    second.SetPortNum(5);
    SetVaDeviceResolver([&](const std::string&) { return pty.path; });
    EXPECT_EQ(ErrorOf([&] { second.Open(); }), "Can't open specified device COM5" + busy);
    EXPECT_FALSE(second.IsOpen());
    SetVaDeviceResolver(nullptr);
    second.SetDeviceName(pty.path);
    EXPECT_EQ(ErrorOf([&] { second.Open(); }), "Can't open specified device " + pty.path + busy);
    EXPECT_EQ(second.LastOpenError(), EBUSY);
    if (geteuid() != 0) {  // the tty's exclusive mode keeps out openers that do not lock
        EXPECT_EQ(open(pty.path.c_str(), O_RDWR | O_NOCTTY), -1);
        EXPECT_EQ(errno, EBUSY);
    }
    EXPECT_EQ(ErrorOf([&] { first.Open(); }), kWhileOpen);
    EXPECT_TRUE(first.IsOpen());

    // Closing lets go at once, even before the first port's threads are gone.
    first.Close();
    EXPECT_FALSE(first.ErrorCounts(counts));
    second.Open();
    EXPECT_TRUE(second.IsOpen());
    EXPECT_EQ(second.LastOpenError(), 0);

    TVaComm& notATty = NewPort("/dev/null");
    EXPECT_EQ(ErrorOf([&] { notATty.Open(); }),
              std::string("Can't open specified device /dev/null (Error 25, ") + std::strerror(ENOTTY) + ")");
    EXPECT_FALSE(notATty.IsOpen());
    EXPECT_EQ(notATty.LastOpenError(), ENOTTY);
}

TEST_F(CommTest, LineSettingsReachTheDriver)
{
    TPty pty;
    TVaComm& c = NewPort(pty.path);
    c.Open();
    termios t {};
    ASSERT_EQ(tcgetattr(pty.slave, &t), 0);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | IXON | IXOFF | INPCK), 0u);
    EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS | CREAD | CLOCAL), CS8 | CREAD | CLOCAL);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B19200));

    c.SetBaudrate(br14400);  // no B constant: the arbitrary-speed interface
    EXPECT_EQ(PtyOutputSpeed(pty.slave), 14400);
    c.SetUserBaudrate(56000);
    EXPECT_EQ(c.Baudrate(), brUser);
    EXPECT_EQ(PtyOutputSpeed(pty.slave), 56000);
    c.SetBaudrate(br57600);
    EXPECT_EQ(c.UserBaudrate(), 0);
    ASSERT_EQ(tcgetattr(pty.slave, &t), 0);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B57600));

    c.SetStopbits(sb2);
    c.SetOptions({coParityCheck});
    c.FlowControl().SetXonXoffOut(true);
    c.EventChars().SetXonChar(1);
    TVaFlowControl fc = c.FlowControl();
    fc.SetOutCtsFlow(true);
    fc.SetXonXoffIn(true);
    c.SetFlowControl(fc);
    ASSERT_EQ(tcgetattr(pty.slave, &t), 0);
    EXPECT_EQ(t.c_cflag & (CSIZE | CSTOPB | CRTSCTS), CS8 | CSTOPB | CRTSCTS);
    EXPECT_EQ(t.c_iflag & (INPCK | IXON | IXOFF), INPCK | IXON | IXOFF);
    EXPECT_EQ(t.c_cc[VSTART], 1);

    // A pseudo-terminal holds only eight data bits and no parity. The
    // read-back catches that; the old value and the old line settings stay.
    const std::string refused = std::string("Error writing dcb (22), ") + std::strerror(EINVAL);
    EXPECT_EQ(ErrorOf([&] { c.SetParity(paMark); }), refused);
    EXPECT_EQ(c.Parity(), paNone);
    EXPECT_EQ(ErrorOf([&] { c.SetDatabits(db7); }), refused);
    EXPECT_EQ(c.Databits(), db8);
    EXPECT_EQ(ErrorOf([&] { c.SetDatabits(db4); }), refused);
    ASSERT_EQ(tcgetattr(pty.slave, &t), 0);
    EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | PARODD | CMSPAR), CS8);  // the pty keeps PARODD and CMSPAR
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), IXON | IXOFF);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B57600));
    EXPECT_TRUE(c.IsOpen());

    // Opening with settings the driver refuses fails and leaves the port closed.
    c.Close();
    c.SetParity(paOdd);
    EXPECT_EQ(ErrorOf([&] { c.Open(); }), refused);
    EXPECT_FALSE(c.IsOpen());
}

TEST_F(CommTest, SettersAndCallsOnOpenAndClosedPorts)
{
    TPty pty;
    TVaComm& c = NewPort(pty.path);
    EXPECT_FALSE(c.PutText("abc"));
    EXPECT_TRUE(c.PutText(""));
    EXPECT_FALSE(c.PutByte('x'));
    uint8_t buf[8];
    EXPECT_EQ(c.GetBytes(buf, 8), 0);
    EXPECT_EQ(c.InputCount(), 0);
    EXPECT_EQ(c.LineStatus().Errors, 0u);
    c.FlushAll();

    int opened = 0, closed = 0;
    c.OnOpen = [&](TVaComponent* s) { opened += s == &c; };
    c.OnClose = [&](TVaComponent* s) { closed += s == &c; };
    c.Close();
    EXPECT_EQ(closed, 0);
    c.Open();
    EXPECT_EQ(opened, 1);

    EXPECT_EQ(ErrorOf([&] { c.SetPortNum(3); }), kWhileOpen);
    EXPECT_EQ(ErrorOf([&] { c.SetDeviceName("COM%d"); }), kWhileOpen);
    EXPECT_EQ(ErrorOf([&] { c.SetMonitorEvents({ceRxChar}); }), kWhileOpen);
    EXPECT_EQ(ErrorOf([&] { c.SetDirectWrite(true); }), kWhileOpen);
    EXPECT_EQ(ErrorOf([&] { c.SetUpdateDCB(false); }), kWhileOpen);
    EXPECT_EQ(ErrorOf([&] { c.Buffers().SetReadTimeout(10); }), kWhileOpen);
    TVaBuffers b;
    b.SetWriteSize(100);
    EXPECT_EQ(ErrorOf([&] { c.SetBuffers(b); }), kWhileOpen);
    EXPECT_EQ(c.PortNum(), 0);
    EXPECT_EQ(c.DeviceName(), pty.path);
    EXPECT_EQ(c.Buffers().ReadTimeout(), 1000);
    EXPECT_EQ(c.Buffers().WriteSize(), 2048);
    c.SetEventPriority(tpLower);  // allowed while open
    c.SetWritePriority(tpNormal);

    c.Close();
    c.Close();
    EXPECT_EQ(closed, 1);
    EXPECT_FALSE(c.IsOpen());
    c.SetPortNum(3);
    EXPECT_EQ(c.PortNum(), 3);
}

TEST_F(CommTest, SixtyFourKilobytesEachWayArriveWhole)
{
    TPty pty;
    TVaComm& c = NewPort(pty.path);
    TVaWaitMessage listener;
    listener.SetComm(&c);
    std::vector<uint8_t> atPort;
    int blocks = 0;
    c.OnRxBuf = [&](TVaComponent*, const uint8_t* d, int n) {
        ++blocks;
        atPort.insert(atPort.end(), d, d + n);
    };
    c.Open();

    const size_t kSize = 64 * 1024;
    const auto toPort = RandomBytes(kSize, 1);
    const auto fromPort = RandomBytes(kSize, 2);
    std::vector<uint8_t> atMaster;
    std::atomic<bool> writerDone{false}, readerDone{false}, senderDone{false};
    std::string sendError;
    std::thread unitWrites([&] {
        EXPECT_TRUE(WriteAll(pty.master, toPort.data(), toPort.size()));
        writerDone = true;
        bridge.Wake();
    });
    std::thread unitReads([&] {
        atMaster = ReadUpTo(pty.master, kSize, 20000);
        readerDone = true;
        bridge.Wake();
    });
    std::thread worker([&] {  // the session's writes come from its worker thread
        try {
            for (size_t i = 0; i < kSize; i += 1024)
                ASSERT_EQ(c.PutBytes(fromPort.data() + i, 1024), 1024);
        } catch (const EVaCommError& e) {
            sendError = e.what();
        }
        senderDone = true;
        bridge.Wake();
    });
    EXPECT_TRUE(PumpUntil([&] { return atPort.size() >= kSize && readerDone && writerDone && senderDone; }, 60000));
    unitWrites.join();
    unitReads.join();
    worker.join();

    EXPECT_EQ(sendError, "");
    EXPECT_TRUE(atPort == toPort) << "port received " << atPort.size() << " bytes, not the ones sent";
    EXPECT_TRUE(atMaster == fromPort) << "unit received " << atMaster.size() << " bytes, not the ones sent";
    EXPECT_GT(blocks, 1);
    EXPECT_LT(blocks, static_cast<int>(kSize / 4)) << "bytes should arrive in blocks";
    listener.SetComm(nullptr);
}

TEST_F(CommTest, ListenersInOrderInactiveOnesSkippedHandlerErrorsContained)
{
    TPty pty;
    TVaComm& c = NewPort(pty.path);
    std::vector<std::string> log;
    TRecorder a("a", log), b("b", log);
    a.SetComm(&c);
    b.SetComm(&c);
    b.SetActive(false);
    std::vector<uint8_t> got;
    bool throwOnce = true;
    c.OnRxBuf = [&](TVaComponent*, const uint8_t* d, int n) {
        log.push_back("OnRxBuf");
        got.insert(got.end(), d, d + n);
        if (throwOnce) {
            throwOnce = false;
            throw std::runtime_error("handler failed");
        }
    };
    int txEmpty = 0;
    c.OnTxEmpty = [&](TVaComponent*) { ++txEmpty; };
    c.Open();

    ASSERT_TRUE(WriteAll(pty.master, reinterpret_cast<const uint8_t*>("hello"), 5));
    ASSERT_TRUE(PumpUntil([&] { return got.size() == 5; }, 5000));
    ASSERT_TRUE(WriteAll(pty.master, reinterpret_cast<const uint8_t*>("world"), 5));
    ASSERT_TRUE(PumpUntil([&] { return got.size() == 10; }, 5000));
    EXPECT_EQ(std::string(got.begin(), got.end()), "helloworld");
    EXPECT_EQ(a.data, got);
    EXPECT_TRUE(b.data.empty());
    ASSERT_FALSE(log.empty());
    for (size_t i = 0; i < log.size(); i += 2) {
        EXPECT_EQ(log[i], "a");
        EXPECT_EQ(log[i + 1], "OnRxBuf");
    }
    EXPECT_EQ(appErrors, std::vector<std::string>{"handler failed"});

    EXPECT_TRUE(c.PutText("ok\r"));
    EXPECT_TRUE(PumpUntil([&] { return txEmpty == 1; }, 5000));
    EXPECT_EQ(ReadUpTo(pty.master, 3, 5000), (std::vector<uint8_t>{'o', 'k', '\r'}));
    EXPECT_EQ(a.events, std::vector<uint32_t>{EV_TXEMPTY});
    EXPECT_TRUE(b.events.empty());
    b.SetComm(nullptr);
    a.SetComm(nullptr);
}

TEST_F(CommTest, WithoutListenerBytesStayInTheDriverUntilOneAttaches)
{
    TPty pty;
    TVaComm& c = NewPort(pty.path);
    std::vector<int> counts;
    std::vector<uint8_t> got;
    c.OnRxChar = [&](TVaComponent*, int n) { counts.push_back(n); };
    c.OnRxBuf = [&](TVaComponent*, const uint8_t* d, int n) { got.insert(got.end(), d, d + n); };
    c.Open();

    ASSERT_TRUE(WriteAll(pty.master, reinterpret_cast<const uint8_t*>("abc"), 3));
    ASSERT_TRUE(PumpUntil([&] { return !counts.empty(); }, 5000));
    EXPECT_EQ(counts.back(), 3);
    EXPECT_EQ(c.InputCount(), 3);
    const TVaLineStatus ls = c.LineStatus();
    EXPECT_EQ(ls.InQueue, 3u);
    EXPECT_EQ(ls.Errors, 0u);
    // Nobody takes the bytes: the event thread must not spin on them.
    EXPECT_LT(CpuWhilePumping(1000), 0.1);
    EXPECT_EQ(counts.size(), 1u);

    ASSERT_TRUE(WriteAll(pty.master, reinterpret_cast<const uint8_t*>("de"), 2));
    ASSERT_TRUE(PumpUntil([&] { return counts.back() == 5; }, 5000));
    EXPECT_TRUE(got.empty());

    TVaWaitMessage listener;
    listener.SetComm(&c);
    ASSERT_TRUE(PumpUntil([&] { return got.size() == 5; }, 5000));
    EXPECT_EQ(std::string(got.begin(), got.end()), "abcde");
    EXPECT_EQ(c.InputCount(), 0);
    listener.SetComm(nullptr);
}

TEST_F(CommTest, FullQueueFailsAfterWriteTimeout)
{
    TPty pty;
    TVaComm& c = NewPort(pty.path);
    c.Buffers().SetWriteTimeout(100);
    c.Open();

    const uint64_t start = TickMs();
    EXPECT_EQ(ErrorOf([&] { c.PutText(std::string(3000, 'x')); }), kFull);
    const uint64_t took = TickMs() - start;
    EXPECT_GE(took, 95u);
    EXPECT_LT(took, 3000u);

    EXPECT_TRUE(c.PutText(std::string(2048, 'y')));
    const auto out = ReadUpTo(pty.master, 4096, 500);
    EXPECT_EQ(out.size(), 2048u);
    EXPECT_EQ(std::count(out.begin(), out.end(), 'y'), 2048) << "bytes of the refused write went out";
}

TEST_F(CommTest, FlushInputKeepsTheWriteQueueFlushAllEmptiesIt)
{
    TPty pty;
    TVaComm& c = NewPort(pty.path);
    c.Buffers().SetWriteTimeout(50);
    c.Open();

    // The unit reads nothing: the driver fills up, then the write queue.
    std::atomic<bool> full{false};
    std::thread worker([&] {
        const std::vector<uint8_t> block(1024, 'f');
        for (int i = 0; i < 4096 && !full; ++i)
            if (ErrorOf([&] { c.PutBytes(block.data(), 1024); }) == kFull)
                full = true;
        bridge.Wake();
    });
    EXPECT_TRUE(PumpUntil([&] { return full.load(); }, 30000));
    worker.join();
    ASSERT_TRUE(full);

    // Purges of the input alone leave the bytes waiting to go out.
    for (int flags : {kPurgeInput, PURGE_RXABORT, PURGE_RXCLEAR}) {
        c.Flush(flags);
        EXPECT_EQ(ErrorOf([&] { c.PutText(std::string(2048, 'z')); }), kFull) << flags;
    }

    c.FlushAll();
    EXPECT_TRUE(c.PutText(std::string(2048, 'z')));
    // Flushing the slave's output empties the pty's transit buffers but not
    // the master's own line buffer (4096 bytes): at most that many old bytes
    // may come before the new ones. A write queue left full would add more.
    const auto out = ReadUpTo(pty.master, 4096 + 2048 + 2048, 500);
    const auto firstZ = std::find(out.begin(), out.end(), 'z');
    EXPECT_LE(firstZ - out.begin(), 4096);
    EXPECT_EQ(std::count(out.begin(), out.end(), 'z'), 2048);
    EXPECT_EQ(std::count(firstZ, out.end(), 'z'), out.end() - firstZ) << "old bytes after the new ones";
}

TEST_F(CommTest, HangUpIsReportedOnceAndCostsNoCpu)
{
    TPty pty;
    TVaComm& c = NewPort(pty.path);
    std::vector<int> errors;
    c.OnError = [&](TVaComponent*, int e) { errors.push_back(e); };
    c.Open();
    pty.CloseMaster();
    ASSERT_TRUE(PumpUntil([&] { return !errors.empty(); }, 5000));
    EXPECT_NE(errors[0] & static_cast<int>(CE_IOE), 0);

    EXPECT_LT(CpuWhilePumping(1000), 0.1);
    EXPECT_EQ(errors.size(), 1u);
    EXPECT_TRUE(c.IsOpen());
    EXPECT_EQ(c.InputCount(), 0);
    c.Close();
    EXPECT_FALSE(c.IsOpen());
}

TEST_F(CommTest, CloseWhileThreadsWaitInAHandOver)
{
    TPty pty;
    TVaComm& c = NewPort(pty.path);
    TVaWaitMessage listener;
    listener.SetComm(&c);
    bool touched = false;
    c.OnRxBuf = [&](TVaComponent*, const uint8_t*, int) { touched = true; };
    c.OnTxEmpty = [&](TVaComponent*) { touched = true; };
    c.Open();

    // Both threads block in hand-overs this thread does not run yet.
    ASSERT_TRUE(c.PutText("x"));
    ASSERT_TRUE(WriteAll(pty.master, reinterpret_cast<const uint8_t*>("abc"), 3));
    while (bridge.entered < 2)
        ASSERT_EQ(bridge.entry.WaitMs(5000), wrSignaled);

    c.Close();
    ports.clear();  // and the port is gone
    EXPECT_TRUE(PumpUntil([] { return TVaCustomComm::RunningThreads() == 0; }, 5000));
    EXPECT_FALSE(touched);
    EXPECT_EQ(listener.Comm(), nullptr);
}
