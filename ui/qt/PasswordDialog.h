// The password dialog: one field whose characters show as "*", "OK" (the
// default button, also Enter in the field) and "Отмена" (Escape).
#pragma once

#include <QDialog>

#include "ui/Password.h"

class QLineEdit;

namespace kv {

class TPasswordDialog : public QDialog {
public:
    TPasswordDialog(TFormPassword& form, QWidget* parent = nullptr);

    QLineEdit* Field() const { return edit_; }

private:
    TFormPassword& form_;
    QLineEdit* edit_;
};

}  // namespace kv
