// The rules of the seven tab pages: what each reads when it is shown and
// what its buttons and grids do.
//
// The screens hold no data of their own. Every cell and field is written by
// a setting object of the catalogue; a screen only has the unit (unit/Unit.h)
// run an object's job from a named step of its class. Handlers run on the UI thread and may
// wait for the worker in a nested event loop (Run does), so each holds the
// window's THandlerScope while it runs.
//
// A load action that runs several jobs stops starting them once the session
// has left the connected modes (a failed re-login, an unplugged device,
// "Отмена" in the password dialog) or a job found the unit silent (the
// action failed, TKvMenu::TAction): one failure gives one message, not one
// per remaining object. The jobs already run stay done; the tab's mark is
// set only when every value was read, so the next showing of the tab (or
// the export, or a snapshot) reads it again.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kv {

class TForm1;
class TFile;
class TFormVoice;
class TJoint1;
class TMailDlg;
class TMenuDlg;

class TScreens {
public:
    static constexpr const char* kSystemModeOnly = "Операция возможна только в системном режиме.";

    // Binds the mailbox object's current-row hook to the mail grid and
    // subscribes to the holiday check box.
    explicit TScreens(TForm1& form);
    ~TScreens();
    TScreens(const TScreens&) = delete;
    TScreens& operator=(const TScreens&) = delete;

    // The tab page `index` (kTabNumbers ...) was shown: its load action.
    void TabShown(int index);

    // ---- load actions, one per tab. Each reads only under its own rule
    // (mode, mark) and returns once its last job has ended, so a caller
    // (the settings export) finds the data in place afterwards.
    void LoadNumbers();
    void LoadGreetings();
    void LoadTime();
    void LoadMenu();
    void LoadMail();
    void LoadSysParams();
    void LoadMessages();

    // ---- the user's actions, by the control's name: a button's click, a
    // grid's double click on its current cell. False for a name that has no
    // action here (the caller then does nothing).
    bool Click(const std::string& control);
    bool DoubleClick(const std::string& grid);

    // ---- "Номера"
    // Extension list: TListDlg::kAddNumber, kAddRange, kRemoveNumber or
    // kRemoveRange.
    void ListAction(int32_t step);
    // "Изменить" of a row: edits that setting (action 1).
    void EditSetting(TJoint1* object);

    // ---- "Приветствия" and "Меню" (grid: sgGreetings or sgMenu)
    void MenuUpload(const std::string& grid);
    void MenuDownload(const std::string& grid);
    void MenuDelete(const std::string& grid);
    // Column 1 uploads, columns 2 to 11 edit that key; elsewhere nothing.
    void MenuDoubleClick(const std::string& grid);
    // "Прослушать" the row's file; "Записать" and "Синтезировать" a new
    // one through the preview, then upload it (connected only).
    void MenuListen(const std::string& grid);
    void MenuRecord(const std::string& grid);
    void MenuSynthesize(const std::string& grid);

    // ---- "Время"
    void sgTimeDblClick();
    // The holiday box changed state; writes it only while the box is enabled.
    void cbHolidayClick();
    // Opens the clock dialog inside the busy state.
    void btnSetTimeClick();

    // ---- "Почта"
    // TMailDlg::kCreate, kDelete or kEdit (the current row's mailbox).
    void MailAction(int32_t step);

    // ---- "Системные параметры"
    // btnSysParams and the grid's double click: edits the selected row's
    // setting, in system mode only.
    void EditSysParam();

    // ---- "Замена сообщений"
    // btnGreetOverride and the replacement grid's double click.
    void EditGreetOverride();
    void MessageUpload();
    void MessageDownload();
    void MessageDelete();
    // As for the menus, in system mode only.
    void MessageListen();
    void MessageRecord();
    void MessageSynthesize();

    // ---- transfers of one voice file (a service message or a voice menu)
    // Open dialog, then (for a sound file in another format than the
    // unit's) the preview of the converted file, then the transfer dialog;
    // a cancelled dialog sends nothing.
    void StartUpload(TFile& file);
    // Only with a file on the unit: save dialog proposing its name, then the
    // transfer dialog. A WAV received in one of the unit's formats tells the
    // device's format.
    void StartDownload(TFile& file);

    // The voice files' rules (ui/FormVoice.h).
    TFormVoice& Voice() { return *voice_; }

private:
    bool closed() const;
    bool connected() const;
    bool systemMode() const;
    // Shows the system-mode message unless in system mode.
    bool requireSystemMode() const;
    // Runs one job from a named step of the object's class and waits for
    // its end.
    void run(TJoint1* object, int32_t step);
    // A tab's load: in a connected mode (or in system mode only) and while
    // the tab's mark is clear, the unit reads the tab inside one busy
    // section; the mark is set only when every value was read.
    void load(int tab, bool systemOnly);
    // The voice-menu object of a greetings or menu grid's current row.
    TMenuDlg* currentMenu(const std::string& grid) const;
    TFile* currentMessage() const;
    TMailDlg* mailboxes() const;
    // The transfer dialog uploading `path` (nothing when empty) into `file`.
    void uploadPrepared(TFile& file, const std::string& path);

    TForm1& form_;
    std::unique_ptr<TFormVoice> voice_;
    int holidayTicket_ = 0;
};

}  // namespace kv
