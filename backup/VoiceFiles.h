// The voice files that lie beside a snapshot: opened safely, checked
// against what the snapshot records, and copied out for an upload.
//
// A snapshot taken with its voice files records each file's name, size and
// SHA-256 content hash ("voicefile 20 day.pcm 40000 sha256:..."; older
// snapshots carry no hash). Before a restore writes anything to the unit,
// every file it would upload is opened from the snapshot's folder one
// folder at a time without following a symbolic link (so a link anywhere
// on the way, "<snapshot>.files", "20" or the file, is refused and nothing
// outside the snapshot's folder is read), must be a regular file of the
// recorded size and, where the snapshot has a hash, of that content. What
// was checked is copied into a private folder, and the upload reads that
// copy, so the file cannot change between the check and the upload.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kv {

struct TVoiceFileValues;

// The SHA-256 of the bytes, as 64 lowercase hex digits.
std::string Sha256Hex(std::string_view bytes);

// A private folder (mode 0700) under TMPDIR that is removed with
// everything in it when the object goes.
class TPrivateFolder {
public:
    TPrivateFolder() = default;
    ~TPrivateFolder();
    TPrivateFolder(const TPrivateFolder&) = delete;
    TPrivateFolder& operator=(const TPrivateFolder&) = delete;

    // Makes the folder on first use; "" with `why` set when it cannot.
    std::string Path(std::string& why);

private:
    std::string path_;
};

// Reads the voice file of slot `code` beside the snapshot at
// `snapshotPath` as described above and checks it against `values`.
// True with the file's bytes in `bytes`; false with `why` (in words for
// the user) otherwise.
bool ReadVoiceFile(const std::string& snapshotPath, int32_t code, const TVoiceFileValues& values, std::string& bytes,
                   std::string& why);

// ReadVoiceFile, then the bytes into a new file of the same name in a
// folder of `into` (one per slot, so that two slots may hold files of one
// name). True with the copy's path in `copy`.
bool CopyVoiceFile(const std::string& snapshotPath, int32_t code, const TVoiceFileValues& values,
                   TPrivateFolder& into, std::string& copy, std::string& why);

// The hash of the file just downloaded for slot `code` (read the same safe
// way); "" when it cannot be read.
std::string VoiceFileHash(const std::string& snapshotPath, int32_t code, const std::string& name);

}  // namespace kv
