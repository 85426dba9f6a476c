// The method table of the Plugin class as the host sees it: the fourteen public methods of the
// dual interface _Plugin, in function-table order, with their dispatch ids and parameters.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "common/types.h"

namespace vpolv {

enum class DispId : Long {
    Inicializa = 0x60030000,
    OnObjectPlaceAfter = 0x60030001,
    OnObjectFinishesAfter = 0x60030002,
    OnSceneGenericFinishesAfter = 0x60030003,
    casoPolvast = 0x60030004,
    casoPolvastAG = 0x60030005,
    formateaDescripcion = 0x60030006,
    vitrina = 0x60030007,
    vitrina2 = 0x60030008,
    vitrina3 = 0x60030009,
    vitrina3b = 0x6003000A,
    vitrinaAG = 0x6003000B,
    vitrina2AG = 0x6003000C,
    vitrina3AG = 0x6003000D,
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
inline constexpr ParamInfo kNone[1] = {{u"", ParamType::Long, false}};
inline constexpr ParamInfo kEvent[] = {{u"lCallParamsBlock", ParamType::Long, false}};
inline constexpr ParamInfo kCaso[] = {{u"lCallParamsBlock", ParamType::Long, false},
                                      {u"d", ParamType::Long, true}};
inline constexpr ParamInfo kCasoAG[] = {{u"lCallParamsBlock", ParamType::Long, false},
                                        {u"d", ParamType::Long, true},
                                        {u"lObjectId", ParamType::Long, true}};
inline constexpr ParamInfo kFormatea[] = {{u"desc", ParamType::Text, true}};
inline constexpr ParamInfo kVitrina[] = {{u"nHijos", ParamType::Long, true},
                                         {u"auxd", ParamType::Long, true}};
inline constexpr ParamInfo kVitrinaAG[] = {{u"nHijos", ParamType::Long, true},
                                           {u"auxd", ParamType::Long, true},
                                           {u"lObjectId", ParamType::Long, true}};
inline constexpr std::span<const ParamInfo> kEmpty(kNone, 0);
}  // namespace method_params

inline constexpr std::array<MethodInfo, 14> kMethodTable = {{
    {u"Inicializa", DispId::Inicializa, method_params::kEmpty, ResultType::None},
    {u"OnObjectPlaceAfter", DispId::OnObjectPlaceAfter, method_params::kEvent, ResultType::Boolean},
    {u"OnObjectFinishesAfter", DispId::OnObjectFinishesAfter, method_params::kEvent,
     ResultType::Boolean},
    {u"OnSceneGenericFinishesAfter", DispId::OnSceneGenericFinishesAfter, method_params::kEvent,
     ResultType::Boolean},
    {u"casoPolvast", DispId::casoPolvast, method_params::kCaso, ResultType::Boolean},
    {u"casoPolvastAG", DispId::casoPolvastAG, method_params::kCasoAG, ResultType::Boolean},
    {u"formateaDescripcion", DispId::formateaDescripcion, method_params::kFormatea,
     ResultType::Text},
    {u"vitrina", DispId::vitrina, method_params::kVitrina, ResultType::None},
    {u"vitrina2", DispId::vitrina2, method_params::kVitrina, ResultType::None},
    {u"vitrina3", DispId::vitrina3, method_params::kVitrina, ResultType::None},
    {u"vitrina3b", DispId::vitrina3b, method_params::kEmpty, ResultType::None},
    {u"vitrinaAG", DispId::vitrinaAG, method_params::kVitrinaAG, ResultType::None},
    {u"vitrina2AG", DispId::vitrina2AG, method_params::kVitrinaAG, ResultType::None},
    {u"vitrina3AG", DispId::vitrina3AG, method_params::kVitrinaAG, ResultType::None},
}};

}  // namespace vpolv
