// The built kelvo-setup.exe as a file: a 64-bit GUI program without a link
// timestamp that imports only system libraries, and whose resources declare
// that it never asks for elevation and scales itself per monitor, name the
// product and its version, and hold its icon in eight sizes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "harness.h"

using namespace harness;

namespace {

template <class T>
bool read_at(const std::string& img, size_t at, T* out) {
    if (at > img.size() || img.size() - at < sizeof(T)) return false;
    memcpy(out, img.data() + at, sizeof(T));
    return true;
}

std::wstring version_string(const std::vector<BYTE>& info, const wchar_t* name) {
    struct lang_page {
        WORD lang, page;
    }* langs = nullptr;
    UINT bytes = 0;
    if (!VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&langs), &bytes) ||
        bytes < sizeof *langs)
        return L"(no translation)";
    wchar_t key[96];
    swprintf(key, 96, L"\\StringFileInfo\\%04x%04x\\%ls", langs->lang, langs->page, name);
    wchar_t* value = nullptr;
    UINT chars = 0;
    if (!VerQueryValueW(info.data(), key, reinterpret_cast<void**>(&value), &chars)) return L"(missing)";
    return value;
}

}  // namespace

TEST(Image, HeadersAndImports) {
    const std::string img = payload(L"kelvo-setup.exe");
    ASSERT_GT(img.size(), 1024u);
    IMAGE_DOS_HEADER dos;
    ASSERT_TRUE(read_at(img, 0, &dos));
    EXPECT_EQ(dos.e_magic, IMAGE_DOS_SIGNATURE);
    IMAGE_NT_HEADERS64 nt;
    ASSERT_TRUE(read_at(img, size_t(dos.e_lfanew), &nt));
    EXPECT_EQ(nt.Signature, DWORD(IMAGE_NT_SIGNATURE));
    EXPECT_EQ(nt.FileHeader.Machine, IMAGE_FILE_MACHINE_AMD64);
    EXPECT_EQ(nt.FileHeader.TimeDateStamp, 0u) << "a link timestamp breaks reproducible builds";
    ASSERT_EQ(nt.OptionalHeader.Magic, IMAGE_NT_OPTIONAL_HDR64_MAGIC);
    EXPECT_EQ(nt.OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);

    // Imported libraries, through the section table.
    size_t sections = size_t(dos.e_lfanew) + offsetof(IMAGE_NT_HEADERS64, OptionalHeader) +
                      nt.FileHeader.SizeOfOptionalHeader;
    auto file_offset = [&](DWORD rva, size_t* out) {
        for (WORD i = 0; i < nt.FileHeader.NumberOfSections; ++i) {
            IMAGE_SECTION_HEADER s;
            if (!read_at(img, sections + i * sizeof s, &s)) return false;
            if (rva >= s.VirtualAddress && rva < s.VirtualAddress + s.SizeOfRawData) {
                *out = size_t(rva - s.VirtualAddress) + s.PointerToRawData;
                return true;
            }
        }
        return false;
    };
    const IMAGE_DATA_DIRECTORY& dir = nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    size_t at = 0;
    ASSERT_TRUE(file_offset(dir.VirtualAddress, &at));
    std::vector<std::string> dlls;
    for (IMAGE_IMPORT_DESCRIPTOR d; read_at(img, at, &d) && d.Name; at += sizeof d) {
        size_t name = 0;
        ASSERT_TRUE(file_offset(d.Name, &name));
        std::string n(img.c_str() + name);
        for (char& c : n) c = char(toupper(static_cast<unsigned char>(c)));
        dlls.push_back(n);
    }
    const std::vector<std::string> system = {"ADVAPI32.DLL", "GDI32.DLL",   "KERNEL32.DLL",
                                             "MSVCRT.DLL",   "SHELL32.DLL", "USER32.DLL"};
    EXPECT_FALSE(dlls.empty());
    for (const std::string& d : dlls)
        EXPECT_NE(std::find(system.begin(), system.end(), d), system.end()) << "imports " << d;
    // Loaded at run time only, from the system directory: the download, hashing,
    // COM and frame libraries. An import would be resolved before the program's
    // first statement could restrict where libraries come from.
    for (const char* late : {"URLMON.DLL", "WINHTTP.DLL", "WININET.DLL", "BCRYPT.DLL", "OLE32.DLL",
                             "DWMAPI.DLL", "COMCTL32.DLL", "UXTHEME.DLL"})
        EXPECT_EQ(std::find(dlls.begin(), dlls.end(), late), dlls.end()) << late;
    // Nor delay-loaded: a delay import is a static import resolved later, by plain name.
    const IMAGE_DATA_DIRECTORY& delay = nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT];
    EXPECT_EQ(delay.VirtualAddress, 0u);
    EXPECT_EQ(delay.Size, 0u);
}

