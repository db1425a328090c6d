#include "ui/qt/PasswordDialog.h"

#include <QApplication>
#include <QLineEdit>
#include <QProxyStyle>
#include <QVBoxLayout>

#include "ui/qt/DialogKit.h"

namespace kv {

namespace {

// The application's style, with "*" for each character of a password field.
class TStarEchoStyle : public QProxyStyle {
public:
    explicit TStarEchoStyle(QObject* owner) : QProxyStyle(QApplication::style()->name()) { setParent(owner); }
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override
    {
        if (hint == SH_LineEdit_PasswordCharacter)
            return '*';
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

}  // namespace

TPasswordDialog::TPasswordDialog(TFormPassword& form, QWidget* parent) : QDialog(parent), form_(form)
{
    setObjectName(QStringLiteral("FormPassword"));
    setWindowTitle(QString::fromUtf8(TFormPassword::Caption));
    auto* layout = new QVBoxLayout(this);
    edit_ = new QLineEdit(this);
    edit_->setObjectName(QStringLiteral("edtPassword"));
    edit_->setEchoMode(QLineEdit::Password);
    edit_->setStyle(new TStarEchoStyle(this));
    edit_->setAccessibleName(windowTitle());
    edit_->setMinimumWidth(edit_->fontMetrics().averageCharWidth() * 24);
    layout->addWidget(edit_);
    AddOkCancel(*this, *layout);
    // Only the user's edits count as a change.
    connect(edit_, &QLineEdit::textEdited, this, [this](const QString& text) { form_.Edit(S(text)); });
    FixSize(*this);
}

}  // namespace kv
