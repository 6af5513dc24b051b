/* Stand-in for the Kelvo editor, embedded when the real KelvoIDE.exe is not at
   hand: a GUI program that opens a window and closes cleanly. Started with
   --close it closes itself at once, so it can be checked unattended. */
#include <windows.h>
#include <string.h>

static LRESULT CALLBACK proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

int WINAPI WinMain(HINSTANCE inst, HINSTANCE prev, LPSTR cmd, int show) {
    WNDCLASSW wc;
    HWND hwnd;
    MSG msg;
    (void)prev;
    memset(&wc, 0, sizeof wc);
    wc.lpfnWndProc = proc;
    wc.hInstance = inst;
    wc.hCursor = LoadCursorW(NULL, (LPCWSTR)IDC_ARROW);
    wc.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
    wc.lpszClassName = L"KelvoIDEStandIn";
    if (!RegisterClassW(&wc)) return 1;
    hwnd = CreateWindowExW(0, L"KelvoIDEStandIn", L"KelvoIDE (stand-in)", WS_OVERLAPPEDWINDOW,
                           CW_USEDEFAULT, CW_USEDEFAULT, 480, 320, NULL, NULL, inst, NULL);
    if (!hwnd) return 1;
    ShowWindow(hwnd, show);
    if (cmd && strstr(cmd, "--close")) PostMessageW(hwnd, WM_CLOSE, 0, 0);
    while (GetMessageW(&msg, NULL, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return (int)msg.wParam;
}
