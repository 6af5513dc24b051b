// The command line of the real setup program: which switches act, their exit
// codes and output, and the default install directory printed by --path.
#include <gtest/gtest.h>

#include "harness.h"

using namespace harness;

namespace {

const char VERSION_LINE[] = "Kelvo Setup v2.15\n";

void expect_nothing_installed(const std::wstring& why) {
    EXPECT_FALSE(exists(default_dir())) << utf8(why);
    EXPECT_FALSE(reg_get(HKEY_CURRENT_USER, L"Environment", L"Path").found) << utf8(why);
    EXPECT_FALSE(key_exists(HKEY_CURRENT_USER, L"Software\\Classes\\.kelvo")) << utf8(why);
    EXPECT_FALSE(key_exists(HKEY_CURRENT_USER, L"Software\\Classes\\KelvoScript")) << utf8(why);
}

}  // namespace

TEST(Switches, OnlyTheExactFirstArgumentActs) {
    const std::string dir_line = utf8(default_dir()) + "\n";
    struct {
        const wchar_t* args;
        DWORD code;
        std::string out;
    } cases[] = {
        {L"--version", 0, VERSION_LINE},
        {L"--version --install", 0, VERSION_LINE},
        {L"--version extra \"more words\"", 0, VERSION_LINE},
        {L"--path --install", 0, dir_line},
        {L"--uninstall --install", 0, ""},  // nothing installed: removes nothing, adds nothing
        {L"--INSTALL", 1, ""},
        {L"--Install", 1, ""},
        {L"-install", 1, ""},
        {L"/install", 1, ""},
        {L"install", 1, ""},
        {L"--install=1", 1, ""},
        {L"\"--install \"", 1, ""},
        {L"\"\" --install", 1, ""},
        {L"--VERSION", 1, ""},
        {L"-version", 1, ""},
        {L"--versions", 1, ""},
        {L"--PATH", 1, ""},
        {L"-path", 1, ""},
        {L"--Uninstall --install", 1, ""},
    };
    for (const auto& c : cases) {
        auto r = run(setup_exe(), c.args);
        EXPECT_EQ(r.code, c.code) << utf8(c.args);
        EXPECT_EQ(r.out, c.out) << utf8(c.args);
        expect_nothing_installed(c.args);
    }
}

TEST(PathSwitch, DefaultDirectoryFromLocalAppData) {
    const std::string fallback = "C:\\Users\\Public\\Kelvo\n";
    // "C:\" followed by letters, or by letters and a closing backslash, n characters in all.
    auto plain = [](size_t n) { return L"C:\\" + std::wstring(n - 3, L'a'); };
    auto slashed = [](size_t n) { return L"C:\\" + std::wstring(n - 4, L'b') + L"\\"; };
    struct {
        std::wstring value;
        bool unset;
        std::string out;
    } cases[] = {
        {L"", true, fallback},
        {L"", false, fallback},
        {L"D:\\Data", false, "D:\\Data\\Kelvo\n"},
        {L"D:\\Data\\", false, "D:\\Data\\Kelvo\n"},
        {L"C:\\", false, "C:\\Kelvo\n"},
        {L"C:\\Users\\Олена\\AppData\\Local", false,
         "C:\\Users\\\xD0\x9E\xD0\xBB\xD0\xB5\xD0\xBD\xD0\xB0\\AppData\\Local\\Kelvo\n"},
        // 253 + "\Kelvo" is the longest that fits in 259 characters.
        {plain(253), false, utf8(plain(253)) + "\\Kelvo\n"},
        {plain(254), false, fallback},
        {slashed(254), false, utf8(slashed(254)) + "Kelvo\n"},
        {slashed(255), false, fallback},
        {plain(259), false, fallback},
        {plain(260), false, fallback},
        {plain(400), false, fallback},
    };
    for (const auto& c : cases) {
        env_changes env = {{L"LOCALAPPDATA", c.unset ? nullptr : c.value.c_str()}};
        auto r = run(setup_exe(), L"--path", env);
        EXPECT_EQ(r.code, 0u) << c.value.size();
        EXPECT_EQ(r.out, c.out) << "LOCALAPPDATA of " << c.value.size() << " characters";
    }
}
