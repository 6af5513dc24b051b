// Hosts that misbehave, against the loopback build's catalogue and install
// engine linked into this program: every network wait ends within its bound,
// only a status-200 list is read, and only a whole interpreter (matching its
// published digest, when there is one) ever replaces the user's kelvo.exe.
// The slow downloads (stalled, trickling) run in child processes side by side
// while the other tests of this program run.
#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "harness.h"
#include "kelvo.h"

#include <bcrypt.h>

// The shared state that the entry unit defines in the setup program.
wchar_t APP_DIR[260];
const wchar_t CUR_VER[] = L"2.15";
ver_entry ver_urls[16];
int ver_count;

using namespace harness;

namespace {

const std::string LIST = "/repos/kelvo-lang/kelvo/releases?per_page=12";
const std::string LATEST = "/kelvo-lang/kelvo/releases/latest/download/kelvo.exe";
const std::string LISTED = "/dl/v9.1/kelvo.exe";
const std::string EARLIER = "MZ earlier interpreter, the user's own";
// As published: the table keeps the text, whatever its case.
const std::string DIGEST_91 = "0123456789ABCDEF0123456789abcdef0123456789ABCDEF0123456789abcdef";

std::string site() { return "http://127.0.0.1:" + std::to_string(test_port()); }
ULONGLONG since(ULONGLONG t0) { return GetTickCount64() - t0; }

std::string file(const std::wstring& path) {
    std::string data;
    return read_file(path, &data) ? data : "(missing)";
}

// SHA-256 through the system's provider, in lower-case hex.
std::string sha256_hex(const std::string& data) {
    std::string hex;
    BCRYPT_ALG_HANDLE alg = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    unsigned char digest[32];
    if (BCryptOpenAlgorithmProvider(&alg, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0) return hex;
    if (BCryptCreateHash(alg, &hash, nullptr, 0, nullptr, 0, 0) == 0 &&
        BCryptHashData(hash, reinterpret_cast<PUCHAR>(const_cast<char*>(data.data())),
                       static_cast<ULONG>(data.size()), 0) == 0 &&
        BCryptFinishHash(hash, digest, sizeof digest, 0) == 0) {
        for (unsigned char b : digest) {
            hex += "0123456789abcdef"[b >> 4];
            hex += "0123456789abcdef"[b & 15];
        }
    }
    if (hash) BCryptDestroyHash(hash);
    BCryptCloseAlgorithmProvider(alg, 0);
    return hex;
}

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return s;
}

// The embedded interpreter: a genuine executable.
const std::string& interpreter() {
    static const std::string exe = payload(L"embedded\\kelvo.exe");
    return exe;
}

// The same executable with bytes of its own after its sections (still whole).
std::string with_tail(const std::string& exe) {
    std::string tail(4096, '\0');
    for (size_t i = 0; i < tail.size(); ++i) tail[i] = static_cast<char>(i * 31 + 7);
    return exe + tail;
}

// File offsets of the raw data of the section that ends last: [start, end).
std::pair<size_t, size_t> last_section(const std::string& exe) {
    auto u16 = [&](size_t at) {
        return at + 2 <= exe.size() ? static_cast<size_t>(static_cast<unsigned char>(exe[at]) |
                                                           static_cast<unsigned char>(exe[at + 1]) << 8)
                                    : 0;
    };
    auto u32 = [&](size_t at) { return u16(at) | u16(at + 2) << 16; };
    const size_t pe = u32(0x3C), sections = u16(pe + 6), table = pe + 24 + u16(pe + 20);
    std::pair<size_t, size_t> last(0, 0);
    for (size_t i = 0; i < sections; ++i) {
        const size_t s = table + 40 * i, size = u32(s + 16), at = u32(s + 20);
        if (size && at + size > last.second) last = {at, at + size};
    }
    return last;
}

// The value of a request header (name compared without case), "" when absent.
std::string header(const std::string& request, const std::string& name) {
    size_t at = request.find("\r\n");
    while (at != std::string::npos && at + 2 < request.size()) {
        size_t end = request.find("\r\n", at + 2);
        std::string line = request.substr(at + 2, end == std::string::npos ? std::string::npos : end - at - 2);
        size_t colon = line.find(':');
        if (colon != std::string::npos && upper(line.substr(0, colon)) == upper(name)) {
            size_t v = line.find_first_not_of(' ', colon + 1);
            return v == std::string::npos ? "" : line.substr(v);
        }
        at = end;
    }
    return "";
}

http_reply delayed(http_reply r, int ms) {
    r.delay_ms = ms;
    r.pace_ms = ms;
    return r;
}
http_reply unsized(http_reply r) {
    r.declare_length = false;
    return r;
}

// Release-list replies in the order the service sends an asset's fields.
std::string asset(const std::string& name, const std::string& url, const std::string& digest) {
    return "{\"url\":\"https://api/assets/1\",\"name\":\"" + name + "\",\"label\":null,\"size\":13824,"
           "\"digest\":" + digest + ",\"download_count\":3,\"browser_download_url\":\"" + url + "\"}";
}
std::string release(const std::string& tag, const std::string& assets) {
    return "{\"tag_name\":\"" + tag + "\",\"name\":\"" + tag + "\",\"assets\":[" + assets + "]}";
}
std::string good_list() {
    return "[" +
           release("v9.1", asset("KelvoIDE.exe", site() + "/dl/v9.1/KelvoIDE.exe",
                                 "\"sha256:" + std::string(64, 'e') + "\"") +
                               "," + asset("kelvo.exe", site() + LISTED, "\"sha256:" + DIGEST_91 + "\"")) +
           "," + release("v9.0", asset("kelvo.exe", site() + "/dl/v9.0/kelvo.exe", "null")) + "]";
}

struct entry {
    std::wstring tag, url, sha256;
    bool operator==(const entry& o) const { return tag == o.tag && url == o.url && sha256 == o.sha256; }
};
std::ostream& operator<<(std::ostream& os, const entry& e) {
    return os << "{" << utf8(e.tag) << ", " << utf8(e.url) << ", " << utf8(e.sha256) << "}";
}

// Runs call on a thread of its own and waits at most limit_ms for it. A call
// still waiting then is released (release ends what it waits on: the server
// it reads from), so a product that never gives up fails the test instead of
// hanging it; one that does not return even then ends this program, as no
// later case could trust the shared state it still holds. The time the call
// took; NEVER when it outlived the limit.
const ULONGLONG NEVER = ~0ull;
ULONGLONG within(DWORD limit_ms, const std::function<void()>& call, const std::function<void()>& release) {
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ULONGLONG took = 0;
    std::thread worker([&] {
        const ULONGLONG t0 = GetTickCount64();
        call();
        took = since(t0);
        SetEvent(done);
    });
    const bool returned = WaitForSingleObject(done, limit_ms) == WAIT_OBJECT_0;
    if (!returned) {
        release();
        if (WaitForSingleObject(done, 15000) != WAIT_OBJECT_0) {
            ADD_FAILURE() << "the call still waits 15 s after its host went: giving up the whole program";
            fflush(stdout);
            TerminateProcess(GetCurrentProcess(), 3);
        }
    }
    worker.join();
    CloseHandle(done);
    return returned ? took : NEVER;
}

std::wstring rel_json() { return temp_dir() + L"kelvo-rel.json"; }

// Slow downloads, each in a child process of its own, all at once: a stall
// ends at the 15-s bound without a byte, a trickle (a byte a second, never
// 15 s without one) only at the 120-s bound on the whole download.
struct slow_case {
    const char* what;
    int choice;
    http_reply reply;
    ULONGLONG at_least_ms, at_most_ms;
};

std::vector<slow_case> slow_cases() {
    const std::string& exe = interpreter();
    std::vector<slow_case> cases;
    for (int choice = 1; choice <= 2; ++choice) {
        const char* c = choice == 1 ? "latest" : "listed";
        cases.push_back({c, choice, reply(200, exe, serve::silent), 14000, 30000});
        cases.push_back({c, choice, reply(200, exe, serve::stall, 1000), 14000, 30000});
        cases.push_back({c, choice, reply(200, exe, serve::trickle), 115000, 150000});
    }
    return cases;
}
const char* behaviour(serve how) {
    return how == serve::silent ? "accepts, never answers"
           : how == serve::stall ? "headers and 1000 bytes, then nothing"
                                 : "a byte a second";
}

// Whether the filter selected suite.name to run.
bool selected(const char* suite, const char* name) {
    const ::testing::UnitTest& all = *::testing::UnitTest::GetInstance();
    for (int i = 0; i < all.total_test_suite_count(); ++i) {
        const ::testing::TestSuite& s = *all.GetTestSuite(i);
        if (strcmp(s.name(), suite) != 0) continue;
        for (int j = 0; j < s.total_test_count(); ++j)
            if (strcmp(s.GetTestInfo(j)->name(), name) == 0) return s.GetTestInfo(j)->should_run();
    }
    return false;
}

// The slow downloads start before the first test and are judged after the
// last, so they take no time of their own; SlowDownloads.EndAtTheirBounds
// stands for them in the test list (and a filter that leaves it out skips them).
class SlowDownloads : public ::testing::Environment {
public:
    void SetUp() override {
        if (!selected("SlowDownloads", "EndAtTheirBounds")) return;
        cases_ = slow_cases();
        ASSERT_FALSE(interpreter().empty());
        server_.reset(new http_server(test_port()));
        ASSERT_TRUE(server_->listening());
        CreateDirectoryW(L"C:\\slow", nullptr);
        for (size_t i = 0; i < cases_.size(); ++i) {
            const slow_case& c = cases_[i];
            child k;
            const std::wstring base = L"C:\\slow\\" + std::to_wstring(i);
            CreateDirectoryW(base.c_str(), nullptr);
            k.app_dir = base + L"\\Kelvo";
            CreateDirectoryW(k.app_dir.c_str(), nullptr);
            ASSERT_TRUE(write_file(k.app_dir + L"\\kelvo.exe", EARLIER));
            k.result = base + L"\\result.txt";
            DeleteFileW(k.result.c_str());
            // Each latest-release child asks for the same path: its reply is
            // set before it starts and kept once its request has arrived.
            const std::string path = c.choice == 1 ? LATEST : "/slow/" + std::to_string(i) + "/kelvo.exe";
            const int before = server_->hits(path);
            server_->set(path, c.reply);
            std::wstring args = std::to_wstring(c.choice) + L" \"" + k.app_dir + L"\" \"" + k.result + L"\"";
            if (c.choice == 2) args += L" " + wide(site() + path);
            k.p = start(beside_me(L"network_child.exe"), args);
            EXPECT_TRUE(k.p.started()) << c.what;
            for (int t = 0; t < 2000 && k.p.started() && server_->hits(path) == before; ++t) Sleep(10);
            EXPECT_EQ(server_->hits(path), before + 1) << c.what << ": " << behaviour(c.reply.how);
            children_.push_back(std::move(k));
        }
        // The connections stay as they are; the port is free for the other tests.
        server_->stop_listening();
        started_ = GetTickCount64();
    }

