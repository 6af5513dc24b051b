// Setup window: the three-page wizard, its commands and all of its drawing.
#include "kelvo.h"
#include "bg_motion.h"
#include "kelvo_config.h"
#include "text_util.h"

#include <shlobj.h>

int g_page = 0;
int g_anim = 0;
wchar_t statusTxt[512];

static HWND hMain, hPath, hChkPath, hCombo;
// The two captions belong to the options page and are shown only there.
static HWND hCapDir, hCapVer;
static HFONT fSubtitle, fBody, fSmall, fMono, fIcon;
static HFONT* const FONTS[5] = {&fSubtitle, &fBody, &fSmall, &fMono, &fIcon};

// What the window is waiting for, if anything. While it waits it goes on
// painting and ticking; commands that reach it meanwhile are run once the
// release list is in, and dropped during an install or uninstall.
enum { WAIT_NONE, WAIT_LIST, WAIT_ACTION };
static int g_wait = WAIT_NONE;
static bool g_list_asked;
static int g_deferred;  // commands queued to run after the release list, in order
static const UINT WM_LOAD_LIST = WM_APP + 1;
static const UINT WM_DEFERRED_COMMAND = WM_APP + 2;
static HBRUSH hbrCard, hbrSurface;
// The control that gets the focus back when the window is activated again.
static HWND hFocus;

// Every layout number below is in 96-DPI units; px() converts one for the
// window's current DPI where it meets the platform, and nowhere else.
static int g_dpi = 96;
static int px(int v) { return MulDiv(v, g_dpi, 96); }

// Set by keys that move the focus or act, cleared by a mouse click: only then
// does the focused button show its ring (Wine never reports keyboard cues,
// and Windows' cues would show one at start).
static bool g_keys = false;

// Every child with its rectangle in 96-DPI units, to lay it out again when
// the DPI changes.
static struct {
    HWND w;
    int x, y, cx, cy;
} placed[12];
static int placed_count = 0;

static const COLORREF C_SURFACE = 0xFFFBFE;
static const COLORREF C_CARD = 0xF7F2FA;
static const COLORREF C_CODE = 0xD8D0E8;
static const COLORREF C_BRAND = 0x6750A4;
static const COLORREF C_BRAND_PRESSED = 0x381E72;
static const COLORREF C_MUTED = 0x79747E;
static const COLORREF C_RULE = 0xCAC4D0;
static const COLORREF C_BODY = 0x1D1B20;
static const COLORREF C_MARK = 0x386A20;
static const COLORREF C_SECONDARY = 0xE8DEF8;
static const COLORREF C_SECONDARY_PRESSED = 0xD0C0E0;
static const COLORREF C_SECONDARY_TEXT = 0x4A4458;
static const COLORREF C_PRIMARY_TEXT = 0xFFFFFF;

enum { ID_NEXT = 1001, ID_BACK, ID_CLOSE, ID_INSTALL, ID_UPDATE, ID_UNINSTALL, ID_BROWSE };
static const int ids[7] = {ID_NEXT, ID_BACK, ID_CLOSE, ID_INSTALL, ID_UPDATE, ID_UNINSTALL, ID_BROWSE};

// The page's primary command: Enter runs it when no command button has the
// focus, and its button takes the focus when the page is shown.
static int primary_id(int page) {
    return page == 0 ? ID_NEXT : page == 1 ? ID_INSTALL : ID_CLOSE;
}

// Owner-drawn buttons, in creation order. Update has a place of its own above
// Install, so no two buttons of the options page cover each other.
static const struct {
    int id;
    const wchar_t* text;
    int x, y, w, h;
} BUTTONS[6] = {
    {ID_NEXT, L"Далі →", 24, 350, 136, 44},
    {ID_BACK, L"← Назад", 24, 350, 136, 44},
    {ID_CLOSE, L"Закрити", 168, 350, 136, 44},
    {ID_INSTALL, L"Встановити", 168, 350, 148, 44},
    {ID_UPDATE, L"Оновити", 168, 290, 148, 44},
    {ID_UNINSTALL, L"Видалити", 326, 350, 120, 44},
};

