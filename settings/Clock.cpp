#include "settings/Clock.h"

#include <ctime>

#include "serial/UiBridge.h"
#include "session/Comm.h"
#include "session/Dialogs.h"
#include "session/Exchange.h"
#include "session/KvMenu.h"
#include "settings/Settings.h"

namespace kv {

std::string ComposeClockText(const TDateTimeParts& t)
{
    // The year's third and fourth digits.
    const int yy = ((t.year % 100) + 100) % 100;
    return Format("%.2d%.2d%.2d%.2d%.2d%.2d", t.day, t.month, yy, t.hours, t.minutes, t.seconds);
}

bool ParseClockText(const std::string& text, TDateTimeParts& t)
{
    if (text.size() != 12)
        return false;
    int field[6];
    for (int i = 0; i < 6; ++i) {
        const char hi = text[2 * i];
        const char lo = text[2 * i + 1];
        if (hi < '0' || hi > '9' || lo < '0' || lo > '9')
            return false;
        field[i] = (hi - '0') * 10 + (lo - '0');
    }
    TDateTimeParts r{2000 + field[2], field[1], field[0], field[3], field[4], field[5]};
    if (!IsValidDate(r.year, r.month, r.day) || r.hours > 23 || r.minutes > 59 || r.seconds > 59)
        return false;
    t = r;
    return true;
}

TDateTimeParts ComputerNow()
{
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    return TDateTimeParts{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

// ---- TClock

TClock::TClock()
{
    menu = 10;
}

std::string TClock::ErrorText(int32_t action)
{
    switch (action) {
    case 200: return "Time: No echo at command";
    case 201: return "Time: Time-out on reply";
    case 202: return "Time: Empty or incorrect reply";
    case 203: return "Time: Time-out on prompt";
    case 204: return "Time: No echo at parameter";
    case 205: return "Time: reply: ERROR";
    case 206: return "Time: Unknown error";
    default: return {};
    }
}

bool TClock::finish()
{
    if (onFinished)
        onFinished();
    return true;
}

bool TClock::process()
{
    switch (action) {
    case 1:
        input();
        return false;
    case 2:
        failed.store(false);
        setp();
        if (action == 0)
            return finish();
        return false;
    case 3:
        failed.store(false);
        getp();
        return false;
    case 4:
        output();
        action = 0;
        return finish();
    default:
        // A failure on a silent line throws here; the job then ends with
        // action 0, which comes back here without a message.
        if (action >= 200)
            failed.store(true);
        EndWithFailure(action, ErrorText(action));
        return finish();
    }
}

bool TClock::needsync()
{
    return action == 1 || action == 4 || action >= 200;
}

void TClock::input()
{
    action = 2;
}

void TClock::getp()
{
    TFormComm& comm = FormComm();
    if (!comm.SendEcho("GET\r", kReadEchoMs)) {
        action = 200;
        return;
    }
    std::string reply;
    if (!comm.ReadUpTo("\r", kReadReplyMs, reply)) {
        action = 201;
        return;
    }
    reply.pop_back();  // the CR
    // Twelve characters that do not form a date and time cannot be shown;
    // they are reported like a reply of the wrong length.
    TDateTimeParts parsed;
    if (!ParseClockText(reply, parsed)) {
        action = 202;
        return;
    }
    clockText = reply;
    action = 4;
}

void TClock::setp()
{
    action = RunCommandExchange({"SET\r", "T", clockText, kWriteStepMs, kWriteReplyMs},
                                {200, 203, 204, 201, 0, {{"ERROR", 205}}, 206});
}

void TClock::output()
{
    TDateTimeParts t;
    if (!ParseClockText(clockText, t))
        return;
    if (picker)
        picker->SetTime(t.hours, t.minutes, t.seconds);
    if (calendar)
        calendar->SetDate(TDate{t.year, t.month, t.day});
}

// ---- TFormClock

TFormClock::TFormClock(TKvMenu& session) : session_(session)
{
    clock.menu = 10;
    clock.picker = &DateTimePicker1;
    clock.calendar = &MonthCalendar1;
    clock.onFinished = [this] {
        // A failed read ends the live display; a failed write is the user's
        // one message and the display goes on.
        if (clock.failed.load() && reading_.load())
            failed_.store(true);
        running_.store(false);
        UiBridge().Wake();
    };
    const TDateTimeParts t = ComputerNow();
    DateTimePicker1.SetTime(t.hours, t.minutes, t.seconds);
    MonthCalendar1.SetDate(TDate{t.year, t.month, t.day});
    pickerTicket_ = DateTimePicker1.edited.Subscribe([this] { Timer1.Stop(); });
    calendarTicket_ = MonthCalendar1.clicked.Subscribe([this] { Timer1.Stop(); });
    Timer1.onTimer = [this] { Tick(); };
}

TFormClock::~TFormClock()
{
    Close();
    DateTimePicker1.edited.Unsubscribe(pickerTicket_);
    MonthCalendar1.clicked.Unsubscribe(calendarTicket_);
}

void TFormClock::Show()
{
    open_ = true;
    failed_.store(false);
    sessionEnded();
    Timer1.Start();
}

bool TFormClock::sessionEnded()
{
    if (session_.mode == kModeAdmin || session_.mode == kModeSystem) {
        sawSession_ = true;
        return false;
    }
    return sawSession_;
}

void TFormClock::run(int32_t action)
{
    // After a failure on a silent line the session starts nothing more in
    // this dialog's action; a session that has ended is not opened again
    // behind the user's back.
    if (session_.ActionFailed() || sessionEnded())
        return;
    running_.store(true);
    reading_.store(action == 3);
    clock.action = action;
    if (!session_.Run(&clock))
        running_.store(false);
}

bool TFormClock::Tick()
{
    if (open_ && !running_.load() && sessionEnded()) {
        Timer1.Stop();
        if (const std::function<void()> ended = onSessionEnded)
            ended();
        return false;
    }
    if (failed_.load() || session_.ActionFailed()) {
        Timer1.Stop();
        if (!CanWrite())
            if (const std::function<void()> ended = onWritesEnded)
                ended();
        return false;
    }
    if (!open_ || running_.load())
        return false;
    run(3);
    return true;
}

void TFormClock::write(const TDateTimeParts& t)
{
    Timer1.Stop();
    const std::string text = ComposeClockText(t);
    // A read still running owns the object until it ends.
    if (running_.load())
        session_.WaitIdle();
    clock.clockText = text;
    run(2);
    Timer1.Start();
}

bool TFormClock::CanWrite() const
{
    const bool connected = session_.mode == kModeAdmin || session_.mode == kModeSystem;
    return open_ && (connected || !sawSession_) && !session_.ActionFailed();
}

void TFormClock::btnApplyClick()
{
    if (!open_)
        return;
    const TDate d = MonthCalendar1.Date();
    write(TDateTimeParts{d.year, d.month, d.day, DateTimePicker1.Hours(), DateTimePicker1.Minutes(),
                         DateTimePicker1.Seconds()});
}

void TFormClock::btnCompClick()
{
    if (!open_)
        return;
    write(now());
}

void TFormClock::Close()
{
    Timer1.Stop();
    open_ = false;
    if (running_.load())
        session_.WaitIdle();
}

}  // namespace kv
