// What the fuzz targets share.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <typeinfo>

namespace vpolv::fuzzing {

// A property that does not hold for the input: said on standard error, then the run ends the
// way libFuzzer keeps an input for (a crash).
[[noreturn]] inline void finding(const std::string& what, const std::string& detail = {}) {
    std::fprintf(stderr, "\n*** %s\n%s\n", what.c_str(), detail.c_str());
    std::abort();
}

// The exception being handled, named with its type, for a finding; call inside a catch block.
inline std::string describeCurrentException() {
    try {
        throw;
    } catch (const std::exception& e) {
        return std::string(typeid(e).name()) + ": " + e.what();
    } catch (...) {
        return "not a std::exception";
    }
}

}  // namespace vpolv::fuzzing
