// Motion of the background code lines, kept free of the platform.
#pragma once

// Offset in pixels of background line `line` at animation tick `tick`:
// (speed x tick) mod 680, speed 14, 21 or 28 by line, with the product wrapped
// to 32 bits as two's complement; the remainder has the sign of the product.
int bg_offset(int line, int tick);

// 1 when a line at that offset is drawn (-145 to 499), else 0.
int bg_visible(int offset);

// The tick after `tick`, wrapping from the largest int to the smallest.
int bg_next_tick(int tick);
