// The release list scan on hand-made replies, on a genuine saved reply, and
// against a slow literal reading of the same rules on generated replies.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ostream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "release_scan.h"
#include "release_scan_reference.h"

namespace {

using table = std::vector<std::pair<std::string, std::string>>;

struct entry {
    std::string tag, url, digest;
    bool operator==(const entry& o) const { return tag == o.tag && url == o.url && digest == o.digest; }
};
std::ostream& operator<<(std::ostream& out, const entry& e) {
    return out << "{" << e.tag << ", " << e.url << ", " << (e.digest.empty() ? "-" : e.digest) << "}";
}

// Scans an exact-size heap copy, so a read past the reply's end is an ASan error.
std::vector<entry> scan_entries(const std::string& reply, int https_only) {
    std::vector<unsigned char> bytes(reply.begin(), reply.end());
    release_hit hits[RELEASE_MAX + 1];
    const byte_range bad = {size_t(-1), size_t(-1)};
    const release_hit poison = {bad, bad, bad};
    for (auto& h : hits) h = poison;
    int n = release_scan(bytes.empty() ? nullptr : bytes.data(), bytes.size(), hits, https_only);
    EXPECT_TRUE(n >= 0 && n <= RELEASE_MAX) << n;
    EXPECT_EQ(hits[RELEASE_MAX].tag.start, size_t(-1)) << "wrote past the table";
    std::vector<entry> t;
    for (int i = 0; i < n && i <= RELEASE_MAX; ++i) {
        const byte_range& d = hits[i].digest;
        if (hits[i].tag.start + hits[i].tag.len > reply.size() ||
            hits[i].url.start + hits[i].url.len > reply.size() || d.start + d.len > reply.size() ||
            (d.len == 0 && d.start != 0)) {
            ADD_FAILURE() << "range out of the reply";
            break;
        }
        t.push_back({reply.substr(hits[i].tag.start, hits[i].tag.len), reply.substr(hits[i].url.start, hits[i].url.len),
                     reply.substr(d.start, d.len)});
    }
    return t;
}

table scan(const std::string& reply, int https_only = 0) {
    table t;
    for (const auto& e : scan_entries(reply, https_only)) t.emplace_back(e.tag, e.url);
    return t;
}

std::string asset(const std::string& name, const std::string& url) {
    return "{\"url\":\"https://api/x\",\"name\":\"" + name + "\",\"label\":\"\",\"browser_download_url\":\"" +
           url + "\"}";
}
// A release whose own name is its tag (so it never matches the asset key).
std::string release(const std::string& tag, const std::string& assets) {
    return "{\"tag_name\":\"" + tag + "\",\"target_commitish\":\"main\",\"name\":\"" + tag +
           "\",\"assets\":[" + assets + "]},";
}
std::string kelvo(const std::string& tag) { return release(tag, asset("kelvo.exe", "u" + tag)); }

const std::string TAG = "\"tag_name\":\"";
const std::string NAME = "\"name\":\"kelvo";
const std::string URL = "\"browser_download_url\":\"";
const std::string DIGEST = "\"digest\":\"sha256:";
const std::string HEX64 = "9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08";

// A reply whose single release has its tag's closing quote at offset 15; the
// asset name key starts `name_at` bytes after that quote, the address key
// `url_at` bytes after it, and a second tag `next_at` bytes after it (0: none).
std::string placed(size_t name_at, size_t url_at, size_t next_at = 0) {
    std::vector<std::pair<size_t, std::string>> items = {{name_at, NAME}, {url_at, URL + "addr\"}"}};
    if (next_at) items.push_back({next_at, TAG + "2.0\","});
    std::sort(items.begin(), items.end());
    std::string r = TAG + "1.0\"";
    const size_t tag_end = r.size() - 1;
    for (const auto& item : items) {
        r.append(tag_end + item.first - r.size(), 'x');
        r += item.second;
    }
    return r;
}

struct scan_case {
    const char* what;
    std::string reply;
    table want;
};

void check(const std::vector<scan_case>& cases) {
    for (const auto& c : cases) EXPECT_EQ(scan(c.reply), c.want) << c.what;
}

TEST(ReleaseScan, PicksEachReleasesInterpreterAsset) {
    check({
        {"middle release without asset or kelvo name is skipped without a gap",
         "[" + kelvo("3.0") + release("2.0", "") + kelvo("1.0") + "]",
         {{"3.0", "u3.0"}, {"1.0", "u1.0"}}},
        {"release's own name starting with kelvo takes the first address after it",
         "[{\"tag_name\":\"4.1\",\"name\":\"kelvo 4.1\",\"assets\":[" + asset("notes.txt", "first") + "," +
             asset("kelvo.exe", "second") + "]}]",
         {{"4.1", "first"}}},
        {"capitalised editor asset does not match, the interpreter after it does",
         "[" + release("5.0", asset("KelvoIDE.exe", "ide") + "," + asset("kelvo.exe", "k")) +
             release("5.1", asset("KelvoIDE.exe", "ide")) + "]",
         {{"5.0", "k"}}},
        {"an address before the name key does not count; the next one after it does",
         "[{\"tag_name\":\"6.0\",\"assets\":[{\"browser_download_url\":\"before\",\"name\":\"kelvo.exe\"}," +
             asset("other.zip", "after") + "]}]",
         {{"6.0", "after"}}},
        {"name key with no address after it in the window",
         "[{\"tag_name\":\"6.1\",\"assets\":[{\"browser_download_url\":\"x\",\"name\":\"kelvo.exe\"}]}]", {}},
        {"name in one release and address in the next do not pair",
         "[{\"tag_name\":\"2.0\",\"assets\":[{\"name\":\"kelvo.exe\"}]},{\"tag_name\":\"1.0\",\"assets\":[{" +
             URL + "u\"}]}]",
         {}},
        {"escapes are copied raw; an escaped quote ends the tag",
         "[" + release("v1\\u00e9", asset("kelvo.exe", "https:\\/\\/h\\/k.exe")) +
             "{\"tag_name\":\"a\\\"b\",\"assets\":[" + asset("kelvo.exe", "q") + "]}]",
         {{"v1\\u00e9", "https:\\/\\/h\\/k.exe"}, {"a\\", "q"}}},
        {"empty tag and empty address are skipped, later releases still taken",
         "[" + release("", asset("kelvo.exe", "e")) + release("7.0", asset("kelvo.exe", "")) + kelvo("7.1") +
             "]",
         {{"7.1", "u7.1"}}},
        {"address whose closing quote lies inside the next tag key",
         "[{\"tag_name\":\"1.0\",\"assets\":[{\"name\":\"kelvo.exe\"," + URL.substr(0, URL.size() - 1) + TAG +
             "2.0\",\"assets\":[" + asset("kelvo.exe", "u2") + "]}]",
         {{"1.0", "tag_name"}, {"2.0", "u2"}}},
        {"invalid UTF-8 passes through as bytes",
         "[" + release("\xff\xc3(", asset("kelvo.exe", "h\x80\xfe")) + "]", {{"\xff\xc3(", "h\x80\xfe"}}},
        {"unterminated tag ends the scan", "[" + kelvo("1.0") + "{\"tag_name\":\"2.0,\"x\":[]}", {{"1.0", "u1.0"}}},
        {"tag key at the very end", "[" + kelvo("1.0") + TAG, {{"1.0", "u1.0"}}},
        {"unclosed address yields nothing",
         "[" + kelvo("1.0") + "{\"tag_name\":\"2.0\",\"name\":\"kelvo\"," + URL + "http://never-closed",
         {{"1.0", "u1.0"}}},
        {"spaced keys are not the compact keys",
         "[{\"tag_name\": \"1.0\",\"assets\":[{\"name\": \"kelvo.exe\",\"browser_download_url\": \"u\"}]}]", {}},
        {"no releases", "[]", {}},
        {"empty reply", "", {}},
        {"zero byte between releases ends the reply", "[" + kelvo("1.0") + std::string(1, '\0') + kelvo("2.0"),
         {{"1.0", "u1.0"}}},
        {"zero byte inside the address leaves it unclosed",
         "[" + release("1.0", asset("kelvo.exe", std::string("ab\0c", 4))) + kelvo("2.0"), {}},
        {"zero byte inside the window hides the keys after it",
         "[{\"tag_name\":\"1.0\",\"x\":\"" + std::string(1, '\0') + "\"," + asset("kelvo.exe", "u") + "}]", {}},
        {"zero byte inside a later key",
         "[" + kelvo("1.0") + "{\"tag_name\":\"2.0\",\"assets\":[{\"name\":\"kelvo.exe\",\"browser_down" +
             std::string(1, '\0') + "load_url\":\"u2\"}]}]",
         {{"1.0", "u1.0"}}},
    });
}

TEST(ReleaseScan, WindowAndLengthLimits) {
    const std::string tag63(63, 't'), tag64(64, 't');
    const std::string url699(699, 'a'), url700(700, 'a');
    check({
        {"address key 5,999 bytes after the tag end", placed(100, 5999), {{"1.0", "addr"}}},
        {"address key 6,000 bytes after the tag end", placed(100, 6000), {}},
        {"name key 5,986 and address 5,999 bytes after", placed(5986, 5999), {{"1.0", "addr"}}},
        {"name key 5,987 leaves no room for the address", placed(5987, 6000), {}},
        {"name key 6,000 bytes after the tag end", placed(6000, 6100), {}},
        {"a further tag before the address closes the window", placed(100, 5999, 3000), {}},
        {"a further tag after the address does not matter", placed(100, 2000, 5000), {{"1.0", "addr"}}},
        {"tag of 63 bytes is taken whole", "[" + kelvo(tag63) + "]", {{tag63, "u" + tag63}}},
        {"tag of 64 bytes is skipped; the next release is not", "[" + kelvo(tag64) + kelvo("2.0") + "]",
         {{"2.0", "u2.0"}}},
        {"one-byte tag and address", "[" + release("1", asset("kelvo", "a")) + "]", {{"1", "a"}}},
        {"address of 699 bytes", "[" + release("1.0", asset("kelvo.exe", url699)) + "]", {{"1.0", url699}}},
        {"address of 700 bytes is skipped; the next release is not",
         "[" + release("1.0", asset("kelvo.exe", url700)) + kelvo("2.0") + "]", {{"2.0", "u2.0"}}},
    });
}

TEST(ReleaseScan, EntryCapAndReplySize) {
    std::string twenty = "[", mixed = "[";
    table first16, mixed16;
    for (int i = 0; i < 20; ++i) {
        std::string tag = std::to_string(i) + ".0";
        twenty += kelvo(tag);
        if (i < 16) first16.push_back({tag, "u" + tag});
    }
    for (int i = 0; i < 21; ++i) {
        std::string tag = "r" + std::to_string(i);
        bool with_asset = i % 4 != 1;
        mixed += with_asset ? kelvo(tag) : release(tag, asset("KelvoIDE.exe", "x"));
        if (with_asset && mixed16.size() < 16) mixed16.push_back({tag, "u" + tag});
    }
    std::string mib = kelvo("1.0");
    mib.resize(RELEASE_REPLY_MAX, ' ');
    check({
        {"twenty qualifying releases give the first sixteen", twenty + "]", first16},
        {"sixteen entries counted past skipped releases", mixed + "]", mixed16},
        {"a reply of exactly 1 MiB is scanned", mib, {{"1.0", "u1.0"}}},
        {"a reply of 1 MiB and one byte is not", mib + " ", {}},
    });
    const std::pair<long long, int> sizes[] = {{-1, 0}, {0, 0}, {1, 1}, {1048576, 1}, {1048577, 0}, {1LL << 40, 0}};
    for (const auto& s : sizes) EXPECT_EQ(release_reply_size_ok(s.first), s.second) << s.first;
}

// An asset with its fields in the order the service sends them: the name,
// then the digest field (when given), then the address.
std::string asset_d(const std::string& name, const std::string& digest_field, const std::string& url) {
    return "{\"url\":\"https://api/x\",\"name\":\"" + name + "\",\"label\":\"\",\"size\":5000," + digest_field +
           ",\"browser_download_url\":\"" + url + "\"}";
}
std::string sha(const std::string& hex) { return DIGEST + hex + "\""; }

struct entry_case {
    const char* what;
    std::string reply;
    int https_only;
    std::vector<entry> want;
};

void check_entries(const std::vector<entry_case>& cases) {
    for (const auto& c : cases) EXPECT_EQ(scan_entries(c.reply, c.https_only), c.want) << c.what;
}

TEST(ReleaseScan, TakesThePublishedDigestOfTheChosenAsset) {
    std::string upper = HEX64, mixed = HEX64, non_hex = HEX64;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (size_t i = 0; i < mixed.size(); i += 2) mixed[i] = upper[i];
    non_hex[30] = 'g';
    std::string non_hex_upper = upper;
    non_hex_upper[63] = 'G';
    const std::string hex_b(64, 'b');
    auto one = [](const std::string& digest_field) {
        return "[" + release("1.0", asset_d("kelvo.exe", digest_field, "u")) + "]";
    };
    check_entries({
        {"64 lower-case digits", one(sha(HEX64)), 0, {{"1.0", "u", HEX64}}},
        {"upper case taken as published", one(sha(upper)), 0, {{"1.0", "u", upper}}},
        {"mixed case taken as published", one(sha(mixed)), 0, {{"1.0", "u", mixed}}},
        {"older upload: digest null", one("\"digest\":null"), 0, {{"1.0", "u", ""}}},
        {"no digest field", "[" + kelvo("1.0") + "]", 0, {{"1.0", "u1.0", ""}}},
        {"63 digits", one(sha(HEX64.substr(1))), 0, {{"1.0", "u", ""}}},
        {"65 digits", one(sha(HEX64 + "0")), 0, {{"1.0", "u", ""}}},
        {"a non-hex digit", one(sha(non_hex)), 0, {{"1.0", "u", ""}}},
        {"an upper-case non-hex digit", one(sha(non_hex_upper)), 0, {{"1.0", "u", ""}}},
        {"an escaped quote after the digits", one(DIGEST + HEX64 + "\\\""), 0, {{"1.0", "u", ""}}},
        {"another algorithm", one("\"digest\":\"sha512:" + HEX64 + HEX64 + "\""), 0, {{"1.0", "u", ""}}},
        {"spaced key is not the compact key", one("\"digest\": \"sha256:" + HEX64 + "\""), 0, {{"1.0", "u", ""}}},
        {"only the first digest key counts", one(DIGEST + "abc\"," + sha(HEX64)), 0, {{"1.0", "u", ""}}},
        {"digest after the address key",
         "[" + release("1.0", "{\"name\":\"kelvo.exe\"," + URL + "u\"," + sha(HEX64) + "}") + "]", 0,
         {{"1.0", "u", ""}}},
        {"digest of the editor asset before the interpreter's name",
         "[" + release("3.0", asset_d("KelvoIDE.exe", sha(HEX64), "ide") + "," + asset("kelvo.exe", "k")) + "]", 0,
         {{"3.0", "k", ""}}},
        {"digest of a later asset",
         "[" + release("3.1", asset("kelvo.exe", "k") + "," + asset_d("kelvo-src.zip", sha(HEX64), "src")) + "]", 0,
         {{"3.1", "k", ""}}},
        {"release named kelvo: the first asset's digest goes with its address",
         "[{\"tag_name\":\"4.1\",\"name\":\"kelvo 4.1\",\"assets\":[" + asset_d("notes.txt", sha(HEX64), "first") +
             "]}]",
         0, {{"4.1", "first", HEX64}}},
        {"each release its own digest; a skipped release's digest goes nowhere",
         "[" + release("3.0", asset_d("kelvo.exe", sha(HEX64), "u3")) +
             release("2.0", "{\"name\":\"notes\"," + sha(hex_b) + "}") + release("1.0", asset("kelvo.exe", "u1")) +
             release("0.9", asset_d("kelvo.exe", sha(hex_b), "u09")) + "]",
         0, {{"3.0", "u3", HEX64}, {"1.0", "u1", ""}, {"0.9", "u09", hex_b}}},
        {"digest key cut at the end of the reply",
         "[" + release("1.0", asset_d("kelvo.exe", sha(HEX64), "u")) +
             "{\"tag_name\":\"2.0\",\"assets\":[{\"name\":\"kelvo.exe\",\"digest\":\"sha2",
         0, {{"1.0", "u", HEX64}}},
        {"digits cut at the end of the reply",
         "[" + release("1.0", asset_d("kelvo.exe", sha(HEX64), "u")) +
             "{\"tag_name\":\"2.0\",\"assets\":[{\"name\":\"kelvo.exe\"," + DIGEST + HEX64.substr(0, 40),
         0, {{"1.0", "u", HEX64}}},
        {"zero byte inside the digits ends the reply before the address",
         "[" + kelvo("1.0") + release("2.0", asset_d("kelvo.exe", sha(HEX64.substr(0, 10) + '\0' + HEX64.substr(11)), "u")),
         0, {{"1.0", "u1.0", ""}}},
    });
}

TEST(ReleaseScan, HttpsOnlyDropsPlainHttpAddresses) {
    auto with = [](const std::string& tag, const std::string& url) { return release(tag, asset("kelvo.exe", url)); };
    const std::string mixed = "[" + with("6.0", "https://h/6") + with("5.0", "http://h/5") + with("4.0", "HTTP://h/4") +
                              with("3.0", "hTtP://h/3") + with("2.5", "HTTPS://h/25") + with("2.0", "http:/h/2") +
                              with("1.5", "http://") + with("1.0", "ftp://h/1") + with("0.9", " http://h/09") + "]";
    std::vector<entry> kept = {{"6.0", "https://h/6", ""}, {"2.5", "HTTPS://h/25", ""}, {"2.0", "http:/h/2", ""},
                               {"1.0", "ftp://h/1", ""},   {"0.9", " http://h/09", ""}};
    std::vector<entry> all = {{"6.0", "https://h/6", ""}, {"5.0", "http://h/5", ""},     {"4.0", "HTTP://h/4", ""},
                              {"3.0", "hTtP://h/3", ""},  {"2.5", "HTTPS://h/25", ""}, {"2.0", "http:/h/2", ""},
                              {"1.5", "http://", ""},     {"1.0", "ftp://h/1", ""},     {"0.9", " http://h/09", ""}};
    std::string alternating = "[";
    std::vector<entry> first16_https, first16_any;
    for (int i = 0; i < 40; ++i) {
        const std::string tag = "r" + std::to_string(i), url = (i % 2 ? "https://h/" : "http://h/") + tag;
        alternating += with(tag, url);
        if (i % 2 && first16_https.size() < 16) first16_https.push_back({tag, url, ""});
        if (first16_any.size() < 16) first16_any.push_back({tag, url, ""});
    }
    check_entries({
        {"plain http in any case dropped without a gap", mixed, 1, kept},
        {"nothing dropped without https_only", mixed, 0, all},
        {"sixteen entries counted past dropped releases", alternating + "]", 1, first16_https},
        {"sixteen entries of either kind without https_only", alternating + "]", 0, first16_any},
        {"a dropped release's digest does not reach the next",
         "[" + release("5.0", asset_d("kelvo.exe", sha(HEX64), "http://h/5")) + with("4.0", "https://h/4") + "]", 1,
         {{"4.0", "https://h/4", ""}}},
    });
}

TEST(ReleaseScan, GenuineSavedReply) {
    std::string reply;
    FILE* f = std::fopen(KELVO_TEST_DATA "/releases-compact.json", "rb");
    ASSERT_NE(f, nullptr);
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) reply.append(buf, n);
    std::fclose(f);
    ASSERT_EQ(reply.size(), 18899u);
    // Read off the file: 2.9.2 has no asset named kelvo-*, 2.3.1 no assets at
    // all; each other release gives its first renamed asset's address.
    const std::string base = "https://github.com/github/licensed/releases/download/";
    EXPECT_EQ(scan(reply), (table{
                               {"2.15.2", base + "2.15.2/licensed-2.15.2-darwin-x64.tar.gz"},
                               {"2.3.2", base + "2.3.2/licensed-2.3.2-darwin-x64.tar.gz"},
                               {"2.3.0", base + "2.3.0/licensed-2.3.0-linux-x64.tar.gz"},
                           }));
}

