// --install and --uninstall of the real setup program in the default
// directory: the files, the file type, the user's Path, and what a user can
// then do with them (a new console finds kelvo, a script opens in it).
#include <gtest/gtest.h>

#include "harness.h"

using namespace harness;

namespace {

const wchar_t DEFAULT_PATH[] = L"%USERPROFILE%\\AppData\\Local\\Microsoft\\WindowsApps";
const char STANDIN_VERSION[] = "Kelvo interpreter stand-in (not the real interpreter)";

const std::wstring DIR = default_dir();
const std::wstring EXE = DIR + L"\\kelvo.exe";
const std::wstring IDE = DIR + L"\\KelvoIDE.exe";

void expect_text(const wchar_t* key, const wchar_t* name, DWORD type, const std::wstring& text,
                 const std::string& where) {
    reg_value v = reg_get(HKEY_CURRENT_USER, key, name);
    ASSERT_TRUE(v.found) << where;
    EXPECT_EQ(v.type, type) << where;
    EXPECT_EQ(v.text(), text) << where;
    EXPECT_EQ(v.data.size(), (text.size() + 1) * sizeof(wchar_t)) << where << ": terminator included";
}

// A console started the way a new login starts one. A child made with
// CreateProcess inherits this test's environment, and Wine's
// CreateEnvironmentBlock leaves the user's Path out; but a Wine process that
// has no Windows parent and an empty Unix environment builds its whole
// environment, Path included, from the registry. So the console is started
// from the Unix side. Its Windows handle ends at once, hence the result files.
int fresh_console(const std::wstring& command, std::string* out) {
    std::wstring base = L"/tmp/kelvo-fresh-" + std::to_wstring(GetCurrentProcessId());
    std::wstring win_base = L"Z:" + base;
    for (auto& c : win_base) c = c == L'/' ? L'\\' : c;
    DeleteFileW((win_base + L".out").c_str());
    DeleteFileW((win_base + L".rc").c_str());
    std::wstring line = L"/bin/sh -c \"env -i HOME=$HOME WINEPREFIX=$WINEPREFIX WINEDEBUG=-all "
                        L"WINEDLLOVERRIDES=mscoree,mshtml= PATH=/usr/bin:/bin wine cmd /c " +
                        command + L" >" + base + L".out 2>&1; echo $? >" + base + L".tmp; mv " +
                        base + L".tmp " + base + L".rc\"";
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(L"Z:\\bin\\sh", &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi))
        return -1;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    std::string rc;
    for (int i = 0; i < 600 && !read_file(win_base + L".rc", &rc); ++i) Sleep(100);
    read_file(win_base + L".out", out);
    DeleteFileW((win_base + L".out").c_str());
    DeleteFileW((win_base + L".rc").c_str());
    return rc.empty() ? -1 : atoi(rc.c_str());
}

