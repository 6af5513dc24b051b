// The tests' loopback server, read with a plain socket: each way it is asked
// to misbehave is what a client really meets on the wire (a stall stays open
// and silent, a cut ends early, a reset resets), and none of it outlives the
// server object. The network tests rely on this.
#include <gtest/gtest.h>

#include <string>

#include "harness.h"

using namespace harness;

namespace {

// What a client saw on one connection within a time window.
struct seen {
    std::string bytes;
    bool closed = false;     // the peer ended the stream
    bool reset = false;      // the peer reset the connection
    int error = 0;           // the socket error that ended it, if any
    ULONGLONG first_ms = 0;  // first byte after the request went out; 0: none
    ULONGLONG end_ms = 0;    // end or reset after the request; 0: still open
};

seen fetch(int port, const std::string& path, DWORD window_ms) {
    seen s;
    SOCKET c = connect_within(port, 2000);
    if (c == INVALID_SOCKET) return s;
    std::string req = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    send(c, req.data(), static_cast<int>(req.size()), 0);
    const ULONGLONG t0 = GetTickCount64();
    char buf[8192];
    while (GetTickCount64() - t0 < window_ms) {
        fd_set r;
        FD_ZERO(&r);
        FD_SET(c, &r);
        timeval tv = {0, 20000};
        if (select(0, &r, nullptr, nullptr, &tv) <= 0) continue;
        int n = recv(c, buf, sizeof buf, 0);
        if (n > 0) {
            if (s.bytes.empty()) s.first_ms = GetTickCount64() - t0 + 1;
            s.bytes.append(buf, n);
            continue;
        }
        if (n == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) continue;
        s.error = n == 0 ? 0 : WSAGetLastError();
        s.closed = n == 0;
        s.reset = s.error == WSAECONNRESET || s.error == WSAECONNABORTED;
        s.end_ms = GetTickCount64() - t0 + 1;
        break;
    }
    closesocket(c);
    return s;
}

std::string head_of(const std::string& bytes) {
    size_t end = bytes.find("\r\n\r\n");
    return end == std::string::npos ? bytes : bytes.substr(0, end + 4);
}
std::string body_of(const std::string& bytes) {
    size_t end = bytes.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : bytes.substr(end + 4);
}

http_reply make(serve how, size_t cut = 0) {
    http_reply r;
    r.body = std::string(3000, 'k');
    for (size_t i = 0; i < r.body.size(); ++i) r.body[i] = static_cast<char>('a' + i % 26);
    r.how = how;
    r.cut = cut;
    return r;
}

// The chunk stream decoded; done tells whether the terminating chunk came.
std::string unchunk(const std::string& stream, bool* done) {
    std::string out;
    size_t at = 0;
    *done = false;
    for (;;) {
        size_t eol = stream.find("\r\n", at);
        if (eol == std::string::npos) return out;
        unsigned long n = strtoul(stream.substr(at, eol - at).c_str(), nullptr, 16);
        if (n == 0) {
            *done = stream.compare(eol, 4, "\r\n\r\n") == 0;
            return out;
        }
        out += stream.substr(eol + 2, n);
        at = eol + 2 + n + 2;
    }
}

}  // namespace

