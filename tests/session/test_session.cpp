// Login, modes and menu navigation against the simulated unit, asserting the
// exact bytes the tool put on the line (from kvsim's transcript), the
// dialogs shown and the modes notified.
#include <gtest/gtest.h>

#include <signal.h>

#include <memory>

#include "SimProcess.h"
#include "serial/VaComm.h"
#include "session/Comm.h"
#include "session/KvMenu.h"
#include "tests/session/Harness.h"

using namespace kv;
using namespace kvtest;

namespace {

const std::string kWake = std::string(9, '\x18') + std::string(16, '\r') + "\xEB\xEC\xE6\r";
const std::string kLogout = std::string(5, '\x18') + std::string(9, '\r');
using Kind = TScriptedDialogs::TKind;
using Shown = std::vector<TScriptedDialogs::TShown>;
using Strings = std::vector<std::string>;

// Reads a number in "PC SYS>".
class TReadNumber : public TJoint1 {
public:
    explicit TReadNumber(int32_t c, uint8_t m = kMenuSys)
    {
        code = c;
        menu = m;
    }
    void getp() override { value = NumberGet(code); }
    void output() override { ++shown; }
    int32_t value = -1;
    int shown = 0;
};

// Reads the clock in "PC TIME>" (a GET without a number there).
class TReadClock : public TJoint1 {
public:
    TReadClock() { menu = kMenuTime; }
    void getp() override
    {
        std::string line;
        if (FormComm().SendEcho("GET\r", 1000) && FormComm().ReadUpTo("\r", 1000, line))
            clock = line;
    }
    void output() override {}
    std::string clock;
};

struct Session : ::testing::Test {
    TUiThread ui;
    TScriptedDialogs dialogs;
    TFormComm comm;
    TCOMServer server;
    TKvMenu session{comm, server};
    std::unique_ptr<SimProcess> sim;
    std::vector<int> modes;
    TReadNumber version{999};

    void SetUp() override
    {
        session.onMode = [this](int m) {
            EXPECT_TRUE(UiBridge().IsUiThread());
            modes.push_back(m);
        };
    }
    void TearDown() override { SetVaDeviceResolver(nullptr); }

    void Sim(std::vector<std::string> args = {})
    {
        sim = std::make_unique<SimProcess>(std::move(args));
        comm.VaComm1.SetDeviceName(sim->Path());
    }
    // The connect button: the firmware version read with an empty password.
    void Connect()
    {
        session.password.clear();
        version.action = 3;
        session.Run(&version);
        session.WaitIdle();
    }
    void RunAndWait(TJoint1& obj, int action = 3)
    {
        obj.action = action;
        session.Run(&obj);
        session.WaitIdle();
    }
    // Connects as Connect does, but gives up waiting after ms: for units
    // that could keep the session busy for ever.
    bool ConnectWithin(int ms)
    {
        session.password.clear();
        version.action = 3;
        session.Run(&version);
        const uint64_t end = TickMs() + static_cast<uint64_t>(ms);
        while (server.idle.WaitMs(0) != wrSignaled && TickMs() < end)
            UiBridge().ProcessEvents(100);
        return server.idle.WaitMs(0) == wrSignaled;
    }
    void DisconnectAndWait()
    {
        session.Disconnect();
        session.WaitIdle();
    }
    std::string Sent() const { return sim->BytesFromTool(); }
    // What was sent after the first `from` bytes.
    std::string SentSince(size_t from) const { return Sent().substr(from); }
};

const std::string kLoginToSys = kWake + "\r" + "1234\r" + "PC\r" + "SYS\r";

}  // namespace

// ---- connecting and the access modes ----

