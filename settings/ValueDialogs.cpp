#include "settings/ValueDialogs.h"

#include <algorithm>

namespace kv {

namespace {

// Decodes one UTF-8 sequence at text[i]; advances i. Bad bytes decode as
// themselves.
char32_t decodeUtf8(const std::string& text, size_t& i)
{
    auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char b = byte(i);
    int extra = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : 0;
    if (extra == 0 || i + extra >= text.size()) {
        ++i;
        return b;
    }
    char32_t cp = b & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k)
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    i += extra + 1;
    return cp;
}

void appendUtf8(std::string& text, char32_t cp)
{
    if (cp < 0x80) {
        text += static_cast<char>(cp);
    } else if (cp < 0x800) {
        text += static_cast<char>(0xC0 | (cp >> 6));
        text += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        text += static_cast<char>(0xE0 | (cp >> 12));
        text += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        text += static_cast<char>(0xF0 | (cp >> 18));
        text += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        text += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Number of characters (code points) in a UTF-8 text.
size_t utf8Length(const std::string& text)
{
    size_t n = 0;
    for (size_t i = 0; i < text.size();) {
        decodeUtf8(text, i);
        ++n;
    }
    return n;
}

// Removes the last character of a UTF-8 text.
void dropLastUtf8(std::string& text)
{
    if (text.empty())
        return;
    size_t i = text.size() - 1;
    while (i > 0 && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80)
        --i;
    text.erase(i);
}

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
        dropLastUtf8(text_);
    } else if (key >= 32) {
        if (maxLength_ <= 0 || utf8Length(text_) < static_cast<size_t>(maxLength_))
            appendUtf8(text_, key);
    }
    return true;
}

void TFormDirectory::Type(const std::string& keys)
{
    for (size_t i = 0; i < keys.size();)
        KeyPress(decodeUtf8(keys, i));
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
