// The real setup window operated from the keyboard alone, through the
// system's input queue (SendInput, which carries Shift under Wine): Tab order,
// Enter on each page, Enter on a focused button, Esc, and the focus ring that
// the keyboard shows and a mouse click hides. The test build's catalogue host
// is loopback and refused here, so the window is ready right after it opens.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "harness.h"

using namespace harness;

namespace {

const COLORREF RING = 0x1D1B20;  // the body text colour
const wchar_t CHECK_TEXT[] = L"Патчити PATH — запуск з будь-якого терміналу";
const bool AWARE = per_monitor_aware();

struct setup_window {
    process p;
    HWND w = nullptr;
    std::wstring local, dir;

    HWND button(int id) const { return GetDlgItem(w, id); }
    HWND edit() const { return FindWindowExW(w, nullptr, L"Edit", nullptr); }
    HWND check() const { return FindWindowExW(w, nullptr, L"Button", CHECK_TEXT); }
    HWND combo() const { return FindWindowExW(w, nullptr, L"ComboBox", nullptr); }
    HWND focus() const {
        GUITHREADINFO info = {};
        info.cbSize = sizeof info;
        return GetGUIThreadInfo(GetWindowThreadProcessId(w, nullptr), &info) ? info.hwndFocus : nullptr;
    }
    // Waits (up to 5 s) until the focus is on h.
    bool focus_on(HWND h) const {
        for (int i = 0; i < 250; ++i) {
            if (focus() == h) return true;
            Sleep(20);
        }
        return false;
    }
    bool page_shows(int id) const {
        for (int i = 0; i < 250; ++i) {
            if (IsWindowVisible(button(id))) return true;
            Sleep(20);
        }
        return false;
    }
};

// The window of a kelvo-setup-loopback.exe whose local application data lies
// in a directory of the test's own, once it answers and has the focus.
setup_window open_window(const std::wstring& name) {
    setup_window s;
    CreateDirectoryW(L"C:\\keys", nullptr);
    s.local = L"C:\\keys\\" + name;
    CreateDirectoryW(s.local.c_str(), nullptr);
    s.dir = s.local + L"\\Kelvo";
    s.p = start(loopback_setup_exe(), L"", {{L"LOCALAPPDATA", s.local.c_str()}});
    if (!s.p.started()) return s;
    s.w = wait_window(s.p.id(), L"KelvoSetup", 30000);
    DWORD_PTR answer = 0;
    for (int i = 0; s.w && i < 300; ++i) {
        if (SendMessageTimeoutW(s.w, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 100, &answer) &&
            GetForegroundWindow() == s.w && s.focus())
            break;
        Sleep(20);
    }
    return s;
}

void key(WORD vk, bool shift = false) {
    std::vector<INPUT> in;
    auto add = [&](WORD k, DWORD flags) {
        INPUT i = {};
        i.type = INPUT_KEYBOARD;
        i.ki.wVk = k;
        i.ki.dwFlags = flags;
        in.push_back(i);
    };
    if (shift) add(VK_SHIFT, 0);
    add(vk, 0);
    add(vk, KEYEVENTF_KEYUP);
    if (shift) add(VK_SHIFT, KEYEVENTF_KEYUP);
    SendInput(static_cast<UINT>(in.size()), in.data(), sizeof(INPUT));
}

void click_on(HWND h) {
    RECT r;
    GetWindowRect(h, &r);
    SetCursorPos((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    INPUT in[2] = {};
    in[0].type = in[1].type = INPUT_MOUSE;
    in[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    in[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(2, in, sizeof(INPUT));
}

// Pixels of the ring's colour on a button as the screen shows it.
int ring_pixels(HWND button) {
    Sleep(400);  // time to paint
    RECT r;
    GetWindowRect(button, &r);
    image img = capture_screen(r);
    int n = 0;
    for (COLORREF c : img.px) n += c == RING;
    return n;
}

bool registered() { return reg_get(HKEY_CURRENT_USER, L"Software\\Classes\\.kelvo", nullptr).found; }
void clean_registry() {
    reg_delete_value(HKEY_CURRENT_USER, L"Environment", L"Path");
    reg_delete_tree(HKEY_CURRENT_USER, L"Software\\Classes\\.kelvo");
    reg_delete_tree(HKEY_CURRENT_USER, L"Software\\Classes\\KelvoScript");
}

}  // namespace

TEST(Keyboard, TabOrderOfTheOptionsPageAndShiftTabBack) {
    ASSERT_TRUE(AWARE);
    clean_registry();
    setup_window s = open_window(L"tab");
    ASSERT_TRUE(s.w);
    ASSERT_TRUE(s.focus_on(s.button(1001))) << "Next has the focus at start";
    key(VK_RETURN);
    ASSERT_TRUE(s.page_shows(1004));
    ASSERT_TRUE(s.focus_on(s.button(1004))) << "Install has the focus on page 1";
    // From Install onwards, round to Install again.
    const std::vector<HWND> order = {s.button(1005), s.button(1006), s.edit(),  s.button(1007),
                                     s.check(),      s.combo(),      s.button(1002), s.button(1004)};
    for (size_t i = 0; i < order.size(); ++i) {
        key(VK_TAB);
        EXPECT_TRUE(s.focus_on(order[i])) << "Tab " << i + 1;
    }
    for (size_t i = order.size() - 1; i-- > 0;) {
        key(VK_TAB, true);
        EXPECT_TRUE(s.focus_on(order[i])) << "Shift+Tab back to " << i;
    }
    key(VK_TAB, true);
    EXPECT_TRUE(s.focus_on(s.button(1004))) << "Shift+Tab back to Install";
    // Space toggles the check box.
    for (int i = 0; i < 10 && s.focus() != s.check(); ++i) {
        key(VK_TAB);
        Sleep(50);
    }
    ASSERT_EQ(s.focus(), s.check());
    key(VK_SPACE);
    for (int i = 0; i < 100 && SendMessageW(s.check(), BM_GETCHECK, 0, 0) == BST_CHECKED; ++i) Sleep(20);
    EXPECT_EQ(SendMessageW(s.check(), BM_GETCHECK, 0, 0), BST_UNCHECKED);
    PostMessageW(s.w, WM_CLOSE, 0, 0);
    EXPECT_EQ(s.p.wait(10000), 0u);
}

TEST(Keyboard, EnterTakesThePagesOneByOneAndInstalls) {
    ASSERT_TRUE(AWARE);
    clean_registry();
    setup_window s = open_window(L"enter");
    ASSERT_TRUE(s.w);
    ASSERT_TRUE(s.focus_on(s.button(1001)));
    key(VK_RETURN);  // page 0: Next
    ASSERT_TRUE(s.page_shows(1004));
    EXPECT_FALSE(IsWindowVisible(s.button(1001)));
    EXPECT_FALSE(exists(s.dir)) << "installed from page 0";
    // The focus in the edit: Enter still runs the page's primary command.
    key(VK_TAB, true);  // Back
    key(VK_TAB, true);  // list
    key(VK_TAB, true);  // check box
    key(VK_TAB, true);  // Browse
    key(VK_TAB, true);  // edit
    ASSERT_TRUE(s.focus_on(s.edit()));
    key(VK_RETURN);  // page 1: Install, the built-in interpreter
    ASSERT_TRUE(s.page_shows(1003));
    std::string got;
    EXPECT_TRUE(read_file(s.dir + L"\\kelvo.exe", &got) && got == payload(L"embedded\\kelvo.exe"));
    EXPECT_TRUE(read_file(s.dir + L"\\KelvoIDE.exe", &got) && got == payload(L"embedded\\KelvoIDE.exe"));
    EXPECT_TRUE(registered());
    EXPECT_EQ(reg_get(HKEY_CURRENT_USER, L"Environment", L"Path").text(),
              L"%USERPROFILE%\\AppData\\Local\\Microsoft\\WindowsApps;" + s.dir);
    EXPECT_TRUE(s.focus_on(s.button(1003))) << "Close has the focus on page 2";
    key(VK_RETURN);  // page 2: Close
    EXPECT_EQ(s.p.wait(10000), 0u);
    EXPECT_EQ(run(loopback_setup_exe(), L"--uninstall", {{L"LOCALAPPDATA", s.local.c_str()}}).code, 0u);
    clean_registry();
}

TEST(Keyboard, EnterOnAFocusedUninstallUninstalls) {
    ASSERT_TRUE(AWARE);
    clean_registry();
    const std::wstring local = L"C:\\keys\\uninstall";
    CreateDirectoryW(L"C:\\keys", nullptr);
    CreateDirectoryW(local.c_str(), nullptr);
    ASSERT_EQ(run(loopback_setup_exe(), L"--install", {{L"LOCALAPPDATA", local.c_str()}}).code, 0u);
    setup_window s = open_window(L"uninstall");
    ASSERT_TRUE(s.w);
    ASSERT_TRUE(exists(s.dir + L"\\kelvo.exe"));
    ASSERT_TRUE(s.focus_on(s.button(1001)));
    key(VK_TAB);
    ASSERT_TRUE(s.focus_on(s.button(1006)));
    key(VK_RETURN);
    ASSERT_TRUE(s.page_shows(1003));
    EXPECT_FALSE(exists(s.dir));
    EXPECT_FALSE(registered());
    key(VK_ESCAPE);
    EXPECT_EQ(s.p.wait(10000), 0u);
    clean_registry();
}

TEST(Keyboard, EscapeClosesFromTheOptionsPageWithNothingInstalled) {
    ASSERT_TRUE(AWARE);
    clean_registry();
    setup_window s = open_window(L"escape");
    ASSERT_TRUE(s.w);
    ASSERT_TRUE(s.focus_on(s.button(1001)));
    key(VK_RETURN);
    ASSERT_TRUE(s.page_shows(1004));
    key(VK_ESCAPE);
    EXPECT_EQ(s.p.wait(10000), 0u);
    EXPECT_FALSE(exists(s.dir));
    EXPECT_FALSE(registered());
    EXPECT_FALSE(reg_get(HKEY_CURRENT_USER, L"Environment", L"Path").found);
}

TEST(Keyboard, RingAfterTabAndNotAfterAClick) {
    ASSERT_TRUE(AWARE);
    clean_registry();
    setup_window s = open_window(L"ring");
    ASSERT_TRUE(s.w);
    ASSERT_TRUE(s.focus_on(s.button(1001)));
    EXPECT_EQ(ring_pixels(s.button(1001)), 0) << "a ring before any key";
    key(VK_TAB);
    ASSERT_TRUE(s.focus_on(s.button(1006)));
    EXPECT_GT(ring_pixels(s.button(1006)), 100) << "no ring on the focused Uninstall after Tab";
    EXPECT_EQ(ring_pixels(s.button(1001)), 0) << "the ring stayed on Next";
    click_on(s.button(1001));  // Next, with the mouse
    ASSERT_TRUE(s.page_shows(1004));
    ASSERT_TRUE(s.focus_on(s.button(1004)));
    EXPECT_EQ(ring_pixels(s.button(1004)), 0) << "a ring after a click";
    key(VK_TAB);
    ASSERT_TRUE(s.focus_on(s.button(1005)));
    EXPECT_GT(ring_pixels(s.button(1005)), 100) << "no ring on Update after Tab";
    EXPECT_EQ(ring_pixels(s.button(1004)), 0);
    key(VK_ESCAPE);
    EXPECT_EQ(s.p.wait(10000), 0u);
}
