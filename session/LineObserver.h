// A watcher of the line to the unit: the exchange trace listens here.
//
// It is told of every byte written to the unit and received from it, of the
// port opening and closing, and of where a file transfer starts and ends,
// so that the transfer's payload, which passes the same port, is not taken
// for text. Calls come from the worker (writes, open, close), the UI thread
// (received blocks, transfers) and whatever thread runs a job's step, so an
// observer guards itself, and it returns at once: it sits on the path of
// every exchange.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kv {

// The outcome of one file transfer.
struct TTransferRecord {
    bool upload = true;
    std::string name;  // the file's name, without its folder
    int64_t size = 0;  // bytes, as announced
    int blocks = 0;    // data blocks moved
    int errors = 0;    // errors counted by the engine
    int result = 0;    // the engine's exit code (0 done)
};

class TLineObserver {
public:
    virtual ~TLineObserver() = default;
    // The port opened on `device` (the path it opened): a connection starts.
    virtual void LineOpened(const std::string& device) = 0;
    virtual void LineClosed() = 0;
    // Bytes written to the unit, as on the wire. `secret` bytes (the
    // password) must never be shown.
    virtual void LineSent(const std::string& bytes, bool secret) = 0;
    // A block of bytes received, as the port delivered it.
    virtual void LineReceived(const uint8_t* data, size_t count) = 0;
    // A file transfer has the line from now on, until TransferEnded.
    virtual void TransferStarted() = 0;
    virtual void TransferEnded(const TTransferRecord& record) = 0;
};

}  // namespace kv
