// The value dialogs' rules, the scripted dialogs, the view models and the
// clock's wire text: everything that needs neither a unit nor a worker.
#include <gtest/gtest.h>

#include "../session/Harness.h"
#include "settings/Clock.h"
#include "tests/support/ScriptedValueDialogs.h"
#include "settings/ValueDialogs.h"
#include "settings/View.h"

using namespace kv;

TEST(FormDirectory, KeyFilterPassesDigitsControlsAndStarOnlyWithPermission)
{
    for (char32_t d = U'0'; d <= U'9'; ++d) {
        EXPECT_TRUE(TFormDirectory::KeyAllowed(d, false));
        EXPECT_TRUE(TFormDirectory::KeyAllowed(d, true));
    }
    EXPECT_TRUE(TFormDirectory::KeyAllowed(U'*', true));
    EXPECT_FALSE(TFormDirectory::KeyAllowed(U'*', false));
    for (char32_t c : {char32_t(8), char32_t(13), char32_t(27), char32_t(0), char32_t(31)})
        EXPECT_TRUE(TFormDirectory::KeyAllowed(c, false)) << int(c);
    for (char32_t c : {U'#', U' ', U'a', U'Z', U'+', U'-', U'.', U'ж', char32_t(127)}) {
        EXPECT_FALSE(TFormDirectory::KeyAllowed(c, false)) << int(c);
        EXPECT_FALSE(TFormDirectory::KeyAllowed(c, true)) << int(c);
    }
}

TEST(FormDirectory, TypingHonoursFilterLengthLimitAndBackspace)
{
    TFormDirectory number("12", 4, false);
    EXPECT_FALSE(number.KeyPress(U'#'));
    EXPECT_FALSE(number.KeyPress(U'*'));
    number.Type("3 a#*456");
    EXPECT_EQ(number.Text(), "1234");  // 4 characters at most; the rest dropped
    number.Type("\b\b9");
    EXPECT_EQ(number.Text(), "129");

    TFormDirectory combination("", 24, true);
    combination.Type("*1#2ж*");
    EXPECT_EQ(combination.Text(), "*12*");

    TFormDirectory empty("", 8, false);
    EXPECT_TRUE(empty.KeyPress(8));  // Backspace in an empty field does nothing
    EXPECT_EQ(empty.Text(), "");
}

// Text put into the field as a whole (a paste, a drop) keeps to the same
// rule as typed keys: refused whole, the field keeps its text.
TEST(FormDirectory, TextPutInWholeKeepsToTheKeyFiltersRule)
{
    TFormDirectory number("12", 4, false);
    for (const char* refused : {"12ab", "1*2", "12345", "1 2", "1\t2", "١٢"})
        EXPECT_FALSE(number.SetText(refused)) << refused;
    EXPECT_EQ(number.Text(), "12");
    EXPECT_TRUE(number.SetText("9876"));
    EXPECT_TRUE(number.SetText(""));
    EXPECT_EQ(number.Text(), "");

    TFormDirectory combination("", 24, true);
    EXPECT_TRUE(combination.SetText("*1*2"));
    EXPECT_FALSE(combination.SetText("*1#2"));
    EXPECT_EQ(combination.Text(), "*1*2");
}

TEST(FormCode, OpeningChecksTheMatchingButtonAndReportsNoChange)
{
    for (int code = 0; code <= 10; ++code) {
        TFormCode form(code);
        EXPECT_EQ(form.CheckedButton(), code);
        EXPECT_EQ(form.ChosenCode(), code);
        EXPECT_FALSE(form.Changed());
    }
    // Button captions in order and the code each stands for.
    const auto& captions = TFormCode::ButtonCaptions();
    ASSERT_EQ(captions.size(), 11u);
    EXPECT_EQ(captions[0], "1");
    EXPECT_EQ(captions[8], "9");
    EXPECT_EQ(captions[9], "0");
    EXPECT_EQ(captions[10], "Не назначен");
    EXPECT_EQ(TFormCode::ButtonCode(0), 1);
    EXPECT_EQ(TFormCode::ButtonCode(9), 10);
    EXPECT_EQ(TFormCode::ButtonCode(10), 0);
}