// Runs a command line as the shell runs a verb's command (no application
// name; the search path finds cmd.exe). Standard input is an empty pipe, so
// the console that "cmd /k" keeps open reads its end and closes.
bool run_shell_command(std::wstring line, std::string* out) {
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    HANDLE out_rd, out_wr, in_rd, in_wr;
    if (!CreatePipe(&out_rd, &out_wr, &sa, 0)) return false;
    if (!CreatePipe(&in_rd, &in_wr, &sa, 0)) return false;
    SetHandleInformation(out_rd, HANDLE_FLAG_INHERIT, 0);
    CloseHandle(in_wr);
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = in_rd;
    si.hStdOutput = si.hStdError = out_wr;
    PROCESS_INFORMATION pi = {};
    BOOL ok = CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    CloseHandle(out_wr);
    CloseHandle(in_rd);
    bool ended = false;
    if (ok) {
        char buf[4096];
        DWORD got = 0;
        while (ReadFile(out_rd, buf, sizeof buf, &got, nullptr) && got) out->append(buf, got);
        ended = WaitForSingleObject(pi.hProcess, 30000) == WAIT_OBJECT_0;
        if (!ended) TerminateProcess(pi.hProcess, 1);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    CloseHandle(out_rd);
    return ended;
}

class Install : public ::testing::Test {
protected:
    void SetUp() override { reset(); }
    void TearDown() override { reset(); }
    static void reset() {
        reg_delete_tree(HKEY_CURRENT_USER, L"Software\\Classes\\.kelvo");
        reg_delete_tree(HKEY_CURRENT_USER, L"Software\\Classes\\KelvoScript");
        reg_delete_value(HKEY_CURRENT_USER, L"Environment", L"Path");
        for (const wchar_t* name : {L"\\kelvo.exe", L"\\KelvoIDE.exe", L"\\notes.txt"})
            DeleteFileW((DIR + name).c_str());
        RemoveDirectoryW(DIR.c_str());
    }
    static void install() {
        auto r = run(setup_exe(), L"--install");
        ASSERT_EQ(r.code, 0u);
        EXPECT_EQ(r.out, "");
    }
    static void uninstall() { ASSERT_EQ(run(setup_exe(), L"--uninstall").code, 0u); }
};

void expect_programs_installed() {
    std::string exe, ide;
    ASSERT_TRUE(read_file(EXE, &exe));
    ASSERT_TRUE(read_file(IDE, &ide));
    std::string want_exe = payload(L"embedded\\kelvo.exe"), want_ide = payload(L"embedded\\KelvoIDE.exe");
    ASSERT_EQ(want_exe.substr(0, 2), "MZ");
    ASSERT_EQ(want_ide.substr(0, 2), "MZ");
    EXPECT_TRUE(exe == want_exe) << "kelvo.exe differs from the embedded interpreter";
    EXPECT_TRUE(ide == want_ide) << "KelvoIDE.exe differs from the embedded editor";
}

void expect_file_type() {
    const std::wstring command = L"cmd.exe /k \"\"" + EXE + L"\" \"%1\"\"";
    struct {
        const wchar_t* key;
        std::wstring text;
    } values[] = {
        {L"Software\\Classes\\.kelvo", L"KelvoScript"},
        {L"Software\\Classes\\.kelvo\\DefaultIcon", EXE},
        {L"Software\\Classes\\KelvoScript\\shell\\open\\command", command},
        {L"Software\\Classes\\KelvoScript\\DefaultIcon", EXE},
    };
    for (const auto& v : values) expect_text(v.key, nullptr, REG_SZ, v.text, utf8(v.key));
    EXPECT_EQ(reg_get(HKEY_CURRENT_USER, values[0].key, nullptr).data.size(), 24u);
}

}  // namespace

TEST_F(Install, WritesPayloadFilesAndFileType) {
    install();
    expect_programs_installed();
    expect_file_type();
}

TEST_F(Install, PathEditedAsStoredTextAndRestored) {
    const std::wstring def = DEFAULT_PATH;
    std::wstring upper = DIR;
    CharUpperBuffW(&upper[0], (DWORD)upper.size());
    ASSERT_NE(upper, DIR);
    struct {
        DWORD type;  // 0: no stored value
        std::wstring before;
        bool terminated;
        DWORD installed_type;
        std::wstring installed;
        DWORD removed_type;
        std::wstring removed;
    } cases[] = {
        {0, L"", true, REG_EXPAND_SZ, def + L";" + DIR, REG_EXPAND_SZ, def},
        {REG_SZ, L"%USERPROFILE%\\bin;C:\\Tools", true, REG_EXPAND_SZ,
         L"%USERPROFILE%\\bin;C:\\Tools;" + DIR, REG_EXPAND_SZ, L"%USERPROFILE%\\bin;C:\\Tools"},
        {REG_SZ, L"C:\\Tools", false, REG_EXPAND_SZ, L"C:\\Tools;" + DIR, REG_EXPAND_SZ, L"C:\\Tools"},
        {REG_EXPAND_SZ, L"", true, REG_EXPAND_SZ, def + L";" + DIR, REG_EXPAND_SZ, def},
        {REG_SZ, L";;", true, REG_EXPAND_SZ, def + L";" + DIR, REG_EXPAND_SZ, def},
        {REG_SZ, L";C:\\A;;C:\\B;", true, REG_EXPAND_SZ, L"C:\\A;;C:\\B;" + DIR, REG_EXPAND_SZ,
         L"C:\\A;;C:\\B"},
        // A longer entry beginning with the directory is another directory.
        {REG_SZ, DIR + L"2;C:\\A", true, REG_EXPAND_SZ, DIR + L"2;C:\\A;" + DIR, REG_EXPAND_SZ,
         DIR + L"2;C:\\A"},
        // Paths compare case-insensitively: already there, nothing to add;
        // the removal cuts only an exact entry, so it stays as well.
        {REG_SZ, L"C:\\A;" + upper, true, REG_SZ, L"C:\\A;" + upper, REG_SZ, L"C:\\A;" + upper},
        // Only the first of two entries goes.
        {REG_EXPAND_SZ, DIR + L";C:\\A;" + DIR, true, REG_EXPAND_SZ, DIR + L";C:\\A;" + DIR,
         REG_EXPAND_SZ, L";C:\\A;" + DIR},
    };
    int row = 0;
    for (const auto& c : cases) {
        std::string where = "row " + std::to_string(row++) + " " + utf8(c.before);
        reset();
        if (c.type)
            ASSERT_TRUE(reg_set(HKEY_CURRENT_USER, L"Environment", L"Path", c.type, c.before.c_str(),
                                (DWORD)((c.before.size() + (c.terminated ? 1 : 0)) * sizeof(wchar_t))));
        install();
        expect_text(L"Environment", L"Path", c.installed_type, c.installed, where + " installed");
        uninstall();
        expect_text(L"Environment", L"Path", c.removed_type, c.removed, where + " uninstalled");
    }
}

