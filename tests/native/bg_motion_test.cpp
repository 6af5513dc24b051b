// Drift of the background code lines: offsets at known ticks, the 32-bit wrap
// of the tick product, the visibility window and the tick counter's wrap.
#include "bg_motion.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>

namespace {

// Reference: the exact product in 64 bits, reduced to the two's-complement
// 32-bit value it wraps to, then the remainder with the sign of that value.
int reference_offset(int line, int tick) {
    int64_t speed = 14 + 7 * (line % 3);
    int64_t product = speed * static_cast<int64_t>(tick);
    int64_t low = ((product % 4294967296LL) + 4294967296LL) % 4294967296LL;  // 0 .. 2^32-1
    int64_t wrapped = low >= 2147483648LL ? low - 4294967296LL : low;
    return static_cast<int>(wrapped % 680);
}

struct offset_case {
    int line;
    int tick;
    int offset;
    bool visible;
};

TEST(BgMotion, OffsetsAtKnownTicks) {
    // Worked by hand: the product mod 2^32, read signed, then mod 680.
    const offset_case cases[] = {
        // Tick 0: every line at its start.
        {0, 0, 0, true}, {1, 0, 0, true}, {2, 0, 0, true}, {14, 0, 0, true},
        // Tick 10: line 2 (28 px) at 280, line 0 (14 px) at 140, line 1 (21 px) at 210.
        {2, 10, 280, true}, {0, 10, 140, true}, {1, 10, 210, true}, {5, 10, 280, true},
        {3, 10, 140, true},
        // Tick 18: line 2 at 504, past the window; line 0 at 252.
        {2, 18, 504, false}, {0, 18, 252, true}, {1, 18, 378, true}, {14, 18, 504, false},
        // Tick 25: 700 wraps to 20; line 1 at 525 is hidden, line 0 at 350.
        {2, 25, 20, true}, {1, 25, 525, false}, {0, 25, 350, true},
        // Speed by line: 14, 21, 28 repeating.
        {12, 1, 14, true}, {13, 1, 21, true}, {11, 1, 28, true}, {7, 1, 21, true},
        // Largest tick: 14(2^31-1) = 7*2^32 - 14; 21(2^31-1) = 2^31 - 21 (mod 2^32);
        // 28(2^31-1) = 14*2^32 - 28. 2^31 mod 680 = 128.
        {0, INT_MAX, -14, true}, {1, INT_MAX, 107, true}, {2, INT_MAX, -28, true},
        // Smallest tick: 14 and 28 times -2^31 vanish, 21 times it is -2^31.
        {0, INT_MIN, 0, true}, {1, INT_MIN, -128, true}, {2, INT_MIN, 0, true},
        // Tick -1 (2^32 - 1 after a full wrap): one step back from 0.
        {0, -1, -14, true}, {1, -1, -21, true}, {2, -1, -28, true},
        // Tick -7: 28 x -7 = -196 is left of the window, 14 x -7 = -98 inside.
        {2, -7, -196, false}, {0, -7, -98, true},
        // 2^31 / 28 = 76695844 + 16/28: the product for line 2 crosses 2^31 between
        // ticks 76695844 (2147483632, mod 680 = 112) and 76695845 (2147483660 -> -2147483636).
        {2, 76695844, 112, true}, {2, 76695845, -116, true},
    };
    for (const offset_case& c : cases) {
        SCOPED_TRACE(testing::Message() << "line " << c.line << " tick " << c.tick);
        int o = bg_offset(c.line, c.tick);
        EXPECT_EQ(o, c.offset);
        EXPECT_EQ(bg_visible(o), c.visible ? 1 : 0);
    }
}

TEST(BgMotion, MatchesWideArithmeticAroundEveryWrap) {
    // Ticks where one of the three products crosses 2^31 or 2^32, and the ends
    // of the int range, each with neighbours on both sides.
    const int64_t centres[] = {0,
                               2147483648LL / 14, 2147483648LL / 21, 2147483648LL / 28,
                               4294967296LL / 14, 4294967296LL / 21, 4294967296LL / 28,
                               -2147483648LL / 14, -2147483648LL / 21, -2147483648LL / 28,
                               INT_MAX, INT_MIN};
    int checked = 0;
    for (int64_t centre : centres) {
        for (int64_t d = -40; d <= 40; ++d) {
            int64_t t = centre + d;
            if (t > INT_MAX || t < INT_MIN) continue;
            for (int line = 0; line < 15; ++line) {
                int o = bg_offset(line, static_cast<int>(t));
                ASSERT_EQ(o, reference_offset(line, static_cast<int>(t)))
                    << "line " << line << " tick " << t;
                ASSERT_GT(o, -680);
                ASSERT_LT(o, 680);
                ++checked;
            }
        }
    }
    EXPECT_GT(checked, 12 * 60 * 15);
}

TEST(BgMotion, VisibilityBoundsAndCycle) {
    const struct {
        int offset;
        int visible;
    } bounds[] = {{-679, 0}, {-146, 0}, {-145, 1}, {-144, 1}, {0, 1},
                  {498, 1},  {499, 1},  {500, 0},  {679, 0}};
    for (const auto& b : bounds) EXPECT_EQ(bg_visible(b.offset), b.visible) << b.offset;

    // Within one cycle from tick 0, a 28 px line is shown while 28t mod 680 <= 499:
    // ticks 0..17 of the first pass, hidden at 18..24, back at 25 (offset 20).
    for (int t = 0; t <= 24; ++t)
        EXPECT_EQ(bg_visible(bg_offset(2, t)), t <= 17 ? 1 : 0) << "tick " << t;
    EXPECT_EQ(bg_visible(bg_offset(2, 25)), 1);
}

TEST(BgMotion, TickCounterWraps) {
    const struct {
        int tick;
        int next;
    } steps[] = {{0, 1}, {-1, 0}, {129, 130}, {INT_MAX - 1, INT_MAX}, {INT_MAX, INT_MIN},
                 {INT_MIN, INT_MIN + 1}};
    for (const auto& s : steps) EXPECT_EQ(bg_next_tick(s.tick), s.next) << s.tick;
}

}  // namespace
