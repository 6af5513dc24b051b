// The real setup window (kelvo-setup-loopback.exe) driven from a test
// program as a user drives it: its controls read and pressed from outside,
// its pages told by which buttons show, its client area read off the screen.
#pragma once
#include <string>
#include <vector>

#include "harness.h"

namespace harness {

const COLORREF BRAND = 0x6750A4, CARD = 0xF7F2FA, MARK = 0x386A20, SURFACE = 0xFFFBFE, CODE = 0xD8D0E8;
const wchar_t CHECK_TEXT[] = L"Патчити PATH — запуск з будь-якого терміналу";
enum { ID_NEXT = 1001, ID_BACK, ID_CLOSE, ID_INSTALL, ID_UPDATE, ID_UNINSTALL, ID_BROWSE };

// The text a control holds (GetWindowText reads only the caption cached for
// windows of other processes).
inline std::wstring text_of(HWND h) {
    wchar_t t[512] = {};
    SendMessageW(h, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(t));
    return t;
}

inline bool shown(HWND h) { return h && IsWindowVisible(h); }

// The setup window of a running kelvo-setup-loopback.exe whose local
// application data lies in a directory of the test's own.
struct setup_window {
    process p;
    HWND w = nullptr;
    std::wstring local, dir;
    ULONGLONG started = 0, visible = 0;  // GetTickCount64 at the start and when the window showed

    HWND button(int id) const { return GetDlgItem(w, id); }
    HWND edit() const { return FindWindowExW(w, nullptr, L"Edit", nullptr); }
    HWND check() const { return FindWindowExW(w, nullptr, L"Button", CHECK_TEXT); }
    HWND combo() const { return FindWindowExW(w, nullptr, L"ComboBox", nullptr); }
    // A press sent to the button: it is handled before this returns, unless
    // the window defers it (during the list fetch).
    void click(int id) const { SendMessageW(button(id), BM_CLICK, 0, 0); }
    // A press posted to the button, as queued input is.
    void post_click(int id) const { PostMessageW(button(id), BM_CLICK, 0, 0); }
    // The page the visible buttons say, -1 when they match none of the three.
    int page() const {
        bool v[7];
        for (int i = 0; i < 7; ++i) v[i] = shown(button(ID_NEXT + i));
        const bool table[3][7] = {{1, 0, 0, 0, 0, 1, 0}, {0, 1, 0, 1, 1, 1, 1}, {0, 0, 1, 0, 0, 0, 0}};
        for (int p = 0; p < 3; ++p) {
            bool same = shown(edit()) == (p == 1) && shown(check()) == (p == 1) &&
                        shown(combo()) == (p == 1);
            for (int i = 0; i < 7; ++i) same = same && v[i] == table[p][i];
            if (same) return p;
        }
        return -1;
    }
    // The page once it is `want`, or whatever it is after timeout_ms.
    int wait_page(int want, DWORD timeout_ms = 10000) const {
        ULONGLONG end = GetTickCount64() + timeout_ms;
        int now = page();
        while (now != want && GetTickCount64() < end) {
            Sleep(10);
            now = page();
        }
        return now;
    }
    // Entries of the version list; -1 when the window does not answer within 2 s.
    int entries() const {
        DWORD_PTR n = 0;
        if (!SendMessageTimeoutW(combo(), CB_GETCOUNT, 0, 0, SMTO_NORMAL, 2000, &n)) return -1;
        return static_cast<int>(n);
    }
    int wait_entries(int want, DWORD timeout_ms = 10000) const {
        ULONGLONG end = GetTickCount64() + timeout_ms;
        int now = entries();
        while (now != want && GetTickCount64() < end) {
            Sleep(10);
            now = entries();
        }
        return now;
    }
    // Until the release list is in: the version list is greyed while it is
    // fetched (at most 5 s after the window shows). False when it never is.
    bool wait_list(DWORD timeout_ms = 10000) const {
        ULONGLONG end = GetTickCount64() + timeout_ms;
        while (!IsWindowEnabled(combo())) {
            if (GetTickCount64() >= end) return false;
            Sleep(10);
        }
        return true;
    }
    int selected() const { return static_cast<int>(SendMessageW(combo(), CB_GETCURSEL, 0, 0)); }
    std::wstring item(int i) const {
        wchar_t t[128] = {};
        if (SendMessageW(combo(), CB_GETLBTEXTLEN, i, 0) < 128)
            SendMessageW(combo(), CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(t));
        return t;
    }
    // The client area as X shows it now.
    image capture() const {
        RECT r;
        GetClientRect(w, &r);
        MapWindowPoints(w, nullptr, reinterpret_cast<POINT*>(&r), 2);
        return capture_screen(r);
    }
    // The same, once the window has had time to paint.
    image client() const {
        Sleep(400);
        return capture();
    }
};

// Starts the window with LOCALAPPDATA at C:\gui\<name> and waits for it to show.
inline setup_window open_window(const std::wstring& name, DWORD timeout_ms = 30000) {
    setup_window s;
    s.local = L"C:\\gui\\" + name;
    CreateDirectoryW(L"C:\\gui", nullptr);
    CreateDirectoryW(s.local.c_str(), nullptr);
    s.dir = s.local + L"\\Kelvo";
    s.started = GetTickCount64();
    s.p = start(loopback_setup_exe(), L"", {{L"LOCALAPPDATA", s.local.c_str()}});
    if (s.p.started()) s.w = wait_window(s.p.id(), L"KelvoSetup", timeout_ms);
    if (s.w) s.visible = GetTickCount64();
    return s;
}

inline int count(const image& img, COLORREF c, int l, int t, int r, int b) {
    int n = 0;
    for (int y = t; y < b && y < img.height; ++y)
        for (int x = l; x < r && x < img.width; ++x) n += img.at(x, y) == c;
    return n;
}

// Pixels of the result mark, as a pattern that tells "✓" from "✗".
inline std::vector<bool> mark(const image& img) {
    std::vector<bool> m;
    for (int y = 88; y < 130 && y < img.height; ++y)
        for (int x = 38; x < 120 && x < img.width; ++x) m.push_back(img.at(x, y) == MARK);
    return m;
}

inline bool registered() {
    return reg_get(HKEY_CURRENT_USER, L"Software\\Classes\\.kelvo", nullptr).found;
}
inline void clean_registry() {
    reg_delete_value(HKEY_CURRENT_USER, L"Environment", L"Path");
    reg_delete_tree(HKEY_CURRENT_USER, L"Software\\Classes\\.kelvo");
    reg_delete_tree(HKEY_CURRENT_USER, L"Software\\Classes\\KelvoScript");
}

}  // namespace harness