TEST(FormCode, CheckingAButtonSetsTheChosenCodeAndWhetherItDiffers)
{
    TFormCode form(3);
    form.Check(10);
    EXPECT_EQ(form.ChosenCode(), 10);
    EXPECT_TRUE(form.Changed());
    form.Check(3);
    EXPECT_EQ(form.ChosenCode(), 3);
    EXPECT_FALSE(form.Changed());
    form.Check(0);
    EXPECT_EQ(form.ChosenCode(), 0);
    EXPECT_TRUE(form.Changed());

    // A code above 10 checks nothing; the chosen code stays 0 until a click.
    TFormCode odd(12);
    EXPECT_EQ(odd.CheckedButton(), -1);
    EXPECT_EQ(odd.ChosenCode(), 0);
    EXPECT_FALSE(odd.Changed());
    odd.Check(0);
    EXPECT_EQ(odd.ChosenCode(), 0);
    EXPECT_TRUE(odd.Changed());
    odd.Check(11);  // names no button
    EXPECT_EQ(odd.CheckedButton(), 0);
}

TEST(FormTime, ChangedOnlyAfterThePickerChanges)
{
    TFormTime form(9, 30);
    EXPECT_EQ(form.Hours(), 9);
    EXPECT_EQ(form.Minutes(), 30);
    EXPECT_EQ(form.Seconds(), 0);
    EXPECT_FALSE(form.Changed());
    form.SetTime(9, 30, 0);
    EXPECT_FALSE(form.Changed());
    form.SetTime(18, 0, 15);
    EXPECT_TRUE(form.Changed());
    form.SetTime(9, 30, 0);  // changed back: still a change
    EXPECT_TRUE(form.Changed());

    // The picker shows the time of day of hours/24 + minutes/1440.
    TFormTime odd(25, 60);
    EXPECT_EQ(odd.Hours(), 2);
    EXPECT_EQ(odd.Minutes(), 0);
    EXPECT_EQ(TFormTime::SecondsOfDay(0, 5), 300);
    EXPECT_EQ(TFormTime::SecondsOfDay(24, 0), 0);
}

TEST(FormNumber, PositionStaysWithinTheRangeAndSixteenBits)
{
    TFormNumber form(5, 0, 24);
    EXPECT_EQ(form.Position(), 5);
    form.SetPosition(30);
    EXPECT_EQ(form.Position(), 24);
    form.Up();
    EXPECT_EQ(form.Position(), 24);
    form.SetPosition(-3);
    EXPECT_EQ(form.Position(), 0);
    form.Down();
    EXPECT_EQ(form.Position(), 0);
    EXPECT_EQ(form.Text(), "0");

    TFormNumber wide(100000, -100000, 100000);
    EXPECT_EQ(wide.Min(), -32768);
    EXPECT_EQ(wide.Max(), 32767);
    EXPECT_EQ(wide.Position(), 32767);

    // A value from the unit outside the range is offered at the nearest limit.
    TFormNumber outside(300, 0, 240);
    EXPECT_EQ(outside.Position(), 240);
}

TEST(FormChoice, SelectionClampedToTheItems)
{
    TFormChoice form({"Нет", "Да"}, 1);
    EXPECT_EQ(form.ItemIndex(), 1);
    form.Select(0);
    EXPECT_EQ(form.ItemIndex(), 0);
    form.Select(5);
    EXPECT_EQ(form.ItemIndex(), 1);
    TFormChoice empty({}, 0);
    EXPECT_EQ(empty.ItemIndex(), -1);
}

