// A slow, literal reading of the executable completeness check, to check the
// fast one against: the head copied into a vector and every field read with
// at(), so a read past the head throws; the headers decoded into a record
// first, then the end of the file they need worked out as one maximum.
#pragma once
#include <algorithm>
#include <stdexcept>
#include <vector>

#include "exe_check.h"

struct reference_exe {
    unsigned long long pe, magic, sections, opt_len, size_of_headers, rva_count;
    std::vector<unsigned long long> raw_ends;  // of the sections with raw data
    bool has_cert_dir;
    unsigned long long cert_end;
};

inline unsigned long long reference_field(const std::vector<unsigned char>& h, unsigned long long at, int width) {
    unsigned long long v = 0;
    for (int i = 0; i < width; ++i) v |= static_cast<unsigned long long>(h.at(at + i)) << (8 * i);
    return v;
}

// -1 when the headers cannot be read from the head or are not an
// executable's; else the smallest file size that holds all they point at.
inline long long reference_exe_required_end(const unsigned char* head, size_t head_len) {
    if (!head) return -1;
    const std::vector<unsigned char> h(head, head + head_len);
    reference_exe x;
    try {
        if (h.size() < 64 || h.at(0) != 'M' || h.at(1) != 'Z') return -1;
        x.pe = reference_field(h, 60, 4);
        if (reference_field(h, x.pe, 4) != 0x4550) return -1;  // "PE\0\0"
        x.sections = reference_field(h, x.pe + 6, 2);
        x.opt_len = reference_field(h, x.pe + 20, 2);
        const unsigned long long opt = x.pe + 24;
        x.magic = reference_field(h, opt, 2);
        if (x.magic != 0x10B && x.magic != 0x20B) return -1;
        const unsigned long long dirs = opt + (x.magic == 0x20B ? 112 : 96);
        if (opt + x.opt_len < dirs) return -1;
        const unsigned long long table = opt + x.opt_len;
        if (x.sections == 0 || table + 40 * x.sections > h.size()) return -1;
        x.size_of_headers = reference_field(h, opt + 60, 4);
        x.rva_count = reference_field(h, dirs - 4, 4);
        for (unsigned long long i = 0; i < x.sections; ++i) {
            unsigned long long size = reference_field(h, table + 40 * i + 16, 4);
            if (size > 0) x.raw_ends.push_back(reference_field(h, table + 40 * i + 20, 4) + size);
        }
        x.has_cert_dir = x.rva_count >= 5 && dirs + 40 <= table;
        x.cert_end = 0;
        if (x.has_cert_dir && reference_field(h, dirs + 36, 4) > 0)
            x.cert_end = reference_field(h, dirs + 32, 4) + reference_field(h, dirs + 36, 4);
        unsigned long long end = std::max(x.size_of_headers, table + 40 * x.sections);
        for (unsigned long long e : x.raw_ends) end = std::max(end, e);
        return static_cast<long long>(std::max(end, x.cert_end));  // below 2^35
    } catch (const std::out_of_range&) {
        return -1;
    }
}

inline int reference_exe_complete(const unsigned char* head, size_t head_len, unsigned long long file_size) {
    if (head_len > file_size) return 0;
    const long long end = reference_exe_required_end(head, head_len);
    return end >= 0 && static_cast<unsigned long long>(end) <= file_size ? 1 : 0;
}