TEST_F(Session, AdministratorConnectsReadsAndLogsOut)
{
    Sim();
    dialogs.AnswerPassword("1234");
    Connect();
    EXPECT_EQ(version.value, 10203);
    EXPECT_EQ(version.shown, 1);
    EXPECT_EQ(session.mode, kModeAdmin);
    EXPECT_EQ(session.level, kMenuSys);
    EXPECT_EQ(modes, std::vector<int>({1, 1, 2}));
    EXPECT_EQ(ModeText(session.mode), "Режим: Администратор");
    EXPECT_EQ(dialogs.Shown(), Shown({{Kind::Password, "1234"}}));
    EXPECT_EQ(Sent(), kLoginToSys + "GET\r999\r");

    DisconnectAndWait();
    EXPECT_EQ(Sent(), kLoginToSys + "GET\r999\r" + kLogout);
    EXPECT_FALSE(comm.VaComm1.IsOpen());
    EXPECT_EQ(session.mode, kModeDisconnected);
    EXPECT_EQ(session.level, 0);
    EXPECT_EQ(modes.back(), 0);
}

TEST_F(Session, SystemPasswordGivesSystemMode)
{
    Sim({"--system-password", "7531"});
    dialogs.AnswerPassword("7531");
    Connect();
    EXPECT_EQ(session.mode, kModeSystem);
    EXPECT_EQ(modes, std::vector<int>({1, 1, 3}));
    EXPECT_EQ(ModeText(session.mode), "Режим: Системный");
    EXPECT_EQ(version.value, 10203);
}

TEST_F(Session, UntouchedPasswordDialogIsShownAgain)
{
    Sim();
    dialogs.AnswerUntouched();
    dialogs.AnswerUntouched();
    dialogs.AnswerPassword("1234");
    Connect();
    EXPECT_EQ(dialogs.Shown(), Shown({{Kind::Password, ""}, {Kind::Password, ""}, {Kind::Password, "1234"}}));
    EXPECT_EQ(Sent(), kLoginToSys + "GET\r999\r");  // nothing went out for the untouched ones
    EXPECT_EQ(session.mode, kModeAdmin);
}

TEST_F(Session, CancelledPasswordLogsOutAndCloses)
{
    Sim();
    dialogs.AnswerCancel();
    Connect();
    EXPECT_EQ(Sent(), kWake + "\r" + kLogout);
    EXPECT_FALSE(comm.VaComm1.IsOpen());
    EXPECT_EQ(modes, std::vector<int>({1, 1, 0}));
    EXPECT_EQ(ModeText(modes.back()), "Отключено");
    EXPECT_TRUE(dialogs.Messages().empty());
    EXPECT_EQ(version.shown, 0);
}

TEST_F(Session, RejectedPasswordWarnsSendsACrAndTriesTheNextWithoutAPrompt)
{
    Sim();
    dialogs.AnswerPassword("9999");
    dialogs.AnswerPassword("1234");
    Connect();
    EXPECT_EQ(dialogs.Shown(), Shown({{Kind::Password, "9999"},
                                      {Kind::Warning, "Неверный пароль! Повторите ввод."},
                                      {Kind::Password, "1234"}}));
    EXPECT_EQ(Sent(), kWake + "\r" + "9999\r" + "\r" + "1234\r" + "PC\r" + "SYS\r" + "GET\r999\r");
    EXPECT_EQ(session.mode, kModeAdmin);
    EXPECT_EQ(session.password, "1234");
}

TEST_F(Session, BusyUnitWarnsAndAsksAgain)
{
    Sim({"--busy=1"});
    dialogs.AnswerPassword("1234");
    dialogs.AnswerPassword("1234");
    Connect();
    EXPECT_EQ(dialogs.Shown(),
              Shown({{Kind::Password, "1234"},
                     {Kind::Warning, "Устройство занято!\r Дождитесь освобождения всех линий и повторите ввод."},
                     {Kind::Password, "1234"}}));
    EXPECT_EQ(Sent(), kWake + "\r" + "1234\r" + "1234\r" + "PC\r" + "SYS\r" + "GET\r999\r");
    EXPECT_EQ(session.mode, kModeAdmin);
}

TEST_F(Session, CyrillicPasswordGoesOutInTheUnitsCodePage)
{
    Sim();
    dialogs.AnswerPassword("пароль");
    dialogs.AnswerCancel();
    Connect();
    EXPECT_EQ(Sent(), kWake + "\r" + "\xEF\xE0\xF0\xEE\xEB\xFC\r" + "\r" + kLogout);
    EXPECT_EQ(dialogs.Messages(), Strings({"Неверный пароль! Повторите ввод."}));
}

