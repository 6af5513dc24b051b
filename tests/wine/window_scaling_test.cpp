// The setup window built in this process at the DPI of the test's Wine prefix
// (KELVO_WINE_DPI: 96, 120, 144, 192; this program carries the program's
// manifest, so it is per-monitor aware as the program is): the frame, every
// control, the shared fonts and everything painted are their 96-DPI values
// scaled, and a DPI change sent to the window lays it out again.
#include <gtest/gtest.h>

#include <cstdlib>
#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "bg_motion.h"
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

const DWORD STYLE = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
const COLORREF BRAND = 0x6750A4, BODY = 0x1D1B20, SECONDARY = 0xE8DEF8, RULE = 0xCAC4D0,
               CARD = 0xF7F2FA;

int system_dpi() { return static_cast<int>(GetDpiForSystem()); }
int at_dpi(int v, int dpi) { return MulDiv(v, dpi, 96); }
int s(int v) { return at_dpi(v, system_dpi()); }

// Client size of the 486 x 458 frame at 96 DPI, from the system's own metrics.
SIZE client96() {
    RECT frame = {0, 0, 0, 0};
    AdjustWindowRectExForDpi(&frame, STYLE, FALSE, 0, 96);
    return {486 - (frame.right - frame.left), 458 - (frame.bottom - frame.top)};
}

RECT in_parent(HWND child) {
    RECT r;
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// Each side of got within 1 pixel of want.
::testing::AssertionResult close_to(const RECT& got, const RECT& want) {
    if (abs(got.left - want.left) <= 1 && abs(got.top - want.top) <= 1 &&
        abs(got.right - want.right) <= 1 && abs(got.bottom - want.bottom) <= 1)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "got (" << got.left << ", " << got.top << ", " << got.right << ", " << got.bottom
           << "), want (" << want.left << ", " << want.top << ", " << want.right << ", "
           << want.bottom << ")";
}

RECT scaled(int l, int t, int r, int b, int dpi) {
    return {at_dpi(l, dpi), at_dpi(t, dpi), at_dpi(r, dpi), at_dpi(b, dpi)};
}

// The controls at 96 DPI, in creation order (a caption right before the
// edit and before the list names each for screen readers).
struct control {
    const wchar_t *cls, *text;
    DWORD style;
    int x, y, w, h, id;
};
const DWORD VIS = WS_CHILD | WS_VISIBLE, OWNER = WS_CHILD | WS_TABSTOP | BS_OWNERDRAW;
const control CONTROLS[] = {
    {L"STATIC", L"Каталог встановлення:", VIS, 44, 108, 340, 20, 0},
    {L"EDIT", APP_DIR, VIS | WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL, 44, 130, 310, 28, 0},
    {L"BUTTON", L"Огляд...", VIS | WS_TABSTOP | BS_PUSHBUTTON, 362, 130, 78, 28, 1007},
    {L"BUTTON", L"Патчити PATH — запуск з будь-якого терміналу", VIS | WS_TABSTOP | BS_AUTOCHECKBOX,
     44, 170, 380, 24, 0},
    {L"STATIC", L"Версія:", VIS, 44, 200, 340, 18, 0},
    {L"COMBOBOX", L"", VIS | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST, 44, 222, 330, 220, 0},
    {L"BUTTON", L"Далі →", OWNER, 24, 350, 136, 44, 1001},
    {L"BUTTON", L"← Назад", OWNER, 24, 350, 136, 44, 1002},
    {L"BUTTON", L"Закрити", OWNER, 168, 350, 136, 44, 1003},
    {L"BUTTON", L"Встановити", OWNER, 168, 350, 148, 44, 1004},
    {L"BUTTON", L"Оновити", OWNER, 168, 290, 148, 44, 1005},
    {L"BUTTON", L"Видалити", OWNER, 326, 350, 120, 44, 1006},
};

// The main window's own children in creation order (a combo box makes
// children of its own, which are not among them).
std::vector<HWND> own_children(HWND w) {
    std::vector<HWND> all;
    for (HWND c = GetWindow(w, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) all.push_back(c);
    return all;
}

// Every control of the window where its 96-DPI rectangle puts it at dpi; a
// drop-down list's own height is its field's, the 220 its dropped height.
void expect_controls_at(HWND w, int dpi, const std::string& when) {
    std::vector<HWND> kids = own_children(w);
    ASSERT_EQ(kids.size(), 12u) << when;
    for (size_t i = 0; i < 12; ++i) {
        const control& k = CONTROLS[i];
        std::string what = when + ": " + utf8(k.text);
        RECT want = scaled(k.x, k.y, k.x + k.w, k.y + k.h, dpi);
        RECT got = in_parent(kids[i]);
        if (k.cls == std::wstring(L"COMBOBOX")) {
            RECT dropped;
            SendMessageW(kids[i], CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&dropped));
            MapWindowPoints(nullptr, w, reinterpret_cast<POINT*>(&dropped), 2);
            // Windows drops the list to the control's full height; Wine's list
            // ends short of it by the height its field had when the control
            // was last sized (at creation: in the system font, a little taller).
            const int field = got.bottom - got.top, short_by = want.bottom - dropped.bottom;
            EXPECT_TRUE(short_by >= -1 && short_by <= field + at_dpi(4, dpi))
                << what << ": dropped list ends at " << dropped.bottom << ", want "
                << want.bottom << " (field " << field << ")";
            RECT top_part = {dropped.left, dropped.top, dropped.right, want.bottom};
            EXPECT_TRUE(close_to(top_part, want)) << what << " dropped";
            want.bottom = got.bottom;
        }
        EXPECT_TRUE(close_to(got, want)) << what;
    }
    HFONT body = reinterpret_cast<HFONT>(SendMessageW(kids[1], WM_GETFONT, 0, 0));
    LOGFONTW lf = {};
    ASSERT_EQ(GetObjectW(body, sizeof lf, &lf), (int)sizeof lf) << when;
    EXPECT_NEAR(lf.lfHeight, at_dpi(13, dpi), 1) << when;
    for (int i : {3, 5})
        EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(kids[i], WM_GETFONT, 0, 0)), body) << when;
}

