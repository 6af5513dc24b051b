#include "path_edit.h"

const wchar_t PATH_DEFAULT[] = L"%USERPROFILE%\\AppData\\Local\\Microsoft\\WindowsApps";

wchar_t path_upcase(wchar_t c) {
    unsigned u = c;
    if (u >= 'a' && u <= 'z') return static_cast<wchar_t>(u - 32);
    if (u < 0xE0) return c;
    if (u <= 0xFE) return u == 0xF7 ? c : static_cast<wchar_t>(u - 32);       // Latin-1
    if (u == 0xFF) return static_cast<wchar_t>(0x178);
    if (u >= 0x100 && u <= 0x17F) {                                              // Latin Extended-A
        bool odd_lower = (u >= 0x139 && u <= 0x148) || (u >= 0x179 && u <= 0x17E);
        if (u == 0x131 || u == 0x138 || u == 0x149 || u == 0x17F) return c;
        if (odd_lower) return (u & 1) ? c : static_cast<wchar_t>(u - 1);
        return (u & 1) ? static_cast<wchar_t>(u - 1) : c;
    }
    if (u >= 0x3B1 && u <= 0x3CB && u != 0x3C2) return static_cast<wchar_t>(u - 32);  // Greek
    if (u == 0x3AC) return static_cast<wchar_t>(0x386);
    if (u >= 0x3AD && u <= 0x3AF) return static_cast<wchar_t>(u - 37);
    if (u == 0x3CC) return static_cast<wchar_t>(0x38C);
    if (u == 0x3CD || u == 0x3CE) return static_cast<wchar_t>(u - 63);
    if (u >= 0x430 && u <= 0x44F) return static_cast<wchar_t>(u - 32);          // Cyrillic
    if (u >= 0x450 && u <= 0x45F) return static_cast<wchar_t>(u - 80);
    if ((u >= 0x460 && u <= 0x481) || (u >= 0x48A && u <= 0x4BF) || (u >= 0x4D0 && u <= 0x52F))
        return (u & 1) ? static_cast<wchar_t>(u - 1) : c;
    if (u >= 0x4C1 && u <= 0x4CE) return (u & 1) ? c : static_cast<wchar_t>(u - 1);
    if (u == 0x4CF) return static_cast<wchar_t>(0x4C0);
    if (u >= 0xFF41 && u <= 0xFF5A) return static_cast<wchar_t>(u - 32);        // full-width
    return c;
}

static bool same_entry(std::wstring_view a, std::wstring_view b, bool fold) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i] == b[i]) continue;
        if (!fold || path_upcase(a[i]) != path_upcase(b[i])) return false;
    }
    return true;
}

// Start of the first whole entry equal to dir, or npos. Candidates begin at
// the text's start or after a ';' and must end at the text's end or before a
// ';', so a directory whose name itself holds ';' is still found.
static size_t find_entry(std::wstring_view text, std::wstring_view dir, bool fold) {
    size_t start = 0;
    for (;;) {
        if (text.size() - start >= dir.size()) {
            size_t end = start + dir.size();
            if ((end == text.size() || text[end] == L';') &&
                same_entry(std::wstring_view(text.data() + start, dir.size()), dir, fold))
                return start;
        }
        size_t next = text.find(L';', start);
        if (next == std::wstring_view::npos) return std::wstring_view::npos;
        start = next + 1;
    }
}

int path_has_entry(std::wstring_view text, std::wstring_view dir, bool fold) {
    return find_entry(text, dir, fold) != std::wstring_view::npos;
}

std::wstring_view path_keep(std::wstring_view text) {
    size_t first = text.find_first_not_of(L';');
    if (first == std::wstring_view::npos) return PATH_DEFAULT;
    size_t last = text.find_last_not_of(L';');
    return std::wstring_view(text.data() + first, last - first + 1);
}

int path_join(std::wstring_view kept, std::wstring_view dir, wchar_t* out, size_t cap) {
    size_t n = path_join_length(kept, dir);
    if (n >= cap) return 0;
    size_t at = 0;
    for (wchar_t c : kept) out[at++] = c;
    out[at++] = L';';
    for (wchar_t c : dir) out[at++] = c;
    out[at] = 0;
    return 1;
}

size_t path_cut(wchar_t* text, size_t len, std::wstring_view dir) {
    std::wstring_view view(text, len);
    size_t at = find_entry(view, dir, false);
    if (at == std::wstring_view::npos) return len;
    size_t from = at == 0 ? 0 : at - 1;  // the separator before it goes too
    size_t to = at + dir.size();
    for (size_t i = to; i <= len; ++i) text[from + i - to] = text[i];  // terminator included
    return len - (to - from);
}