// Pages on which each command button shows: bit n set = shown on page n.
static int button_pages(int id) {
    switch (id) {
    case ID_NEXT: return 1;
    case ID_CLOSE: return 4;
    case ID_UNINSTALL: return 1 | 2;
    default: return 2;  // Back, Install, Update, Browse
    }
}

static const wchar_t* const BG_CODE[15] = {
    L"print('Келво')",
    L"let a = [1,2,3]; sort(a)",
    L"fn hello(name) {",
    L"  return 'Привіт, ' + name",
    L"}",
    L"for i in range(5) { print(i) }",
    L"kelvo --compile app.kelvo",
    L"let x = 42",
    L"random(1, 100)",
    L"input('як тебе звати? ')",
    L"while x > 0 { x = x - 1 }",
    L"print(len('Келво'))",
    L"let arr = push([1,2], 3)",
    L"print('hi' * 5)",
    L"print(now() > 1000000000)",
};

static const wchar_t WELCOME[] =
    L"Ласкаво просимо до встановлення Келва!\n\nВстановлення включає:\n"
    L"  •  kelvo — інтерпретатор мови\n  •  KelvoIDE — редактор з підсвіткою\n"
    L"  •  Асоціація .kelvo (подвійний клік = запуск)\n\nkelvo --compile → файл.exe\n"
    L"  (власна компіляція БЕЗ компілятора C)\n\n"
    L"Натисніть «Далі», щоб обрати каталог і версію.";

static const wchar_t OK_HEAD[] = L"✓  Встановлення завершено!\n\nКаталог:    ";
static const wchar_t OK_TAIL[] =
    L"\nФайли:      kelvo.exe + KelvoIDE.exe\n\nЗапуск:     kelvo файл.kelvo\n"
    L"Компіляція: kelvo --compile файл.kelvo\nОновлення:  kelvo --update\n"
    L"Середовище: запустіть KelvoIDE.exe";
static const wchar_t FAIL_TEXT[] =
    L"✗  Помилка встановлення.\nПеревірте інтернет або оберіть вбудовану версію.";
static const wchar_t UNINSTALL_TEXT[] =
    L"✓  Видалення завершено.\n\nКелво прибрано повністю: файли, PATH, асоціація.";
// A program still running keeps its file: say so rather than claim success.
static const wchar_t NOT_FINISHED[] =
    L"✗  Видалення не завершено.\nЗакрийте kelvo та KelvoIDE і повторіть видалення.";
// The longest directory (259 characters) always fits into the success text.
static_assert(sizeof OK_HEAD / sizeof(wchar_t) - 1 + 259 + sizeof OK_TAIL / sizeof(wchar_t) <=
                  sizeof statusTxt / sizeof(wchar_t),
              "success text must hold any install directory");

static const UINT SINGLE = DT_SINGLELINE | DT_LEFT | DT_TOP | DT_NOPREFIX;
static const UINT WRAPPED = DT_WORDBREAK | DT_LEFT | DT_TOP | DT_NOPREFIX;

static HFONT make_font(int height, int weight, const wchar_t* face) {
    return CreateFontW(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH, face);
}

void round_fill(HDC dc, int left, int top, int right, int bottom, COLORREF colour, int radius) {
    HBRUSH brush = CreateSolidBrush(colour);
    HRGN rgn = CreateRoundRectRgn(left, top, right + 1, bottom + 1, 2 * radius, 2 * radius);
    if (brush && rgn) FillRgn(dc, rgn, brush);
    if (rgn) DeleteObject(rgn);
    if (brush) DeleteObject(brush);
}

static void draw_text(HDC dc, const wchar_t* text, int l, int t, int r, int b, UINT flags) {
    RECT rc = {px(l), px(t), px(r), px(b)};
    DrawTextW(dc, text, -1, &rc, flags);
}