TEST(LoopbackServer, EachBehaviourIsWhatTheClientSees) {
    http_server server(0);
    ASSERT_TRUE(server.listening());
    const std::string full = make(serve::whole).body;

    http_reply trickle = make(serve::trickle);
    trickle.pace_ms = 200;
    http_reply late = make(serve::whole);
    late.delay_ms = 800;
    http_reply moved = make(serve::whole);
    moved.status = 302;
    moved.location = "http://127.0.0.1/elsewhere";
    http_reply unsized = make(serve::whole);
    unsized.declare_length = false;

    struct expect {
        const char* what;
        http_reply reply;
        DWORD window_ms;
        std::string status;       // start of the status line; "" when nothing may arrive
        const char* length;       // Content-Length value, nullptr when absent
        size_t body_min, body_max;  // raw body bytes seen
        bool ends;                // the server ends the stream within the window
        ULONGLONG first_after;    // no byte before this many ms
    } cases[] = {
        {"whole", make(serve::whole), 3000, "HTTP/1.1 200 OK", "3000", 3000, 3000, true, 0},
        {"silent", make(serve::silent), 1500, "", nullptr, 0, 0, false, 0},
        {"stall after headers and 10 bytes", make(serve::stall, 10), 1500, "HTTP/1.1 200", "3000", 10, 10, false, 0},
        {"trickle, a byte every 200 ms", trickle, 900, "HTTP/1.1 200", "3000", 2, 5, false, 0},
        {"cut short of the declared length", make(serve::cut, 1000), 3000, "HTTP/1.1 200", "3000", 1000, 1000, true, 0},
        {"reset mid-body", make(serve::reset, 1000), 3000, "HTTP/1.1 200", "3000", 0, 1000, true, 0},
        {"answer after 800 ms", late, 3000, "HTTP/1.1 200", "3000", 3000, 3000, true, 700},
        {"redirect", moved, 3000, "HTTP/1.1 302 Found", "3000", 3000, 3000, true, 0},
        {"no declared length", unsized, 3000, "HTTP/1.1 200", nullptr, 3000, 3000, true, 0},
    };
    for (const auto& c : cases) {
        const std::string path = std::string("/") + c.what;
        std::string url_path;
        for (char ch : path) url_path += ch == ' ' ? '_' : ch;
        server.set(url_path, c.reply);
        seen s = fetch(server.port(), url_path, c.window_ms);
        EXPECT_EQ(server.hits(url_path), 1) << c.what;
        const std::string head = head_of(s.bytes), body = body_of(s.bytes);
        if (c.status.empty()) {
            EXPECT_EQ(s.bytes, "") << c.what;
        } else {
            EXPECT_EQ(head.compare(0, c.status.size(), c.status), 0) << c.what << ": " << head;
            std::string want = c.length ? std::string("Content-Length: ") + c.length + "\r\n" : "";
            if (c.length) EXPECT_NE(head.find(want), std::string::npos) << c.what << ": " << head;
            else EXPECT_EQ(head.find("Content-Length"), std::string::npos) << c.what << ": " << head;
            EXPECT_GE(body.size(), c.body_min) << c.what;
            EXPECT_LE(body.size(), c.body_max) << c.what;
            EXPECT_EQ(body, full.substr(0, body.size())) << c.what;
        }
        EXPECT_EQ(s.end_ms != 0, c.ends) << c.what << ": ended after " << s.end_ms << " ms";
        // A reset reads as a plain end in a Wine process (Wine takes the
        // error up itself); ResetIsAResetOnTheWire looks from outside.
        if (c.ends && c.reply.how != serve::reset) EXPECT_FALSE(s.reset) << c.what;
        if (c.first_after) EXPECT_GE(s.first_ms, c.first_after) << c.what;
        if (!c.reply.location.empty())
            EXPECT_NE(head.find("Location: " + c.reply.location + "\r\n"), std::string::npos) << c.what;
    }
    EXPECT_GT(server.answered_at("/answer_after_800_ms"), 0u);
    EXPECT_EQ(server.answered_at("/silent"), 0u) << "a silent reply never answers";
    EXPECT_NE(server.request("/whole").find("Host: 127.0.0.1\r\n"), std::string::npos);
}

