#include "ui/qt/Number.h"

#include <QLineEdit>
#include <QVBoxLayout>

#include "ui/qt/DialogKit.h"

namespace kv {

TNumberDialog::TNumberDialog(TFormNumber& form, QWidget* parent) : QDialog(parent), form_(form)
{
    setObjectName(QStringLiteral("FormNumber"));
    setWindowTitle(Q(TFormNumber::Caption));

    upDown_ = new TUpDownEdit(this);
    upDown_->setObjectName(QStringLiteral("UpDown1"));
    upDown_->Edit()->setObjectName(QStringLiteral("Edit1"));
    upDown_->SetText(QStringLiteral("0"));
    upDown_->setMinimumWidth(upDown_->fontMetrics().horizontalAdvance(QStringLiteral("-000000")) * 2);
    upDown_->BindNumber([this](int32_t n) { form_.SetPosition(n); }, [this] { form_.Up(); },
                        [this] { form_.Down(); }, [this] { return Q(form_.Text()); });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(upDown_);
    AddOkCancel(*this, *layout);
    FixSize(*this);
}

}  // namespace kv
