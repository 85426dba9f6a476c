// Program files on the Win32 API.
#include "platform/windows/image.h"

#include <algorithm>
#include <vector>

#include "common/text.h"
#include "platform/windows/com_support.h"
#include "platform/windows/win32.h"
// clang-format off
#include <softpub.h>
#include <wintrust.h>
// clang-format on

namespace vpolv::win {

FileState fileState(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    FileState state;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        state.error = GetLastError();
        return state;
    }
    state.exists = true;
    state.folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    state.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return state;
}

bool readShared(const std::wstring& path, std::size_t most, std::string& data,
                unsigned long& error) {
    data.clear();
    const UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        error = GetLastError();
        return false;
    }
    char buffer[65536];
    DWORD read = 0;
    while (data.size() < most &&
           ReadFile(file.get(), buffer,
                    static_cast<DWORD>(std::min<std::size_t>(sizeof buffer, most - data.size())),
                    &read, nullptr) &&
           read > 0) {
        data.append(buffer, read);
    }
    return true;
}

VersionRecord versionRecord(const std::wstring& path) {
    VersionRecord found;
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    std::vector<BYTE> record(size);
    if (size == 0 || !GetFileVersionInfoW(path.c_str(), 0, size, record.data())) {
        found.error = GetLastError();
        return found;
    }
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (VerQueryValueW(record.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) && fixed &&
        length >= sizeof *fixed) {
        found.numbers = std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
                        std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
                        std::to_string(HIWORD(fixed->dwFileVersionLS)) + "." +
                        std::to_string(LOWORD(fixed->dwFileVersionLS));
    }
    // The texts, in the record's first language.
    struct Translation {
        WORD language;
        WORD codePage;
    }* translation = nullptr;
    if (!VerQueryValueW(record.data(), L"\\VarFileInfo\\Translation",
                        reinterpret_cast<void**>(&translation), &length) ||
        length < sizeof *translation) {
        return found;
    }
    const auto text = [&](const wchar_t* name) -> std::wstring {
        wchar_t query[64];
        swprintf(query, 64, L"\\StringFileInfo\\%04x%04x\\%ls", translation->language,
                 translation->codePage, name);
        wchar_t* value = nullptr;
        UINT chars = 0;
        if (!VerQueryValueW(record.data(), query, reinterpret_cast<void**>(&value), &chars) ||
            !value) {
            return {};
        }
        return std::wstring(value, wcsnlen(value, chars));
    };
    found.product = text(L"ProductName");
    found.version = text(L"ProductVersion");
    return found;
}

Signature verifySignature(const std::wstring& path) {
    WINTRUST_FILE_INFO file{};
    file.cbStruct = sizeof file;
    file.pcwszFilePath = path.c_str();
    WINTRUST_DATA data{};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const HWND noWindow = static_cast<HWND>(INVALID_HANDLE_VALUE);
    const LONG status = WinVerifyTrust(noWindow, &action, &data);
    // The verification keeps state until it is closed, whatever it found.
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(noWindow, &action, &data);

    Signature found;
    const auto code = static_cast<HRESULT>(status);
    found.code = static_cast<std::int32_t>(status);
    if (code == S_OK)
        found.verdict = Signature::Verified;
    else if (code == TRUST_E_NOSIGNATURE || code == TRUST_E_SUBJECT_FORM_UNKNOWN ||
             code == TRUST_E_PROVIDER_UNKNOWN)
        found.verdict = Signature::Unsigned;
    else if (code == TRUST_E_BAD_DIGEST)
        found.verdict = Signature::Changed;
    else if (code == CERT_E_UNTRUSTEDROOT)
        found.verdict = Signature::UntrustedRoot;
    else if (code == CERT_E_EXPIRED)
        found.verdict = Signature::Expired;
    else
        found.reason = toUtf8(systemMessage(code));
    return found;
}

}  // namespace vpolv::win
