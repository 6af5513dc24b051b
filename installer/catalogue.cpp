// Release catalogue: the list of recent releases and their interpreter downloads.
#include "kelvo.h"
#include "http_client.h"
#include "kelvo_config.h"
#include "release_scan.h"
#include "text_util.h"

#include <wchar.h>

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


// The list may take 5 s in all, whatever its host does: the version list
// then keeps its two fixed entries.
const http_deadline LIST_DEADLINE = {5000, 5000};
const wchar_t LIST_HEADERS[] =
    L"Accept: application/vnd.github+json\r\nX-GitHub-Api-Version: 2022-11-28\r\n";

}  // namespace

void load_releases() {
    ver_count = 0;
    unsigned char* reply = NULL;
    size_t size = 0;
    // Only a complete status-200 reply is a release list: an error page may
    // carry release keys of its own.
    if (!http_get_memory(KELVO_URL_RELEASES, LIST_HEADERS, RELEASE_REPLY_MAX, LIST_DEADLINE, &reply,
                         &size))
        return;
    // Downloads never go from an https:// host to a plain http:// address.
    const int https_only = wcsncmp(KELVO_URL_LATEST, L"https://", 8) == 0;
    release_hit hits[RELEASE_MAX];
    int found = release_reply_size_ok(static_cast<long long>(size))
                    ? release_scan(reply, size, hits, https_only)
                    : 0;
    for (int i = 0; i < found; ++i) {
        to_wide(reply + hits[i].tag.start, hits[i].tag.len, ver_urls[i].tag, 64);
        to_wide(reply + hits[i].url.start, hits[i].url.len, ver_urls[i].url, 700);
        to_wide(reply + hits[i].digest.start, hits[i].digest.len, ver_urls[i].sha256, 65);
    }
    ver_count = found;
    HeapFree(GetProcessHeap(), 0, reply);
}