    int running() const {
        int n = 0;
        for (const child& k : children_) n += k.p.started();
        return n;
    }

    void TearDown() override {
        if (children_.empty()) return;
        for (size_t i = 0; i < children_.size(); ++i) {
            child& k = children_[i];
            const slow_case& c = cases_[i];
            const std::string what = std::string(c.what) + ": " + behaviour(c.reply.how);
            const ULONGLONG deadline = started_ + 200000;
            const ULONGLONG now = GetTickCount64();
            EXPECT_NE(k.p.wait(static_cast<DWORD>(deadline > now ? deadline - now : 0)), 0xFFFFFFFFu) << what;
            int result = -1;
            unsigned long ms = 0;
            const std::string text = file(k.result);
            EXPECT_EQ(sscanf(text.c_str(), "%d %lu", &result, &ms), 2) << what << ": " << text;
            EXPECT_EQ(result, 0) << what;
            EXPECT_GE(ms, c.at_least_ms) << what;
            EXPECT_LE(ms, c.at_most_ms) << what;
            EXPECT_TRUE(file(k.app_dir + L"\\kelvo.exe") == EARLIER) << what << ": kelvo.exe replaced";
            EXPECT_FALSE(exists(k.app_dir + L"\\KelvoIDE.exe")) << what;
            EXPECT_FALSE(exists(temp_dir() + L"kelvo-dl-" + std::to_wstring(k.p.id()) + L".exe")) << what;
        }
        EXPECT_FALSE(key_exists(HKEY_CURRENT_USER, L"Software\\Classes\\.kelvo"));
        children_.clear();
        server_.reset();
    }

private:
    struct child {
        process p;
        std::wstring app_dir, result;
    };
    std::vector<slow_case> cases_;
    std::vector<child> children_;
    std::unique_ptr<http_server> server_;
    ULONGLONG started_ = 0;
};

SlowDownloads* const slow_downloads =
    static_cast<SlowDownloads*>(::testing::AddGlobalTestEnvironment(new SlowDownloads));

}  // namespace

