// Setup window: three pages (welcome, options, result), painted by hand.
#include "kelvo.h"
#include "bg_motion.h"
#include "kelvo_config.h"
#include "text_util.h"

#include <shellapi.h>
#include <shlobj.h>

int g_page = 0;
int g_anim = 0;
wchar_t statusTxt[512];

HWND hMain, hPath, hChkPath, hCombo;
static HWND hCapDir, hCapVer;  // the captions follow the options page
static HFONT fSubtitle, fBody, fSmall, fMono, fIcon;
static HBRUSH hbrCard, hbrSurface;

namespace {

const COLORREF C_SURFACE = 0xFFFBFE;
const COLORREF C_CARD = 0xF7F2FA;
const COLORREF C_CODE = 0xD8D0E8;
const COLORREF C_BRAND = 0x6750A4;
const COLORREF C_BRAND_PRESSED = 0x381E72;
const COLORREF C_MUTED = 0x79747E;
const COLORREF C_RULE = 0xCAC4D0;
const COLORREF C_BODY = 0x1D1B20;
const COLORREF C_MARK = 0x386A20;
const COLORREF C_SECONDARY = 0xE8DEF8;
const COLORREF C_SECONDARY_PRESSED = 0xD0C0E0;
const COLORREF C_SECONDARY_TEXT = 0x4A4458;
const COLORREF C_PRIMARY_TEXT = 0xFFFFFF;

const int ids[] = {1001, 1002, 1003, 1004, 1005, 1006, 1007};

const wchar_t* const BG_CODE[15] = {
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

const wchar_t WELCOME[] =
    L"Ласкаво просимо до встановлення Келва!\n\nВстановлення включає:\n"
    L"  •  kelvo — інтерпретатор мови\n  •  KelvoIDE — редактор з підсвіткою\n"
    L"  •  Асоціація .kelvo (подвійний клік = запуск)\n\nkelvo --compile → файл.exe\n"
    L"  (власна компіляція БЕЗ компілятора C)\n\nНатисніть «Далі», щоб обрати каталог і версію.";
const wchar_t DONE_HEAD[] = L"✓  Встановлення завершено!\n\nКаталог:    ";
const wchar_t DONE_TAIL[] =
    L"\nФайли:      kelvo.exe + KelvoIDE.exe\n\nЗапуск:     kelvo файл.kelvo\n"
    L"Компіляція: kelvo --compile файл.kelvo\nОновлення:  kelvo --update\n"
    L"Середовище: запустіть KelvoIDE.exe";
const wchar_t FAILED[] = L"✗  Помилка встановлення.\nПеревірте інтернет або оберіть вбудовану версію.";
const wchar_t REMOVED[] = L"✓  Видалення завершено.\n\nКелво прибрано повністю: файли, PATH, асоціація.";

struct button_def {
    int id;
    const wchar_t* text;
    int x, w;
};
// Back, Update and Install share the row left of Uninstall on the options
// page, so none of them covers another.
const button_def BUTTONS[] = {
    {1001, L"Далі →", 24, 136},  {1002, L"← Назад", 24, 92},    {1003, L"Закрити", 168, 136},
    {1004, L"Встановити", 224, 94}, {1005, L"Оновити", 124, 92}, {1006, L"Видалити", 326, 120},
};

HFONT make_font(int height, int weight, const wchar_t* face) {
    return CreateFontW(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, face);
}

HWND child(const wchar_t* cls, const wchar_t* text, DWORD style, int x, int y, int w, int h, int id) {
    return CreateWindowExW(0, cls, text, style, x, y, w, h, hMain,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                           GetModuleHandleW(NULL), NULL);
}

void text_at(HDC dc, const wchar_t* text, int l, int t, int r, int b, UINT flags) {
    RECT rc = {l, t, r, b};
    DrawTextW(dc, text, -1, &rc, flags | DT_NOPREFIX);
}

const UINT ONE_LINE = DT_SINGLELINE | DT_LEFT | DT_TOP;
const UINT WRAPPED = DT_WORDBREAK | DT_LEFT | DT_TOP;

// Rounded corners where the desktop window manager offers them; the library
// is looked up at run time so older systems simply go without.
void round_corners(HWND hwnd) {
    typedef HRESULT(WINAPI * set_attr_fn)(HWND, DWORD, LPCVOID, DWORD);
    HMODULE dwm = LoadLibraryW(L"dwmapi.dll");
    if (!dwm) return;
    set_attr_fn set_attr = reinterpret_cast<set_attr_fn>(
        reinterpret_cast<void*>(GetProcAddress(dwm, "DwmSetWindowAttribute")));
    if (!set_attr) return;
    DWORD round = 2;  // DWMWCP_ROUND
    set_attr(hwnd, 33, &round, sizeof round);  // DWMWA_WINDOW_CORNER_PREFERENCE
}

void on_create(HWND hwnd) {
    hMain = hwnd;
    fSubtitle = make_font(14, 400, L"Segoe UI");
    fBody = make_font(13, 400, L"Segoe UI");
    fSmall = make_font(10, 400, L"Segoe UI");
    fMono = make_font(13, 400, L"Consolas");
    fIcon = make_font(42, 700, L"Segoe UI Variable Display");
    hbrCard = CreateSolidBrush(C_CARD);
    hbrSurface = CreateSolidBrush(C_SURFACE);

    const DWORD VIS = WS_CHILD | WS_VISIBLE;
    hCapDir = child(L"STATIC", L"Каталог встановлення:", VIS, 44, 108, 340, 20, 0);
    hPath = child(L"EDIT", APP_DIR, VIS | WS_BORDER | ES_AUTOHSCROLL, 44, 130, 310, 28, 0);
    SendMessageW(hPath, WM_SETFONT, reinterpret_cast<WPARAM>(fBody), TRUE);
    child(L"BUTTON", L"Огляд...", VIS | BS_PUSHBUTTON, 362, 130, 78, 28, 1007);
    hChkPath = child(L"BUTTON", L"Патчити PATH — запуск з будь-якого терміналу",
                     VIS | WS_TABSTOP | BS_AUTOCHECKBOX, 44, 170, 380, 24, 0);
    SendMessageW(hChkPath, WM_SETFONT, reinterpret_cast<WPARAM>(fBody), TRUE);
    SendMessageW(hChkPath, BM_SETCHECK, BST_CHECKED, 0);
    hCapVer = child(L"STATIC", L"Версія:", VIS, 44, 200, 340, 18, 0);
    hCombo = child(L"COMBOBOX", NULL, VIS | WS_VSCROLL | CBS_DROPDOWNLIST, 44, 222, 330, 220, 0);
    SendMessageW(hCombo, WM_SETFONT, reinterpret_cast<WPARAM>(fBody), TRUE);

    SendMessageW(hCombo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"Вбудована (офлайн)"));
    SendMessageW(hCombo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"Остання з GitHub"));
    load_releases();
    for (int i = 0; i < ver_count; ++i)
        SendMessageW(hCombo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(ver_urls[i].tag));
    SendMessageW(hCombo, CB_SETCURSEL, 2, 0);  // refused while the table is empty

