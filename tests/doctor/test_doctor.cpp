// The connection doctor: facts in, Russian cause and fix out, for every
// cause; and the facts looked up for real for a pseudo-terminal that a
// second process holds.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "tests/support/TextAssert.h"
#include "doctor/Doctor.h"

namespace fs = std::filesystem;
using namespace kv;
using namespace kvtest;

namespace {

TSerialDeviceInfo ftdi()
{
    TSerialDeviceInfo d;
    d.node = "/dev/ttyUSB0";
    d.sysPath = "/sys/devices/usb1/1-1/1-1:1.0/ttyUSB0/tty/ttyUSB0";
    d.byId = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10KZP0B-if00-port0";
    d.bus = "usb";
    d.vendorId = "0403";
    d.productId = "6001";
    d.vendor = "FTDI";
    d.product = "FT232R USB UART";
    d.serial = "A10KZP0B";
    d.driver = "ftdi_sio";
    d.interfaceClass = "ff";
    return d;
}

TSerialDeviceInfo acmModem()
{
    TSerialDeviceInfo d;
    d.node = "/dev/ttyACM0";
    d.bus = "usb";
    d.vendorId = "2341";
    d.productId = "0043";
    d.product = "USB Serial";
    d.driver = "cdc_acm";
    d.interfaceClass = "02";
    return d;
}

// A user "ivan" (uid 1000, groups ivan and audio) and a device
// /dev/ttyUSB0 of root:dialout, 0660.
TDoctorFacts openFailed(int err)
{
    TDoctorFacts f;
    f.trouble = TConnectionFailure::OpenFailed;
    f.port = "COM1";
    f.device = "/dev/ttyUSB0";
    f.mapped = true;
    f.openError = err;
    f.file.exists = true;
    f.file.charDevice = true;
    f.file.uid = 0;
    f.file.gid = 20;
    f.file.owner = "root";
    f.file.group = "dialout";
    f.file.mode = 0660;
    f.uid = 1000;
    f.user = "ivan";
    f.sessionGroups = {1000, 29};
    f.userGroups = {"ivan", "audio"};
    f.processes = {"bash", "kv20rcfg", "systemd"};
    f.info = ftdi();
    f.present = {ftdi()};
    return f;
}

TDoctorFacts silent(TConnectionFailure trouble)
{
    TDoctorFacts f = openFailed(0);
    f.trouble = trouble;
    return f;
}

}  // namespace

TEST(Doctor, DeviceThatDoesNotExist)
{
    // The default device of COM2, no adapter chosen: which devices exist now.
    TDoctorFacts f = openFailed(ENOENT);
    f.port = "COM2";
    f.device = "/dev/ttyS1";
    f.mapped = false;
    f.file = {};
    f.info.reset();
    std::string text = Diagnose(f);
    EXPECT_TRUE(Shows(text, "Устройства /dev/ttyS1 нет."));
    EXPECT_TRUE(Shows(text, "COM2 по умолчанию открывает /dev/ttyS1"));
    EXPECT_TRUE(Shows(text, "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10KZP0B-if00-port0 — FTDI FT232R USB UART "
                           "(0403:6001, ftdi_sio), серийный номер A10KZP0B (/dev/ttyUSB0)"));
    EXPECT_TRUE(Shows(text, "окне «Порт...»"));
    EXPECT_FALSE(Shows(text, "brltty"));

    // The by-id name of an adapter that is unplugged; nothing present.
    f.mapped = true;
    f.device = "/dev/serial/by-id/usb-1a86_USB2.0-Serial-if00-port0";
    f.present.clear();
    text = Diagnose(f);
    EXPECT_TRUE(Shows(text, "Это постоянное имя USB-адаптера «1a86 USB2.0-Serial»; такой адаптер сейчас не подключён."));
    EXPECT_TRUE(Shows(text, "нет ни одного последовательного устройства"));
    EXPECT_FALSE(Shows(text, "по умолчанию"));

    // The braille daemon running makes USB adapters vanish.
    f.processes.push_back("brltty");
    text = Diagnose(f);
    EXPECT_TRUE(Shows(text, "sudo apt-get remove brltty"));

    // A plain file where the device should be.
    f = openFailed(ENOENT);
    f.file.charDevice = false;
    EXPECT_TRUE(Shows(Diagnose(f), "есть, но это не устройство"));
}

