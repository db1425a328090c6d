// Assertions on a text that name the part looked for and show the whole
// text when they fail.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace kvtest {

// `part` occurs in `text`.
inline ::testing::AssertionResult Shows(const std::string& text, const std::string& part)
{
    if (text.find(part) != std::string::npos)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "\"" << part << "\" is not in:\n" << text;
}

// `part` (a secret) occurs nowhere in `text`.
inline ::testing::AssertionResult Hides(const std::string& text, const std::string& part)
{
    if (text.find(part) == std::string::npos)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "\"" << part << "\" shows in:\n" << text;
}

}  // namespace kvtest
