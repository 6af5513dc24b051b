/* Stand-in for the Kelvo interpreter, embedded when the real kelvo.exe is not
   at hand. It is a real console program so that installs can be run end to end. */
#include <stdio.h>
#include <string.h>

int main(int argc, char** argv) {
    if (argc >= 2 && strcmp(argv[1], "--version") == 0) {
        printf("Kelvo interpreter stand-in (not the real interpreter)\n");
        return 0;
    }
    if (argc >= 2) {
        printf("Kelvo interpreter stand-in: would run %s\n", argv[1]);
        return 0;
    }
    printf("Kelvo interpreter stand-in: give a script path or --version\n");
    return 0;
}
