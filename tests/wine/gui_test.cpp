// The real setup window, driven from this program as a user drives it: its
// frame and controls read from outside (at each DPI of the test runs: sizes
// are their 96-DPI values scaled), the pages it shows, and the flows of
// Next, Back, Browse, Install, Update, Uninstall and Close with what they leave
// on the machine. The test build's catalogue and download host is loopback,
// refused unless a test serves it. Fonts are checked in the window tests that
// build the window in their own process (WM_GETFONT answers 0 across processes
// under Wine).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "harness.h"
#include "setup_window.h"

using namespace harness;

namespace {

// Reads the program's windows in their own pixels.
const bool AWARE = per_monitor_aware();
int dpi() { return static_cast<int>(GetDpiForSystem()); }
int at_dpi(int v) { return MulDiv(v, dpi(), 96); }
const std::string LIST = "/repos/kelvo-lang/kelvo/releases?per_page=12";

run_result headless(const std::wstring& local, const wchar_t* arg) {
    return run(loopback_setup_exe(), arg, {{L"LOCALAPPDATA", local.c_str()}});
}

std::wstring user_path() { return reg_get(HKEY_CURRENT_USER, L"Environment", L"Path").text(); }

// Saves a picture of the whole window when screenshots are asked for.
void screenshot(const setup_window& s, const char* name) {
    std::wstring dir = env(L"KELVO_SCREENSHOT_DIR");
    if (dir.empty()) return;
    Sleep(400);
    RECT r;
    GetWindowRect(s.w, &r);
    EXPECT_TRUE(write_bmp(dir + L"\\" + wide(name) + L".bmp", capture_screen(r))) << name;
}

}  // namespace