// ---- failed first connections: "COM" errors, no logout string ----

TEST_F(Session, PortThatCannotBeOpenedGivesTheComError)
{
    SetVaDeviceResolver([](const std::string& name) { return "/nonexistent/kvmanage-" + name; });
    session.port = 3;
    Connect();
    EXPECT_EQ(dialogs.Shown(), Shown({{Kind::Error, "COM3: Не удалось открыть порт."}}));
    EXPECT_EQ(session.error, 12);
    EXPECT_EQ(modes, std::vector<int>({1, 1, 0}));
    EXPECT_EQ(session.level, 0);
    EXPECT_EQ(comm.VaComm1.PortNum(), 3);
    EXPECT_FALSE(comm.VaComm1.IsOpen());
}

TEST_F(Session, SilentUnitIsNotFound)
{
    Sim({"--no-echo"});
    const uint64_t t0 = TickMs();
    Connect();
    const uint64_t took = TickMs() - t0;
    EXPECT_EQ(Sent(), kWake + "\r\r\r");
    EXPECT_EQ(dialogs.Shown(), Shown({{Kind::Error, "COM1: Устройство не обнаружено."}}));
    EXPECT_EQ(session.error, 10);
    EXPECT_EQ(modes, std::vector<int>({1, 1, 0}));
    EXPECT_FALSE(comm.VaComm1.IsOpen());
    EXPECT_GE(took, 4000u);  // the access string and three CR attempts, 1 s each
    EXPECT_LT(took, 15000u);
}

TEST_F(Session, UnitWithoutPasswordPromptIsNotFound)
{
    Sim({"--no-password-prompt"});
    Connect();
    EXPECT_EQ(Sent(), kWake + "\r\r\r");
    EXPECT_EQ(dialogs.Shown(), Shown({{Kind::Error, "COM1: Устройство не обнаружено."}}));
    EXPECT_EQ(session.error, 11);
    EXPECT_FALSE(comm.VaComm1.IsOpen());
}

// ---- navigation ----

TEST_F(Session, JobInTheCurrentMenuSendsNothingBeforeItsOwnExchange)
{
    Sim();
    dialogs.AnswerPassword("1234");
    Connect();
    const size_t before = Sent().size();
    TReadNumber opCode(100);
    RunAndWait(opCode);
    EXPECT_EQ(SentSince(before), "GET\r100\r");
    EXPECT_EQ(opCode.value, 10);
}

TEST_F(Session, MovingBetweenMenusLeavesThroughPcAndComesBack)
{
    Sim();
    dialogs.AnswerPassword("1234");
    Connect();
    size_t mark = Sent().size();
    TReadClock clock;
    RunAndWait(clock);
    EXPECT_EQ(SentSince(mark), "\rTIME\rGET\r");
    EXPECT_EQ(session.level, kMenuTime);
    EXPECT_EQ(clock.clock.size(), 13u);  // DDMMYYhhmmss and CR

    mark = Sent().size();
    TReadNumber day(101);
    RunAndWait(day);
    EXPECT_EQ(SentSince(mark), "\rSYS\rGET\r101\r");
    EXPECT_EQ(day.value, 200);

    mark = Sent().size();
    TRecordingJoint inList(kMenuList);
    inList.valueRead = true;  // a value read before, shown again
    RunAndWait(inList, 4);
    EXPECT_EQ(SentSince(mark), "\rLIST\r");
    EXPECT_EQ(session.level, kMenuList);
    EXPECT_EQ(inList.calls, Strings({"output"}));
    EXPECT_TRUE(dialogs.Messages().empty());
    EXPECT_EQ(modes, std::vector<int>({1, 1, 2}));
}

