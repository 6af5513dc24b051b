// Libraries planted beside the setup program, as a web page can drop them into
// the Downloads folder the program is started from. Each planted file bears a
// system library's name and writes C:\planted\<name>.marker when anything
// loads it. Wine loads its own copy of most system libraries whatever lies
// beside a program, which would hide the fault, so each program here gets a
// per-program override (native,builtin) for every planted name: Wine then
// loads the first file the search finds, as Windows does.
//
// Not planted: version, ole32, comctl32, bcrypt and shcore, which Wine itself
// loads from the program's folder through shell32 before the program's first
// statement runs (a planted one breaks shell32); nor crypt32, secur32 and
// iphlpapi, which Wine's own WinHTTP delay-loads from there, its delay loads
// ignoring the directories the program set. Whatever the program does, those
// would be loaded; on Windows they come from the system directory.
//
// First a control program that loads by plain name must produce every marker,
// so the planting is known to work; then every switch, each page of the
// window, Browse, a built-in and a downloaded install, uninstall and close must
// produce none, and each still does its job.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "harness.h"
#include "planted_names.h"

using namespace harness;

namespace {

const wchar_t* const NAMES[] = {PLANTED_NAMES};
const std::wstring ROOT = L"C:\\planted";
const std::wstring APP = ROOT + L"\\app";
const std::wstring LOCAL = ROOT + L"\\local";
const std::wstring DIR = LOCAL + L"\\Kelvo";
const std::wstring SETUP = APP + L"\\kelvo-setup.exe";
const std::wstring LOOPBACK = APP + L"\\kelvo-setup-loopback.exe";
const std::wstring CONTROL = APP + L"\\plant_control.exe";
const wchar_t* const PROGRAMS[] = {L"kelvo-setup.exe", L"kelvo-setup-loopback.exe",
                                   L"plant_control.exe"};

// The folder of its own: both setup programs, the control and the planted
// libraries, with Wine told to prefer the planted files for these programs.
// Empty when all is in place, else what is missing.
std::string plant() {
    static std::string failure = [] {
        std::string missing;
        CreateDirectoryW(ROOT.c_str(), nullptr);
        CreateDirectoryW(APP.c_str(), nullptr);
        CreateDirectoryW(LOCAL.c_str(), nullptr);
        // Build file, and its name in the folder.
        std::vector<std::pair<std::wstring, std::wstring>> files = {
            {L"kelvo-setup.exe", L"kelvo-setup.exe"},
            {L"kelvo-setup-loopback.exe", L"kelvo-setup-loopback.exe"},
            {L"planted\\plant_control.exe", L"plant_control.exe"}};
        for (const wchar_t* n : NAMES)
            files.push_back({std::wstring(L"planted\\") + n + L".dll", std::wstring(n) + L".dll"});
        for (const auto& f : files)
            if (!CopyFileW(beside_me(f.first.c_str()).c_str(), (APP + L"\\" + f.second).c_str(), FALSE))
                missing += utf8(f.first) + " ";
        // A planted library that breaks a program must end it, not leave it
        // waiting in Wine's debugger.
        // (Without a Debugger value Wine starts winedbg all the same.)
        const wchar_t* aedebug = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug";
        reg_set_text(HKEY_LOCAL_MACHINE, aedebug, L"Debugger", REG_SZ, L"C:\\planted\\no-debugger.exe %ld %ld");
        reg_set_text(HKEY_LOCAL_MACHINE, aedebug, L"Auto", REG_SZ, L"1");
        for (const wchar_t* program : PROGRAMS) {
            std::wstring key = std::wstring(L"Software\\Wine\\AppDefaults\\") + program + L"\\DllOverrides";
            for (const wchar_t* n : NAMES)
                if (!reg_set_text(HKEY_CURRENT_USER, key.c_str(), n, REG_SZ, L"native,builtin"))
                    missing += "override " + utf8(program) + " " + utf8(n) + " ";
        }
        return missing;
    }();
    return failure;
}

// The markers written since the last call, as "name: loading process" lines;
// they are removed, so each step is judged on its own.
std::string take_markers() {
    std::string seen;
    WIN32_FIND_DATAW fd;
    HANDLE find = FindFirstFileW((ROOT + L"\\*.marker").c_str(), &fd);
    if (find == INVALID_HANDLE_VALUE) return seen;
    do {
        std::wstring file = ROOT + L"\\" + fd.cFileName;
        std::string who;
        read_file(file, &who);
        seen += utf8(fd.cFileName) + ": " + who;
        DeleteFileW(file.c_str());
    } while (FindNextFileW(find, &fd));
    FindClose(find);
    return seen;
}

run_result run_planted(const std::wstring& exe, const wchar_t* args) {
    return run(exe, args, {{L"LOCALAPPDATA", LOCAL.c_str()}});
}

bool registered() { return key_exists(HKEY_CURRENT_USER, L"Software\\Classes\\.kelvo"); }
std::wstring user_path() { return reg_get(HKEY_CURRENT_USER, L"Environment", L"Path").text(); }

std::wstring text_of(HWND h) {
    wchar_t t[512] = {};
    SendMessageW(h, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(t));
    return t;
}

// The setup window of the planted loopback build, driven from outside.
struct window {
    process p;
    HWND w = nullptr;
    HWND button(int id) const { return GetDlgItem(w, id); }
    HWND combo() const { return FindWindowExW(w, nullptr, L"ComboBox", nullptr); }
    HWND edit() const { return FindWindowExW(w, nullptr, L"Edit", nullptr); }
    void click(int id) const { SendMessageW(button(id), BM_CLICK, 0, 0); }
    // The page, told by the one button that only it shows: Next on the
    // welcome page, Install on the options page, Close on the result page.
    int page() const {
        const int only[3] = {1001, 1004, 1003};
        int seen = -1;
        for (int p = 0; p < 3; ++p)
            if (IsWindowVisible(button(only[p]))) seen = seen < 0 ? p : -2;
        return seen;
    }
    // Entries of the version list once it has stopped changing: the list may
    // be filled after the window is first shown.
    LRESULT settled_count(LRESULT want) const {
        LRESULT n = -1;
        for (int i = 0; i < 300; ++i) {
            n = SendMessageW(combo(), CB_GETCOUNT, 0, 0);
            if (n == want) break;
            Sleep(100);
        }
        return n;
    }
    std::wstring item(int i) const {
        wchar_t t[128] = {};
        if (SendMessageW(combo(), CB_GETLBTEXTLEN, i, 0) < 128)
            SendMessageW(combo(), CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(t));
        return t;
    }
};

window open_window() {
    window s;
    s.p = start(LOOPBACK, L"", {{L"LOCALAPPDATA", LOCAL.c_str()}});
    if (s.p.started()) s.w = wait_window(s.p.id(), L"KelvoSetup", 30000);
    return s;
}

void clean_machine() {
    run_planted(SETUP, L"--uninstall");
    reg_delete_value(HKEY_CURRENT_USER, L"Environment", L"Path");
    take_markers();
}

}  // namespace

