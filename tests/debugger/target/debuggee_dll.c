/* A DLL that the debuggee loads, uses and unloads at run time. */
__declspec(dllexport) int dll_twice(int value) {
    return value * 2; /* mark:dll_twice */
}

__declspec(dllexport) int dll_unused(int value) {
    return value - 1; /* mark:dll_unused */
}