TEST(SlowDownloads, EndAtTheirBounds) {
    // Judged when all other tests have run (see SlowDownloads::TearDown).
    EXPECT_EQ(slow_downloads->running(), static_cast<int>(slow_cases().size()));
}

TEST(ListHost, EveryHostEndsWithinFiveSecondsAndOnlyAWholeOkReplyFills) {
    const std::string good = good_list();
    const std::vector<entry> filled = {
        {L"v9.1", wide(site() + LISTED), wide(DIGEST_91)},
        {L"v9.0", wide(site() + "/dl/v9.0/kelvo.exe"), L""},
    };
    // Up to the end of the first release: enough to fill an entry if a cut reply were scanned.
    const size_t one_release = good.find("},{\"tag_name\"") + 1;
    enum host_kind { NOBODY, SERVER, BACKLOG_FULL };
    struct {
        const char* what;
        host_kind host;
        http_reply reply;
        bool fills;
        ULONGLONG at_least_ms;
    } cases[] = {
        {"answers at once", SERVER, reply(200, good), true, 0},
        {"refuses", NOBODY, {}, false, 0},
        {"accepts, never answers", SERVER, reply(200, good, serve::silent), false, 0},
        {"never accepts (backlog full)", BACKLOG_FULL, {}, false, 0},
        {"headers and one release, then nothing", SERVER, reply(200, good, serve::stall, one_release), false, 0},
        {"a byte a second", SERVER, reply(200, good, serve::trickle), false, 0},
        {"403 with release keys", SERVER, reply(403, good), false, 0},
        {"404 with release keys", SERVER, reply(404, good), false, 0},
        {"500 with release keys", SERVER, reply(500, good), false, 0},
        {"answers after 2 s", SERVER, delayed(reply(200, good), 2000), true, 2000},
    };
    for (const auto& c : cases) {
        DeleteFileW(rel_json().c_str());
        for (auto& e : ver_urls) {
            wcscpy(e.tag, L"stale");
            wcscpy(e.url, L"stale");
            wcscpy(e.sha256, L"stale");
        }
        ver_count = 9;
        std::unique_ptr<http_server> server;
        std::unique_ptr<full_listener> listener;
        if (c.host == SERVER) {
            server.reset(new http_server(test_port()));
            ASSERT_TRUE(server->listening()) << c.what;
            server->set(LIST, c.reply);
        } else if (c.host == BACKLOG_FULL) {
            listener.reset(new full_listener(test_port()));
            ASSERT_TRUE(listener->full()) << c.what << ": a connection was still accepted";
        }
        const ULONGLONG case_start = GetTickCount64();
        const ULONGLONG took = within(
            20000, [] { load_releases(); },
            [&] {
                server.reset();
                listener.reset();
            });
        if (took == NEVER) {
            ADD_FAILURE() << c.what << ": the fetch was still waiting after 20 s";
            continue;
        }
        if (listener) {
            // The system retries the unanswered connection (SYNs at 1, 3 and
            // 7 s) even after the client has given up on it; with the port
            // closed past the third, none reaches the next case's server.
            listener.reset();
            const ULONGLONG quiet_until = case_start + 9500;
            if (GetTickCount64() < quiet_until) Sleep(static_cast<DWORD>(quiet_until - GetTickCount64()));
        }
        std::string request;
        if (server) {
            EXPECT_EQ(server->hits(LIST), 1) << c.what << ": the list's path and query";
            request = server->request(LIST);
        }
        EXPECT_LT(took, 8000u) << c.what << ": the fetch must end within 5 s";
        EXPECT_GE(took, c.at_least_ms) << c.what;
        std::vector<entry> got;
        for (int i = 0; i < ver_count && i < 16; ++i)
            got.push_back({ver_urls[i].tag, ver_urls[i].url, ver_urls[i].sha256});
        EXPECT_EQ(got, c.fills ? filled : std::vector<entry>()) << c.what;
        EXPECT_FALSE(exists(rel_json())) << c.what << ": the reply is no longer staged in a file";
        if (c.fills) {
            EXPECT_EQ(header(request, "Accept"), "application/vnd.github+json") << c.what;
            EXPECT_EQ(header(request, "X-GitHub-Api-Version"), "2022-11-28") << c.what;
            EXPECT_EQ(header(request, "User-Agent"), "KelvoSetup/2.15") << c.what;
        }
    }
}

