#include "collections/Wire.h"

#include "session/Cp1251.h"

namespace kv {

std::string FormatMinSec(int32_t seconds)
{
    return Format("%.2d:%.2d", seconds / 60, seconds % 60);
}

std::string FileDuration(int32_t fileSize)
{
    return FormatMinSec(fileSize / 8000);
}

std::vector<std::string> SplitListReply(std::string_view text)
{
    std::vector<std::string> entries;
    size_t start = 0;
    for (size_t cr = text.find('\r'); cr != std::string_view::npos; cr = text.find('\r', start)) {
        entries.push_back(Cp1251ToUtf8(text.substr(start, cr - start)));
        start = cr + 1;
    }
    return entries;
}

std::string JoinList(const std::vector<std::string>& entries)
{
    std::string text;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (i > 0)
            text += ", ";
        text += entries[i];
    }
    return text;
}

bool IsMailLine(std::string_view line)
{
    return line.find("N=") != std::string_view::npos;
}

TMailLine ParseMailLine(std::string_view line)
{
    TMailLine m;
    const size_t blank = line.find(' ');
    // The first blank at the 4th character or later: at least one character
    // of owner after "N=".
    if (blank == std::string_view::npos || blank < 3) {
        m.result = TMailLine::BadOwner;
        return m;
    }
    m.owner = Cp1251ToUtf8(line.substr(2, blank - 2));
    m.result = TMailLine::Box;
    std::string_view rest = line.substr(blank + 1);
    if (rest.substr(0, 2) == "S=") {
        m.hasSize = true;
        if (!ParseDecimal(rest.substr(2), m.size)) {
            m.hasSize = false;
            m.result = TMailLine::BadSize;
        }
    }
    return m;
}

TTransferResult ParseTransferResult(std::string_view line)
{
    TTransferResult t;
    static constexpr std::string_view kErr = "YMODEM_ERR(";
    if (line.substr(0, kErr.size()) == kErr) {
        const std::string_view rest = line.substr(kErr.size());
        const size_t close = rest.find(')');
        if (close != std::string_view::npos && ParseDecimal(rest.substr(0, close), t.error)) {
            t.result = TTransferResult::Error;
        } else {
            t.error = 0;
            t.result = TTransferResult::BadNumber;
        }
    } else if (line == "OK") {
        t.result = TTransferResult::Ok;
    }
    return t;
}

std::string_view StripCr(std::string_view line)
{
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    return line;
}

}  // namespace kv
