// The host's events (host/events.def): their kinds, and the names traces and the simulator give
// them.
#pragma once

#include <optional>
#include <string_view>

namespace vpolv {

enum class Event {
#define VPOLV_EVENT(kind, name, method, dispId) kind,
#include "host/events.def"
};

inline constexpr Event kEvents[] = {
#define VPOLV_EVENT(kind, name, method, dispId) Event::kind,
#include "host/events.def"
};

// "place", "finishes", "scene": an event's name in traces and on the simulator's command line.
constexpr std::string_view eventName(Event event) {
    constexpr std::string_view names[] = {
#define VPOLV_EVENT(kind, name, method, dispId) name,
#include "host/events.def"
    };
    return names[static_cast<int>(event)];
}

// "OnObjectPlaceAfter", "OnObjectFinishesAfter", "OnSceneGenericFinishesAfter".
constexpr std::string_view eventMethodName(Event event) {
    constexpr std::string_view methods[] = {
#define VPOLV_EVENT(kind, name, method, dispId) #method,
#include "host/events.def"
    };
    return methods[static_cast<int>(event)];
}

// The event of a name; nullopt for anything else.
constexpr std::optional<Event> eventNamed(std::string_view name) {
    for (const Event event : kEvents) {
        if (eventName(event) == name)
            return event;
    }
    return std::nullopt;
}

}  // namespace vpolv