    for (const button_def& b : BUTTONS)
        child(L"BUTTON", b.text, WS_CHILD | WS_TABSTOP | BS_OWNERDRAW, b.x, 350, b.w, 44, b.id);

    SetTimer(hwnd, 1, 130, NULL);
    round_corners(hwnd);
    set_page(0);
}

void on_destroy(HWND hwnd) {
    KillTimer(hwnd, 1);
    HFONT* fonts[] = {&fSubtitle, &fBody, &fSmall, &fMono, &fIcon};
    for (HFONT* f : fonts) {
        if (*f) DeleteObject(*f);
        *f = NULL;
    }
    if (hbrCard) DeleteObject(hbrCard);
    if (hbrSurface) DeleteObject(hbrSurface);
    hbrCard = hbrSurface = NULL;
    hMain = hPath = hChkPath = hCombo = hCapDir = hCapVer = NULL;
    PostQuitMessage(0);
}

// The directory the user sees becomes the one acted on; an empty edit keeps it.
void take_typed_dir() {
    wchar_t typed[260];
    typed[0] = 0;
    if (hPath) GetWindowTextW(hPath, typed, 260);
    if (typed[0]) wcopy(APP_DIR, 260, typed);
}

void show_result() {
    if (hMain) InvalidateRect(hMain, NULL, TRUE);
    set_page(2);
}

