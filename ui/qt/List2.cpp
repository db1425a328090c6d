#include "ui/qt/List2.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QVBoxLayout>

#include "ui/qt/DialogKit.h"

namespace kv {

TList2Dialog::TList2Dialog(TFormList2& form, QWidget* parent) : QDialog(parent), form_(form)
{
    setObjectName(QStringLiteral("FormList2"));
    setWindowTitle(Q(TFormList2::kCaption));

    edit1_ = new QLineEdit(Q(form_.Edit1()), this);
    edit1_->setObjectName(QStringLiteral("Edit1"));
    edit2_ = new QLineEdit(Q(form_.Edit2()), this);
    edit2_->setObjectName(QStringLiteral("Edit2"));
    for (QLineEdit* e : {edit1_, edit2_})
        e->setMinimumWidth(e->fontMetrics().horizontalAdvance(QLatin1Char('0')) * 14);
    connect(edit1_, &QLineEdit::textChanged, this, [this](const QString& t) { form_.SetEdit1(S(t)); });
    connect(edit2_, &QLineEdit::textChanged, this, [this](const QString& t) { form_.SetEdit2(S(t)); });

    auto* fields = new QHBoxLayout;
    fields->addWidget(edit1_);
    fields->addWidget(edit2_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    AddOkCancel(*this, *layout);
    FixSize(*this);
}

}  // namespace kv
