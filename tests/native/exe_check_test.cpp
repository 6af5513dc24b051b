// The executable completeness check on real executables (Wine's own and the
// stand-ins of the cross build), cut at every length, and on made and real
// executables with one header field broken at a time.
#include "exe_check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#define KELVO_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KELVO_ASAN 1
#endif
#endif
#ifdef KELVO_ASAN
#include <sanitizer/asan_interface.h>
#endif

#ifndef KELVO_CROSS_BUILD
#define KELVO_CROSS_BUILD "BUILD"
#endif

namespace {

using bytes = std::vector<unsigned char>;

unsigned long long get(const bytes& f, size_t at, int width) {
    unsigned long long v = 0;
    for (int i = width - 1; i >= 0; --i) v = v << 8 | f.at(at + i);
    return v;
}
void put(bytes& f, size_t at, int width, unsigned long long v) {
    for (int i = 0; i < width; ++i) f.at(at + i) = static_cast<unsigned char>(v >> (8 * i));
}

// Where the headers of a well-formed file put things, read field by field.
struct layout {
    size_t pe, opt, dirs, table;
    unsigned sections;
};
layout layout_of(const bytes& f) {
    layout l;
    l.pe = static_cast<size_t>(get(f, 0x3C, 4));
    l.opt = l.pe + 24;
    l.dirs = l.opt + (get(f, l.opt, 2) == 0x20B ? 112 : 96);
    l.table = l.opt + static_cast<size_t>(get(f, l.pe + 20, 2));
    l.sections = static_cast<unsigned>(get(f, l.pe + 6, 2));
    return l;
}
size_t section(const layout& l, unsigned i) { return l.table + 40 * i; }
size_t cert_dir(const layout& l) { return l.dirs + 4 * 8; }

// The smallest size a well-formed file may be cut to and still be whole:
// everything its headers point at, worked out apart from the code under test.
unsigned long long required_end(const bytes& f) {
    const layout l = layout_of(f);
    unsigned long long end = std::max<unsigned long long>(get(f, l.opt + 60, 4), section(l, l.sections));
    for (unsigned i = 0; i < l.sections; ++i) {
        unsigned long long size = get(f, section(l, i) + 16, 4);
        if (size) end = std::max(end, get(f, section(l, i) + 20, 4) + size);
    }
    if (get(f, l.dirs - 4, 4) > 4 && get(f, cert_dir(l) + 4, 4))
        end = std::max(end, get(f, cert_dir(l), 4) + get(f, cert_dir(l) + 4, 4));
    return end;
}

// The check on a file, its head handed over as an exact-size heap copy so
// that ASan sees any read past it.
int complete(const bytes& f, unsigned long long file_size, size_t head_len) {
    bytes head(f.begin(), f.begin() + static_cast<std::ptrdiff_t>(head_len));
    return exe_complete(head.empty() ? nullptr : head.data(), head.size(), file_size);
}
int complete(const bytes& f) { return complete(f, f.size(), std::min<size_t>(f.size(), EXE_HEAD_MAX)); }

// A small executable: headers in the first 0x400 bytes, `raw` sections of
// 0x200 bytes after them, then one section without raw data; the optional
// header holds `dirs` data directories and says it has 16.
bytes make_exe(bool plus, unsigned raw = 3, unsigned dirs = 16) {
    const size_t pe = 0x80, opt = pe + 24, fixed = plus ? 112 : 96, opt_len = fixed + dirs * 8;
    bytes f(0x400 + raw * 0x200, 0);
    f[0] = 'M';
    f[1] = 'Z';
    put(f, 0x3C, 4, pe);
    f[pe] = 'P';
    f[pe + 1] = 'E';
    put(f, pe + 4, 2, plus ? 0x8664 : 0x14C);
    put(f, pe + 6, 2, raw + 1);
    put(f, pe + 20, 2, opt_len);
    put(f, opt, 2, plus ? 0x20B : 0x10B);
    put(f, opt + 60, 4, 0x400);
    put(f, opt + fixed - 4, 4, 16);
    for (unsigned i = 0; i < raw; ++i) {
        put(f, opt + opt_len + 40 * i + 16, 4, 0x200);
        put(f, opt + opt_len + 40 * i + 20, 4, 0x400 + 0x200 * i);
    }
    put(f, opt + opt_len + 40 * raw + 8, 4, 0x1000);  // virtual size only, like .bss
    for (size_t i = 0x400; i < f.size(); ++i) f[i] = static_cast<unsigned char>(i * 7);
    return f;
}

// A copy signed after the fact: a certificate table of len bytes appended at
// an 8-byte boundary, and directory 4 pointing at it.
bytes with_certificate(bytes f, size_t len) {
    f.resize((f.size() + 7) / 8 * 8, 0);
    const size_t at = f.size();
    f.resize(at + len, 0xC5);
    put(f, at, 4, len);
    put(f, at + 4, 2, 0x200);
    put(f, at + 6, 2, 2);
    const layout l = layout_of(f);
    put(f, cert_dir(l), 4, at);
    put(f, cert_dir(l) + 4, 4, len);
    return f;
}

bytes read_file(const std::string& path) {
    bytes f;
    if (FILE* in = std::fopen(path.c_str(), "rb")) {
        unsigned char buf[65536];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, in)) > 0) f.insert(f.end(), buf, buf + n);
        std::fclose(in);
    }
    return f;
}

