// "Создание ящика" / "Параметры ящика": a mailbox's owner and size.
#pragma once

#include <QDialog>

#include "collections/Forms.h"

class QButtonGroup;
class QGroupBox;
class QLabel;
class QLineEdit;

namespace kv {

class TUpDownEdit;

// Shows a TFormMailAdd in either preset: caption, owner (edtOwner, enabled
// as the form says), size in minutes (edtSize with udSize). The
// notification controls (rgAnnMode, the period label, edtAnnPeriod with
// udAnnPeriod) are on the form and hidden, as the form says.
class TMailAddDialog : public QDialog {
public:
    TMailAddDialog(TFormMailAdd& form, QWidget* parent = nullptr);

    QLineEdit* edtOwner() const { return edtOwner_; }
    TUpDownEdit* udSize() const { return udSize_; }

private:
    TFormMailAdd& form_;
    QLineEdit* edtOwner_;
    TUpDownEdit* udSize_;
};

}  // namespace kv
