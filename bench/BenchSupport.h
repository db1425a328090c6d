// What the benchmarks share: the wire time of bytes on an 8N1 line, and a
// file of reproducible random bytes.
#pragma once

#include <cstddef>
#include <fstream>
#include <random>
#include <string>

namespace kvbench {

// The benchmarks' line speed.
constexpr int kBaud = 19200;

// Milliseconds that `bytes` take on the line at `baud`, ten bits a byte.
inline double WireMs(size_t bytes, int baud = kBaud)
{
    return static_cast<double>(bytes) * 10.0 * 1000.0 / baud;
}

// `size` random bytes from `seed`, written to `path`; returns them.
inline std::string WriteRandomFile(const std::string& path, size_t size, unsigned seed)
{
    std::string data(size, '\0');
    std::mt19937 gen(seed);
    for (char& c : data)
        c = static_cast<char>(gen() & 0xFF);
    std::ofstream(path, std::ios::binary) << data;
    return data;
}

}  // namespace kvbench
