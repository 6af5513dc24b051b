// The real window while its hosts misbehave: it shows before the release list
// arrives and fills the list afterwards, input given meanwhile waits for the
// list, the background keeps moving through a stalled fetch and a stalled
// download, and presses given during an install never start a second one.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "harness.h"
#include "setup_window.h"

using namespace harness;

namespace {

const std::string LIST = "/repos/kelvo-lang/kelvo/releases?per_page=12";
const std::string LATEST = "/kelvo-lang/kelvo/releases/latest/download/kelvo.exe";

std::string site() { return "http://127.0.0.1:" + std::to_string(test_port()); }
ULONGLONG since(ULONGLONG t0) { return GetTickCount64() - t0; }

std::string list_body() {
    std::string body = "[";
    for (const char* tag : {"2.16", "2.15"})
        body += std::string(body.size() > 1 ? "," : "") + "{\"tag_name\":\"" + tag +
                "\",\"assets\":[{\"name\":\"kelvo.exe\",\"digest\":null,\"browser_download_url\":\"" +
                site() + "/dl/" + tag + "/kelvo.exe\"}]}";
    return body + "]";
}

// Pixels that differ between two captures in rows [top, bottom): on a page
// that is not being changed, only the drifting background code moves, each
// line by 14 to 28 pixels a tick (hundreds of pixels; thousands on page 0).
int changed(const image& a, const image& b, int top, int bottom) {
    if (a.width != b.width || a.height != b.height) return -1;
    int n = 0;
    for (int y = top; y < bottom && y < a.height; ++y)
        for (int x = 0; x < a.width; ++x) n += a.at(x, y) != b.at(x, y);
    return n;
}

void close_window(setup_window& s) {
    PostMessageW(s.w, WM_CLOSE, 0, 0);
    EXPECT_EQ(s.p.wait(15000), 0u);
}

// The result mark of an install that succeeded (built-in) or failed (the
// latest release's address answering 404), for comparing marks with.
std::vector<bool> result_mark(bool succeeded) {
    clean_registry();
    http_server server(test_port());  // every address answers 404
    setup_window s = open_window(succeeded ? L"mark-ok" : L"mark-failed");
    if (!s.w) return {};
    s.post_click(ID_NEXT);
    if (s.wait_page(1) != 1) return {};
    if (!succeeded) SendMessageW(s.combo(), CB_SETCURSEL, 1, 0);
    s.click(ID_INSTALL);
    if (s.wait_page(2) != 2) return {};
    std::vector<bool> m = mark(s.client());
    close_window(s);
    run(loopback_setup_exe(), L"--uninstall", {{L"LOCALAPPDATA", s.local.c_str()}});
    clean_registry();
    return m;
}

}  // namespace

TEST(NetworkWindow, ShowsBeforeTheListAndHandlesInputGivenMeanwhileAfterIt) {
    clean_registry();
    enum { NONE, POSTED, SENT };
    struct {
        const char* what;
        const wchar_t* name;
        int next;  // Next pressed during the fetch, and how
    } cases[] = {
        {"no input", L"late-list", NONE},
        {"Next posted during the fetch", L"late-list-posted", POSTED},
        {"Next sent during the fetch", L"late-list-sent", SENT},
    };
    for (const auto& c : cases) {
        http_server server(test_port());
        ASSERT_TRUE(server.listening());
        http_reply late = reply(200, list_body());
        late.content_type = "application/json";
        late.delay_ms = 2000;
        server.set(LIST, late);
        setup_window s = open_window(c.name);
        ASSERT_TRUE(s.w) << c.what;
        const int at_first = s.entries();
        std::thread sender;
        if (c.next == POSTED) s.post_click(ID_NEXT);
        if (c.next == SENT)
            sender = std::thread([&s] {
                DWORD_PTR r = 0;
                SendMessageTimeoutW(s.button(ID_NEXT), BM_CLICK, 0, 0, SMTO_NORMAL, 15000, &r);
            });
        Sleep(500);
        const int page_meanwhile = s.page(), entries_meanwhile = s.entries();
        const bool before_answer = server.answered_at(LIST) == 0;

        if (c.next != NONE) {
            // Next is handled after the fetch: page 1 comes with the list filled.
            EXPECT_EQ(s.wait_page(1, 15000), 1) << c.what;
            EXPECT_EQ(s.entries(), 4) << c.what << ": page 1 shown before the list was filled";
        }
        EXPECT_EQ(s.wait_entries(4, 15000), 4) << c.what;
        const ULONGLONG answered = server.answered_at(LIST);
        ASSERT_NE(answered, 0u) << c.what;
        EXPECT_EQ(server.hits(LIST), 1) << c.what;
        EXPECT_EQ(at_first, 2) << c.what << ": the two fixed entries while the list is on its way";
        EXPECT_GT(static_cast<long long>(answered) - static_cast<long long>(s.visible), 1000)
            << c.what << ": the window showed " << s.visible - s.started << " ms after its start, the list answered "
            << answered - s.started << " ms after it";
        if (before_answer) {
            EXPECT_EQ(page_meanwhile, 0) << c.what << ": input given during the fetch was handled during it";
            EXPECT_EQ(entries_meanwhile, 2) << c.what;
        }
        EXPECT_EQ(s.selected(), 2) << c.what;
        EXPECT_EQ(s.item(2), L"2.16") << c.what;
        EXPECT_EQ(s.item(3), L"2.15") << c.what;
        EXPECT_EQ(s.page(), c.next == NONE ? 0 : 1) << c.what;
        if (sender.joinable()) sender.join();
        close_window(s);
    }
}