TEST(Gui, FrameControlsAndPagesFromOutside) {
    ASSERT_TRUE(AWARE);
    std::wstring asked = env(L"KELVO_WINE_DPI");
    ASSERT_EQ(dpi(), asked.empty() ? 96 : _wtoi(asked.c_str())) << "the prefix's LogPixels did not take";
    clean_registry();
    setup_window s = open_window(L"frame");
    ASSERT_TRUE(s.w);
    ASSERT_TRUE(s.wait_list()) << "the version list stayed greyed";
    EXPECT_EQ(text_of(s.w), L"Келво — Встановлення");
    const DWORD frame = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME;
    EXPECT_EQ(GetWindowLongW(s.w, GWL_STYLE) & frame, DWORD(WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX));
    // The client area of the 486 x 458 frame at 96 DPI, scaled, in the frame
    // of this DPI.
    RECT frame96 = {0, 0, 0, 0}, client, outer;
    AdjustWindowRectExForDpi(&frame96, WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, FALSE, 0, 96);
    GetClientRect(s.w, &client);
    EXPECT_NEAR(client.right, at_dpi(486 - (frame96.right - frame96.left)), 1);
    EXPECT_NEAR(client.bottom, at_dpi(458 - (frame96.bottom - frame96.top)), 1);
    RECT framed = client;
    AdjustWindowRectExForDpi(&framed, WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, FALSE, 0, dpi());
    GetWindowRect(s.w, &outer);
    EXPECT_EQ(outer.right - outer.left, dpi() == 96 ? 486 : framed.right - framed.left);
    EXPECT_EQ(outer.bottom - outer.top, dpi() == 96 ? 458 : framed.bottom - framed.top);

    // Class, text, style, rectangle and id of every control, in creation
    // order (a caption right before the edit and the list names each for
    // screen readers). Read back from outside, Wine's edit has dropped
    // WS_BORDER and its combo box WS_VSCROLL, so those two bits are not
    // compared; WS_VISIBLE follows the page.
    struct control {
        const wchar_t *cls, *text;
        DWORD style;
        int x, y, w, h, id;
    } want[] = {
        {L"Static", L"Каталог встановлення:", WS_CHILD, 44, 108, 340, 20, 0},
        {L"Edit", L"C:\\gui\\frame\\Kelvo", WS_CHILD | WS_TABSTOP | ES_AUTOHSCROLL, 44, 130, 310, 28, 0},
        {L"Button", L"Огляд...", WS_CHILD | WS_TABSTOP | BS_PUSHBUTTON, 362, 130, 78, 28, 1007},
        {L"Button", CHECK_TEXT, WS_CHILD | WS_TABSTOP | BS_AUTOCHECKBOX, 44, 170, 380, 24, 0},
        {L"Static", L"Версія:", WS_CHILD, 44, 200, 340, 18, 0},
        {L"ComboBox", L"", WS_CHILD | WS_TABSTOP | CBS_DROPDOWNLIST, 44, 222, 330, 220, 0},
        {L"Button", L"Далі →", WS_CHILD | WS_TABSTOP | BS_OWNERDRAW, 24, 350, 136, 44, 1001},
        {L"Button", L"← Назад", WS_CHILD | WS_TABSTOP | BS_OWNERDRAW, 24, 350, 136, 44, 1002},
        {L"Button", L"Закрити", WS_CHILD | WS_TABSTOP | BS_OWNERDRAW, 168, 350, 136, 44, 1003},
        {L"Button", L"Встановити", WS_CHILD | WS_TABSTOP | BS_OWNERDRAW, 168, 350, 148, 44, 1004},
        {L"Button", L"Оновити", WS_CHILD | WS_TABSTOP | BS_OWNERDRAW, 168, 290, 148, 44, 1005},
        {L"Button", L"Видалити", WS_CHILD | WS_TABSTOP | BS_OWNERDRAW, 326, 350, 120, 44, 1006},
    };
    int seen = 0;
    for (HWND c = GetWindow(s.w, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT), ++seen) {
        wchar_t cls[64] = {};
        GetClassNameW(c, cls, 64);
        ASSERT_LT(seen, 12);
        const control* k = &want[seen];
        ASSERT_TRUE(!lstrcmpiW(cls, k->cls) && text_of(c) == k->text)
            << "control " << seen << " is " << utf8(cls) << " " << utf8(text_of(c));
        std::string what = utf8(k->text);
        RECT r;
        GetWindowRect(c, &r);
        MapWindowPoints(nullptr, s.w, reinterpret_cast<POINT*>(&r), 2);
        EXPECT_NEAR(r.left, at_dpi(k->x), 1) << what;
        EXPECT_NEAR(r.top, at_dpi(k->y), 1) << what;
        EXPECT_NEAR(r.right, at_dpi(k->x + k->w), 1) << what;
        // A drop-down list's closed height is its edit field's; the 220 is checked in process.
        if (k->id || lstrcmpiW(cls, L"ComboBox")) EXPECT_NEAR(r.bottom, at_dpi(k->y + k->h), 1) << what;
        EXPECT_EQ(GetDlgCtrlID(c), k->id) << what;
        DWORD style = GetWindowLongW(c, GWL_STYLE) & ~(WS_VISIBLE | WS_BORDER | WS_VSCROLL | 0xFFFFu);
        DWORD low = GetWindowLongW(c, GWL_STYLE) & 0xFFFFu;
        EXPECT_EQ(style, k->style & ~(WS_VISIBLE | 0xFFFFu)) << what;
        EXPECT_EQ(low & 0xFFu, k->style & 0xFFu) << what;  // the class's own style bits
    }
    EXPECT_EQ(seen, 12);

    EXPECT_EQ(SendMessageW(s.check(), BM_GETCHECK, 0, 0), BST_CHECKED);
    // Offline: the two fixed entries and no selection.
    EXPECT_EQ(SendMessageW(s.combo(), CB_GETCOUNT, 0, 0), 2);
    EXPECT_EQ(s.item(0), L"Вбудована (офлайн)");
    EXPECT_EQ(s.item(1), L"Остання з GitHub");
    EXPECT_EQ(SendMessageW(s.combo(), CB_GETCURSEL, 0, 0), CB_ERR);

    // The page table, on the screen as well: title on every page, card on page 1.
    EXPECT_EQ(s.wait_page(0), 0);
    image shot = s.client();
    EXPECT_EQ(shot.at(3, 3), SURFACE);
    EXPECT_GT(count(shot, BRAND, at_dpi(24), at_dpi(12), at_dpi(460), at_dpi(56)), 50);
    EXPECT_EQ(count(shot, BRAND, 0, at_dpi(56) + 1, shot.width, at_dpi(350)), 0) << "title below its place";
    screenshot(s, "page0-welcome");
    s.click(1001);
    EXPECT_EQ(s.wait_page(1), 1);
    shot = s.client();
    EXPECT_EQ(shot.at(at_dpi(30), at_dpi(90)), CARD);
    EXPECT_EQ(shot.at(at_dpi(450), at_dpi(270)), CARD);
    EXPECT_NE(shot.at(at_dpi(450), at_dpi(280)), CARD);
    screenshot(s, "page1-options");
    s.click(1002);
    EXPECT_EQ(s.wait_page(0), 0);
    s.click(1001);
    EXPECT_EQ(s.wait_page(1), 1);
    s.click(1004);
    EXPECT_EQ(s.wait_page(2), 2);
    shot = s.client();
    EXPECT_GT(count(shot, MARK, at_dpi(38), at_dpi(88), at_dpi(450), at_dpi(130)), 5);
    EXPECT_NE(shot.at(at_dpi(30), at_dpi(90)), CARD);
    screenshot(s, "page2-result");
    s.click(1003);
    EXPECT_EQ(s.p.wait(10000), 0u);
    EXPECT_FALSE(IsWindow(s.w));
    EXPECT_EQ(headless(s.local, L"--uninstall").code, 0u);
    clean_registry();
}

