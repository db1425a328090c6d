// The extension list against the simulated unit ("PC LIST>"), and against a
// scripted peer for the answers to the access string that kvsim never
// leaves out.
#include <gtest/gtest.h>

#include "PtyPeer.h"
#include "tests/support/UnitSession.h"
#include "collections/ListDlg.h"
#include "session/Cp1251.h"
#include "settings/View.h"

using namespace kvtest;
using kv::TListDlg;

namespace {

const std::string kAccess = "\xEB\xEC\xE6\r";  // "лмж" and CR in code page 1251

struct TListFixture {
    explicit TListFixture(std::vector<std::string> args = {}) : unit(std::move(args))
    {
        list.menu = 7;
        list.target = &memo;
    }
    TUnitSession unit;
    kv::TLinesModel memo{"memNumbers"};
    TListDlg list;
};

auto Range(const std::string& first, const std::string& last)
{
    return [first, last](kv::TFormList2& f) {
        f.SetEdit1(first);
        f.SetEdit2(last);
        return true;
    };
}

}  // namespace

TEST(ListDlg, ReadShowsTheUnitsListAndExportsIt)
{
    TListFixture t;
    t.unit.Read(t.list);
    EXPECT_EQ(t.memo.Lines(), (Strings{"201-210", "220"}));
    EXPECT_EQ(t.list.items, (Strings{"201-210", "220"}));
    EXPECT_EQ(t.list.text(), "201-210, 220");
    const std::string sent = t.unit.Sent();
    EXPECT_TRUE(Has(sent, "LIST\rGETALL\r" + kAccess)) << sent;
    EXPECT_TRUE(t.unit.Messages().empty());
    EXPECT_EQ(t.list.action, 0);
}

TEST(ListDlg, AddAndRemoveNumbersAndRangesThenReadBack)
{
    TListFixture t;
    t.unit.Read(t.list);
    t.unit.Sent();

    t.unit.values.AnswerDirectory("230");
    t.unit.Run(t.list, 10);
    EXPECT_EQ(t.unit.Sent(), "ADD\r230\rGETALL\r" + kAccess);
    EXPECT_EQ(t.memo.Lines(), (Strings{"201-210", "220", "230"}));
    // The number dialog opens empty, without "*" and without a length limit.
    const auto shown = t.unit.values.Shown();
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.back().caption, "Ввод номера");
    EXPECT_EQ(shown.back().text, "");
    EXPECT_FALSE(shown.back().allowStar);
    EXPECT_EQ(shown.back().maxLength, 0);

    t.unit.forms.AnswerList2(Range("240", "249"));
    t.unit.Run(t.list, 15);
    EXPECT_EQ(t.unit.Sent(), "ADD\r240-249\rGETALL\r" + kAccess);
    EXPECT_EQ(t.memo.Lines(), (Strings{"201-210", "220", "230", "240-249"}));

    t.unit.values.AnswerDirectory("205");
    t.unit.Run(t.list, 20);
    EXPECT_EQ(t.unit.Sent(), "REMOVE\r205\rGETALL\r" + kAccess);
    EXPECT_EQ(t.memo.Lines(), (Strings{"201-204", "206-210", "220", "230", "240-249"}));

    t.unit.forms.AnswerList2(Range("240", "249"));
    t.unit.Run(t.list, 25);
    EXPECT_EQ(t.unit.Sent(), "REMOVE\r240-249\rGETALL\r" + kAccess);
    EXPECT_EQ(t.list.text(), "201-204, 206-210, 220, 230");

    const auto forms = t.unit.Shown();
    ASSERT_EQ(forms.size(), 2u);
    EXPECT_EQ(forms[0].text, "Введите диапазон");
    EXPECT_TRUE(t.unit.Messages().empty());
}

