// Scan of the release list reply (raw bytes, not parsed as JSON).
//
// The reply of the list-releases request is searched for fixed keys: each
// "tag_name" starts a release; inside a window after the tag, the first asset
// name beginning with "kelvo" and the first download address after it give
// that release's interpreter, and a SHA-256 digest published between the two
// (the service sends an asset's fields in that order) is that file's digest.
// The scan only reports byte ranges; turning them into wide text is the
// caller's business.
#pragma once
#include <cstddef>

const size_t RELEASE_REPLY_MAX = 1048576;  // largest reply taken, in bytes (1 MiB)
const int RELEASE_MAX = 16;                // entries of the release table
const size_t RELEASE_TAG_MAX = 63;         // longest tag, in bytes
const size_t RELEASE_URL_MAX = 699;        // longest download address, in bytes
const size_t RELEASE_WINDOW = 6000;        // how far after a tag its asset is looked for
const size_t RELEASE_DIGEST_LEN = 64;      // hex digits of a SHA-256 digest

// Offset and length of a piece of the reply.
struct byte_range {
    size_t start;
    size_t len;
};

struct release_hit {
    byte_range tag;
    byte_range url;
    byte_range digest;  // the 64 hex digits as published (either case); {0, 0} when none
};

// 1 when a reply of this many bytes is scanned at all (1 byte to 1 MiB).
int release_reply_size_ok(long long size);

// Scans data[0..size) and stores one hit per release that has an interpreter
// asset, in reply order, at most RELEASE_MAX of them; returns how many. The
// scan ends at the first zero byte as if the reply stopped there. Time is
// linear in size.
//
// The digest is the first "digest":"sha256: key lying between the end of the
// asset-name key the hit used and the start of its address key, when exactly
// 64 hex digits and a closing quote follow it; anything else there (null, a
// wrong length, another algorithm) leaves the hit without a digest. A digest
// never decides whether a release gives a hit.
//
// With https_only non-zero, a release whose address begins with "http://" (in
// any case) gives no hit, as if it had no interpreter asset: a host reached
// over https is not to hand out downgraded addresses.
int release_scan(const unsigned char* data, size_t size, release_hit hits[RELEASE_MAX], int https_only);
