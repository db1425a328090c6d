// The window's file actions against kvsim, offscreen, through the real
// buttons and the real dialogs: the export of the settings report, and the
// backup row (a snapshot written, a compare showing what changed, a restore
// writing only the ticked difference).
#include <gtest/gtest.h>

#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <filesystem>
#include <fstream>

#include "tests/form/Golden.h"
#include "tests/support/UnitSession.h"
#include "tests/ui/QtSupport.h"
#include "tests/ui/WindowTest.h"
#include "backup/Backup.h"

using namespace kv;
using test::Child;
using kvtest::ReadFile;

namespace {

namespace fs = std::filesystem;

const char* const kBackupButtons[] = {"btnSnapshot", "btnCompare", "btnRestore"};

struct WindowFiles : test::TWindowTest {
    kvtest::TTempDir dir;
    size_t mark = 0;
    // What the progress dialogs showed: the window busy under each.
    int progressShown = 0;
    bool busyUnderProgress = true;

    void ConnectAs(const QString& password)
    {
        TypePassword(password);
        Connect();
        ASSERT_EQ(PanelText(2), password == "7777" ? QStringLiteral("Режим: Системный")
                                                   : QStringLiteral("Режим: Администратор"));
    }
    void Mark() { mark = sim->BytesFromTool().size(); }
    std::string Sent() const { return sim->BytesFromTool().substr(mark); }
    bool Idle() { return W().PageControl()->isEnabled() && W().Form().BusyCount() == 0 && !W().ProgressDialog(); }
    // Every dialog shown had its answer, every answer was used, no message
    // came, and the window is idle again.
    void ExpectAnsweredAndIdle()
    {
        EXPECT_EQ(answers.Pending(), 0u);
        EXPECT_EQ(answers.Unanswered(), 0);
        EXPECT_TRUE(messages.empty());
        EXPECT_TRUE(Idle());
    }

    // Answers a file dialog with `path` typed into its name field.
    void AnswerFile(const std::string& path, QFileDialog::AcceptMode mode)
    {
        answers.Add([path, mode](QWidget* d) {
            auto* f = qobject_cast<QFileDialog*>(d);
            ASSERT_NE(f, nullptr);
            EXPECT_EQ(f->acceptMode(), mode);
            auto* name = Child<QLineEdit>(d, "fileNameEdit");
            name->setText(QString::fromStdString(path));
            QTest::keyClick(name, Qt::Key_Return);
        });
    }
    // The progress dialog of a long run: nothing to answer, it goes by itself.
    void ExpectProgress()
    {
        answers.Add([this](QWidget* d) {
            ++progressShown;
            EXPECT_NE(qobject_cast<QProgressDialog*>(d), nullptr);
            EXPECT_EQ(d->parentWidget(), &W());
            busyUnderProgress = busyUnderProgress && !W().PageControl()->isEnabled();
        });
    }
    // The table of differences: checks it, then closes it with btnOK.
    void AnswerDifferences(std::function<void(QWidget*, QTableWidget*)> check)
    {
        answers.Add([check](QWidget* d) {
            check(d, Child<QTableWidget>(d, "sgDifferences"));
            test::ClickButton(d, "btnOK");
        });
    }
    // A snapshot of the unit as it is, saved as `name` with `edits` applied
    // to its lines (whole line for whole line).
    std::string SnapshotEdited(const std::string& name, const std::vector<std::pair<std::string, std::string>>& edits)
    {
        TBackup backup(W().Form().Unit());
        TSnapshot snapshot;
        std::string error;
        EXPECT_TRUE(backup.ReadUnit(snapshot, true, error)) << error;
        std::string text = backup.Layout().Write(snapshot, false);
        for (const auto& [from, to] : edits) {
            const size_t at = text.find("\n" + from + "\n");
            EXPECT_NE(at, std::string::npos) << from;
            if (at != std::string::npos)
                text.replace(at + 1, from.size(), to);
        }
        const std::string path = dir / name;
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
};

TEST_F(WindowFiles, TheExportWritesTheReportThroughTheSaveDialogAndCancelWritesAndSendsNothing)
{
    Start();
    ConnectAs("1234");
    Mark();
    answers.Add([](QWidget* d) {
        auto* f = qobject_cast<QFileDialog*>(d);
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(f->acceptMode(), QFileDialog::AcceptSave);
        EXPECT_EQ(Child<QLineEdit>(d, "fileNameEdit")->text(), QStringLiteral("settings.txt"));
        f->reject();
    });
    QTest::mouseClick(Button("btnExport"), Qt::LeftButton);
    EXPECT_EQ(Sent(), "");
    EXPECT_TRUE(fs::is_empty(dir.Path()));
    EXPECT_TRUE(Idle());

    const std::string path = dir / "office.txt";
    AnswerFile(dir / "office", QFileDialog::AcceptSave);  // the suffix comes from the dialog
    QTest::mouseClick(Button("btnExport"), Qt::LeftButton);
    kvtest::ExpectSameReport(ReadFile(path), kvtest::GoldenReport("factory-admin.txt"));
    ExpectAnsweredAndIdle();
}

TEST_F(WindowFiles, TheBackupRowFollowsTheConnectionAndWritesASnapshot)
{
    Start();
    const QPushButton* port = Button("btnPort");
    int x = -1;
    for (const char* name : kBackupButtons) {
        QPushButton* b = Button(name);
        ASSERT_NE(b, nullptr) << name;
        EXPECT_FALSE(b->isEnabled()) << name;
        EXPECT_GT(b->y(), port->geometry().bottom()) << "a row under the bottom buttons";
        EXPECT_GT(b->x(), x);
        EXPECT_GE(b->width(), b->sizeHint().width()) << name;
        x = b->x();
    }
    EXPECT_EQ(Button("btnSnapshot")->text(), QStringLiteral("Снимок настроек..."));
    EXPECT_EQ(Button("btnCompare")->text(), QStringLiteral("Сравнить со снимком..."));
    EXPECT_EQ(Button("btnRestore")->text(), QStringLiteral("Восстановить из снимка..."));
    ConnectAs("1234");
    for (const char* name : kBackupButtons)
        EXPECT_TRUE(Button(name)->isEnabled()) << name;

    AnswerFile(dir / "office", QFileDialog::AcceptSave);
    answers.Add([](QWidget* d) {
        auto* box = qobject_cast<QMessageBox*>(d);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->text(), QString::fromUtf8(TFormBackup::kVoiceQuestion));
        QTest::mouseClick(box->button(QMessageBox::No), Qt::LeftButton);
    });
    ExpectProgress();
    QTest::mouseClick(Button("btnSnapshot"), Qt::LeftButton);
    ExpectAnsweredAndIdle();
    EXPECT_EQ(progressShown, 1);
    EXPECT_TRUE(busyUnderProgress);

