// Checked reading of JSON values.
#include "trace/json_reading.h"

#include <algorithm>
#include <limits>

namespace vpolv::trace {

void JsonReading::fail(const std::string& place, const std::string& what) const {
    throw JsonFault{place, what};
}

const Json& JsonReading::member(const Json& object, const char* key,
                                const std::string& place) const {
    const auto it = object.find(key);
    if (it == object.end())
        fail(place, std::string("missing \"") + key + "\"");
    return *it;
}

void JsonReading::onlyKeys(const Json& object, const std::string& place,
                           std::initializer_list<std::string_view> allowed) const {
    for (const auto& [key, value] : object.items()) {
        if (std::find(allowed.begin(), allowed.end(), key) == allowed.end())
            fail(place, "unknown key \"" + key + "\"");
    }
}

const Json& JsonReading::objectAt(const Json& value, const std::string& place) const {
    if (!value.is_object())
        fail(place, "expected an object, found " + kind(value));
    return value;
}

const Json& JsonReading::arrayAt(const Json& value, const std::string& place) const {
    if (!value.is_array())
        fail(place, "expected an array, found " + kind(value));
    return value;
}

std::string JsonReading::text(const Json& value, const std::string& place) const {
    if (!value.is_string())
        fail(place, "expected a text, found " + kind(value));
    return value.get<std::string>();
}

Long JsonReading::number(const Json& value, const std::string& place) const {
    if (!value.is_number_integer())
        fail(place, "expected a whole number, found " + kind(value));
    const bool fits = value.is_number_unsigned()
                          ? value.get<std::uint64_t>() <= 0x7FFFFFFFu
                          : value.get<std::int64_t>() >= std::numeric_limits<Long>::min() &&
                                value.get<std::int64_t>() <= std::numeric_limits<Long>::max();
    if (!fits)
        fail(place, "number out of the 32-bit range");
    return static_cast<Long>(value.get<std::int64_t>());
}

bool JsonReading::boolean(const Json& value, const std::string& place) const {
    if (!value.is_boolean())
        fail(place, "expected true or false, found " + kind(value));
    return value.get<bool>();
}

std::string JsonReading::kind(const Json& value) {
    if (value.is_null())
        return "null";
    if (value.is_boolean())
        return "a boolean";
    if (value.is_number())
        return "a number";
    if (value.is_string())
        return "a text";
    if (value.is_array())
        return "an array";
    return "an object";
}

}  // namespace vpolv::trace
