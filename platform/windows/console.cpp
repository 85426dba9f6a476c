// The console and processes on the Win32 API.
#include "platform/windows/console.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include "platform/windows/com_support.h"
#include "platform/windows/win32.h"

namespace vpolv::win {
namespace {

HANDLE standardHandle(Stream stream) {
    return GetStdHandle(stream == Stream::Input    ? STD_INPUT_HANDLE
                        : stream == Stream::Output ? STD_OUTPUT_HANDLE
                                                   : STD_ERROR_HANDLE);
}

std::mutex handlersMutex;
std::vector<ControlHandler> handlers;  // the latest last

// The one handler the system knows of: asks the added ones, the latest first.
BOOL WINAPI onControl(DWORD event) {
    std::vector<ControlHandler> asked;
    {
        const std::lock_guard lock(handlersMutex);
        asked = handlers;
    }
    const ControlEvent what = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT
                                  ? ControlEvent::Interrupt
                                  : ControlEvent::Close;
    for (auto handler = asked.rbegin(); handler != asked.rend(); ++handler) {
        if ((*handler)(what))
            return TRUE;
    }
    return FALSE;
}

std::uint64_t creationTime(HANDLE process) {
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user))
        return 0;
    return static_cast<std::uint64_t>(created.dwHighDateTime) << 32 | created.dwLowDateTime;
}

}  // namespace

bool isConsole(Stream stream) {
    const HANDLE handle = standardHandle(stream);
    DWORD mode = 0;
    return handle && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode);
}

void addControlHandler(ControlHandler handler) {
    const std::lock_guard lock(handlersMutex);
    // Registered again, so that it comes before the handlers added since the first.
    SetConsoleCtrlHandler(onControl, FALSE);
    SetConsoleCtrlHandler(onControl, TRUE);
    handlers.push_back(handler);
}

void removeControlHandler(ControlHandler handler) {
    const std::lock_guard lock(handlersMutex);
    handlers.erase(std::remove(handlers.begin(), handlers.end(), handler), handlers.end());
    if (handlers.empty())
        SetConsoleCtrlHandler(onControl, FALSE);
}

bool waitForEnter(unsigned milliseconds) {
    const HANDLE input = standardHandle(Stream::Input);
    DWORD pending = 0;
    while (GetNumberOfConsoleInputEvents(input, &pending) && pending > 0) {
        INPUT_RECORD record{};
        DWORD read = 0;
        if (!ReadConsoleInputW(input, &record, 1, &read) || read == 0)
            return false;
        if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown &&
            record.Event.KeyEvent.wVirtualKeyCode == VK_RETURN) {
            return true;
        }
    }
    WaitForSingleObject(input, milliseconds);
    return false;
}

struct LineReader::Thread {
    UniqueHandle handle;
    static DWORD WINAPI read(void*) {
        const HANDLE input = standardHandle(Stream::Input);
        char c = 0;
        DWORD count = 0;
        while (ReadFile(input, &c, 1, &count, nullptr) && count == 1 && c != '\n') {
        }
        return 0;
    }
};

LineReader::LineReader() : thread_(std::make_unique<Thread>()) {
    thread_->handle.reset(CreateThread(nullptr, 0, Thread::read, nullptr, 0, nullptr));
}

LineReader::~LineReader() {
    const HANDLE thread = thread_->handle.get();
    if (thread && WaitForSingleObject(thread, 0) == WAIT_TIMEOUT) {
        CancelSynchronousIo(thread);
        WaitForSingleObject(thread, 2000);
    }
}

bool LineReader::done() const {
    const HANDLE thread = thread_->handle.get();
    return !thread || WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
}

unsigned long processId() {
    return GetCurrentProcessId();
}

std::uint64_t processStarted() {
    return creationTime(GetCurrentProcess());
}

bool processRunning(unsigned long id, std::uint64_t started) {
    const UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
    if (!process)
        return GetLastError() == ERROR_ACCESS_DENIED;  // there, but not this user's to look at
    DWORD code = 0;
    if (GetExitCodeProcess(process.get(), &code) && code != STILL_ACTIVE)
        return false;
    return started == 0 || creationTime(process.get()) == started;
}

LocalTime localTime() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
}

}  // namespace vpolv::win
