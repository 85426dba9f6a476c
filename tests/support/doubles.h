// What the core tests and the DLL's share around the plug-in: the error a host call is made to
// raise and the code of an error raised, a message box that records what it shows, and the
// three events fired by kind.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>
#include <utility>
#include <vector>

#include "common/error.h"
#include "platform/platform.h"
#include "plugin/plugin.h"

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

// The host's three events, and the method of each with its name, in the same order.
enum class Event { Place, Finishes, Scene };
inline constexpr Event kEvents[] = {Event::Place, Event::Finishes, Event::Scene};
inline constexpr std::pair<Boolean (Plugin::*)(Long), std::u16string_view> kEventMethods[] = {
    {&Plugin::OnObjectPlaceAfter, u"OnObjectPlaceAfter"},
    {&Plugin::OnObjectFinishesAfter, u"OnObjectFinishesAfter"},
    {&Plugin::OnSceneGenericFinishesAfter, u"OnSceneGenericFinishesAfter"}};

inline std::u16string_view methodName(Event event) {
    return kEventMethods[static_cast<int>(event)].second;
}
inline Boolean fire(Plugin& plugin, Event event, Long callParamsBlock) {
    return (plugin.*kEventMethods[static_cast<int>(event)].first)(callParamsBlock);
}

}  // namespace vpolv::testing
