// The error type, the automation runtime's own errors, and the exception in flight as an error.
#include "common/error.h"

#include <cstdio>
#include <new>

#include "common/text.h"

namespace vpolv {

Error::Error(std::int32_t code, Text description, Text source)
    : code_(code), description_(std::move(description)), source_(std::move(source)) {
    what_ = toUtf8(description_) + " (" + errorCodeText(code_) + ")";
}

std::string errorCodeText(std::int32_t code) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<std::uint32_t>(code));
    return text;
}

namespace errors {
namespace {
Error own(std::int32_t code, Text description) {
    return Error(code, std::move(description), u"vpolv");
}
}  // namespace

Error invalidProcedureCall() {
    return own(kInvalidProcedureCall, u"Invalid procedure call or argument");
}
Error overflow() {
    return own(kOverflow, u"Overflow");
}
Error typeMismatch() {
    return own(kTypeMismatch, u"Type mismatch");
}
Error typeMismatch(const Text& what) {
    return own(kTypeMismatch, u"Type mismatch: " + what);
}
Error fileNotFound() {
    return own(kFileNotFound, u"File not found");
}
Error pathNotFound(const Text& path) {
    return own(kPathNotFound, u"Path not found: '" + path + u"'");
}
Error objectNotSet() {
    return own(kObjectNotSet, u"Object variable or With block variable not set");
}
Error cannotCreateObject() {
    return own(kCannotCreateObject, u"ActiveX component can't create object");
}
Error noSuchMethod() {
    return own(kNoSuchMethod, u"Object doesn't support this property or method");
}
Error outOfMemory() {
    return own(kOutOfMemory, u"Out of memory");
}
Error unexpected() {
    return own(kUnexpected, u"Unexpected failure");
}
Error systemCallFailed(std::int32_t code, std::u16string_view what, const Text& path,
                       const Text& reason) {
    Text description(what);
    appendAll(description, u" '", path, u"': ", reason);
    return own(code, std::move(description));
}

}  // namespace errors

Error currentError() noexcept {
    std::int32_t code = errors::kUnexpected;
    try {
        try {
            throw;
        } catch (const Error& e) {
            code = e.code();
            return e;
        } catch (const std::bad_alloc&) {
            code = errors::kOutOfMemory;
            return errors::outOfMemory();
        } catch (...) {
            return errors::unexpected();
        }
    } catch (...) {
        // No memory left for the texts: the code alone.
        return Error::bare(code);
    }
}

}  // namespace vpolv