TEST(ScriptedValueDialogs, AnswerInOrderRecordWhatWasShownAndCancelTheUnexpected)
{
    kvtest::TUiThread ui;
    TScriptedValueDialogs dialogs;
    EXPECT_EQ(&ValueDialogs(), &dialogs);
    dialogs.AnswerDirectory("12#3");
    dialogs.AnswerCode(10);
    dialogs.AnswerCancel();

    TFormDirectory dir("99", 8, false);
    EXPECT_TRUE(ValueDialogs().Execute(dir));
    EXPECT_EQ(dir.Text(), "123");

    // The script expects the code dialog next: a time dialog is cancelled.
    TFormTime time(1, 2);
    EXPECT_FALSE(ValueDialogs().Execute(time));
    EXPECT_FALSE(time.Changed());

    TFormCode code(1);
    EXPECT_TRUE(ValueDialogs().Execute(code));
    EXPECT_EQ(code.ChosenCode(), 10);

    TFormChoice choice({"a", "b"}, 0);
    EXPECT_FALSE(ValueDialogs().Execute(choice));  // AnswerCancel fits any dialog
    EXPECT_EQ(dialogs.Pending(), 0u);

    const auto shown = dialogs.Shown();
    ASSERT_EQ(shown.size(), 4u);
    EXPECT_EQ(shown[0].caption, "Ввод номера");
    EXPECT_EQ(shown[0].text, "99");
    EXPECT_EQ(shown[0].maxLength, 8);
    EXPECT_TRUE(shown[0].ok);
    EXPECT_EQ(shown[1].caption, "Введите время");
    EXPECT_FALSE(shown[1].expected);
    EXPECT_EQ(shown[1].hours, 1);
    EXPECT_EQ(shown[1].minutes, 2);
    EXPECT_EQ(shown[2].caption, "Код вызова");
    EXPECT_EQ(shown[2].code, 1);
    EXPECT_EQ(shown[3].caption, "Выберите");
    EXPECT_TRUE(shown[3].expected);
    EXPECT_FALSE(shown[3].ok);
    EXPECT_EQ(shown[3].items, (std::vector<std::string>{"a", "b"}));
}

TEST(ScriptedValueDialogs, DefaultClosesEveryDialogWithCancel)
{
    kvtest::TUiThread ui;
    {
        TScriptedValueDialogs dialogs;
    }
    TFormNumber number(1, 0, 9);
    EXPECT_FALSE(ValueDialogs().Execute(number));
    EXPECT_STREQ(TFormNumber::Caption, "Ввод значения");
}

TEST(GridModel, KeepsTextsAndObjectsAndNotifiesChanges)
{
    TGridModel grid("sgTest", 3, 2);
    std::vector<TGridChange> changes;
    int ticket = grid.changed.Subscribe([&](const TGridChange& c) { changes.push_back(c); });

    grid.SetCell(0, 0, "Код");
    grid.SetCell(2, 1, "x");
    grid.SetCell(5, 7, "outside");  // kept, though not shown
    grid.SetCell(-1, 0, "ignored");
    EXPECT_EQ(grid.Cell(0, 0), "Код");
    EXPECT_EQ(grid.Cell(5, 7), "outside");
    EXPECT_EQ(grid.Cell(1, 1), "");
    EXPECT_EQ(grid.RowTexts(1), (std::vector<std::string>{"", "", "x"}));

    grid.SetColCount(2);
    EXPECT_EQ(grid.Headers(), (std::vector<std::string>{"Код", ""}));
    EXPECT_EQ(grid.Cell(2, 1), "x");
    grid.SetRowCount(40);
    EXPECT_EQ(grid.RowCount(), 40);

    ASSERT_EQ(changes.size(), 5u);
    EXPECT_EQ(changes[1].kind, TGridChange::Cell);
    EXPECT_EQ(changes[1].col, 2);
    EXPECT_EQ(changes[1].row, 1);
    EXPECT_EQ(changes[3].kind, TGridChange::Size);

    grid.changed.Unsubscribe(ticket);
    grid.SetCell(0, 1, "y");
    EXPECT_EQ(changes.size(), 5u);

    TJoint1 object;
    grid.SetObject(2, 3, &object);
    EXPECT_EQ(grid.Object(2, 3), &object);
    EXPECT_EQ(grid.Object(1, 3), nullptr);
    EXPECT_EQ(grid.Cell(2, 3), "");  // an object does not make a text
}

TEST(GridModel, CurrentCellStartsUnderTheHeaderAndNotifiesOnlyMoves)
{
    TGridModel grid("sgTest", 3, 4);
    EXPECT_EQ(grid.Col(), 0);
    EXPECT_EQ(grid.Row(), 1);
    int moves = 0;
    grid.currentChanged.Subscribe([&] { ++moves; });
    grid.SetCurrent(2, 3);
    grid.SetCurrent(2, 3);   // no move
    grid.SetCurrent(-1, 2);  // ignored
    EXPECT_EQ(grid.Col(), 2);
    EXPECT_EQ(grid.Row(), 3);
    EXPECT_EQ(moves, 1);
    int cellChanges = 0;
    grid.changed.Subscribe([&](const TGridChange&) { ++cellChanges; });
    grid.SetCurrent(1, 1);
    EXPECT_EQ(cellChanges, 0);  // moving the cursor changes no text
    EXPECT_EQ(moves, 2);
}

