// A message box for the plug-in run outside the host: it records what it is asked to show and
// returns at once, as if the user had closed the box.
#pragma once

#include <functional>
#include <utility>
#include <vector>

#include "common/types.h"
#include "platform/platform.h"

namespace vpolv::standalone {

// A message box the plug-in showed.
struct ShownBox {
    Text text;
    Text title;
    Long style;
};

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

}  // namespace vpolv::standalone
