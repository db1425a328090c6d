#include "ui/qt/Choice.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QRadioButton>
#include <QVBoxLayout>

#include "ui/qt/DialogKit.h"

namespace kv {

TChoiceDialog::TChoiceDialog(TFormChoice& form, QWidget* parent) : QDialog(parent), form_(form)
{
    setObjectName(QStringLiteral("FormChoice"));
    setWindowTitle(Q(TFormChoice::Caption));

    box_ = new QGroupBox(this);
    box_->setObjectName(QStringLiteral("RadioGroup1"));
    auto* column = new QVBoxLayout(box_);
    group_ = new QButtonGroup(this);
    group_->setExclusive(true);
    const auto& items = form_.Items();
    for (int i = 0; i < static_cast<int>(items.size()); ++i) {
        auto* button = new QRadioButton(Q(items[static_cast<size_t>(i)]), box_);
        group_->addButton(button, i);
        column->addWidget(button);
        if (i == form_.ItemIndex())
            button->setChecked(true);
    }
    connect(group_, &QButtonGroup::idToggled, this, [this](int index, bool checked) {
        if (checked)
            form_.Select(index);
    });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(box_);
    AddOkCancel(*this, *layout);
    FixSize(*this);
}

}  // namespace kv
