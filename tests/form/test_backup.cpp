// Backing up, comparing and restoring against the simulated unit, through
// the main window's form with a scripted view: the settings are changed the
// way a user changes them (the screens' buttons and the scripted dialogs),
// then restored from the snapshot taken before, and read again.
#include <gtest/gtest.h>

#include <signal.h>

#include <deque>
#include <filesystem>
#include <functional>
#include <fstream>
#include <memory>
#include <sstream>

#include "Golden.h"
#include "FormFixture.h"
#include "ScriptedForm.h"
#include "SimProcess.h"
#include "collections/File.h"
#include "collections/MailDlg.h"
#include "collections/MenuDlg.h"
#include "tests/support/ScriptedCollectionDialogs.h"
#include "tests/support/ScriptedDialogs.h"
#include "tests/support/ScriptedValueDialogs.h"
#include "tests/support/UnitSession.h"
#include "backup/Backup.h"
#include "ui/FormBackup.h"
#include "ui/Screens.h"
#include "ui/Unit1.h"

using namespace kv;
using namespace kvtest;

namespace {

using Strings = std::vector<std::string>;
namespace fs = std::filesystem;

// The files next to `path` whose names begin with its name and `suffix`.
Strings Beside(const std::string& path, const std::string& suffix)
{
    Strings names;
    const std::string stem = fs::path(path).filename().string() + suffix;
    for (const auto& e : fs::directory_iterator(fs::path(path).parent_path()))
        if (e.path().filename().string().rfind(stem, 0) == 0)
            names.push_back(e.path().string());
    return names;
}

struct Backup : TFormFixture {
    std::unique_ptr<TBackup> backup;
    TTempDir dir;

    void TearDown() override
    {
        backup.reset();
        form.reset();
    }
    void Start(std::vector<std::string> simArgs = {})
    {
        TFormFixture::Start(std::move(simArgs));
        backup = std::make_unique<TBackup>(form->Unit());
    }
    void Connect(const std::string& password)
    {
        view.currentTab = kTabMail;
        dialogs.AnswerPassword(password);
        form->btnConnectClick();
        ASSERT_NE(form->Session().mode, kModeDisconnected);
    }
    std::string Path(const std::string& name) const { return dir / name; }

    TSnapshot Read()
    {
        TSnapshot s;
        std::string error;
        EXPECT_TRUE(backup->ReadUnit(s, true, error)) << error;
        return s;
    }
    // A snapshot of the unit, saved under `name`.
    TSnapshot Take(const std::string& name)
    {
        TSnapshot s = Read();
        std::string error;
        EXPECT_TRUE(backup->Save(s, Path(name), false, error)) << error;
        return s;
    }
    // The file as another snapshot with the same time and device would be.
    std::string Text(TSnapshot s, const TSnapshot& like, bool files = false)
    {
        s.taken = like.taken;
        s.device = like.device;
        return backup->Layout().Write(s, files);
    }
    static Strings Names(const TComparison& c)
    {
        Strings names;
        for (const TDifference& d : c.differences)
            names.push_back(d.name + (*d.Operation() ? std::string(" ") + d.Operation() : ""));
        return names;
    }
    static Strings Outcomes(const TRestoreSummary& s)
    {
        static const char* const states[] = {"took", "refused", "not taken", "skipped", "not written", "line lost"};
        Strings out;
        for (const auto& i : s.items)
            out.push_back(i.difference.name + ": " + states[i.result.state] +
                          (i.result.detail.empty() ? "" : " (" + i.result.detail + ")"));
        return out;
    }
    // Restores `file` (saved as `name`) onto the unit as it is now.
    TRestoreSummary Restore(const std::string& name, const TComparison* seen = nullptr)
    {
        TSnapshot file;
        std::string error;
        EXPECT_TRUE(backup->Load(Path(name), file, error)) << error;
        const TSnapshot unit = Read();
        const TComparison c = seen ? *seen : Compare(backup->Layout(), unit, file);
        TRestoreSummary summary;
        EXPECT_TRUE(backup->Restore(unit, file, Path(name), c, summary, error)) << error;
        return summary;
    }