TEST(ListDlg, CancelledOrUneditedDialogsSendNothing)
{
    TListFixture t;
    t.unit.Read(t.list);
    t.unit.Sent();

    t.unit.values.AnswerCancel();
    t.unit.Run(t.list, 10);
    t.unit.values.AnswerDirectory("", true, true);  // OK without typing
    t.unit.Run(t.list, 20);
    t.unit.values.AnswerDirectory("230", true, false);  // typed, then Отмена
    t.unit.Run(t.list, 10);

    t.unit.forms.AnswerList2([](kv::TFormList2&) { return false; });  // Отмена
    t.unit.Run(t.list, 15);
    t.unit.forms.AnswerList2([](kv::TFormList2& f) {  // only one field
        f.SetEdit1("240");
        return true;
    });
    t.unit.Run(t.list, 25);
    t.unit.forms.AnswerList2([](kv::TFormList2&) { return true; });  // OK untouched
    t.unit.Run(t.list, 15);
    t.unit.forms.AnswerList2([](kv::TFormList2& f) {  // one field changed twice
        f.SetEdit2("240");
        f.SetEdit2("249");
        return true;
    });
    t.unit.Run(t.list, 15);

    EXPECT_EQ(t.unit.Sent(), "");
    EXPECT_EQ(t.unit.Shown().size(), 4u);
    EXPECT_EQ(t.memo.Lines(), (Strings{"201-210", "220"}));
    EXPECT_TRUE(t.unit.Messages().empty());
    EXPECT_EQ(t.list.action, 0);
}

TEST(ListDlg, RangesAreSentAsTypedAndTheUnitDecides)
{
    TListFixture t;
    t.unit.Read(t.list);
    t.unit.Sent();
    t.unit.forms.AnswerList2(Range("219", "210"));
    t.unit.Run(t.list, 15);
    EXPECT_EQ(t.unit.Sent(), "ADD\r219-210\r") << "no read-back after a refusal";
    EXPECT_EQ(t.unit.Messages(), (Strings{"List (ADD): Reply: ERROR"}));

    t.unit.values.AnswerDirectory("999");
    t.unit.Run(t.list, 20);
    EXPECT_EQ(t.unit.Sent(), "REMOVE\r999\r");
    EXPECT_EQ(t.unit.Messages(), (Strings{"List (REMOVE): Reply: ERROR"}));
    EXPECT_EQ(t.memo.Lines(), (Strings{"201-210", "220"}));
}

TEST(ListDlg, EmptyListOneEntryAndEmptyLines)
{
    {
        TStateFile state({});
        TListFixture t({"--state", state.Path()});
        t.memo.SetLines({"old"});
        t.unit.Read(t.list);
        EXPECT_TRUE(t.memo.Lines().empty());
        EXPECT_EQ(t.list.text(), "");
    }
    {
        TStateFile state({"list 201"});
        TListFixture t({"--state", state.Path()});
        t.unit.Read(t.list);
        EXPECT_EQ(t.list.text(), "201");
    }
    {
        // A unit that sends an empty line between two entries.
        TStateFile state({"list 201", "list 205", "list 210-219"});
        TListFixture t({"--state", state.Path(), "--replace", "205", ""});
        t.unit.Read(t.list);
        EXPECT_EQ(t.memo.Lines(), (Strings{"201", "", "210-219"}));
        EXPECT_EQ(t.list.text(), "201, , 210-219");
        EXPECT_TRUE(t.unit.Messages().empty());
    }
}

TEST(ListDlg, UnitRefusalsAndUnknownReplies)
{
    {
        TListFixture t({"--list-size", "2"});
        t.unit.Read(t.list);
        t.unit.values.AnswerDirectory("230");
        t.unit.Run(t.list, 10);
        // Cutting 205 out of 201-210 needs one entry more than the unit holds.
        t.unit.values.AnswerDirectory("205");
        t.unit.Run(t.list, 20);
        EXPECT_EQ(t.unit.Messages(), (Strings{"List (ADD): Reply: NO_FREE_MEM", "List (REMOVE): Reply: NO_FREE_MEM"}));
        EXPECT_EQ(t.memo.Lines(), (Strings{"201-210", "220"}));
    }
    {
        // "OK " is not "OK".
        TListFixture t({"--replace", "OK", "OK "});
        t.unit.Read(t.list);
        t.unit.values.AnswerDirectory("230");
        t.unit.Run(t.list, 10);
        t.unit.values.AnswerDirectory("220");
        t.unit.Run(t.list, 20);
        EXPECT_EQ(t.unit.Messages(), (Strings{"List (ADD): Unknown error", "List (REMOVE): Unknown error"}));
        EXPECT_EQ(t.memo.Lines(), (Strings{"201-210", "220"})) << "no read-back after an unknown reply";
    }
}

