// "Ввод значения": the field Edit1 with the spin control UpDown1 attached.
#pragma once

#include <QDialog>

#include "settings/ValueDialogs.h"

namespace kv {

class TUpDownEdit;

// Shows a TFormNumber. A typed number goes to the form's SetPosition, the
// arrows (and the Up/Down keys) to Up and Down; the field shows the form's
// position after every step and when editing ends.
class TNumberDialog : public QDialog {
public:
    TNumberDialog(TFormNumber& form, QWidget* parent = nullptr);

    TUpDownEdit* UpDown1() const { return upDown_; }

private:
    TFormNumber& form_;
    TUpDownEdit* upDown_;
};

}  // namespace kv
