// Interpreter downloads of the install engine against a loopback HTTP server:
// only a complete executable may replace the interpreter, and no staging file
// is ever left in the temporary directory.
#include <gtest/gtest.h>

#include "harness.h"
#include "kelvo.h"

using namespace harness;

// The shared state that the entry unit defines in the setup program.
wchar_t APP_DIR[260];
const wchar_t CUR_VER[] = L"2.15";
ver_entry ver_urls[16];
int ver_count;

namespace {

const std::string LATEST = "/kelvo-lang/kelvo/releases/latest/download/kelvo.exe";
const std::string EARLIER = "MZ earlier interpreter, the user's own";

std::wstring url(const std::string& path) {
    return L"http://127.0.0.1:" + std::to_wstring(test_port()) + wide(path);
}

// A whole executable (the embedded interpreter) with bytes of its own after
// its sections, so each served copy is told apart by its tag.
std::string exe_body(char tag) {
    std::string body = payload(L"embedded\\kelvo.exe");
    for (int i = 0; i < 70000; ++i) body += static_cast<char>(i * 7 + tag);
    return body;
}

std::string file(const std::wstring& path) {
    std::string data;
    return read_file(path, &data) ? data : "(missing)";
}

class Downloads : public ::testing::Test {
protected:
    const std::wstring dir = default_dir();
    const std::wstring exe = dir + L"\\kelvo.exe";
    const std::wstring ide = dir + L"\\KelvoIDE.exe";
    const std::wstring staging =
        temp_dir() + L"kelvo-dl-" + std::to_wstring(GetCurrentProcessId()) + L".exe";

    void SetUp() override { prepare(); }
    void TearDown() override {
        clean();
        RemoveDirectoryW(dir.c_str());
    }
    void clean() {
        DeleteFileW(exe.c_str());
        DeleteFileW(ide.c_str());
        reg_delete_tree(HKEY_CURRENT_USER, L"Software\\Classes\\.kelvo");
        reg_delete_tree(HKEY_CURRENT_USER, L"Software\\Classes\\KelvoScript");
    }
    // An existing install directory holding the user's earlier interpreter.
    void prepare() {
        clean();
        ASSERT_LT(dir.size(), 260u);
        wcscpy(APP_DIR, dir.c_str());
        ver_count = 0;
        for (auto& v : ver_urls) v.tag[0] = v.url[0] = 0;
        CreateDirectoryW(dir.c_str(), nullptr);
        ASSERT_TRUE(write_file(exe, EARLIER));
    }
    void expect_untouched(const std::string& where) {
        EXPECT_EQ(file(exe), EARLIER) << where;
        EXPECT_FALSE(exists(ide)) << where << ": the editor comes only after the interpreter";
        EXPECT_FALSE(key_exists(HKEY_CURRENT_USER, L"Software\\Classes\\.kelvo")) << where;
        EXPECT_FALSE(exists(staging)) << where;
    }
};

}  // namespace

TEST_F(Downloads, LatestReleaseReplacesInterpreterOnlyWhenExecutable) {
    struct {
        const char* name;
        bool server;
        bool route;  // without one the server answers with its 404 page
        http_reply reply;
        bool ok;
    } cases[] = {
        {"executable", true, true, {200, "application/octet-stream", exe_body('a')}, true},
        {"404 page", true, false, {}, false},
        {"HTML page", true, true, {200, "text/html", "<!DOCTYPE html><html><body>Sign in</body></html>"}, false},
        {"zip", true, true, {200, "application/zip", "PK\x03\x04" + exe_body('z')}, false},
        {"one byte M", true, true, {200, "application/octet-stream", "M"}, false},
        {"empty body", true, true, {200, "application/octet-stream", ""}, false},
        {"refused connection", false, false, {}, false},
    };
    for (const auto& c : cases) {
        prepare();
        int got;
        if (c.server) {
            http_server server(test_port());
            ASSERT_TRUE(server.listening()) << c.name;
            if (c.route) server.set(LATEST, c.reply);
            got = do_install(false, 1);
            EXPECT_EQ(server.hits(LATEST), 1) << c.name;
        } else {
            got = do_install(false, 1);
        }
        EXPECT_EQ(got, c.ok ? 1 : 0) << c.name;
        if (c.ok) {
            EXPECT_TRUE(file(exe) == c.reply.body) << c.name;
            EXPECT_TRUE(file(ide) == payload(L"embedded\\KelvoIDE.exe")) << c.name;
            EXPECT_TRUE(key_exists(HKEY_CURRENT_USER, L"Software\\Classes\\KelvoScript\\shell\\open\\command")) << c.name;
            EXPECT_FALSE(exists(staging)) << c.name;
        } else {
            expect_untouched(c.name);
        }
    }
    EXPECT_FALSE(reg_get(HKEY_CURRENT_USER, L"Environment", L"Path").found) << "Path patching was off";
}

