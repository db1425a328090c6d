// What the fleet keeps beside its history.
//
// The password store: the passwords the units' snapshots carry, which the
// history never holds. It is a file beside the repository's folder
// ("<repository>.passwords", readable and writable by its owner only); a
// unit's folder in the history holds a key into it ("passwords" file), and
// each key stands for the passwords of the versions that name it. A key is
// random: it tells nothing about the passwords.
//
// The status file: for each unit its last attempt, last success, last
// change, since when it fails and its last message. It lives in the
// repository's .git folder ("kvfleet/status.toml"), where git keeps no
// history of it, so it survives restarts without being part of the commits.
//
// Both are TOML, rewritten whole into a temporary file that is then
// renamed over the old one.
#pragma once

#include <map>
#include <string>

#include "fleet/Changes.h"

namespace kv {

class TPasswordStore {
public:
    explicit TPasswordStore(std::string path) : path_(std::move(path)) {}

    // "<folder>.passwords" beside the repository's folder.
    static std::string PathFor(const std::string& repositoryFolder);
    const std::string& Path() const { return path_; }

    // Reads the store; a missing store is an empty one. Refuses a store
    // that others can read.
    bool Load(std::string& error);
    bool Save(std::string& error) const;

    bool Find(const std::string& unit, const std::string& key, TPasswords& passwords) const;
    void Put(const std::string& unit, const std::string& key, const TPasswords& passwords);

    // A fresh random key.
    static std::string NewKey();

private:
    std::string path_;
    std::map<std::string, std::map<std::string, TPasswords>> units_;
};

struct TUnitStatus {
    // Times as "2026-03-07 09:05:30 +0300"; empty: never.
    std::string lastAttempt;
    std::string lastSuccess;
    std::string lastChange;
    // Since the first failure after the last success; empty while it works.
    std::string failingSince;
    std::string lastMessage;
    // The commit of the unit's last change.
    std::string lastCommit;

    bool Failing() const { return !failingSince.empty(); }
    bool operator==(const TUnitStatus&) const = default;
};

class TStatusFile {
public:
    // "<.git folder>/kvfleet/status.toml".
    static std::string PathFor(const std::string& gitFolder);

    explicit TStatusFile(std::string path) : path_(std::move(path)) {}
    const std::string& Path() const { return path_; }

    bool Load(std::string& error);
    bool Save(std::string& error) const;

    TUnitStatus& Unit(const std::string& name) { return units_[name]; }
    const TUnitStatus* Find(const std::string& name) const;

    // The units named, in that order, as JSON: {"units": [{"name": ..., ...}]}.
    std::string Json(const std::vector<std::string>& names) const;

private:
    std::string path_;
    std::map<std::string, TUnitStatus> units_;
};

// Writes `text` in place of `path` through a temporary file beside it, with
// `mode`; false with `error`.
bool ReplaceFile(const std::string& path, const std::string& text, unsigned mode, std::string& error);

}  // namespace kv
