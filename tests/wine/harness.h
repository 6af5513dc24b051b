// Helpers for the Windows-side tests: run the real setup program as a process,
// read what it left in files and the registry, and serve HTTP on loopback.
#pragma once
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <windows.h>

#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace harness {

struct run_result {
    DWORD code = 0xFFFFFFFF;  // exit code, or 0xFFFFFFFF when the process could not start
    std::string out;          // standard output, raw bytes
};

// Environment changes for a child: value nullptr removes the variable.
using env_changes = std::vector<std::pair<std::wstring, const wchar_t*>>;

// Starts "exe" args with standard output captured, waits at most timeout_ms.
// Retries once when the start fails with error 1359 (seen under load in Wine).
run_result run(const std::wstring& exe, const std::wstring& args, const env_changes& env = {},
               DWORD timeout_ms = 60000);

// Files beside the running test program (the build directory).
std::wstring beside_me(const wchar_t* name);
inline std::wstring setup_exe() { return beside_me(L"kelvo-setup.exe"); }
inline std::wstring loopback_setup_exe() { return beside_me(L"kelvo-setup-loopback.exe"); }

std::wstring env(const wchar_t* name);                 // "" when unset
std::wstring default_dir();                            // %LOCALAPPDATA%\Kelvo as the setup forms it
std::wstring temp_dir();                               // GetTempPathW, with trailing backslash

bool read_file(const std::wstring& path, std::string* data);
bool write_file(const std::wstring& path, const std::string& data);
bool exists(const std::wstring& path);
std::vector<std::wstring> names_in(const std::wstring& dir);  // sorted, without . and ..
std::string payload(const wchar_t* name);             // bytes of a build file beside me

struct reg_value {
    bool found = false;
    DWORD type = 0;
    std::vector<BYTE> data;
    std::wstring text() const;                         // data as UTF-16, up to the first NUL
};
reg_value reg_get(HKEY root, const wchar_t* key, const wchar_t* name);  // name nullptr: default
bool reg_set(HKEY root, const wchar_t* key, const wchar_t* name, DWORD type, const void* data,
             DWORD bytes);
bool reg_set_text(HKEY root, const wchar_t* key, const wchar_t* name, DWORD type,
                  const std::wstring& text);  // with terminator
void reg_delete_value(HKEY root, const wchar_t* key, const wchar_t* name);
void reg_delete_tree(HKEY root, const wchar_t* key);
bool key_exists(HKEY root, const wchar_t* key);

std::string utf8(const std::wstring& w);
std::wstring wide(const std::string& s);

// Port of the loopback server the test build of the setup program talks to.
int test_port();

// A small HTTP server on 127.0.0.1 for the download tests, one thread per
// connection, so a connection kept stalled blocks no other. Each reply carries
// no-store caching headers, so the system's URL cache never answers in its
// place. Besides answering well it misbehaves on request, as hosts in the
// field do: captive portals, stalled proxies, links that drop.
enum class serve {
    whole,        // status line, headers and the whole body, then close
    silent,       // read the request, never answer
    stall,        // headers and the first `cut` body bytes, then nothing more
    trickle,      // headers, then the body a byte every `pace_ms`, then close
    cut,          // headers declaring the whole body, the first `cut` bytes, then close
    chunked,      // the body in chunks and the terminating chunk (no Content-Length)
    chunked_cut,  // the first `cut` bytes in whole chunks, no terminating chunk, then close
    reset,        // headers declaring the whole body, the first `cut` bytes, then a reset
};
struct http_reply {
    int status = 200;
    std::string content_type = "application/octet-stream";
    std::string body;
    serve how = serve::whole;
    size_t cut = 0;
    int delay_ms = 0;            // between the request's arrival and the first byte
    int pace_ms = 1000;          // between two bytes of a trickle
    bool declare_length = true;  // Content-Length for whole, stall and trickle
    std::string location;        // Location header, for redirects
};
// A reply of that status and body, served the given way.
inline http_reply reply(int status, const std::string& body, serve how = serve::whole, size_t cut = 0) {
    http_reply r;
    r.status = status;
    r.body = body;
    r.how = how;
    r.cut = cut;
    return r;
}
class http_server {
public:
    // Port 0 takes a free port of the system's choice (see port()).
    explicit http_server(int port);
    // Stops every stalled or trickling connection and joins all threads.
    ~http_server();
    http_server(const http_server&) = delete;
    http_server& operator=(const http_server&) = delete;
    bool listening() const { return sock_ != INVALID_SOCKET; }
    int port() const { return port_; }
    void set(const std::string& path, const http_reply& reply);
    void clear();
    int hits(const std::string& path);             // requests seen for path
    std::string request(const std::string& path);  // head of the last request for path
    // GetTickCount64 when the first byte of the last reply for path went out; 0: none yet.
    ULONGLONG answered_at(const std::string& path);
    int connections();                             // accepted so far
    // Closes the listening socket; the connections already accepted go on, and
    // another server may listen on the port meanwhile.
    void stop_listening();

private:
    void accept_loop();
    void serve_connection(SOCKET c);
    bool stopping(DWORD wait_ms = 0) const;
    bool send_all(SOCKET c, const char* data, size_t len) const;
    void hold(SOCKET c) const;
    SOCKET sock_ = INVALID_SOCKET;
    int port_ = 0;
    HANDLE stop_ = nullptr;           // set when the server goes
    volatile LONG accepting_ = 0;
    std::thread acceptor_;
    std::mutex mutex_;
    std::vector<std::thread> workers_;
    std::map<std::string, http_reply> routes_;
    std::map<std::string, int> hits_;
    std::map<std::string, std::string> requests_;
    std::map<std::string, ULONGLONG> answered_;
    int accepted_ = 0;
};

