// Figures of the setup window under Wine; they never fail anything.
//   window_bench idle [SECONDS]  the window built in this process from the
//       product's window code (catalogue host refused), shown and left idle
//       on each page; CPU time of this process (GetProcessTimes, which reads
//       0 for other processes under Wine) over the wall time, and the cost of
//       one paint into a memory bitmap and into the window.
//   window_bench start [ROUNDS]  kelvo-setup-loopback.exe beside this program:
//       median time from CreateProcess to its visible window, next to the
//       median run of --version, with the release-list host refusing,
//       answering at once, after 1 s and after 3 s, and never answering.
//   window_bench download [ROUNDS] [FILE]  an install of the interpreter
//       downloaded from the loopback host (FILE, else the embedded one) next
//       to the install of the built-in interpreter, both in this process.
// start and download serve the loopback build's port: run them while no
// Windows-side test runs.
#include "kelvo.h"
#include "harness.h"

#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

wchar_t APP_DIR[260] = L"C:\\kelvo-bench\\Kelvo";
const wchar_t CUR_VER[] = L"2.15";
ver_entry ver_urls[16];
int ver_count;

static double now_ms() {
    static LARGE_INTEGER freq = {};
    if (!freq.QuadPart) QueryPerformanceFrequency(&freq);
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) * 1000.0 / static_cast<double>(freq.QuadPart);
}

static double cpu_ms() {
    FILETIME created, ended, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user);
    auto ms = [](FILETIME f) {
        return static_cast<double>((static_cast<unsigned long long>(f.dwHighDateTime) << 32) |
                                   f.dwLowDateTime) / 10000.0;
    };
    return ms(kernel) + ms(user);
}

// Runs this thread's messages until ms have passed.
static void pump(double ms) {
    double end = now_ms() + ms;
    for (;;) {
        double left = end - now_ms();
        if (left <= 0) return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left) + 1, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

static int idle(double seconds) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = WndProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"KelvoSetup";
    RegisterClassW(&wc);
    HWND w = CreateWindowExW(0, L"KelvoSetup", L"Келво — Встановлення",
                             WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, CW_USEDEFAULT,
                             CW_USEDEFAULT, 486, 458, nullptr, nullptr, wc.hInstance, nullptr);
    if (!w) {
        fprintf(stderr, "cannot create the window\n");
        return 1;
    }
    ShowWindow(w, SW_SHOW);
    UpdateWindow(w);

    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP bmp = CreateCompatibleBitmap(screen, 486, 458);
    ReleaseDC(nullptr, screen);
    HGDIOBJ old = SelectObject(mem, bmp);

    printf("idle window, %.0f s per page (CPU of the window's process; Xvfb and wineserver not counted)\n",
           seconds);
    for (int page = 0; page < 3; ++page) {
        if (page == 2)
            wcscpy(statusTxt, L"✓  Встановлення завершено!\n\nКаталог:    C:\\kelvo-bench\\Kelvo");
        set_page(page);
        pump(1000);  // settle
        int ticks = g_anim;
        double c0 = cpu_ms(), t0 = now_ms();
        pump(seconds * 1000.0);
        double cpu = cpu_ms() - c0, wall = now_ms() - t0;
        ticks = g_anim - ticks;

        const int N = 300;
        double m0 = now_ms();
        for (int i = 0; i < N; ++i) paint_client(mem);
        GdiFlush();
        double mem_us = (now_ms() - m0) * 1000.0 / N;
        HDC dc = GetDC(w);
        double d0 = now_ms();
        for (int i = 0; i < N; ++i) paint_client(dc);
        GdiFlush();
        double win_us = (now_ms() - d0) * 1000.0 / N;
        ReleaseDC(w, dc);
        printf("page %d: CPU %.2f %% of one core (%.0f ms in %.0f ms, %d ticks); "
               "one paint: %.0f us into memory, %.0f us into the window\n",
               page, 100.0 * cpu / wall, cpu, wall, ticks, mem_us, win_us);
    }
    SelectObject(mem, old);
    DeleteObject(bmp);
    DeleteDC(mem);
    DestroyWindow(w);
    return 0;
}

