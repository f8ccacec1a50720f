// hidden.exe: code recorded under a line number that marks generated code (0xFEEFEE), as
// Microsoft's compilers record it; gcc writes the number into its line table as given.
#include <stdio.h>

int main(void) {
    printf("hidden line\n");
#line 16707566
    return 0;
}
