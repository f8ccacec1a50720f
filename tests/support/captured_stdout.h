// Standard output captured by GoogleTest, read back with each CR LF as a single LF: the
// runtime writes text mode, the tests compare lines.
#pragma once

#include <gtest/gtest.h>

#include <string>

inline std::string captured_lines() {
    std::string output = ::testing::internal::GetCapturedStdout(), lines;
    for (size_t i = 0; i < output.size(); ++i)
        if (!(output[i] == '\r' && i + 1 < output.size() && output[i + 1] == '\n'))
            lines += output[i];
    return lines;
}