struct found_window {
    DWORD pid;
    HWND hwnd;
};

static BOOL CALLBACK match(HWND h, LPARAM lp) {
    found_window* f = reinterpret_cast<found_window*>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    wchar_t cls[32] = L"";
    GetClassNameW(h, cls, 32);
    if (pid == f->pid && IsWindowVisible(h) && !wcscmp(cls, L"KelvoSetup")) {
        f->hwnd = h;
        return FALSE;
    }
    return TRUE;
}

static bool launch(const wchar_t* exe, const wchar_t* args, PROCESS_INFORMATION* pi) {
    wchar_t cmd[MAX_PATH * 2 + 32];
    swprintf(cmd, sizeof cmd / sizeof cmd[0], L"\"%ls\"%ls", exe, args);
    // Output goes to NUL, so the figures stay readable.
    static HANDLE nul = [] {
        SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
        return CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           &sa, OPEN_EXISTING, 0, nullptr);
    }();
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = si.hStdOutput = si.hStdError = nul;
    for (int attempt = 0; attempt < 2; ++attempt) {  // 1359: a Wine hiccup under load
        if (CreateProcessW(exe, cmd, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, pi)) return true;
        if (GetLastError() != 1359) break;
    }
    fprintf(stderr, "cannot start %ls (error %lu)\n", exe, GetLastError());
    return false;
}

static double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2.0;
}

static const char LIST[] = "/repos/kelvo-lang/kelvo/releases?per_page=12";
static const char LATEST[] = "/kelvo-lang/kelvo/releases/latest/download/kelvo.exe";

static const int WINDOW_WAIT_MS = 20000;

// Time from CreateProcess to the visible window; -1 when none appeared. The
// process is ended at once: only the time to the window counts here.
static double window_time(const wchar_t* exe) {
    PROCESS_INFORMATION pi;
    double t0 = now_ms();
    if (!launch(exe, L"", &pi)) return -1;
    found_window f = {pi.dwProcessId, nullptr};
    while (!f.hwnd && now_ms() - t0 < WINDOW_WAIT_MS) {
        EnumWindows(match, reinterpret_cast<LPARAM>(&f));
        if (!f.hwnd) Sleep(1);
    }
    double took = now_ms() - t0;
    TerminateProcess(pi.hProcess, 1);
    WaitForSingleObject(pi.hProcess, 20000);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return f.hwnd ? took : -1;
}

static int start(int rounds) {
    wchar_t exe[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, exe, MAX_PATH);
    while (n > 0 && exe[n - 1] != L'\\') --n;
    exe[n] = 0;
    if (n + 32 >= MAX_PATH) return 1;
    wcscat(exe, L"kelvo-setup-loopback.exe");

    std::string site = "http://127.0.0.1:" + std::to_string(harness::test_port());
    std::string list = "[{\"tag_name\":\"2.16\",\"assets\":[{\"name\":\"kelvo.exe\",\"digest\":null,"
                       "\"browser_download_url\":\"" + site + "/dl/2.16/kelvo.exe\"}]}]";
    struct host {
        const char* what;
        bool serve;
        harness::serve how;
        int delay_ms;
        std::vector<double> times;
        bool none;  // no window appeared once: not tried again
    } hosts[] = {
        {"refusing", false, harness::serve::whole, 0, {}, false},
        {"answering at once", true, harness::serve::whole, 0, {}, false},
        {"answering after 1 s", true, harness::serve::whole, 1000, {}, false},
        {"answering after 3 s", true, harness::serve::whole, 3000, {}, false},
        {"never answering", true, harness::serve::silent, 0, {}, false},
    };
    std::vector<double> version;
    for (int round = -1; round < rounds; ++round) {  // round -1 warms up
        PROCESS_INFORMATION pi;
        double t0 = now_ms();
        if (!launch(exe, L" --version", &pi)) return 1;
        WaitForSingleObject(pi.hProcess, 60000);
        double v = now_ms() - t0;
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        if (round >= 0) version.push_back(v);

        for (host& h : hosts) {
            if (h.none) continue;
            std::unique_ptr<harness::http_server> server;
            if (h.serve) {
                server.reset(new harness::http_server(harness::test_port()));
                if (!server->listening()) {
                    fprintf(stderr, "port %d is taken\n", harness::test_port());
                    return 1;
                }
                harness::http_reply r;
                r.content_type = "application/json";
                r.body = list;
                r.how = h.how;
                r.delay_ms = h.delay_ms;
                server->set(LIST, r);
            }
            double w = window_time(exe);
            if (w < 0) h.none = true;
            else if (round >= 0) h.times.push_back(w);
        }
    }
    double mv = median(version);
    printf("start, median of %d rounds; --version runs to its exit in %.1f ms\n", rounds, mv);
    printf("  list host               start to visible window   over --version\n");
    for (const host& h : hosts) {
        if (h.none || h.times.empty()) {
            printf("  %-22s   no window within %d s\n", h.what, WINDOW_WAIT_MS / 1000);
            continue;
        }
        double mw = median(h.times);
        printf("  %-22s %10.1f ms %18.1f ms\n", h.what, mw, mw - mv);
    }
    printf("  (mark: the window adds 130-150 ms over --version with the host refusing)\n");
    return 0;
}

