// "Парк устройств..." in the window: the dialog on a fleet whose history a
// real run (kvbackup as the dialog's child process) makes against
// simulated units; its table and a unit's history; connecting the window to
// a unit and comparing a version with it; the unit's password in the
// desktop's secret store when the user ticks it.
#include <QCheckBox>
#include <QEventLoop>
#include <QProgressDialog>
#include <QTableWidget>
#include <QTimer>
#include <QTreeWidget>
#include <fstream>

#include "backup/Backup.h"
#include "fleet/FleetPanel.h"
#include "tests/support/TempDir.h"
#include "tests/ui/WindowTest.h"
#include "ui/qt/FleetDialog.h"
#include "ui/qt/SecretStore.h"

namespace kv::test {
namespace {

void WriteFile(const std::string& path, const std::string& text, mode_t mode = 0644)
{
    std::ofstream(path) << text;
    ::chmod(path.c_str(), mode);
}

std::string State(const std::string& key3)
{
    return "kvsim-state 1\nlist 201\nmailbox Иванов 300\nmenu 2 0 - - - " + key3 + " - - - - - -\n";
}

// Runs the event loop until `done` is told or `ms` pass; true when told.
bool WaitFor(std::function<void()>& done, int ms)
{
    QEventLoop loop;
    bool told = false;
    done = [&] {
        told = true;
        loop.quit();
    };
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    if (!told)
        loop.exec();
    done = nullptr;
    return told;
}

struct FleetWindow : TWindowTest {
    kvtest::TTempDir dir;
    std::map<std::string, std::unique_ptr<SimProcess>> units;
    TQtSecretStore secrets;

