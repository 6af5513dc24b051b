// The setup window built in this process from the product's window code, at
// 96 DPI: the page table, the painting read back from a memory bitmap (frames
// identical to those of the window before it scaled with the display), the
// class icons, and the answers that give Enter and Esc their meaning. The
// window at other DPIs: window_scaling_test; the version list and the keyboard
// on the real program: gui_test, keyboard_test.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "frames.h"
#include "frames96.h"
#include "harness.h"
#include "kelvo.h"
#include "window_fixture.h"

wchar_t APP_DIR[260] = L"C:\\KelvoPaintTest";
const wchar_t CUR_VER[] = L"2.15";
ver_entry ver_urls[16];
int ver_count = 0;

using namespace harness;
using fixture::canvas;
using fixture::make_window;

namespace {

const int W = 486, H = 458;

const COLORREF SURFACE = 0xFFFBFE, CARD = 0xF7F2FA, CODE = 0xD8D0E8, BRAND = 0x6750A4,
               BRAND_PRESSED = 0x381E72, MUTED = 0x79747E, RULE = 0xCAC4D0, BODY = 0x1D1B20,
               MARK = 0x386A20, SECONDARY = 0xE8DEF8, SECONDARY_PRESSED = 0xD0C0E0,
               SECONDARY_TEXT = 0x4A4458, WHITE = 0xFFFFFF;

void print(HWND w, canvas& c, int page, int tick, const wchar_t* status) {
    set_page(page);
    g_anim = tick;
    wcscpy(statusTxt, status);
    c.clear(RGB(255, 0, 255));
    SendMessageW(w, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(c.dc), PRF_CLIENT);
}

}  // namespace

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

// The class the program registers carries its icon in both sizes the system
// asks for, read here in process (across processes Wine answers 0).
TEST(Window, ClassCarriesTheProgramsIcon) {
    HWND w = make_window();
    ASSERT_TRUE(w);
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    ASSERT_TRUE(GetClassInfoExW(GetModuleHandleW(nullptr), L"KelvoSetup", &wc));
    EXPECT_EQ(reinterpret_cast<HICON>(GetClassLongPtrW(w, GCLP_HICON)), wc.hIcon);
    struct {
        HICON icon;
        int size;
        const char* what;
    } icons[] = {{wc.hIcon, GetSystemMetrics(SM_CXICON), "hIcon"},
                 {wc.hIconSm, GetSystemMetrics(SM_CXSMICON), "hIconSm"}};
    for (const auto& k : icons) {
        ASSERT_TRUE(k.icon) << k.what;
        ICONINFO info = {};
        ASSERT_TRUE(GetIconInfo(k.icon, &info)) << k.what;
        BITMAP bm = {};
        GetObjectW(info.hbmColor, sizeof bm, &bm);
        EXPECT_EQ(bm.bmWidth, k.size) << k.what;
        EXPECT_EQ(bm.bmHeight, k.size) << k.what;
        // The tile in the brand colour above the letter, the letter's stem white.
        std::vector<unsigned> px(size_t(k.size) * k.size);
        BITMAPINFO bi = {};
        bi.bmiHeader.biSize = sizeof bi.bmiHeader;
        bi.bmiHeader.biWidth = k.size;
        bi.bmiHeader.biHeight = -k.size;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        HDC dc = GetDC(nullptr);
        EXPECT_EQ(GetDIBits(dc, info.hbmColor, 0, k.size, px.data(), &bi, DIB_RGB_COLORS), k.size);
        ReleaseDC(nullptr, dc);
        auto rgb = [&](int x, int y) { return px[size_t(y) * k.size + x] & 0xFFFFFF; };
        EXPECT_EQ(rgb(k.size / 2, k.size / 10), 0xA45067u) << k.what << ": tile";  // 0x00RRGGBB
        EXPECT_EQ(rgb(k.size * 90 / 256, k.size / 2), 0xFFFFFFu) << k.what << ": letter";
        if (info.hbmColor) DeleteObject(info.hbmColor);
        if (info.hbmMask) DeleteObject(info.hbmMask);
    }
    DestroyWindow(w);
}

// Enter asks the window for its default command (DM_GETDEFID): the focused
// command button's, else the page's primary one; the page's primary button
// has the focus after every page switch; Esc (IDCANCEL) closes the window.
TEST(Window, EnterRunsTheFocusedCommandOrThePrimaryOneAndEscCloses) {
    HWND w = make_window();
    ASSERT_TRUE(w);
    ShowWindow(w, SW_SHOW);
    SetForegroundWindow(w);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    ASSERT_EQ(GetActiveWindow(), w);
    EXPECT_EQ(GetFocus(), GetDlgItem(w, 1001)) << "at start";
    HWND edit = FindWindowExW(w, nullptr, L"EDIT", nullptr);
    HWND check = FindWindowExW(w, nullptr, L"BUTTON", L"Патчити PATH — запуск з будь-якого терміналу");
    HWND combo = FindWindowExW(w, nullptr, L"COMBOBOX", nullptr);
    const int primary[3] = {1001, 1004, 1003};
    struct {
        int page;
        HWND focus;  // nullptr: leave it where the page switch put it
        int want;
    } cases[] = {
        {0, nullptr, 1001}, {0, GetDlgItem(w, 1006), 1006}, {1, nullptr, 1004},
        {1, edit, 1004},    {1, check, 1004},               {1, combo, 1004},
        {1, GetDlgItem(w, 1002), 1002}, {1, GetDlgItem(w, 1005), 1005},
        {1, GetDlgItem(w, 1006), 1006}, {1, GetDlgItem(w, 1007), 1007},
        {2, nullptr, 1003},
    };
    for (const auto& k : cases) {
        set_page(k.page);
        std::string what = "page " + std::to_string(k.page) + " want " + std::to_string(k.want);
        EXPECT_EQ(GetFocus(), GetDlgItem(w, primary[k.page])) << what << ": focus after the switch";
        if (k.focus) SetFocus(k.focus);
        LRESULT def = SendMessageW(w, DM_GETDEFID, 0, 0);
        EXPECT_EQ(HIWORD(def), DC_HASDEFID) << what;
        EXPECT_EQ(LOWORD(def), k.want) << what;
    }
    // Focus leaves with the window's activation and comes back with it.
    set_page(1);
    SetFocus(check);
    SendMessageW(w, WM_ACTIVATE, WA_INACTIVE, 0);
    SetFocus(w);
    SendMessageW(w, WM_ACTIVATE, WA_ACTIVE, 0);
    EXPECT_EQ(GetFocus(), check);

    SendMessageW(w, WM_COMMAND, IDCANCEL, 0);
    EXPECT_FALSE(IsWindow(w));
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
}