// One exchange failure: kvsim's fault arguments, the start action, the
// number typed, and the message.
struct TListFailure {
    std::vector<std::string> args;
    int action;
    std::string message;
};

class ListDlgFailure : public ::testing::TestWithParam<TListFailure> {};

TEST_P(ListDlgFailure, IsReportedAndLeavesTheListAsItWas)
{
    const TListFailure& f = GetParam();
    TListFixture t(f.args);
    // What an earlier read left.
    t.list.items = {"old"};
    t.memo.SetLines({"old"});
    if (f.action != 3)
        t.unit.values.AnswerDirectory("230");
    t.unit.Run(t.list, f.action);
    EXPECT_EQ(t.unit.Messages(), (Strings{f.message}));
    EXPECT_EQ(t.list.items, (Strings{"old"}));
    EXPECT_EQ(t.memo.Lines(), (Strings{"old"}));
    EXPECT_EQ(t.list.action, 0);
    if (f.action != 3) {
        EXPECT_FALSE(Has(t.unit.Sent(), "GETALL")) << "no read-back after a failure";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Exchanges, ListDlgFailure,
    ::testing::Values(TListFailure{{"--drop-echo", "GETALL"}, 3, "List: No echo at GETALL command"},
                      TListFailure{{"--mute", "GETALL"}, 3, "List: No reply at GETALL command"},
                      TListFailure{{"--drop-echo", "ADD"}, 10, "List: No echo at ADD command"},
                      TListFailure{{"--drop", "N:"}, 10, "List (ADD): Time-out of number prompt"},
                      TListFailure{{"--drop-echo", "230"}, 10, "List (ADD): No echo of parameter"},
                      TListFailure{{"--mute", "230"}, 10, "List (ADD): No reply"},
                      TListFailure{{"--drop-echo", "REMOVE"}, 20, "List: No echo at REMOVE command"},
                      TListFailure{{"--drop", "N:"}, 20, "List (REMOVE): Time-out of number prompt"},
                      TListFailure{{"--drop-echo", "230"}, 20, "List (REMOVE): No echo of parameter"},
                      TListFailure{{"--mute", "230"}, 20, "List (REMOVE): No reply"}));

// The answer to the access string after GETALL: kvsim always echoes it and
// answers, so a scripted peer plays a unit that does not.
TEST(ListDlg, AccessStringFailuresKeepTheNewEntriesButNotTheMemo)
{
    TUiThread ui;
    kv::TScriptedDialogs dialogs;
    for (bool echoed : {false, true}) {
        kvtest::TPtyPeer peer(false);
        peer.On("GETALL\r", "GETALL\r201\r\r230\rPC LIST>");
        if (echoed)
            peer.On(kAccess, kAccess);  // echo, but no answer line
        kv::TFormComm comm;
        comm.VaComm1.SetDeviceName(peer.Path());
        comm.VaComm1.Open();
        kv::TCOMServer server;
        kv::TLinesModel memo{"memNumbers"};
        TListDlg list;
        list.menu = 7;
        list.target = &memo;
        memo.SetLines({"old"});
        list.action = 3;
        server.idle.Unsignal();
        server.Start(&list);
        while (server.idle.WaitMs(0) != kv::wrSignaled)
            kv::UiBridge().ProcessEvents(100);
        EXPECT_EQ(list.items, (Strings{"201", "", "230"}));
        EXPECT_EQ(memo.Lines(), (Strings{"old"}));
        EXPECT_EQ(list.text(), "201, , 230") << "the export sees what the screen does not";
        EXPECT_EQ(dialogs.Messages().back(), echoed ? "List (GETALL): No final reply" : "List (GETALL): No echo");
        server.Terminate();
    }
}
