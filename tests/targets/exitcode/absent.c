// absent.dll: built only for its import library; never placed beside needs_absent.exe.
__declspec(dllexport) int absent_value(void) {
    return 1; // miss
}
