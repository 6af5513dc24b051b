// HTTP GET through WinHTTP in asynchronous mode. One request at a time per
// call, no state shared between calls: the status callback records how the
// pending step ended and signals an event, and the calling thread waits on
// that event against its own deadlines. At a deadline the request handle is
// closed; the callback context lives on until WinHTTP says that handle is
// gone, since a step still pending may complete into it.
#include "http_client.h"
#include "text_util.h"

#include <winhttp.h>

namespace {

struct winhttp_api {
    decltype(&WinHttpOpen) open;
    decltype(&WinHttpConnect) connect;
    decltype(&WinHttpOpenRequest) open_request;
    decltype(&WinHttpSetStatusCallback) set_callback;
    decltype(&WinHttpSetOption) set_option;
    decltype(&WinHttpSendRequest) send;
    decltype(&WinHttpReceiveResponse) receive;
    decltype(&WinHttpQueryHeaders) query_headers;
    decltype(&WinHttpQueryDataAvailable) query_available;
    decltype(&WinHttpReadData) read;
    decltype(&WinHttpCloseHandle) close;
    decltype(&WinHttpCrackUrl) crack_url;
};

winhttp_api g_api;
INIT_ONCE g_api_once = INIT_ONCE_STATIC_INIT;

BOOL CALLBACK load_winhttp(PINIT_ONCE, PVOID, PVOID* ok) {
    HMODULE lib = load_system_library(L"winhttp.dll");
    bool all = lib && bind_proc(lib, g_api.open, "WinHttpOpen") &&
               bind_proc(lib, g_api.connect, "WinHttpConnect") &&
               bind_proc(lib, g_api.open_request, "WinHttpOpenRequest") &&
               bind_proc(lib, g_api.set_callback, "WinHttpSetStatusCallback") &&
               bind_proc(lib, g_api.set_option, "WinHttpSetOption") &&
               bind_proc(lib, g_api.send, "WinHttpSendRequest") &&
               bind_proc(lib, g_api.receive, "WinHttpReceiveResponse") &&
               bind_proc(lib, g_api.query_headers, "WinHttpQueryHeaders") &&
               bind_proc(lib, g_api.query_available, "WinHttpQueryDataAvailable") &&
               bind_proc(lib, g_api.read, "WinHttpReadData") &&
               bind_proc(lib, g_api.close, "WinHttpCloseHandle") &&
               bind_proc(lib, g_api.crack_url, "WinHttpCrackUrl");
    *ok = all ? &g_api : NULL;
    return TRUE;
}

// The library is loaded on the first request only, so the headless switches
// never pay for it.
const winhttp_api* winhttp() {
    void* api = NULL;
    if (!InitOnceExecuteOnce(&g_api_once, load_winhttp, NULL, &api)) return NULL;
    return static_cast<const winhttp_api*>(api);
}

const DWORD READ_CHUNK = 16384;

// Shared by the waiting thread and WinHTTP's callback; freed by whichever of
// the two lets go last.
struct http_call {
    LONG refs;
    HANDLE signal;        // auto-reset: the pending step has ended
    DWORD ended_with;     // callback status that ended it
    DWORD count;          // bytes available or read
    unsigned char buf[READ_CHUNK];
};

void release(http_call* c) {
    if (InterlockedDecrement(&c->refs) != 0) return;
    CloseHandle(c->signal);
    HeapFree(GetProcessHeap(), 0, c);
}

void CALLBACK on_status(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD info_len) {
    http_call* c = reinterpret_cast<http_call*>(context);
    if (!c) return;  // the session's and connection's own notices
    switch (status) {
    case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING:
        release(c);
        return;
    case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE:
        c->count = info ? *static_cast<const DWORD*>(info) : 0;
        break;
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
        c->count = info_len;
        break;
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
        break;
    default:
        return;
    }
    c->ended_with = status;
    SetEvent(c->signal);
}

// Paint and timer messages only: the window stays drawn and animated, while
// posted input waits in the queue. Messages sent from other threads are
// delivered by the peeks themselves.
void pump_paint_and_timer() {
    MSG msg;
    while (PeekMessageW(&msg, NULL, 0, 0, PM_REMOVE | PM_QS_PAINT)) DispatchMessageW(&msg);
    while (PeekMessageW(&msg, NULL, WM_TIMER, WM_TIMER, PM_REMOVE)) DispatchMessageW(&msg);
}

struct deadlines {
    ULONGLONG idle_end, total_end;
    DWORD idle_ms;
    void arrived() {
        ULONGLONG next = GetTickCount64() + idle_ms;
        idle_end = next < total_end ? next : total_end;
    }
};

// Waits until the pending step ends; 1 when it ended as expected.
int wait_step(http_call* c, deadlines* d, DWORD expected) {
    for (;;) {
        ULONGLONG now = GetTickCount64();
        ULONGLONG end = d->idle_end < d->total_end ? d->idle_end : d->total_end;
        if (now >= end) return 0;
        ULONGLONG left = end - now;
        DWORD r = MsgWaitForMultipleObjects(1, &c->signal, FALSE,
                                            left > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<DWORD>(left),
                                            QS_PAINT | QS_TIMER | QS_SENDMESSAGE);
        if (r == WAIT_OBJECT_0) return c->ended_with == expected;
        if (r == WAIT_OBJECT_0 + 1) pump_paint_and_timer();
        else if (r != WAIT_TIMEOUT) return 0;
    }
}

// Content-Length as a number; 0 when the reply declares none (or one that is
// not a plain decimal number, which no complete body can match).
int declared_length(const winhttp_api* api, HINTERNET req, unsigned long long* length) {
    wchar_t text[32];
    DWORD bytes = sizeof text;
    if (!api->query_headers(req, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX, text,
                            &bytes, WINHTTP_NO_HEADER_INDEX))
        return 0;
    size_t n = bytes / sizeof(wchar_t);
    unsigned long long v = 0;
    if (n == 0 || n > 19) {
        *length = ~0ULL;
        return 1;
    }
    for (size_t i = 0; i < n; ++i) {
        if (text[i] < L'0' || text[i] > L'9') {
            *length = ~0ULL;
            return 1;
        }
        v = v * 10 + static_cast<unsigned>(text[i] - L'0');
    }
    *length = v;
    return 1;
}

typedef int (*body_sink)(void* sink, const unsigned char* data, DWORD len);

// The request itself, on handles that the caller closes.
int run_request(const winhttp_api* api, HINTERNET req, http_call* c, const wchar_t* headers,
                http_deadline limit, body_sink sink, void* sink_ctx) {
    ULONGLONG start = GetTickCount64();
    deadlines d = {start + limit.idle_ms, start + limit.total_ms, limit.idle_ms};
    if (d.idle_end > d.total_end) d.idle_end = d.total_end;

    if (!api->send(req, headers ? headers : WINHTTP_NO_ADDITIONAL_HEADERS,
                   headers ? static_cast<DWORD>(-1L) : 0, WINHTTP_NO_REQUEST_DATA, 0, 0,
                   reinterpret_cast<DWORD_PTR>(c)) ||
        !wait_step(c, &d, WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE))
        return 0;
    if (!api->receive(req, NULL) || !wait_step(c, &d, WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE))
        return 0;
    d.arrived();

    // Redirects are followed by the client: this is the final reply's status.
    DWORD status = 0, size = sizeof status;
    if (!api->query_headers(req, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                            WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX) ||
        status != 200)
        return 0;
    unsigned long long declared = 0, received = 0;
    int has_length = declared_length(api, req, &declared);

    // Ask what has arrived, then read exactly that much: a larger read would
    // wait for its whole buffer, whatever the deadline.
    for (;;) {
        if (!api->query_available(req, NULL) ||
            !wait_step(c, &d, WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE))
            return 0;
        DWORD available = c->count;
        if (available == 0) break;
        d.arrived();
        DWORD want = available < READ_CHUNK ? available : READ_CHUNK;
        if (!api->read(req, c->buf, want, NULL) ||
            !wait_step(c, &d, WINHTTP_CALLBACK_STATUS_READ_COMPLETE))
            return 0;
        DWORD got = c->count;
        if (got == 0 || got > want) break;
        received += got;
        if ((has_length && received > declared) || !sink(sink_ctx, c->buf, got)) return 0;
    }
    return !has_length || received == declared;
}

int http_get(const wchar_t* url, const wchar_t* headers, http_deadline limit, body_sink sink,
             void* sink_ctx) {
    const winhttp_api* api = winhttp();
    if (!api || !url) return 0;

    URL_COMPONENTS parts = {};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    if (!api->crack_url(url, 0, 0, &parts) || !parts.lpszHostName || !parts.lpszUrlPath) return 0;
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) return 0;
    wchar_t host[256];
    if (parts.dwHostNameLength == 0 || parts.dwHostNameLength >= 256) return 0;
    for (DWORD i = 0; i < parts.dwHostNameLength; ++i) host[i] = parts.lpszHostName[i];
    host[parts.dwHostNameLength] = 0;
    // The path runs on through the query to the end of the address.
    const wchar_t* object = parts.dwUrlPathLength ? parts.lpszUrlPath : L"/";

