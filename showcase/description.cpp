// Cutting the plug-in's surcharge line off a description.
#include "showcase/showcase.h"

namespace vpolv {

Text formateaDescripcion(Text& desc) {
    const auto note = desc.find(kSurchargeLineStart);
    if (note != Text::npos)
        desc.resize(note);
    return desc;
}

}  // namespace vpolv