TEST_F(Session, StrayLineBeforeAPromptMeansSilentReloginWithTheKeptPassword)
{
    Sim({"--stray-line"});
    dialogs.AnswerPassword("1234");
    Connect();
    const size_t mark = Sent().size();
    TReadClock clock;
    RunAndWait(clock);
    EXPECT_EQ(dialogs.Shown(), Shown({{Kind::Password, "1234"},
                                      {Kind::Error, "Probably incorrect finishing the previous command"}}));
    EXPECT_EQ(SentSince(mark), kWake + "\r" + "1234\r" + "PC\r" + "TIME\r" + "GET\r");
    EXPECT_EQ(clock.clock.size(), 13u);
    EXPECT_EQ(session.level, kMenuTime);
    EXPECT_EQ(session.mode, kModeAdmin);
    EXPECT_EQ(modes, std::vector<int>({1, 1, 2, 2}));
}

// A unit whose prompts never say what the navigation waits for: the first
// mismatch logs in again with the kept password, the second ends the job
// with a logout, whether the prompt is wrong at once or never comes.
struct TMismatchCase {
    std::vector<std::string> args;
    std::string navigation;  // what each login sends before the mismatch
};

class NavigationMismatch : public Session, public ::testing::WithParamInterface<TMismatchCase> {};

TEST_P(NavigationMismatch, EndsTheJobAfterOneRelogin)
{
    const TMismatchCase& c = GetParam();
    Sim(c.args);
    dialogs.AnswerPassword("1234");
    ASSERT_TRUE(ConnectWithin(30000)) << "the session keeps logging in";
    const std::string message = "Probably incorrect finishing the previous command";
    EXPECT_EQ(dialogs.Messages(), Strings({message, message}));
    EXPECT_EQ(Sent(), kWake + "\r" + "1234\r" + c.navigation + kWake + "\r" + "1234\r" + c.navigation + kLogout);
    EXPECT_FALSE(comm.VaComm1.IsOpen());
    EXPECT_EQ(session.level, 0);
    EXPECT_EQ(modes, std::vector<int>({1, 1, 2, 2, 0}));
    EXPECT_EQ(version.shown, 0);

    // The count belongs to one job: the next one gets its own re-login.
    dialogs.Clear();
    dialogs.AnswerPassword("1234");
    ASSERT_TRUE(ConnectWithin(30000));
    EXPECT_EQ(dialogs.Messages(), Strings({message, message}));
}

INSTANTIATE_TEST_SUITE_P(
    Unit, NavigationMismatch,
    ::testing::Values(
        // The wrong prompt comes at once.
        TMismatchCase{{"--replace", "PC>", "PC SYS>"}, "PC\r"},
        TMismatchCase{{"--replace", "PC SYS>", "PC>"}, "PC\rSYS\r"},
        // The prompt never comes: each mismatch costs the 2 s of a read.
        TMismatchCase{{"--mute", "PC"}, "PC\r"},
        TMismatchCase{{"--drop", "PC SYS>"}, "PC\rSYS\r"}));

// ---- the unit goes away ----

namespace {

// Three reads in one step.
class TReadThree : public TJoint1 {
public:
    TReadThree() { menu = kMenuSys; }
    void getp() override
    {
        day = DirectoryGet(101);
        opCode = NumberGet(100);
        night = DirectoryGet(102);
    }
    void output() override { ++shown; }
    std::string day = "-", night = "-";
    int32_t opCode = -1;
    int shown = 0;
};

// Kills the simulated unit, on the UI thread, as soon as the tool has
// received `pattern` (caret escapes as the listener takes them): the far end
// of the line is gone in the middle of an exchange.
class TKillOn {
public:
    TKillOn(TVaComm& port, pid_t pid, const std::string& pattern)
    {
        listener_.SetStrings({pattern});
        listener_.SetCaseSensitive(true);
        listener_.OnMessage = [pid](TVaComponent*, int) { ::kill(pid, SIGKILL); };
        listener_.SetComm(&port);
        listener_.SetActive(true);
        listener_.Loaded();
    }

private:
    TVaWaitMessage listener_;
};

const std::string kUnplugged = "COM1: Устройство отключено.";

}  // namespace

