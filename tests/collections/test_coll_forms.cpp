// The dialog rules and the reply parsing of the collections, and their place
// in the catalogue, without a unit.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "../session/Harness.h"
#include "collections/Factory.h"
#include "collections/File.h"
#include "collections/Forms.h"
#include "collections/ListDlg.h"
#include "collections/MailDlg.h"
#include "collections/MenuDlg.h"
#include "tests/support/ScriptedCollectionDialogs.h"
#include "collections/Wire.h"
#include "session/Cp1251.h"
#include "tests/support/ScriptedValueDialogs.h"

using namespace kv;

// ---- range dialog ----------------------------------------------------------

TEST(FormList2, FilledOnlyWhenBothFieldsChanged)
{
    TFormList2 f;
    EXPECT_FALSE(f.Filled());
    f.SetEdit1("210");
    EXPECT_FALSE(f.Filled());
    f.SetEdit1("211");
    EXPECT_FALSE(f.Filled()) << "two changes of one field are not both fields";
    f.SetEdit2("");  // the text it already holds: no change
    EXPECT_FALSE(f.Filled());
    f.SetEdit2("219");
    EXPECT_TRUE(f.Filled());
    EXPECT_EQ(f.Range(), "211-219");
}

TEST(FormList2, TextsAreNeitherCheckedNorOrdered)
{
    TFormList2 f;
    f.SetEdit1("219");
    f.SetEdit2("210");
    EXPECT_EQ(f.Range(), "219-210");
    TFormList2 g;
    g.SetEdit1("a b");
    g.SetEdit2("x");
    EXPECT_EQ(g.Range(), "a b-x");
    // Typed and wiped again still counts as changed.
    TFormList2 h;
    h.SetEdit1("5");
    h.SetEdit1("");
    h.SetEdit2("7");
    EXPECT_TRUE(h.Filled());
    EXPECT_EQ(h.Range(), "-7");
}

// ---- key action dialog -----------------------------------------------------

TEST(FormMenuItm, InitialChoiceFromTheKeysText)
{
    struct Case {
        std::string text;
        bool ok;
        TFormMenuItm::TKind kind;
        int menu;
        std::string ext;
    };
    const Case cases[] = {
        {"-", true, TFormMenuItm::rbNone, 0, ""},
        {"M5", true, TFormMenuItm::rbMenu, 5, ""},
        {"M19", true, TFormMenuItm::rbMenu, 19, ""},
        {"M07", true, TFormMenuItm::rbMenu, 7, ""},
        {"N201", true, TFormMenuItm::rbXfer, 0, "201"},
        {"N", true, TFormMenuItm::rbXfer, 0, ""},
        {"L3", true, TFormMenuItm::rbMsgLeave, 0, "3"},
        {"G44", true, TFormMenuItm::rbMsgGet, 0, "44"},
        {"", false, TFormMenuItm::rbNone, 0, ""},
        {"X1", false, TFormMenuItm::rbNone, 0, ""},
        {"m5", false, TFormMenuItm::rbNone, 0, ""},
        {"M", false, TFormMenuItm::rbNone, 0, ""},
        {"Mx", false, TFormMenuItm::rbNone, 0, ""},
        {"M123", false, TFormMenuItm::rbNone, 0, ""},
        {"M-1", false, TFormMenuItm::rbNone, 0, ""},
    };
    for (const Case& c : cases) {
        TFormMenuItm f;
        EXPECT_EQ(f.Load(c.text), c.ok) << c.text;
        EXPECT_EQ(f.Kind(), c.kind) << c.text;
        EXPECT_EQ(f.MenuNumber(), c.menu) << c.text;
        EXPECT_EQ(f.Ext(), c.ext) << c.text;
    }
    // An extension longer than the field is cut to 14 characters.
    TFormMenuItm f;
    f.Load("N1234567890123456");
    EXPECT_EQ(f.Ext(), "12345678901234");
}

