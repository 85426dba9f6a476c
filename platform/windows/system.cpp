// File system, profile and message box services on the Win32 API.
#include <new>
#include <optional>
#include <string>
#include <string_view>

#include "common/text.h"
#include "platform/ini.h"
#include "platform/native.h"
#include "platform/windows/com_support.h"
#include "platform/windows/trace_switch.h"
#include "platform/windows/win32.h"
#include "platform/windows/windows_platform.h"
#include "platform/windows/windows_platform_impl.h"

namespace vpolv::platform::windows {

namespace registry = win::registry;
namespace trace_switch = win::trace_switch;

namespace {

// An address inside the module that holds this code.
void moduleAnchor() {}

// Whether a file call's error means that there is no such file or folder, or that the name can
// name none, rather than that the system could not look.
bool notThere(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_DIRECTORY:     // a part of the path is a file
        case ERROR_INVALID_NAME:  // wildcards or other characters no name holds
        case ERROR_BAD_PATHNAME:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME:
            return true;
        default:
            return false;
    }
}

// A file call that could not look: the error as an HRESULT, with the system's text for it.
[[noreturn]] void fail(std::u16string_view what, const Text& path, DWORD error) {
    if (error == ERROR_NOT_ENOUGH_MEMORY || error == ERROR_OUTOFMEMORY)
        throw errors::systemCallFailed(errors::kOutOfMemory, what, path, u"Out of memory");
    const HRESULT hr = HRESULT_FROM_WIN32(error);
    throw errors::systemCallFailed(static_cast<std::int32_t>(hr), what, path,
                                   win::systemMessage(hr));
}

constexpr std::u16string_view kCouldNotList = u"Could not list the folder";
constexpr std::u16string_view kCouldNotLook = u"Could not look for";
constexpr std::u16string_view kCouldNotOpen = u"Could not open";
constexpr std::u16string_view kCouldNotRead = u"Could not read";

// The text of an initialisation file: UTF-16 after its byte-order mark (either order), UTF-8
// after its mark, the ANSI code page without one, as the system's own profile functions read it.
Text decodeProfile(const std::string& bytes) {
    const std::string_view all = bytes;
    if (all.starts_with("\xFF\xFE") || all.starts_with("\xFE\xFF")) {
        const bool swapped = all[0] == '\xFE';
        Text text((all.size() - 2) / 2, u'\0');
        for (std::size_t i = 0; i < text.size(); ++i) {
            const auto first = static_cast<unsigned char>(all[2 + 2 * i]);
            const auto second = static_cast<unsigned char>(all[3 + 2 * i]);
            text[i] = swapped ? char16_t(first << 8 | second) : char16_t(second << 8 | first);
        }
        return text;
    }
    if (all.starts_with("\xEF\xBB\xBF"))
        return fromUtf8(all.substr(3));
    if (all.empty())
        return {};
    const int size = static_cast<int>(all.size());
    const int length = MultiByteToWideChar(CP_ACP, 0, all.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, all.data(), size, wide.data(), length);
    return win::fromWide(wide);
}

}  // namespace

// The module stays where it is while loaded: its folder is looked up once.
Text WindowsFileSystem::moduleFolder() const {
    static const Text folder = lookUpModuleFolder();
    return folder;
}

Text WindowsFileSystem::lookUpModuleFolder() {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCWSTR>(&moduleAnchor), &module)) {
        win::check(HRESULT_FROM_WIN32(GetLastError()));
    }
    const std::wstring path = win::moduleFileName(module);
    const auto cut = path.find_last_of(L"\\/");
    return win::fromWide(cut == std::wstring::npos ? std::wstring() : path.substr(0, cut));
}