TEST(Doctor, PermissionDenied)
{
    // Not in the group at all: the exact command.
    TDoctorFacts f = openFailed(EACCES);
    std::string text = Diagnose(f);
    EXPECT_TRUE(Shows(text, "Нет прав на /dev/ttyUSB0: устройство принадлежит пользователю root и группе dialout, "
                           "права crw-rw----."));
    EXPECT_TRUE(Shows(text, "Пользователь ivan не состоит в группе dialout."));
    EXPECT_TRUE(Shows(text, "  sudo usermod -aG dialout ivan\n"));

    // Added to the group, but this login is older.
    f.userGroups.push_back("dialout");
    text = Diagnose(f);
    EXPECT_TRUE(Shows(text, "уже состоит в группе dialout"));
    EXPECT_TRUE(Shows(text, "после нового входа в систему"));
    EXPECT_FALSE(Shows(text, "usermod"));

    // The group of another name is what the command names.
    f = openFailed(EPERM);
    f.file.group = "uucp";
    EXPECT_TRUE(Shows(Diagnose(f), "sudo usermod -aG uucp ivan"));

    // Already running with the group: not a membership question.
    f = openFailed(EACCES);
    f.sessionGroups.push_back(20);
    text = Diagnose(f);
    EXPECT_TRUE(Shows(text, "getfacl /dev/ttyUSB0"));
    EXPECT_FALSE(Shows(text, "usermod"));

    // The group may not read and write.
    f = openFailed(EACCES);
    f.file.mode = 0600;
    text = Diagnose(f);
    EXPECT_TRUE(Shows(text, "права crw-------"));
    EXPECT_TRUE(Shows(text, "sudo setfacl -m u:ivan:rw /dev/ttyUSB0"));
}

TEST(Doctor, BusyNamesTheHolder)
{
    TDoctorFacts f = openFailed(EBUSY);
    f.holders = {{4242, "minicom", 1000, "ivan"}};
    std::string text = Diagnose(f);
    EXPECT_TRUE(Shows(text, "/dev/ttyUSB0 занято: его держит процесс 4242 (minicom)."));
    EXPECT_TRUE(Shows(text, "  kill 4242"));
    EXPECT_FALSE(Shows(text, "sudo kill"));

    // Another user's process.
    f.holders = {{77, "screen", 0, "root"}, {78, "cat", 1000, "ivan"}};
    text = Diagnose(f);
    EXPECT_TRUE(Shows(text, "его держат процессы 77 (screen), пользователь root, 78 (cat)."));
    EXPECT_TRUE(Shows(text, "sudo kill 77 78"));

    // Held by a process this user may not look into.
    f.holders.clear();
    f.holdersHidden = true;
    text = Diagnose(f);
    EXPECT_TRUE(Shows(text, "занято процессом другого пользователя"));
    EXPECT_TRUE(Shows(text, "sudo fuser -v /dev/ttyUSB0"));

    // Nobody holds it any more.
    f.holdersHidden = false;
    EXPECT_TRUE(Shows(Diagnose(f), "не держит ни один процесс"));

    // Another copy of this program.
    f.holders = {{900, "kv20rcfg", 1000, "ivan"}};
    EXPECT_TRUE(Shows(Diagnose(f), "другой копией этой программы"));
}

