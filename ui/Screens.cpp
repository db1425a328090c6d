#include "ui/Screens.h"

#include <functional>
#include <map>

#include "collections/File.h"
#include "collections/ListDlg.h"
#include "collections/MailDlg.h"
#include "collections/MenuDlg.h"
#include "collections/YModemU.h"
#include "session/Dialogs.h"
#include "settings/Clock.h"
#include "ui/FormVoice.h"
#include "ui/Unit1.h"

namespace kv {

namespace {

using TAction = std::function<void(TScreens&)>;

const std::map<std::string, TAction>& clickActions()
{
    static const std::map<std::string, TAction> actions{
        // "Номера"
        {"btnAddNum", [](TScreens& s) { s.ListAction(TListDlg::kAddNumber); }},
        {"btnAddGroup", [](TScreens& s) { s.ListAction(TListDlg::kAddRange); }},
        {"btnDelNum", [](TScreens& s) { s.ListAction(TListDlg::kRemoveNumber); }},
        {"btnDelGroup", [](TScreens& s) { s.ListAction(TListDlg::kRemoveRange); }},
        // The five "Изменить": editTarget.
        // "Приветствия"
        {"btnGreetUpload", [](TScreens& s) { s.MenuUpload("sgGreetings"); }},
        {"btnGreetDownload", [](TScreens& s) { s.MenuDownload("sgGreetings"); }},
        {"btnGreetDelete", [](TScreens& s) { s.MenuDelete("sgGreetings"); }},
        {"btnGreetListen", [](TScreens& s) { s.MenuListen("sgGreetings"); }},
        {"btnGreetRecord", [](TScreens& s) { s.MenuRecord("sgGreetings"); }},
        {"btnGreetSpeak", [](TScreens& s) { s.MenuSynthesize("sgGreetings"); }},
        // "Время"
        {"btnSetTime", [](TScreens& s) { s.btnSetTimeClick(); }},
        // "Меню"
        {"btnMenuUpload", [](TScreens& s) { s.MenuUpload("sgMenu"); }},
        {"btnMenuDownload", [](TScreens& s) { s.MenuDownload("sgMenu"); }},
        {"btnMenuDelete", [](TScreens& s) { s.MenuDelete("sgMenu"); }},
        {"btnMenuListen", [](TScreens& s) { s.MenuListen("sgMenu"); }},
        {"btnMenuRecord", [](TScreens& s) { s.MenuRecord("sgMenu"); }},
        {"btnMenuSpeak", [](TScreens& s) { s.MenuSynthesize("sgMenu"); }},
        // "Почта"
        {"btnMailCreate", [](TScreens& s) { s.MailAction(TMailDlg::kCreate); }},
        {"btnMailDelete", [](TScreens& s) { s.MailAction(TMailDlg::kDelete); }},
        {"btnMailEdit", [](TScreens& s) { s.MailAction(TMailDlg::kEdit); }},
        // "Системные параметры"
        {"btnSysParams", [](TScreens& s) { s.EditSysParam(); }},
        // "Замена сообщений"
        {"btnGreetOverride", [](TScreens& s) { s.EditGreetOverride(); }},
        {"btnMessageUpload", [](TScreens& s) { s.MessageUpload(); }},
        {"btnMessageDownload", [](TScreens& s) { s.MessageDownload(); }},
        {"btnMessageDelete", [](TScreens& s) { s.MessageDelete(); }},
        {"btnMessageListen", [](TScreens& s) { s.MessageListen(); }},
        {"btnMessageRecord", [](TScreens& s) { s.MessageRecord(); }},
        {"btnMessageSpeak", [](TScreens& s) { s.MessageSynthesize(); }},
    };
    return actions;
}

// The setting of the row of a "Изменить" button of the Numbers tab.
TJoint1* editTarget(TCatalogue& c, const std::string& name)
{
    if (name == "btnOpCode")
        return &c.opCode;
    if (name == "btnOpNumDay")
        return &c.opNumDay;
    if (name == "btnOpNumNight")
        return &c.opNumNight;
    if (name == "btnFaxNum")
        return &c.faxNum;
    if (name == "btnAdmPwd")
        return &c.admPwd;
    return nullptr;
}

const char* const kEditButtons[] = {"btnOpCode", "btnOpNumDay", "btnOpNumNight", "btnFaxNum", "btnAdmPwd"};

const std::map<std::string, TAction>& doubleClickActions()
{
    static const std::map<std::string, TAction> actions{
        {"sgGreetings", [](TScreens& s) { s.MenuDoubleClick("sgGreetings"); }},
        {"sgTime", [](TScreens& s) { s.sgTimeDblClick(); }},
        {"sgMenu", [](TScreens& s) { s.MenuDoubleClick("sgMenu"); }},
        {"sgMail", [](TScreens& s) { s.MailAction(TMailDlg::kEdit); }},
        {"sgSysParams", [](TScreens& s) { s.EditSysParam(); }},
        {"sgGreetOverride", [](TScreens& s) { s.EditGreetOverride(); }},
        {"sgMessages", [](TScreens& s) { s.MessageUpload(); }},
    };
    return actions;
}

}  // namespace

TScreens::TScreens(TForm1& form) : form_(form), voice_(std::make_unique<TFormVoice>(form))
{
    if (TMailDlg* mail = mailboxes()) {
        TGridModel& grid = form_.Catalogue().sgMail;
        mail->currentRow = [&grid] { return static_cast<int32_t>(grid.Row()); };
    }
    holidayTicket_ = form_.Catalogue().cbHoliday.clicked.Subscribe([this] { cbHolidayClick(); });
}

TScreens::~TScreens()
{
    form_.Catalogue().cbHoliday.clicked.Unsubscribe(holidayTicket_);
    if (TMailDlg* mail = mailboxes())
        mail->currentRow = nullptr;
}

// ---- state of the session

bool TScreens::closed() const
{
    return form_.Closed();
}

bool TScreens::connected() const
{
    const int mode = form_.Session().mode;
    return mode == kModeAdmin || mode == kModeSystem;
}

bool TScreens::systemMode() const
{
    return form_.Session().mode == kModeSystem;
}

bool TScreens::requireSystemMode() const
{
    if (systemMode())
        return true;
    ShowError(kSystemModeOnly);
    return false;
}

void TScreens::run(TJoint1* object, int32_t step)
{
    if (closed() || !object)
        return;
    TForm1::THandlerScope scope(form_);
    // The core has shown whatever went wrong, where it happened.
    form_.Unit().Run(*object, step);
}

// ---- tabs shown

void TScreens::TabShown(int index)
{
    switch (index) {
    case kTabNumbers: LoadNumbers(); break;
    case kTabGreetings: LoadGreetings(); break;
    case kTabTime: LoadTime(); break;
    case kTabMenu: LoadMenu(); break;
    case kTabMail: LoadMail(); break;
    case kTabSysParams: LoadSysParams(); break;
    case kTabMessages: LoadMessages(); break;
    default: break;
    }
}

void TScreens::load(int tab, bool systemOnly)
{
    if (closed() || form_.loaded[static_cast<size_t>(tab)])
        return;
    const int mode = form_.Session().mode;
    if (systemOnly ? mode != kModeSystem : mode == kModeDisconnected)
        return;
    TForm1::THandlerScope scope(form_);
    form_.BeginBusy();
    // The unit marks the tab only when every value was read, so that the
    // export reads a tab again whose read failed.
    form_.Unit().ReadTab(tab);
    form_.EndBusy();
}

void TScreens::LoadNumbers()
{
    load(kTabNumbers, false);
}

void TScreens::LoadGreetings()
{
    load(kTabGreetings, false);
}

void TScreens::LoadTime()
{
    load(kTabTime, false);
}

void TScreens::LoadMenu()
{
    load(kTabMenu, false);
}

void TScreens::LoadMail()
{
    if (closed() || form_.Session().mode == kModeDisconnected)
        return;
    TForm1::THandlerScope scope(form_);
    // The tab reads whenever it is shown; its mark tells the settings
    // export that the mailboxes were read since the connection.
    form_.Unit().ReadTab(kTabMail, true);
}

void TScreens::LoadSysParams()
{
    load(kTabSysParams, true);
}

void TScreens::LoadMessages()
{
    load(kTabMessages, true);
}

// ---- the user's actions by name

bool TScreens::Click(const std::string& control)
{
    if (TJoint1* object = editTarget(form_.Catalogue(), control)) {
        EditSetting(object);
        return true;
    }
    const auto& actions = clickActions();
    auto it = actions.find(control);
    if (it == actions.end())
        return false;
    it->second(*this);
    return true;
}

bool TScreens::DoubleClick(const std::string& grid)
{
    const auto& actions = doubleClickActions();
    auto it = actions.find(grid);
    if (it == actions.end())
        return false;
    // While disconnected the grids' double-click actions are detached.
    if (form_.DoubleClickAttached(grid))
        it->second(*this);
    return true;
}

// ---- "Номера"

void TScreens::ListAction(int32_t step)
{
    run(form_.Catalogue().extensionList.get(), step);
}

void TScreens::EditSetting(TJoint1* object)
{
    run(object, TJoint1::kInput);
}

// ---- "Приветствия" and "Меню"

TMenuDlg* TScreens::currentMenu(const std::string& grid) const
{
    TCatalogue& c = form_.Catalogue();
    const TGridModel* g = grid == c.sgGreetings.Name() ? &c.sgGreetings
                          : grid == c.sgMenu.Name()    ? &c.sgMenu
                                                       : nullptr;
    if (!g)
        return nullptr;
    return c.MenuInRow(*g, g->Row());
}

void TScreens::MenuUpload(const std::string& grid)
{
    if (TMenuDlg* menu = currentMenu(grid))
        StartUpload(*menu);
}

void TScreens::MenuDownload(const std::string& grid)
{
    if (TMenuDlg* menu = currentMenu(grid))
        StartDownload(*menu);
}

void TScreens::MenuListen(const std::string& grid)
{
    if (closed() || !connected())
        return;
    if (TMenuDlg* menu = currentMenu(grid)) {
        TForm1::THandlerScope scope(form_);
        voice_->Listen(*menu);
    }
}

void TScreens::MenuRecord(const std::string& grid)
{
    if (closed() || !connected())
        return;
    if (TMenuDlg* menu = currentMenu(grid)) {
        TForm1::THandlerScope scope(form_);
        uploadPrepared(*menu, voice_->Record());
    }
}

void TScreens::MenuSynthesize(const std::string& grid)
{
    if (closed() || !connected())
        return;
    if (TMenuDlg* menu = currentMenu(grid)) {
        TForm1::THandlerScope scope(form_);
        uploadPrepared(*menu, voice_->Synthesize());
    }
}

void TScreens::MenuDelete(const std::string& grid)
{
    run(currentMenu(grid), TFile::kDelete);
}

void TScreens::MenuDoubleClick(const std::string& grid)
{
    TMenuDlg* menu = currentMenu(grid);
    if (!menu)
        return;
    const TGridModel& g = grid == form_.Catalogue().sgMenu.Name() ? form_.Catalogue().sgMenu
                                                                  : form_.Catalogue().sgGreetings;
    const int col = g.Col();
    if (col == 1) {
        StartUpload(*menu);
    } else if (col >= 2 && col <= 11) {
        menu->editKey = col - 2;
        run(menu, TMenuDlg::kEditKey);
    }
}

// ---- "Время"

void TScreens::sgTimeDblClick()
{
    const TGridModel& grid = form_.Catalogue().sgTime;
    run(grid.Object(grid.Col(), grid.Row()), TJoint1::kInput);
}

void TScreens::cbHolidayClick()
{
    // The setting object disables the box while it shows a reply, so only a
    // change the user made gets here with the box enabled.
    if (closed() || !form_.Catalogue().cbHoliday.Enabled())
        return;
    run(&form_.Catalogue().holiday, TJoint1::kInput);
}

void TScreens::btnSetTimeClick()
{
    if (closed())
        return;
    TForm1::THandlerScope scope(form_);
    form_.BeginBusy();
    {
        TFormClock clock(form_.Session());
        form_.View().ExecuteClock(clock);
    }
    form_.EndBusy();
}

// ---- "Почта"

TMailDlg* TScreens::mailboxes() const
{
    return form_.Catalogue().mailboxes.get();
}

void TScreens::MailAction(int32_t step)
{
    run(form_.Catalogue().mailboxes.get(), step);
}

// ---- "Системные параметры"

void TScreens::EditSysParam()
{
    if (closed() || !requireSystemMode())
        return;
    const TGridModel& grid = form_.Catalogue().sgSysParams;
    run(grid.Object(2, grid.Row()), TJoint1::kInput);
}

// ---- "Замена сообщений"

void TScreens::EditGreetOverride()
{
    // No mode check: the administrator may edit the replacement too. The
    // button stays enabled while disconnected; an edit then would have Run
    // open the port and log in behind the connect button's back (the tabs'
    // marks of the last connection would stay set), so it does nothing.
    if (closed() || !connected())
        return;
    const TGridModel& grid = form_.Catalogue().sgGreetOverride;
    if (grid.Col() < 2)
        return;
    run(grid.Object(grid.Col(), grid.Row()), TJoint1::kInput);
}

TFile* TScreens::currentMessage() const
{
    const TCatalogue& c = form_.Catalogue();
    return c.MessageInRow(c.sgMessages.Row());
}

void TScreens::MessageUpload()
{
    if (closed() || !requireSystemMode())
        return;
    if (TFile* file = currentMessage())
        StartUpload(*file);
}

void TScreens::MessageDownload()
{
    if (closed() || !requireSystemMode())
        return;
    if (TFile* file = currentMessage())
        StartDownload(*file);
}

void TScreens::MessageListen()
{
    if (closed() || !requireSystemMode())
        return;
    if (TFile* file = currentMessage()) {
        TForm1::THandlerScope scope(form_);
        voice_->Listen(*file);
    }
}

void TScreens::MessageRecord()
{
    if (closed() || !requireSystemMode())
        return;
    if (TFile* file = currentMessage()) {
        TForm1::THandlerScope scope(form_);
        uploadPrepared(*file, voice_->Record());
    }
}

void TScreens::MessageSynthesize()
{
    if (closed() || !requireSystemMode())
        return;
    if (TFile* file = currentMessage()) {
        TForm1::THandlerScope scope(form_);
        uploadPrepared(*file, voice_->Synthesize());
    }
}

void TScreens::MessageDelete()
{
    if (closed() || !requireSystemMode())
        return;
    TFile* file = currentMessage();
    if (!file)
        return;
    form_.BeginBusy();
    run(file, TFile::kDelete);
    form_.EndBusy();
}

// ---- transfers

void TScreens::StartUpload(TFile& file)
{
    if (closed())
        return;
    TForm1::THandlerScope scope(form_);
    const std::string chosen = form_.View().OpenFileName();
    if (chosen.empty())
        return;
    // A sound file in another format than the unit's is converted and
    // shown first; anything else goes as it is.
    uploadPrepared(file, voice_->PrepareUpload(chosen));
}

void TScreens::uploadPrepared(TFile& file, const std::string& path)
{
    if (path.empty() || closed())
        return;
    // The window's transfer dialog, then the unit's transfer result.
    form_.Unit().Upload(file, path);
    voice_->Uploaded(file);
    voice_->Finished();
}

void TScreens::StartDownload(TFile& file)
{
    if (closed() || file.fileName.empty())
        return;
    TForm1::THandlerScope scope(form_);
    const std::string path = form_.View().SaveFileName(file.fileName);
    if (path.empty())
        return;
    int exitCode = -1;
    form_.Unit().Download(file, path, &exitCode);
    // The unit's own file tells the unit's format.
    if (exitCode == 0)
        voice_->Downloaded(path);
}

}  // namespace kv
