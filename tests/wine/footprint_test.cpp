// Nothing outside its area: the machine's files under C:\ and its whole
// registry, before and after --install and --uninstall of the real program.
#include <gtest/gtest.h>

#include <set>

#include "harness.h"

using namespace harness;

namespace {

// Entry -> what is known of it. Files: size and write time; directories:
// only that they exist (a directory's own time changes with what is put in it).
using snapshot = std::map<std::wstring, std::wstring>;

void walk_files(const std::wstring& dir, snapshot* s) {
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
        std::wstring name = fd.cFileName;
        if (name == L"." || name == L"..") continue;
        std::wstring path = dir + L"\\" + name;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            (*s)[L"dir " + path] = L"";
            // The user's shell folders are links to the Unix home directory,
            // which is not the prefix's and which other work changes at any time.
            if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) walk_files(path, s);
        } else {
            (*s)[L"file " + path] = std::to_wstring(fd.nFileSizeLow) + L" bytes, time " +
                                    std::to_wstring(fd.ftLastWriteTime.dwHighDateTime) + L":" +
                                    std::to_wstring(fd.ftLastWriteTime.dwLowDateTime);
        }
    } while (FindNextFileW(h, &fd));
    FindClose(h);
}

std::wstring describe(DWORD type, const BYTE* data, DWORD bytes) {
    static const wchar_t hex[] = L"0123456789abcdef";
    std::wstring d = L"type " + std::to_wstring(type) + L": ";
    for (DWORD i = 0; i < bytes; ++i) {
        d += hex[data[i] >> 4];
        d += hex[data[i] & 15];
    }
    return d;
}

void walk_key(HKEY root, const std::wstring& label, const std::wstring& sub, int depth, snapshot* s) {
    HKEY h;
    if (RegOpenKeyExW(root, sub.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return;
    std::wstring path = label + (sub.empty() ? L"" : L"\\" + sub);
    (*s)[L"key " + path] = L"";
    DWORD max_name = 0, max_data = 0, max_sub = 0;
    RegQueryInfoKeyW(h, nullptr, nullptr, nullptr, nullptr, &max_sub, nullptr, nullptr, &max_name,
                     &max_data, nullptr, nullptr);
    std::vector<wchar_t> name(max_name + 2);
    std::vector<BYTE> data(max_data + 2);
    for (DWORD i = 0;; ++i) {
        DWORD name_len = (DWORD)name.size(), data_len = (DWORD)data.size(), type = 0;
        if (RegEnumValueW(h, i, name.data(), &name_len, nullptr, &type, data.data(), &data_len) !=
            ERROR_SUCCESS)
            break;
        (*s)[L"value " + path + L" [" + std::wstring(name.data(), name_len) + L"]"] =
            describe(type, data.data(), data_len);
    }
    std::vector<std::wstring> children;
    std::vector<wchar_t> child(max_sub + 2);
    for (DWORD i = 0;; ++i) {
        DWORD len = (DWORD)child.size();
        if (RegEnumKeyExW(h, i, child.data(), &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        children.emplace_back(child.data(), len);
    }
    RegCloseKey(h);
    // Wine's registry links (CurrentControlSet and the like) are followed;
    // the depth bound only guards against a link that loops.
    if (depth < 24)
        for (const auto& c : children) walk_key(root, label, sub.empty() ? c : sub + L"\\" + c, depth + 1, s);
}

snapshot take() {
    snapshot s;
    walk_files(L"C:", &s);
    walk_key(HKEY_CURRENT_USER, L"HKCU", L"", 0, &s);
    walk_key(HKEY_LOCAL_MACHINE, L"HKLM", L"", 0, &s);
    return s;
}

// Every entry added, removed or changed, with a mark.
std::set<std::wstring> diff(const snapshot& before, const snapshot& after) {
    std::set<std::wstring> d;
    for (const auto& a : after) {
        auto b = before.find(a.first);
        if (b == before.end()) d.insert(L"+ " + a.first);
        else if (b->second != a.second) d.insert(L"~ " + a.first);
    }
    for (const auto& b : before)
        if (!after.count(b.first)) d.insert(L"- " + b.first);
    return d;
}

std::string show(const std::set<std::wstring>& d) {
    std::string out;
    for (const auto& line : d) out += utf8(line) + "\n";
    return out;
}

}  // namespace

TEST(Footprint, OnlyTheInstallDirectoryAndItsOwnValues) {
    const std::wstring dir = default_dir(), exe = dir + L"\\kelvo.exe";
    const std::wstring classes = L"HKCU\\Software\\Classes";
    const std::wstring path_value = L"value HKCU\\Environment [Path]";

    snapshot before = take();
    ASSERT_GT(before.size(), 1000u) << "the snapshot saw too little of the machine";
    ASSERT_EQ(run(setup_exe(), L"--install").code, 0u);
    snapshot installed = take();

    std::set<std::wstring> expected = {
        L"+ dir " + dir,
        L"+ file " + exe,
        L"+ file " + dir + L"\\KelvoIDE.exe",
        L"+ " + path_value,
    };
    for (const wchar_t* key : {L"\\.kelvo", L"\\.kelvo\\DefaultIcon", L"\\KelvoScript",
                               L"\\KelvoScript\\shell", L"\\KelvoScript\\shell\\open",
                               L"\\KelvoScript\\shell\\open\\command", L"\\KelvoScript\\DefaultIcon"})
        expected.insert(L"+ key " + classes + key);
    for (const wchar_t* key : {L"\\.kelvo", L"\\.kelvo\\DefaultIcon", L"\\KelvoScript\\shell\\open\\command",
                               L"\\KelvoScript\\DefaultIcon"})
        expected.insert(L"+ value " + classes + key + L" []");
    // A fresh Wine prefix has no HKCU\Software\Classes (Windows always has
    // one); the writes create it as they create every missing key.
    std::set<std::wstring> residue = {L"+ " + path_value};
    if (!before.count(L"key " + classes)) {
        expected.insert(L"+ key " + classes);
        residue.insert(L"+ key " + classes);
    }
    EXPECT_EQ(show(diff(before, installed)), show(expected));

    ASSERT_EQ(run(setup_exe(), L"--uninstall").code, 0u);
    snapshot removed = take();
    // The Path value the install created keeps what it held before our entry:
    // the platform's default per-user Path. The announcement of the Path
    // change leaves nothing behind under Wine: no noise needs allowing.
    EXPECT_EQ(show(diff(before, removed)), show(residue));
    std::wstring def = L"%USERPROFILE%\\AppData\\Local\\Microsoft\\WindowsApps";
    EXPECT_EQ(removed[path_value],
              describe(REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(def.c_str()),
                       (DWORD)((def.size() + 1) * sizeof(wchar_t))));
}
