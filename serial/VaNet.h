// Units behind a serial device server: the addresses that name them and the
// link that carries the port's bytes over TCP.
//
// An address takes the place of a device path wherever one is given:
//   rfc2217://HOST:PORT  telnet with the COM-PORT-OPTION (the server sets
//                        the line as the port asks)
//   tcp://HOST:PORT      raw bytes (the server's line is set on the server)
// HOST is a name, an IPv4 address or an IPv6 address in brackets.
//
// The link (TVaNetLink, private to the port) connects, then carries the bytes
// between the TCP connection and the port's end of a local socket pair: the
// port's event and writer threads work on that end as they work on a tty,
// and a connection that ends is that end hanging up.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kv {

enum class TVaNetScheme { None, Rfc2217, Tcp };

struct TVaNetAddress {
    TVaNetScheme scheme = TVaNetScheme::None;
    std::string host;  // without brackets
    int port = 0;

    // "rfc2217://host:port" (an IPv6 host in brackets again).
    std::string Text() const;
};

// Whether text is meant as an address (begins with one of the two schemes,
// in any case), well-formed or not.
bool IsVaNetAddress(const std::string& text);

// What is wrong with an address.
enum class TVaNetAddressError {
    None,
    NotAnAddress,    // neither rfc2217:// nor tcp://
    NoHost,
    BadHost,         // a character a host name cannot have
    UnclosedBracket,
    BadIpv6,
    NoPort,
    BadPort,         // not a number
    PortOutOfRange,  // not 1 to 65535
};

// Parses an address. On failure returns false and, when error is given,
// says what is wrong (English, for the log and the tests), and `why` as a
// value (for the texts of the dialogs).
bool ParseVaNetAddress(const std::string& text, TVaNetAddress& out, std::string* error = nullptr,
                       TVaNetAddressError* why = nullptr);

// What is wrong with an address, in the user's words: for the port dialog,
// the fleet file and kvbackup.
std::string VaNetAddressProblem(TVaNetAddressError why);

// Why a connection could not be made.
enum class TVaNetFailure {
    None,
    HostNotFound,  // the name does not resolve
    Refused,       // nothing listens on that port
    TimedOut,      // the name or the connection took longer than the time-out
    Unreachable,   // no route to the host or the network
    Other,
};

// What a network port learnt about its connection; kept after it closed,
// until the next Open.
struct TVaNetStatus {
    bool network = false;  // the last Open was of an address
    TVaNetAddress address;
    std::string resolved;  // the address connected to ("127.0.0.1:4001")
    TVaNetFailure failure = TVaNetFailure::None;
    int error = 0;           // errno of the failure (or of a dropped connection)
    std::string errorText;   // the resolver's or the system's text of it
    bool connected = false;
    bool closedByServer = false;  // the server ended the connection
    bool reset = false;           // the connection failed (reset, keepalive)
    size_t received = 0;          // bytes from the server after the telnet layer
    // The first bytes the server sent (up to a few hundred; a server that
    // refuses a client says why there).
    std::string firstBytes;
    // rfc2217: the server took part in the telnet negotiation; it agreed to
    // COM-PORT-OPTION; our own offers came back as they were sent (a raw
    // port in front of a device that echoes).
    bool telnetAnswered = false;
    bool comPortAgreed = false;
    bool offersMirrored = false;
    int comPortAnswers = 0;  // the server's COM-PORT-OPTION answers so far
    // tcp: the data began with telnet commands (a telnet server).
    bool telnetInRawData = false;
};

// The time-out of name resolution and of the TCP connection, each.
constexpr int kVaConnectTimeoutMs = 5000;

}  // namespace kv
