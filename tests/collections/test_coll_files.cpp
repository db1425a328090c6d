// Voice-file slots ("PC SYS>") and voice menus ("PC MENU>") against the
// simulated unit: reading, showing, deleting, editing keys, the exchanges
// that start a transfer, and every failure. The transfers themselves are in
// test_coll_transfer.cpp; here the engine's Start is a stand-in that counts.
#include <gtest/gtest.h>

#include "tests/support/UnitSession.h"
#include "collections/File.h"
#include "collections/MenuDlg.h"
#include "settings/View.h"

using namespace kvtest;
using kv::TFile;
using kv::TMenuDlg;

namespace {

struct TFileFixture {
    explicit TFileFixture(std::vector<std::string> args = {}) : unit(std::move(args))
    {
        bind(file, 60, 1);
        bind(empty, 73, 14);
    }
    void bind(TFile& f, int code, int row)
    {
        f.code = code;
        f.menu = 6;
        f.grid = &grid;
        f.col = 1;
        f.row = row;
        f.startTransfer = [this] { ++starts; };
    }
    Strings Row(int r) const { return {grid.Cell(1, r), grid.Cell(2, r), grid.Cell(3, r)}; }

    TUnitSession unit;
    kv::TGridModel grid{"sgMessages", 4, 15};
    TFile file;
    TFile empty;
    int starts = 0;
};

struct TMenuFixture {
    explicit TMenuFixture(std::vector<std::string> args = {}) : unit(std::move(args))
    {
        for (int i = 0; i < 3; ++i)
            bind(menus[i], i, grid, i + 1);
        bind(holiday, 22, greetings, 3);
    }
    void bind(TMenuDlg& m, int code, kv::TGridModel& g, int row)
    {
        m.code = code;
        m.menu = 9;
        m.grid = &g;
        m.col = 0;
        m.row = row;
        m.startTransfer = [this] { ++starts; };
    }
    Strings Row(int r) const
    {
        Strings cells;
        for (int c = 1; c <= 11; ++c)
            cells.push_back(grid.Cell(c, r));
        return cells;
    }

    TUnitSession unit;
    kv::TGridModel grid{"sgMenu", 12, 21};
    kv::TGridModel greetings{"sgGreetings", 12, 4};
    TMenuDlg menus[3];
    TMenuDlg holiday;
    int starts = 0;
};

const Strings kMenu0 = {"menu0.pcm", "N200", "N201", "N202", "-", "-", "-", "-", "-", "-", "L999"};

auto KeyMenu(const std::string& number)
{
    return [number](kv::TFormMenuItm& f) {
        f.Choose(kv::TFormMenuItm::rbMenu);
        f.SetMenuText(number);
        return true;
    };
}

}  // namespace

// ---- voice-file slots -------------------------------------------------------

TEST(File, ReadShowsNameDurationAndSize)
{
    TStateFile state({"file slot 60 msg60.pcm 16000 tone", "file slot 61 short.pcm 8000 tone",
                      "file slot 62 long.pcm 480000 tone"});
    TFileFixture t({"--state", state.Path()});
    TFile s61, s62;
    t.bind(s61, 61, 2);
    t.bind(s62, 62, 3);
    for (TFile* f : {&t.file, &t.empty, &s61, &s62})
        t.unit.Read(*f);
    EXPECT_TRUE(t.unit.Messages().empty());
    EXPECT_EQ(t.Row(1), (Strings{"msg60.pcm", "00:02", "16000"}));
    EXPECT_EQ(t.Row(2), (Strings{"short.pcm", "00:01", "8000"}));
    EXPECT_EQ(t.Row(3), (Strings{"long.pcm", "01:00", "480000"}));
    EXPECT_EQ(t.Row(14), (Strings{"Не записано", "", ""}));
    EXPECT_EQ(t.file.text(), "msg60.pcm");
    EXPECT_EQ(t.empty.text(), "Не записано");
    EXPECT_TRUE(Has(t.unit.Sent(), "SYS\rGET\r60\rGET\r73\rGET\r61\r"));
}

