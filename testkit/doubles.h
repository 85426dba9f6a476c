// Doubles around the plug-in, for the tests, the fuzz targets and the benchmarks: the error a host
// call is made to raise and the code of an error raised, and the simulator's message box that
// records what it shows.
#pragma once

#include <cstdint>
#include <functional>

#include "common/error.h"
#include "standalone/message_box.h"

namespace vpolv::testing {

// The error the tests make a host call raise.
inline const Error kInjected(static_cast<std::int32_t>(0x80041234), u"Injected host failure",
                             u"KDSDK");

// The code of the Error that call raises; 0 when it raises none.
inline std::int32_t errorCode(const std::function<void()>& call) {
    try {
        call();
    } catch (const Error& e) {
        return e.code();
    }
    return 0;
}

// The simulator's recording message box.
using standalone::RecordingMessageBox;
using standalone::ShownBox;

}  // namespace vpolv::testing
