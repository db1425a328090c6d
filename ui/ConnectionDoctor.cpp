#include "ui/ConnectionDoctor.h"

#include "session/Comm.h"
#include "session/Dialogs.h"
#include "ui/Ports.h"
#include "trace/Trace.h"

namespace kv {

std::string ExplainConnection(TConnectionFailure trouble, int port, TFormComm& comm, const TDeviceMap& devices,
                              const TTraceLog* trace)
{
    TDoctorFacts f;
    f.trouble = trouble;
    f.port = "COM" + std::to_string(port);
    // What the port opens for that name, as it resolves it.
    f.device = VaResolveDevice(f.port);
    f.mapped = devices.Mapped(port);
    if (trouble == TConnectionFailure::OpenFailed)
        f.openError = comm.VaComm1.LastOpenError();
    f.net = comm.VaComm1.NetStatus();
    TVaErrorCounts counts;
    if (comm.VaComm1.ErrorCounts(counts))
        f.counts = {true, counts.frame, counts.parity, counts.overrun, counts.brk};
    if (trace) {
        f.received = trace->ReceivedSinceOpen();
        f.receivedText = trace->ReceivedTextSinceOpen();
    } else {
        f.receivedKnown = false;
    }
    GatherFacts(f);
    return Diagnose(f);
}

void InstallConnectionDoctor(TFormComm& comm, const TDeviceMap& devices, const TTraceLog* trace)
{
    SetConnectionExplainer([&comm, &devices, trace](TConnectionFailure failure, int port) {
        return ExplainConnection(failure, port, comm, devices, trace);
    });
}

void UninstallConnectionDoctor()
{
    SetConnectionExplainer(nullptr);
}

}  // namespace kv