TEST(File, DeleteAsksClearsAndReadsBack)
{
    TFileFixture t;
    t.unit.Read(t.file);
    t.unit.Read(t.empty);
    t.unit.Sent();

    t.unit.forms.AnswerConfirm(false);
    t.unit.Run(t.file, 20);
    EXPECT_EQ(t.unit.Sent(), "");
    t.unit.Run(t.empty, 20);
    EXPECT_EQ(t.unit.Sent(), "") << "deleting an empty slot sends nothing";
    const auto shown = t.unit.Shown();
    ASSERT_EQ(shown.size(), 1u) << "and asks nothing";
    EXPECT_EQ(shown[0].text, "Удалить файл: msg60.pcm");

    t.unit.forms.AnswerConfirm(true);
    t.unit.Run(t.file, 20);
    EXPECT_EQ(t.unit.Sent(), "CLEAR\r60\rGET\r60\r");
    EXPECT_EQ(t.Row(1), (Strings{"Не записано", "", ""}));
    EXPECT_TRUE(t.unit.Messages().empty());
    EXPECT_EQ(t.file.action, 0);
}

TEST(File, TransferStartsAfterTheUnitsSideIsSet)
{
    TFileFixture t;
    t.unit.Read(t.file);
    t.unit.Sent();
    t.unit.Run(t.file, 40);
    EXPECT_EQ(t.unit.Sent(), "DLMSG\r60\r");
    EXPECT_EQ(t.starts, 1);
    EXPECT_EQ(t.file.action, 0);
    EXPECT_TRUE(t.unit.Messages().empty());
}

TEST(File, UploadSlotExchangeStartsTheEngine)
{
    TFileFixture t;
    t.unit.Read(t.empty);
    t.unit.Sent();
    t.unit.Run(t.empty, 30);
    EXPECT_EQ(t.unit.Sent(), "SET\r73\r");
    EXPECT_EQ(t.starts, 1);
    EXPECT_TRUE(t.unit.Messages().empty());
}

TEST(File, ASlotExchangeOnASilentLineStartsNoTransfer)
{
    TFileFixture t({"--drop-echo", "73"});
    int notStarted = 0;
    t.empty.transferNotStarted = [&] { ++notStarted; };
    t.unit.Run(t.empty, 30);
    EXPECT_EQ(t.unit.Messages(), (Strings{"SendSet: Bad Transactions"}));
    EXPECT_EQ(t.starts, 0) << "no engine on a line the unit does not answer";
    EXPECT_EQ(notStarted, 1) << "the transfer dialog is told, and closes";
}

TEST(File, AReadOnASilentLineLeavesTheSlotsRowAsItWas)
{
    TFileFixture t({"--mute", "60"});
    t.file.fileName = "kept.pcm";
    t.file.fileSize = 24000;
    t.grid.SetCell(1, 1, "shown");
    t.unit.Read(t.file);
    EXPECT_EQ(t.unit.Messages(), (Strings{"MessageGet: Reception error"}));
    EXPECT_EQ(t.Row(1), (Strings{"shown", "", ""})) << "the job ended at the silent exchange";
    EXPECT_EQ(t.file.fileName, "kept.pcm");
}

struct TSlotFailure {
    std::vector<std::string> args;
    int action;
    std::string message;
};

class FileFailure : public ::testing::TestWithParam<TSlotFailure> {};

TEST_P(FileFailure, IsReportedAndTheJobEnds)
{
    const TSlotFailure& f = GetParam();
    TFileFixture t(f.args);
    t.file.fileName = "msg60.pcm";
    t.file.fileSize = 16000;
    if (f.action == 20)
        t.unit.forms.AnswerConfirm(true);
    t.unit.Run(t.file, f.action);
    EXPECT_EQ(t.unit.Messages(), (Strings{f.message}));
    EXPECT_EQ(t.starts, 0) << "no engine after a failed exchange";
    EXPECT_EQ(t.file.action, 0);
    EXPECT_FALSE(Has(t.unit.Sent(), "GET\r")) << "no read-back";
}

