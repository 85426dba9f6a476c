// The benchmark cases: scenes for the in-memory host on which every event prices glass.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "host/memory_host.h"
#include "plugin/plugin.h"

namespace vpolv::bench {

struct Case {
    std::string name;
    Event event;
    host::SceneData scene;
    std::size_t writes;  // surcharge writes one event makes (three per priced glass part)
};

// The cases by name: "placement" and "finishes" (a type-1 cabinet with ten glass parts, the
// object of the call), "scene200" and "scene2000" (the scene event over that many cabinets,
// three glass parts and a shelf each).
std::vector<std::string> caseNames();
// Raises std::invalid_argument for an unknown name.
Case makeCase(const std::string& name);

// The call-parameter block the events are fired with.
inline constexpr Long kCallParams = 5;

}  // namespace vpolv::bench
