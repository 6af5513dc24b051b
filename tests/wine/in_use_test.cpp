// The interpreter and the editor in use while the setup program updates or
// removes them: a running program's file is moved aside and keeps running,
// the next install clears what was moved aside, and an uninstall that cannot
// delete a running program says so. The running programs are test programs
// that go on until told to stop (running_console.c, running_window.c).
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "harness.h"
#include "kelvo.h"

// The shared state that the entry unit defines in the setup program.
wchar_t APP_DIR[260];
const wchar_t CUR_VER[] = L"2.15";
ver_entry ver_urls[16];
int ver_count;

using namespace harness;

namespace {

const std::wstring LOCAL = L"C:\\inuse";  // LOCALAPPDATA of every setup run here
const std::wstring DIR = LOCAL + L"\\Kelvo";
const std::wstring EXE = DIR + L"\\kelvo.exe", IDE = DIR + L"\\KelvoIDE.exe";
const std::wstring EXE_OLD = EXE + L".old", IDE_OLD = IDE + L".old";
const std::string LATEST = "/kelvo-lang/kelvo/releases/latest/download/kelvo.exe";

// The user's own files, which nothing here may touch, whatever their names.
const std::vector<std::wstring> USER_FILES = {L"notes.txt", L"notes.old", L"kelvo.exe.bak"};

const wchar_t DONE_TEXT[] = L"✓  Видалення завершено.\n\nКелво прибрано повністю: файли, PATH, асоціація.";
const wchar_t NOT_DONE_TEXT[] =
    L"✗  Видалення не завершено.\nЗакрийте kelvo та KelvoIDE і повторіть видалення.";

std::string file(const std::wstring& path) {
    std::string data;
    return read_file(path, &data) ? data : "(missing)";
}

std::vector<std::wstring> sorted(std::vector<std::wstring> names) {
    std::sort(names.begin(), names.end());
    return names;
}

std::string listing(const std::vector<std::wstring>& names) {
    std::string s;
    for (const auto& n : names) s += utf8(n) + " ";
    return s;
}

std::string embedded_exe() { return payload(L"embedded\\kelvo.exe"); }
std::string embedded_ide() { return payload(L"embedded\\KelvoIDE.exe"); }

enum kind { INTERPRETER, EDITOR };
const wchar_t* program_file(kind k) {
    return k == INTERPRETER ? L"running_console.exe" : L"running_window.exe";
}
std::string running_bytes(kind k) { return payload(program_file(k)); }

// A test program running from a file of the install directory: the console
// one stands in for a script in the interpreter, the window one for the open
// editor. It ends only when told to (exit code 42 or 43); a killed one ends
// with another code.
class running {
public:
    running(kind k, const std::wstring& path) : kind_(k) {
        static int serial = 0;
        std::wstring name = L"kelvo-inuse-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                            std::to_wstring(++serial);
        ready_ = CreateEventW(nullptr, TRUE, FALSE, (name + L"-ready").c_str());
        stop_ = CreateEventW(nullptr, TRUE, FALSE, (name + L"-stop").c_str());
        if (!CopyFileW(beside_me(program_file(k)).c_str(), path.c_str(), FALSE)) return;
        p_ = start(path, name);
        ok_ = p_.started() && WaitForSingleObject(ready_, 30000) == WAIT_OBJECT_0;
    }
    ~running() {
        if (stop_) SetEvent(stop_);
        p_.wait(10000);
        if (ready_) CloseHandle(ready_);
        if (stop_) CloseHandle(stop_);
    }
    running(const running&) = delete;
    running& operator=(const running&) = delete;