namespace {

class Download : public ::testing::Test {
protected:
    const std::wstring dir = L"C:\\net\\Kelvo";
    const std::wstring exe = dir + L"\\kelvo.exe";
    const std::wstring ide = dir + L"\\KelvoIDE.exe";
    const std::wstring staging = temp_dir() + L"kelvo-dl-" + std::to_wstring(GetCurrentProcessId()) + L".exe";

    void SetUp() override {
        ASSERT_FALSE(interpreter().empty());
        ASSERT_EQ(sha256_hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad")
            << "the system's SHA-256";
    }
    // The user's earlier interpreter in place, nothing else installed.
    void prepare() {
        DeleteFileW(ide.c_str());
        reg_delete_value(HKEY_CURRENT_USER, L"Environment", L"Path");
        reg_delete_tree(HKEY_CURRENT_USER, L"Software\\Classes\\.kelvo");
        reg_delete_tree(HKEY_CURRENT_USER, L"Software\\Classes\\KelvoScript");
        CreateDirectoryW(L"C:\\net", nullptr);
        CreateDirectoryW(dir.c_str(), nullptr);
        ASSERT_TRUE(write_file(exe, EARLIER));
        wcscpy(APP_DIR, dir.c_str());
        ver_count = 0;
        for (auto& v : ver_urls) v.tag[0] = v.url[0] = v.sha256[0] = 0;
    }
    void expect_installed(const std::string& body, const std::string& where) {
        EXPECT_TRUE(file(exe) == body) << where << ": not the served bytes";
        EXPECT_TRUE(file(ide) == payload(L"embedded\\KelvoIDE.exe")) << where;
        EXPECT_TRUE(key_exists(HKEY_CURRENT_USER, L"Software\\Classes\\KelvoScript\\shell\\open\\command")) << where;
        EXPECT_NE(reg_get(HKEY_CURRENT_USER, L"Environment", L"Path").text().find(dir), std::wstring::npos) << where;
        EXPECT_FALSE(exists(staging)) << where;
    }
    void expect_untouched(const std::string& where) {
        EXPECT_TRUE(file(exe) == EARLIER) << where << ": kelvo.exe replaced, now " << file(exe).size() << " bytes";
        EXPECT_FALSE(exists(ide)) << where << ": the editor comes only after the interpreter";
        EXPECT_FALSE(key_exists(HKEY_CURRENT_USER, L"Software\\Classes\\.kelvo")) << where;
        EXPECT_FALSE(key_exists(HKEY_CURRENT_USER, L"Software\\Classes\\KelvoScript")) << where;
        EXPECT_FALSE(reg_get(HKEY_CURRENT_USER, L"Environment", L"Path").found) << where;
        EXPECT_FALSE(exists(staging)) << where;
    }
};

}  // namespace

TEST_F(Download, OnlyAWholeVerifiedExecutableReplacesTheInterpreter) {
    const std::string& whole = interpreter();
    const std::string longer = with_tail(whole);
    // Cut after the sections: the part is itself a whole executable, so only
    // the declared length can tell it is not the reply. A chunked reply cut
    // there cannot be told at all: Wine's WinHTTP ends a chunked body that
    // lacks its last chunk as if it were whole (measured), so that cut lies
    // inside the sections, where the executable check sees it.
    const size_t past_sections = whole.size() + 100;
    const std::pair<size_t, size_t> last = last_section(whole);
    ASSERT_GT(last.second, last.first);
    ASSERT_LE(last.second, whole.size());
    const std::string cut_in_last = whole.substr(0, last.first + (last.second - last.first) / 2);
    const std::string digest = sha256_hex(whole);
    ASSERT_EQ(digest.size(), 64u);

    enum { LATEST_ONLY = 1, LISTED_ONLY = 2, BOTH = 3 };
    struct {
        const char* what;
        int choices;
        http_reply reply;
        bool installs;
        std::string digest;  // published for the listed release; "" as for "digest":null
        bool redirected;     // served behind a 302 from the download address
        ULONGLONG at_least_ms;
    } cases[] = {
        {"whole executable (no digest published)", BOTH, reply(200, whole), true, "", false, 0},
        {"302 to the whole executable", BOTH, reply(200, whole), true, "", true, 0},
        {"whole executable in chunks", BOTH, reply(200, whole, serve::chunked), true, "", false, 0},
        {"answer after 8 s", BOTH, delayed(reply(200, whole), 8000), true, "", false, 8000},
        {"declared length, cut after the sections", BOTH, reply(200, longer, serve::cut, past_sections), false, "", false, 0},
        {"chunks ended early, inside the sections", BOTH, reply(200, longer, serve::chunked_cut, cut_in_last.size()), false, "", false, 0},
        {"connection reset after the sections", BOTH, reply(200, longer, serve::reset, past_sections), false, "", false, 0},
        {"404 whose body is the executable", BOTH, reply(404, whole), false, "", false, 0},
        {"500 whose body is the executable", BOTH, reply(500, whole), false, "", false, 0},
        {"MZ text that is no executable", BOTH, reply(200, "MZ, then a sign-in page of a captive portal"), false, "", false, 0},
        {"cut inside the last section, no declared length", BOTH, unsized(reply(200, cut_in_last)), false, "", false, 0},
        {"published digest matches", LISTED_ONLY, reply(200, whole), true, digest, false, 0},
        {"published digest in capitals matches", LISTED_ONLY, reply(200, whole), true, upper(digest), false, 0},
        {"published digest of other bytes", LISTED_ONLY, reply(200, whole), false, sha256_hex(whole + "x"), false, 0},
    };
    for (const auto& c : cases) {
        for (int choice = 1; choice <= 2; ++choice) {
            if (!(c.choices & choice)) continue;
            const std::string where = std::string(c.what) + (choice == 1 ? " (latest)" : " (listed)");
            prepare();
            std::unique_ptr<http_server> server(new http_server(test_port()));
            ASSERT_TRUE(server->listening()) << where;
            const std::string path = choice == 1 ? LATEST : LISTED;
            const std::string final_path = c.redirected ? "/final/kelvo.exe" : path;
            if (c.redirected) {
                http_reply moved = reply(302, "<html>moved</html>");
                moved.content_type = "text/html";
                moved.location = site() + final_path;
                server->set(path, moved);
            }
            server->set(final_path, c.reply);
            if (choice == 2) {
                wcscpy(ver_urls[0].tag, L"v9.1");
                wcscpy(ver_urls[0].url, wide(site() + LISTED).c_str());
                wcscpy(ver_urls[0].sha256, wide(c.digest).c_str());
                ver_count = 1;
            }
            int got = -1;
            const ULONGLONG took = within(
                static_cast<DWORD>(c.at_least_ms + 30000), [&] { got = do_install(true, choice); },
                [&] { server.reset(); });
            if (took == NEVER) {
                ADD_FAILURE() << where << ": the install was still waiting after "
                              << (c.at_least_ms + 30000) / 1000 << " s";
                continue;
            }
            EXPECT_EQ(got, c.installs ? 1 : 0) << where;
            EXPECT_EQ(server->hits(path), 1) << where;
            if (c.redirected) EXPECT_EQ(server->hits(final_path), 1) << where;
            EXPECT_GE(took, c.at_least_ms) << where;
            EXPECT_LT(took, c.at_least_ms + 10000) << where << ": no stall here, no deadline to wait for";
            if (c.installs) {
                expect_installed(c.reply.body, where);
                EXPECT_EQ(header(server->request(final_path), "User-Agent"), "KelvoSetup/2.15") << where;
            } else {
                expect_untouched(where);
            }
        }
    }
    prepare();
}
