// The main window as its form object TForm1 sees it.
//
// TForm1 (ui/Unit1.h) holds the window's state and rules and reaches the
// widgets, and the dialogs it opens itself, only through this interface.
// The Qt main window implements it; tests implement a scripted one. Every
// call is made on the UI thread.
#pragma once

#include <string>

namespace kv {

class TFormPorts;
class TFormYMU;
class TFormClock;
class TVoiceView;

class TForm1View {
public:
    virtual ~TForm1View() = default;

    // The window's caption, and the application's title.
    virtual void SetCaption(const std::string& text) = 0;
    virtual void SetApplicationTitle(const std::string& text) = 0;

    // The busy look: the page control disabled and the wait cursor shown;
    // false restores both. May be called with false when it was not busy.
    virtual void SetBusyLook(bool busy) = 0;

    // Enables or disables the control of that name (a bottom button, a tab
    // page's button or grid). A name the window does not hold is ignored.
    virtual void SetControlEnabled(const std::string& name, bool enabled) = 0;

    // The selected tab page (0 to 6), -1 when none.
    virtual int CurrentTab() const = 0;
    // Selects a tab page (-1: none) without running its show action.
    virtual void SelectTab(int index) = 0;

    // The port dialog, modal; true when it was closed with "OK".
    virtual bool ExecutePorts(TFormPorts& form) = 0;

    // The open-file dialog of an upload; "" when cancelled.
    virtual std::string OpenFileName() = 0;
    // The save-file dialog of a download, proposing `proposed`; it asks
    // before overwriting and needs an existing folder. "" when cancelled.
    virtual std::string SaveFileName(const std::string& proposed) = 0;
    // The save-file dialog of the settings report ("settings.txt", text
    // files); "" when cancelled.
    virtual std::string ExportFileName() = 0;

    // The transfer dialog of one voice-file transfer, modal: shows the form,
    // passes "Отменить" and the close box to it, and returns once the form
    // has closed.
    virtual void ExecuteTransfer(TFormYMU& form) = 0;
    // The clock dialog, modal; returns once it is closed.
    virtual void ExecuteClock(TFormClock& form) = 0;

    // Shows the window "Журнал обмена" (trace/Trace.h) beside the main window,
    // not modal, or brings it to the front when it is shown already.
    virtual void ShowTrace() = 0;

    // The voice files' dialogs and sound devices (ui/VoiceView.h); null
    // where there are none (the voice actions then do nothing).
    virtual TVoiceView* VoiceView() { return nullptr; }

    // Asks the window to close, as the user's close box does, once the
    // event loop is back (it goes through TForm1::CloseQuery).
    virtual void CloseWindow() = 0;
};

}  // namespace kv