TEST(FormMenuItm, HiddenMailboxChoicesKeepTheirKindOnUntouchedOk)
{
    TFormMenuItm f;
    ASSERT_TRUE(f.Load("L3"));
    f.HideMailboxChoices();
    EXPECT_FALSE(f.Visible(TFormMenuItm::rbMsgLeave));
    EXPECT_FALSE(f.Visible(TFormMenuItm::rbMsgGet));
    EXPECT_TRUE(f.Visible(TFormMenuItm::rbXfer));
    EXPECT_EQ(f.XferTop(), 98);
    EXPECT_EQ(f.MenuMax(), 19);
    // No visible choice is marked, the checked one is the hidden rbMsgLeave.
    EXPECT_EQ(f.Kind(), TFormMenuItm::rbMsgLeave);
    EXPECT_TRUE(f.ExtEnabled());
    EXPECT_EQ(f.Result(), "L3");
    // Hidden buttons cannot be clicked.
    EXPECT_FALSE(f.Choose(TFormMenuItm::rbMsgGet));
    EXPECT_EQ(f.Kind(), TFormMenuItm::rbMsgLeave);
    // A visible choice replaces it; the number stays in the field.
    EXPECT_TRUE(f.Choose(TFormMenuItm::rbXfer));
    EXPECT_EQ(f.Result(), "N3");
}

TEST(FormMenuItm, EnablingFollowsTheChoice)
{
    TFormMenuItm f;
    EXPECT_EQ(f.Kind(), TFormMenuItm::rbNone);
    EXPECT_FALSE(f.MenuEnabled());
    EXPECT_FALSE(f.ExtEnabled());
    f.Choose(TFormMenuItm::rbMenu);
    EXPECT_TRUE(f.MenuEnabled());
    EXPECT_FALSE(f.ExtEnabled());
    for (auto k : {TFormMenuItm::rbXfer, TFormMenuItm::rbMsgLeave, TFormMenuItm::rbMsgGet}) {
        f.Choose(k);
        EXPECT_FALSE(f.MenuEnabled()) << k;
        EXPECT_TRUE(f.ExtEnabled()) << k;
    }
    f.Choose(TFormMenuItm::rbNone);
    EXPECT_FALSE(f.MenuEnabled());
    EXPECT_FALSE(f.ExtEnabled());
}

TEST(FormMenuItm, ExtensionKeyFilter)
{
    TFormMenuItm f;
    EXPECT_FALSE(f.TypeExt(U'a'));
    EXPECT_FALSE(f.TypeExt(U'#'));
    EXPECT_FALSE(f.TypeExt(U' '));
    EXPECT_FALSE(f.TypeExt(U'ж'));
    EXPECT_EQ(f.Ext(), "");
    for (char32_t c : std::u32string(U"12*4567890123"))
        EXPECT_TRUE(f.TypeExt(c));
    EXPECT_EQ(f.Ext(), "12*4567890123");
    EXPECT_TRUE(f.TypeExt(U'4'));  // the 14th character
    EXPECT_FALSE(f.TypeExt(U'5')) << "the field is full";
    EXPECT_FALSE(f.TypeExt(U'*'));
    EXPECT_TRUE(f.ExtKeyPasses(8)) << "control keys pass a full field";
    EXPECT_EQ(f.Ext(), "12*45678901234");
    EXPECT_TRUE(f.TypeExt(8));
    EXPECT_EQ(f.Ext(), "12*4567890123");
    EXPECT_TRUE(f.TypeExt(U'9'));
    EXPECT_EQ(f.Ext(), "12*45678901239");
    EXPECT_TRUE(f.TypeExt(27));  // Escape passes the filter and changes nothing
    EXPECT_EQ(f.Ext(), "12*45678901239");
}

TEST(FormMenuItm, MenuNumberStaysWithinItsRangeWithoutWrap)
{
    TFormMenuItm f;
    f.HideMailboxChoices();
    f.MenuDown();
    EXPECT_EQ(f.MenuNumber(), 0);
    EXPECT_TRUE(f.SetMenuText("18"));
    f.MenuUp();
    f.MenuUp();
    EXPECT_EQ(f.MenuNumber(), 19);
    EXPECT_FALSE(f.SetMenuText("1a"));
    EXPECT_FALSE(f.SetMenuText("123"));
    EXPECT_EQ(f.MenuNumber(), 19);
    EXPECT_TRUE(f.SetMenuText(" 7"));
    EXPECT_EQ(f.MenuNumber(), 7);
    // A number read from the unit above the range is kept as it is until
    // the arrows move it.
    TFormMenuItm g;
    g.Load("M25");
    g.HideMailboxChoices();
    EXPECT_EQ(g.Result(), "M25");
    g.MenuDown();
    EXPECT_EQ(g.MenuNumber(), 19);
}

