// The hand-written golden files of the settings report and how a test
// compares a report with them.
//
// A golden text file holds one report line per file line, in UTF-8; as the
// report's bytes every line end becomes CR LF and the text code page 1251,
// converted by the system's converter, not the program's.
#pragma once

#include <gtest/gtest.h>

#include <iconv.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "session/Cp1251.h"

namespace kvtest {

inline std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in) << path;
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline std::string Golden(const std::string& name)
{
    return ReadFile(std::string(KV_GOLDEN_DIR) + "/" + name);
}

// UTF-8 to code page 1251 with the system's converter.
inline std::string SystemCp1251(const std::string& utf8)
{
    iconv_t cd = iconv_open("CP1251", "UTF-8");
    EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1));
    std::string out(utf8.size(), '\0');
    char* in = const_cast<char*>(utf8.data());
    size_t inLeft = utf8.size();
    char* o = out.data();
    size_t outLeft = out.size();
    EXPECT_NE(iconv(cd, &in, &inLeft, &o, &outLeft), static_cast<size_t>(-1));
    iconv_close(cd);
    out.resize(out.size() - outLeft);
    return out;
}

// A golden text file as the report's bytes.
inline std::string GoldenReport(const std::string& name)
{
    std::string crlf;
    for (char ch : Golden(name)) {
        if (ch == '\n')
            crlf += '\r';
        crlf += ch;
    }
    return SystemCp1251(crlf);
}

// A golden hex dump: hex byte pairs; '#' to the end of a line is a comment.
inline std::string GoldenBytes(const std::string& name)
{
    std::istringstream in(Golden(name));
    std::string line, bytes;
    while (std::getline(in, line)) {
        std::istringstream words(line.substr(0, line.find('#')));
        std::string hex;
        while (words >> hex)
            bytes += static_cast<char>(std::stoi(hex, nullptr, 16));
    }
    return bytes;
}

// The report's lines in UTF-8, for messages.
inline std::vector<std::string> ReportLines(const std::string& bytes)
{
    std::vector<std::string> lines;
    size_t from = 0;
    for (size_t at; (at = bytes.find("\r\n", from)) != std::string::npos; from = at + 2)
        lines.push_back(kv::Cp1251ToUtf8(bytes.substr(from, at - from)));
    if (from < bytes.size())
        lines.push_back(kv::Cp1251ToUtf8(bytes.substr(from)) + "  <- no CR LF at the end");
    return lines;
}

// Byte for byte; on a difference, the first line that differs.
inline void ExpectSameReport(const std::string& actual, const std::string& expected)
{
    if (actual == expected)
        return;
    const auto a = ReportLines(actual), e = ReportLines(expected);
    size_t i = 0;
    while (i < a.size() && i < e.size() && a[i] == e[i])
        ++i;
    ADD_FAILURE() << "report differs at line " << i + 1 << "\n  actual:   '" << (i < a.size() ? a[i] : "<none>")
                  << "'\n  expected: '" << (i < e.size() ? e[i] : "<none>") << "'\n  (" << a.size()
                  << " lines, expected " << e.size() << ")";
}

}  // namespace kvtest
