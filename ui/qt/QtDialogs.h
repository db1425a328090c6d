// The session's dialogs on Qt: error and warning message boxes with one OK
// button, and the password dialog, all modal over the main window.
#pragma once

#include <QPointer>
#include <QWidget>

#include "session/Dialogs.h"

namespace kv {

class TQtDialogs : public TDialogs {
public:
    explicit TQtDialogs(QWidget* parent = nullptr) : parent_(parent) {}
    void SetParent(QWidget* parent) { parent_ = parent; }

    // The text as given; a CR inside it is a line break.
    void Message(TMessageKind kind, const std::string& text) override;
    // The same box, with `details` behind its "Show Details..." button.
    void MessageWithDetails(TMessageKind kind, const std::string& text, const std::string& details) override;
    TPasswordAnswer Password() override;

private:
    QPointer<QWidget> parent_;
};

// The message box's text for a core text: CR LF and CR become line breaks.
QString MessageText(const std::string& text);

// The application exception handler of the window: the exception's text in
// an error message box.
void ShowExceptionMessage(std::exception_ptr e);

}  // namespace kv
