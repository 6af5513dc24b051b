#include "bg_motion.h"

#include <stdint.h>

// Reads 32 bits as a two's-complement value without relying on how the
// compiler converts out-of-range unsigned numbers.
static int as_signed(uint32_t u) {
    if (u <= 0x7FFFFFFFu) return static_cast<int>(u);
    return static_cast<int>(u - 0x80000000u) - 0x7FFFFFFF - 1;
}

int bg_offset(int line, int tick) {
    uint32_t speed = 14u + 7u * static_cast<uint32_t>(line % 3);
    // Unsigned multiplication wraps by definition; signed would overflow.
    uint32_t product = speed * static_cast<uint32_t>(tick);
    return as_signed(product) % 680;
}

int bg_visible(int offset) {
    return offset >= -145 && offset <= 499 ? 1 : 0;
}

int bg_next_tick(int tick) {
    return as_signed(static_cast<uint32_t>(tick) + 1u);
}
