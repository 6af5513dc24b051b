// Install engine: places the programs, registers the script type, edits the
// user's Path, and takes all of it away again.
#include "kelvo.h"
#include "path_edit.h"
#include "text_util.h"
#include "exe_check.h"
#include "http_client.h"
#include "kelvo_config.h"
#include "payload_data.h"
#include "sha256.h"

namespace {

struct handle_guard {
    HANDLE h;
    ~handle_guard() {
        if (h != INVALID_HANDLE_VALUE && h != NULL) CloseHandle(h);
    }
};

struct heap_block {
    wchar_t* p;
    explicit heap_block(size_t chars)
        : p(static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, chars * sizeof(wchar_t)))) {}
    ~heap_block() {
        if (p) HeapFree(GetProcessHeap(), 0, p);
    }
};

const size_t PATH_BUF_CHARS = 32767;
// An interpreter download gives up after 15 s without a byte, or 120 s in all.
const http_deadline DOWNLOAD_DEADLINE = {15000, 120000};

// Forms "%s\name" from APP_DIR; 0 when it would need more than 259 characters.
int program_path(wchar_t* out, const wchar_t* name) {
    return wcopy(out, 260, APP_DIR) && wappend(out, 260, L"\\") && wappend(out, 260, name);
}

// The names the programs are installed under, then the names a program still
// running during an update was moved aside to.
const wchar_t* const PROGRAM_NAMES[4] = {L"kelvo.exe", L"KelvoIDE.exe", L"kelvo.exe.old",
                                         L"KelvoIDE.exe.old"};

// Deletes the named programs that are not running, then reports whether any
// of them is still there (a folder of such a name is not a program).
int remove_programs(int first, int last) {
    int left = 0;
    for (int i = first; i <= last; ++i) {
        wchar_t path[260];
        if (!program_path(path, PROGRAM_NAMES[i])) continue;  // too long to exist
        DWORD attr = GetFileAttributesW(path);
        if (attr == INVALID_FILE_ATTRIBUTES || (attr & FILE_ATTRIBUTE_DIRECTORY)) continue;
        // A read-only program moved aside would otherwise never go.
        if (i >= 2 && (attr & FILE_ATTRIBUTE_READONLY))
            SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path);
        attr = GetFileAttributesW(path);
        if (attr != INVALID_FILE_ATTRIBUTES && !(attr & FILE_ATTRIBUTE_DIRECTORY)) left = 1;
    }
    return left;
}

void announce_environment() {
    SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0,
                        reinterpret_cast<LPARAM>(L"Environment"), SMTO_ABORTIFHUNG, 4000, NULL);
}

enum path_read { PATH_TEXT, PATH_ABSENT, PATH_UNREADABLE };

// Reads HKCU\Environment\Path as stored (references left unexpanded) into
// buf, terminated. A value of another type, or one that does not fit with its
// terminator, is unreadable and must never be rewritten.
path_read read_user_path(wchar_t* buf, size_t* len) {
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Environment", 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return PATH_ABSENT;
    DWORD type = 0;
    DWORD bytes = static_cast<DWORD>(PATH_BUF_CHARS * sizeof(wchar_t));
    LONG rc = RegQueryValueExW(key, L"Path", NULL, &type, reinterpret_cast<BYTE*>(buf), &bytes);
    RegCloseKey(key);
    if (rc == ERROR_FILE_NOT_FOUND) return PATH_ABSENT;
    if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return PATH_UNREADABLE;
    size_t chars = bytes / sizeof(wchar_t);
    size_t n = 0;
    while (n < chars && buf[n]) ++n;
    if (n >= PATH_BUF_CHARS) return PATH_UNREADABLE;  // no room left for the terminator
    buf[n] = 0;
    *len = n;
    return PATH_TEXT;
}

