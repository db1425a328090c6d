// "Выберите COM-порт": the radio group "Порт" with COM1 to COM4 and, beside
// it, the device the chosen item opens (an editable list of the serial
// devices present), "OK" (default) and "Отмена".
#pragma once

#include <QDialog>

#include "ui/Ports.h"

class QButtonGroup;
class QComboBox;

namespace kv {

class TPortsDialog : public QDialog {
public:
    TPortsDialog(TFormPorts& form, QWidget* parent = nullptr);

    QButtonGroup* Group() const { return group_; }
    QComboBox* Device() const { return device_; }
    // Fills the device list again from the form's devices present; the
    // device field keeps what it shows.
    void ShowChoices();

private:
    void showDevice();

    TFormPorts& form_;
    QButtonGroup* group_;
    QComboBox* device_;
};

}  // namespace kv
