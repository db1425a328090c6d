// kvsession-demo: a headless session with the unit on a serial device.
// Connects with a password, reads the firmware version and a few
// parameters, moves to the clock menu and back, logs out, and prints
// every step. Used by ./run.sh until the window exists.
//
//   kvsession-demo DEVICE [PASSWORD]
//
// DEVICE is a device path (/dev/pts/5, /dev/ttyUSB0) or a port name (COM1).
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

#include "serial/UiBridge.h"
#include "session/Comm.h"
#include "session/Dialogs.h"
#include "session/KvMenu.h"
#include "session/Server.h"

using namespace kv;

namespace {

int g_errors = 0;

// Messages go to the terminal; the password dialog is answered once with
// the password from the command line and cancelled after that.
class TConsoleDialogs : public TDialogs {
public:
    explicit TConsoleDialogs(std::string password) : password_(std::move(password)) {}
    void Message(TMessageKind kind, const std::string& text) override
    {
        if (kind == TMessageKind::Error)
            ++g_errors;
        std::printf("  [%s] %s\n", kind == TMessageKind::Error ? "error" : "warning", text.c_str());
    }
    TPasswordAnswer Password() override
    {
        if (asked_++ > 0) {
            std::printf("  password dialog: cancelled (asked again)\n");
            return {};
        }
        std::printf("  password dialog: typed %zu characters, OK\n", password_.size());
        return {true, true, password_};
    }

private:
    std::string password_;
    int asked_ = 0;
};

// A number read from the unit and printed.
class TShowNumber : public TJoint1 {
public:
    TShowNumber(const char* label, int32_t c, uint8_t m) : label_(label)
    {
        code = c;
        menu = m;
    }
    void getp() override { value = NumberGet(code); }
    void output() override { std::printf("  %-28s (%d) = %d\n", label_, code, value); }
    int32_t value = 0;

protected:
    const char* label_;
};

class TShowVersion : public TShowNumber {
public:
    TShowVersion() : TShowNumber("firmware version", 999, kMenuSys) {}
    void output() override
    {
        std::printf("  %-28s (%d) = %d.%d.%d\n", label_, code, value / 10000, value % 10000 / 100, value % 100);
    }
};

class TShowDigits : public TJoint1 {
public:
    TShowDigits(const char* label, int32_t c) : label_(label)
    {
        code = c;
        menu = kMenuSys;
    }
    void getp() override { value = DirectoryGet(code); }
    void output() override { std::printf("  %-28s (%d) = \"%s\"\n", label_, code, value.c_str()); }
    std::string value;

private:
    const char* label_;
};

// The unit's clock, read in "PC TIME>": "GET" answers with DDMMYYhhmmss.
class TShowClock : public TJoint1 {
public:
    TShowClock() { menu = kMenuTime; }
    void getp() override
    {
        std::string line;
        if (FormComm().SendEcho("GET\r", 1000) && FormComm().ReadUpTo("\r", 1000, line))
            clock = line.substr(0, line.size() - 1);
        else
            ShowError("Time: Time-out on reply");
    }
    void output() override
    {
        if (clock.size() == 12)
            std::printf("  %-28s      = %.2s.%.2s.%.2s %.2s:%.2s:%.2s\n", "clock of the unit", clock.c_str(),
                        clock.c_str() + 2, clock.c_str() + 4, clock.c_str() + 6, clock.c_str() + 8, clock.c_str() + 10);
        else
            std::printf("  %-28s      = \"%s\"\n", "clock of the unit", clock.c_str());
    }
    std::string clock;
};

void step(TKvMenu& session, TJoint1& object, int action, const char* what)
{
    std::printf("%s\n", what);
    object.action = action;
    session.Run(&object);
    session.WaitIdle();
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 3 || std::string(argv[1]) == "--help") {
        std::fprintf(stderr, "usage: kvsession-demo DEVICE [PASSWORD]\n");
        return 2;
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const std::string device = argv[1];

    TQueueUiBridge ui;
    SetUiBridge(&ui);
    TConsoleDialogs dialogs(argc > 2 ? argv[2] : "");
    TInstallDialogs<TDialogs> installed(dialogs);

    int ret = 1;
    {
        TFormComm comm;
        TCOMServer server;
        TKvMenu session(comm, server);
        if (device.rfind("COM", 0) == 0) {
            session.port = std::atoi(device.c_str() + 3);
        } else {
            comm.VaComm1.SetDeviceName(device);
        }
        session.onMode = [&](int mode) {
            std::printf("  status: COM%d  %s\n", session.port, ModeText(mode).c_str());
        };

        TShowVersion version;
        TShowNumber opCode("operator code", 100, kMenuSys);
        TShowDigits dayNumber("operator day number", 101);
        TShowDigits nightNumber("operator night number", 102);
        TShowDigits faxNumber("fax number", 103);
        TShowClock clock;

        std::printf("connecting to %s\n", device.c_str());
        session.password.clear();
        step(session, version, 3, "reading the firmware version (connects first)");
        auto connected = [&] { return session.mode == kModeAdmin || session.mode == kModeSystem; };
        if (connected()) {
            const std::pair<TJoint1*, const char*> steps[] = {
                {&opCode, "reading in the same menu"},   {&dayNumber, "reading in the same menu"},
                {&nightNumber, "reading in the same menu"}, {&clock, "moving to the clock menu"},
                {&faxNumber, "back to the system menu"},
            };
            // A session that has ended (the line hung up, a failed login)
            // is not opened again by the next read.
            for (const auto& [object, what] : steps)
                if (connected())
                    step(session, *object, 3, what);
            if (connected()) {
                std::printf("logging out\n");
                session.Disconnect();
                session.WaitIdle();
                ret = g_errors == 0 && session.mode == kModeDisconnected ? 0 : 1;
            }
        }
        std::printf("%s\n", ret == 0 ? "session done" : "session failed");
        server.Terminate();
    }
    // The port's threads end on their own after the close; release any that
    // still waits for this thread and let them finish before the bridge goes.
    ui.Shutdown();
    TVaCustomComm::WaitThreadsEnded(5000);
    SetUiBridge(nullptr);
    return ret;
}
