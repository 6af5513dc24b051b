#include "harness.h"

#include <stdio.h>

#include <algorithm>

namespace harness {

std::string utf8(const std::wstring& w) {
    if (w.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), (int)w.size(), nullptr, 0, nullptr, nullptr);
    std::string s(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), (int)w.size(), &s[0], n, nullptr, nullptr);
    return s;
}

std::wstring wide(const std::string& s) {
    if (s.empty()) return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), (int)s.size(), nullptr, 0);
    std::wstring w(n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), (int)s.size(), &w[0], n);
    return w;
}

static std::vector<wchar_t> make_env_block(const env_changes& changes) {
    std::map<std::wstring, std::wstring, bool (*)(const std::wstring&, const std::wstring&)> vars(
        [](const std::wstring& a, const std::wstring& b) { return _wcsicmp(a.c_str(), b.c_str()) < 0; });
    wchar_t* block = GetEnvironmentStringsW();
    for (wchar_t* p = block; *p; p += wcslen(p) + 1) {
        std::wstring entry(p);
        size_t eq = entry.find(L'=', 1);
        if (eq == std::wstring::npos) continue;
        vars[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    FreeEnvironmentStringsW(block);
    for (auto& c : changes) {
        if (c.second) vars[c.first] = c.second;
        else vars.erase(c.first);
    }
    std::vector<wchar_t> out;
    for (auto& v : vars) {
        std::wstring line = v.first + L"=" + v.second;
        out.insert(out.end(), line.begin(), line.end());
        out.push_back(0);
    }
    out.push_back(0);
    return out;
}

run_result run(const std::wstring& exe, const std::wstring& args, const env_changes& env,
               DWORD timeout_ms) {
    run_result result;
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    HANDLE rd = nullptr, wr = nullptr;
    if (!CreatePipe(&rd, &wr, &sa, 0)) return result;
    SetHandleInformation(rd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = wr;
    si.hStdError = wr;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    std::wstring cmd = L"\"" + exe + L"\"" + (args.empty() ? L"" : L" " + args);
    std::vector<wchar_t> cmdbuf(cmd.begin(), cmd.end());
    cmdbuf.push_back(0);
    std::vector<wchar_t> block;
    if (!env.empty()) block = make_env_block(env);
    PROCESS_INFORMATION pi = {};
    BOOL ok = FALSE;
    for (int attempt = 0; attempt < 2 && !ok; ++attempt) {
        ok = CreateProcessW(exe.c_str(), cmdbuf.data(), nullptr, nullptr, TRUE,
                            CREATE_UNICODE_ENVIRONMENT, block.empty() ? nullptr : block.data(),
                            nullptr, &si, &pi);
        if (!ok && GetLastError() != 1359) break;
        if (!ok) Sleep(200);
    }
    CloseHandle(wr);
    if (!ok) {
        CloseHandle(rd);
        return result;
    }
    std::thread reader([&] {
        char buf[4096];
        DWORD got = 0;
        while (ReadFile(rd, buf, sizeof buf, &got, nullptr) && got) result.out.append(buf, got);
    });
    if (WaitForSingleObject(pi.hProcess, timeout_ms) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 0xDEAD);
    GetExitCodeProcess(pi.hProcess, &result.code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    reader.join();
    CloseHandle(rd);
    return result;
}

std::wstring beside_me(const wchar_t* name) {
    wchar_t self[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring dir(self, n);
    dir.resize(dir.find_last_of(L"\\/") + 1);
    return dir + name;
}

std::wstring env(const wchar_t* name) {
    wchar_t buf[32768];
    DWORD n = GetEnvironmentVariableW(name, buf, 32768);
    return n && n < 32768 ? std::wstring(buf, n) : std::wstring();
}

std::wstring default_dir() {
    std::wstring base = env(L"LOCALAPPDATA");
    if (!base.empty() && base.back() != L'\\') base += L'\\';
    return base + L"Kelvo";
}

std::wstring temp_dir() {
    wchar_t buf[MAX_PATH + 1];
    DWORD n = GetTempPathW(MAX_PATH + 1, buf);
    return std::wstring(buf, n);
}

bool read_file(const std::wstring& path, std::string* data) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    data->clear();
    char buf[65536];
    DWORD got = 0;
    while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got) data->append(buf, got);
    CloseHandle(h);
    return true;
}

bool write_file(const std::wstring& path, const std::string& data) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD put = 0;
    BOOL ok = WriteFile(h, data.data(), (DWORD)data.size(), &put, nullptr);
    CloseHandle(h);
    return ok && put == data.size();
}

bool exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::wstring> names_in(const std::wstring& dir) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return names;
    do {
        std::wstring n = fd.cFileName;
        if (n != L"." && n != L"..") names.push_back(n);
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    std::sort(names.begin(), names.end());
    return names;
}

std::string payload(const wchar_t* name) {
    std::string data;
    read_file(beside_me(name), &data);
    return data;
}

std::wstring reg_value::text() const {
    std::wstring w(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
    size_t nul = w.find(L'\0');
    if (nul != std::wstring::npos) w.resize(nul);
    return w;
}

reg_value reg_get(HKEY root, const wchar_t* key, const wchar_t* name) {
    reg_value v;
    HKEY h;
    if (RegOpenKeyExW(root, key, 0, KEY_QUERY_VALUE, &h) != ERROR_SUCCESS) return v;
    DWORD bytes = 0;
    if (RegQueryValueExW(h, name, nullptr, &v.type, nullptr, &bytes) == ERROR_SUCCESS) {
        v.data.resize(bytes);
        if (RegQueryValueExW(h, name, nullptr, &v.type, v.data.data(), &bytes) == ERROR_SUCCESS) {
            v.data.resize(bytes);
            v.found = true;
        }
    }
    RegCloseKey(h);
    return v;
}

bool reg_set(HKEY root, const wchar_t* key, const wchar_t* name, DWORD type, const void* data,
             DWORD bytes) {
    HKEY h;
    if (RegCreateKeyExW(root, key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &h, nullptr) != ERROR_SUCCESS)
        return false;
    bool ok = RegSetValueExW(h, name, 0, type, static_cast<const BYTE*>(data), bytes) == ERROR_SUCCESS;
    RegCloseKey(h);
    return ok;
}

bool reg_set_text(HKEY root, const wchar_t* key, const wchar_t* name, DWORD type,
                  const std::wstring& text) {
    return reg_set(root, key, name, type, text.c_str(), (DWORD)((text.size() + 1) * sizeof(wchar_t)));
}

void reg_delete_value(HKEY root, const wchar_t* key, const wchar_t* name) {
    HKEY h;
    if (RegOpenKeyExW(root, key, 0, KEY_SET_VALUE, &h) != ERROR_SUCCESS) return;
    RegDeleteValueW(h, name);
    RegCloseKey(h);
}

void reg_delete_tree(HKEY root, const wchar_t* key) { RegDeleteTreeW(root, key); }

bool key_exists(HKEY root, const wchar_t* key) {
    HKEY h;
    if (RegOpenKeyExW(root, key, 0, KEY_READ, &h) != ERROR_SUCCESS) return false;
    RegCloseKey(h);
    return true;
}

int test_port() {
#ifdef KELVO_TEST_PORT
    return KELVO_TEST_PORT;
#else
    return 47615;
#endif
}

namespace {

const char* reason(int status) {
    switch (status) {
    case 200: return "OK";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    default: return "Status";
    }
}

void set_nonblocking(SOCKET s) {
    u_long on = 1;
    ioctlsocket(s, FIONBIO, &on);
}

// Waits up to ms for s to become readable (write false) or writable; 1 ready,
// 0 not yet, -1 error. A connection attempt that failed shows in the
// exception set (Windows reports it there, not as writable): -1 too.
int ready(SOCKET s, bool write, DWORD ms) {
    fd_set set, failed;
    FD_ZERO(&set);
    FD_SET(s, &set);
    FD_ZERO(&failed);
    FD_SET(s, &failed);
    timeval tv = {static_cast<long>(ms / 1000), static_cast<long>(ms % 1000) * 1000};
    int r = select(0, write ? nullptr : &set, write ? &set : nullptr, &failed, &tv);
    if (r < 0 || FD_ISSET(s, &failed)) return -1;
    return r > 0 ? 1 : 0;
}

// A graceful close: the peer reads every byte sent and then the end.
void close_gracefully(SOCKET c) {
    shutdown(c, SD_SEND);
    closesocket(c);
}

}  // namespace

// Winsock is started once for the process and never cleaned up: a server
// going must not take the sockets of the test that used it along.
void net_up() {
    static bool up = [] {
        WSADATA wsa;
        return WSAStartup(MAKEWORD(2, 2), &wsa) == 0;
    }();
    (void)up;
}

SOCKET connect_within(int port, DWORD wait_ms) {
    net_up();
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return s;
    set_nonblocking(s);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<u_short>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 &&
        WSAGetLastError() != WSAEWOULDBLOCK) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    // Writable means connected; a refusal shows as an error on the socket.
    int err = 0, len = sizeof err;
    if (ready(s, true, wait_ms) != 1 ||
        getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len) != 0 || err != 0) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    return s;
}

// A socket listening on 127.0.0.1:port (0: any free port) with the given
// backlog, and the port it got; INVALID_SOCKET when that fails.
static SOCKET listen_on(int port, int backlog, int* got_port) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return s;
    BOOL yes = TRUE;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&yes), sizeof yes);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<u_short>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int len = sizeof addr;
    if (bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(s, backlog) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    *got_port = ntohs(addr.sin_port);
    return s;
}

