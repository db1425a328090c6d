// The unit's clock and its dialog against the simulated unit: the live
// read on the timer's ticks, the user's edits, "Применить", "По компьютеру",
// closing, and every read and write failure. The timer is driven by the
// test (Timer1.Fire()), never by sleeping.
#include <gtest/gtest.h>

#include "settings/Clock.h"
#include "tests/support/UnitSession.h"

using namespace kv;
using namespace kvtest;

namespace {

// The unit's clock always reads as this reply (the simulated clock runs).
std::vector<std::string> FixedReply(const std::string& reply)
{
    return {"--clock", "070326090530", "--replace", "070326*", reply};
}

struct TShownClock {
    int h, m, s;
    TDate date;
    bool operator==(const TShownClock&) const = default;
};

TShownClock Shown(TFormClock& form)
{
    return {form.DateTimePicker1.Hours(), form.DateTimePicker1.Minutes(), form.DateTimePicker1.Seconds(),
            form.MonthCalendar1.Date()};
}

// Puts the controls at a known place without touching the timer.
void Preset(TFormClock& form)
{
    form.DateTimePicker1.SetTime(1, 2, 3);
    form.MonthCalendar1.SetDate({2001, 2, 3});
}

const TShownClock kPreset{1, 2, 3, {2001, 2, 3}};

}  // namespace

TEST(ClockDialog, LiveReadOnEachTickShowsTheUnitsClock)
{
    TUnitSession u(FixedReply("070326090530"));
    TFormClock form(u.session);
    EXPECT_STREQ(TFormClock::Caption, "Установка времени");
    EXPECT_EQ(form.clock.menu, 10);
    EXPECT_EQ(form.Timer1.Interval(), 500);
    EXPECT_FALSE(form.Timer1.Enabled());
    Preset(form);

    form.Show();
    EXPECT_TRUE(form.Timer1.Enabled());
    EXPECT_EQ(u.Sent(), "");  // nothing until the first tick
    EXPECT_EQ(Shown(form), kPreset);

    EXPECT_TRUE(form.Timer1.Fire());
    // A tick while that read still runs is skipped.
    EXPECT_TRUE(form.JobRunning());
    EXPECT_FALSE(form.Tick());
    u.session.WaitIdle();
    EXPECT_FALSE(form.JobRunning());
    EXPECT_EQ(u.Messages(), Strings{});
    EXPECT_EQ(Shown(form), (TShownClock{9, 5, 30, {2026, 3, 7}}));
    EXPECT_EQ(form.clock.clockText, "070326090530");
    const std::string sent = u.Sent();
    EXPECT_EQ(sent.substr(sent.size() - 9), "TIME\rGET\r");  // no parameter number in "PC TIME>"
    EXPECT_EQ(Count(sent, "GET\r"), 1);

    // The next ticks read again, in the menu the unit already stands in.
    Preset(form);
    EXPECT_TRUE(form.Tick());
    u.session.WaitIdle();
    EXPECT_TRUE(form.Tick());
    u.session.WaitIdle();
    EXPECT_EQ(u.Sent(), "GET\rGET\r");
    EXPECT_EQ(Shown(form), (TShownClock{9, 5, 30, {2026, 3, 7}}));
    form.Close();
}

TEST(ClockDialog, AReplyThatIsNoDateAndTimeEndsTheLiveDisplayWithOneMessage)
{
    // Eleven and thirteen characters; twelve that are not a date and time.
    for (const char* reply : {"07032609053", "0703260905300", "071326090530", "310226090530", "0703260905ab"}) {
        SCOPED_TRACE(reply);
        TUnitSession u(FixedReply(reply));
        TFormClock form(u.session);
        Preset(form);
        form.Show();
        EXPECT_TRUE(form.Tick());
        u.session.WaitIdle();
        // The first failure stops the reading: the next ticks read nothing.
        EXPECT_FALSE(form.Tick());
        EXPECT_FALSE(form.Timer1.Enabled());
        EXPECT_FALSE(form.Timer1.Fire());
        u.session.WaitIdle();
        EXPECT_TRUE(form.Failed());
        EXPECT_EQ(u.Messages(), (Strings{"Time: Empty or incorrect reply"}));
        EXPECT_EQ(Count(u.Sent(), "GET\r"), 1);
        EXPECT_EQ(Shown(form), kPreset);
        form.Close();
        EXPECT_FALSE(form.IsOpen());
    }
}