    bool started() const { return ok_; }
    // Still running, and the editor's window still answers.
    bool unharmed() {
        if (!ok_ || p_.wait(0) != 0xFFFFFFFF) return false;
        if (kind_ == INTERPRETER) return true;
        HWND w = find_window(p_.id(), L"KelvoRunningEditor");
        DWORD_PTR answer = 0;
        return w && SendMessageTimeoutW(w, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &answer);
    }
    // Tells it to end; true when it ended by itself with its own code.
    bool stop() {
        SetEvent(stop_);
        return p_.wait(30000) == (kind_ == INTERPRETER ? 42u : 43u);
    }

private:
    kind kind_;
    process p_;
    HANDLE ready_ = nullptr, stop_ = nullptr;
    bool ok_ = false;
};

DWORD setup(const wchar_t* arg) {
    return run(setup_exe(), arg, {{L"LOCALAPPDATA", LOCAL.c_str()}}).code;
}

bool registered() {
    return key_exists(HKEY_CURRENT_USER, L"Software\\Classes\\.kelvo") ||
           key_exists(HKEY_CURRENT_USER, L"Software\\Classes\\KelvoScript");
}
bool on_path() {
    return reg_get(HKEY_CURRENT_USER, L"Environment", L"Path").text().find(DIR) != std::wstring::npos;
}

void clean_registry() {
    reg_delete_value(HKEY_CURRENT_USER, L"Environment", L"Path");
    reg_delete_tree(HKEY_CURRENT_USER, L"Software\\Classes\\.kelvo");
    reg_delete_tree(HKEY_CURRENT_USER, L"Software\\Classes\\KelvoScript");
}

// Empties and removes a directory of this test (the programs must have ended).
void remove_dir(const std::wstring& dir) {
    for (const auto& n : names_in(dir)) {
        std::wstring p = dir + L"\\" + n;
        SetFileAttributesW(p.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (!DeleteFileW(p.c_str())) RemoveDirectoryW(p.c_str());
    }
    RemoveDirectoryW(dir.c_str());
}

class InUse : public ::testing::Test {
protected:
    void SetUp() override { reset(); }
    void TearDown() override { reset(); }
    static void reset() {
        clean_registry();
        remove_dir(DIR);
        CreateDirectoryW(LOCAL.c_str(), nullptr);
    }
    static void put_user_files() {
        for (const auto& n : USER_FILES) ASSERT_TRUE(write_file(DIR + L"\\" + n, "mine: " + utf8(n)));
    }
    static void expect_user_files(const std::string& where) {
        for (const auto& n : USER_FILES)
            EXPECT_EQ(file(DIR + L"\\" + n), "mine: " + utf8(n)) << where;
    }
};

}  // namespace

TEST_F(InUse, UpdateMovesRunningProgramsAsideAndTheNextInstallClearsThem) {
    struct {
        const char* name;
        bool interpreter, editor;
    } cases[] = {
        {"interpreter running", true, false},
        {"editor running", false, true},
        {"both running", true, true},
    };
    for (const auto& c : cases) {
        reset();
        ASSERT_EQ(setup(L"--install"), 0u) << c.name;
        put_user_files();
        std::unique_ptr<running> interp, editor;
        if (c.interpreter) interp.reset(new running(INTERPRETER, EXE));
        if (c.editor) editor.reset(new running(EDITOR, IDE));
        ASSERT_TRUE(!interp || interp->started()) << c.name;
        ASSERT_TRUE(!editor || editor->started()) << c.name;

        EXPECT_EQ(setup(L"--install"), 0u) << c.name;
        EXPECT_TRUE(file(EXE) == embedded_exe()) << c.name << ": kelvo.exe is not the new one";
        EXPECT_TRUE(file(IDE) == embedded_ide()) << c.name << ": KelvoIDE.exe is not the new one";
        if (c.interpreter) EXPECT_TRUE(file(EXE_OLD) == running_bytes(INTERPRETER)) << c.name;
        if (c.editor) EXPECT_TRUE(file(IDE_OLD) == running_bytes(EDITOR)) << c.name;
        std::vector<std::wstring> want = USER_FILES;
        want.push_back(L"kelvo.exe");
        want.push_back(L"KelvoIDE.exe");
        if (c.interpreter) want.push_back(L"kelvo.exe.old");
        if (c.editor) want.push_back(L"KelvoIDE.exe.old");
        EXPECT_EQ(names_in(DIR), sorted(want)) << c.name << ": " << listing(names_in(DIR));
        EXPECT_TRUE(registered()) << c.name;
        EXPECT_TRUE(on_path()) << c.name;
        if (interp) EXPECT_TRUE(interp->unharmed()) << c.name;
        if (editor) EXPECT_TRUE(editor->unharmed()) << c.name;

        // The programs end; the next install takes what was moved aside.
        if (interp) EXPECT_TRUE(interp->stop()) << c.name;
        if (editor) EXPECT_TRUE(editor->stop()) << c.name;
        EXPECT_EQ(setup(L"--install"), 0u) << c.name;
        EXPECT_EQ(names_in(DIR), sorted({L"notes.txt", L"notes.old", L"kelvo.exe.bak", L"kelvo.exe",
                                         L"KelvoIDE.exe"}))
            << c.name << ": " << listing(names_in(DIR));
        EXPECT_TRUE(file(EXE) == embedded_exe()) << c.name;
        EXPECT_TRUE(file(IDE) == embedded_ide()) << c.name;
        expect_user_files(c.name);
    }
}

TEST_F(InUse, UninstallWhileRunningReportsItAndFinishesLater) {
    struct {
        const char* name;
        bool interpreter, editor;
        bool moved_aside;  // the programs were moved aside by an update and run from there
        bool user_files;
    } cases[] = {
        {"interpreter running", true, false, false, false},
        {"editor running", false, true, false, true},
        {"both running", true, true, false, false},
        {"moved-aside interpreter running", true, false, true, true},
        {"moved-aside editor running", false, true, true, false},
    };
    for (const auto& c : cases) {
        reset();
        ASSERT_EQ(setup(L"--install"), 0u) << c.name;
        if (c.user_files) put_user_files();
        std::unique_ptr<running> interp, editor;
        if (c.interpreter) interp.reset(new running(INTERPRETER, EXE));
        if (c.editor) editor.reset(new running(EDITOR, IDE));
        ASSERT_TRUE(!interp || interp->started()) << c.name;
        ASSERT_TRUE(!editor || editor->started()) << c.name;
        std::vector<std::wstring> left;
        if (c.user_files) left = USER_FILES;
        if (c.moved_aside) {
            ASSERT_EQ(setup(L"--install"), 0u) << c.name;
            if (c.interpreter) left.push_back(L"kelvo.exe.old");
            if (c.editor) left.push_back(L"KelvoIDE.exe.old");
        } else {
            if (c.interpreter) left.push_back(L"kelvo.exe");
            if (c.editor) left.push_back(L"KelvoIDE.exe");
        }

        EXPECT_EQ(setup(L"--uninstall"), 1u) << c.name;
        EXPECT_EQ(names_in(DIR), sorted(left)) << c.name << ": " << listing(names_in(DIR));
        EXPECT_FALSE(registered()) << c.name << ": the file type stayed";
        EXPECT_FALSE(on_path()) << c.name << ": the Path entry stayed";
        if (interp) EXPECT_TRUE(interp->unharmed()) << c.name;
        if (editor) EXPECT_TRUE(editor->unharmed()) << c.name;

        if (interp) EXPECT_TRUE(interp->stop()) << c.name;
        if (editor) EXPECT_TRUE(editor->stop()) << c.name;
        EXPECT_EQ(setup(L"--uninstall"), 0u) << c.name;
        if (c.user_files) {
            EXPECT_EQ(names_in(DIR), sorted(USER_FILES)) << c.name << ": " << listing(names_in(DIR));
            expect_user_files(c.name);
        } else {
            EXPECT_FALSE(exists(DIR)) << c.name << ": " << listing(names_in(DIR));
            EXPECT_EQ(setup(L"--uninstall"), 0u) << c.name << ": nothing installed";
        }
        EXPECT_FALSE(registered()) << c.name;
        EXPECT_FALSE(on_path()) << c.name;
    }
}

TEST_F(InUse, ThirdGenerationFailsThePlacementAsBefore) {
    // The program moved aside by one update still runs, and so does the one
    // installed by it: there is no name left to move the second aside to.
    struct {
        const char* name;
        kind k;
        std::wstring path;
        DWORD code;
    } cases[] = {
        {"interpreter", INTERPRETER, EXE, 1},
        {"editor", EDITOR, IDE, 0},  // the editor never fails the install
    };
    for (const auto& c : cases) {
        reset();
        ASSERT_TRUE(CreateDirectoryW(DIR.c_str(), nullptr));
        running first(c.k, c.path + L".old"), second(c.k, c.path);
        ASSERT_TRUE(first.started() && second.started()) << c.name;

        EXPECT_EQ(setup(L"--install"), c.code) << c.name;
        EXPECT_TRUE(file(c.path) == running_bytes(c.k)) << c.name << ": the running program was replaced";
        EXPECT_TRUE(file(c.path + L".old") == running_bytes(c.k)) << c.name;
        std::vector<std::wstring> want;
        if (c.k == INTERPRETER) {
            want = {L"kelvo.exe", L"kelvo.exe.old"};  // and nothing else written
            EXPECT_FALSE(registered()) << c.name;
            EXPECT_FALSE(on_path()) << c.name;
        } else {
            want = {L"kelvo.exe", L"KelvoIDE.exe", L"KelvoIDE.exe.old"};
            EXPECT_TRUE(file(EXE) == embedded_exe()) << c.name;
            EXPECT_TRUE(registered()) << c.name;
        }
        EXPECT_EQ(names_in(DIR), sorted(want)) << c.name << ": " << listing(names_in(DIR));
        EXPECT_TRUE(first.unharmed()) << c.name;
        EXPECT_TRUE(second.unharmed()) << c.name;

        EXPECT_TRUE(first.stop()) << c.name;
        EXPECT_TRUE(second.stop()) << c.name;
        EXPECT_EQ(setup(L"--install"), 0u) << c.name;
        EXPECT_EQ(names_in(DIR), sorted({L"kelvo.exe", L"KelvoIDE.exe"})) << c.name;
        EXPECT_TRUE(file(c.path) == (c.k == INTERPRETER ? embedded_exe() : embedded_ide())) << c.name;
        EXPECT_EQ(setup(L"--uninstall"), 0u) << c.name;
        EXPECT_FALSE(exists(DIR)) << c.name;
    }
}

TEST_F(InUse, ReadOnlyCopiesMovedAsideAreClearedToo) {
    // Windows refuses to replace a read-only kelvo.exe as it refuses a running
    // one, so a read-only copy can be moved aside (Wine replaces it instead).
    for (const wchar_t* arg : {L"--install", L"--uninstall"}) {
        CreateDirectoryW(DIR.c_str(), nullptr);
        for (const std::wstring& old : {EXE_OLD, IDE_OLD}) {
            ASSERT_TRUE(write_file(old, "MZ read-only copy moved aside"));
            ASSERT_TRUE(SetFileAttributesW(old.c_str(), FILE_ATTRIBUTE_READONLY));
        }
        EXPECT_EQ(setup(arg), 0u) << utf8(arg);
        EXPECT_FALSE(exists(EXE_OLD)) << utf8(arg);
        EXPECT_FALSE(exists(IDE_OLD)) << utf8(arg);
    }
    EXPECT_FALSE(exists(DIR));
}

// The one step both the built-in write and the download end with, on every
// kind of target it can meet.
TEST_F(InUse, PlaceFileMovesOnlyAProgramInUseAside) {
    ASSERT_TRUE(exists(L"T:\\")) << "drive T: (a small tmpfs) is not mapped";
    enum target_kind { ABSENT, PLAIN, RUNS, FOLDER, HELD };  // HELD: open without delete sharing
    enum aside_kind { NONE, STALE, ALSO_RUNS };
    const std::wstring deep = L"C:\\" + std::wstring(244, L'd');  // "<target>.old" would pass 259
    struct {
        const char* name;
        std::wstring dir;
        target_kind target;
        aside_kind aside;
        bool far_staging;  // staging on another volume: it cannot be moved
        int result;
    } cases[] = {
        {"no target", L"C:\\place", ABSENT, NONE, false, 1},
        {"target not in use", L"C:\\place", PLAIN, NONE, false, 1},
        {"target not in use, earlier .old kept", L"C:\\place", PLAIN, STALE, false, 1},
        {"target running", L"C:\\place", RUNS, NONE, false, 1},
        {"target running, stale .old", L"C:\\place", RUNS, STALE, false, 1},
        {"target and .old running", L"C:\\place", RUNS, ALSO_RUNS, false, 0},
        {"target is a folder", L"C:\\place", FOLDER, NONE, false, 0},
        {"target held open", L"C:\\place", HELD, NONE, false, 0},
        {"target running, staging far", L"C:\\place", RUNS, NONE, true, 0},
        {"target running, no room for .old", deep, RUNS, NONE, false, 0},
    };
    const std::string fresh = "MZ fresh program", before = "MZ program that was there",
                      stale = "MZ stale copy moved aside earlier";
    for (const auto& c : cases) {
        remove_dir(c.dir);
        ASSERT_TRUE(CreateDirectoryW(c.dir.c_str(), nullptr)) << c.name;
        const std::wstring target = c.dir + L"\\kelvo.exe", aside = target + L".old";
        const std::wstring staging = c.far_staging ? L"T:\\staging.exe" : c.dir + L"\\staging.exe";
        ASSERT_LT(target.size(), 260u) << c.name;
        ASSERT_TRUE(write_file(staging, fresh)) << c.name;

        std::unique_ptr<running> in_use, aside_in_use;
        std::string target_was = before, aside_was;
        HANDLE held = INVALID_HANDLE_VALUE;
        if (c.target == PLAIN || c.target == HELD) ASSERT_TRUE(write_file(target, before)) << c.name;
        if (c.target == FOLDER) ASSERT_TRUE(CreateDirectoryW(target.c_str(), nullptr)) << c.name;
        if (c.target == HELD)
            held = CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (c.target == RUNS) {
            in_use.reset(new running(INTERPRETER, target));
            ASSERT_TRUE(in_use->started()) << c.name;
            target_was = running_bytes(INTERPRETER);
        }
        if (c.aside == STALE) {
            ASSERT_TRUE(write_file(aside, stale)) << c.name;
            aside_was = stale;
        }
        if (c.aside == ALSO_RUNS) {
            aside_in_use.reset(new running(INTERPRETER, aside));
            ASSERT_TRUE(aside_in_use->started()) << c.name;
            aside_was = running_bytes(INTERPRETER);
        }

        EXPECT_EQ(place_file(staging.c_str(), target.c_str()), c.result) << c.name;
        if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
        if (c.result) {
            EXPECT_EQ(file(target), fresh) << c.name;
            EXPECT_FALSE(exists(staging)) << c.name;
            // Only a program in use is moved aside; an idle one is replaced.
            std::string want_aside = c.target == RUNS ? target_was : aside_was;
            EXPECT_TRUE(file(aside) == (want_aside.empty() ? "(missing)" : want_aside)) << c.name;
        } else {
            if (c.target == FOLDER) {
                DWORD attr = GetFileAttributesW(target.c_str());
                EXPECT_TRUE(attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY)) << c.name;
            } else {
                EXPECT_TRUE(file(target) == target_was) << c.name << ": the target was not kept";
            }
            EXPECT_TRUE(file(aside) == (aside_was.empty() ? "(missing)" : aside_was)) << c.name;
            EXPECT_EQ(file(staging), fresh) << c.name << ": the staging file is the caller's to delete";
        }
        if (in_use) EXPECT_TRUE(in_use->unharmed()) << c.name;
        if (aside_in_use) EXPECT_TRUE(aside_in_use->unharmed()) << c.name;
        in_use.reset();
        aside_in_use.reset();
        DeleteFileW(staging.c_str());
        remove_dir(c.dir);
    }
}

