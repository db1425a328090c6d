// kvbackup as an administrator runs it, against the simulated unit: its
// command line, the password, what it prints, its exit statuses, and that
// a file it cannot read whole sends nothing to the unit. Each run is in a
// session of its own, without a terminal.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <tuple>

#include "Golden.h"
#include "backup/VoiceFiles.h"
#include "ScriptedForm.h"
#include "SimProcess.h"
#include "session/Cp1251.h"
#include "session/KvMenu.h"
#include "ui/Unit1.h"
#include "tests/support/UnitSession.h"

using namespace kv;
using namespace kvtest;

namespace {

namespace fs = std::filesystem;

void WriteText(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

std::string Quoted(const std::string& arg)
{
    std::string q = "'";
    for (char c : arg)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

struct Kvbackup : ::testing::Test {
    TTempDir dir;
    const std::string folder = dir.Path();
    std::unique_ptr<SimProcess> sim;
    // Put before the command in the shell (for example "umask 0; ").
    std::string shellPrefix;
    // Where the program's standard output goes; read back into Result::out.
    std::string outPath = dir / "out";

    void SetUp() override
    {
        WriteText(Path("system.pw"), "7777\n");
        WriteText(Path("admin.pw"), "1234");
        WriteText(Path("wrong.pw"), "1111\r\n");
    }
    std::string Path(const std::string& name) const { return dir / name; }

    Result Run(const std::vector<std::string>& args)
    {
        // A run that hangs is ended: its test then fails, not the whole suite.
        std::string command = shellPrefix + "timeout -k 5 120 setsid -w " + Quoted(KVBACKUP_PATH);
        for (const std::string& a : args)
            command += " " + Quoted(a);
        command += " </dev/null >" + Quoted(outPath) + " 2>" + Quoted(Path("err"));
        const int raw = std::system(command.c_str());
        Result r;
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        if (fs::is_regular_file(outPath))
            r.out = ReadFile(outPath);
        r.err = ReadFile(Path("err"));
        return r;
    }
    // kvbackup with the system password on the simulated unit.
    Result Backup(const std::string& verb, const std::string& file, std::vector<std::string> more = {})
    {
        std::vector<std::string> args = {"--password-file", Path("system.pw"), sim->Path(), verb, Path(file)};
        args.insert(args.end(), more.begin(), more.end());
        return Run(args);
    }
};

TEST_F(Kvbackup, SnapshotCompareAndRestoreWithTheirExitStatuses)
{
    sim = std::make_unique<SimProcess>();
    Result r = Backup("snapshot", "unit.kvs");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");  // no progress line without a terminal
    const std::string text = ReadFile(Path("unit.kvs"));
    EXPECT_EQ(text.rfind("kvmanage-snapshot 1\n", 0), 0u);
    EXPECT_NE(text.find("\ndevice " + sim->Path() + "\n"), std::string::npos);
    EXPECT_NE(text.find("\nmode system\n"), std::string::npos);

    r = Backup("compare", "unit.kvs");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");

    std::string changed = text;
    changed.replace(changed.find("param 101 200"), 13, "param 101 300");
    changed.replace(changed.find("list 220\n"), 9, "list 220\nlist 230\n");
    WriteText(Path("changed.kvs"), changed);
    r = Backup("compare", "changed.kvs");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out,
              "Дневной номер оператора: устройство \"200\", файл \"300\"\n"
              "Добавочные номера: 230 [ADD]: устройство нет, файл \"230\"\n");

    r = Backup("restore", "changed.kvs", {"--yes"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("записано: Дневной номер оператора\nзаписано: Добавочные номера: 230\n"), std::string::npos)
        << r.out;
    EXPECT_NE(r.err.find("прежние настройки сохранены в " + Path("changed.kvs.undo-")), std::string::npos) << r.err;
    EXPECT_EQ(Backup("compare", "changed.kvs").status, 0);
    // The undo snapshot holds the unit as it was: the first file's values.
    std::string undo;
    for (const auto& e : fs::directory_iterator(folder))
        if (e.path().filename().string().rfind("changed.kvs.undo-", 0) == 0)
            undo = e.path().string();
    ASSERT_FALSE(undo.empty());
    EXPECT_EQ(Backup("compare", fs::path(undo).filename().string()).status, 1);
    r = Run({"--password-file", Path("system.pw"), sim->Path(), "restore", undo, "--yes"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Backup("compare", "unit.kvs").status, 0);

    // Without --yes and without a terminal to ask on, nothing is written.
    r = Backup("restore", "changed.kvs");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("--yes"), std::string::npos);
    EXPECT_EQ(Backup("compare", "unit.kvs").status, 0);
}

TEST_F(Kvbackup, SnapshotWithVoiceFilesListsEachFileThatLiesBesideIt)
{
    sim = std::make_unique<SimProcess>();
    const Result r = Backup("snapshot", "unit.kvs", {"--voice-files"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string text = ReadFile(Path("unit.kvs"));
    // The unit's recordings: menu 0, the day and night greetings, messages 60 to 72.
    std::vector<int> recorded;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string key, name;
        int code = -1, size = -1;
        if (!(words >> key >> code) || key != "voicefile")
            continue;
        if (!(words >> name >> size))
            continue;
        recorded.push_back(code);
        const std::string path = Path("unit.kvs.files/" + (code < 10 ? "0" + std::to_string(code) : std::to_string(code)) + "/" + name);
        ASSERT_TRUE(fs::exists(path)) << path;
        EXPECT_EQ(static_cast<int>(fs::file_size(path)), size) << path;
    }
    std::vector<int> expected = {20, 21, 0};
    for (int code = 60; code <= 72; ++code)
        expected.push_back(code);
    EXPECT_EQ(recorded, expected);
    EXPECT_NE(text.find("\nvoicefile 73\n"), std::string::npos);
    EXPECT_NE(text.find("\nvoicefile 22\n"), std::string::npos);
    EXPECT_EQ(Backup("compare", "unit.kvs").status, 0);
}

// The report of kvbackup export and that of the window's button, for one
// state of the unit, in both modes.
TEST_F(Kvbackup, ExportIsTheWindowsReportByteForByte)
{
    sim = std::make_unique<SimProcess>();
    ASSERT_EQ(Backup("snapshot", "unit.kvs").status, 0);
    std::string text = ReadFile(Path("unit.kvs"));
    text.replace(text.find("list 220\n"), 9, "list 220\nlist 230\n");
    text.insert(text.find("mailbox 999"), "mailbox 500 300 0 0\n");
    WriteText(Path("changed.kvs"), text);
    ASSERT_EQ(Backup("restore", "changed.kvs", {"--yes"}).status, 0);

    for (const auto& [file, password] : {std::pair{"system.pw", "7777"}, std::pair{"admin.pw", "1234"}}) {
        SCOPED_TRACE(file);
        const Result r = Run({"--password-file", Path(file), sim->Path(), "export", Path("kvbackup.txt")});
        ASSERT_EQ(r.status, 0) << r.err;
        {
            TUiThread ui;
            TScriptedDialogs dialogs;
            TMemorySettingsStore store;
            store.values[DeviceKey(1)] = sim->Path();
            TScriptedForm1View view;
            TForm1 form(view, store, "kv20rcfg");
            dialogs.AnswerPassword(password);
            form.btnConnectClick();
            ASSERT_NE(form.Session().mode, kModeDisconnected);
            view.exportNames.push_back(Path("window.txt"));
            form.btnExportClick();
            EXPECT_TRUE(dialogs.Messages().empty());
        }
        const std::string report = ReadFile(Path("kvbackup.txt"));
        ExpectSameReport(report, ReadFile(Path("window.txt")));
        EXPECT_NE(report.find(Utf8ToCp1251("500: 05:00\r\n")), std::string::npos);
        EXPECT_NE(report.find("220, 230\r\n"), std::string::npos);
    }
    // A report that cannot be made: nothing is read from the unit.
    const size_t sent = sim->BytesFromTool().size();
    const Result r = Backup("export", "no-such-folder/report.txt");
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find("no-such-folder/report.txt"), std::string::npos) << r.err;
    EXPECT_EQ(sim->BytesFromTool().size(), sent);
}

// "export -": the same report on standard output, and nothing there when
// the report cannot be made whole or cannot be written.
TEST_F(Kvbackup, ExportToStandardOutputIsTheReportAllOrNothing)
{
    sim = std::make_unique<SimProcess>();
    ASSERT_EQ(Backup("export", "report.txt").status, 0);
    const Result r = Run({"--password-file", Path("system.pw"), sim->Path(), "export", "-"});
    EXPECT_EQ(r.status, 0) << r.err;
    ExpectSameReport(r.out, ReadFile(Path("report.txt")));
    EXPECT_FALSE(fs::exists("-")) << "no file named -";

    outPath = "/dev/full";
    const Result full = Run({"--password-file", Path("system.pw"), sim->Path(), "export", "-"});
    EXPECT_EQ(full.status, 3);
    EXPECT_NE(full.err.find("kvbackup: отчёт не выведен: "), std::string::npos) << full.err;

    outPath = Path("out");
    sim = std::make_unique<SimProcess>(std::vector<std::string>{"--mute", "MENU"});
    const Result cut = Run({"--password-file", Path("system.pw"), sim->Path(), "export", "-"});
    EXPECT_EQ(cut.status, 4);
    EXPECT_EQ(cut.out, "");
    EXPECT_NE(cut.err.find("kvbackup: Отчёт не записан: "), std::string::npos) << cut.err;
}

TEST_F(Kvbackup, AFileItCannotReadWholeIsRefusedBeforeAnyByteGoesToTheUnit)
{
    sim = std::make_unique<SimProcess>();
    ASSERT_EQ(Backup("snapshot", "unit.kvs").status, 0);
    const size_t sent = sim->BytesFromTool().size();
    std::string text = ReadFile(Path("unit.kvs"));

    WriteText(Path("foreign.kvs"), "[kv20rm]\nCOMPort=1\n");
    std::string malformed = text;
    malformed.replace(malformed.find("param 101 200"), 13, "param 101 2\\x0D0");
    WriteText(Path("malformed.kvs"), malformed);
    WriteText(Path("cut.kvs"), text.substr(0, text.size() / 2));
    const std::string line = std::to_string(1 + std::count(text.begin(), text.begin() + static_cast<long>(text.find("param 101 ")), '\n'));
    for (const std::string verb : {"compare", "restore"}) {
        SCOPED_TRACE(verb);
        const std::vector<std::string> yes = verb == "restore" ? std::vector<std::string>{"--yes"} : std::vector<std::string>{};
        Result r = Backup(verb, "foreign.kvs", yes);
        EXPECT_EQ(r.status, 3);
        EXPECT_NE(r.err.find(Path("foreign.kvs") + ": строка 1: это не снимок настроек"), std::string::npos) << r.err;
        r = Backup(verb, "malformed.kvs", yes);
        EXPECT_EQ(r.status, 3);
        EXPECT_NE(r.err.find(Path("malformed.kvs") + ": строка " + line + ": значение содержит управляющий символ"),
                  std::string::npos)
            << r.err;
        r = Backup(verb, "cut.kvs", yes);
        EXPECT_EQ(r.status, 3);
        EXPECT_NE(r.err.find("нет строки \"end\""), std::string::npos) << r.err;
    }
    // Values of the right form that their settings cannot hold.
    for (const auto& [from, to, says] : {
             std::tuple<std::string, std::string, std::string>{"\nsystem 12 ", "\nsystem 12 99999\n#", "99999 вне допустимого (0-999)"},
             {"\nparam 100 ", "\nparam 100 77\n#", "77 вне допустимого (0-10)"},
             {"\nparam 101 200\n", "\nparam 101 2a0\n", "допустимы только цифры"},
             {"\nsystem 13 ", "\nsystem 13 -5\n#", "-5 вне допустимого (0-24)"},
         }) {
        SCOPED_TRACE(to);
        std::string wrong = text;
        wrong.replace(wrong.find(from), from.size(), to);
        WriteText(Path("wrong.kvs"), wrong);
        const std::string named = std::to_string(1 + std::count(wrong.begin(), wrong.begin() + static_cast<long>(wrong.find(to)) + 1, '\n'));
        const Result r = Backup("restore", "wrong.kvs", {"--yes"});
        EXPECT_EQ(r.status, 3);
        EXPECT_NE(r.err.find(Path("wrong.kvs") + ": строка " + named + ": значение параметра "), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(says), std::string::npos) << r.err;
    }
    EXPECT_EQ(Backup("compare", "missing.kvs").status, 3);
    EXPECT_EQ(sim->BytesFromTool().size(), sent) << "the unit was woken";
}

TEST_F(Kvbackup, CommandLineAndPassword)
{
    Result r = Run({});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("Использование:"), std::string::npos);
    r = Run({"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("kvbackup [--password-file ФАЙЛ] УСТРОЙСТВО restore ФАЙЛ [--yes]"), std::string::npos);
    EXPECT_EQ(Run({"/dev/null", "backup", "x"}).status, 2);
    EXPECT_EQ(Run({"--password-file", Path("system.pw"), "/dev/null", "compare", "x", "--yes"}).status, 2);
    EXPECT_EQ(Run({"/dev/null", "compare", "x", "--password-file", Path("system.pw")}).status, 2);
    r = Run({"--password-file", Path("none.pw"), "/dev/null", "snapshot", Path("x")});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("none.pw"), std::string::npos);
    // No password file and no terminal to ask on.
    r = Run({"/dev/null", "snapshot", Path("x")});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("--password-file"), std::string::npos);
    // A mistyped server address: what is wrong with it, before any connection.
    r = Run({"--password-file", Path("system.pw"), "tcp://unit-7", "snapshot", Path("x")});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("неверный адрес \"tcp://unit-7\": не указан порт после двоеточия"), std::string::npos) << r.err;

    // The unit refuses the password: sent once, no retry offered and none
    // promised; the password's status, with a message of its own.
    sim = std::make_unique<SimProcess>();
    r = Run({"--password-file", Path("wrong.pw"), sim->Path(), "snapshot", Path("x.kvs")});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "kvbackup: устройство " + sim->Path() + " не приняло пароль\n");
    EXPECT_EQ(r.err.find("Повторите ввод"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(Path("x.kvs")));
    // A device that is not there.
    r = Run({"--password-file", Path("system.pw"), Path("no-such-tty"), "snapshot", Path("x.kvs")});
    EXPECT_EQ(r.status, 4);
    EXPECT_FALSE(fs::exists(Path("x.kvs")));
}

mode_t ModeOf(const std::string& path)
{
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

bool IsFifo(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
}

// A target that is there and is no regular file (a pipe, a link to one, a
// socket) is left as it is: the run ends with status 3 before the unit is
// woken.
TEST_F(Kvbackup, ATargetThatIsNoRegularFileIsRefused)
{
    sim = std::make_unique<SimProcess>();
    ASSERT_EQ(::mkfifo(Path("fifo").c_str(), 0644), 0);
    fs::create_symlink(Path("fifo"), Path("fifo-link"));
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(sock, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    const std::string socketPath = Path("socket");
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    std::strcpy(address.sun_path, socketPath.c_str());
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

    for (const std::string verb : {"export", "snapshot"})
        for (const std::string target : {"fifo", "fifo-link", "socket"}) {
            SCOPED_TRACE(verb + " " + target);
            const Result r = Backup(verb, target);
            EXPECT_EQ(r.status, 3);
            EXPECT_NE(r.err.find("Не удалось создать файл " + Path(target) + ": это не обычный файл"), std::string::npos)
                << r.err;
        }
    ::close(sock);
    EXPECT_TRUE(IsFifo(Path("fifo")));
    EXPECT_TRUE(fs::is_symlink(Path("fifo-link")));
    EXPECT_TRUE(fs::is_socket(Path("socket")));
    EXPECT_EQ(sim->BytesFromTool().size(), 0u) << "the unit was woken";
}

// The password file: only a regular file, and only its first line, which
// must end within 4 KiB; a pipe without a writer or an endless device is
// refused at once.
TEST_F(Kvbackup, PasswordFileIsTheFirstLineOfARegularFile)
{
    sim = std::make_unique<SimProcess>();
    ASSERT_EQ(::mkfifo(Path("fifo.pw").c_str(), 0600), 0);
    WriteText(Path("long.pw"), std::string(1 << 20, '7'));
    struct TCase {
        std::string file;
        std::string why;
    } const cases[] = {
        {Path("fifo.pw"), "файл пароля " + Path("fifo.pw") + ": это не обычный файл"},
        {"/dev/zero", "файл пароля /dev/zero: это не обычный файл"},
        {folder, "файл пароля " + folder + ": это не обычный файл"},
        {Path("long.pw"), "файл пароля " + Path("long.pw") + ": первая строка длиннее 4096 байт"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.file);
        const Result r = Run({"--password-file", c.file, sim->Path(), "snapshot", Path("x.kvs")});
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err, "kvbackup: " + c.why + "\n");
        EXPECT_FALSE(fs::exists(Path("x.kvs")));
    }
    EXPECT_EQ(sim->BytesFromTool().size(), 0u) << "the unit was woken";

    // A long file whose first line is the password, through a link.
    WriteText(Path("first-line.pw"), "7777\n" + std::string(1 << 20, 'x'));
    fs::create_symlink(Path("first-line.pw"), Path("link.pw"));
    const Result r = Run({"--password-file", Path("link.pw"), sim->Path(), "snapshot", Path("x.kvs")});
    EXPECT_EQ(r.status, 0) << r.err;
}

// Snapshots, undo snapshots and the report hold passwords: made for their
// owner only, even under a umask that takes nothing away, and a snapshot
// written over a file readable by all is no longer.
TEST_F(Kvbackup, FilesThatHoldAPasswordAreTheOwnersOnly)
{
    sim = std::make_unique<SimProcess>();
    shellPrefix = "umask 0; ";
    ASSERT_EQ(Backup("snapshot", "unit.kvs").status, 0);
    EXPECT_EQ(ModeOf(Path("unit.kvs")), 0600u);
    ASSERT_EQ(Backup("export", "report.txt").status, 0);
    EXPECT_EQ(ModeOf(Path("report.txt")), 0600u);

    WriteText(Path("old.kvs"), "old");
    ASSERT_EQ(::chmod(Path("old.kvs").c_str(), 0666), 0);
    ASSERT_EQ(Backup("snapshot", "old.kvs").status, 0);
    EXPECT_EQ(ModeOf(Path("old.kvs")), 0600u);

    std::string changed = ReadFile(Path("unit.kvs"));
    changed.replace(changed.find("param 101 200"), 13, "param 101 300");
    WriteText(Path("changed.kvs"), changed);
    const Result r = Backup("restore", "changed.kvs", {"--yes"});
    ASSERT_EQ(r.status, 0) << r.err;
    int undos = 0;
    for (const auto& e : fs::directory_iterator(folder))
        if (e.path().filename().string().rfind("changed.kvs.undo-", 0) == 0) {
            ++undos;
            EXPECT_EQ(ModeOf(e.path()), 0600u) << e.path();
        }
    EXPECT_EQ(undos, 1);
}

// What the unit got from the tool since `from` holds no write: no value
// set, no file uploaded.
::testing::AssertionResult NothingWritten(const std::string& bytes, size_t from)
{
    const std::string since = bytes.substr(std::min(from, bytes.size()));
    for (const char* command : {"SET\r", "ULMSG\r", "DELMSG\r"})
        if (since.find(command) != std::string::npos)
            return ::testing::AssertionFailure() << "the unit got " << command;
    return ::testing::AssertionSuccess();
}

// A restore uploads a voice file only when it is the regular file the
// snapshot records, reached without a link, with the recorded size and
// content; any other refuses the whole restore, naming the file, before
// anything is written.
TEST_F(Kvbackup, ARestoreUploadsOnlyTheVoiceFilesTheSnapshotRecords)
{
    sim = std::make_unique<SimProcess>();
    ASSERT_EQ(Backup("snapshot", "unit.kvs", {"--voice-files"}).status, 0);
    const std::string text = ReadFile(Path("unit.kvs"));
    const size_t at = text.find("\nvoicefile 20 ");
    ASSERT_NE(at, std::string::npos);
    const std::string line = text.substr(at + 1, text.find('\n', at + 1) - at - 1);
    std::istringstream words(line);
    std::string key, code, name, size, hash;
    words >> key >> code >> name >> size >> hash;
    const std::string day = ReadFile(Path("unit.kvs.files/20/" + name));
    ASSERT_EQ(std::to_string(day.size()), size);
    // The snapshot records the content of the file beside it.
    EXPECT_EQ(hash, "sha256:" + Sha256Hex(day));

    // The day greeting under another name: a restore uploads it, and
    // changes one number before that.
    std::string other = text;
    other.replace(at + 1, line.size(), "voicefile 20 other.pcm " + size + " " + hash);
    other.replace(other.find("param 101 200"), 13, "param 101 300");
    const std::string files = Path("other.kvs.files");
    auto fresh = [&] {
        fs::remove_all(files);
        fs::create_directories(files + "/20");
        WriteText(files + "/20/other.pcm", day);
    };
    WriteText(Path("other.kvs"), other);
    fs::create_directories(Path("elsewhere/20"));
    WriteText(Path("elsewhere/20/other.pcm"), day);

    struct TCase {
        const char* what;
        std::function<void()> make;
        std::string why;
    } const cases[] = {
        {"the file a link to a file of the same content",
         [&] {
             fs::remove(files + "/20/other.pcm");
             fs::create_symlink(Path("unit.kvs.files/20/" + name), files + "/20/other.pcm");
         },
         "символическая ссылка"},
        {"the file a link to /etc/passwd",
         [&] {
             fs::remove(files + "/20/other.pcm");
             fs::create_symlink("/etc/passwd", files + "/20/other.pcm");
         },
         "символическая ссылка"},
        {"the slot's folder a link",
         [&] {
             fs::remove_all(files + "/20");
             fs::create_directory_symlink(Path("elsewhere/20"), files + "/20");
         },
         "папка 20: символическая ссылка"},
        {"the snapshot's folder of files a link",
         [&] {
             fs::remove_all(files);
             fs::create_directory_symlink(Path("elsewhere"), files);
         },
         "папка other.kvs.files: символическая ссылка"},
        {"the file cut short", [&] { fs::resize_file(files + "/20/other.pcm", 1000); },
         "размер 1000 байт, в снимке " + size},
        {"the file changed, its size kept",
         [&] {
             std::string changed = day;
             changed[changed.size() / 2] = static_cast<char>(changed[changed.size() / 2] ^ 0x55);
             WriteText(files + "/20/other.pcm", changed);
         },
         "содержимое не то, что записано в снимке"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.what);
        fresh();
        c.make();
        const size_t before = sim->BytesFromTool().size();
        const Result r = Backup("restore", "other.kvs", {"--yes"});
        EXPECT_EQ(r.status, 3) << r.out;
        EXPECT_NE(r.err.find(Path("other.kvs") + ": голосовой файл " + files + "/20/other.pcm: " + c.why),
                  std::string::npos)
            << r.err;
        EXPECT_TRUE(NothingWritten(sim->BytesFromTool(), before));
    }
    EXPECT_EQ(Backup("compare", "unit.kvs").status, 0) << "the unit changed";

    // The file as recorded is uploaded; so is the file of an older
    // snapshot, which records no hash.
    fresh();
    Result r = Backup("restore", "other.kvs", {"--yes"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Backup("compare", "other.kvs").status, 0);
    std::string older = other;
    older.replace(older.find("other.pcm " + size + " " + hash), 10 + size.size() + 1 + hash.size(),
                  "older.pcm " + size);
    WriteText(Path("older.kvs"), older);
    fs::create_directories(Path("older.kvs.files/20"));
    WriteText(Path("older.kvs.files/20/older.pcm"), day);
    r = Backup("restore", "older.kvs", {"--yes"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Backup("compare", "older.kvs").status, 0);
}

// The export that cannot read everything (the session drops on the way
// into the voice menus) writes nothing: the old report stays, the message
// says it was not written, and the unit's status.
TEST_F(Kvbackup, ExportThatCannotReadEverythingLeavesTheOldReport)
{
    sim = std::make_unique<SimProcess>(std::vector<std::string>{"--mute", "MENU"});
    WriteText(Path("rep.txt"), "last week's report\n");
    // The program's own output files made first, so that only a partial
    // report could add to the folder.
    Run({"--help"});
    const auto files = std::distance(fs::directory_iterator(folder), fs::directory_iterator());
    const Result r = Backup("export", "rep.txt");
    EXPECT_EQ(r.status, 4) << r.err;
    EXPECT_EQ(ReadFile(Path("rep.txt")), "last week's report\n");
    EXPECT_NE(r.err.find("kvbackup: Отчёт не записан: связь с устройством прервана."), std::string::npos) << r.err;
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), files) << "no partial file";
}

// A restore whose undo snapshot cannot be made because the unit does not
// send its voice file: the unit's status (4), not the file's (3), and
// nothing written.
TEST_F(Kvbackup, RestoreWhoseUndoSnapshotFailsOnTheUnitExitsWithTheUnitsStatus)
{
    sim = std::make_unique<SimProcess>();
    ASSERT_EQ(Backup("snapshot", "unit.kvs", {"--voice-files"}).status, 0);
    std::string text = ReadFile(Path("unit.kvs"));
    // Another recording for message 60, beside the snapshot.
    const size_t at = text.find("\nvoicefile 60 ");
    ASSERT_NE(at, std::string::npos);
    const size_t end = text.find('\n', at + 1);
    text.replace(at, end - at, "\nvoicefile 60 other.pcm 4000");
    fs::create_directories(Path("changed.kvs.files/60"));
    WriteText(Path("changed.kvs.files/60/other.pcm"), std::string(4000, '\x55'));
    WriteText(Path("changed.kvs"), text);
    sim = std::make_unique<SimProcess>(std::vector<std::string>{"--transfer-error", "3"});
    const Result r = Backup("restore", "changed.kvs", {"--yes"});
    EXPECT_EQ(r.status, 4) << r.err;
    EXPECT_NE(r.err.find("Снимок для отмены не сохранён"), std::string::npos) << r.err;
    EXPECT_EQ(sim->BytesFromTool().find("ULMSG"), std::string::npos) << "nothing written";
}

// SIGINT or SIGTERM between two writes of a restore: it stops there, logs
// out, prints what was written and the undo snapshot, and exits 5 as --help
// says.
TEST_F(Kvbackup, ARestoreStoppedByASignalLogsOutAndSaysWhatWasWritten)
{
    EXPECT_NE(Run({"--help"}).out.find("5 - восстановление остановлено сигналом"), std::string::npos);
    sim = std::make_unique<SimProcess>();
    ASSERT_EQ(Backup("snapshot", "unit.kvs").status, 0);
    std::string text = ReadFile(Path("unit.kvs"));
    const size_t list = text.find("list 220\n");
    ASSERT_NE(list, std::string::npos);
    text.insert(list, "list 231\nlist 232\nlist 233\nlist 234\nlist 235\nlist 236\n");
    WriteText(Path("changed.kvs"), text);

    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        // The same unit on a slower line, so that the writes take their time.
        sim = std::make_unique<SimProcess>(std::vector<std::string>{"--baud", "9600"});
        const size_t before = sim->BytesFromTool().size();
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::setsid();
            const int out = ::open(Path("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            const int err = ::open(Path("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            ::dup2(out, 1);
            ::dup2(err, 2);
            ::execl(KVBACKUP_PATH, KVBACKUP_PATH, "--password-file", Path("system.pw").c_str(), sim->Path().c_str(),
                    "restore", Path("changed.kvs").c_str(), "--yes", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        // The first ADD on its way: the signal.
        const bool adding = sim->WaitFromTool("ADD\r", before, 30000);
        if (!adding)
            ::kill(pid, SIGKILL);
        else
            ::kill(pid, signal);
        int raw = 0;
        ASSERT_EQ(::waitpid(pid, &raw, 0), pid);
        ASSERT_TRUE(adding);
        ASSERT_TRUE(WIFEXITED(raw));
        EXPECT_EQ(WEXITSTATUS(raw), 5);
        const std::string out = ReadFile(Path("out"));
        const std::string err = ReadFile(Path("err"));
        EXPECT_NE(out.find("записано: Добавочные номера"), std::string::npos) << out;
        EXPECT_NE(out.find("не записано: Добавочные номера: 236: остановлено"), std::string::npos) << out;
        EXPECT_NE(err.find("прежние настройки сохранены в " + Path("changed.kvs.undo-")), std::string::npos) << err;
        EXPECT_NE(err.find("восстановление остановлено сигналом"), std::string::npos) << err;
        const std::string sent = sim->BytesFromTool();
        const std::string logout = std::string(5, '\x18') + std::string(9, '\r');
        EXPECT_NE(sent.rfind(logout), std::string::npos);
        EXPECT_GT(sent.rfind(logout), sent.rfind("ADD\r")) << "logged out after the last write";
        int adds = 0;
        for (size_t at = sent.find("ADD\r", before); at != std::string::npos; at = sent.find("ADD\r", at + 1))
            ++adds;
        EXPECT_LT(adds, 6) << "not every entry was written";
    }
}

}  // namespace