// Reads a whole file; empty when it cannot be read.
static std::string slurp(const wchar_t* path) {
    std::string data;
    HANDLE h = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return data;
    char buf[65536];
    DWORD got = 0;
    while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got) data.append(buf, got);
    CloseHandle(h);
    return data;
}

static int download(int rounds, const wchar_t* file) {
    wchar_t self[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    while (n > 0 && self[n - 1] != L'\\') --n;
    self[n] = 0;
    std::wstring embedded = std::wstring(self) + L"embedded\\kelvo.exe";
    std::string body = slurp(file ? file : embedded.c_str());
    std::string builtin = slurp(embedded.c_str());
    if (body.empty()) {
        fprintf(stderr, "cannot read %ls\n", file ? file : embedded.c_str());
        return 1;
    }
    harness::http_server server(harness::test_port());
    if (!server.listening()) {
        fprintf(stderr, "port %d is taken\n", harness::test_port());
        return 1;
    }
    harness::http_reply r;
    r.body = body;
    server.set(LATEST, r);
    CreateDirectoryW(L"C:\\kelvo-bench", nullptr);
    std::vector<double> fetched, written;
    int failed = 0;
    for (int round = -1; round < rounds; ++round) {  // round -1 warms up
        double t0 = now_ms();
        int ok = do_install(false, 1);
        double d = now_ms() - t0;
        t0 = now_ms();
        do_install(false, 0);
        double b = now_ms() - t0;
        if (round < 0) continue;
        failed += !ok;
        fetched.push_back(d);
        written.push_back(b);
    }
    do_uninstall();
    printf("install, median of %d rounds (engine in this process, loopback host)\n", rounds);
    printf("  interpreter downloaded (%lu bytes): %8.1f ms%s\n", static_cast<unsigned long>(body.size()), median(fetched),
           failed ? "  (some downloads failed)" : "");
    printf("  built-in interpreter   (%lu bytes): %8.1f ms\n", static_cast<unsigned long>(builtin.size()),
           median(written));
    return 0;
}

int main(int argc, char** argv) {
    if (argc >= 2 && !strcmp(argv[1], "idle")) return idle(argc >= 3 ? atof(argv[2]) : 10.0);
    if (argc >= 2 && !strcmp(argv[1], "start")) return start(argc >= 3 ? atoi(argv[2]) : 15);
    if (argc >= 2 && !strcmp(argv[1], "download")) {
        std::wstring file = argc >= 4 ? harness::wide(argv[3]) : std::wstring();
        return download(argc >= 3 ? atoi(argv[2]) : 15, file.empty() ? nullptr : file.c_str());
    }
    fprintf(stderr, "usage: window_bench idle [SECONDS] | start [ROUNDS] | download [ROUNDS] [FILE]\n");
    return 2;
}
