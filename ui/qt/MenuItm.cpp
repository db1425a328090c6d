#include "ui/qt/MenuItm.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QLineEdit>
#include <QRadioButton>
#include <QVBoxLayout>

#include "ui/qt/DialogKit.h"

namespace kv {

namespace {

struct TChoiceDesign {
    TFormMenuItm::TKind kind;
    const char* name;
    const char* caption;
};

const TChoiceDesign kChoices[] = {
    {TFormMenuItm::rbNone, "rbNone", "Не назначено"},
    {TFormMenuItm::rbMenu, "rbMenu", "Меню"},
    {TFormMenuItm::rbXfer, "rbXfer", "Перевод вызова на абонента"},
    {TFormMenuItm::rbMsgLeave, "rbMsgLeave", "Запись сообщения в ящик"},
    {TFormMenuItm::rbMsgGet, "rbMsgGet", "Чтение сообщений из ящика"},
};

}  // namespace

TMenuItmDialog::TMenuItmDialog(TFormMenuItm& form, QWidget* parent) : QDialog(parent), form_(form)
{
    setObjectName(QStringLiteral("FormMenuItm"));
    setWindowTitle(Q(TFormMenuItm::kCaption));

    group_ = new QButtonGroup(this);
    group_->setExclusive(true);
    for (const TChoiceDesign& c : kChoices) {
        auto* button = new QRadioButton(Q(c.caption), this);
        button->setObjectName(QString::fromLatin1(c.name));
        group_->addButton(button, c.kind);
    }

    udMenu_ = new TUpDownEdit(this);
    udMenu_->setObjectName(QStringLiteral("udMenu"));
    udMenu_->Edit()->setObjectName(QStringLiteral("edtMenu"));
    udMenu_->setMinimumWidth(udMenu_->fontMetrics().horizontalAdvance(QStringLiteral("000")) * 3);
    edtExt_ = new QLineEdit(this);
    edtExt_->setObjectName(QStringLiteral("edtExt"));
    // A longer paste is cut to the field's length before the form's rule
    // looks at it.
    edtExt_->setMaxLength(TFormMenuItm::kExtMaxLength);
    edtExt_->setMinimumWidth(edtExt_->fontMetrics().horizontalAdvance(QLatin1Char('0')) * 16);

    // The design's rows from the top: "Не назначено", "Меню" with the menu
    // number, the two mailbox choices, then "Перевод вызова на абонента"
    // with the extension. With the mailbox choices hidden, rbXfer stands in
    // the first of their rows.
    const bool xferMoved = form_.XferTop() == TFormMenuItm::kMsgLeaveTop;
    const int xferRow = xferMoved ? 2 : 4;
    auto* grid = new QGridLayout;
    grid->addWidget(Choice(TFormMenuItm::rbNone), 0, 0);
    grid->addWidget(Choice(TFormMenuItm::rbMenu), 1, 0);
    grid->addWidget(udMenu_, 1, 1, Qt::AlignLeft);
    grid->addWidget(Choice(TFormMenuItm::rbXfer), xferRow, 0);
    grid->addWidget(edtExt_, xferRow, 1);
    if (!xferMoved) {
        grid->addWidget(Choice(TFormMenuItm::rbMsgLeave), 2, 0);
        grid->addWidget(Choice(TFormMenuItm::rbMsgGet), 3, 0);
    } else {
        grid->addWidget(Choice(TFormMenuItm::rbMsgLeave), 3, 0);
        grid->addWidget(Choice(TFormMenuItm::rbMsgGet), 4, 0);
    }
    for (const TChoiceDesign& c : kChoices)
        Choice(c.kind)->setVisible(form_.Visible(c.kind));
    // A key read as "L" or "G" with those choices hidden shows no choice.
    if (form_.Visible(form_.Kind()))
        Choice(form_.Kind())->setChecked(true);

    edtExt_->setText(Q(form_.Ext()));
    showMenuNumber();
    showState();

    connect(group_, &QButtonGroup::idToggled, this, [this](int kind, bool checked) {
        if (checked && form_.Choose(static_cast<TFormMenuItm::TKind>(kind)))
            showState();
    });
    udMenu_->onTextEdited = [this](const QString& text) {
        if (form_.SetMenuText(S(text)))
            menuText_ = text;
        else if (!text.trimmed().isEmpty())
            udMenu_->SetText(menuText_);  // not a number of one or two digits
    };
    udMenu_->onStep = [this](int step) {
        if (step > 0)
            form_.MenuUp();
        else
            form_.MenuDown();
        showMenuNumber();
    };
    udMenu_->onEditingFinished = [this] { showMenuNumber(); };
    new TTypedKeyFilter(
        edtExt_, [this](char32_t ch) { return form_.TypeExt(ch); },
        [](const QString& text) { return TFormMenuItm::ExtTextAllowed(S(text)); },
        [this](const QString& text) {
            // The field shows only what the form holds.
            if (!form_.SetExt(S(text)) || Q(form_.Ext()) != text)
                edtExt_->setText(Q(form_.Ext()));
        });

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    AddOkCancel(*this, *layout);
    FixSize(*this);
}

QRadioButton* TMenuItmDialog::Choice(TFormMenuItm::TKind kind) const
{
    return static_cast<QRadioButton*>(group_->button(kind));
}

void TMenuItmDialog::showState()
{
    udMenu_->setEnabled(form_.MenuEnabled());
    edtExt_->setEnabled(form_.ExtEnabled());
}

void TMenuItmDialog::showMenuNumber()
{
    menuText_ = QString::number(form_.MenuNumber());
    udMenu_->SetText(menuText_);
}

}  // namespace kv
