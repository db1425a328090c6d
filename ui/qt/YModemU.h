// "Передача/прием файла": the transfer dialog of one voice file.
#pragma once

#include "collections/YModemU.h"
#include <QWidget>

#include "ui/qt/DialogKit.h"

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace kv {

class TCoreTimerDriver;

// Shows a TFormYMU: its title (Label1), progress (ProgressBar1), bytes so
// far (Edit2), the file size (Edit3) and the packet number (Edit1), and
// "Отменить" (Button1, the default button). The dialog is shown first and
// then starts the form (TFormYMU::Show runs the object's job). "Отменить",
// Escape and the close box go to CloseQuery: the dialog closes only when
// the form says so, which at the latest is the transfer's end. Below the
// progress, lblSilence shows the form's Silence(): how long the unit has
// not answered.
class TYModemDialog : public TJobDialog {
public:
    // Shows a dialog over form modally and returns once the form has
    // closed. The dialog releases itself from the event loop afterwards;
    // form is not touched once this returns.
    static void Execute(TFormYMU& form, QWidget* parent);

    TYModemDialog(TFormYMU& form, QWidget* parent = nullptr);
    ~TYModemDialog() override;

    void reject() override;

protected:
    void Started() override;
    void closeEvent(QCloseEvent* event) override;

private:
    void showForm();
    void finish();

    TFormYMU* form_;
    QLabel* title_;
    QProgressBar* progress_;
    QLineEdit* packet_;
    QLineEdit* bytes_;
    QLineEdit* total_;
    QLabel* silence_;
    QPushButton* cancel_;
    TCoreTimerDriver* timer_ = nullptr;
};

}  // namespace kv
