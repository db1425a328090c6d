#include "collections/Forms.h"

#include <algorithm>

#include "session/Text.h"

namespace kv {

// ---- TFormList2 ------------------------------------------------------------

void TFormList2::SetEdit1(const std::string& text)
{
    if (text == edit1_)
        return;
    edit1_ = text;
    edited1_ = true;
}

void TFormList2::SetEdit2(const std::string& text)
{
    if (text == edit2_)
        return;
    edit2_ = text;
    edited2_ = true;
}

// ---- TFormMenuItm ----------------------------------------------------------

bool TFormMenuItm::Load(const std::string& action)
{
    kind_ = rbNone;
    if (action.empty())
        return false;
    const std::string rest = action.substr(1);
    switch (action[0]) {
    case '-':
        return true;
    case 'M': {
        const bool digits = !rest.empty() && rest.size() <= 2 &&
                            std::all_of(rest.begin(), rest.end(), [](char c) { return c >= '0' && c <= '9'; });
        if (!digits)
            return false;
        menuNumber_ = std::stoi(rest);
        kind_ = rbMenu;
        return true;
    }
    case 'N':
        loadExt(rest);
        kind_ = rbXfer;
        return true;
    case 'L':
        loadExt(rest);
        kind_ = rbMsgLeave;
        return true;
    case 'G':
        loadExt(rest);
        kind_ = rbMsgGet;
        return true;
    default:
        return false;
    }
}

void TFormMenuItm::HideMailboxChoices()
{
    mailboxChoicesVisible_ = false;
    xferTop_ = kMsgLeaveTop;
    menuMax_ = 19;
}

bool TFormMenuItm::Visible(TKind kind) const
{
    if (kind == rbMsgLeave || kind == rbMsgGet)
        return mailboxChoicesVisible_;
    return true;
}

bool TFormMenuItm::Choose(TKind kind)
{
    if (!Visible(kind))
        return false;
    kind_ = kind;
    return true;
}

bool TFormMenuItm::SetMenuText(const std::string& text)
{
    std::string digits;
    for (char c : text) {
        if (c >= '0' && c <= '9')
            digits += c;
        else if (c != ' ')
            return false;
    }
    if (digits.empty() || digits.size() > 2)
        return false;
    menuNumber_ = std::stoi(digits);
    return true;
}

void TFormMenuItm::MenuUp()
{
    menuNumber_ = std::clamp(menuNumber_ + 1, 0, menuMax_);
}

void TFormMenuItm::MenuDown()
{
    menuNumber_ = std::clamp(menuNumber_ - 1, 0, menuMax_);
}

bool TFormMenuItm::ExtKeyPasses(char32_t key) const
{
    if (key < 32)
        return true;
    if ((key >= '0' && key <= '9') || key == '*')
        return TextLength(ext_) < static_cast<size_t>(kExtMaxLength);
    return false;
}

bool TFormMenuItm::TypeExt(char32_t key)
{
    if (!ExtKeyPasses(key))
        return false;
    if (key == 8) {
        if (!ext_.empty()) {
            size_t n = TextLength(ext_);
            ext_.resize(Utf8Prefix(ext_, n - 1));
        }
    } else if (key >= 32) {
        ext_ += static_cast<char>(key);
    }
    return true;
}

void TFormMenuItm::loadExt(const std::string& text)
{
    // What the unit holds is shown as it is, at most 14 characters of it.
    ext_ = text.substr(0, Utf8Prefix(text, kExtMaxLength));
}

bool TFormMenuItm::ExtTextAllowed(const std::string& text)
{
    return text.size() <= static_cast<size_t>(kExtMaxLength) &&
           std::all_of(text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || c == '*'; });
}

bool TFormMenuItm::SetExt(const std::string& text)
{
    if (!ExtTextAllowed(text))
        return false;
    ext_ = text;
    return true;
}

std::string TFormMenuItm::Result() const
{
    switch (kind_) {
    case rbMenu:
        return "M" + std::to_string(menuNumber_);
    case rbXfer:
        return "N" + ext_;
    case rbMsgLeave:
        return "L" + ext_;
    case rbMsgGet:
        return "G" + ext_;
    case rbNone:
    default:
        return "-";
    }
}

// ---- TFormMailAdd ----------------------------------------------------------

void TFormMailAdd::PresetCreate()
{
    caption_ = kCaptionCreate;
    owner_.clear();
    ownerEnabled_ = true;
    sizeMinutes_ = 15;
    annMode_ = 0;
    annPeriod_ = 30;
}

void TFormMailAdd::PresetEdit(const std::string& owner, int32_t sizeSeconds, uint8_t mode, int32_t period)
{
    caption_ = kCaptionEdit;
    owner_ = owner;
    ownerEnabled_ = false;
    SetSizeMinutes(sizeSeconds / 60);
    annMode_ = mode < 4 ? mode : 0;
    annPeriod_ = std::clamp<int32_t>(period, kPeriodMin, kPeriodMax);
}

void TFormMailAdd::SetOwner(const std::string& text)
{
    if (ownerEnabled_)
        owner_ = text;
}

void TFormMailAdd::SetSizeMinutes(int minutes)
{
    sizeMinutes_ = std::clamp(minutes, kSizeMin, kSizeMax);
}

void TFormMailAdd::SizeUp()
{
    SetSizeMinutes(sizeMinutes_ + 1);
}

void TFormMailAdd::SizeDown()
{
    SetSizeMinutes(sizeMinutes_ - 1);
}

}  // namespace kv
