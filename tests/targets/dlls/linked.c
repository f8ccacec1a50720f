// linked.dll: loaded with calc.exe at start, before its first line runs.
__declspec(dllexport) int linked_add(int a, int b) {
    return a + b; // hit
}

__declspec(dllexport) int linked_subtract(int a, int b) {
    return a - b; // miss
}
