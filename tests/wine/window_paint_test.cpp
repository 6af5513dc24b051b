// The setup window built in this process from the product's window code: the
// styles its controls ask for and the fonts they get (both only readable from
// inside), the page table, and the painting read back from a memory bitmap.
// The version list is checked on the real program (gui_test).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "frames.h"
#include "frames96.h"
#include "harness.h"
#include "kelvo.h"

wchar_t APP_DIR[260] = L"C:\\KelvoPaintTest";
const wchar_t CUR_VER[] = L"2.15";
ver_entry ver_urls[16];
int ver_count = 0;

using namespace harness;

namespace {

const int W = 486, H = 458;

const COLORREF SURFACE = 0xFFFBFE, CARD = 0xF7F2FA, CODE = 0xD8D0E8, BRAND = 0x6750A4,
               BRAND_PRESSED = 0x381E72, MUTED = 0x79747E, RULE = 0xCAC4D0, BODY = 0x1D1B20,
               MARK = 0x386A20, SECONDARY = 0xE8DEF8, SECONDARY_PRESSED = 0xD0C0E0,
               SECONDARY_TEXT = 0x4A4458, WHITE = 0xFFFFFF;

// A top-down 32 bpp bitmap in a memory DC.
struct canvas {
    HDC dc;
    HBITMAP bmp;
    HGDIOBJ old;
    unsigned* px = nullptr;
    canvas() {
        BITMAPINFO bi = {};
        bi.bmiHeader.biSize = sizeof bi.bmiHeader;
        bi.bmiHeader.biWidth = W;
        bi.bmiHeader.biHeight = -H;
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
    COLORREF at(int x, int y) const {
        GdiFlush();
        unsigned v = px[y * W + x];
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
        RECT all = {0, 0, W, H};
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
std::vector<created> g_created;

LRESULT CALLBACK on_cbt(int code, WPARAM wp, LPARAM lp) {
    if (code == HCBT_CREATEWND) {
        const CREATESTRUCTW* cs = reinterpret_cast<CBT_CREATEWNDW*>(lp)->lpcs;
        if (cs->style & WS_CHILD) {
            created c;
            c.cls = HIWORD(reinterpret_cast<ULONG_PTR>(cs->lpszClass)) ? cs->lpszClass : L"#atom";
            c.text = cs->lpszName ? cs->lpszName : L"";
            c.style = static_cast<DWORD>(cs->style);
            c.x = cs->x, c.y = cs->y, c.w = cs->cx, c.h = cs->cy;
            c.id = static_cast<int>(reinterpret_cast<INT_PTR>(cs->hMenu));
            g_created.push_back(c);
        }
    }
    return CallNextHookEx(nullptr, code, wp, lp);
}

HWND make_window() {
    static ATOM atom = [] {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = WndProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"KelvoSetup";
        return RegisterClassW(&wc);
    }();
    if (!atom) return nullptr;
    g_created.clear();
    HHOOK hook = SetWindowsHookExW(WH_CBT, on_cbt, nullptr, GetCurrentThreadId());
    HWND w = CreateWindowExW(0, L"KelvoSetup", L"Келво — Встановлення",
                             WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, CW_USEDEFAULT,
                             CW_USEDEFAULT, W, H, nullptr, nullptr, GetModuleHandleW(nullptr),
                             nullptr);
    if (hook) UnhookWindowsHookEx(hook);
    return w;
}

void print(HWND w, canvas& c, int page, int tick, const wchar_t* status) {
    set_page(page);
    g_anim = tick;
    wcscpy(statusTxt, status);
    c.clear(RGB(255, 0, 255));
    SendMessageW(w, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(c.dc), PRF_CLIENT);
}

}  // namespace

TEST(Window, ControlsAskForTheirStylesAndFonts) {
    HWND w = make_window();
    ASSERT_TRUE(w);
    const DWORD VIS = WS_CHILD | WS_VISIBLE, OWNER = WS_CHILD | WS_TABSTOP | BS_OWNERDRAW;
    const created want[] = {
        {L"STATIC", L"Каталог встановлення:", VIS, 44, 108, 340, 20, 0},
        {L"EDIT", APP_DIR, VIS | WS_BORDER | ES_AUTOHSCROLL, 44, 130, 310, 28, 0},
        {L"BUTTON", L"Огляд...", VIS | BS_PUSHBUTTON, 362, 130, 78, 28, 1007},
        {L"BUTTON", L"Патчити PATH — запуск з будь-якого терміналу",
         VIS | WS_TABSTOP | BS_AUTOCHECKBOX, 44, 170, 380, 24, 0},
        {L"STATIC", L"Версія:", VIS, 44, 200, 340, 18, 0},
        {L"COMBOBOX", L"", VIS | WS_VSCROLL | CBS_DROPDOWNLIST, 44, 222, 330, 220, 0},
        {L"BUTTON", L"Далі →", OWNER, 24, 350, 136, 44, 1001},
        {L"BUTTON", L"← Назад", OWNER, 24, 350, 136, 44, 1002},
        {L"BUTTON", L"Закрити", OWNER, 168, 350, 136, 44, 1003},
        {L"BUTTON", L"Встановити", OWNER, 168, 350, 148, 44, 1004},
        {L"BUTTON", L"Оновити", OWNER, 168, 290, 148, 44, 1005},
        {L"BUTTON", L"Видалити", OWNER, 326, 350, 120, 44, 1006},
    };
    // The combo box makes children of its own (its list); only ours count.
    std::vector<created> ours;
    for (const created& c : g_created) {
        bool known = false;
        for (const created& k : want)
            known = known || (!lstrcmpiW(k.cls.c_str(), c.cls.c_str()) && k.text == c.text);
        if (known) ours.push_back(c);
    }
    ASSERT_EQ(ours.size(), 12u);
    for (size_t i = 0; i < 12; ++i) {
        const created &g = ours[i], &k = want[i];
        std::string what = "control " + std::to_string(i) + " " + utf8(k.text);
        EXPECT_EQ(lstrcmpiW(g.cls.c_str(), k.cls.c_str()), 0) << what;
        EXPECT_EQ(g.text, k.text) << what;
        EXPECT_EQ(g.style, k.style) << what;
        EXPECT_EQ(g.x, k.x) << what;
        EXPECT_EQ(g.y, k.y) << what;
        EXPECT_EQ(g.w, k.w) << what;
        EXPECT_EQ(g.h, k.h) << what;
        EXPECT_EQ(g.id, k.id) << what;
    }

    // fBody on the edit, the check box and the list; the rest keep the system font.
    HWND edit = FindWindowExW(w, nullptr, L"EDIT", nullptr);
    HWND check = FindWindowExW(w, nullptr, L"BUTTON", want[3].text.c_str());
    HWND combo = FindWindowExW(w, nullptr, L"COMBOBOX", nullptr);
    HFONT body = reinterpret_cast<HFONT>(SendMessageW(edit, WM_GETFONT, 0, 0));
    ASSERT_TRUE(body);
    EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(check, WM_GETFONT, 0, 0)), body);
    EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(combo, WM_GETFONT, 0, 0)), body);
    LOGFONTW lf = {};
    ASSERT_EQ(GetObjectW(body, sizeof lf, &lf), (int)sizeof lf);
    EXPECT_EQ(lf.lfHeight, 13);
    EXPECT_EQ(lf.lfWidth, 0);
    EXPECT_EQ(lf.lfWeight, 400);
    EXPECT_EQ(lf.lfCharSet, DEFAULT_CHARSET);
    EXPECT_FALSE(lf.lfItalic || lf.lfUnderline || lf.lfStrikeOut);
    EXPECT_STREQ(lf.lfFaceName, L"Segoe UI");
    for (const wchar_t* text : {L"Каталог встановлення:", L"Версія:"})
        EXPECT_FALSE(SendMessageW(FindWindowExW(w, nullptr, L"STATIC", text), WM_GETFONT, 0, 0));
    EXPECT_FALSE(SendMessageW(GetDlgItem(w, 1007), WM_GETFONT, 0, 0));
    EXPECT_EQ(SendMessageW(check, BM_GETCHECK, 0, 0), BST_CHECKED);
    DestroyWindow(w);
}

