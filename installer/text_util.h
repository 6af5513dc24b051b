// Bounded wide-text building for fixed buffers. Every function leaves dst
// terminated and returns 0 (dst then holds what fitted before the failing
// piece) when the result would not fit into cap characters.
#pragma once
#include <cstddef>

inline size_t wlen(const wchar_t* s) {
    size_t n = 0;
    while (s[n]) ++n;
    return n;
}

inline int wcopy(wchar_t* dst, size_t cap, const wchar_t* src) {
    if (cap == 0) return 0;
    dst[0] = 0;
    size_t n = wlen(src);
    if (n >= cap) return 0;
    for (size_t i = 0; i <= n; ++i) dst[i] = src[i];
    return 1;
}

inline int wappend(wchar_t* dst, size_t cap, const wchar_t* src) {
    size_t used = wlen(dst);
    if (used >= cap) return 0;
    return wcopy(dst + used, cap - used, src);
}

inline int wappend_ulong(wchar_t* dst, size_t cap, unsigned long v) {
    wchar_t digits[24];
    int n = 0;
    do {
        digits[n++] = static_cast<wchar_t>(L'0' + v % 10);
        v /= 10;
    } while (v);
    wchar_t text[24];
    for (int i = 0; i < n; ++i) text[i] = digits[n - 1 - i];
    text[n] = 0;
    return wappend(dst, cap, text);
}

// 1 when hex (any case, exactly 2 * n digits) spells the n bytes.
inline int hex_equals(const wchar_t* hex, const unsigned char* bytes, size_t n) {
    for (size_t i = 0; i < 2 * n; ++i) {
        wchar_t c = hex[i];
        unsigned v;
        if (c >= L'0' && c <= L'9') v = static_cast<unsigned>(c - L'0');
        else if (c >= L'a' && c <= L'f') v = static_cast<unsigned>(c - L'a' + 10);
        else if (c >= L'A' && c <= L'F') v = static_cast<unsigned>(c - L'A' + 10);
        else return 0;
        unsigned want = i % 2 ? bytes[i / 2] & 0xFu : bytes[i / 2] >> 4;
        if (v != want) return 0;
    }
    return hex[2 * n] == 0;
}
