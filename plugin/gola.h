// The warning after placing an object whose handle is a Gola handle, which the catalogs do not
// price: the user has to add it from the catalog's Gola handle chapter.
#pragma once

#include <span>
#include <string_view>

#include "common/types.h"
#include "platform/platform.h"

namespace vpolv {

inline constexpr std::u16string_view kGolaTitle = u"¡¡ATENCION!!";
inline constexpr std::u16string_view kGolaText =
    u"Tirador Gola no presupuestado.\r\n"
    u"Introduzca el tirador correspondiente del capítulo 'Tirador Gola' junto con los accesorios.";
inline constexpr Long kGolaStyle = platform::Dialogs::kOk | platform::Dialogs::kIconExclamation;

// The Gola handle codes, in the order tested.
std::span<const std::u16string_view> golaHandleCodes();

// Whether the handle code equals one of the Gola codes exactly.
bool isGolaHandle(const Text& handle);

// Shows the warning and waits until the user closes it.
void warnOfGolaHandle(platform::Dialogs& messages);

}  // namespace vpolv
