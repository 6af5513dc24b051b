/* A console program of about 180 KB, the size of the real interpreter, whose
   download bench/network.sh times. Its weight is initialised data, so every
   byte is in the file. */
#include <stdio.h>

static const unsigned char weight[140 * 1024] = {1, 2, 3};

int main(int argc, char** argv) {
    (void)argv;
    printf("%d\n", weight[argc]);
    return 0;
}
