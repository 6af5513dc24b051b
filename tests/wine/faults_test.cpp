// Faults the real setup program meets on a user's machine, where nothing the
// user already has may be lost: a directory it cannot create, a full disk, a
// Path value it cannot read as text.
#include <gtest/gtest.h>

#include "harness.h"

using namespace harness;

namespace {

void expect_nothing_registered(const std::string& where) {
    EXPECT_FALSE(reg_get(HKEY_CURRENT_USER, L"Environment", L"Path").found) << where;
    EXPECT_FALSE(key_exists(HKEY_CURRENT_USER, L"Software\\Classes\\.kelvo")) << where;
    EXPECT_FALSE(key_exists(HKEY_CURRENT_USER, L"Software\\Classes\\KelvoScript")) << where;
}

run_result install_in(const std::wstring& local) {
    return run(setup_exe(), L"--install", {{L"LOCALAPPDATA", local.c_str()}});
}

}  // namespace

TEST(Faults, InstallDirectoryThatCannotBeMadeWritesNothing) {
    // Existing parents of n characters: the install directory adds 6, its
    // editor path 13 more, and no path may pass 259 characters.
    auto parent = [](size_t n) {
        std::wstring p = L"C:\\" + std::wstring(n - 3, L'p');
        CreateDirectoryW(p.c_str(), nullptr);
        return p;
    };
    struct {
        std::wstring local;
        DWORD code;
    } cases[] = {
        {L"C:\\no-such-parent\\Local", 1},
        {parent(250), 1},  // even kelvo.exe would not fit
        {parent(241), 1},  // kelvo.exe fits, KelvoIDE.exe would not
        {parent(240), 0},
    };
    for (const auto& c : cases) {
        std::string where = "LOCALAPPDATA of " + std::to_string(c.local.size()) + " characters";
        const std::wstring dir = c.local + L"\\Kelvo";
        auto r = install_in(c.local);
        EXPECT_EQ(r.code, c.code) << where;
        if (c.code == 0) {
            EXPECT_TRUE(exists(dir + L"\\KelvoIDE.exe")) << where;
            EXPECT_EQ(run(setup_exe(), L"--uninstall", {{L"LOCALAPPDATA", c.local.c_str()}}).code, 0u);
            // What the add and the removal leave of a Path there was none of.
            EXPECT_EQ(reg_get(HKEY_CURRENT_USER, L"Environment", L"Path").text(),
                      L"%USERPROFILE%\\AppData\\Local\\Microsoft\\WindowsApps");
            reg_delete_value(HKEY_CURRENT_USER, L"Environment", L"Path");
        }
        EXPECT_FALSE(exists(dir)) << where;
        expect_nothing_registered(where);
    }
    EXPECT_FALSE(exists(L"C:\\no-such-parent"));
}

