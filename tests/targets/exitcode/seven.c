// seven.exe: built without the C runtime's start-up code, so that its entry point is its own
// first line (in the PDB form, which gives the function no prologue, the line of its return),
// and ends with exit code 7 by returning from it.
int mainCRTStartup(void) {
    return 7; // hit
}
