// A library planted beside a program, named after a system library. Loading
// it leaves a marker, C:\planted\<name>.marker, with a line naming the
// process that loaded it; it does nothing else.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#define PLANTED_WIDE2(x) L## #x
#define PLANTED_WIDE(x) PLANTED_WIDE2(x)

BOOL WINAPI DllMain(HINSTANCE inst, DWORD reason, LPVOID reserved) {
    (void)inst;
    (void)reserved;
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    CreateDirectoryW(L"C:\\planted", NULL);
    HANDLE h = CreateFileW(L"C:\\planted\\" PLANTED_WIDE(PLANTED_NAME) L".marker", FILE_APPEND_DATA,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE) return TRUE;
    char line[MAX_PATH * 3 + 2];
    wchar_t self[MAX_PATH];
    DWORD n = GetModuleFileNameW(NULL, self, MAX_PATH);
    int len = n ? WideCharToMultiByte(CP_UTF8, 0, self, (int)n, line, MAX_PATH * 3, NULL, NULL) : 0;
    if (len < 0) len = 0;
    line[len++] = '\n';
    DWORD put = 0;
    WriteFile(h, line, (DWORD)len, &put, NULL);
    CloseHandle(h);
    return TRUE;
}
