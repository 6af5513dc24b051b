// Text work on a Path value (entries separated by ';'), kept free of the
// platform so it can be tested natively. The registry side is in the engine.
#pragma once
#include <cstddef>
#include <string_view>

// The platform's default per-user Path, used when there is nothing to keep.
extern const wchar_t PATH_DEFAULT[];

// Simple upper-case mapping as the file system uses it for comparing paths
// (ASCII, Latin-1, Latin Extended-A, Greek, Cyrillic, full-width Latin).
wchar_t path_upcase(wchar_t c);

// 1 when dir stands in text as a whole entry; fold compares case-insensitively.
int path_has_entry(std::wstring_view text, std::wstring_view dir, bool fold);

// What path_add keeps of text: the value without its leading and trailing
// separators, or the default Path when nothing is left.
std::wstring_view path_keep(std::wstring_view text);

// Length of the text path_add stores for the kept part and dir: kept + ";" + dir.
inline size_t path_join_length(std::wstring_view kept, std::wstring_view dir) {
    return kept.size() + 1 + dir.size();
}

// Writes kept + ";" + dir and a terminator into out (room for cap characters,
// terminator included). Returns 0 when it does not fit.
int path_join(std::wstring_view kept, std::wstring_view dir, wchar_t* out, size_t cap);

// Cuts the first whole entry equal to dir (exact match) from the terminated
// text of length len, together with the separator before it when there is one.
// Returns the new length, or len when there is no such entry.
size_t path_cut(wchar_t* text, size_t len, std::wstring_view dir);