TEST(ClockDialog, AnInvalidDateFromTheUnitsClockGivesOneMessageNotOnePerTick)
{
    // The unit's own clock says 31.13.99: every reading of it is refused.
    TUnitSession u({"--clock", "010128000000", "--replace", "0101*", "311399256199"});
    TFormClock form(u.session);
    form.Show();
    for (int i = 0; i < 5; ++i) {
        form.Timer1.Fire();
        u.session.WaitIdle();
    }
    EXPECT_EQ(u.Messages(), (Strings{"Time: Empty or incorrect reply"}));
    EXPECT_FALSE(form.Timer1.Enabled());
    form.Close();
}

TEST(ClockDialog, ReadFailuresKeepTheControlsAndStopTheReading)
{
    struct Case {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{"--drop-echo", "GET"}, "Time: No echo at command"},
        {{"--mute", "GET"}, "Time: Time-out on reply"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        TUnitSession u(c.args);
        TFormClock form(u.session);
        Preset(form);
        form.Show();
        form.Tick();
        u.session.WaitIdle();
        EXPECT_FALSE(form.Tick());
        u.session.WaitIdle();
        EXPECT_EQ(u.Messages(), Strings{c.message});
        EXPECT_EQ(Shown(form), kPreset);
        EXPECT_FALSE(form.Timer1.Enabled());
        EXPECT_FALSE(form.JobRunning());
    }
}

TEST(ClockDialog, ASilentLineDisablesWritingAndARefusedReplyDoesNot)
{
    struct Case {
        std::vector<std::string> args;
        bool writable;
    } cases[] = {
        {{"--drop-echo", "GET"}, false},
        {{"--mute", "GET"}, false},
        // The unit answers, with a date that is none: the line is fine.
        {{"--clock", "010128000000", "--replace", "0101*", "311399256199"}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.back());
        TUnitSession u(c.args);
        TKvMenu::TAction action(u.session);
        TFormClock form(u.session);
        int told = 0;
        form.onWritesEnded = [&] { ++told; };
        form.Show();
        EXPECT_TRUE(form.CanWrite());
        form.Tick();
        u.session.WaitIdle();
        EXPECT_FALSE(form.Tick());
        EXPECT_EQ(form.CanWrite(), c.writable);
        EXPECT_EQ(told, c.writable ? 0 : 1);
        form.btnApplyClick();
        u.session.WaitIdle();
        // Whatever can still be written is; nothing is sent on a silent line.
        EXPECT_EQ(Count(u.Sent(), "SET\r"), c.writable ? 1 : 0);
        EXPECT_EQ(u.Messages().size(), 1u);
        form.Close();
    }
}

TEST(ClockDialog, UserEditStopsTheRefreshAndApplyWritesWhatIsShown)
{
    TUnitSession u({"--clock", "070326090530"});
    TFormClock form(u.session);
    form.Show();
    form.Tick();
    u.session.WaitIdle();
    ASSERT_EQ(u.Messages(), Strings{});
    u.Sent();

    form.DateTimePicker1.UserSetTime(10, 11, 12);
    EXPECT_FALSE(form.Timer1.Enabled());
    EXPECT_FALSE(form.Timer1.Fire());
    form.Timer1.Start();
    form.MonthCalendar1.UserClick({2027, 4, 5});  // a click stops it as well
    EXPECT_FALSE(form.Timer1.Enabled());
    EXPECT_EQ(u.Sent(), "");

    form.btnApplyClick();
    EXPECT_TRUE(form.Timer1.Enabled());  // back to the live display
    u.session.WaitIdle();
    EXPECT_EQ(u.Messages(), Strings{});
    EXPECT_EQ(u.Sent(), "SET\r050427101112\r");

    // The next tick shows the unit's clock, which now runs from there.
    form.DateTimePicker1.SetTime(0, 0, 0);
    form.Tick();
    u.session.WaitIdle();
    EXPECT_EQ(form.MonthCalendar1.Date(), (TDate{2027, 4, 5}));
    EXPECT_EQ(form.DateTimePicker1.Hours(), 10);
    EXPECT_EQ(form.DateTimePicker1.Minutes(), 11);
    EXPECT_GE(form.DateTimePicker1.Seconds(), 12);
    EXPECT_EQ(u.Sent(), "GET\r");

    // "Применить" while a read still runs waits for it, then writes.
    form.Tick();
    form.DateTimePicker1.UserSetTime(6, 7, 8);
    form.btnApplyClick();
    u.session.WaitIdle();
    EXPECT_EQ(u.Sent(), "GET\rSET\r050427060708\r");
    EXPECT_EQ(u.Messages(), Strings{});
    form.Close();
}