    wchar_t agent[32];
    wcopy(agent, 32, L"KelvoSetup/");
    wappend(agent, 32, CUR_VER);
    // The user's own proxy settings apply, as in every other program of theirs.
    HINTERNET session = api->open(agent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                                  WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC);
    if (!session)
        session = api->open(agent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                            WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC);
    if (!session) return 0;

    int ok = 0;
    HINTERNET conn = NULL, req = NULL;
    http_call* c = static_cast<http_call*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(http_call)));
    if (c) {
        c->refs = 1;
        c->signal = CreateEventW(NULL, FALSE, FALSE, NULL);
        if (!c->signal) {
            HeapFree(GetProcessHeap(), 0, c);
            c = NULL;
        }
    }
    if (c &&
        api->set_callback(session, on_status,
                          WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_HANDLES,
                          0) != WINHTTP_INVALID_STATUS_CALLBACK)
        conn = api->connect(session, host, parts.nPort, 0);
    if (conn)
        req = api->open_request(conn, L"GET", object, NULL, WINHTTP_NO_REFERER,
                                WINHTTP_DEFAULT_ACCEPT_TYPES,
                                parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0);
    if (req) {
        DWORD_PTR value = reinterpret_cast<DWORD_PTR>(c);
        // From here on the request handle holds a reference, dropped when it closes.
        if (api->set_option(req, WINHTTP_OPTION_CONTEXT_VALUE, &value, sizeof value)) {
            InterlockedIncrement(&c->refs);
            ok = run_request(api, req, c, headers, limit, sink, sink_ctx);
        }
        api->close(req);
    }
    if (conn) api->close(conn);
    api->close(session);
    if (c) release(c);
    return ok;
}

