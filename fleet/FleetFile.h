// The fleet file: the units an integrator keeps, and where their history
// goes. A TOML file:
//
//   repository = "/var/lib/kvmanage/history"   # a git repository, made if missing
//   parallel = 4                                # units backed up at once (1-64)
//   timeout = 900                               # seconds a unit's backup may take
//
//   [[unit]]
//   name = "office-1"                           # letters, digits, '-' and '_'
//   device = "/dev/ttyUSB0"                     # as kvbackup's DEVICE takes it
//   password-file = "/etc/kvmanage/office-1.pw" # first line; only its owner may read it
//   voice-files = false                         # also keep the unit's voice files
//   timeout = 1800                              # this unit's own deadline
//
// Relative paths count from the fleet file's folder. Everything is checked
// before any unit is contacted: a file that is not TOML, a key this program
// does not know, a value of the wrong type, a missing key, a bad or repeated
// name, or a password file that others can read (or that cannot be read)
// refuses the whole file with a message naming its line.
#pragma once

#include <string>
#include <vector>

namespace kv {

struct TFleetUnit {
    std::string name;
    std::string device;
    std::string passwordFile;
    bool voiceFiles = false;
    // Seconds the unit's backup may take before it is stopped.
    int timeout = 0;
    // Where the unit's table starts in the fleet file.
    int line = 0;
};

struct TFleet {
    static constexpr int kDefaultParallel = 4;
    static constexpr int kDefaultTimeout = 900;

    // The fleet file itself, as an absolute path.
    std::string path;
    std::string repository;
    int parallel = kDefaultParallel;
    std::vector<TFleetUnit> units;

    const TFleetUnit* Unit(const std::string& name) const;
};

// Reads and checks the whole fleet file; false with `error` ("FILE, строка
// N: why") when anything in it is refused.
bool ReadFleetFile(const std::string& path, TFleet& fleet, std::string& error);

// Whether `name` can name a unit: 1-64 letters (Latin), digits, '-' and
// '_', not starting with '-'.
bool ValidUnitName(const std::string& name);

// Reads the first line of a password file, refusing a file that others can
// read; false with `error`.
bool ReadPasswordFile(const std::string& path, std::string& password, std::string& error);

}  // namespace kv