void install_action() {
    take_typed_dir();
    bool patch = hChkPath && SendMessageW(hChkPath, BM_GETCHECK, 0, 0) == BST_CHECKED;
    int choice = hCombo ? static_cast<int>(SendMessageW(hCombo, CB_GETCURSEL, 0, 0)) : 0;
    if (choice < 0) choice = 0;
    if (do_install(patch, choice)) {
        wcopy(statusTxt, 512, DONE_HEAD);
        wappend(statusTxt, 512, APP_DIR);
        wappend(statusTxt, 512, DONE_TAIL);
    } else {
        wcopy(statusTxt, 512, FAILED);
    }
    show_result();
}

void uninstall_action() {
    take_typed_dir();
    do_uninstall();
    wcopy(statusTxt, 512, REMOVED);
    show_result();
}

void browse_action() {
    // The new-style folder dialog wants COM on this thread; ole32 is loaded
    // only when the dialog is asked for.
    typedef HRESULT(WINAPI * ole_init_fn)(LPVOID);
    typedef void(WINAPI * task_free_fn)(LPVOID);
    HMODULE ole = LoadLibraryW(L"ole32.dll");
    ole_init_fn ole_init = NULL;
    task_free_fn task_free = NULL;
    if (ole) {
        ole_init = reinterpret_cast<ole_init_fn>(reinterpret_cast<void*>(GetProcAddress(ole, "OleInitialize")));
        task_free = reinterpret_cast<task_free_fn>(reinterpret_cast<void*>(GetProcAddress(ole, "CoTaskMemFree")));
    }
    static bool ole_ready = false;
    if (ole_init && !ole_ready) ole_ready = SUCCEEDED(ole_init(NULL));

    BROWSEINFOW bi = {};
    bi.hwndOwner = hMain;
    bi.lpszTitle = L"Оберіть каталог для встановлення Келва";
    bi.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    PIDLIST_ABSOLUTE picked = SHBrowseForFolderW(&bi);
    if (!picked) return;
    wchar_t dir[MAX_PATH];
    if (SHGetPathFromIDListW(picked, dir) && hPath) SetWindowTextW(hPath, dir);
    if (task_free) task_free(picked);
}

void run_command(int id) {
    switch (id) {
    case 1001: set_page(1); break;
    case 1002: set_page(0); break;
    case 1003: if (hMain) DestroyWindow(hMain); break;
    case 1004:
    case 1005: install_action(); break;
    case 1006: uninstall_action(); break;
    case 1007: browse_action(); break;
    }
}

}  // namespace

void round_fill(HDC dc, int left, int top, int right, int bottom, COLORREF colour, int radius) {
    HBRUSH brush = CreateSolidBrush(colour);
    HRGN rgn = CreateRoundRectRgn(left, top, right + 1, bottom + 1, 2 * radius, 2 * radius);
    FillRgn(dc, rgn, brush);
    DeleteObject(rgn);
    DeleteObject(brush);
}

