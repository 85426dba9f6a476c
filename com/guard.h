// The COM boundary: every entry point of the library runs its work through guard(), so that no
// C++ exception ever leaves the library and every failure reaches the caller as an HRESULT plus
// an IErrorInfo carrying the error's description.
#pragma once

#include <new>

#include "common/error.h"
#include "platform/windows/win32.h"

namespace vpolv::com {

// Publishes error as the thread's error information for interface iid.
void reportError(const Error& error, REFIID iid) noexcept;
// Clears the thread's error information after a successful call.
void clearError() noexcept;

template <class F>
HRESULT guard(REFIID iid, F&& work) noexcept {
    try {
        work();
        clearError();
        return S_OK;
    } catch (const Error& e) {
        reportError(e, iid);
        return FAILED(e.code()) ? static_cast<HRESULT>(e.code()) : E_FAIL;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

}  // namespace vpolv::com