TEST(Doctor, KnownGrabbersOfUsbAdapters)
{
    // ModemManager probing a fresh modem-class device: while it holds it...
    TDoctorFacts f = openFailed(EBUSY);
    f.device = "/dev/ttyACM0";
    f.info = acmModem();
    f.processes.push_back("ModemManager");
    f.holders = {{321, "ModemManager", 0, "root"}};
    std::string text = Diagnose(f);
    EXPECT_TRUE(Shows(text, "его держит процесс 321 (ModemManager), пользователь root."));
    EXPECT_TRUE(Shows(text, "ENV{ID_MM_DEVICE_IGNORE}=\"1\""));
    EXPECT_TRUE(Shows(text, "sudo systemctl stop ModemManager"));
    EXPECT_FALSE(Shows(text, "kill"));

    // ... and when its commands got in the way of the echo.
    f = silent(TConnectionFailure::NoEcho);
    f.device = "/dev/ttyACM0";
    f.info = acmModem();
    f.processes.push_back("ModemManager");
    f.received = 9;
    f.receivedText = "AT\\rATE0\\r";
    EXPECT_TRUE(Shows(Diagnose(f), "ModemManager опрашивает"));
    // Not for a device it was told to leave alone, nor one it does not probe.
    f.info->properties["ID_MM_DEVICE_IGNORE"] = "1";
    EXPECT_FALSE(Shows(Diagnose(f), "ModemManager"));
    f = silent(TConnectionFailure::NoEcho);
    f.processes.push_back("ModemManager");
    EXPECT_FALSE(Shows(Diagnose(f), "ModemManager"));

    // The braille daemon holding a common USB-serial chip.
    f = openFailed(EBUSY);
    f.processes.push_back("brltty");
    f.holders = {{55, "brltty", 0, "root"}};
    text = Diagnose(f);
    EXPECT_TRUE(Shows(text, "брайлевского дисплея"));
    EXPECT_TRUE(Shows(text, "sudo apt-get remove brltty"));
    // Present but the chip is not one it claims: not mentioned for a silent line.
    f = silent(TConnectionFailure::NoEcho);
    f.processes.push_back("brltty");
    EXPECT_TRUE(Shows(Diagnose(f), "brltty"));
    f.info->vendorId = "067b";
    f.info->productId = "2303";
    EXPECT_FALSE(Shows(Diagnose(f), "brltty"));
}

TEST(Doctor, PortOpenedButTheUnitDidNotAnswer)
{
    // Nothing at all came back: the cable and the adapter, described.
    TDoctorFacts f = silent(TConnectionFailure::NoEcho);
    f.counts.known = true;
    std::string text = Diagnose(f);
    EXPECT_TRUE(Shows(text, "не вернулось эхом"));
    EXPECT_TRUE(Shows(text, "не пришло ни одного байта"));
    EXPECT_TRUE(Shows(text, "Устройство: FTDI FT232R USB UART (0403:6001, ftdi_sio), серийный номер A10KZP0B, "
                           "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10KZP0B-if00-port0."));

    // Garbage with framing and parity errors: the speed or the device.
    f.received = 37;
    f.receivedText = "\\xF0\\x80\\xFE";
    f.counts = {true, 12, 3, 0, 0};
    text = Diagnose(f);
    EXPECT_TRUE(Shows(text, "С линии пришло байт: 37, но не эхо отправленного: «\\xF0\\x80\\xFE»."));
    EXPECT_TRUE(Shows(text, "ошибок кадра: 12, ошибок чётности: 3"));
    EXPECT_TRUE(Shows(text, "не на 19200 бод"));

    // Clean bytes: right speed, another device.
    f.counts = {true, 0, 0, 4, 0};
    text = Diagnose(f);
    EXPECT_TRUE(Shows(text, "скорость совпадает, но отвечает не УАТС"));
    EXPECT_TRUE(Shows(text, "переполнения: 4"));

    // A driver without counters; another opener on the line; no database entry.
    f.counts = {};
    f.holders = {{31, "cat", 1000, "ivan"}};
    f.info.reset();
    text = Diagnose(f);
    EXPECT_TRUE(Shows(text, "Счётчиков ошибок линии этот драйвер не ведёт."));
    EXPECT_TRUE(Shows(text, "открыто ещё и в процессе 31 (cat)"));
    EXPECT_TRUE(Shows(text, "Сведений об устройстве /dev/ttyUSB0 в базе устройств системы нет."));
    // A pseudo-terminal's other opener is its far end, not an intruder.
    f.device = "/dev/pts/4";
    EXPECT_FALSE(Shows(Diagnose(f), "открыто ещё"));

    // The echo came but no prompt: a loop-back plug or an echoing device.
    f = silent(TConnectionFailure::NoPrompt);
    f.received = 30;
    f.receivedText = "\\r\\r";
    text = Diagnose(f);
    EXPECT_TRUE(Shows(text, "приглашения «Password:» нет"));
    EXPECT_TRUE(Shows(text, "заглушка-петля"));

    // Nobody counted what arrived: nothing is said about it.
    f = silent(TConnectionFailure::NoEcho);
    f.receivedKnown = false;
    EXPECT_FALSE(Shows(Diagnose(f), "С линии"));

    // Silent after the password.
    EXPECT_TRUE(Shows(Diagnose(silent(TConnectionFailure::NoReply)), "на ввод пароля УАТС не ответила"));
}