http_server::http_server(int port) {
    net_up();
    stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!stop_) return;
    sock_ = listen_on(port, 64, &port_);
    if (sock_ == INVALID_SOCKET) return;
    set_nonblocking(sock_);
    accepting_ = 1;
    acceptor_ = std::thread([this] { accept_loop(); });
}

http_server::~http_server() {
    if (stop_) SetEvent(stop_);
    stop_listening();
    // Every connection thread sees the stop within one poll and closes its socket.
    std::vector<std::thread> workers;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        workers.swap(workers_);
    }
    for (auto& t : workers) t.join();
    if (stop_) CloseHandle(stop_);
}

void http_server::stop_listening() {
    InterlockedExchange(&accepting_, 0);
    if (acceptor_.joinable()) acceptor_.join();
    if (sock_ != INVALID_SOCKET) {
        closesocket(sock_);
        sock_ = INVALID_SOCKET;
    }
}

void http_server::set(const std::string& path, const http_reply& reply) {
    std::lock_guard<std::mutex> lock(mutex_);
    routes_[path] = reply;
}

void http_server::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    routes_.clear();
    hits_.clear();
    requests_.clear();
    answered_.clear();
}

int http_server::hits(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = hits_.find(path);
    return it == hits_.end() ? 0 : it->second;
}

