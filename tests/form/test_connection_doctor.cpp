// The connection doctor as the window calls it: the port's own failure and
// the device map reach the diagnosis.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "ScriptedForm.h"
#include "session/Comm.h"
#include "tests/support/Ser2Net.h"
#include "tests/support/TextAssert.h"
#include "ui/ConnectionDoctor.h"
#include "ui/Ports.h"
#include "trace/Trace.h"

using namespace kv;
using namespace kvtest;

namespace {

struct TMapped {
    TMemorySettingsStore store;
    TDeviceMap map;
    TMapped() { map.Install(); }
    ~TMapped() { TDeviceMap::Uninstall(); }
};

}  // namespace

TEST(ConnectionDoctor, AMappedDeviceThatIsMissing)
{
    TMapped m;
    m.map.Set(m.store, 3, "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1-if00-port0");
    TFormComm comm;
    TTraceLog trace;
    comm.VaComm1.SetPortNum(3);
    EXPECT_THROW(comm.VaComm1.Open(), EVaCommError);
    const std::string text = ExplainConnection(TConnectionFailure::OpenFailed, 3, comm, m.map, &trace);
    EXPECT_TRUE(Shows(text, "Устройства /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1-if00-port0 нет."));
    EXPECT_TRUE(Shows(text, "«FTDI FT232R USB UART A1»; такой адаптер сейчас не подключён"));

    // COM2 without a mapping opens its default.
    comm.VaComm1.SetPortNum(2);
    m.map.Set(m.store, 2, "");
    if (access("/dev/ttyS1", F_OK) != 0) {
        EXPECT_THROW(comm.VaComm1.Open(), EVaCommError);
        EXPECT_TRUE(Shows(ExplainConnection(TConnectionFailure::OpenFailed, 2, comm, m.map, &trace),
                         "COM2 по умолчанию открывает /dev/ttyS1"));
    }
}

TEST(ConnectionDoctor, APortHeldByAnotherProgram)
{
    int master = -1, slave = -1;
    char name[64] = {};
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    close(slave);
    int ready[2], hold[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(hold), 0);
    const pid_t child = fork();
    if (child == 0) {
        // Another terminal program: it locks the device as this one does.
        close(ready[0]);
        close(hold[1]);
        prctl(PR_SET_NAME, "kvterm");
        const int fd = open(name, O_RDWR | O_NOCTTY);
        if (fd < 0 || flock(fd, LOCK_EX | LOCK_NB) != 0)
            _exit(2);
        char c = 'r';
        if (write(ready[1], &c, 1) != 1)
            _exit(3);
        while (read(hold[0], &c, 1) > 0) {
        }
        _exit(0);
    }
    close(ready[1]);
    close(hold[0]);
    pollfd p{ready[0], POLLIN, 0};
    char c = 0;
    ASSERT_TRUE(poll(&p, 1, 10000) == 1 && read(ready[0], &c, 1) == 1);

    TMapped m;
    m.map.Set(m.store, 1, name);
    TFormComm comm;
    comm.VaComm1.SetPortNum(1);
    EXPECT_THROW(comm.VaComm1.Open(), EVaCommError);
    const std::string text = ExplainConnection(TConnectionFailure::OpenFailed, 1, comm, m.map, nullptr);
    close(hold[1]);
    waitpid(child, nullptr, 0);
    close(ready[0]);
    close(master);
    EXPECT_TRUE(Shows(text, std::string(name) + " занято: его держит процесс " + std::to_string(child) + " (kvterm)."));
    EXPECT_TRUE(Shows(text, "kill " + std::to_string(child)));
}

// A unit behind a serial device server, as the window's port meets it: a
// port nobody listens on, and a server that holds its port for another
// client.
TEST(ConnectionDoctor, AServerThatRefusesOrHoldsItsPortForAnotherClient)
{
    TMapped m;
    TTraceLog trace;
    {
        const std::string address = "tcp://127.0.0.1:" + std::to_string(TSer2Net::FreePort());
        m.map.Set(m.store, 1, address);
        TFormComm comm;
        comm.VaComm1.SetPortNum(1);
        EXPECT_THROW(comm.VaComm1.Open(), EVaCommError);
        const std::string text = ExplainConnection(TConnectionFailure::OpenFailed, 1, comm, m.map, &trace);
        EXPECT_TRUE(Shows(text, "отказал в соединении")) << text;
    }
    int master = -1, slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    char name[64] = {};
    ASSERT_EQ(ttyname_r(slave, name, sizeof name), 0);
    std::unique_ptr<TSer2Net> server;
    try {
        server = std::make_unique<TSer2Net>(name, TSer2Net::Kind::Rfc2217);
    } catch (const std::exception& e) {
        close(master), close(slave);
        GTEST_SKIP() << "ser2net cannot start: " << e.what();
    }
    m.map.Set(m.store, 1, server->Address());
    TFormComm first;
    first.VaComm1.SetPortNum(1);
    first.VaComm1.Open();
    // A second client is accepted, then turned away with the server's words.
    // The server may close before they leave (or reset the connection over
    // our unread negotiation, and the kernel drops them): then the doctor
    // can only say that the server closed it. A few clients in a row: the
    // words must be recognised whenever they come.
    std::string text;
    for (int attempt = 0; attempt < 5 && !Shows(text, "порт занят другим клиентом"); ++attempt) {
        TFormComm second;
        second.VaComm1.SetPortNum(1);
        second.VaComm1.Open();
        // The session would notice a silent line; the server's words arrive
        // before its time-out does.
        for (int i = 0; i < 50 && !second.VaComm1.NetStatus().closedByServer && !second.VaComm1.NetStatus().reset;
             ++i)
            UiBridge().ProcessEvents(100);
        text = ExplainConnection(TConnectionFailure::NoEcho, 1, second, m.map, &trace);
        EXPECT_TRUE(Shows(text, "закрыл соединение") || Shows(text, "порт занят другим клиентом")) << text;
        second.VaComm1.Close();
    }
    EXPECT_TRUE(Shows(text, "порт занят другим клиентом")) << text;
    EXPECT_TRUE(Shows(text, "kickolduser: true")) << text;
    first.VaComm1.Close();
    close(master), close(slave);
}

