// Motion of the background code lines, kept free of the platform.
#pragma once

// Offset in pixels of background line `line` at animation tick `tick`:
// (speed x tick) mod 680 with the product wrapped to 32 bits.
int bg_offset(int line, int tick);

// 1 when a line at that offset is drawn.
int bg_visible(int offset);