INSTANTIATE_TEST_SUITE_P(
    Exchanges, FileFailure,
    ::testing::Values(TSlotFailure{{"--drop-echo", "CLEAR"}, 20, "File (CLEAR): No echo at command"},
                      TSlotFailure{{"--drop", "N:"}, 20, "File (CLEAR): Time-out of prompt"},
                      TSlotFailure{{"--drop-echo", "60"}, 20, "File (CLEAR): No echo at parameter"},
                      TSlotFailure{{"--mute", "60"}, 20, "File (CLEAR): Time-out of reply"},
                      TSlotFailure{{"--replace", "OK", "ERROR"}, 20, "File (CLEAR): reply: 'ERROR'"},
                      TSlotFailure{{"--replace", "OK", "OK "}, 20, "File (CLEAR): Unknown error"},
                      TSlotFailure{{"--drop-echo", "DLMSG"}, 40, "File (DLMSG): No echo at command"},
                      TSlotFailure{{"--drop", "N:"}, 40, "File (DLMSG): Time-out of prompt"},
                      TSlotFailure{{"--drop-echo", "60"}, 40, "File (DLMSG): No echo at parameter"},
                      TSlotFailure{{"--drop", "START"}, 40, "File (DLMSG): Time-out of prompt"}));

TEST(File, DownloadOfAnEmptySlotGetsNoStart)
{
    TFileFixture t;
    t.empty.fileName = "gone.pcm";  // what the screen still showed
    t.unit.Run(t.empty, 40);
    EXPECT_EQ(t.unit.Messages(), (Strings{"File (DLMSG): Time-out of prompt"}));
    EXPECT_EQ(t.starts, 0);
}

// ---- voice menus ------------------------------------------------------------

TEST(MenuDlg, ReadShowsTheMenuRowAndExportsIt)
{
    TMenuFixture t;
    for (TMenuDlg& m : t.menus)
        t.unit.Read(m);
    t.unit.Read(t.holiday);
    EXPECT_TRUE(t.unit.Messages().empty());
    EXPECT_EQ(t.Row(1), kMenu0);
    EXPECT_EQ(t.menus[0].fileSize, 48000);
    EXPECT_EQ(t.Row(2)[0], "не назначен");
    EXPECT_EQ(t.greetings.Cell(1, 3), "не назначен");
    EXPECT_EQ(t.greetings.Cell(2, 3), "-");
    EXPECT_EQ(t.menus[0].text(),
              "Файл: menu0.pcm\r\nДействие на 0: N200\r\nДействие на 1: N201\r\nДействие на 2: N202\r\n"
              "Действие на 3: -\r\nДействие на 4: -\r\nДействие на 5: -\r\nДействие на 6: -\r\n"
              "Действие на 7: -\r\nДействие на 8: -\r\nДействие на 9: L999\r\n");
    TMenuDlg loose;
    EXPECT_EQ(loose.text(), "не определено");
    EXPECT_TRUE(Has(t.unit.Sent(), "MENU\rGET\r0\rGET\r1\rGET\r2\rGET\r22\r"));
}

TEST(MenuDlg, EditWritesTheWholeMenuAndReadsBack)
{
    TMenuFixture t;
    TMenuDlg& m = t.menus[0];
    t.unit.Read(m);
    t.unit.Sent();

    m.editKey = 3;
    t.unit.forms.AnswerMenuItm(KeyMenu("5"));
    t.unit.Run(m, 60);
    EXPECT_EQ(t.unit.Sent(), "SET\r0\r0\rN200\rN201\rN202\rM5\r-\r-\r-\r-\r-\rL999\rGET\r0\r");
    EXPECT_EQ(t.grid.Cell(5, 1), "M5");
    auto shown = t.unit.forms.LastMenuItmShown();
    EXPECT_EQ(shown.Kind(), kv::TFormMenuItm::rbNone) << "opened from \"-\"";
    EXPECT_FALSE(shown.Visible(kv::TFormMenuItm::rbMsgLeave));
    EXPECT_EQ(shown.MenuMax(), 19);

    // Untouched OK on a mailbox action writes it again as it was.
    m.editKey = 9;
    t.unit.forms.AnswerMenuItm([](kv::TFormMenuItm&) { return true; });
    t.unit.Run(m, 60);
    EXPECT_EQ(t.unit.Sent(), "SET\r0\r0\rN200\rN201\rN202\rM5\r-\r-\r-\r-\r-\rL999\rGET\r0\r");
    EXPECT_EQ(t.unit.forms.LastMenuItmShown().Kind(), kv::TFormMenuItm::rbMsgLeave);

    // A transfer with an empty extension writes "N" alone.
    m.editKey = 0;
    t.unit.forms.AnswerMenuItm([](kv::TFormMenuItm& f) {
        EXPECT_EQ(f.Ext(), "200");
        f.SetExt("");
        return true;
    });
    t.unit.Run(m, 60);
    EXPECT_TRUE(Has(t.unit.Sent(), "SET\r0\r0\rN\rN201\r"));
    EXPECT_EQ(t.grid.Cell(2, 1), "N");

    // Cancel sends nothing and keeps the key.
    t.unit.forms.AnswerMenuItm([](kv::TFormMenuItm& f) {
        f.Choose(kv::TFormMenuItm::rbNone);
        return false;
    });
    t.unit.Run(m, 60);
    EXPECT_EQ(t.unit.Sent(), "");
    EXPECT_EQ(m.keys[0], "N");
    EXPECT_TRUE(t.unit.Messages().empty());
}

