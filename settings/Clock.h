// The unit's clock and the dialog that shows it live and sets it.
//
// TClock reads and writes the clock in the command menu "PC TIME>" (menu
// 10): "GET\r" answers the clock itself, "SET\r" asks with "T" for the new
// value. On the wire the clock is 12 digits DDMMYYhhmmss (the year is
// 2000 + YY). TFormClock is the dialog "Установка времени" without its
// widgets: it owns a TClock, the picker and calendar models it shows into,
// and the 500 ms timer of the live display, and reacts to the user's actions.
#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "session/Joint.h"
#include "settings/View.h"

namespace kv {

class TKvMenu;

// A date and a time of day, as the computer's clock or the dialog gives them.
struct TDateTimeParts {
    int year = 2000;
    int month = 1;
    int day = 1;
    int hours = 0;
    int minutes = 0;
    int seconds = 0;
    bool operator==(const TDateTimeParts&) const = default;
};

// The wire text of a date and time: DDMMYYhhmmss.
std::string ComposeClockText(const TDateTimeParts& t);
// Reads a wire text; false unless it is 12 digits forming a real date and
// time (month 1-12, the day within its month, 00-23:00-59:00-59).
bool ParseClockText(const std::string& text, TDateTimeParts& t);
// The computer's current local date and time.
TDateTimeParts ComputerNow();

class TClock : public TJoint1 {
public:
    TClock();

    bool process() override;
    // True for the edit and display steps and every error step.
    bool needsync() override;
    // No dialog: goes on to the write.
    void input() override;
    // Reads the clock into clockText (action 4), or sets an error action.
    void getp() override;
    // Writes clockText; action 0 on success, an error action otherwise.
    void setp() override;
    // Shows clockText in the picker and the calendar.
    void output() override;

    // The error text of an error action, empty for any other action.
    static std::string ErrorText(int32_t action);

    // The clock as last read, or to be written, DDMMYYhhmmss.
    std::string clockText;
    TTimePickerModel* picker = nullptr;
    TCalendarModel* calendar = nullptr;

    // Called when a job of this object has ended (on the thread of its last
    // step). May be empty.
    std::function<void()> onFinished;
    // Whether the last job ended at one of its failures (its message shown).
    std::atomic<bool> failed{false};

    // Time-outs, in ms.
    static constexpr int kReadEchoMs = 100;
    static constexpr int kReadReplyMs = 300;
    static constexpr int kWriteStepMs = 1000;
    static constexpr int kWriteReplyMs = 2000;

private:
    bool finish();
};

// The dialog "Установка времени" as a controller. The window shows it with a
// time picker, a month calendar, three buttons and a toolkit timer that
// calls Timer1.Fire() every Timer1.Interval() ms while Timer1.Enabled(); it
// passes the user's changes into DateTimePicker1.UserSetTime and
// MonthCalendar1.UserClick, and the buttons into the Click handlers. All of
// it on the UI thread.
class TFormClock {
public:
    static constexpr const char* Caption = "Установка времени";
    static constexpr const char* btnCompCaption = "По компьютеру";
    static constexpr const char* btnApplyCaption = "Применить";
    static constexpr const char* btnCancelCaption = "Отмена";
    static constexpr int kTimerMs = 500;

    // Creation: the clock object with menu 10, bound to the picker and the
    // calendar; the controls start at the computer's date and time.
    explicit TFormClock(TKvMenu& session);
    // Closes the dialog if it is still open.
    ~TFormClock();
    TFormClock(const TFormClock&) = delete;
    TFormClock& operator=(const TFormClock&) = delete;

    // The dialog is shown: Timer1 starts, the first read comes with its
    // first tick.
    void Show();
    // Timer1's tick: reads the unit's clock and shows it. A tick that falls
    // while the previous job of the clock still runs is skipped; returns
    // whether a read was started. The first read that fails (its one
    // message shown) ends the live display: the timer stops and no tick
    // reads again. A job that found the line silent ends the dialog's
    // action (TKvMenu::TAction): nothing is read or written any more.
    bool Tick();
    // "Применить": writes the calendar's date and the picker's time, then
    // returns to the live display.
    void btnApplyClick();
    // "По компьютеру": writes the computer's date and time, then returns to
    // the live display.
    void btnCompClick();
    // "Отмена" or the close box: stops the live display and waits for a job
    // still running; writes nothing.
    void Close();

    bool IsOpen() const { return open_; }
    // Whether "Применить" and "По компьютеру" can still write: the dialog
    // is open, the session has not ended under it and no job of the dialog
    // has found the line silent.
    bool CanWrite() const;
    // Whether a job of the clock failed since the dialog was shown.
    bool Failed() const { return failed_.load(); }
    // Whether a job of the clock is running.
    bool JobRunning() const { return running_.load(); }

    // Told on the UI thread, from a tick, when the session has left the
    // connected modes while the dialog is open (the unit went away, its one
    // message shown by the session): the live display has stopped, and the
    // dialog closes. May be empty.
    std::function<void()> onSessionEnded;
    // Told on the UI thread, from a tick, once the line has gone silent
    // under the dialog (its one message shown): nothing can be written any
    // more, and the dialog shows it by disabling "Применить" and "По
    // компьютеру". May be empty.
    std::function<void()> onWritesEnded;

    // Where "По компьютеру" takes the date and time from; ComputerNow
    // unless replaced (tests).
    std::function<TDateTimeParts()> now = ComputerNow;

    TTimePickerModel DateTimePicker1{"DateTimePicker1"};
    TCalendarModel MonthCalendar1{"MonthCalendar1"};
    TCoreTimer Timer1{kTimerMs};
    TClock clock;

private:
    // Stops the timer, writes t, starts the timer again.
    void write(const TDateTimeParts& t);
    void run(int32_t action);
    // Whether the session, once seen logged in while the dialog is open,
    // has left the connected modes.
    bool sessionEnded();

    TKvMenu& session_;
    std::atomic<bool> running_{false};
    std::atomic<bool> failed_{false};
    std::atomic<bool> reading_{false};
    bool sawSession_ = false;
    bool open_ = false;
    int pickerTicket_ = 0;
    int calendarTicket_ = 0;
};

}  // namespace kv