TEST(FormMenuItm, ResultingActionText)
{
    TFormMenuItm f;
    f.HideMailboxChoices();
    EXPECT_EQ(f.Result(), "-");
    f.Choose(TFormMenuItm::rbMenu);
    f.SetMenuText("12");
    EXPECT_EQ(f.Result(), "M12");
    f.Choose(TFormMenuItm::rbXfer);
    EXPECT_EQ(f.Result(), "N") << "empty extension writes N alone";
    EXPECT_TRUE(f.SetExt("2*5"));
    EXPECT_EQ(f.Result(), "N2*5");
    // A paste keeps to the key filter's rule, or is refused whole.
    EXPECT_FALSE(f.SetExt("2q5"));
    EXPECT_FALSE(f.SetExt("123456789012345"));
    EXPECT_EQ(f.Result(), "N2*5");
    f.Choose(TFormMenuItm::rbNone);
    EXPECT_EQ(f.Result(), "-");
}

// ---- mailbox dialog --------------------------------------------------------

TEST(FormMailAdd, CreateAndEditPresets)
{
    TFormMailAdd f;
    f.PresetCreate();
    EXPECT_EQ(f.Caption(), "Создание ящика");
    EXPECT_EQ(f.Owner(), "");
    EXPECT_TRUE(f.OwnerEnabled());
    EXPECT_EQ(f.SizeMinutes(), 15);
    EXPECT_EQ(f.AnnMode(), 0);
    EXPECT_EQ(f.AnnPeriod(), 30);
    EXPECT_FALSE(f.AnnouncementVisible());

    TFormMailAdd e;
    e.PresetEdit("Иванов", 90, 2, 45);
    EXPECT_EQ(e.Caption(), "Параметры ящика");
    EXPECT_EQ(e.Owner(), "Иванов");
    EXPECT_FALSE(e.OwnerEnabled());
    EXPECT_EQ(e.SizeMinutes(), 1) << "90 seconds open as one whole minute";
    EXPECT_EQ(e.AnnMode(), 2);
    EXPECT_EQ(e.AnnPeriod(), 45);
    e.SetOwner("Петров");
    EXPECT_EQ(e.Owner(), "Иванов") << "the owner cannot be changed when editing";
}

TEST(FormMailAdd, SizeInMinutesBecomesSeconds)
{
    TFormMailAdd f;
    f.PresetCreate();
    EXPECT_EQ(f.SizeSeconds(), 900);
    f.SetSizeMinutes(120);
    EXPECT_EQ(f.SizeSeconds(), 7200);
    f.SizeUp();
    EXPECT_EQ(f.SizeMinutes(), 120) << "no wrap at the top";
    f.SetSizeMinutes(1);
    f.SizeDown();
    EXPECT_EQ(f.SizeMinutes(), 1) << "no wrap at the bottom";
    f.SetSizeMinutes(500);
    EXPECT_EQ(f.SizeMinutes(), 120);
    TFormMailAdd e;
    e.PresetEdit("a", 30, 0, 0);
    EXPECT_EQ(e.SizeMinutes(), 1) << "less than a minute opens at the spinner's minimum";
}

// ---- wire texts ------------------------------------------------------------

TEST(Wire, MinutesAndSeconds)
{
    EXPECT_EQ(FormatMinSec(0), "00:00");
    EXPECT_EQ(FormatMinSec(59), "00:59");
    EXPECT_EQ(FormatMinSec(5400), "90:00");
    EXPECT_EQ(FormatMinSec(7265), "121:05");
    EXPECT_EQ(FileDuration(7999), "00:00");
    EXPECT_EQ(FileDuration(8000), "00:01");
    EXPECT_EQ(FileDuration(479999), "00:59");
    EXPECT_EQ(FileDuration(480000), "01:00");
    EXPECT_EQ(FileDuration(720000), "01:30");
}

