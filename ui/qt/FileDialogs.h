// The open-file and save-file dialogs of the screens and the export.
//
// Each returns the chosen path (as the file system spells it), or nothing
// when the user cancelled. The toolkit's own file dialog is used on every
// desktop, so that the options below hold the same everywhere.
#pragma once

#include <QFileDialog>
#include <optional>
#include <string>

namespace kv {

// A save dialog that also requires the chosen file's folder to exist: OK
// with a name in a missing folder says so and keeps the dialog open. The
// question before overwriting an existing file is the toolkit's.
class TSaveFileDialog : public QFileDialog {
public:
    explicit TSaveFileDialog(QWidget* parent = nullptr);
    void accept() override;
};

// Upload: an open dialog with the default settings (no filter, no name).
std::optional<std::string> AskUploadFile(QWidget* parent);
// Download: a save dialog proposing the voice file's name from the unit
// (its last path component only).
std::optional<std::string> AskDownloadFile(QWidget* parent, const std::string& proposedName);
// Export: a save dialog for the text report, "settings.txt" proposed,
// text files or all files, the extension "txt" added to a bare name.
std::optional<std::string> AskExportFile(QWidget* parent);

}  // namespace kv
