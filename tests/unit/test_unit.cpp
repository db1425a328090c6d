// The unit object against the simulated unit: its operations and each
// outcome they come to (done, refused, line lost, not allowed), the one
// unit per process, and the port owner that is an error when missing.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <fstream>
#include <stdexcept>
#include <string>

#include "collections/File.h"
#include "collections/ListDlg.h"
#include "collections/MailDlg.h"
#include "collections/MenuDlg.h"
#include "tests/support/ScriptedCollectionDialogs.h"
#include "tests/support/ScriptedDialogs.h"
#include "tests/support/ScriptedValueDialogs.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TempDir.h"
#include "tests/support/UiThread.h"
#include "unit/Unit.h"

using namespace kv;

namespace {

using Strings = std::vector<std::string>;

struct Unit : ::testing::Test {
    kvtest::TUiThread ui;
    TScriptedDialogs dialogs;
    TScriptedValueDialogs values;
    TScriptedCollectionDialogs forms;
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<TUnit> unit;

    void TearDown() override { unit.reset(); }

    void Start(std::vector<std::string> simArgs = {})
    {
        sim = std::make_unique<SimProcess>(std::move(simArgs));
        unit = std::make_unique<TUnit>();
    }
    TOutcome Connect(const std::string& password, bool askAgain = false)
    {
        return unit->Connect(sim->Path(), {password, askAgain});
    }
    static int Count(const std::string& bytes, const std::string& text)
    {
        int n = 0;
        for (size_t at = bytes.find(text); at != std::string::npos; at = bytes.find(text, at + 1))
            ++n;
        return n;
    }
};

TEST_F(Unit, ConnectsReadsTabsAndDisconnects)
{
    Start();
    const TOutcome connected = Connect("7777");
    ASSERT_TRUE(connected.Ok()) << connected.message;
    EXPECT_EQ(unit->Mode(), kModeSystem);
    EXPECT_EQ(unit->Catalogue().version.value, 10203);
    EXPECT_EQ(unit->Device(), sim->Path());

    const TOutcome numbers = unit->ReadTab(kTabNumbers);
    EXPECT_TRUE(numbers.Ok()) << numbers.message;
    EXPECT_TRUE(unit->loaded[kTabNumbers]);
    EXPECT_EQ(unit->Catalogue().admPwd.value, "1234");
    // A marked tab is not read again unless asked.
    const size_t sent = sim->BytesFromTool().size();
    EXPECT_TRUE(unit->ReadTab(kTabNumbers).Ok());
    EXPECT_EQ(sim->BytesFromTool().size(), sent);
    EXPECT_TRUE(unit->ReadTab(kTabNumbers, true).Ok());
    EXPECT_GT(sim->BytesFromTool().size(), sent);

    int steps = 0;
    const TOutcome all = unit->ReadAll(false, [&](int done, int total, const std::string&) {
        EXPECT_EQ(done, steps++);
        EXPECT_EQ(total, kTabCount);
    });
    EXPECT_TRUE(all.Ok()) << all.message;
    EXPECT_EQ(steps, kTabCount);
    for (bool mark : unit->loaded)
        EXPECT_TRUE(mark);
    EXPECT_TRUE(dialogs.Messages().empty());

    EXPECT_TRUE(unit->Disconnect().Ok());
    EXPECT_EQ(unit->Mode(), kModeDisconnected);
    EXPECT_EQ(unit->ReadTab(kTabNumbers).kind, TOutcome::NotAllowed);
    EXPECT_EQ(unit->ReadAll(false).kind, TOutcome::NotAllowed);
}

TEST_F(Unit, SystemTabsAreNotAllowedInAdministratorMode)
{
    Start();
    ASSERT_TRUE(Connect("1234").Ok());
    EXPECT_EQ(unit->Mode(), kModeAdmin);
    const TOutcome sys = unit->ReadTab(kTabSysParams);
    EXPECT_EQ(sys.kind, TOutcome::NotAllowed);
    EXPECT_EQ(sys.message, TUnit::kSystemModeOnly);
    EXPECT_FALSE(unit->loaded[kTabSysParams]);
    // Everything at once reads the administrator's tabs only.
    EXPECT_TRUE(unit->ReadAll(false).Ok());
    EXPECT_TRUE(unit->loaded[kTabMail]);
    EXPECT_FALSE(unit->loaded[kTabMessages]);
    EXPECT_TRUE(dialogs.Messages().empty()) << "nothing is shown for a rule the caller asked about";
}

TEST_F(Unit, WrongPasswordWithoutRetryIsRefusedWithoutTheRetryPrompt)
{
    Start();
    const TOutcome o = Connect("0000");
    EXPECT_EQ(o.kind, TOutcome::Refused);
    EXPECT_EQ(o.message, TUnit::kWrongPassword);
    EXPECT_EQ(unit->Mode(), kModeDisconnected);
    EXPECT_TRUE(dialogs.Messages().empty()) << ::testing::PrintToString(dialogs.Messages());
    EXPECT_EQ(Count(sim->BytesFromTool(), "0000\r"), 1) << "asked once, sent once";
    // The window's way: the unit's warning, then the dialog again.
    dialogs.AnswerPassword("1234");
    const TOutcome again = unit->Connect(TPasswordSource{"0000", true});
    EXPECT_TRUE(again.Ok()) << again.message;
    EXPECT_EQ(dialogs.Messages(), Strings{"Неверный пароль! Повторите ввод."});
}

TEST_F(Unit, BusyUnitCancelledPasswordAndNoUnitEachHaveTheirOutcome)
{
    Start({"--busy"});
    const TOutcome busy = Connect("7777");
    EXPECT_EQ(busy.kind, TOutcome::Refused);
    EXPECT_EQ(busy.message, TUnit::kUnitBusy);

    dialogs.AnswerCancel();
    const TOutcome cancelled = unit->Connect(sim->Path(), {});
    EXPECT_EQ(cancelled.kind, TOutcome::NotAllowed);
    EXPECT_EQ(cancelled.message, TUnit::kNoPassword);

    const TOutcome nothing = unit->Connect("/dev/null/none", {"7777", false});
    EXPECT_EQ(nothing.kind, TOutcome::LineLost);
    EXPECT_NE(nothing.message.find("Не удалось открыть порт."), std::string::npos) << nothing.message;
    EXPECT_EQ(dialogs.Messages().size(), 1u) << "the core's own message is still shown";
}

TEST_F(Unit, WritesAValueAListEntryAMailboxAMenuKeyAndClearsAFile)
{
    Start();
    ASSERT_TRUE(Connect("7777").Ok());
    ASSERT_TRUE(unit->ReadAll(false).Ok());
    TCatalogue& c = unit->Catalogue();

    c.opNumDay.value = "205";
    EXPECT_TRUE(unit->WriteValue(c.opNumDay).Ok());
    c.opNumDay.value = "?";
    ASSERT_TRUE(unit->ReadTab(kTabNumbers, true).Ok());
    EXPECT_EQ(c.opNumDay.value, "205") << "read back from the unit";

    EXPECT_TRUE(unit->AddEntry("301-305").Ok());
    EXPECT_NE(std::find(c.extensionList->items.begin(), c.extensionList->items.end(), "301-305"),
              c.extensionList->items.end());
    EXPECT_TRUE(unit->RemoveEntry("301-305").Ok());
    EXPECT_EQ(std::find(c.extensionList->items.begin(), c.extensionList->items.end(), "301-305"),
              c.extensionList->items.end());

    ASSERT_TRUE(unit->CreateBox("555", 120, 0, 0).Ok());
    EXPECT_NE(sim->BytesFromTool().find("CREATE\r"), std::string::npos);
    EXPECT_TRUE(unit->EditBox("555", 180, 0, 0).Ok());
    bool found = false;
    for (int32_t i = 0; i < c.mailboxes->boxCount; ++i)
        if (c.mailboxes->boxes[static_cast<size_t>(i)].owner == "555") {
            found = true;
            EXPECT_EQ(c.mailboxes->boxes[static_cast<size_t>(i)].size, 180);
        }
    EXPECT_TRUE(found);
    EXPECT_TRUE(unit->DeleteBox("555").Ok());
    EXPECT_EQ(unit->DeleteBox("555").kind, TOutcome::NotAllowed) << "no such mailbox any more";

    TMenuDlg& menu = *c.voiceMenus[3];
    EXPECT_TRUE(unit->WriteMenuKey(menu, 5, "N205").Ok());
    EXPECT_EQ(menu.keys[5], "N205");
    EXPECT_EQ(unit->WriteMenuKey(menu, 10, "N205").kind, TOutcome::NotAllowed);

    EXPECT_TRUE(unit->ClearFile(*c.messages[0]).Ok());
    EXPECT_TRUE(forms.Shown().empty()) << "no question asked";
    EXPECT_TRUE(dialogs.Messages().empty()) << ::testing::PrintToString(dialogs.Messages());
}

TEST_F(Unit, RefusedWritesAreRefusedWithTheCoresMessageAndAMenuIsReadBack)
{
    Start({"--replace", "OK", "ERROR"});
    ASSERT_TRUE(Connect("7777").Ok());
    TCatalogue& c = unit->Catalogue();
    ASSERT_TRUE(unit->ReadTab(kTabMenu).Ok());

    c.faxNum.value = "333";
    const TOutcome value = unit->WriteValue(c.faxNum);
    EXPECT_EQ(value.kind, TOutcome::Refused);
    EXPECT_NE(value.message.find("DirectorySet: reply: ERROR"), std::string::npos) << value.message;

    TMenuDlg& menu = *c.voiceMenus[2];
    const std::string before = menu.keys[4];
    const TOutcome key = unit->WriteMenuKey(menu, 4, "Q");  // no action the unit knows
    EXPECT_EQ(key.kind, TOutcome::Refused);
    EXPECT_EQ(menu.keys[4], before) << "the unit's value, read back after the refusal";
    EXPECT_EQ(dialogs.Messages().size(), 2u) << "each refusal shown once, where it happened";
}

TEST_F(Unit, ALostLineIsLineLostAndThenNotConnected)
{
    Start();
    ASSERT_TRUE(Connect("7777").Ok());
    ::kill(sim->Pid(), SIGKILL);
    ::waitpid(sim->Pid(), nullptr, 0);
    TCatalogue& c = unit->Catalogue();
    c.opCode.value = 3;
    const TOutcome o = unit->WriteValue(c.opCode);
    EXPECT_EQ(o.kind, TOutcome::LineLost) << o.message;
    EXPECT_EQ(unit->Mode(), kModeDisconnected);
    EXPECT_EQ(unit->ReadTab(kTabNumbers).kind, TOutcome::NotAllowed);
}

TEST_F(Unit, ATabWhoseReadFailedIsNotMarkedRead)
{
    // The unit answers every read of the day-operator number with garbage.
    Start({"--mute", "101"});
    ASSERT_TRUE(Connect("7777").Ok());
    const TOutcome o = unit->ReadTab(kTabNumbers);
    EXPECT_NE(o.kind, TOutcome::Done);
    EXPECT_FALSE(unit->loaded[kTabNumbers]) << "read again by the next export or snapshot";
    EXPECT_FALSE(unit->ReadAll(false).Ok());
}

TEST_F(Unit, UploadsAndDownloadsAVoiceFile)
{
    Start();
    ASSERT_TRUE(Connect("7777").Ok());
    kvtest::TTempDir dir;
    std::string data(12000, '\0');
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i * 7);
    const std::string up = dir / "hello.pcm";
    std::ofstream(up, std::ios::binary) << data;
    TFile& slot = *unit->Catalogue().messages[1];
    ASSERT_TRUE(unit->Upload(slot, up).Ok());
    EXPECT_EQ(slot.fileName, "hello.pcm");
    EXPECT_EQ(slot.fileSize, 12000);
    int code = -1;
    const std::string down = dir / "back.pcm";
    ASSERT_TRUE(unit->Download(slot, down, &code).Ok());
    EXPECT_EQ(code, 0);
    std::ifstream in(down, std::ios::binary);
    const std::string back((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(back, data);
}

TEST(UnitInstance, ASecondUnitInOneProcessIsRefusedLoudly)
{
    kvtest::TUiThread ui;
    {
        TUnit first;
        try {
            TUnit second;
            FAIL() << "a second unit was made";
        } catch (const std::logic_error& e) {
            EXPECT_STREQ(e.what(), TUnit::kSecondUnit);
        }
        EXPECT_TRUE(IsFormComm(first.Comm())) << "the first keeps the port";
    }
    // Once the first is gone, a new one may be made.
    TUnit again;
    EXPECT_TRUE(IsFormComm(again.Comm()));
}

TEST(UnitInstance, AnotherPortOwnerIsRefusedAndNoPortOwnerIsAnError)
{
    kvtest::TUiThread ui;
    EXPECT_FALSE(FormCommExists());
    try {
        FormComm();
        FAIL() << "no port owner, and no error";
    } catch (const std::logic_error& e) {
        EXPECT_STREQ(e.what(), kNoPortOwner);
    }
    {
        TFormComm other;
        try {
            TUnit unit;
            FAIL() << "the unit's jobs would reach another port";
        } catch (const std::logic_error& e) {
            EXPECT_STREQ(e.what(), TUnit::kPortOwnerTaken);
        }
    }
    TUnit unit;
    EXPECT_TRUE(IsFormComm(unit.Comm()));
}

}  // namespace