// What a drawing did, read back from an enhanced metafile it drew into.
struct text_out {
    std::wstring text;
    RECT clip;
    LOGFONTW font;
};
struct drawing {
    std::vector<text_out> texts;
    std::vector<LOGPEN> pens;
    std::vector<POINT> moves, lines;
    std::vector<RECT> fills, frames;  // region bounds
};

drawing record(const std::function<void(HDC)>& draw) {
    drawing d;
    HDC mf = CreateEnhMetaFileW(nullptr, nullptr, nullptr, nullptr);
    if (!mf) return d;
    draw(mf);
    HENHMETAFILE emf = CloseEnhMetaFile(mf);
    UINT n = GetEnhMetaFileBits(emf, 0, nullptr);
    std::vector<BYTE> bytes(n);
    GetEnhMetaFileBits(emf, n, bytes.data());
    DeleteEnhMetaFile(emf);
    std::map<DWORD, LOGFONTW> fonts;
    LOGFONTW current = {};
    for (size_t at = 0; at + sizeof(EMR) <= bytes.size();) {
        const EMR* r = reinterpret_cast<const EMR*>(&bytes[at]);
        if (r->nSize < sizeof(EMR) || at + r->nSize > bytes.size()) break;
        switch (r->iType) {
        case EMR_EXTCREATEFONTINDIRECTW: {
            auto f = reinterpret_cast<const EMREXTCREATEFONTINDIRECTW*>(r);
            fonts[f->ihFont] = f->elfw.elfLogFont;
            break;
        }
        case EMR_SELECTOBJECT: {
            auto sel = reinterpret_cast<const EMRSELECTOBJECT*>(r);
            auto f = fonts.find(sel->ihObject);
            if (f != fonts.end()) current = f->second;
            break;
        }
        case EMR_EXTTEXTOUTW: {
            auto t = reinterpret_cast<const EMREXTTEXTOUTW*>(r);
            const wchar_t* chars = reinterpret_cast<const wchar_t*>(&bytes[at + t->emrtext.offString]);
            RECT clip = {t->emrtext.rcl.left, t->emrtext.rcl.top, t->emrtext.rcl.right,
                         t->emrtext.rcl.bottom};
            d.texts.push_back({std::wstring(chars, t->emrtext.nChars), clip, current});
            break;
        }
        case EMR_CREATEPEN:
            d.pens.push_back(reinterpret_cast<const EMRCREATEPEN*>(r)->lopn);
            break;
        case EMR_MOVETOEX: {
            POINTL p = reinterpret_cast<const EMRMOVETOEX*>(r)->ptl;
            d.moves.push_back({p.x, p.y});
            break;
        }
        case EMR_LINETO: {
            POINTL p = reinterpret_cast<const EMRLINETO*>(r)->ptl;
            d.lines.push_back({p.x, p.y});
            break;
        }
        case EMR_FILLRGN:
        case EMR_FRAMERGN: {
            // Both records keep the region's data at the same place.
            auto f = reinterpret_cast<const EMRFILLRGN*>(r);
            const RGNDATAHEADER* h = reinterpret_cast<const RGNDATAHEADER*>(f->RgnData);
            (r->iType == EMR_FILLRGN ? d.fills : d.frames).push_back(h->rcBound);
            break;
        }
        }
        at += r->nSize;
    }
    return d;
}

