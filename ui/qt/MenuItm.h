// "Выберите действие": the action of one key of a voice menu.
#pragma once

#include <QDialog>

#include "collections/Forms.h"

class QButtonGroup;
class QLineEdit;
class QRadioButton;

namespace kv {

class TUpDownEdit;

// Shows a TFormMenuItm. Which choices are visible, where rbXfer stands and
// which field is enabled all come from the form: a click on a choice goes
// to Choose, the menu number's typing and arrows to SetMenuText, MenuUp and
// MenuDown, the extension's keys to its key filter and its text to SetExt.
class TMenuItmDialog : public QDialog {
public:
    TMenuItmDialog(TFormMenuItm& form, QWidget* parent = nullptr);

    QRadioButton* Choice(TFormMenuItm::TKind kind) const;
    TUpDownEdit* udMenu() const { return udMenu_; }
    QLineEdit* edtExt() const { return edtExt_; }

private:
    void showState();
    void showMenuNumber();

    TFormMenuItm& form_;
    QButtonGroup* group_;
    TUpDownEdit* udMenu_;
    QLineEdit* edtExt_;
    QString menuText_;
};

}  // namespace kv