std::string http_server::request(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = requests_.find(path);
    return it == requests_.end() ? std::string() : it->second;
}

ULONGLONG http_server::answered_at(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = answered_.find(path);
    return it == answered_.end() ? 0 : it->second;
}

int http_server::connections() {
    std::lock_guard<std::mutex> lock(mutex_);
    return accepted_;
}

bool http_server::stopping(DWORD wait_ms) const {
    return WaitForSingleObject(stop_, wait_ms) == WAIT_OBJECT_0;
}

void http_server::accept_loop() {
    while (accepting_ && !stopping()) {
        if (ready(sock_, false, 50) != 1) continue;
        SOCKET c = accept(sock_, nullptr, nullptr);
        if (c == INVALID_SOCKET) continue;
        set_nonblocking(c);
        std::lock_guard<std::mutex> lock(mutex_);
        ++accepted_;
        workers_.emplace_back([this, c] { serve_connection(c); });
    }
}

// Sends every byte unless the server stops or the peer goes first.
bool http_server::send_all(SOCKET c, const char* data, size_t len) const {
    while (len > 0) {
        if (stopping()) return false;
        int r = ready(c, true, 50);
        if (r < 0) return false;
        if (r == 0) continue;
        int n = send(c, data, static_cast<int>(std::min<size_t>(len, 1 << 16)), 0);
        if (n == SOCKET_ERROR) {
            if (WSAGetLastError() == WSAEWOULDBLOCK) continue;
            return false;
        }
        data += n;
        len -= static_cast<size_t>(n);
    }
    return true;
}

