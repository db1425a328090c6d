// The window as the core sees it: grids, text fields, a status panel, a
// check box and a memo.
//
// The setting objects write their values into these models and the export
// reads them back; the Qt window shows each model in a widget and passes the
// user's actions (a click on the check box) back into it. Tests inspect the
// models directly.
//
// Threads: the models are touched on the UI thread (the display steps of the
// jobs, the screens, the export). Each model still guards its state with a
// lock of its own, so that a test or a view may read it from anywhere;
// notifications are called outside that lock, on the thread that made the
// change.
#pragma once

#include <atomic>
#include <compare>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace kv {

class TJoint1;

// A list of handlers. Subscribe returns a ticket for Unsubscribe.
template <typename... Args>
class TNotifier {
public:
    using THandler = std::function<void(Args...)>;

    int Subscribe(THandler handler)
    {
        std::lock_guard<std::mutex> g(m_);
        handlers_.emplace_back(++last_, std::make_shared<THandler>(std::move(handler)));
        return last_;
    }
    void Unsubscribe(int ticket)
    {
        std::lock_guard<std::mutex> g(m_);
        std::erase_if(handlers_, [ticket](const auto& h) { return h.first == ticket; });
    }
    void Notify(Args... args) const
    {
        std::vector<std::shared_ptr<THandler>> copy;
        {
            std::lock_guard<std::mutex> g(m_);
            for (const auto& h : handlers_)
                copy.push_back(h.second);
        }
        for (const auto& h : copy)
            (*h)(args...);
    }

private:
    mutable std::mutex m_;
    int last_ = 0;
    std::vector<std::pair<int, std::shared_ptr<THandler>>> handlers_;
};

// What changed in a grid: one cell, or the column or row count.
struct TGridChange {
    enum TKind { Cell, Size };
    TKind kind = Cell;
    int col = -1;
    int row = -1;
};

// A string grid: a table of texts with a setting object per cell. Row 0 is
// the fixed header row. Cells outside the current column and row counts may
// be written and read (they are kept, as in a string grid, and simply not
// shown); negative positions are ignored.
class TGridModel {
public:
    // name: the window's name of the grid ("sgSysParams"), for views and messages.
    TGridModel(std::string name, int colCount, int rowCount);
    TGridModel(const TGridModel&) = delete;
    TGridModel& operator=(const TGridModel&) = delete;

    const std::string& Name() const { return name_; }

    int ColCount() const;
    int RowCount() const;
    void SetColCount(int count);
    void SetRowCount(int count);
    // Rows at the top that belong to the header (always 1).
    static constexpr int FixedRows = 1;

    std::string Cell(int col, int row) const;
    void SetCell(int col, int row, const std::string& text);
    // The setting object held by a cell, or null.
    TJoint1* Object(int col, int row) const;
    void SetObject(int col, int row, TJoint1* object);

    // The current cell (the grid's cursor): its column and row. A new grid
    // stands on column 0 of the first row under the header. Set by the view
    // when the user moves the cursor, or by the program.
    int Col() const;
    int Row() const;
    // Moves the current cell; raises currentChanged when it moved.
    // Negative positions are ignored.
    void SetCurrent(int col, int row);

    // The header row's texts, columns 0 .. ColCount()-1.
    std::vector<std::string> Headers() const;
    // The texts of one row, columns 0 .. ColCount()-1.
    std::vector<std::string> RowTexts(int row) const;

    // Called after every change of a cell's text or of a count.
    TNotifier<const TGridChange&> changed;
    // Called after the current cell moved.
    TNotifier<> currentChanged;

private:
    struct TCell {
        std::string text;
        TJoint1* object = nullptr;
    };
    const std::string name_;
    mutable std::mutex m_;
    int colCount_;
    int rowCount_;
    int col_ = 0;
    int row_ = FixedRows;
    std::map<std::pair<int, int>, TCell> cells_;
};

// A single-line text field of the window (read-only ones included).
class TTextField {
public:
    explicit TTextField(std::string name) : name_(std::move(name)) {}
    TTextField(const TTextField&) = delete;
    TTextField& operator=(const TTextField&) = delete;

    const std::string& Name() const { return name_; }
    std::string Text() const;
    void SetText(const std::string& text);
    bool Enabled() const;
    void SetEnabled(bool enabled);

    // Called after the text or the enabled state changed.
    TNotifier<> changed;

private:
    const std::string name_;
    mutable std::mutex m_;
    std::string text_;
    bool enabled_ = true;
};

// One panel of the window's status bar.
class TStatusPanel {
public:
    explicit TStatusPanel(int index = 0) : index_(index) {}
    TStatusPanel(const TStatusPanel&) = delete;
    TStatusPanel& operator=(const TStatusPanel&) = delete;

    // Position in the status bar, counted from 0.
    int Index() const { return index_; }
    std::string Text() const;
    void SetText(const std::string& text);

    TNotifier<> changed;

private:
    const int index_;
    mutable std::mutex m_;
    std::string text_;
};

