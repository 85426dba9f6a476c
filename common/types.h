// Basic automation types shared by the whole plug-in.
#pragma once

#include <cstdint>
#include <string>

namespace vpolv {

// Automation text: UTF-16, lengths and positions count UTF-16 code units.
using Text = std::u16string;
// Automation Long (32-bit) and Integer (16-bit).
using Long = std::int32_t;
using Integer = std::int16_t;
// Automation Boolean: False is 0, True is -1.
using Boolean = std::int16_t;
inline constexpr Boolean kTrue = -1;
inline constexpr Boolean kFalse = 0;

}  // namespace vpolv
