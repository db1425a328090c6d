// The mailboxes against the simulated unit ("PC MAIL>").
#include <gtest/gtest.h>

#include "tests/support/UnitSession.h"
#include "collections/MailDlg.h"
#include "settings/View.h"

using namespace kvtest;
using kv::TMailDlg;

namespace {

struct TMailFixture {
    explicit TMailFixture(std::vector<std::string> args = {}) : unit(std::move(args))
    {
        mail.menu = 8;
        mail.grid = &grid;
        mail.freeField = &free;
        mail.currentRow = [this] { return row; };
    }
    Strings Row(int r) const { return {grid.Cell(0, r), grid.Cell(1, r)}; }

    TUnitSession unit;
    kv::TGridModel grid{"sgMail", 2, 16};
    kv::TTextField free{"edtFreeSpace"};
    TMailDlg mail;
    int row = 1;  // the grid's current row
};

auto Create(const std::string& owner, int minutes)
{
    return [owner, minutes](kv::TFormMailAdd& f) {
        f.SetOwner(owner);
        f.SetSizeMinutes(minutes);
        return true;
    };
}

auto SetMinutes(int minutes)
{
    return [minutes](kv::TFormMailAdd& f) {
        f.SetSizeMinutes(minutes);
        return true;
    };
}

}  // namespace

TEST(MailDlg, ReadShowsMailboxesAndFreeTime)
{
    TMailFixture t({"--mail-memory", "6000"});
    t.unit.Read(t.mail);
    EXPECT_TRUE(t.unit.Messages().empty());
    EXPECT_EQ(t.mail.boxCount, 1);
    EXPECT_EQ(t.grid.RowCount(), 2);
    EXPECT_EQ(t.Row(1), (Strings{"999", "10:00"}));
    EXPECT_EQ(t.free.Text(), "90:00") << "6000 - 600 = 5400 seconds free";
    EXPECT_EQ(t.mail.text(), "999: 10:00\r\n");
    EXPECT_TRUE(Has(t.unit.Sent(), "MAIL\rGETALL\r"));
}

TEST(MailDlg, NoMailboxesOneCharacterOwnerAndSecondsShown)
{
    {
        TStateFile state({});
        TMailFixture t({"--state", state.Path()});
        t.grid.SetCell(0, 1, "stale");
        t.grid.SetCell(1, 1, "01:00");
        t.unit.Read(t.mail);
        EXPECT_EQ(t.mail.boxCount, 0);
        EXPECT_EQ(t.grid.RowCount(), 2);
        EXPECT_EQ(t.Row(1), (Strings{"", ""}));
        EXPECT_EQ(t.free.Text(), "120:00");
        EXPECT_EQ(t.mail.text(), "почтовые ящики отсутствуют");
    }
    {
        TStateFile state({"mailbox A 59", "mailbox Иван 3600"});
        TMailFixture t({"--state", state.Path()});
        t.unit.Read(t.mail);
        EXPECT_TRUE(t.unit.Messages().empty());
        EXPECT_EQ(t.Row(1), (Strings{"A", "00:59"}));
        EXPECT_EQ(t.Row(2), (Strings{"Иван", "60:00"}));
        EXPECT_EQ(t.mail.text(), "A: 00:59\r\nИван: 60:00\r\n");
        // The owner goes back to the unit in its code page.
        t.row = 2;
        t.unit.forms.AnswerConfirm(true);
        t.unit.Run(t.mail, 20);
        EXPECT_EQ(t.unit.Shown().back().text, "Удалить ящик Иван?");
        EXPECT_TRUE(Has(t.unit.Sent(), "DELETE\r\xC8\xE2\xE0\xED\rGETALL\r"));
        EXPECT_EQ(t.mail.text(), "A: 00:59\r\n");
    }
}