struct subject {
    std::string name;
    bytes file;
};

// Real executables at hand: the project's own from the cross build and
// Wine's, 64-bit and, where installed, 32-bit.
const std::vector<subject>& real_executables() {
    static std::vector<subject> found = [] {
        const std::string wine = "/usr/lib/x86_64-linux-gnu/wine/";
        const std::string paths[] = {
            KELVO_CROSS_BUILD "/kelvo-standin.exe",   KELVO_CROSS_BUILD "/kelvoide-standin.exe",
            KELVO_CROSS_BUILD "/kelvo-setup.exe",     wine + "x86_64-windows/notepad.exe",
            wine + "x86_64-windows/cmd.exe",          wine + "x86_64-windows/winver.exe",
            wine + "x86_64-windows/bcrypt.dll",       wine + "x86_64-windows/winhttp.dll",
            wine + "x86_64-windows/kernel32.dll",     wine + "i386-windows/notepad.exe",
            wine + "i386-windows/kernel32.dll",       wine + "i386-windows/zlib1.dll",
        };
        std::vector<subject> v;
        for (const auto& p : paths) {
            bytes f = read_file(p);
            if (!f.empty()) v.push_back({p, std::move(f)});
        }
        return v;
    }();
    return found;
}

// Never passes vacuously: Wine is part of the test machine, the stand-ins
// are built before the native tests.
TEST(ExeCheck, FindsEnoughRealExecutables) {
    std::string names;
    for (const auto& s : real_executables()) names += "\n  " + s.name;
    ASSERT_GE(real_executables().size(), 5u) << "found only:" << names;
    std::printf("real executables checked:%s\n", names.c_str());
}

// Cut at every length: whole exactly from the size the headers ask for on
// (bytes after that, such as a symbol table, may go); each shorter head is
// handed over with the rest of the buffer made unreadable.
void check_every_cut(const std::string& name, const bytes& f) {
    const unsigned long long need = required_end(f);
    ASSERT_GT(need, 0u) << name;
    ASSERT_LE(need, f.size()) << name << ": not well-formed to begin with";
    const size_t cap = std::min<size_t>(f.size(), EXE_HEAD_MAX);
    unsigned char* head = new unsigned char[cap];
    std::copy(f.begin(), f.begin() + static_cast<std::ptrdiff_t>(cap), head);
    int wrong = 0;
    for (size_t len = 0; len <= f.size() && wrong < 5; ++len) {
        const size_t head_len = std::min(len, cap);
#ifdef KELVO_ASAN
        ASAN_POISON_MEMORY_REGION(head + head_len, cap - head_len);
#endif
        const int got = exe_complete(head, head_len, len);
#ifdef KELVO_ASAN
        ASAN_UNPOISON_MEMORY_REGION(head, cap);
#endif
        const int want = len >= need ? 1 : 0;
        if (got != want) {
            ++wrong;
            ADD_FAILURE() << name << " cut to " << len << " of " << f.size() << " bytes (needs " << need
                          << "): " << got;
        }
    }
    delete[] head;
}

TEST(ExeCheck, RealExecutablesAreWholeOnlyWhenNothingTheyNeedIsCut) {
    for (const auto& s : real_executables()) check_every_cut(s.name, s.file);
    const bytes& first = real_executables().at(0).file;
    check_every_cut("signed copy of " + real_executables().at(0).name, with_certificate(first, 0x208));
}

TEST(ExeCheck, MadeExecutablesAreWholeOnlyWhenNothingTheyNeedIsCut) {
    for (bool plus : {false, true}) {
        const std::string kind = plus ? "PE32+" : "PE32";
        check_every_cut(kind, make_exe(plus));
        check_every_cut(kind + " signed", with_certificate(make_exe(plus), 0x100));
    }
}