TEST(Doctor, OtherOpenErrors)
{
    TDoctorFacts f = openFailed(EIO);
    std::string text = Diagnose(f);
    EXPECT_TRUE(Shows(text, "Открыть /dev/ttyUSB0 не удалось: EIO"));
    EXPECT_TRUE(Shows(text, "отключите адаптер и подключите снова"));
    f.openError = ENXIO;
    EXPECT_TRUE(Shows(Diagnose(f), "оборудования за ним нет"));
    EXPECT_EQ(ModeString(0640, false), "-rw-r-----");
    EXPECT_EQ(ModeString(0666, true), "crw-rw-rw-");
}

namespace {

// A child that opens `path`, names itself `name`, reports ready and holds
// the device until its pipe closes.
pid_t holdInChild(const std::string& path, const char* name, bool lock, int& release)
{
    int ready[2], hold[2];
    if (pipe(ready) != 0 || pipe(hold) != 0)
        return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        close(ready[0]);
        close(hold[1]);
        prctl(PR_SET_NAME, name);
        const int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
        if (fd < 0 || (lock && flock(fd, LOCK_EX | LOCK_NB) != 0))
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
    release = hold[1];
    pollfd p{ready[0], POLLIN, 0};
    char c = 0;
    const bool ok = poll(&p, 1, 10000) == 1 && read(ready[0], &c, 1) == 1 && c == 'r';
    close(ready[0]);
    return ok ? pid : -1;
}

void endChild(pid_t pid, int release)
{
    close(release);
    int status = 0;
    waitpid(pid, &status, 0);
}

}  // namespace

TEST(DoctorFacts, ARealHolderOfAPseudoTerminalIsNamed)
{
    int master = -1, slave = -1;
    char name[64] = {};
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    close(slave);  // only the child holds the terminal's device
    int release = -1;
    const pid_t child = holdInChild(name, "kvholder", false, release);
    ASSERT_GT(child, 0);

    TDoctorFacts f;
    f.trouble = TConnectionFailure::OpenFailed;
    f.port = "COM1";
    f.device = name;
    f.mapped = true;
    f.openError = EBUSY;
    GatherFacts(f);
    endChild(child, release);
    close(master);

    EXPECT_TRUE(f.file.exists);
    EXPECT_TRUE(f.file.charDevice);
    ASSERT_EQ(f.holders.size(), 1u);
    EXPECT_EQ(f.holders[0].pid, child);
    EXPECT_EQ(f.holders[0].command, "kvholder");
    EXPECT_EQ(f.holders[0].uid, getuid());
    EXPECT_FALSE(f.info.has_value());  // a pseudo-terminal is in no device list
    EXPECT_NE(std::find(f.processes.begin(), f.processes.end(), "kvholder"), f.processes.end());
    EXPECT_TRUE(Shows(Diagnose(f), std::string(name) + " занято: его держит процесс " + std::to_string(child) + " (kvholder)."));
}

TEST(DoctorFacts, AHolderSeenOnlyThroughItsLock)
{
    // A process table where the holder's descriptors cannot be read but
    // its lock is listed: the lock names it.
    int master = -1, slave = -1;
    char name[64] = {};
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    struct stat st {};
    ASSERT_EQ(stat(name, &st), 0);
    const fs::path proc = fs::temp_directory_path() / ("kvdoctor-proc-" + std::to_string(getpid()));
    fs::remove_all(proc);
    fs::create_directories(proc / "4242");
    std::ofstream(proc / "4242" / "comm") << "minicom\n";
    std::ofstream(proc / "4242" / "status") << "Name:\tminicom\nUid:\t0\t0\t0\t0\n";
    fs::create_directories(proc / "4243");
    std::ofstream(proc / "4243" / "comm") << "ModemManager\n";
    char line[160];
    std::snprintf(line, sizeof line, "1: FLOCK  ADVISORY  WRITE 4242 %02x:%02x:%llu 0 EOF\n", major(st.st_dev),
                  minor(st.st_dev), static_cast<unsigned long long>(st.st_ino));
    std::ofstream(proc / "locks") << "2: POSIX  ADVISORY  WRITE 99 08:01:1234 0 EOF\n" << line
                                  << "3: -> FLOCK  ADVISORY  WRITE 4243 08:01:1234 0 EOF\n";

    TDoctorFacts f;
    f.device = name;
    f.openError = EBUSY;
    GatherFacts(f, proc.string());
    fs::remove_all(proc);
    close(slave);
    close(master);

    ASSERT_EQ(f.holders.size(), 1u);
    EXPECT_EQ(f.holders[0].pid, 4242);
    EXPECT_EQ(f.holders[0].command, "minicom");
    EXPECT_EQ(f.holders[0].uid, 0u);
    EXPECT_EQ(f.processes, (std::vector<std::string>{"ModemManager", "minicom"}));
}