std::vector<DirEntry> WindowsFileSystem::listDirectory(const Text& directory) const {
    Text pattern = directory;
    if (!pattern.empty() && !isSeparator(pattern.back()))
        pattern += separator();
    pattern += u'*';
    WIN32_FIND_DATAW data;
    const win::UniqueFind find(FindFirstFileW(win::toWide(pattern).c_str(), &data));
    std::vector<DirEntry> entries;
    if (!find) {
        // A folder without any entry (a drive's empty root) lists nothing.
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND)
            return entries;
        if (notThere(error))
            throw errors::pathNotFound(directory);
        fail(kCouldNotList, directory, error);
    }
    for (;;) {
        if (!(data.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM))) {
            entries.push_back({win::fromWide(data.cFileName, wcslen(data.cFileName)),
                               (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
        }
        if (!FindNextFileW(find.get(), &data)) {
            const DWORD error = GetLastError();
            if (error == ERROR_NO_MORE_FILES)
                return entries;
            fail(kCouldNotList, directory, error);
        }
    }
}

std::int64_t WindowsFileSystem::fileLength(const Text& path) const {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(win::toWide(path).c_str(), GetFileExInfoStandard, &data)) {
        const DWORD error = GetLastError();
        if (notThere(error))
            return -1;
        fail(kCouldNotLook, path, error);
    }
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        return -1;
    return (static_cast<std::int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

Text WindowsProfile::readString(const Text& file, const Text& section, const Text& key) const {
    // Read here rather than through the system's profile function, which answers a file it could
    // not read as one without the key.
    const std::wstring name = win::toWide(file);
    const win::UniqueFile in(CreateFileW(name.c_str(), GENERIC_READ,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!in) {
        const DWORD error = GetLastError();
        if (notThere(error))
            return {};
        // A folder of that name is no file (opening one is refused).
        const DWORD attributes = GetFileAttributesW(name.c_str());
        if (error == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
            (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            return {};
        }
        fail(kCouldNotOpen, file, error);
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(in.get(), &size))
        fail(kCouldNotRead, file, GetLastError());
    if (size.QuadPart > 0x7FFFFFFF)
        fail(kCouldNotRead, file, ERROR_FILE_TOO_LARGE);
    std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD got = 0;
        if (!ReadFile(in.get(), bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &got,
                      nullptr)) {
            fail(kCouldNotRead, file, GetLastError());
        }
        if (got == 0)
            break;  // shorter than it was a moment ago
        done += got;
    }
    bytes.resize(done);
    return iniValue(decodeProfile(bytes), section, key);
}

void WindowsMessageBox::show(const Text& text, const Text& title, Long style) {
    // Modal to the host: owned by the calling thread's active window (the host's), which is
    // disabled while the box is up; with none, task-modal, which disables every top-level
    // window of the thread.
    const HWND owner = GetActiveWindow();
    UINT flags = static_cast<UINT>(style);
    if (!owner)
        flags |= MB_TASKMODAL;
    MessageBoxW(owner, win::toWide(text).c_str(), win::toWide(title).c_str(), flags);
}

bool WindowsTrace::arm(registry::Root root, Watch& watch) {
    if (!watch.key && registry::open(root, L"Software", registry::View::Own, registry::kNotify,
                                     watch.key) != registry::kOk) {
        return false;
    }
    if (!watch.signal)
        watch.signal.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    return watch.signal &&
           RegNotifyChangeKeyValue(watch.key.get(), TRUE,
                                   REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET,
                                   watch.signal.get(), TRUE) == ERROR_SUCCESS;
}

Text WindowsTrace::file() const {
    const std::lock_guard lock(mutex_);
    // With every root watched, one look at both events tells whether anything changed.
    std::size_t fired = watches_.size();
    if (valid_) {
        const HANDLE signals[] = {watches_[0].signal.get(), watches_[1].signal.get()};
        const DWORD first = WaitForMultipleObjects(2, signals, FALSE, 0);
        if (first == WAIT_TIMEOUT)
            return cached_;
        if (first < WAIT_OBJECT_0 + 2)
            fired = first - WAIT_OBJECT_0;  // that look reset it
    }
    // A root whose event is set (or that is not watched) is watched anew before the switch is
    // read, so that no change made while reading goes unseen.
    bool watched = true;
    for (std::size_t i = 0; i < watches_.size(); ++i) {
        Watch& watch = watches_[i];
        if (i != fired && watch.armed && WaitForSingleObject(watch.signal.get(), 0) == WAIT_TIMEOUT)
            continue;
        watch.armed = arm(trace_switch::kRoots[i], watch);
        watched = watched && watch.armed;
    }
    // Stale until read whole: a read that fails (the trace is then off for this call) is made
    // again by the next call.
    valid_ = false;
    std::optional<Text> read = readSwitch();
    if (!read)
        return {};
    cached_ = std::move(*read);
    valid_ = watched;
    return cached_;
}

std::optional<Text> WindowsTrace::readSwitch() {
    const trace_switch::Lookup found = trace_switch::lookUp(registry::View::Own);
    if (found.failed())
        return std::nullopt;
    return win::fromWide(found.file);
}

bool WindowsTrace::append(const Text& file, std::string_view record) const noexcept {
    return appendTraceRecord(file, record);
}

}  // namespace vpolv::platform::windows

namespace vpolv::platform {

bool appendTraceRecord(const Text& file, std::string_view record) noexcept {
    try {
        // Writers of every process of the session take turns, so that one rotates while no
        // other writes; each record goes in with a single write at the end of the file.
        const win::trace_switch::Turn turn;
        if (!turn.held())
            return false;
        const std::wstring path = win::toWide(file);
        const auto open = [&] {
            return win::UniqueFile(
                CreateFileW(path.c_str(), FILE_APPEND_DATA,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        };
        win::UniqueFile out = open();
        if (!out)
            return false;
        LARGE_INTEGER size{};
        if (GetFileSizeEx(out.get(), &size) && size.QuadPart >= Trace::kMaxBytes) {
            out.reset();
            MoveFileExW(path.c_str(), (path + L".1").c_str(), MOVEFILE_REPLACE_EXISTING);
            out = open();
            if (!out)
                return false;
        }
        DWORD written = 0;
        return WriteFile(out.get(), record.data(), static_cast<DWORD>(record.size()), &written,
                         nullptr) &&
               written == record.size();
    } catch (...) {
        return false;
    }
}

}  // namespace vpolv::platform

namespace vpolv::platform::windows {

namespace {
WindowsTrace& traceSwitch() {
    static WindowsTrace trace;
    return trace;
}
}  // namespace

const Services& services() {
    static const WindowsLocale locale;
    static const WindowsFileSystem files;
    static const WindowsProfile profile;
    static WindowsMessageBox messages;
    static const Services bundle{locale, files, profile, messages, &traceSwitch()};
    return bundle;
}

}  // namespace vpolv::platform::windows
