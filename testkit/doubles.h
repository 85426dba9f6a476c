// Doubles around the plug-in, for the tests, the fuzz targets, the benchmarks and the simulator:
// the error a host call is made to raise and the code of an error raised, and a message box that
// records what it shows.
#pragma once

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "common/error.h"
#include "platform/platform.h"

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

// A message box the plug-in showed.
struct ShownBox {
    Text text;
    Text title;
    Long style;
};

// Keeps what it is asked to show and returns at once, as if the user had closed the box.
class RecordingMessageBox : public platform::Dialogs {
  public:
    void show(const Text& text, const Text& title, Long style) override {
        shown.push_back({text, title, style});
        // What the host does while the box is up, as its message loop runs.
        if (auto action = std::exchange(whileShown, nullptr))
            action();
    }
    std::vector<ShownBox> shown;
    std::function<void()> whileShown;
};

}  // namespace vpolv::testing
