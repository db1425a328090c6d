// Reading and writing the lines of the unit's list, menu, mailbox and
// transfer replies, and the minutes-and-seconds texts the screens show.
//
// The parsers take lines as they come off the wire (code page 1251 bytes,
// without the CR) and count positions in those bytes, which are the unit's
// characters; texts they hand out are converted to UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "session/Text.h"

namespace kv {

// "%.2d:%.2d" of seconds / 60 and seconds mod 60: 5400 -> "90:00".
std::string FormatMinSec(int32_t seconds);
// The duration of a voice file: 8000 units of its size per second.
std::string FileDuration(int32_t fileSize);

// The text of a GETALL reply up to and including the prompt's ">": one
// entry per CR-terminated line, empty lines kept; whatever stands after the
// last CR (the prompt) is not an entry. No CR at all: no entries. Entries
// are converted to UTF-8.
std::vector<std::string> SplitListReply(std::string_view text);
// Entries joined by ", ", nothing after the last.
std::string JoinList(const std::vector<std::string>& entries);

// A mailbox line of a mail GETALL reply ("N=" owner, blank, "S=" seconds).
struct TMailLine {
    enum TResult {
        Box,         // owner read; size read when hasSize
        BadOwner,    // no blank, or the first blank before the 4th character
        BadSize,     // "S=" present but not followed by a decimal number
    };
    TResult result = BadOwner;
    std::string owner;  // UTF-8
    bool hasSize = false;
    int32_t size = 0;
};
// Whether a line describes a mailbox: it holds "N=" anywhere.
bool IsMailLine(std::string_view line);
TMailLine ParseMailLine(std::string_view line);

// The line after "TRANSFER_RESULT:".
struct TTransferResult {
    enum TResult {
        Ok,         // exactly "OK"
        Error,      // "YMODEM_ERR(" number ")": the number in `error`
        BadNumber,  // "YMODEM_ERR(" without a decimal number before ")"
        Other,      // anything else
    };
    TResult result = Other;
    int32_t error = 0;
};
TTransferResult ParseTransferResult(std::string_view line);

// Drops one CR at the end of a line read up to CR.
std::string_view StripCr(std::string_view line);

}  // namespace kv