    void StartUnit(const std::string& name, const std::string& key3)
    {
        units.erase(name);
        WriteFile(dir / (name + ".state"), State(key3));
        units[name] = std::make_unique<SimProcess>(
            std::vector<std::string>{"--link", dir / name, "--state", dir / (name + ".state")});
    }
    std::string Fleet()
    {
        WriteFile(dir / "system.pw", "7777\n", 0600);
        std::string text = "repository = \"history\"\ntimeout = 60\n";
        for (const char* n : {"office-1", "office-2"})
            text += std::string("\n[[unit]]\nname = \"") + n + "\"\ndevice = \"" + (dir / n) +
                    "\"\npassword-file = \"system.pw\"\n";
        WriteFile(dir / "fleet.toml", text);
        return dir / "fleet.toml";
    }
    QString Cell(QTableWidget* t, int row, int col) { return t->item(row, col) ? t->item(row, col)->text() : QString(); }
    bool Run(TFleetDialog& dialog, bool selectedOnly)
    {
        dialog.StartRun(selectedOnly);
        EXPECT_TRUE(dialog.Running());
        EXPECT_FALSE(Child<QPushButton>(&dialog, "btnFleetClose")->isEnabled());
        return WaitFor(dialog.onRunEnded, 60000);
    }
};

TEST_F(FleetWindow, TheTableAndAHistoryAfterARunThenConnectAndCompareAVersion)
{
    StartUnit("office-1", "N104");
    StartUnit("office-2", "N104");
    const std::string fleet = Fleet();
    StartWindow();
    W().SetFleetProgram(KVBACKUP_PATH);

    // The window's button opens the dialog, modal; nothing chosen yet.
    answers.Add([](QWidget* d) {
        EXPECT_NE(dynamic_cast<TFleetDialog*>(d), nullptr);
        EXPECT_EQ(Child<QLineEdit>(d, "edtFleetFile")->text(), QString());
        EXPECT_FALSE(Child<QPushButton>(d, "btnFleetRun")->isEnabled());
        ClickButton(d, "btnFleetClose");
    });
    QTest::mouseClick(Button(TMainWindow::kFleetButton.name), Qt::LeftButton);
    EXPECT_EQ(answers.Shown(), QStringList{QStringLiteral("Парк устройств")});
    EXPECT_EQ(answers.Pending(), 0u);

    TFleetDialog dialog(W().Form(), W().Backup(), secrets, &W());
    dialog.SetProgram(KVBACKUP_PATH);
    dialog.show();
    ASSERT_TRUE(dialog.OpenFile(fleet));
    auto* table = Child<QTableWidget>(&dialog, "sgFleet");
    ASSERT_EQ(table->columnCount(), 5);
    EXPECT_EQ(table->horizontalHeaderItem(4)->text(), "Ошибка с");
    ASSERT_EQ(table->rowCount(), 2);
    EXPECT_EQ(Cell(table, 0, 0), "office-1");
    EXPECT_EQ(Cell(table, 1, 1), QString::fromStdString(dir / "office-2"));
    EXPECT_EQ(Cell(table, 0, 2), "никогда");

    // A run of the whole fleet, in a process of its own; the table follows.
    ASSERT_TRUE(Run(dialog, false));
    auto* summary = Child<QLabel>(&dialog, "lblRun");
    EXPECT_EQ(summary->text(), "сохранено устройств: 2 из 2");
    ASSERT_EQ(table->rowCount(), 2);
    for (int row = 0; row < 2; ++row) {
        EXPECT_TRUE(Cell(table, row, 2).startsWith("20")) << Cell(table, row, 2).toStdString();
        EXPECT_TRUE(Cell(table, row, 3).startsWith("20"));
        EXPECT_EQ(Cell(table, row, 4), QString());
    }

    // office-2's menu key changes and office-1 is switched off: a run of
    // office-2 alone records the change, a run of all shows office-1 failing.
    StartUnit("office-2", "N105");
    dialog.SelectUnit("office-2");
    ASSERT_TRUE(Run(dialog, true));
    EXPECT_EQ(summary->text(), "сохранено устройств: 1 из 1");
    auto* history = Child<QTreeWidget>(&dialog, "tvHistory");
    ASSERT_EQ(history->topLevelItemCount(), 2);
    QTreeWidgetItem* latest = history->topLevelItem(0);
    EXPECT_EQ(latest->text(2), "office-2: 1 изменение");
    ASSERT_EQ(latest->childCount(), 1);
    EXPECT_EQ(latest->child(0)->text(2), "Меню 2, клавиша 3: N104 → N105");
    EXPECT_EQ(history->topLevelItem(1)->text(2), "office-2: первая копия настроек");

    units.erase("office-1");
    ASSERT_TRUE(Run(dialog, false));
    EXPECT_EQ(summary->text(), "Не все устройства сохранены: сохранено устройств: 1 из 2");
    EXPECT_TRUE(Cell(table, 0, 4).startsWith("20")) << "office-1 fails since this run";
    EXPECT_NE(table->item(0, 0)->toolTip(), QString());
    EXPECT_EQ(Cell(table, 1, 4), QString());
    // The selection stays on the unit it was on.
    EXPECT_EQ(dialog.SelectedUnit(), "office-2");

    // The file is remembered: the next dialog opens it by itself.
    EXPECT_EQ(store->Value(TFleetPanel::kFileKey).value_or(""), fleet);
    {
        TFleetDialog again(W().Form(), W().Backup(), secrets, &W());
        EXPECT_EQ(Child<QTableWidget>(&again, "sgFleet")->rowCount(), 2);
        EXPECT_EQ(Child<QLineEdit>(&again, "edtFleetFile")->text(), QString::fromStdString(fleet));
    }

    // The older version of office-2 against the unit: the window connects
    // to office-2 with the unit's password file, then shows the differences.
    history->setCurrentItem(history->topLevelItem(1));
    ASSERT_NE(dialog.SelectedVersion(), "");
    bool compared = false;
    answers.Add([](QWidget* d) { EXPECT_NE(qobject_cast<QProgressDialog*>(d), nullptr); });
    answers.Add([&compared](QWidget* d) {
        auto* t = Child<QTableWidget>(d, "sgDifferences");
        bool found = false;
        for (int row = 0; row < t->rowCount(); ++row)
            if (t->item(row, 0)->text().contains(QStringLiteral("Действие на 3"))) {
                found = true;
                EXPECT_EQ(t->item(row, 1)->text(), "\"N105\"");
                EXPECT_EQ(t->item(row, 2)->text(), "\"N104\"");
            }
        EXPECT_TRUE(found);
        compared = true;
        ClickButton(d, "btnOK");
    });
    QTest::mouseClick(Child<QPushButton>(&dialog, "btnFleetCompare"), Qt::LeftButton);
    EXPECT_TRUE(compared);
    EXPECT_EQ(W().Form().Session().mode, kModeSystem);
    EXPECT_EQ(W().Form().PortDevice(), dir / "office-2");
    EXPECT_EQ(PanelText(2), QStringLiteral("Режим: Системный"));

    // That version back onto office-2, the window already on it: the
    // restore's table with the difference ticked, then its summary, and the
    // unit's state before it kept beside the version's file.
    answers.Add([](QWidget* d) { EXPECT_NE(qobject_cast<QProgressDialog*>(d), nullptr); });
    answers.Add([](QWidget* d) {
        EXPECT_EQ(d->windowTitle(), QStringLiteral("Восстановление из снимка snapshot.kvs"));
        auto* t = Child<QTableWidget>(d, "sgDifferences");
        ASSERT_EQ(t->rowCount(), 1);
        EXPECT_TRUE(t->item(0, 0)->text().contains(QStringLiteral("Действие на 3")));
        EXPECT_EQ(t->item(0, 0)->checkState(), Qt::Checked);
        ClickButton(d, "btnOK");
    });
    answers.Add([](QWidget* d) { EXPECT_NE(qobject_cast<QProgressDialog*>(d), nullptr); });
    answers.Add([](QWidget* d) {
        EXPECT_EQ(d->windowTitle(), QStringLiteral("Восстановлено из снимка snapshot.kvs"));
        auto* t = Child<QTableWidget>(d, "sgDifferences");
        ASSERT_EQ(t->rowCount(), 1);
        EXPECT_EQ(t->item(0, 3)->text(), QString::fromUtf8(ResultText({TRestoreResult::Took, {}})));
        ClickButton(d, "btnOK");
    });
    QTest::mouseClick(Child<QPushButton>(&dialog, "btnFleetRestore"), Qt::LeftButton);
    EXPECT_EQ(answers.Pending(), 0u);
    const std::string restored = dir / ("history/.git/kvfleet/restore/office-2-" + dialog.SelectedVersion().substr(0, 8));
    int undo = 0;
    for (const auto& e : std::filesystem::directory_iterator(restored))
        undo += e.path().filename().string().rfind("snapshot.kvs.undo-", 0) == 0 ? 1 : 0;
    EXPECT_EQ(undo, 1);
    SaveScreen(&dialog, QStringLiteral("fleet"));

    // "Подключиться" to office-1 once it is back: the window is on office-1
    // and the dialog closes. The tick asks the secret store for the
    // password first; a store that cannot answer holds nothing back.
    StartUnit("office-1", "N104");
    dialog.SelectUnit("office-1");
    ASSERT_TRUE(WaitFor(dialog.onSecretDone, 20000)) << "the secret store never answered";
    Child<QCheckBox>(&dialog, "cbRememberPassword")->setChecked(true);
    QTest::mouseClick(Child<QPushButton>(&dialog, "btnFleetConnect"), Qt::LeftButton);
    ASSERT_TRUE(WaitFor(dialog.onConnectDone, 30000)) << "the connection never ended";
    EXPECT_EQ(W().Form().Session().mode, kModeSystem);
    EXPECT_EQ(W().Form().PortDevice(), dir / "office-1");
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(answers.Pending(), 0u);
    EXPECT_EQ(answers.Unanswered(), 0);
}

TEST_F(FleetWindow, AUnitsPasswordIsInTheSecretStoreOnlyWhileTicked)
{
    // The store's part needs a secret service on the session bus that
    // takes an entry.
    std::function<void()> readDone;
    std::string probeError = "no answer";
    secrets.Write("kvmanage test probe", "probe", [&](const std::string& error) {
        probeError = error;
        readDone();
    });
    ASSERT_TRUE(WaitFor(readDone, 20000)) << "the secret store never answered";
    secrets.Remove("kvmanage test probe", [&](const std::string&) { readDone(); });
    ASSERT_TRUE(WaitFor(readDone, 20000));
    // Under secret_service.sh a service was started for this test: it must work.
    if (std::getenv("KV_SECRET_SERVICE")) {
        ASSERT_EQ(probeError, "") << "the secret service started for this test takes no entry";
    }
    if (!probeError.empty())
        GTEST_SKIP() << "no secret service runs here, the store's part is not checked: " << probeError;

    StartUnit("office-1", "N104");
    StartUnit("office-2", "N104");
    const std::string fleet = Fleet();
    StartWindow();
    TFleetDialog dialog(W().Form(), W().Backup(), secrets, &W());
    dialog.show();
    ASSERT_TRUE(dialog.OpenFile(fleet));
    const std::string key = dialog.Panel().SecretKey("office-1");
    auto stored = [&] {
        std::string value = "(none)";
        secrets.Read(key, [&](bool found, const std::string& v, const std::string&) {
            value = found ? v : "(none)";
            readDone();
        });
        EXPECT_TRUE(WaitFor(readDone, 20000));
        return value;
    };
    dialog.SelectUnit("office-1");
    auto* remember = Child<QCheckBox>(&dialog, "cbRememberPassword");

    // Unticked: connecting stores nothing.
    QTest::mouseClick(Child<QPushButton>(&dialog, "btnFleetConnect"), Qt::LeftButton);
    EXPECT_EQ(W().Form().Session().mode, kModeSystem);
    EXPECT_EQ(stored(), "(none)");

    // Ticked: the password the connection logged in with is stored, and a
    // new dialog shows the tick.
    dialog.show();
    remember->setChecked(true);
    QTest::mouseClick(Child<QPushButton>(&dialog, "btnFleetConnect"), Qt::LeftButton);
    ASSERT_TRUE(WaitFor(dialog.onSecretDone, 20000));
    EXPECT_EQ(Child<QLabel>(&dialog, "lblSecret")->text(), QStringLiteral("Пароль сохранён в хранилище паролей"));
    EXPECT_EQ(stored(), "7777");
    {
        TFleetDialog again(W().Form(), W().Backup(), secrets, &W());
        again.SelectUnit("office-1");
        ASSERT_TRUE(WaitFor(again.onSecretDone, 20000));
        EXPECT_TRUE(Child<QCheckBox>(&again, "cbRememberPassword")->isChecked());
    }

    // Unticked again: the store forgets it.
    remember->setChecked(false);
    ASSERT_TRUE(WaitFor(dialog.onSecretDone, 20000));
    EXPECT_EQ(stored(), "(none)");
}

}  // namespace
}  // namespace kv::test
