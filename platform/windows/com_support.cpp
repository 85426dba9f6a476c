// Text conversions, BSTRs, system messages and HRESULT checks for the Windows side.
#include "platform/windows/com_support.h"

#include <cstring>
#include <new>

#include "common/text.h"

namespace vpolv::win {

// Both are UTF-16 code units: the conversions copy the units in bulk.
static_assert(sizeof(wchar_t) == sizeof(char16_t) && sizeof(OLECHAR) == sizeof(char16_t));

void HandleTraits::close(Handle handle) noexcept {
    CloseHandle(handle);
}

std::wstring toWide(const Text& text) {
    std::wstring out(text.size(), L'\0');
    std::memcpy(out.data(), text.data(), text.size() * sizeof(char16_t));
    return out;
}

Text fromWide(const wchar_t* text, std::size_t length) {
    Text out(length, u'\0');
    std::memcpy(out.data(), text, length * sizeof(char16_t));
    return out;
}

Text fromWide(const std::wstring& text) {
    return fromWide(text.data(), text.size());
}

std::string utf8(const std::wstring& text) {
    return toUtf8(fromWide(text));
}

std::wstring wide(const std::string& utf8) {
    return toWide(fromUtf8(utf8));
}

std::string reasonOf(unsigned long error) {
    return toUtf8(systemMessage(HRESULT_FROM_WIN32(error)));
}

std::wstring guidText(const GUID& guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

Bstr toBstr(const Text& text) {
    Bstr out(SysAllocStringLen(nullptr, static_cast<UINT>(text.size())));
    if (!out)
        throw std::bad_alloc();
    std::memcpy(out.get(), text.data(), text.size() * sizeof(char16_t));
    return out;
}

Text fromBstr(const BSTR text) {
    return text ? fromWide(text, SysStringLen(text)) : Text();
}

void assignFromBstr(Text& target, const BSTR text) {
    const std::size_t length = text ? SysStringLen(text) : 0;
    target.resize(length);
    if (length)
        std::memcpy(target.data(), text, length * sizeof(char16_t));
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
