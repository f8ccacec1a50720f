// nolines.dll: built without any line information.
__declspec(dllexport) int nolines_work(int value) {
    return value + 22;
}
