// The description cut on arbitrary text: it never fails, keeps a prefix of the text without a
// surcharge line, cuts only at one, and cutting again changes nothing.
//
// Input: the text, one character a byte, except that 0xFF and the two bytes after it give one
// UTF-16 code unit (low byte first), for texts beyond Latin-1 and lone surrogates.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/text.h"
#include "showcase/showcase.h"

namespace {

using vpolv::Text;

[[noreturn]] void finding(const char* what, const Text& input) {
    std::fprintf(stderr, "\n*** %s\ninput: \"%s\"\n", what, vpolv::toUtf8(input).c_str());
    std::abort();
}

Text decode(const std::uint8_t* data, std::size_t size) {
    Text out;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0xFF && i + 2 < size) {
            out += static_cast<char16_t>(data[i + 1] | data[i + 2] << 8);
            i += 2;
        } else {
            out += static_cast<char16_t>(data[i]);
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Text input = decode(data, size);
    Text desc = input;
    Text result, again;
    try {
        result = vpolv::formateaDescripcion(desc);
        Text copy = result;
        again = vpolv::formateaDescripcion(copy);
    } catch (...) {
        finding("the description cut failed", input);
    }
    if (result != desc)
        finding("the cut text is not what the variable holds", input);
    if (input.compare(0, result.size(), result) != 0)
        finding("the cut text is no prefix of the description", input);
    if (result.find(vpolv::kSurchargeLineStart) != Text::npos)
        finding("the cut text keeps a surcharge line", input);
    if (result.size() < input.size() &&
        input.compare(result.size(), vpolv::kSurchargeLineStart.size(),
                      vpolv::kSurchargeLineStart) != 0) {
        finding("the description is cut where no surcharge line begins", input);
    }
    if (again != result)
        finding("cutting twice is not cutting once", input);
    return 0;
}
