// The fleet's pieces without a unit: the readable changes between two
// snapshots and the passwords they carry, the history's commits, and the
// children with their deadlines.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <regex>

#include "collections/Factory.h"
#include "fleet/Changes.h"
#include "fleet/Children.h"
#include "fleet/Repository.h"
#include "fleet/Stores.h"
#include "session/KvMenu.h"
#include "settings/Catalogue.h"
#include "tests/support/TempDir.h"

using namespace kv;
using namespace std::chrono_literals;

namespace {

struct Changes : ::testing::Test {
    TCatalogue catalogue{CollectionFactory()};
    TSnapshotLayout layout{catalogue};

    // A fresh catalogue's values, each raised into its setting's range
    // where the reader would refuse it (the unit never sends those).
    TSnapshot Valid(int mode)
    {
        TSnapshot s = layout.Take(mode, "/dev/ttyUSB0", "2026-03-07 09:05:30 +0300");
        const std::regex range("значение параметра ([0-9]+): .*\\(([0-9]+)-");
        for (int i = 0; i < 100; ++i) {
            TSnapshot back;
            TSnapshotError error;
            if (layout.Read(layout.Write(s, false), back, error))
                break;
            std::smatch m;
            const std::string text = error.text;
            if (!std::regex_search(text, m, range))
                break;
            s.params[std::stoi(m[1])] = m[2];
        }
        return s;
    }

    TSnapshot Unit()
    {
        TSnapshot s = Valid(kModeSystem);
        s.params[101] = "200";
        s.params[104] = "1234";
        s.params[0] = "7777";
        s.list = {"201", "220"};
        s.menus[2].keys[3] = "N104";
        s.boxes = {{"Иванов", 300, 0, 0}, {"Петров", 600, 0, 0}};
        return s;
    }
};

TEST_F(Changes, EachChangeInTheScreensWordsAndNothingThatChangesByItself)
{
    const TSnapshot before = Unit();
    TSnapshot after = before;
    // When and through what it was taken is no change of the unit.
    after.taken = "2026-03-08 10:00:00 +0300";
    after.device = "rfc2217://10.0.0.5:2217";
    EXPECT_TRUE(ChangeLines(layout, before, after).empty());

    after.params[101] = "300";
    after.menus[2].keys[3] = "N105";
    after.boxes[0].size = 600;
    after.boxes.pop_back();
    after.boxes.push_back({"Сидоров", 120, 0, 0});
    after.list = {"201", "230"};
    after.firmware = before.firmware + 1;
    const std::vector<std::string> expected = {
        "Версия прошивки: 1.2.3 → 1.2.4",
        "Дневной номер оператора: 200 → 300",
        "Добавочные номера: 220: удалён",
        "Добавочные номера: 230: добавлен",
        "Меню 2, клавиша 3: N104 → N105",
        "Ящик Иванов: размер 05:00 → 10:00",
        "Ящик Петров: удалён (был 10:00)",
        "Ящик Сидоров: добавлен (02:00)",
    };
    TSnapshot withFirmware = before;
    withFirmware.firmware = 10203;
    after.firmware = 10204;
    EXPECT_EQ(ChangeLines(layout, withFirmware, after), expected);
}

TEST_F(Changes, VoiceMenusByTheirNumberAndGreetingsByTheirScreensName)
{
    const TSnapshot before = Unit();
    TSnapshot after = before;
    after.menus[12].keys[0] = "N230";
    after.menus[5].callCode = before.menus.at(5).callCode + 1;
    ASSERT_FALSE(layout.Menus().empty());
    const TSnapshotLayout::TMenu& greeting = layout.Menus().front();
    ASSERT_GE(greeting.code, 20);
    after.menus[greeting.code].keys[4] = "M7";
    const auto lines = ChangeLines(layout, before, after);
    ASSERT_EQ(lines.size(), 3u);
    // Greetings come first in the snapshot's order, then the voice menus.
    EXPECT_EQ(lines[0].rfind(greeting.name + ", клавиша 4: ", 0), 0u) << lines[0];
    EXPECT_TRUE(lines[0].ends_with(" → M7")) << lines[0];
    EXPECT_EQ(lines[1].rfind("Меню 5, код вызова: ", 0), 0u) << lines[1];
    EXPECT_EQ(lines[2], "Меню 12, клавиша 0: (пусто) → N230");
}

TEST_F(Changes, PasswordsAreOnlySaidToHaveChangedAndLeaveTheHistorysSnapshot)
{
    const TSnapshot before = Unit();
    TSnapshot after = before;
    after.params[104] = "4321";
    after.params[0] = "8888";
    const auto lines = ChangeLines(layout, before, after);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "Пароль администратора: изменён");
    EXPECT_EQ(lines[1], "00 - Cистемный пароль: изменён");
    for (const auto& line : lines) {
        EXPECT_EQ(line.find("4321"), std::string::npos);
        EXPECT_EQ(line.find("8888"), std::string::npos);
    }