    // The changes a user makes on every tab an administrator may use.
    void ChangeAsAdministrator()
    {
        values.AnswerDirectory("300");
        S().Click("btnOpNumDay");
        values.AnswerDirectory("230");
        S().Click("btnAddNum");
        values.AnswerDirectory("220");
        S().Click("btnDelNum");
        C().sgTime.SetCurrent(1, 1);
        values.AnswerTime(8, 30);
        S().DoubleClick("sgTime");
        C().cbHoliday.SetChecked(true);
        // Menu 0, key 3: to menu 5.
        C().sgMenu.SetCurrent(5, 1);
        collections.AnswerMenuItm([](TFormMenuItm& f) {
            f.Choose(TFormMenuItm::rbMenu);
            return f.SetMenuText("5");
        });
        S().DoubleClick("sgMenu");
        // Mailbox 999 grows to 20 minutes; a new mailbox 500 of 5 minutes.
        C().sgMail.SetCurrent(0, 1);
        collections.AnswerMailAdd([](TFormMailAdd& f) {
            f.SetSizeMinutes(20);
            return true;
        });
        S().Click("btnMailEdit");
        collections.AnswerMailAdd([](TFormMailAdd& f) {
            f.SetOwner("500");
            f.SetSizeMinutes(5);
            return true;
        });
        S().Click("btnMailCreate");
        values.AnswerDirectory("4321");
        S().Click("btnAdmPwd");
        ASSERT_EQ(values.Pending(), 0u);
        ASSERT_TRUE(dialogs.Messages().empty()) << dialogs.Messages()[0];
    }
};

const Strings kAdminChanges = {
    "Дневной номер оператора",
    "Пароль администратора",
    "Добавочные номера: 220 ADD",
    "Добавочные номера: 230 REMOVE",
    "Праздничный режим",
    "Понедельник, Начало",
    "Меню 00: Действие на 3",
    "Ящик 500 DELETE",
    "Ящик 999: Размер EDIT",
};

TEST_F(Backup, SystemModeRoundTripWritesOnlyTheChangesAfterKeepingTheUnitsStateAndGivesTheFirstFileBack)
{
    Start();
    Connect("7777");
    const TSnapshot first = Take("unit.kvs");
    ChangeAsAdministrator();
    // And two system items: code 12 and line 2's greeting replacement.
    C().sgSysParams.SetCurrent(2, 5);
    values.AnswerNumber(150);
    S().Click("btnSysParams");
    C().sgGreetOverride.SetCurrent(3, 1);
    values.AnswerChoice(2);
    S().Click("btnGreetOverride");
    ASSERT_EQ(values.Pending(), 0u);

    TSnapshot file;
    std::string error;
    ASSERT_TRUE(backup->Load(Path("unit.kvs"), file, error)) << error;
    const TSnapshot changed = Read();
    const TComparison c = Compare(backup->Layout(), changed, file);
    Strings expected = kAdminChanges;
    expected.push_back("12 - Длительность FLASH в миллисекундах");
    expected.push_back("Линия 2: Заменять приветствия");
    EXPECT_EQ(Names(c), expected);

    // Before the first write the undo snapshot is there and no write has gone out.
    const size_t sentBefore = sim->BytesFromTool().size();
    bool undoFirst = false;
    int steps = 0;
    backup->onProgress = [&](int done, int total, const std::string&) {
        if (done == 0) {
            const std::string sent = sim->BytesFromTool().substr(sentBefore);
            undoFirst = Beside(Path("unit.kvs"), ".undo-").size() == 1 && sent.find("SET\r") == std::string::npos &&
                        sent.find("ADD\r") == std::string::npos && sent.find("EDIT\r") == std::string::npos;
        }
        steps = total;
    };
    int asked = 0;
    backup->confirmDelete = [&](const std::string& owner) {
        ++asked;
        return owner == "500";
    };
    const size_t valueDialogs = values.Shown().size();
    TRestoreSummary summary;
    ASSERT_TRUE(backup->Restore(changed, file, Path("unit.kvs"), c, summary, error)) << error;
    EXPECT_TRUE(undoFirst);
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(summary.Complete()) << ::testing::PrintToString(Outcomes(summary));
    EXPECT_EQ(static_cast<size_t>(steps), summary.items.size());
    // No dialog opened but the user's own three, before the restore.
    EXPECT_EQ(values.Shown().size(), valueDialogs);
    EXPECT_EQ(collections.Shown().size(), 3u);
    EXPECT_TRUE(dialogs.Messages().empty());
    // The passwords go last.
    const std::string sent = sim->BytesFromTool().substr(sentBefore);
    EXPECT_GT(sent.rfind("SET\r104\r"), sent.rfind("SET\r12\r"));
    EXPECT_GT(sent.rfind("SET\r104\r"), sent.rfind("DELETE\r"));

    // The unit is as the file says, and the undo snapshot as it was before.
    const TSnapshot restored = Read();
    EXPECT_EQ(Text(restored, first), ReadFile(Path("unit.kvs")));
    EXPECT_EQ(summary.undoPath, Beside(Path("unit.kvs"), ".undo-")[0]);
    TSnapshot undo;
    ASSERT_TRUE(backup->Load(summary.undoPath, undo, error)) << error;
    EXPECT_EQ(Text(undo, changed), Text(changed, changed));
}

TEST_F(Backup, AdministratorRoundTripAndASystemFileWhoseSystemItemsAreSkipped)
{
    Start();
    Connect("7777");
    const TSnapshot system = Take("system.kvs");
    form->btnDisconnectClick();
    form->Session().WaitIdle();
    Connect("1234");
    const TSnapshot first = Take("admin.kvs");
    EXPECT_FALSE(first.System());
    EXPECT_EQ(ReadFile(Path("admin.kvs")).find("\nsystem "), std::string::npos);
    ChangeAsAdministrator();

    backup->confirmDelete = [](const std::string& owner) { return owner == "500"; };
    const TRestoreSummary summary = Restore("admin.kvs");
    EXPECT_TRUE(summary.Complete()) << ::testing::PrintToString(Outcomes(summary));
    EXPECT_EQ(summary.items.size(), kAdminChanges.size());
    EXPECT_EQ(Text(Read(), first), ReadFile(Path("admin.kvs")));

    // The system file in administrator mode: everything else is compared and
    // written, its system items are counted as left alone.
    values.AnswerDirectory("301");
    S().Click("btnOpNumDay");
    TSnapshot file;
    std::string error;
    ASSERT_TRUE(backup->Load(Path("system.kvs"), file, error)) << error;
    const TSnapshot unit = Read();
    const TComparison c = Compare(backup->Layout(), unit, file);
    EXPECT_EQ(Names(c), Strings{"Дневной номер оператора"});
    EXPECT_EQ(c.notCompared, 39 + 30);  // saved without the voice files
    TRestoreSummary partial;
    ASSERT_TRUE(backup->Restore(unit, file, Path("system.kvs"), c, partial, error)) << error;
    EXPECT_EQ(Outcomes(partial), Strings{"Дневной номер оператора: took"});
    EXPECT_EQ(partial.systemSkipped, 69);
    EXPECT_FALSE(partial.Complete());
    EXPECT_EQ(system.params.at(101), Read().params.at(101));
}

TEST_F(Backup, ARefusedWriteIsReportedWithTheUnitsMessageAndTheRestIsWritten)
{
    Start({"--mail-memory", "1200"});
    Connect("7777");
    TSnapshot file = Read();
    file.params[101] = "300";
    file.list.push_back("2x5");              // no number: the unit answers ERROR
    file.boxes.push_back({"big", 900, 0, 0});  // more than the free memory
    file.menus[1].keys[1] = "Q";             // no action the unit knows
    file.params[12] = "150";
    std::string error;
    ASSERT_TRUE(backup->Save(file, Path("file.kvs"), false, error)) << error;

    const TRestoreSummary summary = Restore("file.kvs");
    EXPECT_EQ(Outcomes(summary), (Strings{
                                     "Дневной номер оператора: took",
                                     "Добавочные номера: 2x5: refused (List (ADD): Reply: ERROR)",
                                     "Меню 01: Действие на 1: refused (Menu (SET): 'ERROR' instead of item prompt)",
                                     "Ящик big: refused (Недостаточно свободной памяти для создания ящика)",
                                     "12 - Длительность FLASH в миллисекундах: took",
                                 }));
    EXPECT_TRUE(dialogs.Messages().empty());  // in the summary, not in dialogs
    // The refused menu shows the unit's key again, not the file's.
    EXPECT_EQ(C().voiceMenus[1]->keys[1], "-");
    EXPECT_EQ(C().sgMenu.Cell(3, 2), "-");
}

TEST_F(Backup, VoiceFilesAreDownloadedBesideTheSnapshotAndPutBackOrDeleted)
{
    Start();
    Connect("7777");
    TSnapshot first = Read();
    ASSERT_FALSE(first.files.at(60).name.empty());
    ASSERT_TRUE(first.files.at(73).name.empty());
    // Three slots: a greeting and a message with a file, an empty message.
    for (auto it = first.files.begin(); it != first.files.end();)
        it = it->first == 20 || it->first == 60 || it->first == 73 ? std::next(it) : first.files.erase(it);
    Strings failures;
    backup->DownloadVoiceFiles(first, Path("unit.kvs"), failures);
    EXPECT_TRUE(failures.empty()) << failures[0];
    ASSERT_EQ(first.files.size(), 3u);
    const std::string greeting = VoiceFilePath(Path("unit.kvs"), 20, first.files.at(20).name);
    EXPECT_EQ(static_cast<int32_t>(fs::file_size(greeting)), first.files.at(20).size);
    EXPECT_TRUE(fs::exists(VoiceFilePath(Path("unit.kvs"), 60, first.files.at(60).name)));
    std::string error;
    ASSERT_TRUE(backup->Save(first, Path("unit.kvs"), true, error)) << error;
    EXPECT_NE(ReadFile(Path("unit.kvs")).find("\nvoicefile 73\n"), std::string::npos);

    // The user records over the greeting and message 73 and deletes message 60.
    std::ofstream(Path("new.pcm"), std::ios::binary) << std::string(12000, 'x');
    C().sgGreetings.SetCurrent(1, 1);
    view.openNames.push_back(Path("new.pcm"));
    S().Click("btnGreetUpload");
    C().sgMessages.SetCurrent(1, 14);
    view.openNames.push_back(Path("new.pcm"));
    S().Click("btnMessageUpload");
    C().sgMessages.SetCurrent(1, 1);
    collections.AnswerConfirm(true);
    S().Click("btnMessageDelete");
    ASSERT_TRUE(dialogs.Messages().empty()) << dialogs.Messages()[0];

    const TRestoreSummary summary = Restore("unit.kvs");
    EXPECT_TRUE(summary.Complete()) << ::testing::PrintToString(Outcomes(summary));
    EXPECT_EQ(summary.items.size(), 3u);
    const TSnapshot now = Read();
    for (int32_t code : {20, 60, 73})
        EXPECT_EQ(now.files.at(code), first.files.at(code)) << code;
    // What the restore replaced or deleted is in the undo snapshot's folder.
    TSnapshot undo;
    ASSERT_TRUE(backup->Load(summary.undoPath, undo, error)) << error;
    EXPECT_EQ(undo.files.at(73).name, "new.pcm");
    EXPECT_EQ(ReadFile(VoiceFilePath(summary.undoPath, 73, "new.pcm")), std::string(12000, 'x'));
    EXPECT_EQ(ReadFile(VoiceFilePath(summary.undoPath, 20, "new.pcm")), std::string(12000, 'x'));
    EXPECT_TRUE(undo.files.at(60).name.empty());

    // A snapshot whose voice file went missing is refused before anything is written.
    TSnapshot file;
    ASSERT_TRUE(backup->Load(summary.undoPath, file, error)) << error;
    fs::remove(VoiceFilePath(summary.undoPath, 73, "new.pcm"));
    const TSnapshot unit = Read();
    const size_t sent = sim->BytesFromTool().size();
    TRestoreSummary refused;
    EXPECT_FALSE(backup->Restore(unit, file, summary.undoPath, Compare(backup->Layout(), unit, file), refused, error));
    EXPECT_NE(error.find("нет голосового файла"), std::string::npos) << error;
    EXPECT_EQ(sim->BytesFromTool().size(), sent);
    EXPECT_TRUE(refused.undoPath.empty());
}

// The window's side: file dialogs, the table and the progress, scripted.
class TScriptedBackupView : public TBackupView {
public:
    std::string SnapshotSaveName() override { return take(saveNames); }
    std::string SnapshotOpenName() override { return take(openNames); }
    bool ExecuteDifferences(TFormDifferences& form) override
    {
        busyWhileShown.push_back(busy ? busy() : false);
        bool ok = true;
        if (!answers.empty()) {
            ok = answers.front()(form);
            answers.pop_front();
        }
        tables.push_back(form);
        return ok;
    }
    void Progress(int done, int total, const std::string& what) override
    {
        progress.push_back(total == 0 ? "end" : std::to_string(done) + "/" + std::to_string(total) + " " + what);
    }

