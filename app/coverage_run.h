// The coverage run of one command: from the start of the target to the closed log file.
#pragma once

#include "app/run_settings.h"
#include "log/log_file.h"

bool run_coverage(RunSettings& settings, const char* command);

// Closes the stream, if any, and announces the log's path (message 32829).
void close_log_file(LogFile& log);
