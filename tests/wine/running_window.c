/* Test stand-in for an editor the user has open: a window program that keeps
   running until the test tells it to stop. Started as "running_window NAME",
   it shows a window of class "KelvoRunningEditor", sets the event NAME-ready,
   and closes its window and ends with exit code 43 when the event NAME-stop
   is set. Its window answers messages all the while. */
#include <windows.h>
#include <stdio.h>
#include <string.h>

static LRESULT CALLBACK proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_DESTROY) {
        PostQuitMessage(43);
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

int WINAPI WinMain(HINSTANCE inst, HINSTANCE prev, LPSTR cmd, int show) {
    char name[200];
    HANDLE ready, stop;
    WNDCLASSW wc;
    HWND hwnd;
    MSG msg;
    int code = 5;
    (void)prev;
    while (cmd && *cmd == ' ') ++cmd;
    if (!cmd || !*cmd || strlen(cmd) > 180) return 2;
    snprintf(name, sizeof name, "%s-ready", cmd);
    ready = CreateEventA(NULL, TRUE, FALSE, name);
    snprintf(name, sizeof name, "%s-stop", cmd);
    stop = CreateEventA(NULL, TRUE, FALSE, name);
    if (!ready || !stop) return 3;
    memset(&wc, 0, sizeof wc);
    wc.lpfnWndProc = proc;
    wc.hInstance = inst;
    wc.lpszClassName = L"KelvoRunningEditor";
    if (!RegisterClassW(&wc)) return 4;
    hwnd = CreateWindowExW(0, L"KelvoRunningEditor", L"KelvoIDE (running)", WS_OVERLAPPEDWINDOW,
                           CW_USEDEFAULT, CW_USEDEFAULT, 320, 200, NULL, NULL, inst, NULL);
    if (!hwnd) return 4;
    ShowWindow(hwnd, show);
    SetEvent(ready);
    while (code == 5) {
        DWORD w = MsgWaitForMultipleObjects(1, &stop, FALSE, INFINITE, QS_ALLINPUT);
        if (w == WAIT_OBJECT_0 && IsWindow(hwnd)) {
            DestroyWindow(hwnd);  /* posts the quit message, read below */
        } else if (w != WAIT_OBJECT_0 && w != WAIT_OBJECT_0 + 1) {
            break;
        }
        while (code == 5 && PeekMessageW(&msg, NULL, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                code = (int)msg.wParam;
            } else {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
        }
    }
    CloseHandle(ready);
    CloseHandle(stop);
    return code;
}
