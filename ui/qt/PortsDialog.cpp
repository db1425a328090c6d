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
    side->addStretch(1);
    row->addLayout(side);

    AddOkCancel(*this, *layout);
    FixSize(*this);

    connect(group_, &QButtonGroup::idClicked, this, [this](int id) {
        form_.Select(id);
        showDevice();
    });
    // A device picked from the list opens its path; a typed one as typed.
    connect(device_, &QComboBox::activated, this, [this](int index) {
        const QString path = device_->itemData(index).toString();
        device_->setEditText(path);
        form_.SetDevice(S(path));
    });
    connect(device_->lineEdit(), &QLineEdit::textEdited, this, [this](const QString& text) { form_.SetDevice(S(text)); });
    showDevice();
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
    const QString path = Q(form_.Device());
    const int at = device_->findData(path);
    if (at >= 0)
        device_->setCurrentIndex(at);
    device_->setEditText(path);
}

}  // namespace kv