// A check box. As in the toolkit the window was designed for, a change of
// the checked state, by the user or by the program, raises `clicked`; the
// screen's handler acts on it only while the box is enabled. So a program
// that sets the state without starting a write disables the box around it.
class TCheckBox {
public:
    TCheckBox(std::string name, std::string caption)
        : name_(std::move(name)), caption_(std::move(caption)) {}
    TCheckBox(const TCheckBox&) = delete;
    TCheckBox& operator=(const TCheckBox&) = delete;

    const std::string& Name() const { return name_; }
    const std::string& Caption() const { return caption_; }
    bool Checked() const;
    // Raises `clicked` when the state changes.
    void SetChecked(bool checked);
    bool Enabled() const;
    void SetEnabled(bool enabled);
    // The user's click: toggles the state when the box is enabled.
    void Click();

    // A change of the checked state (the box's OnClick).
    TNotifier<> clicked;
    // Any change of state, checked or enabled, for views.
    TNotifier<> changed;

private:
    const std::string name_;
    const std::string caption_;
    mutable std::mutex m_;
    bool checked_ = false;
    bool enabled_ = true;
};

// A read-only multi-line list (a memo): its lines.
class TLinesModel {
public:
    explicit TLinesModel(std::string name) : name_(std::move(name)) {}
    TLinesModel(const TLinesModel&) = delete;
    TLinesModel& operator=(const TLinesModel&) = delete;

    const std::string& Name() const { return name_; }
    std::vector<std::string> Lines() const;
    void SetLines(std::vector<std::string> lines);
    void Clear() { SetLines({}); }
    void Add(const std::string& line);
    // The lines joined with CR LF after each, as the memo's text reads.
    std::string Text() const;

    TNotifier<> changed;

private:
    const std::string name_;
    mutable std::mutex m_;
    std::vector<std::string> lines_;
};

// A time picker: a time of day (hours, minutes, seconds).
class TTimePickerModel {
public:
    explicit TTimePickerModel(std::string name) : name_(std::move(name)) {}
    TTimePickerModel(const TTimePickerModel&) = delete;
    TTimePickerModel& operator=(const TTimePickerModel&) = delete;

    const std::string& Name() const { return name_; }
    int Hours() const;
    int Minutes() const;
    int Seconds() const;
    // The program sets the time (raises `changed` only).
    void SetTime(int hours, int minutes, int seconds);
    // The user changed the time (raises `changed` and `edited`).
    void UserSetTime(int hours, int minutes, int seconds);

    // Any change, for views.
    TNotifier<> changed;
    // A change made by the user (the picker's OnChange).
    TNotifier<> edited;

private:
    const std::string name_;
    mutable std::mutex m_;
    int hours_ = 0;
    int minutes_ = 0;
    int seconds_ = 0;
};

// A date: year, month (1-12), day (1-31).
struct TDate {
    int year = 2000;
    int month = 1;
    int day = 1;
    bool operator==(const TDate&) const = default;
    auto operator<=>(const TDate&) const = default;
};

// Whether year-month-day is a date of the calendar.
bool IsValidDate(int year, int month, int day);

// A month calendar: the selected date, never before MinDate.
class TCalendarModel {
public:
    static constexpr TDate MinDate{2000, 1, 1};

    explicit TCalendarModel(std::string name) : name_(std::move(name)) {}
    TCalendarModel(const TCalendarModel&) = delete;
    TCalendarModel& operator=(const TCalendarModel&) = delete;

    const std::string& Name() const { return name_; }
    TDate Date() const;
    // The program selects a date (raises `changed` only). Dates that are
    // not dates, or lie before MinDate, are ignored.
    void SetDate(const TDate& date);
    // The user clicked in the calendar, on date (raises `changed` when the
    // date is taken, and `clicked` in any case).
    void UserClick(const TDate& date);

    TNotifier<> changed;
    // A click by the user (the calendar's OnClick).
    TNotifier<> clicked;

private:
    bool setLocked(const TDate& date);

    const std::string name_;
    mutable std::mutex m_;
    TDate date_{MinDate};
};

// A timer of the core: an interval and an enabled state. Something outside
// drives it: the window runs a toolkit timer while Enabled() and calls
// Fire() at each interval; tests call Fire() themselves. Fire() calls
// onTimer only while the timer is enabled. Nothing here sleeps.
class TCoreTimer {
public:
    explicit TCoreTimer(int intervalMs) : interval_(intervalMs) {}
    TCoreTimer(const TCoreTimer&) = delete;
    TCoreTimer& operator=(const TCoreTimer&) = delete;

    int Interval() const { return interval_; }
    bool Enabled() const { return enabled_.load(); }
    void Start();
    void Stop();
    // One interval has passed. Returns whether onTimer ran.
    bool Fire();

    std::function<void()> onTimer;
    // Called after Start or Stop changed the state, for the driver.
    TNotifier<bool> enabledChanged;

private:
    const int interval_;
    std::atomic<bool> enabled_{false};
};

// Makes the base TJoint1 show and read its texts in TGridModel cells. Every
// TGridModel constructor calls it; it is safe to call more than once.
void InstallGridCellAccess();

}  // namespace kv
