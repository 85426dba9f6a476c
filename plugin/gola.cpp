// The Gola handle codes and the warning shown after placing an object with one.
#include "plugin/gola.h"

#include "common/text.h"

namespace vpolv {

namespace {
constexpr std::u16string_view kGolaHandleCodes[] = {
    u"1GL",    u"2GL",   u"7GL",   u"8GL",  u"13GL", u"14GL", u"234GL", u"235GL",
    u"236GL",  u"19GL",  u"20GL",  u"25GL", u"26GL", u"32GL", u"66GL",  u"1071GL",
    u"1131GL", u"134GL", u"137GL", u"MAGL", u"MEGL", u"R7GL", u"YEGL"};
}  // namespace

std::span<const std::u16string_view> golaHandleCodes() {
    return kGolaHandleCodes;
}

bool isGolaHandle(const Text& handle) {
    return contains(kGolaHandleCodes, handle);
}

void warnOfGolaHandle(platform::Dialogs& messages) {
    messages.show(Text(kGolaText), Text(kGolaTitle), kGolaStyle);
}

}  // namespace vpolv
