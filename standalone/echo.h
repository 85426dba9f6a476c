// Texts the simulator echoes in messages: file names, command-line arguments, keys and pieces of
// a scene file. Well-formed UTF-8 is shown as it is; control characters and bytes that are no
// part of well-formed UTF-8 are shown escaped (\xFF), so that a message stays one readable line.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vpolv::standalone {

std::string echo(std::string_view bytes);

// The last `limit` characters of text (a character is a UTF-8 sequence or a stray byte), after
// "..." when some were cut, escaped as echo does.
std::string echoTail(std::string_view bytes, std::size_t limit);

}  // namespace vpolv::standalone