// A painted text as it should be: its first characters, its rectangle and
// font at 96 DPI; word-wrapped texts are drawn line by line in one rectangle.
struct want_text {
    std::wstring starts;
    int l, t, r, b;
    int height, weight;
    const wchar_t* face;
    bool lines;
};

void expect_texts(const drawing& d, const std::vector<want_text>& want, int dpi,
                  const std::string& when) {
    size_t at = 0;
    for (const want_text& k : want) {
        std::string what = when + ": " + utf8(k.starts.empty() ? L"code line" : k.starts);
        RECT rect = scaled(k.l, k.t, k.r, k.b, dpi);
        ASSERT_LT(at, d.texts.size()) << what << ": not drawn";
        size_t last = at;
        if (k.lines)
            while (last + 1 < d.texts.size() && EqualRect(&d.texts[last + 1].clip, &d.texts[at].clip))
                ++last;
        for (size_t i = at; i <= last; ++i) {
            const text_out& t = d.texts[i];
            const std::wstring first = k.starts.substr(0, k.starts.find(L'\n'));
            if (i == at) EXPECT_EQ(t.text.compare(0, first.size(), first), 0) << what;
            EXPECT_TRUE(close_to(t.clip, rect)) << what;
            EXPECT_NEAR(t.font.lfHeight, at_dpi(k.height, dpi), 1) << what;
            EXPECT_EQ(t.font.lfWeight, k.weight) << what;
            EXPECT_STREQ(t.font.lfFaceName, k.face) << what;
        }
        at = last + 1;
    }
    EXPECT_EQ(at, d.texts.size()) << when << ": more texts than expected";
}

