// Pieces every Qt dialog of the window is built from: the "OK" / "Отмена"
// buttons, the fixed border, and the edit field with up/down arrows.
//
// The dialogs show a core form and pass each user action into it; the
// pieces here hold no rule of their own either.
#pragma once

#include <QAbstractSpinBox>
#include <QDialog>
#include <QPointer>
#include <QString>
#include <functional>
#include <string>

class QBoxLayout;
class QLineEdit;
class QPushButton;

namespace kv {

// UTF-8 texts of the core and the toolkit's strings.
inline QString Q(const std::string& text)
{
    return QString::fromStdString(text);
}
inline std::string S(const QString& text)
{
    return text.toStdString();
}

// Adds the row of buttons "OK" (btnOK, the default button, accepts) and
// "Отмена" (btnCancel, rejects) to layout. Escape rejects the dialog too.
void AddOkCancel(QDialog& dialog, QBoxLayout& layout, QPushButton** ok = nullptr,
                 QPushButton** cancel = nullptr);

// A fixed border: the dialog keeps the size its layout asks for, and is wide
// enough for its title (set before this is called).
void FixSize(QDialog& dialog);

// The window's dialogs are modal to the window they are opened over (their
// parent's), not to the whole program, so that the trace window, a window
// of its own, stays usable while one of them is open. A dialog without a
// parent is modal to the program. Set before the dialog is shown.
void SetModalToParent(QWidget& dialog);

// Shows dialog modally to its parent's window (exec() keeps that modality)
// and returns its result.
int ExecModal(QDialog& dialog);

// A dialog whose actions run jobs, so that its handlers wait in nested
// event loops: it is started once it is on the screen, and it ends itself
// with accept() or reject() and deleteLater(). RunModal waits for it in a
// loop of its own rather than exec(), so that no frame of the dialog is on
// the stack when the deferred deletion comes, however deep a nested loop
// the end arrived in.
class TJobDialog : public QDialog {
public:
    using QDialog::QDialog;

    // Shows dialog modally to its parent's window and returns once it has
    // finished or is gone.
    static void RunModal(const QPointer<TJobDialog>& dialog);

protected:
    // Called once, from the event loop, after the dialog was first shown.
    virtual void Started() = 0;
    void showEvent(QShowEvent* event) override;

private:
    bool started_ = false;
};

// An edit field with up/down arrows attached (an up-down control and its
// buddy). The field takes any text; every edit is handed to onTextEdited
// and every arrow click, Up/Down key or wheel step to onStep (+1 or -1 per
// step). The owner shows the form's value back with SetText. objectName
// names the arrows; Edit() is the field, which gets its own objectName.
class TUpDownEdit : public QAbstractSpinBox {
public:
    explicit TUpDownEdit(QWidget* parent = nullptr);

    QLineEdit* Edit() const { return lineEdit(); }
    void SetText(const QString& text);

    std::function<void(int)> onStep;
    std::function<void(const QString&)> onTextEdited;
    // The field lost focus or Enter was pressed in it.
    std::function<void()> onEditingFinished;

    // The usual binding to a form's number: a typed number goes to
    // setTyped, the arrows to up and down, and the field shows shown()
    // after each step, when editing ends and now.
    void BindNumber(std::function<void(int32_t)> setTyped, std::function<void()> up, std::function<void()> down,
                    std::function<QString()> shown);

    void stepBy(int steps) override;
    QValidator::State validate(QString& input, int& pos) const override;

protected:
    StepEnabled stepEnabled() const override;
};

// The key filter of a field whose form holds the rule: every character a
// key types (Backspace as 8) goes to pass(ch) before it reaches the field,
// and the key is dropped when pass refuses any of it. Keys that type
// nothing (arrows, Delete, shortcuts with Ctrl) are not characters and
// reach the field unasked. Text that enters any other way (a paste by
// Ctrl+V or the middle button, a drop, an insert) is held against
// accepts(text), the form's rule for the field's whole text, by a validator
// on the field: the field refuses a change that breaks it. Whatever the
// field then holds goes to sync(text).
class TTypedKeyFilter : public QObject {
public:
    TTypedKeyFilter(QLineEdit* field, std::function<bool(char32_t)> pass,
                    std::function<bool(const QString&)> accepts, std::function<void(const QString&)> sync);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLineEdit* field_;
    std::function<bool(char32_t)> pass_;
    std::function<void(const QString&)> sync_;
};

// Parses a decimal integer the user typed (blanks around it allowed),
// saturating at the limits of int32. False when the text is no number.
bool ParseTypedNumber(const QString& text, int32_t& value);

}  // namespace kv