TEST_F(InUse, DownloadOverRunningInterpreterBehavesAsTheBuiltIn) {
    ASSERT_TRUE(exists(L"T:\\")) << "drive T: (a small tmpfs) is not mapped";
    wcscpy(APP_DIR, DIR.c_str());
    ver_count = 0;
    const std::wstring staging =
        temp_dir() + L"kelvo-dl-" + std::to_wstring(GetCurrentProcessId()) + L".exe";
    http_server server(test_port());
    ASSERT_TRUE(server.listening());
    server.set(LATEST, {200, "application/octet-stream", embedded_exe()});

    ASSERT_TRUE(CreateDirectoryW(DIR.c_str(), nullptr));
    put_user_files();
    {
        running interp(INTERPRETER, EXE);
        ASSERT_TRUE(interp.started());
        EXPECT_EQ(do_install(false, 1), 1);
        EXPECT_EQ(server.hits(LATEST), 1);
        EXPECT_TRUE(file(EXE) == embedded_exe());
        EXPECT_TRUE(file(EXE_OLD) == running_bytes(INTERPRETER));
        EXPECT_TRUE(file(IDE) == embedded_ide());
        EXPECT_FALSE(exists(staging));
        EXPECT_TRUE(registered());
        EXPECT_TRUE(interp.unharmed());
        EXPECT_TRUE(interp.stop());
    }

    // From a temporary directory on another volume the download cannot be
    // moved in: the running interpreter moved aside for it comes back.
    {
        running interp(INTERPRETER, EXE);
        ASSERT_TRUE(interp.started());
        const std::wstring tmp = env(L"TMP"), temp = env(L"TEMP");
        CreateDirectoryW(L"T:\\tmp", nullptr);
        SetEnvironmentVariableW(L"TMP", L"T:\\tmp");
        SetEnvironmentVariableW(L"TEMP", L"T:\\tmp");
        int got = do_install(false, 1);
        SetEnvironmentVariableW(L"TMP", tmp.c_str());
        SetEnvironmentVariableW(L"TEMP", temp.c_str());
        EXPECT_EQ(got, 0);
        EXPECT_EQ(server.hits(LATEST), 2);
        EXPECT_TRUE(file(EXE) == running_bytes(INTERPRETER)) << "the running interpreter was not put back";
        EXPECT_FALSE(exists(EXE_OLD)) << "a .old was left beside the interpreter put back";
        EXPECT_EQ(names_in(L"T:\\tmp"), std::vector<std::wstring>{}) << "a staging file was left";
        EXPECT_TRUE(interp.unharmed());
        EXPECT_TRUE(interp.stop());
    }
    expect_user_files("download");
}