struct corruption {
    const char* what;
    std::function<void(bytes&)> edit;
    int want;
};

const std::vector<corruption>& corruptions() {
    using L = layout;
    // The entry of the section whose raw data lies last in the file.
    auto last_raw = [](const bytes& f, const L& l) {
        size_t last = 0;
        unsigned long long at = 0;
        for (unsigned i = 0; i < l.sections; ++i) {
            if (get(f, section(l, i) + 16, 4) && get(f, section(l, i) + 20, 4) >= at) {
                at = get(f, section(l, i) + 20, 4);
                last = section(l, i);
            }
        }
        return last;
    };
    static const std::vector<corruption> table = {
        {"untouched", [](bytes&) {}, 1},
        {"ZM instead of MZ", [](bytes& f) { f[0] = 'Z', f[1] = 'M'; }, 0},
        {"mz in lower case", [](bytes& f) { f[0] = 'm', f[1] = 'z'; }, 0},
        {"MX", [](bytes& f) { f[1] = 'X'; }, 0},
        {"e_lfanew at the file's end", [](bytes& f) { put(f, 0x3C, 4, f.size()); }, 0},
        {"e_lfanew leaves no room for the file header",
         [](bytes& f) { put(f, 0x3C, 4, std::min<size_t>(f.size(), EXE_HEAD_MAX) - 20); }, 0},
        {"e_lfanew huge", [](bytes& f) { put(f, 0x3C, 4, 0x7FFFFFF0); }, 0},
        {"e_lfanew negative-looking", [](bytes& f) { put(f, 0x3C, 4, 0xFFFFFFF8); }, 0},
        {"e_lfanew zero (MZ where PE belongs)", [](bytes& f) { put(f, 0x3C, 4, 0); }, 0},
        {"signature PF", [](bytes& f) { f[layout_of(f).pe + 1] = 'F'; }, 0},
        {"signature PE\\0\\1", [](bytes& f) { f[layout_of(f).pe + 3] = 1; }, 0},
        {"magic 0x107 (ROM image)", [](bytes& f) { put(f, layout_of(f).opt, 2, 0x107); }, 0},
        {"magic 0x20C", [](bytes& f) { put(f, layout_of(f).opt, 2, 0x20C); }, 0},
        {"zero sections", [](bytes& f) { put(f, layout_of(f).pe + 6, 2, 0); }, 0},
        {"65,535 sections run past the head", [](bytes& f) { put(f, layout_of(f).pe + 6, 2, 0xFFFF); }, 0},
        {"optional header too short for its fixed part",
         [](bytes& f) { put(f, layout_of(f).pe + 20, 2, layout_of(f).dirs - layout_of(f).opt - 1); }, 0},
        {"optional header of 65,535 bytes puts the table past the head",
         [](bytes& f) { put(f, layout_of(f).pe + 20, 2, 0xFFFF); }, 0},
        {"SizeOfHeaders one past the file", [](bytes& f) { put(f, layout_of(f).opt + 60, 4, f.size() + 1); }, 0},
        {"SizeOfHeaders the whole file", [](bytes& f) { put(f, layout_of(f).opt + 60, 4, f.size()); }, 1},
        {"SizeOfHeaders 0xFFFFFFFF", [](bytes& f) { put(f, layout_of(f).opt + 60, 4, 0xFFFFFFFF); }, 0},
        {"last section's raw data one byte past the file",
         [=](bytes& f) {
             size_t s = last_raw(f, layout_of(f));
             put(f, s + 16, 4, f.size() - get(f, s + 20, 4) + 1);
         },
         0},
        {"last section's raw data up to the file's last byte",
         [=](bytes& f) {
             size_t s = last_raw(f, layout_of(f));
             put(f, s + 16, 4, f.size() - get(f, s + 20, 4));
         },
         1},
        {"last section's raw data starts past the file",
         [=](bytes& f) { put(f, last_raw(f, layout_of(f)) + 20, 4, f.size() + 1); }, 0},
        {"PointerToRawData + SizeOfRawData wraps in 32 bits",
         [](bytes& f) {
             put(f, section(layout_of(f), 0) + 20, 4, 0xFFFFFF00);
             put(f, section(layout_of(f), 0) + 16, 4, 0x200);
         },
         0},
        {"PointerToRawData and SizeOfRawData both 0xFFFFFFFF",
         [](bytes& f) {
             put(f, section(layout_of(f), 0) + 20, 4, 0xFFFFFFFF);
             put(f, section(layout_of(f), 0) + 16, 4, 0xFFFFFFFF);
         },
         0},
        {"section without raw data may point anywhere",
         [](bytes& f) {
             put(f, section(layout_of(f), 0) + 16, 4, 0);
             put(f, section(layout_of(f), 0) + 20, 4, 0xFFFFFFFF);
         },
         1},
        {"certificate table past the file",
         [](bytes& f) {
             put(f, cert_dir(layout_of(f)), 4, f.size() - 8);
             put(f, cert_dir(layout_of(f)) + 4, 4, 16);
         },
         0},
        {"certificate table up to the file's last byte",
         [](bytes& f) {
             put(f, cert_dir(layout_of(f)), 4, f.size() - 16);
             put(f, cert_dir(layout_of(f)) + 4, 4, 16);
         },
         1},
        {"certificate address + size wraps in 32 bits",
         [](bytes& f) {
             put(f, cert_dir(layout_of(f)), 4, 0xFFFFFFF0);
             put(f, cert_dir(layout_of(f)) + 4, 4, 0x20);
         },
         0},
        {"certificate directory of size 0 may point anywhere",
         [](bytes& f) { put(f, cert_dir(layout_of(f)), 4, 0xFFFFFFF0); }, 1},
        {"certificate directory beyond NumberOfRvaAndSizes is not read",
         [](bytes& f) {
             put(f, layout_of(f).dirs - 4, 4, 4);
             put(f, cert_dir(layout_of(f)), 4, 0xFFFFFFF0);
             put(f, cert_dir(layout_of(f)) + 4, 4, 0x20);
         },
         1},
    };
    return table;
}

