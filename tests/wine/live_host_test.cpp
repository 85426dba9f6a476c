// The plug-in as a live host uses it: a host window active on the calling thread, the warning
// box modal to it, events the host starts from its message handler while the box is up, and
// instances in two single-threaded apartments at once. The window tests need a display.
// The system headers first: see win32.h.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <map>
#include <thread>

#include "common/text.h"
#include "platform/windows/win32.h"
#include "testkit/wine/support.h"
#include "tests/support/nested_events.h"

namespace vpolv::winetest {
namespace {

using namespace vpolv::testing::nested;

constexpr UINT kWhileBoxIsUp = WM_APP + 1;
thread_local std::function<void()> tWhileBoxIsUp;

LRESULT CALLBACK hostProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kWhileBoxIsUp) {
        if (auto action = std::exchange(tWhileBoxIsUp, nullptr))
            action();
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// A top-level window standing for the host's main window, active on this thread or not.
class HostWindow {
  public:
    explicit HostWindow(bool active) {
        static const ATOM kClass = [] {
            WNDCLASSW c{};
            c.lpfnWndProc = hostProcedure;
            c.hInstance = GetModuleHandleW(nullptr);
            c.lpszClassName = L"vpolvTestHost";
            return RegisterClassW(&c);
        }();
        window_ = CreateWindowExW(0, reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(kClass)),
                                  L"Host", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
        if (active) {
            ShowWindow(window_, SW_SHOW);
            SetForegroundWindow(window_);
            SetActiveWindow(window_);
        }
    }
    ~HostWindow() { DestroyWindow(window_); }
    HostWindow(const HostWindow&) = delete;
    HostWindow& operator=(const HostWindow&) = delete;

    HWND get() const { return window_; }
    // Runs action from the window's message handler inside the next message loop on this
    // thread: the warning box's.
    void whileBoxIsUp(std::function<void()> action) {
        tWhileBoxIsUp = std::move(action);
        PostMessageW(window_, kWhileBoxIsUp, 0, 0);
    }

  private:
    HWND window_ = nullptr;
};

BOOL CALLBACK findBox(HWND window, LPARAM out) {
    wchar_t name[16] = {};
    GetClassNameW(window, name, 16);
    if (std::wstring(name) != L"#32770")
        return TRUE;
    *reinterpret_cast<HWND*>(out) = window;
    return FALSE;
}

HWND shownBox() {
    HWND box = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), findBox, reinterpret_cast<LPARAM>(&box));
    return box;
}

class LiveHost : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        if (!std::getenv("DISPLAY"))
            GTEST_SKIP() << "no display: no window can be shown";
        fakeHost().reset(twoCabinets());
    }
    void expectNothingReferenced() {
        EXPECT_EQ(fakeHost().liveObjects(), 0);
        EXPECT_EQ(fakeHost().liveReferences(), 0);
    }
};

struct SeenWhileUp {
    bool boxShown = false;
    HWND owner = nullptr;
    bool hostEnabled = true;
};

// The box is owned by the active host window, which is disabled while it is up; with no active
// window the box is task-modal and disables the thread's windows all the same.
TEST_P(LiveHost, TheBoxIsModalToTheHost) {
    const bool hostActive = GetParam();
    HostWindow host(hostActive);
    ASSERT_EQ(GetActiveWindow(), hostActive ? host.get() : nullptr);
    BoxCloser closer;
    SeenWhileUp seen;
    host.whileBoxIsUp([&] {
        const HWND box = shownBox();
        seen.boxShown = box != nullptr;
        seen.owner = box ? GetWindow(box, GW_OWNER) : nullptr;
        seen.hostEnabled = IsWindowEnabled(host.get());
    });
    {
        const auto plugin = createPlugin();
        Outcome out;
        fire(plugin.get(), Event::Place, out, kOuterBlock);
        ASSERT_EQ(out.hr, S_OK) << toUtf8(out.description);
    }
    EXPECT_TRUE(seen.boxShown);
    EXPECT_EQ(seen.owner, hostActive ? host.get() : nullptr);
    EXPECT_FALSE(seen.hostEnabled);
    EXPECT_TRUE(IsWindowEnabled(host.get()));
    EXPECT_EQ(closer.closed(), 1);
    expectNothingReferenced();
}

