#include "ui/qt/Code.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QGroupBox>
#include <QRadioButton>
#include <QVBoxLayout>

#include "ui/qt/DialogKit.h"

namespace kv {

TCodeDialog::TCodeDialog(TFormCode& form, QWidget* parent) : QDialog(parent), form_(form)
{
    setObjectName(QStringLiteral("FormCode"));
    setWindowTitle(Q(TFormCode::Caption));

    auto* frame = new QGroupBox(this);
    frame->setObjectName(QStringLiteral("GroupBox1"));
    auto* grid = new QGridLayout(frame);
    group_ = new QButtonGroup(this);
    group_->setExclusive(true);

    // "1" .. "9" as on a telephone keypad, "0" under them, "Не назначен" last.
    const auto& captions = TFormCode::ButtonCaptions();
    for (int i = 0; i < static_cast<int>(captions.size()); ++i) {
        auto* button = new QRadioButton(Q(captions[static_cast<size_t>(i)]), frame);
        button->setObjectName(QStringLiteral("RadioButton%1").arg(i + 1));
        const int code = TFormCode::ButtonCode(i);
        group_->addButton(button, code);
        if (i < 9)
            grid->addWidget(button, i / 3, i % 3);
        else if (i == 9)
            grid->addWidget(button, 3, 1);
        else
            grid->addWidget(button, 4, 0, 1, 3);
        if (code == form_.CheckedButton())
            button->setChecked(true);
    }
    connect(group_, &QButtonGroup::idToggled, this, [this](int code, bool checked) {
        if (checked)
            form_.Check(code);
    });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(frame);
    AddOkCancel(*this, *layout);
    FixSize(*this);
}

}  // namespace kv
