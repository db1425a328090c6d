#include "ui/qt/DialogKit.h"

#include <QBoxLayout>
#include <QDialog>
#include <QEventLoop>
#include <QFont>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QValidator>
#include <algorithm>
#include <limits>

namespace kv {

void AddOkCancel(QDialog& dialog, QBoxLayout& layout, QPushButton** ok, QPushButton** cancel)
{
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    auto* btnOK = new QPushButton(QStringLiteral("OK"), &dialog);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setDefault(true);
    btnOK->setAutoDefault(true);
    auto* btnCancel = new QPushButton(QStringLiteral("Отмена"), &dialog);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setAutoDefault(false);
    row->addWidget(btnOK);
    row->addWidget(btnCancel);
    layout.addLayout(row);
    QObject::connect(btnOK, &QPushButton::clicked, &dialog, &QDialog::accept);
    QObject::connect(btnCancel, &QPushButton::clicked, &dialog, &QDialog::reject);
    if (ok)
        *ok = btnOK;
    if (cancel)
        *cancel = btnCancel;
}

void FixSize(QDialog& dialog)
{
    if (dialog.layout())
        dialog.layout()->setSizeConstraint(QLayout::SetFixedSize);
    // A narrow dialog would leave its title cut short in the frame: room for
    // the title in the frame's (usually bold) font, its icon and buttons.
    auto* box = qobject_cast<QBoxLayout*>(dialog.layout());
    if (box && (box->direction() == QBoxLayout::TopToBottom || box->direction() == QBoxLayout::BottomToTop) &&
        !dialog.windowTitle().isEmpty()) {
        QFont bold = dialog.font();
        bold.setBold(true);
        const QFontMetrics metrics(bold);
        box->addStrut(metrics.horizontalAdvance(dialog.windowTitle()) + metrics.height() * 6);
    }
    dialog.setSizeGripEnabled(false);
    dialog.setWindowFlag(Qt::WindowContextHelpButtonHint, false);
}

void SetModalToParent(QWidget& dialog)
{
    dialog.setWindowModality(dialog.parentWidget() ? Qt::WindowModal : Qt::ApplicationModal);
}

int ExecModal(QDialog& dialog)
{
    SetModalToParent(dialog);
    return dialog.exec();
}

// ---- TJobDialog

void TJobDialog::RunModal(const QPointer<TJobDialog>& dialog)
{
    QEventLoop loop;
    connect(dialog, &QDialog::finished, &loop, &QEventLoop::quit);
    connect(dialog, &QObject::destroyed, &loop, &QEventLoop::quit);
    SetModalToParent(*dialog);
    dialog->show();
    if (dialog && dialog->isVisible())
        loop.exec(QEventLoop::DialogExec);
}

void TJobDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (started_)
        return;
    started_ = true;
    QPointer<TJobDialog> self(this);
    QMetaObject::invokeMethod(
        this,
        [self] {
            if (self)
                self->Started();
        },
        Qt::QueuedConnection);
}

// ---- TUpDownEdit

TUpDownEdit::TUpDownEdit(QWidget* parent) : QAbstractSpinBox(parent)
{
    setButtonSymbols(QAbstractSpinBox::UpDownArrows);
    setWrapping(false);
    setAccelerated(false);
    setCorrectionMode(QAbstractSpinBox::CorrectToPreviousValue);
    connect(lineEdit(), &QLineEdit::textEdited, this, [this](const QString& text) {
        if (onTextEdited)
            onTextEdited(text);
    });
    connect(this, &QAbstractSpinBox::editingFinished, this, [this] {
        if (onEditingFinished)
            onEditingFinished();
    });
}

void TUpDownEdit::SetText(const QString& text)
{
    if (lineEdit()->text() != text)
        lineEdit()->setText(text);
}

void TUpDownEdit::BindNumber(std::function<void(int32_t)> setTyped, std::function<void()> up,
                             std::function<void()> down, std::function<QString()> shown)
{
    onTextEdited = [setTyped](const QString& text) {
        int32_t n = 0;
        if (ParseTypedNumber(text, n))
            setTyped(n);
    };
    onStep = [this, up, down, shown](int step) {
        if (step > 0)
            up();
        else
            down();
        SetText(shown());
    };
    onEditingFinished = [this, shown] { SetText(shown()); };
    SetText(shown());
}

void TUpDownEdit::stepBy(int steps)
{
    if (!onStep)
        return;
    const int one = steps > 0 ? 1 : -1;
    for (int i = 0; i != steps; i += one)
        onStep(one);
}

QValidator::State TUpDownEdit::validate(QString&, int&) const
{
    // The field takes what is typed; the form decides what it means.
    return QValidator::Acceptable;
}

QAbstractSpinBox::StepEnabled TUpDownEdit::stepEnabled() const
{
    return StepUpEnabled | StepDownEnabled;
}

// ---- TTypedKeyFilter

namespace {

// The form's rule for a field's whole text as the field's validator.
class TFormRuleValidator : public QValidator {
public:
    TFormRuleValidator(QObject* parent, std::function<bool(const QString&)> accepts)
        : QValidator(parent), accepts_(std::move(accepts))
    {
    }
    State validate(QString& input, int&) const override { return accepts_(input) ? Acceptable : Invalid; }

private:
    std::function<bool(const QString&)> accepts_;
};

}  // namespace

TTypedKeyFilter::TTypedKeyFilter(QLineEdit* field, std::function<bool(char32_t)> pass,
                                 std::function<bool(const QString&)> accepts, std::function<void(const QString&)> sync)
    : QObject(field), field_(field), pass_(std::move(pass)), sync_(std::move(sync))
{
    field_->installEventFilter(this);
    field_->setValidator(new TFormRuleValidator(this, std::move(accepts)));
    connect(field_, &QLineEdit::textChanged, this, [this](const QString& text) { sync_(text); });
}

bool TTypedKeyFilter::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != field_ || event->type() != QEvent::KeyPress)
        return false;
    auto* key = static_cast<QKeyEvent*>(event);
    bool drop = false;
    bool fieldUnchanged = false;
    if (key->key() == Qt::Key_Backspace) {
        drop = !pass_(8);
        // Backspace at the start of the field removes nothing there.
        fieldUnchanged = field_->cursorPosition() == 0 && !field_->hasSelectedText();
    } else if (!(key->modifiers() & (Qt::ControlModifier | Qt::MetaModifier)) && !key->text().isEmpty() &&
               key->key() != Qt::Key_Delete) {
        for (char32_t ch : key->text().toUcs4())
            if (!pass_(ch))
                drop = true;
    }
    // The form may have taken (part of) a key the field does not apply.
    if (drop || fieldUnchanged)
        sync_(field_->text());
    return drop;
}

bool ParseTypedNumber(const QString& text, int32_t& value)
{
    const QString t = text.trimmed();
    if (t.isEmpty())
        return false;
    bool ok = false;
    const qlonglong n = t.toLongLong(&ok);
    if (ok) {
        value = static_cast<int32_t>(std::clamp<qlonglong>(n, std::numeric_limits<int32_t>::min(),
                                                           std::numeric_limits<int32_t>::max()));
        return true;
    }
    // Longer than any 64-bit number: saturate by the sign.
    static const QRegularExpression digits(QStringLiteral("^[+-]?[0-9]+$"));
    if (!digits.match(t).hasMatch())
        return false;
    value = t.startsWith(u'-') ? std::numeric_limits<int32_t>::min() : std::numeric_limits<int32_t>::max();
    return true;
}

}  // namespace kv
