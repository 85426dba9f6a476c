// The value of a key in the text of an initialisation file, as both platforms' Profile read it.
#pragma once

#include <string_view>

#include "common/types.h"

namespace vpolv::platform {

// The value of key in section of content ("[Section]" lines, "key=value" lines, ';' comments):
// blanks around names and values are left out and one pair of matching quotes around a value
// goes; sections and keys match without regard to case (ASCII letters); only the first section
// of that name is read. Empty when the section or the key is missing.
Text iniValue(std::u16string_view content, std::u16string_view section, std::u16string_view key);

}  // namespace vpolv::platform
