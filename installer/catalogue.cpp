// Release catalogue: the list of recent releases and their interpreter downloads.
#include "kelvo.h"
#include "kelvo_config.h"
#include "release_scan.h"
#include "text_util.h"

namespace {

// UTF-8 bytes into dst with room for cap characters, terminator included.
// Without flags the conversion does not fail on invalid sequences: each
// becomes U+FFFD. UTF-16 never needs more units than UTF-8 has bytes, so
// the length limits of the scan guarantee the room.
void to_wide(const unsigned char* bytes, size_t len, wchar_t* dst, int cap) {
    int n = 0;
    if (len > 0 && len < static_cast<size_t>(cap))
        n = MultiByteToWideChar(CP_UTF8, 0, reinterpret_cast<const char*>(bytes),
                                static_cast<int>(len), dst, cap - 1);
    dst[n > 0 ? n : 0] = 0;
}

}  // namespace

void load_releases() {
    ver_count = 0;
    wchar_t staging[260];
    DWORD t = GetTempPathW(260, staging);
    if (t == 0 || t >= 260 || !wappend(staging, 260, L"kelvo-rel.json")) return;

    if (!url_download_file(KELVO_URL_RELEASES, staging)) {
        DeleteFileW(staging);  // a failed download may still leave a part behind
        return;
    }
    HANDLE file = CreateFileW(staging, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        DeleteFileW(staging);
        return;
    }
    LARGE_INTEGER zero = {}, end = {};
    if (!SetFilePointerEx(file, zero, &end, FILE_END) || !SetFilePointerEx(file, zero, NULL, FILE_BEGIN))
        end.QuadPart = 0;
    unsigned char* reply = NULL;
    if (release_reply_size_ok(end.QuadPart))
        reply = static_cast<unsigned char*>(
            HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, static_cast<SIZE_T>(end.QuadPart) + 1));
    if (!reply) {
        CloseHandle(file);
        DeleteFileW(staging);
        return;
    }
    const size_t size = static_cast<size_t>(end.QuadPart);
    // A short read leaves zero bytes behind the part read, where the scan stops.
    DWORD got = 0;
    ReadFile(file, reply, static_cast<DWORD>(size), &got, NULL);
    reply[size] = 0;
    CloseHandle(file);
    DeleteFileW(staging);

    release_hit hits[RELEASE_MAX];
    int found = release_scan(reply, size, hits, 0);  // TODO lead: https_only from the web host, digests into sha256
    for (int i = 0; i < found; ++i) {
        to_wide(reply + hits[i].tag.start, hits[i].tag.len, ver_urls[i].tag, 64);
        to_wide(reply + hits[i].url.start, hits[i].url.len, ver_urls[i].url, 700);
    }
    ver_count = found;
    HeapFree(GetProcessHeap(), 0, reply);
}
