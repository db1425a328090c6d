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
#include "FormFixture.h"
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

struct Export : TFormFixture {
    TTempDir dir;

    // The unit on COM1, the window connected on the tab `tab` (which the
    // connection then reads).
    void Connect(const std::string& password, int tab, std::vector<std::string> simArgs = {})
    {
        Start(std::move(simArgs));
        ConnectOn(password, tab);
    }
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
// logs out, the export starts no further job and writes nothing: the old
// report stays as it was, and the last message says it was not written.
TEST_F(Export, StopsReadingOnceTheSessionHasDroppedOutAndWritesNothing)
{
    Connect("7777", kTabNumbers, {"--mute", "MENU"});
    const std::string path = dir / "settings.txt";
    std::ofstream(path, std::ios::binary) << kOld;
    ExportTo(path);

    EXPECT_EQ(form->Session().mode, kModeDisconnected);
    const std::string sent = Sent();
    EXPECT_EQ(Reads(sent), Strings{}) << "nothing after the greetings were asked for";
    // One message: the report not written, and why.
    const Strings messages = dialogs.Messages();
    ASSERT_EQ(messages.size(), 1u) << ::testing::PrintToString(messages);
    EXPECT_EQ(messages[0].rfind(std::string(kReportNotWritten) + "связь с устройством прервана.", 0), 0u)
        << messages[0];
    EXPECT_FALSE(form->loaded[kTabTime]);
    EXPECT_FALSE(form->loaded[kTabSysParams]);
    EXPECT_EQ(ReadFile(path), kOld) << "the old report as it was";
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 1) << "no partial file";
    EXPECT_EQ(form->BusyCount(), 0);
}

// A read the unit leaves unanswered (kvsim stays silent after the day
// operator's number): the report is not written, so no value that was not
// read appears in it as a value, and the tab is not marked read, so the next
// export reads it again.
TEST_F(Export, AReadThatFailsWritesNoReportAndTheNextExportReadsTheTabAgain)
{
    Connect("7777", kTabMail, {"--mute", "101"});
    const std::string path = dir / "settings.txt";
    std::ofstream(path, std::ios::binary) << kOld;
    ExportTo(path);
    EXPECT_EQ(dialogs.Messages(),
              Strings{std::string(kReportNotWritten) + "связь с устройством прервана.\nDirectoryGet: Reception error"});
    EXPECT_EQ(ReadFile(path), kOld);
    EXPECT_FALSE(form->loaded[kTabNumbers]);
    EXPECT_EQ(form->BusyCount(), 0);
}

}  // namespace
