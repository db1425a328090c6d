#include "settings/ValueDialogs.h"

#include <algorithm>

#include "session/Text.h"

namespace kv {

namespace {

class TCancelValueDialogs : public TValueDialogs {
public:
    bool Execute(TFormDirectory&) override { return false; }
    bool Execute(TFormChoice&) override { return false; }
    bool Execute(TFormNumber&) override { return false; }
    bool Execute(TFormTime&) override { return false; }
    bool Execute(TFormCode&) override { return false; }
};

}  // namespace

// ---- TFormDirectory

TFormDirectory::TFormDirectory(std::string text, int maxLength, bool allowStar)
    : text_(std::move(text)), maxLength_(maxLength), allowStar_(allowStar)
{
}

bool TFormDirectory::KeyAllowed(char32_t key, bool allowStar)
{
    if (key >= U'0' && key <= U'9')
        return true;
    if (key == U'*')
        return allowStar;
    return key < 32;
}

bool TFormDirectory::KeyPress(char32_t key)
{
    if (!KeyAllowed(key, allowStar_))
        return false;
    if (key == 8) {
        DropLastCharacter(text_);
    } else if (key >= 32) {
        if (maxLength_ <= 0 || TextLength(text_) < static_cast<size_t>(maxLength_))
            AppendUtf8(text_, key);
    }
    return true;
}

bool TFormDirectory::TextAllowed(const std::string& text, int maxLength, bool allowStar)
{
    for (size_t i = 0; i < text.size();) {
        char32_t key = 0;
        NextUtf8(text, i, key);
        if (key < 32 || !KeyAllowed(key, allowStar))
            return false;
    }
    return maxLength <= 0 || TextLength(text) <= static_cast<size_t>(maxLength);
}

bool TFormDirectory::SetText(const std::string& text)
{
    if (!Accepts(text))
        return false;
    text_ = text;
    return true;
}

void TFormDirectory::Type(const std::string& keys)
{
    // A byte that starts no character is typed as itself.
    for (size_t i = 0; i < keys.size();) {
        char32_t key = 0;
        NextUtf8(keys, i, key);
        KeyPress(key);
    }
}

// ---- TFormChoice

TFormChoice::TFormChoice(std::vector<std::string> items, int index) : items_(std::move(items))
{
    Select(index);
}

void TFormChoice::Select(int index)
{
    int count = static_cast<int>(items_.size());
    if (index < -1)
        index = -1;
    if (index >= count)
        index = count - 1;
    index_ = index;
}

// ---- TFormNumber

TFormNumber::TFormNumber(int32_t value, int32_t min, int32_t max)
    : min_(std::clamp(min, PositionMin, PositionMax)), max_(std::clamp(max, PositionMin, PositionMax))
{
    if (max_ < min_)
        max_ = min_;
    position_ = min_;
    SetPosition(value);
}

void TFormNumber::SetPosition(int32_t position)
{
    position_ = std::clamp(position, min_, max_);
}

// ---- TFormTime

int TFormTime::SecondsOfDay(int32_t hours, int32_t minutes)
{
    // A day value's time part; a negative value's time part is that of its
    // magnitude, as the picker reads it.
    int64_t seconds = static_cast<int64_t>(hours) * 3600 + static_cast<int64_t>(minutes) * 60;
    if (seconds < 0)
        seconds = -seconds;
    return static_cast<int>(seconds % 86400);
}

TFormTime::TFormTime(int32_t hours, int32_t minutes) : seconds_(SecondsOfDay(hours, minutes)) {}

void TFormTime::SetTime(int hours, int minutes, int seconds)
{
    int value = ((hours % 24 + 24) % 24) * 3600 + ((minutes % 60 + 60) % 60) * 60 + (seconds % 60 + 60) % 60;
    if (value != seconds_) {
        seconds_ = value;
        changed_ = true;
    }
}

// ---- TFormCode

const std::vector<std::string>& TFormCode::ButtonCaptions()
{
    static const std::vector<std::string> captions = {"1", "2", "3", "4", "5", "6",
                                                      "7", "8", "9", "0", "Не назначен"};
    return captions;
}

int TFormCode::ButtonCode(int buttonIndex)
{
    if (buttonIndex >= 0 && buttonIndex <= 9)
        return buttonIndex + 1;  // "1".."9" are 1..9, "0" is 10
    if (buttonIndex == 10)
        return 0;
    return -1;
}

TFormCode::TFormCode(int32_t code) : initialCode_(code)
{
    Check(code);
}

void TFormCode::Check(int32_t code)
{
    if (code < 0 || code > 10)
        return;
    checked_ = code;
    chosenCode_ = code;
    changed_ = chosenCode_ != initialCode_;
}

// ---- the implementation in force

TValueDialogs& TDialogSetTraits<TValueDialogs>::Default()
{
    static TCancelValueDialogs cancel;
    return cancel;
}

TValueDialogs& ValueDialogs()
{
    return DialogsInForce<TValueDialogs>();
}

}  // namespace kv