TEST(NetworkWindow, KeepsMovingThroughStalledFetchAndDownloadAndInstallsOnce) {
    const std::vector<bool> cross = result_mark(false), check = result_mark(true);
    ASSERT_FALSE(cross.empty());
    ASSERT_NE(cross, check) << "the failure and success marks look alike";

    clean_registry();
    http_server server(test_port());
    ASSERT_TRUE(server.listening());
    server.set(LIST, reply(200, list_body(), serve::silent));
    server.set(LATEST, reply(200, payload(L"embedded\\kelvo.exe"), serve::stall, 1000));
    setup_window s = open_window(L"stalled");
    ASSERT_TRUE(s.w);

    // A list host that never answers: the window is up and its background drifts.
    for (int i = 0; i < 500 && server.hits(LIST) == 0; ++i) Sleep(10);
    ASSERT_EQ(server.hits(LIST), 1);
    const ULONGLONG fetch = GetTickCount64();
    Sleep(300);
    image a = s.capture();
    Sleep(600);
    image b = s.capture();
    EXPECT_LT(since(fetch), 4500u) << "the captures came after the fetch had ended";
    EXPECT_GT(changed(a, b, 88, 345), 500) << "the background stood still during the list fetch";
    EXPECT_EQ(s.entries(), 2);
    // The fetch ends at its bound; the list keeps its two entries.
    s.post_click(ID_NEXT);
    EXPECT_EQ(s.wait_page(1, 10000), 1);
    EXPECT_LT(since(fetch), 8000u);
    EXPECT_EQ(s.entries(), 2);

    // "Остання з GitHub" from a host that stalls after its headers.
    SendMessageW(s.combo(), CB_SETCURSEL, 1, 0);
    s.post_click(ID_INSTALL);
    for (int i = 0; i < 500 && server.hits(LATEST) == 0; ++i) Sleep(10);
    ASSERT_EQ(server.hits(LATEST), 1);
    const ULONGLONG download = GetTickCount64();
    Sleep(300);
    a = s.capture();
    Sleep(600);
    b = s.capture();
    // Rows below the directory edit, whose caret may blink.
    EXPECT_GT(changed(a, b, 160, 345), 100) << "the background stood still during the download";

    // Presses of every kind on Install while it runs: queued (a click, the
    // mouse, the space key) and sent from this process.
    HWND install = s.button(ID_INSTALL);
    RECT r;
    GetClientRect(install, &r);
    const LPARAM centre = MAKELPARAM(r.right / 2, r.bottom / 2);
    s.post_click(ID_INSTALL);
    PostMessageW(install, WM_LBUTTONDOWN, MK_LBUTTON, centre);
    PostMessageW(install, WM_LBUTTONUP, 0, centre);
    PostMessageW(install, WM_KEYDOWN, VK_SPACE, 0x00390001);
    PostMessageW(install, WM_KEYUP, VK_SPACE, 0xC0390001);
    std::thread sender([install] {
        DWORD_PTR answer = 0;
        SendMessageTimeoutW(install, BM_CLICK, 0, 0, SMTO_NORMAL, 40000, &answer);
    });

    EXPECT_EQ(s.wait_page(2, 40000), 2);
    const ULONGLONG took = since(download);
    EXPECT_GE(took, 13000u) << "the stalled download ended before its 15-s bound";
    EXPECT_LE(took, 30000u);
    sender.join();
    Sleep(1500);  // room for anything still queued to act
    EXPECT_EQ(server.hits(LATEST), 1) << "a press given during the install started another";
    EXPECT_EQ(s.page(), 2);
    EXPECT_EQ(mark(s.client()), cross) << "no failure mark after the stalled download";
    EXPECT_FALSE(exists(s.dir + L"\\kelvo.exe"));
    EXPECT_FALSE(exists(s.dir + L"\\KelvoIDE.exe"));
    EXPECT_FALSE(registered());
    close_window(s);
    RemoveDirectoryW(s.dir.c_str());
    clean_registry();
}

// A close that reaches the window by a send while it waits on the list host
// (from another program, say) takes effect when the wait is over, not under it.
TEST(NetworkWindow, CloseSentDuringTheFetchWaitsForItsEnd) {
    http_server server(test_port());
    ASSERT_TRUE(server.listening());
    server.set(LIST, reply(200, list_body(), serve::silent));
    setup_window s = open_window(L"close-during-fetch");
    ASSERT_TRUE(s.w);
    for (int i = 0; i < 500 && server.hits(LIST) == 0; ++i) Sleep(10);
    ASSERT_EQ(server.hits(LIST), 1);
    const ULONGLONG fetch = GetTickCount64();
    DWORD_PTR answer = 0;
    EXPECT_TRUE(SendMessageTimeoutW(s.w, WM_CLOSE, 0, 0, SMTO_NORMAL, 3000, &answer))
        << "the window did not take the close while it waited";
    Sleep(500);
    EXPECT_LT(since(fetch), 4000u);
    EXPECT_TRUE(IsWindow(s.w)) << "the window was destroyed in the middle of its wait";
    EXPECT_EQ(s.p.wait(15000), 0u);
    EXPECT_GE(since(fetch), 4000u) << "the program ended before the fetch's bound";
}