    const std::string path = dir / "office.kvs";
    const std::string text = ReadFile(path);
    EXPECT_EQ(text.rfind("kvmanage-snapshot 1\n", 0), 0u);
    for (const char* line : {"mode admin", "firmware 10203", "param 101 200", "list 201-210", "end"})
        EXPECT_NE(text.find(std::string("\n") + line + "\n"), std::string::npos) << line;
    TSnapshot read;
    std::string error;
    EXPECT_TRUE(W().Backup().Backup().Load(path, read, error)) << error;
    EXPECT_FALSE(fs::exists(path + ".files")) << "no voice files unless asked for";
}

TEST_F(WindowFiles, CompareShowsTheChangedItemsAndWritesNothing)
{
    Start();
    ConnectAs("1234");
    const std::string path = SnapshotEdited("office.kvs", {{"param 101 200", "param 101 300"}});
    Mark();
    AnswerFile(path, QFileDialog::AcceptOpen);
    ExpectProgress();
    AnswerDifferences([](QWidget* d, QTableWidget* table) {
        EXPECT_EQ(d->windowTitle(), QStringLiteral("Сравнение со снимком office.kvs"));
        ASSERT_EQ(table->rowCount(), 1);
        EXPECT_EQ(table->item(0, 0)->text(), QStringLiteral("Дневной номер оператора"));
        EXPECT_EQ(table->item(0, 1)->text(), QStringLiteral("\"200\""));
        EXPECT_EQ(table->item(0, 2)->text(), QStringLiteral("\"300\""));
        EXPECT_FALSE(table->item(0, 0)->flags() & Qt::ItemIsUserCheckable);
        EXPECT_EQ(d->findChild<QPushButton*>(QStringLiteral("btnCancel")), nullptr);
    });
    QTest::mouseClick(Button("btnCompare"), Qt::LeftButton);
    ExpectAnsweredAndIdle();
    EXPECT_EQ(Sent().find("SET\r"), std::string::npos) << "a compare writes nothing";
}

TEST_F(WindowFiles, RestoreWritesOnlyTheTickedDifferenceAndKeepsTheUndoSnapshot)
{
    Start();
    ConnectAs("1234");
    const std::string path =
        SnapshotEdited("office.kvs", {{"param 101 200", "param 101 300"}, {"param 102 201", "param 102 301"}});
    Mark();
    AnswerFile(path, QFileDialog::AcceptOpen);
    ExpectProgress();
    answers.Add([](QWidget* d) {
        EXPECT_EQ(d->windowTitle(), QStringLiteral("Восстановление из снимка office.kvs"));
        QTableWidget* table = Child<QTableWidget>(d, "sgDifferences");
        ASSERT_EQ(table->rowCount(), 2);
        EXPECT_EQ(table->item(1, 0)->text(), QStringLiteral("Ночной номер оператора"));
        EXPECT_EQ(table->item(0, 0)->checkState(), Qt::Checked);
        table->item(1, 0)->setCheckState(Qt::Unchecked);  // as a click on its box does
        test::ClickButton(d, "btnOK");
    });
    ExpectProgress();
    AnswerDifferences([](QWidget* d, QTableWidget* table) {
        EXPECT_EQ(d->windowTitle(), QStringLiteral("Восстановлено из снимка office.kvs"));
        ASSERT_GE(table->rowCount(), 1);
        EXPECT_EQ(table->item(0, 0)->text(), QStringLiteral("Дневной номер оператора"));
        EXPECT_EQ(table->item(0, 3)->text(), QString::fromUtf8(ResultText({TRestoreResult::Took, {}})));
    });
    QTest::mouseClick(Button("btnRestore"), Qt::LeftButton);
    ExpectAnsweredAndIdle();
    EXPECT_EQ(progressShown, 2);
    EXPECT_TRUE(busyUnderProgress);

    const std::string sent = Sent();
    EXPECT_NE(sent.find("SET\r101\r300\r"), std::string::npos) << sent;
    EXPECT_EQ(sent.find("SET\r102\r"), std::string::npos) << "the unticked difference is not written";
    int undo = 0;
    for (const auto& e : fs::directory_iterator(dir.Path()))
        undo += e.path().filename().string().rfind("office.kvs.undo-", 0) == 0 ? 1 : 0;
    EXPECT_EQ(undo, 1);
}

}  // namespace
