// Publishing and clearing the thread's error information for the COM boundary.
#include "com/guard.h"

#include "platform/windows/com_support.h"

namespace vpolv::com {

void reportError(const Error& error, REFIID iid) noexcept try {
    win::ComPtr<ICreateErrorInfo> create;
    if (FAILED(CreateErrorInfo(create.put())))
        return;
    create->SetGUID(iid);
    const std::wstring source =
        win::toWide(error.source().empty() ? Text(u"vpolv") : error.source());
    const std::wstring description = win::toWide(error.description());
    create->SetSource(const_cast<LPOLESTR>(source.c_str()));
    create->SetDescription(const_cast<LPOLESTR>(description.c_str()));
    win::ComPtr<IErrorInfo> info;
    if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, info.putVoid())))
        SetErrorInfo(0, info.get());
} catch (...) {
    // Without memory for the description the caller still gets the HRESULT.
}

void clearError() noexcept {
    SetErrorInfo(0, nullptr);
}

}  // namespace vpolv::com
