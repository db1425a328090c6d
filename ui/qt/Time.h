// "Введите время": the time picker DateTimePicker1, time only.
#pragma once

#include <QDialog>

#include "settings/ValueDialogs.h"

class QTimeEdit;

namespace kv {

// Shows a TFormTime; every change of the picker goes to the form's
// SetTime, so that the form knows whether the time was changed.
class TTimeDialog : public QDialog {
public:
    TTimeDialog(TFormTime& form, QWidget* parent = nullptr);

    QTimeEdit* DateTimePicker1() const { return picker_; }

private:
    TFormTime& form_;
    QTimeEdit* picker_;
};

}  // namespace kv
