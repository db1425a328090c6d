// The main window on Qt: the frame of TForm1.
//
// A page control with the seven tab pages (empty widgets named tbsNumbers
// ... that the tabs' contents fill), the four bottom buttons, the row of the
// three backup buttons under them, and a status bar of four panels.
// Everything the window does goes through TForm1 and TFormBackup; this class
// only shows it and passes the user's actions on.
#pragma once

#include <QWidget>
#include <array>
#include <memory>

#include "ui/FormBackup.h"
#include "ui/qt/QtBackupView.h"
#include "ui/qt/SecretStore.h"
#include "ui/Form1View.h"
#include "ui/qt/TraceDialog.h"
#include "ui/qt/VoiceDialogs.h"
#include "ui/Unit1.h"

class QBoxLayout;
class QLabel;
class QLayout;
class QProgressDialog;
class QPushButton;
class QStatusBar;
class QTabWidget;

namespace kv {

class TQtDeviceWatch;
class TSettingsStore;

class TMainWindow : public QWidget, public TForm1View, public TBackupView {
public:
    // The client area's size at the usual font; larger fonts make it grow.
    static constexpr int kClientWidth = 664;
    static constexpr int kClientHeight = 488;

    TMainWindow(TSettingsStore& store, const std::string& executable, QWidget* parent = nullptr);
    ~TMainWindow() override;

    TForm1& Form() { return *form_; }
    TFormBackup& Backup() { return *backup_; }
    QTabWidget* PageControl() const { return pages_; }
    // The tab page `index` (kTabNumbers ...), empty until its contents are placed.
    QWidget* Page(int index) const { return pageWidgets_[static_cast<size_t>(index)]; }
    QPushButton* Button(const char* name) const;
    QLabel* Panel(int index) const { return panels_[static_cast<size_t>(index)]; }
    // The window "Журнал обмена", once it has been opened.
    TTraceDialog* TraceWindow() const { return trace_.get(); }

    // "Парк устройств...": the fleet dialog, modal; `program` is the
    // kvbackup it runs (beside this program unless set).
    static constexpr TControlName kFleetButton{"btnFleet", "Парк устройств..."};
    void ShowFleet();
    void SetFleetProgram(const std::string& program) { fleetProgram_ = program; }
    const std::string& FleetProgram() const { return fleetProgram_; }

    // The serial devices the window follows (the port dialog's list, the
    // port panel's presence); the system's unless replaced here.
    TQtDeviceWatch& DeviceWatch() { return *devices_; }
    void SetDeviceWatch(std::unique_ptr<TQtDeviceWatch> watch);

    // ---- TForm1View
    void SetCaption(const std::string& text) override;
    void SetApplicationTitle(const std::string& text) override;
    void SetBusyLook(bool busy) override;
    void SetControlEnabled(const std::string& name, bool enabled) override;
    int CurrentTab() const override;
    void SelectTab(int index) override;
    bool ExecutePorts(TFormPorts& form) override;
    std::string OpenFileName() override;
    std::string SaveFileName(const std::string& proposed) override;
    std::string ExportFileName() override;
    void ExecuteTransfer(TFormYMU& form) override;
    void ExecuteClock(TFormClock& form) override;
    void ShowTrace() override;
    TVoiceView* VoiceView() override { return &voice_; }
    void CloseWindow() override;

    // ---- TBackupView: the snapshot file dialogs, the table of differences
    // and the progress dialog, modal over the window.
    std::string SnapshotSaveName() override;
    std::string SnapshotOpenName() override;
    bool ExecuteDifferences(TFormDifferences& form) override;
    void Progress(int done, int total, const std::string& what) override;
    // The progress dialog while a run shows one.
    QProgressDialog* ProgressDialog() const;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildFrame();
    QLayout* buildBackupRow();
    void addButton(QBoxLayout* row, const TControlName& control);
    void centre();
    // Panel 1 shows whether the device of the current port is present.
    void showDevicePresence();

    QTabWidget* pages_ = nullptr;
    std::array<QWidget*, kTabCount> pageWidgets_{};
    std::array<QLabel*, 4> panels_{};
    QStatusBar* status_ = nullptr;
    bool waitCursor_ = false;
    // A window of its own with no parent: the dialogs, modal to this window,
    // block this window and the windows it parents, never the trace.
    std::unique_ptr<TTraceDialog> trace_;
    std::unique_ptr<TQtDeviceWatch> devices_;
    int devicesTicket_ = 0;
    int modeTicket_ = 0;
    TQtBackupView backupDialogs_{this};
    TQtSecretStore secrets_;
    std::string fleetProgram_;
    TQtVoiceView voice_{this};
    std::unique_ptr<TForm1> form_;
    std::unique_ptr<TFormBackup> backup_;
};

}  // namespace kv
