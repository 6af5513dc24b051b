/* The least a setup program that edits the Path must do: announce the
   environment change once (which loads the window manager's library), then exit.
   Built by bench/headless.sh as a GUI-subsystem program, as kelvo-setup.exe is. */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show) {
    (void)instance; (void)previous; (void)command_line; (void)show;
    SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0, (LPARAM)L"Environment",
                        SMTO_ABORTIFHUNG, 4000, NULL);
    return 0;
}