TEST_F(Session, HangUpDuringAnExchangeEndsTheJobAtOnceWithOneMessageAndTheNextJobStartsNothing)
{
    // The unit echoes the code and goes away before it answers.
    Sim({"--mute", "101"});
    dialogs.AnswerPassword("1234");
    Connect();
    ASSERT_EQ(session.mode, kModeAdmin);
    const size_t mark = Sent().size();
    TKillOn killer(comm.VaComm1, sim->Pid(), "101^M");
    TReadThree three;
    three.action = 3;
    session.Run(&three);
    // Asked for while the first runs: it waits, and then finds the session
    // closed by the hang-up.
    TReadNumber next(100);
    next.action = 3;
    session.Run(&next);
    session.WaitIdle();
    EXPECT_EQ(dialogs.Shown(), Shown({{Kind::Password, "1234"}, {Kind::Error, kUnplugged}}));
    EXPECT_EQ(SentSince(mark), "GET\r101\r");
    EXPECT_EQ(three.day, "-") << "the reads after the hang-up did not run";
    EXPECT_EQ(three.opCode, -1);
    EXPECT_EQ(three.shown, 0);
    EXPECT_EQ(three.action, 0);
    EXPECT_EQ(next.value, -1);
    EXPECT_EQ(next.shown, 0);
    EXPECT_FALSE(comm.VaComm1.IsOpen());
    EXPECT_EQ(session.level, 0);
    EXPECT_EQ(modes, std::vector<int>({1, 1, 2, 0}));
}

TEST_F(Session, HangUpWhileNoJobRunsClosesTheSessionWithOneMessage)
{
    Sim();
    dialogs.AnswerPassword("1234");
    Connect();
    ASSERT_EQ(session.mode, kModeAdmin);
    ::kill(sim->Pid(), SIGKILL);
    const uint64_t end = TickMs() + 10000;
    while (modes.back() != kModeDisconnected && TickMs() < end)
        UiBridge().ProcessEvents(100);
    session.WaitIdle();
    EXPECT_EQ(modes, std::vector<int>({1, 1, 2, 0}));
    EXPECT_EQ(dialogs.Messages(), Strings({kUnplugged}));
    EXPECT_FALSE(comm.VaComm1.IsOpen());
    EXPECT_EQ(session.level, 0);

    // Connecting again is a new attempt; the device has gone with the unit.
    Connect();
    EXPECT_EQ(dialogs.Messages(), Strings({kUnplugged, "COM1: Не удалось открыть порт."}));
    EXPECT_EQ(session.mode, kModeDisconnected);
}

TEST_F(Session, HangUpWhileLoggingInEndsTheConnectionWithoutTheLogoutString)
{
    Sim({"--mute", "1234"});
    TKillOn killer(comm.VaComm1, sim->Pid(), "1234^M");
    dialogs.AnswerPassword("1234");
    Connect();
    EXPECT_EQ(dialogs.Shown(), Shown({{Kind::Password, "1234"}, {Kind::Error, kUnplugged}}));
    EXPECT_EQ(Sent(), kWake + "\r" + "1234\r");
    EXPECT_EQ(modes, std::vector<int>({1, 1, 0}));
    EXPECT_FALSE(comm.VaComm1.IsOpen());
    EXPECT_EQ(version.shown, 0);
}

// ---- failures that end in a logout ----

TEST_F(Session, ReloginWithoutEchoEndsInLogout)
{
    // The stray line makes the next navigation log in again; from that
    // second login on the unit no longer echoes.
    Sim({"--stray-line", "--no-echo=2"});
    dialogs.AnswerPassword("1234");
    Connect();
    const size_t mark = Sent().size();
    TReadClock clock;
    RunAndWait(clock);
    EXPECT_EQ(dialogs.Messages(), Strings({"Probably incorrect finishing the previous command",
                                           "Device does not respond (no echo)"}));
    EXPECT_EQ(SentSince(mark), kWake + "\r\r\r" + kLogout);
    EXPECT_FALSE(comm.VaComm1.IsOpen());
    EXPECT_EQ(modes, std::vector<int>({1, 1, 2, 0}));
    EXPECT_TRUE(clock.clock.empty());
}

