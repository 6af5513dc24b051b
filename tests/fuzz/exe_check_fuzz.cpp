// libFuzzer target for the executable completeness check. The input is the
// file's start; the file is taken to be that long, and also longer by the
// 64-bit number in the DOS header's reserved bytes 0x30-0x37 (which the check
// never reads), so huge sizes and sums near 2^64 are reached with small
// inputs. The check must never read outside the head, must equal the slow
// literal reading, and must answer 1 from exactly the size its headers need on.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "exe_check.h"
#include "exe_check_reference.h"

#define CHECK(cond)         \
    do {                    \
        if (!(cond)) abort(); \
    } while (0)

namespace {

// The check on an exact-size heap copy of the head, so that ASan sees any
// read past it (libFuzzer's own buffer may be larger than the part handed over).
int checked(const uint8_t* data, size_t head_len, unsigned long long file_size) {
    std::vector<unsigned char> head(data, data + head_len);
    const int got = exe_complete(head.empty() ? nullptr : head.data(), head.size(), file_size);
    CHECK(got == 0 || got == 1);
    CHECK(got == reference_exe_complete(head.data(), head.size(), file_size));
    return got;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const size_t head_len = size < EXE_HEAD_MAX ? size : EXE_HEAD_MAX;
    unsigned long long extra = 0;
    if (size >= 0x38)
        for (int i = 7; i >= 0; --i) extra = extra << 8 | data[0x30 + i];
    const unsigned long long longer = extra > ~0ULL - size ? ~0ULL : size + extra;

    const int whole = checked(data, head_len, size);
    const int in_longer = checked(data, head_len, longer);
    CHECK(!whole || in_longer);  // more file never hurts
    // A head longer than the file is refused.
    if (head_len > 0) CHECK(exe_complete(data, head_len, head_len - 1) == 0);

    // The file is whole from the size its headers need on, not one byte before.
    const long long need = reference_exe_required_end(data, head_len);
    if (need >= 0) {
        const unsigned long long n = static_cast<unsigned long long>(need);
        CHECK(in_longer == (n <= longer));
        // Cut there (a head longer than the cut file shrinks with it).
        CHECK(checked(data, n < head_len ? static_cast<size_t>(n) : head_len, n) == 1);
        CHECK(n == 0 || checked(data, n - 1 < head_len ? static_cast<size_t>(n - 1) : head_len, n - 1) == 0);
    }
    return 0;
}
