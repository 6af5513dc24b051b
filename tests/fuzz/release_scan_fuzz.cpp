// libFuzzer target for the release list scan, run with and without https_only:
// every hit must lie inside the reply before its first zero byte, within the
// length limits, framed by its keys and closing quotes, in reply order; a
// digest must be 64 hex digits behind its key and before the address key;
// https_only must drop exactly the plain-http addresses; and each whole
// result must equal that of the slow literal reading.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "release_scan.h"
#include "release_scan_reference.h"

#define CHECK(cond)         \
    do {                    \
        if (!(cond)) abort(); \
    } while (0)

namespace {

bool is_hex(uint8_t c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

bool plain_http(const uint8_t* data, const byte_range& u) {
    if (u.len < 7) return false;
    for (size_t i = 0; i < 7; ++i) {
        uint8_t c = data[u.start + i];
        if (c >= 'A' && c <= 'Z') c = static_cast<uint8_t>(c + 32);
        if (c != static_cast<uint8_t>("http://"[i])) return false;
    }
    return true;
}

bool same(const byte_range& a, const byte_range& b) { return a.start == b.start && a.len == b.len; }

bool same(const release_hit& a, const release_hit& b) {
    return same(a.tag, b.tag) && same(a.url, b.url) && same(a.digest, b.digest);
}

int scan_checked(const uint8_t* data, size_t size, int https_only, release_hit* hits) {
    std::memset(hits, 0xA5, sizeof(release_hit) * (RELEASE_MAX + 1));
    const release_hit guard = hits[RELEASE_MAX];
    int n = release_scan(size ? data : nullptr, size, hits, https_only);
    CHECK(n >= 0 && n <= RELEASE_MAX);
    CHECK(std::memcmp(&hits[RELEASE_MAX], &guard, sizeof guard) == 0);

    const void* zero = std::memchr(data, 0, size);
    const size_t limit = zero ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - data) : size;
    size_t prev_tag = 0;
    for (int i = 0; i < n; ++i) {
        const byte_range& t = hits[i].tag;
        const byte_range& u = hits[i].url;
        const byte_range& d = hits[i].digest;
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
        CHECK(!https_only || !plain_http(data, u));
        if (d.len != 0 || d.start != 0) {
            CHECK(d.len == RELEASE_DIGEST_LEN);
            // Key, digits and quote after the tag and no later than the address key's opening quote.
            CHECK(d.start >= t.start + t.len + 17 && d.start + d.len <= u.start - 24);
            CHECK(std::memcmp(data + d.start - 17, "\"digest\":\"sha256:", 17) == 0);
            for (size_t k = 0; k < d.len; ++k) CHECK(is_hex(data[d.start + k]));
            CHECK(data[d.start + d.len] == '"');
        }
        CHECK(i == 0 || t.start > prev_tag);
        prev_tag = t.start;
    }

    release_hit ref[RELEASE_MAX];
    int m = reference_release_scan(data, size, ref, https_only);
    CHECK(m == n);
    for (int i = 0; i < n; ++i) CHECK(same(ref[i], hits[i]));
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    release_hit all[RELEASE_MAX + 1], https[RELEASE_MAX + 1];
    const int n_all = scan_checked(data, size, 0, all);
    const int n_https = scan_checked(data, size, 1, https);
    // Filtering drops the plain-http hits and nothing else; a full table may
    // then take further releases after the last one of the unfiltered scan.
    int k = 0;
    for (int i = 0; i < n_all; ++i) {
        if (plain_http(data, all[i].url)) continue;
        CHECK(k < n_https && same(all[i], https[k]));
        ++k;
    }
    CHECK(k == n_https || n_all == RELEASE_MAX);
    for (int j = k; j < n_https; ++j) CHECK(n_all == 0 || https[j].tag.start > all[n_all - 1].tag.start);
    return 0;
}
