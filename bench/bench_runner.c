/* Times whole process runs, from CreateProcess to exit, of kelvo-setup.exe's
   headless switches and of the two reference programs beside this runner, in
   interleaved rounds, and prints the medians and the ratios to the floor.
   Usage: bench_runner.exe [ROUNDS]   (default 15; one extra warm-up round is
   run first and not counted). Exit code 1 only when a program could not run
   or an install/uninstall did not do its work; the timings never fail it. */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

enum { KINDS = 5, MAX_ROUNDS = 500 };

static const struct {
    const char *label;
    const wchar_t *exe;
    const wchar_t *arg;
} KIND[KINDS] = {
    {"kelvo-setup.exe --version", L"kelvo-setup.exe", L"--version"},
    {"kelvo-setup.exe --install", L"kelvo-setup.exe", L"--install"},
    {"kelvo-setup.exe --uninstall", L"kelvo-setup.exe", L"--uninstall"},
    {"floor (one broadcast)", L"floor.exe", L""},
    {"no-op", L"noop.exe", L""},
};

/* Scratch local application-data directory, so the install lands in the prefix. */
static const wchar_t SCRATCH[] = L"C:\\kelvo-bench-local";
static const wchar_t INSTALLED[] = L"C:\\kelvo-bench-local\\Kelvo\\kelvo.exe";

static double times[KINDS][MAX_ROUNDS];
static wchar_t here[MAX_PATH]; /* this runner's directory, with trailing backslash */

/* Runs one program with its output sent to NUL; 1 when it ran and exited. */
static int run_once(int kind, HANDLE nul, double *ms, DWORD *code) {
    wchar_t cmd[2 * MAX_PATH + 64];
    STARTUPINFOW si;
    PROCESS_INFORMATION pi;
    LARGE_INTEGER freq, t0, t1;
    int attempt, started = 0;

    lstrcpyW(cmd, L"\"");
    lstrcatW(cmd, here);
    lstrcatW(cmd, KIND[kind].exe);
    lstrcatW(cmd, L"\"");
    if (KIND[kind].arg[0]) {
        lstrcatW(cmd, L" ");
        lstrcatW(cmd, KIND[kind].arg);
    }
    ZeroMemory(&si, sizeof si);
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = si.hStdOutput = si.hStdError = nul;
    QueryPerformanceFrequency(&freq);
    for (attempt = 0; attempt < 2 && !started; ++attempt) {
        QueryPerformanceCounter(&t0);
        started = CreateProcessW(NULL, cmd, NULL, NULL, TRUE, 0, NULL, NULL, &si, &pi);
        if (!started && GetLastError() != 1359) break; /* 1359: a Wine hiccup under load */
    }
    if (!started) {
        fprintf(stderr, "cannot start %s (error %lu)\n", KIND[kind].label, GetLastError());
        return 0;
    }
    if (WaitForSingleObject(pi.hProcess, 120000) != WAIT_OBJECT_0) {
        fprintf(stderr, "%s did not exit within 120 s\n", KIND[kind].label);
        TerminateProcess(pi.hProcess, 1);
        WaitForSingleObject(pi.hProcess, 5000);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        return 0;
    }
    QueryPerformanceCounter(&t1);
    GetExitCodeProcess(pi.hProcess, code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    *ms = (double)(t1.QuadPart - t0.QuadPart) * 1000.0 / (double)freq.QuadPart;
    return 1;
}

static int by_value(const void *a, const void *b) {
    double x = *(const double *)a, y = *(const double *)b;
    return (x > y) - (x < y);
}

static double median(double *v, int n) {
    qsort(v, (size_t)n, sizeof *v, by_value);
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2.0;
}

int main(int argc, char **argv) {
    int rounds = argc > 1 ? atoi(argv[1]) : 15;
    int round, kind, faults = 0;
    double med[KINDS];
    SECURITY_ATTRIBUTES sa = {sizeof sa, NULL, TRUE};
    HANDLE nul;
    DWORD n;

    if (rounds < 1 || rounds > MAX_ROUNDS) rounds = 15;
    n = GetModuleFileNameW(NULL, here, MAX_PATH);
    while (n > 0 && here[n - 1] != L'\\') --n;
    here[n] = 0;
    CreateDirectoryW(SCRATCH, NULL);
    SetEnvironmentVariableW(L"LOCALAPPDATA", SCRATCH);
    nul = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      &sa, OPEN_EXISTING, 0, NULL);
    if (nul == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "cannot open NUL\n");
        return 1;
    }

    for (round = -1; round < rounds; ++round) { /* round -1 warms the prefix up */
        for (kind = 0; kind < KINDS; ++kind) {
            double ms = 0;
            DWORD code = 1;
            int installed;
            if (!run_once(kind, nul, &ms, &code)) {
                CloseHandle(nul);
                return 1;
            }
            if (round >= 0) times[kind][round] = ms;
            installed = GetFileAttributesW(INSTALLED) != INVALID_FILE_ATTRIBUTES;
            if (code != 0 || (kind == 1 && !installed) || (kind == 2 && installed)) {
                fprintf(stderr, "round %d: %s exited %lu, interpreter %s\n", round,
                        KIND[kind].label, code, installed ? "present" : "absent");
                ++faults;
            }
        }
    }
    CloseHandle(nul);

    printf("%d interleaved rounds (after 1 warm-up round), one Wine prefix\n", rounds);
    printf("%-30s %10s %10s %10s\n", "program", "median ms", "min ms", "max ms");
    for (kind = 0; kind < KINDS; ++kind) {
        med[kind] = median(times[kind], rounds);
        printf("%-30s %10.2f %10.2f %10.2f\n", KIND[kind].label, med[kind], times[kind][0],
               times[kind][rounds - 1]);
    }
    printf("ratio --install / floor:   %.2f (target <= 1.5)\n", med[1] / med[3]);
    printf("ratio --uninstall / floor: %.2f (target <= 1.5)\n", med[2] / med[3]);
    printf("ratio --version / no-op:   %.2f\n", med[0] / med[4]);
    if (faults) printf("%d runs did not do their work (see above)\n", faults);
    return faults ? 1 : 0;
}
