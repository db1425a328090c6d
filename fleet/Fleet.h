// kvbackup fleet: the commands on a fleet file.
//
//   kvbackup fleet FILE run [--unit NAME] [--on-change CMD] [--on-failure CMD]
//   kvbackup fleet FILE status [--json]
//   kvbackup fleet FILE history NAME
//   kvbackup fleet FILE restore NAME REVISION [--yes]
//   kvbackup fleet FILE install-timer [--on-calendar SPEC]
//
// Exit status: 0 done (run: every unit backed up; status: every unit's last
// backup succeeded); 1 not everything (a unit failed); 2 the command line;
// 3 the fleet file, the repository or its stores.
#pragma once

#include <string>
#include <vector>

namespace kv {

enum TFleetExit { kFleetDone = 0, kFleetIncomplete = 1, kFleetUsage = 2, kFleetFile = 3 };

// `args`: what follows "fleet" on the command line; `self`: the kvbackup
// executable that backs up one unit.
int FleetMain(const std::vector<std::string>& args, const std::string& self);

// The running executable (/proc/self/exe), else `argv0`.
std::string SelfPath(const char* argv0);

// The usage text of the fleet's commands.
extern const char* const kFleetUsageText;

}  // namespace kv
