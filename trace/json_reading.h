// Reading JSON documents of our own formats (trace records, scene files): each value checked for
// the type it must have, a fault naming the place and what is wrong with it.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "common/types.h"

namespace vpolv::trace {

using Json = nlohmann::ordered_json;

// A value that is not what its place wants: "object 100 info 2: expected a text, found a number".
struct JsonFault {
    std::string place;  // may be empty: the document itself
    std::string what;
    std::string message() const { return place.empty() ? what : place + ": " + what; }
};

class JsonReading {
  public:
    [[noreturn]] void fail(const std::string& place, const std::string& what) const;

    // The member key of object; a fault when it has none.
    const Json& member(const Json& object, const char* key, const std::string& place) const;
    // A fault for any member of object not among allowed.
    void onlyKeys(const Json& object, const std::string& place,
                  std::initializer_list<std::string_view> allowed) const;
    const Json& objectAt(const Json& value, const std::string& place) const;
    const Json& arrayAt(const Json& value, const std::string& place) const;
    std::string text(const Json& value, const std::string& place) const;
    // A whole number of 32 bits.
    Long number(const Json& value, const std::string& place) const;
    bool boolean(const Json& value, const std::string& place) const;

    // "a text", "an array", ...: what a value is, for messages.
    static std::string kind(const Json& value);
};

}  // namespace vpolv::trace
