// What the audio tests share: Debian's sound tools run as separate programs
// to make real files, and measurements of a decoded sound.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <numbers>
#include <string>
#include <vector>

#include "audio/Voice.h"

namespace kvtest {

// Whether a program is on the PATH.
inline bool HaveTool(const std::string& name)
{
    return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

// Single quotes for the shell.
inline std::string Quoted(const std::string& text)
{
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// Runs a shell command, its output kept out of the test's; the exit status.
inline int Shell(const std::string& command)
{
    int status = std::system((command + " >/dev/null 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline std::vector<uint8_t> ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                 static_cast<std::streamsize>(bytes.size()));
}

// The level of the frequency `hz` in samples [begin, end), dB relative to
// a full-scale sine (Goertzel with a Hann window).
inline double ToneDb(const kv::audio::TSound& sound, double hz, size_t begin, size_t end)
{
    const double w = 2.0 * std::numbers::pi * hz / sound.rate;
    const double coeff = 2.0 * std::cos(w);
    double s1 = 0, s2 = 0;
    const size_t n = end - begin;
    for (size_t i = 0; i < n; ++i) {
        const double hann = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(i) / static_cast<double>(n - 1));
        const double s = sound.samples[begin + i] * hann + coeff * s1 - s2;
        s2 = s1;
        s1 = s;
    }
    const double power = s1 * s1 + s2 * s2 - coeff * s1 * s2;
    const double amplitude = 2.0 * std::sqrt(std::max(power, 1e-30)) / (static_cast<double>(n) * 0.5);
    return 20.0 * std::log10(amplitude);
}

// The frequency of a steady tone from the upward zero crossings in
// [begin, end), interpolated between samples.
inline double ToneFrequency(const kv::audio::TSound& sound, size_t begin, size_t end)
{
    double first = -1, last = -1;
    int crossings = 0;
    for (size_t i = begin + 1; i < end; ++i) {
        const float a = sound.samples[i - 1], b = sound.samples[i];
        if (a < 0 && b >= 0) {
            const double at = static_cast<double>(i - 1) + a / (a - b);
            if (first < 0)
                first = at;
            else
                ++crossings;
            last = at;
        }
    }
    return crossings > 0 ? crossings * sound.rate / (last - first) : 0.0;
}

}  // namespace kvtest