TEST(Planted, ControlProgramLoadsEveryPlantedLibrary) {
    ASSERT_EQ(plant(), "");
    take_markers();
    std::wstring args;
    for (const wchar_t* n : NAMES) args += std::wstring(args.empty() ? L"" : L" ") + n + L".dll";
    EXPECT_EQ(run(CONTROL, args).code, 0u) << "some planted library did not load";
    std::string seen = take_markers();
    for (const wchar_t* n : NAMES)
        EXPECT_NE(seen.find(utf8(n) + ".marker: " + utf8(CONTROL) + "\n"), std::string::npos)
            << utf8(n) << " was not loaded from beside the control program; markers:\n"
            << seen;
}

TEST(Planted, SwitchesLoadNothingBesideTheProgram) {
    ASSERT_EQ(plant(), "");
    clean_machine();
    const std::string embedded = payload(L"embedded\\kelvo.exe");
    ASSERT_FALSE(embedded.empty());
    struct step {
        const wchar_t* args;
        DWORD code;
        const char* out;  // nullptr: not compared
        int installed;    // 1: installed afterwards, 0: not, -1: not checked
    } steps[] = {
        {L"--version", 0, "Kelvo Setup v2.15\n", -1},
        {L"--path", 0, "C:\\planted\\local\\Kelvo\n", -1},
        {L"--install", 0, "", 1},
        {L"--install", 0, "", 1},  // again, over the installed files
        {L"--uninstall", 0, "", 0},
        {L"--unknown", 1, "", 0},
        {L"--INSTALL", 1, "", 0},
    };
    for (const step& s : steps) {
        const std::string what = utf8(s.args);
        run_result r = run_planted(SETUP, s.args);
        EXPECT_EQ(r.code, s.code) << what;
        if (s.out) EXPECT_EQ(r.out, s.out) << what;
        if (s.installed == 1) {
            std::string got;
            EXPECT_TRUE(read_file(DIR + L"\\kelvo.exe", &got) && got == embedded) << what;
            EXPECT_TRUE(exists(DIR + L"\\KelvoIDE.exe")) << what;
            EXPECT_TRUE(registered()) << what;
            EXPECT_NE(user_path().find(DIR), std::wstring::npos) << what;
        } else if (s.installed == 0) {
            EXPECT_FALSE(exists(DIR)) << what;
            EXPECT_FALSE(registered()) << what;
            EXPECT_EQ(user_path().find(DIR), std::wstring::npos) << what;
        }
        EXPECT_EQ(take_markers(), "") << what << " loaded a planted library";
    }
}

