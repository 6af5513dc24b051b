// Process entry: default install directory, the four switches, the window.
#include "kelvo.h"
#include "text_util.h"

#include <shellapi.h>
#include <wchar.h>

wchar_t APP_DIR[260];
const wchar_t CUR_VER[] = L"2.15";
static const char CUR_VER_NARROW[] = "2.15";
ver_entry ver_urls[16];
int ver_count = 0;

// LOCALAPPDATA + "\" (unless it ends in one) + "Kelvo"; a value that is absent,
// empty, or too long for that to fit falls back to the public profile.
static void set_default_dir() {
    wchar_t env[260];
    DWORD n = GetEnvironmentVariableW(L"LOCALAPPDATA", env, 260);
    bool ok = n >= 1 && n <= 259;
    if (ok) {
        bool has_slash = env[n - 1] == L'\\';
        ok = n + (has_slash ? 0 : 1) + 5 <= 259;
    }
    wcopy(APP_DIR, 260, ok ? env : L"C:\\Users\\Public");
    size_t len = wlen(APP_DIR);
    if (len && APP_DIR[len - 1] != L'\\') wappend(APP_DIR, 260, L"\\");
    wappend(APP_DIR, 260, L"Kelvo");
}

// Console lines go out as exact bytes: no code page guess, no CR before LF.
static void write_out(const char* bytes, int count) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == NULL || out == INVALID_HANDLE_VALUE) return;
    DWORD done = 0;
    while (count > 0 && WriteFile(out, bytes, static_cast<DWORD>(count), &done, NULL) && done > 0) {
        bytes += done;
        count -= static_cast<int>(done);
    }
}

static void print_version() {
    char line[64] = "Kelvo Setup v";
    size_t at = 13;
    for (const char* v = CUR_VER_NARROW; *v && at < sizeof line - 2; ++v) line[at++] = *v;
    line[at++] = '\n';
    write_out(line, static_cast<int>(at));
}

static void print_path() {
    char utf8[260 * 3 + 2];
    int n = WideCharToMultiByte(CP_UTF8, 0, APP_DIR, -1, utf8, 260 * 3, NULL, NULL);
    if (n <= 0) n = 1;     // nothing convertible: print the line break alone
    utf8[n - 1] = '\n';    // replaces the terminator
    write_out(utf8, n);
}

static int run_window() {
    HWND hwnd = create_main_window(GetModuleHandleW(NULL));
    if (!hwnd) return 1;
    ShowWindow(hwnd, SW_SHOW);
    UpdateWindow(hwnd);
    MSG msg;
    while (GetMessageW(&msg, NULL, 0, 0) > 0) {
        // Tab, Enter, Esc and Space as in a dialog box.
        note_input(&msg);
        if (IsDialogMessageW(hwnd, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}

int wmain() {
    // Before anything can load a library: every later load, ours or one a
    // system library makes on our behalf, searches the system directory only,
    // never the folder this program was started from (often Downloads).
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    set_default_dir();
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv) return 1;  // cannot tell what was asked for: do nothing
    if (argc >= 2) {
        const wchar_t* arg = argv[1];
        int code = 1;
        if (wcscmp(arg, L"--install") == 0) {
            code = do_install(true, 0) ? 0 : 1;
        } else if (wcscmp(arg, L"--uninstall") == 0) {
            code = do_uninstall() ? 0 : 1;
        } else if (wcscmp(arg, L"--version") == 0) {
            print_version();
            code = 0;
        } else if (wcscmp(arg, L"--path") == 0) {
            print_path();
            code = 0;
        }
        LocalFree(argv);
        return code;
    }
    LocalFree(argv);
    return run_window();
}
