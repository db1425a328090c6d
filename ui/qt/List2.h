// "Введите диапазон": the first and the last number of a range.
#pragma once

#include <QDialog>

#include "collections/Forms.h"

class QLineEdit;

namespace kv {

// Shows a TFormList2: Edit1 (first number) on the left, Edit2 (last number)
// on the right; every change of either field goes to the form.
class TList2Dialog : public QDialog {
public:
    TList2Dialog(TFormList2& form, QWidget* parent = nullptr);

    QLineEdit* Edit1() const { return edit1_; }
    QLineEdit* Edit2() const { return edit2_; }

private:
    TFormList2& form_;
    QLineEdit* edit1_;
    QLineEdit* edit2_;
};

}  // namespace kv