// Reads path from a Linux process (python3), which reports a reset as one:
// "<body bytes> end" or "<body bytes> reset".
std::string linux_reads(int port, const std::string& path) {
    std::string unix_out = "/tmp/kelvo-linux-reads-" + std::to_string(GetCurrentProcessId());
    std::string script =
        "import socket\n"
        "s=socket.create_connection(('127.0.0.1'," + std::to_string(port) + "))\n"
        "s.sendall(b'GET " + path + " HTTP/1.1\\r\\nHost: x\\r\\n\\r\\n')\n"
        "got=b''\nend='end'\n"
        "while True:\n"
        " try:\n  b=s.recv(65536)\n"
        " except ConnectionResetError:\n  end='reset'\n  break\n"
        " if not b: break\n got+=b\n"
        "print(len(got.split(b'\\r\\n\\r\\n',1)[1]),end,file=open('" + unix_out + "','w'))\n";
    std::wstring script_path = L"Z:" + wide(unix_out) + L".py";
    for (auto& ch : script_path) ch = ch == L'/' ? L'\\' : ch;
    if (!write_file(script_path, script)) return "cannot write the script";
    // A Unix program's Windows handle ends at once: wait for its result file.
    run_result r = run(L"Z:\\usr\\bin\\python3", wide(unix_out) + L".py", {}, 30000);
    std::wstring result_path = L"Z:" + wide(unix_out);
    for (auto& ch : result_path) ch = ch == L'/' ? L'\\' : ch;
    std::string got;
    for (int i = 0; i < 300 && (!read_file(result_path, &got) || got.find('\n') == std::string::npos); ++i)
        Sleep(50);
    DeleteFileW(result_path.c_str());
    DeleteFileW(script_path.c_str());
    while (!got.empty() && (got.back() == '\n' || got.back() == '\r')) got.pop_back();
    return got.empty() ? "python3 failed (" + std::to_string(r.code) + "): " + r.out : got;
}

TEST(LoopbackServer, ResetIsAResetOnTheWire) {
    http_server server(0);
    ASSERT_TRUE(server.listening());
    server.set("/reset", make(serve::reset, 1000));
    server.set("/cut", make(serve::cut, 1000));
    EXPECT_EQ(linux_reads(server.port(), "/reset"), "1000 reset");
    EXPECT_EQ(linux_reads(server.port(), "/cut"), "1000 end");
}

TEST(LoopbackServer, ChunkedRepliesEndWithOrWithoutTheirLastChunk) {
    http_server server(0);
    ASSERT_TRUE(server.listening());
    const std::string full = make(serve::whole).body;
    struct {
        const char* path;
        http_reply reply;
        size_t body;
        bool terminated;
    } cases[] = {
        {"/chunked", make(serve::chunked), 3000, true},
        {"/chunked-cut", make(serve::chunked_cut, 2000), 2000, false},
    };
    for (const auto& c : cases) {
        server.set(c.path, c.reply);
        seen s = fetch(server.port(), c.path, 3000);
        EXPECT_NE(head_of(s.bytes).find("Transfer-Encoding: chunked\r\n"), std::string::npos) << c.path;
        EXPECT_EQ(head_of(s.bytes).find("Content-Length"), std::string::npos) << c.path;
        bool done = false;
        EXPECT_EQ(unchunk(body_of(s.bytes), &done), full.substr(0, c.body)) << c.path;
        EXPECT_EQ(done, c.terminated) << c.path;
        EXPECT_TRUE(s.closed) << c.path;
    }
}

