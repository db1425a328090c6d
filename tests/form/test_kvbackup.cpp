// kvbackup as an administrator runs it, against the simulated unit: its
// command line, the password, what it prints, its exit statuses, and that
// a file it cannot read whole sends nothing to the unit. Each run is in a
// session of its own, without a terminal.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "Golden.h"
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

    void SetUp() override
    {
        WriteText(Path("system.pw"), "7777\n");
        WriteText(Path("admin.pw"), "1234");
        WriteText(Path("wrong.pw"), "1111\r\n");
    }
    std::string Path(const std::string& name) const { return dir / name; }

    Result Run(const std::vector<std::string>& args)
    {
        std::string command = "setsid -w " + Quoted(KVBACKUP_PATH);
        for (const std::string& a : args)
            command += " " + Quoted(a);
        command += " </dev/null >" + Quoted(Path("out")) + " 2>" + Quoted(Path("err"));
        const int raw = std::system(command.c_str());
        Result r;
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        r.out = ReadFile(Path("out"));
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

    // The unit refuses the password: asked once, no retry from a file.
    sim = std::make_unique<SimProcess>();
    r = Run({"--password-file", Path("wrong.pw"), sim->Path(), "snapshot", Path("x.kvs")});
    EXPECT_EQ(r.status, 4);
    EXPECT_NE(r.err.find("Неверный пароль! Повторите ввод."), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("нет подключения к устройству " + sim->Path()), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(Path("x.kvs")));
    // A device that is not there.
    r = Run({"--password-file", Path("system.pw"), Path("no-such-tty"), "snapshot", Path("x.kvs")});
    EXPECT_EQ(r.status, 4);
    EXPECT_FALSE(fs::exists(Path("x.kvs")));
}

}  // namespace
