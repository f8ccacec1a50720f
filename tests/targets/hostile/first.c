// first.dll: shares one fixed base with second.dll (hostile.exe pair); every line of it runs.
__declspec(dllexport) int first_work(int value) {
    int doubled = value * 2;
    return doubled + 1;
}
