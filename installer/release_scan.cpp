// Scan of the release list reply (raw bytes, not parsed as JSON).
#include "release_scan.h"

#include <cstring>

namespace {

const size_t NONE = static_cast<size_t>(-1);

// A key with its Horspool shift table: on a mismatch the search moves on by
// the distance from the byte under the key's last position to that byte's
// last earlier place in the key. The keys are 12 to 24 bytes long, so most
// of a JSON reply is skipped without being compared.
struct key_pattern {
    unsigned char bytes[32];
    size_t len;
    unsigned char shift[256];
};

template <size_t N>
constexpr key_pattern make_key(const char (&text)[N]) {
    key_pattern k{};
    k.len = N - 1;
    for (size_t i = 0; i < k.len; ++i) k.bytes[i] = static_cast<unsigned char>(text[i]);
    for (size_t c = 0; c < 256; ++c) k.shift[c] = static_cast<unsigned char>(k.len);
    for (size_t i = 0; i + 1 < k.len; ++i) k.shift[k.bytes[i]] = static_cast<unsigned char>(k.len - 1 - i);
    return k;
}

constexpr key_pattern TAG_KEY = make_key("\"tag_name\":\"");
constexpr key_pattern NAME_KEY = make_key("\"name\":\"kelvo");
constexpr key_pattern URL_KEY = make_key("\"browser_download_url\":\"");
constexpr key_pattern DIGEST_KEY = make_key("\"digest\":\"sha256:");

// First place p >= from where the key lies wholly inside [from, to).
size_t find_key(const unsigned char* s, size_t from, size_t to, const key_pattern& k) {
    if (to < from || to - from < k.len) return NONE;
    const size_t last = k.len - 1;
    const unsigned char tail = k.bytes[last];
    const size_t stop = to - k.len;
    size_t p = from;
    while (p <= stop) {
        unsigned char c = s[p + last];
        if (c == tail && s[p] == k.bytes[0] && std::memcmp(s + p + 1, k.bytes + 1, last - 1) == 0)
            return p;
        p += k.shift[c];
    }
    return NONE;
}

size_t find_quote(const unsigned char* s, size_t from, size_t to) {
    if (to <= from) return NONE;
    const void* q = std::memchr(s + from, '"', to - from);
    return q ? static_cast<size_t>(static_cast<const unsigned char*>(q) - s) : NONE;
}

size_t min_size(size_t a, size_t b) { return a < b ? a : b; }

int is_hex(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// The digits of the first digest key wholly inside [from, to), when exactly
// 64 hex digits and a quote follow it before limit; else {0, 0}. The span
// lies inside one release's window, already searched once for the address,
// so the scan stays linear.
byte_range find_digest(const unsigned char* s, size_t from, size_t to, size_t limit) {
    const byte_range none = {0, 0};
    const size_t key = find_key(s, from, to, DIGEST_KEY);
    if (key == NONE) return none;
    const size_t start = key + DIGEST_KEY.len;
    if (limit - start <= RELEASE_DIGEST_LEN) return none;
    for (size_t i = 0; i < RELEASE_DIGEST_LEN; ++i)
        if (!is_hex(s[start + i])) return none;
    if (s[start + RELEASE_DIGEST_LEN] != '"') return none;
    const byte_range digest = {start, RELEASE_DIGEST_LEN};
    return digest;
}

// "http://" in any case: the scheme and host are case-insensitive.
int plain_http(const unsigned char* s, size_t len) {
    static const char scheme[] = "http://";
    if (len < sizeof scheme - 1) return 0;
    for (size_t i = 0; i + 1 < sizeof scheme; ++i) {
        unsigned char c = s[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c - 'A' + 'a');
        if (c != static_cast<unsigned char>(scheme[i])) return 0;
    }
    return 1;
}

}  // namespace

int release_reply_size_ok(long long size) {
    return size >= 1 && size <= static_cast<long long>(RELEASE_REPLY_MAX) ? 1 : 0;
}

int release_scan(const unsigned char* data, size_t size, release_hit hits[RELEASE_MAX], int https_only) {
    if (!data || size > RELEASE_REPLY_MAX) return 0;
    // Every search stops at the first zero byte, as a zero-terminated
    // string would; finding it once bounds them all.
    const void* zero = std::memchr(data, 0, size);
    const size_t limit = zero ? static_cast<size_t>(static_cast<const unsigned char*>(zero) - data) : size;

    int count = 0;
    size_t tag = find_key(data, 0, limit, TAG_KEY);
    while (tag != NONE && count < RELEASE_MAX) {
        const size_t tag_start = tag + TAG_KEY.len;
        const size_t tag_end = find_quote(data, tag_start, limit);
        if (tag_end == NONE) break;
        // The next tag found here is the one the next round starts from, so no
        // stretch of the reply is searched for tags twice.
        const size_t next = find_key(data, tag_end, limit, TAG_KEY);
        size_t window_end = next != NONE ? next : limit;
        if (window_end - tag_end > RELEASE_WINDOW) window_end = tag_end + RELEASE_WINDOW;

        const size_t tag_len = tag_end - tag_start;
        if (tag_len >= 1 && tag_len <= RELEASE_TAG_MAX) {
            // A key counts when it begins inside the window, even if it runs past its end.
            const size_t name =
                find_key(data, tag_end, min_size(window_end + NAME_KEY.len - 1, limit), NAME_KEY);
            const size_t url =
                name == NONE ? NONE
                             : find_key(data, name + NAME_KEY.len,
                                        min_size(window_end + URL_KEY.len - 1, limit), URL_KEY);
            if (url != NONE) {
                // The address may run past the window and the next tag; only
                // its length bounds the search for its closing quote.
                const size_t url_start = url + URL_KEY.len;
                const size_t url_end =
                    find_quote(data, url_start, min_size(url_start + RELEASE_URL_MAX + 1, limit));
                if (url_end != NONE && url_end > url_start &&
                    !(https_only && plain_http(data + url_start, url_end - url_start))) {
                    hits[count].tag.start = tag_start;
                    hits[count].tag.len = tag_len;
                    hits[count].url.start = url_start;
                    hits[count].url.len = url_end - url_start;
                    hits[count].digest = find_digest(data, name + NAME_KEY.len, url, limit);
                    ++count;
                }
            }
        }
        tag = next;
    }
    return count;
}
