// The COM boundary: every entry point of the library runs its work through guard(), so that no
// C++ exception ever leaves the library and every failure reaches the caller as an HRESULT plus
// an IErrorInfo carrying the error's description.
#pragma once

#include "common/error.h"
#include "platform/windows/win32.h"

namespace vpolv::com {

// Publishes error as the thread's error information for interface iid.
void reportError(const Error& error, REFIID iid) noexcept;
// Clears the thread's error information after a successful call.
void clearError() noexcept;

// The HRESULT the caller gets for error: its code when that is a failure code, E_FAIL otherwise.
inline HRESULT resultOf(const Error& error) noexcept {
    return FAILED(error.code()) ? static_cast<HRESULT>(error.code()) : E_FAIL;
}

// Runs work; every path sets or clears the thread's error information.
template <class F>
HRESULT guard(REFIID iid, F&& work) noexcept {
    try {
        work();
        clearError();
        return S_OK;
    } catch (...) {
        const Error error = currentError();
        reportError(error, iid);
        return resultOf(error);
    }
}

}  // namespace vpolv::com
