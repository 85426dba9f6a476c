// The Gola handle warning box, caught on the calling thread with a CBT hook. Needs a display:
// without one Wine shows no window at all.
// The system headers first: see win32.h.
#include <gtest/gtest.h>

#include <cstdlib>

#include "common/text.h"
#include "platform/windows/com_support.h"
#include "platform/windows/win32.h"
#include "testkit/wine/support.h"

namespace vpolv::winetest {
namespace {

struct Box {
    std::wstring title;
    std::wstring text;
    bool okButton = false;
    bool otherButtons = false;
    bool exclamationIcon = false;
};

thread_local std::vector<Box>* tBoxes = nullptr;
thread_local HWND tLastBox = nullptr;

std::wstring windowText(HWND window) {
    wchar_t text[1024] = {};
    GetWindowTextW(window, text, 1024);
    return text;
}

bool isDialog(HWND window) {
    wchar_t name[16] = {};
    GetClassNameW(window, name, 16);
    return std::wstring(name) == L"#32770";
}

// Reads the box once its dialog is set up (a timer fires only when its message loop is idle),
// then presses its button.
void CALLBACK inspect(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    const HWND box = tLastBox;
    Box seen;
    seen.title = windowText(box);
    seen.text = windowText(GetDlgItem(box, 0xFFFF));
    seen.okButton = GetDlgItem(box, IDOK) != nullptr;
    for (int id : {IDCANCEL, IDYES, IDNO, IDABORT, IDRETRY, IDIGNORE}) {
        seen.otherButtons |= GetDlgItem(box, id) != nullptr;
    }
    // The icon of the box is the system's shared warning icon (IDI_EXCLAMATION).
    // Its control id is 20 on Windows and stc1 (0x0440) in Wine.
    HWND icon = GetDlgItem(box, 0x0014);
    if (!icon)
        icon = GetDlgItem(box, 0x0440);
    seen.exclamationIcon = icon && reinterpret_cast<HICON>(SendMessageW(icon, STM_GETICON, 0, 0)) ==
                                       LoadIconW(nullptr, MAKEINTRESOURCEW(32515));
    if (tBoxes)
        tBoxes->push_back(seen);
    PostMessageW(box, WM_COMMAND, IDOK, 0);
}

LRESULT CALLBACK watch(int code, WPARAM wParam, LPARAM lParam) {
    const HWND box = reinterpret_cast<HWND>(wParam);
    // Other windows get activated too, and a box may be activated more than once, possibly
    // before its dialog is set up (a task-modal box disables the thread's windows first).
    if (code == HCBT_ACTIVATE && tBoxes && box != tLastBox && isDialog(box)) {
        tLastBox = box;
        SetTimer(nullptr, 0, 1, inspect);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

class GolaBox : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        // Without a window manager a box takes seconds to close unless Wine manages it itself.
        win::UniqueKey key;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\X11 Driver", 0, nullptr, 0,
                            KEY_WRITE, nullptr, key.put(), nullptr) == ERROR_SUCCESS) {
            RegSetValueExW(key.get(), L"Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"N"),
                           2 * sizeof(wchar_t));
        }
    }
    void SetUp() override {
        if (!std::getenv("DISPLAY"))
            GTEST_SKIP() << "no display: the box cannot be shown";
        plugin_ = createPlugin();
        tBoxes = &boxes_;
        hook_ = SetWindowsHookExW(WH_CBT, watch, nullptr, GetCurrentThreadId());
        ASSERT_NE(hook_, nullptr);
    }
    void TearDown() override {
        if (hook_)
            UnhookWindowsHookEx(hook_);
        tBoxes = nullptr;
    }

    void place(const Text& handle, Event event = Event::Place) {
        fakeHost().reset(cabinetlessScene(handle));
        Outcome out;
        fire(plugin_.get(), event, out);
        ASSERT_EQ(out.hr, S_OK) << toUtf8(out.description);
        EXPECT_EQ(V_BOOL(out.value.get()), VARIANT_TRUE);
    }

    std::vector<Box> boxes_;
    HHOOK hook_ = nullptr;
    ComPtr<IDispatch> plugin_;
};

TEST_F(GolaBox, PlacingAGolaHandledObjectWarnsOnce) {
    place(u"MAGL");
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].title, L"\u00A1\u00A1ATENCION!!");
    EXPECT_EQ(boxes_[0].text,
              L"Tirador Gola no presupuestado.\r\nIntroduzca el tirador correspondiente del "
              L"cap\u00EDtulo 'Tirador Gola' junto con los accesorios.");
    EXPECT_TRUE(boxes_[0].okButton);
    EXPECT_FALSE(boxes_[0].otherButtons);
    EXPECT_TRUE(boxes_[0].exclamationIcon);
    // The box came before the session ended.
    EXPECT_EQ(fakeHost().calls().back(), "Appli.EndSession(I4& 1)");
}

TEST_F(GolaBox, OtherHandlesAndOtherEventsDoNotWarn) {
    place(u"MA");
    place(u"magl");
    place(u"13GL ");
    place(u"13GL", Event::Finishes);
    EXPECT_TRUE(boxes_.empty());
    place(u"13GL");
    EXPECT_EQ(boxes_.size(), 1u);
}

}  // namespace
}  // namespace vpolv::winetest