// Draws the whole client area into any drawing context: the window's own, one
// handed over by WM_PRINTCLIENT, or a memory bitmap. Leaves the context's
// font, text colour and background mode as it found them.
void paint_client(HDC dc) {
    RECT client;
    if (!hMain || !GetClientRect(hMain, &client)) GetClipBox(dc, &client);
    int old_mode = SetBkMode(dc, TRANSPARENT);
    COLORREF old_colour = GetTextColor(dc);
    FillRect(dc, &client, hbrSurface);

    HGDIOBJ old_font = SelectObject(dc, fMono);
    SetTextColor(dc, C_CODE);
    for (int i = 0; i < 15; ++i) {
        int o = bg_offset(i, g_anim);
        if (!bg_visible(o)) continue;
        int top = 90 + 18 * i;
        draw_text(dc, BG_CODE[i], 340 - o, top, 640 - o, top + 16, SINGLE);
    }

    SelectObject(dc, fIcon);
    SetTextColor(dc, C_BRAND);
    draw_text(dc, L"Келво", 24, 12, 460, 56, SINGLE);

    wchar_t line[160];
    wcopy(line, 160, L"Мова програмування · Інсталятор v");
    wappend(line, 160, CUR_VER);
    SelectObject(dc, fSubtitle);
    SetTextColor(dc, C_MUTED);
    draw_text(dc, line, 24, 54, 460, 72, SINGLE);

    int pen_width = px(1);
    HPEN pen = CreatePen(PS_SOLID, pen_width < 1 ? 1 : pen_width, C_RULE);
    HGDIOBJ old_pen = SelectObject(dc, pen);
    MoveToEx(dc, px(24), px(76), NULL);
    LineTo(dc, px(456), px(76));
    SelectObject(dc, old_pen);
    DeleteObject(pen);

    if (g_page == 0) {
        SetTextColor(dc, C_BODY);
        SelectObject(dc, fBody);
        draw_text(dc, WELCOME, 38, 92, 450, 330, WRAPPED);
    } else if (g_page == 1) {
        round_fill(dc, px(24), px(86), px(456), px(275), C_CARD, px(12));
    } else {
        SetTextColor(dc, C_MARK);
        SelectObject(dc, fIcon);
        draw_text(dc, statusTxt[0] == L'✓' ? L"✓" : L"✗", 38, 88, 450, 130, SINGLE);
        SetTextColor(dc, C_BODY);
        SelectObject(dc, fBody);
        draw_text(dc, statusTxt[0] ? statusTxt : L"Готово", 38, 140, 450, 340, WRAPPED);
    }

    wcopy(line, 160, L"Келво v");
    wappend(line, 160, CUR_VER);
    wappend(line, 160, L" · ");
    wappend(line, 160, KELVO_URL_REPO_PAGE);
    SelectObject(dc, fSmall);
    SetTextColor(dc, C_MUTED);
    draw_text(dc, line, 24, 402, 460, 420, SINGLE);

    SelectObject(dc, old_font);
    SetTextColor(dc, old_colour);
    SetBkMode(dc, old_mode);
}