TEST(MailDlg, MoreMailboxesThanTheGridWasLaidOutForAreAllShown)
{
    std::vector<std::string> items;
    for (int i = 0; i < 18; ++i)
        items.push_back("mailbox box" + std::to_string(i) + " " + std::to_string(60 + i));
    TStateFile state(items);
    TMailFixture t({"--state", state.Path(), "--mailboxes", "30"});
    t.unit.Read(t.mail);
    EXPECT_TRUE(t.unit.Messages().empty());
    EXPECT_EQ(t.mail.boxCount, 18);
    EXPECT_EQ(t.grid.RowCount(), 19);
    EXPECT_EQ(t.Row(18), (Strings{"box17", "01:17"}));
    EXPECT_EQ(t.free.Text(), "99:27") << 7200 - (18 * 60 + 153);
    // Deleting the last one works on the record past the fifteenth.
    t.row = 18;
    t.unit.forms.AnswerConfirm(true);
    t.unit.Run(t.mail, 20);
    EXPECT_EQ(t.unit.Shown().back().text, "Удалить ящик box17?");
    EXPECT_EQ(t.mail.boxCount, 17);
    EXPECT_EQ(t.grid.RowCount(), 18);
}

TEST(MailDlg, LineWithoutSizeKeepsTheSizeTheRecordHad)
{
    TMailFixture t({"--replace", "N=999 S=600", "N=999 T=5"});
    t.mail.boxes = {{"old", 1234, 2, 15}};
    t.unit.Read(t.mail);
    EXPECT_TRUE(t.unit.Messages().empty());
    ASSERT_EQ(t.mail.boxCount, 1);
    EXPECT_EQ(t.mail.boxes[0].owner, "999");
    EXPECT_EQ(t.mail.boxes[0].size, 1234);
    EXPECT_EQ(t.mail.boxes[0].mode, 2) << "mode and period are never read";
    EXPECT_EQ(t.mail.boxes[0].period, 15);
    EXPECT_EQ(t.Row(1), (Strings{"999", "20:34"}));
}

TEST(MailDlg, CreateEditAndDeleteThenReadBack)
{
    TMailFixture t({"--mail-memory", "20000"});
    t.unit.Read(t.mail);
    t.unit.Sent();

    t.unit.forms.AnswerMailAdd(Create("Bob", 120));
    t.unit.Run(t.mail, 10);
    EXPECT_EQ(t.unit.Sent(), "CREATE\rBob\r7200\rGETALL\r");
    EXPECT_EQ(t.Row(2), (Strings{"Bob", "120:00"}));
    auto shown = t.unit.forms.LastMailAddShown();
    EXPECT_EQ(shown.Caption(), "Создание ящика");
    EXPECT_EQ(shown.SizeMinutes(), 15);
    EXPECT_EQ(t.mail.newSize, 7200);

    // Edit the mailbox on row 1: the owner goes as it is, the size in seconds.
    t.row = 1;
    t.unit.forms.AnswerMailAdd(SetMinutes(20));
    t.unit.Run(t.mail, 80);
    EXPECT_EQ(t.unit.Sent(), "EDIT\r999\r1200\rGETALL\r");
    EXPECT_EQ(t.Row(1), (Strings{"999", "20:00"}));
    shown = t.unit.forms.LastMailAddShown();
    EXPECT_EQ(shown.Caption(), "Параметры ящика");
    EXPECT_EQ(shown.Owner(), "999");
    EXPECT_FALSE(shown.OwnerEnabled());
    EXPECT_EQ(shown.SizeMinutes(), 10);

    t.row = 2;
    t.unit.forms.AnswerConfirm(true);
    t.unit.Run(t.mail, 20);
    EXPECT_EQ(t.unit.Sent(), "DELETE\rBob\rGETALL\r");
    EXPECT_EQ(t.mail.boxCount, 1);
    EXPECT_EQ(t.mail.text(), "999: 20:00\r\n");
    EXPECT_TRUE(t.unit.Messages().empty());
    EXPECT_EQ(t.free.Text(), "313:20") << "20000 - 1200 seconds free";
}

