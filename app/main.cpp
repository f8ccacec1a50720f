// zerkacmd: loads the message catalogue, reads the command line and runs the command list.
#include <windows.h>

#include <cstdio>

#include "app/command_line.h"
#include "app/messages.h"
#include "app/run_settings.h"

namespace {

void print_usage() {
    std::fputs("Mervane for VC\n\n", stdout);
    std::fputs("usage: zerkacmd [option...] command [command option...]\n", stdout);
    std::fputs("  -w folder_name: work folder name\n", stdout);
    std::fputs("  -s folder_name: source folder name\n", stdout);
    std::fputs("  -e:             analyzes only existent files\n", stdout);
    std::fputs("  -f:             also analyzes function names\n\n", stdout);
    std::fputs("after command execution, copy *.log files \n", stdout);
    std::fputs("to the result folder of zerkaui\n", stdout);
}

} // namespace

int main(int argc, char* argv[]) {
    // Found by bare name through the usual search, but mapped as data only: a res-en.dll
    // planted where the search reaches can never run code inside the tool. Kept until exit.
    HMODULE catalogue = LoadLibraryExA("res-en.dll", nullptr,
                                       LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (catalogue == nullptr) {
        std::fputs("failed to load res-en.dll\n", stdout);
        return 2;
    }
    set_message_module(catalogue);

    CommandLine line;
    if (!parse_command_line(argc, argv, line)) {
        print_usage();
        return 1;
    }
    set_run_settings(line.command_text, line.work_folder ? line.work_folder : "",
                     line.source_folder ? line.source_folder : "", line.existing_files_only,
                     line.function_names);
    run_commands(run_settings());
    return 0;
}
