// "Выберите COM-порт": the radio group "Порт" with COM1 to COM4 and, beside
// it, the device the chosen item opens (an editable list of the serial
// devices present) or the address of the serial device server it is
// reached through, "OK" (default) and "Отмена". OK refuses a malformed
// address with the form's warning and keeps the dialog open.
#pragma once

#include <QDialog>

#include "ui/Ports.h"

class QButtonGroup;
class QComboBox;
class QLineEdit;

namespace kv {

class TPortsDialog : public QDialog {
public:
    TPortsDialog(TFormPorts& form, QWidget* parent = nullptr);

    QButtonGroup* Group() const { return group_; }
    QComboBox* Device() const { return device_; }
    QLineEdit* Address() const { return address_; }
    // Fills the device list again from the form's devices present; the
    // device field keeps what it shows.
    void ShowChoices();

    void accept() override;

private:
    void showDevice();

    TFormPorts& form_;
    QButtonGroup* group_;
    QComboBox* device_;
    QLineEdit* address_;
};

}  // namespace kv
