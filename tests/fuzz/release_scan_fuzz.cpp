// libFuzzer target for the release list scan: every hit must lie inside the
// reply before its first zero byte, within the length limits, framed by its
// keys and closing quotes, in reply order, and the whole result must equal
// that of the slow literal reading.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "release_scan.h"
#include "release_scan_reference.h"

#define CHECK(cond)         \
    do {                    \
        if (!(cond)) abort(); \
    } while (0)

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    release_hit hits[RELEASE_MAX + 1];
    std::memset(hits, 0xA5, sizeof hits);
    const release_hit guard = hits[RELEASE_MAX];
    int n = release_scan(size ? data : nullptr, size, hits);
    CHECK(n >= 0 && n <= RELEASE_MAX);
    CHECK(std::memcmp(&hits[RELEASE_MAX], &guard, sizeof guard) == 0);

    const void* zero = std::memchr(data, 0, size);
    const size_t limit = zero ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - data) : size;
    size_t prev_tag = 0;
    for (int i = 0; i < n; ++i) {
        const byte_range& t = hits[i].tag;
        const byte_range& u = hits[i].url;
        CHECK(t.len >= 1 && t.len <= RELEASE_TAG_MAX);
        CHECK(u.len >= 1 && u.len <= RELEASE_URL_MAX);
        CHECK(t.start >= 12 && t.start + t.len < limit);  // the closing quote is before the zero byte too
        CHECK(u.start >= 24 && u.start + u.len < limit);
        CHECK(std::memcmp(data + t.start - 12, "\"tag_name\":\"", 12) == 0);
        CHECK(std::memcmp(data + u.start - 24, "\"browser_download_url\":\"", 24) == 0);
        CHECK(data[t.start + t.len] == '"' && !std::memchr(data + t.start, '"', t.len));
        CHECK(data[u.start + u.len] == '"' && !std::memchr(data + u.start, '"', u.len));
        CHECK(u.start > t.start + t.len);
        CHECK(u.start - 24 < t.start + t.len + RELEASE_WINDOW);  // the address key begins inside the window
        CHECK(i == 0 || t.start > prev_tag);
        prev_tag = t.start;
    }

    release_hit ref[RELEASE_MAX];
    int m = reference_release_scan(data, size, ref);
    CHECK(m == n);
    for (int i = 0; i < n; ++i) {
        CHECK(ref[i].tag.start == hits[i].tag.start && ref[i].tag.len == hits[i].tag.len);
        CHECK(ref[i].url.start == hits[i].url.start && ref[i].url.len == hits[i].url.len);
    }
    return 0;
}
