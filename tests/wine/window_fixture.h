// The setup window built in the test's own process, as the program builds it
// (create_main_window), with what each child asked for at its creation; and a
// memory bitmap to paint it into.
#pragma once
#include <string>
#include <vector>

#include "kelvo.h"

namespace fixture {

// A top-down 32 bpp bitmap in a memory DC.
struct canvas {
    int w, h;
    HDC dc;
    HBITMAP bmp;
    HGDIOBJ old;
    unsigned* px = nullptr;
    canvas(int width = 486, int height = 458) : w(width), h(height) {
        BITMAPINFO bi = {};
        bi.bmiHeader.biSize = sizeof bi.bmiHeader;
        bi.bmiHeader.biWidth = w;
        bi.bmiHeader.biHeight = -h;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        dc = CreateCompatibleDC(nullptr);
        void* bits = nullptr;
        bmp = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
        px = static_cast<unsigned*>(bits);
        old = SelectObject(dc, bmp);
    }
    ~canvas() {
        SelectObject(dc, old);
        DeleteObject(bmp);
        DeleteDC(dc);
    }
    canvas(const canvas&) = delete;
    canvas& operator=(const canvas&) = delete;
    // CLR_INVALID outside the bitmap, so a misplaced probe fails instead of crashing.
    COLORREF at(int x, int y) const {
        if (!px || x < 0 || y < 0 || x >= w || y >= h) return CLR_INVALID;
        GdiFlush();
        unsigned v = px[y * w + x];
        return RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
    }
    int count(COLORREF c, int l, int t, int r, int b) const {
        int n = 0;
        for (int y = t; y < b; ++y)
            for (int x = l; x < r; ++x) n += at(x, y) == c;
        return n;
    }
    // Leftmost column of [l, r) holding colour c in rows [t, b); -1 if none.
    int leftmost(COLORREF c, int l, int t, int r, int b) const {
        for (int x = l; x < r; ++x)
            for (int y = t; y < b; ++y)
                if (at(x, y) == c) return x;
        return -1;
    }
    void clear(COLORREF c) {
        HBRUSH b = CreateSolidBrush(c);
        RECT all = {0, 0, w, h};
        FillRect(dc, &all, b);
        DeleteObject(b);
    }
};

// What each child asked for at creation, seen by a creation hook.
struct created {
    std::wstring cls, text;
    DWORD style;
    int x, y, w, h, id;
};
inline std::vector<created>& children() {
    static std::vector<created> all;
    return all;
}

inline LRESULT CALLBACK on_cbt(int code, WPARAM wp, LPARAM lp) {
    if (code == HCBT_CREATEWND) {
        const CREATESTRUCTW* cs = reinterpret_cast<CBT_CREATEWNDW*>(lp)->lpcs;
        if (cs->style & WS_CHILD) {
            created c;
            c.cls = HIWORD(reinterpret_cast<ULONG_PTR>(cs->lpszClass)) ? cs->lpszClass : L"#atom";
            c.text = cs->lpszName ? cs->lpszName : L"";
            c.style = static_cast<DWORD>(cs->style);
            c.x = cs->x, c.y = cs->y, c.w = cs->cx, c.h = cs->cy;
            c.id = static_cast<int>(reinterpret_cast<INT_PTR>(cs->hMenu));
            children().push_back(c);
        }
    }
    return CallNextHookEx(nullptr, code, wp, lp);
}

// The main window as the program makes it (this test program carries the
// program's resources: manifest and icon).
inline HWND make_window() {
    children().clear();
    HHOOK hook = SetWindowsHookExW(WH_CBT, on_cbt, nullptr, GetCurrentThreadId());
    HWND w = create_main_window(GetModuleHandleW(nullptr));
    if (hook) UnhookWindowsHookEx(hook);
    return w;
}

}  // namespace fixture
