// The system's HTTP client (WinHTTP, asynchronous), loaded on first use, with
// deadlines of the program's own: the system's receive timeouts are not
// reliable everywhere. While a request waits, the calling thread keeps
// painting and ticking its windows; posted input stays queued.
#pragma once
#include "kelvo.h"

#include <stddef.h>

// A wait fails once idle_ms pass without a byte arriving (response headers
// count) or total_ms after the request was sent.
struct http_deadline {
    DWORD idle_ms;
    DWORD total_ms;
};

// GETs url into a new heap block (process heap, one zero byte after the body).
// 1 when the final reply has status 200, its body is complete (as long as the
// declared length, when one is declared) and at most max_len bytes; the caller
// then frees *body with HeapFree. headers: extra request headers, or NULL.
int http_get_memory(const wchar_t* url, const wchar_t* headers, size_t max_len, http_deadline limit,
                    unsigned char** body, size_t* len);

// GETs url into the open file (written from its current position). 1 under the
// same conditions as http_get_memory, with no size limit.
int http_get_file(const wchar_t* url, HANDLE file, http_deadline limit);
