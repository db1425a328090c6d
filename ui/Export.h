// The settings report: every setting the tool manages, as a text file.
//
// BuildReport renders the report from the catalogue's objects and grids, as
// they stand, into the bytes of the file (code page 1251, every line ended
// by CR LF). It reads nothing from the unit and writes no file; the export
// action of the main window first has the tabs loaded, then hands the bytes
// to a TReportFile.
//
// ExportSettings is the action of "Экспорт настроек в файл..." in the main
// window.
//
// TReportFile never harms the file the user chose to replace: the report
// goes into a new file in the chosen file's folder, which takes the chosen
// file's place by one rename only once every byte is written and flushed to
// disk. A failed or interrupted export leaves the old file as it was and no
// partial file behind (where the file system allows it, the new file has no
// name until it is complete, so not even a killed process leaves one).
#pragma once

#include <string>
#include <string_view>

namespace kv {

class TCatalogue;
class TForm1;

// The report's bytes. `mode` is the session's mode: in system mode (3) the
// system parameters, the greeting replacement and the service messages are
// written; otherwise each of those sections is the line
// "Недоступны (режим администратора)".
std::string BuildReport(TCatalogue& catalogue, int mode);

// "Экспорт настроек в файл...": the save dialog (a cancel ends it), the new
// file (an error message and the end when it cannot be made, before the
// window turns busy), then, busy, the load action of every tab not yet read
// since the connection, in the order Numbers, Greetings, Time, Menu, Mail,
// System parameters, Message replacement (the last two only in system mode,
// by their own rule), waiting for the worker after each; the loads stop
// once the session has left the connected modes. Then the report, as the
// objects hold it, in place of the chosen file; a failed write shows its
// message. UI thread.
void ExportSettings(TForm1& form);

class TReportFile {
public:
    TReportFile() = default;
    // A file still open is discarded: the chosen file stays as it was.
    ~TReportFile();
    TReportFile(const TReportFile&) = delete;
    TReportFile& operator=(const TReportFile&) = delete;

    // Makes the new file in the folder of `path` (following a symbolic link
    // to the file it names). False, with Error() set, when it cannot be made:
    // no such folder, a folder or a read-only file the user cannot write to,
    // a folder in place of the file.
    bool Create(const std::string& path);
    // Writes `bytes`, flushes them to disk and renames the new file over the
    // chosen one, which keeps its permissions (and, where allowed, its
    // owner). False, with Error() set, when any of it fails; the new file is
    // then removed and the chosen file is untouched. One commit per Create.
    bool Commit(std::string_view bytes);
    // Removes the new file; the chosen file stays as it was.
    void Discard();

    // The chosen file's path as given to Create.
    const std::string& Path() const { return path_; }
    // The message of the last failure: the path and the system's reason.
    const std::string& Error() const { return error_; }

private:
    enum class TStage { Create, Write };
    bool fail(TStage stage, int error);
    bool name(std::string& named);

    std::string path_;    // as the user chose it
    std::string target_;  // the file that is replaced (a link followed)
    std::string folder_;
    std::string temp_;    // the new file's name; empty while it has none
    std::string error_;
    int fd_ = -1;
    bool hadOld_ = false;
    unsigned oldMode_ = 0;
    unsigned oldUid_ = 0;
    unsigned oldGid_ = 0;
};

// The messages of the two failures, with the path and the system's reason.
std::string CannotCreateText(const std::string& path, const std::string& reason);
std::string CannotWriteText(const std::string& path, const std::string& reason);

}  // namespace kv
