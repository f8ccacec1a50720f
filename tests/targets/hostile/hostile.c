// Programs that are hard on a debugger, chosen by the first argument. Each must behave under
// zerkacmd as it does alone. A marker "// hit(mode)" holds for that mode only; a plain one for
// every mode.
//   threads   eight threads released together onto the same lines, 50 rounds
//   unload    swap.dll and other.dll take turns at the same base (see dlls below)
//   breaks    breakpoints compiled into the program: one a line of its own, one inside a line
//   overflow  unbounded recursion, not handled
//   child     starts itself as a child ("childwork") and waits for it
//   nolines   loads and calls nolines.dll, which has no line information
//   pair X    first.dll and second.dll, which share one fixed base, one after the other in the
//             order of X: a loads first.dll and runs all of it, A loads it and runs none of it,
//             b loads second.dll and runs part of it; each is freed before the next comes
#include <stdio.h>
#include <string.h>
#include <windows.h>

// A breakpoint instruction right in the line that holds it (mingw's __debugbreak is an inline
// function whose instruction gcc attributes to its header).
#define BREAKPOINT() __asm__ volatile("int3")

enum { kThreads = 8, kRounds = 50 };

static HANDLE start_event;
static volatile LONG finished_work;

static int shared_work(int seed) {
    int value = seed * 3; // hit(threads)
    value += 7;           // hit(threads)
    return value % 5;     // hit(threads)
}

static DWORD WINAPI racer(LPVOID argument) {
    WaitForSingleObject(start_event, INFINITE);
    shared_work((int)(INT_PTR)argument); // hit(threads)
    InterlockedIncrement(&finished_work);
    return 0;
}

static int run_threads(void) {
    for (int round = 0; round < kRounds; ++round) {
        start_event = CreateEventA(NULL, TRUE, FALSE, NULL);
        HANDLE threads[kThreads];
        for (int i = 0; i < kThreads; ++i)
            threads[i] = CreateThread(NULL, 0, racer, (LPVOID)(INT_PTR)i, 0, NULL);
        SetEvent(start_event);
        WaitForMultipleObjects(kThreads, threads, TRUE, INFINITE);
        for (int i = 0; i < kThreads; ++i)
            CloseHandle(threads[i]);
        CloseHandle(start_event);
    }
    printf("threads finished %ld\n", finished_work);
    return finished_work == kThreads * kRounds ? 0 : 1;
}

typedef int (*Function)(int);

static Function function_of(HMODULE module, const char* name) {
    return (Function)(void (*)(void))GetProcAddress(module, name);
}

// swap.dll and other.dll share one preferred base: each lands where the other was.
static int run_unload(void) {
    HMODULE swap = LoadLibraryA("swap.dll");
    int first = function_of(swap, "swap_first")(1);
    printf("swap.dll at %p: %d\n", (void*)swap, first);
    FreeLibrary(swap);

    HMODULE other = LoadLibraryA("other.dll");
    printf("other.dll at %p: %d\n", (void*)other, function_of(other, "other_work")(2));
    HMODULE moved = LoadLibraryA("swap.dll"); // the old base is taken: elsewhere
    int second = function_of(moved, "swap_second")(2);
    printf("swap.dll moved to %p: %d\n", (void*)moved, second);
    printf("other.dll again: %d\n", function_of(other, "other_work")(3));
    FreeLibrary(moved);
    FreeLibrary(other);

    HMODULE back = LoadLibraryA("swap.dll"); // and back at its old base
    int third = function_of(back, "swap_third")(3);
    printf("swap.dll back at %p: %d\n", (void*)back, third);
    FreeLibrary(back);
    return first + second + third == 2 + 4 + 6 ? 0 : 1;
}

static int run_breaks(int value) {
    // clang-format off
    BREAKPOINT(); // hit(breaks)
    int doubled = value * 2; BREAKPOINT(); value = doubled + 1; // hit(breaks)
    // clang-format on
    printf("after breakpoints %d\n", value); // hit(breaks)
    return 0;
}

static volatile int recursion_ends; // never set: the recursion ends with the stack

static int recurse(volatile char* previous) {
    volatile char frame[256];
    frame[0] = previous != NULL ? previous[0] : 1;
    if (recursion_ends)
        return frame[0];
    return recurse(frame) + frame[0];
}

static void child_work(void) {
    printf("child ran\n"); // miss
}

static int run_child(void) {
    char path[MAX_PATH];
    GetModuleFileNameA(NULL, path, MAX_PATH);
    char command[MAX_PATH + 16];
    snprintf(command, sizeof(command), "\"%s\" childwork", path);
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof(startup));
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION child;
    if (!CreateProcessA(NULL, command, NULL, NULL, TRUE, 0, NULL, NULL, &startup, &child))
        return 1;
    WaitForSingleObject(child.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(child.hProcess, &code);
    printf("child exited %lu\n", code); // hit(child)
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    return (int)code;
}

static int run_nolines(void) {
    HMODULE module = LoadLibraryA("nolines.dll");
    if (module == NULL)
        return 1;
    printf("nolines says %d\n", function_of(module, "nolines_work")(20)); // hit(nolines)
    FreeLibrary(module);
    return 0;
}

static int run_pair(const char* order) {
    for (; *order != '\0'; ++order) {
        const char* name = *order == 'b' ? "second.dll" : "first.dll";
        HMODULE module = LoadLibraryA(name);
        if (module == NULL)
            return 1;
        int result = 0;
        if (*order == 'a')
            result = function_of(module, "first_work")(1);
        else if (*order == 'b')
            result = function_of(module, "second_used")(1);
        printf("%s at %p: %d\n", name, (void*)module, result); // hit(pair)
        FreeLibrary(module);
    }
    return 0;
}

int main(int argc, char** argv) {
    const char* mode = argc > 1 ? argv[1] : ""; // hit
    if (strcmp(mode, "threads") == 0)
        return run_threads();
    if (strcmp(mode, "unload") == 0)
        return run_unload();
    if (strcmp(mode, "breaks") == 0)
        return run_breaks(argc);
    if (strcmp(mode, "overflow") == 0)
        return recurse(NULL);
    if (strcmp(mode, "child") == 0)
        return run_child();
    if (strcmp(mode, "childwork") == 0) {
        child_work();
        return 0;
    }
    if (strcmp(mode, "nolines") == 0)
        return run_nolines();
    if (strcmp(mode, "pair") == 0 && argc > 2)
        return run_pair(argv[2]);
    return 2;
}