// A unit behind a serial device server: the network's failures, each with
// its cause and fix, from the facts the port learnt.
TEST(Doctor, NetworkFailuresEachWithItsCauseAndFix)
{
    auto facts = [](const char* address, TConnectionFailure trouble = TConnectionFailure::OpenFailed) {
        TDoctorFacts f = openFailed(0);
        f.trouble = trouble;
        f.device = address;
        f.file = {};
        f.net.network = true;
        EXPECT_TRUE(ParseVaNetAddress(address, f.net.address));
        return f;
    };
    struct Case {
        const char* what;
        TDoctorFacts facts;
        std::vector<const char*> shown;
    };
    std::vector<Case> cases;
    {
        TDoctorFacts f = facts("rfc2217://pbx-cupboard:2217");
        f.net.failure = TVaNetFailure::HostNotFound;
        f.net.errorText = "Name or service not known";
        cases.push_back({"host not found", f, {"Имя «pbx-cupboard» не найдено (Name or service not known)", "IP-адрес"}});
    }
    {
        TDoctorFacts f = facts("tcp://10.0.0.5:4001");
        f.net.failure = TVaNetFailure::Refused;
        cases.push_back({"refused", f, {"Сервер 10.0.0.5:4001 отказал в соединении", "номер порта", "ser2net"}});
    }
    {
        TDoctorFacts f = facts("tcp://10.0.0.5:4001");
        f.net.failure = TVaNetFailure::TimedOut;
        cases.push_back({"timed out", f, {"не ответил за 5 с", "ping 10.0.0.5", "сетевой экран"}});
    }
    {
        TDoctorFacts f = facts("rfc2217://10.0.0.5:2217", TConnectionFailure::NoEcho);
        f.net.connected = true;
        f.net.closedByServer = true;
        f.net.firstBytes = "\r\nPort already in use\r\n";
        cases.push_back({"held for another client", f, {"порт занят другим клиентом («Port already in use»)", "kickolduser: true"}});
    }
    {
        TDoctorFacts f = facts("tcp://10.0.0.5:2217", TConnectionFailure::NoEcho);
        f.net.connected = true;
        f.net.telnetInRawData = true;
        cases.push_back({"telnet port as tcp://", f, {"по протоколу telnet", "rfc2217://10.0.0.5:2217"}});
    }
    {
        TDoctorFacts f = facts("rfc2217://10.0.0.5:4001", TConnectionFailure::NoPrompt);
        f.net.connected = true;
        f.net.offersMirrored = true;
        cases.push_back({"raw port as rfc2217://", f, {"не ведёт переговоров telnet", "вернулись эхом", "tcp://10.0.0.5:4001"}});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string text = Diagnose(c.facts);
        for (const char* part : c.shown)
            EXPECT_TRUE(Shows(text, part)) << text;
        // Nothing of a local device: no device file, no groups, no adapters.
        EXPECT_FALSE(Shows(text, "Устройства")) << text;
        EXPECT_FALSE(Shows(text, "dialout")) << text;
    }

    // Connected to a server that negotiated as it should: the line behind it
    // is silent, explained as a local one is.
    TDoctorFacts quiet = facts("rfc2217://10.0.0.5:2217", TConnectionFailure::NoEcho);
    quiet.net.connected = true;
    quiet.net.telnetAnswered = true;
    quiet.net.comPortAgreed = true;
    EXPECT_TRUE(Shows(Diagnose(quiet), "не вернулось эхом")) << Diagnose(quiet);
}