struct memory_sink {
    unsigned char* data;
    size_t len, cap, max;
};

int to_memory(void* ctx, const unsigned char* bytes, DWORD len) {
    memory_sink* m = static_cast<memory_sink*>(ctx);
    if (len > m->max - m->len) return 0;
    if (m->len + len + 1 > m->cap) {
        size_t cap = m->cap ? m->cap : 65536;
        while (cap < m->len + len + 1) cap *= 2;
        if (cap > m->max + 1) cap = m->max + 1;
        void* grown = m->data ? HeapReAlloc(GetProcessHeap(), 0, m->data, cap)
                              : HeapAlloc(GetProcessHeap(), 0, cap);
        if (!grown) return 0;
        m->data = static_cast<unsigned char*>(grown);
        m->cap = cap;
    }
    for (DWORD i = 0; i < len; ++i) m->data[m->len + i] = bytes[i];
    m->len += len;
    return 1;
}

int to_file(void* ctx, const unsigned char* bytes, DWORD len) {
    DWORD written = 0;
    return WriteFile(static_cast<HANDLE>(ctx), bytes, len, &written, NULL) && written == len;
}

}  // namespace

int http_get_memory(const wchar_t* url, const wchar_t* headers, size_t max_len, http_deadline limit,
                    unsigned char** body, size_t* len) {
    memory_sink m = {NULL, 0, 0, max_len};
    int ok = http_get(url, headers, limit, to_memory, &m);
    if (ok && !m.data) {  // an empty body still gets its terminating zero
        m.data = static_cast<unsigned char*>(HeapAlloc(GetProcessHeap(), 0, 1));
        ok = m.data != NULL;
    }
    if (!ok) {
        if (m.data) HeapFree(GetProcessHeap(), 0, m.data);
        return 0;
    }
    m.data[m.len] = 0;
    *body = m.data;
    *len = m.len;
    return 1;
}

int http_get_file(const wchar_t* url, HANDLE file, http_deadline limit) {
    return http_get(url, NULL, limit, to_file, file);
}