// Keeps the connection open and silent until the server stops or the peer closes.
void http_server::hold(SOCKET c) const {
    char buf[4096];
    while (!stopping()) {
        int r = ready(c, false, 50);
        if (r < 0) return;
        if (r == 0) continue;
        int n = recv(c, buf, sizeof buf, 0);
        if (n == 0 || (n == SOCKET_ERROR && WSAGetLastError() != WSAEWOULDBLOCK)) return;
    }
}

void http_server::serve_connection(SOCKET c) {
    // The request is only peeked at until its route is known: a reset is made
    // by closing with the request still unread, which makes the system send a
    // reset (Wine does not turn a zero linger time into one).
    std::string req;
    char buf[8192];
    for (;;) {
        if (stopping()) {
            closesocket(c);
            return;
        }
        int r = ready(c, false, 50);
        if (r == 0) continue;
        int n = r < 0 ? -1 : recv(c, buf, sizeof buf, MSG_PEEK);
        if (n == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) continue;
        if (n <= 0) {
            closesocket(c);
            return;
        }
        req.assign(buf, n);
        if (req.find("\r\n\r\n") != std::string::npos || n == sizeof buf) break;
        Sleep(5);  // the rest of the head is still on its way
    }
    size_t head_end = req.find("\r\n\r\n");
    if (head_end != std::string::npos) req.resize(head_end + 4);
    std::string path;
    size_t sp = req.find(' ');
    if (sp != std::string::npos) {
        size_t sp2 = req.find(' ', sp + 1);
        if (sp2 != std::string::npos) path = req.substr(sp + 1, sp2 - sp - 1);
    }
    http_reply reply;
    bool found;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++hits_[path];
        requests_[path] = req;
        auto it = routes_.find(path);
        found = it != routes_.end();
        if (found) reply = it->second;
    }
    if (reply.how != serve::reset) recv(c, buf, static_cast<int>(req.size()), 0);
    if (!found) {
        reply.status = 404;
        reply.content_type = "text/html";
        reply.body = "<html><body><h1>404 Not Found</h1></body></html>";
    }
    if (reply.delay_ms > 0 && stopping(static_cast<DWORD>(reply.delay_ms))) {
        closesocket(c);
        return;
    }
    if (reply.how == serve::silent) {
        hold(c);
        closesocket(c);
        return;
    }

    const bool chunked = reply.how == serve::chunked || reply.how == serve::chunked_cut;
    const bool length = reply.declare_length || reply.how == serve::cut || reply.how == serve::reset;
    std::string head = "HTTP/1.1 " + std::to_string(reply.status) + " " + reason(reply.status) +
                       "\r\nContent-Type: " + reply.content_type;
    if (chunked) head += "\r\nTransfer-Encoding: chunked";
    else if (length) head += "\r\nContent-Length: " + std::to_string(reply.body.size());
    if (!reply.location.empty()) head += "\r\nLocation: " + reply.location;
    head += "\r\nCache-Control: no-store, no-cache\r\nPragma: no-cache\r\nExpires: 0"
            "\r\nConnection: close\r\n\r\n";
    {
        std::lock_guard<std::mutex> lock(mutex_);
        answered_[path] = GetTickCount64();
    }
    if (!send_all(c, head.data(), head.size())) {
        closesocket(c);
        return;
    }

    const std::string& body = reply.body;
    const size_t part = std::min(reply.cut, body.size());
    switch (reply.how) {
    case serve::whole:
        if (send_all(c, body.data(), body.size())) close_gracefully(c);
        else closesocket(c);
        return;
    case serve::stall:
        if (send_all(c, body.data(), part)) hold(c);
        closesocket(c);
        return;
    case serve::trickle:
        for (size_t i = 0; i < body.size(); ++i)
            if (stopping(static_cast<DWORD>(reply.pace_ms)) || !send_all(c, &body[i], 1)) {
                closesocket(c);
                return;
            }
        close_gracefully(c);
        return;
    case serve::cut:
        if (send_all(c, body.data(), part)) close_gracefully(c);
        else closesocket(c);
        return;
    case serve::chunked:
    case serve::chunked_cut: {
        const size_t end = reply.how == serve::chunked ? body.size() : part;
        std::string chunks;
        for (size_t at = 0; at < end; at += 1000) {
            size_t n = std::min<size_t>(1000, end - at);
            char size[16];
            snprintf(size, sizeof size, "%lx\r\n", static_cast<unsigned long>(n));
            chunks += size;
            chunks.append(body, at, n);
            chunks += "\r\n";
        }
        if (reply.how == serve::chunked) chunks += "0\r\n\r\n";
        if (send_all(c, chunks.data(), chunks.size())) close_gracefully(c);
        else closesocket(c);
        return;
    }
    case serve::reset: {
        if (send_all(c, body.data(), part)) stopping(300);  // let the part arrive first
        // A zero linger time asks for a reset on Windows; the unread request makes one here.
        linger hard = {1, 0};
        setsockopt(c, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard), sizeof hard);
        closesocket(c);
        return;
    }
    case serve::silent:
        break;
    }
    closesocket(c);
}