namespace {

HWND make_window() {
    static ATOM atom = [] {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = WndProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"KelvoSetup";
        return RegisterClassW(&wc);
    }();
    if (!atom) return nullptr;
    return CreateWindowExW(0, L"KelvoSetup", L"Келво — Встановлення",
                           WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, CW_USEDEFAULT, CW_USEDEFAULT,
                           486, 458, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
}

}  // namespace

// The window's Uninstall, built in this process from the product's window
// code, so its result text can be read exactly.
TEST_F(InUse, WindowSaysWhenUninstallIsNotFinished) {
    struct {
        const char* name;
        kind k;
        std::wstring path;
    } cases[] = {
        {"interpreter running", INTERPRETER, EXE},
        {"editor running", EDITOR, IDE},
    };
    for (const auto& c : cases) {
        reset();
        ASSERT_EQ(setup(L"--install"), 0u) << c.name;
        running program(c.k, c.path);
        ASSERT_TRUE(program.started()) << c.name;
        wcscpy(APP_DIR, DIR.c_str());
        HWND w = make_window();
        ASSERT_TRUE(w) << c.name;

        SendMessageW(w, WM_COMMAND, MAKEWPARAM(1006, BN_CLICKED), 0);
        EXPECT_EQ(g_page, 2) << c.name;
        EXPECT_STREQ(statusTxt, NOT_DONE_TEXT) << c.name;
        EXPECT_TRUE(exists(c.path)) << c.name;
        EXPECT_FALSE(registered()) << c.name;
        EXPECT_FALSE(on_path()) << c.name;
        EXPECT_TRUE(program.unharmed()) << c.name;

        EXPECT_TRUE(program.stop()) << c.name;
        // The result page offers only Close: the later uninstall is a new window's.
        DestroyWindow(w);
        w = make_window();
        ASSERT_TRUE(w) << c.name;
        SendMessageW(w, WM_COMMAND, MAKEWPARAM(1006, BN_CLICKED), 0);
        EXPECT_STREQ(statusTxt, DONE_TEXT) << c.name;
        EXPECT_FALSE(exists(DIR)) << c.name;
        DestroyWindow(w);
    }
}