// Everything painted on a page at a tick, at the DPI the window has.
void expect_painting(HWND w, int page, int tick, const wchar_t* status, int dpi) {
    set_page(page);
    g_anim = tick;
    wcscpy(statusTxt, status);
    drawing d = record([&](HDC dc) { SendMessageW(w, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT); });
    std::string when = "dpi " + std::to_string(dpi) + " page " + std::to_string(page) + " tick " +
                       std::to_string(tick);
    const wchar_t* UI = L"Segoe UI";
    std::vector<want_text> want;
    for (int i = 0; i < 15; ++i) {
        int o = bg_offset(i, tick);
        if (bg_visible(o)) want.push_back({L"", 340 - o, 90 + 18 * i, 640 - o, 106 + 18 * i, 13, 400, L"Consolas", false});
    }
    want.push_back({L"Келво", 24, 12, 460, 56, 42, 700, L"Segoe UI Variable Display", false});
    want.push_back({L"Мова програмування", 24, 54, 460, 72, 14, 400, UI, false});
    if (page == 0) want.push_back({L"Ласкаво просимо", 38, 92, 450, 330, 13, 400, UI, true});
    if (page == 2) {
        want.push_back({status[0] == L'✓' ? L"✓" : L"✗", 38, 88, 450, 130, 42, 700, L"Segoe UI Variable Display", false});
        want.push_back({status, 38, 140, 450, 340, 13, 400, UI, true});
    }
    want.push_back({L"Келво v2.15 · http", 24, 402, 460, 420, 10, 400, UI, false});
    expect_texts(d, want, dpi, when);

    ASSERT_EQ(d.pens.size(), 1u) << when;
    EXPECT_EQ(d.pens[0].lopnWidth.x, std::max(1, at_dpi(1, dpi))) << when;
    EXPECT_EQ(d.pens[0].lopnColor, RULE) << when;
    ASSERT_EQ(d.moves.size(), 1u) << when;
    ASSERT_EQ(d.lines.size(), 1u) << when;
    RECT rule = {d.moves[0].x, d.moves[0].y, d.lines[0].x, d.lines[0].y};
    EXPECT_TRUE(close_to(rule, scaled(24, 76, 456, 76, dpi))) << when << ": separator";
    if (page == 1) {
        ASSERT_EQ(d.fills.size(), 1u) << when;
        RECT card = scaled(24, 86, 456, 275, dpi);
        ++card.right, ++card.bottom;  // the region takes in its right and bottom edges
        EXPECT_TRUE(close_to(d.fills[0], card)) << when << ": card";
    } else {
        EXPECT_TRUE(d.fills.empty()) << when;
    }
}

// Keys and clicks as the message loop shows them to the window.
void input(UINT message, WPARAM key = 0) {
    MSG m = {};
    m.message = message;
    m.wParam = key;
    note_input(&m);
}

// Draws button id of window w at its place, in a canvas of the window's size.
void draw_at_place(HWND w, int id, UINT state, canvas& c) {
    DRAWITEMSTRUCT di = {};
    di.CtlType = ODT_BUTTON;
    di.CtlID = id;
    di.itemAction = ODA_DRAWENTIRE;
    di.itemState = state;
    di.hwndItem = GetDlgItem(w, id);
    di.hDC = c.dc;
    di.rcItem = in_parent(di.hwndItem);
    c.clear(RGB(0, 0, 0));
    SendMessageW(w, WM_DRAWITEM, id, reinterpret_cast<LPARAM>(&di));
}

}  // namespace

TEST(Scaling, TheProgramIsPerMonitorAwareAtThePrefixDpi) {
    std::wstring asked = env(L"KELVO_WINE_DPI");
    EXPECT_EQ(system_dpi(), asked.empty() ? 96 : _wtoi(asked.c_str()))
        << "the prefix's LogPixels did not take";
    EXPECT_EQ(GetAwarenessFromDpiAwarenessContext(GetThreadDpiAwarenessContext()),
              DPI_AWARENESS_PER_MONITOR_AWARE)
        << "not per-monitor aware (Wine 8 makes every process so; the manifest's words are "
           "checked by image_test)";
    HWND w = make_window();
    ASSERT_TRUE(w);
    EXPECT_EQ(static_cast<int>(GetDpiForWindow(w)), system_dpi());
    DestroyWindow(w);
}

