// Text conversions, BSTRs, system messages and HRESULT checks for the Windows side.
#include "platform/windows/com_support.h"

#include <new>

namespace vpolv::win {

std::wstring toWide(const Text& text) {
    return std::wstring(text.begin(), text.end());
}

Text fromWide(const wchar_t* text, std::size_t length) {
    return Text(text, text + length);
}

Text fromWide(const std::wstring& text) {
    return Text(text.begin(), text.end());
}

Bstr toBstr(const Text& text) {
    Bstr out(SysAllocStringLen(nullptr, static_cast<UINT>(text.size())));
    if (!out)
        throw std::bad_alloc();
    for (std::size_t i = 0; i < text.size(); ++i)
        out.get()[i] = static_cast<OLECHAR>(text[i]);
    return out;
}

Text fromBstr(const BSTR text) {
    return text ? fromWide(text, SysStringLen(text)) : Text();
}

Text systemMessage(HRESULT hr) {
    UniqueLocalText buffer;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<wchar_t*>(buffer.put()), 0, nullptr);
    Text message = length ? fromWide(buffer.get(), length) : Text();
    while (!message.empty() && (message.back() == u'\r' || message.back() == u'\n' ||
                                message.back() == u' ' || message.back() == u'.')) {
        message.pop_back();
    }
    return message.empty() ? Text(u"Automation error") : message;
}

void check(HRESULT hr) {
    if (FAILED(hr)) {
        if (hr == E_OUTOFMEMORY)
            throw std::bad_alloc();
        throw Error(static_cast<std::int32_t>(hr), systemMessage(hr), u"vpolv");
    }
}

std::wstring moduleFileName(HMODULE module) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            check(HRESULT_FROM_WIN32(GetLastError()));
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

}  // namespace vpolv::win
