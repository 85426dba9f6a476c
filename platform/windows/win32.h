// The system headers of the Windows side, included through here only.
#pragma once

#include <oleauto.h>
#include <windows.h>

// platform::MessageBox is one of ours; the system's ANSI/wide switch macro would rename it.
#undef MessageBox
