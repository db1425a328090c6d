// "Установка времени": the unit's clock, shown live and set.
#pragma once

#include "settings/Clock.h"
#include <QWidget>

#include "ui/qt/DialogKit.h"

class QCalendarWidget;
class QPushButton;
class QTimeEdit;

namespace kv {

class TCalendarView;
class TCoreTimerDriver;
class TTimePickerView;

// Shows a TFormClock: the time picker DateTimePicker1 and the month
// calendar MonthCalendar1 bound to the form's models (every change the user
// makes reaches the model), Timer1 driven by a toolkit timer while the form
// keeps it enabled, and the buttons btnApply "Применить", btnComp
// "По компьютеру" and btnCancel "Отмена" (also Escape and the close box).
// A click that comes while another button's action still runs (its job
// waits in a nested event loop) is not started a second time; a close
// meanwhile is carried out once that action has ended. When the session
// ends under the dialog (the unit went away), the dialog closes itself.
class TClockDialog : public TJobDialog {
public:
    // Shows a dialog over form modally and returns once it has closed; the
    // form's models and timer are no longer watched then.
    static void Execute(TFormClock& form, QWidget* parent);

    TClockDialog(TFormClock& form, QWidget* parent = nullptr);
    ~TClockDialog() override;

    void reject() override;

protected:
    void Started() override;
    void closeEvent(QCloseEvent* event) override;

private:
    // Runs one button's action unless another one is running.
    void act(void (TFormClock::*action)());
    void close();
    void releaseViews();

    TFormClock* form_;
    int acting_ = 0;
    bool closeWanted_ = false;
    QTimeEdit* picker_;
    QCalendarWidget* calendar_;
    TTimePickerView* pickerView_ = nullptr;
    TCalendarView* calendarView_ = nullptr;
    TCoreTimerDriver* timer_ = nullptr;
};

}  // namespace kv
