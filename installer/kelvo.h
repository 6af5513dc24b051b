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

// Install engine.
int write_bytes(const wchar_t* path, const void* data, int count);
int download_to(const wchar_t* url, const wchar_t* dest);
int do_install(bool patch, int choice);
void do_uninstall();
void path_add();
void path_remove();
// URL-to-file download through the system's client, loaded on first use; 1 on success.
int url_download_file(const wchar_t* url, const wchar_t* file);

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
