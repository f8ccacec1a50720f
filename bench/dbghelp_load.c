/* Times dbghelp's reading of one or more images on its own, outside any debugging run: what
 * the floor of a coverage run pays for every module the target loads (Wine's own DLLs carry
 * DWARF that dbghelp parses when the module is loaded).
 *
 * build: x86_64-w64-mingw32-gcc -O1 bench/dbghelp_load.c -o dbghelp_load.exe -ldbghelp
 * usage: wine64 dbghelp_load.exe MODE IMAGE...
 *   MODE "l-": symbols of this live process; "d-": a handle of no process;
 *   a 'd' second letter ("ld", "dd") adds SYMOPT_DEFERRED_LOADS.
 */
#include <windows.h>

#include <dbghelp.h>
#include <stdio.h>
static double now(void) {
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return (double)c.QuadPart / f.QuadPart;
}
static int lines;
static BOOL CALLBACK on_line(PSRCCODEINFO l, PVOID c) {
    (void)l;
    (void)c;
    ++lines;
    return TRUE;
}
int main(int argc, char** argv) {
    HANDLE p = argv[1][0] == 'l' ? GetCurrentProcess() : (HANDLE)(ULONG_PTR)0x4321;
    DWORD opts = SYMOPT_UNDNAME | SYMOPT_LOAD_LINES;
    if (argv[1][1] == 'd')
        opts |= SYMOPT_DEFERRED_LOADS;
    SymSetOptions(opts);
    double t0 = now();
    if (!SymInitialize(p, NULL, FALSE))
        return 1;
    printf("init %.3f\n", now() - t0);
    DWORD64 base = 0x200000000ull;
    for (int i = 2; i < argc; ++i, base += 0x10000000ull) {
        HANDLE f =
            CreateFileA(argv[i], GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
        double a = now();
        DWORD64 r = SymLoadModule64(p, f, NULL, NULL, base, 0);
        double b = now();
        IMAGEHLP_MODULE64 info;
        memset(&info, 0, sizeof info);
        info.SizeOfStruct = 1664;
        BOOL ok = SymGetModuleInfo64(p, base, &info);
        double c = now();
        lines = 0;
        SymEnumLines(p, base, NULL, NULL, on_line, NULL);
        double d = now();
        SymUnloadModule64(p, base);
        printf("%s: load %.3f (r=%d) info %.3f (ok=%d type=%d lines=%d) enumlines %.3f (%d lines) "
               "unload %.3f\n",
               argv[i], b - a, r != 0, c - b, ok, info.SymType, info.LineNumbers, d - c, lines,
               now() - d);
        CloseHandle(f);
    }
    return 0;
}
