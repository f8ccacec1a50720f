// A small calculator over its arguments, in two folders, with a DLL linked at start (linked.dll)
// and one loaded at run time (plugin.dll). The markers hold for the run "calc.exe sum 2 3 4",
// which prints "sum = 18" and exits with 18 % 7 = 4.
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include "../dlls/linked.h"
#include "util/text.h"

typedef int (*PluginFunction)(int);

static int run_plugin(int value) {
    HMODULE plugin = LoadLibraryA("plugin.dll"); // hit
    if (plugin == NULL) {
        printf("plugin.dll is missing\n"); // miss
        return -1;                         // miss
    }
    PluginFunction twice = (PluginFunction)(void (*)(void))GetProcAddress(plugin, "plugin_twice");
    int result = twice(value); // hit
    FreeLibrary(plugin);       // hit
    return result;
}

static void usage(void) {
    printf("usage: calc sum|max number...\n"); // miss
}

int main(int argc, char** argv) {
    if (argc < 3) { // hit
        usage();    // miss
        return 2;   // miss
    }
    int total = 0;                     // hit
    if (strcmp(argv[1], "sum") == 0) { // hit
        for (int i = 2; i < argc; ++i)
            total = linked_add(total, parse_number(argv[i])); // hit
    } else {
        total = max_of(argv + 2, argc - 2); // miss
    }
    total = run_plugin(total);    // hit
    print_result(argv[1], total); // hit
    return total % 7;             // hit
}