// Each field broken on its own, in made files of both kinds and in real ones.
TEST(ExeCheck, CorruptedHeaders) {
    std::vector<subject> subjects = {{"PE32", make_exe(false)}, {"PE32+", make_exe(true)}};
    for (const auto& s : real_executables()) subjects.push_back(s);
    for (const auto& s : subjects) {
        for (const auto& c : corruptions()) {
            bytes f = s.file;
            c.edit(f);
            EXPECT_EQ(complete(f), c.want) << s.name << ": " << c.what;
        }
    }
}

TEST(ExeCheck, HeadAndSizeHandedOver) {
    const bytes f = make_exe(true);
    const size_t table_end = section(layout_of(f), layout_of(f).sections);
    const bytes signed_copy = with_certificate(f, 0x100);
    struct {
        const char* what;
        const bytes& file;
        unsigned long long size;
        size_t head_len;
        int want;
    } cases[] = {
        {"whole file", f, f.size(), f.size(), 1},
        {"short read that still holds the section table", f, f.size(), table_end, 1},
        {"short read that cuts the section table", f, f.size(), table_end - 1, 0},
        {"head longer than the file", f, f.size() - 1, f.size(), 0},
        {"nothing handed over", f, f.size(), 0, 0},
        {"file far larger than its head", f, 1ULL << 40, f.size(), 1},
        {"largest file size", f, ~0ULL, f.size(), 1},
        {"signed, whole", signed_copy, signed_copy.size(), signed_copy.size(), 1},
        {"signed, last byte of the certificate missing", signed_copy, signed_copy.size() - 1,
         signed_copy.size() - 1, 0},
    };
    for (const auto& c : cases) EXPECT_EQ(complete(c.file, c.size, c.head_len), c.want) << c.what;
    EXPECT_EQ(exe_complete(nullptr, 0, 0), 0);
    EXPECT_EQ(exe_complete(nullptr, 0, f.size()), 0);
}

// An optional header too short to hold directory 4 has no certificate table,
// whatever NumberOfRvaAndSizes says: the bytes there belong to the section table.
TEST(ExeCheck, NoCertificateDirectoryPastTheOptionalHeader) {
    for (bool plus : {false, true}) {
        for (unsigned dirs : {4u, 5u}) {
            bytes f = make_exe(plus, 3, dirs);
            const layout l = layout_of(f);
            // The first section's name, where a fifth directory would be read.
            put(f, l.table, 4, 0xFFFFFFF0);
            put(f, l.table + 4, 4, 0x20);
            if (dirs == 5) {
                put(f, cert_dir(l), 4, f.size());
                put(f, cert_dir(l) + 4, 4, 1);
            }
            EXPECT_EQ(complete(f), dirs == 4 ? 1 : 0) << (plus ? "PE32+ " : "PE32 ") << dirs << " directories";
        }
    }
}

}  // namespace
