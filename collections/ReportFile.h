// Files the tool writes in place of a file the user chose: the settings
// report, snapshots, the saved trace, a downloaded voice file.
//
// TReportFile never harms the file it replaces: the new content goes into a
// new file in the chosen file's folder, which takes the chosen file's place
// by one rename only once every byte is written and flushed to disk. A
// failed or interrupted write leaves the old file as it was and no partial
// file behind (where the file system allows it, the new file has no name
// until it is complete, so not even a killed process leaves one).
//
// Only a regular file (or a symbolic link to one) is ever replaced: a
// device, a pipe or a socket in the chosen place is refused, so that
// "/dev/null" stays a device.
//
// A file that holds a password (a snapshot, an undo snapshot, the settings
// report) is made with TAccess::OwnerOnly: readable and writable by its
// owner only, whatever the umask, and a file it replaces loses the others'
// permissions.
//
// ReplaceFile puts a finished file (a download in a temporary folder) in
// the chosen place by the same rules.
#pragma once

#include <string>
#include <string_view>

namespace kv {

class TReportFile {
public:
    enum class TAccess {
        // A new file gets 0666 less the umask; a replaced file keeps its
        // permissions.
        AsUsual,
        // 0600 for a new file; a replaced file keeps only its owner's
        // permissions.
        OwnerOnly,
    };

    TReportFile() = default;
    // A file still open is discarded: the chosen file stays as it was.
    ~TReportFile();
    TReportFile(const TReportFile&) = delete;
    TReportFile& operator=(const TReportFile&) = delete;

    // Makes the new file in the folder of `path` (following a symbolic link
    // to the file it names). False, with Error() set, when it cannot be made:
    // no such folder, a folder or a read-only file the user cannot write to,
    // a folder, a device, a pipe or a socket in place of the file.
    bool Create(const std::string& path, TAccess access = TAccess::AsUsual);
    // Appends `bytes` to the new file. False, with Error() set, when the
    // write fails; the new file is then removed.
    bool Write(std::string_view bytes);
    // Flushes what was written to disk and renames the new file over the
    // chosen one, which keeps its permissions (as `access` allows) and,
    // where allowed, its owner. False, with Error() set, when any of it
    // fails; the new file is then removed and the chosen file is untouched.
    // One commit per Create.
    bool Commit();
    // Write(bytes), then Commit().
    bool Commit(std::string_view bytes);
    // Removes the new file; the chosen file stays as it was.
    void Discard();

    // The chosen file's path as given to Create.
    const std::string& Path() const { return path_; }
    // The message of the last failure: the path and the system's reason.
    const std::string& Error() const { return error_; }
    // The system's reason alone.
    const std::string& Reason() const { return reason_; }

private:
    enum class TStage { Create, Write };
    bool fail(TStage stage, int error);
    bool fail(TStage stage, const std::string& reason);
    bool name(std::string& named);

    std::string path_;    // as the user chose it
    std::string target_;  // the file that is replaced (a link followed)
    std::string folder_;
    std::string temp_;    // the new file's name; empty while it has none
    std::string error_;
    std::string reason_;
    int fd_ = -1;
    TAccess access_ = TAccess::AsUsual;
    bool hadOld_ = false;
    unsigned oldMode_ = 0;
    unsigned oldUid_ = 0;
    unsigned oldGid_ = 0;
};

// The messages of the two failures, with the path and the system's reason.
std::string CannotCreateText(const std::string& path, const std::string& reason);
std::string CannotWriteText(const std::string& path, const std::string& reason);
// The reason given for a chosen place that holds no regular file.
extern const char* const kNotARegularFile;

// Puts `from` in the place of `to` by one rename, or, across file systems,
// by a TReportFile in `to`'s place filled with `from`'s bytes; an existing
// `to` keeps its permission bits, and must be a regular file. False, with
// `to` untouched and no copy left behind, when that fails; `error` then
// says why.
bool ReplaceFile(const std::string& from, const std::string& to, std::string& error);

// A path's folder ("." when it names none, "/" for the root) and its last
// name, as the files are opened one name at a time relative to the folder.
std::string FolderOfPath(const std::string& path);
std::string NameInPath(const std::string& path);

}  // namespace kv