TEST(MailDlg, EditOfNinetySecondsOpensWithOneMinute)
{
    TStateFile state({"mailbox Ann 90"});
    TMailFixture t({"--state", state.Path()});
    t.unit.Read(t.mail);
    t.unit.Sent();
    t.unit.forms.AnswerMailAdd([](kv::TFormMailAdd&) { return true; });
    t.unit.Run(t.mail, 80);
    EXPECT_EQ(t.unit.forms.LastMailAddShown().SizeMinutes(), 1);
    EXPECT_EQ(t.unit.Sent(), "EDIT\rAnn\r60\rGETALL\r");
    EXPECT_EQ(t.Row(1), (Strings{"Ann", "01:00"}));
}

TEST(MailDlg, HeaderOrEmptyRowAndCancelSendNothing)
{
    TMailFixture t;
    t.unit.Read(t.mail);
    t.unit.Sent();
    for (int r : {0, 2, -1}) {
        t.row = r;
        t.unit.Run(t.mail, 20);
        t.unit.Run(t.mail, 80);
    }
    EXPECT_TRUE(t.unit.Shown().empty()) << "no dialog for the header or an empty row";
    t.row = 1;
    t.unit.forms.AnswerConfirm(false);
    t.unit.Run(t.mail, 20);
    t.unit.forms.AnswerMailAdd([](kv::TFormMailAdd&) { return false; });
    t.unit.Run(t.mail, 80);
    t.unit.forms.AnswerMailAdd([](kv::TFormMailAdd&) { return false; });
    t.unit.Run(t.mail, 10);
    EXPECT_EQ(t.unit.Shown().size(), 3u);
    EXPECT_EQ(t.unit.Sent(), "");
    EXPECT_TRUE(t.unit.Messages().empty());
    EXPECT_EQ(t.mail.action, 0);
}

TEST(MailDlg, UnitRefusals)
{
    {
        TMailFixture t({"--mailboxes", "1"});
        t.unit.Read(t.mail);
        t.unit.forms.AnswerMailAdd(Create("Bob", 5));
        t.unit.Run(t.mail, 10);
        EXPECT_EQ(t.unit.Messages(), (Strings{"Число почтовых ящиков максимально"}));
    }
    {
        // 120 minutes are more than the 6600 seconds still free.
        TMailFixture t;
        t.unit.Read(t.mail);
        t.unit.Sent();
        t.unit.forms.AnswerMailAdd(Create("Bob", 120));
        t.unit.Run(t.mail, 10);
        EXPECT_EQ(t.unit.Sent(), "CREATE\rBob\r7200\r") << "no read-back";
        // An owner the unit already has is refused instead of the size prompt.
        t.unit.forms.AnswerMailAdd(Create("999", 5));
        t.unit.Run(t.mail, 10);
        // A mailbox another tool deleted meanwhile.
        t.mail.boxes[0].owner = "777";
        t.unit.forms.AnswerConfirm(true);
        t.unit.Run(t.mail, 20);
        EXPECT_EQ(t.unit.Messages(), (Strings{"Недостаточно свободной памяти для создания ящика",
                                              "Mail: reply from device: ERROR", "Mail: Untypical error: NOT_FOUND"}));
    }
    {
        // The unit's answer to a bad size, and "OK " that is not "OK".
        TMailFixture t({"--replace", "NO_FREE_MEM", "ERROR", "--replace", "OK", "OK "});
        t.unit.Read(t.mail);
        t.unit.forms.AnswerMailAdd(Create("Bob", 120));
        t.unit.Run(t.mail, 10);
        t.unit.forms.AnswerMailAdd(Create("Eve", 1));
        t.unit.Run(t.mail, 10);
        t.unit.forms.AnswerConfirm(true);
        t.unit.Run(t.mail, 20);
        EXPECT_EQ(t.unit.Messages(), (Strings{"Mail: reply at the end of command: ERROR",
                                              "Mail: Unknown reply at the end of command",
                                              "Mail: Unknown reply from device"}));
    }
    {
        // A refusal of CREATE other than NO_FREE_BOX, and an unknown
        // answer instead of the size prompt.
        TMailFixture t({"--mailboxes", "1", "--replace", "NO_FREE_BOX", "NO_WAY"});
        t.unit.Read(t.mail);
        t.unit.forms.AnswerMailAdd(Create("Bob", 5));
        t.unit.Run(t.mail, 10);
        EXPECT_EQ(t.unit.Messages(), (Strings{"Mail: Unknown reply from device"}));
    }
}