TEST_F(Install, SecondInstallReplacesFilesAndAddsPathOnce) {
    install();
    ASSERT_TRUE(write_file(EXE, "MZ stale interpreter"));
    ASSERT_TRUE(write_file(IDE, "MZ stale editor"));
    install();
    expect_programs_installed();
    expect_file_type();
    expect_text(L"Environment", L"Path", REG_EXPAND_SZ, std::wstring(DEFAULT_PATH) + L";" + DIR, "twice");
}

TEST_F(Install, UninstallRemovesItsOwnAndKeepsTheUsers) {
    const wchar_t* sibling = L"Software\\Classes\\.kelvo2";  // not ours, despite the name
    ASSERT_TRUE(reg_set_text(HKEY_CURRENT_USER, sibling, nullptr, REG_SZ, L"Other"));
    install();
    ASSERT_TRUE(write_file(DIR + L"\\notes.txt", "mine"));
    uninstall();
    EXPECT_FALSE(exists(EXE));
    EXPECT_FALSE(exists(IDE));
    std::string notes;
    EXPECT_TRUE(read_file(DIR + L"\\notes.txt", &notes));
    EXPECT_EQ(notes, "mine");
    EXPECT_FALSE(key_exists(HKEY_CURRENT_USER, L"Software\\Classes\\.kelvo"));
    EXPECT_FALSE(key_exists(HKEY_CURRENT_USER, L"Software\\Classes\\KelvoScript"));
    EXPECT_EQ(reg_get(HKEY_CURRENT_USER, sibling, nullptr).text(), L"Other");
    reg_delete_tree(HKEY_CURRENT_USER, sibling);

    ASSERT_TRUE(DeleteFileW((DIR + L"\\notes.txt").c_str()));
    uninstall();
    EXPECT_FALSE(exists(DIR)) << "an emptied directory goes too";
}

TEST_F(Install, NewConsoleFindsKelvoAndOpenCommandRunsScript) {
    std::string out;
    EXPECT_NE(fresh_console(L"kelvo --version", &out), 0) << "found before the install: " << out;
    EXPECT_EQ(out.find(STANDIN_VERSION), std::string::npos);
    install();
    out.clear();
    EXPECT_EQ(fresh_console(L"kelvo --version", &out), 0) << out;
    EXPECT_NE(out.find(STANDIN_VERSION), std::string::npos) << out;

    std::wstring scripts = env(L"USERPROFILE") + L"\\My Scripts";
    std::wstring script = scripts + L"\\hello world.kelvo";
    CreateDirectoryW(scripts.c_str(), nullptr);
    ASSERT_TRUE(write_file(script, "print('hi')\r\n"));
    std::wstring command =
        reg_get(HKEY_CURRENT_USER, L"Software\\Classes\\KelvoScript\\shell\\open\\command", nullptr).text();
    size_t at = command.find(L"%1");
    ASSERT_NE(at, std::wstring::npos) << utf8(command);
    command.replace(at, 2, script);
    out.clear();
    EXPECT_TRUE(run_shell_command(command, &out)) << utf8(command);
    EXPECT_NE(out.find("Kelvo interpreter stand-in: would run " + utf8(script) + "\r\n"), std::string::npos)
        << out;
    DeleteFileW(script.c_str());
    RemoveDirectoryW(scripts.c_str());
}
