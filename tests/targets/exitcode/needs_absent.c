// needs_absent.exe: linked against absent.dll, which is not beside it, so the loader ends it
// before its entry point; none of its lines runs.
#include <stdio.h>

int absent_value(void);

int main(void) {
    printf("started\n");   // miss
    return absent_value(); // miss
}
