#include "app/coverage_run.h"

// Placeholder until the debugger exists: runs nothing, reports nothing.
bool run_coverage(RunSettings&, const char*) { return false; }