TEST_F(Downloads, ReleaseTableEntryByVersionChoice) {
    http_server server(test_port());
    ASSERT_TRUE(server.listening());
    const std::string v214 = "/kelvo-lang/kelvo/releases/download/v2.14/kelvo.exe";
    server.set(v214, {200, "application/octet-stream", exe_body('b')});
    server.set(LATEST, {200, "application/octet-stream", exe_body('l')});

    // An empty table: the directory is made, nothing else.
    clean();
    DeleteFileW(exe.c_str());
    ASSERT_TRUE(RemoveDirectoryW(dir.c_str()));
    EXPECT_EQ(do_install(false, 2), 0);
    EXPECT_TRUE(exists(dir));
    EXPECT_FALSE(exists(exe));

    prepare();
    ver_count = 2;
    wcscpy(ver_urls[0].tag, L"v2.14");
    wcscpy(ver_urls[0].url, url(v214).c_str());
    wcscpy(ver_urls[1].tag, L"v2.13");  // a release without an interpreter asset
    EXPECT_EQ(do_install(false, 3), 0);
    expect_untouched("entry without address");
    EXPECT_EQ(do_install(false, 4), 0);
    expect_untouched("entry past the table");
    EXPECT_EQ(server.hits(v214) + server.hits(LATEST), 0);

    EXPECT_EQ(do_install(false, 2), 1);
    EXPECT_TRUE(file(exe) == exe_body('b'));
    EXPECT_EQ(server.hits(v214), 1);
    EXPECT_EQ(server.hits(LATEST), 0);
}

TEST_F(Downloads, StagingOnAnotherVolumeFailsAndIsRemoved) {
    ASSERT_TRUE(exists(L"T:\\")) << "drive T: (a small tmpfs) is not mapped";
    http_server server(test_port());
    ASSERT_TRUE(server.listening());
    server.set("/x/kelvo.exe", {200, "application/octet-stream", exe_body('x')});

    // Same volume: the download lands.
    const std::wstring dest = dir + L"\\direct.exe";
    EXPECT_EQ(download_to(url("/x/kelvo.exe").c_str(), dest.c_str()), 1);
    EXPECT_TRUE(file(dest) == exe_body('x'));
    EXPECT_FALSE(exists(staging));
    DeleteFileW(dest.c_str());

    // The temporary directory on T: cannot be moved from without copying.
    const std::wstring tmp = env(L"TMP"), temp = env(L"TEMP");
    CreateDirectoryW(L"T:\\tmp", nullptr);
    SetEnvironmentVariableW(L"TMP", L"T:\\tmp");
    SetEnvironmentVariableW(L"TEMP", L"T:\\tmp");
    ASSERT_EQ(temp_dir(), L"T:\\tmp\\");
    int got = download_to(url("/x/kelvo.exe").c_str(), exe.c_str());
    const std::wstring far_staging = L"T:\\tmp\\kelvo-dl-" + std::to_wstring(GetCurrentProcessId()) + L".exe";
    bool far_left = exists(far_staging);
    SetEnvironmentVariableW(L"TMP", tmp.c_str());
    SetEnvironmentVariableW(L"TEMP", temp.c_str());
    EXPECT_EQ(got, 0);
    EXPECT_EQ(server.hits("/x/kelvo.exe"), 2);
    EXPECT_FALSE(far_left);
    EXPECT_EQ(file(exe), EARLIER);
}
