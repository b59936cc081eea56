// A new empty folder for a test's files. The suites run several variants of
// a test at once (validation layer, the stand-in's lazy mode), so a fixed
// name in the temporary folder would be shared between them.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace kvn::test {

inline std::string scratchFolder() {
    std::string path = ::testing::TempDir() + "kvn_test_XXXXXX";
    if (!mkdtemp(path.data())) ADD_FAILURE() << "mkdtemp failed";
    return path;
}

}  // namespace kvn::test