void write_user_path(const wchar_t* text, size_t len) {
    HKEY key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Environment", 0, NULL, 0, KEY_SET_VALUE, NULL, &key,
                        NULL) != ERROR_SUCCESS)
        return;
    RegSetValueExW(key, L"Path", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(text),
                   static_cast<DWORD>((len + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

void set_default_value(const wchar_t* subkey, const wchar_t* text) {
    HKEY key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, subkey, 0, NULL, 0, KEY_SET_VALUE, NULL, &key, NULL) !=
        ERROR_SUCCESS)
        return;
    RegSetValueExW(key, NULL, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                   static_cast<DWORD>((wlen(text) + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

// Reads the whole downloaded file back through the handle it was written
// with: it must be a whole executable and, when a digest was published, have
// exactly that SHA-256.
int verify_download(HANDLE file, const wchar_t* sha256) {
    LARGE_INTEGER size = {}, zero = {};
    if (!GetFileSizeEx(file, &size) || size.QuadPart <= 0 || !SetFilePointerEx(file, zero, NULL, FILE_BEGIN))
        return 0;
    const DWORD head_len = size.QuadPart < static_cast<LONGLONG>(EXE_HEAD_MAX)
                               ? static_cast<DWORD>(size.QuadPart)
                               : static_cast<DWORD>(EXE_HEAD_MAX);
    unsigned char* head = static_cast<unsigned char*>(HeapAlloc(GetProcessHeap(), 0, head_len));
    if (!head) return 0;
    DWORD got = 0;
    int ok = ReadFile(file, head, head_len, &got, NULL) && got == head_len &&
             exe_complete(head, head_len, static_cast<unsigned long long>(size.QuadPart));
    HeapFree(GetProcessHeap(), 0, head);
    if (ok && sha256 && sha256[0]) {
        unsigned char digest[32];
        ok = sha256_file(file, digest) && hex_equals(sha256, digest, 32);
    }
    return ok;
}

}  // namespace

HMODULE load_system_library(const wchar_t* name) {
    return LoadLibraryExW(name, NULL, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

int place_file(const wchar_t* staging, const wchar_t* target) {
    if (MoveFileExW(staging, target, MOVEFILE_REPLACE_EXISTING)) return 1;
    // A running program's file cannot be replaced or deleted, but it can be
    // renamed: move it aside within the directory and the new file can take
    // its name while the program goes on from the old one.
    DWORD err = GetLastError();
    if (err != ERROR_SHARING_VIOLATION && err != ERROR_ACCESS_DENIED) return 0;
    DWORD attr = GetFileAttributesW(target);
    if (attr == INVALID_FILE_ATTRIBUTES || (attr & FILE_ATTRIBUTE_DIRECTORY)) return 0;
    wchar_t aside[260];
    if (!wcopy(aside, 260, target) || !wappend(aside, 260, L".old")) return 0;
    // Replacing fails when the .old is itself still running: the target stays.
    if (!MoveFileExW(target, aside, MOVEFILE_REPLACE_EXISTING)) return 0;
    if (MoveFileExW(staging, target, 0)) return 1;  // the name is free now
    MoveFileExW(aside, target, 0);  // the user keeps the program that was there
    return 0;
}

int write_bytes(const wchar_t* path, const void* data, int count) {
    // Write beside the target and move over it only when every byte landed, so
    // a full disk or a running program never costs the user the old file. The
    // staging name has the target's length: it fits wherever the target fits.
    wchar_t staging[260];
    if (!wcopy(staging, 260, path) || !staging[0]) return 0;
    size_t n = wlen(staging);
    staging[n - 1] = staging[n - 1] == L'~' ? L'_' : L'~';

    int ok = 0;
    {
        handle_guard file{CreateFileW(staging, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, NULL)};
        if (file.h == INVALID_HANDLE_VALUE) return 0;
        DWORD written = 0;
        ok = count >= 0 && WriteFile(file.h, data, static_cast<DWORD>(count), &written, NULL) &&
             written == static_cast<DWORD>(count);
    }
    if (ok) ok = place_file(staging, path);
    if (!ok) DeleteFileW(staging);
    return ok;
}

int download_to(const wchar_t* url, const wchar_t* dest, const wchar_t* sha256) {
    wchar_t staging[260];
    DWORD t = GetTempPathW(260, staging);
    if (t == 0 || t >= 260) return 0;
    if (!wappend(staging, 260, L"kelvo-dl-") ||
        !wappend_ulong(staging, 260, GetCurrentProcessId()) || !wappend(staging, 260, L".exe"))
        return 0;

    // Written and checked through one unshared handle: what was checked is
    // what gets moved.
    int ok = 0;
    {
        handle_guard file{CreateFileW(staging, GENERIC_READ | GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, NULL)};
        if (file.h == INVALID_HANDLE_VALUE) return 0;
        ok = http_get_file(url, file.h, DOWNLOAD_DEADLINE) && verify_download(file.h, sha256);
    }
    if (!ok) {
        DeleteFileW(staging);
        return 0;
    }
    int moved = place_file(staging, dest);
    if (!moved) DeleteFileW(staging);
    SetFileAttributesW(dest, FILE_ATTRIBUTE_NORMAL);
    return moved;
}

int do_install(bool patch, int choice) {
    wchar_t exe[260], ide[260];
    // Refuse a directory whose program paths would not fit before creating anything.
    if (!program_path(exe, L"kelvo.exe") || !program_path(ide, L"KelvoIDE.exe")) return 0;
    if (!CreateDirectoryW(APP_DIR, NULL) && GetLastError() != ERROR_ALREADY_EXISTS) return 0;
    remove_programs(2, 3);  // what earlier updates moved aside, once it has ended

    int placed = 0;
    if (choice <= 0) {
        placed = write_bytes(exe, kelvo_exe_data, static_cast<int>(sizeof kelvo_exe_data));
    } else if (choice == 1) {
        placed = download_to(KELVO_URL_LATEST, exe);
    } else {
        if (choice - 1 > ver_count) return 0;
        const ver_entry& entry = ver_urls[choice - 2];
        if (!entry.url[0]) return 0;
        placed = download_to(entry.url, exe, entry.sha256);
    }
    if (!placed) return 0;

    write_bytes(ide, kelvo_ide_data, static_cast<int>(sizeof kelvo_ide_data));
    if (patch) path_add();

    wchar_t command[300];
    wcopy(command, 300, L"cmd.exe /k \"\"");
    wappend(command, 300, exe);
    wappend(command, 300, L"\" \"%1\"\"");
    set_default_value(L"Software\\Classes\\.kelvo", L"KelvoScript");
    set_default_value(L"Software\\Classes\\.kelvo\\DefaultIcon", exe);
    set_default_value(L"Software\\Classes\\KelvoScript\\shell\\open\\command", command);
    set_default_value(L"Software\\Classes\\KelvoScript\\DefaultIcon", exe);
    return 1;
}

int do_uninstall() {
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Classes\\.kelvo");
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Classes\\KelvoScript");
    path_remove();
    // A running program's file cannot be deleted; it stays where the user
    // knows it, and the caller is told the uninstall is not finished.
    int left = remove_programs(0, 3);
    RemoveDirectoryW(APP_DIR);
    return left ? 0 : 1;
}

void path_add() {
    heap_block buf(PATH_BUF_CHARS);
    if (!buf.p || !APP_DIR[0]) return;
    size_t len = 0;
    path_read got = read_user_path(buf.p, &len);
    if (got == PATH_UNREADABLE) return;
    std::wstring_view text = got == PATH_TEXT ? std::wstring_view(buf.p, len) : PATH_DEFAULT;
    std::wstring_view dir(APP_DIR);
    if (path_has_entry(text, dir, true)) return;

    std::wstring_view kept = path_keep(text);
    size_t new_len = path_join_length(kept, dir);
    heap_block joined(new_len + 1);
    if (!joined.p || !path_join(kept, dir, joined.p, new_len + 1)) return;
    write_user_path(joined.p, new_len);
    announce_environment();
}

void path_remove() {
    {
        heap_block buf(PATH_BUF_CHARS);
        size_t len = 0;
        if (buf.p && APP_DIR[0] && read_user_path(buf.p, &len) == PATH_TEXT) {
            size_t cut = path_cut(buf.p, len, APP_DIR);
            if (cut != len) write_user_path(buf.p, cut);
        }
    }
    announce_environment();
}
