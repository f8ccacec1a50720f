/* A small program for the debugger's tests. Lines that a test looks up carry a marker comment
   of the form "mark:NAME"; the tests find their numbers in this file. */
#include <windows.h>

#include <stdio.h>
#include <string.h>

static volatile LONG counter;

static int square(int value) {
    return value * value; /* mark:square */
}

static void never_called(void) {
    counter = -1; /* mark:never */
}

static void wrong_result(void) {
    ExitProcess(99); /* mark:wrong */
}

static DWORD WINAPI worker(LPVOID start) {
    WaitForSingleObject((HANDLE)start, INFINITE);
    InterlockedIncrement(&counter); /* mark:worker */
    return 0;
}

static int run_lines(void) {
    int sum = 0;
    for (int i = 0; i < 100; ++i)
        sum += square(i); /* mark:loop */
    if (sum != 328350)
        wrong_result();
    if (counter < 0)
        never_called();
    return 3;
}

/* Eight threads released together onto the same line that has not run yet. */
static int run_threads(void) {
    HANDLE start = CreateEventA(NULL, TRUE, FALSE, NULL);
    HANDLE threads[8];
    for (int i = 0; i < 8; ++i)
        threads[i] = CreateThread(NULL, 0, worker, start, 0, NULL);
    SetEvent(start);
    WaitForMultipleObjects(8, threads, TRUE, INFINITE);
    if (counter != 8)
        wrong_result();
    return 8;
}

static int run_native_break(void) {
    InterlockedIncrement(&counter);
    __debugbreak(); /* mark:native */
    return 5;       /* mark:after_native */
}

typedef int (*DllFunction)(int);

static int run_dll(void) {
    HMODULE dll = LoadLibraryA("debuggee_dll.dll");
    if (dll == NULL)
        return 20;
    DllFunction twice = (DllFunction)GetProcAddress(dll, "dll_twice");
    int result = twice(21);
    FreeLibrary(dll);
    return result == 42 ? 4 : 21;
}

/* The DLL again after its unload: the line that ran before and one that runs only now. */
static int run_reload(void) {
    if (run_dll() != 4)
        return 22;
    HMODULE dll = LoadLibraryA("debuggee_dll.dll");
    if (dll == NULL)
        return 23;
    DllFunction unused = (DllFunction)GetProcAddress(dll, "dll_unused");
    int result = unused(8);
    FreeLibrary(dll);
    return result == 7 ? 7 : 24;
}

static int run_wait(void) {
    Sleep(INFINITE);
    return 6;
}

int main(int argc, char** argv) {
    const char* mode = argc > 1 ? argv[1] : "lines";
    if (strcmp(mode, "threads") == 0)
        return run_threads();
    if (strcmp(mode, "native") == 0)
        return run_native_break();
    if (strcmp(mode, "dll") == 0)
        return run_dll();
    if (strcmp(mode, "reload") == 0)
        return run_reload();
    if (strcmp(mode, "wait") == 0)
        return run_wait();
    return run_lines();
}
