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
        {"btnAddNum", [](TScreens& s) { s.ListAction(10); }},
        {"btnAddGroup", [](TScreens& s) { s.ListAction(15); }},
        {"btnDelNum", [](TScreens& s) { s.ListAction(20); }},
        {"btnDelGroup", [](TScreens& s) { s.ListAction(25); }},
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
        {"btnMailCreate", [](TScreens& s) { s.MailAction(10); }},
        {"btnMailDelete", [](TScreens& s) { s.MailAction(20); }},
        {"btnMailEdit", [](TScreens& s) { s.MailAction(80); }},
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
        {"sgMail", [](TScreens& s) { s.MailAction(80); }},
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

const std::vector<std::string>& TScreens::ClickControls()
{
    static const std::vector<std::string> names = [] {
        std::vector<std::string> v;
        for (const auto& [name, action] : clickActions())
            v.push_back(name);
        for (const char* name : kEditButtons)
            v.emplace_back(name);
        return v;
    }();
    return names;
}

const std::vector<std::string>& TScreens::DoubleClickGrids()
{
    static const std::vector<std::string> names = [] {
        std::vector<std::string> v;
        for (const auto& [name, action] : doubleClickActions())
            v.push_back(name);
        return v;
    }();
    return names;
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

void TScreens::run(TJoint1* object, int action)
{
    if (closed() || !object)
        return;
    TForm1::THandlerScope scope(form_);
    TKvMenu& session = form_.Session();
    object->action = action;
    session.Run(object);
    session.WaitIdle();
}

bool TScreens::readAll(const std::vector<TJoint1*>& objects)
{
    TKvMenu& session = form_.Session();
    const uint64_t shown = MessagesShown();
    bool all = true;
    for (TJoint1* object : objects) {
        if (!object)
            continue;
        session.WaitIdle();
        if (!connected() || session.ActionFailed()) {
            all = false;
            break;
        }
        object->action = 3;
        session.Run(object);
    }
    session.WaitIdle();
    return all && connected() && !session.ActionFailed() && MessagesShown() == shown;
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

namespace {

// The objects of one column of a grid, rows 1 to the last.
std::vector<TJoint1*> columnObjects(const TGridModel& grid, int col)
{
    std::vector<TJoint1*> objects;
    for (int row = 1; row < grid.RowCount(); ++row)
        if (TJoint1* object = grid.Object(col, row))
            objects.push_back(object);
    return objects;
}

}  // namespace

void TScreens::load(int tab, bool systemOnly, const std::function<std::vector<TJoint1*>()>& objects)
{
    if (closed() || form_.loaded[static_cast<size_t>(tab)])
        return;
    const int mode = form_.Session().mode;
    if (systemOnly ? mode != kModeSystem : mode == kModeDisconnected)
        return;
    TForm1::THandlerScope scope(form_);
    form_.BeginBusy();
    // Only a load that read every value marks the tab: otherwise the next
    // showing (or the export) reads it again.
    form_.loaded[static_cast<size_t>(tab)] = readAll(objects());
    form_.EndBusy();
}

void TScreens::LoadNumbers()
{
    load(kTabNumbers, false, [this] {
        TCatalogue& c = form_.Catalogue();
        return std::vector<TJoint1*>{c.extensionList.get(), &c.opCode, &c.opNumDay,
                                     &c.opNumNight,          &c.faxNum, &c.admPwd};
    });
}

void TScreens::LoadGreetings()
{
    load(kTabGreetings, false, [this] { return columnObjects(form_.Catalogue().sgGreetings, 0); });
}

void TScreens::LoadTime()
{
    load(kTabTime, false, [this] {
        TCatalogue& c = form_.Catalogue();
        std::vector<TJoint1*> objects{&c.holiday};
        for (int row = 1; row <= 7; ++row) {
            objects.push_back(c.sgTime.Object(1, row));
            objects.push_back(c.sgTime.Object(2, row));
        }
        return objects;
    });
}

void TScreens::LoadMenu()
{
    load(kTabMenu, false, [this] { return columnObjects(form_.Catalogue().sgMenu, 0); });
}

void TScreens::LoadMail()
{
    if (closed() || form_.Session().mode == kModeDisconnected)
        return;
    TForm1::THandlerScope scope(form_);
    // The tab reads whenever it is shown; its mark tells the settings
    // export that the mailboxes were read since the connection.
    form_.loaded[kTabMail] = readAll({form_.Catalogue().mailboxes.get()});
}

void TScreens::LoadSysParams()
{
    load(kTabSysParams, true, [this] {
        TCatalogue& c = form_.Catalogue();
        std::vector<TJoint1*> objects{&c.version};
        for (TJoint1* row : columnObjects(c.sgSysParams, 2))
            objects.push_back(row);
        return objects;
    });
}

void TScreens::LoadMessages()
{
    load(kTabMessages, true, [this] {
        TCatalogue& c = form_.Catalogue();
        std::vector<TJoint1*> objects;
        for (int row = 1; row <= 5; ++row)
            for (int col = 2; col <= 7; ++col)
                objects.push_back(c.sgGreetOverride.Object(col, row));
        for (int row = 1; row <= 14; ++row)
            objects.push_back(c.sgMessages.Object(1, row));
        return objects;
    });
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

void TScreens::ListAction(int action)
{
    run(form_.Catalogue().extensionList.get(), action);
}

void TScreens::EditSetting(TJoint1* object)
{
    run(object, 1);
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
        voice_->Listen(*menu, grid + "-" + std::to_string(menu->row));
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
    run(currentMenu(grid), 20);
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
        run(menu, 60);
    }
}

// ---- "Время"

void TScreens::sgTimeDblClick()
{
    const TGridModel& grid = form_.Catalogue().sgTime;
    run(grid.Object(grid.Col(), grid.Row()), 1);
}

void TScreens::cbHolidayClick()
{
    // The setting object disables the box while it shows a reply, so only a
    // change the user made gets here with the box enabled.
    if (closed() || !form_.Catalogue().cbHoliday.Enabled())
        return;
    run(&form_.Catalogue().holiday, 1);
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

void TScreens::MailAction(int action)
{
    run(form_.Catalogue().mailboxes.get(), action);
}

// ---- "Системные параметры"

void TScreens::EditSysParam()
{
    if (closed() || !requireSystemMode())
        return;
    const TGridModel& grid = form_.Catalogue().sgSysParams;
    run(grid.Object(2, grid.Row()), 1);
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
    run(grid.Object(grid.Col(), grid.Row()), 1);
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
        voice_->Listen(*file, "sgMessages-" + std::to_string(file->row));
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
    run(file, 20);
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
    file.action = 30;
    file.localPath = path;
    {
        TFormYMU dialog(form_.Session(), form_.Comm(), file);
        form_.View().ExecuteTransfer(dialog);
        // The unit's transfer result, started as the dialog closed.
        form_.Session().WaitIdle();
    }
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
    file.action = 40;
    TFormYMU dialog(form_.Session(), form_.Comm(), file, path);
    form_.View().ExecuteTransfer(dialog);
    form_.Session().WaitIdle();
    // The unit's own file tells the unit's format.
    if (dialog.ExitCode() == 0)
        voice_->Downloaded(path);
}

}  // namespace kv
