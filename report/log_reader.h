// Reads one coverage log into a model of its own.
#pragma once

#include "report/coverage_model.h"

#include <string>

struct LogReadResult {
    bool ok = false;
    // Set when !ok: "<log>:<line>: <what is wrong>", or "<log>: <why it cannot be read>".
    std::string error;
    // Set when the log ends inside a file block (its writer failed): names the log and the
    // line after which it was cut. The model then holds every complete block before it.
    std::string warning;
    CoverageModel model; // one run, files in the log's order
};

// A file that does not begin with 'H' or holds no line feed is no log: it is refused. A log
// that ends inside a header or a file block, or in a line without its line feed, is read
// up to its last complete block. A log with an unknown tag, a record out of order, a bad
// number, a status string whose length is not its line count, a status character other than
// those of the format, or a path or function name holding a NUL byte is refused. A CR before a line
// feed (a log copied through a tool that changed its line ends) is taken as part of the line end.
LogReadResult read_log(const std::string& path);
