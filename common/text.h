// Text helpers that need no locale: UTF-8 <-> UTF-16, whole numbers as decimal text, list
// membership, appending parts, and overflow-checked 32-bit arithmetic.
#pragma once

#include <algorithm>
#include <span>
#include <string>
#include <string_view>

#include "common/types.h"

namespace vpolv {

// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string toUtf8(std::u16string_view text);
// UTF-8 to UTF-16; an invalid sequence becomes U+FFFD.
Text fromUtf8(std::string_view text);

// Plain decimal text of a Long: a minus sign for negatives, no separators.
Text longToText(Long value);

// Whether text equals one of the listed texts exactly (whole text, case-sensitive).
inline bool contains(std::span<const std::u16string_view> list, std::u16string_view text) {
    return std::find(list.begin(), list.end(), text) != list.end();
}

// Appends the parts to text in order, growing it at most once.
template <class... Parts>
void appendAll(Text& text, const Parts&... parts) {
    const std::u16string_view views[] = {std::u16string_view(parts)...};
    std::size_t size = text.size();
    for (const auto view : views)
        size += view.size();
    text.reserve(size);
    for (const auto view : views)
        text += view;
}

// 32-bit arithmetic that raises the automation overflow error instead of wrapping.
Long checkedAdd(Long a, Long b);
Long checkedMultiply(Long a, Long b);

}  // namespace vpolv