    // The history's text holds neither password and still reads back.
    const TPasswords passwords = PasswordsOf(layout, after);
    EXPECT_EQ(passwords, (TPasswords{{0, "8888"}, {104, "4321"}}));
    const std::string text = layout.Write(WithoutPasswords(layout, after), false);
    EXPECT_EQ(text.find("4321"), std::string::npos);
    EXPECT_EQ(text.find("8888"), std::string::npos);
    TSnapshot back;
    TSnapshotError error;
    ASSERT_TRUE(layout.Read(text, back, error)) << error.Message();
    EXPECT_EQ(back.params[104], "");
    PutPasswords(back, passwords);
    after.files.clear();  // written without the voice files
    EXPECT_EQ(back, after);

    // An administrator's snapshot carries the administrator password only.
    TSnapshot admin = Valid(kModeAdmin);
    admin.params[104] = "1234";
    EXPECT_EQ(PasswordsOf(layout, admin), (TPasswords{{104, "1234"}}));
    // The mode of the snapshot is a change of its own.
    EXPECT_EQ(ChangeLines(layout, admin, before).front(), "Режим снимка: администратора → системный");
}

TEST(ChangeCount, RussianPlurals)
{
    EXPECT_EQ(ChangeCount(1), "1 изменение");
    EXPECT_EQ(ChangeCount(2), "2 изменения");
    EXPECT_EQ(ChangeCount(4), "4 изменения");
    EXPECT_EQ(ChangeCount(5), "5 изменений");
    EXPECT_EQ(ChangeCount(11), "11 изменений");
    EXPECT_EQ(ChangeCount(12), "12 изменений");
    EXPECT_EQ(ChangeCount(21), "21 изменение");
    EXPECT_EQ(ChangeCount(22), "22 изменения");
}

TEST(FleetRepository, CommitsReplaceOneFolderAndTheHistoryOfAFolderSkipsOthers)
{
    kvtest::TTempDir dir;
    TRepository repo;
    std::string error, a1, b1, a2;
    ASSERT_FALSE(repo.Open(dir / "history", false, error));
    ASSERT_TRUE(repo.Open(dir / "history", true, error)) << error;
    EXPECT_EQ(repo.Head(), "");
    ASSERT_TRUE(repo.Commit("a", {{"snapshot.kvs", "one\n"}, {"x.files/20/hello.wav", "RIFF"}}, "a: first\n", a1, error))
        << error;
    ASSERT_TRUE(repo.Commit("b", {{"snapshot.kvs", "bee\n"}}, "b: first\n", b1, error)) << error;
    ASSERT_TRUE(repo.Commit("a", {{"snapshot.kvs", "two\n"}}, "a: 1 изменение\n\nX: 1 → 2\n", a2, error)) << error;
    EXPECT_EQ(repo.Head(), a2);

    std::map<std::string, std::string> files;
    ASSERT_TRUE(repo.ReadFolder("", "a", files));
    EXPECT_EQ(files, (std::map<std::string, std::string>{{"snapshot.kvs", "two\n"}}));
    ASSERT_TRUE(repo.ReadFolder(a1, "a", files));
    EXPECT_EQ(files, (std::map<std::string, std::string>{{"snapshot.kvs", "one\n"}, {"x.files/20/hello.wav", "RIFF"}}));
    EXPECT_FALSE(repo.ReadFolder(a1, "b", files));
    // The other folder stays as it was in every later commit.
    ASSERT_TRUE(repo.ReadFolder("", "b", files));
    EXPECT_EQ(files.at("snapshot.kvs"), "bee\n");
    // The working folder follows.
    std::ifstream in(dir / "history/a/snapshot.kvs");
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "two");

    std::vector<TRepository::TVersion> versions;
    ASSERT_TRUE(repo.History("a", versions, error)) << error;
    ASSERT_EQ(versions.size(), 2u);
    EXPECT_EQ(versions[0].id, a2);
    EXPECT_EQ(versions[0].message, "a: 1 изменение\n\nX: 1 → 2\n");
    EXPECT_EQ(versions[1].id, a1);
    EXPECT_EQ(versions[0].shortId, a2.substr(0, 8));
    ASSERT_TRUE(repo.History("b", versions, error));
    ASSERT_EQ(versions.size(), 1u);
    EXPECT_EQ(versions[0].id, b1);

    std::string id;
    ASSERT_TRUE(repo.Resolve("HEAD~2", id, error)) << error;
    EXPECT_EQ(id, a1);
    ASSERT_TRUE(repo.Resolve(a2.substr(0, 8), id, error)) << error;
    EXPECT_EQ(id, a2);
    EXPECT_FALSE(repo.Resolve("no-such-version", id, error));
    EXPECT_EQ(error, "нет версии \"no-such-version\"");
}

