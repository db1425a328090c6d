// The port component's error text from a call, for tests of the port.
#pragma once

#include <functional>
#include <string>

#include "serial/VaComm.h"

namespace kvtest {

// What fn raised as EVaCommError; "(no error)" when it raised nothing.
inline std::string ErrorOf(const std::function<void()>& fn)
{
    try {
        fn();
    } catch (const kv::EVaCommError& e) {
        return e.what();
    }
    return "(no error)";
}

}  // namespace kvtest
