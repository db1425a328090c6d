// The window's view of a fleet: "Парк устройств...".
//
// TFleetPanel holds what the dialog shows and decides, without Qt: the
// fleet file's units with their status (name, device, last success, last
// change, failing since), a unit's versions with their readable changes,
// the command line of a run (the window runs kvbackup as a child process),
// the summary of a run that ended, the key under which the desktop's secret
// store keeps a unit's password, and the file of a version made ready for
// the compare and restore of the window's backup actions.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "fleet/FleetFile.h"
#include "fleet/Stores.h"

namespace kv {

// The snapshot of version `revision` of unit `name`, with its passwords
// from the store, written for its owner only to
// REPOSITORY/.git/kvfleet/restore/NAME-ID/snapshot.kvs (with its voice
// files); `path` is that file. 0 when done; kFleetUsage (no such version or
// no snapshot in it) or kFleetFile (repository, store, a password the store
// lacks) with `error`. `commit`, when given, gets the version's full id.
int WriteVersionFile(const TFleet& fleet, const std::string& name, const std::string& revision, std::string& path,
                     std::string& error, std::string* commit = nullptr);

// The desktop's secret store, where the window keeps a unit's password
// when the user asks it to (never in a file of ours). Its answers come
// later, on the UI thread: `error` empty when done.
class TSecretStore {
public:
    virtual ~TSecretStore() = default;
    using TRead = std::function<void(bool found, const std::string& value, const std::string& error)>;
    using TDone = std::function<void(const std::string& error)>;
    virtual void Read(const std::string& key, TRead done) = 0;
    virtual void Write(const std::string& key, const std::string& value, TDone done) = 0;
    virtual void Remove(const std::string& key, TDone done) = 0;
};

class TFleetPanel {
public:
    static constexpr const char* kCaption = "Парк устройств";
    static constexpr const char* kNever = "никогда";
    // Where the per-user settings keep the fleet file last opened.
    static constexpr const char* kFileKey = "Software/kv20rm/FleetFile";
    // The table's columns.
    static const std::array<const char*, 5>& Headers();

    struct TRow {
        std::string name;
        std::string device;
        std::string lastSuccess;   // kNever when never
        std::string lastChange;    // kNever when never
        std::string failingSince;  // empty while it works
        std::string lastMessage;
        bool failing = false;
    };
    struct TVersion {
        std::string id;
        std::string shortId;
        std::string when;
        std::string subject;
        // The changes, one per line, in the screens' words.
        std::vector<std::string> changes;
    };

    // Reads and checks the fleet file and the status of its units (none
    // before the first run); false with `error`, the panel then empty.
    bool Open(const std::string& fleetFile, std::string& error);
    // Reads the file and the status again (after a run has ended).
    bool Refresh(std::string& error);
    bool IsOpen() const { return !fleet_.path.empty(); }
    const TFleet& Fleet() const { return fleet_; }

    const std::vector<TRow>& Rows() const { return rows_; }
    const TFleetUnit* Unit(const std::string& name) const { return fleet_.Unit(name); }

    // The unit's versions, newest first; an empty list before the history
    // has one. False with `error` when the history cannot be read.
    bool History(const std::string& name, std::vector<TVersion>& versions, std::string& error) const;

    // The arguments of kvbackup for a run of the whole fleet or of one unit.
    std::vector<std::string> RunArguments(const std::string& unit = {}) const;
    // What the dialog says when the run has ended: its total line
    // ("сохранено устройств: 2 из 3") or, when it could not run, why.
    // `crashed`: the process did not end by itself.
    static std::string RunSummary(int exitStatus, bool crashed, const std::string& out, const std::string& err);

    // The secret store's key of a unit's password: the fleet file and the unit.
    std::string SecretKey(const std::string& name) const;

    // The password to connect with: the one the secret store remembered,
    // else the first line of the unit's password file when it can be read,
    // else "" (the window then asks, as for any connection).
    std::string ConnectPassword(const std::string& name, const std::string& remembered) const;

private:
    TFleet fleet_;
    std::vector<TRow> rows_;
};

}  // namespace kv