TEST(FleetStores, PasswordStoreIsTheOwnersOnlyAndStatusSurvivesReading)
{
    kvtest::TTempDir dir;
    TPasswordStore store(TPasswordStore::PathFor(dir / "history/"));
    EXPECT_EQ(store.Path(), dir / "history.passwords");
    std::string error;
    ASSERT_TRUE(store.Load(error)) << error;  // none yet
    const std::string key = TPasswordStore::NewKey();
    EXPECT_EQ(key.size(), 32u);
    EXPECT_NE(key, TPasswordStore::NewKey());
    store.Put("office-1", key, {{104, "1234"}, {0, "7\"77"}});
    ASSERT_TRUE(store.Save(error)) << error;
    struct stat st {};
    ASSERT_EQ(::stat(store.Path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    TPasswordStore again(store.Path());
    ASSERT_TRUE(again.Load(error)) << error;
    TPasswords p;
    ASSERT_TRUE(again.Find("office-1", key, p));
    EXPECT_EQ(p, (TPasswords{{0, "7\"77"}, {104, "1234"}}));
    EXPECT_FALSE(again.Find("office-1", "other", p));
    EXPECT_FALSE(again.Find("office-2", key, p));
    ::chmod(store.Path().c_str(), 0644);
    EXPECT_FALSE(again.Load(error));
    EXPECT_NE(error.find("доступно не только владельцу"), std::string::npos) << error;

    TStatusFile status(TStatusFile::PathFor(dir / "history/.git"));
    TUnitStatus& s = status.Unit("office-1");
    s.lastAttempt = "2026-03-07 09:05:30 +0300";
    s.failingSince = s.lastAttempt;
    s.lastMessage = "нет подключения к устройству \"x\"";
    ASSERT_TRUE(status.Save(error)) << error;
    TStatusFile read(status.Path());
    ASSERT_TRUE(read.Load(error)) << error;
    ASSERT_NE(read.Find("office-1"), nullptr);
    EXPECT_EQ(*read.Find("office-1"), s);
    EXPECT_TRUE(read.Find("office-1")->Failing());
    const std::string json = read.Json({"office-1", "office-2"});
    EXPECT_NE(json.find("\"name\" : \"office-1\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"failing-since\" : \"2026-03-07 09:05:30 +0300\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"last-message\" : \"нет подключения к устройству \\\"x\\\"\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"name\" : \"office-2\""), std::string::npos) << json;
    EXPECT_EQ(json.find("\"ok\" : true"), std::string::npos) << json;
}

TEST(FleetChildren, EachEndsOnItsOwnAndOnePastItsDeadlineIsKilled)
{
    TChildren children;
    std::vector<std::string> order;
    std::map<std::string, TChildren::TEnd> ends;
    auto start = [&](const std::string& name, const std::string& script, std::chrono::milliseconds timeout) {
        TChildren::TLaunch launch;
        launch.argv = {"/bin/sh", "-c", script};
        launch.timeout = timeout;
        std::string error;
        ASSERT_TRUE(children.Start(
            launch,
            [&, name](const TChildren::TEnd& end) {
                order.push_back(name);
                ends[name] = end;
            },
            error))
            << error;
    };
    const auto t0 = std::chrono::steady_clock::now();
    start("hangs", "exec sleep 30", 300ms);
    start("fails", "exit 3", 10s);
    start("killed", "kill -TERM $$", 10s);
    start("slow", "exec sleep 0.6", 10s);
    EXPECT_EQ(children.Running(), 4u);
    while (children.Wait()) {
    }
    EXPECT_EQ(children.Running(), 0u);
    const auto took = std::chrono::steady_clock::now() - t0;
    ASSERT_EQ(order.size(), 4u);
    EXPECT_EQ(order.back(), "slow");
    EXPECT_TRUE(ends["hangs"].timedOut);
    EXPECT_EQ(EndText(ends["hangs"], 300ms).rfind("не уложилось в 0 с", 0), 0u);
    EXPECT_EQ(ends["fails"].status, 3);
    EXPECT_EQ(EndText(ends["fails"], 10s), "завершилось с кодом 3");
    EXPECT_EQ(ends["killed"].signal, SIGTERM);
    EXPECT_FALSE(ends["killed"].timedOut);
    EXPECT_EQ(ends["slow"].status, 0);
    EXPECT_EQ(EndText(ends["slow"], 10s), "");
    // The hanging child held nobody back: everything was over long before its 30 s.
    EXPECT_LT(took, 5s);
    EXPECT_FALSE(children.Wait());

    // A program that is not there ends with 127 as a shell's would.
    TChildren::TLaunch missing;
    missing.argv = {"/nonexistent/program"};
    missing.timeout = 5s;
    int status = -2;
    std::string error;
    ASSERT_TRUE(children.Start(missing, [&](const TChildren::TEnd& end) { status = end.status; }, error));
    EXPECT_TRUE(children.Wait());
    EXPECT_EQ(status, 127);
}

}  // namespace