TEST(Window, PagesShowTheirControlsWithoutOverlap) {
    HWND w = make_window();
    ASSERT_TRUE(w);
    RECT client;
    GetClientRect(w, &client);
    auto shown = [](HWND c) { return (GetWindowLongW(c, GWL_STYLE) & WS_VISIBLE) != 0; };
    // Command ids 1001..1007 shown per page.
    const bool table[3][7] = {{1, 0, 0, 0, 0, 1, 0}, {0, 1, 0, 1, 1, 1, 1}, {0, 0, 1, 0, 0, 0, 0}};
    for (int page : {0, 1, 2, 1, 0}) {
        set_page(page);
        EXPECT_EQ(g_page, page);
        std::vector<RECT> visible;
        for (int i = 0; i < 7; ++i) {
            HWND b = GetDlgItem(w, 1001 + i);
            ASSERT_TRUE(b);
            std::string what = "page " + std::to_string(page) + " id " + std::to_string(1001 + i);
            EXPECT_EQ(shown(b), table[page][i]) << what;
            if (!shown(b)) continue;
            RECT r;
            GetWindowRect(b, &r);
            MapWindowPoints(nullptr, w, reinterpret_cast<POINT*>(&r), 2);
            EXPECT_TRUE(r.left >= 0 && r.top >= 0 && r.right <= client.right &&
                        r.bottom <= client.bottom)
                << what;
            for (const RECT& o : visible) {
                RECT both;
                EXPECT_FALSE(IntersectRect(&both, &r, &o)) << what;
            }
            visible.push_back(r);
        }
        // Captions, edit, check box and list follow the options page.
        int others = 0;
        for (HWND c = GetWindow(w, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
            if (GetDlgCtrlID(c) >= 1001) continue;
            ++others;
            EXPECT_EQ(shown(c), page == 1) << "page " << page << " control id " << GetDlgCtrlID(c);
        }
        EXPECT_EQ(others, 5);
    }
    DestroyWindow(w);
}

TEST(Window, PaintsEveryPage) {
    HWND w = make_window();
    ASSERT_TRUE(w);
    RECT client;
    GetClientRect(w, &client);
    const int CW = client.right, CH = client.bottom;
    canvas c;
    struct {
        int page;
        const wchar_t* status;
        bool card, mark;
    } pages[] = {{0, L"", false, false},
                 {1, L"", true, false},
                 {2, L"✓  Видалення завершено.", false, true},
                 {2, L"✗  Помилка встановлення.", false, true},
                 {2, L"", false, true}};  // "Готово" under the cross
    for (const auto& p : pages) {
        print(w, c, p.page, 0, p.status);
        std::string what = "page " + std::to_string(p.page) + " " + utf8(p.status);
        EXPECT_EQ(c.count(RGB(255, 0, 255), 0, 0, CW, CH), 0) << what << ": client not covered";
        EXPECT_EQ(c.at(2, 2), SURFACE) << what;
        EXPECT_EQ(c.count(RULE, 24, 76, 456, 77), 432) << what;
        EXPECT_EQ(c.count(RULE, 0, 75, CW, 76) + c.count(RULE, 0, 77, CW, 78), 0) << what;
        EXPECT_GT(c.count(BRAND, 24, 12, 460, 56), 50) << what << ": title";
        EXPECT_GT(c.count(MUTED, 24, 54, 460, 72), 20) << what << ": subtitle";
        EXPECT_GT(c.count(MUTED, 24, 402, 460, 420), 20) << what << ": footer";
        EXPECT_EQ(c.at(30, 200) == CARD && c.at(450, 270) == CARD, p.card) << what;
        EXPECT_EQ(c.count(MARK, 38, 88, 450, 130) > 5, p.mark) << what;
        EXPECT_EQ(c.count(MARK, 0, 0, CW, 88) + c.count(MARK, 0, 130, CW, CH), 0) << what;
        EXPECT_EQ(c.count(BODY, 38, 92, 450, 340) > 20, p.page != 1) << what << ": body text";
    }
    // The two marks are different glyphs: only a leading check mark draws "✓".
    auto mark_of = [&](const wchar_t* status) {
        print(w, c, 2, 0, status);
        std::vector<bool> m;
        for (int y = 88; y < 130; ++y)
            for (int x = 38; x < 120; ++x) m.push_back(c.at(x, y) == MARK);
        return m;
    };
    EXPECT_NE(mark_of(L"✓  Видалення завершено."), mark_of(L"✗  Помилка встановлення."));
    EXPECT_EQ(mark_of(L"✓"), mark_of(L"✓  Видалення завершено."));
    EXPECT_EQ(mark_of(L"x ✓"), mark_of(L"✗"));

    // The footer: version and repository page, in the muted colour from x = 24.
    print(w, c, 2, 0, L"✓");
    EXPECT_GE(c.leftmost(MUTED, 0, 402, CW, 420), 24);
    EXPECT_LE(c.leftmost(MUTED, 0, 402, CW, 420), 34);

    // Background lines on page 2 below its one-line result text (lines 4..14,
    // tops 90 + 18 i): left edges per tick, or not drawn at all.
    struct {
        int tick, line, x;  // x -1: not drawn
    } lines[] = {
        {0, 4, 340}, {0, 9, 340}, {0, 14, 340},  // all start at 340
        {10, 14, 60}, {10, 12, 200},              // speeds 28 and 14
        {18, 14, -1}, {25, 14, 320},              // offset 504 hidden, 700 wraps to 20
        {23, 14, -1}, {24, 14, -1},               // 644 and 672 hidden until the wrap
        {8, 13, 340 - 168},                       // speed 21
    };
    for (const auto& l : lines) {
        print(w, c, 2, l.tick, L"✓");
        int top = 90 + 18 * l.line;
        int left = c.leftmost(CODE, 0, top, CW, top + 16);
        std::string what = "tick " + std::to_string(l.tick) + " line " + std::to_string(l.line);
        if (l.x < 0) {
            EXPECT_EQ(left, -1) << what;
        } else {
            EXPECT_GE(left, l.x) << what;
            EXPECT_LE(left, l.x + 6) << what;
        }
    }
    DestroyWindow(w);
}

TEST(Window, ButtonsNormalAndPressedAndNothingLeaks) {
    HWND w = make_window();
    ASSERT_TRUE(w);
    canvas c;
    struct {
        int id;
        COLORREF normal, pressed, text;
    } cases[] = {{1001, BRAND, BRAND_PRESSED, WHITE},
                 {1003, BRAND, BRAND_PRESSED, WHITE},
                 {1004, BRAND, BRAND_PRESSED, WHITE},
                 {1005, BRAND, BRAND_PRESSED, WHITE},
                 {1002, SECONDARY, SECONDARY_PRESSED, SECONDARY_TEXT},
                 {1006, SECONDARY, SECONDARY_PRESSED, SECONDARY_TEXT}};
    for (const auto& k : cases) {
        for (bool pressed : {false, true}) {
            DRAWITEMSTRUCT di = {};
            di.CtlType = ODT_BUTTON;
            di.CtlID = k.id;
            di.itemState = pressed ? ODS_SELECTED : 0;
            di.hwndItem = GetDlgItem(w, k.id);
            di.hDC = c.dc;
            di.rcItem = {10, 10, 146, 54};
            c.clear(RGB(0, 0, 0));
            EXPECT_EQ(SendMessageW(w, WM_DRAWITEM, k.id, reinterpret_cast<LPARAM>(&di)), 1);
            std::string what = std::to_string(k.id) + (pressed ? " pressed" : " normal");
            EXPECT_EQ(c.at(30, 14), pressed ? k.pressed : k.normal) << what;
            EXPECT_EQ(c.at(140, 50), pressed ? k.pressed : k.normal) << what;
            EXPECT_GT(c.count(k.text, 10, 10, 147, 55), 15) << what << ": label";
            for (POINT corner : {POINT{10, 10}, POINT{146, 10}, POINT{10, 54}, POINT{146, 54}})
                EXPECT_EQ(c.at(corner.x, corner.y), RGB(0, 0, 0)) << what << ": corner painted";
            EXPECT_EQ(c.count(RGB(0, 0, 0), 12, 20, 145, 44), 0) << what << ": fill";
        }
    }
    // An item that is not a button is left alone.
    DRAWITEMSTRUCT menu = {};
    menu.CtlType = ODT_MENU;
    menu.hDC = c.dc;
    menu.rcItem = {10, 10, 146, 54};
    c.clear(RGB(0, 0, 0));
    SendMessageW(w, WM_DRAWITEM, 0, reinterpret_cast<LPARAM>(&menu));
    EXPECT_EQ(c.count(RGB(0, 0, 0), 0, 0, W, H), W * H);

    // More frames and button drawings than a process may hold GDI objects:
    // anything kept per frame would run out, and the last frame would differ.
    DRAWITEMSTRUCT di = {};
    di.CtlType = ODT_BUTTON;
    di.CtlID = 1004;
    di.hwndItem = GetDlgItem(w, 1004);
    di.hDC = c.dc;
    di.rcItem = {300, 420, 400, 450};  // below the client area, which the paint covers
    set_page(1);
    g_anim = 7;
    c.clear(RGB(0, 0, 0));  // the code lines also reach past the client area here
    draw_button(&di);
    paint_client(c.dc);
    GdiFlush();
    std::vector<unsigned> first(c.px, c.px + W * H);
    int first_tick = g_anim;
    // Windows counts a process's GDI and USER objects; Wine always answers 0.
    const DWORD gdi_before = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    const DWORD user_before = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
    for (int i = 0; i < 70000; ++i) {
        g_anim = i;
        draw_button(&di);
        paint_client(c.dc);
    }
    g_anim = first_tick;
    c.clear(RGB(0, 0, 0));
    draw_button(&di);
    paint_client(c.dc);
    GdiFlush();
    HPEN probe = CreatePen(PS_SOLID, 1, 0);
    EXPECT_TRUE(probe);
    if (probe) DeleteObject(probe);
    EXPECT_TRUE(std::equal(first.begin(), first.end(), c.px));
    if (gdi_before) EXPECT_EQ(GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS), gdi_before);
    if (user_before) EXPECT_EQ(GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS), user_before);
    DestroyWindow(w);
}