TEST(LoopbackServer, StallsEndWhenTheServerGoes) {
    // Connections left stalled, silent and trickling: the destructor must
    // end all of them promptly, or a failed test would hang at its end.
    SOCKET held[3];
    ULONGLONG t0;
    {
        http_server server(0);
        ASSERT_TRUE(server.listening());
        server.set("/silent", make(serve::silent));
        server.set("/stall", make(serve::stall, 5));
        server.set("/trickle", make(serve::trickle));
        const char* paths[3] = {"/silent", "/stall", "/trickle"};
        for (int i = 0; i < 3; ++i) {
            held[i] = connect_within(server.port(), 2000);
            ASSERT_NE(held[i], INVALID_SOCKET);
            std::string req = std::string("GET ") + paths[i] + " HTTP/1.1\r\n\r\n";
            send(held[i], req.data(), static_cast<int>(req.size()), 0);
        }
        for (int i = 0; i < 100 && server.hits("/silent") + server.hits("/stall") + server.hits("/trickle") < 3; ++i)
            Sleep(20);
        t0 = GetTickCount64();
    }
    EXPECT_LT(GetTickCount64() - t0, 2000u) << "the server took long to go";
    for (SOCKET s : held) {
        // Each connection has been ended: reading reaches its end (or a reset) at once.
        char buf[4096];
        int n;
        ULONGLONG t1 = GetTickCount64();
        do {
            fd_set r;
            FD_ZERO(&r);
            FD_SET(s, &r);
            timeval tv = {2, 0};
            n = select(0, &r, nullptr, nullptr, &tv) > 0 ? recv(s, buf, sizeof buf, 0) : -2;
        } while (n > 0);
        EXPECT_NE(n, -2) << "still open " << GetTickCount64() - t1 << " ms after the server went";
        closesocket(s);
    }
}

TEST(LoopbackServer, StoppedListenerKeepsItsConnectionsAndFreesThePort) {
    http_server first(0);
    ASSERT_TRUE(first.listening());
    const int port = first.port();
    first.set("/stall", make(serve::stall, 7));
    SOCKET c = connect_within(port, 2000);
    ASSERT_NE(c, INVALID_SOCKET);
    std::string req = "GET /stall HTTP/1.1\r\n\r\n";
    send(c, req.data(), static_cast<int>(req.size()), 0);
    for (int i = 0; i < 100 && first.hits("/stall") == 0; ++i) Sleep(20);
    first.stop_listening();
    EXPECT_FALSE(first.listening());

    // Another server takes the port while the first still holds its connection.
    http_server second(port);
    ASSERT_TRUE(second.listening()) << "the port stayed taken";
    second.set("/x", {200, "text/plain", "second"});
    seen s = fetch(port, "/x", 3000);
    EXPECT_EQ(body_of(s.bytes), "second");
    EXPECT_EQ(first.hits("/x"), 0);

    // The first connection is still open, its seven bytes sent.
    std::string got;
    bool ended = false;
    char buf[4096];
    for (int i = 0; i < 50 && !ended; ++i) {
        fd_set r;
        FD_ZERO(&r);
        FD_SET(c, &r);
        timeval tv = {0, 20000};
        if (select(0, &r, nullptr, nullptr, &tv) > 0) {
            int n = recv(c, buf, sizeof buf, 0);
            if (n > 0) got.append(buf, n);
            else ended = true;
        }
    }
    EXPECT_EQ(body_of(got), "abcdefg");
    EXPECT_FALSE(ended) << "the stalled connection was closed with the listener";
    closesocket(c);
}

TEST(LoopbackServer, FullBacklogLeavesConnectionsUnanswered) {
    int port;
    {
        full_listener host(0);
        port = host.port();
        ASSERT_NE(port, 0);
        ASSERT_TRUE(host.full()) << host.queued() << " connections queued, yet a probe was answered";
        EXPECT_GE(host.queued(), 1);
        // Unanswered, not refused: the attempt is still pending when given up.
        ULONGLONG t0 = GetTickCount64();
        SOCKET s = connect_within(port, 3000);
        ULONGLONG waited = GetTickCount64() - t0;
        EXPECT_EQ(s, INVALID_SOCKET);
        if (s != INVALID_SOCKET) closesocket(s);
        EXPECT_GE(waited, 2900u) << "the connection was refused, not left unanswered";
    }
    // Gone: the port refuses at once.
    ULONGLONG t0 = GetTickCount64();
    SOCKET s = connect_within(port, 3000);
    EXPECT_EQ(s, INVALID_SOCKET);
    if (s != INVALID_SOCKET) closesocket(s);
    EXPECT_LT(GetTickCount64() - t0, 1000u);
}