TEST(Scaling, FrameControlsAndFontsAreTheir96DpiSizesScaled) {
    HWND w = make_window();
    ASSERT_TRUE(w);
    const int dpi = system_dpi();
    RECT client, outer;
    GetClientRect(w, &client);
    GetWindowRect(w, &outer);
    SIZE c96 = client96();
    EXPECT_NEAR(client.right, s(c96.cx), 1);
    EXPECT_NEAR(client.bottom, s(c96.cy), 1);
    RECT framed = client;
    AdjustWindowRectExForDpi(&framed, STYLE, FALSE, 0, dpi);
    EXPECT_EQ(outer.right - outer.left, framed.right - framed.left) << "frame of the DPI";
    EXPECT_EQ(outer.bottom - outer.top, framed.bottom - framed.top) << "frame of the DPI";
    if (dpi == 96) {
        EXPECT_EQ(outer.right - outer.left, 486);
        EXPECT_EQ(outer.bottom - outer.top, 458);
    }

    // What each control asked for, in creation order, then where it stands.
    std::vector<fixture::created> ours;
    for (const fixture::created& c : fixture::children())
        for (const control& k : CONTROLS)
            if (!lstrcmpiW(k.cls, c.cls.c_str()) && k.text == c.text) ours.push_back(c);
    ASSERT_EQ(ours.size(), 12u);
    for (size_t i = 0; i < 12; ++i) {
        const fixture::created& g = ours[i];
        const control& k = CONTROLS[i];
        std::string what = "control " + std::to_string(i) + " " + utf8(k.text);
        EXPECT_EQ(lstrcmpiW(g.cls.c_str(), k.cls), 0) << what;
        EXPECT_EQ(g.style, k.style) << what;
        EXPECT_EQ(g.id, k.id) << what;
        EXPECT_TRUE(close_to({g.x, g.y, g.x + g.w, g.y + g.h}, scaled(k.x, k.y, k.x + k.w, k.y + k.h, dpi)))
            << what;
    }
    expect_controls_at(w, dpi, "created");
    // The captions and Browse keep the system's font.
    for (int i : {0, 2, 4}) EXPECT_FALSE(SendMessageW(own_children(w)[i], WM_GETFONT, 0, 0)) << i;
    DestroyWindow(w);
}

TEST(Scaling, EverythingPaintedIsScaled) {
    HWND w = make_window();
    ASSERT_TRUE(w);
    const int dpi = system_dpi();
    expect_painting(w, 0, 0, L"", dpi);
    expect_painting(w, 0, 10, L"", dpi);
    expect_painting(w, 1, 25, L"", dpi);
    expect_painting(w, 2, 7, L"✓  Видалення завершено.\n\nКелво прибрано повністю: файли, PATH, асоціація.", dpi);
    expect_painting(w, 2, 18, L"✗  Помилка встановлення.\nПеревірте інтернет або оберіть вбудовану версію.", dpi);

    // A button: its font, its fill over its whole rectangle, no ring.
    set_page(1);
    HWND install = GetDlgItem(w, 1004);
    DRAWITEMSTRUCT di = {};
    di.CtlType = ODT_BUTTON;
    di.CtlID = 1004;
    di.hwndItem = install;
    di.rcItem = in_parent(install);
    drawing d = record([&](HDC dc) {
        di.hDC = dc;
        draw_button(&di);
    });
    ASSERT_EQ(d.texts.size(), 1u);
    EXPECT_EQ(d.texts[0].text, L"Встановити");
    EXPECT_NEAR(d.texts[0].font.lfHeight, s(14), 1);
    EXPECT_EQ(d.texts[0].font.lfWeight, 600);
    ASSERT_EQ(d.fills.size(), 1u);
    RECT fill = di.rcItem;
    ++fill.right, ++fill.bottom;
    EXPECT_TRUE(close_to(d.fills[0], fill));
    EXPECT_TRUE(d.frames.empty());
    DestroyWindow(w);
}

