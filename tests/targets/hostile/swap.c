// swap.dll: loaded, freed and loaded again by hostile.exe, at its own base and elsewhere.
__declspec(dllexport) int swap_first(int value) {
    return value * 2; // hit
}

__declspec(dllexport) int swap_second(int value) {
    return value * 2; // hit
}

__declspec(dllexport) int swap_third(int value) {
    return value * 2; // hit
}

__declspec(dllexport) int swap_unused(int value) {
    return value * 3; // miss
}
