// One run of the fleet: every unit (or one) backed up into the history.
//
// Each unit's snapshot is taken by a kvbackup process of its own
// ("kvbackup --password-file F DEVICE snapshot FILE [--voice-files]"), at most
// `parallel` at once, each with its deadline, into a folder of the run under
// .git/kvfleet. As each ends, the runner reads its snapshot, compares it with
// the unit's last version in the history and, when the settings changed,
// makes one commit of the unit's folder (passwords out, into the password
// store first); then it records the unit's status and starts the alert
// command. The history, the store and the status are only written here, one
// unit at a time.
#pragma once

#include <string>

#include "fleet/FleetFile.h"

namespace kv {

struct TRunOptions {
    // Only this unit ("" all).
    std::string unit;
    // Alert commands ("" none), run as `sh -c 'CMD "$@"' - NAME FILE`.
    std::string onChange;
    std::string onFailure;
    // The kvbackup executable.
    std::string self;
};

// Prints a line per unit and returns the fleet's exit status.
int RunFleet(const TFleet& fleet, const TRunOptions& options);

// The fleet's private folder in the repository's .git folder
// ("<git>/kvfleet"), made (owner only) if missing.
std::string FleetFolder(const std::string& gitFolder);

// Holds the fleet's lock for as long as it lives (flock on
// "<git>/kvfleet/lock"); Held() false when another run holds it.
class TFleetLock {
public:
    explicit TFleetLock(const std::string& gitFolder);
    ~TFleetLock();
    TFleetLock(const TFleetLock&) = delete;
    TFleetLock& operator=(const TFleetLock&) = delete;
    bool Held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

// The unit's files in the history.
extern const char* const kSnapshotFile;   // "snapshot.kvs"
extern const char* const kPasswordsFile;  // "passwords"

// The password store's key a unit's "passwords" file names ("" none).
std::string PasswordKey(const std::string& passwordsFile);

}  // namespace kv