full_listener::full_listener(int port) {
    net_up();
    sock_ = listen_on(port, 1, &port_);
    if (sock_ == INVALID_SOCKET) return;
    // Connections complete, without an accept, until the queue is full.
    for (int i = 0; i < 16; ++i) {
        SOCKET s = connect_within(port_, 500);
        if (s == INVALID_SOCKET) break;
        fillers_.push_back(s);
    }
    SOCKET probe = connect_within(port_, 1500);
    full_ = probe == INVALID_SOCKET && !fillers_.empty();
    if (probe != INVALID_SOCKET) closesocket(probe);
}

full_listener::~full_listener() {
    for (SOCKET s : fillers_) closesocket(s);
    if (sock_ != INVALID_SOCKET) closesocket(sock_);
}

process::process(process&& other) noexcept : pi_(other.pi_) { other.pi_ = {}; }

process& process::operator=(process&& other) noexcept {
    if (this != &other) {
        kill();
        pi_ = other.pi_;
        other.pi_ = {};
    }
    return *this;
}

process::~process() { kill(); }

DWORD process::wait(DWORD timeout_ms) {
    DWORD code = 0xFFFFFFFF;
    if (!pi_.hProcess || WaitForSingleObject(pi_.hProcess, timeout_ms) != WAIT_OBJECT_0) return code;
    GetExitCodeProcess(pi_.hProcess, &code);
    return code;
}

void process::kill() {
    if (pi_.hProcess) {
        if (WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT) {
            TerminateProcess(pi_.hProcess, 0xDEAD);
            WaitForSingleObject(pi_.hProcess, 5000);
        }
        CloseHandle(pi_.hProcess);
    }
    if (pi_.hThread) CloseHandle(pi_.hThread);
    pi_ = {};
}

process start(const std::wstring& exe, const std::wstring& args, const env_changes& env) {
    process p;
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    std::wstring cmd = L"\"" + exe + L"\"" + (args.empty() ? L"" : L" " + args);
    std::vector<wchar_t> cmdbuf(cmd.begin(), cmd.end());
    cmdbuf.push_back(0);
    std::vector<wchar_t> block;
    if (!env.empty()) block = make_env_block(env);
    BOOL ok = FALSE;
    for (int attempt = 0; attempt < 2 && !ok; ++attempt) {
        ok = CreateProcessW(exe.c_str(), cmdbuf.data(), nullptr, nullptr, FALSE,
                            CREATE_UNICODE_ENVIRONMENT, block.empty() ? nullptr : block.data(),
                            nullptr, &si, &p.pi_);
        if (!ok && GetLastError() != 1359) break;
        if (!ok) Sleep(200);
    }
    if (!ok) p.pi_ = {};
    return p;
}

