/* Test stand-in for an interpreter that is running a script: a console
   program that keeps running until the test tells it to stop. Started as
   "running_console NAME", it sets the event NAME-ready once it runs and ends
   with exit code 42 when the event NAME-stop is set, so a test can tell a
   program that ended by itself from one that was killed or never started. */
#include <windows.h>
#include <stdio.h>

int main(int argc, char** argv) {
    char name[200];
    HANDLE ready, stop;
    if (argc < 2 || strlen(argv[1]) > 180) return 2;
    snprintf(name, sizeof name, "%s-ready", argv[1]);
    ready = CreateEventA(NULL, TRUE, FALSE, name);
    snprintf(name, sizeof name, "%s-stop", argv[1]);
    stop = CreateEventA(NULL, TRUE, FALSE, name);
    if (!ready || !stop) return 3;
    SetEvent(ready);
    if (WaitForSingleObject(stop, INFINITE) != WAIT_OBJECT_0) return 4;
    CloseHandle(ready);
    CloseHandle(stop);
    return 42;
}
