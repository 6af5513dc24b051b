// Throughput of the release list scan (https_only on, as for the real host) on
// a typical reply and on replies made to keep every search busy; the 64 KiB
// and 1 MiB sizes show it stays linear.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "release_scan.h"

namespace {

std::string saved_reply() {
    std::string r;
    if (FILE* f = std::fopen(KELVO_TEST_DATA "/releases-compact.json", "rb")) {
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) r.append(buf, n);
        std::fclose(f);
    }
    return r;
}

// The top-level objects of a JSON array (strings and escapes skipped over).
std::vector<std::string> objects(const std::string& array) {
    std::vector<std::string> out;
    int depth = 0;
    bool in_text = false;
    size_t start = 0;
    for (size_t i = 0; i < array.size(); ++i) {
        char c = array[i];
        if (in_text) {
            if (c == '\\') ++i;
            else if (c == '"') in_text = false;
        } else if (c == '"') {
            in_text = true;
        } else if (c == '{' || c == '[') {
            if (depth++ == 1) start = i;
        } else if (c == '}' || c == ']') {
            if (--depth == 1) out.push_back(array.substr(start, i + 1 - start));
        }
    }
    return out;
}

// Twelve releases as the service lists them: the saved reply's five, again and again.
std::string typical() {
    std::vector<std::string> saved = objects(saved_reply());
    std::string r = "[";
    for (size_t i = 0; i < 12 && !saved.empty(); ++i) r += (i ? "," : "") + saved[i % saved.size()];
    return r + "]";
}

std::string repeat_to(const std::string& head, const std::string& unit, size_t size) {
    std::string r = head;
    while (r.size() < size) r += unit;
    r.resize(size);
    return r;
}

// Tens of thousands of releases, none with an interpreter asset.
std::string all_tags(size_t size) {
    return repeat_to("[", "{\"tag_name\":\"v1.2.3\",\"name\":\"v1.2.3\",\"assets\":[]},", size);
}
// Asset name keys everywhere and never an address after them.
std::string name_keys(size_t size) {
    return repeat_to("[", "{\"tag_name\":\"v1\",\"assets\":[{\"name\":\"kelvo.exe\"},{\"name\":\"kelvo.zip\"},"
                          "{\"name\":\"kelvo-src.tar.gz\"},{\"name\":\"kelvo.msi\"}]},", size);
}
// Every release has its asset, but the address is too long to be taken.
std::string long_addresses(size_t size) {
    return repeat_to("[", "{\"tag_name\":\"v1\",\"assets\":[{\"name\":\"kelvo.exe\",\"browser_download_url\":\"" +
                          std::string(800, 'a') + "\"}]},", size);
}
// One tag and then nothing but other JSON: a single window, and the search
// for the next tag runs over the whole reply.
std::string one_window(size_t size) {
    return repeat_to("[{\"tag_name\":\"v1\",", "\"node_id\":\"MDU6QXNzZXQ\",\"tag\":\"x\",\"name\":\"Kelvo\",\"state\":\"uploaded\",", size);
}

// Every release has its interpreter with a published digest, as newer uploads do.
std::string digests(size_t size) {
    return repeat_to("[", "{\"tag_name\":\"v1\",\"assets\":[{\"name\":\"kelvo.exe\",\"size\":179202,"
                          "\"digest\":\"sha256:9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08\","
                          "\"browser_download_url\":\"https://h/v1/kelvo.exe\"}]},", size);
}
// Between each asset name and its address, digest keys that fall short at the
// last digit; the addresses are plain http, so none is taken and the scan
// runs to the end.
std::string digest_near_misses(size_t size) {
    std::string span;
    for (int i = 0; i < 60; ++i) span += "\"digest\":\"sha256:" + std::string(63, 'a') + "\",";
    return repeat_to("[", "{\"tag_name\":\"v1\",\"assets\":[{\"name\":\"kelvo.exe\"," + span +
                          "\"browser_download_url\":\"http://h/v1/kelvo.exe\"}]},", size);
}

// Near misses of every key, packed: each byte is a candidate start.
std::string key_fragments(size_t size) {
    return repeat_to("[", "\"tag_name\":\"\"\"tag_name\":0\"name\":\"kelv\"browser_download_url\":0\":\"\":", size);
}

void run(benchmark::State& state, const std::string& reply) {
    const unsigned char* data = reinterpret_cast<const unsigned char*>(reply.data());
    release_hit hits[RELEASE_MAX];
    for (auto _ : state) {
        int n = release_scan(data, reply.size(), hits, 1);
        benchmark::DoNotOptimize(n);
        benchmark::DoNotOptimize(hits);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(reply.size()));
    state.counters["bytes"] = static_cast<double>(reply.size());
}

void BM_Typical12(benchmark::State& state) { run(state, typical()); }
void BM_AllTagsNoAssets(benchmark::State& state) { run(state, all_tags(state.range(0))); }
void BM_NameKeysEverywhere(benchmark::State& state) { run(state, name_keys(state.range(0))); }
void BM_LongAddresses(benchmark::State& state) { run(state, long_addresses(state.range(0))); }
void BM_OneHugeWindow(benchmark::State& state) { run(state, one_window(state.range(0))); }
void BM_KeyFragments(benchmark::State& state) { run(state, key_fragments(state.range(0))); }
void BM_Digests(benchmark::State& state) { run(state, digests(state.range(0))); }
void BM_DigestNearMisses(benchmark::State& state) { run(state, digest_near_misses(state.range(0))); }

}  // namespace

BENCHMARK(BM_Typical12);
BENCHMARK(BM_AllTagsNoAssets)->Arg(64 << 10)->Arg(1 << 20);
BENCHMARK(BM_NameKeysEverywhere)->Arg(64 << 10)->Arg(1 << 20);
BENCHMARK(BM_LongAddresses)->Arg(64 << 10)->Arg(1 << 20);
BENCHMARK(BM_OneHugeWindow)->Arg(64 << 10)->Arg(1 << 20);
BENCHMARK(BM_KeyFragments)->Arg(64 << 10)->Arg(1 << 20);
BENCHMARK(BM_Digests)->Arg(64 << 10)->Arg(1 << 20);
BENCHMARK(BM_DigestNearMisses)->Arg(64 << 10)->Arg(1 << 20);