TEST_F(Session, ReloginWithoutPasswordPromptEndsInLogout)
{
    Sim({"--stray-line", "--no-password-prompt=2"});
    dialogs.AnswerPassword("1234");
    Connect();
    const size_t mark = Sent().size();
    TReadClock clock;
    RunAndWait(clock);
    EXPECT_EQ(dialogs.Messages(), Strings({"Probably incorrect finishing the previous command",
                                           "Device did not prompt: Password"}));
    EXPECT_EQ(SentSince(mark), kWake + "\r\r\r" + kLogout);
    EXPECT_FALSE(comm.VaComm1.IsOpen());
    EXPECT_EQ(session.level, 0);
}

TEST_F(Session, PasswordWithoutReplyEndsInLogout)
{
    Sim({"--mute", "1234"});
    dialogs.AnswerPassword("1234");
    Connect();
    EXPECT_EQ(dialogs.Shown(), Shown({{Kind::Password, "1234"}, {Kind::Error, "Device does no respond on password input"}}));
    EXPECT_EQ(Sent(), kWake + "\r" + "1234\r" + kLogout);
    EXPECT_EQ(modes, std::vector<int>({1, 1, 0}));
}

TEST_F(Session, UnknownPasswordReplyEndsInLogout)
{
    Sim({"--replace", "ADMIN_MODE", "GUEST_MODE"});
    dialogs.AnswerPassword("1234");
    Connect();
    EXPECT_EQ(dialogs.Messages(), Strings({"Unknown response on password input"}));
    EXPECT_EQ(Sent(), kWake + "\r" + "1234\r" + kLogout);
    EXPECT_FALSE(comm.VaComm1.IsOpen());
}

TEST_F(Session, NavigationBeforeLoginEndsInLogout)
{
    Sim();
    comm.VaComm1.Open();
    session.level = 3;  // only the password prompt seen
    TReadNumber obj(100);
    RunAndWait(obj);
    EXPECT_EQ(dialogs.Messages(), Strings({"Probably incorrect entering KvMenu"}));
    EXPECT_EQ(Sent(), kLogout);
    EXPECT_EQ(session.level, 0);
}

TEST_F(Session, MenuCommandWithoutEchoEndsInLogout)
{
    Sim({"--drop-echo", "TIME"});
    dialogs.AnswerPassword("1234");
    Connect();
    const size_t mark = Sent().size();
    TReadClock clock;
    RunAndWait(clock);
    EXPECT_EQ(dialogs.Messages(), Strings({"Error navigating menu"}));
    EXPECT_EQ(SentSince(mark), "\rTIME\r" + kLogout);
    EXPECT_TRUE(clock.clock.empty());
    EXPECT_EQ(session.mode, kModeDisconnected);
}

TEST_F(Session, MenuCodeOutsideTheTableEndsInLogout)
{
    Sim();
    dialogs.AnswerPassword("1234");
    TReadNumber odd(100, 11);
    odd.action = 3;
    session.Run(&odd);
    session.WaitIdle();
    EXPECT_EQ(dialogs.Messages(), Strings({"Wrong menu passage"}));
    EXPECT_EQ(Sent(), kWake + "\r" + "1234\r" + "PC\r" + kLogout);
    EXPECT_EQ(odd.shown, 0);
}

TEST_F(Session, UnreachableActionsReportThemselvesAndLogOut)
{
    // No unit: the logout finds the port closed and sends nothing.
    for (int32_t action : {209, 204, 150}) {
        dialogs.Clear();
        modes.clear();
        session.action = action;
        RunJob(server, &session);
        const std::string expected = action == 209 ? "Unknown menu navigation error"
                                                   : "KvMenu: invalid action:" + std::to_string(action);
        EXPECT_EQ(dialogs.Messages(), Strings({expected}));
        EXPECT_EQ(modes, std::vector<int>({0}));
        EXPECT_EQ(session.action, 0);
    }
    // A failed connection whose reason is none of the known ones.
    dialogs.Clear();
    modes.clear();
    session.error = 99;
    session.action = 122;
    RunJob(server, &session);
    EXPECT_EQ(dialogs.Messages(), Strings({"COM1: Ошибка подключения"}));
    EXPECT_EQ(modes, std::vector<int>({0}));
}
