// Whole frames of the setup window painted into memory, and the compact form
// they are kept in as test data (tests/data/frames96.bin): the window's own
// painting through WM_PRINTCLIENT, then every command button the page shows
// drawn through WM_DRAWITEM at its place, the page's first button with the
// focus state. Nothing here depends on how the window computes its layout.
#pragma once
#include <string>
#include <vector>

#include "kelvo.h"

namespace frames {

struct kind {
    const char* name;
    int page, tick;
    const wchar_t* status;
    bool pressed;
};

// The success text as an install into C:\KelvoPaintTest writes it.
#define KELVO_FRAME_OK                                                                           \
    L"✓  Встановлення завершено!\n\nКаталог:    C:\\KelvoPaintTest\nФайли:      kelvo.exe + " \
    L"KelvoIDE.exe\n\nЗапуск:     kelvo файл.kelvo\nКомпіляція: kelvo --compile файл.kelvo\n"  \
    L"Оновлення:  kelvo --update\nСередовище: запустіть KelvoIDE.exe"

const kind KINDS[] = {
    {"welcome-0", 0, 0, L"", false},
    {"welcome-10-pressed", 0, 10, L"", true},
    {"options-0", 1, 0, L"", false},
    {"options-25-pressed", 1, 25, L"", true},
    {"options-123457", 1, 123457, L"", false},
    {"result-ok-0", 2, 0, KELVO_FRAME_OK, false},
    {"result-fail-7-pressed", 2, 7, L"✗  Помилка встановлення.\nПеревірте інтернет або оберіть вбудовану версію.", true},
    {"result-uninstall-18", 2, 18, L"✓  Видалення завершено.\n\nКелво прибрано повністю: файли, PATH, асоціація.", false},
    {"result-empty-3", 2, 3, L"", false},
};

struct frame {
    std::string name;
    int width = 0, height = 0;
    std::vector<COLORREF> px;  // rows top-down
};

// Paints one frame of window w (built in this process) as kind s asks.
inline frame render(HWND w, const kind& s) {
    frame f;
    f.name = s.name;
    RECT client;
    GetClientRect(w, &client);
    f.width = client.right;
    f.height = client.bottom;
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = f.width;
    bi.bmiHeader.biHeight = -f.height;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    HDC dc = CreateCompatibleDC(nullptr);
    void* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!dc || !bmp) {
        if (bmp) DeleteObject(bmp);
        if (dc) DeleteDC(dc);
        return f;
    }
    HGDIOBJ old = SelectObject(dc, bmp);
    HBRUSH magenta = CreateSolidBrush(RGB(255, 0, 255));
    FillRect(dc, &client, magenta);
    DeleteObject(magenta);

    set_page(s.page);
    g_anim = s.tick;
    wcscpy(statusTxt, s.status);
    SendMessageW(w, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
    bool first = true;
    for (int id = 1001; id <= 1006; ++id) {
        HWND b = GetDlgItem(w, id);
        if (!b || !(GetWindowLongW(b, GWL_STYLE) & WS_VISIBLE)) continue;
        DRAWITEMSTRUCT di = {};
        di.CtlType = ODT_BUTTON;
        di.CtlID = id;
        di.itemAction = ODA_DRAWENTIRE;
        di.itemState = (s.pressed ? ODS_SELECTED : 0) | (first ? ODS_FOCUS : 0);
        di.hwndItem = b;
        di.hDC = dc;
        GetWindowRect(b, &di.rcItem);
        MapWindowPoints(nullptr, w, reinterpret_cast<POINT*>(&di.rcItem), 2);
        SendMessageW(w, WM_DRAWITEM, id, reinterpret_cast<LPARAM>(&di));
        first = false;
    }
    GdiFlush();
    const unsigned* p = static_cast<const unsigned*>(bits);
    f.px.resize(size_t(f.width) * f.height);
    for (size_t i = 0; i < f.px.size(); ++i)  // DIB order is 0x00RRGGBB
        f.px[i] = RGB((p[i] >> 16) & 0xFF, (p[i] >> 8) & 0xFF, p[i] & 0xFF);
    SelectObject(dc, old);
    DeleteObject(bmp);
    DeleteDC(dc);
    return f;
}

// The compact form: "KFR1", a frame count byte, then per frame its name
// (length byte, bytes), width and height (16 bits each, little-endian), a
// palette (count as a number, then B, G, R per colour) and the pixels in rows
// top-down as runs: length, palette index. Numbers are unsigned LEB128.
inline void put_number(std::string& out, size_t v) {
    do {
        unsigned char b = v & 0x7F;
        v >>= 7;
        out += char(v ? b | 0x80 : b);
    } while (v);
}

inline std::string encode(const std::vector<frame>& all) {
    std::string out = "KFR1";
    out += char(all.size());
    for (const frame& f : all) {
        out += char(f.name.size());
        out += f.name;
        for (int v : {f.width, f.height}) {
            out += char(v & 0xFF);
            out += char(v >> 8);
        }
        std::vector<COLORREF> palette;
        std::vector<size_t> index(f.px.size());
        for (size_t i = 0; i < f.px.size(); ++i) {
            size_t k = 0;
            while (k < palette.size() && palette[k] != f.px[i]) ++k;
            if (k == palette.size()) palette.push_back(f.px[i]);
            index[i] = k;
        }
        put_number(out, palette.size());
        for (COLORREF c : palette) {
            out += char(GetBValue(c));
            out += char(GetGValue(c));
            out += char(GetRValue(c));
        }
        for (size_t i = 0; i < index.size();) {
            size_t run = 1;
            while (i + run < index.size() && index[i + run] == index[i]) ++run;
            put_number(out, run);
            put_number(out, index[i]);
            i += run;
        }
    }
    return out;
}

// Reads what encode wrote; false on any inconsistency.
inline bool decode(const unsigned char* data, size_t size, std::vector<frame>* all) {
    size_t at = 0;
    auto byte = [&](unsigned* v) {
        if (at >= size) return false;
        *v = data[at++];
        return true;
    };
    auto number = [&](size_t* v) {
        *v = 0;
        for (int shift = 0; shift < 63; shift += 7) {
            unsigned b;
            if (!byte(&b)) return false;
            *v |= size_t(b & 0x7F) << shift;
            if (!(b & 0x80)) return true;
        }
        return false;
    };
    if (size < 5 || std::string(reinterpret_cast<const char*>(data), 4) != "KFR1") return false;
    at = 4;
    unsigned count, len;
    if (!byte(&count)) return false;
    all->clear();
    for (unsigned n = 0; n < count; ++n) {
        frame f;
        if (!byte(&len) || size - at < len) return false;
        f.name.assign(reinterpret_cast<const char*>(data + at), len);
        at += len;
        unsigned lo, hi;
        if (!byte(&lo) || !byte(&hi)) return false;
        f.width = int(lo | hi << 8);
        if (!byte(&lo) || !byte(&hi)) return false;
        f.height = int(lo | hi << 8);
        size_t colours;
        if (!number(&colours) || colours > (size - at) / 3) return false;
        std::vector<COLORREF> palette(colours);
        for (COLORREF& c : palette) {
            c = RGB(data[at + 2], data[at + 1], data[at]);
            at += 3;
        }
        const size_t total = size_t(f.width) * f.height;
        while (f.px.size() < total) {
            size_t run, k;
            if (!number(&run) || !number(&k) || k >= colours || run > total - f.px.size())
                return false;
            f.px.insert(f.px.end(), run, palette[k]);
        }
        all->push_back(std::move(f));
    }
    return at == size;
}

}  // namespace frames
