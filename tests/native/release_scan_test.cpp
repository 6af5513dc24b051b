// The release list scan on hand-made replies, on a genuine saved reply, and
// against a slow literal reading of the same rules on generated replies.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "release_scan.h"
#include "release_scan_reference.h"

namespace {

using table = std::vector<std::pair<std::string, std::string>>;

// Scans an exact-size heap copy, so a read past the reply's end is an ASan error.
table scan(const std::string& reply) {
    std::vector<unsigned char> bytes(reply.begin(), reply.end());
    release_hit hits[RELEASE_MAX + 1];
    const release_hit poison = {{size_t(-1), size_t(-1)}, {size_t(-1), size_t(-1)}};
    for (auto& h : hits) h = poison;
    int n = release_scan(bytes.empty() ? nullptr : bytes.data(), bytes.size(), hits);
    EXPECT_TRUE(n >= 0 && n <= RELEASE_MAX) << n;
    EXPECT_EQ(hits[RELEASE_MAX].tag.start, size_t(-1)) << "wrote past the table";
    table t;
    for (int i = 0; i < n && i <= RELEASE_MAX; ++i) {
        if (hits[i].tag.start + hits[i].tag.len > reply.size() ||
            hits[i].url.start + hits[i].url.len > reply.size()) {
            ADD_FAILURE() << "range out of the reply";
            break;
        }
        t.emplace_back(reply.substr(hits[i].tag.start, hits[i].tag.len),
                       reply.substr(hits[i].url.start, hits[i].url.len));
    }
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

// Replies stitched from the keys, quotes, zero bytes and filler runs that
// reach across the 63/699/6,000-byte limits, checked against the slow reading.
TEST(ReleaseScan, AgreesWithLiteralReadingOnGeneratedReplies) {
    std::mt19937 rng(20240611);
    const std::string pieces[] = {TAG, NAME, URL, "\"", "\"kelvo", "\"name\":\"Kelvo", "\"tag_name\":",
                                  std::string(1, '\0'), "\xff", TAG + "1.0\"" + NAME + URL + "u\""};
    const size_t runs[] = {1, 5, 63, 64, 699, 700, 2000, 5975, 5999};
    int agreed_with_hits = 0;
    for (int round = 0; round < 4000; ++round) {
        std::string reply;
        int parts = 1 + static_cast<int>(rng() % 40);
        for (int i = 0; i < parts; ++i) {
            unsigned pick = rng() % 14;
            if (pick < 10) reply += pieces[pick];
            else reply.append(runs[rng() % 9] + rng() % 3 - 1, static_cast<char>('a' + rng() % 3));
        }
        std::vector<unsigned char> bytes(reply.begin(), reply.end());
        release_hit fast[RELEASE_MAX], slow[RELEASE_MAX];
        int nf = release_scan(bytes.data(), bytes.size(), fast);
        int ns = reference_release_scan(bytes.data(), bytes.size(), slow);
        ASSERT_EQ(nf, ns) << "round " << round;
        for (int i = 0; i < nf; ++i) {
            ASSERT_EQ(fast[i].tag.start, slow[i].tag.start) << round;
            ASSERT_EQ(fast[i].tag.len, slow[i].tag.len) << round;
            ASSERT_EQ(fast[i].url.start, slow[i].url.start) << round;
            ASSERT_EQ(fast[i].url.len, slow[i].url.len) << round;
        }
        agreed_with_hits += nf > 0;
    }
    EXPECT_GT(agreed_with_hits, 200);  // the generator reaches the interesting paths
}

}  // namespace
