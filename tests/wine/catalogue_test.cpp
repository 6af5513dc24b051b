// The release catalogue of the loopback build, linked into this program and
// fed by the tests' HTTP server: fetch, scan, UTF-8 conversion, clean-up, and
// installing a listed release by its version choice.
#include <gtest/gtest.h>

#include "harness.h"
#include "kelvo.h"
#include "saved_reply.h"

#include <string>
#include <utility>
#include <vector>

// The shared state, defined here as the entry unit does in the program.
wchar_t APP_DIR[260];
const wchar_t CUR_VER[] = L"2.15";
ver_entry ver_urls[16];
int ver_count;

using namespace harness;

namespace {

const std::string LIST = "/repos/kelvo-lang/kelvo/releases?per_page=12";
using wtable = std::vector<std::pair<std::wstring, std::wstring>>;

std::string site() { return "http://127.0.0.1:" + std::to_string(test_port()); }
std::wstring staging() { return temp_dir() + L"kelvo-rel.json"; }

std::string asset(const std::string& name, const std::string& url) {
    return "{\"name\":\"" + name + "\",\"browser_download_url\":\"" + url + "\"}";
}
std::string release(const std::string& tag, const std::string& assets) {
    return "{\"tag_name\":\"" + tag + "\",\"name\":\"" + tag + "\",\"assets\":[" + assets + "]}";
}
http_reply json(const std::string& body) { return {200, "application/json", body}; }

// Fills the table from a clobbered start, so a load that keeps nothing shows.
wtable load() {
    for (auto& e : ver_urls) {
        wcscpy(e.tag, L"stale");
        wcscpy(e.url, L"stale");
    }
    ver_count = 9;
    load_releases();
    wtable t;
    for (int i = 0; i < ver_count && i < 16; ++i) t.push_back({ver_urls[i].tag, ver_urls[i].url});
    return t;
}

int entries_in(const std::wstring& dir) {
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return -1;
    int n = 0;
    do {
        if (wcscmp(fd.cFileName, L".") && wcscmp(fd.cFileName, L"..")) ++n;
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    return n;
}

TEST(Catalogue, FillsTableFromServedReply) {
    http_server server(test_port());
    ASSERT_TRUE(server.listening());
    const std::string tag63(63, 't'), url699 = "http://h/" + std::string(690, 'a');
    const std::string base = "https://github.com/github/licensed/releases/download/";
    struct served_case {
        const char* what;
        std::string body;
        wtable want;
    } cases[] = {
        {"the saved genuine reply",
         std::string(reinterpret_cast<const char*>(saved_reply), sizeof saved_reply),
         {{L"2.15.2", wide(base + "2.15.2/licensed-2.15.2-darwin-x64.tar.gz")},
          {L"2.3.2", wide(base + "2.3.2/licensed-2.3.2-darwin-x64.tar.gz")},
          {L"2.3.0", wide(base + "2.3.0/licensed-2.3.0-linux-x64.tar.gz")}}},
        {"UTF-8 text, the longest tag and address, a skipped release between",
         "[" + release("реліз-\xF0\x9F\x9A\x80", asset("kelvo.exe", "http://h/\xD1\x84.exe")) + "," +
             release("2.0", "") + "," + release(tag63, asset("kelvo.exe", url699)) + "]",
         {{L"реліз-\U0001F680", L"http://h/ф.exe"}, {wide(tag63), wide(url699)}}},
        {"invalid UTF-8 becomes U+FFFD",
         "[" + release("v\xFF" "1", asset("kelvo.exe", "http://h/\xC3(")) + "]",
         {{L"v\xFFFD" L"1", L"http://h/\xFFFD("}}},
    };
    for (const auto& c : cases) {
        server.clear();
        server.set(LIST, json(c.body));
        EXPECT_EQ(load(), c.want) << c.what;
        EXPECT_EQ(server.hits(LIST), 1) << c.what << ": the list request's path and query";
        EXPECT_FALSE(exists(staging())) << c.what;
    }
}

TEST(Catalogue, FailedFetchesLeaveTableEmptyAndNoStagingFile) {
    const std::string good = "[" + release("1.0", asset("kelvo.exe", "http://h/k.exe")) + "]";
    std::string mib = good;
    mib.resize(1048576, ' ');
    struct fetch_case {
        const char* what;
        bool serve;  // false: nothing listens on the port
        http_reply reply;
        size_t want;
    } cases[] = {
        {"refused connection", false, {}, 0},
        {"404 error page", true, {404, "text/html", "<html><body>Not Found</body></html>"}, 0},
        {"empty reply", true, json(""), 0},
        {"reply of 1 MiB and one byte", true, json(mib + " "), 0},
        {"reply of exactly 1 MiB", true, json(mib), 1},
    };
    for (const auto& c : cases) {
        // A stale list from an earlier run must never be read as the reply,
        // nor written over: the reply is read into memory.
        ASSERT_TRUE(write_file(staging(), good));
        size_t got;
        if (c.serve) {
            http_server server(test_port());
            ASSERT_TRUE(server.listening());
            server.set(LIST, c.reply);
            got = load().size();
            EXPECT_EQ(server.hits(LIST), 1) << c.what;
        } else {
            got = load().size();
        }
        EXPECT_EQ(got, c.want) << c.what;
        EXPECT_EQ(ver_count, static_cast<int>(c.want)) << c.what;
        std::string left;
        EXPECT_TRUE(!read_file(staging(), &left) || left == good) << c.what << ": the file was written";
    }
    DeleteFileW(staging().c_str());
}

TEST(Catalogue, VersionChoiceInstallsListedRelease) {
    http_server server(test_port());
    ASSERT_TRUE(server.listening());
    const char* tags[] = {"3.0", "2.0", "1.0"};
    std::string body = "[";
    std::vector<std::string> exe_paths, exe_bytes;
    for (int k = 0; k < 3; ++k) {
        std::string path = std::string("/dl/") + tags[k] + "/kelvo.exe";
        // A whole executable, told apart by bytes of its own after its sections.
        std::string bytes = payload(L"embedded\\kelvo.exe") + std::string(1000 + 37 * k, static_cast<char>('a' + k)) + tags[k];
        server.set(path, {200, "application/octet-stream", bytes});
        exe_paths.push_back(path);
        exe_bytes.push_back(bytes);
        body += release(tags[k], asset("KelvoIDE.exe", site() + "/dl/ide.exe") + "," +
                                     asset("kelvo.exe", site() + path)) + ",";
        if (k == 0) body += release("2.5", asset("notes.txt", site() + "/dl/notes")) + ",";
    }
    body += "{}]";
    server.set(LIST, json(body));
    ASSERT_EQ(load().size(), 3u);

    for (int k = 0; k < 3; ++k) {
        std::wstring dir = temp_dir() + L"kelvo-choice-" + std::to_wstring(k);
        wcscpy(APP_DIR, dir.c_str());
        EXPECT_EQ(do_install(false, 2 + k), 1) << k;
        std::string got;
        EXPECT_TRUE(read_file(dir + L"\\kelvo.exe", &got)) << k;
        EXPECT_EQ(got, exe_bytes[k]) << "entry " << k;
        EXPECT_EQ(server.hits(exe_paths[k]), 1) << k;
    }
    EXPECT_EQ(server.hits("/dl/ide.exe") + server.hits("/dl/notes"), 0);

    // Past the table: only the directory is made, nothing is fetched.
    struct past_case {
        const char* what;
        int count;
        int choice;
    } past[] = {{"one past the last entry", 3, 5}, {"far past", 3, 17}, {"empty table", 0, 2}};
    reg_delete_tree(HKEY_CURRENT_USER, L"Software\\Classes\\.kelvo");
    reg_delete_tree(HKEY_CURRENT_USER, L"Software\\Classes\\KelvoScript");
    for (const auto& p : past) {
        ver_count = p.count;
        std::wstring dir = temp_dir() + L"kelvo-past-" + std::to_wstring(p.choice) + L"-" +
                           std::to_wstring(p.count);
        wcscpy(APP_DIR, dir.c_str());
        EXPECT_EQ(do_install(false, p.choice), 0) << p.what;
        EXPECT_EQ(entries_in(dir), 0) << p.what;
        EXPECT_FALSE(reg_get(HKEY_CURRENT_USER, L"Software\\Classes\\.kelvo", nullptr).found) << p.what;
    }
    int fetched = 0;
    for (const auto& path : exe_paths) fetched += server.hits(path);
    EXPECT_EQ(fetched, 3);
}

}  // namespace
