// The log writer: appends one file block per source file to a log whose header is written.
#pragma once

#include "coverage/coverage_database.h"
#include "log/log_file.h"

// True when every file block was written; false on a cancel request (no message) or a failed
// write (message 32839). Sorts database.functions by address; leaves the stream open.
bool write_coverage_log(CoverageDatabase& database, LogFile& log);
