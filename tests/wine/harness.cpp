#include "harness.h"

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

http_server::http_server(int port) {
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    sock_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (sock_ == INVALID_SOCKET) return;
    BOOL yes = TRUE;
    setsockopt(sock_, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&yes), sizeof yes);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<u_short>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(sock_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(sock_, 16) != 0) {
        closesocket(sock_);
        sock_ = INVALID_SOCKET;
        return;
    }
    thread_ = std::thread([this] { serve(); });
}

http_server::~http_server() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    if (sock_ != INVALID_SOCKET) {
        closesocket(sock_);  // wakes the accept
        sock_ = INVALID_SOCKET;
    }
    if (thread_.joinable()) thread_.join();
    WSACleanup();
}

void http_server::set(const std::string& path, const http_reply& reply) {
    std::lock_guard<std::mutex> lock(mutex_);
    routes_[path] = reply;
}

void http_server::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    routes_.clear();
    hits_.clear();
}

int http_server::hits(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    return hits_[path];
}

void http_server::serve() {
    SOCKET listener = sock_;
    for (;;) {
        SOCKET c = accept(listener, nullptr, nullptr);
        if (c == INVALID_SOCKET) return;
        std::string req;
        char buf[4096];
        while (req.find("\r\n\r\n") == std::string::npos && req.size() < 65536) {
            int n = recv(c, buf, sizeof buf, 0);
            if (n <= 0) break;
            req.append(buf, n);
        }
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
            if (stop_) {
                closesocket(c);
                return;
            }
            ++hits_[path];
            auto it = routes_.find(path);
            found = it != routes_.end();
            if (found) reply = it->second;
        }
        if (!found) {
            reply.status = 404;
            reply.content_type = "text/html";
            reply.body = "<html><body><h1>404 Not Found</h1></body></html>";
        }
        std::string head = "HTTP/1.0 " + std::to_string(reply.status) +
                           (reply.status == 200 ? " OK" : " Error") +
                           "\r\nContent-Type: " + reply.content_type +
                           "\r\nContent-Length: " + std::to_string(reply.body.size()) +
                           "\r\nCache-Control: no-store, no-cache\r\nPragma: no-cache\r\nExpires: 0"
                           "\r\nConnection: close\r\n\r\n";
        std::string all = head + reply.body;
        size_t sent = 0;
        while (sent < all.size()) {
            int n = send(c, all.data() + sent, (int)std::min<size_t>(all.size() - sent, 1 << 16), 0);
            if (n <= 0) break;
            sent += n;
        }
        shutdown(c, SD_SEND);
        closesocket(c);
    }
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
