// other.dll: a different DLL at swap.dll's preferred base. Its code must never be patched with
// swap.dll's breakpoints.
__declspec(dllexport) int other_work(int value) {
    int result = value + 100; // hit
    return result;
}