TEST(GridModel, BaseSettingObjectShowsAndReadsItsCell)
{
    TGridModel grid("sgTest", 3, 3);
    TJoint1 object;
    EXPECT_EQ(object.text(), "Не определен");
    object.grid = &grid;
    object.col = 2;
    object.row = 1;
    object.output();
    EXPECT_EQ(grid.Cell(2, 1), "Some...");
    grid.SetCell(2, 1, "08:00");
    EXPECT_EQ(object.text(), "Не прочитано") << "a cell the unit's value never reached";
    object.valueRead = true;
    EXPECT_EQ(object.text(), "08:00");
}

TEST(CheckBox, ProgramChangesRaiseClickedAndUserClicksNeedTheBoxEnabled)
{
    TCheckBox box("cbHoliday", "Праздничный режим");
    int clicks = 0;
    box.clicked.Subscribe([&] { ++clicks; });
    box.SetChecked(true);
    EXPECT_EQ(clicks, 1);
    box.SetChecked(true);  // no change, no click
    EXPECT_EQ(clicks, 1);
    box.SetEnabled(false);
    box.SetChecked(false);  // raised even while disabled: handlers look at Enabled()
    EXPECT_EQ(clicks, 2);
    box.Click();  // the user cannot click a disabled box
    EXPECT_FALSE(box.Checked());
    EXPECT_EQ(clicks, 2);
    box.SetEnabled(true);
    box.Click();
    EXPECT_TRUE(box.Checked());
    EXPECT_EQ(clicks, 3);
}

TEST(Controls, TimerRunsItsHandlerOnlyWhileEnabled)
{
    TCoreTimer timer(500);
    int fired = 0;
    std::vector<bool> states;
    timer.onTimer = [&] { ++fired; };
    timer.enabledChanged.Subscribe([&](bool on) { states.push_back(on); });
    EXPECT_FALSE(timer.Fire());
    timer.Start();
    timer.Start();
    EXPECT_TRUE(timer.Fire());
    timer.Stop();
    EXPECT_FALSE(timer.Fire());
    EXPECT_EQ(fired, 1);
    EXPECT_EQ(states, (std::vector<bool>{true, false}));  // told of real changes only
}

TEST(ClockText, ComposesTwelveDigitsDayFirst)
{
    EXPECT_EQ(ComposeClockText({2026, 3, 7, 9, 5, 30}), "070326090530");
    EXPECT_EQ(ComposeClockText({2029, 12, 31, 23, 59, 58}), "311229235958");
    EXPECT_EQ(ComposeClockText({2000, 1, 1, 0, 0, 0}), "010100000000");
}

TEST(ClockText, ParsesOnlyRealDatesAndTimes)
{
    TDateTimeParts t;
    ASSERT_TRUE(ParseClockText("070326090530", t));
    EXPECT_EQ(t, (TDateTimeParts{2026, 3, 7, 9, 5, 30}));
    EXPECT_TRUE(ParseClockText("290224120000", t));   // 29 February 2024
    EXPECT_FALSE(ParseClockText("290225120000", t));  // 2025 is no leap year
    EXPECT_FALSE(ParseClockText("310226120000", t));  // 31 February
    EXPECT_FALSE(ParseClockText("011326120000", t));  // month 13
    EXPECT_FALSE(ParseClockText("000126120000", t));  // day 0
    EXPECT_FALSE(ParseClockText("010126240000", t));  // hour 24
    EXPECT_FALSE(ParseClockText("010126006000", t));  // minute 60
    EXPECT_FALSE(ParseClockText("0101261200ab", t));
    EXPECT_FALSE(ParseClockText("07032609053", t));
    EXPECT_FALSE(ParseClockText("0703260905300", t));
    EXPECT_EQ(t, (TDateTimeParts{2024, 2, 29, 12, 0, 0}));  // untouched by the failures
}
