// "Экспорт настроек в файл..." of the main window against the simulated
// unit, with a scripted view: the dialog, the file made before the window
// turns busy, the tabs read in order and only when not yet read, the report
// in the chosen file, and the failures, each of which leaves an existing
// file as it was.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include <cstring>
#include <fstream>
#include <filesystem>
#include <memory>
#include <regex>

#include "Golden.h"
#include "ScriptedForm.h"
#include "SimProcess.h"
#include "tests/support/ScriptedCollectionDialogs.h"
#include "tests/support/ScriptedDialogs.h"
#include "tests/support/ScriptedValueDialogs.h"
#include "tests/support/UnitSession.h"
#include "ui/Export.h"
#include "ui/Unit1.h"

using namespace kv;
using namespace kvtest;
namespace fs = std::filesystem;

namespace {

using Strings = std::vector<std::string>;
const std::string kOld = "the report of last week\r\n";

// What the tool asked the unit for, in order: "GET <code>" of each
// parameter read, and each GETALL as "GETALL".
Strings Reads(const std::string& bytes)
{
    static const std::regex read("GET\r([0-9]+)\r|GETALL\r");
    Strings reads;
    for (auto it = std::sregex_iterator(bytes.begin(), bytes.end(), read); it != std::sregex_iterator(); ++it)
        reads.push_back((*it)[1].matched ? "GET " + (*it)[1].str() : "GETALL");
    return reads;
}

Strings Gets(std::initializer_list<int> first, int from = 0, int to = -1)
{
    Strings s;
    for (int c : first)
        s.push_back("GET " + std::to_string(c));
    for (int c = from; c <= to; ++c)
        s.push_back("GET " + std::to_string(c));
    return s;
}

Strings operator+(Strings a, const Strings& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct Export : ::testing::Test {
    TUiThread ui;
    TScriptedDialogs dialogs;
    TScriptedValueDialogs values;
    TScriptedCollectionDialogs collections;
    std::unique_ptr<SimProcess> sim;
    TMemorySettingsStore store;
    TScriptedForm1View view;
    std::unique_ptr<TForm1> form;
    TTempDir dir;
    size_t mark = 0;

    void TearDown() override { form.reset(); }

    // The unit on COM1, the window connected on the tab `tab` (which the
    // connection then reads).
    void Connect(const std::string& password, int tab, std::vector<std::string> simArgs = {})
    {
        sim = std::make_unique<SimProcess>(std::move(simArgs));
        store.values[DeviceKey(1)] = sim->Path();
        form = std::make_unique<TForm1>(view, store, "kv20rcfg");
        view.currentTab = tab;
        dialogs.AnswerPassword(password);
        form->btnConnectClick();
        ASSERT_NE(form->Session().mode, kModeDisconnected);
        Mark();
    }
    void Mark()
    {
        mark = sim->BytesFromTool().size();
        view.busyLooks.clear();
        dialogs.Clear();
    }
    std::string Sent() const { return sim->BytesFromTool().substr(mark); }
    // The button, with the save dialog answered by `path` ("" cancels).
    void ExportTo(const std::string& path)
    {
        view.exportNames.push_back(path);
        form->btnExportClick();
    }
};

// Every tab still to be read in system mode: the connection read the
// version and the Numbers tab; the export reads the other six in order and
// writes kvsim's factory state, byte for byte.
TEST_F(Export, FromAFreshConnectionInSystemModeReadsEveryTabInOrder)
{
    Connect("7777", kTabNumbers);
    const std::string path = dir / "settings.txt";
    ExportTo(path);

    EXPECT_TRUE(dialogs.Messages().empty());
    const Strings expected = Gets({20, 21, 22}) + Gets({110}, 111, 124) + Gets({}, 0, 19) + Strings{"GETALL"} +
                             Gets({999, 0, 1, 10, 11, 12, 13, 14, 15, 16, 17, 18, 20, 21, 22, 23, 24, 25, 30, 31, 32, 40,
                                   41, 42, 43, 44, 80, 81, 82, 83, 90, 91, 92, 93, 94, 95, 96, 97, 98, 99}) +
                             Gets({501, 502, 503, 504, 505, 506, 511, 512, 513, 514, 515, 516, 521, 522, 523, 524, 525,
                                   526, 531, 532, 533, 534, 535, 536, 541, 542, 543, 544, 545, 546},
                                  60, 73);
    EXPECT_EQ(Reads(Sent()), expected);
    ExpectSameReport(ReadFile(path), GoldenReport("factory-system.txt"));
    EXPECT_EQ(view.busyLooks, (std::vector<bool>{true, false})) << "one busy section around it all";
    EXPECT_EQ(form->BusyCount(), 0);
    for (bool loaded : form->loaded)
        EXPECT_TRUE(loaded);

    // Everything is read now: a second export sends nothing at all.
    Mark();
    ExportTo(dir / "again.txt");
    EXPECT_EQ(Sent(), "");
    EXPECT_EQ(ReadFile(dir / "again.txt"), ReadFile(path));
    EXPECT_TRUE(dialogs.Messages().empty());
}

TEST_F(Export, AdministratorModeReadsNoSystemTab)
{
    Connect("1234", kTabMail);
    const std::string path = dir / "settings.txt";
    ExportTo(path);

    EXPECT_TRUE(dialogs.Messages().empty());
    EXPECT_EQ(Reads(Sent()), Gets({}) + Strings{"GETALL"} + Gets({100, 101, 102, 103, 104, 20, 21, 22}) +
                                 Gets({110}, 111, 124) + Gets({}, 0, 19));
    EXPECT_FALSE(form->loaded[kTabSysParams]);
    EXPECT_FALSE(form->loaded[kTabMessages]);
    ExpectSameReport(ReadFile(path), GoldenReport("factory-admin.txt"));
}

TEST_F(Export, CancelOrAFileThatCannotBeMadeSendsNothingAndStaysIdle)
{
    Connect("1234", kTabMail);
    ExportTo("");
    const std::string missing = dir / "no-such-folder/settings.txt";
    ExportTo(missing);
    const std::string folder = dir.Path();
    ExportTo(folder);

    EXPECT_EQ(Sent(), "");
    EXPECT_TRUE(view.busyLooks.empty()) << "the error comes before the window turns busy";
    EXPECT_EQ(dialogs.Messages(), (Strings{CannotCreateText(missing, std::strerror(ENOENT)),
                                           CannotCreateText(folder, std::strerror(EISDIR))}));
    EXPECT_FALSE(form->loaded[kTabNumbers]);
    EXPECT_EQ(fs::directory_iterator(dir.Path()), fs::directory_iterator()) << "nothing was written";
}

// A write that fails part-way (a file-size limit that binds root as well):
// the message, the busy state ended, the old report as it was.
TEST_F(Export, AWriteThatFailsLeavesTheOldFileAndEndsTheBusyState)
{
    Connect("1234", kTabNumbers);
    const std::string path = dir / "settings.txt";
    std::ofstream(path, std::ios::binary) << kOld;

    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 1000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    ExportTo(path);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(dialogs.Messages(), Strings{CannotWriteText(path, std::strerror(EFBIG))});
    EXPECT_EQ(ReadFile(path), kOld);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 1);
    EXPECT_EQ(form->BusyCount(), 0);
    EXPECT_EQ(view.busyLooks, (std::vector<bool>{true, false}));
    EXPECT_TRUE(form->ClicksAttached());
}

// The unit stops answering on the way into the voice menus: the session
// logs out, the export starts no further job and writes what it has.
TEST_F(Export, StopsReadingOnceTheSessionHasDroppedOut)
{
    Connect("7777", kTabNumbers, {"--mute", "MENU"});
    const std::string path = dir / "settings.txt";
    ExportTo(path);

    EXPECT_EQ(form->Session().mode, kModeDisconnected);
    const std::string sent = Sent();
    EXPECT_EQ(Reads(sent), Strings{}) << "nothing after the greetings were asked for";
    EXPECT_LE(dialogs.Messages().size(), 2u) << ::testing::PrintToString(dialogs.Messages());
    EXPECT_FALSE(form->loaded[kTabTime]);
    EXPECT_FALSE(form->loaded[kTabSysParams]);
    const std::string report = ReadFile(path);
    EXPECT_NE(report.find(SystemCp1251("\r\nПароль администратора:   1234\r\n")), std::string::npos)
        << "what was read before is in the report";
    EXPECT_NE(report.find(SystemCp1251("\r\n****Системные параметры\r\n00 - ")), std::string::npos)
        << "the sections of the mode the export began in";
    EXPECT_EQ(form->BusyCount(), 0);
}

}  // namespace
