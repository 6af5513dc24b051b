// Shared state and operations of the Kelvo setup program.
#pragma once
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

// Install directory: at most 259 characters plus the terminator.
extern wchar_t APP_DIR[260];
extern const wchar_t CUR_VER[];

// Release table, filled once by load_releases in the order of the list reply.
struct ver_entry {
    wchar_t tag[64];
    wchar_t url[700];
    wchar_t sha256[65];  // published SHA-256 of the asset in hex; empty when none
};
extern ver_entry ver_urls[16];
extern int ver_count;

// A system library loaded at run time, from the system directory only: never
// a file of the same name that lies beside the program.
HMODULE load_system_library(const wchar_t* name);
// Looks up fn by name in a library loaded at run time; true when found.
template <class F>
bool bind_proc(HMODULE lib, F& fn, const char* name) {
    fn = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(lib, name)));
    return fn != NULL;
}

// Install engine.
int write_bytes(const wchar_t* path, const void* data, int count);
// Only a complete executable, with the published SHA-256 (hex) when one is
// given, ever reaches dest; 1 when it did.
int download_to(const wchar_t* url, const wchar_t* dest, const wchar_t* sha256 = NULL);
// Puts a complete staging file in place of target; a target in use is first
// renamed aside to "<target>.old". 1 when the staging file now stands at
// target; on 0 the staging file is left for the caller and target kept.
int place_file(const wchar_t* staging, const wchar_t* target);
int do_install(bool patch, int choice);
// 1 when none of the programs (nor a copy moved aside) is left in the directory.
int do_uninstall();
void path_add();
void path_remove();

// Release catalogue.
void load_releases();

// Setup window.
LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
void set_page(int page);
// Registers the window class (with the program's icon) and creates the main
// window, sized for the display's scaling; NULL when it cannot be created.
HWND create_main_window(HINSTANCE inst);
// Shown every queued message before the dialog keyboard handling: keys that
// move the focus or act make the focused button show its ring, a click hides it.
void note_input(const MSG* msg);

// Window state and drawing, reachable for painting into any drawing context
// (a memory bitmap in the tests, WM_PRINTCLIENT).
extern int g_page;
extern int g_anim;
extern wchar_t statusTxt[512];
void paint_client(HDC dc);
void draw_button(const DRAWITEMSTRUCT* item);
void round_fill(HDC dc, int left, int top, int right, int bottom, COLORREF colour, int radius);