TEST(Wire, Decimal)
{
    int32_t v = 99;
    EXPECT_TRUE(ParseDecimal("0", v));
    EXPECT_EQ(v, 0);
    EXPECT_TRUE(ParseDecimal("-3", v));
    EXPECT_EQ(v, -3);
    EXPECT_TRUE(ParseDecimal("+7", v));
    EXPECT_EQ(v, 7);
    v = 99;
    for (const char* bad : {"", "+", "-", "+-1", "1 ", " 1", "1a", "x", "2147483648"})
        EXPECT_FALSE(ParseDecimal(bad, v)) << bad;
    EXPECT_EQ(v, 99) << "a failed parse leaves the value";
}

TEST(Wire, ListReplyLines)
{
    EXPECT_TRUE(SplitListReply("PC LIST>").empty());
    EXPECT_TRUE(SplitListReply("").empty());
    EXPECT_EQ(SplitListReply("201\rPC LIST>"), (std::vector<std::string>{"201"}));
    EXPECT_EQ(SplitListReply("201\r\r210-219\rPC LIST>"), (std::vector<std::string>{"201", "", "210-219"}));
    EXPECT_EQ(SplitListReply(Utf8ToCp1251("Зал\r") + "PC LIST>"), (std::vector<std::string>{"Зал"}));
    EXPECT_EQ(JoinList({}), "");
    EXPECT_EQ(JoinList({"201"}), "201");
    EXPECT_EQ(JoinList({"201", "205", "210-219"}), "201, 205, 210-219");
    EXPECT_EQ(JoinList({"201", "", "210-219"}), "201, , 210-219");
}

TEST(Wire, MailboxLines)
{
    EXPECT_TRUE(IsMailLine("N=Ivan S=60"));
    EXPECT_TRUE(IsMailLine("xxN=y"));
    EXPECT_FALSE(IsMailLine("FREE=100"));

    TMailLine m = ParseMailLine("N=Ivan S=600");
    EXPECT_EQ(m.result, TMailLine::Box);
    EXPECT_EQ(m.owner, "Ivan");
    EXPECT_TRUE(m.hasSize);
    EXPECT_EQ(m.size, 600);

    m = ParseMailLine("N=A S=59");
    EXPECT_EQ(m.result, TMailLine::Box) << "a one-character owner";
    EXPECT_EQ(m.owner, "A");

    m = ParseMailLine(Utf8ToCp1251("N=Петров S=120"));
    EXPECT_EQ(m.owner, "Петров");
    EXPECT_EQ(m.size, 120);

    EXPECT_EQ(ParseMailLine("N= S=60").result, TMailLine::BadOwner) << "empty owner";
    EXPECT_EQ(ParseMailLine("N=Ivan").result, TMailLine::BadOwner) << "no blank";

    for (const char* keep : {"N=Ivan X=5", "N=Ivan S", "N=Ivan  S=5", "N=Ivan s=5"}) {
        m = ParseMailLine(keep);
        EXPECT_EQ(m.result, TMailLine::Box) << keep;
        EXPECT_FALSE(m.hasSize) << keep;
    }
    EXPECT_EQ(ParseMailLine("N=Ivan S=").result, TMailLine::BadSize);
    EXPECT_EQ(ParseMailLine("N=Ivan S=1m").result, TMailLine::BadSize);
    EXPECT_EQ(ParseMailLine("N=Ivan S=1m").owner, "Ivan") << "the owner is read before the size";
}

TEST(Wire, TransferResultLine)
{
    auto r = ParseTransferResult("OK");
    EXPECT_EQ(r.result, TTransferResult::Ok);
    EXPECT_EQ(ParseTransferResult("OK ").result, TTransferResult::Other);
    EXPECT_EQ(ParseTransferResult("ok").result, TTransferResult::Other);
    EXPECT_EQ(ParseTransferResult("").result, TTransferResult::Other);
    r = ParseTransferResult("YMODEM_ERR(7)");
    EXPECT_EQ(r.result, TTransferResult::Error);
    EXPECT_EQ(r.error, 7);
    r = ParseTransferResult("YMODEM_ERR(12)trailing");
    EXPECT_EQ(r.result, TTransferResult::Error);
    EXPECT_EQ(r.error, 12);
    EXPECT_EQ(ParseTransferResult("YMODEM_ERR(x)").result, TTransferResult::BadNumber);
    EXPECT_EQ(ParseTransferResult("YMODEM_ERR()").result, TTransferResult::BadNumber);
    EXPECT_EQ(ParseTransferResult("YMODEM_ERR(7").result, TTransferResult::BadNumber);
    EXPECT_EQ(ParseTransferResult("YMODEM_ERR7)").result, TTransferResult::Other);

    EXPECT_EQ(TransferErrorText(1), "YMODEM: error 1");
    EXPECT_EQ(TransferErrorText(7), "YMODEM: error 7");
    EXPECT_EQ(TransferErrorText(10), "YMODEM: error 10");
    EXPECT_EQ(TransferErrorText(0), "YMODEM: Unknown error");
    EXPECT_EQ(TransferErrorText(11), "YMODEM: Unknown error");
    EXPECT_EQ(TransferErrorText(12), "YMODEM: Unknown error");
    EXPECT_EQ(TransferErrorText(-3), "YMODEM: Unknown error");
    EXPECT_EQ(TransferErrorText(100), "YMODEM: Time-out on status reply");
    EXPECT_EQ(TransferErrorText(101), "YMODEM: Incorrect error number format");
}

