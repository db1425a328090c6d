// Whole writes to and bounded reads from a descriptor (a terminal's master
// side, a socket): what the port's tests do on the far side of the line.
#pragma once

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>

namespace kvtest {

// Writes all n bytes, resuming after interruptions; false on an error.
inline bool WriteAll(int fd, const void* data, size_t n)
{
    const auto* at = static_cast<const uint8_t*>(data);
    while (n > 0) {
        const ssize_t w = ::write(fd, at, n);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return false;
        at += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

inline bool WriteAll(int fd, const std::string& data)
{
    return WriteAll(fd, data.data(), data.size());
}

// Reads until n bytes came or nothing came for idleMs; Bytes is a string or
// a vector of bytes.
template <class Bytes = std::string>
Bytes ReadUpTo(int fd, size_t n, int idleMs)
{
    Bytes out;
    uint8_t buf[4096];
    while (out.size() < n) {
        pollfd p = {fd, POLLIN, 0};
        if (::poll(&p, 1, idleMs) <= 0)
            break;
        const ssize_t r = ::read(fd, buf, std::min(sizeof buf, n - out.size()));
        if (r <= 0)
            break;
        out.insert(out.end(), buf, buf + r);
    }
    return out;
}

}  // namespace kvtest
