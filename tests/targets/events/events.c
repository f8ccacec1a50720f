// Behaviours that a debugger must pass through, chosen by the first argument:
//   exit      returns 0 at once
//   debugstr  writes one debug string of 600 characters
//   megabyte  writes 2,048 debug strings of 512 characters (1 MiB), then one of 17 ("end of
//   megabyte") wait      writes its process id to events.pid in the current folder and sleeps for
//   ever crash     writes through a null pointer and does not handle it handled   raises an
//   exception of error severity and handles it in a vectored handler
// Markers hold for every mode: only main's first line runs always; one function never runs.
#include <stdio.h>
#include <string.h>
#include <windows.h>

#define HANDLED_CODE 0xC0DE0001u

static char pattern_char(unsigned index) {
    return (char)('a' + index % 26);
}

static void write_debug_strings(unsigned count, unsigned length) {
    char text[1024];
    unsigned written = 0;
    for (unsigned i = 0; i < count; ++i) {
        for (unsigned k = 0; k < length; ++k)
            text[k] = pattern_char(written++);
        text[length] = '\0';
        OutputDebugStringA(text);
    }
}

static LONG CALLBACK skip_handled(EXCEPTION_POINTERS* info) {
    if (info->ExceptionRecord->ExceptionCode != HANDLED_CODE)
        return EXCEPTION_CONTINUE_SEARCH;
    return EXCEPTION_CONTINUE_EXECUTION;
}

static void never_called(void) {
    printf("never\n"); // miss
}

int main(int argc, char** argv) {
    const char* mode = argc > 1 ? argv[1] : "exit"; // hit
    if (strcmp(mode, "debugstr") == 0) {
        write_debug_strings(1, 600);
    } else if (strcmp(mode, "megabyte") == 0) {
        write_debug_strings(2048, 512);
        OutputDebugStringA("end of megabyte");
    } else if (strcmp(mode, "wait") == 0) {
        FILE* file = fopen("events.pid", "w");
        fprintf(file, "%lu", GetCurrentProcessId());
        fclose(file);
        Sleep(INFINITE);
    } else if (strcmp(mode, "crash") == 0) {
        *(volatile int*)(size_t)argc = 1;
    } else if (strcmp(mode, "handled") == 0) {
        AddVectoredExceptionHandler(1, skip_handled);
        RaiseException(HANDLED_CODE, 0, 0, NULL);
        printf("handled\n");
    } else if (strcmp(mode, "never") == 0) {
        never_called();
    }
    return 0;
}