// Corner radius and ring width grow with the DPI, and the ring shows only on
// the focused button once the keyboard has been used, until the next click.
TEST(Scaling, ButtonCornersAndFocusRing) {
    HWND w = make_window();
    ASSERT_TRUE(w);
    RECT client;
    GetClientRect(w, &client);
    canvas c(client.right, client.bottom);
    const int radius = s(10), ring = std::max(1, s(2));
    struct {
        int id;
        COLORREF fill;
    } buttons[] = {{1004, BRAND}, {1006, SECONDARY}};
    set_page(1);
    for (const auto& b : buttons) {
        RECT r = in_parent(GetDlgItem(w, b.id));
        std::string what = "button " + std::to_string(b.id);
        draw_at_place(w, b.id, ODS_FOCUS, c);
        // Outside the rounded corner, on the straight edges just past it.
        EXPECT_EQ(c.at(r.left + radius / 5, r.top + radius / 5), RGB(0, 0, 0)) << what;
        EXPECT_EQ(c.at(r.right - 1 - radius / 5, r.bottom - 1 - radius / 5), RGB(0, 0, 0)) << what;
        EXPECT_EQ(c.at(r.left + radius, r.top), b.fill) << what;
        EXPECT_EQ(c.at(r.left, r.top + radius), b.fill) << what;
        EXPECT_EQ(c.count(BODY, r.left, r.top, r.right + 1, r.bottom + 1), 0) << what << ": ring before keys";

        struct {
            UINT message;
            WPARAM key;
            UINT state;
            bool ring;
        } steps[] = {
            {WM_KEYDOWN, VK_TAB, ODS_FOCUS, true},      {WM_KEYDOWN, VK_TAB, 0, false},
            {WM_LBUTTONDOWN, 0, ODS_FOCUS, false},     {WM_KEYDOWN, 'A', ODS_FOCUS, false},
            {WM_KEYDOWN, VK_RETURN, ODS_FOCUS, true},  {WM_RBUTTONDOWN, 0, ODS_FOCUS, false},
            {WM_KEYDOWN, VK_DOWN, ODS_FOCUS, true},    {WM_LBUTTONDBLCLK, 0, ODS_FOCUS, false},
            {WM_KEYDOWN, VK_SPACE, ODS_FOCUS | ODS_SELECTED, true},
        };
        for (const auto& k : steps) {
            input(k.message, k.key);
            draw_at_place(w, b.id, k.state, c);
            std::string step = what + " message " + std::to_string(k.message) + " key " +
                               std::to_string(k.key) + " state " + std::to_string(k.state);
            int x = (r.left + r.right) / 2;
            for (int y = r.top; y < r.top + ring; ++y)
                EXPECT_EQ(c.at(x, y) == BODY, k.ring) << step << " row " << y - r.top;
            EXPECT_NE(c.at(x, r.top + ring), BODY) << step << ": ring too wide";
            EXPECT_EQ(c.at(r.left + radius / 5, r.top + radius / 5), RGB(0, 0, 0)) << step;
        }
        input(WM_LBUTTONDOWN);
    }
    DestroyWindow(w);
}

// Wine has one monitor and never changes the DPI itself: the message is sent
// here as Windows sends it, with the rectangle it suggests.
TEST(Scaling, DpiChangeLaysTheWindowOutAgain) {
    HWND w = make_window();
    ASSERT_TRUE(w);
    const int dpi = system_dpi();
    RECT before;
    GetWindowRect(w, &before);
    for (int to : {dpi == 192 ? 120 : 192, dpi}) {
        std::string when = "to " + std::to_string(to);
        SIZE c96 = client96();
        RECT suggested = {0, 0, at_dpi(c96.cx, to), at_dpi(c96.cy, to)};
        AdjustWindowRectExForDpi(&suggested, STYLE, FALSE, 0, to);
        OffsetRect(&suggested, before.left + 7 - suggested.left, before.top + 5 - suggested.top);
        if (to == dpi) suggested = before;
        EXPECT_EQ(SendMessageW(w, WM_DPICHANGED, MAKEWPARAM(to, to), reinterpret_cast<LPARAM>(&suggested)), 0);
        RECT now;
        GetWindowRect(w, &now);
        EXPECT_TRUE(EqualRect(&now, &suggested)) << when << ": the suggested rectangle";
        expect_controls_at(w, to, when);
        expect_painting(w, 2, 3, L"✓  Видалення завершено.", to);
        expect_painting(w, 1, 0, L"", to);
    }
    // Back at the start, at 96 DPI the frames are again the recorded ones.
    if (dpi == 96) {
        std::vector<frames::frame> want;
        ASSERT_TRUE(frames::decode(frames96, sizeof frames96, &want));
        for (size_t i = 0; i < want.size(); ++i) {
            frames::frame got = frames::render(w, frames::KINDS[i]);
            EXPECT_TRUE(got.px == want[i].px) << want[i].name;
        }
    }
    DestroyWindow(w);
}
