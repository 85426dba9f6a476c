// vpolv-sim reference: the glass pricing rules as a Markdown document, printed from the very
// tables the plug-in prices with, and worked examples that the plug-in itself computes on small
// in-memory scenes.
#pragma once

#include <string>

namespace vpolv::sim {

std::string pricingReference();

}  // namespace vpolv::sim