TEST(Gui, InstallFlows) {
    // Install (built-in) with the check box switched off, across Back and Next.
    clean_registry();
    {
        setup_window s = open_window(L"nopath");
        ASSERT_TRUE(s.w);
        s.click(1001);
        EXPECT_EQ(s.wait_page(1), 1);
        SendMessageW(s.check(), BM_CLICK, 0, 0);
        EXPECT_EQ(SendMessageW(s.check(), BM_GETCHECK, 0, 0), BST_UNCHECKED);
        s.click(1002);
        s.click(1001);
        EXPECT_EQ(s.wait_page(1), 1);
        EXPECT_EQ(SendMessageW(s.check(), BM_GETCHECK, 0, 0), BST_UNCHECKED);
        s.click(1004);
        EXPECT_EQ(s.wait_page(2), 2);
        std::string got;
        EXPECT_TRUE(read_file(s.dir + L"\\kelvo.exe", &got) && got == payload(L"embedded\\kelvo.exe"));
        EXPECT_TRUE(read_file(s.dir + L"\\KelvoIDE.exe", &got) && got == payload(L"embedded\\KelvoIDE.exe"));
        EXPECT_TRUE(registered());
        EXPECT_FALSE(reg_get(HKEY_CURRENT_USER, L"Environment", L"Path").found) << "Path was written";
        s.click(1003);
        EXPECT_EQ(s.p.wait(10000), 0u);
        headless(s.local, L"--uninstall");
    }
    // A cleared edit installs into the directory it showed before, with the Path entry.
    clean_registry();
    image success;
    {
        setup_window s = open_window(L"cleared");
        ASSERT_TRUE(s.w);
        s.click(1001);
        EXPECT_EQ(s.wait_page(1), 1);
        SetWindowTextW(s.edit(), L"");
        s.click(1005);  // Update does what Install does
        EXPECT_EQ(s.wait_page(2), 2);
        EXPECT_TRUE(exists(s.dir + L"\\kelvo.exe"));
        EXPECT_EQ(user_path(), L"%USERPROFILE%\\AppData\\Local\\Microsoft\\WindowsApps;" + s.dir);
        success = s.client();
        s.click(1003);
        EXPECT_EQ(s.p.wait(10000), 0u);
        EXPECT_EQ(headless(s.local, L"--uninstall").code, 0u);
    }
    // "Остання з GitHub" while its host refuses: the failure, and nothing written
    // beyond the (empty) install directory.
    clean_registry();
    {
        setup_window s = open_window(L"offline");
        ASSERT_TRUE(s.w);
        s.click(1001);
        EXPECT_EQ(s.wait_page(1), 1);
        SendMessageW(s.combo(), CB_SETCURSEL, 1, 0);
        s.click(1004);
        EXPECT_EQ(s.wait_page(2), 2);
        image failure = s.client();
        EXPECT_GT(count(failure, MARK, 38, 88, 450, 130), 5);
        EXPECT_NE(mark(failure), mark(success)) << "the failure shows the check mark";
        EXPECT_FALSE(exists(s.dir + L"\\kelvo.exe"));
        EXPECT_FALSE(exists(s.dir + L"\\KelvoIDE.exe"));
        EXPECT_FALSE(registered());
        EXPECT_FALSE(reg_get(HKEY_CURRENT_USER, L"Environment", L"Path").found);
        PostMessageW(s.w, WM_CLOSE, 0, 0);  // the frame's close box
        EXPECT_EQ(s.p.wait(10000), 0u);
        RemoveDirectoryW(s.dir.c_str());
    }
    // A served catalogue fills the list once the window shows, preselects its
    // first release, and Install fetches that release's interpreter.
    clean_registry();
    {
        http_server server(test_port());
        ASSERT_TRUE(server.listening());
        std::string site = "http://127.0.0.1:" + std::to_string(test_port());
        // A whole executable with bytes of its own after the last section.
        std::string body = "[", bytes = payload(L"embedded\\kelvo.exe") + "served 2.16 interpreter";
        for (const char* tag : {"2.16", "2.15"})
            body += std::string(body.size() > 1 ? "," : "") + "{\"tag_name\":\"" + tag +
                    "\",\"assets\":[{\"name\":\"kelvo.exe\",\"browser_download_url\":\"" + site +
                    "/dl/" + tag + "/kelvo.exe\"}]}";
        server.set(LIST, {200, "application/json", body + "]"});
        server.set("/dl/2.16/kelvo.exe", {200, "application/octet-stream", bytes});
        setup_window s = open_window(L"served");
        ASSERT_TRUE(s.w);
        ASSERT_EQ(s.wait_entries(4), 4);
        EXPECT_EQ(server.hits(LIST), 1);
        EXPECT_EQ(s.item(2), L"2.16");
        EXPECT_EQ(s.item(3), L"2.15");
        EXPECT_EQ(s.selected(), 2);
        s.click(1001);
        EXPECT_EQ(s.wait_page(1), 1);
        s.click(1004);
        EXPECT_EQ(s.wait_page(2), 2);
        std::string got;
        EXPECT_TRUE(read_file(s.dir + L"\\kelvo.exe", &got) && got == bytes);
        EXPECT_EQ(server.hits("/dl/2.16/kelvo.exe"), 1);
        s.click(1003);
        EXPECT_EQ(s.p.wait(10000), 0u);
        headless(s.local, L"--uninstall");
    }
    clean_registry();
}

