// The control for the planted libraries: loads each library named on its
// command line by its plain name, with the default search order, as a
// program without any protection does. It imports kernel32 alone, so that
// nothing but those loads can reach the planted files. Exit code: how many
// of the names failed to load.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

int main(void) {
    const wchar_t* p = GetCommandLineW();
    // Past the program's own name, quoted or not.
    if (*p == L'"') {
        for (++p; *p && *p != L'"'; ++p) {}
        if (*p) ++p;
    } else {
        while (*p && *p != L' ') ++p;
    }
    int failed = 0;
    wchar_t name[MAX_PATH];
    while (*p) {
        while (*p == L' ') ++p;
        int n = 0;
        while (*p && *p != L' ' && n < MAX_PATH - 1) name[n++] = *p++;
        name[n] = 0;
        if (n && !LoadLibraryW(name)) ++failed;
    }
    return failed;
}