TEST(Planted, WindowLoadsNothingBesideTheProgram) {
    ASSERT_EQ(plant(), "");
    clean_machine();
    // Whichever step stops the test, what was loaded by then is reported.
    struct leftovers {
        ~leftovers() { EXPECT_EQ(take_markers(), "") << "by the end of the test"; }
    } leftovers_check;
    http_server server(test_port());
    ASSERT_TRUE(server.listening());
    const std::string site = "http://127.0.0.1:" + std::to_string(test_port());
    const std::string list = "/repos/kelvo-lang/kelvo/releases?per_page=12";
    const std::string latest = "/kelvo-lang/kelvo/releases/latest/download/kelvo.exe";
    // A complete executable: the download path takes nothing less.
    const std::string served = payload(L"embedded\\kelvo.exe") + "latest, served on loopback";
    server.set(list, {200, "application/json",
                      "[{\"tag_name\":\"2.16\",\"assets\":[{\"name\":\"kelvo.exe\","
                      "\"browser_download_url\":\"" + site + "/dl/2.16/kelvo.exe\"}]}]"});
    server.set(latest, {200, "application/octet-stream", served});
    const std::string embedded = payload(L"embedded\\kelvo.exe");

    // Each page, Browse opened and cancelled, the built-in install, Close.
    {
        window s = open_window();
        ASSERT_TRUE(s.w) << "no window";
        EXPECT_EQ(s.page(), 0);
        EXPECT_EQ(take_markers(), "") << "opening the window";
        EXPECT_EQ(s.settled_count(3), 3) << "version list";
        EXPECT_EQ(s.item(2), L"2.16");
        s.click(1001);
        EXPECT_EQ(s.page(), 1);
        const std::wstring before = text_of(s.edit());
        PostMessageW(s.button(1007), BM_CLICK, 0, 0);
        HWND dialog = wait_window(s.p.id(), L"#32770", 20000, s.w);
        ASSERT_TRUE(dialog) << "no folder dialog";
        EXPECT_EQ(take_markers(), "") << "the folder dialog";
        SendMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
        for (int i = 0; i < 250 && IsWindow(dialog); ++i) Sleep(20);
        EXPECT_FALSE(IsWindow(dialog));
        DWORD_PTR answer = 0;
        EXPECT_TRUE(SendMessageTimeoutW(s.w, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &answer));
        EXPECT_EQ(text_of(s.edit()), before);
        EXPECT_EQ(take_markers(), "") << "Browse cancelled";
        SendMessageW(s.combo(), CB_SETCURSEL, 0, 0);
        s.click(1004);
        EXPECT_EQ(s.page(), 2);
        std::string got;
        EXPECT_TRUE(read_file(DIR + L"\\kelvo.exe", &got) && got == embedded) << "built-in install";
        EXPECT_TRUE(registered());
        EXPECT_EQ(take_markers(), "") << "the built-in install";
        s.click(1003);
        EXPECT_EQ(s.p.wait(15000), 0u);
        EXPECT_EQ(take_markers(), "") << "Close";
    }
    // "Остання з GitHub" from the loopback server, over the installed files.
    {
        window s = open_window();
        ASSERT_TRUE(s.w) << "no window";
        ASSERT_EQ(s.settled_count(3), 3) << "version list";
        EXPECT_EQ(s.item(1), L"Остання з GitHub");
        s.click(1001);
        SendMessageW(s.combo(), CB_SETCURSEL, 1, 0);
        s.click(1004);
        EXPECT_EQ(s.page(), 2);
        std::string got;
        EXPECT_TRUE(read_file(DIR + L"\\kelvo.exe", &got) && got == served) << "download install";
        EXPECT_EQ(server.hits(latest), 1);
        EXPECT_EQ(take_markers(), "") << "the download install";
        PostMessageW(s.w, WM_CLOSE, 0, 0);  // the frame's close box
        EXPECT_EQ(s.p.wait(15000), 0u);
        EXPECT_EQ(take_markers(), "") << "closing from the frame";
    }
    // Uninstall from the welcome page.
    {
        window s = open_window();
        ASSERT_TRUE(s.w) << "no window";
        EXPECT_EQ(s.page(), 0);
        s.click(1006);
        EXPECT_EQ(s.page(), 2);
        EXPECT_FALSE(exists(DIR));
        EXPECT_FALSE(registered());
        EXPECT_EQ(user_path().find(DIR), std::wstring::npos);
        EXPECT_EQ(take_markers(), "") << "uninstall";
        s.click(1003);
        EXPECT_EQ(s.p.wait(15000), 0u);
        EXPECT_EQ(take_markers(), "") << "Close after uninstall";
    }
}
