// Whether a downloaded file is a whole Windows executable.
#include "exe_check.h"

namespace {

// The header fields are little-endian whatever the host. Offsets are 64-bit
// sums of 32-bit fields, so none of them can wrap.
unsigned le16(const unsigned char* p) { return static_cast<unsigned>(p[0]) | static_cast<unsigned>(p[1]) << 8; }

unsigned long long le32(const unsigned char* p) {
    return static_cast<unsigned long long>(le16(p)) | static_cast<unsigned long long>(le16(p + 2)) << 16;
}

const unsigned long long PE_SIG_LEN = 4;
const unsigned long long FILE_HEADER_LEN = 20;
const unsigned long long SECTION_LEN = 40;
const unsigned long long DIRECTORY_LEN = 8;
const unsigned long long CERT_DIRECTORY = 4;

}  // namespace

int exe_complete(const unsigned char* head, size_t head_len, unsigned long long file_size) {
    if (!head || head_len > file_size) return 0;
    const unsigned long long have = head_len;
    if (have < 0x40 || head[0] != 'M' || head[1] != 'Z') return 0;

    const unsigned long long pe = le32(head + 0x3C);
    const unsigned long long opt = pe + PE_SIG_LEN + FILE_HEADER_LEN;
    if (opt + 2 > have) return 0;  // the file header and the magic
    if (head[pe] != 'P' || head[pe + 1] != 'E' || head[pe + 2] != 0 || head[pe + 3] != 0) return 0;
    const unsigned long long sections = le16(head + pe + 6);
    const unsigned long long opt_len = le16(head + pe + 20);

    // The fixed part of the optional header ends with NumberOfRvaAndSizes;
    // the data directories follow it.
    const unsigned magic = le16(head + opt);
    unsigned long long fixed;
    if (magic == 0x10B) fixed = 96;
    else if (magic == 0x20B) fixed = 112;
    else return 0;
    if (opt_len < fixed) return 0;

    const unsigned long long table = opt + opt_len;
    if (sections == 0 || table + sections * SECTION_LEN > have) return 0;
    // From here on every header byte read lies before the section table's end, inside head.

    if (le32(head + opt + 60) > file_size) return 0;  // SizeOfHeaders

    for (unsigned long long i = 0; i < sections; ++i) {
        const unsigned char* s = head + table + i * SECTION_LEN;
        const unsigned long long raw_size = le32(s + 16);
        if (raw_size > 0 && le32(s + 20) + raw_size > file_size) return 0;
    }

    // The certificate table's address is a file offset, not an RVA: the
    // signature sits after the sections, the first thing a cut download loses.
    const unsigned long long dir = opt + fixed + CERT_DIRECTORY * DIRECTORY_LEN;
    if (le32(head + opt + fixed - 4) > CERT_DIRECTORY && dir + DIRECTORY_LEN <= table) {
        const unsigned long long cert_size = le32(head + dir + 4);
        if (cert_size > 0 && le32(head + dir) + cert_size > file_size) return 0;
    }
    return 1;
}
