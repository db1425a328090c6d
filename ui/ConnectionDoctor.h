// The details a failed connection's message gains: the connection doctor's
// diagnosis of the port as the window has it mapped, from what the port,
// the exchange trace and this computer tell.
#pragma once

#include <string>

#include "doctor/Doctor.h"

namespace kv {

class TFormComm;
class TDeviceMap;
class TTraceLog;

// COMn (`port`) failed with `trouble`. Looks up the facts (the device the
// port opens, its open error and the line's counts while it is still open,
// what the trace saw arrive, the device, the user, the holders) and returns
// the cause and the fix. UI thread.
std::string ExplainConnection(TConnectionFailure trouble, int port, TFormComm& comm, const TDeviceMap& devices,
                              const TTraceLog* trace);

// Makes ExplainConnection the session's explanation of a failed connection
// (session/Dialogs.h), for this port owner, map and trace.
void InstallConnectionDoctor(TFormComm& comm, const TDeviceMap& devices, const TTraceLog* trace);
void UninstallConnectionDoctor();

}  // namespace kv
