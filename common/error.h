// The one error type of the plug-in: an automation error code (an HRESULT) and its description.
//
// Every failure inside the plug-in -- a failing host call, a conversion, an overflow -- is raised
// as an Error. It ends the running method at once and travels up to the event method, which turns
// it into a False result plus this error.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

#include "common/types.h"

namespace vpolv {

class Error : public std::exception {
  public:
    Error(std::int32_t code, Text description, Text source = {});

    // HRESULT of the failure (0x800A.... for the automation runtime's own errors).
    std::int32_t code() const noexcept { return code_; }
    const Text& description() const noexcept { return description_; }
    // Who raised it ("vpolv" for the plug-in's own errors, the host's source otherwise).
    const Text& source() const noexcept { return source_; }

    // UTF-8 "description (0x800A000D)" for diagnostics.
    const char* what() const noexcept override { return what_.c_str(); }

    // The code alone, with no text: built without allocating, for when memory has run out.
    static Error bare(std::int32_t code) noexcept { return Error(code); }

  private:
    explicit Error(std::int32_t code) noexcept : code_(code) {}

    std::int32_t code_;
    Text description_;
    Text source_;
    std::string what_;
};

// An error code as messages, traces and reports write it: "0x800A000D".
std::string errorCodeText(std::int32_t code);

// The automation runtime's own errors, with their usual English descriptions.
namespace errors {

inline constexpr std::int32_t kInvalidProcedureCall = static_cast<std::int32_t>(0x800A0005);
inline constexpr std::int32_t kOverflow = static_cast<std::int32_t>(0x800A0006);
inline constexpr std::int32_t kTypeMismatch = static_cast<std::int32_t>(0x800A000D);
inline constexpr std::int32_t kFileNotFound = static_cast<std::int32_t>(0x800A0035);
inline constexpr std::int32_t kObjectNotSet = static_cast<std::int32_t>(0x800A005B);
inline constexpr std::int32_t kPathNotFound = static_cast<std::int32_t>(0x800A004C);
inline constexpr std::int32_t kCannotCreateObject = static_cast<std::int32_t>(0x800A01AD);
inline constexpr std::int32_t kNoSuchMethod = static_cast<std::int32_t>(0x800A01B6);
// What a failure that is not an automation error becomes: memory exhausted (E_OUTOFMEMORY),
// or any other exception (E_UNEXPECTED).
inline constexpr std::int32_t kOutOfMemory = static_cast<std::int32_t>(0x8007000E);
inline constexpr std::int32_t kUnexpected = static_cast<std::int32_t>(0x8000FFFF);
// A system call refused for lack of rights (E_ACCESSDENIED), or failing for a reason that has no
// code of its own here (E_FAIL).
inline constexpr std::int32_t kAccessDenied = static_cast<std::int32_t>(0x80070005);
inline constexpr std::int32_t kFail = static_cast<std::int32_t>(0x80004005);

Error invalidProcedureCall();
Error overflow();
Error typeMismatch();
// The same code, with what did not convert: "Type mismatch: <what>".
Error typeMismatch(const Text& what);
Error fileNotFound();
Error pathNotFound(const Text& path);
Error objectNotSet();
Error cannotCreateObject();
Error noSuchMethod();
Error outOfMemory();
Error unexpected();
// A system call that could not look at a file or folder (which is not the same as finding nothing
// there): code is the system's error as an HRESULT, what says what could not be done ("Could not
// list the folder"), reason is the system's text for the error. "<what> '<path>': <reason>".
Error systemCallFailed(std::int32_t code, std::u16string_view what, const Text& path,
                       const Text& reason);

}  // namespace errors

// The error for the exception in flight, as every boundary reports it: an Error as it is, memory
// exhausted and anything else under their own codes. Call it only inside a catch block.
Error currentError() noexcept;
}  // namespace vpolv
