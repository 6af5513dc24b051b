// SHA-256 through the system's cryptography library (BCrypt), loaded on first use.
#pragma once
#include "kelvo.h"

// Digest of the whole open file, read from its start. 1 on success.
int sha256_file(HANDLE file, unsigned char digest[32]);