void draw_button(const DRAWITEMSTRUCT* item) {
    if (item->CtlType != ODT_BUTTON) return;
    bool secondary = item->CtlID == ID_BACK || item->CtlID == ID_UNINSTALL;
    bool pressed = (item->itemState & ODS_SELECTED) != 0;
    COLORREF fill = secondary ? (pressed ? C_SECONDARY_PRESSED : C_SECONDARY)
                              : (pressed ? C_BRAND_PRESSED : C_BRAND);
    const RECT& r = item->rcItem;
    round_fill(item->hDC, r.left, r.top, r.right, r.bottom, fill, px(10));
    if (g_keys && (item->itemState & ODS_FOCUS)) {
        // The focus ring: the button's own outline, 2 pixels at 96 DPI.
        int width = px(2);
        HBRUSH ring = CreateSolidBrush(C_BODY);
        HRGN rgn = CreateRoundRectRgn(r.left, r.top, r.right + 1, r.bottom + 1, 2 * px(10),
                                      2 * px(10));
        if (ring && rgn) FrameRgn(item->hDC, rgn, ring, width, width);
        if (rgn) DeleteObject(rgn);
        if (ring) DeleteObject(ring);
    }

    HFONT font = make_font(px(14), 600, L"Segoe UI");
    HGDIOBJ old_font = SelectObject(item->hDC, font);
    SetBkMode(item->hDC, TRANSPARENT);
    SetTextColor(item->hDC, secondary ? C_SECONDARY_TEXT : C_PRIMARY_TEXT);
    wchar_t text[64];
    int n = GetWindowTextW(item->hwndItem, text, 64);
    if (n < 0) n = 0;
    text[n < 64 ? n : 63] = 0;
    RECT rc = r;
    DrawTextW(item->hDC, text, -1, &rc, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(item->hDC, old_font);
    if (font) DeleteObject(font);
}

static void show_if(HWND w, bool shown) {
    if (w) ShowWindow(w, shown ? SW_SHOW : SW_HIDE);
}

void set_page(int page) {
    g_page = page;
    show_if(hPath, page == 1);
    show_if(hChkPath, page == 1);
    show_if(hCombo, page == 1);
    show_if(hCapDir, page == 1);
    show_if(hCapVer, page == 1);
    for (int id : ids) {
        HWND child = hMain ? GetDlgItem(hMain, id) : NULL;
        show_if(child, (button_pages(id) >> page & 1) != 0);
    }
    // The page's primary button takes the focus; an inactive window gives it
    // when it is activated.
    hFocus = hMain ? GetDlgItem(hMain, primary_id(page)) : NULL;
    if (hFocus && GetActiveWindow() == hMain) SetFocus(hFocus);
    if (hMain) {
        InvalidateRect(hMain, NULL, TRUE);
        UpdateWindow(hMain);
    }
}

// A non-empty directory edit is the directory the user means; an empty one
// leaves APP_DIR as it was.
static void take_directory() {
    wchar_t typed[260];
    typed[0] = 0;
    if (hPath) GetWindowTextW(hPath, typed, 260);
    typed[259] = 0;
    if (typed[0]) wcopy(APP_DIR, 260, typed);
}

static void show_result(const wchar_t* head, const wchar_t* dir, const wchar_t* tail) {
    wcopy(statusTxt, 512, head);
    if (dir) wappend(statusTxt, 512, dir);
    if (tail) wappend(statusTxt, 512, tail);
    if (hMain) InvalidateRect(hMain, NULL, TRUE);
    set_page(2);
}

// Clicks and keys given while an install or uninstall ran were meant for a
// window that no longer shows the same page: none of them may act now.
static void discard_input() {
    MSG msg;
    while (PeekMessageW(&msg, NULL, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE)) {}
    while (PeekMessageW(&msg, NULL, WM_MOUSEFIRST, WM_MOUSELAST, PM_REMOVE)) {}
    while (PeekMessageW(&msg, NULL, WM_NCMOUSEMOVE, WM_NCXBUTTONDBLCLK, PM_REMOVE)) {}
}

static void install_action() {
    take_directory();
    bool patch = hChkPath && SendMessageW(hChkPath, BM_GETCHECK, 0, 0) == BST_CHECKED;
    int choice = hCombo ? static_cast<int>(SendMessageW(hCombo, CB_GETCURSEL, 0, 0)) : 0;
    if (choice < 0) choice = 0;
    g_wait = WAIT_ACTION;
    int ok = do_install(patch, choice);
    g_wait = WAIT_NONE;
    discard_input();
    if (ok)
        show_result(OK_HEAD, APP_DIR, OK_TAIL);
    else
        show_result(FAIL_TEXT, NULL, NULL);
}

static void uninstall_action() {
    take_directory();
    g_wait = WAIT_ACTION;
    int complete = do_uninstall();
    g_wait = WAIT_NONE;
    discard_input();
    show_result(complete ? UNINSTALL_TEXT : NOT_FINISHED, NULL, NULL);
}

// The release list is fetched once the window has been painted, so a slow
// or silent host never keeps the window from appearing. The version list is
// disabled until then.
static void load_version_list() {
    g_wait = WAIT_LIST;
    load_releases();
    g_wait = WAIT_NONE;
    if (!hCombo) return;
    for (int k = 0; k < ver_count && k < 16; ++k)
        SendMessageW(hCombo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(ver_urls[k].tag));
    SendMessageW(hCombo, CB_SETCURSEL, 2, 0);
    EnableWindow(hCombo, TRUE);
}

typedef HRESULT(WINAPI* co_init_fn)(void*, DWORD);
typedef void(WINAPI* co_void_fn)();
typedef void(WINAPI* co_free_fn)(void*);

// The COM library is loaded only when the folder dialog is asked for, so the
// window's start does not pay for it.
static void browse_action() {
    HMODULE ole = load_system_library(L"ole32.dll");
    co_init_fn co_init = NULL;
    co_void_fn co_uninit = NULL;
    co_free_fn co_free = NULL;
    if (ole) {
        co_init = reinterpret_cast<co_init_fn>(
            reinterpret_cast<void*>(GetProcAddress(ole, "CoInitializeEx")));
        co_uninit = reinterpret_cast<co_void_fn>(
            reinterpret_cast<void*>(GetProcAddress(ole, "CoUninitialize")));
        co_free = reinterpret_cast<co_free_fn>(
            reinterpret_cast<void*>(GetProcAddress(ole, "CoTaskMemFree")));
    }
    // The new-style dialog wants a single-threaded apartment.
    bool com = co_init && co_uninit && SUCCEEDED(co_init(NULL, COINIT_APARTMENTTHREADED));

    BROWSEINFOW bi = {};
    bi.hwndOwner = hMain;
    bi.lpszTitle = L"Оберіть каталог для встановлення Келва";
    bi.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    LPITEMIDLIST pidl = SHBrowseForFolderW(&bi);
    if (pidl) {
        wchar_t path[MAX_PATH];
        if (SHGetPathFromIDListW(pidl, path) && hPath) SetWindowTextW(hPath, path);
        if (co_free) co_free(pidl);
    }
    if (com) co_uninit();
    if (ole) FreeLibrary(ole);
}

static void run_command(int id) {
    switch (id) {
    case ID_NEXT: set_page(1); break;
    case ID_BACK: set_page(0); break;
    case ID_CLOSE: if (hMain) DestroyWindow(hMain); break;
    case ID_INSTALL:
    case ID_UPDATE: install_action(); break;
    case ID_UNINSTALL: uninstall_action(); break;
    case ID_BROWSE: browse_action(); break;
    }
}

static void command(int id) {
    // A command runs only from the page that shows its button, so nothing
    // queued behind an install can start another one.
    if (g_wait == WAIT_NONE && (button_pages(id) >> g_page & 1)) run_command(id);
}

static HWND child(const wchar_t* cls, const wchar_t* text, DWORD style, int x, int y, int w,
                  int h, int id) {
    HWND made = CreateWindowExW(0, cls, text, style, px(x), px(y), px(w), px(h), hMain,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                GetModuleHandleW(NULL), NULL);
    if (made && placed_count < 12) {
        placed[placed_count].w = made;
        placed[placed_count].x = x;
        placed[placed_count].y = y;
        placed[placed_count].cx = w;
        placed[placed_count].cy = h;
        ++placed_count;
    }
    return made;
}

static void set_body_font(HWND w) {
    SendMessageW(w, WM_SETFONT, reinterpret_cast<WPARAM>(fBody), TRUE);
}

static void make_fonts() {
    fSubtitle = make_font(px(14), 400, L"Segoe UI");
    fBody = make_font(px(13), 400, L"Segoe UI");
    fSmall = make_font(px(10), 400, L"Segoe UI");
    fMono = make_font(px(13), 400, L"Consolas");
    fIcon = make_font(px(42), 700, L"Segoe UI Variable Display");
}

typedef UINT(WINAPI* dpi_of_window_fn)(HWND);
typedef UINT(WINAPI* dpi_of_system_fn)();
typedef BOOL(WINAPI* adjust_for_dpi_fn)(RECT*, DWORD, BOOL, DWORD, UINT);

// The DPI functions arrived with Windows 10 version 1607; user32 is loaded
// already, so they are looked up there, and older systems get the system DPI.
static FARPROC user32_proc(const char* name) {
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    return user32 ? GetProcAddress(user32, name) : NULL;
}

static int system_dpi() {
    dpi_of_system_fn of_system = reinterpret_cast<dpi_of_system_fn>(
        reinterpret_cast<void*>(user32_proc("GetDpiForSystem")));
    int dpi = of_system ? static_cast<int>(of_system()) : 0;
    if (dpi <= 0) {
        HDC screen = GetDC(NULL);
        if (screen) {
            dpi = GetDeviceCaps(screen, LOGPIXELSY);
            ReleaseDC(NULL, screen);
        }
    }
    return dpi > 0 ? dpi : 96;
}

static int window_dpi(HWND w) {
    dpi_of_window_fn of_window = reinterpret_cast<dpi_of_window_fn>(
        reinterpret_cast<void*>(user32_proc("GetDpiForWindow")));
    int dpi = of_window ? static_cast<int>(of_window(w)) : 0;
    return dpi > 0 ? dpi : system_dpi();
}

static const DWORD MAIN_STYLE = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

static void add_frame(RECT* r, int dpi) {
    adjust_for_dpi_fn adjust = reinterpret_cast<adjust_for_dpi_fn>(
        reinterpret_cast<void*>(user32_proc("AdjustWindowRectExForDpi")));
    if (!adjust || !adjust(r, MAIN_STYLE, FALSE, 0, static_cast<UINT>(dpi)))
        AdjustWindowRectEx(r, MAIN_STYLE, FALSE, 0);
}

// Outer size at a DPI: the client area that the 486 x 458 frame has at 96 DPI,
// scaled, inside the frame of that DPI.
static SIZE frame_size(int dpi) {
    RECT frame96 = {0, 0, 0, 0};
    add_frame(&frame96, 96);
    RECT r = {0, 0, MulDiv(486 - (frame96.right - frame96.left), dpi, 96),
              MulDiv(458 - (frame96.bottom - frame96.top), dpi, 96)};
    add_frame(&r, dpi);
    SIZE size = {r.right - r.left, r.bottom - r.top};
    return size;
}

HWND create_main_window(HINSTANCE inst) {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = WndProc;
    wc.hInstance = inst;
    // Shared icons of the standard sizes: the system owns and frees them.
    wc.hIcon = LoadIconW(inst, MAKEINTRESOURCEW(1));
    wc.hIconSm = static_cast<HICON>(LoadImageW(inst, MAKEINTRESOURCEW(1), IMAGE_ICON,
                                               GetSystemMetrics(SM_CXSMICON),
                                               GetSystemMetrics(SM_CYSMICON), LR_SHARED));
    wc.hCursor = LoadCursorW(NULL, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = L"KelvoSetup";
    RegisterClassExW(&wc);
    // Sized for the system DPI; the create handler corrects it when the
    // window opens on a monitor of another.
    SIZE size = frame_size(system_dpi());
    return CreateWindowExW(0, L"KelvoSetup", L"Келво — Встановлення", MAIN_STYLE, CW_USEDEFAULT,
                           CW_USEDEFAULT, size.cx, size.cy, NULL, NULL, inst, NULL);
}

// Gives the window the outer size of its DPI, where it stands.
static void fit_frame() {
    SIZE size = frame_size(g_dpi);
    RECT outer;
    if (GetWindowRect(hMain, &outer) &&
        (outer.right - outer.left != size.cx || outer.bottom - outer.top != size.cy))
        SetWindowPos(hMain, NULL, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// Takes a new DPI: fonts made anew, children moved, and the rectangle the
// system suggests (the size of that DPI where none is given).
static void rescale(int dpi, const RECT* suggested) {
    g_dpi = dpi;
    HFONT old[5];
    for (int i = 0; i < 5; ++i) old[i] = *FONTS[i];
    make_fonts();
    HWND bodied[3] = {hPath, hChkPath, hCombo};
    for (HWND w : bodied)
        if (w) SendMessageW(w, WM_SETFONT, reinterpret_cast<WPARAM>(fBody), TRUE);
    for (HFONT f : old)
        if (f) DeleteObject(f);
    for (int i = 0; i < placed_count; ++i)
        SetWindowPos(placed[i].w, NULL, px(placed[i].x), px(placed[i].y), px(placed[i].cx),
                     px(placed[i].cy), SWP_NOZORDER | SWP_NOACTIVATE);
    if (suggested)
        SetWindowPos(hMain, NULL, suggested->left, suggested->top,
                     suggested->right - suggested->left, suggested->bottom - suggested->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    else
        fit_frame();
    InvalidateRect(hMain, NULL, TRUE);
}

void note_input(const MSG* msg) {
    bool key = false, click = false;
    switch (msg->message) {
    case WM_KEYDOWN:
        key = msg->wParam == VK_TAB || msg->wParam == VK_RETURN || msg->wParam == VK_SPACE ||
              (msg->wParam >= VK_LEFT && msg->wParam <= VK_DOWN);
        break;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
        click = true;
        break;
    }
    if ((!key && !click) || key == g_keys) return;
    g_keys = key;
    // The focused button draws itself again, with or without its ring.
    HWND focus = GetFocus();
    if (focus && hMain && IsChild(hMain, focus)) InvalidateRect(focus, NULL, FALSE);
}

typedef HRESULT(WINAPI* dwm_set_fn)(HWND, DWORD, const void*, DWORD);

static void build(HWND hwnd) {
    hMain = hwnd;
    g_dpi = window_dpi(hwnd);
    make_fonts();
    hbrCard = CreateSolidBrush(C_CARD);
    hbrSurface = CreateSolidBrush(C_SURFACE);

    const DWORD shown = WS_CHILD | WS_VISIBLE;
    hCapDir = child(L"STATIC", L"Каталог встановлення:", shown, 44, 108, 340, 20, 0);
    hPath = child(L"EDIT", APP_DIR, shown | WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL, 44, 130, 310,
                  28, 0);
    set_body_font(hPath);
    child(L"BUTTON", L"Огляд...", shown | WS_TABSTOP | BS_PUSHBUTTON, 362, 130, 78, 28, ID_BROWSE);
    hChkPath = child(L"BUTTON", L"Патчити PATH — запуск з будь-якого терміналу",
                     shown | WS_TABSTOP | BS_AUTOCHECKBOX, 44, 170, 380, 24, 0);
    set_body_font(hChkPath);
    SendMessageW(hChkPath, BM_SETCHECK, BST_CHECKED, 0);
    hCapVer = child(L"STATIC", L"Версія:", shown, 44, 200, 340, 18, 0);
    hCombo = child(L"COMBOBOX", NULL, shown | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST, 44, 222,
                   330, 220, 0);
    set_body_font(hCombo);

    SendMessageW(hCombo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"Вбудована (офлайн)"));
    SendMessageW(hCombo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"Остання з GitHub"));
    g_list_asked = false;  // the release tags follow after the first paint
    EnableWindow(hCombo, FALSE);

    for (const auto& b : BUTTONS)
        child(L"BUTTON", b.text, WS_CHILD | WS_TABSTOP | BS_OWNERDRAW, b.x, b.y, b.w, b.h, b.id);

    SetTimer(hwnd, 1, 130, NULL);

    HMODULE dwm = load_system_library(L"dwmapi.dll");
    if (dwm) {
        dwm_set_fn set_attr = reinterpret_cast<dwm_set_fn>(
            reinterpret_cast<void*>(GetProcAddress(dwm, "DwmSetWindowAttribute")));
        DWORD round = 2;  // DWMWCP_ROUND
        if (set_attr) set_attr(hwnd, 33, &round, sizeof round);  // DWMWA_WINDOW_CORNER_PREFERENCE
    }
    fit_frame();  // created for the system DPI; the monitor it opened on may have another
    set_page(0);
}

static void release() {
    if (hMain) KillTimer(hMain, 1);
    for (HFONT* f : FONTS) {
        if (*f) DeleteObject(*f);
        *f = NULL;
    }
    if (hbrCard) DeleteObject(hbrCard);
    if (hbrSurface) DeleteObject(hbrSurface);
    hbrCard = hbrSurface = NULL;
    hMain = hPath = hChkPath = hCombo = hCapDir = hCapVer = hFocus = NULL;
    placed_count = 0;
    g_keys = false;
    g_deferred = 0;
}

LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_CREATE:
        build(hwnd);
        return 0;
    case WM_DESTROY:
        release();
        PostQuitMessage(0);
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        if (dc) paint_client(dc);  // sets the transparent background itself
        EndPaint(hwnd, &ps);
        if (!g_list_asked) {
            g_list_asked = true;
            PostMessageW(hwnd, WM_LOAD_LIST, 0, 0);
        }
        return 0;
    }
    case WM_LOAD_LIST:
        load_version_list();
        return 0;
    case WM_DEFERRED_COMMAND:
        if (g_deferred > 0) --g_deferred;
        command(LOWORD(wParam));
        return 0;
    case WM_CLOSE:
        // Closing waits until the wait is over (a send from another thread
        // can arrive in the middle of it).
        if (g_wait != WAIT_NONE) {
            PostMessageW(hwnd, WM_CLOSE, 0, 0);
            return 0;
        }
        break;
    case WM_PRINTCLIENT:
        paint_client(reinterpret_cast<HDC>(wParam));
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_DRAWITEM: {
        const DRAWITEMSTRUCT* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        if (item && item->CtlType == ODT_BUTTON) {
            draw_button(item);
            return 1;
        }
        break;
    }
    case WM_COMMAND: {
        int id = LOWORD(wParam);
        if (id == IDCANCEL) {  // Esc: as the close box
            SendMessageW(hwnd, WM_CLOSE, 0, 0);
            break;
        }
        if (id < ID_NEXT || id > ID_BROWSE) break;
        if (g_wait == WAIT_LIST || g_deferred) {
            ++g_deferred;
            PostMessageW(hwnd, WM_DEFERRED_COMMAND, wParam, 0);
            return 0;
        }
        command(id);
        break;
    }
    case DM_GETDEFID: {
        // Enter presses the focused command button, or else the page's primary one.
        HWND focus = GetFocus();
        int id = focus && GetParent(focus) == hwnd ? GetDlgCtrlID(focus) : 0;
        if (id < ID_NEXT || id > ID_BROWSE) id = primary_id(g_page);
        return MAKELRESULT(id, DC_HASDEFID);
    }
    case WM_ACTIVATE:
        if (LOWORD(wParam) == WA_INACTIVE) {
            HWND focus = GetFocus();
            if (focus && IsChild(hwnd, focus)) hFocus = focus;
        } else if (!HIWORD(wParam) && hFocus && (GetWindowLongW(hFocus, GWL_STYLE) & WS_VISIBLE)) {
            SetFocus(hFocus);
            return 0;
        }
        break;
    case WM_DPICHANGED:
        rescale(LOWORD(wParam), reinterpret_cast<const RECT*>(lParam));
        return 0;
    case WM_TIMER:
        g_anim = bg_next_tick(g_anim);
        InvalidateRect(hwnd, NULL, TRUE);
        return 0;
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORSTATIC: {
        HDC dc = reinterpret_cast<HDC>(wParam);
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, C_BODY);
        return reinterpret_cast<LRESULT>(hbrCard);
    }
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}