// From the host window's handler, inside the box, the host places another cabinet on the same
// instance or on a second one.
TEST_P(LiveHost, APlacementInsideTheBoxRunsOnItsOwnState) {
    const bool sameInstance = GetParam();
    HostWindow host(true);
    BoxCloser closer;
    {
        const auto plugin = createPlugin();
        const auto second = sameInstance ? plugin : createPlugin();
        Outcome inner, outer;
        host.whileBoxIsUp([&] { fire(second.get(), Event::Place, inner, kInnerBlock); });
        fire(plugin.get(), Event::Place, outer, kOuterBlock);
        for (const Outcome* out : {&outer, &inner}) {
            ASSERT_EQ(out->hr, S_OK) << toUtf8(out->description);
            EXPECT_EQ(V_BOOL(out->value.get()), VARIANT_TRUE);
        }
    }
    EXPECT_EQ(closer.closed(), 1);
    expectNestedRun(fakeHost().memory(), true);
    expectNothingReferenced();
}

INSTANTIATE_TEST_SUITE_P(HostWindow, LiveHost, ::testing::Bool());

// Two threads, each in its own single-threaded apartment with its own instance, place their own
// cabinet at once, each placement in a session of its own.
TEST(Apartments, InstancesOfTwoApartmentsShareNothing) {
    constexpr int kPlacements = 150;
    host::SceneData scene = twoCabinets();
    scene.objects[kOuterCabinet].infos[65] = u"25";  // no warning box here
    scene.tables[4].push_back({u"_3_H_90", {{3, u"100"}}});
    const std::map<Long, Long> cabinetOfThread = {{1, kOuterCabinet}, {2, kInnerCabinet}};
    for (const auto& [thread, cabinet] : cabinetOfThread) {
        for (Long k = 1; k <= kPlacements; ++k)
            scene.sessions[thread * 1000 + k] = {thread * 1000 + k, cabinet};
    }
    fakeHost().reset(std::move(scene));

    std::map<Long, int> succeeded;
    std::vector<std::thread> threads;
    for (const auto& entry : cabinetOfThread) {
        const Long thread = entry.first;
        threads.emplace_back([thread, &ok = succeeded[thread]] {
            if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
                return;
            {
                CLSID clsid;
                ComPtr<IDispatch> plugin;
                if (SUCCEEDED(CLSIDFromProgID(L"vpolv.Plugin", &clsid)) &&
                    SUCCEEDED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                               plugin.putVoid()))) {
                    for (Long k = 1; k <= kPlacements; ++k) {
                        Outcome out;
                        fire(plugin.get(), Event::Place, out, thread * 1000 + k);
                        ok += out.hr == S_OK && V_BOOL(out.value.get()) == VARIANT_TRUE;
                    }
                }
            }
            CoUninitialize();
        });
    }
    for (auto& t : threads)
        t.join();

    EXPECT_EQ(succeeded, (std::map<Long, int>{{1, kPlacements}, {2, kPlacements}}));
    const std::map<Long, std::pair<Long, Text>> glassOfThread = {{1, {kOuterGlass, u"100"}},
                                                                 {2, {kInnerGlass, u"7"}}};
    std::map<Long, int> ended;
    int writes = 0;
    for (const auto& call : fakeHost().memory().calls()) {
        if (call.operation == host::Operation::EndSession)
            ++ended[arg(call, host::param::EndSession::sessionId).number];
        if (call.operation != host::Operation::ObjectSetInfo)
            continue;
        ++writes;
        using P = host::param::ObjectSetInfo;
        const auto& [glass, points] = glassOfThread.at(arg(call, P::sessionId).number / 1000);
        EXPECT_EQ(arg(call, P::object).number, glass) << call.toString();
        if (arg(call, P::code).number != 49) {
            EXPECT_EQ(arg(call, P::value).text, points) << call.toString();
        }
    }
    EXPECT_EQ(writes, 2 * kPlacements * 3);
    EXPECT_EQ(ended.size(), 2u * kPlacements);
    for (const auto& [session, count] : ended)
        EXPECT_EQ(count, 1) << "session " << session;
    EXPECT_EQ(fakeHost().liveObjects(), 0);
    EXPECT_EQ(fakeHost().liveReferences(), 0);
}

}  // namespace
}  // namespace vpolv::winetest
