// The method table of the Plugin class as the host sees it: the fourteen public methods of the
// dual interface _Plugin (plugin/methods.def), in function-table order, with their dispatch ids
// and parameters.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <type_traits>

#include "common/types.h"

namespace vpolv {

enum class DispId : Long {
#define VPOLV_METHOD(name, dispId, returns, ...) name = dispId,
#include "plugin/methods.def"
};

enum class ParamType { Long, Text };
enum class ResultType { None, Boolean, Text };

struct ParamInfo {
    std::u16string_view name;
    ParamType type;
    bool byRef;
};

struct MethodInfo {
    std::u16string_view name;
    DispId dispId;
    std::span<const ParamInfo> params;
    ResultType result;
};

namespace method_params {

// A parameter of type T (Long, Long& or Text&).
template <class T>
constexpr ParamInfo param(std::u16string_view name) {
    using Value = std::remove_reference_t<T>;
    static_assert(std::is_same_v<Value, Long> || std::is_same_v<Value, Text>);
    return {name, std::is_same_v<Value, Text> ? ParamType::Text : ParamType::Long,
            std::is_reference_v<T>};
}

template <class... P>
constexpr std::array<ParamInfo, sizeof...(P)> list(P... params) {
    return {params...};
}

// A result of type T (void, Boolean or Text).
template <class T>
constexpr ResultType result() {
    static_assert(std::is_void_v<T> || std::is_same_v<T, Boolean> || std::is_same_v<T, Text>);
    return std::is_void_v<T>         ? ResultType::None
           : std::is_same_v<T, Text> ? ResultType::Text
                                     : ResultType::Boolean;
}

// Each method's parameters, under the method's name.
#define VPOLV_PARAM_INFO(type, name) param<type>(u"" #name)
#define VPOLV_METHOD(name, dispId, returns, ...) \
    inline constexpr auto name = list(VPOLV_EACH_PARAMETER(VPOLV_PARAM_INFO, __VA_ARGS__));
#include "plugin/methods.def"
#undef VPOLV_PARAM_INFO

}  // namespace method_params

inline constexpr auto kMethodTable = std::to_array<MethodInfo>({
#define VPOLV_METHOD(name, dispId, returns, ...) \
    {u"" #name, DispId::name, method_params::name, method_params::result<returns>()},
#include "plugin/methods.def"
});

}  // namespace vpolv