TEST(ClockDialog, FromComputerWritesTheComputersDateAndTime)
{
    TUnitSession u;
    TFormClock form(u.session);
    form.now = [] { return TDateTimeParts{2029, 12, 31, 23, 59, 58}; };
    form.Show();
    form.btnCompClick();
    EXPECT_TRUE(form.Timer1.Enabled());
    u.session.WaitIdle();
    EXPECT_EQ(u.Messages(), Strings{});
    const std::string sent = u.Sent();
    EXPECT_EQ(sent.substr(sent.size() - 17), "SET\r311229235958\r");
    form.Tick();
    u.session.WaitIdle();
    // Read back a moment later: still that evening, or just past midnight.
    const TDate d = form.MonthCalendar1.Date();
    EXPECT_TRUE(d == (TDate{2029, 12, 31}) || d == (TDate{2030, 1, 1})) << d.year << "-" << d.month << "-" << d.day;
    EXPECT_EQ(u.Messages(), Strings{});
}

TEST(ClockDialog, WriteFailuresAreReportedAndTheRefreshRestarts)
{
    struct Case {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{"--replace", "OK", "ERROR"}, "Time: reply: ERROR"},
        {{"--write-no-ok"}, "Time: Unknown error"},
        {{"--drop", "T:"}, "Time: Time-out on prompt"},
        {{"--drop-echo", "SET"}, "Time: No echo at command"},
        {{"--drop-echo", "020304050607"}, "Time: No echo at parameter"},
        {{"--mute", "020304050607"}, "Time: Time-out on reply"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        TUnitSession u(c.args);
        TFormClock form(u.session);
        form.Show();
        form.DateTimePicker1.UserSetTime(5, 6, 7);
        form.MonthCalendar1.UserClick({2004, 3, 2});
        form.btnApplyClick();
        u.session.WaitIdle();
        EXPECT_EQ(u.Messages(), Strings{c.message});
        EXPECT_TRUE(form.Timer1.Enabled());
        EXPECT_FALSE(form.JobRunning());
    }
}

TEST(ClockDialog, ClosingWritesNothingAndWaitsForARunningRead)
{
    TUnitSession u({"--clock", "070326090530"});
    {
        TFormClock form(u.session);
        form.Show();
        form.DateTimePicker1.UserSetTime(1, 1, 1);
        form.Timer1.Start();
        EXPECT_TRUE(form.Tick());
        form.Close();  // while the read runs
        EXPECT_FALSE(form.JobRunning());
        EXPECT_FALSE(form.IsOpen());
        EXPECT_FALSE(form.Timer1.Enabled());
        EXPECT_FALSE(form.Tick());
        form.btnApplyClick();  // a closed dialog does nothing
        EXPECT_EQ(form.DateTimePicker1.Hours(), 9);
    }
    {
        TFormClock form(u.session);
        form.Show();
        form.Tick();
        // Destroyed while its read runs: it waits for it.
    }
    u.session.WaitIdle();
    const std::string sent = u.Sent();
    EXPECT_EQ(Count(sent, "GET\r"), 2);
    EXPECT_EQ(Count(sent, "SET\r"), 0);
    EXPECT_EQ(u.Messages(), Strings{});
}
