/* Runs only if someone loads this file as code: it then leaves a mark and prints a line. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)instance;
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        static const char text[] = "planted code ran\n";
        DWORD written = 0;
        SetEnvironmentVariableA("ZERKA_PLANTED_CODE_RAN", "1");
        WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, sizeof(text) - 1, &written, NULL);
    }
    return TRUE;
}
