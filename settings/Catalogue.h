// The catalogue: every setting the tool reads and writes, built once when
// the main window is created, with the grids, fields and controls that show
// them. Nothing in it comes from the unit or a file; the unit only supplies
// values.
//
// The collection objects (extension list, voice menus, mailboxes, voice
// files) are made by a TCollectionFactory that their library provides; the
// catalogue gives them their menu, code and cell. A factory hook left empty
// leaves that object out (its grid texts are written all the same).
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "session/Joint.h"
#include "settings/Settings.h"
#include "settings/View.h"

namespace kv {

// The collection classes, defined by the collections library.
class TListDlg;
class TMenuDlg;
class TMailDlg;
class TFile;

// A collection object as the catalogue holds it: owned as the setting object
// it is (the catalogue gives it its menu, code and cell through joint()),
// and reached by its own class T without a cast. Empty when the factory
// left it out.
//
// Here T is only declared; whoever makes or uses the object includes its
// header (collections/ListDlg.h and so on), and so does code that passes
// get() on as a TJoint1*.
template <class T>
class TCollectionObject {
public:
    TCollectionObject() = default;
    // Takes an object made by a factory hook: a U that is a T and a TJoint1.
    template <class U>
    explicit TCollectionObject(std::unique_ptr<U> object) : typed_(object.get()), joint_(std::move(object))
    {
    }

    T* get() const { return typed_; }
    T* operator->() const { return typed_; }
    T& operator*() const { return *typed_; }
    explicit operator bool() const { return typed_ != nullptr; }
    friend bool operator==(const TCollectionObject& o, std::nullptr_t) { return o.typed_ == nullptr; }
    // The same object as a setting object.
    TJoint1* joint() const { return joint_.get(); }

private:
    T* typed_ = nullptr;
    std::unique_ptr<TJoint1> joint_;
};

struct TCollectionFactory {
    // The extension list that shows its entries in memNumbers.
    std::function<TCollectionObject<TListDlg>(TLinesModel& memNumbers)> extensionList;
    // A voice menu, for a greeting or one of the menus 0–19.
    std::function<TCollectionObject<TMenuDlg>()> voiceMenu;
    // The mailboxes with their grid and free-space field.
    std::function<TCollectionObject<TMailDlg>(TGridModel& sgMail, TTextField& edtFreeSpace)> mailboxes;
    // A voice file slot of a replaceable service message.
    std::function<TCollectionObject<TFile>()> voiceFile;
};

// A label of the window that can be hidden.
struct TLabelModel {
    std::string name;
    bool visible = true;
};

class TCatalogue {
public:
    explicit TCatalogue(const TCollectionFactory& factory = {});
    TCatalogue(const TCatalogue&) = delete;
    TCatalogue& operator=(const TCatalogue&) = delete;

    // ---- the window's controls the objects show themselves in
    // Status bar panel 3 (the fourth), the firmware version.
    TStatusPanel versionPanel{3};
    // "Номера"
    TLinesModel memNumbers{"memNumbers"};
    TTextField edtOpCode{"edtOpCode"};
    TTextField edtOpNumDay{"edtOpNumDay"};
    TTextField edtOpNumNight{"edtOpNumNight"};
    TTextField edtFaxNum{"edtFaxNum"};
    TTextField edtAdmPwd{"edtAdmPwd"};
    // "Время"
    TGridModel sgTime{"sgTime", 3, 8};
    TCheckBox cbHoliday{"cbHoliday", "Праздничный режим"};
    // "Системные параметры"
    TGridModel sgSysParams{"sgSysParams", 3, 1};
    // Greeting replacement by voice menus
    TGridModel sgGreetOverride{"sgGreetOverride", 8, 6};
    // Replaceable service messages
    TGridModel sgMessages{"sgMessages", 4, 15};
    // Greetings and voice menus
    TGridModel sgGreetings{"sgGreetings", 12, 4};
    TLabelModel lblGreetAct{"lblGreetAct", false};
    TGridModel sgMenu{"sgMenu", 12, 21};
    TLabelModel lblMenuAct{"lblMenuAct", false};
    // Mailboxes
    TGridModel sgMail{"sgMail", 4, 16};
    TTextField edtFreeSpace{"edtFreeSpace"};

    // ---- the objects, in the order they are built
    // The firmware version: code 999, menu 6, in versionPanel.
    TVersion version;
    // "Номера": the extension list (menu 7), then codes 100 to 104.
    TCollectionObject<TListDlg> extensionList;
    TVFCode opCode;
    TVFDirectory opNumDay;
    TVFDirectory opNumNight;
    TVFDirectory faxNum;
    TVFDirectory admPwd;
    // Greetings 20, 21, 22 (rows 1-3 of sgGreetings) and voice menus 0-19
    // (rows 1-20 of sgMenu), menu 9; null without a factory.
    std::array<TCollectionObject<TMenuDlg>, 3> greetings;
    std::array<TCollectionObject<TMenuDlg>, 20> voiceMenus;
    // The mailboxes, menu 8.
    TCollectionObject<TMailDlg> mailboxes;
    // The 39 system parameters, rows 1-39 of sgSysParams.
    std::vector<std::unique_ptr<TJoint1>> sysParams;
    // Weekly schedule, Monday first: start (column 1) and end (column 2).
    std::array<TTimeDlg, 7> workStart;
    std::array<TTimeDlg, 7> workEnd;
    // Holiday mode, code 110.
    TCheck holiday;
    // Greeting replacement, per line 1-6 (index 0-5): the choice (501-506)
    // and the day, night, holiday and transfer menus (511-546).
    std::array<TChoice, 6> greetReplace;
    std::array<TNumber, 6> menuDay;
    std::array<TNumber, 6> menuNight;
    std::array<TNumber, 6> menuHoliday;
    std::array<TNumber, 6> menuTransfer;
    // Service messages 60-73 (rows 1-14 of sgMessages); null without a factory.
    std::array<TCollectionObject<TFile>, 14> messages;

    // The system parameter with that code, or null.
    TJoint1* SysParam(int32_t code) const;
    // The greeting (sgGreetings rows 1-3) or voice menu (sgMenu rows 1-20)
    // in that row of that grid; null for another grid or row.
    TMenuDlg* MenuInRow(const TGridModel& grid, int row) const;
    // The service message in that row of sgMessages (1-14), or null.
    TFile* MessageInRow(int row) const;

private:
    void buildNumbers(const TCollectionFactory& factory);
    void buildVoiceMenus(const TCollectionFactory& factory);
    void buildSysParams();
    void buildSchedule();
    void buildGreetOverride();
    void buildMessages(const TCollectionFactory& factory);
};

}  // namespace kv
