#include <gtest/gtest.h>

#include "harness.h"

using namespace harness;

TEST(Switches, VersionLineAndUnknownArguments) {
    auto r = run(setup_exe(), L"--version");
    EXPECT_EQ(r.code, 0u);
    EXPECT_EQ(r.out, "Kelvo Setup v2.15\n");
    EXPECT_EQ(run(setup_exe(), L"--INSTALL").code, 1u);
}
