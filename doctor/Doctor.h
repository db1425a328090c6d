// The connection doctor: why a port did not open or the unit did not
// answer, and what the user can do about it, in Russian.
//
// Diagnose() is a pure function of the facts; GatherFacts() looks them up
// on this computer (the device file, the user's groups, the processes in
// /proc that hold the device, the processes present, the device database).
// The session's own facts (the port's error, the line's counters, what
// arrived) come from the caller.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "doctor/SerialDevices.h"
#include "serial/VaNet.h"
#include "session/Dialogs.h"

namespace kv {

// The device file, links followed.
struct TDeviceFile {
    bool exists = false;
    bool charDevice = false;
    unsigned uid = 0, gid = 0;
    unsigned mode = 0;  // permission bits
    std::string owner, group;
};

// A process that has the device open.
struct TDeviceHolder {
    int pid = 0;
    std::string command;
    unsigned uid = 0;
    std::string user;
};

// The driver's line-error counts since the port opened.
struct TLineCounts {
    bool known = false;
    uint32_t frame = 0, parity = 0, overrun = 0, brk = 0;
};

struct TDoctorFacts {
    TConnectionFailure trouble = TConnectionFailure::OpenFailed;
    std::string port;      // "COM1"
    std::string device;    // what that port opens
    bool mapped = false;   // chosen by the user; false: the port's default device
    int openError = 0;     // the system's error of the failed open
    TDeviceFile file;

    unsigned uid = 0;
    std::string user;
    std::vector<unsigned> sessionGroups;   // the groups this program runs with
    std::vector<std::string> userGroups;   // the user's groups by the user database (what a new login gets)

    std::vector<TDeviceHolder> holders;    // other processes with the device open
    bool holdersHidden = false;            // processes of other users could not be looked into
    std::vector<std::string> processes;    // the command names of the processes present

    std::optional<TSerialDeviceInfo> info;   // the device, when present
    std::vector<TSerialDeviceInfo> present;  // every serial device present

    // Once the port had opened: what arrived (bytes and the text as the
    // exchange trace shows it; receivedKnown false when nobody counted) and
    // the driver's counts.
    // A unit behind a serial device server: what the port learnt of its
    // connection (net.network is false for a local device).
    TVaNetStatus net;

    bool receivedKnown = true;
    size_t received = 0;
    std::string receivedText;
    TLineCounts counts;
};

// The cause and the fix, several lines of Russian text.
std::string Diagnose(const TDoctorFacts& facts);

// Fills in what can be looked up about facts.device (set port, device,
// mapped, trouble and the session's facts first). procRoot is where the
// process table is (tests may point elsewhere).
void GatherFacts(TDoctorFacts& facts, const std::string& procRoot = "/proc");

// "crw-rw----" for a character device with mode 0660.
std::string ModeString(unsigned mode, bool charDevice);

}  // namespace kv