// Frames of every page, a few ticks, buttons normal and pressed, against the
// ones recorded from the window before it learned about display scaling (see
// tests/data/README.md). KELVO_RECORD_FRAMES=FILE writes them anew instead.
TEST(Window, FramesAt96DpiAreTheRecordedOnes) {
    HWND w = make_window();
    ASSERT_TRUE(w);
    std::vector<frames::frame> got;
    for (const frames::kind& s : frames::KINDS) got.push_back(frames::render(w, s));
    DestroyWindow(w);
    const std::wstring record = env(L"KELVO_RECORD_FRAMES");
    if (!record.empty()) {
        ASSERT_TRUE(write_file(record, frames::encode(got)));
        GTEST_SKIP() << "frames written to " << utf8(record);
    }
    std::vector<frames::frame> want;
    ASSERT_TRUE(frames::decode(frames96, sizeof frames96, &want));
    ASSERT_EQ(want.size(), got.size());
    for (size_t i = 0; i < got.size(); ++i) {
        const frames::frame &g = got[i], &k = want[i];
        EXPECT_EQ(g.name, k.name);
        ASSERT_EQ(g.width, k.width) << k.name;
        ASSERT_EQ(g.height, k.height) << k.name;
        size_t differ = 0, first = 0;
        for (size_t p = 0; p < g.px.size(); ++p)
            if (g.px[p] != k.px[p] && !differ++) first = p;
        EXPECT_EQ(differ, 0u) << k.name << ": first difference at x " << first % k.width
                              << " y " << first / k.width;
    }
}