// ---- the catalogue's collection objects ------------------------------------

TEST(Factory, CollectionObjectsComeFromTheFactoryInBuildOrder)
{
    std::vector<std::string> log;
    TLinesModel* memo = nullptr;
    TGridModel* mailGrid = nullptr;
    TTextField* freeField = nullptr;
    // The collection factory's hooks, each recording that it was called.
    const TCollectionFactory made = CollectionFactory();
    TCollectionFactory f;
    f.extensionList = [&](TLinesModel& lines) {
        memo = &lines;
        log.push_back("list");
        return made.extensionList(lines);
    };
    f.voiceMenu = [&] {
        log.push_back("menu");
        return made.voiceMenu();
    };
    f.mailboxes = [&](TGridModel& grid, TTextField& field) {
        mailGrid = &grid;
        freeField = &field;
        log.push_back("mail");
        return made.mailboxes(grid, field);
    };
    f.voiceFile = [&] {
        log.push_back("file");
        return made.voiceFile();
    };
    TCatalogue c(f);

    std::vector<std::string> order = {"list"};
    order.insert(order.end(), 23, "menu");
    order.push_back("mail");
    order.insert(order.end(), 14, "file");
    EXPECT_EQ(log, order);

    ASSERT_NE(c.extensionList, nullptr);
    EXPECT_EQ(c.extensionList->menu, 7);
    EXPECT_EQ(memo, &c.memNumbers);

    for (int i = 0; i < 3; ++i) {
        TJoint1* g = c.greetings[static_cast<size_t>(i)].get();
        ASSERT_NE(g, nullptr);
        EXPECT_EQ(g->code, 20 + i);
        EXPECT_EQ(g->menu, 9);
        EXPECT_EQ(g->grid, &c.sgGreetings);
        EXPECT_EQ(g->col, 0);
        EXPECT_EQ(g->row, i + 1);
        EXPECT_EQ(c.sgGreetings.Object(0, i + 1), g);
    }
    for (int i = 0; i < 20; ++i) {
        TJoint1* m = c.voiceMenus[static_cast<size_t>(i)].get();
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(m->code, i);
        EXPECT_EQ(m->menu, 9);
        EXPECT_EQ(m->grid, &c.sgMenu);
        EXPECT_EQ(m->row, i + 1);
        EXPECT_EQ(c.sgMenu.Object(0, i + 1), m);
    }
    ASSERT_NE(c.mailboxes, nullptr);
    EXPECT_EQ(c.mailboxes->menu, 8);
    EXPECT_EQ(c.mailboxes->grid, &c.sgMail);
    EXPECT_EQ(mailGrid, &c.sgMail);
    EXPECT_EQ(freeField, &c.edtFreeSpace);
    for (int i = 0; i < 14; ++i) {
        TJoint1* file = c.messages[static_cast<size_t>(i)].get();
        ASSERT_NE(file, nullptr);
        EXPECT_EQ(file->code, 60 + i);
        EXPECT_EQ(file->menu, 6);
        EXPECT_EQ(file->grid, &c.sgMessages);
        EXPECT_EQ(file->col, 1);
        EXPECT_EQ(file->row, i + 1);
    }
}

