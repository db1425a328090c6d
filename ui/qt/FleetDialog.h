// "Парк устройств": the units of a fleet file in a table, refreshed when a
// run ends; a unit's versions with their changes; "Подключиться" to a unit
// in the main window; "Сравнить с устройством" and "Восстановить эту
// версию" through the window's compare and restore. A run is kvbackup as a
// child process (QProcess): the window never waits for it.
//
// Controls: edtFleetFile and btnFleetFile (the fleet file, remembered in
// the user's settings), sgFleet (the units), btnRun and btnRunUnit,
// lblRun (the last run's summary), tvHistory (versions, their changes
// under them), btnConnect with cbRememberPassword, btnCompare, btnRestore,
// btnClose. The rules are TFleetPanel's (fleet/FleetPanel.h).
#pragma once

#include <QDialog>
#include <QProcess>
#include <functional>
#include <string>

#include "fleet/FleetPanel.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;
class QTreeWidget;

namespace kv {

class TForm1;
class TFormBackup;

class TFleetDialog : public QDialog {
public:
    TFleetDialog(TForm1& form, TFormBackup& backup, TSecretStore& secrets, QWidget* parent = nullptr);
    ~TFleetDialog() override;

    // The kvbackup that runs the fleet: beside this program, else on PATH.
    void SetProgram(const std::string& path) { program_ = path; }
    static std::string DefaultProgram();

    // Opens a fleet file (as the file button does) and remembers it.
    bool OpenFile(const std::string& path);
    TFleetPanel& Panel() { return panel_; }

    // Starts a run of the whole fleet, or of the selected unit; nothing
    // while one runs.
    void StartRun(bool selectedOnly);
    bool Running() const;
    // Told when a run has ended and the table shows its outcome.
    std::function<void()> onRunEnded;
    // Told when a secret store's answer has been dealt with, and when a
    // connection the dialog started has ended (connected or not): both may
    // wait for the secret store.
    std::function<void()> onSecretDone;
    std::function<void()> onConnectDone;

    // The selected unit ("" none) and version ("" none).
    std::string SelectedUnit() const;
    std::string SelectedVersion() const;
    void SelectUnit(const std::string& name);

    // The buttons' actions.
    void ConnectUnit();
    void CompareVersion();
    void RestoreVersion();

protected:
    void reject() override;

private:
    void chooseFile();
    void showUnits();
    void showHistory();
    void showButtons();
    void runEnded(int exitCode, QProcess::ExitStatus status);
    void say(const std::string& text);
    // Connects the main window to the selected unit, then `then` once
    // connected.
    void connectThen(std::function<void()> then);
    void versionAction(bool restore);
    void rememberToggled(bool on);

    TForm1& form_;
    TFormBackup& backup_;
    TSecretStore& secrets_;
    TFleetPanel panel_;
    std::string program_;
    QProcess* process_ = nullptr;
    // Whether the dialog still lives, for the secret store's late answers.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);

    QLineEdit* file_;
    QTableWidget* units_;
    QTreeWidget* history_;
    QLabel* run_;
    QPushButton* runAll_;
    QPushButton* runUnit_;
    QPushButton* connect_;
    QCheckBox* remember_;
    QLabel* secret_;
    QPushButton* compare_;
    QPushButton* restore_;
    QPushButton* close_;
};

}  // namespace kv
