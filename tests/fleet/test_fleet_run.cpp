// kvbackup fleet against several simulated units, as an integrator runs it:
// the first run, a change on one unit, a unit that is switched off or
// hangs, a run killed mid-way, the status, the history, a restore of an
// older version, the alerts and the timer's files. The history is read with
// plain git, as its users read it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include "SimProcess.h"
#include "tests/support/Ser2Net.h"
#include "tests/support/TempDir.h"

using namespace kv;

extern char** environ;

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const std::string& path, const std::string& text, mode_t mode = 0644)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    ::chmod(path.c_str(), mode);
}

std::string Quoted(const std::string& arg)
{
    std::string q = "'";
    for (char c : arg)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

size_t Count(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

// A unit's settings as the simulator keeps them: the factory's, with these.
std::string State(const std::string& lines, int mailboxSeconds = 300)
{
    return "kvsim-state 1\nlist 201\nlist 220\nmailbox Иванов " + std::to_string(mailboxSeconds) + "\n" + lines;
}

struct Fleet : ::testing::Test {
    kvtest::TTempDir dir;
    std::map<std::string, std::unique_ptr<SimProcess>> sims;
    std::string repo = dir / "history";

    void SetUp() override { WriteFile(dir / "system.pw", "7777\n", 0600); }

    // Starts (or restarts) a unit: its terminal is always at dir/NAME.
    void StartUnit(const std::string& name, const std::string& state = "", std::vector<std::string> more = {})
    {
        sims.erase(name);
        if (!state.empty())
            WriteFile(dir / (name + ".state"), state);
        std::vector<std::string> args = {"--link", dir / name, "--state", dir / (name + ".state")};
        args.insert(args.end(), more.begin(), more.end());
        sims[name] = std::make_unique<SimProcess>(args);
    }

    // The fleet file: every unit with the system password; `extra` lines
    // per unit.
    void WriteFleet(const std::vector<std::string>& names, int parallel = 4,
                    std::map<std::string, std::string> extra = {}, std::map<std::string, std::string> devices = {})
    {
        std::string text = "repository = \"history\"\nparallel = " + std::to_string(parallel) + "\ntimeout = 120\n";
        for (const std::string& n : names)
            text += "\n[[unit]]\nname = \"" + n + "\"\ndevice = \"" + (devices.count(n) ? devices[n] : dir / n) +
                    "\"\npassword-file = \"system.pw\"\n" + extra[n];
        WriteFile(dir / "fleet.toml", text);
    }

    Result Run(const std::vector<std::string>& args, const std::string& env = "")
    {
        std::string command = env + " setsid -w " + Quoted(KVBACKUP_PATH) + " fleet " + Quoted(dir / "fleet.toml");
        for (const std::string& a : args)
            command += " " + Quoted(a);
        command += " </dev/null >" + Quoted(dir / "out") + " 2>" + Quoted(dir / "err");
        const int raw = std::system(command.c_str());
        Result r;
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        r.out = ReadFile(dir / "out");
        r.err = ReadFile(dir / "err");
        return r;
    }

    std::string Git(const std::string& args)
    {
        const std::string command = "git -C " + Quoted(repo) + " " + args + " 2>&1";
        std::string out;
        if (FILE* p = ::popen(command.c_str(), "r")) {
            char buf[4096];
            for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;)
                out.append(buf, n);
            ::pclose(p);
        }
        return out;
    }
    std::vector<std::string> Subjects() { return Lines(Git("log --format=%s")); }
};

TEST_F(Fleet, FirstRunCommitsEveryUnitAndAChangeOnOneGivesOneCommitNamingIt)
{
    const std::string menu = "menu 2 0 - - - N104 - - - - - -\n";
    for (const char* n : {"office-1", "office-2", "office-3"})
        StartUnit(n, State(menu));
    WriteFleet({"office-1", "office-2", "office-3"}, 2);
    WriteFile(dir / "alert.sh", "#!/bin/sh\n{ echo \"== $1\"; cat \"$2\"; } >> " + Quoted(dir / "alerts") + "\n", 0700);

    Result r = Run({"run", "--on-change", dir / "alert.sh"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.err, "");
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 4u) << r.out;
    for (const char* n : {"office-1", "office-2", "office-3"})
        EXPECT_EQ(Count(r.out, std::string(n) + ": сохранено, первая копия ("), 1u) << r.out;
    EXPECT_EQ(lines.back(), "сохранено устройств: 3 из 3");
    auto subjects = Subjects();
    ASSERT_EQ(subjects.size(), 3u);
    for (const auto& s : subjects)
        EXPECT_NE(s.find(": первая копия настроек"), std::string::npos) << s;
    EXPECT_EQ(Count(ReadFile(dir / "alerts"), "== "), 3u);
    // Each unit's folder: its snapshot and the key of its passwords.
    EXPECT_EQ(Git("ls-tree -r --name-only HEAD"),
              "office-1/passwords\noffice-1/snapshot.kvs\noffice-2/passwords\noffice-2/snapshot.kvs\n"
              "office-3/passwords\noffice-3/snapshot.kvs\n");
    EXPECT_EQ(Git("status --porcelain"), "");

    // Nothing changed: no commit, though the time of the snapshot did.
    r = Run({"run"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(Count(r.out, ": без изменений"), 3u) << r.out;
    EXPECT_EQ(Subjects().size(), 3u);

    // One unit changes: its operator's number, a key of a voice menu, a
    // mailbox's size, its administrator password.
    sims.erase("office-2");
    StartUnit("office-2", State("param 101 300\nparam 104 4321\nmenu 2 0 - - - N105 - - - - - -\n", 600));
    ::unlink((dir / "alerts").c_str());
    r = Run({"run", "--on-change", dir / "alert.sh"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("office-2: сохранено, 4 изменения ("), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("office-1: без изменений"), std::string::npos) << r.out;
    subjects = Subjects();
    ASSERT_EQ(subjects.size(), 4u);
    EXPECT_EQ(subjects[0], "office-2: 4 изменения");
    const std::string body = Git("log -1 --format=%b");
    EXPECT_EQ(body,
              "Дневной номер оператора: 200 → 300\n"
              "Пароль администратора: изменён\n"
              "Меню 2, клавиша 3: N104 → N105\n"
              "Ящик Иванов: размер 05:00 → 10:00\n\n");
    EXPECT_EQ(Lines(Git("log -1 --format= --name-only")), (std::vector<std::string>{"office-2/passwords", "office-2/snapshot.kvs"}));
    // The alert had the unit's name and its changes.
    const std::string alerts = ReadFile(dir / "alerts");
    EXPECT_EQ(alerts.rfind("== office-2\noffice-2: 4 изменения\n\nДневной номер оператора: 200 → 300\n", 0), 0u) << alerts;
    EXPECT_EQ(Count(alerts, "== "), 1u);

    // No password is in the history; the store beside it has them, for its owner only.
    const std::string everything = Git("log -p --all");
    EXPECT_EQ(everything.find("param 104 "), std::string::npos);
    EXPECT_EQ(everything.find("system 0 "), std::string::npos);
    EXPECT_EQ(everything.find("4321"), std::string::npos);
    EXPECT_NE(everything.find("\n+param 104\n"), std::string::npos);
    const std::string store = ReadFile(repo + ".passwords");
    EXPECT_NE(store.find("4321"), std::string::npos);
    EXPECT_NE(store.find("7777"), std::string::npos);
    struct stat st {};
    ASSERT_EQ(::stat((repo + ".passwords").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // The history of the unit, newest first, with its changes.
    r = Run({"history", "office-2"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto history = Lines(r.out);
    ASSERT_EQ(history.size(), 8u) << r.out;
    EXPECT_NE(history[0].find("  office-2: 4 изменения"), std::string::npos) << r.out;
    EXPECT_EQ(history[1], "    Дневной номер оператора: 200 → 300");
    EXPECT_EQ(history[3], "    Меню 2, клавиша 3: N104 → N105");
    EXPECT_NE(history[5].find("  office-2: первая копия настроек"), std::string::npos) << r.out;
    EXPECT_EQ(history[6], "    Устройство: " + (dir / "office-2"));

    // The status, as text and as JSON.
    r = Run({"status"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(Count(r.out, ": в порядке; успех: 20"), 3u) << r.out;
    r = Run({"status", "--json"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(Count(r.out, "\"ok\" : true"), 3u) << r.out;
    EXPECT_EQ(Count(r.out, "\"failing-since\" : \"\""), 3u) << r.out;
}

TEST_F(Fleet, AUnitSwitchedOffFailsAloneAndStatusSaysSoUntilItIsBack)
{
    for (const char* n : {"office-1", "office-2", "office-3"})
        StartUnit(n, State(""));
    WriteFleet({"office-1", "office-2", "office-3"}, 3);
    ASSERT_EQ(Run({"run"}).status, 0);

    // Switched off: the simulator is killed, its terminal gone.
    ::kill(sims["office-2"]->Pid(), SIGKILL);
    sims.erase("office-2");
    WriteFile(dir / "alert.sh", "#!/bin/sh\n{ echo \"== $1\"; cat \"$2\"; } >> " + Quoted(dir / "alerts") + "\n", 0700);
    Result r = Run({"run", "--on-failure", dir / "alert.sh"});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_NE(r.out.find("office-1: без изменений"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("office-3: без изменений"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("office-2: ОШИБКА: "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("сохранено устройств: 2 из 3"), std::string::npos) << r.out;
    const std::string alerts = ReadFile(dir / "alerts");
    EXPECT_EQ(alerts.rfind("== office-2\n", 0), 0u) << alerts;
    EXPECT_EQ(Count(alerts, "== "), 1u) << alerts;

    r = Run({"status"});
    EXPECT_EQ(r.status, 1);
    const auto status = Lines(r.out);
    ASSERT_EQ(status.size(), 3u) << r.out;
    EXPECT_EQ(status[0].rfind("office-1: в порядке; ", 0), 0u) << r.out;
    EXPECT_EQ(status[1].rfind("office-2: ОШИБКА с 20", 0), 0u) << r.out;
    EXPECT_EQ(status[2].rfind("office-3: в порядке; ", 0), 0u) << r.out;
    // The message of the failure is the one kvbackup gave.
    const std::string message = alerts.substr(std::string("== office-2\n").size());
    EXPECT_NE(status[1].find("; " + message.substr(0, message.size() - 1)), std::string::npos) << r.out << message;
    r = Run({"status", "--json"});
    EXPECT_EQ(Count(r.out, "\"ok\" : false"), 1u) << r.out;

    // A second failure keeps the time it started failing.
    const std::string since = status[1].substr(0, status[1].find(';'));
    EXPECT_EQ(Run({"run", "--unit", "office-2"}).status, 1);
    EXPECT_EQ(Lines(Run({"status"}).out)[1].rfind(since + ";", 0), 0u);

    // Back on: the run succeeds, the failure is over, and nothing changed.
    StartUnit("office-2");
    r = Run({"run"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(Count(r.out, ": без изменений"), 3u) << r.out;
    r = Run({"status"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(Count(r.out, ": в порядке; "), 3u) << r.out;
    EXPECT_EQ(Subjects().size(), 3u);
}

TEST_F(Fleet, UnitsBehindSerialServersAreBackedUpAndOneWhoseServerGoesAwayFailsAlone)
{
    for (const char* n : {"office-1", "office-2", "office-3"})
        StartUnit(n, State(""));
    std::unique_ptr<kvtest::TSer2Net> telnet, tcp;
    try {
        telnet = std::make_unique<kvtest::TSer2Net>(dir / "office-2", kvtest::TSer2Net::Kind::Rfc2217);
        tcp = std::make_unique<kvtest::TSer2Net>(dir / "office-3", kvtest::TSer2Net::Kind::Tcp);
    } catch (const std::exception& e) {
        GTEST_SKIP() << "ser2net cannot start here: " << e.what();
    }
    WriteFleet({"office-1", "office-2", "office-3"}, 3, {},
               {{"office-2", telnet->Address()}, {"office-3", tcp->Address()}});
    Result r = Run({"run"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(Count(r.out, ": сохранено, первая копия ("), 3u) << r.out;
    EXPECT_NE(Git("log --format=%B -- office-2").find("Устройство: " + telnet->Address()), std::string::npos);
    EXPECT_NE(Git("log --format=%B -- office-3").find("Устройство: " + tcp->Address()), std::string::npos);

    // A change on the unit behind the telnet server: one commit naming it.
    StartUnit("office-2", State("param 101 300\n"));
    r = Run({"run"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("office-2: сохранено, 1 изменение ("), std::string::npos) << r.out;
    EXPECT_EQ(Count(r.out, ": без изменений"), 2u) << r.out;
    EXPECT_EQ(Git("log -1 --format=%B"), "office-2: 1 изменение\n\nДневной номер оператора: 200 → 300\n\n");

    // The TCP server goes away: that unit fails alone, and status says so.
    tcp->Kill();
    r = Run({"run"});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_NE(r.out.find("office-3: ОШИБКА: "), std::string::npos) << r.out;
    EXPECT_EQ(Count(r.out, ": без изменений"), 2u) << r.out;
    const auto status = Lines(Run({"status"}).out);
    ASSERT_EQ(status.size(), 3u);
    EXPECT_EQ(status[2].rfind("office-3: ОШИБКА с 20", 0), 0u) << status[2];
    EXPECT_EQ(status[1].rfind("office-2: в порядке; ", 0), 0u) << status[1];
    EXPECT_EQ(Subjects().size(), 4u);
}

TEST_F(Fleet, AUnitThatHangsIsStoppedAtItsDeadlineWithoutHoldingBackTheOthers)
{
    StartUnit("fast", State(""));
    // Every reply two seconds late: the backup would take minutes.
    StartUnit("slow", State(""), {"--delay", "2000"});
    WriteFleet({"slow", "fast"}, 2, {{"slow", "timeout = 3\n"}});
    const auto t0 = std::chrono::steady_clock::now();
    const Result r = Run({"run"});
    const auto took = std::chrono::steady_clock::now() - t0;
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_NE(r.out.find("slow: ОШИБКА: снимок не уложилось в 3 с и остановлено"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("fast: сохранено, первая копия"), std::string::npos) << r.out;
    EXPECT_LT(took, std::chrono::seconds(60));
    EXPECT_EQ(Subjects(), (std::vector<std::string>{"fast: первая копия настроек"}));
}

TEST_F(Fleet, ARunKilledMidWayLeavesWholeCommitsOnly)
{
    const std::vector<std::string> names = {"unit-1", "unit-2", "unit-3", "unit-4"};
    for (const auto& n : names)
        StartUnit(n, State(""));
    WriteFleet(names, 1);
    // The first alert (after the first commit) tells the test to kill the run.
    const std::string fifo = dir / "signal";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    WriteFile(dir / "alert.sh", "#!/bin/sh\necho \"$1\" > " + Quoted(fifo) + "\n", 0700);

    const std::string exe = KVBACKUP_PATH;
    std::vector<std::string> args = {exe, "fleet", dir / "fleet.toml", "run", "--on-change", dir / "alert.sh"};
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t runner = -1;
    ASSERT_EQ(::posix_spawn(&runner, exe.c_str(), &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    pollfd p{reader, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 60000), 1) << "no commit within a minute";
    ::kill(runner, SIGKILL);
    int raw = 0;
    ::waitpid(runner, &raw, 0);
    ::close(reader);
    ASSERT_TRUE(WIFSIGNALED(raw));

    // Every commit on the branch is whole: each unit's folder in it has its
    // snapshot to the end and its passwords' key.
    EXPECT_EQ(Git("fsck --no-dangling --no-progress"), "");
    const auto commits = Lines(Git("rev-list HEAD"));
    ASSERT_GE(commits.size(), 1u);
    ASSERT_LE(commits.size(), names.size());
    for (const auto& c : commits) {
        const auto files = Lines(Git("ls-tree -r --name-only " + c));
        EXPECT_EQ(files.size() % 2, 0u);
        for (const auto& f : files)
            if (f.find("/snapshot.kvs") != std::string::npos) {
                const std::string text = Git("show " + c + ":" + f);
                EXPECT_EQ(text.substr(text.size() - 5), "\nend\n") << c << " " << f;
            }
    }

    // The next run finishes the job: every unit once in the history.
    const Result r = Run({"run"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    const auto subjects = Subjects();
    EXPECT_EQ(subjects.size(), names.size());
    for (const auto& n : names)
        EXPECT_EQ(Count(Git("log --format=%s"), n + ": первая копия настроек"), 1u);
    // The run's leftovers are gone.
    size_t leftovers = 0;
    for (const auto& e : fs::directory_iterator(repo + "/.git/kvfleet"))
        leftovers += e.path().filename().string().rfind("run-", 0) == 0;
    EXPECT_EQ(leftovers, 0u);
}

TEST_F(Fleet, RestoreOfAnOlderVersionPutsItsSettingsAndPasswordsBack)
{
    StartUnit("office-1", State(""));
    WriteFleet({"office-1"});
    ASSERT_EQ(Run({"run"}).status, 0);
    const std::string first = Git("rev-parse HEAD").substr(0, 40);
    sims.erase("office-1");
    StartUnit("office-1", State("param 101 300\nparam 104 4321\nlist 230\n"));
    ASSERT_EQ(Run({"run"}).status, 0);
    ASSERT_EQ(Subjects().size(), 2u);

    Result r = Run({"restore", "office-1", first.substr(0, 10), "--yes"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("записано: Дневной номер оператора"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("записано: Пароль администратора"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("прежние настройки сохранены в " + repo + "/.git/kvfleet/restore/office-1-"),
              std::string::npos)
        << r.err;
    // The next run records the unit as it is again: the first version's values.
    r = Run({"run"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(Git("log -1 --format=%B"),
              "office-1: 3 изменения\n\n"
              "Дневной номер оператора: 300 → 200\n"
              "Пароль администратора: изменён\n"
              "Добавочные номера: 230: удалён\n\n");
    EXPECT_EQ(Git("diff " + first + " HEAD -- office-1/snapshot.kvs").find("\n+param"), std::string::npos);

    // What cannot be restored says why, and touches nothing.
    r = Run({"restore", "office-1", "no-such"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("нет версии \"no-such\""), std::string::npos) << r.err;
    r = Run({"restore", "office-9", "HEAD"});
    EXPECT_EQ(r.status, 2);
    // Without the store the passwords of the version are unknown.
    fs::rename(repo + ".passwords", repo + ".passwords.away");
    r = Run({"restore", "office-1", first, "--yes"});
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find("нет в хранилище"), std::string::npos) << r.err;
}

TEST_F(Fleet, RefusedFleetFileContactsNoUnit)
{
    StartUnit("office-1", State(""));
    WriteFleet({"office-1"});
    ::chmod((dir / "system.pw").c_str(), 0644);
    Result r = Run({"run"});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.err, "kvbackup: " + (dir / "fleet.toml") + ", строка 8: файл пароля " + (dir / "system.pw") +
                         " доступен не только владельцу (chmod 600 " + (dir / "system.pw") + ")\n");
    EXPECT_EQ(sims["office-1"]->BytesFromTool(), "");
    EXPECT_FALSE(fs::exists(repo));
    ::chmod((dir / "system.pw").c_str(), 0600);
    r = Run({"run", "--unit", "office-7"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("нет устройства \"office-7\""), std::string::npos);
    r = Run({"walk"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(sims["office-1"]->BytesFromTool(), "");
}

TEST_F(Fleet, InstallTimerWritesAServiceAndTimerThatSystemdAccepts)
{
    StartUnit("office-1", State(""));
    WriteFleet({"office-1"});
    const std::string config = dir / "config";
    Result r = Run({"install-timer"}, "XDG_CONFIG_HOME=" + Quoted(config));
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string folder = config + "/systemd/user/";
    const std::string service = ReadFile(folder + "kvbackup-fleet-fleet.service");
    const std::string timer = ReadFile(folder + "kvbackup-fleet-fleet.timer");
    EXPECT_NE(service.find("ExecStart=\"" + std::string(KVBACKUP_PATH) + "\" fleet \"" + (dir / "fleet.toml") +
                           "\" run\n"),
              std::string::npos)
        << service;
    EXPECT_NE(timer.find("OnCalendar=daily\n"), std::string::npos);
    EXPECT_NE(timer.find("Persistent=true\n"), std::string::npos);
    EXPECT_NE(timer.find("RandomizedDelaySec="), std::string::npos);
    EXPECT_NE(r.out.find("systemctl --user enable --now kvbackup-fleet-fleet.timer"), std::string::npos) << r.out;

    if (::access("/usr/bin/systemd-analyze", X_OK) != 0)
        GTEST_SKIP() << "systemd-analyze is not installed: the unit files are not verified";
    auto verify = [&] {
        const std::string command = "systemd-analyze verify " + Quoted(folder + "kvbackup-fleet-fleet.service") + " " +
                                    Quoted(folder + "kvbackup-fleet-fleet.timer") + " >" + Quoted(dir / "verify") +
                                    " 2>&1";
        const int raw = std::system(command.c_str());
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    };
    EXPECT_EQ(verify(), 0) << ReadFile(dir / "verify");
    EXPECT_EQ(ReadFile(dir / "verify"), "");

    // Another schedule, and the alerts passed on to the run.
    r = Run({"install-timer", "--on-calendar", "Mon..Fri *-*-* 03:30", "--on-failure", "/usr/bin/logger -t kv"},
            "XDG_CONFIG_HOME=" + Quoted(config));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(ReadFile(folder + "kvbackup-fleet-fleet.timer").find("OnCalendar=Mon..Fri *-*-* 03:30\n"),
              std::string::npos);
    EXPECT_NE(ReadFile(folder + "kvbackup-fleet-fleet.service").find(" run --on-failure \"/usr/bin/logger -t kv\"\n"),
              std::string::npos);
    EXPECT_EQ(verify(), 0) << ReadFile(dir / "verify");
    // A schedule systemd does not understand is caught by the verification.
    r = Run({"install-timer", "--on-calendar", "every full moon"}, "XDG_CONFIG_HOME=" + Quoted(config));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(verify(), 0) << ReadFile(dir / "verify");
}

}  // namespace
