// Whether a downloaded file is a whole Windows executable, judged from its
// headers and its size alone (no <windows.h>): a download cut short keeps a
// valid start, so every part the headers point at must lie inside the file.
#pragma once
#include <cstddef>

const size_t EXE_HEAD_MAX = 65536;  // how much of the file's start the caller hands over

// 1 when a file of file_size bytes whose first head_len bytes are head
// (normally head_len == min(file_size, EXE_HEAD_MAX)) is a whole executable:
// "MZ"; at e_lfanew "PE\0\0", the file header and an optional header of magic
// 0x10B or 0x20B; at least one section; the section table inside head; the
// headers (SizeOfHeaders) inside the file; every section's raw data
// (PointerToRawData + SizeOfRawData, when SizeOfRawData > 0) inside the file;
// and the certificate table (data directory 4, whose address is a file
// offset), when the directory exists and its size is not zero, inside the
// file. Else 0. A shorter head (a short read) only means less can be checked:
// whatever must be read has to lie inside it. A head longer than the file is
// refused. Never reads outside head.
int exe_complete(const unsigned char* head, size_t head_len, unsigned long long file_size);
