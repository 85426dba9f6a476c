// The system headers of the Windows side, included through here only.
#pragma once

// windows.h must come first.
#include <windows.h>
// clang-format off
#include <oleauto.h>
// clang-format on