TEST(Image, ManifestAndVersionResource) {
    const std::wstring exe = setup_exe();
    HMODULE mod = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_TRUE(mod);
    HRSRC res = FindResourceW(mod, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));  // RT_MANIFEST
    ASSERT_TRUE(res);
    HGLOBAL loaded = LoadResource(mod, res);
    const char* text = static_cast<const char*>(LockResource(loaded));
    ASSERT_TRUE(text);
    std::string manifest(text, SizeofResource(mod, res));
    FreeLibrary(mod);
    EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos);
    EXPECT_NE(manifest.find("uiAccess=\"false\""), std::string::npos);
    EXPECT_NE(manifest.find("{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"), std::string::npos)
        << "Windows 10/11 not declared";
    EXPECT_EQ(manifest.find("Microsoft.Windows.Common-Controls"), std::string::npos)
        << "visual styles are not asked for";
    // Per-monitor awareness, each word in the namespace that defines it.
    for (const char* setting :
         {"<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">true/pm</dpiAware>",
          "<dpiAwareness xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">"
          "PerMonitorV2, PerMonitor</dpiAwareness>",
          "<application xmlns=\"urn:schemas-microsoft-com:asm.v3\">", "<windowsSettings>"})
        EXPECT_NE(manifest.find(setting), std::string::npos) << setting;

    DWORD handle = 0, size = GetFileVersionInfoSizeW(exe.c_str(), &handle);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> info(size);
    ASSERT_TRUE(GetFileVersionInfoW(exe.c_str(), 0, size, info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT bytes = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &bytes));
    EXPECT_EQ(fixed->dwProductVersionMS, 0x0002000Fu);  // 2.15
    EXPECT_EQ(fixed->dwFileVersionMS, 0x0002000Fu);
    EXPECT_EQ(version_string(info, L"ProductName"), L"Kelvo Setup");
    EXPECT_EQ(version_string(info, L"ProductVersion"), L"2.15");
    EXPECT_EQ(version_string(info, L"FileVersion"), L"2.15");
}

// The icon group (id 1, the one Explorer shows) lists the eight sizes, and
// every image it names is there and makes an icon of its size.
TEST(Image, IconGroupHoldsEightSizes) {
    HMODULE mod = LoadLibraryExW(setup_exe().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_TRUE(mod);
    HRSRC group = FindResourceW(mod, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(14));  // RT_GROUP_ICON
    ASSERT_TRUE(group);
    const BYTE* dir = static_cast<const BYTE*>(LockResource(LoadResource(mod, group)));
    const DWORD dir_size = SizeofResource(mod, group);
    ASSERT_TRUE(dir);
    ASSERT_GE(dir_size, 6u);
    WORD count = 0;
    memcpy(&count, dir + 4, 2);
    ASSERT_EQ(dir_size, 6u + 14u * count);  // header, then 14-byte entries
    std::vector<int> sizes;
    for (WORD i = 0; i < count; ++i) {
        const BYTE* e = dir + 6 + 14 * i;
        const int side = e[0] ? e[0] : 256;
        WORD id = 0;
        memcpy(&id, e + 12, 2);
        sizes.push_back(side);
        HRSRC image = FindResourceW(mod, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(3));  // RT_ICON
        ASSERT_TRUE(image) << side;
        BYTE* bytes = static_cast<BYTE*>(LockResource(LoadResource(mod, image)));
        HICON icon = CreateIconFromResourceEx(bytes, SizeofResource(mod, image), TRUE, 0x00030000,
                                              side, side, 0);
        EXPECT_TRUE(icon) << side << " px does not load";
        if (!icon) continue;
        ICONINFO info = {};
        BITMAP bm = {};
        if (GetIconInfo(icon, &info)) {
            GetObjectW(info.hbmColor, sizeof bm, &bm);
            if (info.hbmColor) DeleteObject(info.hbmColor);
            if (info.hbmMask) DeleteObject(info.hbmMask);
        }
        EXPECT_EQ(bm.bmWidth, side);
        EXPECT_EQ(bm.bmHeight, side);
        DestroyIcon(icon);
    }
    FreeLibrary(mod);
    EXPECT_EQ(sizes, (std::vector<int>{16, 20, 24, 32, 40, 48, 64, 256}));
}