// A host that never accepts: it listens with the smallest backlog and fills
// that backlog with connections of its own, so the system leaves any further
// connection attempt unanswered (its SYN is dropped and retried) until the
// object goes.
class full_listener {
public:
    explicit full_listener(int port);  // 0: a free port of the system's choice
    ~full_listener();
    full_listener(const full_listener&) = delete;
    full_listener& operator=(const full_listener&) = delete;
    // Whether a probe connection made after filling the backlog stayed
    // unanswered for probe_ms, i.e. whether the host really does not accept.
    bool full() const { return full_; }
    int queued() const { return static_cast<int>(fillers_.size()); }
    int port() const { return port_; }

private:
    SOCKET sock_ = INVALID_SOCKET;
    int port_ = 0;
    std::vector<SOCKET> fillers_;
    bool full_ = false;
};

// Starts Winsock for the process (once; the servers and connect_within call it).
void net_up();

// Connects to 127.0.0.1:port without blocking; the socket once connected
// within wait_ms, INVALID_SOCKET otherwise (refused, or still unanswered).
SOCKET connect_within(int port, DWORD wait_ms);

// A process started without waiting for it (the setup window, say). The
// handles are closed when the object goes; a process still running then is
// terminated, so a failed test leaves nothing behind.
class process {
public:
    process() = default;
    process(const process&) = delete;
    process& operator=(const process&) = delete;
    process(process&& other) noexcept;
    process& operator=(process&& other) noexcept;
    ~process();
    bool started() const { return pi_.hProcess != nullptr; }
    DWORD id() const { return pi_.dwProcessId; }
    HANDLE handle() const { return pi_.hProcess; }
    // Exit code once it has ended, 0xFFFFFFFF when it is still running after timeout_ms.
    DWORD wait(DWORD timeout_ms);
    void kill();
    friend process start(const std::wstring& exe, const std::wstring& args, const env_changes& env);
private:
    PROCESS_INFORMATION pi_ = {};
};

// Starts "exe" args without waiting (same environment rules and 1359 retry as run()).
process start(const std::wstring& exe, const std::wstring& args, const env_changes& env = {});

// A visible top-level window of process pid whose class is cls (nullptr: any),
// other than except; nullptr when there is none.
HWND find_window(DWORD pid, const wchar_t* cls, HWND except = nullptr);
// The same, polled until it appears or timeout_ms has passed.
HWND wait_window(DWORD pid, const wchar_t* cls, DWORD timeout_ms, HWND except = nullptr);

// Makes this process aware of each monitor's DPI, as the setup program is, so
// that the program's windows are read in their own pixels; true when it is.
// (Wine 8 makes every process per-monitor aware from the start and refuses
// the second version of that awareness.)
bool per_monitor_aware();

// Pixels read back from the screen (0x00BBGGRR values, rows top-down).
struct image {
    int width = 0, height = 0;
    std::vector<COLORREF> px;
    COLORREF at(int x, int y) const { return px[size_t(y) * width + x]; }
};
// Copies a screen rectangle through the screen DC (under Xvfb: what X shows).
image capture_screen(const RECT& rect);
bool write_bmp(const std::wstring& path, const image& img);  // 24-bit, bottom-up

}  // namespace harness
