#include "ui/qt/Directory.h"

#include <QFontDatabase>
#include <QLineEdit>
#include <QVBoxLayout>

#include "ui/qt/DialogKit.h"

namespace kv {

TDirectoryDialog::TDirectoryDialog(TFormDirectory& form, QWidget* parent) : QDialog(parent), form_(form)
{
    setObjectName(QStringLiteral("FormDirectory"));
    setWindowTitle(Q(TFormDirectory::Caption));

    edit_ = new QLineEdit(this);
    edit_->setObjectName(QStringLiteral("Edit1"));
    edit_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    if (form_.MaxLength() > 0)
        edit_->setMaxLength(form_.MaxLength());
    edit_->setText(Q(form_.Text()));
    edit_->setMinimumWidth(edit_->fontMetrics().horizontalAdvance(QLatin1Char('0')) * 26);
    new TTypedKeyFilter(
        edit_, [this](char32_t ch) { return form_.KeyPress(ch); },
        [this](const QString& text) { return form_.Accepts(S(text)); },
        [this](const QString& text) {
            if (!form_.SetText(S(text)))
                edit_->setText(Q(form_.Text()));
        });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(edit_);
    AddOkCancel(*this, *layout);
    FixSize(*this);
}

}  // namespace kv
