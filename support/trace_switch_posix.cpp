// The trace switch is a value of the Windows registry: without it, every call says so.
#include "support/trace_switch.h"

namespace vpolv::support {

namespace {

[[noreturn]] void refuse() {
    throw TraceSwitchError(
        "the trace switch is a value of the Windows registry: this works on Windows only");
}

}  // namespace

SwitchState readTraceSwitch() {
    refuse();
}

void setUserTraceFile(const std::string&) {
    refuse();
}

SwitchOff switchUserTraceOff() {
    refuse();
}

std::string newTraceFile(const char*) {
    refuse();
}

struct TraceSwitchGuard::State {};

TraceSwitchGuard::TraceSwitchGuard(const std::string&) {
    refuse();
}

TraceSwitchGuard::~TraceSwitchGuard() = default;

void TraceSwitchGuard::restore() {}

const SwitchValue& TraceSwitchGuard::earlier() const {
    static const SwitchValue none;
    return none;
}

bool TraceSwitchGuard::restored() const {
    return true;
}

}  // namespace vpolv::support
