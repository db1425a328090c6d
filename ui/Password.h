// "Введите пароль": the password dialog's form. It remembers whether the
// user changed the field since the dialog was shown; an "OK" on an
// untouched field asks again.
#pragma once

#include <string>

#include "session/Dialogs.h"

namespace kv {

class TFormPassword {
public:
    static constexpr const char* Caption = "Введите пароль";

    // The user changed the field (typed, deleted, pasted); text is what it holds now.
    void Edit(const std::string& text)
    {
        text_ = text;
        changed_ = true;
    }
    const std::string& Text() const { return text_; }
    bool Changed() const { return changed_; }
    // What the dialog closed with: ok for "OK" (and Enter), false for
    // "Отмена", Escape or the close box.
    TPasswordAnswer Answer(bool ok) const { return {ok, changed_, text_}; }

private:
    std::string text_;
    bool changed_ = false;
};

}  // namespace kv
