// second.dll: shares one fixed base with first.dll (hostile.exe pair); only second_used runs,
// and second_unused lies where first_work lies in first.dll.
__declspec(dllexport) int second_unused(int value) {
    int tripled = value * 3;
    return tripled - 1;
}

__declspec(dllexport) int second_used(int value) {
    return value + 5;
}