    std::deque<std::string> saveNames, openNames;
    // What "the user" does in each table; without one it is accepted as shown.
    std::deque<std::function<bool(TFormDifferences&)>> answers;
    std::vector<TFormDifferences> tables;
    std::vector<bool> busyWhileShown;
    std::function<bool()> busy;
    Strings progress;

private:
    static std::string take(std::deque<std::string>& q)
    {
        if (q.empty())
            return {};
        std::string s = q.front();
        q.pop_front();
        return s;
    }
};

struct BackupButtons : Backup {
    TScriptedBackupView backupView;
    std::unique_ptr<TFormBackup> buttons;

    void StartWindow()
    {
        Start();
        buttons = std::make_unique<TFormBackup>(*form, backupView);
        backupView.busy = [this] { return form->BusyCount() > 0; };
    }
    void TearDown() override
    {
        buttons.reset();
        Backup::TearDown();
    }
    static Strings RowNames(const TFormDifferences& t)
    {
        Strings names;
        for (const auto& r : t.Rows())
            names.push_back(r.name + (t.Kind() == TFormDifferences::Summary ? " = " + r.result : ""));
        return names;
    }
};

TEST_F(Backup, VoiceFilesAreNotWrittenThroughALinkPlantedWhereTheirFolderGoes)
{
    Start();
    Connect("7777");
    TSnapshot taken = Read();
    for (auto it = taken.files.begin(); it != taken.files.end();)
        it = it->first == 20 ? std::next(it) : taken.files.erase(it);
    ASSERT_FALSE(taken.files.at(20).name.empty());
    fs::create_directories(Path("elsewhere"));
    // The snapshot's folder, then a slot's folder, is a link to another place.
    fs::create_directory_symlink(Path("elsewhere"), Path("a.kvs.files"));
    fs::create_directories(Path("b.kvs.files"));
    fs::create_directory_symlink(Path("elsewhere"), Path("b.kvs.files/20"));
    for (const char* name : {"a.kvs", "b.kvs"}) {
        TSnapshot copy = taken;
        Strings failures;
        backup->DownloadVoiceFiles(copy, Path(name), failures);
        ASSERT_EQ(failures.size(), 1u) << name;
        EXPECT_NE(failures[0].find("не папка, а символическая ссылка"), std::string::npos) << failures[0];
        EXPECT_FALSE(copy.files.count(20)) << "the snapshot does not claim a file it has not got";
    }
    EXPECT_TRUE(fs::is_empty(Path("elsewhere")));
    // A file where the folder goes is named as such; a real folder is used.
    std::ofstream(Path("c.kvs.files")) << "x";
    TSnapshot copy = taken;
    Strings failures;
    backup->DownloadVoiceFiles(copy, Path("c.kvs"), failures);
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_NE(failures[0].find("не папка, а файл"), std::string::npos) << failures[0];
    copy = taken;
    failures.clear();
    backup->DownloadVoiceFiles(copy, Path("d.kvs"), failures);
    EXPECT_TRUE(failures.empty()) << failures[0];
    EXPECT_TRUE(fs::is_regular_file(VoiceFilePath(Path("d.kvs"), 20, taken.files.at(20).name)));
}

TEST_F(BackupButtons, FollowTheConnectionLikeTheExportButton)
{
    StartWindow();
    for (const auto& b : TFormBackup::Buttons())
        EXPECT_EQ(view.Enabled(b.name), false) << b.name;
    backupView.saveNames.push_back(Path("unit.kvs"));
    buttons->btnSnapshotClick();  // disconnected: nothing, not even the dialog
    EXPECT_EQ(backupView.saveNames.size(), 1u);
    Connect("1234");
    for (const auto& b : TFormBackup::Buttons())
        EXPECT_EQ(view.Enabled(b.name), true) << b.name;
    form->btnDisconnectClick();
    form->Session().WaitIdle();
    for (const auto& b : TFormBackup::Buttons())
        EXPECT_EQ(view.Enabled(b.name), false) << b.name;
    EXPECT_FALSE(buttons->Click("btnExport"));
}

TEST_F(BackupButtons, SnapshotCompareAndRestoreOfTheTickedRowsFromTheWindow)
{
    StartWindow();
    Connect("7777");
    backupView.saveNames.push_back(Path("unit.kvs"));
    collections.AnswerYesNo(false);  // no voice files
    view.busyLooks.clear();
    ASSERT_TRUE(buttons->Click("btnSnapshot"));
    TSnapshot file;
    std::string error;
    ASSERT_TRUE(backup->Load(Path("unit.kvs"), file, error)) << error;
    EXPECT_TRUE(file.files.empty());
    EXPECT_EQ(view.busyLooks, (std::vector<bool>{true, false}));
    ASSERT_GE(backupView.progress.size(), 8u);
    EXPECT_EQ(backupView.progress.front(), "0/7 Номера");
    EXPECT_EQ(backupView.progress.back(), "end");

    values.AnswerDirectory("300");
    S().Click("btnOpNumDay");
    collections.AnswerMailAdd([](TFormMailAdd& f) {
        f.SetOwner("500");
        return true;
    });
    S().Click("btnMailCreate");

    // Compare: the table, nothing written.
    backupView.openNames.push_back(Path("unit.kvs"));
    size_t sent = sim->BytesFromTool().size();
    buttons->btnCompareClick();
    ASSERT_EQ(backupView.tables.size(), 1u);
    EXPECT_EQ(backupView.tables[0].Kind(), TFormDifferences::Compare);
    EXPECT_EQ(RowNames(backupView.tables[0]), (Strings{"Дневной номер оператора", "Ящик 500 (DELETE)"}));
    EXPECT_EQ(backupView.tables[0].Rows()[0].unit, "\"300\"");
    EXPECT_EQ(backupView.tables[0].Rows()[0].file, "\"200\"");
    EXPECT_EQ(backupView.tables[0].Rows()[1].file, "нет");
    EXPECT_EQ(sim->BytesFromTool().find("SET\r", sent), std::string::npos);
    EXPECT_EQ(backupView.busyWhileShown, std::vector<bool>{true});

    // Restore with the first row unticked; the mailbox asked for by its name.
    backupView.openNames.push_back(Path("unit.kvs"));
    backupView.answers.push_back([](TFormDifferences& t) {
        EXPECT_TRUE(t.Rows()[0].checked && t.Rows()[1].checked);
        t.SetChecked(0, false);
        return t.CanAccept();
    });
    collections.AnswerConfirm(true);
    buttons->btnRestoreClick();
    ASSERT_EQ(backupView.tables.size(), 3u);
    EXPECT_EQ(backupView.tables[1].Kind(), TFormDifferences::Restore);
    EXPECT_EQ(backupView.tables[1].AcceptText(), "Восстановить");
    const TFormDifferences& summary = backupView.tables[2];
    EXPECT_EQ(summary.Kind(), TFormDifferences::Summary);
    EXPECT_EQ(RowNames(summary), Strings{"Ящик 500 = записано"});
    EXPECT_NE(summary.Note().find("Прежние настройки сохранены в " + Path("unit.kvs.undo-")), std::string::npos)
        << summary.Note();
    ASSERT_FALSE(collections.Shown().empty());
    EXPECT_EQ(collections.Shown().back().text, TFormBackup::DeleteQuestion("500"));
    EXPECT_EQ(C().edtOpNumDay.Text(), "300");  // unticked: left as it was
    EXPECT_EQ(C().sgMail.RowCount(), 2);
    EXPECT_TRUE(dialogs.Messages().empty());
    EXPECT_EQ(form->BusyCount(), 0);

    // A restore cancelled at the table writes nothing and keeps no undo file.
    backupView.openNames.push_back(Path("unit.kvs"));
    backupView.answers.push_back([](TFormDifferences&) { return false; });
    sent = sim->BytesFromTool().size();
    buttons->btnRestoreClick();
    EXPECT_EQ(sim->BytesFromTool().find("SET\r", sent), std::string::npos);
    EXPECT_EQ(Beside(Path("unit.kvs"), ".undo-").size(), 1u);
    // A file that is no snapshot: its message, and the unit is not read.
    std::ofstream(Path("notes.txt")) << "notes\n";
    backupView.openNames.push_back(Path("notes.txt"));
    sent = sim->BytesFromTool().size();
    buttons->btnCompareClick();
    EXPECT_EQ(sim->BytesFromTool().size(), sent);
    ASSERT_EQ(dialogs.Messages().size(), 1u);
    EXPECT_EQ(dialogs.Messages()[0].rfind(Path("notes.txt") + ": строка 1: ", 0), 0u);
}

TEST_F(Backup, AReadThatFailsMakesNoSnapshot)
{
    Start({"--replace", "=201", "BAD"});
    Connect("1234");
    TSnapshot s;
    std::string error;
    EXPECT_FALSE(backup->ReadUnit(s, true, error));
    EXPECT_NE(error.find("DirectoryGet: parameter (102): BAD"), std::string::npos) << error;
    EXPECT_TRUE(dialogs.Messages().empty());
    EXPECT_EQ(form->BusyCount(), 0);
}

// The line goes during the second write (kvsim killed as it begins), or
// the unit falls silent there (stopped): that row says the line was lost,
// not that the unit refused; the rows after it were not written. The
// restore runs outside any handler of the window, as kvbackup's does.
TEST_F(Backup, AWriteDuringWhichTheLineIsLostSaysSo)
{
    for (const int signal : {SIGKILL, SIGSTOP}) {
        SCOPED_TRACE(signal);
        Start();
        Connect("7777");
        TSnapshot file = Read();
        file.params[101] = "300";
        file.params[102] = "301";
        file.params[103] = "302";
        std::string error;
        ASSERT_TRUE(backup->Save(file, Path("file.kvs"), false, error)) << error;
        const TSnapshot unit = Read();
        const TComparison c = Compare(backup->Layout(), unit, file);
        ASSERT_EQ(c.differences.size(), 3u);
        backup->onProgress = [this, signal](int done, int, const std::string&) {
            if (done == 1)
                ::kill(sim->Pid(), signal);
        };
        TRestoreSummary summary;
        ASSERT_TRUE(backup->Restore(unit, file, Path("file.kvs"), c, summary, error)) << error;
        const Strings rows = Outcomes(summary);
        ASSERT_EQ(rows.size(), 3u);
        EXPECT_EQ(rows[0], "Дневной номер оператора: took");
        EXPECT_EQ(rows[1].rfind("Ночной номер оператора: line lost", 0), 0u) << rows[1];
        EXPECT_EQ(ResultText(summary.items[1].result).rfind("связь потеряна", 0), 0u);
        if (signal == SIGKILL) {
            EXPECT_EQ(rows[2], "Номер факса: not written (связь с устройством прервана)");
            EXPECT_EQ(form->Session().mode, kModeDisconnected);
        } else {
            // Nothing more is tried on a unit that fell silent.
            EXPECT_EQ(rows[2], "Номер факса: not written (устройство не отвечает)");
            ::kill(sim->Pid(), SIGCONT);
        }
        backup.reset();
        form.reset();
    }
}

}  // namespace
