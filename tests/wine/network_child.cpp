// One interpreter install of the loopback build's engine in a process of its
// own, so that slow downloads can run side by side, each with its own staging
// file (the staging name carries the process id):
//   network_child CHOICE APP_DIR RESULT_FILE [URL [SHA256]]
// URL and SHA256 fill the first release-table entry (choice 2). Writes
// "<do_install result> <milliseconds it took>" into RESULT_FILE.
#include "kelvo.h"

#include <shellapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

wchar_t APP_DIR[260];
const wchar_t CUR_VER[] = L"2.15";
ver_entry ver_urls[16];
int ver_count;

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc < 4) return 2;
    const int choice = _wtoi(argv[1]);
    wcsncpy(APP_DIR, argv[2], 259);
    if (argc >= 5) {
        wcsncpy(ver_urls[0].tag, L"listed", 63);
        wcsncpy(ver_urls[0].url, argv[4], 699);
        if (argc >= 6) wcsncpy(ver_urls[0].sha256, argv[5], 64);
        ver_count = 1;
    }
    const ULONGLONG t0 = GetTickCount64();
    const int result = do_install(false, choice);
    const ULONGLONG took = GetTickCount64() - t0;
    FILE* f = _wfopen(argv[3], L"w");
    if (!f) return 3;
    fprintf(f, "%d %lu\n", result, static_cast<unsigned long>(took));
    fclose(f);
    LocalFree(argv);
    return 0;
}