// One exchange failure: kvsim's fault arguments, the start action and the
// message.
struct TMailFailure {
    std::vector<std::string> args;
    int action;
    std::string message;
};

class MailDlgFailure : public ::testing::TestWithParam<TMailFailure> {};

TEST_P(MailDlgFailure, IsReportedWithoutReadBack)
{
    const TMailFailure& f = GetParam();
    TMailFixture t(f.args);
    t.mail.boxes = {{"999", 600, 0, 0}};
    t.mail.boxCount = 1;
    t.grid.SetCell(0, 1, "shown");
    if (f.action == 10)
        t.unit.forms.AnswerMailAdd(Create("Bob", 15));
    if (f.action == 80)
        t.unit.forms.AnswerMailAdd(SetMinutes(15));
    if (f.action == 20)
        t.unit.forms.AnswerConfirm(true);
    t.unit.Run(t.mail, f.action);
    EXPECT_EQ(t.unit.Messages(), (Strings{f.message}));
    EXPECT_EQ(t.grid.Cell(0, 1), "shown") << "the grid is not redrawn";
    EXPECT_EQ(t.mail.action, 0);
    if (f.action != 3) {
        EXPECT_FALSE(Has(t.unit.Sent(), "GETALL")) << "no read-back after a failure";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Exchanges, MailDlgFailure,
    ::testing::Values(TMailFailure{{"--drop-echo", "GETALL"}, 3, "Mail: No echo at GETALL Command"},
                      TMailFailure{{"--mute", "GETALL"}, 3, "Mail: Time-out reply at GETALL Command"},
                      TMailFailure{{"--replace", "N=999 S=600", "N= S=600"}, 3, "Mail: Eror parsing string"},
                      TMailFailure{{"--replace", "N=999 S=600", "N=999"}, 3, "Mail: Eror parsing string"},
                      TMailFailure{{"--replace", "N=999 S=600", "N=999 S=6m"}, 3, "Mail: Incorrect size format"},
                      TMailFailure{{"--replace", "FREE=*", "FREE=lots"}, 3, "Mail: Incorrect size format"},
                      TMailFailure{{"--replace", "FREE=*", "RING 1"}, 3, "Mail: Unable to find FREE= or N="},
                      TMailFailure{{"--drop-echo", "CREATE"}, 10, "Mail: No echo at CREATE Command"},
                      TMailFailure{{"--drop", "N:"}, 10, "Mail: Time-out reply at CREATE Command"},
                      TMailFailure{{"--drop-echo", "Bob"}, 10, "Mail: No echo at owner input"},
                      TMailFailure{{"--drop", "S:"}, 10, "Mail: Time-out reply at owner input"},
                      TMailFailure{{"--drop-echo", "900"}, 10, "Mail: No echo at size input"},
                      TMailFailure{{"--mute", "900"}, 10, "Mail: No reply at the end of command"},
                      TMailFailure{{"--drop-echo", "EDIT"}, 80, "Mail: No echo at CREATE Command"},
                      TMailFailure{{"--drop", "N:"}, 80, "Mail: Time-out reply at CREATE Command"},
                      TMailFailure{{"--drop-echo", "DELETE"}, 20, "Mail: No echo at DELETE command"},
                      TMailFailure{{"--drop", "N:"}, 20, "Mail: Time-out reply at DELETE command"},
                      TMailFailure{{"--drop-echo", "999"}, 20, "Mail: No echo at owner input"},
                      TMailFailure{{"--mute", "999"}, 20, "Mail: No reply at the end of command"}));
