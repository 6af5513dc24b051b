/* Process start and exit alone: the cost every measured program pays anyway.
   Built by bench/headless.sh as a GUI-subsystem program. */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show) {
    (void)instance; (void)previous; (void)command_line; (void)show;
    return 0;
}
