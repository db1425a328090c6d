// "Выберите": one radio button per item in the group RadioGroup1.
#pragma once

#include <QDialog>

#include "settings/ValueDialogs.h"

class QButtonGroup;
class QGroupBox;

namespace kv {

// Shows a TFormChoice; the button the user checks goes to the form's Select.
class TChoiceDialog : public QDialog {
public:
    TChoiceDialog(TFormChoice& form, QWidget* parent = nullptr);

    QGroupBox* RadioGroup1() const { return box_; }
    QButtonGroup* Buttons() const { return group_; }

private:
    TFormChoice& form_;
    QGroupBox* box_;
    QButtonGroup* group_;
};

}  // namespace kv