void paint_client(HDC dc) {
    RECT client = {0, 0, 486, 458};
    if (hMain) GetClientRect(hMain, &client);
    SetBkMode(dc, TRANSPARENT);
    FillRect(dc, &client, hbrSurface);
    HGDIOBJ old_font = SelectObject(dc, fMono);

    SetTextColor(dc, C_CODE);
    for (int i = 0; i < 15; ++i) {
        int o = bg_offset(i, g_anim);
        int top = 90 + 18 * i;
        if (bg_visible(o)) text_at(dc, BG_CODE[i], 340 - o, top, 640 - o, top + 16, ONE_LINE);
    }

    SelectObject(dc, fIcon);
    SetTextColor(dc, C_BRAND);
    text_at(dc, L"Келво", 24, 12, 460, 56, ONE_LINE);

    wchar_t line[160];
    wcopy(line, 160, L"Мова програмування · Інсталятор v");
    wappend(line, 160, CUR_VER);
    SelectObject(dc, fSubtitle);
    SetTextColor(dc, C_MUTED);
    text_at(dc, line, 24, 54, 460, 72, ONE_LINE);

    HPEN pen = CreatePen(PS_SOLID, 1, C_RULE);
    HGDIOBJ old_pen = SelectObject(dc, pen);
    MoveToEx(dc, 24, 76, NULL);
    LineTo(dc, 456, 76);
    SelectObject(dc, old_pen);
    DeleteObject(pen);

    if (g_page == 0) {
        SetTextColor(dc, C_BODY);
        SelectObject(dc, fBody);
        text_at(dc, WELCOME, 38, 92, 450, 330, WRAPPED);
    } else if (g_page == 1) {
        round_fill(dc, 24, 86, 456, 275, C_CARD, 12);
    } else {
        SetTextColor(dc, C_MARK);
        SelectObject(dc, fIcon);
        text_at(dc, statusTxt[0] == 0x2713 ? L"✓" : L"✗", 38, 88, 450, 130, ONE_LINE);
        SetTextColor(dc, C_BODY);
        SelectObject(dc, fBody);
        text_at(dc, statusTxt[0] ? statusTxt : L"Готово", 38, 140, 450, 340, WRAPPED);
    }

    wcopy(line, 160, L"Келво v");
    wappend(line, 160, CUR_VER);
    wappend(line, 160, L" · ");
    wappend(line, 160, KELVO_URL_REPO_PAGE);
    SelectObject(dc, fSmall);
    SetTextColor(dc, C_MUTED);
    text_at(dc, line, 24, 402, 460, 420, ONE_LINE);
    SelectObject(dc, old_font);
}

void draw_button(const DRAWITEMSTRUCT* item) {
    bool secondary = item->CtlID == 1002 || item->CtlID == 1006;
    bool pressed = (item->itemState & ODS_SELECTED) != 0;
    COLORREF fill = secondary ? (pressed ? C_SECONDARY_PRESSED : C_SECONDARY)
                              : (pressed ? C_BRAND_PRESSED : C_BRAND);
    const RECT& rc = item->rcItem;
    round_fill(item->hDC, rc.left, rc.top, rc.right, rc.bottom, fill, 10);

    HFONT font = make_font(14, 600, L"Segoe UI");
    HGDIOBJ old = SelectObject(item->hDC, font);
    SetBkMode(item->hDC, TRANSPARENT);
    SetTextColor(item->hDC, secondary ? C_SECONDARY_TEXT : C_PRIMARY_TEXT);
    wchar_t text[64];
    text[0] = 0;
    GetWindowTextW(item->hwndItem, text, 64);
    RECT box = rc;
    DrawTextW(item->hDC, text, -1, &box, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(item->hDC, old);
    DeleteObject(font);
}

void set_page(int page) {
    g_page = page;
    HWND options[] = {hPath, hChkPath, hCombo, hCapDir, hCapVer};
    for (HWND h : options)
        if (h) ShowWindow(h, page == 1 ? SW_SHOW : SW_HIDE);
    // Which command buttons each page shows, by id 1001..1007.
    static const bool shown[3][7] = {
        {true, false, false, false, false, true, false},
        {false, true, false, true, true, true, true},
        {false, false, true, false, false, false, false},
    };
    int row = page < 0 || page > 2 ? 2 : page;
    for (int i = 0; i < 7; ++i) {
        HWND h = hMain ? GetDlgItem(hMain, ids[i]) : NULL;
        if (h) ShowWindow(h, shown[row][i] ? SW_SHOW : SW_HIDE);
    }
    if (hMain) {
        InvalidateRect(hMain, NULL, TRUE);
        UpdateWindow(hMain);
    }
}

LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_CREATE:
        on_create(hwnd);
        return 0;
    case WM_DESTROY:
        on_destroy(hwnd);
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        paint_client(dc);
        EndPaint(hwnd, &ps);
        return 0;
    }
    case WM_PRINTCLIENT:
        paint_client(reinterpret_cast<HDC>(wParam));
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_DRAWITEM: {
        const DRAWITEMSTRUCT* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        if (item->CtlType != ODT_BUTTON) break;
        draw_button(item);
        return 1;
    }
    case WM_COMMAND: {
        int id = LOWORD(wParam);
        if (id >= 1001 && id <= 1007) run_command(id);
        break;
    }
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