TEST(Faults, FullDiskKeepsEarlierInterpreter) {
    ASSERT_TRUE(exists(L"T:\\")) << "drive T: (a small tmpfs) is not mapped";
    const std::wstring local = L"T:\\Local", dir = local + L"\\Kelvo", exe = dir + L"\\kelvo.exe";
    ASSERT_TRUE(CreateDirectoryW(local.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(dir.c_str(), nullptr));
    std::string earlier = "MZ earlier interpreter ";
    for (int i = 0; i < 20000; ++i) earlier += static_cast<char>('a' + i % 26);
    ASSERT_TRUE(write_file(exe, earlier));

    HANDLE fill = CreateFileW(L"T:\\filler", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(fill, INVALID_HANDLE_VALUE);
    std::string block(65536, 'f');
    for (DWORD size : {65536u, 4096u, 512u, 1u}) {
        DWORD put = 0;
        while (WriteFile(fill, block.data(), size, &put, nullptr) && put == size) {
        }
    }
    CloseHandle(fill);
    ULARGE_INTEGER free_bytes = {};
    ASSERT_TRUE(GetDiskFreeSpaceExW(L"T:\\", &free_bytes, nullptr, nullptr));
    ASSERT_LT(free_bytes.QuadPart, payload(L"embedded\\kelvo.exe").size());

    EXPECT_EQ(install_in(local).code, 1u);
    std::string now;
    ASSERT_TRUE(read_file(exe, &now));
    EXPECT_TRUE(now == earlier) << "the earlier kelvo.exe was damaged (" << now.size() << " bytes)";
    EXPECT_EQ(names_in(dir), std::vector<std::wstring>{L"kelvo.exe"}) << "a staging file was left";
    expect_nothing_registered("full disk");

    // With room again the same install goes through: the disk was the fault.
    ASSERT_TRUE(DeleteFileW(L"T:\\filler"));
    EXPECT_EQ(install_in(local).code, 0u);
    ASSERT_TRUE(read_file(exe, &now));
    EXPECT_TRUE(now == payload(L"embedded\\kelvo.exe"));
    EXPECT_EQ(run(setup_exe(), L"--uninstall", {{L"LOCALAPPDATA", local.c_str()}}).code, 0u);
    EXPECT_FALSE(exists(dir));
    reg_delete_value(HKEY_CURRENT_USER, L"Environment", L"Path");
}

TEST(Faults, PathNotReadableAsTextIsLeftByteForByte) {
    const std::wstring dir = default_dir();
    // Path-like text of n characters (at least the lead): our directory as an
    // entry, which a wrong removal would cut, or none, so a wrong add would append.
    auto text = [&](size_t n, bool ours) {
        std::wstring t = ours ? dir + L";C:\\B" : L"C:\\A;C:\\B";
        if (t.size() < n) t += L";" + std::wstring(n - t.size() - 1, L'x');
        return t;
    };
    auto bytes = [](const std::wstring& t, bool terminated) {
        const BYTE* p = reinterpret_cast<const BYTE*>(t.c_str());
        return std::vector<BYTE>(p, p + (t.size() + (terminated ? 1 : 0)) * sizeof(wchar_t));
    };
    struct {
        const char* name;
        DWORD type;
        size_t chars;  // 0: raw DWORD
        bool terminated;
    } cases[] = {
        {"REG_BINARY", REG_BINARY, 20, true},
        {"REG_MULTI_SZ", REG_MULTI_SZ, 20, true},
        {"REG_DWORD", REG_DWORD, 0, false},
        {"40,000 characters", REG_EXPAND_SZ, 40000, true},
        {"32,767 characters", REG_SZ, 32767, true},
        {"32,767 characters, no terminator", REG_SZ, 32767, false},
    };
    for (const auto& c : cases) {
        for (bool uninstall : {false, true}) {
            std::vector<BYTE> data = c.chars ? bytes(text(c.chars, uninstall), c.terminated)
                                             : std::vector<BYTE>{0x78, 0x56, 0x34, 0x12};
            ASSERT_TRUE(reg_set(HKEY_CURRENT_USER, L"Environment", L"Path", c.type, data.data(),
                                (DWORD)data.size()));
            EXPECT_EQ(run(setup_exe(), uninstall ? L"--uninstall" : L"--install").code, 0u) << c.name;
            reg_value v = reg_get(HKEY_CURRENT_USER, L"Environment", L"Path");
            EXPECT_EQ(v.type, c.type) << c.name << (uninstall ? " uninstall" : " install");
            EXPECT_TRUE(v.data == data) << c.name << (uninstall ? " uninstall" : " install");
        }
    }

    // The longest readable value is still extended, and written whole; the
    // result is too long to read back, so the removal leaves it.
    const std::wstring longest = text(32766, false);
    ASSERT_TRUE(reg_set_text(HKEY_CURRENT_USER, L"Environment", L"Path", REG_SZ, longest));
    EXPECT_EQ(run(setup_exe(), L"--install").code, 0u);
    reg_value v = reg_get(HKEY_CURRENT_USER, L"Environment", L"Path");
    EXPECT_EQ(v.type, (DWORD)REG_EXPAND_SZ);
    EXPECT_TRUE(v.text() == longest + L";" + dir);
    EXPECT_EQ(v.data.size(), (longest.size() + 1 + dir.size() + 1) * sizeof(wchar_t));
    EXPECT_EQ(run(setup_exe(), L"--uninstall").code, 0u);
    EXPECT_TRUE(reg_get(HKEY_CURRENT_USER, L"Environment", L"Path").data == v.data);
    reg_delete_value(HKEY_CURRENT_USER, L"Environment", L"Path");
}