TEST(MenuDlg, ItemLinesAreMatchedByTheirFirstCharacter)
{
    TMenuFixture t({"--replace", "4-", "4 anything at all", "--replace", "3-", "3X"});
    TMenuDlg& m = t.menus[0];
    t.unit.Read(m);
    EXPECT_TRUE(t.unit.Messages().empty());
    EXPECT_EQ(m.keys[4], " anything at all");
    EXPECT_EQ(t.grid.Cell(5, 1), "X");

    // An action the dialog does not know opens it with "Не назначено".
    m.editKey = 3;
    t.unit.forms.AnswerMenuItm([](kv::TFormMenuItm&) { return false; });
    t.unit.Run(m, 60);
    EXPECT_EQ(t.unit.Messages(), (Strings{"Wrong item information !"}));
    EXPECT_EQ(t.unit.forms.LastMenuItmShown().Kind(), kv::TFormMenuItm::rbNone);
}

TEST(MenuDlg, DeleteAsksAndReadsBack)
{
    TMenuFixture t;
    t.unit.Read(t.menus[0]);
    t.unit.Read(t.menus[1]);
    t.unit.Sent();
    t.unit.Run(t.menus[1], 20);
    EXPECT_TRUE(t.unit.Shown().empty()) << "a menu without a file asks nothing";
    t.unit.forms.AnswerConfirm(false);
    t.unit.Run(t.menus[0], 20);
    EXPECT_EQ(t.unit.Sent(), "");
    t.unit.forms.AnswerConfirm(true);
    t.unit.Run(t.menus[0], 20);
    const auto shown = t.unit.Shown();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].text, "Удалить файл: menu0.pcm из меню 0 ?");
    EXPECT_EQ(t.unit.Sent(), "DELMSG\r0\rGET\r0\r");
    EXPECT_EQ(t.grid.Cell(1, 1), "не назначен");
    EXPECT_EQ(t.grid.Cell(2, 1), "N200") << "the keys stay";
}

TEST(MenuDlg, TransferStartsAfterTheUnitsSideIsSet)
{
    TMenuFixture t;
    t.unit.Read(t.menus[0]);
    t.unit.Sent();
    t.unit.Run(t.menus[1], 30);
    EXPECT_EQ(t.unit.Sent(), "ULMSG\r1\r");
    EXPECT_EQ(t.starts, 1);
    EXPECT_TRUE(t.unit.Messages().empty());
}

TEST(MenuDlg, DownloadStartsAfterStart)
{
    TMenuFixture t;
    t.unit.Read(t.menus[0]);
    t.unit.Sent();
    t.unit.Run(t.menus[0], 40);
    EXPECT_EQ(t.unit.Sent(), "DLMSG\r0\r");
    EXPECT_EQ(t.starts, 1);
    EXPECT_TRUE(t.unit.Messages().empty());
}

