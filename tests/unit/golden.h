// Golden files: a result compared byte for byte with a file under tests/data.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "temp_file.h"

namespace quorbix::test {

// Compares actual with tests/data/<name>. With QUORBIX_UPDATE_GOLDEN set the
// file is rewritten and the test still fails: an update is always a
// deliberate second run, after the difference was read against the formats.
inline void expect_golden(const std::string& name, const std::string& actual) {
    const std::string path = std::string(QUORBIX_TEST_DATA_DIR "/") + name;
    if (std::getenv("QUORBIX_UPDATE_GOLDEN") != nullptr) {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr) << path;
        const bool written = std::fwrite(actual.data(), 1, actual.size(), f) == actual.size();
        EXPECT_EQ(std::fclose(f), 0) << path;
        ASSERT_TRUE(written) << path;
        FAIL() << "rewrote the golden file " << name
               << "; read the difference, then run again without QUORBIX_UPDATE_GOLDEN";
    }
    EXPECT_EQ(actual, read_file(path)) << "golden file " << name;
}

}  // namespace quorbix::test
