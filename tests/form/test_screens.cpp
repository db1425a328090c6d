// The tab pages' rules against the simulated unit, with a scripted view:
// what each tab reads when shown and how often, the system-mode rule, the
// double clicks, the holiday box, the file dialogs before a transfer, and a
// load that stops once the session has dropped out of the connected modes.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "FormFixture.h"
#include "ScriptedForm.h"
#include "SentBytes.h"
#include "SimProcess.h"
#include "collections/File.h"
#include "collections/MailDlg.h"
#include "collections/MenuDlg.h"
#include "tests/support/ScriptedCollectionDialogs.h"
#include "collections/YModemU.h"
#include "tests/support/ScriptedDialogs.h"
#include "settings/Clock.h"
#include "tests/support/ScriptedValueDialogs.h"
#include "tests/session/Harness.h"
#include "ui/Screens.h"
#include "ui/Unit1.h"

using namespace kv;
using namespace kvtest;

namespace {

using Strings = std::vector<std::string>;
using Codes = std::vector<int>;
const std::string kSystemOnly = "Операция возможна только в системном режиме.";


Codes Range(int first, int last)
{
    Codes codes;
    for (int c = first; c <= last; ++c)
        codes.push_back(c);
    return codes;
}

struct Screens : TFormFixture {
    // Connects on the tab `tab` (whose load then runs) and forgets what the
    // connection sent.
    void Connect(const std::string& password, int tab = kTabMail) { ConnectOn(password, tab); }
    void Show(int tab)
    {
        view.currentTab = tab;
        form->TabShown(tab);
    }
};

TEST_F(Screens, NumbersAreReadInOrderOncePerConnectionInOneBusySection)
{
    Start();
    Connect("1234");
    Show(kTabNumbers);
    const std::string sent = Sent();
    EXPECT_EQ(GetCodes(sent), (Codes{100, 101, 102, 103, 104}));
    EXPECT_LT(sent.find("GETALL\r"), sent.find("GET\r100\r"));
    EXPECT_EQ(busyTexts, (Strings{"Передача данных", "Готово"}));
    EXPECT_TRUE(form->loaded[kTabNumbers]);
    EXPECT_EQ(C().memNumbers.Lines(), (Strings{"201-210", "220"}));
    EXPECT_EQ(C().edtOpNumDay.Text(), "200");
    EXPECT_EQ(C().edtAdmPwd.Text(), "1234");
    EXPECT_TRUE(dialogs.Messages().empty());

    Mark();
    Show(kTabGreetings);
    Show(kTabNumbers);
    EXPECT_EQ(CountOf(Sent(), "GETALL\r"), 0u);
    EXPECT_EQ(GetCodes(Sent()), (Codes{20, 21, 22}));  // only the greetings

    // A new connection reads them again; disconnecting alone does not.
    form->btnDisconnectClick();
    form->Session().WaitIdle();
    Show(kTabNumbers);
    Connect("1234", kTabNumbers);
    EXPECT_EQ(GetCodes(Sent()), Codes{});
    EXPECT_TRUE(form->loaded[kTabNumbers]);
}

TEST_F(Screens, SystemParametersReadNothingForTheAdministratorAndVersionThenAll39InSystemMode)
{
    Start();
    Connect("1234");
    Show(kTabSysParams);
    Show(kTabMessages);
    EXPECT_EQ(Sent(), "");
    EXPECT_FALSE(form->loaded[kTabSysParams]);
    EXPECT_FALSE(form->loaded[kTabMessages]);
    // The tab's buttons say why they do nothing.
    S().Click("btnSysParams");
    S().DoubleClick("sgSysParams");
    S().Click("btnMessageUpload");
    S().Click("btnMessageDownload");
    S().Click("btnMessageDelete");
    S().DoubleClick("sgMessages");
    EXPECT_EQ(dialogs.Messages(), Strings(6, kSystemOnly));
    EXPECT_TRUE(values.Shown().empty());
    EXPECT_TRUE(view.proposedNames.empty());
    EXPECT_EQ(Sent(), "");

    form->btnDisconnectClick();
    form->Session().WaitIdle();
    Connect("7777", kTabMail);
    Show(kTabSysParams);
    // The version first, then the 39 rows top to bottom.
    Codes expected{999};
    for (int r = 1; r <= 39; ++r)
        expected.push_back(C().sgSysParams.Object(2, r)->code);
    EXPECT_EQ(GetCodes(Sent()), expected);
    EXPECT_EQ(busyTexts, (Strings{"Передача данных", "Готово"}));
    EXPECT_TRUE(form->loaded[kTabSysParams]);
    EXPECT_EQ(C().sgSysParams.Cell(2, 1), "7777");
    EXPECT_EQ(C().sgSysParams.Cell(2, 39), "Не пропускать");
    EXPECT_EQ(form->Panel(3).Text(), "Версия прошивки: 1.2.3");
    Mark();
    Show(kTabSysParams);
    EXPECT_EQ(Sent(), "");
}

TEST_F(Screens, SystemParameterEditOpensTheDialogOfTheRowsKindAndWritesInSystemMode)
{
    Start();
    Connect("7777", kTabSysParams);
    // Row 3: code 10, a choice; "Импульсный" is written as 1.
    C().sgSysParams.SetCurrent(1, 3);
    values.AnswerChoice(1);
    S().DoubleClick("sgSysParams");
    ASSERT_EQ(values.Shown().size(), 1u);
    EXPECT_EQ(values.Shown()[0].kind, TValueDialogKind::Choice);
    EXPECT_NE(Sent().find("SET\r10\r1\r"), std::string::npos) << Sent();
    EXPECT_EQ(C().sgSysParams.Cell(2, 3), "Импульсный");
    // Row 5: code 12, a number, through the button.
    C().sgSysParams.SetCurrent(0, 5);
    values.AnswerCancel();
    Mark();
    S().Click("btnSysParams");
    ASSERT_EQ(values.Shown().size(), 2u);
    EXPECT_EQ(values.Shown()[1].kind, TValueDialogKind::Number);
    EXPECT_EQ(Sent(), "");
    // The header row holds no setting: nothing opens.
    C().sgSysParams.SetCurrent(2, 0);
    S().Click("btnSysParams");
    EXPECT_EQ(values.Shown().size(), 2u);
    EXPECT_TRUE(dialogs.Messages().empty());
}

TEST_F(Screens, ScheduleReadsHolidayThenEachDayAndEditsOnlyTimeCells)
{
    Start();
    Connect("1234", kTabTime);
    Mark();
    form->loaded[kTabTime] = false;
    Show(kTabTime);
    Codes expected{110};
    for (int c = 111; c <= 124; ++c)
        expected.push_back(c);
    EXPECT_EQ(GetCodes(Sent()), expected);
    EXPECT_EQ(C().sgTime.Cell(1, 1), "09:00");
    EXPECT_EQ(C().sgTime.Cell(2, 5), "18:00");

    // The day names and the header open nothing.
    Mark();
    for (auto [col, row] : {std::pair{0, 1}, std::pair{0, 7}, std::pair{1, 0}}) {
        C().sgTime.SetCurrent(col, row);
        S().DoubleClick("sgTime");
    }
    EXPECT_TRUE(values.Shown().empty());
    EXPECT_EQ(Sent(), "");
    // Tuesday's end: the time dialog, a write, a read-back.
    C().sgTime.SetCurrent(2, 2);
    values.AnswerTime(17, 30);
    S().DoubleClick("sgTime");
    ASSERT_EQ(values.Shown().size(), 1u);
    EXPECT_EQ(values.Shown()[0].hours, 18);
    EXPECT_NE(Sent().find("SET\r114\r1730\r"), std::string::npos) << Sent();
    EXPECT_EQ(GetCodes(Sent()), Codes{114});
    EXPECT_EQ(C().sgTime.Cell(2, 2), "17:30");
}

TEST_F(Screens, TheHolidayBoxWritesTheUsersClickAndShowsTheUnitsAnswer)
{
    // This unit refuses to leave holiday mode on: it reads back 0 after a 1.
    Start({"--replace", "=1", "=0"});
    Connect("1234", kTabTime);
    ASSERT_FALSE(C().cbHoliday.Checked());
    ASSERT_TRUE(C().cbHoliday.Enabled());
    C().cbHoliday.Click();
    EXPECT_NE(Sent().find("SET\r110\r1\r"), std::string::npos) << Sent();
    EXPECT_EQ(GetCodes(Sent()), Codes{110});
    EXPECT_FALSE(C().cbHoliday.Checked());  // what the unit answered
    EXPECT_TRUE(C().cbHoliday.Enabled());
    // Showing the answer wrote nothing more.
    EXPECT_EQ(CountOf(Sent(), "SET\r"), 1u);

    Mark();
    C().cbHoliday.SetEnabled(false);
    C().cbHoliday.SetChecked(true);  // the program's change while disabled
    EXPECT_EQ(Sent(), "");
    C().cbHoliday.SetEnabled(true);
    C().cbHoliday.Click();  // on → off
    EXPECT_NE(Sent().find("SET\r110\r0\r"), std::string::npos) << Sent();
    EXPECT_FALSE(C().cbHoliday.Checked());
}

TEST_F(Screens, MailIsReadEachTimeMenusOncePerConnection)
{
    Start();
    Connect("1234", kTabNumbers);
    Show(kTabMail);
    Show(kTabMenu);
    Show(kTabMail);
    Show(kTabMenu);
    const std::string sent = Sent();
    EXPECT_EQ(CountOf(sent, "GETALL\r"), 2u);
    EXPECT_EQ(GetCodes(sent), Range(0, 19));
    EXPECT_EQ(C().sgMail.Cell(0, 1), "999");
    EXPECT_EQ(C().sgMenu.Cell(1, 1), "menu0.pcm");
    EXPECT_TRUE(form->loaded[kTabMail]) << "read each time all the same; the mark tells the export";
}

TEST_F(Screens, MailboxActionsWorkOnTheGridsCurrentRow)
{
    Start();
    Connect("1234", kTabMail);
    ASSERT_EQ(C().sgMail.Cell(0, 1), "999");
    // The header row: nothing to edit or delete.
    C().sgMail.SetCurrent(0, 0);
    S().Click("btnMailEdit");
    S().Click("btnMailDelete");
    EXPECT_TRUE(collections.Shown().empty());
    // Row 1: the confirmation names its owner; Cancel sends nothing.
    C().sgMail.SetCurrent(1, 1);
    collections.AnswerConfirm(false);
    S().Click("btnMailDelete");
    ASSERT_EQ(collections.Shown().size(), 1u);
    EXPECT_EQ(collections.Shown()[0].text, "Удалить ящик 999?");
    // The double click edits.
    collections.AnswerMailAdd([](TFormMailAdd&) { return false; });
    S().DoubleClick("sgMail");
    ASSERT_EQ(collections.Shown().size(), 2u);
    EXPECT_EQ(collections.Shown()[1].text, "Параметры ящика");
    EXPECT_EQ(Sent(), "");
}

TEST_F(Screens, GreetingAndMenuDoubleClicksEditKeysOrUploadByColumn)
{
    Start();
    Connect("1234", kTabGreetings);
    // Column 0, the row title: nothing.
    C().sgGreetings.SetCurrent(0, 1);
    S().DoubleClick("sgGreetings");
    // Column 1: the open dialog of an upload, cancelled: nothing sent.
    C().sgGreetings.SetCurrent(1, 1);
    S().DoubleClick("sgGreetings");
    EXPECT_TRUE(collections.Shown().empty());
    EXPECT_EQ(Sent(), "");
    // Column 2 is key 0 of the day greeting ("M0"): the key dialog, and on
    // OK the whole menu is written and read back.
    C().sgGreetings.SetCurrent(2, 1);
    collections.AnswerMenuItm([](TFormMenuItm& f) {
        EXPECT_EQ(f.MenuNumber(), 0);
        return true;
    });
    S().DoubleClick("sgGreetings");
    ASSERT_EQ(collections.Shown().size(), 1u);
    EXPECT_EQ(C().greetings[0]->editKey, 0);
    EXPECT_NE(Sent().find("SET\r20\r"), std::string::npos) << Sent();
    EXPECT_EQ(GetCodes(Sent()), Codes{20});

    // The menu grid: column 11 is key 9 of menu 0.
    Show(kTabMenu);
    Mark();
    C().sgMenu.SetCurrent(11, 1);
    collections.AnswerMenuItm([](TFormMenuItm&) { return false; });
    S().DoubleClick("sgMenu");
    EXPECT_EQ(C().voiceMenus[0]->editKey, 9);
    EXPECT_EQ(collections.Shown().size(), 2u);
    EXPECT_EQ(Sent(), "");
}

TEST_F(Screens, FileDialogsComeFirstAndCancellingOrAnEmptySlotSendsNothing)
{
    Start();
    Connect("7777", kTabMessages);
    ASSERT_EQ(C().sgMessages.Cell(1, 14), "Не записано");
    // Deleting an empty slot asks nothing and sends nothing.
    C().sgMessages.SetCurrent(0, 14);
    S().Click("btnMessageDelete");
    EXPECT_EQ(Sent(), "");
    Show(kTabGreetings);
    Mark();
    // Holiday greeting (row 3) and message 73 (row 14) hold no file: no
    // save dialog at all.
    C().sgGreetings.SetCurrent(0, 3);
    S().Click("btnGreetDownload");
    C().sgMessages.SetCurrent(0, 14);
    S().Click("btnMessageDownload");
    EXPECT_TRUE(view.proposedNames.empty());
    // A file on the unit: the save dialog proposes its name; cancelled.
    C().sgGreetings.SetCurrent(0, 1);
    S().Click("btnGreetDownload");
    C().sgMessages.SetCurrent(0, 1);
    S().Click("btnMessageDownload");
    EXPECT_EQ(view.proposedNames, (Strings{"day.pcm", "msg60.pcm"}));
    // Uploads with the open dialog cancelled; deleting an empty slot.
    S().Click("btnGreetUpload");
    S().Click("btnMessageUpload");
    S().DoubleClick("sgMessages");
    EXPECT_EQ(Sent(), "");
    EXPECT_TRUE(dialogs.Messages().empty());
    EXPECT_TRUE(collections.Shown().empty());
}

TEST_F(Screens, AVoiceFileGoesUpAndComesBackThroughTheTransferDialog)
{
    Start();
    Connect("7777", kTabMessages);
    const std::filesystem::path dir = std::filesystem::path(::testing::TempDir()) / "kv-screens-transfer";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    std::string voice(24000, '\0');
    for (size_t i = 0; i < voice.size(); ++i)
        voice[i] = static_cast<char>(i * 7 + i / 256);
    std::ofstream(dir / "hello.pcm", std::ios::binary) << voice;

    C().sgMessages.SetCurrent(1, 2);
    view.openNames.push_back((dir / "hello.pcm").string());
    S().Click("btnMessageUpload");
    EXPECT_TRUE(view.openNames.empty());
    EXPECT_EQ(C().sgMessages.Cell(1, 2), "hello.pcm");
    EXPECT_EQ(C().sgMessages.Cell(3, 2), "24000");
    EXPECT_NE(Sent().find("SET\r61\r"), std::string::npos);

    view.saveNames.push_back((dir / "back.pcm").string());
    S().Click("btnMessageDownload");
    EXPECT_EQ(view.proposedNames, Strings{"hello.pcm"});
    EXPECT_TRUE(view.saveNames.empty());
    std::ifstream in(dir / "back.pcm", std::ios::binary);
    const std::string back((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(back, voice);
    EXPECT_TRUE(dialogs.Messages().empty());
    std::filesystem::remove_all(dir);
}

TEST_F(Screens, ReplacementGridEditsForTheAdministratorButNotWhileDisconnected)
{
    Start();
    Connect("1234", kTabMessages);
    EXPECT_EQ(C().sgGreetOverride.Cell(2, 1), "");  // the tab stays empty
    // Line 4, row 3: code 524.
    C().sgGreetOverride.SetCurrent(5, 3);
    values.AnswerNumber(7);
    S().DoubleClick("sgGreetOverride");
    ASSERT_EQ(values.Shown().size(), 1u);
    EXPECT_NE(Sent().find("SET\r524\r7\r"), std::string::npos) << Sent();
    EXPECT_EQ(C().sgGreetOverride.Cell(5, 3), "7");
    // The code and name columns hold no setting.
    C().sgGreetOverride.SetCurrent(1, 3);
    S().Click("btnGreetOverride");
    EXPECT_EQ(values.Shown().size(), 1u);

    // Disconnected, the button keeps its enabled look but does not log in
    // behind the connect button's back.
    form->btnDisconnectClick();
    form->Session().WaitIdle();
    Mark();
    C().sgGreetOverride.SetCurrent(5, 3);
    S().Click("btnGreetOverride");
    S().DoubleClick("sgGreetOverride");
    EXPECT_EQ(Sent(), "");
    EXPECT_EQ(form->Session().mode, kModeDisconnected);
    EXPECT_EQ(values.Shown().size(), 1u);
    EXPECT_TRUE(dialogs.Shown().empty());
}

TEST_F(Screens, TheClockDialogRunsInsideTheBusyState)
{
    Start({"--clock", "070326090530"});
    Connect("1234", kTabTime);
    int shown = 0;
    view.onClock = [&](TFormClock& clock) {
        ++shown;
        EXPECT_EQ(form->BusyCount(), 1);
        EXPECT_EQ(form->Panel(0).Text(), "Передача данных");
        EXPECT_TRUE(clock.Tick());
        form->Session().WaitIdle();
        EXPECT_EQ(clock.MonthCalendar1.Date(), (TDate{2026, 3, 7}));
    };
    S().Click("btnSetTime");
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(form->BusyCount(), 0);
    EXPECT_EQ(form->Panel(0).Text(), "Готово");
    EXPECT_NE(Sent().find("TIME\r"), std::string::npos);
}

TEST_F(Screens, ALoadStopsStartingJobsOnceTheSessionHasDroppedOut)
{
    // The version's reply at connecting is followed by a stray line, so the
    // Numbers tab, shown again by the connect button, finds the wrong prompt
    // on its way to "PC LIST>" and logs in again; the unit echoes nothing
    // from that second access string on, so the session logs out.
    Start({"--stray-line", "--no-echo=2"});
    view.currentTab = kTabNumbers;
    dialogs.AnswerPassword("1234");
    form->btnConnectClick();
    EXPECT_EQ(dialogs.Messages(),
              (Strings{"Probably incorrect finishing the previous command", "Device does not respond (no echo)"}));
    EXPECT_EQ(form->Session().mode, kModeDisconnected);
    // Nothing after the list was asked for, and no connection was tried
    // again: two wake-ups, the connection's and the re-login's.
    const std::string sent = sim->BytesFromTool();
    EXPECT_EQ(GetCodes(sent), Codes{999});
    EXPECT_EQ(CountOf(sent, std::string(9, '\x18') + "\r"), 2u);
    EXPECT_FALSE(form->loaded[kTabNumbers]) << "a load that read nothing does not mark the tab";
    EXPECT_EQ(form->BusyCount(), 0);
    EXPECT_EQ(form->Panel(0).Text(), "Готово");
    EXPECT_EQ(form->Panel(2).Text(), "Отключено");
}

}  // namespace