namespace {
struct window_query {
    DWORD pid;
    const wchar_t* cls;
    HWND except;
    HWND found;
};
BOOL CALLBACK match_window(HWND hwnd, LPARAM lp) {
    auto* q = reinterpret_cast<window_query*>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid != q->pid || hwnd == q->except || !IsWindowVisible(hwnd)) return TRUE;
    wchar_t cls[256] = L"";
    GetClassNameW(hwnd, cls, 256);
    if (q->cls && wcscmp(cls, q->cls) != 0) return TRUE;
    q->found = hwnd;
    return FALSE;
}
}  // namespace

HWND find_window(DWORD pid, const wchar_t* cls, HWND except) {
    window_query q = {pid, cls, except, nullptr};
    EnumWindows(match_window, reinterpret_cast<LPARAM>(&q));
    return q.found;
}

HWND wait_window(DWORD pid, const wchar_t* cls, DWORD timeout_ms, HWND except) {
    ULONGLONG end = GetTickCount64() + timeout_ms;
    for (;;) {
        HWND h = find_window(pid, cls, except);
        if (h || GetTickCount64() >= end) return h;
        Sleep(2);
    }
}

bool per_monitor_aware() {
    if (!SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2))
        SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE);
    return GetAwarenessFromDpiAwarenessContext(GetThreadDpiAwarenessContext()) ==
           DPI_AWARENESS_PER_MONITOR_AWARE;
}

image capture_screen(const RECT& rect) {
    image img;
    int w = rect.right - rect.left, h = rect.bottom - rect.top;
    if (w <= 0 || h <= 0) return img;
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;  // top-down
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bmp && mem) {
        HGDIOBJ old = SelectObject(mem, bmp);
        if (BitBlt(mem, 0, 0, w, h, screen, rect.left, rect.top, SRCCOPY)) {
            GdiFlush();
            img.width = w;
            img.height = h;
            img.px.resize(size_t(w) * h);
            const DWORD* src = static_cast<const DWORD*>(bits);
            for (size_t i = 0; i < img.px.size(); ++i)  // DIB order is 0x00RRGGBB
                img.px[i] = RGB((src[i] >> 16) & 0xFF, (src[i] >> 8) & 0xFF, src[i] & 0xFF);
        }
        SelectObject(mem, old);
    }
    if (bmp) DeleteObject(bmp);
    if (mem) DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return img;
}

bool write_bmp(const std::wstring& path, const image& img) {
    if (img.width <= 0 || img.height <= 0) return false;
    int stride = (img.width * 3 + 3) & ~3;
    std::string data(size_t(stride) * img.height, '\0');
    for (int y = 0; y < img.height; ++y)
        for (int x = 0; x < img.width; ++x) {
            COLORREF c = img.at(x, y);
            char* p = &data[size_t(img.height - 1 - y) * stride + size_t(x) * 3];
            p[0] = char(GetBValue(c));
            p[1] = char(GetGValue(c));
            p[2] = char(GetRValue(c));
        }
    BITMAPFILEHEADER fh = {};
    BITMAPINFOHEADER ih = {};
    fh.bfType = 0x4D42;
    fh.bfOffBits = sizeof fh + sizeof ih;
    fh.bfSize = DWORD(fh.bfOffBits + data.size());
    ih.biSize = sizeof ih;
    ih.biWidth = img.width;
    ih.biHeight = img.height;
    ih.biPlanes = 1;
    ih.biBitCount = 24;
    ih.biSizeImage = DWORD(data.size());
    std::string all(reinterpret_cast<const char*>(&fh), sizeof fh);
    all.append(reinterpret_cast<const char*>(&ih), sizeof ih);
    all += data;
    return write_file(path, all);
}

}  // namespace harness
