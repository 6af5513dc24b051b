// Scan of the release list reply (raw bytes, not parsed as JSON).
//
// The reply of the list-releases request is searched for three fixed keys:
// each "tag_name" starts a release; inside a window after the tag, the first
// asset name beginning with "kelvo" and the first download address after it
// give that release's interpreter. The scan only reports byte ranges; turning
// them into wide text is the caller's business.
#pragma once
#include <cstddef>

const size_t RELEASE_REPLY_MAX = 1048576;  // largest reply taken, in bytes (1 MiB)
const int RELEASE_MAX = 16;                // entries of the release table
const size_t RELEASE_TAG_MAX = 63;         // longest tag, in bytes
const size_t RELEASE_URL_MAX = 699;        // longest download address, in bytes
const size_t RELEASE_WINDOW = 6000;        // how far after a tag its asset is looked for

// Offset and length of a piece of the reply.
struct byte_range {
    size_t start;
    size_t len;
};

struct release_hit {
    byte_range tag;
    byte_range url;
};

// 1 when a reply of this many bytes is scanned at all (1 byte to 1 MiB).
int release_reply_size_ok(long long size);

// Scans data[0..size) and stores one hit per release that has an interpreter
// asset, in reply order, at most RELEASE_MAX of them; returns how many. The
// scan ends at the first zero byte as if the reply stopped there. Time is
// linear in size.
int release_scan(const unsigned char* data, size_t size, release_hit hits[RELEASE_MAX]);