TEST(Factory, TheCatalogueHoldsTheCollectionObjects)
{
    TCatalogue cat(CollectionFactory());
    TListDlg* list = cat.extensionList.get();
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->target, &cat.memNumbers);
    EXPECT_EQ(list->menu, 7);

    TMailDlg* mail = cat.mailboxes.get();
    ASSERT_NE(mail, nullptr);
    EXPECT_EQ(mail->grid, &cat.sgMail);
    EXPECT_EQ(mail->freeField, &cat.edtFreeSpace);
    EXPECT_EQ(mail->menu, 8);

    TMenuDlg* day = cat.greetings[0].get();
    TMenuDlg* menu5 = cat.voiceMenus[5].get();
    ASSERT_NE(day, nullptr);
    ASSERT_NE(menu5, nullptr);
    EXPECT_EQ(day->code, 20);
    EXPECT_EQ(day->grid, &cat.sgGreetings);
    EXPECT_EQ(menu5->code, 5);
    EXPECT_EQ(menu5->row, 6);
    EXPECT_EQ(menu5->menu, 9);
    EXPECT_EQ(cat.sgMenu.Object(0, 6), menu5);
    // The rows of the screens' grids, by their own class.
    EXPECT_EQ(cat.MenuInRow(cat.sgMenu, 6), menu5);
    EXPECT_EQ(cat.MenuInRow(cat.sgGreetings, 1), day);
    EXPECT_EQ(cat.MenuInRow(cat.sgGreetings, 4), nullptr);
    EXPECT_EQ(cat.MenuInRow(cat.sgMenu, 0), nullptr);
    EXPECT_EQ(cat.MenuInRow(cat.sgMessages, 1), nullptr);
    EXPECT_EQ(cat.MessageInRow(0), nullptr);
    EXPECT_EQ(cat.MessageInRow(15), nullptr);

    // Row 7 of the message grid: code 66, its cells from column 1 on.
    TFile* msg66 = cat.MessageInRow(7);
    ASSERT_NE(msg66, nullptr);
    EXPECT_EQ(cat.sgMessages.Object(1, 7), msg66);
    EXPECT_EQ(msg66->code, 66);
    EXPECT_EQ(msg66->menu, 6);
    EXPECT_EQ(msg66->grid, &cat.sgMessages);
    EXPECT_EQ(msg66->col, 1);
    EXPECT_EQ(msg66->row, 7);
    msg66->fileName = "a.pcm";
    msg66->fileSize = 16000;
    msg66->output();
    EXPECT_EQ(cat.sgMessages.RowTexts(7)[2], "00:02");
}

TEST(DialogSets, InstallationsStackAndEverySetRefusesOtherThreads)
{
    kvtest::TUiThread ui;
    TScriptedCollectionDialogs outer;
    {
        auto first = std::make_unique<TScriptedCollectionDialogs>();
        auto second = std::make_unique<TScriptedCollectionDialogs>();
        EXPECT_EQ(&CollectionDialogs(), second.get());
        // Ended out of order: the newest of those left stays in force.
        first.reset();
        EXPECT_EQ(&CollectionDialogs(), second.get());
        second.reset();
    }
    EXPECT_EQ(&CollectionDialogs(), &outer);
    EXPECT_TRUE(DialogsInstalled<TCollectionDialogs>());

    TScriptedValueDialogs values;
    TScriptedDialogs messages;
    EXPECT_EQ(&ValueDialogs(), &values);
    EXPECT_EQ(&Dialogs(), &messages);

    // A worker that asks for a dialog gets an exception, and no dialog opens.
    std::vector<std::string> refused;
    std::thread worker([&] {
        auto attempt = [&](const std::function<void()>& open) {
            try {
                open();
            } catch (const EUiThreadRequired& e) {
                refused.push_back(e.what());
            }
        };
        attempt([] { CollectionDialogs().Confirm("Удалить?"); });
        attempt([] {
            TFormNumber n(1, 0, 9);
            ValueDialogs().Execute(n);
        });
        attempt([] { Dialogs().Message(TMessageKind::Error, "x"); });
    });
    worker.join();
    EXPECT_EQ(refused, (std::vector<std::string>{"CollectionDialogs: called off the UI thread",
                                                 "ValueDialogs: called off the UI thread",
                                                 "Dialogs: called off the UI thread"}));
    EXPECT_TRUE(outer.Shown().empty());
    EXPECT_TRUE(values.Shown().empty());
    EXPECT_TRUE(messages.Shown().empty());
}
