#include "ui/qt/Time.h"

#include <QTimeEdit>
#include <QVBoxLayout>

#include "ui/qt/DialogKit.h"

namespace kv {

TTimeDialog::TTimeDialog(TFormTime& form, QWidget* parent) : QDialog(parent), form_(form)
{
    setObjectName(QStringLiteral("FormTime"));
    setWindowTitle(Q(TFormTime::Caption));

    picker_ = new QTimeEdit(this);
    picker_->setObjectName(QStringLiteral("DateTimePicker1"));
    picker_->setDisplayFormat(QStringLiteral("HH:mm:ss"));
    picker_->setButtonSymbols(QAbstractSpinBox::UpDownArrows);
    picker_->setWrapping(false);
    picker_->setTime(QTime(form_.Hours(), form_.Minutes(), form_.Seconds()));
    connect(picker_, &QTimeEdit::timeChanged, this,
            [this](QTime t) { form_.SetTime(t.hour(), t.minute(), t.second()); });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(picker_);
    AddOkCancel(*this, *layout);
    FixSize(*this);
}

}  // namespace kv
