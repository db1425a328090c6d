// "Код вызова": the call code of the operator, one of eleven radio buttons.
#pragma once

#include <QDialog>

#include "settings/ValueDialogs.h"

class QButtonGroup;

namespace kv {

// Shows a TFormCode; every checked button goes to the form's Check.
// Buttons RadioButton1 .. RadioButton11 in the form's display order, inside
// the frame GroupBox1.
class TCodeDialog : public QDialog {
public:
    TCodeDialog(TFormCode& form, QWidget* parent = nullptr);

    QButtonGroup* Buttons() const { return group_; }

private:
    TFormCode& form_;
    QButtonGroup* group_;
};

}  // namespace kv