struct TMenuFailure {
    std::vector<std::string> args;
    int action;
    int key;                   // edited key for action 60
    std::string menuNumber;    // typed into the menu number field, "" = untouched OK
    std::string message;
    // The unit answered the write: the object reads the menu back and then
    // holds, for the edited key, this (what the unit holds); "" for none.
    std::string held = "";
};

class MenuFailure : public ::testing::TestWithParam<TMenuFailure> {};

TEST_P(MenuFailure, IsReportedAndTheRowKeepsWhatItShowed)
{
    const TMenuFailure& f = GetParam();
    TMenuFixture t(f.args);
    TMenuDlg& m = t.menus[0];
    m.fileName = "menu0.pcm";
    m.keys = {"N200", "N201", "N202", "-", "-", "-", "-", "-", "-", "L999"};
    t.grid.SetCell(1, 1, "shown");
    if (f.action == 60) {
        m.editKey = f.key;
        if (f.menuNumber.empty())
            t.unit.forms.AnswerMenuItm([](kv::TFormMenuItm&) { return true; });
        else
            t.unit.forms.AnswerMenuItm(KeyMenu(f.menuNumber));
    }
    if (f.action == 20)
        t.unit.forms.AnswerConfirm(true);
    t.unit.Run(m, f.action);
    const Strings messages = t.unit.Messages();
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back(), f.message);
    if (!f.held.empty()) {
        // What the unit holds, not what was sent, in the object and the row.
        EXPECT_EQ(messages.size(), 1u);
        EXPECT_TRUE(Has(t.unit.Sent(), "\rGET\r0\r"));
        EXPECT_EQ(m.keys[static_cast<size_t>(f.key)], f.held);
        EXPECT_EQ(t.Row(1)[static_cast<size_t>(f.key) + 1], f.held);
        EXPECT_EQ(t.Row(1)[0], "menu0.pcm");
    } else {
        EXPECT_EQ(t.grid.Cell(1, 1), "shown");
    }
    EXPECT_EQ(t.starts, 0);
    EXPECT_EQ(m.action, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Get, MenuFailure,
    ::testing::Values(
        TMenuFailure{{"--mute", "0"}, 3, 0, "", "Menu: Time-out in GET"},
        TMenuFailure{{"--replace", "TC=0", "XC=0"}, 3, 0, "", "Menu (GET): Can't find TC="},
        TMenuFailure{{"--replace", "TC=0", "TC=none"}, 3, 0, "", "Menu (GET): Incorrect number format (TC), parameter: 0"},
        TMenuFailure{{"--drop", "MSG=*", "--drop", "0*", "--drop", "1*", "--drop", "2*", "--drop", "3*", "--drop", "4*",
                      "--drop", "5*", "--drop", "6*", "--drop", "7*", "--drop", "8*", "--drop", "9*"},
                     3, 0, "", "Menu (GET): Time out on MSG="},
        TMenuFailure{{"--replace", "MSG=*", "MSG=menu0.pcm 48k"}, 3, 0, "", "Menu (GET): Incorrect length format, parameter: 0"},
        TMenuFailure{{"--replace", "MSG=*", "MESSAGE"}, 3, 0, "", "Menu (GET): Can't find MSG="},
        TMenuFailure{{"--drop", "9*"}, 3, 0, "", "Menu (GET): Time-out on item"},
        TMenuFailure{{"--replace", "5-", "6-"}, 3, 0, "", "Menu (GET): Can't find item number"}));

INSTANTIATE_TEST_SUITE_P(
    Set, MenuFailure,
    ::testing::Values(
        TMenuFailure{{"--drop", "TC:"}, 60, 3, "5", "Menu (SET): Time-out for 'TC'"},
        TMenuFailure{{"--drop", "3:"}, 60, 3, "5", "Menu (SET): No item prompt for item of incorrect reply"},
        TMenuFailure{{"--drop-echo", "N202"}, 60, 3, "5", "Menu (SET): No echo for item value"},
        // Menu 45 does not exist: the unit refuses key 0 instead of asking for key 1.
        TMenuFailure{{}, 60, 0, "45", "Menu (SET): 'ERROR' instead of item prompt", "N200"},
        TMenuFailure{{"--replace", "ERROR", "WHAT?"}, 60, 0, "45", "Menu (SET): Unknown error (items)", "N200"},
        TMenuFailure{{"--mute", "L999"}, 60, 3, "5", "Menu (SET): Time-out on final reply"},
        TMenuFailure{{}, 60, 9, "45", "Menu (SET): Final reply: 'ERROR'", "L999"},
        TMenuFailure{{"--replace", "OK", "OK "}, 60, 3, "5", "Menu (SET):Unknown final reply", "M5"}));

