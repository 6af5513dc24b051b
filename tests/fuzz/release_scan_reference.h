// A slow, literal reading of the release list scan, to check the fast one
// against: zero-terminated copy, strstr/strchr/strspn from each cursor, the
// window worked out from the full reply size, every check done as the rules
// word it.
#pragma once
#include <cctype>
#include <cstring>
#include <string>

#include "release_scan.h"

inline int reference_release_scan(const unsigned char* data, size_t size, release_hit* hits, int https_only) {
    if (size > RELEASE_REPLY_MAX) return 0;
    const std::string copy(reinterpret_cast<const char*>(data), size);
    const char* s = copy.c_str();  // terminated after the full size
    const size_t none = std::string::npos;
    auto find = [&](size_t from, const char* key) -> size_t {
        const char* p = std::strstr(s + from, key);
        return p ? static_cast<size_t>(p - s) : none;
    };
    auto quote = [&](size_t from) -> size_t {
        const char* p = std::strchr(s + from, '"');
        return p ? static_cast<size_t>(p - s) : none;
    };
    int count = 0;
    size_t cursor = 0;
    for (;;) {
        size_t tag = find(cursor, "\"tag_name\":\"");
        if (tag == none) break;
        size_t tag_start = tag + 12;
        size_t tag_end = quote(tag_start);
        if (tag_end == none) break;
        size_t next = find(tag_end, "\"tag_name\":\"");
        size_t dist = next != none ? next - tag_end : size - tag_end;
        size_t window_end = tag_end + (dist < 6000 ? dist : 6000);
        size_t name = find(tag_end, "\"name\":\"kelvo");
        size_t url = name != none && name < window_end ? find(name + 1, "\"browser_download_url\":\"") : none;
        if (url != none && url < window_end) {
            size_t url_start = url + 24;
            size_t url_end = quote(url_start);
            size_t tag_len = tag_end - tag_start;
            bool downgraded = false;
            if (https_only && url_end != none && url_end - url_start >= 7) {
                std::string scheme(s + url_start, 7);
                for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
                downgraded = scheme == "http://";
            }
            if (url_end != none && tag_len >= 1 && tag_len <= 63 && url_end - url_start >= 1 &&
                url_end - url_start <= 699 && !downgraded) {
                hits[count].tag = {tag_start, tag_len};
                hits[count].url = {url_start, url_end - url_start};
                hits[count].digest = {0, 0};
                // The first digest key after the name key; it must end before the
                // address key starts and be followed by exactly 64 hex digits and a quote.
                size_t digest = find(name + 13, "\"digest\":\"sha256:");
                if (digest != none && digest + 17 <= url &&
                    std::strspn(s + digest + 17, "0123456789abcdefABCDEF") == 64 && s[digest + 17 + 64] == '"')
                    hits[count].digest = {digest + 17, 64};
                ++count;
            }
        }
        cursor = next != none ? next : tag_end;
        if (count == 16) break;
    }
    return count;
}
