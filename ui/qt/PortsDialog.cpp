#include "ui/qt/PortsDialog.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "session/Dialogs.h"
#include "ui/qt/DialogKit.h"

namespace kv {

TPortsDialog::TPortsDialog(TFormPorts& form, QWidget* parent) : QDialog(parent), form_(form)
{
    setObjectName(QStringLiteral("FormPorts"));
    setWindowTitle(QString::fromUtf8(TFormPorts::Caption));
    auto* layout = new QVBoxLayout(this);
    auto* row = new QHBoxLayout;
    layout->addLayout(row);

    auto* box = new QGroupBox(QString::fromUtf8(TFormPorts::GroupCaption), this);
    box->setObjectName(QStringLiteral("RadioGroup1"));
    auto* radios = new QVBoxLayout(box);
    group_ = new QButtonGroup(this);
    for (int i = 0; i < TFormPorts::kPorts; ++i) {
        auto* radio = new QRadioButton(QString::fromUtf8(TFormPorts::Items()[static_cast<size_t>(i)]), box);
        radio->setObjectName(QStringLiteral("rbCOM%1").arg(i + 1));
        group_->addButton(radio, i);
        radios->addWidget(radio);
    }
    group_->button(form_.ItemIndex())->setChecked(true);
    row->addWidget(box);

    auto* side = new QVBoxLayout;
    auto* label = new QLabel(QStringLiteral("Устройство:"), this);
    device_ = new QComboBox(this);
    device_->setObjectName(QStringLiteral("cbDevice"));
    device_->setEditable(true);
    device_->setInsertPolicy(QComboBox::NoInsert);
    device_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    device_->setMinimumContentsLength(24);
    ShowChoices();
    label->setBuddy(device_);
    side->addWidget(label);
    side->addWidget(device_);
    // A unit behind a serial device server: its address instead of a device.
    auto* addressLabel = new QLabel(QStringLiteral("или адрес сервера:"), this);
    address_ = new QLineEdit(this);
    address_->setObjectName(QStringLiteral("edtAddress"));
    address_->setPlaceholderText(QStringLiteral("rfc2217://хост:порт или tcp://хост:порт"));
    addressLabel->setBuddy(address_);
    side->addWidget(addressLabel);
    side->addWidget(address_);
    side->addStretch(1);
    row->addLayout(side);

    AddOkCancel(*this, *layout);
    FixSize(*this);

    connect(group_, &QButtonGroup::idClicked, this, [this](int id) {
        form_.Select(id);
        showDevice();
    });
    // A device picked from the list opens its path; a typed one as typed.
    // The item opens one of the two: a device chosen or typed empties the
    // address, an address typed empties the device.
    connect(device_, &QComboBox::activated, this, [this](int index) {
        const QString path = device_->itemData(index).toString();
        device_->setEditText(path);
        address_->clear();
        form_.SetDevice(S(path));
    });
    connect(device_->lineEdit(), &QLineEdit::textEdited, this, [this](const QString& text) {
        address_->clear();
        form_.SetDevice(S(text));
    });
    connect(address_, &QLineEdit::textEdited, this, [this](const QString& text) {
        QSignalBlocker block(device_);
        device_->setEditText(QString());
        form_.SetAddress(S(text));
    });
    showDevice();
}

void TPortsDialog::accept()
{
    std::string message;
    if (!form_.Check(message)) {
        Dialogs().Message(TMessageKind::Warning, message);
        address_->setFocus();
        address_->selectAll();
        return;
    }
    QDialog::accept();
}

void TPortsDialog::ShowChoices()
{
    QSignalBlocker block(device_);
    const QString shown = device_->currentText();
    device_->clear();
    for (const auto& d : form_.Present())
        device_->addItem(Q(d.Label()), Q(d.path));
    const int at = device_->findData(shown);
    if (at >= 0)
        device_->setCurrentIndex(at);
    device_->setEditText(shown);
}

void TPortsDialog::showDevice()
{
    QSignalBlocker block(device_);
    const bool address = form_.IsAddress();
    const QString path = address ? QString() : Q(form_.Device());
    const int at = device_->findData(path);
    if (at >= 0)
        device_->setCurrentIndex(at);
    device_->setEditText(path);
    address_->setText(address ? Q(form_.Device()) : QString());
}

}  // namespace kv
