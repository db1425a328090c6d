// The logic of the three dialogs that the collection objects open.
//
// Each class is the state of one modal dialog: the window draws it and feeds
// the user's typing and clicks back through the setters; tests drive the
// same setters from a script. Nothing here touches a toolkit or the unit.
//   TFormList2    the range dialog of the extension list
//   TFormMenuItm  the action of one key of a voice menu
//   TFormMailAdd  creating a mailbox or changing its size
// Texts are UTF-8.
#pragma once

#include <cstdint>
#include <string>

namespace kv {

// "Введите диапазон": two free text fields, the first and the last number.
// The dialog counts as filled only when both fields have been changed since
// it opened; the texts themselves are neither checked nor ordered.
class TFormList2 {
public:
    static constexpr const char* kCaption = "Введите диапазон";

    const std::string& Edit1() const { return edit1_; }
    const std::string& Edit2() const { return edit2_; }
    // A change of a field (its OnChange): setting the text it already holds
    // is no change.
    void SetEdit1(const std::string& text);
    void SetEdit2(const std::string& text);
    bool Filled() const { return edited1_ && edited2_; }
    // The entry the list sends: first field, "-", second field.
    std::string Range() const { return edit1_ + "-" + edit2_; }

private:
    std::string edit1_;
    std::string edit2_;
    bool edited1_ = false;
    bool edited2_ = false;
};

// "Выберите действие": what one key of a voice menu does.
class TFormMenuItm {
public:
    static constexpr const char* kCaption = "Выберите действие";
    // The radio buttons; the checked one is the kind of the action.
    enum TKind { rbNone, rbMenu, rbXfer, rbMsgLeave, rbMsgGet };
    static constexpr int kExtMaxLength = 14;
    // Upper bound of the menu number in the form's design; voice menus use
    // HideMailboxChoices(), which lowers it to 19.
    static constexpr int kDesignMenuMax = 39;
    // Top of the row where rbMsgLeave stands, to which rbXfer moves when
    // the mailbox choices are hidden.
    static constexpr int kMsgLeaveTop = 98;

    // Sets the dialog from an action in the unit's notation ("-", "M5",
    // "N201", "L3", "G3"). Returns false, with "Не назначено" chosen, for
    // any other text, the empty one included, and for an "M" not followed
    // by a one- or two-digit decimal number.
    bool Load(const std::string& action);
    // What the voice-menu screens do before showing the dialog: hide the two
    // mailbox choices, move rbXfer into rbMsgLeave's row and limit the menu
    // number to 0..19. The checked button is not changed.
    void HideMailboxChoices();

    TKind Kind() const { return kind_; }
    // A click on a radio button (hidden ones cannot be clicked: false).
    bool Choose(TKind kind);
    bool Visible(TKind kind) const;
    int XferTop() const { return xferTop_; }

    // The menu number field with its up/down arrows (step 1, no wrap).
    int MenuNumber() const { return menuNumber_; }
    int MenuMax() const { return menuMax_; }
    // Typing into the masked two-digit field: one or two digits (blanks of
    // the mask around them allowed). False, and no change, otherwise.
    bool SetMenuText(const std::string& text);
    void MenuUp();
    void MenuDown();
    bool MenuEnabled() const { return kind_ == rbMenu; }

    // The extension field.
    const std::string& Ext() const { return ext_; }
    bool ExtEnabled() const { return kind_ == rbXfer || kind_ == rbMsgLeave || kind_ == rbMsgGet; }
    // The key filter: control keys pass, digits and "*" pass while the
    // text is shorter than 14 characters, all other keys are dropped.
    bool ExtKeyPasses(char32_t key) const;
    // A key typed into the field: filtered, then applied (Backspace removes
    // the last character, other control keys change nothing). True when
    // the key passed the filter.
    bool TypeExt(char32_t key);
    // The rule for the field's whole text, however it got there: digits
    // and "*", at most 14 of them.
    static bool ExtTextAllowed(const std::string& text);
    // A text put into the field as a whole (pasted, dropped): taken when
    // the rule allows it; false, and the field keeps its text, otherwise.
    bool SetExt(const std::string& text);

    // The action that OK writes: "-", "M" + the menu number, or "N", "L",
    // "G" + the extension field's text.
    std::string Result() const;

private:
    void loadExt(const std::string& text);

    TKind kind_ = rbNone;
    bool mailboxChoicesVisible_ = true;
    int xferTop_ = 0;
    int menuNumber_ = 0;
    int menuMax_ = kDesignMenuMax;
    std::string ext_;
};

// The mailbox dialog: "Создание ящика" or "Параметры ящика".
class TFormMailAdd {
public:
    static constexpr const char* kCaptionCreate = "Создание ящика";
    static constexpr const char* kCaptionEdit = "Параметры ящика";
    static constexpr int kSizeMin = 1, kSizeMax = 120;
    static constexpr int kPeriodMin = 1, kPeriodMax = 99;
    // Items of rgAnnMode "Оповещение".
    static constexpr const char* kAnnModes[4] = {"Отключено", "Индикатор", "Звонок", "Сообщение"};

    // Create: empty editable owner, 15 minutes, mode "Отключено", period 30.
    void PresetCreate();
    // Edit: the mailbox's owner, not editable; its size in whole minutes;
    // mode and period from the record.
    void PresetEdit(const std::string& owner, int32_t sizeSeconds, uint8_t mode, int32_t period);

    const std::string& Caption() const { return caption_; }

    const std::string& Owner() const { return owner_; }
    bool OwnerEnabled() const { return ownerEnabled_; }
    // The user's typing; ignored while the field is disabled.
    void SetOwner(const std::string& text);

    // edtSize with udSize: 1 to 120 minutes, step 1, no wrap.
    int SizeMinutes() const { return sizeMinutes_; }
    void SetSizeMinutes(int minutes);  // kept within 1..120
    void SizeUp();
    void SizeDown();
    // What the dialog sends: the size in seconds.
    int32_t SizeSeconds() const { return sizeMinutes_ * 60; }

    // The notification controls exist on the form but are hidden in both
    // uses; their values are kept.
    bool AnnouncementVisible() const { return false; }
    uint8_t AnnMode() const { return annMode_; }
    int32_t AnnPeriod() const { return annPeriod_; }

private:
    std::string caption_;
    std::string owner_;
    bool ownerEnabled_ = true;
    int sizeMinutes_ = 15;
    uint8_t annMode_ = 0;
    int32_t annPeriod_ = 30;
};

}  // namespace kv
