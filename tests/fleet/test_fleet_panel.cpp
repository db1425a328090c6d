// What the window's fleet dialog shows and decides, without a window: the
// units with their status, a unit's versions with their changes, a run's
// command line and summary, the password to connect with.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>

#include "fleet/Fleet.h"
#include "fleet/FleetPanel.h"
#include "fleet/Repository.h"
#include "fleet/Stores.h"
#include "tests/support/TempDir.h"

using namespace kv;

namespace {

struct Panel : ::testing::Test {
    kvtest::TTempDir dir;

    std::string Write(const std::string& name, const std::string& text, mode_t mode = 0600)
    {
        const std::string path = dir / name;
        std::ofstream(path) << text;
        ::chmod(path.c_str(), mode);
        return path;
    }
    std::string Fleet()
    {
        Write("a.pw", "1234\n");
        Write("b.pw", "7777\n");
        return Write("fleet.toml",
                     "repository = \"history\"\n"
                     "[[unit]]\nname = \"office-1\"\ndevice = \"/dev/ttyUSB0\"\npassword-file = \"a.pw\"\n"
                     "[[unit]]\nname = \"office-2\"\ndevice = \"/dev/ttyUSB1\"\npassword-file = \"b.pw\"\n",
                     0644);
    }
};

TEST_F(Panel, UnitsWithTheirStatusBeforeAndAfterRuns)
{
    TFleetPanel panel;
    std::string error;
    ASSERT_TRUE(panel.Open(Fleet(), error)) << error;
    // No run yet: no history, every unit never backed up.
    ASSERT_EQ(panel.Rows().size(), 2u);
    for (const auto& row : panel.Rows()) {
        EXPECT_EQ(row.lastSuccess, "никогда");
        EXPECT_EQ(row.lastChange, "никогда");
        EXPECT_FALSE(row.failing);
    }
    EXPECT_EQ(panel.Rows()[1].device, "/dev/ttyUSB1");
    std::vector<TFleetPanel::TVersion> versions;
    EXPECT_TRUE(panel.History("office-1", versions, error)) << error;
    EXPECT_TRUE(versions.empty());
    EXPECT_FALSE(panel.History("office-9", versions, error));
    EXPECT_NE(error.find("нет устройства \"office-9\""), std::string::npos) << error;

    // A history with two versions of office-1 and one of office-2, and the
    // status a run leaves: office-2 failing.
    TRepository repo;
    ASSERT_TRUE(repo.Open(dir / "history", true, error)) << error;
    std::string first, second, other;
    ASSERT_TRUE(repo.Commit("office-1", {{"snapshot.kvs", "one\n"}}, "office-1: первая копия настроек\n\nУстройство: /dev/ttyUSB0\n", first, error));
    ASSERT_TRUE(repo.Commit("office-2", {{"snapshot.kvs", "b\n"}}, "office-2: первая копия настроек\n", other, error));
    ASSERT_TRUE(repo.Commit("office-1", {{"snapshot.kvs", "two\n"}},
                            "office-1: 2 изменения\n\nМеню 2, клавиша 3: N104 → N105\nЯщик Иванов: размер 05:00 → 10:00\n",
                            second, error));
    TStatusFile status(TStatusFile::PathFor(repo.GitFolder()));
    status.Unit("office-1") = {"2026-12-10 08:00:00 +0300", "2026-12-10 08:00:00 +0300", "2026-12-10 08:00:01 +0300",
                               "", "сохранено", second};
    status.Unit("office-2") = {"2026-12-10 08:00:00 +0300", "2026-12-09 08:00:00 +0300", "2026-12-09 08:00:01 +0300",
                               "2026-12-10 08:00:00 +0300", "нет подключения к устройству /dev/ttyUSB1", other};
    ASSERT_TRUE(status.Save(error)) << error;

    ASSERT_TRUE(panel.Refresh(error)) << error;
    ASSERT_EQ(panel.Rows().size(), 2u);
    const auto& ok = panel.Rows()[0];
    EXPECT_EQ(ok.name, "office-1");
    EXPECT_EQ(ok.lastSuccess, "2026-12-10 08:00:00 +0300");
    EXPECT_EQ(ok.lastChange, "2026-12-10 08:00:01 +0300");
    EXPECT_EQ(ok.failingSince, "");
    EXPECT_FALSE(ok.failing);
    const auto& failing = panel.Rows()[1];
    EXPECT_TRUE(failing.failing);
    EXPECT_EQ(failing.failingSince, "2026-12-10 08:00:00 +0300");
    EXPECT_EQ(failing.lastMessage, "нет подключения к устройству /dev/ttyUSB1");

    // Versions newest first, each with its changes; other units' commits left out.
    ASSERT_TRUE(panel.History("office-1", versions, error)) << error;
    ASSERT_EQ(versions.size(), 2u);
    EXPECT_EQ(versions[0].id, second);
    EXPECT_EQ(versions[0].subject, "office-1: 2 изменения");
    EXPECT_EQ(versions[0].changes,
              (std::vector<std::string>{"Меню 2, клавиша 3: N104 → N105", "Ящик Иванов: размер 05:00 → 10:00"}));
    EXPECT_EQ(versions[1].id, first);
    EXPECT_EQ(versions[1].changes, std::vector<std::string>{"Устройство: /dev/ttyUSB0"});
    EXPECT_EQ(versions[0].shortId, second.substr(0, versions[0].shortId.size()));

    // A version that is not there is refused, and a revision that names nothing.
    std::string path;
    EXPECT_EQ(WriteVersionFile(panel.Fleet(), "office-2", "no-such", path, error), kFleetUsage);
    EXPECT_EQ(WriteVersionFile(panel.Fleet(), "office-2", first, path, error), kFleetUsage);
    EXPECT_NE(error.find("нет снимка устройства office-2"), std::string::npos) << error;
}

TEST_F(Panel, AFleetFileThatIsRefusedLeavesThePanelEmpty)
{
    TFleetPanel panel;
    std::string error;
    ASSERT_TRUE(panel.Open(Fleet(), error));
    const std::string bad = Write("bad.toml", "repository = \"h\"\nunknown = 1\n", 0644);
    EXPECT_FALSE(panel.Open(bad, error));
    EXPECT_NE(error.find("строка 2"), std::string::npos) << error;
    EXPECT_FALSE(panel.IsOpen());
    EXPECT_TRUE(panel.Rows().empty());
}

TEST_F(Panel, RunCommandAndWhatARunThatEndedSays)
{
    TFleetPanel panel;
    std::string error;
    ASSERT_TRUE(panel.Open(Fleet(), error));
    EXPECT_EQ(panel.RunArguments(), (std::vector<std::string>{"fleet", dir / "fleet.toml", "run"}));
    EXPECT_EQ(panel.RunArguments("office-2"),
              (std::vector<std::string>{"fleet", dir / "fleet.toml", "run", "--unit", "office-2"}));

    const std::string out = "office-1: без изменений\noffice-2: ОШИБКА: нет подключения\nсохранено устройств: 1 из 2\n";
    EXPECT_EQ(TFleetPanel::RunSummary(0, false, "office-1: без изменений\nсохранено устройств: 2 из 2\n", ""),
              "сохранено устройств: 2 из 2");
    EXPECT_EQ(TFleetPanel::RunSummary(1, false, out, ""), "Не все устройства сохранены: сохранено устройств: 1 из 2");
    EXPECT_EQ(TFleetPanel::RunSummary(3, false, "", "kvbackup: другой запуск держит репозиторий\n"),
              "Сохранение не выполнено: другой запуск держит репозиторий");
    EXPECT_EQ(TFleetPanel::RunSummary(3, false, "", ""), "Сохранение не выполнено: код выхода 3");
    EXPECT_EQ(TFleetPanel::RunSummary(0, true, out, ""), "Сохранение прервано: kvbackup завершился аварийно");
}

TEST_F(Panel, PasswordToConnectWithAndItsKeyInTheSecretStore)
{
    TFleetPanel panel;
    std::string error;
    ASSERT_TRUE(panel.Open(Fleet(), error));
    // The remembered one first, then the unit's password file.
    EXPECT_EQ(panel.ConnectPassword("office-1", "5555"), "5555");
    EXPECT_EQ(panel.ConnectPassword("office-1", ""), "1234");
    // A file others can read is not used: the window asks instead.
    ::chmod((dir / "b.pw").c_str(), 0644);
    EXPECT_EQ(panel.ConnectPassword("office-2", ""), "");
    EXPECT_EQ(panel.ConnectPassword("office-9", ""), "");
    // One key per unit of each fleet file.
    EXPECT_NE(panel.SecretKey("office-1"), panel.SecretKey("office-2"));
    EXPECT_NE(panel.SecretKey("office-1").find(dir / "fleet.toml"), std::string::npos);
    TFleetPanel another;
    Write("other.toml", "repository = \"h2\"\n[[unit]]\nname = \"office-1\"\ndevice = \"/dev/ttyS0\"\npassword-file = \"a.pw\"\n", 0644);
    ASSERT_TRUE(another.Open(dir / "other.toml", error)) << error;
    EXPECT_NE(another.SecretKey("office-1"), panel.SecretKey("office-1"));
}

}  // namespace
