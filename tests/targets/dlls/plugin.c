// plugin.dll: loaded by calc.exe with LoadLibraryA while it runs, and freed again.
__declspec(dllexport) int plugin_twice(int value) {
    return 2 * value; // hit
}

__declspec(dllexport) int plugin_half(int value) {
    return value / 2; // miss
}
