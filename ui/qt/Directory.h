// "Ввод номера": one field Edit1 for a digit string.
#pragma once

#include <QDialog>

#include "settings/ValueDialogs.h"

class QLineEdit;

namespace kv {

// Shows a TFormDirectory. Every typed character goes through the form's
// KeyPress (Backspace as 8) before it reaches Edit1 and is dropped when the
// form drops it; whatever the field then holds (after a paste, an edit in
// the middle) is handed to the form with SetText. The length limit is the
// field's own.
class TDirectoryDialog : public QDialog {
public:
    TDirectoryDialog(TFormDirectory& form, QWidget* parent = nullptr);

    QLineEdit* Edit1() const { return edit_; }

private:
    TFormDirectory& form_;
    QLineEdit* edit_;
};

}  // namespace kv