TEST(Gui, UninstallAndBrowseFlows) {
    clean_registry();
    // Uninstall from the welcome page removes the default installation.
    {
        const std::wstring local = L"C:\\gui\\welcome";
        CreateDirectoryW(L"C:\\gui", nullptr);
        CreateDirectoryW(local.c_str(), nullptr);
        ASSERT_EQ(headless(local, L"--install").code, 0u);
        setup_window s = open_window(L"welcome");
        ASSERT_TRUE(s.w);
        EXPECT_EQ(s.wait_page(0), 0);
        s.click(1006);
        EXPECT_EQ(s.wait_page(2), 2);
        EXPECT_FALSE(exists(s.dir));
        EXPECT_FALSE(registered());
        EXPECT_EQ(user_path(), L"%USERPROFILE%\\AppData\\Local\\Microsoft\\WindowsApps");
        s.click(1003);
        EXPECT_EQ(s.p.wait(10000), 0u);
    }
    // A typed directory is the one uninstalled; the default one stays.
    clean_registry();
    {
        CreateDirectoryW(L"C:\\gui\\typed", nullptr);
        CreateDirectoryW(L"C:\\gui\\other", nullptr);
        ASSERT_EQ(headless(L"C:\\gui\\typed", L"--install").code, 0u);
        ASSERT_EQ(headless(L"C:\\gui\\other", L"--install").code, 0u);
        const std::wstring other = L"C:\\gui\\other\\Kelvo";
        setup_window s = open_window(L"typed");
        ASSERT_TRUE(s.w);
        s.click(1001);
        EXPECT_EQ(s.wait_page(1), 1);
        SetWindowTextW(s.edit(), other.c_str());
        s.click(1006);
        EXPECT_EQ(s.wait_page(2), 2);
        EXPECT_FALSE(exists(other));
        EXPECT_TRUE(exists(s.dir + L"\\kelvo.exe")) << "the default installation was removed";
        EXPECT_EQ(user_path(), L"%USERPROFILE%\\AppData\\Local\\Microsoft\\WindowsApps;" + s.dir);
        s.click(1003);
        EXPECT_EQ(s.p.wait(10000), 0u);
        EXPECT_EQ(headless(s.local, L"--uninstall").code, 0u);
        EXPECT_FALSE(exists(s.dir));
    }
    // Browse, then Cancel: the edit, the page and APP_DIR stay as they were.
    clean_registry();
    {
        setup_window s = open_window(L"browse");
        ASSERT_TRUE(s.w);
        s.click(1001);
        EXPECT_EQ(s.wait_page(1), 1);
        const std::wstring before = text_of(s.edit());
        EXPECT_EQ(before, s.dir);
        PostMessageW(s.button(1007), BM_CLICK, 0, 0);
        HWND dialog = wait_window(s.p.id(), L"#32770", 20000, s.w);
        ASSERT_TRUE(dialog) << "no folder dialog";
        EXPECT_TRUE(FindWindowExW(dialog, nullptr, nullptr, L"Оберіть каталог для встановлення Келва"))
            << "dialog title text";
        SendMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
        for (int i = 0; i < 200 && IsWindow(dialog); ++i) Sleep(20);
        EXPECT_FALSE(IsWindow(dialog));
        DWORD_PTR answer = 0;
        EXPECT_TRUE(SendMessageTimeoutW(s.w, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &answer));
        EXPECT_EQ(text_of(s.edit()), before);
        EXPECT_EQ(s.wait_page(1), 1);
        s.click(1004);
        EXPECT_TRUE(exists(s.dir + L"\\kelvo.exe"));
        s.click(1003);
        EXPECT_EQ(s.p.wait(10000), 0u);
        EXPECT_EQ(headless(s.local, L"--uninstall").code, 0u);
    }
    clean_registry();
}