// Replies stitched from the keys, quotes, zero bytes, digests and filler runs
// that reach across the 63/64/699/6,000-byte limits, checked against the slow
// reading with and without https_only.
TEST(ReleaseScan, AgreesWithLiteralReadingOnGeneratedReplies) {
    std::mt19937 rng(20240611);
    const std::string pieces[] = {TAG, NAME, URL, "\"", "\"kelvo", "\"name\":\"Kelvo", "\"tag_name\":",
                                  std::string(1, '\0'), "\xff", TAG + "1.0\"" + NAME + URL + "u\"",
                                  DIGEST, DIGEST + HEX64 + "\",", "http://", "HTTP://h", URL + "http://x\"",
                                  NAME + "\"," + DIGEST + HEX64 + "\",",
                                  TAG + "2.0\"" + NAME + "\"," + DIGEST + HEX64 + "\"," + URL + "HTTP://y\""};
    const size_t runs[] = {1, 5, 63, 64, 65, 699, 700, 2000, 5975, 5999};
    int agreed_with_hits = 0, agreed_with_digests = 0, filtered = 0;
    for (int round = 0; round < 4000; ++round) {
        std::string reply;
        int parts = 1 + static_cast<int>(rng() % 40);
        for (int i = 0; i < parts; ++i) {
            unsigned pick = rng() % 22;
            if (pick < 17) reply += pieces[pick];
            else if (pick < 19) reply.append(runs[rng() % 10] + rng() % 3 - 1, "0aF"[rng() % 3]);
            else reply.append(runs[rng() % 10] + rng() % 3 - 1, static_cast<char>('a' + rng() % 3));
        }
        std::vector<unsigned char> bytes(reply.begin(), reply.end());
        int counts[2] = {0, 0};
        for (int https_only = 0; https_only < 2; ++https_only) {
            release_hit fast[RELEASE_MAX], slow[RELEASE_MAX];
            int nf = release_scan(bytes.data(), bytes.size(), fast, https_only);
            int ns = reference_release_scan(bytes.data(), bytes.size(), slow, https_only);
            ASSERT_EQ(nf, ns) << "round " << round << " https_only " << https_only;
            for (int i = 0; i < nf; ++i) {
                const byte_range* f[] = {&fast[i].tag, &fast[i].url, &fast[i].digest};
                const byte_range* r[] = {&slow[i].tag, &slow[i].url, &slow[i].digest};
                for (int k = 0; k < 3; ++k) {
                    ASSERT_EQ(f[k]->start, r[k]->start) << round << " " << https_only << " " << i << " " << k;
                    ASSERT_EQ(f[k]->len, r[k]->len) << round << " " << https_only << " " << i << " " << k;
                }
                agreed_with_digests += fast[i].digest.len > 0;
            }
            counts[https_only] = nf;
        }
        agreed_with_hits += counts[0] > 0;
        filtered += counts[1] < counts[0];
    }
    // The generator reaches the interesting paths.
    EXPECT_GT(agreed_with_hits, 200);
    EXPECT_GT(agreed_with_digests, 50);
    EXPECT_GT(filtered, 50);
}

}  // namespace