INSTANTIATE_TEST_SUITE_P(
    Files, MenuFailure,
    ::testing::Values(TMenuFailure{{"--drop-echo", "ULMSG"}, 30, 0, "", "Menu (ULMSG): No echo for command"},
                      TMenuFailure{{"--drop", "N:"}, 30, 0, "", "Menu (ULMSG): Time-out of number prompt"},
                      TMenuFailure{{"--drop-echo", "0"}, 30, 0, "", "Menu (ULMSG): No echo for number"},
                      TMenuFailure{{"--drop-echo", "DELMSG"}, 20, 0, "", "Menu (DELMSG): No echo at command"},
                      TMenuFailure{{"--drop", "N:"}, 20, 0, "", "Menu (DELMSG): Time-out of prompt"},
                      TMenuFailure{{"--drop-echo", "0"}, 20, 0, "", "Menu (DELMSG): No echo at parameter"},
                      TMenuFailure{{"--mute", "0"}, 20, 0, "", "Menu (DELMSG): Time-out of reply"},
                      TMenuFailure{{"--replace", "OK", "ERROR"}, 20, 0, "", "Menu (DELMSG): reply: 'ERROR'"},
                      TMenuFailure{{"--replace", "OK", "OK "}, 20, 0, "", "Menu (DELMSG): Unknown error"},
                      TMenuFailure{{"--drop-echo", "DLMSG"}, 40, 0, "", "File (DLMSG): No echo at command"}));

// The call code goes back as it was read; its echo missing is reported.
TEST(MenuDlg, MissingEchoOfTheCallCode)
{
    TMenuFixture t({"--drop-echo", "0"});
    TMenuDlg& m = t.menus[1];
    t.unit.Read(m);
    const auto held = m.keys;
    m.editKey = 2;
    t.unit.forms.AnswerMenuItm(KeyMenu("7"));
    t.unit.Run(m, 60);
    EXPECT_EQ(t.unit.Messages(), (Strings{"Menu (SET): No echo for TC value"}));
    EXPECT_EQ(m.keys, held) << "a write lost on the line leaves the keys as the unit holds them";
    EXPECT_TRUE(Has(t.unit.Sent(), "SET\r1\r0\r"));
}

// A key action the unit refuses does not stay in the object: the menu is
// read back, the row shows what the unit holds, and the next edit of
// another key sends the unit's action for the refused key, not the refused one.
TEST(MenuDlg, ARefusedActionIsReadBackAndNotSentAgain)
{
    TMenuFixture t;
    TMenuDlg& m = t.menus[0];
    t.unit.Read(m);
    t.unit.Sent();

    m.editKey = 5;
    t.unit.forms.AnswerMenuItm(KeyMenu("45"));  // menu 45 does not exist
    t.unit.Run(m, 60);
    EXPECT_EQ(t.unit.Messages(), (Strings{"Menu (SET): 'ERROR' instead of item prompt"}));
    EXPECT_EQ(t.unit.Sent(), "SET\r0\r0\rN200\rN201\rN202\r-\r-\rM45\rGET\r0\r");
    EXPECT_EQ(m.keys[5], "-");
    EXPECT_EQ(t.Row(1), kMenu0);

    m.editKey = 6;
    t.unit.forms.AnswerMenuItm(KeyMenu("7"));
    t.unit.Run(m, 60);
    EXPECT_EQ(t.unit.Sent(), "SET\r0\r0\rN200\rN201\rN202\r-\r-\r-\rM7\r-\r-\rL999\rGET\r0\r");
    EXPECT_EQ(t.grid.Cell(8, 1), "M7");
    EXPECT_EQ(t.grid.Cell(7, 1), "-");
    EXPECT_TRUE(t.unit.Messages().empty());
}
