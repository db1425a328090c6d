#include "session/Text.h"

#include <charconv>
#include <cstdarg>
#include <cstdio>

namespace kv {

namespace {
bool isContinuation(unsigned char b)
{
    return (b & 0xC0) == 0x80;
}
}  // namespace

bool NextUtf8(std::string_view text, size_t& i, char32_t& c)
{
    const auto b = static_cast<unsigned char>(text[i]);
    int len = 0;
    char32_t v = 0;
    if (b < 0x80) {
        len = 1;
        v = b;
    } else if ((b & 0xE0) == 0xC0) {
        len = 2;
        v = b & 0x1F;
    } else if ((b & 0xF0) == 0xE0) {
        len = 3;
        v = b & 0x0F;
    } else if ((b & 0xF8) == 0xF0) {
        len = 4;
        v = b & 0x07;
    }
    bool valid = len > 0 && i + static_cast<size_t>(len) <= text.size();
    for (int k = 1; valid && k < len; ++k) {
        const auto cont = static_cast<unsigned char>(text[i + static_cast<size_t>(k)]);
        if (!isContinuation(cont))
            valid = false;
        else
            v = (v << 6) | (cont & 0x3F);
    }
    if (!valid) {
        c = b;
        ++i;
        return false;
    }
    c = v;
    i += static_cast<size_t>(len);
    return true;
}

void AppendUtf8(std::string& text, char32_t c)
{
    if (c < 0x80) {
        text += static_cast<char>(c);
    } else if (c < 0x800) {
        text += static_cast<char>(0xC0 | (c >> 6));
        text += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        text += static_cast<char>(0xE0 | (c >> 12));
        text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        text += static_cast<char>(0xF0 | (c >> 18));
        text += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (c & 0x3F));
    }
}

size_t TextLength(std::string_view text)
{
    size_t n = 0;
    for (char ch : text)
        if (!isContinuation(static_cast<unsigned char>(ch)))
            ++n;
    return n;
}

size_t Utf8Prefix(std::string_view text, size_t count)
{
    size_t i = 0;
    while (i < text.size() && count > 0) {
        ++i;
        while (i < text.size() && isContinuation(static_cast<unsigned char>(text[i])))
            ++i;
        --count;
    }
    return i;
}

void DropLastCharacter(std::string& text)
{
    if (text.empty())
        return;
    size_t i = text.size() - 1;
    while (i > 0 && isContinuation(static_cast<unsigned char>(text[i])))
        --i;
    text.erase(i);
}

bool ParseDecimal(std::string_view text, int32_t& value)
{
    if (!text.empty() && text[0] == '+') {
        text.remove_prefix(1);
        if (!text.empty() && text[0] == '-')
            return false;
    }
    if (text.empty())
        return false;
    int32_t v = 0;
    const char* end = text.data() + text.size();
    auto r = std::from_chars(text.data(), end, v, 10);
    if (r.ec != std::errc() || r.ptr != end)
        return false;
    value = v;
    return true;
}

std::string Format(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string out(n > 0 ? static_cast<size_t>(n) : 0, '\0');
    if (n > 0)
        std::vsnprintf(out.data(), out.size() + 1, format, args);
    va_end(args);
    return out;
}

}  // namespace kv
